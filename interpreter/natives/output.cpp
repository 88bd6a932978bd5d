// Output and system natives: print, prin, new-line, new-line?, stats and recycle.
#include "interpreter/natives/natives.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "runtime/output.h"
#include "runtime/values/predefined.h"
#include "interpreter/memstats.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"

namespace zol::natives {

uint32_t native_reduce(const int32_t* refs);

namespace {

// A block is reduced first; anything but a string is formed; the text goes to the print hooks.
void print_core(bool newline) {
    GcRoot value(*arg(0));
    if (cell_is(value.get(), TYPE_BLOCK)) {
        stack_reset();
        stack_push(value.get());
        int32_t no_into[1] = {-1};
        stack_mark_call(&g_word[W_BODY]);
        stack_push(value.get());
        native_reduce(no_into);
        if (unwind_pending()) return;
        unwind_frame_return();
        *value = *g_args.base;
    }
    GcRoot text;
    if (cell_is(value.get(), TYPE_STRING)) {
        clamp_head(value.get());
        *text = *value;
    } else {
        string_make(text.get());
        MoldArgs args;
        form_value(value.get(), text.get(), args, 0x7FFFFFFF);
    }
    output_hooks_fire_print(text.get(), newline);
    result_unset();
}

}  // namespace

uint32_t native_print(const int32_t*) {
    print_core(true);
    return 0;
}

uint32_t native_prin(const int32_t*) {
    print_core(false);
    return 0;
}

uint32_t native_new_line(const int32_t* refs) {
    Cell* position = arg(0);
    bool on = logic_get(arg(1));
    Series* s = cell_series(position);
    uint32_t at = series_index(position);
    int64_t size = 0;
    if (present(refs, 0)) size = 1;
    if (Cell* skip = ref_arg(refs, 1)) {
        size = cell_int(skip);
        if (size < 1) fire(ERR_SCRIPT_OUT_OF_RANGE, skip);
    }
    auto mark = [](Cell* c, bool set) {
        if (set) {
            c->header |= HDR_NEW_LINE;
        } else {
            c->header &= ~HDR_NEW_LINE;
        }
    };
    if (size == 0) {
        if (at < s->used()) mark(s->cells() + at, on);
    } else {
        for (uint32_t i = at, n = 0; i < s->used(); i++, n++) mark(s->cells() + i, (n % size == 0) == on);
    }
    stack_keep_result();
    return 0;
}

uint32_t native_new_line_q(const int32_t*) {
    const Cell* position = arg(0);
    Series* s = cell_series(position);
    bool marked = series_index(position) < s->used() && cell_new_line(s->cells() + series_index(position));
    logic_set_result(marked);
    stack_keep_result();
    return 0;
}

namespace {

// stats/collector: how many collections ran and how long they held the program up, in milliseconds.
void collector_stats() {
    const GcStats& gc = gc_stats();
    GcRoot report;
    block_make_at(report.get(), 6);
    const char* names[] = {"collections", "total-pause", "last-pause"};
    double values[] = {double(gc.collections), double(gc.total_pause_ns) / 1e6, double(gc.last_pause_ns) / 1e6};
    for (int i = 0; i < 3; i++) {
        Cell word = word_load(names[i]), value;
        if (i == 0) {
            memory_stats_number(&value, values[i]);
        } else {
            set_float(&value, values[i]);
        }
        *block_alloc_tail(report.get()) = word;
        *block_alloc_tail(report.get()) = value;
    }
    stack_set_only_result(report.get());
}

}  // namespace

uint32_t native_stats(const int32_t* refs) {
    if (present(refs, 2)) {
        collector_stats();
        return 0;
    }
    bool show = present(refs, 0), info = present(refs, 1);
    if (!show && !info) {
        memory_stats_number(g_args.base, memory_stats_measure(nullptr, 1));
        stack_keep_result();
        return 0;
    }
    GcRoot report;
    block_make_at(report.get(), 5);
    memory_stats_measure(report.get(), 2);
    if (!show) {
        stack_set_only_result(report.get());
        return 0;
    }
    // The report is printed by the library's show-memory-stats.
    Cell word = word_load("show-memory-stats");
    GcRoot printer(*word_value_cell(&word));
    if (!type_in(FAMILY_ANY_FUNCTION, cell_type(printer.get()))) fire(ERR_SCRIPT_NO_VALUE, &word);
    interp_call(printer.get(), report.get(), 1, &word, 0);
    if (unwind_pending()) return 0;
    result_unset();
    return 0;
}

uint32_t native_recycle(const int32_t* refs) {
    if (present(refs, 0) || present(refs, 1)) {
        g_gc_enabled = present(refs, 0);
        unset_set_result();
    } else {
        gc_collect();
        memory_stats_number(g_args.base, memory_stats_measure(nullptr, 1));
    }
    stack_keep_result();
    return 0;
}

}  // namespace zol::natives
