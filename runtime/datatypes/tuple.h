// tuple! values: 3 to 12 bytes held in the cell, the length in header bits 19-22 and the bytes in words 1 to
// 3 in memory order (byte 1 is the lowest byte of word 1); bytes past the length are zero. Only the maker
// and the readers are here so far; the actions come with the datatype.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

constexpr uint32_t TUPLE_MAX = 12;
constexpr uint32_t TUPLE_LENGTH_SHIFT = 19;
constexpr uint32_t TUPLE_LENGTH_MASK = 0xF << TUPLE_LENGTH_SHIFT;

// Makes the cell a tuple of the bytes; fewer than 3 are padded with zeros to 3, more than 12 are refused by
// the callers (only the first 12 are read).
Cell* tuple_make_at(Cell* cell, const uint8_t* bytes, uint32_t length);
inline uint32_t tuple_length(const Cell* t) { return (t->header & TUPLE_LENGTH_MASK) >> TUPLE_LENGTH_SHIFT; }
// Byte i, from 0.
uint8_t tuple_byte(const Cell* t, uint32_t i);

// Reads tuple text: parts of 0 to 255 separated by single dots, at most 12, into the target (padded to 3
// bytes). Sets *error (a ScanError) to SCAN_INVALID for an empty part, a part above 255, a 13th part or
// another character.
void scan_tuple(const uint8_t* text, uint32_t unit, size_t length, int* error, Cell* target);

}  // namespace zol
