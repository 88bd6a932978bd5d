// The memory manager: node table, series buffers and the tracked heap.
//
// A small buffer is a slot of a size-class page (pages.cpp); any other is one block from the C allocator,
// kept on a list for the sweep. The node table maps node ids to buffers; a free node's entry holds the next
// free id, tagged with bit 0 so it can never look like a buffer address.
#include "memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "exits.h"
#include "gc.h"
#include "pages.h"
#include "platform/platform.h"
#include "system.h"

namespace zol {

Series** g_nodes = nullptr;
void (*g_drop_code)(Series* s);

namespace {

uint32_t g_node_capacity = 0;
uint32_t g_node_next = 1;  // ids below this have been handed out at least once
uint32_t g_free_head = 0;  // first free node id; 0 when none
MemoryStats g_stats{};
// Buffers replaced while code may still read them: freed at the next collection. They are chained through
// the code word of their headers (its decoded form dropped first), so abandoning one never allocates.
Series* g_abandoned = nullptr;

inline Series* abandoned_next(const Series* s) { return static_cast<Series*>(s->code); }
inline void abandon(Series* s) {
    series_changed(s);
    s->code = g_abandoned;
    g_abandoned = s;
    // A sweep of its page before the next collection keeps it: its mark is still set, from that collection
    // or from its placing in a page that waited for its sweep.
}

void drop_nothing(Series* s) { s->code = nullptr; }

constexpr uint32_t FIRST_NODE_COUNT = 10000;
constexpr uint32_t MAX_NODES = 0x7FFFFFFF;
constexpr uint32_t MIN_BUFFER_SIZE = 16;

inline bool entry_is_free(const Series* s) { return (reinterpret_cast<uintptr_t>(s) & 1) != 0; }
inline Series* free_entry(uint32_t next) { return reinterpret_cast<Series*>((uintptr_t(next) << 1) | 1); }
inline uint32_t free_next(const Series* s) { return uint32_t(reinterpret_cast<uintptr_t>(s) >> 1); }

inline uint64_t footprint(const Series* s) { return uint64_t(s->size) + BUFFER_OVERHEAD; }

// The buffers of the C allocator, chained through a link in front of each, for the sweep to walk.
struct BigLink {
    BigLink* prev;
    BigLink* next;
};
static_assert(sizeof(BigLink) == 16);  // keeps the buffer 16-byte aligned
BigLink g_big{&g_big, &g_big};

inline BigLink* link_of(Series* s) { return reinterpret_cast<BigLink*>(s) - 1; }
inline Series* series_of(BigLink* l) { return reinterpret_cast<Series*>(l + 1); }

void big_unlink(Series* s) {
    BigLink* l = link_of(s);
    l->prev->next = l->next;
    l->next->prev = l->prev;
}

[[noreturn]] void out_of_memory() { fire(ERR_INTERNAL_NO_MEMORY); }

// The reserve freed when memory runs out, so that raising no-memory and handling it have room. It is
// address space taken from the system beside the C allocator (never touched, so it costs no memory), big
// enough for the allocator to extend its heap by another mapping (it maps at least 1 MB at a time);
// releasing it gives the room back to every kind of allocation.
constexpr size_t RESERVE_BYTES = 4u << 20;
void* g_reserve = nullptr;

// Takes the reserve back when the system has room for it and as much again: taken back while memory is
// still short, it would take from the code handling no-memory the room it was freed for.
void take_reserve() {
    if (g_reserve) return;
    void* probe = platform::map_pages(2 * RESERVE_BYTES);
    if (!probe) return;
    platform::unmap_pages(probe, 2 * RESERVE_BYTES);
    g_reserve = platform::map_pages(RESERVE_BYTES);
}

// While the reserve is out, every RESERVE_BYTES of buffers allocated try to take it back, so that memory
// running out again finds it there even when no collection came in between.
uint64_t g_reserve_countdown = 0;

inline void count_toward_reserve(uint64_t bytes) {
    if (g_reserve) return;
    if (g_reserve_countdown > bytes) {
        g_reserve_countdown -= bytes;
        return;
    }
    g_reserve_countdown = RESERVE_BYTES;
    take_reserve();
}

bool free_reserve() {
    if (!g_reserve) return false;
    platform::unmap_pages(g_reserve, RESERVE_BYTES);
    g_reserve = nullptr;
    return true;
}

uint64_t g_fail_at = 0;  // allocation count at which an injected failure happens; 0 for none
uint64_t g_injected = 0;

// Counts an allocation; true when this one is to fail.
inline bool injected_failure() {
    if (++g_stats.allocations != g_fail_at) return false;
    g_fail_at = 0;
    g_injected++;
    return true;
}

// The C allocator's answer; a failure retries after what the runtime holds has been given back (collect
// tells whether a collection may run here). Null means there is nothing left: the reserve is then freed,
// not spent on this request, so that raising no-memory and the code that catches it find room.
template <typename Alloc>
void* system_alloc(Alloc alloc, bool collect) {
    void* p = alloc();
    if (p) return p;
    if (collect && g_gc_enabled) gc_collect();
    pages::release_empty();
    p = alloc();
    if (!p) free_reserve();
    return p;
}

// Grows the node table: doubled, or by a quarter when twice the table is more than the system will give.
bool try_grow_node_table() {
    for (uint64_t step : {uint64_t(g_node_capacity), uint64_t(g_node_capacity) / 4 + 1}) {
        uint64_t bigger = std::min<uint64_t>(uint64_t(g_node_capacity) + step, MAX_NODES);
        if (auto* table = static_cast<Series**>(std::realloc(g_nodes, sizeof(Series*) * bigger))) {
            g_nodes = table;
            g_node_capacity = uint32_t(bigger);
            g_stats.node_capacity = g_node_capacity;
            return true;
        }
    }
    return false;
}

// Makes sure node_alloc has a node to give: a free one, or room at the end of the table. When the table
// cannot grow, a collection may give nodes back instead. Called where a collection may run.
void reserve_node() {
    if (g_free_head || g_node_next < g_node_capacity) return;
    if (g_node_capacity >= MAX_NODES || injected_failure()) out_of_memory();
    if (try_grow_node_table()) return;
    if (g_gc_enabled) gc_collect();
    if (g_free_head) return;
    pages::release_empty();
    if (try_grow_node_table()) return;
    free_reserve();
    out_of_memory();
}

// A slot for a small buffer; a failure retries as system_alloc does.
Series* small_alloc(uint32_t size) {
    Series* s = pages::alloc(size);
    if (s) return s;
    if (g_gc_enabled) gc_collect();
    pages::release_empty();
    if ((s = pages::alloc(size))) return s;
    free_reserve();
    return nullptr;
}

// A block of the C allocator for a buffer of size data bytes, on the list of such buffers.
Series* big_alloc(uint64_t size) {
    auto* l = static_cast<BigLink*>(system_alloc([&] { return std::malloc(sizeof(BigLink) + sizeof(Series) + size); }, true));
    if (!l) return nullptr;
    l->next = g_big.next;
    l->prev = &g_big;
    g_big.next->prev = l;
    g_big.next = l;
    Series* s = series_of(l);
    s->flags = 0;
    s->size = uint32_t(size);
    return s;
}

// A buffer of count units with no node yet (heap: one the collector never frees). This is where the
// collector may run.
Series* alloc_buffer(uint64_t count, uint32_t unit, int32_t head_offset, bool heap = false) {
    // Without a division: a count within the limit times a 32-bit unit cannot overflow 64 bits.
    if (unit == 0 || count > MAX_BUFFER_SIZE || count * unit > MAX_BUFFER_SIZE) out_of_memory();
    uint64_t size = round_up(count * unit, 16);
    // An empty block (a leaf of a tree, a block to be filled later) takes no data area: most stay empty,
    // and the first append grows it like any full block.
    if (size < MIN_BUFFER_SIZE && unit != sizeof(Cell)) size = MIN_BUFFER_SIZE;
    if (g_stats.allocated_since_gc + size + BUFFER_OVERHEAD >= g_gc_due) gc_entry(size + BUFFER_OVERHEAD);
    if (injected_failure()) out_of_memory();
    Series* s = !heap && pages::small(size) ? small_alloc(uint32_t(size)) : big_alloc(size);
    if (!s) out_of_memory();
    size = s->size;  // a slot may be larger than asked
    s->flags = (s->flags & SER_PAGED) | unit | SER_IN_USE | SER_ALLOCATED | (heap ? SER_HEAP : 0);
    if (size + BUFFER_OVERHEAD >= MAX_FRAME_SIZE) s->flags |= SER_BIG;
    uint32_t offset;
    if (head_offset == HEAD_MIDDLE) {
        s->flags |= SER_MID_HEAD;
        offset = uint32_t(size / 2) & ~(unit - 1);  // keep units aligned
    } else {
        offset = uint32_t(head_offset);
    }
    if (!(s->flags & SER_PAGED)) s->node = 0;  // a slot keeps the node it had, if any
    s->size = uint32_t(size);
    s->head = s->tail = offset;
    s->code = nullptr;
    g_stats.live_bytes += footprint(s);
    g_stats.allocated_since_gc += footprint(s);
    count_toward_reserve(footprint(s));
    return s;
}

void free_buffer(Series* s) {
    series_changed(s);
    g_stats.live_bytes -= footprint(s);
    if (s->flags & SER_PAGED) {
        pages::free(s);
        return;
    }
    big_unlink(s);
    std::free(link_of(s));
}

// A dead buffer of the C allocator the sweep found: its node goes too.
void release_dead(Series* s) {
    series_changed(s);
    g_stats.live_bytes -= footprint(s);
    if (s->node) node_free(s->node);
}

// What the sweep of a page freed. A dead slot keeps its node for its next buffer (the node table's entry
// already names the slot), so that neither the sweep nor the next allocation there touches the node table.
void page_swept(uint64_t bytes, uint32_t named) {
    g_stats.live_bytes -= bytes;
    g_stats.nodes_in_use -= named;
}

// Gives back a node that names no buffer, kept by a slot that now takes another one's buffer.
void node_unbind(uint32_t node) {
    g_nodes[node] = free_entry(g_free_head);
    g_free_head = node;
}

// A slot of a page being freed: the node it kept, if any, goes back.
void forget_slot(Series* s) {
    if (s->node) node_unbind(s->node);
}

// Gives the node a new buffer of new_size bytes (0: twice the old size) and returns it; the old buffer is
// handed back through old_out, untouched.
Series* replace_buffer(uint32_t node, uint64_t new_size, Series** old_out) {
    Series* old = g_nodes[node];
    if (new_size == 0) new_size = old->size ? uint64_t(old->size) * 2 : MIN_BUFFER_SIZE;
    uint32_t unit = old->unit();
    Series* fresh = alloc_buffer(new_size / unit, unit, 0, old->flags & SER_HEAP);
    if (fresh->node) node_unbind(fresh->node);
    old = g_nodes[node];
    series_changed(old);  // the node's new buffer starts without a decoded form
    uint32_t used = old->tail - old->head;
    if (used > fresh->size) used = fresh->size;
    fresh->flags = (old->flags & ~(SER_PLACE_FLAGS | SER_MID_HEAD | SER_MARK | SER_RUNS_MASK)) |
                   (fresh->flags & SER_PLACE_FLAGS);
    fresh->node = node;
    fresh->head = 0;
    fresh->tail = used;
    g_nodes[node] = fresh;
    old->node = 0;
    old->flags &= ~SER_IN_USE;
    *old_out = old;
    return fresh;
}

}  // namespace

const MemoryStats& memory_stats() { return g_stats; }

void memory_init() {
    if (!g_drop_code) g_drop_code = drop_nothing;
    pages::init(page_swept, forget_slot);
    g_node_capacity = FIRST_NODE_COUNT;
    // Not cleared: an entry is read only once node_alloc has handed its id out and set it, so the table's
    // pages are touched as nodes are used, not all at start-up.
    g_nodes = static_cast<Series**>(std::malloc(sizeof(Series*) * g_node_capacity));
    if (!g_nodes) runtime_error(94, 0);
    g_nodes[0] = nullptr;
    g_node_next = 1;
    g_free_head = 0;
    g_stats = MemoryStats{};
    g_stats.node_capacity = g_node_capacity;
    take_reserve();
}

void memory_release_all() {
    for (uint32_t id = 1; id < g_node_next; id++) {
        if (node_in_use(id)) series_changed(g_nodes[id]);
    }
    g_abandoned = nullptr;  // each is a page's slot or on the list of the others
    for (BigLink* l = g_big.next; l != &g_big;) {
        BigLink* next = l->next;
        std::free(l);
        l = next;
    }
    g_big.next = g_big.prev = &g_big;
    pages::release_all();
    free_reserve();
    std::free(g_nodes);
    g_nodes = nullptr;
    g_node_capacity = 0;
    g_node_next = 1;
    g_free_head = 0;
    uint64_t tracked = g_stats.tracked_bytes;
    g_stats = MemoryStats{};
    g_stats.tracked_bytes = tracked;
}

// A node once reserve_node has made sure there is one.
inline uint32_t node_take() {
    uint32_t id;
    if (g_free_head) {
        id = g_free_head;
        g_free_head = free_next(g_nodes[id]);
    } else {
        id = g_node_next++;
    }
    g_stats.nodes_in_use++;
    return id;
}

uint32_t node_alloc() {
    reserve_node();
    uint32_t id = node_take();
    g_nodes[id] = nullptr;
    return id;
}

void node_free(uint32_t node) {
    g_nodes[node] = free_entry(g_free_head);
    g_free_head = node;
    g_stats.nodes_in_use--;
}

bool node_in_use(uint32_t node) {
    if (node == 0 || node >= g_node_next || !g_nodes[node] || entry_is_free(g_nodes[node])) return false;
    // A node kept by a free slot of a page still names it: the slot says whether it holds a buffer.
    const Series* s = g_nodes[node];
    return !(s->flags & SER_PAGED) || (s->flags & SER_IN_USE);
}

uint32_t node_table_size() { return g_node_next; }

// The node of a new buffer: the one its slot kept, or a new one (reserve_node made sure there is one, and
// the buffer's allocation only ever gives nodes back).
inline uint32_t name_buffer(Series* s) {
    if (s->node) {
        ZOL_ASSERT(g_nodes[s->node] == s);
        g_stats.nodes_in_use++;
        return s->node;
    }
    ZOL_ASSERT(g_free_head || g_node_next < g_node_capacity);
    uint32_t node = node_take();
    s->node = node;
    g_nodes[node] = s;
    return node;
}

// The common allocation, in line: a small buffer whose class's current page has a slot, a node at hand,
// no collection due, no failure to inject and the reserve in place. Null (nothing changed) otherwise.
inline Series* alloc_small_now(uint64_t count, uint32_t unit) {
    if (!pages::ENABLED || count > pages::MAX_SMALL) return nullptr;
    uint32_t size = uint32_t(round_up(count * unit, 16));  // a count this low times a unit cannot overflow
    if (size > pages::MAX_SMALL || (size == 0 && unit != sizeof(Cell))) return nullptr;
    if (g_stats.allocated_since_gc + size + BUFFER_OVERHEAD >= g_gc_due) return nullptr;
    if (g_stats.allocations + 1 == g_fail_at || !g_reserve) return nullptr;
    if (!g_free_head && g_node_next == g_node_capacity) return nullptr;
    Series* s = pages::take_current(pages::class_of(size));
    if (!s) return nullptr;
    g_stats.allocations++;
    s->flags = SER_PAGED | unit | SER_IN_USE | SER_ALLOCATED;
    s->head = s->tail = 0;
    s->code = nullptr;
    uint64_t bytes = footprint(s);
    g_stats.live_bytes += bytes;
    g_stats.allocated_since_gc += bytes;
    return s;
}

uint32_t series_alloc(uint64_t count, uint32_t unit, int32_t head_offset) {
    if (head_offset == 0) {
        if (Series* s = alloc_small_now(count, unit)) return name_buffer(s);
    }
    // The node first: a failure to find one then leaves no buffer behind, and the buffer's allocation
    // (which may collect) only ever gives nodes back.
    reserve_node();
    return name_buffer(alloc_buffer(count, unit, head_offset));
}

uint32_t series_alloc_heap(uint64_t count, uint32_t unit, int32_t head_offset) {
    reserve_node();
    return name_buffer(alloc_buffer(count, unit, head_offset, true));
}

uint32_t series_alloc_cells(uint64_t n) { return series_alloc(n, 16, 0); }
uint32_t series_alloc_cells_now(uint64_t n) {
    Series* s = alloc_small_now(n, 16);
    return s ? name_buffer(s) : 0;
}

uint32_t series_alloc_cells_unset(uint64_t n) {
    uint32_t node = series_alloc(n ? n : 1, 16, 0);
    Series* s = g_nodes[node];
    auto* cells = reinterpret_cast<Cell*>(s->data());
    for (uint32_t i = 0; i < s->size / 16; i++) set_unset(&cells[i]);
    return node;
}

uint32_t series_alloc_bytes(uint64_t n) { return series_alloc(n ? n : 16, 1, 0); }

uint32_t series_alloc_units(uint64_t n, uint32_t unit) { return series_alloc(n ? n : 16 / unit, unit, 0); }

uint32_t series_alloc_bytes_filled(uint64_t n, uint8_t byte) {
    uint32_t node = series_alloc_bytes(n);
    Series* s = g_nodes[node];
    std::memset(s->data(), byte, s->size);
    return node;
}

void series_set_flags(uint32_t node, uint32_t bits) { g_nodes[node]->flags |= bits; }

void series_free_heap(uint32_t node) {
    Series* s = g_nodes[node];
    s->node = 0;  // a slot given back this way keeps no node
    free_buffer(s);
    node_free(node);
}

void series_release(uint32_t node) { series_free_heap(node); }

Series* series_grow_buffer(uint32_t node, uint64_t new_size) {
    Series* old;
    Series* fresh = replace_buffer(node, new_size, &old);
    abandon(old);
    return fresh;
}

Series* series_expand(uint32_t node, uint64_t new_size) {
    Series* old;
    Series* fresh = replace_buffer(node, new_size, &old);
    uint64_t n = uint64_t(old->size) - old->head;
    if (n > fresh->size) n = fresh->size;
    std::memcpy(fresh->data(), old->data() + old->head, n);
    free_buffer(old);
    return fresh;
}

Series* series_expand_filled(uint32_t node, uint64_t new_size, uint8_t byte) {
    uint32_t old_size = g_nodes[node]->size;
    Series* fresh = series_expand(node, new_size);
    if (fresh->size > old_size) std::memset(fresh->data() + old_size, byte, fresh->size - old_size);
    return fresh;
}

uint32_t series_copy_buffer(uint32_t node) {
    uint32_t unit = g_nodes[node]->unit();
    uint32_t copy = series_alloc(g_nodes[node]->size / unit, unit, 0);
    Series* src = g_nodes[node];
    Series* dst = g_nodes[copy];
    dst->flags = (src->flags & ~SER_SYSTEM_FLAGS) | (dst->flags & SER_PLACE_FLAGS) | SER_IN_USE;
    std::memcpy(dst->data(), src->data() + src->head, src->size - src->head);
    dst->tail = src->tail - src->head;
    return copy;
}

uint32_t series_copy_range(uint32_t node, uint32_t start_unit, uint32_t count) {
    uint32_t unit = g_nodes[node]->unit();
    uint32_t copy = series_alloc(count, unit, 0);
    Series* src = g_nodes[node];
    Series* dst = g_nodes[copy];
    std::memcpy(dst->data(), src->head_ptr() + uint64_t(start_unit) * unit, uint64_t(count) * unit);
    dst->tail = count * unit;
    dst->flags = (src->flags & ~SER_SYSTEM_FLAGS) | (dst->flags & SER_PLACE_FLAGS) | SER_IN_USE;
    return copy;
}

Cell* series_alloc_tail(uint32_t node) {
    Series* s = g_nodes[node];
    if (uint64_t(s->tail) + 16 > s->size) s = series_expand(node, 0);
    auto* cell = reinterpret_cast<Cell*>(s->tail_ptr());
    set_unset(cell);
    s->tail += 16;
    series_changed(s);
    return cell;
}

Cell* block_alloc_tail(const Cell* block) { return series_alloc_tail(series_node(block)); }

void series_reserve_cells(uint32_t node, uint64_t n) {
    uint64_t need = uint64_t(g_nodes[node]->tail) + n * 16;
    if (need > g_nodes[node]->size) series_expand(node, need);
}

uint8_t* series_reserve_tail(uint32_t node, uint64_t n) {
    Series* s = g_nodes[node];
    if (uint64_t(s->tail) + n > s->size) s = series_expand(node, n > s->size ? 2 * n : 0);
    uint8_t* at = s->tail_ptr();
    s->tail += uint32_t(n);
    series_changed(s);
    return at;
}

void memory_fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, size_t(end - start));
}

void memory_clear_words(uint32_t* first, uint32_t* last) {
    do {
        *first++ = 0;
    } while (first < last);
}

bool series_marked(const Series* s) {
    return (s->flags & SER_PAGED) ? pages::marked(s) : (s->flags & SER_MARK) != 0;
}

void memory_before_marking() { pages::finish_sweeps(); }

void memory_sweep(bool lazy) {
    // Abandoned buffers first: no node names them, and no mark reached them.
    for (Series* s = g_abandoned; s;) {
        Series* next = abandoned_next(s);
        s->code = nullptr;  // the chain, not a decoded form
        free_buffer(s);
        s = next;
    }
    g_abandoned = nullptr;
    for (BigLink* l = g_big.next; l != &g_big;) {
        BigLink* next = l->next;
        Series* s = series_of(l);
        if (s->flags & (SER_MARK | SER_HEAP)) {
            s->flags &= ~SER_MARK;
        } else {
            release_dead(s);
            big_unlink(s);
            std::free(l);
        }
        l = next;
    }
    pages::sweep(lazy);
    g_stats.allocated_since_gc = 0;
    take_reserve();
}

bool memory_release_reserve() {
    bool had_pages = pages::release_empty();
    return free_reserve() || had_pages;
}

void memory_fail_allocation(uint64_t n) { g_fail_at = n ? g_stats.allocations + n : 0; }

uint64_t memory_injected_failures() { return g_injected; }

// --- tracked heap

namespace {
struct TrackedHeader {
    size_t size;
    size_t pad;  // keeps the caller's part 16-byte aligned
};
}  // namespace

void* tracked_alloc(size_t bytes) {
    if (injected_failure()) out_of_memory();
    auto* h = static_cast<TrackedHeader*>(system_alloc([&] { return std::malloc(sizeof(TrackedHeader) + bytes); }, false));
    if (!h) out_of_memory();
    h->size = bytes;
    g_stats.tracked_bytes += bytes;
    return h + 1;
}

void* tracked_realloc(void* block, size_t bytes) {
    if (!block) return tracked_alloc(bytes);
    TrackedHeader* h = static_cast<TrackedHeader*>(block) - 1;
    size_t old = h->size;
    if (injected_failure()) out_of_memory();
    auto* nh = static_cast<TrackedHeader*>(system_alloc([&] { return std::realloc(h, sizeof(TrackedHeader) + bytes); }, false));
    if (!nh) out_of_memory();
    nh->size = bytes;
    g_stats.tracked_bytes += bytes - old;
    return nh + 1;
}

void tracked_free(void* block) {
    if (!block) return;
    TrackedHeader* h = static_cast<TrackedHeader*>(block) - 1;
    g_stats.tracked_bytes -= h->size;
    std::free(h);
}

}  // namespace zol
