// block!: the series of value cells from which code and data are made. paren!, the path family and hash!
// inherit most of its actions. Besides the action slots (reached through g_types), this unit holds the
// block routines the rest of the runtime calls directly.
//
// Memory: a Cell* into a block's buffer is good only until the next allocation that may grow that block.
// Routines that allocate say so; their block arguments must be reachable from a root (a GcRoot, the
// argument stack, or a rooted block) for the whole call.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/datatypes/series.h"

namespace zol {

// --- queries and navigation (none allocates)
// Cells from the head to the tail (0 when the head lies past the tail).
uint32_t block_rs_length(const Cell* block);
// Moves the head on by one while a cell is left; true when the head is then at the tail.
bool block_next(Cell* block);
// The head cell, after clamping a head past the tail back to the tail.
Cell* block_rs_head(Cell* block);
Cell* block_rs_tail(const Cell* block);
// True when the head is exactly at the tail.
bool block_rs_tail_q(const Cell* block);
// The cell at an index counted from the buffer's first cell.
Cell* block_rs_abs_at(const Cell* block, uint32_t index);

// --- editing
// The tail becomes the head (or the cell at index from the buffer's start).
void block_rs_clear(const Cell* block);
void block_rs_clear_from(const Cell* block, uint32_t index);
// Appends a copy of the value (which may lie in the block itself); returns the new cell. Allocates.
Cell* block_rs_append(const Cell* block, const Cell* value);
// Appends copies of the source's cells from its head (the source may be the block itself). Allocates.
void block_rs_append_block(const Cell* block, const Cell* source);
// Drops the last cell when there is one, clamping the head to the new tail.
void block_pop_last(Cell* block);
// Removes the first cell equal to the value (find equality) from the head, or from the buffer's start;
// true when the removed cell lay before the head.
bool block_remove_value(Cell* block, const Cell* value, bool from_start);
// Inserts a copy of the value at the head (or the buffer's start), moving the rest up; with advance the
// head moves past the new cell. Allocates.
void block_insert_value(Cell* block, const Cell* value, bool advance, bool at_start);
// Inserts the source's cells from its head one by one at the block's head, advancing past each. Allocates.
void block_insert_block(Cell* block, const Cell* source);
// Insert or append the newest argument cell into the block in the cell below it, then drop the newest
// cell. Allocate.
void block_insert_stack();
void block_append_stack();

// --- lookups (none allocates; a returned Cell* lies in the block's buffer or is a shared constant)
// The cell after the first cell equal to the value (find equality of the value's datatype); none when
// absent or when the match is the last cell.
const Cell* block_select_after(const Cell* block, const Cell* value);
// The cell after the first word!, set-word!, lit-word! or get-word! naming the word's symbol (any
// spelling unless strict); none when absent or last.
const Cell* block_select_word(const Cell* block, const Cell* word, bool strict);

// --- making blocks (each allocates); a capacity below 1 gives room for one cell
// A new empty block! in the cell.
Cell* block_make_at(Cell* out, int64_t capacity);
// The same, on the tracked heap (never collected; the owner frees it) with heap set, else a collected
// block whose spare cells start unset.
Cell* block_make_cell(Cell* out, int64_t capacity, bool heap);
// A new empty block! appended to the root block, or to a given block; returns that cell.
Cell* block_make_root_in(int64_t capacity);
Cell* block_make_in(const Cell* parent, int64_t capacity);
// A new empty block! pushed on the argument stack.
Cell* block_push_new(int64_t capacity);
// A new block of the source's datatype (and new-line marker) pushed on the argument stack, holding copies
// of the cells from the head. With deep every nested block! is cloned too, and with any_block also paren!
// and the path family. Raises no-cycle for a block that contains itself. Allocates.
Cell* block_clone(const Cell* block, bool deep, bool any_block);

// --- shared bodies
// The cells of a block written one after the other: molded (new-line markers, indentation, spaces) or
// formed (single spaces). The block stays on the visited-series stack meanwhile. Returns the budget left.
int block_mold_items(const Cell* block, Cell* out, const MoldArgs& args, int budget, bool mold);
// Replaces, by copies made through their copy actions, the series, bitset!, object!, error! and map!
// values among count cells from start (every step cells) whose datatype is the given datatype! (or lies in
// the given typeset!). Allocates.
void block_copy_types(const Cell* block, uint32_t start, uint32_t count, uint32_t step, bool deep, const Cell* kind);

// The first series is the cell at the argument base, the second the cell after it (unused by unique).
// skip is the /skip size (null when absent). The new block replaces the first argument. Allocates.
void block_set_op(const Cell* skip, bool case_sensitive, SetOp op);

}  // namespace zol
