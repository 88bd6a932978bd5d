// unset!, none! and logic!: their value makers and the truth tests every conditional uses.
#pragma once
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace zol {

Cell* unset_set_result();
Cell* unset_make_in(const Cell* block);
Cell* unset_push();
Cell* none_set_result();
Cell* none_make_in(const Cell* block);
Cell* none_push();
Cell* logic_set_result(bool v);
Cell* logic_make_in(const Cell* block, bool v);
Cell* logic_push(bool v);

// True by the truth rule; with check set, an unset! value raises "has no value" naming error_arg.
bool logic_cell_true(const Cell* c, bool check, const Cell* error_arg);
// The cell at the argument base: an unset! value raises "block did not return a value".
[[noreturn]] void logic_no_return(const Cell* error_arg);
inline bool logic_true(const Cell* error_arg = nullptr) {
    const Cell* c = g_args.base;
    if (cell_is(c, TYPE_UNSET)) logic_no_return(error_arg);
    return cell_true(c);
}
// The cell at the argument base is none or false (no unset check).
inline bool logic_false() { return !cell_true(g_args.base); }
// The newest cell on the argument stack is true (no unset check).
bool logic_top_true();

}  // namespace zol
