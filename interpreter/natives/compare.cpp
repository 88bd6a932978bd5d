// Comparison and identity natives, reduce and compose, and the data-set natives.
#include "interpreter/dispatch.h"
#include "interpreter/natives/natives.h"
#include "runtime/values/compare.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/values/support.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"
#include "runtime/values/predefined.h"

namespace zol::natives {

namespace {

uint32_t compare_native(CompareOp op) {
    bool r = compare_values(arg(0), arg(1), op);
    logic_set_result(r);
    stack_keep_result();
    return 0;
}

bool same(const Cell* a, const Cell* b) {
    uint32_t t = cell_type(a);
    if (t != cell_type(b)) return false;
    switch (t) {
        case TYPE_DATATYPE:
        case TYPE_LOGIC:
        case TYPE_OBJECT: return a->w1 == b->w1;
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_BITSET: return a->w2 == b->w2;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_PAIR:
        case TYPE_TIME: return a->w2 == b->w2 && a->w3 == b->w3;
        case TYPE_NONE:
        case TYPE_UNSET: return true;
        case TYPE_TUPLE:
            return ((a->header ^ b->header) & 0x780000) == 0 && compare_values(a, b, CMP_STRICT_EQUAL);
        case TYPE_MONEY: return compare_values(a, b, CMP_SAME);
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_POINT2D: return a->w1 == b->w1 && a->w2 == b->w2;
        case TYPE_OP: return a->w2 == b->w2 && a->w3 == b->w3;
        default:
            if (type_in(FAMILY_SERIES, t)) return a->w2 == b->w2 && a->w1 == b->w1;
            return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
    }
}

// Adds a value to the output of reduce or compose: appended to a block, inserted into another target
// (whose position moves past it). reduce drops the line break a value carries; compose keeps the layout
// of the block it copies.
void add_value(Cell* out, const Cell* value, bool into, bool keep_new_line) {
    Cell v = *value;
    if (!keep_new_line) v.header &= ~HDR_NEW_LINE;
    if (!into || cell_is(out, TYPE_BLOCK)) {
        *block_alloc_tail(out) = v;
        return;
    }
    GcRoot kept(v);
    block_insert_value(out, kept.get(), true, false);
}

// The length of an /into block target before values are added to it.
uint32_t into_block_length(const Cell* out, const Cell* into) {
    return into && cell_is(out, TYPE_BLOCK) ? cell_series(out)->used() : 0;
}

// Tells the owner of an /into block target about the values added at its tail. The result stays the
// target as it was given, at its own position.
void report_added(const Cell* out, const Cell* into, uint32_t before) {
    if (!into || !cell_is(out, TYPE_BLOCK)) return;
    uint32_t after = cell_series(out)->used();
    if (after > before) ownership_check(out, W_APPENDED, int32_t(before), int32_t(after - before));
}

}  // namespace

uint32_t native_equal_q(const int32_t*) { return compare_native(CMP_EQUAL); }
uint32_t native_not_equal_q(const int32_t*) { return compare_native(CMP_NOT_EQUAL); }
uint32_t native_strict_equal_q(const int32_t*) { return compare_native(CMP_STRICT_EQUAL); }
uint32_t native_lesser_q(const int32_t*) { return compare_native(CMP_LESSER); }
uint32_t native_greater_q(const int32_t*) { return compare_native(CMP_GREATER); }
uint32_t native_lesser_or_equal_q(const int32_t*) { return compare_native(CMP_LESSER_OR_EQUAL); }
uint32_t native_greater_or_equal_q(const int32_t*) { return compare_native(CMP_GREATER_OR_EQUAL); }

uint32_t native_same_q(const int32_t*) {
    logic_set_result(same(arg(0), arg(1)));
    stack_keep_result();
    return 0;
}

uint32_t native_not(const int32_t*) {
    logic_set_result(logic_false());
    stack_keep_result();
    return 0;
}

uint32_t native_type_q(const int32_t* refs) {
    uint32_t t = cell_type(arg(0));
    if (present(refs, 0)) {
        stack_set_only_result(&g_types.row(t).word);
    } else {
        Cell d;
        set_datatype(&d, t);
        stack_set_only_result(&d);
    }
    return 0;
}

// How many values of reduce wait on the argument stack before its result is made.
constexpr uint32_t REDUCE_WAITING = 64;

uint32_t native_reduce(const int32_t* refs) {
    GcRoot value(*arg(0));
    Cell* into = ref_arg(refs, 0);
    GcRoot out(into ? *into : g_none_value);
    uint32_t before = into_block_length(out.get(), into);
    stack_mark_call(&g_word[W_BODY]);
    if (cell_is(value.get(), TYPE_BLOCK)) {
        uint32_t start = series_index(value.get());
        uint32_t end = cell_series(value.get())->used();
        uint32_t position = start;
        if (!into) {
            // A block of expressions gives fewer values than it has cells: the first values wait on the
            // argument stack, where the collector sees them, and the result is made at their count.
            uint32_t waiting = 0;
            while (position < end && waiting < REDUCE_WAITING) {
                g_args.top = g_args.base + waiting;
                position = eval_next(value.get(), position, end, EVAL_PUSH);
                if (unwind_pending()) return 0;
                g_args.base[waiting] = *stack_top();
                waiting++;
                uint32_t now = cell_series(value.get())->used();
                if (now < end) end = now;
            }
            uint32_t more = position < end ? end - position : 0;
            set_series(out.get(), TYPE_BLOCK, series_alloc_cells(uint64_t(waiting) + more));
            for (uint32_t i = 0; i < waiting; i++) add_value(out.get(), g_args.base + i, false, false);
        }
        while (position < end) {
            stack_reset();
            position = eval_next(value.get(), position, end, EVAL_PUSH);
            if (unwind_pending()) return 0;
            add_value(out.get(), stack_top(), into != nullptr, false);
            uint32_t now = cell_series(value.get())->used();
            if (now < end) end = now;
        }
    } else if (type_in(FAMILY_ANY_FUNCTION, cell_type(value.get()))) {
        *out = *value;
    } else {
        GcRoot block;
        set_series(block.get(), TYPE_BLOCK, series_alloc_cells(1));
        *block_alloc_tail(block.get()) = *value;
        stack_reset();
        eval_next(block.get(), 0, 1, EVAL_PUSH);
        if (unwind_pending()) return 0;
        if (into) {
            add_value(out.get(), stack_top(), true, false);
        } else {
            *out = *stack_top();
        }
    }
    report_added(out.get(), into, before);
    stack_set_only_result(out.get());
    unwind_frame_return();
    return 0;
}

namespace {

// Walks the values the block holds when composing starts (an /into target may be the block itself, and
// what is added to it is not composed again); a paren that shortens the block ends the walk sooner. /deep
// follows nested blocks by recursion, with the blocks it is inside on the visited-series stack: a block
// inside itself raises no-cycle, and nesting deeper than that stack raises too-deep.
void compose_into(Cell* out, const Cell* block, bool deep, bool only, bool into) {
    stack_check_native();
    VisitGuard visiting(series_node(block));
    uint32_t end = cell_series(block)->used();
    for (uint32_t i = series_index(block); i < end && i < cell_series(block)->used(); i++) {
        Cell v = cell_series(block)->cells()[i];
        if (cell_is(&v, TYPE_BLOCK) && deep) {
            if (cycles_find(series_node(&v))) fire(ERR_INTERNAL_NO_CYCLE);
            GcRoot inner(v), composed;
            set_series(composed.get(), TYPE_BLOCK, series_alloc_cells(cell_series(&v)->used() + 1));
            composed->header |= v.header & HDR_NEW_LINE;
            compose_into(composed.get(), inner.get(), deep, only, false);
            if (unwind_pending()) return;
            add_value(out, composed.get(), into, true);
        } else if (cell_is(&v, TYPE_PAREN)) {
            if (series_index(&v) >= cell_series(&v)->used()) continue;
            GcRoot paren(v);
            eval_block(paren.get(), false);
            if (unwind_pending()) return;
            GcRoot r(*stack_top());
            stack_pop(1);
            if (cell_is(r.get(), TYPE_UNSET)) continue;
            if (cell_is(r.get(), TYPE_BLOCK) && !only) {
                for (uint32_t k = series_index(r.get()); k < cell_series(r.get())->used(); k++) {
                    add_value(out, cell_series(r.get())->cells() + k, into, true);
                }
            } else {
                add_value(out, r.get(), into, false);
            }
        } else {
            add_value(out, &v, into, true);
        }
    }
}

}  // namespace

uint32_t native_compose(const int32_t* refs) {
    GcRoot value(*arg(0));
    Cell* into = ref_arg(refs, 2);
    GcRoot out(into ? *into : g_none_value);
    uint32_t before = into_block_length(out.get(), into);
    if (!into) set_series(out.get(), TYPE_BLOCK, series_alloc_cells(block_rs_length(value.get()) + 1));
    compose_into(out.get(), value.get(), present(refs, 0), present(refs, 1), into != nullptr);
    if (unwind_pending()) return 0;
    report_added(out.get(), into, before);
    stack_set_only_result(out.get());
    return 0;
}

namespace {

uint32_t set_operation(SetOp op, const int32_t* refs, bool single) {
    const Cell* a = arg(0);
    const Cell* b = single ? nullptr : arg(1);
    uint32_t ta = cell_type(a);
    if (b) {
        uint32_t tb = cell_type(b);
        bool blocks = (ta == TYPE_BLOCK || ta == TYPE_HASH) && (tb == TYPE_BLOCK || tb == TYPE_HASH);
        if (!blocks && ta != tb) {
            Cell da, db;
            set_datatype(&da, ta);
            set_datatype(&db, tb);
            fire(ERR_SCRIPT_EXPECT_VAL, &da, &db);
        }
    }
    bool case_sensitive = present(refs, 0);
    Cell* skip = ref_arg(refs, 1);
    if (skip && cell_int(skip) < 1) fire_bad_refinement("skip", skip);
    switch (ta) {
        case TYPE_BLOCK:
        case TYPE_HASH:
            block_set_op(skip, case_sensitive, op);
            stack_keep_result();
            return 0;
        case TYPE_STRING: {
            GcRoot r;
            string_set_op(r.get(), a, b, case_sensitive, skip, op);
            stack_set_only_result(r.get());
            return 0;
        }
        case TYPE_TYPESET: {
            Cell r = *a;
            if (op == SET_UNION) r.w1 |= b->w1, r.w2 |= b->w2, r.w3 |= b->w3;
            if (op == SET_INTERSECT) r.w1 &= b->w1, r.w2 &= b->w2, r.w3 &= b->w3;
            if (op == SET_EXCLUDE) r.w1 &= ~b->w1, r.w2 &= ~b->w2, r.w3 &= ~b->w3;
            if (op == SET_DIFFERENCE) r.w1 ^= b->w1, r.w2 ^= b->w2, r.w3 ^= b->w3;
            stack_set_only_result(&r);
            return 0;
        }
        case TYPE_DATE: {
            // Dates have one set operation: their difference, in seconds.
            if (op != SET_DIFFERENCE) break;
            Cell r = *a;
            date_difference(&r, b);
            stack_set_only_result(&r);
            return 0;
        }
        case TYPE_BITSET:
            bitset_combine(op);
            return 0;
        default: break;
    }
    Cell word = word_load("set1");
    fire_expect_arg_word(ta, &word);
}

}  // namespace

uint32_t native_unique(const int32_t* refs) { return set_operation(SET_UNIQUE, refs, true); }
uint32_t native_union(const int32_t* refs) { return set_operation(SET_UNION, refs, false); }
uint32_t native_intersect(const int32_t* refs) { return set_operation(SET_INTERSECT, refs, false); }
uint32_t native_exclude(const int32_t* refs) { return set_operation(SET_EXCLUDE, refs, false); }
uint32_t native_difference(const int32_t* refs) { return set_operation(SET_DIFFERENCE, refs, false); }

}  // namespace zol::natives
