// time! values.
#include "time.h"

namespace zol {

Cell* time_make_at(Cell* cell, double seconds) {
    set_float(cell, seconds, TYPE_TIME);
    return cell;
}

}  // namespace zol
