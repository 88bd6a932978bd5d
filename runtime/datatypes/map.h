// map! values: keys and values alternate in one block (word 2), indexed by a hash table (word 3). Only the
// maker is here so far; the actions come with the datatype.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Whether values of the datatype may be map keys.
bool map_key_type_q(uint32_t type);

// Makes the cell a map! of `count` cells of key and value pairs (count even, every key of a key type). Keys
// are normalised as a map stores them: the word kinds but refinement! and issue! become set-word!, and
// series keys are copied unless `fresh_keys` says nobody else holds them. A later key equal to an earlier
// one replaces its value. The pairs must stay readable and marked across allocations (argument-stack or
// lexer cells). Allocates.
Cell* map_make_at(Cell* cell, const Cell* pairs, uint32_t count, bool fresh_keys);

}  // namespace zol
