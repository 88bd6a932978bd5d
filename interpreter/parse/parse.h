// The Parse dialect: matches a series (any-block!, any-string! or binary!) against a block of rules and
// answers whether the whole input matched, or the block that `collect` gathered. The engine is one loop over
// two work stacks (blocks of cells, not the machine stack), so deep grammars end in a catchable error, and
// a parse started from a paren or a trace callback nests on the same stacks.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Start-up: the two work stacks (the input series and the rule entries) and the keyword table.
void parse_init();

// Runs the rules over the input from its head. /part's limit is an absolute index of the input's buffer
// (0 for none); callback is a function! that receives the parse events, or null. The result, a logic! or a
// block! for collecting rules, is written to out, which the caller keeps rooted. Errors are raised and exits
// left pending (as PendingUnwind) after the work stacks are cut back to where this parse found them.
void parse_rules(Cell* out, const Cell* input, const Cell* rules, bool case_sensitive, uint32_t limit,
                 const Cell* callback);

}  // namespace zol
