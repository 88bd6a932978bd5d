// The action entries. Each reads its arguments from the argument stack (the first at the base) and its
// refinements from the integers the interpreter passes (-1 absent, else the index of the refinement's first
// argument cell), converts them into what the datatype's function takes, and calls that function.
#include "dispatch.h"

#include "eval.h"
#include "interpreter/natives/natives.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"
#include "runtime/values/support.h"

namespace zol {

namespace {

using natives::arg;
using natives::present;
using natives::ref_arg;

// The word of an action's first argument, read from the action! value found under the action's own name
// (anon when that word holds something else now). Only errors ask, so it is looked up each time.
Cell first_argument_word(Action action) {
    Cell name = word_load(action_word(action));
    const Cell* value = context_global_value_cell(word_symbol(&name));
    if (!value || !cell_is(value, TYPE_ACTION) || value->w1 != action) return g_word[W_ANON];
    GcRoot keep(*value);
    return error_get_call_argument(keep.get(), 0);
}

void result(const Cell* value) { stack_set_only_result(value); }

// --- make and to
void dispatch_make_to(Action action) {
    Cell* proto = arg(0);
    uint32_t type = cell_is(proto, TYPE_DATATYPE) ? datatype_id(proto) : cell_type(proto);
    auto fn = reinterpret_cast<ActionFn<ACT_MAKE>>(actions_get_action(type, action));
    result(fn(proto, arg(1), TypeId(type)));
}
void entry_make(const int32_t*) {
    // make block! with a size, the common case, makes the block at once: what block!'s make does with an
    // integer, without the action's dispatch.
    if (cell_is(arg(0), TYPE_DATATYPE) && datatype_id(arg(0)) == TYPE_BLOCK && cell_is(arg(1), TYPE_INTEGER)) {
        block_make_at(arg(0), cell_int(arg(1)));
        stack_keep_result();
        return;
    }
    dispatch_make_to(ACT_MAKE);
}
void entry_to(const int32_t*) { dispatch_make_to(ACT_TO); }

void entry_random(const int32_t* refs) {
    action_of<ACT_RANDOM>(arg(0))(arg(0), present(refs, 0), present(refs, 1), present(refs, 2));
}

void entry_reflect(const int32_t*) {
    if (!is_any_word(arg(1))) fire_expect_arg(arg(1), 1);
    action_of<ACT_REFLECT>(arg(0))(arg(0), word_symbol(arg(1)));
}

// --- form and mold: the output is a new string pushed above the arguments; a /part limit cuts it.
void form_or_mold(Action action, bool only, bool all, bool flat, const Cell* limit_cell) {
    int limit = 0x7FFFFFFF;
    if (limit_cell) {
        limit = cell_int(limit_cell);
        if (limit <= 0) {
            GcRoot empty;
            string_make(empty.get());
            return result(empty.get());
        }
    }
    auto fn = reinterpret_cast<ActionFn<ACT_MOLD>>(actions_get_action(cell_type(arg(0)), action));
    Cell* out = stack_push_cell();
    string_make(out);
    MoldArgs args;
    args.only = only;
    args.all = all;
    args.flat = flat;
    args.part = limit_cell != nullptr;
    fn(arg(0), out, args, limit);
    if (limit_cell) string_truncate(out, uint32_t(limit));
    result(out);
}
void entry_form(const int32_t* refs) { form_or_mold(ACT_FORM, false, false, false, ref_arg(refs, 0)); }
void entry_mold(const int32_t* refs) {
    form_or_mold(ACT_MOLD, present(refs, 0), present(refs, 1), present(refs, 2), ref_arg(refs, 3));
}

void entry_eval_path(const int32_t*) {
    PathStep step;
    step.element = arg(1);
    step.last = true;
    auto fn = actions_get_path_action(arg(0), nullptr, arg(1), -1);
    result(fn(arg(0), step));
}

// Actions that read their arguments from the stack themselves.
template <Action A>
void entry_by_first(const int32_t*) {
    reinterpret_cast<void (*)()>(actions_get_action(cell_type(arg(0)), A))();
}

void entry_negate(const int32_t*) { action_of<ACT_NEGATE>(arg(0))(arg(0)); }

void entry_round(const int32_t* refs) {
    RoundArgs a;
    a.scale = ref_arg(refs, 0);
    a.even = present(refs, 1);
    a.down = present(refs, 2);
    a.half_down = present(refs, 3);
    a.floor = present(refs, 4);
    a.ceiling = present(refs, 5);
    a.half_ceiling = present(refs, 6);
    action_of<ACT_ROUND>(arg(0))(arg(0), a);
}

void entry_even_q(const int32_t*) { logic_set_result(action_of<ACT_EVEN_Q>(arg(0))(arg(0))), stack_keep_result(); }
void entry_odd_q(const int32_t*) { logic_set_result(action_of<ACT_ODD_Q>(arg(0))(arg(0))), stack_keep_result(); }
void entry_complement(const int32_t*) { result(action_of<ACT_COMPLEMENT>(arg(0))(arg(0))); }

bool is_part_series(uint32_t t) {
    return type_in(FAMILY_ANY_BLOCK, t) || type_in(FAMILY_ANY_STRING, t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_MAP || t == TYPE_IMAGE;
}

// append and insert: the /part count of the inserted value and the /dup count, by their rules.
void append_or_insert(const int32_t* refs, bool append) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    int part = -1;
    if (Cell* length = ref_arg(refs, 0)) {
        if (!is_part_series(cell_type(value)) || !value->w2) fire(ERR_SCRIPT_INVALID_PART, length);
        uint32_t buffer = cell_series(value)->used();
        if (series_index(value) > buffer) value->w1 = buffer;
        int64_t count;
        if (cell_is(length, TYPE_INTEGER)) {
            count = cell_int(length);
        } else {
            if (cell_type(length) != cell_type(value) || series_node(length) != series_node(value) || cell_is(value, TYPE_PORT)) {
                fire_bad_refinement("part", length);
            }
            count = int64_t(series_index(length)) - int64_t(series_index(value));
        }
        if (count == 0 || (count < 0 && series_index(value) == 0)) {
            stack_keep_result();
            return;
        }
        if (count < 0) {
            int64_t back = -count > series_index(value) ? series_index(value) : -count;
            value->w1 -= uint32_t(back);
            count = back;
        }
        part = int(count > 0x7FFFFFFF ? 0x7FFFFFFF : count);
    }
    int dup = 1;
    if (Cell* count = ref_arg(refs, 2)) {
        dup = cell_is(count, TYPE_FLOAT) ? int(cell_float(count)) : cell_int(count);
        if (dup <= 0) {
            stack_keep_result();
            return;
        }
    }
    auto fn = reinterpret_cast<ActionFn<ACT_APPEND>>(actions_get_action(cell_type(series), append ? ACT_APPEND : ACT_INSERT));
    fn(series, value, part, present(refs, 1), dup, append);
}
void entry_append(const int32_t* refs) { append_or_insert(refs, true); }
void entry_insert(const int32_t* refs) { append_or_insert(refs, false); }

void entry_change(const int32_t* refs) {
    Cell* series = arg(0);
    int part = -1;
    bool image_or_port = cell_is(series, TYPE_IMAGE) || cell_is(series, TYPE_PORT);
    if (Cell* range = ref_arg(refs, 0)) {
        if (!image_or_port && series_index(series) > cell_series(series)->used()) series->w1 = cell_series(series)->used();
        int64_t count;
        if (cell_is(range, TYPE_INTEGER)) {
            count = cell_int(range);
        } else {
            if (cell_type(range) != cell_type(series) || series_node(range) != series_node(series) || image_or_port) {
                fire_bad_refinement("part", range);
            }
            uint32_t used = cell_series(range)->used();
            if (series_index(range) > used) range->w1 = used;
            count = int64_t(series_index(range)) - int64_t(series_index(series));
        }
        if (count < 0) {
            if (image_or_port) {
                count = 0;
            } else {
                int64_t back = -count > series_index(series) ? series_index(series) : -count;
                series->w1 -= uint32_t(back);
                count = back;
            }
        }
        part = int(count > 0x7FFFFFFF ? 0x7FFFFFFF : count);
    }
    int dup = 1;
    if (Cell* count = ref_arg(refs, 2)) {
        // A float count converts numerically, truncated toward zero.
        if (cell_is(count, TYPE_FLOAT)) {
            double d = cell_float(count);
            dup = d >= 2147483647.0 ? 0x7FFFFFFF : d > 0 ? int(d) : 0;
        } else {
            dup = cell_int(count);
        }
        if (dup <= 0) {
            stack_keep_result();
            return;
        }
    }
    action_of<ACT_CHANGE>(series)(series, arg(1), part, present(refs, 1), dup);
}

void entry_clear(const int32_t*) { action_of<ACT_CLEAR>(arg(0))(arg(0)); }

void entry_copy(const int32_t* refs) {
    Cell* kind = ref_arg(refs, 2);
    if (kind && !cell_is(kind, TYPE_DATATYPE) && !cell_is(kind, TYPE_TYPESET)) {
        Cell word = word_load("kind");
        fire_expect_arg_word(cell_type(kind), &word);
    }
    auto fn = action_of<ACT_COPY>(arg(0));
    Cell* out = stack_push_cell();
    set_unset(out);
    result(fn(arg(0), out, ref_arg(refs, 0), present(refs, 1), kind));
}

FindArgs find_args(const int32_t* refs, bool with_tail_and_match) {
    FindArgs a;
    a.part = ref_arg(refs, 0);
    a.only = present(refs, 1);
    a.case_sensitive = present(refs, 2);
    a.same = present(refs, 3);
    a.any = present(refs, 4);
    a.wild = ref_arg(refs, 5);
    a.skip = ref_arg(refs, 6);
    a.last = present(refs, 7);
    a.reverse = present(refs, 8);
    if (with_tail_and_match) {
        a.tail = present(refs, 9);
        a.match = present(refs, 10);
    }
    return a;
}
void entry_find(const int32_t* refs) { result(action_of<ACT_FIND>(arg(0))(arg(0), arg(1), find_args(refs, true))); }
void entry_select(const int32_t* refs) { result(action_of<ACT_SELECT>(arg(0))(arg(0), arg(1), find_args(refs, false))); }

void entry_length_q(const int32_t*) {
    int n = action_of<ACT_LENGTH_Q>(arg(0))(arg(0));
    Cell r = g_none_value;
    if (n >= 0) set_integer(&r, n);
    result(&r);
}

void entry_move(const int32_t* refs) { result(action_of<ACT_MOVE>(arg(0))(arg(0), arg(1), ref_arg(refs, 0))); }
void entry_pick(const int32_t*) {
    // An integer index into a block, the common case, reads the cell at once: what the block's pick action
    // answers, without its dispatch.
    const Cell* s = arg(0);
    if (cell_is(s, TYPE_BLOCK) && cell_is(arg(1), TYPE_INTEGER)) {
        const Cell* v = block_pick_cell(s, cell_int(arg(1)));
        result(v ? v : &g_none_value);
        return;
    }
    result(action_of<ACT_PICK>(s)(arg(0), pick_index(), arg(1)));
}
void entry_tail_q(const int32_t*) {
    // A block, the common case, is answered at once: what the series' tail? answers, without the dispatch.
    const Cell* s = arg(0);
    if (cell_is(s, TYPE_BLOCK)) return result(series_at_tail(s) ? &g_true_value : &g_false_value);
    entry_by_first<ACT_TAIL_Q>(nullptr);
}
void entry_poke(const int32_t*) {
    Cell value = *arg(2);
    action_of<ACT_POKE>(arg(0))(arg(0), pick_index(), arg(2), arg(1));
    result(&value);
}
void entry_put(const int32_t* refs) { result(action_of<ACT_PUT>(arg(0))(arg(0), arg(1), arg(2), present(refs, 0))); }
void entry_remove(const int32_t* refs) { action_of<ACT_REMOVE>(arg(0))(arg(0), ref_arg(refs, 0), ref_arg(refs, 1)); }
void entry_reverse(const int32_t* refs) { action_of<ACT_REVERSE>(arg(0))(arg(0), ref_arg(refs, 0), ref_arg(refs, 1)); }

void entry_sort(const int32_t* refs) {
    SortArgs a;
    a.case_sensitive = present(refs, 0);
    a.skip = ref_arg(refs, 1);
    a.comparator = ref_arg(refs, 2);
    a.part = ref_arg(refs, 3);
    a.all = present(refs, 4);
    a.reverse = present(refs, 5);
    a.stable = present(refs, 6);
    result(action_of<ACT_SORT>(arg(0))(arg(0), a));
}

void entry_swap(const int32_t*) { action_of<ACT_SWAP>(arg(0))(arg(0), arg(1)); }
void entry_take(const int32_t* refs) {
    action_of<ACT_TAKE>(arg(0))(arg(0), ref_arg(refs, 0), present(refs, 1), present(refs, 2));
}

void entry_trim(const int32_t* refs) {
    TrimArgs a;
    a.head = present(refs, 0);
    a.tail = present(refs, 1);
    a.automatic = present(refs, 2);
    a.lines = present(refs, 3);
    a.all = present(refs, 4);
    a.with = ref_arg(refs, 5);
    action_of<ACT_TRIM>(arg(0))(arg(0), a);
}

void entry_create(const int32_t*) { result(action_of<ACT_CREATE>(arg(0))(arg(0))); }
void entry_close(const int32_t*) { result(action_of<ACT_CLOSE>(arg(0))(arg(0))); }
void entry_delete(const int32_t*) { result(action_of<ACT_DELETE>(arg(0))(arg(0))); }
void entry_modify(const int32_t* refs) {
    result(action_of<ACT_MODIFY>(arg(0))(arg(0), arg(1), arg(2), present(refs, 0)));
}
void entry_open(const int32_t* refs) {
    OpenArgs a;
    a.create_new = present(refs, 0);
    a.read = present(refs, 1);
    a.write = present(refs, 2);
    a.seek = present(refs, 3);
    a.allow = ref_arg(refs, 4);
    result(action_of<ACT_OPEN>(arg(0))(arg(0), a));
}
void entry_open_q(const int32_t*) { result(action_of<ACT_OPEN_Q>(arg(0))(arg(0))); }
void entry_query(const int32_t*) { result(action_of<ACT_QUERY>(arg(0))(arg(0))); }
void entry_read(const int32_t* refs) {
    IoArgs a;
    a.part = ref_arg(refs, 0);
    a.seek = ref_arg(refs, 1);
    a.binary = present(refs, 2);
    a.lines = present(refs, 3);
    a.info = present(refs, 4);
    a.as = ref_arg(refs, 5);
    result(action_of<ACT_READ>(arg(0))(arg(0), a));
}
void entry_rename(const int32_t*) { result(action_of<ACT_RENAME>(arg(0))(arg(0), arg(1))); }
void entry_update(const int32_t*) { result(action_of<ACT_UPDATE>(arg(0))(arg(0))); }
void entry_write(const int32_t* refs) {
    IoArgs a;
    a.binary = present(refs, 0);
    a.lines = present(refs, 1);
    a.info = present(refs, 2);
    a.append = present(refs, 3);
    a.part = ref_arg(refs, 4);
    a.seek = ref_arg(refs, 5);
    a.allow = ref_arg(refs, 6);
    a.as = ref_arg(refs, 7);
    result(action_of<ACT_WRITE>(arg(0))(arg(0), arg(1), a));
}

}  // namespace

AnyFn actions_get_action(uint32_t type, Action action) {
    AnyFn fn = g_types.action(type, action);
    if (fn) return fn;
    Cell word = first_argument_word(action);
    fire_expect_arg_word(type, &word);
}

ActionFn<ACT_EVAL_PATH> actions_get_path_action(const Cell* value, const Cell* path, const Cell* element, int index) {
    auto fn = g_types.get<ACT_EVAL_PATH>(cell_type(value));
    if (fn) return fn;
    Cell datatype;
    set_datatype(&datatype, cell_type(value));
    if (!path) fire(ERR_SCRIPT_BAD_PATH_TYPE2, element, &datatype);
    GcRoot cut;
    uint32_t count = uint32_t(index + 1) > cell_series(path)->used() ? cell_series(path)->used() : uint32_t(index + 1);
    set_series(cut.get(), cell_type(path), series_copy_range(series_node(path), 0, count));
    fire(ERR_SCRIPT_BAD_PATH_TYPE, path, &datatype, cut.get());
}

int pick_index() {
    const Cell* i = arg(1);
    switch (cell_type(i)) {
        case TYPE_INTEGER: return cell_int(i);
        case TYPE_CHAR: return int(cell_char(i));
        case TYPE_LOGIC: return logic_get(i) ? 1 : 2;
        default: return 0;
    }
}

namespace {

// The entry column of actions.def, turned into each action's entry.
struct ByFirst {};
struct NoEntry {};
template <Action A>
constexpr ActionEntry entry_for(ActionEntry own) {
    return own;
}
template <Action A>
constexpr ActionEntry entry_for(ByFirst) {
    return entry_by_first<A>;
}
template <Action A>
constexpr ActionEntry entry_for(NoEntry) {
    return nullptr;
}

}  // namespace

void register_actions() {
#define ENTRY(name) entry_##name
#define ENTRY_BY_FIRST ByFirst{}
#define NO_ENTRY NoEntry{}
#define ZOL_ACTION(name, word, entry, result, params) g_action_entries[ACT_##name] = entry_for<ACT_##name>(entry);
#include "runtime/actions.def"
#undef ZOL_ACTION
#undef ENTRY
#undef ENTRY_BY_FIRST
#undef NO_ENTRY
}

}  // namespace zol
