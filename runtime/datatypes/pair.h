// pair! values: two signed 32-bit integers, x in word 2 and y in word 3 (word 1 carries nothing). Only the
// maker is here so far; the actions come with the datatype.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

Cell* pair_make_at(Cell* cell, int32_t x, int32_t y);
inline int32_t pair_x(const Cell* p) { return int32_t(p->w2); }
inline int32_t pair_y(const Cell* p) { return int32_t(p->w3); }

}  // namespace zol
