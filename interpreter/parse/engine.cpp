// The Parse engine's loop: the rule stack instead of machine recursion, the steps between rule values
// (next, apply, settle, backtrack, entering and leaving blocks, pushing and ending rules), the rule
// keywords, repetitions and searches, and the events sent to a trace callback.
//
// The loop never keeps a pointer into the rules, the input or the work stacks across anything that may
// allocate or run code: it keeps indexes and reads the buffers again, and after every paren (or callback)
// it clamps what it holds to what the code left, so rules and input may be changed by the actions they run.
#include "interpreter/parse/engine.h"

#include <vector>

#include "interpreter/eval.h"
#include "interpreter/parse/parse.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"

namespace zol {

namespace parse {

uint32_t g_series_stack = 0;
uint32_t g_rule_stack = 0;

namespace {

// Keywords by symbol id, grown as symbols are made, and a word naming each keyword.
std::vector<uint8_t> g_keywords;
Cell g_keyword_words[KW_COUNT];

void set_marker(Cell* c, uint32_t a, uint32_t b, uint32_t d) {
    c->header = TYPE_TRIPLE;
    c->w1 = a;
    c->w2 = b;
    c->w3 = d;
}

Kind entry_kind(const Cell* entry) { return Kind(pair_x(entry + 2)); }

// The datatypes that are more than a literal value when they stand in the rules.
constexpr TypeFamily RULE_TYPES = uint64_t(1) << TYPE_PAREN | uint64_t(1) << TYPE_SET_WORD |
                                  uint64_t(1) << TYPE_GET_WORD | uint64_t(1) << TYPE_INTEGER |
                                  uint64_t(1) << TYPE_DATATYPE | uint64_t(1) << TYPE_TYPESET | uint64_t(1) << TYPE_PATH;

}  // namespace

namespace {

// Extends the table over every symbol made so far, so a word is told apart by one read of the table.
void cover_symbols() {
    uint32_t count = symbol_count();
    for (uint32_t s = uint32_t(g_keywords.size()); s <= count; s++) {
        uint32_t canonical = symbol_resolve(s);
        g_keywords.push_back(canonical < s ? g_keywords[canonical] : uint8_t(KW_NOT_KEYWORD));
    }
}

}  // namespace

Keyword keyword_of(const Cell* value) {
    if (!cell_is(value, TYPE_WORD)) return KW_NOT_KEYWORD;
    uint32_t s = word_symbol(value);
    if (s >= g_keywords.size()) cover_symbols();
    return Keyword(g_keywords[s]);
}

const Cell* keyword_word(Keyword k) { return &g_keyword_words[k]; }

// --- set-up and tear-down

Engine::Engine(const Cell* input, const Cell* rules, bool case_sensitive, uint32_t limit, const Cell* callback)
    : limit_(limit), case_sensitive_(case_sensitive), events_(callback != nullptr) {
    series_base_ = node_series(g_series_stack)->cell_count();
    rule_base_ = node_series(g_rule_stack)->cell_count();
    if (series_base_ + 1 >= STACK_LIMIT) fire(ERR_SCRIPT_PARSE_STACK);
    *rules_ = *rules;
    if (callback) *callback_ = *callback;
    input_ = *input;
    pos_ = series_clamped_head(input);
    scratch_ = stack_push_cell();
    *series_alloc_tail(g_series_stack) = input_;
}

Engine::~Engine() {
    // Normal end, error or exit alike: the stacks go back to what this parse found.
    Series* r = node_series(g_rule_stack);
    if (r->cell_count() > rule_base_) r->tail = r->head + rule_base_ * sizeof(Cell);
    Series* s = node_series(g_series_stack);
    if (s->cell_count() > series_base_) s->tail = s->head + series_base_ * sizeof(Cell);
}

void Engine::run(Cell* out) {
    try {
        Step step = enter_block(*rules_);
        for (;;) {
            switch (step) {
                case Step::next: step = next(Step::apply); break;
                case Step::next_argument: step = next(Step::argument); break;
                case Step::apply: step = apply(); break;
                case Step::argument: step = argument(); break;
                case Step::settle: step = settle(); break;
                case Step::backtrack: step = backtrack(); break;
                case Step::end_rule: step = end_rule(); break;
                case Step::leave_block: step = leave_block(); break;
                case Step::done: end_parse(out); goto finished;
            }
        }
    } catch (const Stopped&) {
        set_logic(out, match_);
    }
finished:
    g_args.top = scratch_;
}

// --- the input

uint32_t Engine::input_tail() const { return node_series(series_node(&input_))->used(); }

uint32_t Engine::end_index() const {
    uint32_t tail = input_tail();
    return limit_ && depth_ == 0 && limit_ < tail ? limit_ : tail;
}

uint32_t Engine::remaining() const {
    uint32_t tail = input_tail();
    return pos_ < tail ? tail - pos_ : 0;
}

void Engine::clamp_position() {
    uint32_t tail = input_tail();
    if (pos_ > tail) pos_ = tail;
}

Cell Engine::input_at(uint32_t position) const {
    Cell c = input_;
    c.w1 = position;
    return c;
}

bool Engine::is_mark(const Cell* value, Cell* mark) const {
    if (!cell_is(value, TYPE_WORD) && !cell_is(value, TYPE_GET_WORD)) return false;
    const Cell* slot = word_slot(value);
    if (!slot || cell_type(slot) != cell_type(&input_) || series_node(slot) != series_node(&input_)) return false;
    *mark = *slot;
    return true;
}

// --- the rules

uint32_t Engine::rules_tail() const { return cell_series(rules_.get())->cell_count(); }

const Cell* Engine::rule_at(int64_t index) const {
    Series* s = cell_series(rules_.get());
    return index >= 0 && index < s->cell_count() ? s->cells() + index : nullptr;
}

Cell Engine::rule_copy(int64_t index) const {
    const Cell* c = rule_at(index);
    return c ? *c : g_none_value;
}

bool Engine::is_keyword_at(int64_t index, Keyword k) const {
    const Cell* c = rule_at(index);
    return c && keyword_of(c) == k;
}

Cell Engine::word_rule_value(const Cell* word) const {
    const Cell* slot = word_slot(word);
    if (!slot) {
        // A word bound to a function outside its call raises not-in-context; one that is not bound is unset.
        if (!word_context(word) || word_index(word) == WORD_UNRESOLVED) fire(ERR_SCRIPT_PARSE_RULE, word);
        slot = word_value_cell(word);
    }
    if (cell_is(slot, TYPE_UNSET)) fire(ERR_SCRIPT_PARSE_RULE, word);
    return *slot;
}

// --- the rule stack

Cell* Engine::stack_cells() const { return node_series(g_rule_stack)->cells(); }
uint32_t Engine::stack_count() const { return node_series(g_rule_stack)->cell_count(); }
bool Engine::top_is_rule() const { return cell_is(top_entry() + 2, TYPE_PAIR); }

Cell* Engine::push_entry() {
    constexpr uint32_t ENTRY = 3 * sizeof(Cell);
    Series* s = node_series(g_rule_stack);
    if (s->cell_count() + 3 >= STACK_LIMIT) fire(ERR_SCRIPT_PARSE_STACK);
    if (s->tail + ENTRY > s->size) return reinterpret_cast<Cell*>(series_reserve_tail(g_rule_stack, ENTRY));
    Cell* entry = s->cell_tail();
    s->tail += ENTRY;
    return entry;
}

void Engine::pop_entry() { node_series(g_rule_stack)->tail -= 3 * sizeof(Cell); }

bool Engine::loop_below() const {
    const Cell* cells = stack_cells();
    for (uint32_t i = rule_base_; i + 3 <= stack_count(); i += 3) {
        if (!cell_is(cells + i + 2, TYPE_PAIR)) continue;
        Kind kind = entry_kind(cells + i);
        if (kind == K_REPEAT || kind == K_WHILE) return true;
    }
    return false;
}

// --- code in the rules and events

void Engine::eval_paren(const Cell& paren, bool fire_event) {
    GcRoot code(paren);
    Cell* result = g_args.top;
    eval_block(code.get(), false);
    if (unwind_pending()) throw PendingUnwind{};
    *scratch_ = *result;
    g_args.top = result;
    after_code();
    if (fire_event && events_) event(W_PAREN);
}

void Engine::after_code() {
    // A rule block made shorter leaves the position at its tail, where the next step leaves the block.
    int64_t tail = rules_tail();
    if (rule_pos_ > tail) rule_pos_ = tail;
    clamp_position();
}

void Engine::event(uint32_t word) {
    Cell* args = g_args.top;
    stack_push(&g_word[word]);
    set_logic(stack_push_cell(), match_);
    Cell* rules = stack_push(rules_.get());
    int64_t tail = rules_tail();
    rules->w1 = uint32_t(rule_pos_ < 0 ? 0 : rule_pos_ > tail ? tail : rule_pos_);
    Cell input = input_at(pos_);
    stack_push(&input);
    // The callback gets this parse's part of the rule stack as a block of its own: changing it cannot
    // disturb the loop.
    Cell* stack = stack_push_cell();
    uint32_t node = series_copy_range(g_rule_stack, rule_base_, stack_count() - rule_base_);
    set_series(stack, TYPE_BLOCK, node);
    interp_call(callback_.get(), args, 5, &g_word[W_PARSE_CALLBACK], CALLBACK_PARSE);
    if (unwind_pending()) throw PendingUnwind{};
    bool go_on = g_args.top > args + 5 && cell_is(g_args.top - 1, TYPE_LOGIC) && logic_get(g_args.top - 1) == 1;
    g_args.top = args;
    after_code();
    if (!go_on) throw Stopped{};
}

// --- steps

Engine::Step Engine::next(Step then) {
    int64_t tail = rules_tail();
    if (++rule_pos_ > tail) rule_pos_ = tail;
    if (rule_pos_ < tail) {
        if (events_) event(W_FETCH);
        return then;
    }
    // An argument missing at the tail is the argument step's to report.
    if (then == Step::argument) return then;
    return top_is_rule() ? Step::end_rule : Step::leave_block;
}

Engine::Step Engine::apply() { return apply_value(*rule_at(rule_pos_)); }

Engine::Step Engine::apply_value(const Cell& value) {
    Cell v = value;
    // Words, blocks and literals first, by tests the processor predicts well on a grammar's mix of values.
    uint32_t type = cell_type(&v);
    while (type == TYPE_WORD) {
        Keyword k = keyword_of(&v);
        if (k != KW_NOT_KEYWORD && k < KW_PICK) return keyword(k);
        v = word_rule_value(&v);
        type = cell_type(&v);
        if (type_in(FAMILY_ANY_WORD, type)) fire(ERR_SCRIPT_PARSE_RULE, &v);
    }
    if (type == TYPE_BLOCK) return enter_block(v);
    if (!type_in(RULE_TYPES, type)) return match(v);
    switch (type) {
        case TYPE_PAREN:
            eval_paren(v);
            return Step::settle;
        case TYPE_SET_WORD: {
            Cell at = input_at(pos_);
            word_set_value(&v, &at);
            return Step::next;
        }
        case TYPE_GET_WORD: {
            Cell mark;
            if (!is_mark(&v, &mark)) fire(ERR_SCRIPT_PARSE_INVALID_REF, &v);
            pos_ = series_index(&mark);
            clamp_position();
            match_ = true;
            return Step::settle;
        }
        case TYPE_INTEGER: return counts(rule_pos_, cell_int(&v));
        case TYPE_DATATYPE:
        case TYPE_TYPESET: return match_type(v);
        case TYPE_PATH: fire(ERR_SCRIPT_PARSE_RULE, &v);
        default: break;
    }
    return match(v);
}

Engine::Step Engine::argument() {
    Kind kind = entry_kind(top_entry());
    const Cell* at = rule_at(rule_pos_);
    if (!at) {
        switch (kind) {
            case K_TO: fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_TO));
            case K_THRU: fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_THRU));
            case K_NOT: fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_NOT));
            case K_REMOVE: fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_REMOVE));
            case K_WHILE: fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_WHILE));
            case K_COLLECT: fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_COLLECT));
            case K_KEEP:
            case K_KEEP_PAREN: fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_KEEP));
            case K_AHEAD: fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_AHEAD));
            default: match_ = true; return Step::settle;
        }
    }
    Cell v = *at;
    for (;;) {
        switch (cell_type(&v)) {
            case TYPE_BLOCK: return enter_block(v);
            case TYPE_WORD: {
                Keyword k = keyword_of(&v);
                if (k != KW_NOT_KEYWORD && k < KW_PICK) return keyword(k);
                Cell resolved = word_rule_value(&v);
                if (type_in(FAMILY_ANY_WORD, cell_type(&resolved))) {
                    if (kind == K_COLLECT || kind == K_KEEP) fire(ERR_SCRIPT_PARSE_RULE, &resolved);
                    return match(resolved);
                }
                v = resolved;
                continue;
            }
            case TYPE_PAREN:
                if (kind == K_KEEP_PAREN) {
                    eval_paren(v);
                    match_ = true;
                    return Step::settle;
                }
                return apply_value(v);
            case TYPE_INTEGER:
            case TYPE_TYPESET:
            case TYPE_DATATYPE:
            case TYPE_SET_WORD:
            case TYPE_GET_WORD:
            case TYPE_PATH: return apply_value(v);
            default:
                if (kind == K_REPEAT || kind == K_WHILE) return single_pass(v);
                if (kind == K_TO || kind == K_THRU) return single_search(v);
                return match(v);
        }
    }
}

Engine::Step Engine::settle() {
    if (top_is_rule()) return Step::end_rule;
    if (pop_) return Step::leave_block;
    return match_ ? Step::next : Step::backtrack;
}

Engine::Step Engine::backtrack() {
    Cell* entry = top_entry();
    pos_ = entry[1].w2;
    clamp_position();
    int64_t tail = rules_tail();
    for (int64_t i = rule_pos_ < 0 ? 0 : rule_pos_; i < tail; i++) {
        if (keyword_of(rule_at(i)) != KW_BAR) continue;
        if (i + 1 >= tail) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_BAR));
        rule_pos_ = i;
        match_ = true;
        return Step::next;
    }
    rule_pos_ = tail;
    return Step::leave_block;
}

Engine::Step Engine::enter_block(const Cell& block) {
    Cell enclosing = *rules_;
    Cell* entry = push_entry();
    set_none(entry);
    set_marker(entry + 1, uint32_t(rule_pos_), pos_, remaining());
    entry[2] = enclosing;
    *rules_ = block;
    rule_pos_ = int64_t(series_index(&block)) - 1;
    match_ = true;
    if (events_) event(W_PUSH);
    return Step::next;
}

Engine::Step Engine::leave_block() {
    if (events_) event(W_POP);
    ran_to_tail_ = rule_pos_ >= rules_tail();
    Cell* entry = top_entry();
    if (!match_) {
        pos_ = entry[1].w2;  // a block that fails takes no input
        clamp_position();
    }
    if (stack_count() - 3 == rule_base_) return Step::done;
    *rules_ = entry[2];
    rule_pos_ = int32_t(entry[1].w1);
    pop_entry();
    return Step::settle;
}

Engine::Step Engine::push_rule(Kind kind, int32_t min, int32_t max, int32_t flag, int64_t argument_at,
                               const Cell* first) {
    Cell word = first ? *first : g_none_value;
    Cell* entry = push_entry();
    if (first) {
        entry[0] = word;
    } else {
        set_marker(entry, uint32_t(min), uint32_t(max), 1);
    }
    set_marker(entry + 1, uint32_t(argument_at - 1), pos_, remaining());
    entry[2] = Cell{TYPE_PAIR, 0, uint32_t(kind), uint32_t(flag)};
    rule_pos_ = argument_at;
    if (events_) event(W_PUSH);
    return Step::argument;
}

Engine::Step Engine::end_rule() {
    Cell* entry = top_entry();
    Kind kind = entry_kind(entry);
    switch (kind) {
        case K_REPEAT:
        case K_WHILE: return end_repetition(entry, kind);
        case K_TO:
        case K_THRU: return end_search(entry, kind);
        case K_INTO: return end_into(entry);
        case K_NOT:
            match_ = !match_;
            pos_ = entry[1].w2;  // not never takes input
            clamp_position();
            break;
        case K_AHEAD:
            pos_ = entry[1].w2;
            clamp_position();
            break;
        case K_CASE: case_sensitive_ = entry[0].w2 != 0; break;
        case K_COPY:
        case K_SET: end_copy_set(entry, kind); break;
        case K_REMOVE: end_remove(entry); break;
        case K_COLLECT: end_collect(entry); break;
        case K_KEEP:
        case K_KEEP_PAREN: end_keep(entry, kind); break;
        case K_CHANGE:
        case K_CHANGE_ONLY: end_change(entry, kind); break;
    }
    return finish_rule(kind);
}

Engine::Step Engine::finish_rule(Kind kind) {
    if (events_) event(W_POP);
    Cell first = top_entry()[0];
    pop_entry();
    // keep takes the value of a copy that ended directly inside it.
    if (stack_count() - rule_base_ >= 3 && top_is_rule() && entry_kind(top_entry()) == K_KEEP) {
        if (kind == K_COPY) {
            top_entry()[0] = first;
        } else {
            set_marker(top_entry(), 0, 0, 1);
        }
    }
    return Step::settle;
}

Engine::Step Engine::end_repetition(Cell* entry, Kind kind) {
    int32_t min = int32_t(entry[0].w1), max = int32_t(entry[0].w2);
    uint32_t counter = entry[0].w3;
    uint32_t start = entry[1].w2;
    bool more = match_ && !(max >= 0 && counter >= uint32_t(max));
    // An iteration that took nothing ends the loop, unless it made the input shorter (while has no such test).
    if (more && kind == K_REPEAT && pos_ == start && remaining() >= entry[1].w3) more = false;
    if (break_) {
        more = false;
        break_ = pop_ = false;
    }
    if (more) {
        entry[0].w3 = counter + 1;
        entry[1].w2 = pos_;
        entry[1].w3 = remaining();
        rule_pos_ = int32_t(entry[1].w1);
        if (events_) event(W_ITERATE);
        return Step::next_argument;
    }
    if (match_) {
        match_ = counter >= uint32_t(min);
    } else {
        // The failed iteration is not counted; the input goes back to where it began.
        match_ = min == 0 || counter - 1 >= uint32_t(min);
        pos_ = start;
        clamp_position();
    }
    return finish_rule(kind);
}

Engine::Step Engine::end_search(Cell* entry, Kind kind) {
    if (match_) {
        if (kind == K_TO) pos_ = entry[1].w2;
        return finish_rule(kind);
    }
    // The argument failed here: try it one unit further on, up to and including the tail.
    uint32_t tried = entry[1].w2;
    if (tried >= input_tail() || tried + 1 > end_index()) {
        pos_ = entry[0].w1;
        clamp_position();
        return finish_rule(kind);
    }
    pos_ = tried + 1;
    entry[1].w2 = pos_;
    entry[1].w3 = remaining();
    rule_pos_ = int32_t(entry[1].w1);
    match_ = true;
    if (events_) {
        event(W_POP);
        event(W_ITERATE);
    }
    return Step::next_argument;
}

Engine::Step Engine::counts(int64_t at, int32_t n) {
    Cell count;
    set_integer(&count, n);
    if (n < 0) fire(ERR_SCRIPT_OUT_OF_RANGE, &count);
    const Cell* after = rule_at(at + 1);
    if (!after) fire(ERR_SCRIPT_PARSE_RULE, &count);
    int32_t max = n;
    int64_t rule = at + 1;
    Cell bound = *after;
    if (cell_is(&bound, TYPE_WORD) && keyword_of(&bound) == KW_NOT_KEYWORD) {
        const Cell* slot = word_slot(&bound);
        if (slot) bound = *slot;
    }
    if (cell_is(&bound, TYPE_INTEGER)) {
        if (!rule_at(at + 2) || cell_int(&bound) < n) fire(ERR_SCRIPT_PARSE_RULE, &count);
        max = cell_int(&bound);
        rule = at + 2;
    }
    if (n == 0 && max == 0) {
        rule_pos_ = rule;  // passed over, not run
        return Step::settle;
    }
    return push_rule(K_REPEAT, n, max, 0, rule);
}

Engine::Step Engine::match(const Cell& rule) {
    int64_t n = match_literal(&input_, pos_, end_index(), &rule, case_sensitive_);
    match_ = n >= 0;
    if (match_) pos_ += uint32_t(n);
    fire_match();
    return Step::settle;
}

Engine::Step Engine::match_type(const Cell& rule) {
    int64_t n = match_datatype(&input_, pos_, end_index(), &rule);
    match_ = n >= 0;
    if (match_) pos_ += uint32_t(n);
    fire_match();
    return Step::settle;
}

void Engine::count_literal(const Cell& rule, int32_t min, int32_t max) {
    uint32_t end = end_index();
    uint32_t left = pos_ < end ? end - pos_ : 0;
    if (left == 0 || left < uint32_t(min)) {
        match_ = min == 0;
        return;
    }
    Repeated r = repeat_literal(&input_, pos_, end, &rule, case_sensitive_, max);
    match_ = r.always || (r.count >= uint32_t(min) && (max < 0 || r.count <= uint32_t(max)));
    if (match_) pos_ = r.pos;
}

Engine::Step Engine::single_pass(const Cell& rule) {
    Cell* entry = top_entry();
    count_literal(rule, int32_t(entry[0].w1), int32_t(entry[0].w2));
    fire_match();
    return finish_rule(entry_kind(top_entry()));
}

bool Engine::literal_argument(int64_t at, Cell* literal) const {
    const Cell* v = rule_at(at);
    if (!v) return false;
    uint32_t type = cell_type(v);
    if (type == TYPE_WORD) {
        if (keyword_of(v) != KW_NOT_KEYWORD) return false;
        v = word_slot(v);
        if (!v) return false;
        type = cell_type(v);
        if (type_in(FAMILY_ANY_WORD, type)) return false;
    } else if (type_in(FAMILY_ANY_WORD, type) && type != TYPE_LIT_WORD) {
        return false;
    }
    switch (type) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_INTEGER:
        case TYPE_TYPESET:
        case TYPE_DATATYPE:
        case TYPE_PATH:
        case TYPE_UNSET: return false;
        default: *literal = *v; return true;
    }
}

Engine::Step Engine::single_search(const Cell& rule) {
    Kind kind = entry_kind(top_entry());
    uint32_t at, length;
    if (search_literal(&input_, pos_, end_index(), &rule, case_sensitive_, &at, &length)) {
        pos_ = kind == K_THRU ? at + length : at;
        match_ = true;
    } else {
        match_ = limit_ && depth_ == 0 && pos_ > limit_;
    }
    fire_match();
    return finish_rule(kind);
}

Engine::Step Engine::into() {
    if (!type_in(FAMILY_ANY_BLOCK, cell_type(&input_))) {
        Cell input = input_at(pos_);
        fire(ERR_SCRIPT_PARSE_BLOCK, &input);
    }
    int64_t at = rule_pos_ + 1;
    Cell block = rule_copy(at);
    if (cell_is(&block, TYPE_WORD) && keyword_of(&block) == KW_NOT_KEYWORD) block = word_rule_value(&block);
    if (!cell_is(&block, TYPE_BLOCK)) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_INTO));
    Cell inner = g_none_value;
    if (!at_end()) inner = cell_series(&input_)->cells()[pos_];
    uint32_t type = cell_type(&inner);
    if (!type_in(FAMILY_SERIES, type) || type == TYPE_IMAGE || type == TYPE_VECTOR) {
        match_ = false;
        rule_pos_ = at;
        fire_match();
        return Step::settle;
    }
    if (node_series(g_series_stack)->cell_count() + 1 >= STACK_LIMIT) fire(ERR_SCRIPT_PARSE_STACK);
    // The outer input resumes from the position recorded in its cell.
    Series* s = node_series(g_series_stack);
    s->cells()[s->cell_count() - 1].w1 = pos_;
    inner.header &= ~HDR_NEW_LINE;
    *series_alloc_tail(g_series_stack) = inner;
    input_ = inner;
    pos_ = series_clamped_head(&inner);
    depth_++;
    return push_rule(K_INTO, 0, -1, 0, at);
}

Engine::Step Engine::end_into(Cell*) {
    bool whole = match_ && at_end() && ran_to_tail_;
    Series* s = node_series(g_series_stack);
    s->tail -= sizeof(Cell);
    input_ = s->cells()[s->cell_count() - 1];
    depth_--;
    pos_ = series_index(&input_);
    clamp_position();
    match_ = whole;
    if (match_ && pos_ < input_tail()) pos_++;
    return finish_rule(K_INTO);
}

void Engine::end_parse(Cell* out) {
    if (match_ && (rule_pos_ < rules_tail() || pos_ < end_index())) match_ = false;
    if (events_) event(W_END);
    if (result_block_) {
        *out = scratch_[1];
    } else {
        set_logic(out, match_);
    }
}

Engine::Step Engine::keyword(Keyword k) {
    int64_t at = rule_pos_ + 1;
    switch (k) {
        case KW_BAR:
            if (at >= rules_tail()) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_BAR));
            rule_pos_ = rules_tail();  // this alternative matched: the block is done
            match_ = true;
            return top_is_rule() ? Step::end_rule : Step::leave_block;
        case KW_SKIP:
            match_ = !at_end();
            if (match_) pos_++;
            fire_match();
            return Step::settle;
        case KW_ANY:
        case KW_SOME:
        case KW_OPT:
        case KW_WHILE:
        {
            if (!rule_at(at)) fire(ERR_SCRIPT_PARSE_END, keyword_word(k));
            int32_t min = k == KW_SOME ? 1 : 0, max = k == KW_OPT ? 1 : -1;
            // A literal is counted in one pass: without events to report, no rule entry is needed for it.
            Cell literal;
            if (!events_ && literal_argument(at, &literal)) {
                count_literal(literal, min, max);
                rule_pos_ = at;
                return Step::settle;
            }
            return push_rule(k == KW_WHILE ? K_WHILE : K_REPEAT, min, max, 0, at);
        }
        case KW_TO:
        case KW_THRU:
            if (is_keyword_at(at, KW_END)) {
                rule_pos_ = at;
                pos_ = end_index();
                match_ = true;
                fire_match();
                return Step::settle;
            }
            // The minimum slot keeps where the search began: a search that fails leaves the input there.
            return push_rule(k == KW_TO ? K_TO : K_THRU, int32_t(pos_), -1, 0, at);
        case KW_REMOVE: return remove_keyword();
        case KW_BREAK:
        case KW_REJECT:
            match_ = k == KW_BREAK;
            // Without a repetition to end, break and reject end only the block they stand in.
            if (loop_below()) break_ = pop_ = true;
            fire_match();
            if (top_is_rule()) return Step::end_rule;
            rule_pos_ = at;  // a block whose last value is break counts as run to its tail
            return Step::leave_block;
        case KW_KEEP: return keep_keyword();
        case KW_FAIL:
            match_ = false;
            fire_match();
            return Step::settle;
        case KW_AHEAD: return push_rule(K_AHEAD, 0, -1, 0, at);
        case KW_INTO: return into();
        case KW_INSERT: return insert_keyword();
        case KW_CHANGE: return change_keyword();
        case KW_END:
            match_ = at_end();
            fire_match();
            return Step::settle;
        case KW_IF: {
            const Cell* code = rule_at(at);
            if (!code || !cell_is(code, TYPE_PAREN)) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_IF));
            rule_pos_ = at;
            eval_paren(*code, false);
            match_ = cell_true(scratch_);
            fire_match();
            return Step::settle;
        }
        case KW_NOT: return push_rule(K_NOT, 0, -1, 0, at);
        case KW_QUOTE:
            if (!rule_at(at)) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_QUOTE));
            rule_pos_ = at;
            return match(rule_copy(at));
        case KW_CASE: {
            const Cell* word = rule_at(at);
            if (!word || !cell_is(word, TYPE_WORD)) fire(ERR_SCRIPT_PARSE_END, keyword_word(KW_CASE));
            bool sensitive = cell_true(word_value_cell(word));
            Step step = push_rule(K_CASE, 0, case_sensitive_ ? 1 : 0, 0, at + 1);
            case_sensitive_ = sensitive;
            return step;
        }
        case KW_SET:
        case KW_COPY: {
            const Cell* word = rule_at(at);
            if (!word || !cell_is(word, TYPE_WORD) || !rule_at(at + 1)) fire(ERR_SCRIPT_PARSE_END, keyword_word(k));
            return push_rule(k == KW_SET ? K_SET : K_COPY, 0, 0, 0, at + 1, word);
        }
        case KW_NONE:
            match_ = true;
            fire_match();
            return Step::settle;
        case KW_COLLECT: return collect_keyword();
        default: fire(ERR_INTERNAL_NOT_DONE);  // contextual words never get here
    }
}

}  // namespace parse

void parse_init() {
    using namespace parse;
    g_series_stack = series_node(block_make_root_in(8));
    g_rule_stack = series_node(block_make_root_in(100));

    const std::pair<uint32_t, Keyword> table[] = {
        {g_sym[SYM_BAR], KW_BAR},         {g_sym[SYM_SKIP], KW_SKIP},       {g_sym[SYM_ANY], KW_ANY},
        {g_sym[SYM_SOME], KW_SOME},       {g_sym[SYM_COPY], KW_COPY},       {g_sym[SYM_TO], KW_TO},
        {g_sym[SYM_THRU], KW_THRU},       {g_sym[SYM_REMOVE], KW_REMOVE},   {g_sym[SYM_BREAK], KW_BREAK},
        {g_sym[SYM_OPT], KW_OPT},         {g_sym[SYM_KEEP], KW_KEEP},       {g_sym[SYM_FAIL], KW_FAIL},
        {g_sym[SYM_AHEAD], KW_AHEAD},     {g_sym[SYM_WHILE], KW_WHILE},     {g_sym[SYM_INTO], KW_INTO},
        {g_sym[SYM_INSERT], KW_INSERT},   {word_symbol(&g_word[W_CHANGE]), KW_CHANGE},
        {g_sym[SYM_END], KW_END},         {g_sym[SYM_IF], KW_IF},           {g_sym[SYM_NOT], KW_NOT},
        {g_sym[SYM_QUOTE], KW_QUOTE},     {g_sym[SYM_COLLECT], KW_COLLECT}, {g_sym[SYM_CASE], KW_CASE},
        {g_sym[SYM_REJECT], KW_REJECT},   {g_sym[SYM_SET], KW_SET},         {g_sym[SYM_NONE], KW_NONE},
        {g_sym[SYM_PICK], KW_PICK},       {g_sym[SYM_ONLY], KW_ONLY},       {g_sym[SYM_AFTER], KW_AFTER},
    };
    uint32_t size = 0;
    for (const auto& [symbol, k] : table) {
        uint32_t canonical = symbol_resolve(symbol);
        if (canonical + 1 > size) size = canonical + 1;
        g_keyword_words[k] = word_make_global(symbol);
        gc_register_root(&g_keyword_words[k]);
    }
    // A spelling in another letter case answers through its canonical symbol, which is always made first.
    g_keywords.assign(size, KW_NOT_KEYWORD);
    for (const auto& [symbol, k] : table) g_keywords[symbol_resolve(symbol)] = k;
    for (uint32_t s = 1; s < size; s++) {
        uint32_t canonical = symbol_resolve(s);
        if (canonical != s) g_keywords[s] = g_keywords[canonical];
    }
}

void parse_rules(Cell* out, const Cell* input, const Cell* rules, bool case_sensitive, uint32_t limit,
                 const Cell* callback) {
    parse::Engine engine(input, rules, case_sensitive, limit, callback);
    engine.run(out);
}

}  // namespace zol
