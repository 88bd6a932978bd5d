// handle! values: an OS object that the runtime or the GUI made, never the user. Word 1 is the kind, word 2
// a 32-bit value and word 3 -1. A pointer does not fit a cell word, so the value is an index into the kind's
// registry, which holds the machine word itself; a descriptor (kind fd) is its own value.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

enum HandleKind : uint32_t {
    HANDLE_NULL = 0,
    HANDLE_FD = 1,
    HANDLE_MONITOR = 2,
    HANDLE_WINDOW = 3,
    HANDLE_FONT = 4,
    HANDLE_RICH_TEXT = 5,
    HANDLE_KIND_COUNT
};

Cell* handle_make_at(Cell* cell, int32_t value, HandleKind kind);
Cell* handle_push(int32_t value, HandleKind kind);
inline HandleKind handle_kind(const Cell* h) { return HandleKind(h->w1); }
inline int32_t handle_value(const Cell* h) { return int32_t(h->w2); }

// The registry of a kind: register gives the index that a handle of the kind holds for a machine word
// (never 0, which stands for the null handle); lookup gives the word back, 0 for an index the registry does
// not hold; release frees the index for reuse.
int32_t handle_register(HandleKind kind, uintptr_t native);
uintptr_t handle_lookup(HandleKind kind, int32_t index);
void handle_release(HandleKind kind, int32_t index);

}  // namespace zol
