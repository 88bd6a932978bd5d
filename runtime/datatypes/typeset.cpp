// typeset!
#include "typeset.h"

#include "context.h"
#include "error.h"
#include "float.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "string.h"

namespace zol {

void typeset_make_any(Cell* t) {
    t->header = TYPE_TYPESET;
    t->w1 = t->w2 = t->w3 = 0xFFFFFFFF;
    reinterpret_cast<uint8_t*>(&t->w1)[TYPE_UNSET >> 3] &= uint8_t(~(0x80u >> (TYPE_UNSET & 7)));
}

Cell* typeset_make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell* t = block_alloc_tail(block);
    typeset_clear(t);
    t->w1 = w1;
    t->w2 = w2;
    t->w3 = w3;
    return t;
}

Cell* typeset_push(const Cell* t) { return stack_push(t); }

uint32_t typeset_count(const Cell* t) {
    uint32_t n = 0;
    for (uint32_t id = 1; id <= g_types.highest(); id++) n += typeset_has(t, id);
    return n;
}

namespace {

// A word stands for its value; unset words raise through the value fetch.
const Cell* resolve(const Cell* value) {
    if (!cell_is(value, TYPE_WORD)) return value;
    const Cell* v = word_value_cell(value);
    if (cell_is(v, TYPE_UNSET)) fire(ERR_SCRIPT_NO_VALUE, value);
    return v;
}

void merge(Cell* t, const Cell* other) {
    t->w1 |= other->w1;
    t->w2 |= other->w2;
    t->w3 |= other->w3;
}

}  // namespace

void typeset_add(Cell* t, const Cell* value) {
    const Cell* v = resolve(value);
    if (cell_is(v, TYPE_TYPESET)) {
        merge(t, v);
    } else if (cell_is(v, TYPE_DATATYPE)) {
        typeset_set(t, datatype_id(v));
    } else {
        fire(ERR_SCRIPT_INVALID_ARG, value);
    }
}

void typeset_from_spec(Cell* t, const Cell* spec) {
    typeset_clear(t);
    Series* s = cell_series(spec);
    for (uint32_t i = series_index(spec); i < s->used(); i++) {
        const Cell* element = s->cells() + i;
        const Cell* v = resolve(element);
        switch (cell_type(v)) {
            case TYPE_DATATYPE: typeset_set(t, datatype_id(v)); break;
            case TYPE_TYPESET: merge(t, v); break;
            case TYPE_WORD: typeset_set(t, TYPE_OBJECT); break;  // a word naming a word: an object's class
            case TYPE_BLOCK: break;
            default: fire(ERR_SCRIPT_INVALID_TYPE_SPEC, element);
        }
        s = cell_series(spec);
    }
}

void typeset_to_block(const Cell* t, Cell* block) {
    Cell ts = *t;
    set_series(block, TYPE_BLOCK, series_alloc_cells(4));
    for (uint32_t id = 1; id <= g_types.highest(); id++) {
        if (typeset_has(&ts, id)) *block_alloc_tail(block) = g_types.row(id).word;
    }
}

namespace {

const Cell* typeset_make(Cell*, Cell* spec, TypeId) {
    if (cell_is(spec, TYPE_TYPESET)) return spec;
    if (!cell_is(spec, TYPE_BLOCK)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TYPESET, spec);
    Cell* result = stack_push_cell();
    typeset_clear(result);
    Series* s = cell_series(spec);
    for (uint32_t i = series_index(spec); i < s->used(); i++) {
        typeset_add(result, s->cells() + i);
        s = cell_series(spec);
    }
    return result;
}

int typeset_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (!args.only) {
        string_append_ascii(out, "make typeset! [");
        budget -= 15;
    }
    bool any = false;
    for (uint32_t id = 1; id <= g_types.highest(); id++) {
        if (!typeset_has(value, id)) continue;
        if (args.part && budget < 0) return budget;
        const TypeNameRow& row = g_types.row(id);
        string_append_ascii(out, row.name, row.length + 1);
        string_append_ascii(out, " ");
        budget -= int(row.length) + 2;
        any = true;
    }
    Series* s = cell_series(out);
    if (!args.only) {
        if (any) s->tail -= s->unit();  // the last space becomes the closing bracket
        string_append_ascii(out, "]");
    } else if (any) {
        s->tail -= s->unit();
        budget++;
    }
    return budget;
}

int typeset_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    MoldArgs plain = args;
    plain.only = false;
    return typeset_mold(value, out, plain, budget);
}

int typeset_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_TYPESET)) return COMPARE_INCOMPARABLE;
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_STRICT_EQUAL:
        case CMP_SAME:
        case CMP_FIND:
            return value->w1 == other->w1 && value->w2 == other->w2 && value->w3 == other->w3 ? 0 : 1;
        case CMP_SORT:
        case CMP_CASE_SORT: {
            uint32_t a = typeset_count(value), b = typeset_count(other);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        default: return COMPARE_INCOMPARABLE;
    }
}

// and~, or~, xor~ on the two argument cells; the result replaces the first.
void combine(ArithOp op) {
    Cell* a = g_args.base;
    Cell* b = g_args.base + 1;
    Cell other;
    if (cell_is(b, TYPE_DATATYPE)) {
        typeset_clear(&other);
        typeset_set(&other, datatype_id(b));
    } else if (cell_is(b, TYPE_TYPESET)) {
        other = *b;
    } else {
        fire(ERR_SCRIPT_INVALID_ARG, b);
    }
    switch (op) {
        case ARITH_OR: merge(a, &other); break;
        case ARITH_AND:
            a->w1 &= other.w1, a->w2 &= other.w2, a->w3 &= other.w3;
            break;
        default: a->w1 ^= other.w1, a->w2 ^= other.w2, a->w3 ^= other.w3; break;
    }
    stack_keep_result();
}

void typeset_and() { combine(ARITH_AND); }
void typeset_or() { combine(ARITH_OR); }
void typeset_xor() { combine(ARITH_XOR); }

const Cell* typeset_complement(Cell* value) {
    value->w1 = ~value->w1;
    value->w2 = ~value->w2;
    value->w3 = ~value->w3;
    return value;
}

const Cell* typeset_find(Cell* set, Cell* value, const FindArgs&) {
    if (!cell_is(value, TYPE_DATATYPE)) fire(ERR_SCRIPT_INVALID_ARG, value);
    return typeset_has(set, datatype_id(value)) ? &g_true_value : &g_false_value;
}

}  // namespace

void typeset_init(DatatypeRegistry& registry) {
    Registration r(TYPE_TYPESET);
    r.own<ACT_MAKE>(typeset_make).own<ACT_TO>(typeset_make).own<ACT_FORM>(typeset_form).own<ACT_MOLD>(typeset_mold);
    r.own<ACT_COMPARE>(typeset_compare).own<ACT_AND_T>(typeset_and).own<ACT_OR_T>(typeset_or);
    r.own<ACT_XOR_T>(typeset_xor).own<ACT_COMPLEMENT>(typeset_complement).own<ACT_FIND>(typeset_find);
    registry.register_datatype(r);
}

}  // namespace zol
