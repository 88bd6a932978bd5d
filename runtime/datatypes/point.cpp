// point2D! and point3D! values.
#include "point.h"

#include <bit>

namespace zol {

Cell* point2d_make_at(Cell* cell, float x, float y) {
    cell->header = TYPE_POINT2D;
    cell->w1 = std::bit_cast<uint32_t>(x);
    cell->w2 = std::bit_cast<uint32_t>(y);
    cell->w3 = 0;
    return cell;
}

Cell* point3d_make_at(Cell* cell, float x, float y, float z) {
    cell->header = TYPE_POINT3D;
    cell->w1 = std::bit_cast<uint32_t>(x);
    cell->w2 = std::bit_cast<uint32_t>(y);
    cell->w3 = std::bit_cast<uint32_t>(z);
    return cell;
}

float point_coordinate(const Cell* point, uint32_t i) {
    uint32_t word = i == 0 ? point->w1 : i == 1 ? point->w2 : point->w3;
    return std::bit_cast<float>(word);
}

}  // namespace zol
