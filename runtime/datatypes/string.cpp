// string! values.
#include "string.h"

#include <cstring>

#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zol {

void string_make(Cell* out, uint32_t capacity) {
    set_series(out, TYPE_STRING, series_alloc_units(capacity, 1));
}

void string_append_ascii(Cell* str, const char* text, size_t length) {
    uint32_t node = series_node(str);
    uint32_t unit = node_series(node)->unit();
    uint8_t* at = series_reserve_tail(node, uint64_t(length) * unit);
    switch (unit) {
        case 1: std::memcpy(at, text, length); break;
        case 2:
            for (size_t i = 0; i < length; i++) {
                uint16_t u = uint8_t(text[i]);
                std::memcpy(at + 2 * i, &u, 2);
            }
            break;
        default:
            for (size_t i = 0; i < length; i++) {
                uint32_t u = uint8_t(text[i]);
                std::memcpy(at + 4 * i, &u, 4);
            }
            break;
    }
}

uint32_t string_length(const Cell* str) {
    Series* s = cell_series(str);
    uint32_t used = s->used();
    return series_index(str) < used ? used - series_index(str) : 0;
}

void string_truncate(Cell* str, uint32_t n) {
    Series* s = cell_series(str);
    if (string_length(str) > n) s->tail = s->head + (series_index(str) + n) * s->unit();
}

std::string string_to_utf8(const Cell* str) {
    Series* s = cell_series(str);
    uint32_t unit = s->unit();
    std::string out;
    uint8_t buf[4];
    const uint8_t* p = s->head_ptr() + uint64_t(series_index(str)) * unit;
    for (const uint8_t* end = s->tail_ptr(); p < end; p += unit) {
        uint32_t cp = 0;
        std::memcpy(&cp, p, unit);  // little-endian units
        int n = utf8_encode_char(cp, buf);
        out.append(reinterpret_cast<char*>(buf), size_t(n));
    }
    return out;
}

}  // namespace zol
