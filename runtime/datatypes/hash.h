// hash! values: a block whose cells are all indexed by a hash table (kind 0, runtime/values/hashtable.h) kept
// in word 3 of the cell, so that find and select look values up instead of scanning. hash! is a block in
// every other respect: the block and series actions it inherits keep the index current by reporting every
// change of a hash!'s cells here, after making it.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

enum class HashEdit {
    inserted,  // count cells were inserted at index
    removed,   // count cells were removed from index
    replaced,  // the cells from index to index + count were overwritten (or reordered among themselves)
    rebuilt,   // anything: the whole block is indexed again
};
// Brings the index of a hash! up to date with a change of its block; does nothing for any other series.
// Allocates.
void hash_upkeep(const Cell* series, HashEdit edit, uint32_t index, uint64_t count);
// The `replaced` cells from index became `written` cells (change).
void hash_upkeep_change(const Cell* series, uint32_t index, uint32_t replaced, uint32_t written);
// The cells at positions i and j of one block were exchanged.
void hash_upkeep_swap(const Cell* series, uint32_t i, uint32_t j);
// A run of count cells moved from `from` to `to` (where it starts once moved) inside the block.
void hash_upkeep_move(const Cell* series, uint32_t to, uint32_t from, uint32_t count);

// Makes the value (a hash! cell over a block, rooted by the caller) hold a new index over every cell of its
// block. Allocates.
void hash_index(Cell* value);

// The lowest position at or after start (the highest at or before it with reverse) of a cell of the hash!
// block equal to the value under the comparison mode, or -1.
int32_t hash_find_position(const Cell* series, const Cell* value, CompareOp mode, uint32_t start, bool reverse);

}  // namespace zol
