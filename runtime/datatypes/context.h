// Contexts and word binding. A context record is a node whose buffer holds two cells: the context! cell
// (word 1 its word table, word 2 the node of its values, or for a stack context the argument index of the
// running call, 0 when it is not running) and the owner cell (the object, error, port or function that
// owns it). The word table indexes a block of word cells, one per word, whose index word gives each
// word's slot. A word is bound when its cell names a context and that slot.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace zol {

// The global context's node, and a root object! cell over it.
extern uint32_t g_global_context;
// The global context's values series: set once with the context, which only ever grows it in place.
extern uint32_t g_global_values;
// Its cells, read again by this unit whenever adding a word may have replaced its buffer: most words read
// are global, and this saves each read the way through the node table.
extern Cell* g_global_cells;
inline Cell* global_cells() {
    ZOL_ASSERT(g_global_cells == node_series(g_global_values)->cells());
    return g_global_cells;
}
extern Cell g_global_object;

// Counts the changes of global slots to or from a function value (any function or operator). Decoded code
// that found its call and operator words as it decoded them at one count knows they still are while the
// count stays: every write of a global slot goes through global_slot_changing first.
extern uint64_t g_global_version;
constexpr uint64_t GUARDED_TYPES = uint64_t(1) << TYPE_NATIVE | uint64_t(1) << TYPE_ACTION | uint64_t(1) << TYPE_OP |
                                   uint64_t(1) << TYPE_FUNCTION | uint64_t(1) << TYPE_ROUTINE;
inline void global_slot_changing(const Cell* slot, const Cell* value) {
    if (((GUARDED_TYPES >> cell_type(slot)) | (GUARDED_TYPES >> cell_type(value))) & 1) g_global_version++;
}
// The same for a value known to be no function.
inline void global_slot_changing_to_plain(const Cell* slot) {
    if ((GUARDED_TYPES >> cell_type(slot)) & 1) g_global_version++;
}

constexpr uint32_t CONTEXT_KIND_PLAIN = 0;
constexpr uint32_t CONTEXT_KIND_OBJECT = 2;

void global_context_init();

uint32_t context_make(uint32_t slots, bool stack, bool flag, uint32_t word_block, uint32_t kind);
inline Cell* context_cell(uint32_t context) { return node_series(context)->cells(); }
// An object! cell over the context: in a GcRoot it keeps the context alive while it is being built.
inline Cell context_holder(uint32_t context) { return Cell{TYPE_OBJECT, context, 0, 0}; }
Cell* context_owner(uint32_t context);
uint32_t context_word_table(uint32_t context);
uint32_t context_word_block(uint32_t context);
// Number of word entries in the word table (spellings that share a slot each count).
uint32_t context_word_count(uint32_t context);
// The word cell of the table entry at a position.
Cell* context_word_at(uint32_t context, uint32_t position);
bool context_is_stack(uint32_t context);
uint32_t context_kind(uint32_t context);

// Slot index of the symbol, or -1. With case_insensitive, any spelling of the name matches.
int32_t context_find_word(uint32_t context, uint32_t symbol, bool case_insensitive);
// Slot index of the word's symbol (any spelling), adding it (with an unset value) when absent.
uint32_t context_add_word(uint32_t context, uint32_t symbol);
// Makes room at once for `more` new words (a loader that knows how many are coming): the word table, the
// word block and the values grow once instead of doubling their way there.
void context_reserve(uint32_t context, uint32_t more);
// Adds the word with the value when absent.
void context_put_word(uint32_t context, uint32_t symbol, const Cell* value);
// The value slot of a symbol in a context; a stack context is looked up in the global context instead.
Cell* context_word_value_cell(uint32_t symbol, uint32_t context);
Cell* context_global_value_cell(uint32_t symbol);
void context_global_value_copy(uint32_t symbol, Cell* target);
// The global word of a symbol (added with an unset value when absent). A word for another spelling of a
// known name keeps its own symbol while sharing the name's slot.
Cell context_global_word(uint32_t symbol, bool case_insensitive);
// Value cell i of a context that has a values series (no checks).
Cell* context_values_at(uint32_t context, uint32_t index);

// The value slot of a word when it can be reached without an error (bound, resolved, its context holding
// values now), else null. With plain_only, also null for a word of an object or any other context whose
// changes someone must hear about.
template <bool plain_only = false>
inline Cell* word_slot(const Cell* word) {
    uint32_t context = word_context(word), index = word_index(word);
    if (!context || index == WORD_UNRESOLVED) return nullptr;
    // Most words read are global: their values series is known without reading the context.
    if (context == g_global_context) return global_cells() + index;
    const Cell* c = context_cell(context);
    if (!c->w2) return nullptr;
    if (c->header & HDR_STACK_CONTEXT) return stack_cell(c->w2) + index;
    if (plain_only && ((c->header & HDR_CONTEXT_KIND_MASK) >> HDR_CONTEXT_KIND_SHIFT) != CONTEXT_KIND_PLAIN) return nullptr;
    return node_series(c->w2)->cells() + index;
}
// The errors and `self` of word_value_cell, for a word it could not reach a slot for.
Cell* word_value_cell_slow(const Cell* word);
// The value slot of a bound word. Raises not-in-context when its context has no values now (a function's
// word outside its call) and no-value for an unbound word (but `self`, which gives the owner).
inline Cell* word_value_cell(const Cell* word) {
    if (Cell* slot = word_slot(word)) return slot;
    return word_value_cell_slow(word);
}
// Stores a value through a word into its context (resolving an unresolved word first, adding it when
// absent); marks object slots as set through a word.
Cell* context_set_word_value(Cell* word, const Cell* value, uint32_t context, bool on_change);
inline Cell* word_set_value(Cell* word, const Cell* value) {
    return context_set_word_value(word, value, word_context(word), true);
}
void context_set_integer(uint32_t context, Cell* word, int32_t value);

// Binds a word to a context when its symbol is there; returns the slot or -1 (word unchanged).
int32_t context_bind_word(uint32_t context, Cell* word);
// Binds every word of a block, nested blocks and paths included, to the context.
void context_bind_block(const Cell* block, uint32_t context, bool self);
// Adds every set-word of the block to the context; true when the context grew.
bool context_collect_set_words(uint32_t context, const Cell* block);
// A new context with the same words, each rebound to it; the cell's word 1 becomes the new node.
void context_duplicate(Cell* cell, uint32_t kind);
// A context with one slot per word, get-word, lit-word and refinement of a spec block.
uint32_t context_make_from_spec(const Cell* spec, bool stack);

}  // namespace zol
