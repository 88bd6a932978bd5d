// issue! values.
#include "issue.h"

#include "context.h"

namespace zol {

Cell* issue_make_at(Cell* cell, uint32_t symbol) {
    set_word(cell, TYPE_ISSUE, g_global_context, symbol, WORD_UNRESOLVED);
    return cell;
}

}  // namespace zol
