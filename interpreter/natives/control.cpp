// Control-flow and non-local exit natives: if, unless, either, any, all, switch, case, do, break, continue,
// exit, return, throw, catch and try.
#include "interpreter/natives/natives.h"
#include "interpreter/lexer/lexer.h"
#include "interpreter/trace.h"
#include "runtime/values/compare.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/predefined.h"

namespace zol::natives {

uint32_t native_if(const int32_t*) {
    if (logic_false()) {
        result_none();
    } else {
        eval_into_result(arg(1));
    }
    return 0;
}

uint32_t native_unless(const int32_t*) {
    if (logic_false()) {
        eval_into_result(arg(1));
    } else {
        result_none();
    }
    return 0;
}

uint32_t native_either(const int32_t*) {
    eval_into_result(arg(logic_true() ? 1 : 2));
    return 0;
}

// any and all: one expression at a time over the block, each inside a frame named <body>.
uint32_t any_or_all(bool any) {
    GcRoot block(*arg(0));
    uint32_t end = cell_series(block.get())->used();
    uint32_t position = series_index(block.get());
    bool ran = false;
    while (position < end) {
        position = eval_one(block.get(), position, end, true);
        if (unwind_pending()) return 0;
        ran = true;
        bool truthy = cell_true(stack_top());
        if (any == truthy) {
            if (any) {
                stack_set_only_result(stack_top());
            } else {
                result_none();
            }
            return 0;
        }
        if (any || position < end) stack_pop(1);
    }
    if (any || !ran) {
        result_none();
    } else {
        stack_set_only_result(stack_top());
    }
    return 0;
}

uint32_t native_any(const int32_t*) { return any_or_all(true); }
uint32_t native_all(const int32_t*) { return any_or_all(false); }

// The block after the first value of the cases equal to the key (a block key never matches); none when
// the key is absent or has no block after it.
Cell select_case(const Cell* key, const Cell* cases, bool* matched) {
    *matched = false;
    Cell none = g_none_value;
    if (cell_is(key, TYPE_BLOCK)) return none;
    Series* s = cell_series(cases);
    for (uint32_t i = series_index(cases); i < s->used(); i++) {
        const Cell* c = cell_series(cases)->cells() + i;
        if (cell_type(c) != cell_type(key) || !compare_values(key, c, CMP_EQUAL)) continue;
        *matched = true;
        for (uint32_t k = i + 1; k < cell_series(cases)->used(); k++) {
            const Cell* b = cell_series(cases)->cells() + k;
            if (cell_is(b, TYPE_BLOCK)) return *b;
        }
        return none;
    }
    return none;
}

uint32_t native_switch(const int32_t* refs) {
    bool matched;
    GcRoot found(select_case(arg(0), arg(1), &matched));
    if (cell_is(found.get(), TYPE_BLOCK)) {
        eval_into_result(found.get());
    } else if (!matched && present(refs, 0)) {
        eval_into_result(ref_arg(refs, 0));
    } else {
        result_none();
    }
    return 0;
}

uint32_t native_case(const int32_t* refs) {
    bool all = present(refs, 0);
    GcRoot cases(*arg(0));
    stack_mark_call(&g_word[W_ANON]);
    uint32_t end = cell_series(cases.get())->used();
    uint32_t position = series_index(cases.get());
    bool matched = false;
    while (position < end) {
        if (all) matched = false;
        stack_reset();
        position = eval_next(cases.get(), position, end, EVAL_PUSH);
        if (unwind_pending()) return 0;
        if (position >= end) fire(ERR_SCRIPT_NEED_VALUE, &g_word[W_CASE]);
        Cell* condition = stack_top();
        if (cell_is(condition, TYPE_UNSET)) fire(ERR_SCRIPT_NO_RETURN);
        if (!cell_true(condition)) {
            position++;  // skip the action
            continue;
        }
        stack_reset();
        Cell action = cell_series(cases.get())->cells()[position];
        if (cell_is(&action, TYPE_BLOCK)) {
            GcRoot body(action);
            eval_block(body.get(), true);
            position++;
        } else {
            position = eval_next(cases.get(), position, end, EVAL_TO_SLOT);
        }
        if (unwind_pending()) return 0;
        if (!all) {
            unwind_frame_return();
            return 0;
        }
        matched = true;
    }
    if (!matched) {
        stack_reset();
        none_set_result();
    }
    unwind_frame_return();
    return 0;
}

namespace {

void do_value(const int32_t* refs) {
    GcRoot value(*arg(0));
    if (cell_is(value.get(), TYPE_STRING)) {
        // Text is loaded first and then run as a block.
        GcRoot code;
        load_source(code.get(), value.get(), -1, LexOptions{.wrap = true});
        *value = *code;
    }
    Cell* next_word = ref_arg(refs, 2);
    switch (family_case(cell_type(value.get()), FAMILY_ANY_LIST, TYPE_BLOCK)) {
        case TYPE_BLOCK: {  // any-list!
            clamp_head(value.get());
            uint32_t used = cell_series(value.get())->used();
            if (next_word) {
                if (series_index(value.get()) >= used) {
                    result_unset();
                } else {
                    stack_mark_interp_call(&g_word[W_BODY]);
                    uint32_t at = eval_next(value.get(), series_index(value.get()), used, EVAL_TO_SLOT);
                    if (unwind_pending()) return;
                    unwind_frame_return();
                    value->w1 = at;
                }
                word_set_value(next_word, value.get());
                stack_keep_result();
            } else {
                eval_into_result(value.get());
            }
            break;
        }
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_GET_PATH: {
            Cell path = *value;
            cell_set_type(&path, TYPE_PATH);
            GcRoot p(path);
            stack_reset();
            interp_eval_path(p.get(), 0, 0, p.get(), false, cell_is(value.get(), TYPE_GET_PATH), false, false);
            break;
        }
        case TYPE_ERROR: error_throw(value.get());
        case TYPE_FILE:
        case TYPE_URL: fire(ERR_INTERNAL_NOT_DONE);  // scripts are run by the library's do-file
        default: {
            // Any other value is one expression of its own.
            GcRoot block;
            set_series(block.get(), TYPE_BLOCK, series_alloc_cells(1));
            *block_alloc_tail(block.get()) = *value;
            stack_reset();
            stack_mark_interp_call(&g_word[W_BODY]);
            eval_next(block.get(), 0, 1, EVAL_TO_SLOT);
            if (unwind_pending()) return;
            unwind_frame_return();
            stack_keep_result();
            break;
        }
    }
}

}  // namespace

uint32_t native_do(const int32_t* refs) {
    if (present(refs, 0)) fire(ERR_INTERNAL_NOT_DONE);  // /expand: the preprocessor is not built yet
    // A do/trace inside a traced evaluation leaves the installed callback in place.
    if (!present(refs, 3) || !trace_start(ref_arg(refs, 3))) {
        do_value(refs);
        return 0;
    }
    try {
        do_value(refs);
    } catch (...) {
        trace_stop();
        throw;
    }
    trace_stop();
    return 0;
}

uint32_t native_break(const int32_t* refs) {
    stack_unwind_break(present(refs, 0), false);
    return 0;
}

uint32_t native_continue(const int32_t*) {
    stack_unwind_break(false, true);
    return 0;
}

uint32_t native_exit(const int32_t*) {
    stack_unwind_return(false, false);
    return 0;
}

uint32_t native_return(const int32_t*) {
    stack_unwind_return(true, false);
    return 0;
}

uint32_t native_throw(const int32_t* refs) {
    if (!present(refs, 0)) {
        g_args.top = g_args.base + 1;
        set_unset(stack_push_cell());
    }
    if (g_trace_active) trace_event(TRACE_THROW, nullptr, -1, nullptr, g_args.base);
    stack_unwind_throw(UNWIND_THROW);
    return 0;
}

namespace {

// Whether a throw named `thrown` is for a catch named by `names` (a word or a block of words).
bool name_matches(const Cell* names, const Cell* thrown) {
    if (!cell_is(thrown, TYPE_WORD)) return false;
    uint32_t sym = symbol_resolve(word_symbol(thrown));
    if (cell_is(names, TYPE_WORD)) return symbol_resolve(word_symbol(names)) == sym;
    bool match = false;
    Series* s = cell_series(names);
    for (uint32_t i = series_index(names); i < s->used(); i++) {
        const Cell* n = s->cells() + i;
        if (!cell_is(n, TYPE_WORD)) {
            Cell name = word_load("name");
            fire(ERR_SCRIPT_INVALID_REFINE_ARG, &name, names);
        }
        match |= symbol_resolve(word_symbol(n)) == sym;
    }
    return match;
}

}  // namespace

uint32_t native_catch(const int32_t* refs) {
    GcRoot names(present(refs, 0) ? *ref_arg(refs, 0) : g_none_value);
    GcRoot block(*arg(0));
    stack_mark_catch(&g_word[W_BODY]);
    eval_block(block.get(), true);
    if (!unwind_pending()) {
        unwind_frame_return();
        return 0;
    }
    if (g_system.pending != UNWIND_THROW) return 0;
    // The throw left its value and name at the catch frame's base.
    Cell value = g_args.base[0], name = g_args.base[1];
    if (!cell_is(names.get(), TYPE_NONE) && !name_matches(names.get(), &name)) {
        g_system.pending = UNWIND_NONE;
        stack_unwind_throw(UNWIND_THROW);  // not for this catch: on to the next one
        return 0;
    }
    catch_received();
    stack_set_only_result(&value);
    if (g_trace_active) trace_event(TRACE_CATCH, nullptr, -1, nullptr, g_args.base);
    unwind_frame_return();
    return 0;
}

uint32_t native_try(const int32_t* refs) {
    bool all = present(refs, 0);
    bool keep = present(refs, 1);
    GcRoot block(*arg(0));
    if (all) {
        stack_mark_try_all(&g_word[W_TRY]);
    } else {
        stack_mark_try(&g_word[W_TRY]);
    }
    if (keep) stack_top_frame()->header |= FRAME_KEEP_TRACE;
    try {
        eval_block(block.get(), true);
    } catch (const ErrorUnwind&) {
        // The try frame is gone and the error is the newest cell.
        try_set_error_result();
        g_system.pending = UNWIND_NONE;
        if (keep) {
            error_fill_stack(g_args.base);  // an error thrown again keeps the names it has
        } else {
            error_drop_frame_mark(g_args.base);  // the frames it marks are gone: a later report names none
        }
        return 0;
    }
    if (unwind_pending()) return 0;  // break, continue, return, exit and throw pass a plain try
    unwind_frame_return();
    return 0;
}

}  // namespace zol::natives
