// The memory manager: the node table and the series buffers it points at, plus the tracked heap.
// Values never hold a buffer address: they hold a node id, and the node table holds the buffer's current
// address, so a buffer can be replaced by a larger one by updating one node. Buffers never move otherwise
// (the collector does not compact), but a buffer pointer is only good until the next allocation that may
// grow that series or collect: keep the node, and read the buffer again after anything that allocates.
#pragma once
#include <cstddef>
#include <cstdint>

#include "cell.h"

namespace zol {

// A series buffer: a five-word header followed by the data area. head and tail are byte offsets
// into the data area; size is the data area's size in bytes (a multiple of 16).
struct Series {
    uint32_t flags;
    uint32_t node;  // the node that refers to this buffer; 0 once the buffer has been abandoned
    uint32_t size;
    uint32_t head;
    uint32_t tail;
    // While a collection marks: the next marked block whose cells wait for a scan (a node; 0 ends the list).
    uint32_t mark_next;
    // The interpreter's decoded form of the block, or null; an abandoned buffer or a freed slot chains through
    // it instead.
    // Any change to the cells drops it first: series_changed.
    void* code;

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    uint32_t unit() const { return flags & 0x1F; }
    uint8_t* head_ptr() { return data() + head; }
    uint8_t* tail_ptr() { return data() + tail; }
    uint8_t* end_ptr() { return data() + size; }
    // Used units from the buffer's head to its tail.
    uint32_t used() const { return (tail - head) / unit(); }
    Cell* cells() { return reinterpret_cast<Cell*>(data() + head); }
    // Used cells of a cell series (used() without its division).
    uint32_t cell_count() const { return (tail - head) >> 4; }
    Cell* cell_tail() { return reinterpret_cast<Cell*>(data() + tail); }
};
static_assert(sizeof(Series) == 32);

// The interpreter keeps a decoded form of blocks it runs again and again; it is good only while their cells
// stay as they were. Every change to the cells of a block (insert, remove, change, poke, sort, bind ...)
// calls series_changed first, which hands the form back through the hook the interpreter sets; freeing or
// replacing a buffer does the same.
extern void (*g_drop_code)(Series* s);
inline void series_changed(Series* s) {
    if (s->code) g_drop_code(s);
}

// Flags word of a series buffer.
constexpr uint32_t SER_UNIT_MASK = 0x1F;
constexpr uint32_t SER_OWNED = 0x20000;      // the series has an owner record
constexpr uint32_t SER_HEAP = 0x100000;      // owned by C++ code: the collector never frees it
constexpr uint32_t SER_BIG = 0x1000000;      // footprint at least MAX_FRAME_SIZE
constexpr uint32_t SER_PAGED = 0x2000000;    // a slot of a size-class page (pages.h)
// The interpreter's count of a block's evaluations before it is decoded, and of its decoded forms dropped
// (code.cpp).
constexpr uint32_t SER_RUNS_MASK = 0x3E0;
constexpr uint32_t SER_RUNS_SHIFT = 5;
constexpr uint32_t SER_MARK = 0x8000000;     // collector mark
constexpr uint32_t SER_MID_HEAD = 0x10000000;  // allocated with its head in the middle
constexpr uint32_t SER_ALLOCATED = 0x20000000;  // set on every buffer at allocation
constexpr uint32_t SER_IN_USE = 0x80000000;    // cleared when the buffer is replaced by a larger one
// Bits the memory manager and collector own; a copy of a series takes none of them from its source.
constexpr uint32_t SER_SYSTEM_FLAGS = SER_OWNED | SER_HEAP | SER_BIG | SER_MARK | SER_MID_HEAD | SER_PAGED | SER_RUNS_MASK;
// The flags that say where a buffer lives, which stay with the buffer whatever series it is given to.
constexpr uint32_t SER_PLACE_FLAGS = SER_BIG | SER_PAGED;

constexpr uint32_t MAX_FRAME_SIZE = 0x200000;  // footprint from which a buffer counts as big
constexpr uint32_t BUFFER_OVERHEAD = 24;        // header bytes counted in a buffer's footprint
// The largest data area a buffer may have: sizes and offsets are 32-bit.
constexpr uint64_t MAX_BUFFER_SIZE = 0x7FFFFFF0;
// A head offset of -1 places the head in the middle of the data area.
constexpr int32_t HEAD_MIDDLE = -1;

// The node table. Node 0 is never handed out; it means "no series".
extern Series** g_nodes;
bool node_in_use(uint32_t node);
inline Series* node_series(uint32_t node) {
    ZOL_ASSERT(node_in_use(node));
    return g_nodes[node];
}
inline Series* cell_series(const Cell* c) { return g_nodes[c->w2]; }

struct MemoryStats {
    uint64_t live_bytes;        // footprints of the buffers in use
    uint64_t allocated_since_gc;
    uint64_t tracked_bytes;     // bytes on the tracked heap
    uint32_t nodes_in_use;
    uint32_t node_capacity;
    uint64_t allocations;       // buffers, node-table growths and tracked blocks asked for since start-up
};
const MemoryStats& memory_stats();

void memory_init();
void memory_release_all();

// When the C allocator has nothing left, the runtime raises no-memory: it collects and gives back the
// buffers it keeps for reuse first, then frees a reserve it holds from start-up so that raising the error
// and the code that catches it have room; the reserve is taken again after a collection that freed room.
// For C++ allocations (containers, strings): gives back what the runtime holds and answers whether there
// was anything to give, so operator new may try again.
bool memory_release_reserve();

// Fault injection for tests: the n-th allocation from now (1 the next) fails as if the system had no memory
// left, retries included; 0 switches it off. Counts what MemoryStats::allocations counts.
void memory_fail_allocation(uint64_t n);
uint64_t memory_injected_failures();

// Nodes.
uint32_t node_alloc();
void node_free(uint32_t node);
bool node_in_use(uint32_t node);
uint32_t node_table_size();  // highest node id handed out so far, plus one

// Buffers. Every allocating call here is a point where the collector may run. Small buffers are slots of
// size-class pages (pages.h), larger ones and those C++ code owns (heap) blocks of the C allocator.
uint32_t series_alloc(uint64_t count, uint32_t unit, int32_t head_offset = 0);
uint32_t series_alloc_heap(uint64_t count, uint32_t unit, int32_t head_offset = 0);
uint32_t series_alloc_cells(uint64_t n);
// A small block buffer when it can be had at once, without collecting or raising: its node, else 0.
uint32_t series_alloc_cells_now(uint64_t n);
uint32_t series_alloc_cells_unset(uint64_t n);
uint32_t series_alloc_bytes(uint64_t n);
uint32_t series_alloc_units(uint64_t n, uint32_t unit);
uint32_t series_alloc_bytes_filled(uint64_t n, uint8_t byte);
void series_set_flags(uint32_t node, uint32_t bits);
void series_free_heap(uint32_t node);

// Replaces the node's buffer by one of new_size bytes (twice the old size when 0) and returns it.
// The new buffer keeps the flags, the node and the used length; its content is not copied, and the
// old buffer stays readable (abandoned) until the next collection.
Series* series_grow_buffer(uint32_t node, uint64_t new_size = 0);
// As series_grow_buffer, then copies the old content from its head to the new data start and frees the old
// buffer at once: a pointer into it is dangling on return.
Series* series_expand(uint32_t node, uint64_t new_size = 0);
// As series_expand, then fills the new bytes past the old size with the byte.
Series* series_expand_filled(uint32_t node, uint64_t new_size, uint8_t byte);
// A new byte series with the node's buffer content, flags (less the system ones) and used length.
uint32_t series_copy_buffer(uint32_t node);
// A new series holding count units from the given unit index; same unit size and flags (less the system ones).
uint32_t series_copy_range(uint32_t node, uint32_t start_unit, uint32_t count);

// Appends one unset cell at the buffer's tail, growing it when full; returns the cell.
Cell* series_alloc_tail(uint32_t node);
Cell* block_alloc_tail(const Cell* block);
// Reserves n bytes at the tail (growing the buffer when needed) and returns where they start.
uint8_t* series_reserve_tail(uint32_t node, uint64_t n);
// Grows the buffer, when needed, so that n more cells fit after its tail without growing again.
void series_reserve_cells(uint32_t node, uint64_t n);

// Helpers over raw memory.
void memory_fill(uint8_t* start, uint8_t* end, uint8_t byte);
void memory_clear_words(uint32_t* first, uint32_t* last);
inline uint64_t round_up(uint64_t value, uint64_t multiple) { return (value + multiple - 1) & ~(multiple - 1); }

// The collector's mark of a buffer: a bit of its page for a small buffer, a flag of its header otherwise
// (series_mark, which answers whether the buffer was not marked before, is in line in pages.h).
bool series_marked(const Series* s);
// The collector's sweep, after marking: frees the buffers abandoned by growth, then every buffer no mark
// reached (small ones page by page when their size class next needs room, with lazy set), and restarts the
// count of bytes allocated since the last collection. memory_before_marking finishes the sweeps that still
// wait since the last collection.
void memory_before_marking();
void memory_sweep(bool lazy);
// Frees an unmarked buffer and its node; used by the sweep.
void series_release(uint32_t node);

// The tracked heap: the runtime's general allocator for its own tables. Failure ends the process
// with runtime error 94 "out of memory".
void* tracked_alloc(size_t bytes);
void* tracked_realloc(void* block, size_t bytes);
void tracked_free(void* block);

}  // namespace zol
