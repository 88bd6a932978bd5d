// none!: the empty value. Series actions on none answer none, so none stands for an absent series.
#include "logic.h"
#include "registry.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "string.h"

namespace zol {


Cell* none_set_result() {
    set_none(g_args.base);
    return g_args.base;
}

Cell* none_make_in(const Cell* block) {
    Cell* c = block_alloc_tail(block);
    set_none(c);
    return c;
}

Cell* none_push() {
    Cell* c = stack_push_cell();
    set_none(c);
    return c;
}

namespace {

const Cell* none_make(Cell*, Cell*, TypeId) { return none_push(); }

int none_form(const Cell*, Cell* out, const MoldArgs&, int budget) {
    string_append_ascii(out, "none");
    return budget - 4;
}

int none_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (!args.all) return none_form(value, out, args, budget);
    string_append_ascii(out, "#(none)");
    return budget - 7;
}

int none_compare(const Cell*, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_NONE) || !compare_op_equality_or_sort(op)) return COMPARE_INCOMPARABLE;
    return 0;
}

void none_clear(Cell*) { none_set_result(); }
const Cell* none_find(Cell*, Cell*, const FindArgs&) { return &g_none_value; }
int none_length(const Cell*) { return -1; }  // the length? entry turns it into none
void none_remove(Cell*, Cell*, Cell*) { none_set_result(); }
void none_take(Cell*, Cell*, bool, bool) { none_set_result(); }

}  // namespace

void none_init(DatatypeRegistry& registry) {
    Registration r(TYPE_NONE);
    r.own<ACT_MAKE>(none_make).own<ACT_TO>(none_make);
    r.own<ACT_FORM>(none_form).own<ACT_MOLD>(none_mold).own<ACT_COMPARE>(none_compare);
    r.own<ACT_CLEAR>(none_clear).own<ACT_FIND>(none_find).own<ACT_SELECT>(none_find);
    r.own<ACT_LENGTH_Q>(none_length).own<ACT_REMOVE>(none_remove).own<ACT_TAKE>(none_take);
    registry.register_datatype(r);
}

}  // namespace zol
