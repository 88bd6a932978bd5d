// binary! values: a byte series (unit 1) with the head index in word 1, the buffer node in word 2 and 0 in
// word 3. binary! inherits string!'s searching and navigation, and has its own conversion, hexadecimal
// mold, byte comparison, appending of values turned into bytes, trim of zero bytes and bitwise actions.
// The routines here are what codecs, Parse and the other datatypes use to make and fill binaries; the
// base-2/16/58/64 encodings are in binary_base.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Makes the cell an empty binary! with room for capacity bytes and returns the start of its buffer, which
// stays valid until the next allocation; binary_set_length then sets how many of those bytes it holds.
uint8_t* binary_make_at(Cell* cell, uint32_t capacity);
void binary_set_length(Cell* binary, uint32_t length);
// Bytes from the head and their count (a head past the tail counts as at the tail).
const uint8_t* binary_head(const Cell* binary, uint32_t* length);

// A new binary! holding a copy of the bytes: in the cell (which must be rooted), pushed on the argument
// stack, or appended to a block (which must be rooted). Each allocates.
Cell* binary_load_at(Cell* cell, const uint8_t* bytes, size_t length);
Cell* binary_load(const uint8_t* bytes, size_t length);
Cell* binary_load_in(const Cell* block, const uint8_t* bytes, size_t length);

// Appends bytes at the tail, growing the buffer (doubling) when needed. The bytes must not lie in this
// binary's own buffer. A total past the 32-bit sizes raises no-memory. Allocates.
void binary_append(const Cell* binary, const uint8_t* bytes, size_t length);
// Inserts bytes at an offset from the head (clamped to the tail), moving the rest up. Allocates.
void binary_insert(const Cell* binary, uint32_t offset, const uint8_t* bytes, size_t length);
// Overwrites bytes from an offset from the head, growing the buffer and moving the tail when the write ends
// past it. Allocates.
void binary_write(const Cell* binary, uint32_t offset, const uint8_t* bytes, size_t length);
// Appends the 4 bytes of the integer, most significant first. Allocates.
void binary_append_int32(const Cell* binary, int32_t value);
// Sets the tail at the head (clamped): drops every byte from the head on.
void binary_clear_at_head(const Cell* binary);

// The byte a value stores into a binary: the low byte of an integer! or char!; any other value raises
// invalid-arg.
uint8_t binary_byte_of(const Cell* value);

// Compares the bytes of a binary with those of another binary or of a string-family value (its code points
// taken as bytes), without case folding: -1, 0 or 1 (ordering, then length), -2 when the right value is of
// no such type. Sameness (CMP_SAME) tests buffer and head. With prefix: 0 when the left one begins with the
// right one (an empty right one answers 0 for the equalities and CMP_FIND, 1 otherwise), else 1.
int binary_compare_bytes(const Cell* left, const Cell* right, CompareOp op, bool prefix);

// The match tests of Parse at the binary's head (false at the tail): the byte in the bitset! (a byte beyond
// its stored bits answers its complement flag); or the value matching there: a char! or integer! equal to
// the byte, a binary! or string-family value whose bytes (code points) begin there.
bool binary_match_bitset(const Cell* binary, const Cell* bitset);
bool binary_match_value(const Cell* binary, const Cell* value, CompareOp op);

// The issue's text decoded as hexadecimal into a new binary! in the result cell (which must be rooted); text
// that is not hexadecimal raises invalid-data with the issue. Allocates.
Cell* issue_to_binary(const Cell* issue, Cell* result);

}  // namespace zol
