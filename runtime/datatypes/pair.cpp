// pair! values.
#include "pair.h"

namespace zol {

Cell* pair_make_at(Cell* cell, int32_t x, int32_t y) {
    cell->header = TYPE_PAIR;
    cell->w1 = 0;
    cell->w2 = uint32_t(x);
    cell->w3 = uint32_t(y);
    return cell;
}

}  // namespace zol
