// unset!: the value of a word that has none, and the result of expressions that give nothing.
#include "logic.h"
#include "registry.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "string.h"

namespace zol {


Cell* unset_set_result() {
    set_unset(g_args.base);
    return g_args.base;
}

Cell* unset_make_in(const Cell* block) { return block_alloc_tail(block); }

Cell* unset_push() {
    Cell* c = stack_push_cell();
    set_unset(c);
    return c;
}

namespace {

const Cell* unset_make(Cell*, Cell*, TypeId) { return unset_push(); }

int unset_form(const Cell*, Cell*, const MoldArgs&, int budget) { return budget; }

int unset_mold(const Cell*, Cell* out, const MoldArgs& args, int budget) {
    if (args.all) {
        string_append_ascii(out, "#(unset)");
        return budget - 8;
    }
    string_append_ascii(out, "unset");
    return budget - 5;
}

int unset_compare(const Cell*, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_UNSET) || !compare_op_equality_or_sort(op)) return COMPARE_INCOMPARABLE;
    return 0;
}

}  // namespace

void unset_init(DatatypeRegistry& registry) {
    Registration r(TYPE_UNSET);
    r.own<ACT_MAKE>(unset_make).own<ACT_TO>(unset_make);
    r.own<ACT_FORM>(unset_form).own<ACT_MOLD>(unset_mold).own<ACT_COMPARE>(unset_compare);
    registry.register_datatype(r);
}

}  // namespace zol
