// The garbage collector: non-moving mark and sweep over the node table.
//
// Marking sets a bit in each reachable buffer, with a list (chained through the buffers' headers) of the
// blocks whose cells still have to be scanned, so nesting depth never touches the machine stack and
// marking allocates nothing. Sweeping frees every unmarked buffer and gives its node back. Roots: the root
// block, registered global cells, GcRoot cells on the C++ stack, the argument stack up to its top, the call
// frames, the visited-series stack, the value store and the mark callbacks that other modules register.
//
// A collection runs only inside an allocation (or recycle) and only while collection is enabled. C++ code
// that holds a series no root reaches must root it (GcRoot) across anything that allocates.
#pragma once
#include <cstdint>

#include "cell.h"

namespace zol {

extern bool g_gc_enabled;  // off until start-up has loaded its values; recycle/on and /off switch it

struct GcStats {
    uint32_t collections;
    uint64_t freed_last;      // bytes freed by the last collection (before its lazy sweeps)
    uint64_t last_pause_ns;   // how long the last collection held the program up
    uint64_t total_pause_ns;  // the same, summed over every collection
};
const GcStats& gc_stats();

void gc_init();
// Called by the allocator before it places a buffer of the given footprint: collects when enabled and
// either the allocation threshold is reached or the stress switch (ZOL_GC_STRESS=1) is on.
void gc_entry(uint64_t request);
// The count of bytes allocated since the last collection from which the allocator calls gc_entry (0 under
// stress): below it no collection is due, and the allocator need not ask.
extern uint64_t g_gc_due;
// One full collection, whatever the enabled flag (recycle uses it directly): it sweeps every buffer it
// found dead before it returns, where the collections that allocation starts leave small buffers to be
// swept as their size classes next need room.
void gc_collect();
bool gc_running();
void gc_set_stress(bool on);
bool gc_stress();

// Callbacks run during marking, for modules that keep values in their own tables.
void gc_keep_push(void (*callback)());
void gc_keep_remove(void (*callback)());

// Marking primitives for callbacks and datatype hooks.
bool gc_mark_series(uint32_t node);  // true when newly marked
void gc_mark_block(uint32_t node);   // the buffer and, once, its cells
void gc_mark_context(uint32_t node);
void gc_mark_cells(const Cell* first, const Cell* last);
// Any series: deep when its units are cells, else the buffer alone.
void gc_mark_node(uint32_t node);
// Marks a hash table: its buffers and the block of keys it indexes. The tables are made above this layer,
// which sets the marker when it starts; until then no table exists.
extern void (*g_mark_hashtable)(uint32_t table);

// Marks what a block's decoded form holds (the interpreter's; see series_changed), for each marked block that
// has one.
extern void (*g_mark_code)(void* code);

// The root block: values the runtime makes during start-up live here. Created by root_block_init.
extern uint32_t g_root_block;
void root_block_init();
Cell* root_block_append();

// Global cells that stay roots for the whole run.
void gc_register_root(Cell* cell);

// A cell on the C++ stack that the collector treats as a root while it is in scope.
// Roots are kept in a chain and must be destroyed in reverse order of construction (automatic variables).
class GcRoot;
extern GcRoot* g_root_chain;

class GcRoot {
public:
    GcRoot() : prev_(g_root_chain) {
        set_none(&cell_);
        g_root_chain = this;
    }
    explicit GcRoot(const Cell& value) : cell_(value), prev_(g_root_chain) { g_root_chain = this; }
    ~GcRoot() {
        ZOL_ASSERT(g_root_chain == this);  // roots end in the reverse order of their making
        g_root_chain = prev_;
    }
    GcRoot(const GcRoot&) = delete;
    GcRoot& operator=(const GcRoot&) = delete;

    Cell* get() { return &cell_; }
    Cell* operator->() { return &cell_; }
    Cell& operator*() { return cell_; }
    GcRoot* previous() const { return prev_; }

private:
    Cell cell_;
    GcRoot* prev_;
};

}  // namespace zol
