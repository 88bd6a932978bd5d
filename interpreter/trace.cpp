// Tracing hooks.
#include "trace.h"

#include "interpreter/eval.h"
#include "runtime/values/system_object.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"

namespace zol {

bool g_trace_active = false;
bool g_trace_enabled = false;
bool g_trace_callback_running = false;

uint32_t trace_callback_bits() { return uint32_t(system_integer(SYS_CALLBACK_BITS, 0)); }

namespace {

Cell g_callback;  // the installed callback, none when there is none
uint32_t g_mask = 0;

struct EventName {
    uint32_t event;
    PredefinedWord word;
};
const EventName EVENT_NAMES[] = {
    {TRACE_INIT, W_INIT},     {TRACE_END, W_END},       {TRACE_PROLOG, W_PROLOG}, {TRACE_EPILOG, W_EPILOG},
    {TRACE_ENTER, W_ENTER},   {TRACE_EXIT, W_EXIT},     {TRACE_OPEN, W_OPEN},     {TRACE_RETURN, W_RETURN},
    {TRACE_FETCH, W_FETCH},   {TRACE_PUSH, W_PUSH},     {TRACE_SET, W_SET},       {TRACE_CALL, W_CALL},
    {TRACE_ERROR, W_ERROR},   {TRACE_THROW, W_THROW},   {TRACE_CATCH, W_CATCH},   {TRACE_EXPR, W_EXPR},
};

const Cell& event_word(uint32_t event) {
    for (const EventName& e : EVENT_NAMES) {
        if (e.event == event) return g_word[e.word];
    }
    return g_none_value;
}

// The events whose reference argument is passed on; the others get none.
constexpr uint32_t EVENTS_WITH_REF = TRACE_SET | TRACE_EPILOG | TRACE_PROLOG | TRACE_RETURN | TRACE_CALL;

void on_error(Cell* error) {
    GcRoot keep(*error);
    trace(TRACE_ERROR, nullptr, -1, nullptr, keep.get());
}

// Calls the callback for one event. With raise_errors clear (the stacks are being unwound already) an
// error of the callback is dropped, since raising it from here would skip the catcher the unwinding
// is bound for.
void report(uint32_t event, const Cell* series, int64_t position, const Cell* ref, const Cell* value, bool raise_errors) {
    if (!(g_mask & event)) return;
    Cell* base = g_args.base;
    Cell* top = g_args.top;
    CallFrame* frames = g_frames.top;
    GcRoot args[6];
    *args[0] = event_word(event);
    int32_t offset = -1;
    if (series) {
        *args[1] = *series;
        if (type_in(FAMILY_SERIES, cell_type(series))) {
            uint32_t head = series_index(series);
            if (position >= head && position <= cell_series(series)->used()) offset = int32_t(position - head);
        }
    }
    set_integer(args[2].get(), offset);
    // An unset value or reference reaches the callback as none, which its untyped arguments accept.
    if (value && !cell_is(value, TYPE_UNSET)) *args[3] = *value;
    if (ref && (event & EVENTS_WITH_REF) && !cell_is(ref, TYPE_UNSET)) *args[4] = *ref;
    // frame: a pair! of the argument base and top as stack indexes (x in word 2, y in word 3).
    Cell* frame = args[5].get();
    frame->header = TYPE_PAIR;
    frame->w1 = 0;
    frame->w2 = stack_index(base);
    frame->w3 = stack_index(top);
    Cell cells[6];
    for (int i = 0; i < 6; i++) cells[i] = *args[i];
    GcRoot callback(g_callback);
    g_trace_active = false;
    bool was_running = g_trace_callback_running;
    g_trace_callback_running = true;
    stack_mark_try_all(&g_word[W_INTERP_CALLBACK]);
    GcRoot error;
    bool failed = false;
    try {
        interp_call(callback.get(), cells, 6, &g_word[W_INTERP_CALLBACK], 0);
    } catch (const ErrorUnwind&) {
        *error = *stack_top();
        failed = true;
    }
    g_args.base = base;
    g_args.top = top;
    g_frames.top = frames;
    g_trace_active = true;
    g_trace_callback_running = was_running;
    if (!failed) return;
    g_system.pending = UNWIND_NONE;
    // Raised after the handler has ended: thrown from inside it, the compiler skips the clean-up of this
    // frame's scope guards on the way out.
    if (raise_errors) error_rethrow(error.get());
}

}  // namespace

void trace_init() {
    gc_register_root(&g_callback);
    set_none(&g_callback);
}

uint32_t trace_mask(const Cell* callback) {
    if (!cell_is(callback, TYPE_FUNCTION)) return TRACE_ALL_EVENTS;
    const Cell* body = function_body(callback);
    if (!cell_is(body, TYPE_BLOCK) || series_index(body) >= cell_series(body)->used()) return TRACE_ALL_EVENTS;
    const Cell* first = cell_series(body)->cells() + series_index(body);
    if (!cell_is(first, TYPE_BLOCK)) return TRACE_ALL_EVENTS;
    uint32_t mask = 0;
    Series* names = cell_series(first);
    for (uint32_t i = series_index(first); i < names->used(); i++) {
        const Cell* name = names->cells() + i;
        if (!cell_is(name, TYPE_WORD)) continue;
        uint32_t sym = symbol_resolve(word_symbol(name));
        for (const EventName& e : EVENT_NAMES) {
            if (symbol_resolve(word_symbol(&g_word[e.word])) == sym) mask |= e.event;
        }
    }
    return mask;
}

void trace_event(uint32_t event, const Cell* series, int64_t position, const Cell* ref, const Cell* value) {
    report(event, series, position, ref, value, true);
}

namespace {

// Calls report with the cell at the stack top kept out of the callback's way when an exit left its value
// there (the unwinder makes the target's result slot the top).
void report_during_exit(uint32_t pending, uint32_t event, const Cell* series, int64_t position, const Cell* ref,
                        const Cell* value, bool raise_errors) {
    bool keep = pending == UNWIND_BREAK || pending == UNWIND_CONTINUE || pending == UNWIND_RETURN || pending == UNWIND_EXIT;
    if (keep && g_args.top + 1 >= g_args.end) keep = false;  // no room: the callback's push overflows anyway
    if (keep) g_args.top++;
    struct Lower {
        bool on;
        ~Lower() {
            if (on) g_args.top--;
        }
    } lower{keep};
    report(event, series, position, ref, value, raise_errors);
}

}  // namespace

void trace_event_during_exit(uint32_t pending, uint32_t event, const Cell* series, int64_t position, const Cell* ref,
                             const Cell* value) {
    report_during_exit(pending, event, series, position, ref, value, true);
}

bool trace_start(const Cell* callback) {
    if (g_trace_enabled) return false;
    g_mask = trace_mask(callback);
    g_callback = *callback;
    g_trace_enabled = g_trace_active = true;
    g_trace_error_hook = on_error;
    try {
        trace_event(TRACE_INIT, nullptr, -1, nullptr, nullptr);
    } catch (...) {
        trace_stop();
        throw;
    }
    return true;
}

void trace_stop() {
    uint32_t saved = g_system.pending;
    g_system.pending = UNWIND_NONE;
    struct Remove {
        ~Remove() {
            set_none(&g_callback);
            g_trace_active = g_trace_enabled = false;
            g_trace_error_hook = nullptr;
        }
    } remove;
    // With a code pending (an error or another exit on its way out) an error of the callback is dropped.
    report_during_exit(saved, TRACE_END, nullptr, -1, nullptr, nullptr, saved == UNWIND_NONE);
    g_system.pending = saved;
}

}  // namespace zol
