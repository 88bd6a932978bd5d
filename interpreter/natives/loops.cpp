// Loop natives: while, until, loop, repeat, forever, foreach, forall and remove-each. Each marks a loop
// frame named <body>, which break and continue unwind to, and evaluates its body into that frame's result
// slot, so a loop's result is the last iteration's value.
#include <cmath>

#include "interpreter/dispatch.h"
#include "interpreter/natives/natives.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/series.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/predefined.h"
#include "runtime/values/support.h"

namespace zol::natives {

namespace {

enum class Step { normal, broke, next, passed };

// Evaluates a body inside the loop frame; stops break and continue, lets every other exit pass.
Step run_body(const Cell* body) {
    stack_reset();
    eval_block(body, true);
    if (!unwind_pending()) return Step::normal;
    switch (g_system.pending) {
        case UNWIND_BREAK: g_system.pending = UNWIND_NONE; return Step::broke;
        case UNWIND_CONTINUE: g_system.pending = UNWIND_NONE; return Step::next;
        default: return Step::passed;
    }
}

// Runs a loop's iterations in the loop frame that the native marked. `more` is asked before each
// iteration, `after` after each one that ran to its end or continued (the step says which); either ends
// the loop by answering false, and so does break. False when another exit (return, exit, throw)
// passes through: the native then returns at once and leaves the stacks to it.
template <class More, class After>
bool run_loop(const Cell* body, More more, After after) {
    while (more()) {
        Step step = run_body(body);
        if (step == Step::passed) return false;
        if (step == Step::broke || !after(step)) break;
    }
    return true;
}
template <class More>
bool run_loop(const Cell* body, More more) {
    return run_loop(body, more, [](Step) { return true; });
}

// The `more` of a loop that only break or another exit ends.
constexpr auto always = [] { return true; };

// The number of units from the head of a loop series to its tail (0 at or past the tail).
uint32_t remaining(const Cell* series) { return series_buffer_length(series) - series_clamped_head(series); }

// The value at a position of a series counted from its head (1 = the head), none past the tail.
void pick_into(Cell* target, const Cell* series, uint32_t position) {
    if (type_in(FAMILY_ANY_BLOCK, cell_type(series))) {
        Series* s = cell_series(series);
        uint32_t at = series_index(series) + position - 1;
        if (at < s->used()) {
            *target = s->cells()[at];
            target->header &= ~HDR_NEW_LINE;
        } else {
            set_none(target);
        }
        return;
    }
    GcRoot keep(*series);
    Cell* top = g_args.top;
    const Cell* v = action_of<ACT_PICK>(keep.get())(keep.get(), int(position), nullptr);
    *target = *v;
    g_args.top = top;
}

uint32_t word_count(const Cell* words) { return cell_is(words, TYPE_BLOCK) ? remaining(words) : 1; }

// Sets the loop's words (one word, or a block of them) from the series at its head and moves the head past
// them; false when no value is left.
bool next_words(Cell* series, const Cell* words, uint32_t* taken = nullptr) {
    if (remaining(series) == 0) return false;
    if (cell_is(series, TYPE_MAP)) {
        if (taken) *taken = 0;  // remove-each takes no map
        return map_foreach_set_words(series, words);
    }
    uint32_t n = word_count(words);
    if (n == 0) fire(ERR_SCRIPT_INVALID_ARG, words);  // the body emptied the words: no step would advance
    for (uint32_t i = 0; i < n; i++) {
        // Read again each time: picking a value can allocate.
        Cell word = cell_is(words, TYPE_BLOCK) ? cell_series(words)->cells()[series_index(words) + i] : *words;
        Cell value;
        pick_into(&value, series, i + 1);
        word_set_value(&word, &value);
    }
    series->w1 += n;
    if (taken) *taken = n;
    return true;
}

void check_words(const Cell* words) {
    if (!cell_is(words, TYPE_BLOCK)) return;
    Series* s = cell_series(words);
    for (uint32_t i = series_index(words); i < s->used(); i++) {
        if (!type_in(FAMILY_ANY_WORD, cell_type(s->cells() + i))) fire(ERR_SCRIPT_INVALID_ARG, s->cells() + i);
    }
}

}  // namespace

int64_t loop_count(const Cell* value) {
    if (cell_is(value, TYPE_INTEGER)) return cell_int(value);
    double d = cell_float(value);
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ERR_SCRIPT_OUT_OF_RANGE, value);
    return int64_t(std::trunc(d));
}

uint32_t native_while(const int32_t*) {
    GcRoot condition(*arg(0)), body(*arg(1));
    stack_mark_loop(&g_word[W_BODY]);
    auto holds = [&] {
        stack_reset();
        eval_block(condition.get(), true);
        if (!unwind_pending()) return logic_true();
        if (g_system.pending == UNWIND_BREAK || g_system.pending == UNWIND_CONTINUE) {
            g_system.pending = UNWIND_NONE;
            fire(ERR_THROW_WHILE_COND);
        }
        return false;
    };
    // Another exit leaving the condition is still pending: it passes too.
    if (!run_loop(body.get(), holds) || unwind_pending()) return 0;
    stack_reset();
    unset_set_result();
    unwind_frame_return();
    return 0;
}

uint32_t native_until(const int32_t*) {
    GcRoot body(*arg(0));
    stack_mark_loop(&g_word[W_BODY]);
    // continue skips the test of the body's value.
    if (!run_loop(body.get(), always, [](Step step) { return step == Step::next || !logic_true(); })) return 0;
    unwind_frame_return();
    return 0;
}

uint32_t native_loop(const int32_t*) {
    int64_t count = loop_count(arg(0));
    if (count < 1) {
        result_none();
        return 0;
    }
    GcRoot body(*arg(1));
    stack_mark_loop(&g_word[W_BODY]);
    int64_t done = 0;
    if (!run_loop(body.get(), [&] { return done++ < count; })) return 0;
    unwind_frame_return();
    return 0;
}

uint32_t native_repeat(const int32_t*) {
    int64_t count = loop_count(arg(1));
    if (count < 1) {
        result_none();
        return 0;
    }
    GcRoot word(*arg(0)), body(*arg(2));
    stack_mark_loop(&g_word[W_BODY]);
    int64_t i = 0;
    auto next_count = [&] {
        if (i >= count) return false;
        Cell counter;
        set_integer(&counter, int32_t(++i));
        word_set_value(word.get(), &counter);
        return true;
    };
    if (!run_loop(body.get(), next_count)) return 0;
    unwind_frame_return();
    return 0;
}

uint32_t native_forever(const int32_t*) {
    GcRoot body(*arg(0));
    stack_mark_loop(&g_word[W_BODY]);
    if (!run_loop(body.get(), always)) return 0;
    unwind_frame_return();
    return 0;
}

uint32_t native_foreach(const int32_t*) {
    const Cell* words_in = arg(0);
    if (cell_is(words_in, TYPE_BLOCK) && word_count(words_in) == 0) fire(ERR_SCRIPT_INVALID_ARG, words_in);
    if (!cell_is(words_in, TYPE_BLOCK) && cell_is(arg(1), TYPE_MAP)) fire(ERR_SCRIPT_INVALID_ARG, arg(1));
    check_words(words_in);
    GcRoot body(*arg(2));
    Cell* series = stack_push(arg(1));
    Cell* words = stack_push(arg(0));
    stack_mark_loop(&g_word[W_BODY]);
    unset_set_result();
    stack_keep_result();
    if (!run_loop(body.get(), [&] { return next_words(series, words); })) return 0;
    unwind_frame_return();
    return 0;
}

uint32_t native_forall(const int32_t*) {
    Cell word = *arg(0);
    const Cell* value = word_value_cell(&word);
    if (cell_is(value, TYPE_UNSET)) fire(ERR_SCRIPT_NO_VALUE, &word);
    if (!type_in(FAMILY_SERIES, cell_type(value))) fire_expect_arg_word(cell_type(value), &word);
    GcRoot body(*arg(1));
    Cell* saved = stack_push(value);
    Cell* loop_word = stack_push(&word);
    stack_mark_loop(&g_word[W_BODY]);
    unset_set_result();
    stack_keep_result();
    auto advance = [&](Step) {
        Cell* current = word_value_cell(loop_word);
        if (!type_in(FAMILY_SERIES, cell_type(current)) || series_node(current) != series_node(saved)) {
            fire(ERR_SCRIPT_BAD_LOOP_SERIES, current);
        }
        current->w1++;
        return true;
    };
    if (!run_loop(body.get(), [&] { return remaining(word_value_cell(loop_word)) > 0; }, advance)) return 0;
    // The word goes back to the series at the position it had before the loop, after a break too.
    word_set_value(loop_word, saved);
    unwind_frame_return();
    return 0;
}

uint32_t native_remove_each(const int32_t*) {
    const Cell* words_in = arg(0);
    check_words(words_in);
    GcRoot body(*arg(2));
    uint32_t n = word_count(words_in);  // then the count of values each iteration took
    Cell* series = stack_push(arg(1));
    GcRoot data(*arg(1));
    Cell* words = stack_push(arg(0));
    stack_mark_loop(&g_word[W_BODY]);
    // The body said yes: remove this iteration's values.
    auto remove_if_true = [&](Step step) {
        if (step == Step::next || !cell_true(g_args.base)) return true;
        series->w1 -= n;
        Cell part;
        set_integer(&part, int32_t(n));
        GcRoot target(*series);
        Cell* top = g_args.top;
        action_of<ACT_REMOVE>(target.get())(target.get(), n > 1 ? &part : nullptr, nullptr);
        g_args.top = top;
        return true;
    };
    if (n > 0 && !run_loop(body.get(), [&] { return next_words(series, words, &n); }, remove_if_true)) return 0;
    stack_set_only_result(data.get());
    unwind_frame_return();
    return 0;
}

}  // namespace zol::natives
