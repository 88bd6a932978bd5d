// The one door from values up into the language. Datatypes need the interpreter for a few things (running a
// spec block, calling a change handler or a sort function, reading source text); they call only the entries
// here, which the interpreter fills in at start-up. Nothing below the interpreter includes its headers.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// The callback kinds of datatypes that call functions (tracing skips the kinds it was not asked for).
enum CallbackKind : uint32_t {
    CALLBACK_LEXER = 1,
    CALLBACK_PARSE = 2,
    CALLBACK_SORT = 4,
    CALLBACK_CHANGE = 8,
    CALLBACK_DEEP_CHANGE = 16,
    CALLBACK_PORT = 32,
};

// What the lexer is asked to do with its input. With neither prescan nor scan the values are made (load).
struct LexOptions {
    bool one = false;      // stop after the first complete top-level value
    bool prescan = false;  // delimit and report the tokens; only structural ones run
    bool scan = false;     // validate and report the values, make nothing
    bool wrap = false;     // always give a block, also with one
    // Receives what was consumed: bytes, or characters when the input is a string!. May be null.
    uint32_t* consumed = nullptr;
    // A function! or routine! that receives the lexer's events; null or none for none.
    const Cell* callback = nullptr;
    // A block that receives the loaded values instead of the destination; null or none for none.
    const Cell* output = nullptr;
};

struct LanguageEntries {
    // Evaluates a block and pushes its value.
    void (*eval_block)(const Cell* block);
    // Runs a function! whose argument cells are already in the current frame.
    void (*invoke)(const Cell* function, uint32_t owner_context, const Cell* name, uint32_t callback_kind);
    // A /compare function of sort: negative when first sorts before second (see interp_sort_compare).
    int (*sort_compare)(const Cell* function, const Cell* first, const Cell* second);
    // Lexes a string! or binary! from its index; length counts characters (bytes for a binary), -1 for all.
    // Returns the datatype id of the last token.
    int32_t (*load_source)(Cell* dst, const Cell* source, int32_t length, const LexOptions& options);
};

// Filled in by the interpreter's start-up step; empty entries until then.
extern LanguageEntries g_language;

}  // namespace zol
