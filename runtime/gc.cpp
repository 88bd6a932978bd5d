// The garbage collector.
#include "gc.h"

#include <vector>

#include "cycles.h"
#include "externals.h"
#include "memory.h"
#include "pages.h"
#include "platform/platform.h"
#include "stack.h"
#include "system.h"
#include "valuestore.h"

namespace zol {

GcRoot* g_root_chain = nullptr;
void (*g_mark_hashtable)(uint32_t table) = nullptr;
void (*g_mark_code)(void* code) = nullptr;

bool g_gc_enabled = false;
uint64_t g_gc_due = 0;
uint32_t g_root_block = 0;

namespace {

// Bytes allocated before the first collection, and the least between two: small enough that a program with
// little live data stays small (its heap is the live data and this much garbage), large enough that a
// collection, which costs about its live data, stays rare.
constexpr uint64_t MIN_THRESHOLD = 4u << 20;
constexpr int MAX_CALLBACKS = 100;
constexpr uint32_t ROOT_BLOCK_CELLS = 9696;

bool g_collecting = false;
bool g_stress = false;
uint64_t g_threshold = MIN_THRESHOLD;

void set_due() { g_gc_due = g_stress ? 0 : g_threshold; }
GcStats g_stats{};
uint64_t g_marked_bytes = 0;  // footprints of the buffers marked by the collection running
// Runtime state lives until the process ends: never destroyed, so nothing is freed under code still running
// at exit and leak checkers see every buffer as reachable.
std::vector<Cell*>& g_global_roots = *new std::vector<Cell*>;
void (*g_callbacks[MAX_CALLBACKS])() = {};

// Marked blocks whose cells wait for a scan, chained through their buffers' headers: a collection runs when
// memory is short and must end whatever is left, so marking takes no memory of its own.
uint32_t g_mark_list = 0;

inline void mark_push(uint32_t node) {
    g_nodes[node]->mark_next = g_mark_list;
    g_mark_list = node;
}

// Marking a buffer reads its header, which is seldom in the cache: the buffers that cells reach wait a few
// steps in a ring, their headers fetched meanwhile, and are marked when the ring comes round to them.
constexpr uint32_t AHEAD = 8;
constexpr uint32_t AHEAD_BYTES = 0x80000000;  // with a node in the ring: its units are not cells
uint32_t g_ahead[AHEAD];
uint32_t g_ahead_at = 0;

inline void mark_now(uint32_t entry) {
    if (entry & AHEAD_BYTES) {
        gc_mark_series(entry & ~AHEAD_BYTES);
    } else {
        gc_mark_block(entry);
    }
}

inline void mark_ahead(uint32_t entry, uint32_t node) {
    __builtin_prefetch(g_nodes[node], 1);
    uint32_t at = g_ahead_at;
    g_ahead_at = (at + 1) % AHEAD;
    uint32_t due = g_ahead[at];
    g_ahead[at] = entry;
    if (due) mark_now(due);
}

// Marks what the ring still holds; answers whether it held anything.
bool flush_ahead() {
    bool any = false;
    for (uint32_t& entry : g_ahead) {
        if (!entry) continue;
        uint32_t due = entry;
        entry = 0;
        mark_now(due);
        any = true;
    }
    return any;
}

inline void mark_buffer(uint32_t node) {
    if (node) mark_ahead(node | AHEAD_BYTES, node);
}

inline void mark_deep(uint32_t node) {
    if (node) mark_ahead(node, node);
}

// How each datatype's cell reaches its buffers is its row's mark kind in types.def.
void mark_cell(const Cell* c) {
    switch (type_mark(cell_type(c))) {
        case MARK_NONE: break;
        case MARK_CELLS: mark_deep(c->w2); break;
        case MARK_BYTES: mark_buffer(c->w2); break;
        case MARK_BYTES_CACHED:
            mark_buffer(c->w2);
            mark_buffer(c->w3);
            break;
        case MARK_WORD:
            // A context is a two-cell block (its context! cell and its owner), so a bound `self` word,
            // which reaches the owner, and any other bound word mark the same way.
            mark_deep(c->w1);
            break;
        case MARK_CONTEXT:
            g_mark_hashtable(c->w1);
            if (!(c->header & HDR_STACK_CONTEXT)) mark_deep(c->w2);
            break;
        case MARK_NATIVE: {
            mark_deep(c->w2);
            mark_deep(c->w3);
            uint32_t source = (c->header & HDR_OP_SOURCE_MASK) >> HDR_OP_SOURCE_SHIFT;
            if (cell_type(c) == TYPE_OP && (source == TYPE_FUNCTION || source == TYPE_ROUTINE)) mark_deep(c->w1);
            break;
        }
        case MARK_FUNCTION:
            mark_deep(c->w1);
            mark_deep(c->w2);
            mark_deep(c->w3);
            break;
        case MARK_OBJECT:
            mark_deep(c->w1);
            mark_buffer(c->w3);
            break;
        case MARK_HASHED:
            mark_deep(c->w2);
            if (c->w3) g_mark_hashtable(c->w3);
            break;
        case MARK_HANDLE:
            if (int32_t(c->w3) >= 0) externals_mark(c->w3, nullptr);
            break;
        case MARK_EVENT:
            if ((c->header & 0x1000) && c->w2) mark_deep(c->w2);
            break;
    }
}

// Scans the cells of every marked block until none is left: marking never recurses.
void drain() {
    do {
        while (g_mark_list) {
            Series* s = g_nodes[g_mark_list];
            g_mark_list = s->mark_next;
            for (Cell *c = s->cells(), *end = s->cell_tail(); c < end; c++) mark_cell(c);
            if (s->code) g_mark_code(s->code);
        }
    } while (flush_ahead());
}

void mark_roots() {
    mark_deep(g_root_block);
    for (Cell* c : g_global_roots) mark_cell(c);
    for (GcRoot* r = g_root_chain; r; r = r->previous()) mark_cell(r->get());
    stack_mark_roots();
    cycles_mark();
    valuestore_mark();
    for (auto cb : g_callbacks) {
        if (cb) cb();
    }
    drain();
}

}  // namespace

const GcStats& gc_stats() { return g_stats; }

void gc_init() {
    auto stress = platform::get_env("ZOL_GC_STRESS");
    g_stress = stress && *stress == "1";
    g_threshold = MIN_THRESHOLD;
    set_due();
}

void gc_set_stress(bool on) {
    g_stress = on;
    set_due();
}
bool gc_stress() { return g_stress; }

namespace {
void collect(bool lazy);
}  // namespace

void gc_entry(uint64_t request) {
    if (!g_gc_enabled || g_collecting) return;
    if (g_stress || memory_stats().allocated_since_gc + request >= g_threshold) collect(true);
}

bool gc_running() { return g_collecting; }

namespace {

// One collection: the marks, then the sweep (lazy: the pages' sweeps wait for their size classes' next
// allocations).
void collect(bool lazy) {
    if (g_collecting) return;
    g_collecting = true;
    uint64_t started = platform::monotonic_nanoseconds();
    uint64_t before = memory_stats().live_bytes;
    memory_before_marking();
    g_marked_bytes = 0;
    mark_roots();
    ZOL_ASSERT(g_mark_list == 0);
    externals_sweep();
    memory_sweep(lazy);
    uint64_t live = memory_stats().live_bytes;
    g_stats.freed_last = before > live ? before - live : 0;
    // Collect again once as much has been allocated as survived, so the cost stays proportional.
    g_threshold = g_marked_bytes > MIN_THRESHOLD ? g_marked_bytes : MIN_THRESHOLD;
    set_due();
    g_stats.collections++;
    g_stats.last_pause_ns = platform::monotonic_nanoseconds() - started;
    g_stats.total_pause_ns += g_stats.last_pause_ns;
    g_collecting = false;
}

}  // namespace

void gc_collect() { collect(false); }

void gc_keep_push(void (*callback)()) {
    for (auto& slot : g_callbacks) {
        if (!slot) {
            slot = callback;
            return;
        }
    }
}

void gc_keep_remove(void (*callback)()) {
    for (auto& slot : g_callbacks) {
        if (slot == callback) slot = nullptr;
    }
}

bool gc_mark_series(uint32_t node) {
    // A payload word that is not a live node is a datatype fault; stop here rather than mark garbage.
    ZOL_ASSERT(node_in_use(node));
    Series* s = g_nodes[node];
    if (!series_mark(s)) return false;
    g_marked_bytes += s->size + BUFFER_OVERHEAD;
    return true;
}

void gc_mark_block(uint32_t node) {
    if (gc_mark_series(node)) mark_push(node);
}

void gc_mark_context(uint32_t node) { gc_mark_block(node); }

void gc_mark_cells(const Cell* first, const Cell* last) {
    for (; first < last; first++) mark_cell(first);
}

void gc_mark_node(uint32_t node) {
    if (g_nodes[node]->unit() == 16) {
        gc_mark_block(node);
    } else {
        gc_mark_series(node);
    }
}

void root_block_init() { g_root_block = series_alloc_cells(ROOT_BLOCK_CELLS); }

Cell* root_block_append() { return series_alloc_tail(g_root_block); }

void gc_register_root(Cell* cell) { g_global_roots.push_back(cell); }

}  // namespace zol
