// Non-local exits and error raising.
#include "exits.h"

#include "gc.h"
#include "stack.h"

namespace zol {

void (*g_trace_error_hook)(Cell* error) = nullptr;
ErrorValueHooks g_error_hooks{};

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

}  // namespace

void fire(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    if (!g_error_hooks.make) {  // raised before errors can be made
        runtime_error(id == ERR_INTERNAL_NO_MEMORY ? 94 : 98, uint32_t(id));
    }
    Cell* error = g_error_hooks.make(id, arg1, arg2, arg3);
    if (g_trace_error_hook) {
        uint32_t saved = g_system.pending;
        g_system.pending = UNWIND_NONE;
        g_trace_error_hook(error);
        g_system.pending = saved;
    }
    error_throw(error);
}

void fire_with_type(ErrorId id, uint32_t type, const Cell* arg2) {
    Cell t;
    set_datatype(&t, type);
    fire(id, &t, arg2);
}

namespace {

// Unwinds to the nearest try frame and throws; annotate records where the error happened first.
[[noreturn]] void throw_to_try(const Cell* error_value, bool annotate) {
    GcRoot error(*error_value);
    bool caught = false;
    CallFrame* raised_at = g_frames.top;
    if (g_frames.top > g_frames.start) {
        if (annotate) g_error_hooks.annotate(error.get());
        // A try/keep that will catch the error wants the names of the calls, read before they unwind.
        for (CallFrame* f = g_frames.top; f > g_frames.start;) {
            uint32_t kind = frame_kind(--f);
            if (kind != FRAME_TRY && kind != FRAME_TRY_ALL) continue;
            if (f->header & FRAME_KEEP_TRACE) g_error_hooks.keep_trace(error.get());
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
        g_error_hooks.report(error.get());
        runtime_exit(254);
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

namespace {

// What a guarded callback could not raise through its C library: an error, or an exit's code.
Cell g_parked_error;
uint32_t g_parked_code = UNWIND_NONE;
bool g_parked_overflow = false;  // the guard had no room for its own frame
bool g_parked_rooted = false;

}  // namespace

bool callback_guard_run(void (*body)(void*), void* data) noexcept {
    if (g_parked_code != UNWIND_NONE) return false;
    if (!g_parked_rooted) {
        set_none(&g_parked_error);
        gc_register_root(&g_parked_error);
        g_parked_rooted = true;
    }
    // Without room for the guard's frame, raising stack-overflow here would unwind past the C library.
    char probe;
    if (g_frames.top >= g_frames.end || reinterpret_cast<uintptr_t>(&probe) < g_native_limit) {
        g_parked_code = UNWIND_ERROR;
        g_parked_overflow = true;
        return false;
    }
    Cell* base = g_args.base;
    Cell* top = g_args.top;
    CallFrame* frames = g_frames.top;
    try {
        mark_frame(g_sym_anon, 0, KH_TRY);
        body(data);
    } catch (const ErrorUnwind&) {
        // The error stopped at the guard's try frame, which is gone, and stands as the newest cell.
        g_parked_error = *stack_top();
        g_parked_code = UNWIND_ERROR;
        g_system.pending = UNWIND_NONE;
        g_args.base = base;
        g_args.top = top;
        g_frames.top = frames;
        return false;
    } catch (const PendingUnwind&) {
        // Handled below: the unwinder has already taken the stacks down to the exit's target.
    }
    if (g_system.pending != UNWIND_NONE) {
        g_parked_code = g_system.pending;
        g_system.pending = UNWIND_NONE;
        return false;
    }
    g_args.base = base;
    g_args.top = top;
    g_frames.top = frames;
    return true;
}

bool callback_has_parked() { return g_parked_code != UNWIND_NONE; }

void callback_raise_parked() {
    uint32_t code = g_parked_code;
    if (code == UNWIND_NONE) return;
    g_parked_code = UNWIND_NONE;
    if (g_parked_overflow) {
        g_parked_overflow = false;
        stack_overflow(g_args.top);
    }
    if (code == UNWIND_ERROR) {
        Cell error = g_parked_error;
        set_none(&g_parked_error);
        GcRoot keep(error);
        error_rethrow(keep.get());
    }
    g_system.pending = code;
    throw PendingUnwind{};
}

void catch_received() {
    g_system.pending = UNWIND_NONE;
    g_throw_point = nullptr;
}

}  // namespace zol
