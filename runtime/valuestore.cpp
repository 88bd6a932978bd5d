// The value store. Every slot belongs to the block, used or free; a free slot is an integer! cell whose
// value is the 0-based index of the next free slot (-1 for the last), so the free list costs no memory.
#include "valuestore.h"

#include "gc.h"
#include "memory.h"

namespace zol {

namespace {

constexpr uint32_t FIRST_CAPACITY = 100;

Cell g_store;  // block! over the slots
uint32_t g_capacity = 0;
int32_t g_free_head = -1;

Cell* slot_cell(uint32_t i) { return cell_series(&g_store)->cells() + i; }

void format_free(uint32_t from) {
    Series* s = cell_series(&g_store);
    Cell* cells = s->cells();
    for (uint32_t i = from; i < g_capacity; i++) set_integer(&cells[i], i + 1 < g_capacity ? int32_t(i + 1) : -1);
    g_free_head = int32_t(from);
    s->tail = s->head + g_capacity * 16;
}

}  // namespace

void valuestore_init() {
    g_capacity = FIRST_CAPACITY;
    set_series(&g_store, TYPE_BLOCK, series_alloc_cells(g_capacity));
    format_free(0);
}

uint32_t valuestore_put(const Cell* value) {
    // Held as a root while the store grows: the value may live in the store itself, or nowhere else.
    GcRoot keep(*value);
    if (g_free_head < 0) {
        uint32_t old = g_capacity;
        g_capacity *= 2;
        series_expand(series_node(&g_store), uint64_t(g_capacity) * 16);
        format_free(old);
    }
    uint32_t slot = uint32_t(g_free_head);
    g_free_head = cell_int(slot_cell(slot));
    *slot_cell(slot) = *keep;
    return slot + 1;
}

Cell* valuestore_get(uint32_t index) { return slot_cell(index - 1); }

void valuestore_free(uint32_t index) {
    if (index == 0) return;
    set_integer(slot_cell(index - 1), g_free_head);
    g_free_head = int32_t(index - 1);
}

uint32_t valuestore_capacity() { return g_capacity; }

void valuestore_mark() {
    if (series_node(&g_store)) gc_mark_block(series_node(&g_store));
}

}  // namespace zol
