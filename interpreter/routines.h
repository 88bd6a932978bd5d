// Routines: C++ functions of the runtime that the language calls through a spec (routine! values, and
// function! values whose body is C++ code). A routine finds its arguments, refinement flags and locals in
// the current frame's cells, as a function's body would, and leaves its result in the result slot.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// The entry receives the routine! value it was called through (its data: function_info(FN_INFO_OWNER)).
using RoutineFn = void (*)(const Cell* routine);

// Registers a routine under a name; returns its code number (from 1), which routine! values hold.
uint32_t routine_register(const char* name, RoutineFn fn);
// The code number of a registered name, or 0.
uint32_t routine_lookup(const char* name);
// Calls the routine of a routine! (or of a function! with a code number) with the current frame's cells. A
// routine! made by the built-in scripts names its entry by the first word of its body: the first call looks
// it up and keeps its code number.
void routine_invoke(const Cell* routine);

}  // namespace zol
