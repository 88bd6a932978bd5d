// Describing the running calls from the call frames.
#include "backtrace.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace zol {

void stack_get_call_word(Cell* out) {
    CallFrame* f = g_throw_point ? g_throw_point : g_frames.top;
    g_throw_point = nullptr;
    while (f > g_frames.start) {
        f--;
        uint32_t sym = frame_symbol(f);
        if (frame_hidden(sym)) continue;
        uint32_t context = f->word_context;
        uint32_t index = context ? context_add_word(context, sym) : WORD_UNRESOLVED;
        set_word(out, TYPE_WORD, context, sym, index);
        return;
    }
    bool bindable = g_global_context && g_sym_not_found;
    uint32_t index = bindable ? context_add_word(g_global_context, g_sym_not_found) : WORD_UNRESOLVED;
    set_word(out, TYPE_WORD, g_global_context, g_sym_not_found, index);
}

namespace {

// Appends a word of the symbol bound to the context (finding the slot allocates nothing, so the new cell
// stays valid).
void append_bound_word(Cell* block, uint32_t context, uint32_t sym) {
    set_word(block_alloc_tail(block), TYPE_WORD, context, sym, uint32_t(context_find_word(context, sym, true)));
}

}  // namespace

void stack_collect_calls(Cell* block) {
    for (CallFrame* f = g_frames.top - 1; f > g_frames.start; f--) {
        uint32_t sym = frame_symbol(f);
        if (frame_hidden(sym)) continue;
        append_bound_word(block, f->function_context ? f->function_context : g_global_context, sym);
        set_integer(block_alloc_tail(block), int32_t(f->prev_base - 1));
    }
}

namespace {

// The frames an error trace names: visible frames below the end frame, and at level 1 only those whose
// word names a function. Each is visited with its symbol and the context its word is read in.
template <typename Visit>
void walk_trace(uint32_t level, uint32_t end_frame, Visit visit) {
    CallFrame* end = g_frames.start + end_frame;
    if (end > g_frames.top) end = g_frames.top;
    for (CallFrame* f = g_frames.start; f < end; f++) {
        uint32_t sym = frame_symbol(f);
        if (frame_hidden(sym)) continue;
        uint32_t context = f->word_context ? f->word_context : g_global_context;
        if (level <= 1) {
            if (!context) continue;
            const Cell* value = context_word_value_cell(sym, context);
            if (!value || !cell_is(value, TYPE_FUNCTION)) continue;
        }
        visit(sym, context);
    }
}

}  // namespace

void stack_collect_trace(uint32_t level, Cell* block, uint32_t end_frame) {
    walk_trace(level, end_frame, [&](uint32_t sym, uint32_t context) { append_bound_word(block, context, sym); });
}

int stack_form_trace(uint32_t level, const Cell* stack_field, Cell* out, int part) {
    if (!cell_is(stack_field, TYPE_INTEGER)) return part;
    walk_trace(level, uint32_t(cell_int(stack_field)), [&](uint32_t sym, uint32_t) {
        Cell word;
        set_word(&word, TYPE_WORD, 0, sym);
        part = g_types.get<ACT_FORM>(TYPE_WORD)(&word, out, MoldArgs{}, part);
        string_append_ascii(out, " ");
        part -= 1;
    });
    return part;
}

}  // namespace zol
