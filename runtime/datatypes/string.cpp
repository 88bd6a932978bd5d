// string! values.
#include "string.h"

#include <bit>
#include <cstring>

#include "series.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace zol {

// 4-byte units are copied as host integers.
static_assert(std::endian::native == std::endian::little);

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
        int n = utf8_encode_char_replacing(string_get_char(p, unit), buf);
        out.append(reinterpret_cast<char*>(buf), size_t(n));
    }
    return out;
}

uint32_t string_get_char(const uint8_t* at, uint32_t unit) {
    switch (unit) {
        case 1: return *at;
        case 2: return uint32_t(at[0]) | uint32_t(at[1]) << 8;
        case 4: {
            uint32_t cp;
            std::memcpy(&cp, at, 4);
            return cp;
        }
        default: runtime_error(101, 0);  // a string buffer never has another unit
    }
}

uint32_t string_char_at(const Cell* str, uint32_t index) {
    Series* s = cell_series(str);
    return string_get_char(s->head_ptr() + uint64_t(index) * s->unit(), s->unit());
}

Series* string_append_char(uint32_t node, uint32_t cp) {
    Series* s = node_series(node);
    if (s->unit() == 1 && cp > 127) {
        s = cp > 0xFFFF ? unicode_latin1_to_ucs4(node) : unicode_latin1_to_ucs2(node);
    } else if (s->unit() == 2 && cp > 0xFFFF) {
        s = unicode_ucs2_to_ucs4(node);
    }
    uint32_t unit = s->unit();
    string_put_unit(series_reserve_tail(node, unit), unit, cp);
    return node_series(node);
}

uint32_t string_append_utf8(Cell* str, const uint8_t* text, size_t length) {
    uint32_t node = series_node(str);
    size_t ascii = 0;
    while (ascii < length && text[ascii] < 0x80) ascii++;
    if (ascii == length) {
        string_append_ascii(str, reinterpret_cast<const char*>(text), length);
        return uint32_t(length);
    }
    uint32_t count = 0;
    for (const uint8_t *p = text, *end = text + length; p < end; count++) {
        int32_t cp;
        const uint8_t* next = utf8_decode_char(p, end, &cp);
        if (cp < 0) {
            cp = 0xFFFD;
            if (next == p) next = p + 1;
        }
        string_append_char(node, uint32_t(cp));
        p = next;
    }
    return count;
}

Series* string_put_char(uint32_t node, uint32_t index, uint32_t cp) {
    Series* s = node_series(node);
    if (s->unit() == 1 && cp > 0xFF) {
        s = cp > 0xFFFF ? unicode_latin1_to_ucs4(node) : unicode_latin1_to_ucs2(node);
    } else if (s->unit() == 2 && cp > 0xFFFF) {
        s = unicode_ucs2_to_ucs4(node);
    }
    string_put_unit(s->head_ptr() + uint64_t(index) * s->unit(), s->unit(), cp);
    return s;
}

Series* string_insert_char(uint32_t node, uint32_t index, uint32_t cp) {
    Series* s = node_series(node);
    if (s->unit() == 1 && cp > 0x7F) {
        s = cp > 0xFFFF ? unicode_latin1_to_ucs4(node) : unicode_latin1_to_ucs2(node);
    } else if (s->unit() == 2 && cp > 0xFFFF) {
        s = unicode_ucs2_to_ucs4(node);
    }
    s = series_open_gap(node, index, 1);
    string_put_unit(s->head_ptr() + uint64_t(index) * s->unit(), s->unit(), cp);
    return s;
}

}  // namespace zol
