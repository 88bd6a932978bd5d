// char! values: one Unicode code point (0 to U+10FFFF) in word 2 of the cell.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// A new char! at the block's tail (allocates).
Cell* char_make_in(const Cell* block, uint32_t cp);
// A new char! on the argument stack.
Cell* char_push(uint32_t cp);

}  // namespace zol
