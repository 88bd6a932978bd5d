// Non-local exits and error raising.
#include "exits.h"

#include <string>

#include "runtime/datatypes/error.h"
#include "runtime/datatypes/series.h"
#include "gc.h"
#include "platform/platform.h"
#include "stack.h"

namespace zol {

void (*g_trace_error_hook)(Cell* error) = nullptr;

namespace {

// The state a failed search restores before it raises its error.
struct SavedStacks {
    Cell* base;
    Cell* top;
    CallFrame* frames_top;

    SavedStacks() : base(g_args.base), top(g_args.top), frames_top(g_frames.top) {}
    void restore() const {
        g_args.base = base;
        g_args.top = top;
        g_frames.top = frames_top;
    }
};

// Pops every frame above the target, restoring function contexts, and makes the target's own base the
// current base and top.
Cell* unwind_to_frame(CallFrame* target) {
    Cell* own = target + 1 < g_frames.top ? stack_cell(target[1].prev_base) : g_args.base;
    while (g_frames.top > target + 1) frame_pop_restore();
    g_args.base = g_args.top = own;
    return own;
}

[[noreturn]] void report_uncaught(const Cell* error) {
    std::string text = error_form_text(error);
    text += '\n';
    platform::write_stderr(text.data(), text.size());
    runtime_exit(254);
}

}  // namespace

void fire(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell* error = error_create(id, arg1, arg2, arg3);
    // The code near the error: the block being evaluated, at the expression that raised it.
    Cell* near = error_field(error, ERROR_FIELD_NEAR);
    if (cell_is(near, TYPE_NONE) && is_block_kind(cell_type(&g_current_block))) *near = g_current_block;
    if (g_trace_error_hook) {
        uint32_t saved = g_system.pending;
        g_system.pending = UNWIND_NONE;
        g_trace_error_hook(error);
        g_system.pending = saved;
    }
    error_throw(error);
}

void error_record_stack(Cell* error) {
    Cell* field = error_field(error, ERROR_FIELD_STACK);
    if (cell_is(field, TYPE_BLOCK)) return;
    set_integer(field, int32_t(g_frames.top - g_frames.start));
}

namespace {

// Unwinds to the nearest try frame and throws; annotate records where the error happened first.
[[noreturn]] void throw_to_try(const Cell* error_value, bool annotate) {
    GcRoot error(*error_value);
    bool caught = false;
    CallFrame* raised_at = g_frames.top;
    if (g_frames.top > g_frames.start) {
        if (annotate) {
            Cell where;
            stack_get_call_word(&where);
            error_set_where(error.get(), &where);
            error_record_stack(error.get());
        }
        // A try/keep that will catch the error wants the names of the calls, read before they unwind.
        for (CallFrame* f = g_frames.top; f > g_frames.start;) {
            uint32_t kind = frame_kind(--f);
            if (kind != FRAME_TRY && kind != FRAME_TRY_ALL) continue;
            if (f->header & FRAME_KEEP_TRACE) error_fill_stack(error.get());
            break;
        }
        Cell* saved_top = g_args.top;
        unwind_to_kind(FRAME_TRY, false);
        CallFrame* stop = --g_frames.top;
        uint32_t kind = frame_kind(stop);
        caught = kind == FRAME_TRY || kind == FRAME_TRY_ALL;
        g_args.top = saved_top;
    }
    if (!caught) {
        // Nothing runs after the report, so the frames of the raise are put back for its stack trace.
        g_frames.top = raised_at;
        report_uncaught(error.get());
    }
    // Never let the error's own cell overflow the stack: the try site must find it as the newest cell.
    if (g_args.top >= g_args.end - 1) g_args.top = g_args.end - 2;
    *g_args.top++ = *error;
    g_system.pending = UNWIND_ERROR;
    throw ErrorUnwind{};
}

}  // namespace

void error_throw(const Cell* error) { throw_to_try(error, true); }

void error_rethrow(const Cell* error) { throw_to_try(error, false); }

void stack_unwind_break(bool has_value, bool is_continue) {
    SavedStacks saved;
    ErrorId failure = is_continue ? ERR_THROW_CONTINUE : ERR_THROW_BREAK;
    CallFrame* target = nullptr;
    for (CallFrame* f = g_frames.top; f > g_frames.start;) {
        f--;
        uint32_t kind = frame_kind(f);
        if (kind == FRAME_TRY_ALL) break;
        if (kind == FRAME_LOOP) {
            target = f;
            break;
        }
    }
    if (!target) {
        saved.restore();
        fire(failure);
    }
    Cell value = *saved.base;
    Cell* slot = unwind_to_frame(target);
    if (has_value && !is_continue) {
        *slot = value;
    } else {
        set_unset(slot);
    }
    g_system.pending = is_continue ? UNWIND_CONTINUE : UNWIND_BREAK;
}

void stack_unwind_return(bool is_return, bool from_top) {
    SavedStacks saved;
    CallFrame* f = g_frames.top;
    if (!from_top && f > g_frames.start) f--;  // the frame of return or exit itself
    CallFrame* target = nullptr;
    while (f > g_frames.start) {
        f--;
        if (frame_kind(f) == FRAME_TRY_ALL) break;
        if (f->header & FRAME_RETURN_TARGET) {
            target = f;
            break;
        }
    }
    if (!target) {
        saved.restore();
        fire(ERR_THROW_RETURN);
    }
    Cell value = *saved.base;
    Cell* slot = unwind_to_frame(target);
    if (is_return) {
        *slot = value;
    } else {
        set_unset(slot);
    }
    g_system.pending = is_return ? UNWIND_RETURN : UNWIND_EXIT;
}

void stack_unwind_throw(uint32_t code) {
    SavedStacks saved;
    Cell value = saved.base[0];
    Cell name = saved.base + 1 < saved.top ? saved.base[1] : g_unset_value;
    CallFrame* f = g_frames.top > g_frames.start ? g_frames.top - 1 : g_frames.top;
    if (!g_throw_point) g_throw_point = f;
    CallFrame* target = nullptr;
    while (f > g_frames.start) {
        f--;
        uint32_t kind = frame_kind(f);
        if (kind == FRAME_TRY_ALL) break;
        if (kind == FRAME_CATCH) {
            target = f;
            break;
        }
    }
    if (!target) {
        saved.restore();
        fire(ERR_THROW_THROW, &value);
    }
    unwind_to_frame(target);
    *stack_push_cell() = value;
    *stack_push_cell() = name;
    g_system.pending = code;
}

void catch_received() {
    g_system.pending = UNWIND_NONE;
    g_throw_point = nullptr;
}

}  // namespace zol
