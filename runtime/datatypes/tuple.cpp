// tuple! values.
#include "tuple.h"

#include <cstring>

#include "runtime/scan_number.h"

namespace zol {

Cell* tuple_make_at(Cell* cell, const uint8_t* bytes, uint32_t length) {
    if (length > TUPLE_MAX) length = TUPLE_MAX;
    uint8_t data[12] = {};
    std::memcpy(data, bytes, length);
    if (length < 3) length = 3;
    cell->header = TYPE_TUPLE | (length << TUPLE_LENGTH_SHIFT);
    std::memcpy(&cell->w1, data, 4);
    std::memcpy(&cell->w2, data + 4, 4);
    std::memcpy(&cell->w3, data + 8, 4);
    return cell;
}

uint8_t tuple_byte(const Cell* t, uint32_t i) {
    uint32_t word = i < 4 ? t->w1 : i < 8 ? t->w2 : t->w3;
    uint8_t bytes[4];
    std::memcpy(bytes, &word, 4);
    return bytes[i % 4];
}

void scan_tuple(const uint8_t* text, uint32_t unit, size_t length, int* error, Cell* target) {
    *error = SCAN_INVALID;
    uint8_t bytes[TUPLE_MAX];
    uint32_t parts = 0;
    uint32_t value = 0;
    bool digits = false;
    for (size_t i = 0; i <= length; i++) {
        uint32_t c = i < length ? scan_unit_at(text, unit, i) : '.';
        if (c == '.') {
            if (!digits || parts == TUPLE_MAX) return;
            bytes[parts++] = uint8_t(value);
            value = 0;
            digits = false;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (value > 255) return;
            digits = true;
        } else {
            return;
        }
    }
    tuple_make_at(target, bytes, parts);
    *error = SCAN_OK;
}

}  // namespace zol
