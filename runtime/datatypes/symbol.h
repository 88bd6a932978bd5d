// The symbol table: every name of the language is entered once, as a symbol! cell of the symbol block,
// and known by its 1-based position there (its id). Each spelling the lexer meets is its own symbol;
// its alias is the id of the first spelling of the same name without regard to case, and words compare
// through these canonical ids.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zol {

// The symbol block (word 2) and its index (word 3), held in one root cell.
extern Cell g_symbols;

// Start-up: the symbol block inside the root block, then, later, its index.
void symbol_block_init();
void symbol_index_init();

// The id of a name, entering it when absent. Without exact, any spelling that differs only in ASCII case
// gives the first spelling's id; with exact, a new spelling becomes a symbol of its own.
uint32_t symbol_make(const char* name);
uint32_t symbol_make_len(const uint8_t* name, uint32_t length, bool exact = false);
// Makes room in the symbol table for `more` new symbols at once (a loader that knows how many are coming).
void symbol_reserve(uint32_t more);
uint32_t symbol_make_flagged(const char* name);

// The id of the name held by a string from its head (the cell must be rooted: its cache receives the text).
uint32_t symbol_from_string(Cell* string);

// Inline: word lookups and comparisons resolve symbols at every step.
inline Cell* symbol_cell(uint32_t id) { return node_series(g_symbols.w2)->cells() + (id - 1); }
// The symbol's cell with its name string (word 2) built first when needed.
Cell* symbol_get(uint32_t id);
uint32_t symbol_count();
// The name's UTF-8 bytes (NUL-terminated) and their count.
inline const uint8_t* symbol_bytes(uint32_t id, uint32_t* length) {
    Series* s = node_series(symbol_cell(id)->w3);
    *length = s->tail - s->head;
    return s->head_ptr();
}
const char* symbol_c_string(uint32_t id);
// The canonical id: the alias when there is one, else the id itself.
inline uint32_t symbol_resolve(uint32_t id) {
    int32_t alias = int32_t(symbol_cell(id)->w1);
    return alias > 0 ? uint32_t(alias) : id;
}
int32_t symbol_alias(uint32_t id);
// Orders two names as text, code point by code point, folding case unless case_sensitive.
int symbol_compare_names(uint32_t a, uint32_t b, bool case_sensitive);

}  // namespace zol
