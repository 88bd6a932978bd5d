// point2D! and point3D! values: two or three IEEE single-precision coordinates in words 1 to 3 (word 3 carries
// nothing for point2D!). Only the makers are here so far; the actions come with the datatypes.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

Cell* point2d_make_at(Cell* cell, float x, float y);
Cell* point3d_make_at(Cell* cell, float x, float y, float z);
// Coordinate i (0 x, 1 y, 2 z).
float point_coordinate(const Cell* point, uint32_t i);

}  // namespace zol
