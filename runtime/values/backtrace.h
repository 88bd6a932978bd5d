// Describing the running calls: the word that names the innermost visible call, and the names of the calls
// for an error's where and stack fields. Reads the call frames and makes words and text from them.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// The word naming the innermost visible call (or <not-found>); clears the saved throw point. Without
// may_allocate, a word its context does not hold yet is left unbound instead of added.
void stack_get_call_word(Cell* out, bool may_allocate = true);
// Appends, from the top frame down to the bottom one (excluded), a word and the frame's base index for
// each visible frame. The block cell must be rooted: appending may grow it.
void stack_collect_calls(Cell* block);
// The call trace of an error: a word per visible frame from the bottom up to the end frame (only the
// frames that call functions at level 1). The block cell must be rooted.
void stack_collect_trace(uint32_t level, Cell* block, uint32_t end_frame);
// The same names formed into a string, each followed by a space; returns the remaining part budget.
int stack_form_trace(uint32_t level, const Cell* stack_field, Cell* out, int part);
}  // namespace zol
