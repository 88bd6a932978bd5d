// issue! values (#abc): a word payload that is never bound (word 1 the global context, word 3 -1), molded
// with a leading "#". Its actions: make and to, mold and compare; form is word!'s.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

Cell* issue_make_at(Cell* cell, uint32_t symbol);

}  // namespace zol
