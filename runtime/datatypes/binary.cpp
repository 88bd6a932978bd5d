// binary! values.
#include "binary.h"

#include "runtime/memory.h"

namespace zol {

uint8_t* binary_make_at(Cell* cell, uint32_t capacity) {
    uint32_t node = series_alloc_bytes(capacity);
    set_series(cell, TYPE_BINARY, node);
    return node_series(node)->data();
}

void binary_set_length(Cell* binary, uint32_t length) {
    Series* s = cell_series(binary);
    s->tail = s->head + length;
}

const uint8_t* binary_head(const Cell* binary, uint32_t* length) {
    Series* s = cell_series(binary);
    uint32_t used = s->tail - s->head;
    uint32_t at = series_index(binary) < used ? series_index(binary) : used;
    *length = used - at;
    return s->head_ptr() + at;
}

}  // namespace zol
