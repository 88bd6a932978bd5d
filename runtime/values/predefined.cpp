// The predefined names and the words of the datatype names.
#include "predefined.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/stack.h"

namespace zol {

uint32_t g_sym[SYM_COUNT];
Cell g_word[W_COUNT];
Cell g_refinement[R_COUNT];
Cell g_issue[I_COUNT];

void datatype_words_init() {
    for (uint32_t t = 1; t <= g_types.highest(); t++) {
        if (!g_types.registered(t)) continue;
        // The word of each datatype's name holds its datatype! value.
        Cell& word = g_types.row(t).word;
        word = word_load(g_types.row(t).name);
        Cell value;
        set_datatype(&value, t);
        word_set_value(&word, &value);
    }
}

void predefined_words_init() {
#define ZOL_SYMBOL(name, text) g_sym[SYM_##name] = symbol_make(text);
#define ZOL_SYMBOL_WORD(name) g_word[W_##name] = word_make_global(g_sym[SYM_##name]);
#define ZOL_WORD(name, text) g_word[W_##name] = word_load(text);
#define ZOL_REFINEMENT(name, text) g_refinement[R_##name] = refinement_load(text);
#define ZOL_ISSUE(name, text) g_issue[I_##name] = issue_load(text);
#include "symbols.def"
#undef ZOL_SYMBOL
#undef ZOL_SYMBOL_WORD
#undef ZOL_WORD
#undef ZOL_REFINEMENT
#undef ZOL_ISSUE
    g_sym_body = word_symbol(&g_word[W_BODY]);
    g_sym_anon = word_symbol(&g_word[W_ANON]);
    g_sym_not_found = word_symbol(&g_word[W_NOT_FOUND]);
}

}  // namespace zol
