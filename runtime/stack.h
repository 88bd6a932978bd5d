// The argument stack and the call-frame stack.
//
// Every language-level call passes its arguments, locals and result as cells on the argument stack: the
// callee finds its arguments as consecutive cells from the current base and leaves its result in the base
// cell. Each call also pushes a five-word record on the call-frame stack, which names the call (for error
// messages), marks the targets of break, continue, return, exit and throw, and lets a function's context
// point at the argument cells of its current call. Both stacks have fixed capacities and never move, so a
// Cell* into the argument stack stays valid; frames and stack contexts keep positions as cell indices.
#pragma once
#include <cstdint>

#include "cell.h"

namespace zol {

constexpr uint32_t ARG_STACK_CELLS = 20000;
constexpr uint32_t CALL_FRAMES = 12000;

struct CallFrame {
    uint32_t header;          // kind, flags and the symbol id of the word that names the call
    uint32_t prev_base;       // argument base (cell index) in force when the frame was pushed
    uint32_t word_context;    // context node of the naming word
    uint32_t function_context;  // function frames: node of the called function's context, else 0
    uint32_t saved_values;    // function frames: that context's values word before the call
};
static_assert(sizeof(CallFrame) == 20);

// Frame header layout.
constexpr uint32_t FRAME_SYMBOL_MASK = 0x00FFFFFF;  // symbol ids up to 2^24 keep their name
constexpr uint32_t FRAME_KIND_MASK = 0x0F000000;
constexpr uint32_t FRAME_RETURN_TARGET = 0x10000000;
constexpr uint32_t FRAME_KEEP_TRACE = 0x20000000;  // try/keep: errors it catches record the call names
constexpr uint32_t FRAME_INTERP = 0x80000000;

enum FrameKind : uint32_t {
    FRAME_FUNCTION = 1,
    FRAME_CALL = 2,
    FRAME_TRY = 4,
    FRAME_TRY_ALL = 5,
    FRAME_CATCH = 6,
    FRAME_EVAL = 7,
    FRAME_LOOP = 8,
};

// The kind bytes that the mark operations write (kind in the low nibble, flags above it).
constexpr uint32_t KH_FUNCTION = 0x01000000;
constexpr uint32_t KH_CALL = 0x02000000;
constexpr uint32_t KH_FUNCTION_ENTRY = 0x12000000;
constexpr uint32_t KH_TRY = 0x04000000;
constexpr uint32_t KH_TRY_ALL = 0x05000000;
constexpr uint32_t KH_CATCH = 0x06000000;
constexpr uint32_t KH_LOOP = 0x08000000;
constexpr uint32_t KH_INTERP_FUNCTION = 0x81000000;
constexpr uint32_t KH_INTERP_CALL = 0x82000000;
constexpr uint32_t KH_EVAL = 0x87000000;

inline uint32_t frame_kind(const CallFrame* f) { return (f->header & FRAME_KIND_MASK) >> 24; }
inline uint32_t frame_symbol(const CallFrame* f) { return f->header & FRAME_SYMBOL_MASK; }

struct ArgStack {
    Cell* start;  // first cell handed out
    Cell* end;    // past the last cell
    Cell* top;    // next free cell
    Cell* base;   // first cell of the current call: its arguments and its result slot
};
struct FrameStack {
    CallFrame* start;
    CallFrame* end;
    CallFrame* top;  // next free frame
};
extern ArgStack g_args;
extern FrameStack g_frames;

// Symbols of the hidden frame names, set when the predefined words are made.
extern uint32_t g_sym_body;
extern uint32_t g_sym_anon;
extern uint32_t g_sym_not_found;
// Frames named <body> or <anonymous> are not shown in traces.
inline bool frame_hidden(uint32_t symbol) { return symbol == g_sym_body || symbol == g_sym_anon; }

// A frame position saved by throw, so that error messages name the frame where the throw happened.
extern CallFrame* g_throw_point;

// The block being evaluated, at the position of the current expression: an error's near field reads it.
extern Cell g_current_block;

void stack_init();

// Cell indices (what frames and stack contexts store) and back. Index 0 is never a cell.
inline uint32_t stack_index(const Cell* c) { return uint32_t(c - g_args.start) + 1; }
inline Cell* stack_cell(uint32_t index) {
    ZOL_ASSERT(index >= 1 && index <= ARG_STACK_CELLS);
    return g_args.start + (index - 1);
}

// --- pushing frames (each checks for overflow first)
// Raises stack-overflow; when the argument stack is the one full, first drops a few cells so that raising it
// has room.
[[noreturn]] void stack_overflow(Cell* from);
// The lowest machine-stack address the interpreter may use before it raises stack-overflow.
extern uintptr_t g_native_limit;
// Raises stack-overflow when the machine stack is nearly used up. Recursive walks call it.
inline void stack_check_native() {
    char probe;  // its address tells how deep the machine stack is (a frame address would cost a register)
    if (reinterpret_cast<uintptr_t>(&probe) < g_native_limit) stack_overflow(g_args.top);
}

// Pushes a frame where the caller has made sure there is room for it, on the frame stack and the machine's.
inline void mark_frame_unchecked(uint32_t symbol, uint32_t word_context, uint32_t kind_header) {
    CallFrame* f = g_frames.top++;
    f->header = (symbol & FRAME_SYMBOL_MASK) | kind_header;
    f->prev_base = stack_index(g_args.base);
    f->word_context = word_context;
    f->function_context = 0;
    f->saved_values = 0;
    g_args.base = g_args.top;
}
inline void mark_frame(uint32_t symbol, uint32_t word_context, uint32_t kind_header) {
    if (g_frames.top >= g_frames.end) stack_overflow(g_args.top);
    stack_check_native();
    mark_frame_unchecked(symbol, word_context, kind_header);
}
inline void mark_frame(const Cell* word, uint32_t kind_header) {
    mark_frame(word_symbol(word), word_context(word), kind_header);
}
inline void stack_mark_call(const Cell* word) { mark_frame(word, KH_CALL); }
inline void stack_mark_try(const Cell* word) { mark_frame(word, KH_TRY); }
inline void stack_mark_try_all(const Cell* word) { mark_frame(word, KH_TRY_ALL); }
inline void stack_mark_catch(const Cell* word) { mark_frame(word, KH_CATCH); }
inline void stack_mark_loop(const Cell* word) { mark_frame(word, KH_LOOP); }
inline void stack_mark_eval(const Cell* word) { mark_frame(word, KH_EVAL); }
inline void stack_mark_interp_call(const Cell* word) { mark_frame(word, KH_INTERP_CALL); }
inline void stack_mark_interp_func(const Cell* word) { mark_frame(word, KH_INTERP_FUNCTION); }
// A function call that saves (and on unwind restores) the values word of the function's context.
void stack_mark_func(const Cell* word, uint32_t function_context);
// The body of a function: points the function's context at the current base, then pushes a call frame
// that return and exit stop at.
void stack_mark_func_entry(const Cell* word, uint32_t function_context);

// --- frame flags
void stack_set_return_target(bool on);
void stack_set_interp_flag();
CallFrame* stack_mark_return_target();  // on the frame below the top; null when it was already set
inline void frame_clear_return_target(CallFrame* f) { f->header &= ~FRAME_RETURN_TARGET; }
inline CallFrame* stack_top_frame() { return g_frames.top - 1; }
inline void stack_set_frame_top(CallFrame* f) { g_frames.top = f; }
bool stack_has_interp_frame(CallFrame* frame, bool one_frame);

// --- popping frames
// Pops the top frame, keeping its result slot as the newest cell of the caller.
inline void unwind_frame() {
    ZOL_ASSERT(g_frames.top > g_frames.start);
    CallFrame* f = --g_frames.top;
    g_args.top = g_args.base + 1;
    g_args.base = stack_cell(f->prev_base);
}
void unwind_frame_restore();
void unwind_frame_restore_drop();
void unwind_frame_drop();
// Pops the top frame and puts its result into the caller's result slot.
inline void unwind_frame_return() {
    Cell* result = g_args.base;
    unwind_frame();
    *g_args.base = *result;
}
void unwind_frame_restore_return();
void unwind_frame_safe();
void unwind_to_kind(uint32_t kind, bool keep);
void unwind_to_kind_return(uint32_t kind);
inline void unwind_to_loop(bool keep) { unwind_to_kind(FRAME_LOOP, keep); }
// Pops the top frame, restoring its function context's values word when it has one.
void frame_pop_restore();

// --- argument cells
// A new cell on top, holding none until the caller fills it: the collector scans every cell up to the top,
// and what an earlier call left in the slot may name a buffer freed since.
inline Cell* stack_push_cell() {
    Cell* slot = g_args.top;
    if (slot + 1 >= g_args.end) stack_overflow(slot + 1);
    g_args.top = slot + 1;
    slot->header = TYPE_NONE;
    return slot;
}
inline Cell* stack_push(const Cell* c) {
    Cell copy = *c;  // c may be the cell about to be overwritten by an overflow's clean-up
    Cell* slot = stack_push_cell();
    *slot = copy;
    return slot;
}
inline void stack_pop(uint32_t n) {
    ZOL_ASSERT(g_args.top - g_args.start >= int64_t(n));
    g_args.top = (g_args.top - g_args.start) >= int64_t(n) ? g_args.top - n : g_args.start;
}
inline Cell* stack_top() { return g_args.top > g_args.start ? g_args.top - 1 : g_args.start; }
inline TypeId stack_top_type() { return cell_type(stack_top()); }
inline Cell* stack_reset() {
    g_args.top = g_args.base;
    return g_args.base;
}
inline Cell* stack_keep_result() {
    g_args.top = g_args.base + 1;
    return g_args.base;
}
inline void stack_set_result(const Cell* c) { *g_args.base = *c; }
inline void stack_set_only_result(const Cell* c) {
    Cell copy = *c;
    g_args.top = g_args.base + 1;
    *g_args.base = copy;
}
Cell* try_set_error_result();

// Marks what the stacks hold: the argument cells up to the top and the contexts named by the frames.
void stack_mark_roots();

}  // namespace zol
