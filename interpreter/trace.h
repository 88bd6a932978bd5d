// Tracing hooks: while do/trace is in force, the evaluator, the error raiser, throw and catch report each
// step to a callback function written in the language. With tracing off every hook costs one flag test.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

enum TraceEvent : uint32_t {
    TRACE_INIT = 1,
    TRACE_END = 2,
    TRACE_PROLOG = 4,
    TRACE_EPILOG = 8,
    TRACE_ENTER = 16,
    TRACE_EXIT = 32,
    TRACE_OPEN = 64,
    TRACE_RETURN = 128,
    TRACE_FETCH = 256,
    TRACE_PUSH = 512,
    TRACE_SET = 1024,
    TRACE_CALL = 2048,
    TRACE_ERROR = 4096,
    TRACE_THROW = 8192,
    TRACE_CATCH = 16384,
    TRACE_EXPR = 32768,
};
constexpr uint32_t TRACE_ALL_EVENTS = 0x1FFFF;

// Set while a callback is installed and not itself running; tested before every event.
extern bool g_trace_active;
// Set while a do/trace is in force; functions marked trace copy it into the active flag for their bodies.
extern bool g_trace_enabled;
// Set while the callback runs: nothing it evaluates is traced, functions marked trace included.
extern bool g_trace_callback_running;
// Which datatype callbacks (bits by callback kind: 1 lexer, 2 Parse, 4 sort, 8 on-change*, 16
// on-deep-change*, 32 port) are traced; the others run with tracing off. The user chooses them through
// system/state/callbacks, whose bits field this reads.
uint32_t trace_callback_bits();

void trace_init();  // start-up: no callback installed

// The events the callback asks for: the event words of a block at the head of its body, else every event.
uint32_t trace_mask(const Cell* callback);

// Reports one event to the callback: the series being evaluated (null: none) and a position in it (an index
// of its buffer, or -1), a reference value and the value involved (null: none). The callback runs with
// tracing off; the stacks are restored exactly before it returns, and an error raised by the callback is
// raised on from here.
void trace_event(uint32_t event, const Cell* series, int64_t position, const Cell* ref, const Cell* value);

// Reports an event while an exit is on its way, its code (pending) kept aside by the caller: break,
// continue, return and exit have left their value in the cell at the stack top, which must survive the
// callback's cells.
void trace_event_during_exit(uint32_t pending, uint32_t event, const Cell* series, int64_t position, const Cell* ref,
                             const Cell* value);

inline void trace(uint32_t event, const Cell* series, int64_t position, const Cell* ref, const Cell* value) {
    if (g_trace_active) trace_event(event, series, position, ref, value);
}

// do/trace: installs the callback (and reports init) unless a trace is already in force; returns whether
// this call installed it, in which case trace_stop must follow on every way out.
bool trace_start(const Cell* callback);
// Reports end with the pending unwind code kept aside, then removes the callback.
void trace_stop();

// Switches the active flag for the life of a scope (function bodies marked trace or no-trace, callbacks
// of datatypes) and restores it afterwards.
class TraceScope {
public:
    explicit TraceScope(bool active) : saved_(g_trace_active) { g_trace_active = active; }
    ~TraceScope() { g_trace_active = saved_; }
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    bool saved_;
};

}  // namespace zol
