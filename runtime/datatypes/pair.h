// pair! values: two signed 32-bit integers, x in word 2 and y in word 3 (word 1 carries nothing): offsets and
// sizes of the GUI. Arithmetic whose result leaves the integers (a fractional factor, an overflow, a point2D!
// operand) gives a point2D! instead.
#pragma once
#include <cstdint>

#include "float.h"
#include "runtime/cell.h"

namespace zol {

Cell* pair_make_at(Cell* cell, int32_t x, int32_t y);
// A new pair at the block's tail (allocates).
Cell* pair_make_in(const Cell* block, int32_t x, int32_t y);
Cell* pair_push(int32_t x, int32_t y);
inline int32_t pair_x(const Cell* p) { return int32_t(p->w2); }
inline int32_t pair_y(const Cell* p) { return int32_t(p->w3); }

// 1 for the word x, 2 for y (any case). Another word raises cannot-use (the word, the value) when the value
// is a pair, else invalid-path (the value, the word).
int pair_field_index(const Cell* word, const Cell* value);
// The arithmetic of the two arguments at the argument base, the first a pair; the result replaces it.
void pair_do_math(ArithOp op);
// Turns the argument cell at that position from the base into a point2D! of the same coordinates.
void pair_to_point2d(uint32_t position);
// An integer! value, or a float! truncated toward zero; false for a float that is NaN or leaves the
// 32-bit range, or another type.
bool number_to_int(const Cell* number, int32_t* out);

}  // namespace zol
