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

// A loop count: an integer!, or a float! truncated toward zero; a float beyond the 32-bit range is refused
// rather than running the loop 0 times.
int64_t loop_count(const Cell* value);

// The entries of the natives that natives.def marks as built: uint32_t native_<name>(const int32_t* refs).
#define ENTRY(name) uint32_t native_##name(const int32_t* refs);
#define IO_ENTRY(name)
#define NOT_BUILT
#define ZOL_NATIVE(name, word, entry) entry
#include "interpreter/natives.def"
#undef ZOL_NATIVE
#undef ENTRY
#undef IO_ENTRY
#undef NOT_BUILT

}  // namespace zol::natives
