// The predefined names (symbols.def) and the words of the datatype names, made once at start-up.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Each enum takes one kind of entry from symbols.def and skips the others.
enum PredefinedSymbol : uint32_t {
#define ZOL_SYMBOL(name, text) SYM_##name,
#define ZOL_SYMBOL_WORD(name)
#define ZOL_WORD(name, text)
#define ZOL_REFINEMENT(name, text)
#define ZOL_ISSUE(name, text)
#include "symbols.def"
    SYM_COUNT
};
#undef ZOL_SYMBOL
#undef ZOL_SYMBOL_WORD
#undef ZOL_WORD
#undef ZOL_REFINEMENT
#undef ZOL_ISSUE

enum PredefinedWord : uint32_t {
#define ZOL_SYMBOL(name, text)
#define ZOL_SYMBOL_WORD(name) W_##name,
#define ZOL_WORD(name, text) W_##name,
#define ZOL_REFINEMENT(name, text)
#define ZOL_ISSUE(name, text)
#include "symbols.def"
    W_COUNT
};
#undef ZOL_SYMBOL
#undef ZOL_SYMBOL_WORD
#undef ZOL_WORD
#undef ZOL_REFINEMENT
#undef ZOL_ISSUE

enum PredefinedRefinement : uint32_t {
#define ZOL_SYMBOL(name, text)
#define ZOL_SYMBOL_WORD(name)
#define ZOL_WORD(name, text)
#define ZOL_REFINEMENT(name, text) R_##name,
#define ZOL_ISSUE(name, text)
#include "symbols.def"
    R_COUNT
};
#undef ZOL_SYMBOL
#undef ZOL_SYMBOL_WORD
#undef ZOL_WORD
#undef ZOL_REFINEMENT
#undef ZOL_ISSUE

enum PredefinedIssue : uint32_t {
#define ZOL_SYMBOL(name, text)
#define ZOL_SYMBOL_WORD(name)
#define ZOL_WORD(name, text)
#define ZOL_REFINEMENT(name, text)
#define ZOL_ISSUE(name, text) I_##name,
#include "symbols.def"
    I_COUNT
};
#undef ZOL_SYMBOL
#undef ZOL_SYMBOL_WORD
#undef ZOL_WORD
#undef ZOL_REFINEMENT
#undef ZOL_ISSUE

extern uint32_t g_sym[SYM_COUNT];
extern Cell g_word[W_COUNT];
extern Cell g_refinement[R_COUNT];
extern Cell g_issue[I_COUNT];

// A global word for each registered datatype's name, kept in the type-name table.
void datatype_words_init();
// Every predefined name, in the order of symbols.def.
void predefined_words_init();

}  // namespace zol
