// The evaluator: walks a block cell by cell. Blocks that run again and again go to their decoded forms
// (code.cpp), which come back here wherever what they decoded no longer holds.
#include "eval.h"

#include <cstring>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"
#include "code.h"
#include "dispatch.h"
#include "eval_internal.h"
#include "routines.h"
#include "trace.h"

namespace zol {

NativeEntry g_natives[NATIVE_CAPACITY];
ActionEntry g_action_entries[64];

namespace {

inline void clear_refinements(int32_t* refs) { std::memset(refs, 0xFF, MAX_REFINEMENTS * sizeof(int32_t)); }

inline Cell* cells_of(const Cell* block) { return cell_series(block)->cells(); }

uint64_t typeset_bits(const Cell* t) {
    uint64_t bits = 0;
    for (uint32_t id = 0; id < 64; id++) {
        if (typeset_has(t, id)) bits |= uint64_t(1) << id;
    }
    return bits;
}

// Functions, natives, actions and operators keep their argument cache in the same info slot.
static_assert(uint32_t(FN_INFO_ARGS) == uint32_t(NATIVE_INFO_ARGS));
inline Cell* args_slot(const Cell* fn) { return node_series(fn->w3)->cells() + FN_INFO_ARGS; }

uint32_t build_arg_cache(const Cell* fn) {
    Cell spec;
    set_series(&spec, TYPE_BLOCK, fn->w2);
    GcRoot keep(spec);
    Param params[256];
    uint32_t count = 0, refinements = 0, locals = 0;
    uint32_t local_sym = symbol_resolve(word_symbol(&g_refinement[R_LOCAL]));
    Series* s = cell_series(&spec);
    uint32_t n = s->used();
    for (uint32_t i = 0; i < n && count < 256; i++) {
        const Cell* c = cell_series(&spec)->cells() + i;
        uint32_t t = cell_type(c);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) {
            Param p{};
            p.kind = t == TYPE_WORD ? PARAM_NORMAL : t == TYPE_GET_WORD ? PARAM_GET : PARAM_LITERAL;
            p.symbol = word_symbol(c);
            Cell types;
            if (i + 1 < n && cell_is(c + 1, TYPE_BLOCK)) {
                Cell block = c[1];
                typeset_from_spec(&types, &block);
                i++;
            } else {
                typeset_make_any(&types);
            }
            p.types = typeset_bits(&types);
            params[count++] = p;
        } else if (t == TYPE_REFINEMENT) {
            if (symbol_resolve(word_symbol(c)) == local_sym) {
                locals = function_count_locals(&spec);
                break;
            }
            Param p{};
            p.kind = PARAM_REFINEMENT;
            p.ordinal = uint16_t(refinements++);
            p.symbol = word_symbol(c);
            params[count++] = p;
        } else if (t == TYPE_SET_WORD) {
            if (symbol_resolve(word_symbol(c)) != g_sym[SYM_RETURN]) fire(ERR_SCRIPT_BAD_FUNC_DEF, c);
            if (i + 1 < n && cell_is(c + 1, TYPE_BLOCK)) i++;  // the return type is not checked
        }
    }
    uint32_t node = series_alloc_bytes(sizeof(ArgCache) + uint64_t(count) * sizeof(Param));
    Series* cache = node_series(node);
    auto* h = reinterpret_cast<ArgCache*>(cache->head_ptr());
    uint32_t leading = 0;
    while (leading < count && params[leading].kind == PARAM_NORMAL) leading++;
    if (leading < count && params[leading].kind != PARAM_REFINEMENT) leading = NOT_SIMPLE;
    *h = ArgCache{count, locals, refinements, leading};
    std::memcpy(h + 1, params, count * sizeof(Param));
    cache->tail = cache->head + uint32_t(sizeof(ArgCache) + count * sizeof(Param));
    return node;
}

}  // namespace

const int32_t NO_REFINEMENTS[MAX_REFINEMENTS] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                 -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

const ArgCache* arg_cache(const Cell* fn) {
    Cell* slot = args_slot(fn);
    if (!cell_is(slot, TYPE_BINARY)) {
        uint32_t node = build_arg_cache(fn);
        set_series(args_slot(fn), TYPE_BINARY, node);
    }
    return reinterpret_cast<const ArgCache*>(cell_series(args_slot(fn))->head_ptr());
}

Cell param_word(const Param& p) {
    Cell w;
    set_word(&w, TYPE_WORD, 0, p.symbol);
    return w;
}

void expect_arg(const Cell* name, const Cell* value, const Param& p) {
    Cell type, word = param_word(p);
    set_datatype(&type, cell_type(value));
    fire(ERR_SCRIPT_EXPECT_ARG, name, &type, &word);
}

const Cell* call_name(const Cell* name) { return name && cell_is(name, TYPE_WORD) ? name : &g_word[W_ANON]; }

Cell g_outer_blocks[CALL_FRAMES];
uint32_t g_block_depth = 0;

namespace {

void typecheck(const Cell* name, const Cell* value, const Param& p) {
    if (!accepts(p, cell_type(value))) expect_arg(name, value, p);
}

// Makes a block the current one for the life of the scope, without counting it against the frames: the
// traced evaluation gives each block a frame of its own.
class CurrentBlock {
public:
    explicit CurrentBlock(const Cell* block) {
        g_outer_blocks[g_block_depth++] = g_current_block;
        g_current_block = *block;
    }
    ~CurrentBlock() { g_current_block = g_outer_blocks[--g_block_depth]; }
    CurrentBlock(const CurrentBlock&) = delete;
    CurrentBlock& operator=(const CurrentBlock&) = delete;
};

// Delivers a value: pushed in push mode, else the frame's only result. The value is copied first: it may
// sit in a context's values, which the trace callback can grow (and so move).
inline void deliver(const Cell* value_in, bool push, const Cell* block, uint32_t position) {
    Cell value = *value_in;
    if (g_trace_active) {
        GcRoot keep(value);
        trace_event(TRACE_PUSH, block, position, nullptr, keep.get());
    }
    if (push) {
        stack_push(&value);
    } else {
        stack_set_only_result(&value);
    }
}

// A word's value when it can be read without an error, else null.
inline const Cell* peek_word_value(const Cell* w) { return word_slot(w); }

// The value of a simple expression, one that needs no evaluation step: a literal, or a word holding
// anything but a function or unset; null otherwise.
inline const Cell* simple_value(const Cell* v) {
    uint32_t t = cell_type(v);
    if (!((NOT_INERT >> t) & 1)) return v;
    if (t != TYPE_WORD) return nullptr;
    const Cell* value = peek_word_value(v);
    return value && !((NOT_PLAIN_VALUE >> cell_type(value)) & 1) ? value : nullptr;
}

// Whether the cell may be an operator word (then the expression before it goes on).
inline bool may_be_operator(const Cell* c) {
    if (!cell_is(c, TYPE_WORD)) return false;
    const Cell* value = peek_word_value(c);
    return !value || cell_is(value, TYPE_OP);
}

}  // namespace

uint32_t fetch_one(const Param& p, const Cell* block, uint32_t position, uint32_t end, bool infix_right, uint32_t mode,
                   const Cell* name) {
    if (position >= end) {
        Cell word = param_word(p);
        fire(ERR_SCRIPT_NO_ARG, name, &word);
    }
    switch (p.kind) {
        case PARAM_GET:
            if (g_trace_active) {
                trace_event(TRACE_FETCH, block, position, nullptr, cells_of(block) + position);
                trace_event(TRACE_PUSH, block, position, nullptr, cells_of(block) + position);
            }
            stack_push(cells_of(block) + position);
            return position + 1;
        case PARAM_LITERAL: {
            Cell v = cells_of(block)[position];
            switch (cell_type(&v)) {
                case TYPE_PAREN: {
                    GcRoot paren(v);
                    stack_mark_interp_call(&g_word[W_ANON]);
                    eval_block(paren.get(), false);
                    if (unwind_pending()) return position;
                    unwind_frame();
                    break;
                }
                case TYPE_GET_WORD: stack_push(word_value_cell(&v)); break;
                case TYPE_GET_PATH: {
                    GcRoot path(v);
                    interp_eval_path(path.get(), position + 1, end, block, false, true, true, false);
                    break;
                }
                default: stack_push(&v); break;
            }
            return position + 1;
        }
        default: {
            if (!g_trace_active) {
                // Most arguments are a literal or a word's value: pushed without an evaluation step.
                const Cell* cells = cells_of(block);
                const Cell* value = simple_value(cells + position);
                if (value && (infix_right || position + 1 >= end || !may_be_operator(cells + position + 1))) {
                    stack_push(value);
                    return position + 1;
                }
            }
            return eval_next(block, position, (mode & APPLY_SAFER) ? position + 1 : end, EVAL_PUSH | (infix_right ? EVAL_NO_INFIX : EVAL_TO_SLOT));
        }
    }
}

namespace {

// Refinement elements of a path or of an apply block: finds the refinement's entry.
uint32_t find_refinement(const ArgCache* cache, const Cell* element, const Cell* name) {
    const Param* params = params_of(cache);
    uint32_t sym = symbol_resolve(word_symbol(element));
    for (uint32_t i = 0; i < cache->count; i++) {
        if (params[i].kind == PARAM_REFINEMENT && symbol_resolve(params[i].symbol) == sym) return i;
    }
    fire(ERR_SCRIPT_NO_REFINE, name, element);
}

// Builds the argument cells of a call on the stack and, for natives and actions, calls the entry.
uint32_t fetch_args(const Cell* fn, uint32_t position, uint32_t end, const Cell* block, const Cell* path,
                    uint32_t path_position, uint32_t mode, bool infix, const Cell* name) {
    if (infix) g_args.top++;  // the left operand, already in place, is the first argument
    uint32_t type = cell_is(fn, TYPE_OP) ? op_source_type(fn) : cell_type(fn);
    bool is_function = type == TYPE_FUNCTION || type == TYPE_ROUTINE;
    const ArgCache* cache = arg_cache(fn);
    const Param* params = params_of(cache);
    int32_t refs[MAX_REFINEMENTS];
    clear_refinements(refs);
    uint32_t base_mode = mode & (APPLY_ALL | APPLY_ARGS);
    bool safer = mode & APPLY_SAFER;
    uint32_t argc = infix ? 1 : 0;
    bool refinement_seen = false, active = true;
    bool by_position = (base_mode == APPLY_ALL || base_mode == APPLY_ARGS) && !path;

    for (uint32_t i = 0; i < cache->count; i++) {
        const Param& p = params[i];
        if (p.kind == PARAM_REFINEMENT) {
            refinement_seen = true;
            if (by_position) {
                if (position >= end || base_mode == APPLY_ARGS) {
                    if (is_function) {
                        *stack_push_cell() = g_false_value;
                        argc++;
                    }
                    active = position >= end;  // so that the remaining arguments become none
                } else {
                    position = eval_next(block, position, end, EVAL_PUSH);
                    if (unwind_pending()) return position;
                    Cell* v = stack_top();
                    if (!cell_is(v, TYPE_LOGIC)) expect_arg(name, v, p);
                    active = logic_get(v);
                    if (is_function) {
                        argc++;
                    } else {
                        stack_pop(1);
                        if (active && p.ordinal < MAX_REFINEMENTS) refs[p.ordinal] = int32_t(argc);
                    }
                }
            } else {
                if (is_function) {
                    *stack_push_cell() = g_false_value;
                    argc++;
                }
                active = false;
            }
            continue;
        }
        if (!refinement_seen || active) {
            if (infix && i == 0) {
                typecheck(name, g_args.base, p);
                continue;
            }
            if (base_mode && position >= end) {
                set_none(stack_push_cell());
            } else if (p.kind == PARAM_LITERAL && accepts(p, TYPE_UNSET) && position >= end) {
                set_unset(stack_push_cell());
            } else {
                position = fetch_one(p, block, position, end, infix, mode, name);
                if (unwind_pending()) return position;
                typecheck(name, stack_top(), p);
            }
            argc++;
        } else {
            // apply/all lists a value for every argument, those of refinements that are off too; with a
            // path the refinements come from the path and the block holds no such values.
            if (base_mode == APPLY_ALL && by_position && position < end) {
                position = fetch_one(p, block, position, end, false, mode, name);
                if (unwind_pending()) return position;
                stack_pop(1);
            }
            if (is_function) {
                set_none(stack_push_cell());
                argc++;
            }
        }
    }

    // Refinements named by the path, or listed after the positional arguments of an apply block.
    if (path || base_mode == APPLY_ARGS) {
        const Cell* source = path ? path : block;
        uint32_t at = path ? path_position + 1 : position;
        uint32_t stop = path ? cell_series(path)->used() : end;
        while (at < stop) {
            Cell element = cells_of(source)[at];
            bool expected = path ? (cell_is(&element, TYPE_WORD) || cell_is(&element, TYPE_GET_WORD))
                                 : cell_is(&element, TYPE_REFINEMENT);
            if (!expected) {
                if (base_mode && cache->refinements == 0) break;
                fire(ERR_SCRIPT_BAD_REFINE, &element);
            }
            bool on = true;
            at++;
            if (!path) {
                if (at < stop) {
                    at = eval_next(block, at, stop, EVAL_PUSH);
                    if (unwind_pending()) return at;
                    on = logic_cell_true(stack_top(), true, &element);
                    stack_pop(1);
                } else {
                    on = false;
                }
                position = at;  // the refinement's arguments follow its flag expression
            } else if (cell_is(&element, TYPE_GET_WORD)) {
                on = logic_cell_true(word_value_cell(&element), false, &element);
            }
            uint32_t index = find_refinement(cache, &element, name);
            const Param& r = params[index];
            if (is_function) {
                Cell* flag = g_args.base + index;
                if (logic_get(flag)) fire(ERR_SCRIPT_DUP_REFINE, path ? path : &element);
                set_logic(flag, on);
            } else {
                if (r.ordinal < MAX_REFINEMENTS && refs[r.ordinal] != -1) fire(ERR_SCRIPT_DUP_REFINE, path ? path : &element);
                if (on && r.ordinal < MAX_REFINEMENTS) refs[r.ordinal] = int32_t(argc);
            }
            for (uint32_t k = index + 1; k < cache->count && params[k].kind != PARAM_REFINEMENT; k++) {
                const Param& a = params[k];
                if (safer && !on) {
                    position = position < end ? position + 1 : position;
                    continue;
                }
                position = fetch_one(a, block, position, end, false, mode, name);
                if (unwind_pending()) return position;
                if (on) typecheck(name, stack_top(), a);
                if (is_function) {
                    // A refinement that is off keeps none in its arguments, as when it is not named at all.
                    if (on) g_args.base[k] = *stack_top();
                    stack_pop(1);
                } else if (on) {
                    argc++;
                } else {
                    stack_pop(1);
                }
            }
            if (!path) at = position;
        }
        if (!path) position = at;
    }

    if (g_trace_active) trace_event(TRACE_CALL, block, by_position ? 0 : position, name, fn);
    if (is_function) {
        function_init_locals(cache->locals);
        return position;
    }
    call_entry(type, fn->w1, refs);
    return position;
}

}  // namespace

// Calls an operator over a native or action whose two operands are already evaluated, at operands and the
// cell after it; the result replaces the left operand.
void call_operator(const Cell* op_value, Cell* operands, const Cell* name, bool push) {
    GcRoot op(*op_value);
    const ArgCache* cache = arg_cache(op.get());
    const Param* params = params_of(cache);
    g_args.top = operands;
    mark_frame(name, KH_INTERP_CALL);
    g_args.top = operands + 2;
    for (uint32_t i = 0; i < 2 && i < cache->count; i++) typecheck(name, operands + i, params[i]);
    call_entry(op_source_type(op.get()), op->w1, NO_REFINEMENTS);
    pop_call(push);
}

// --- public entries

namespace {

// The call itself: frame, arguments, body. fn is rooted by the caller.
inline uint32_t apply_call(const Cell* fn, uint32_t position, uint32_t end, const Cell* block, const Cell* path,
                           uint32_t path_position, uint32_t mode, bool infix, const Cell* called) {
    uint32_t type = cell_is(fn, TYPE_OP) ? op_source_type(fn) : cell_type(fn);
    if (type == TYPE_NATIVE || type == TYPE_ACTION) {
        mark_frame(called, KH_INTERP_CALL);
        return fetch_args(fn, position, end, block, path, path_position, mode, infix, called);
    }
    mark_frame(called, type == TYPE_ROUTINE ? KH_INTERP_CALL : KH_INTERP_FUNCTION);
    position = fetch_args(fn, position, end, block, path, path_position, mode, infix, called);
    if (unwind_pending()) return position;
    interp_invoke(fn, 0, called, 0);
    return position;
}

}  // namespace

namespace {

// Evaluates, without an evaluation step, a paren holding nothing but a simple value followed by operators
// over the arithmetic and comparison entries with simple right operands (`(k - 1)`, `(i * j + 1)`): its
// value goes to out. False when the paren is not of that kind.
bool simple_paren(const Cell* paren, Cell* out, int depth);

// The value of an operand: a simple value, or a paren holding nothing but a simple expression.
[[gnu::always_inline]] inline bool simple_operand(const Cell* c, Cell* out, int depth) {
    if (const Cell* v = simple_value(c)) {
        *out = *v;
        return true;
    }
    return cell_is(c, TYPE_PAREN) && simple_paren(c, out, depth);
}

// Applies to out the operators that follow at position (each over the arithmetic and comparison entries,
// with an operand as above), up to the first value that is not an operator. The position after them goes to
// next; false when an operator is not of that kind or needs the full path (an error to raise, a type to
// dispatch on).
[[gnu::always_inline]] inline bool simple_operators(const Cell* cells, uint32_t at, uint32_t end, Cell* out,
                                                    uint32_t* next, int depth) {
    while (at < end && cell_is(cells + at, TYPE_WORD)) {
        const Cell* op = peek_word_value(cells + at);
        if (!op) return false;
        if (!cell_is(op, TYPE_OP)) break;
        CompareOp cmp = CMP_EQUAL;
        FastOp fast = fast_op_of(op, &cmp);
        Cell right;
        if (fast == FAST_NONE || at + 1 >= end || !simple_operand(cells + at + 1, &right, depth)) return false;
        if (!fast_compute(fast, cmp, out, &right)) return false;
        at += 2;
    }
    *next = at;
    return true;
}

[[gnu::noinline]] bool simple_paren(const Cell* paren, Cell* out, int depth) {
    if (depth > 8) return false;
    Series* s = cell_series(paren);
    const Cell* cells = s->cells();
    uint32_t start = series_index(paren), end = s->cell_count(), next;
    if (start >= end || !simple_operand(cells + start, out, depth + 1)) return false;
    return simple_operators(cells, start + 1, end, out, &next, depth + 1) && next == end;
}

// A simple expression whose first operand is known: its value goes to out; returns the position after it,
// or 0.
[[gnu::always_inline]] inline uint32_t simple_chain(const Cell* first, const Cell* cells, uint32_t at, uint32_t end, Cell* out) {
    Cell result = *first;
    uint32_t next;
    if (!simple_operators(cells, at, end, &result, &next, 0)) return 0;
    *out = result;
    return next;
}

// Evaluates a simple expression without an evaluation step (`k - 1`, `n < 2`, `s + (i * j) % 7`): an
// operand followed by operators as above. Its value goes to out; returns the position after it, or 0 when
// the expression is not simple.
[[gnu::always_inline]] inline uint32_t simple_expression(const Cell* cells, uint32_t position, uint32_t end, Cell* out) {
    const Cell* first = simple_value(cells + position);
    if (first) {
        // Only a word can be an operator; simple_chain looks up its value once.
        if (position + 1 >= end || !cell_is(cells + position + 1, TYPE_WORD)) {
            *out = *first;
            return position + 1;
        }
        return simple_chain(first, cells, position + 1, end, out);
    }
    Cell value;
    if (!cell_is(cells + position, TYPE_PAREN) || !simple_paren(cells + position, &value, 0)) return 0;
    return simple_chain(&value, cells, position + 1, end, out);
}

// The same, pushing the value (nothing pushed when it returns 0).
inline uint32_t push_simple_expression(const Cell* cells, uint32_t position, uint32_t end) {
    Cell value;
    uint32_t next = simple_expression(cells, position, end, &value);
    if (next) stack_push(&value);
    return next;
}

// Runs an interpreted function's body in the call frame on top, whose argument cells the function's context
// points at meanwhile. Return and exit stop here, the result in place; any other exit stays pending. With
// traced, the prolog and epilog events are reported when tracing is active.
template <bool traced>
[[gnu::always_inline]] inline void run_body(const Cell* fn, const Cell* info, const Cell* name) {
    ValuesGuard values(fn->w1, stack_index(g_args.base));
    g_frames.top[-1].header |= FRAME_RETURN_TARGET;
    // The body stays alive with the function; eval_block keeps it as the current block meanwhile.
    Cell body = *function_ready_body(fn, info);
    if (traced && g_trace_active) trace_event(TRACE_PROLOG, &body, -1, name, fn);
    eval_block(&body, true);
    if (traced && g_trace_active) {
        uint32_t saved = g_system.pending;
        g_system.pending = UNWIND_NONE;
        trace_event_during_exit(saved, TRACE_EPILOG, &body, -1, name, fn);
        g_system.pending = saved;
    }
    if (unwind_pending()) {
        if (g_system.pending != UNWIND_RETURN && g_system.pending != UNWIND_EXIT) return;
        g_system.pending = UNWIND_NONE;  // addressed to this call: its result is in place
    }
    frame_clear_return_target(g_frames.top - 1);
}

// A call from code of a function whose arguments before any refinement are all evaluated ones, with tracing
// off: the common case, kept on a short path. Returns NOT_SIMPLE without doing anything for any other call.
uint32_t call_from_code(const Cell* function, uint32_t position, uint32_t end, const Cell* block, bool push,
                        const Cell* name) {
    uint32_t type = cell_type(function);
    bool is_function = type == TYPE_FUNCTION;
    if (!is_function && type != TYPE_NATIVE && type != TYPE_ACTION) return NOT_SIMPLE;
    const Cell* slot = args_slot(function);
    if (!cell_is(slot, TYPE_BINARY)) return NOT_SIMPLE;  // built on the general path's first call
    const ArgCache* cache = reinterpret_cast<const ArgCache*>(cell_series(slot)->head_ptr());
    if (cache->leading == NOT_SIMPLE) return NOT_SIMPLE;
    Cell* copy = stack_push(function);  // keeps the function and its argument cache alive
    mark_frame(name, is_function ? KH_INTERP_FUNCTION : KH_INTERP_CALL);
    const Param* params = params_of(cache);
    uint32_t node = block->w2;
    const Cell* cells = node_series(node)->cells();
    for (uint32_t i = 0, leading = cache->leading; i < leading; i++) {
        if (position >= end) {
            Cell word = param_word(params[i]);
            fire(ERR_SCRIPT_NO_ARG, name, &word);
        }
        // A simple argument runs no code, so the block cannot move under it: its value goes straight into
        // its cell.
        Cell* arg = stack_push_cell();
        uint32_t next = simple_expression(cells, position, end, arg);
        if (next) {
            position = next;
        } else {
            g_args.top = arg;
            position = eval_next(block, position, end, EVAL_PUSH);
            if (unwind_pending()) return position;
            cells = node_series(node)->cells();
        }
        if (!accepts(params[i], cell_type(arg))) expect_arg(name, arg, params[i]);
    }
    if (is_function) {
        // Refinements are off: false for each, none for its arguments; then the locals.
        for (uint32_t i = cache->leading; i < cache->count; i++) {
            if (params[i].kind == PARAM_REFINEMENT) {
                *stack_push_cell() = g_false_value;
            } else {
                set_none(stack_push_cell());
            }
        }
        function_init_locals(cache->locals);
        const Cell* info = node_series(copy->w3)->cells();
        const Cell* code = info + FN_INFO_CODE;
        if ((copy->header & (FN_TRACE | FN_NO_TRACE)) || (cell_is(code, TYPE_INTEGER) && cell_int(code) != 0)) {
            interp_invoke(copy, 0, name, 0);
        } else {
            run_body<false>(copy, info, name);  // tracing is off: none of its events
        }
    } else {
        call_entry(type, copy->w1, NO_REFINEMENTS);
    }
    if (unwind_pending()) return position;
    pop_call(push);
    *copy = *(g_args.top - 1);  // the result takes the place of the function copy
    g_args.top = copy + 1;
    return position;
}

}  // namespace

uint32_t interp_apply(const Cell* function, const CallSite& site) {
    uint32_t position = site.position, end = site.end, path_position = site.path_position;
    const Cell *block = site.block, *path = site.path, *name = site.name;
    uint32_t mode = site.mode;
    bool infix = site.infix, push = site.push;
    if (g_trace_active) {
        // The left operand of an operator is visible to the callback.
        if (infix) g_args.top++;
        trace_event(TRACE_OPEN, block, position, name, call_name(name));
        if (infix) g_args.top--;
    }
    const Cell* called = call_name(name);
    Cell* copy = nullptr;
    if (infix) {
        // An operator's value lives only in its word, which its operands may change.
        GcRoot keep(*function);
        position = apply_call(keep.get(), position, end, block, path, path_position, mode, true, called);
    } else {
        // The copy under the call keeps the function alive.
        copy = stack_push(function);
        position = apply_call(copy, position, end, block, path, path_position, mode, false, called);
    }
    if (unwind_pending()) return position;
    pop_call(push);
    if (g_trace_active) trace_event(TRACE_RETURN, block, position, name, stack_top());
    if (!infix) {
        *copy = *(g_args.top - 1);  // the result takes the place of the function copy
        g_args.top = copy + 1;
    }
    return position;
}

void interp_invoke(const Cell* function, uint32_t, const Cell* name, uint32_t callback_kind) {
    const Cell* fn = function;  // rooted by the caller (the copy under the call)
    // Callbacks of datatypes are traced only when asked for; bodies marked trace or no-trace set their own.
    bool active = g_trace_active;
    if (active && callback_kind && !(trace_callback_bits() & callback_kind)) active = false;
    if (fn->header & FN_TRACE) active = g_trace_enabled && !g_trace_callback_running;
    if (fn->header & FN_NO_TRACE) active = false;
    TraceScope tracing(active);
    const Cell* info = node_series(fn->w3)->cells();
    const Cell* code = info + FN_INFO_CODE;
    uint32_t type = cell_is(fn, TYPE_OP) ? op_source_type(fn) : cell_type(fn);
    if (type == TYPE_ROUTINE || (cell_is(code, TYPE_INTEGER) && cell_int(code) != 0)) {
        routine_invoke(fn);
        return;
    }
    run_body<true>(fn, info, name);
}

void interp_call(const Cell* function, const Cell* args, uint32_t count, const Cell* name, uint32_t callback_kind) {
    GcRoot fn(*function);
    const Cell* called = call_name(name);
    uint32_t type = cell_is(fn.get(), TYPE_OP) ? op_source_type(fn.get()) : cell_type(fn.get());
    bool is_function = type == TYPE_FUNCTION || type == TYPE_ROUTINE;
    const ArgCache* cache = arg_cache(fn.get());
    const Param* params = params_of(cache);
    mark_frame(called, is_function ? KH_INTERP_FUNCTION : KH_INTERP_CALL);
    uint32_t given = 0;
    bool refinement_seen = false;
    for (uint32_t i = 0; i < cache->count; i++) {
        const Param& p = params[i];
        if (p.kind == PARAM_REFINEMENT) {
            refinement_seen = true;
            if (is_function) *stack_push_cell() = g_false_value;
            continue;
        }
        if (refinement_seen) {
            if (is_function) set_none(stack_push_cell());
            continue;
        }
        Cell* c = stack_push_cell();
        if (given < count) {
            *c = args[given++];
        } else {
            set_none(c);
        }
        typecheck(called, c, p);
    }
    if (is_function) {
        function_init_locals(cache->locals);
        interp_invoke(fn.get(), 0, called, callback_kind);
    } else {
        call_entry(type, fn->w1, NO_REFINEMENTS);  // refinements are off
    }
    if (unwind_pending()) return;
    unwind_frame();
}

int interp_sort_compare(const Cell* function, const Cell* first, const Cell* second) {
    Cell args[2] = {*second, *first};
    interp_call(function, args, 2, &g_word[W_COMPARE_CALLBACK], CALLBACK_SORT);
    throw_if_pending();
    Cell answer = *stack_top();
    stack_pop(1);
    // The answer tells whether its first argument comes first: true or a positive number says so.
    switch (cell_type(&answer)) {
        case TYPE_LOGIC: return logic_get(&answer) ? 1 : -1;
        case TYPE_INTEGER: return cell_int(&answer) > 0 ? 1 : cell_int(&answer) < 0 ? -1 : 0;
        case TYPE_FLOAT: return cell_float(&answer) > 0 ? 1 : cell_float(&answer) < 0 ? -1 : 0;
        case TYPE_NONE: return -1;
        default: return 1;
    }
}

namespace {

uint32_t eval_set_word(const Cell* block, const Cell* v, uint32_t position, uint32_t end, bool push);

// A set-word (at position) given a simple value to store into a plain context: nothing in between can raise
// an error, run code or be traced, so the frame that would name the assignment is never seen and is left
// out. The value also goes to out; returns the position after it, or 0 when the assignment is not of that
// kind (nothing is stored then).
[[gnu::always_inline]] inline uint32_t set_word_simple(const Cell* cells, const Cell* v, uint32_t position, uint32_t end,
                                                       Cell* out) {
    if (position + 1 >= end) return 0;
    Cell* slot = word_slot<true>(v);
    if (!slot) return 0;
    uint32_t next = simple_expression(cells, position + 1, end, out);
    if (!next || cell_is(out, TYPE_UNSET)) return 0;
    if (word_context(v) == g_global_context) global_slot_changing(slot, out);
    *slot = *out;
    return next;
}

// The block evaluation the tracer sees: inside a hidden frame whose base is the result slot, so that the
// frame pair handed to the callback describes the block's own cells.
void eval_block_framed(const Cell* block, bool to_slot) {
    CurrentBlock current(block);
    uint32_t node = series_node(&g_current_block);
    uint32_t end = node_series(node)->cell_count();
    uint32_t position = series_index(&g_current_block);
    stack_mark_eval(&g_word[W_BODY]);
    if (g_trace_active) trace_event(TRACE_ENTER, block, position, nullptr, nullptr);
    if (position >= end) {
        set_unset(g_args.base);
        stack_keep_result();
    } else {
        while (position < end) {
            g_current_block.w1 = position;
            position = eval_next(&g_current_block, position, end, EVAL_TO_SLOT);
            if (unwind_pending()) return;
            uint32_t now = node_series(node)->cell_count();
            if (now < end) end = now;  // the block was shortened by its own code
            if (position < end) stack_reset();
        }
    }
    if (g_trace_active) trace_event(TRACE_EXIT, block, end, nullptr, g_args.base);
    if (to_slot) {
        unwind_frame_return();
    } else {
        unwind_frame();
    }
}

}  // namespace

void eval_block(const Cell* block, bool to_slot) {
    if (g_trace_active) {
        eval_block_framed(block, to_slot);
        return;
    }
    // Without tracing the hidden frame would be seen by nobody: each expression's value is pushed at the
    // cell the frame's result slot would have been, and the last one stays there.
    Cell* result = g_args.top;
    Series* s = cell_series(block);
    uint32_t position = series_index(block);
    uint32_t end = s->cell_count();
    // A block of one literal, or of one word holding a plain value (`[k]`, `[none]`), needs no step.
    if (position + 1 == end) {
        if (const Cell* value = simple_value(s->cells() + position)) {
            *result = *value;
            g_args.top = result + 1;
            if (to_slot) *g_args.base = *result;
            return;
        }
    }
    if (code_run_block(block, to_slot)) return;
    BlockScope scope(block);
    if (position >= end) set_unset(result);
    eval_block_from(position, end, result);
    if (unwind_pending()) return;
    g_args.top = result + 1;
    if (to_slot) *g_args.base = *result;
}

void eval_block_from(uint32_t position, uint32_t end, Cell* result) {
    uint32_t node = series_node(&g_current_block);
    Series* s = node_series(node);
    if (s->cell_count() < end) end = s->cell_count();
    while (position < end) {
        g_current_block.w1 = position;
        g_args.top = result;
        // A set-word's value takes every operator after it, so its expression goes straight to the
        // assignment.
        const Cell* v = s->cells() + position;
        if (cell_is(v, TYPE_SET_WORD) && !g_trace_active) {
            uint32_t next = set_word_simple(s->cells(), v, position, end, result);
            position = next ? next : eval_set_word(&g_current_block, v, position, end, true);
        } else {
            position = eval_next(&g_current_block, position, end, EVAL_PUSH);
        }
        if (unwind_pending()) return;
        s = node_series(node);  // the block's code may have grown or shortened it
        if (s->cell_count() < end) end = s->cell_count();
    }
}

uint32_t eval_one(const Cell* block, uint32_t position, uint32_t end, bool push) {
    stack_mark_interp_call(&g_word[W_BODY]);
    position = eval_next(block, position, end, push ? EVAL_PUSH : EVAL_TO_SLOT);
    if (unwind_pending()) return position;
    pop_call(push);
    return position;
}

namespace {

// The block is rooted by whoever evaluates it (the current block, or a native's argument).
struct BlockRef {
    Cell cell;
    const Cell* get() const { return &cell; }
};

// The rarer kinds of value, kept out of the evaluator's hot path. Each returns the position after the
// expression (with a code pending, wherever it stopped).

[[gnu::noinline]] uint32_t eval_paren(const Cell* v, uint32_t position, bool push) {
    Cell paren = *v;
    if (!g_trace_active) {
        eval_block(&paren, false);  // its value is pushed
        if (unwind_pending()) return position;
        if (!push) stack_set_only_result(g_args.top - 1);
        return position + 1;
    }
    stack_mark_interp_call(&g_word[W_BODY]);
    eval_block(&paren, true);
    if (unwind_pending()) return position;
    pop_call(push);
    return position + 1;
}

[[gnu::noinline]] uint32_t eval_set_word(const Cell* block, const Cell* v, uint32_t position, uint32_t end, bool push) {
    if (!g_trace_active) {
        Cell value;
        if (uint32_t next = set_word_simple(cells_of(block), v, position, end, &value)) {
            if (push) {
                stack_push(&value);
            } else {
                stack_set_only_result(&value);
            }
            return next;
        }
    }
    Cell word = *v;
    mark_frame(&word, KH_INTERP_CALL);
    stack_push(&word);
    if (g_trace_active) trace_event(TRACE_PUSH, block, position, nullptr, &word);
    position++;
    if (position >= end) fire(ERR_SCRIPT_NEED_VALUE, &word);
    uint32_t next = g_trace_active ? 0 : push_simple_expression(cells_of(block), position, end);
    if (next) {
        position = next;
    } else {
        position = eval_next(block, position, end, EVAL_PUSH);
        if (unwind_pending()) return position;
    }
    if (g_trace_active) trace_event(TRACE_SET, block, position, &word, stack_top());
    try {
        word_set_stacked();  // may run an object's change handler
    } catch (const PendingUnwind&) {
        return position;
    }
    pop_call(push);
    return position;
}

[[gnu::noinline]] uint32_t eval_set_path(const Cell* block, const Cell* v, uint32_t position, uint32_t end, bool push) {
    GcRoot path(*v);
    if (g_trace_active) trace_event(TRACE_PUSH, block, position, nullptr, path.get());
    position++;
    if (position >= end) fire(ERR_SCRIPT_NEED_VALUE, path.get());
    mark_frame(&g_word[W_SET_PATH], KH_INTERP_CALL);
    position = eval_next(block, position, end, EVAL_TO_SLOT);
    if (unwind_pending()) return position;
    if (g_trace_active) trace_event(TRACE_SET, block, position, path.get(), g_args.base);
    interp_eval_path(path.get(), position, end, block, true, false, false, false);
    if (unwind_pending()) return position;
    pop_call(push);
    return position;
}

[[gnu::noinline]] uint32_t eval_path(const Cell* block, const Cell* v, uint32_t position, uint32_t end, bool push) {
    GcRoot path(*v);
    if (cell_is(path.get(), TYPE_LIT_PATH)) {
        cell_set_type(path.get(), TYPE_PATH);
        path->w3 = 0;
        deliver(path.get(), push, block, position);
        return position + 1;
    }
    return interp_eval_path(path.get(), position + 1, end, block, false, cell_is(path.get(), TYPE_GET_PATH), push, false);
}

[[gnu::noinline]] uint32_t eval_word_other(const Cell* block, const Cell* v, uint32_t position, uint32_t end,
                                           bool push, bool literal_functions) {
    Cell value = *v;
    switch (cell_type(&value)) {
        case TYPE_GET_WORD: deliver(word_value_cell(&value), push, block, position); return position + 1;
        case TYPE_LIT_WORD:
            cell_set_type(&value, TYPE_WORD);
            deliver(&value, push, block, position);
            return position + 1;
        case TYPE_OP: fire(ERR_INTERNAL_NOT_DONE);
        case TYPE_ISSUE: {
            uint32_t sym = symbol_resolve(word_symbol(&value));
            if (position + 1 < end && cell_is(cells_of(block) + position + 1, TYPE_BLOCK) &&
                (sym == g_sym[SYM_SYSTEM] || sym == g_sym[SYM_SYSTEM_GLOBAL])) {
                fire(ERR_INTERNAL_ZOL_SYSTEM);
            }
            deliver(&value, push, block, position);
            return position + 1;
        }
        default:  // a function value standing in the code
            if (literal_functions) {
                deliver(&value, push, block, position);
                return position + 1;
            }
            return interp_apply(&value, CallSite{.block = block, .position = position + 1 < end ? position + 1 : end,
                                                 .end = end, .push = push});
    }
}

// A word whose value is a function: the call.
[[gnu::always_inline]] inline uint32_t eval_call(const Cell* block, const Cell* word, const Cell* value, uint32_t position,
                                     uint32_t end, bool push) {
    Cell fn = *value, name = *word;
    uint32_t next = g_trace_active ? NOT_SIMPLE : call_from_code(&fn, position, end, block, push, &name);
    if (next != NOT_SIMPLE) return next;
    return interp_apply(&fn, CallSite{.block = block, .position = position, .end = end, .name = &name, .push = push});
}

}  // namespace

uint32_t eval_next(const Cell* block_in, uint32_t position, uint32_t end, EvalFlags flags) {
    bool push = flags & EVAL_PUSH, no_infix = flags & EVAL_NO_INFIX, literal_functions = flags & EVAL_LITERAL_FUNCTIONS;
    BlockRef block{*block_in};
    Cell* start_top = g_args.top;
    uint32_t start = position;
    const Cell* v = cells_of(block.get()) + position;
    if (g_trace_active) trace_event(TRACE_FETCH, block.get(), position, nullptr, v);
    uint32_t type = cell_type(v);
    if (type == TYPE_WORD) {
        const Cell* value = word_value_cell(v);
        uint32_t value_type = cell_type(value);
        if (!((NOT_PLAIN_VALUE >> value_type) & 1)) {
            deliver(value, push, block.get(), position);
            position++;
        } else if (value_type == TYPE_UNSET) {
            fire(ERR_SCRIPT_NO_VALUE, v);
        } else if (value_type == TYPE_OP) {
            fire(ERR_SCRIPT_NO_OP_ARG, v);
        } else {
            position = eval_call(block.get(), v, value, position + 1, end, push);
            if (unwind_pending()) return position;
        }
    } else if (!((NOT_INERT >> type) & 1)) {
        deliver(v, push, block.get(), position);
        position++;
    } else {
        switch (type) {
            case TYPE_PAREN: position = eval_paren(v, position, push); break;
            case TYPE_SET_WORD: position = eval_set_word(block.get(), v, position, end, push); break;
            case TYPE_SET_PATH: position = eval_set_path(block.get(), v, position, end, push); break;
            case TYPE_PATH:
            case TYPE_GET_PATH:
            case TYPE_LIT_PATH: position = eval_path(block.get(), v, position, end, push); break;
            default: position = eval_word_other(block.get(), v, position, end, push, literal_functions); break;
        }
        if (unwind_pending()) return position;
    }
    if (no_infix) return position;
    position = eval_infix(block.get(), position, end, start_top, push);
    if (unwind_pending()) return position;
    if (g_trace_active && !push) {
        Cell at;
        set_integer(&at, int32_t(start));
        trace_event(TRACE_EXPR, block.get(), position, &at, g_args.base);
    }
    return position;
}

uint32_t eval_infix(const Cell* block_in, uint32_t position, uint32_t end, Cell* start_top, bool push) {
    BlockRef block{*block_in};
    // Infix operators: each takes the value so far as its left operand.
    while (position < end) {
        const Cell* next = cells_of(block.get()) + position;
        // Only a word that has a value now can name an operator: a word of a function whose call has
        // ended is left to be the next expression (and to raise its error there).
        if (!cell_is(next, TYPE_WORD)) break;
        Cell op_word = *next;
        const Cell* value = peek_word_value(&op_word);
        if (!value || !cell_is(value, TYPE_OP)) break;
        Cell op = *value;
        if (g_trace_active) trace_event(TRACE_FETCH, block.get(), position, nullptr, &op_word);
        g_args.top = start_top;
        CompareOp cmp = CMP_EQUAL;
        FastOp fast = fast_op_of(&op, &cmp);
        if (fast != FAST_NONE && position + 1 < end && !g_trace_active) {
            // A literal number or a word holding one on the right: no call needed.
            const Cell* right = cells_of(block.get()) + position + 1;
            if (cell_is(right, TYPE_WORD)) right = peek_word_value(right);
            if (right && fast_compute(fast, cmp, start_top, right)) {
                g_args.top = start_top + 1;
                position += 2;
                continue;
            }
            if (!right || cell_is(right, TYPE_PAREN) || type_in(FAMILY_ANY_FUNCTION, cell_type(right))) {
                // Any other right operand is evaluated first; two numbers are then computed in place and
                // anything else goes to the operator's function with both operands in place.
                g_args.top = start_top + 1;
                position = eval_next(block.get(), position + 1, end, EVAL_PUSH | EVAL_NO_INFIX);
                if (unwind_pending()) return position;
                if (fast_compute(fast, cmp, start_top, start_top + 1)) {
                    g_args.top = start_top + 1;
                } else {
                    call_operator(&op, start_top, &op_word, push);
                }
                continue;
            }
        }
        position = interp_apply(&op, CallSite{.block = block.get(), .position = position + 1, .end = end, .name = &op_word,
                                              .infix = true, .push = push});
        if (unwind_pending()) return position;
    }
    return position;
}

uint32_t interp_eval_path(const Cell* path_in, uint32_t position, uint32_t end, const Cell* block, bool set, bool get,
                          bool push, bool case_sensitive) {
    GcRoot path(*path_in);
    Cell* entry_top = g_args.top;
    Series* s = cell_series(path.get());
    uint32_t head = series_index(path.get());
    uint32_t tail = s->used();
    if (head >= tail) fire(ERR_SCRIPT_EMPTY_PATH);
    Cell first = s->cells()[head];
    if (g_trace_active) {
        trace_event(TRACE_ENTER, path.get(), head, nullptr, nullptr);
        trace_event(TRACE_FETCH, path.get(), head, nullptr, &first);
    }
    if (!cell_is(&first, TYPE_WORD)) fire(ERR_SCRIPT_WORD_FIRST, path.get());
    const Cell* value = word_value_cell(&first);
    if (type_in(FAMILY_ANY_FUNCTION, cell_type(value)) && !cell_is(value, TYPE_OP)) {
        if (set) fire(ERR_SCRIPT_INVALID_PATH_SET, path.get());
        if (get) fire(ERR_SCRIPT_INVALID_PATH_GET, path.get());
        Cell fn = *value;
        position = interp_apply(&fn, CallSite{.block = block, .position = position, .end = end, .path = path.get(),
                                              .path_position = head, .name = &first, .push = true});
        if (unwind_pending()) return position;
        if (!push) stack_set_only_result(stack_top());
        if (g_trace_active) trace_event(TRACE_EXIT, path.get(), tail, nullptr, stack_top());
        return position;
    }
    if (cell_is(value, TYPE_UNSET)) fire(ERR_SCRIPT_UNSET_PATH, path.get(), &first);
    // The parent of the first step: the owner of the word's context, unless it is global or an object.
    GcRoot parent, current(*value), previous(first);
    uint32_t context = word_context(&first);
    if (context && context != g_global_context) {
        const Cell* owner = context_owner(context);
        if (!cell_is(owner, TYPE_OBJECT)) *parent = *owner;
    }
    bool have_parent = !cell_is(parent.get(), TYPE_NONE);
    GcRoot selector;
    for (uint32_t i = head + 1; i < tail; i++) {
        Cell element = cell_series(path.get())->cells()[i];
        if (g_trace_active) trace_event(TRACE_FETCH, path.get(), i, nullptr, &element);
        switch (cell_type(&element)) {
            case TYPE_GET_WORD: *selector = *word_value_cell(&element); break;
            case TYPE_PAREN: {
                GcRoot paren(element);
                eval_block(paren.get(), false);
                if (unwind_pending()) return position;
                *selector = *stack_top();
                stack_pop(1);
                break;
            }
            default: *selector = element; break;
        }
        if (g_trace_active) trace_event(TRACE_PUSH, path.get(), i, nullptr, selector.get());
        if (cell_is(selector.get(), TYPE_UNSET)) fire(ERR_SCRIPT_INVALID_PATH, path.get(), &element);
        bool last = i + 1 == tail;
        PathStep step;
        step.element = selector.get();
        step.set_value = set && last ? g_args.base : nullptr;
        step.path = path.get();
        step.parent = have_parent ? parent.get() : nullptr;
        step.previous = previous.get();
        step.index = int(i - head);
        step.case_sensitive = case_sensitive;
        step.get = get;
        step.last = last;
        uint32_t pt = cell_type(parent.get());
        step.may_own = set && last && i - head >= 2 && have_parent &&
                       (type_in(FAMILY_ANY_BLOCK, pt) || (pt == TYPE_OBJECT && parent->w3 != 0 && cell_is(previous.get(), TYPE_WORD)));
        auto fn = actions_get_path_action(current.get(), path.get(), &element, int(i - head));
        const Cell* reached;
        try {
            reached = fn(current.get(), step);  // may run an object's change handler
        } catch (const PendingUnwind&) {
            return position;
        }
        *parent = *current;
        have_parent = true;
        *current = *reached;
        *previous = *selector;  // what selected the value (a paren's result), so a set can select it again
        if (!set && !get && type_in(FAMILY_ANY_FUNCTION, cell_type(current.get())) && !cell_is(current.get(), TYPE_OP)) {
            // A function reached mid-path is called; the elements after it are its refinements.
            Cell fn_value = *current;
            position = interp_apply(&fn_value, CallSite{.block = block, .position = position, .end = end, .path = path.get(),
                                                        .path_position = i, .name = &element, .push = true});
            if (unwind_pending()) return position;
            *current = *stack_top();
            break;
        }
    }
    trace(TRACE_EXIT, path.get(), tail, nullptr, current.get());
    g_args.top = entry_top;
    deliver(current.get(), push, block, position);
    return position;
}

}  // namespace zol
