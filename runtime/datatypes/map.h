// map! values: an associative array. Keys and values alternate in one block (word 2), and a hash table of
// kind 1 (word 3) indexes the keys. Keys are stored normalised: text and binary keys are private copies, and
// the word kinds but refinement! and issue! are set-words, so every word form finds the same entry. Removing a
// key empties its value cell (header 0) but leaves the pair and its index entry, so that setting the key again
// revives the pair in its old place.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Whether values of the datatype may be map keys.
bool map_key_type_q(uint32_t type);

// Makes the cell a map! of `count` cells of key and value pairs (count even). Keys are normalised as a map
// stores them, and series keys are copied unless `fresh_keys` says nobody else holds them; a key of another
// datatype raises invalid-path. A later key equal to an earlier one replaces its value, its own pair dropped.
// The pairs must stay readable and marked across allocations (argument-stack or lexer cells). Allocates.
Cell* map_make_at(Cell* cell, const Cell* pairs, uint32_t count, bool fresh_keys);

// The number of live pairs.
uint32_t map_count(const Cell* map);
// Sets the key's value (case-sensitive lookup with case_sensitive), adding the pair when the key is absent
// and reviving it when it was removed. The map must be rooted. Allocates.
void map_put(const Cell* map, const Cell* key, const Cell* value, bool case_sensitive);
// The value of a live pair, or null.
const Cell* map_get(const Cell* map, const Cell* key, CompareOp mode);
// A new block of the live pairs (keys as set-words, each on a new line) in out, which must be rooted.
void map_body(const Cell* map, Cell* out);
// Puts every key and value pair of the block into the map (extend).
void map_extend(const Cell* map, const Cell* block, bool case_sensitive);
// foreach over a map: the words take, in order, the keys and values of the live pairs from the cell position
// in the iterator's word 1 on (a set-word key given as word!), and the position moves past them; words left
// over when the pairs run out get none. False when no live pair was left. Elements of the words block that are
// not words raise invalid-arg.
bool map_foreach_set_words(Cell* iterator, const Cell* words);

}  // namespace zol
