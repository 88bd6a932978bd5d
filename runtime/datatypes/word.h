// The word family: word!, set-word!, lit-word!, get-word! and refinement! (issue! shares the layout).
// A word cell holds the node of its context, its symbol and its slot there (-1 when not resolved).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// The global word for a name (entering its symbol and its global slot when absent).
Cell word_load(const char* name);
// The global word of a symbol, keeping that symbol's spelling.
Cell word_make_global(uint32_t symbol);
// Makes the target a word! of the symbol bound to the global context.
Cell* word_make_at(uint32_t symbol, Cell* target);
Cell* word_push(uint32_t symbol);
// An unbound refinement! or issue! for a name.
Cell refinement_load(const char* name);
Cell issue_load(const char* name);

// Pushes a copy of the word's value; an unset value raises no-value (word_get_any does not check).
Cell* word_get_value(const Cell* word);
Cell* word_get_any(const Cell* word);
// Sets the word at the argument base to the value in the next cell and makes it the result; an unset
// value raises need-value.
void word_set_stacked();

}  // namespace zol
