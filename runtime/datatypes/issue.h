// issue! values: a word payload that is never bound (word 1 the global context, word 3 -1). Only the maker is
// here so far; the actions come with the datatype.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

Cell* issue_make_at(Cell* cell, uint32_t symbol);

}  // namespace zol
