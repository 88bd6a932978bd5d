// Shared by the natives: argument access and the entries of each group of natives.
#pragma once
#include <cstdint>

#include "interpreter/eval.h"
#include "runtime/cell.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace zol::natives {

inline Cell* arg(int i) { return g_args.base + i; }
inline bool present(const int32_t* refs, int i) { return refs[i] >= 0; }
inline Cell* ref_arg(const int32_t* refs, int i) { return refs[i] >= 0 ? g_args.base + refs[i] : nullptr; }

// Evaluates a block into the current frame's result slot.
inline void eval_into_result(const Cell* block) { eval_block(block, true); }

// Moves a series value's head back to the tail when it stands past it (the buffer has shrunk since).
inline void clamp_head(Cell* series) { series->w1 = series_clamped_head(series); }

// Makes none, or unset, the current call's only result.
inline void result_none() {
    stack_reset();
    none_set_result();
    stack_keep_result();
}
inline void result_unset() {
    stack_reset();
    unset_set_result();
    stack_keep_result();
}

// The entries, by group. Each is a NativeEntry.
#define ZOL_NATIVE_ENTRY(name) uint32_t native_##name(bool check, const int32_t* refs);
// control flow and exits
ZOL_NATIVE_ENTRY(if)
ZOL_NATIVE_ENTRY(unless)
ZOL_NATIVE_ENTRY(either)
ZOL_NATIVE_ENTRY(any)
ZOL_NATIVE_ENTRY(all)
ZOL_NATIVE_ENTRY(switch)
ZOL_NATIVE_ENTRY(case)
ZOL_NATIVE_ENTRY(do)
ZOL_NATIVE_ENTRY(break)
ZOL_NATIVE_ENTRY(continue)
ZOL_NATIVE_ENTRY(exit)
ZOL_NATIVE_ENTRY(return)
ZOL_NATIVE_ENTRY(throw)
ZOL_NATIVE_ENTRY(catch)
ZOL_NATIVE_ENTRY(try)
// loops
ZOL_NATIVE_ENTRY(while)
ZOL_NATIVE_ENTRY(until)
ZOL_NATIVE_ENTRY(loop)
ZOL_NATIVE_ENTRY(repeat)
ZOL_NATIVE_ENTRY(forever)
ZOL_NATIVE_ENTRY(foreach)
ZOL_NATIVE_ENTRY(forall)
ZOL_NATIVE_ENTRY(remove_each)
// words, contexts and functions
ZOL_NATIVE_ENTRY(func)
ZOL_NATIVE_ENTRY(function)
ZOL_NATIVE_ENTRY(does)
ZOL_NATIVE_ENTRY(has)
ZOL_NATIVE_ENTRY(get)
ZOL_NATIVE_ENTRY(set)
ZOL_NATIVE_ENTRY(unset)
ZOL_NATIVE_ENTRY(value_q)
ZOL_NATIVE_ENTRY(bind)
ZOL_NATIVE_ENTRY(in)
ZOL_NATIVE_ENTRY(context_q)
ZOL_NATIVE_ENTRY(apply)
ZOL_NATIVE_ENTRY(construct)
// comparison, reduce, compose and sets
ZOL_NATIVE_ENTRY(equal_q)
ZOL_NATIVE_ENTRY(not_equal_q)
ZOL_NATIVE_ENTRY(strict_equal_q)
ZOL_NATIVE_ENTRY(lesser_q)
ZOL_NATIVE_ENTRY(greater_q)
ZOL_NATIVE_ENTRY(lesser_or_equal_q)
ZOL_NATIVE_ENTRY(greater_or_equal_q)
ZOL_NATIVE_ENTRY(same_q)
ZOL_NATIVE_ENTRY(not)
ZOL_NATIVE_ENTRY(type_q)
ZOL_NATIVE_ENTRY(reduce)
ZOL_NATIVE_ENTRY(compose)
ZOL_NATIVE_ENTRY(unique)
ZOL_NATIVE_ENTRY(union)
ZOL_NATIVE_ENTRY(intersect)
ZOL_NATIVE_ENTRY(exclude)
ZOL_NATIVE_ENTRY(difference)
// output and system
ZOL_NATIVE_ENTRY(print)
ZOL_NATIVE_ENTRY(prin)
ZOL_NATIVE_ENTRY(new_line)
ZOL_NATIVE_ENTRY(new_line_q)
ZOL_NATIVE_ENTRY(recycle)
ZOL_NATIVE_ENTRY(stats)
#undef ZOL_NATIVE_ENTRY

}  // namespace zol::natives
