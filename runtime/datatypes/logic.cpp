// logic!: true and false, and the truth tests of every conditional.
#include "logic.h"

#include "float.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/values/support.h"
#include "string.h"

namespace zol {


Cell* logic_set_result(bool v) {
    set_logic(g_args.base, v);
    return g_args.base;
}

Cell* logic_make_in(const Cell* block, bool v) {
    Cell* c = block_alloc_tail(block);
    set_logic(c, v);
    return c;
}

Cell* logic_push(bool v) {
    Cell* c = stack_push_cell();
    set_logic(c, v);
    return c;
}

bool logic_cell_true(const Cell* c, bool check, const Cell* error_arg) {
    if (check && cell_is(c, TYPE_UNSET)) fire(ERR_SCRIPT_NO_VALUE, error_arg);
    return cell_true(c);
}

void logic_no_return(const Cell* error_arg) { fire(ERR_SCRIPT_NO_RETURN, error_arg); }

bool logic_top_true() { return cell_true(g_args.top > g_args.base ? g_args.top - 1 : g_args.base); }

namespace {

const Cell* logic_to(Cell*, Cell* spec, TypeId) {
    if (cell_is(spec, TYPE_LOGIC)) return spec;
    return cell_is(spec, TYPE_NONE) ? &g_false_value : &g_true_value;
}

const Cell* logic_make(Cell* proto, Cell* spec, TypeId type) {
    switch (cell_type(spec)) {
        case TYPE_INTEGER: return cell_int(spec) != 0 ? &g_true_value : &g_false_value;
        case TYPE_FLOAT:
        case TYPE_PERCENT: return cell_float(spec) != 0.0 ? &g_true_value : &g_false_value;  // NaN is true
        default: return logic_to(proto, spec, type);
    }
}

void logic_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        init_genrand(logic_get(value));
        unset_set_result();
        return;
    }
    // A 31-bit draw, so that true and false are equally likely.
    logic_set_result(random_draw(secure) > 0x3FFFFFFF);
}

int logic_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    if (logic_get(value)) {
        string_append_ascii(out, "true");
        return budget - 4;
    }
    string_append_ascii(out, "false");
    return budget - 5;
}

int logic_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (!args.all) return logic_form(value, out, args, budget);
    if (logic_get(value)) {
        string_append_ascii(out, "#(true)");
        return budget - 7;
    }
    string_append_ascii(out, "#(false)");
    return budget - 8;
}

int logic_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_LOGIC) || !compare_op_equality_or_sort(op)) return COMPARE_INCOMPARABLE;
    return int(logic_get(value)) - int(logic_get(other));  // false sorts before true
}

const Cell* logic_complement(Cell* value) {
    value->w1 ^= 1;
    return value;
}

// and~, or~ and xor~: the first argument (the result slot) combines with the second.
void logic_bitwise(ArithOp op) {
    Cell* a = g_args.base;
    const Cell* b = g_args.base + 1;
    if (!cell_is(b, TYPE_LOGIC)) fire_expect_arg(b, 1);
    switch (op) {
        case ARITH_OR: a->w1 |= b->w1; break;
        case ARITH_AND: a->w1 &= b->w1; break;
        default: a->w1 ^= b->w1; break;
    }
}

void logic_and() { logic_bitwise(ARITH_AND); }
void logic_or() { logic_bitwise(ARITH_OR); }
void logic_xor() { logic_bitwise(ARITH_XOR); }

}  // namespace

void logic_init(DatatypeRegistry& registry) {
    Registration r(TYPE_LOGIC);
    r.own<ACT_MAKE>(logic_make).own<ACT_RANDOM>(logic_random).own<ACT_TO>(logic_to);
    r.own<ACT_FORM>(logic_form).own<ACT_MOLD>(logic_mold).own<ACT_COMPARE>(logic_compare);
    r.own<ACT_AND_T>(logic_and).own<ACT_COMPLEMENT>(logic_complement).own<ACT_OR_T>(logic_or);
    r.own<ACT_XOR_T>(logic_xor);
    registry.register_datatype(r);
}

}  // namespace zol
