// Memory statistics.
//
// The memory manager keeps no frames: nodes live in one growable table, small buffers in size-class pages
// and the others in heap blocks of their own. The report keeps the shape of a frame list by presenting the
// node table as node frames of FRAME_NODES nodes each, the pages and the other buffers below the big size
// together as one series frame (its free bytes the pages' unused slots), and every big buffer (a footprint
// of MAX_FRAME_SIZE or more) as a big frame.
#include "memstats.h"

#include "runtime/datatypes/block.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/pages.h"

namespace zol {

namespace {

constexpr uint32_t FRAME_NODES = 10000;

struct Measure {
    uint64_t small_bytes = 0;  // footprints of the buffers below MAX_FRAME_SIZE
    uint64_t paged_bytes = 0;  // of those, the ones in pages
    uint64_t big_bytes = 0;
};

uint64_t footprint(const Series* s) { return uint64_t(s->size) + BUFFER_OVERHEAD; }

Measure measure_buffers() {
    Measure m;
    for (uint32_t id = 1; id < node_table_size(); id++) {
        if (!node_in_use(id)) continue;
        const Series* s = node_series(id);
        if (s->flags & SER_BIG) {
            m.big_bytes += footprint(s);
        } else {
            m.small_bytes += footprint(s);
            if (s->flags & SER_PAGED) m.paged_bytes += footprint(s);
        }
    }
    return m;
}

Cell* add_number(Cell* block, double bytes) {
    Cell* c = block_alloc_tail(block);
    memory_stats_number(c, bytes);
    return c;
}

Cell* add_triple(Cell* list, double free, double used, double total) {
    GcRoot triple;
    block_make_at(triple.get(), 3);
    add_number(triple.get(), free);
    add_number(triple.get(), used);
    add_number(triple.get(), total);
    Cell* c = block_alloc_tail(list);
    *c = *triple;
    c->header |= HDR_NEW_LINE;
    return c;
}

}  // namespace

void memory_stats_number(Cell* out, double bytes) {
    if (bytes <= 2147483647.0) {
        set_integer(out, int32_t(bytes));
    } else {
        set_float(out, bytes);
    }
}

double memory_stats_measure(Cell* block, int level) {
    const MemoryStats& stats = memory_stats();
    double node_bytes = double(stats.nodes_in_use) * sizeof(Series*);
    Measure m = measure_buffers();
    double used = node_bytes + double(m.small_bytes) + double(m.big_bytes);
    if (level < 2 || !block) return used;

    bool collector = g_gc_enabled;
    g_gc_enabled = false;
    struct Restore {
        bool on;
        ~Restore() { g_gc_enabled = on; }
    } restore{collector};
    GcRoot nodes, series, bigs;
    uint32_t capacity = stats.node_capacity;
    block_make_at(nodes.get(), capacity / FRAME_NODES + 1);
    for (uint32_t first = 0; first < capacity; first += FRAME_NODES) {
        uint32_t size = capacity - first < FRAME_NODES ? capacity - first : FRAME_NODES;
        uint32_t in_use = 0;
        for (uint32_t id = first; id < first + size; id++) {
            if (id != 0 && id < node_table_size() && node_in_use(id)) in_use++;
        }
        add_triple(nodes.get(), size - in_use, in_use, size);
    }
    block_make_at(series.get(), 1);
    double pages = double(pages::page_bytes());
    double series_total = pages + double(m.small_bytes - m.paged_bytes);
    double series_free = series_total > double(m.small_bytes) ? series_total - double(m.small_bytes) : 0;
    add_triple(series.get(), series_free, double(m.small_bytes), series_total);
    block_make_at(bigs.get(), 4);
    for (uint32_t id = 1; id < node_table_size(); id++) {
        if (node_in_use(id) && (node_series(id)->flags & SER_BIG)) add_number(bigs.get(), double(footprint(node_series(id))));
    }
    double table_bytes = double(capacity) * sizeof(Series*);
    double taken = table_bytes + series_total + double(m.big_bytes) + double(stats.tracked_bytes);
    const Cell* parts[] = {nodes.get(), series.get(), bigs.get()};
    for (const Cell* part : parts) {
        Cell* c = block_alloc_tail(block);
        *c = *part;
        c->header |= HDR_NEW_LINE;
    }
    add_number(block, taken);
    add_number(block, double(stats.tracked_bytes));
    return used;
}

}  // namespace zol
