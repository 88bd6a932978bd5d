// The Parse keywords that take values out of the input (copy, set, collect, keep) and those that change it
// (remove, insert, change). Changes go through the input datatype's own actions, each in a call frame of its
// own above what the parse keeps on the argument stack, so owners hear of them as of any other change.
//
// The collect stack: above the parse's scratch cell on the argument stack, each open collect has its block
// (a plain collect), its word and then its block (collect set), or its target word alone, as a get-word! for
// collect into and as a refinement! for collect after.
#include "interpreter/dispatch.h"
#include "interpreter/parse/engine.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/memory.h"

namespace zol::parse {

namespace {

// A series other than image! and vector!: what into, collect into and collect after accept.
bool usable_series(uint32_t type) { return type_in(FAMILY_SERIES, type) && type != TYPE_IMAGE && type != TYPE_VECTOR; }

// Whether a collect into or after target of this datatype can take what is kept from this input.
bool target_suits(uint32_t target, uint32_t input) {
    if (target == input || type_in(FAMILY_ANY_BLOCK, target)) return true;
    if (type_in(FAMILY_ANY_STRING, target)) return !type_in(FAMILY_ANY_BLOCK, input);
    return false;
}

// The word of a collect stack entry (a get-word! or refinement! stands for its word!).
Cell entry_word(const Cell* entry) {
    Cell word = *entry;
    cell_set_type(&word, TYPE_WORD);
    return word;
}

}  // namespace

// --- values out of the input

Cell Engine::element_at(uint32_t position) const {
    Cell c;
    if (type_in(FAMILY_ANY_BLOCK, cell_type(&input_))) {
        c = cell_series(&input_)->cells()[position];
        c.header &= ~HDR_NEW_LINE;
    } else if (cell_is(&input_, TYPE_BINARY)) {
        set_integer(&c, cell_series(&input_)->head_ptr()[position]);
    } else {
        set_char(&c, string_char_at(&input_, position));
    }
    return c;
}

Cell Engine::copy_part(uint32_t from, uint32_t to) {
    uint32_t tail = input_tail();
    if (to < from) std::swap(from, to);
    if (to > tail) to = tail;
    if (from > to) from = to;
    if (cell_is(&input_, TYPE_HASH)) {
        // A hash! copies with its table, through its own action.
        GcRoot source(input_at(from)), result;
        Cell part;
        set_integer(&part, int32_t(to - from));
        Cell* saved = g_args.top;
        mark_frame(keyword_word(KW_COPY), KH_CALL);
        action_of<ACT_COPY>(source.get())(source.get(), result.get(), &part, false, nullptr);
        unwind_frame();
        g_args.top = saved;
        return *result;
    }
    Cell c;
    set_series(&c, cell_type(&input_), series_copy_range(series_node(&input_), from, to - from));
    return c;
}

void Engine::end_copy_set(Cell* entry, Kind kind) {
    if (!match_) return;  // a rule that fails leaves the word as it was
    Cell word = entry[0];
    uint32_t from = entry[1].w2;
    GcRoot value;
    if (kind == K_COPY) {
        *value = copy_part(from, pos_);
    } else if (pos_ > from && from < input_tail()) {
        *value = element_at(from);
    }
    word_set_value(&word, value.get());
}

// --- changing the input

Cell Engine::modify(Keyword name, Action action, const Cell& series, const Cell* value, int64_t part, bool only) {
    Cell* saved = g_args.top;
    mark_frame(keyword_word(name), KH_CALL);
    Cell* target = stack_push(&series);
    Cell* item = value ? stack_push(value) : nullptr;
    int count = part > 0x7FFFFFFF ? 0x7FFFFFFF : int(part);
    switch (action) {
        case ACT_REMOVE: {
            Cell* length = stack_push_cell();
            set_integer(length, count);
            action_of<ACT_REMOVE>(target)(target, length, nullptr);
            break;
        }
        case ACT_INSERT: action_of<ACT_INSERT>(target)(target, item, -1, only, 1, false); break;
        case ACT_APPEND: action_of<ACT_APPEND>(target)(target, item, -1, only, 1, true); break;
        case ACT_CHANGE: action_of<ACT_CHANGE>(target)(target, item, count, only, 1); break;
        default: fire(ERR_INTERNAL_NOT_DONE);
    }
    Cell result = *g_args.base;
    unwind_frame();
    g_args.top = saved;
    return result;
}

Cell Engine::operand_at(int64_t index) {
    Cell v = rule_copy(index);
    switch (cell_type(&v)) {
        case TYPE_PATH: fire(ERR_SCRIPT_PARSE_RULE, &v);
        case TYPE_PAREN: eval_paren(v); return *scratch_;
        case TYPE_WORD: {
            Cell value = *word_value_cell(&v);
            if (cell_is(&value, TYPE_UNSET)) fire(ERR_SCRIPT_NO_VALUE, &v);
            return value;
        }
        default: return v;
    }
}

Engine::Step Engine::remove_keyword() {
    int64_t at = rule_pos_ + 1;
    const Cell* v = rule_at(at);
    if (v && cell_is(v, TYPE_PATH)) fire(ERR_SCRIPT_PARSE_RULE, keyword_word(KW_REMOVE));
    Cell mark;
    if (v && is_mark(v, &mark)) {
        // The part between the mark and the current position goes, and the input stands where it began.
        uint32_t m = series_index(&mark), tail = input_tail();
        if (m > tail) m = tail;
        uint32_t from = m < pos_ ? m : pos_, to = m < pos_ ? pos_ : m;
        if (to > from) modify(KW_REMOVE, ACT_REMOVE, input_at(from), nullptr, to - from, false);
        pos_ = from;
        clamp_position();
        rule_pos_ = at;
        return Step::settle;
    }
    return push_rule(K_REMOVE, 0, -1, 0, at);
}

void Engine::end_remove(Cell* entry) {
    if (!match_) return;
    uint32_t from = entry[1].w2;
    if (pos_ > from) modify(KW_REMOVE, ACT_REMOVE, input_at(from), nullptr, pos_ - from, false);
    pos_ = from;
    clamp_position();
}

Engine::Step Engine::insert_keyword() {
    int64_t at = rule_pos_ + 1;
    bool only = is_keyword_at(at, KW_ONLY);
    if (only) at++;
    const Cell* v = rule_at(at);
    if (!v) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_INSERT));
    uint32_t place = pos_;
    Cell mark;
    if (is_mark(v, &mark)) {
        place = series_index(&mark);
        if (!rule_at(++at)) fire(ERR_SCRIPT_PARSE_RULE, keyword_word(KW_INSERT));
    }
    GcRoot value(operand_at(at));
    uint32_t tail = input_tail();
    if (place > tail) place = tail;
    Cell result = modify(KW_INSERT, ACT_INSERT, input_at(place), value.get(), -1, only);
    uint32_t after = series_index(&result);
    // The position moves on with what was inserted at or before it.
    if (place <= pos_ && after > place) pos_ += after - place;
    clamp_position();
    rule_pos_ = at;
    return Step::next;
}

Engine::Step Engine::change_keyword() {
    int64_t at = rule_pos_ + 1;
    bool only = is_keyword_at(at, KW_ONLY);
    if (only) at++;
    const Cell* v = rule_at(at);
    Cell mark;
    if (v && is_mark(v, &mark)) {
        if (!rule_at(at + 1)) fire(ERR_SCRIPT_PARSE_RULE, keyword_word(KW_CHANGE));
        GcRoot value(operand_at(at + 1));
        uint32_t m = series_index(&mark), tail = input_tail();
        if (m > tail) m = tail;
        uint32_t from = m < pos_ ? m : pos_, to = m < pos_ ? pos_ : m;
        Cell result = modify(KW_CHANGE, ACT_CHANGE, input_at(from), value.get(), to - from, only);
        pos_ = series_index(&result);
        clamp_position();
        rule_pos_ = at + 1;
        return Step::settle;
    }
    return push_rule(only ? K_CHANGE_ONLY : K_CHANGE, 0, -1, only, at);
}

void Engine::end_change(Cell* entry, Kind kind) {
    uint32_t from = entry[1].w2;
    if (!rule_at(++rule_pos_)) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_CHANGE));
    if (!match_) return;
    GcRoot value(operand_at(rule_pos_));
    uint32_t tail = input_tail();
    if (from > tail) from = tail;
    uint32_t to = pos_ > from ? pos_ : from;
    Cell result = modify(KW_CHANGE, ACT_CHANGE, input_at(from), value.get(), to - from, kind == K_CHANGE_ONLY);
    pos_ = series_index(&result);
    clamp_position();
}

// --- collect and keep

Engine::Step Engine::collect_keyword() {
    int64_t at = rule_pos_ + 1;
    const Cell* v = rule_at(at);
    if (!v) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_COLLECT));
    Keyword form = keyword_of(v);
    uint32_t saved = 0;
    if (form == KW_SET || form == KW_INTO || form == KW_AFTER) {
        const Cell* w = rule_at(at + 1);
        if (!w || !cell_is(w, TYPE_WORD)) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_COLLECT));
        Cell word = *w;
        if (form == KW_SET) {
            stack_push(&word);
            block_push_new(8);
        } else {
            Cell target = *word_value_cell(&word);
            if (!usable_series(cell_type(&target)) || !target_suits(cell_type(&target), cell_type(&input_))) {
                fire(ERR_SCRIPT_PARSE_INTO_TYPE);
            }
            if (series_node(&target) == series_node(&input_)) fire(ERR_SCRIPT_PARSE_INTO_BAD);
            saved = series_index(&target);
            cell_set_type(&word, form == KW_INTO ? TYPE_GET_WORD : TYPE_REFINEMENT);
            stack_push(&word);
        }
        at += 2;
    } else {
        block_push_new(8);
    }
    collecting_++;
    return push_rule(K_COLLECT, 0, int32_t(saved), 0, at);
}

bool Engine::collect_has_below(const Cell* entry) const { return entry - 1 > scratch_; }

void Engine::end_collect(Cell* entry) {
    collecting_--;
    Cell* top = collect_top();
    if (!cell_is(top, TYPE_BLOCK)) {
        // collect into or after: the target goes back to where it stood.
        Cell word = entry_word(top);
        Cell target = *word_value_cell(&word);
        if (type_in(FAMILY_SERIES, cell_type(&target))) {
            target.w1 = entry[0].w2;
            word_set_value(&word, &target);
        }
        if (collect_has_below(top)) {
            stack_pop(1);
        } else {
            result_block_ = false;
        }
        return;
    }
    if (!collect_has_below(top)) {
        result_block_ = true;
        return;
    }
    Cell* below = top - 1;
    switch (cell_type(below)) {
        case TYPE_WORD: {  // collect set
            Cell word = *below;
            word_set_value(&word, top);
            stack_pop(2);
            result_block_ = false;
            break;
        }
        case TYPE_BLOCK:  // nested in another collect: one value of it
            block_rs_append(below, top);
            stack_pop(1);
            result_block_ = true;
            break;
        default: {  // inside collect into or after: one value at the target's position
            GcRoot block(*top);
            Cell word = entry_word(below);
            GcRoot target(*word_value_cell(&word));
            if (!usable_series(cell_type(target.get()))) fire(ERR_SCRIPT_PARSE_INTO_TYPE);
            Cell result = modify(KW_COLLECT, ACT_INSERT, *target, block.get(), -1, true);
            target->w1 = result.w1;
            word_set_value(&word, target.get());
            stack_pop(1);
            result_block_ = false;
            break;
        }
    }
}

Engine::Step Engine::keep_keyword() {
    if (collecting_ == 0) fire(ERR_SCRIPT_PARSE_KEEP, keyword_word(KW_KEEP));
    int64_t at = rule_pos_ + 1;
    int32_t pick = is_keyword_at(at, KW_PICK) ? 1 : 0;
    at += pick;
    const Cell* v = rule_at(at);
    return push_rule(v && cell_is(v, TYPE_PAREN) ? K_KEEP_PAREN : K_KEEP, 0, -1, pick, at);
}

void Engine::end_keep(Cell* entry, Kind kind) {
    if (!match_) return;  // a rule that fails keeps nothing
    bool pick = pair_y(entry + 2) != 0;
    uint32_t from = entry[1].w2, to = pos_;
    if (kind == K_KEEP_PAREN) {
        GcRoot result(*scratch_);
        if (pick && cell_is(result.get(), TYPE_BLOCK)) {
            for (uint32_t i = series_clamped_head(result.get()); i < cell_series(result.get())->cell_count(); i++) {
                add_to_collection(cell_series(result.get())->cells()[i]);
            }
        } else {
            add_to_collection(*result);
        }
        return;
    }
    uint32_t tail = input_tail();
    if (to > tail) to = tail;
    if (pick) {
        for (uint32_t i = from; i < to && i < input_tail(); i++) add_to_collection(element_at(i));
        return;
    }
    if (cell_is(entry, TYPE_WORD)) {  // the word of a copy that ended directly inside
        Cell word = entry[0];
        add_to_collection(*word_value_cell(&word));
        return;
    }
    if (to <= from) return;
    if (to - from == 1) {
        add_to_collection(element_at(from));
    } else {
        add_to_collection(copy_part(from, to));
    }
}

void Engine::add_to_collection(const Cell& value) {
    GcRoot kept(value);
    Cell* top = collect_top();
    if (cell_is(top, TYPE_BLOCK)) {
        block_rs_append(top, kept.get());
        return;
    }
    // A target: when its datatype is not the input's it must still be a series that can take values.
    Cell word = entry_word(top);
    GcRoot target(*word_value_cell(&word));
    uint32_t type = cell_type(target.get());
    if (type != cell_type(&input_) && !usable_series(type)) fire(ERR_SCRIPT_PARSE_INTO_TYPE);
    bool only = type_in(FAMILY_ANY_BLOCK, type);
    if (cell_is(top, TYPE_GET_WORD)) {
        // collect into: at the target's position, which moves past it so kept values keep their order.
        Cell result = modify(KW_KEEP, ACT_INSERT, *target, kept.get(), -1, only);
        target->w1 = result.w1;
        word_set_value(&word, target.get());
    } else {
        modify(KW_KEEP, ACT_APPEND, *target, kept.get(), -1, only);
    }
}

}  // namespace zol::parse
