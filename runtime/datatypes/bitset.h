// bitset! values: a growable array of bits used as a set of non-negative integers, most often code points
// (charsets of Parse, the set natives). The cell holds the node of a byte buffer in word 2; the bytes from the
// buffer's head to its tail are the stored bits, bit n in byte n >> 3 under the mask 0x80 >> (n & 7).
// A complemented bitset (flag in the buffer header) stands for every integer it does not list, including all
// those beyond its stored bits: the stored bits always say membership directly (complementing inverts them),
// and an integer beyond them is a member exactly when the bitset is complemented.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zol {

// Buffer flag of a complemented bitset.
constexpr uint32_t SER_BITSET_NOT = 0x80000;

inline bool bitset_not(const Cell* bitset) { return (cell_series(bitset)->flags & SER_BITSET_NOT) != 0; }
// Stored bytes, and the first of them.
inline uint32_t bitset_size(const Cell* bitset) {
    Series* s = cell_series(bitset);
    return s->tail - s->head;
}
inline const uint8_t* bitset_data(const Cell* bitset) { return cell_series(bitset)->head_ptr(); }
// Whether the integer is a member. Reads the buffer in place; allocates nothing.
inline bool bitset_has(const Cell* bitset, int64_t n) {
    Series* s = cell_series(bitset);
    if (n < 0 || uint64_t(n >> 3) >= s->tail - s->head) return (s->flags & SER_BITSET_NOT) != 0;
    return (s->head_ptr()[n >> 3] & (0x80 >> (n & 7))) != 0;
}

// A new bitset of `bytes` stored bytes, all zero (all 0xFF and complemented with complemented), in the cell.
// Allocates.
Cell* bitset_make_at(Cell* cell, uint32_t bytes, bool complemented = false);

// The set natives and the bitwise actions: combines the first two argument cells of the current call, both
// bitsets, into a new bitset in the result slot. Codes: 5 and 9 union, 6 and~ (as long as the shorter where
// that loses nothing), 10 intersect, 7 and 12 difference, 11 exclude (first and not second), 8 the first
// unchanged. The result is the set the operation means for plain and complemented operands alike.
void bitset_combine(int op);

}  // namespace zol
