// The state of one parse and the steps of its loop. engine.cpp runs the loop and the rule keywords;
// extract.cpp the keywords that take values out of the input or change it.
//
// Work stacks: the series stack holds the input of each `into` level (the outer ones at the position they
// resume from); the rule stack holds three cells per entry:
//   block entry: none | marker (index of the sub-rule in the enclosing block, input position and remaining
//                length when entered) | the enclosing rule block
//   rule entry:  bounds marker (minimum, maximum or -1, iteration counter), or for copy and set the word |
//                positions marker (index of the value before the rule's argument, input position and
//                remaining length at the push or at the current iteration) | pair! (kind, pick/only flag)
// Markers are triple! cells. A parse works above the stack lengths it found and cuts them back on every way
// out, so parses started from parens and callbacks nest on the same stacks.
#pragma once
#include <cstdint>

#include "interpreter/parse/parse_internal.h"
#include "runtime/cell.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"

namespace zol::parse {

// The nodes of the two work stacks, made by parse_init and kept in the root block.
extern uint32_t g_series_stack;
extern uint32_t g_rule_stack;

// Either stack holding this many cells raises parse-stack.
constexpr uint32_t STACK_LIMIT = 10001;

// An event callback answered something other than true: the parse ends with its match state.
struct Stopped {};

class Engine {
public:
    Engine(const Cell* input, const Cell* rules, bool case_sensitive, uint32_t limit, const Cell* callback);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Runs the rules; the result goes to out.
    void run(Cell* out);

private:
    enum class Step { next, next_argument, apply, argument, settle, backtrack, end_rule, leave_block, done };

    // --- the input
    uint32_t input_tail() const;
    uint32_t end_index() const;  // the tail, or the /part limit at the top level when that is nearer
    bool at_end() const { return pos_ >= end_index(); }
    uint32_t remaining() const;
    void clamp_position();
    // The input at the current position (or another), as a series value.
    Cell input_at(uint32_t position) const;
    bool is_mark(const Cell* value, Cell* mark) const;  // a word or get-word whose value is a position in the input

    // --- the rules
    uint32_t rules_tail() const;
    const Cell* rule_at(int64_t index) const;  // null past the tail
    Cell rule_copy(int64_t index) const;       // a copy, none past the tail
    // The value of a word met as a rule: unset raises parse-rule with the word.
    Cell word_rule_value(const Cell* word) const;
    bool is_keyword_at(int64_t index, Keyword k) const;

    // --- the rule stack
    Cell* stack_cells() const;  // the rule stack's first cell (good until it grows)
    uint32_t stack_count() const;
    Cell* top_entry() const { return stack_cells() + stack_count() - 3; }
    bool top_is_rule() const;
    Cell* push_entry();  // three uninitialised cells, after the limit check
    void pop_entry();
    bool loop_below() const;  // a repetition is open in this parse

    // --- steps
    Step next(Step then);
    Step apply();
    Step apply_value(const Cell& value);
    Step argument();
    Step keyword(Keyword k);
    Step settle();
    Step backtrack();
    Step enter_block(const Cell& block);
    Step leave_block();
    Step push_rule(Kind kind, int32_t min, int32_t max, int32_t flag, int64_t argument_at, const Cell* first = nullptr);
    Step end_rule();
    Step end_repetition(Cell* entry, Kind kind);
    Step end_search(Cell* entry, Kind kind);
    Step finish_rule(Kind kind);
    Step counts(int64_t at, int32_t n);
    Step match(const Cell& rule);
    Step match_type(const Cell& rule);
    Step single_pass(const Cell& rule);
    // Counts a literal in one pass under the bounds; sets the match state and moves the input.
    void count_literal(const Cell& rule, int32_t min, int32_t max);
    // The argument at the index is a literal value (itself or a word's value) that a repetition counts in
    // one pass.
    bool literal_argument(int64_t at, Cell* literal) const;
    Step single_search(const Cell& rule);
    Step into();
    Step end_into(Cell* entry);
    void end_parse(Cell* out);

    // --- code in the rules, events
    // Evaluates a paren into the scratch cell and fires paren (unless quiet); the rule position is read again.
    void eval_paren(const Cell& paren, bool fire_event = true);
    void after_code();  // the rules or input may have changed: clamp the positions
    void event(uint32_t word);
    void fire_match() {
        if (events_) event(W_MATCH);
    }

    // --- extract.cpp: copy, set, collect, keep, remove, insert, change
    Step remove_keyword();
    Step insert_keyword();
    Step change_keyword();
    Step collect_keyword();
    Step keep_keyword();
    void end_copy_set(Cell* entry, Kind kind);
    void end_remove(Cell* entry);
    void end_change(Cell* entry, Kind kind);
    void end_collect(Cell* entry);
    void end_keep(Cell* entry, Kind kind);
    // The value to insert or change with, read at a rule index: a paren's result, a word's value, or the
    // value itself.
    Cell operand_at(int64_t index);
    // Calls an action on the input or a collect target inside a frame of its own, above what the parse keeps
    // on the argument stack; returns the series the action answered.
    Cell modify(Keyword name, Action action, const Cell& series, const Cell* value, int64_t part, bool only);
    // An element of the input (an integer! byte, a char! or a value) and a copy of a part of it.
    Cell element_at(uint32_t position) const;
    Cell copy_part(uint32_t from, uint32_t to);
    // keep: adds one value to the innermost collection (its block, or its into or after target).
    void add_to_collection(const Cell& value);
    Cell* collect_top() const { return g_args.top - 1; }
    bool collect_has_below(const Cell* entry) const;

    // The input and where it stands.
    Cell input_;   // the current input (its index is not used: pos_ is)
    uint32_t pos_ = 0;
    uint32_t depth_ = 0;  // into levels below the current input
    uint32_t limit_;      // absolute /part limit at the top level, 0 for none
    // The rules and where they stand.
    mutable GcRoot rules_;
    int64_t rule_pos_ = -1;
    // State.
    bool match_ = true;
    bool case_sensitive_;
    bool break_ = false;  // set by break and reject, consumed by the next repetition that ends
    bool pop_ = false;    // set by break and reject: blocks are left at once up to that repetition
    bool ran_to_tail_ = false;  // the last block left had run to its tail (into needs it)
    bool result_block_ = false;  // the collected block is the result
    uint32_t collecting_ = 0;    // open collect rules
    // Where this parse's part of each stack begins.
    uint32_t series_base_;
    uint32_t rule_base_;
    Cell* scratch_;  // on the argument stack; the collect entries follow it
    // Events.
    bool events_;
    GcRoot callback_;
};

}  // namespace zol::parse
