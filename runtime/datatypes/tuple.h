// tuple! values: 3 to 12 bytes held in the cell, the length in header bits 19-22 and the bytes in words 1 to
// 3 in memory order (byte 1 is the lowest byte of word 1); bytes past the length are zero. Version numbers,
// addresses and colours: arithmetic works byte by byte and saturates each byte to 0..255.
#pragma once
#include <cstddef>
#include <cstdint>

#include "float.h"
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
// A new tuple on the argument stack.
Cell* tuple_push(const uint8_t* bytes, uint32_t length);
// A colour of 3 bytes, or 4 with the alpha byte when alpha is not -1.
Cell* tuple_make_rgba(Cell* cell, uint8_t r, uint8_t g, uint8_t b, int32_t alpha);
// Every byte up to the length is zero.
bool tuple_zero_q(const Cell* t);
// The arithmetic of the two arguments at the argument base, one of them a tuple; the result replaces the
// first. A number first is swapped behind the tuple, except for - and /, which raise not-related.
void tuple_do_math(ArithOp op);

// Reads tuple text: parts of 0 to 255 separated by single dots, at most 12, into the target (padded to 3
// bytes). Sets *error (a ScanError) to SCAN_INVALID for an empty part, a part above 255, a 13th part or
// another character.
void scan_tuple(const uint8_t* text, uint32_t unit, size_t length, int* error, Cell* target);

}  // namespace zol
