// Describing the running calls from the call frames.
#include "backtrace.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace zol {

void stack_get_call_word(Cell* out, bool may_allocate) {
    // Finding a word in its context takes no allocation; adding one may.
    auto index_in = [may_allocate](uint32_t context, uint32_t sym) {
        if (!context) return WORD_UNRESOLVED;
        if (may_allocate) return context_add_word(context, sym);
        int32_t at = context_find_word(context, sym, true);
        return at < 0 ? WORD_UNRESOLVED : uint32_t(at);
    };
    CallFrame* f = g_throw_point ? g_throw_point : g_frames.top;
    g_throw_point = nullptr;
    while (f > g_frames.start) {
        f--;
        uint32_t sym = frame_symbol(f);
        if (frame_hidden(sym)) continue;
        set_word(out, TYPE_WORD, f->word_context, sym, index_in(f->word_context, sym));
        return;
    }
    uint32_t context = g_global_context && g_sym_not_found ? g_global_context : 0;
    set_word(out, TYPE_WORD, g_global_context, g_sym_not_found, index_in(context, g_sym_not_found));
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
