// point2D! and point3D! values: two or three IEEE single-precision coordinates in words 1 to 3 (word 3
// carries nothing for point2D!), for sub-pixel positions. The two types are one family: point3D! does what
// point2D! does with a third coordinate, and one routine serves both.
#pragma once
#include <cstdint>

#include "float.h"
#include "runtime/cell.h"

namespace zol {

Cell* point2d_make_at(Cell* cell, float x, float y);
Cell* point3d_make_at(Cell* cell, float x, float y, float z);
// New values at the block's tail (allocate) and on the argument stack.
Cell* point2d_make_in(const Cell* block, float x, float y);
Cell* point3d_make_in(const Cell* block, float x, float y, float z);
Cell* point2d_push(float x, float y);
Cell* point3d_push(float x, float y, float z);
// Coordinate i (0 x, 1 y, 2 z).
float point_coordinate(const Cell* point, uint32_t i);
inline uint32_t point_dimensions(const Cell* point) { return cell_is(point, TYPE_POINT3D) ? 3 : 2; }

// 1, 2 or 3 for the words x, y and (point3D! only) z, in any case. Another word raises cannot-use (the
// word, the value) when the value is a point, else invalid-path (the value, the word).
int point_field_index(const Cell* word, const Cell* value);
// The arithmetic (add to remainder) of the two arguments at the argument base, the first a point; the
// result replaces it.
void point_do_math(ArithOp op);
// An integer! or float! value as a 32-bit float; false for another type.
bool number_to_float32(const Cell* number, float* out);
// compare for point2D! and point3D!: = allows ten units in the last place of each coordinate.
int point_compare(const Cell* value, const Cell* other, CompareOp op);

}  // namespace zol
