// series!: never the type of a value, but the parent from which block!, string! and image! (and through them
// every series type) inherit their navigation and editing actions. Its routines work in units of the
// buffer (1, 2 or 4 bytes for text and binaries, 16 for cells), so each is written once for all series.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zol {

// The equality operations, finding among them: under these two series of different lengths differ without a
// look at their items.
inline bool series_equality_op(CompareOp op) {
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_STRICT_EQUAL:
        case CMP_FIND_WORD:
        case CMP_FIND_WORD_STRICT:
        case CMP_FIND: return true;
        default: return false;
    }
}

// The set operations of the natives of the same names, by the codes those natives pass.
enum SetOp : int { SET_UNIQUE = 8, SET_UNION = 9, SET_INTERSECT = 10, SET_EXCLUDE = 11, SET_DIFFERENCE = 12 };

// Units from the buffer's first used unit to its tail, ignoring the value's head.
inline uint32_t series_buffer_length(const Cell* s) { return cell_series(s)->used(); }
inline bool series_at_tail(const Cell* s) { return series_index(s) >= series_buffer_length(s); }
// The cell pick answers for a block and an integer index (1 the head's, -1 the one before it, 0 none):
// null when that falls outside the buffer.
inline const Cell* block_pick_cell(const Cell* s, int64_t index) {
    int64_t position = int64_t(series_index(s)) + index - (index > 0 ? 1 : 0);
    Series* b = cell_series(s);
    return index != 0 && position >= 0 && position < int64_t(b->cell_count()) ? b->cells() + position : nullptr;
}
// The head index, brought back to the tail when a shorter buffer left it past the end (the cell is left as
// it is).
inline uint32_t series_clamped_head(const Cell* s) {
    uint32_t used = series_buffer_length(s);
    return series_index(s) < used ? series_index(s) : used;
}
// Of count units from start, as many whole records of size units as the series still holds: an owner's
// handler, run before a change, may have shortened the series that the action measured.
// With count INT64_MAX: all the whole records from start (an action without /part covers what is there).
inline int64_t series_units_left(const Cell* s, int64_t start, int64_t count, int64_t size = 1) {
    int64_t used = series_buffer_length(s);
    int64_t room = used > start ? used - start : 0;
    return count > room ? room / size * size : count;
}
// Address of a unit counted from the buffer's first used unit.
inline uint8_t* series_unit_at(const Cell* s, uint32_t index) {
    Series* b = cell_series(s);
    return b->head_ptr() + uint64_t(index) * b->unit();
}
// Moves the head on by n units when it stays at or before the tail; true when it is then at the tail.
bool series_advance(Cell* s, uint32_t n);
// Units from the head (from the buffer start with from_start). A head past the tail is brought back to
// the tail and 0 is returned.
uint32_t series_length(Cell* s, bool from_start = false);

// The count a /part argument gives for a series: an integer! (a float! is truncated), or a position in the
// same series (same datatype, same buffer): its head minus this head. Anything else raises the bad /part
// error.
int64_t series_part_count(const Cell* series, const Cell* part);
[[noreturn]] void fire_bad_refinement(const char* refinement, const Cell* value);

// What a sort of units covers: from the head (moved back over the units before it, in the series too, for a
// negative /part) for count units, in records of the /skip size; a bad /skip, or /all without it, raises.
struct SortSpan {
    uint32_t head;
    int64_t count;
    uint32_t record;
};
SortSpan sort_span(Cell* series, int64_t length, const SortArgs& args);

// Removes count units at a unit index (clamped to the tail), moving the rest down.
void series_remove_units(uint32_t node, uint32_t index, uint32_t count);
// Opens a gap of count units at a unit index, growing the buffer when needed; returns the buffer.
Series* series_open_gap(uint32_t node, uint32_t index, uint32_t count);

}  // namespace zol
