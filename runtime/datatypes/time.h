// time! values: a duration or time of day in seconds, a double in words 2 and 3 of the cell (the float!
// payload). Only the maker is here so far; the actions come with the datatype.
#pragma once
#include "runtime/cell.h"

namespace zol {

Cell* time_make_at(Cell* cell, double seconds);

}  // namespace zol
