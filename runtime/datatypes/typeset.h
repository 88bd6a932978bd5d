// typeset!: a set of datatypes held in the cell itself, a 96-bit map over datatype ids (byte id >> 3, bit
// 0x80 >> (id & 7), bytes in memory order from word 1). Function specs check their arguments with them.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

inline bool typeset_has(const Cell* t, uint32_t id) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&t->w1);
    return id < 96 && (bytes[id >> 3] & (0x80u >> (id & 7)));
}
// Whether a datatype id is a datatype! value's own, or a member of a typeset! value (kind is one or the other).
inline bool typeset_or_datatype_has(const Cell* kind, uint32_t id) {
    return cell_is(kind, TYPE_TYPESET) ? typeset_has(kind, id) : datatype_id(kind) == id;
}
inline void typeset_set(Cell* t, uint32_t id) {
    auto* bytes = reinterpret_cast<uint8_t*>(&t->w1);
    if (id < 96) bytes[id >> 3] |= uint8_t(0x80u >> (id & 7));
}
inline Cell* typeset_clear(Cell* t) {
    t->header = TYPE_TYPESET;
    t->w1 = t->w2 = t->w3 = 0;
    return t;
}
// A typeset of the three words as given, at the block's tail (the binary value format rebuilds typesets so),
// or pushed on the argument stack. Each allocates.
Cell* typeset_make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* typeset_push(const Cell* t);
// Every datatype but unset!: the accepted types of an argument without a type block.
void typeset_make_any(Cell* t);
uint32_t typeset_count(const Cell* t);
// Adds one spec value: a word is replaced by its value, a typeset is merged, a datatype sets its bit.
void typeset_add(Cell* t, const Cell* value);
// The typeset of a function spec's type block.
void typeset_from_spec(Cell* t, const Cell* spec);
// A block of the words of the member types' names, in id order (the block cell must be rooted).
void typeset_to_block(const Cell* t, Cell* block);

}  // namespace zol
