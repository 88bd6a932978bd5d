// function! and routine!: function values written in the language, and routines of the runtime called
// through a spec.
#include "function.h"

#include "block.h"
#include "context.h"
#include "logic.h"
#include "registry.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "runtime/values/predefined.h"
#include "runtime/values/support.h"
#include "runtime/stack.h"
#include "string.h"
#include "symbol.h"
#include "typeset.h"
#include "word.h"

namespace zol {

bool g_making_builtins = false;

Cell* function_info(const Cell* f, uint32_t index) { return node_series(function_info_node(f))->cells() + index; }

void function_bind_body(const Cell* f) {
    Cell* body = function_info(f, FN_INFO_BODY);
    if (!(body->header & FN_BODY_UNBOUND)) return;
    body->header &= ~FN_BODY_UNBOUND;
    context_bind_block(body, f->w1, false);  // allocates nothing: the info cell stays where it is
}

Cell* function_body(const Cell* f) {
    function_bind_body(f);
    return function_info(f, FN_INFO_BODY);
}

namespace {

Cell* spec_cells(const Cell* spec, uint32_t* count) {
    Series* s = cell_series(spec);
    uint32_t used = s->used();
    *count = series_index(spec) < used ? used - series_index(spec) : 0;
    return s->cells() + series_index(spec);
}

[[noreturn]] void bad_spec(const Cell* spec) { fire(ERR_SCRIPT_BAD_FUNC_DEF, spec); }

bool is_symbol(const Cell* c, uint32_t sym) { return symbol_resolve(word_symbol(c)) == symbol_resolve(sym); }

void check_type_block(const Cell* block) {
    Series* s = cell_series(block);
    for (uint32_t i = series_index(block); i < s->used(); i++) {
        const Cell* e = cell_series(block)->cells() + i;
        const Cell* v = e;
        if (cell_is(e, TYPE_WORD)) {
            v = word_value_cell(e);
            if (cell_is(v, TYPE_UNSET)) fire(ERR_SCRIPT_NO_VALUE, e);
        }
        uint32_t t = cell_type(v);
        if (t != TYPE_DATATYPE && t != TYPE_TYPESET && t != TYPE_WORD) fire(ERR_SCRIPT_INVALID_TYPE_SPEC, e);
    }
}

}  // namespace

uint32_t function_check_spec(const Cell* spec) {
    uint32_t count;
    const Cell* cells = spec_cells(spec, &count);
    uint32_t flags = 0;
    uint32_t i = 0;
    if (count > 0 && cell_is(&cells[0], TYPE_BLOCK)) {
        uint32_t n;
        const Cell* attrs = spec_cells(&cells[0], &n);
        for (uint32_t k = 0; k < n; k++) {
            if (!cell_is(&attrs[k], TYPE_WORD)) bad_spec(spec);
            if (is_symbol(&attrs[k], g_sym[SYM_TRACE])) flags |= FN_TRACE;
            if (is_symbol(&attrs[k], g_sym[SYM_NO_TRACE])) flags |= FN_NO_TRACE;
        }
        i = 1;
    }
    bool after_return = false, after_local = false;
    for (; i < count; i++) {
        cells = spec_cells(spec, &count);
        const Cell* c = &cells[i];
        switch (cell_type(c)) {
            case TYPE_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
                if (after_local && !cell_is(c, TYPE_WORD)) bad_spec(spec);
                if (after_return && !after_local) bad_spec(spec);
                if (i + 1 < count && cell_is(&cells[i + 1], TYPE_BLOCK)) {
                    check_type_block(&cells[i + 1]);
                    i++;
                }
                break;
            case TYPE_STRING:
                if (i + 1 < count && cell_is(&cells[i + 1], TYPE_BLOCK)) bad_spec(spec);  // "doc" [type]
                break;
            case TYPE_SET_WORD:
                if (!is_symbol(c, g_sym[SYM_RETURN]) || after_return || after_local) bad_spec(spec);
                if (i + 1 >= count || !cell_is(&cells[i + 1], TYPE_BLOCK)) bad_spec(spec);
                if (i + 2 < count && !cell_is(&cells[i + 2], TYPE_REFINEMENT) && !cell_is(&cells[i + 2], TYPE_STRING)) {
                    bad_spec(spec);
                }
                check_type_block(&cells[i + 1]);
                after_return = true;
                i++;
                break;
            case TYPE_REFINEMENT: {
                bool local = is_symbol(c, word_symbol(&g_refinement[R_LOCAL]));
                if (!local && (after_local || after_return)) bad_spec(spec);
                if (local) after_local = true;
                if (i + 1 < count) {
                    uint32_t t = cell_type(&cells[i + 1]);
                    if (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD && t != TYPE_REFINEMENT &&
                        t != TYPE_SET_WORD && t != TYPE_STRING) {
                        bad_spec(spec);
                    }
                }
                break;
            }
            default: bad_spec(spec);
        }
    }
    // The same name twice, in any case, is an error naming the second occurrence.
    cells = spec_cells(spec, &count);
    for (uint32_t a = 0; a < count; a++) {
        uint32_t t = cell_type(&cells[a]);
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT) continue;
        for (uint32_t b = a + 1; b < count; b++) {
            uint32_t u = cell_type(&cells[b]);
            if (u != TYPE_WORD && u != TYPE_LIT_WORD && u != TYPE_GET_WORD && u != TYPE_REFINEMENT) continue;
            if (symbol_resolve(word_symbol(&cells[a])) == symbol_resolve(word_symbol(&cells[b]))) {
                fire(ERR_SCRIPT_DUP_VARS, &cells[b]);
            }
        }
    }
    return flags;
}

uint32_t function_build(const Cell* spec_in, const Cell* body_in, uint32_t context, uint32_t code, uint32_t owner, uint32_t flags) {
    GcRoot spec(*spec_in), body(*body_in);
    if (series_index(spec.get()) > 0) {
        uint32_t n;
        spec_cells(spec.get(), &n);
        uint32_t copy = series_copy_range(series_node(spec.get()), series_index(spec.get()), n);
        set_series(spec.get(), TYPE_BLOCK, copy);
    }
    if (series_index(body.get()) > cell_series(body.get())->used()) body->w1 = cell_series(body.get())->used();
    GcRoot info;
    set_series(info.get(), TYPE_BLOCK, series_alloc_cells_unset(FN_INFO_COUNT));
    cell_series(info.get())->tail = cell_series(info.get())->head + FN_INFO_COUNT * sizeof(Cell);
    bool made_here = context == 0;
    if (made_here) context = context_make_from_spec(spec.get(), true);
    GcRoot keep_context(context_holder(context));
    Cell fn;
    fn.header = TYPE_FUNCTION | flags | (g_making_builtins ? FN_NO_TRACE : 0);
    fn.w1 = context;
    fn.w2 = series_node(spec.get());
    fn.w3 = series_node(info.get());
    *context_owner(context) = fn;
    GcRoot body_copy(*block_clone(body.get(), true, false));
    stack_pop(1);
    Cell* cells = cell_series(info.get())->cells();
    cells[FN_INFO_BODY] = *body_copy;
    if (code) set_integer(&cells[FN_INFO_CODE], int32_t(code));
    if (owner) set_integer(&cells[FN_INFO_OWNER], int32_t(owner));
    if (made_here) cells[FN_INFO_BODY].header |= FN_BODY_UNBOUND;  // bound on first use
    stack_push(&fn);
    return context;
}

Cell* routine_build(const Cell* spec_in, const Cell* body, uint32_t code, int32_t data, bool cells_convention) {
    GcRoot spec(*spec_in);
    GcRoot body_keep(body ? *body : g_none_value);
    uint32_t context = context_make_from_spec(spec.get(), true);
    GcRoot keep_context(context_holder(context));
    uint32_t info = series_alloc_cells_unset(FN_INFO_COUNT);
    node_series(info)->tail = node_series(info)->head + FN_INFO_COUNT * sizeof(Cell);
    Cell* cells = node_series(info)->cells();
    cells[FN_INFO_BODY] = *body_keep;
    set_integer(&cells[FN_INFO_CODE], int32_t(code));
    set_integer(&cells[FN_INFO_OWNER], data);
    uint32_t arity = 0, n;
    const Cell* sc = spec_cells(spec.get(), &n);
    for (uint32_t i = 0; i < n; i++) arity += cell_is(&sc[i], TYPE_WORD);
    Cell r;
    r.header = TYPE_ROUTINE | (cells_convention ? ROUTINE_CELLS : 0) | ((arity << ROUTINE_ARITY_SHIFT) & ROUTINE_ARITY_MASK);
    r.w1 = context;
    r.w2 = series_node(spec.get());
    r.w3 = info;
    *context_owner(context) = r;
    return stack_push(&r);
}

uint32_t function_count_locals(const Cell* spec) {
    uint32_t n;
    const Cell* cells = spec_cells(spec, &n);
    uint32_t count = 0;
    bool local = false;
    for (uint32_t i = 0; i < n; i++) {
        if (cell_is(&cells[i], TYPE_REFINEMENT) && is_symbol(&cells[i], word_symbol(&g_refinement[R_LOCAL]))) {
            local = true;
            count = 1;
        } else if (local && cell_is(&cells[i], TYPE_WORD)) {
            count++;
        } else if (local && cell_is(&cells[i], TYPE_SET_WORD)) {
            break;
        }
    }
    return count;
}

void function_push_locals(uint32_t count) {
    *stack_push_cell() = g_false_value;
    for (uint32_t i = 1; i < count; i++) set_none(stack_push_cell());
}

namespace {

bool find_word(const Cell* block, const Cell* word) {
    uint32_t n;
    const Cell* cells = spec_cells(block, &n);
    for (uint32_t i = 0; i < n; i++) {
        if (is_any_word(&cells[i]) && symbol_resolve(word_symbol(&cells[i])) == symbol_resolve(word_symbol(word))) return true;
    }
    return false;
}

// Collects a word into the locals unless the spec (or the locals) already hold it.
void collect(Cell* seen, Cell* locals, const Cell* word) {
    Cell w = *word;
    cell_set_type(&w, TYPE_WORD);
    w.header &= ~HDR_NEW_LINE;
    if (find_word(seen, &w)) return;
    *block_alloc_tail(locals) = w;
    *block_alloc_tail(seen) = w;
}

void collect_body(Cell* seen, Cell* locals, const Cell* body) {
    stack_check_native();
    if (cycles_find(series_node(body))) return;
    VisitGuard guard(series_node(body));
    for (uint32_t i = series_index(body); i < cell_series(body)->used(); i++) {
        Cell c = cell_series(body)->cells()[i];
        uint32_t t = cell_type(&c);
        if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            GcRoot inner(c);
            collect_body(seen, locals, inner.get());
        } else if (t == TYPE_SET_WORD) {
            collect(seen, locals, &c);
        } else if (t == TYPE_WORD && i + 1 < cell_series(body)->used()) {
            uint32_t sym = symbol_resolve(word_symbol(&c));
            Cell next = cell_series(body)->cells()[i + 1];
            bool each = sym == g_sym[SYM_FOREACH] || sym == g_sym[SYM_REMOVE_EACH];
            if (each && cell_is(&next, TYPE_BLOCK)) {
                for (uint32_t k = series_index(&next); k < cell_series(&next)->used(); k++) {
                    Cell v = cell_series(&next)->cells()[k];
                    uint32_t vt = cell_type(&v);
                    if (vt == TYPE_WORD || vt == TYPE_LIT_WORD || vt == TYPE_GET_WORD) collect(seen, locals, &v);
                }
            } else if ((each || sym == g_sym[SYM_REPEAT]) && (cell_is(&next, TYPE_WORD) || cell_is(&next, TYPE_SET_WORD))) {
                collect(seen, locals, &next);
            }
        }
    }
}

}  // namespace

void function_collect_locals(Cell* spec, const Cell* body, Cell* collected) {
    GcRoot body_keep(*body);
    set_series(collected, TYPE_BLOCK, series_alloc_cells(8));
    // The spec is copied, so the caller's block is left as it was.
    uint32_t n;
    spec_cells(spec, &n);
    set_series(spec, TYPE_BLOCK, series_copy_range(series_node(spec), series_index(spec), n));
    GcRoot seen;
    set_series(seen.get(), TYPE_BLOCK, series_copy_range(series_node(spec), 0, n));
    uint32_t extern_sym = word_symbol(&g_refinement[R_EXTERN]), local_sym = word_symbol(&g_refinement[R_LOCAL]);
    const Cell* cells = spec_cells(spec, &n);
    int32_t extern_at = -1;
    for (uint32_t i = 0; i < n; i++) {
        if (cell_is(&cells[i], TYPE_REFINEMENT) && is_symbol(&cells[i], extern_sym)) {
            extern_at = int32_t(i);
            break;
        }
    }
    if (extern_at >= 0) {
        uint32_t i = uint32_t(extern_at) + 1;
        while (i < n && cell_is(&cells[i], TYPE_WORD)) i++;
        if (i < n && cell_is(&cells[i], TYPE_REFINEMENT) && is_symbol(&cells[i], local_sym)) {
            for (i++; i < n; i++) {
                if (cell_is(&cells[i], TYPE_WORD)) *block_alloc_tail(collected) = cell_series(spec)->cells()[i];
                cells = spec_cells(spec, &n);
            }
        }
        Series* s = cell_series(spec);
        s->tail = s->head + uint32_t(extern_at) * sizeof(Cell);
    }
    // The words not to collect: every word kind of the spec as a plain word.
    for (uint32_t i = 0; i < cell_series(seen.get())->used(); i++) {
        Cell* c = cell_series(seen.get())->cells() + i;
        uint32_t t = cell_type(c);
        if (t == TYPE_WORD || t == TYPE_BLOCK || t == TYPE_STRING) continue;
        if (t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT) {
            cell_set_type(c, TYPE_WORD);
        } else if (extern_at >= 0) {
            fire(ERR_SCRIPT_BAD_FUNC_EXTERN, c);
        }
    }
    collect_body(seen.get(), collected, body_keep.get());
    Series* locals = cell_series(collected);
    if (locals->used() == 0) return;
    bool has_local = false;
    cells = spec_cells(spec, &n);
    for (uint32_t i = 0; i < n; i++) has_local |= cell_is(&cells[i], TYPE_REFINEMENT) && is_symbol(&cells[i], local_sym);
    if (!has_local) *block_alloc_tail(spec) = g_refinement[R_LOCAL];
    for (uint32_t i = 0; i < cell_series(collected)->used(); i++) {
        Cell w = cell_series(collected)->cells()[i];
        if (symbol_resolve(word_symbol(&w)) == symbol_resolve(word_symbol(&g_word[W_LOCAL]))) continue;
        *block_alloc_tail(spec) = w;
    }
}

Cell error_get_call_argument(const Cell* function, uint32_t n) {
    if (type_in(FAMILY_ANY_FUNCTION, cell_type(function)) && function->w2) {
        Cell spec;
        set_series(&spec, TYPE_BLOCK, function->w2);
        uint32_t count;
        const Cell* cells = spec_cells(&spec, &count);
        for (uint32_t i = 0; i < count; i++) {
            uint32_t t = cell_type(&cells[i]);
            if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT) {
                if (n-- == 0) return cells[i];
            }
        }
    }
    return g_word[W_ANON];
}

// --- actions of function! and routine!

namespace {

const Cell* function_make(Cell*, Cell* spec, TypeId) {
    uint32_t n;
    const Cell* cells = cell_is(spec, TYPE_BLOCK) ? spec_cells(spec, &n) : nullptr;
    if (!cells || n < 2 || !cell_is(&cells[0], TYPE_BLOCK) || !cell_is(&cells[1], TYPE_BLOCK)) bad_spec(spec);
    GcRoot fspec(cells[0]), body(cells[1]);
    uint32_t flags = function_check_spec(fspec.get());
    function_build(fspec.get(), body.get(), 0, 0, 0, flags);
    return stack_top();
}

void function_reflect(Cell* value, uint32_t field) {
    function_bind_body(value);  // what reflection shows is the function as it runs
    uint32_t f = symbol_resolve(field);
    Cell result = g_none_value;
    if (f == g_sym[SYM_SPEC]) {
        set_series(&result, TYPE_BLOCK, value->w2);
    } else if (f == g_sym[SYM_BODY]) {
        result = *function_body(value);
    } else if (f == g_sym[SYM_WORDS]) {
        GcRoot fn(*value), block;
        set_series(block.get(), TYPE_BLOCK, series_alloc_cells(4));
        uint32_t context = fn->w1;
        for (uint32_t i = 0; i < context_word_count(context); i++) {
            Cell w = *context_word_at(context, i);
            w.w1 = context;
            *block_alloc_tail(block.get()) = w;
        }
        result = *block;
    } else {
        fire(ERR_INTERNAL_NOT_DONE);
    }
    stack_set_only_result(&result);
}

int function_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    const char* text = cell_is(value, TYPE_ROUTINE) ? "?routine?" : "?function?";
    string_append_ascii(out, text);
    return budget - int(__builtin_strlen(text));
}

int function_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    bool routine = cell_is(value, TYPE_ROUTINE);
    string_append_ascii(out, routine ? "routine " : "func ");
    budget -= routine ? 8 : 5;
    GcRoot spec, body(*function_body(value));
    set_series(spec.get(), TYPE_BLOCK, value->w2);
    MoldArgs inner = args;
    inner.only = false;
    budget = mold_value(spec.get(), out, inner, budget);
    if (cell_is(body.get(), TYPE_NONE) && !routine) {
        string_append_ascii(out, " none");
        return budget - 5;
    }
    if (!cell_is(body.get(), TYPE_BLOCK)) {
        string_append_ascii(out, " ");
        budget--;
    }
    return mold_value(body.get(), out, inner, budget);
}

int function_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (cell_type(value) != cell_type(other)) return COMPARE_INCOMPARABLE;
    switch (op) {
        case CMP_LESSER:
        case CMP_LESSER_OR_EQUAL:
        case CMP_GREATER:
        case CMP_GREATER_OR_EQUAL: return COMPARE_INCOMPARABLE;
        default: return int32_t(value->w3) < int32_t(other->w3) ? -1 : value->w3 == other->w3 ? 0 : 1;
    }
}

// make routine! [spec [entry data]]: a routine of the built-in scripts over the C++ entry registered under
// the body's first word, which the first call looks up. The body's second value, when there is one, is the
// routine's data: an integer, or a datatype (or a word holding one) as its id. Only the built-in scripts make
// routines: a routine's entry trusts its spec to have shaped the arguments it reads.
const Cell* routine_make(Cell*, Cell* spec, TypeId) {
    if (!g_making_builtins) {
        Cell argument = word_load("type");
        fire_expect_arg_word(TYPE_ROUTINE, &argument);
    }
    uint32_t n;
    const Cell* cells = cell_is(spec, TYPE_BLOCK) ? spec_cells(spec, &n) : nullptr;
    if (!cells || n != 2 || !cell_is(&cells[0], TYPE_BLOCK) || !cell_is(&cells[1], TYPE_BLOCK)) bad_spec(spec);
    GcRoot rspec(cells[0]), body(cells[1]);
    function_check_spec(rspec.get());
    uint32_t count;
    const Cell* items = spec_cells(body.get(), &count);
    if (count < 1 || count > 2 || !cell_is(&items[0], TYPE_WORD)) bad_spec(spec);
    int32_t data = 0;
    if (count == 2) {
        const Cell* d = &items[1];
        if (cell_is(d, TYPE_WORD)) d = context_global_value_cell(word_symbol(d));
        if (d && cell_is(d, TYPE_INTEGER)) data = cell_int(d);
        if (d && cell_is(d, TYPE_DATATYPE)) data = int32_t(datatype_id(d));
    }
    return routine_build(rspec.get(), body.get(), 0, data, false);
}

}  // namespace

void function_init(DatatypeRegistry& registry) {
    Registration r(TYPE_FUNCTION);
    r.own<ACT_MAKE>(function_make).own<ACT_REFLECT>(function_reflect).own<ACT_FORM>(function_form);
    r.own<ACT_MOLD>(function_mold).own<ACT_COMPARE>(function_compare);
    registry.register_datatype(r);
}

void routine_init(DatatypeRegistry& registry) {
    Registration r(TYPE_ROUTINE);
    r.own<ACT_MAKE>(routine_make).own<ACT_FORM>(function_form).own<ACT_MOLD>(function_mold).own<ACT_COMPARE>(function_compare);
    r.inherit(ACT_REFLECT);
    registry.register_datatype(r);
}

}  // namespace zol
