// Memory statistics for the stats native.
#pragma once
#include "runtime/cell.h"

namespace zol {

// The bytes in use. With level 2 or 3 it also appends to the block, in this order: a block of
// [free used capacity] per node frame, a block of [free used size] per series frame, a block with the size
// of each big buffer, the bytes taken in all and the bytes of the tracked heap alone. The collector does
// not run meanwhile.
double memory_stats_measure(Cell* block, int level);

// A byte count as the language shows it: integer! up to 2147483647, float! beyond.
void memory_stats_number(Cell* out, double bytes);

}  // namespace zol
