// tuple! values.
#include "tuple.h"

#include <cstring>

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

}  // namespace zol
