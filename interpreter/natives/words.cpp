// Natives that read, set and bind words, make objects and function values and apply them: func, function,
// does, has, get, set, unset, value?, bind, in, context?, construct and apply.
#include "interpreter/natives/natives.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/predefined.h"

namespace zol::natives {

namespace {

void make_function(Cell* spec, Cell* body) {
    clamp_head(spec);
    clamp_head(body);
    uint32_t flags = function_check_spec(spec);
    function_build(spec, body, 0, 0, 0, flags);
    stack_set_only_result(stack_top());
}

}  // namespace

uint32_t native_func(const int32_t*) {
    GcRoot spec(*arg(0)), body(*arg(1));
    make_function(spec.get(), body.get());
    return 0;
}

uint32_t native_function(const int32_t*) {
    GcRoot spec(*arg(0)), body(*arg(1)), collected;
    clamp_head(spec.get());
    function_collect_locals(spec.get(), body.get(), collected.get());
    make_function(spec.get(), body.get());
    return 0;
}

uint32_t native_does(const int32_t*) {
    GcRoot body(*arg(0)), spec;
    set_series(spec.get(), TYPE_BLOCK, series_alloc_cells(1));
    make_function(spec.get(), body.get());
    return 0;
}

uint32_t native_has(const int32_t*) {
    GcRoot vars(*arg(0)), body(*arg(1)), spec;
    clamp_head(vars.get());
    uint32_t n = cell_series(vars.get())->used() - series_index(vars.get());
    set_series(spec.get(), TYPE_BLOCK, series_alloc_cells(n + 1));
    *block_alloc_tail(spec.get()) = g_refinement[R_LOCAL];
    for (uint32_t i = 0; i < n; i++) *block_alloc_tail(spec.get()) = cell_series(vars.get())->cells()[series_index(vars.get()) + i];
    make_function(spec.get(), body.get());
    return 0;
}

uint32_t native_get(const int32_t* refs) {
    GcRoot target(*arg(0));
    bool any = present(refs, 0);
    if (type_in(FAMILY_ANY_PATH, cell_type(target.get()))) {
        Cell path = *target;
        cell_set_type(&path, TYPE_GET_PATH);
        GcRoot p(path);
        stack_reset();
        interp_eval_path(p.get(), 0, 0, p.get(), false, true, false, present(refs, 1));
        return 0;
    }
    if (cell_is(target.get(), TYPE_OBJECT)) {
        GcRoot values;
        object_values_block(target.get(), values.get());
        stack_set_only_result(values.get());
        return 0;
    }
    const Cell* value = word_value_cell(target.get());
    if (cell_is(value, TYPE_UNSET) && !any) fire(ERR_SCRIPT_NO_VALUE, target.get());
    stack_set_only_result(value);
    return 0;
}

namespace {

// set with a block of words: sets them from the values of a block by position, or each to one value.
void set_words_by_position(const Cell* words, const Cell* values, uint32_t count, bool unset_allowed, bool single, bool skip_none) {
    bool list = type_in(FAMILY_ANY_BLOCK, cell_type(values));
    Series* ws = cell_series(words);
    if (list && !single) {
        for (uint32_t i = 0; i < count; i++) {
            const Cell* w = ws->cells() + series_index(words) + i;
            if (!type_in(FAMILY_ANY_WORD, cell_type(w))) fire(ERR_SCRIPT_INVALID_ARG, w);
            uint32_t at = series_index(values) + i;
            if (!unset_allowed && at < cell_series(values)->used() && cell_is(cell_series(values)->cells() + at, TYPE_UNSET)) {
                fire(ERR_SCRIPT_NEED_VALUE, w);
            }
        }
    }
    for (uint32_t i = 0; i < count; i++) {
        Cell word = cell_series(words)->cells()[series_index(words) + i];
        Cell value;
        if (single || !list) {
            value = *values;
        } else {
            uint32_t at = series_index(values) + i;
            if (at < cell_series(values)->used()) {
                value = cell_series(values)->cells()[at];
            } else {
                set_none(&value);
            }
        }
        if (skip_none && cell_is(&value, TYPE_NONE)) continue;
        word_set_value(&word, &value);
    }
}

void set_target(Cell* target, Cell* value, const int32_t* refs) {
    bool any = present(refs, 0);
    uint32_t t = cell_type(target);
    if (type_in(FAMILY_ANY_PATH, t)) {
        Cell path = *target;
        cell_set_type(&path, TYPE_SET_PATH);
        GcRoot p(path);
        stack_reset();
        stack_set_only_result(value);
        interp_eval_path(p.get(), 0, 0, p.get(), true, false, false, present(refs, 1));
    } else if (t == TYPE_OBJECT) {
        object_set_values(target, value, any, present(refs, 2), present(refs, 3));
    } else if (t == TYPE_BLOCK) {
        stack_mark_call(&g_word[W_ANON]);
        uint32_t n = cell_series(target)->used() - series_index(target);
        set_words_by_position(target, value, n, any, present(refs, 2), present(refs, 3));
        unwind_frame_drop();
    } else {
        word_set_value(target, value);
    }
}

}  // namespace

uint32_t native_set(const int32_t* refs) {
    GcRoot target(*arg(0)), value(*arg(1));
    if (cell_is(value.get(), TYPE_UNSET) && !present(refs, 0)) fire(ERR_SCRIPT_NEED_VALUE, target.get());
    try {
        set_target(target.get(), value.get(), refs);
    } catch (const PendingUnwind&) {
        return 0;  // a change handler left by break, return or throw: the frames are unwound already
    }
    if (unwind_pending()) return 0;  // a paren of a path did
    stack_set_only_result(value.get());
    return 0;
}

// construct (block, /with object, /only): an object from a spec block, nothing evaluated.
uint32_t native_construct(const int32_t* refs) {
    GcRoot spec(*arg(0)), prototype(present(refs, 0) ? *ref_arg(refs, 0) : g_none_value);
    object_construct(spec.get(), cell_is(prototype.get(), TYPE_NONE) ? nullptr : prototype.get(), present(refs, 1));
    stack_set_only_result(stack_top());
    return 0;
}

uint32_t native_unset(const int32_t*) {
    GcRoot target(*arg(0));
    Cell unset = g_unset_value;
    if (cell_is(target.get(), TYPE_BLOCK)) {
        for (uint32_t i = series_index(target.get()); i < cell_series(target.get())->used(); i++) {
            Cell w = cell_series(target.get())->cells()[i];
            if (cell_is(&w, TYPE_WORD)) word_set_value(&w, &unset);
        }
    } else {
        word_set_value(target.get(), &unset);
    }
    stack_set_only_result(&unset);
    return 0;
}

uint32_t native_value_q(const int32_t*) {
    const Cell* v = arg(0);
    if (type_in(FAMILY_ANY_WORD, cell_type(v))) v = word_value_cell(v);
    logic_set_result(!cell_is(v, TYPE_UNSET));
    stack_keep_result();
    return 0;
}

namespace {

// The context a bind or in target names, and whether it belongs to an object.
uint32_t target_context(const Cell* c, bool* object) {
    uint32_t t = cell_type(c);
    *object = type_in(FAMILY_ANY_OBJECT, t);
    if (*object || t == TYPE_FUNCTION || t == TYPE_ROUTINE) return c->w1;
    if (is_any_word(c)) return word_context(c);
    return 0;
}

}  // namespace

uint32_t native_bind(const int32_t* refs) {
    GcRoot target(*arg(0)), where(*arg(1));
    bool object;
    uint32_t context = target_context(where.get(), &object);
    if (!context) fire(ERR_SCRIPT_NOT_IN_CONTEXT, where.get());
    if (is_any_word(target.get())) {
        context_bind_word(context, target.get());
        stack_set_only_result(target.get());
        return 0;
    }
    if (present(refs, 0)) {
        // /copy binds a deep copy (nested blocks, parens and paths too) and leaves the original alone.
        *target = *block_clone(target.get(), true, true);
    }
    context_bind_block(target.get(), context, object);
    stack_set_only_result(target.get());
    return 0;
}

uint32_t native_in(const int32_t*) {
    bool object;
    uint32_t context = target_context(arg(0), &object);
    Cell word = *arg(1);
    if (context && context_bind_word(context, &word) >= 0) {
        if (cell_is(&word, TYPE_REFINEMENT)) cell_set_type(&word, TYPE_WORD);
        stack_set_only_result(&word);
    } else {
        result_none();
    }
    return 0;
}

uint32_t native_context_q(const int32_t*) {
    uint32_t context = word_context(arg(0));
    if (!context || context == g_global_context) {
        result_none();
    } else {
        stack_set_only_result(context_owner(context));
    }
    return 0;
}

uint32_t native_apply(const int32_t* refs) {
    GcRoot target(*arg(0)), args(*arg(1));
    Cell fn, name = g_word[W_APPLIED];
    GcRoot path;
    uint32_t t = cell_type(target.get());
    if (is_any_word(target.get())) {
        fn = *word_value_cell(target.get());
        name = *target;
    } else if (type_in(FAMILY_ANY_PATH, t)) {
        Cell first = cell_series(target.get())->cells()[series_index(target.get())];
        if (!cell_is(&first, TYPE_WORD)) fire(ERR_SCRIPT_INVALID_ARG, target.get());
        fn = *word_value_cell(&first);
        name = first;
        *path = *target;
    } else {
        fn = *target;
    }
    if (!type_in(FAMILY_ANY_FUNCTION, cell_type(&fn))) fire(ERR_SCRIPT_INVALID_ARG, target.get());
    if (cell_is(&fn, TYPE_OP)) cell_set_type(&fn, TypeId(op_source_type(&fn)));
    ApplyMode mode = present(refs, 0) ? APPLY_ALL : APPLY_ARGS;
    if (present(refs, 1)) mode = mode | APPLY_SAFER;
    stack_set_interp_flag();
    clamp_head(args.get());
    stack_reset();
    interp_apply(&fn, CallSite{.block = args.get(), .position = series_index(args.get()),
                               .end = cell_series(args.get())->used(),
                               .path = cell_is(path.get(), TYPE_NONE) ? nullptr : path.get(),
                               .path_position = cell_is(path.get(), TYPE_NONE) ? 0 : series_index(path.get()),
                               .name = &name, .mode = mode});
    return 0;
}

}  // namespace zol::natives
