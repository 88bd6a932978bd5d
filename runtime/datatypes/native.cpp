// native!, action! and op!. A native or action cell holds its table index in word 1 (the natives table for
// native!, the action number for action!), its spec block in word 2 and a two-cell info block in word 3. An op!
// is a copy of the function value it wraps, with that value's datatype kept in header bits 16 to 23.
#include "error.h"
#include "function.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"
#include "string.h"
#include "symbol.h"

namespace zol {

// Filled by the natives set-up: natives whose entry exists (numbers 1 to this count).
uint32_t g_native_count = 0;

Cell* native_make(const Cell* spec_in, uint32_t index, TypeId type) {
    GcRoot spec(*spec_in);
    GcRoot info;
    set_series(info.get(), TYPE_BLOCK, series_alloc_cells_unset(2));
    cell_series(info.get())->tail = cell_series(info.get())->head + 2 * sizeof(Cell);
    Cell* cells = cell_series(info.get())->cells();
    set_none(&cells[NATIVE_INFO_CONTEXT]);  // nothing reads a native's context: start-up makes none
    set_none(&cells[NATIVE_INFO_ARGS]);
    Cell v;
    v.header = type;
    v.w1 = index;
    v.w2 = series_node(spec.get());
    v.w3 = series_node(info.get());
    return stack_push(&v);
}

// An op! needs exactly two arguments, the left one a plain word.
bool op_spec_valid(const Cell* spec) {
    Series* s = cell_series(spec);
    uint32_t count = 0;
    bool word_seen = false;
    uint32_t local = symbol_resolve(word_symbol(&g_refinement[R_LOCAL]));
    uint32_t ext = symbol_resolve(word_symbol(&g_refinement[R_EXTERN]));
    for (uint32_t i = series_index(spec); i < s->used(); i++) {
        const Cell* c = s->cells() + i;
        switch (cell_type(c)) {
            case TYPE_WORD:
                count++;
                word_seen = true;
                break;
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
                if (!word_seen) return false;
                count++;
                break;
            case TYPE_SET_WORD: return count == 2;
            case TYPE_REFINEMENT: {
                uint32_t sym = symbol_resolve(word_symbol(c));
                return (sym == local || sym == ext) && count == 2;
            }
            default: break;
        }
    }
    return count == 2;
}

namespace {

// make native! [spec index] and make action! [spec index]
const Cell* native_make_action(Cell*, Cell* spec, TypeId type) {
    if (!cell_is(spec, TYPE_BLOCK)) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, type, spec);
    Series* s = cell_series(spec);
    if (s->used() < series_index(spec) || s->used() - series_index(spec) != 2) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, type, spec);
    Cell* cells = s->cells() + series_index(spec);
    if (!cell_is(&cells[0], TYPE_BLOCK) || !cell_is(&cells[1], TYPE_INTEGER)) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, type, spec);
    int32_t index = cell_int(&cells[1]);
    // Only filled entries can be called: an index past the last native is refused like any other.
    int32_t limit = type == TYPE_NATIVE ? int32_t(g_native_count) : int32_t(ACTION_COUNT);
    if (index < 1 || index > limit) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, type, spec);
    return native_make(&cells[0], uint32_t(index), type);
}

const Cell* op_make(Cell*, Cell* value, TypeId) {
    uint32_t t = cell_type(value);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
        fire_with_type(ERR_SCRIPT_INVALID_TYPE, t);
    }
    Cell spec;
    set_series(&spec, TYPE_BLOCK, value->w2);
    if (!op_spec_valid(&spec)) fire(ERR_SCRIPT_BAD_OP_SPEC);
    Cell op = *value;
    op.header = TYPE_OP | (t << HDR_OP_SOURCE_SHIFT);
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) *function_info(value, FN_INFO_OP) = *value;
    return stack_push(&op);
}

void native_reflect(Cell* value, uint32_t field) {
    uint32_t f = symbol_resolve(field);
    Cell result = g_none_value;
    uint32_t source = cell_is(value, TYPE_OP) ? op_source_type(value) : cell_type(value);
    if (f == g_sym[SYM_SPEC]) {
        set_series(&result, TYPE_BLOCK, value->w2);
    } else if (f == g_sym[SYM_BODY] && (source == TYPE_FUNCTION || source == TYPE_ROUTINE)) {
        result = *function_body(value);
    } else if (f == g_sym[SYM_BODY]) {
        set_integer(&result, int32_t(value->w1));
    } else {
        fire(ERR_INTERNAL_NOT_DONE);
    }
    stack_set_only_result(&result);
}

int native_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    const char* text = cell_is(value, TYPE_NATIVE) ? "?native?" : cell_is(value, TYPE_ACTION) ? "?action?" : "?op?";
    string_append_ascii(out, text);
    return budget - int(__builtin_strlen(text));
}

int native_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    GcRoot spec;
    set_series(spec.get(), TYPE_BLOCK, value->w2);
    MoldArgs inner = args;
    inner.only = false;
    if (cell_is(value, TYPE_OP)) {
        string_append_ascii(out, "make op! ");
        budget -= 9;
        stack_mark_call(&g_word[W_ANON]);
        if (op_source_type(value) == TYPE_FUNCTION) {
            string_append_ascii(out, "func ");
            budget = mold_value(spec.get(), out, inner, budget - 5);
            GcRoot body(*function_body(value));
            if (cell_is(body.get(), TYPE_BLOCK)) budget = mold_value(body.get(), out, inner, budget);
        } else {
            string_append_ascii(out, "[");
            budget = mold_value(spec.get(), out, inner, budget - 1);
            string_append_ascii(out, "]");
            budget--;
        }
        unwind_frame_drop();
        return budget;
    }
    const char* open = cell_is(value, TYPE_NATIVE) ? "make native! [" : "make action! [";
    string_append_ascii(out, open);
    budget = mold_value(spec.get(), out, inner, budget - int(__builtin_strlen(open)));
    string_append_ascii(out, "]");
    return budget - 1;
}

int native_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (cell_type(value) != cell_type(other)) return COMPARE_INCOMPARABLE;
    switch (op) {
        case CMP_LESSER:
        case CMP_LESSER_OR_EQUAL:
        case CMP_GREATER:
        case CMP_GREATER_OR_EQUAL: return COMPARE_INCOMPARABLE;
        default: {
            int32_t a = int32_t(value->w1), b = int32_t(other->w1);
            if (cell_is(value, TYPE_OP) && op_source_type(value) != op_source_type(other)) return 1;
            return a < b ? -1 : a > b ? 1 : 0;
        }
    }
}

}  // namespace

void native_init(DatatypeRegistry& registry) {
    Registration r(TYPE_NATIVE);
    r.own<ACT_MAKE>(native_make_action).own<ACT_REFLECT>(native_reflect).own<ACT_FORM>(native_form);
    r.own<ACT_MOLD>(native_mold).own<ACT_COMPARE>(native_compare);
    registry.register_datatype(r);
}

void action_init(DatatypeRegistry& registry) {
    Registration r(TYPE_ACTION);
    r.own<ACT_MAKE>(native_make_action).own<ACT_FORM>(native_form).own<ACT_MOLD>(native_mold);
    r.own<ACT_COMPARE>(native_compare).inherit(ACT_REFLECT);
    registry.register_datatype(r);
}

void op_init(DatatypeRegistry& registry) {
    Registration r(TYPE_OP);
    r.own<ACT_MAKE>(op_make).own<ACT_FORM>(native_form).own<ACT_MOLD>(native_mold);
    r.own<ACT_COMPARE>(native_compare).inherit(ACT_REFLECT);
    registry.register_datatype(r);
}

}  // namespace zol
