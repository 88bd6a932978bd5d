// vector! values: numbers of one element type packed in a byte buffer, the buffer's unit being the element
// size. Word 1 is the head index in elements, word 2 the buffer node, word 3 the element type: char! or
// integer! (8, 16 or 32 bits), float! (32 or 64 bits) or percent! (64 bits). Elements are little-endian.
// Navigation and most series actions come from string! and series!, which read and write elements through
// the routines here.
#pragma once
#include <cstdint>

#include "float.h"
#include "runtime/cell.h"

namespace zol {

inline TypeId vector_type(const Cell* v) { return TypeId(v->w3); }
// Element size in bytes.
uint32_t vector_element_size(const Cell* v);
// Elements from the head (0 when the head lies past the tail).
uint32_t vector_length(const Cell* v);

// Makes the cell an empty vector with room for `capacity` elements of the type and size (in bytes); a size
// in bytes past the 32-bit sizes raises no-memory. Allocates.
Cell* vector_make_at(Cell* cell, uint64_t capacity, TypeId type, uint32_t size);

// The element at the address as a value of the element type: integer! elements sign-extended, char! elements
// zero-extended (code points are never negative), a 32-bit float widened.
void vector_get_value(const uint8_t* at, uint32_t size, TypeId type, Cell* out);
// Stores a value into the element at the address, converted to the element's type and size: an integer! or
// char! into char! and integer! elements (its low bits), a float!, percent! or integer! into float! and
// percent! elements. Any other value raises invalid-arg. Never writes outside the element.
void vector_set_value(uint8_t* at, const Cell* value, uint32_t size, TypeId type);
// Appends one value, which must be of the element type itself (invalid-arg otherwise). Allocates.
void vector_append_value(const Cell* v, const Cell* value);
// Appends the 32-bit value at the tail of a vector of 4-byte elements (the GUI fills vectors so). Allocates.
void vector_append_int32(const Cell* v, int32_t value);
// Drops every element from the head on.
void vector_cut_at_head(const Cell* v);

// The item at a position counted from the buffer's first element (series! pick and take).
void vector_pick(const Cell* v, uint32_t position, Cell* out);
// Stores a value, of the element type itself (invalid-arg otherwise), at a position (series! poke).
void vector_poke(const Cell* v, uint32_t position, const Cell* value);

// A new block (rooted out) of the values from the head. Allocates.
void vector_to_block(const Cell* v, Cell* out);

// Arithmetic with a scalar: every element from the head becomes element OP scalar, or scalar OP element with
// scalar_first, in place; integer elements wrap. The result slot gets the vector. The operands are the two
// argument cells in either order: the vector and the scalar.
void vector_scalar_op(ArithOp op, Cell* vector, const Cell* scalar, bool scalar_first);

// find and select on a vector (string!'s find and select hand vectors here): numbers compared by value with
// each element.
const Cell* vector_find(Cell* series, const Cell* value, const FindArgs& args, bool select);
// sort on a vector: elements ordered by value.
const Cell* vector_sort(Cell* series, const SortArgs& args);

}  // namespace zol
