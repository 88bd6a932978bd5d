// The word family.
#include "word.h"

#include <cstring>

#include "context.h"
#include "runtime/unicode.h"
#include "runtime/values/language.h"
#include "runtime/gc.h"
#include "error.h"
#include "logic.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"
#include "string.h"
#include "symbol.h"

namespace zol {

Cell word_load(const char* name) { return context_global_word(symbol_make(name), true); }

Cell word_make_global(uint32_t symbol) { return context_global_word(symbol, false); }

Cell* word_make_at(uint32_t symbol, Cell* target) {
    uint32_t index = context_add_word(g_global_context, symbol);
    set_word(target, TYPE_WORD, g_global_context, symbol, index);
    return target;
}

Cell* word_push(uint32_t symbol) {
    Cell w;
    word_make_at(symbol, &w);
    return stack_push(&w);
}

Cell refinement_load(const char* name) {
    Cell r;
    set_word(&r, TYPE_REFINEMENT, 0, symbol_make(name));
    return r;
}

Cell issue_load(const char* name) {
    Cell r;
    set_word(&r, TYPE_ISSUE, 0, symbol_make(name));
    return r;
}

Cell* word_get_value(const Cell* word) {
    Cell* value = word_value_cell(word);
    if (cell_is(value, TYPE_UNSET)) fire(ERR_SCRIPT_NO_VALUE, word);
    return stack_push(value);
}

Cell* word_get_any(const Cell* word) { return stack_push(word_value_cell(word)); }

void word_set_stacked() {
    Cell* word = g_args.base;
    const Cell* value = g_args.base + 1;
    if (cell_is(value, TYPE_UNSET)) fire(ERR_SCRIPT_NEED_VALUE, word);
    Cell v = *value;
    word_set_value(word, &v);
    stack_set_only_result(&v);
}

namespace {

// Appends a symbol's name to a string.
int append_name(const Cell* word, Cell* out, int budget) {
    uint32_t length;
    const uint8_t* name = symbol_bytes(word_symbol(word), &length);
    uint32_t count = string_append_utf8(out, name, length);
    return budget - int(count);
}

int word_form(const Cell* value, Cell* out, const MoldArgs&, int budget) { return append_name(value, out, budget); }

int word_mold(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    switch (cell_type(value)) {
        case TYPE_SET_WORD:
            budget = append_name(value, out, budget);
            string_append_ascii(out, ":");
            return budget - 1;
        case TYPE_LIT_WORD: string_append_ascii(out, "'"); break;
        case TYPE_GET_WORD: string_append_ascii(out, ":"); break;
        case TYPE_REFINEMENT: string_append_ascii(out, "/"); break;
        default: return append_name(value, out, budget);
    }
    return append_name(value, out, budget - 1);
}

// The datatype the name of a symbol reads as, lexed alone.
int32_t word_lex_spelling(uint32_t symbol) {
    uint32_t length;
    const uint8_t* bytes = symbol_bytes(symbol, &length);
    std::string name(reinterpret_cast<const char*>(bytes), length);  // the lexer may add symbols
    GcRoot text, scanned;
    set_series(text.get(), TYPE_STRING,
               unicode_load_utf8_new(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size())));
    return g_language.load_source(scanned.get(), text.get(), -1, LexOptions{.one = true, .scan = true});
}

const Cell* word_make(Cell*, Cell* spec, TypeId type) {
    Cell* result = stack_push_cell();
    set_none(result);  // marked from now on, and word_make_global allocates
    switch (family_case(cell_type(spec), FAMILY_ANY_WORD, TYPE_WORD)) {
        case TYPE_CHAR:
        case TYPE_STRING: {
            // The text is read as one value, which must be a word of some kind.
            GcRoot text(*spec), loaded;
            if (cell_is(spec, TYPE_CHAR)) {
                uint32_t cp = cell_char(spec);
                string_make(text.get());
                string_append_char(series_node(text.get()), cp);
            }
            g_language.load_source(loaded.get(), text.get(), -1, LexOptions{.one = true});
            if (!is_any_word(loaded.get())) fire(ERR_SCRIPT_INVALID_CHARS);
            *result = *loaded;
            break;
        }
        case TYPE_REFINEMENT:
        case TYPE_ISSUE: {
            int32_t read_as = word_lex_spelling(word_symbol(spec));
            if (read_as < int32_t(TYPE_WORD) || read_as > int32_t(TYPE_GET_WORD)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, type, spec);
            *result = *spec;
            context_bind_word(g_global_context, result);
            break;
        }
        case TYPE_DATATYPE: *result = g_types.row(datatype_id(spec)).word; break;
        case TYPE_LOGIC: *result = word_make_global(g_sym[logic_get(spec) ? SYM_TRUE : SYM_FALSE]); break;
        case TYPE_WORD: *result = *spec; break;  // any-word!
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, type, spec);
    }
    cell_set_type(result, type);
    return result;
}

bool is_word_or_lit(const Cell* c) { return cell_is(c, TYPE_WORD) || cell_is(c, TYPE_LIT_WORD); }

int word_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!is_any_word(other)) return COMPARE_INCOMPARABLE;
    if (cell_is(value, TYPE_ISSUE) != cell_is(other, TYPE_ISSUE)) return COMPARE_INCOMPARABLE;
    uint32_t a = word_symbol(value), b = word_symbol(other);
    bool same_type = cell_type(value) == cell_type(other);
    switch (op) {
        case CMP_SAME: return a == b && word_context(value) == word_context(other) && same_type ? 0 : 1;
        case CMP_FIND_WORD:
            if (is_word_or_lit(value) && is_word_or_lit(other) && !same_type) return a == b ? 0 : 1;
            return same_type && a == b ? 0 : 1;
        case CMP_STRICT_EQUAL: return same_type && a == b ? 0 : 1;
        case CMP_FIND_WORD_STRICT:
            // A word! against a lit-word! compares as equal? does: their names, case ignored.
            if (is_word_or_lit(value) && is_word_or_lit(other) && !same_type) return symbol_resolve(a) == symbol_resolve(b) ? 0 : 1;
            return same_type && symbol_resolve(a) == symbol_resolve(b) ? 0 : 1;
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_FIND: return symbol_resolve(a) == symbol_resolve(b) ? 0 : 1;
        default: return symbol_compare_names(a, b, op == CMP_CASE_SORT);
    }
}

void word_index_q() {
    const Cell* w = g_args.base;
    if (word_index(w) == WORD_UNRESOLVED) {
        none_set_result();
    } else {
        set_integer(g_args.base, int32_t(word_index(w)) + 1);
    }
    stack_keep_result();
}

}  // namespace

void word_init(DatatypeRegistry& registry) {
    Registration r(TYPE_WORD);
    r.own<ACT_MAKE>(word_make).own<ACT_TO>(word_make).own<ACT_FORM>(word_form).own<ACT_MOLD>(word_form);
    r.own<ACT_COMPARE>(word_compare).own<ACT_INDEX_Q>(word_index_q);
    registry.register_datatype(r);
}

namespace {

// set-word!, lit-word!, get-word! and refinement! differ from word! only in their mold (refinement! also
// has no index?).
void register_kind(DatatypeRegistry& registry, TypeId type, bool with_index) {
    Registration r(type);
    r.own<ACT_MOLD>(word_mold);
    for (Action a : {ACT_MAKE, ACT_TO, ACT_FORM, ACT_COMPARE}) r.inherit(a);
    if (with_index) r.inherit(ACT_INDEX_Q);
    registry.register_datatype(r);
}

}  // namespace

void set_word_init(DatatypeRegistry& registry) { register_kind(registry, TYPE_SET_WORD, true); }
void lit_word_init(DatatypeRegistry& registry) { register_kind(registry, TYPE_LIT_WORD, true); }
void get_word_init(DatatypeRegistry& registry) { register_kind(registry, TYPE_GET_WORD, true); }
void refinement_init(DatatypeRegistry& registry) { register_kind(registry, TYPE_REFINEMENT, false); }

}  // namespace zol
