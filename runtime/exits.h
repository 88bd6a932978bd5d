// Non-local exits and error raising.
//
// Errors travel as a C++ exception (ErrorUnwind) after error_throw has unwound the call frames to the
// nearest try frame and pushed the error value; the try site catches it and finds the error as the
// newest cell of the argument stack.
//
// break, continue, return, exit and throw never throw a C++ exception: their unwinder pops the call
// frames down to the target frame, puts the result in place and stores the exit's code in the pending
// unwind code. Every C++ caller on the way tests the code after a call that may set it and returns at
// once when it is set, without touching the stacks; the catcher whose level covers the code handles it
// and clears it. Code that calls back into the language from deep inside C++ (sort comparators, change
// handlers) turns a pending code into PendingUnwind with throw_if_pending, and the call boundary of the
// action or native catches it and returns with the code still pending.
#pragma once
#include <cstdint>

#include "cell.h"
#include "errors.h"
#include "system.h"

namespace zol {

// Unwind codes, compared unsigned against what a catching site stops.
enum UnwindCode : uint32_t {
    UNWIND_NONE = 0,
    UNWIND_THROW = 0x7FFFFFFA,
    UNWIND_EXIT = 0x7FFFFFFB,
    UNWIND_RETURN = 0x7FFFFFFC,
    UNWIND_CONTINUE = 0x7FFFFFFD,
    UNWIND_BREAK = 0x7FFFFFFE,
    UNWIND_ERROR = 0x7FFFFFFF,
};

struct ErrorUnwind {};
struct PendingUnwind {};

inline bool unwind_pending() { return g_system.pending != UNWIND_NONE; }
inline void throw_if_pending() {
    if (g_system.pending != UNWIND_NONE) throw PendingUnwind{};
}

// Called with every error before it is thrown while the interpreter traces (the pending code is
// cleared around the call). Set by the interpreter.
extern void (*g_trace_error_hook)(Cell* error);

// What raising needs of error values, which are made above this layer: the error! datatype fills these in
// at start-up. Until it has, raising an error is a fault of start-up itself and ends the process.
struct ErrorValueHooks {
    // Pushes a new error of the catalog entry (arguments may be null) with its near field set to the code
    // being evaluated, and returns its cell.
    Cell* (*make)(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
    // Records where the error was raised (the innermost call's word, the frame mark), before frames unwind.
    void (*annotate)(Cell* error);
    // Turns the recorded frame mark into the names of the calls, for a try/keep that will catch the error.
    void (*keep_trace)(Cell* error);
    // Writes the report of an error that nothing caught.
    void (*report)(const Cell* error);
};
extern ErrorValueHooks g_error_hooks;

// Builds the error of the catalog entry with up to three arguments and throws it.
[[noreturn]] void fire(ErrorId id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// Raises the error with a datatype! of the type as its first argument and arg2, when given, as its second
// (bad-make-arg, bad-to-arg, invalid-type, type-limit ...).
[[noreturn]] void fire_with_type(ErrorId id, uint32_t type, const Cell* arg2 = nullptr);
// Throws an error value: unwinds the call frames to the nearest try frame, pushes the error and throws
// ErrorUnwind. With no try frame to stop it, the error is printed to stderr and the process ends with
// status 254.
[[noreturn]] void error_throw(const Cell* error);
// Throws an error caught on the way and raised on, keeping where it happened.
[[noreturn]] void error_rethrow(const Cell* error);

// --- callbacks from C libraries
// A C++ exception must never unwind through the frames of a C library (HTTP transfers, window events,
// drawing call back into the language). A callback runs its language work inside callback_guard: an error
// raised there, or an exit left pending, is parked and the guard answers false, so that the callback can
// return normally (telling the library to stop, where it can). Once the library call has returned, the
// caller calls callback_raise_parked, which raises the parked error again, or hands the exit on, on our
// side. While something is parked, further guarded callbacks do not run their body and answer false.
bool callback_guard_run(void (*body)(void*), void* data) noexcept;
template <typename Body>
bool callback_guard(Body&& body) noexcept {
    return callback_guard_run([](void* b) { (*static_cast<Body*>(b))(); }, &body);
}
// Raises what a guarded callback parked, if anything; else returns.
void callback_raise_parked();
bool callback_has_parked();

// break (continue false) or continue: unwinds to the nearest loop frame, whose result slot receives the
// break value (the cell at the current base, with has_value) or unset.
void stack_unwind_break(bool has_value, bool is_continue);
// return (with the value at the current base) or exit: unwinds to the nearest frame marked as the target
// of return. from_top lets the top frame itself be the target.
void stack_unwind_return(bool is_return, bool from_top);
// throw: unwinds to the nearest catch frame and pushes copies of the thrown value (the cell at the
// current base) and its name (the cell after it).
void stack_unwind_throw(uint32_t code);
// A catch frame received the throw: clears the pending code and the saved throw point.
void catch_received();

}  // namespace zol
