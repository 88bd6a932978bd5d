// The argument stack and the call-frame stack.
#include "stack.h"

#include "cycles.h"
#include "exits.h"
#include "gc.h"
#include "memory.h"
#include "platform/platform.h"

namespace zol {

ArgStack g_args;
FrameStack g_frames;
Cell g_current_block;
uint32_t g_sym_body = 0;
uint32_t g_sym_anon = 0;
uint32_t g_sym_not_found = 0;
CallFrame* g_throw_point = nullptr;

namespace {

// Cell index 0 means "no base" in stack contexts, so the area starts one cell into its storage.
Cell g_arg_storage[ARG_STACK_CELLS + 1];
CallFrame g_frame_storage[CALL_FRAMES];

// Room kept below the machine stack's end for raising and reporting the overflow error itself.
constexpr uintptr_t NATIVE_STACK_RESERVE = 512 * 1024;

// The values word of a context record: word 2 of its context! cell.
inline uint32_t& context_values(uint32_t context) { return node_series(context)->cells()[0].w2; }

inline bool is_stack_context(uint32_t context) {
    return (node_series(context)->cells()[0].header & HDR_STACK_CONTEXT) != 0;
}

inline void restore_context(const CallFrame* f) {
    if (f->function_context) context_values(f->function_context) = f->saved_values;
}

// The argument base a frame established when it was pushed: the previous base of the frame above it,
// or the current base when it is the top frame.
inline Cell* own_base(const CallFrame* f) {
    return f + 1 < g_frames.top ? stack_cell(f[1].prev_base) : g_args.base;
}

}  // namespace

uintptr_t g_native_limit = 0;

void stack_overflow(Cell* from) {
    // A full argument stack gives up a few cells so that raising the error has room; the other limits leave
    // the cells of the calls that are running as they are.
    if (from + 5 >= g_args.end) {
        Cell* t = from - 5;
        g_args.top = t < g_args.start ? g_args.start : t;
    }
    cycles_reset();
    fire(ERR_INTERNAL_STACK_OVERFLOW);
}

void stack_init() {
    g_args.start = g_args.base = g_args.top = g_arg_storage + 1;
    g_args.end = g_args.start + ARG_STACK_CELLS;
    g_frames.start = g_frames.top = g_frame_storage;
    g_frames.end = g_frame_storage + CALL_FRAMES;
    g_throw_point = nullptr;
    uintptr_t low = platform::native_stack_low();
    g_native_limit = low ? low + NATIVE_STACK_RESERVE : 0;
}

void stack_mark_func(const Cell* word, uint32_t function_context) {
    mark_frame(word, KH_FUNCTION);
    CallFrame* f = g_frames.top - 1;
    f->function_context = function_context;
    f->saved_values = function_context ? context_values(function_context) : 0;
}

void stack_mark_func_entry(const Cell* word, uint32_t function_context) {
    context_values(function_context) = stack_index(g_args.base);
    mark_frame(word, KH_FUNCTION_ENTRY);
}

void stack_set_return_target(bool on) {
    CallFrame* f = g_frames.top - 1;
    if (on) {
        f->header |= FRAME_RETURN_TARGET;
    } else {
        f->header &= ~FRAME_RETURN_TARGET;
    }
}

void stack_set_interp_flag() { (g_frames.top - 1)->header |= FRAME_INTERP; }

CallFrame* stack_mark_return_target() {
    CallFrame* f = g_frames.top - 2;
    if (f->header & FRAME_RETURN_TARGET) return nullptr;
    f->header |= FRAME_RETURN_TARGET;
    return f;
}

bool stack_has_interp_frame(CallFrame* frame, bool one_frame) {
    CallFrame* f = frame ? frame : g_frames.top;
    while (f > g_frames.start) {
        f--;
        if (f->header & FRAME_INTERP) return true;
        if (one_frame) return false;
    }
    return false;
}

void frame_pop_restore() {
    CallFrame* f = --g_frames.top;
    restore_context(f);
}

void unwind_frame_restore() {
    CallFrame* f = --g_frames.top;
    restore_context(f);
    g_args.top = g_args.base + 1;
    g_args.base = stack_cell(f->prev_base);
}

void unwind_frame_restore_drop() {
    CallFrame* f = --g_frames.top;
    restore_context(f);
    g_args.base = stack_cell(f->prev_base);
    g_args.top = g_args.base;
}

void unwind_frame_drop() {
    CallFrame* f = --g_frames.top;
    g_args.base = stack_cell(f->prev_base);
    g_args.top = g_args.base;
}

void unwind_frame_restore_return() {
    Cell* result = g_args.base;
    unwind_frame_restore();
    *g_args.base = *result;
}

void unwind_frame_safe() {
    CallFrame* f = --g_frames.top;
    if (frame_kind(f) == FRAME_FUNCTION) restore_context(f);
    if (g_frames.top == g_frames.start) {
        g_args.base = g_args.top = g_args.start;
    } else {
        g_args.top = g_args.base;
        g_args.base = stack_cell(f->prev_base);
    }
}

void unwind_to_kind(uint32_t kind, bool keep) {
    CallFrame* t0 = g_frames.top;
    bool popped = false;
    while (g_frames.top > g_frames.start) {
        CallFrame* f = --g_frames.top;
        popped = true;
        restore_context(f);
        uint32_t k = frame_kind(f);
        if (k == kind || k == FRAME_TRY_ALL) break;
    }
    if (keep && popped) g_frames.top++;
    if (g_frames.top == t0) {
        g_args.top = g_args.base + 1;
    } else if (g_frames.top == g_frames.start) {
        g_args.base = g_args.top = g_args.start;
    } else {
        g_args.top = g_args.base + 1;
        // With keep, the frame at the top position is the one just above the stopping frame, so its
        // previous base is the stopping frame's own base; without keep it is the stopping frame itself.
        g_args.base = stack_cell(g_frames.top->prev_base);
    }
    // The stopping frame (the last one popped) stays on the stack for the caller to inspect or pop.
    if (!keep && popped) g_frames.top++;
}

void unwind_to_kind_return(uint32_t kind) {
    Cell result = *g_args.base;
    unwind_to_kind(kind, false);
    CallFrame* found = g_frames.top - 1;
    Cell* slot = stack_cell(found->prev_base);
    *slot = result;
    g_args.base = g_args.top = slot;
}

Cell* try_set_error_result() {
    Cell* last = stack_top();
    if (cell_is(last, TYPE_ERROR)) *g_args.base = *last;
    g_args.top = g_args.base + 1;
    return g_args.top;
}

void stack_mark_roots() {
    gc_mark_cells(g_args.start, g_args.top);
    for (CallFrame* f = g_frames.start; f < g_frames.top; f++) {
        if (f->word_context) gc_mark_context(f->word_context);
        if (f->function_context) {
            gc_mark_context(f->function_context);
            // A stack context saves an argument index, any other context the node of its values.
            if (!is_stack_context(f->function_context) && f->saved_values) gc_mark_block(f->saved_values);
        }
    }
}

}  // namespace zol
