// binary! values: a byte series (unit 1) with the head index in word 1, the buffer node in word 2 and 0 in
// word 3. Only the maker is here so far; the actions come with the datatype.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Makes the cell an empty binary! with room for capacity bytes and returns the start of its buffer, which
// stays valid until the next allocation; binary_set_length then sets how many of those bytes it holds.
uint8_t* binary_make_at(Cell* cell, uint32_t capacity);
void binary_set_length(Cell* binary, uint32_t length);
// Bytes from the head and their count.
const uint8_t* binary_head(const Cell* binary, uint32_t* length);

}  // namespace zol
