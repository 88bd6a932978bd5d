// The collector: it keeps exactly what the roots reach, marks without recursion and releases external
// resources through their callbacks.
#include <cstring>
#include <vector>

#include "runtime/externals.h"
#include "runtime/gc.h"
#include "runtime/values/hashtable.h"
#include "runtime/memory.h"
#include "runtime/pages.h"
#include "runtime/valuestore.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class GcTest : public RuntimeTest {};

uint32_t new_block(Cell* out, uint32_t capacity = 4) {
    set_series(out, TYPE_BLOCK, series_alloc_cells(capacity));
    return series_node(out);
}

// Appends a value to a block held in a rooted cell.
void append(Cell* block, const Cell& value) { *block_alloc_tail(block) = value; }

TEST_F(GcTest, KeepsWhatIsReachableAndFreesTheRest) {
    GcRoot outer;
    uint32_t outer_node = new_block(outer.get());
    Cell inner, text;
    uint32_t inner_node = new_block(&inner);
    append(outer.get(), inner);
    set_series(&text, TYPE_STRING, series_alloc_bytes(8));
    uint32_t text_node = series_node(&text);
    append(&inner, text);
    Cell garbage;
    uint32_t garbage_node = new_block(&garbage);
    append(&garbage, text);  // an unreachable block that points at live data frees only itself

    gc_collect();
    EXPECT_TRUE(node_in_use(outer_node));
    EXPECT_TRUE(node_in_use(inner_node));
    EXPECT_TRUE(node_in_use(text_node));
    EXPECT_FALSE(node_in_use(garbage_node));
    EXPECT_FALSE(series_marked(node_series(outer_node))) << "marks are cleared after a collection";
}

// Collections that allocation starts leave small garbage to be swept as its size class next needs room.
// What is placed in a page still waiting for its sweep, and a buffer replaced by a larger one, must survive
// that sweep; the stress switch makes every allocation a collection, so pages wait at every step.
TEST_F(GcTest, LazySweepsFreeOnlyTheDead) {
    bool enabled = g_gc_enabled;
    g_gc_enabled = true;
    gc_set_stress(true);
    GcRoot kept;
    new_block(kept.get(), 1);
    GcRoot grown;
    set_series(grown.get(), TYPE_BINARY, series_alloc_bytes(16));
    for (int i = 0; i < 3000; i++) {
        Cell garbage;
        new_block(&garbage, 1 + i % 3);  // same size classes as the kept ones
        GcRoot keep;
        new_block(keep.get(), 1 + i % 3);
        append(keep.get(), integer(i));
        append(kept.get(), *keep);
        // A series grown while collections run keeps its length (its content is checked below).
        uint32_t tail = node_series(series_node(grown.get()))->tail;
        uint8_t* at = series_reserve_tail(series_node(grown.get()), 1);
        *at = uint8_t(i);
        EXPECT_EQ(node_series(series_node(grown.get()))->tail, tail + 1);
    }
    gc_set_stress(false);
    g_gc_enabled = enabled;
    Series* blocks = cell_series(kept.get());
    ASSERT_EQ(blocks->cell_count(), 3000u);
    for (uint32_t i = 0; i < 3000; i++) {
        const Cell* b = blocks->cells() + i;
        ASSERT_TRUE(node_in_use(series_node(b))) << i;
        ASSERT_EQ(cell_series(b)->cell_count(), 1u) << i;
        ASSERT_EQ(cell_int(cell_series(b)->cells()), int32_t(i)) << i;
    }
    Series* bytes = cell_series(grown.get());
    for (uint32_t i = 0; i < 3000; i++) ASSERT_EQ(bytes->head_ptr()[i], uint8_t(i)) << i;
    // A buffer replaced by a larger one (not copied) stays readable until the next collection, whatever
    // sweeps of its page come before it.
    g_gc_enabled = true;
    uint32_t node = series_alloc_bytes(48);
    set_series(grown.get(), TYPE_BINARY, node);
    gc_set_stress(true);
    Cell other;
    set_series(&other, TYPE_BINARY, series_alloc_bytes(48));  // a collection: every page waits for its sweep
    gc_set_stress(false);
    Series* old = node_series(node);
    std::memset(old->data(), 0x5A, 48);
    series_grow_buffer(node, 96);
    for (int i = 0; i < 3000; i++) {
        Cell garbage;
        set_series(&garbage, TYPE_BINARY, series_alloc_bytes(48));  // the old buffer's size class
        std::memset(cell_series(&garbage)->data(), 0xA5, 48);
    }
    for (int i = 0; i < 48; i++) ASSERT_EQ(old->data()[i], 0x5A) << i;
    g_gc_enabled = enabled;
    // A full collection then finds every dead buffer swept: a second one frees nothing more.
    gc_collect();
    uint64_t live = memory_stats().live_bytes;
    gc_collect();
    EXPECT_EQ(memory_stats().live_bytes, live);
}

// Nodes that name a buffer, counted over the whole table.
uint32_t nodes_naming_buffers() {
    uint32_t n = 0;
    for (uint32_t id = 1; id < node_table_size(); id++) n += node_in_use(id) ? 1 : 0;
    return n;
}

// A dead slot of a page keeps its node for its next buffer. Meanwhile the node names nothing; the slot's
// next buffer takes it back; a series that grows into the slot brings its own node, and the kept one must
// then go back to the free nodes rather than name the slot twice. After every step the nodes the table
// says are in use are exactly the ones counted.
TEST_F(GcTest, ASlotKeepsItsNodeForItsNextBufferOnly) {
    struct Step {
        const char* what;
        uint32_t garbage_cells;  // blocks made and dropped before the collection
        uint32_t kept_cells;     // blocks made after it, kept
        uint64_t grow_to;        // bytes each kept block grows to afterwards (0: none)
    };
    const Step steps[] = {
        {"same class", 1, 1, 0},
        {"two classes", 2, 1, 0},
        {"grown into dead slots", 8, 1, 128},
        {"grown across classes", 3, 2, 80},
    };
    for (const Step& step : steps) {
        std::vector<uint32_t> dead;
        for (int i = 0; i < 300; i++) {
            Cell garbage;
            dead.push_back(new_block(&garbage, step.garbage_cells));
        }
        gc_collect();
        for (uint32_t n : dead) ASSERT_FALSE(node_in_use(n)) << step.what;
        ASSERT_EQ(nodes_naming_buffers(), memory_stats().nodes_in_use) << step.what;

        GcRoot holder;
        new_block(holder.get(), 300);
        uint32_t before = memory_stats().nodes_in_use;
        std::vector<uint32_t> kept;
        for (int i = 0; i < 300; i++) {
            Cell b;
            kept.push_back(new_block(&b, step.kept_cells));
            append(holder.get(), b);
        }
        EXPECT_EQ(memory_stats().nodes_in_use, before + 300) << step.what;
        for (uint32_t i = 0; i < kept.size(); i++) {
            uint32_t n = kept[i];
            ASSERT_TRUE(node_in_use(n)) << step.what << " " << i;
            ASSERT_EQ(node_series(n)->node, n) << step.what << " " << i;
            for (uint32_t j = 0; j < i; j++) ASSERT_NE(kept[j], n) << step.what;
        }
        if (step.grow_to) {
            for (uint32_t n : kept) series_expand(n, step.grow_to);
            for (uint32_t n : kept) ASSERT_EQ(node_series(n)->node, n) << step.what;
        }
        EXPECT_EQ(nodes_naming_buffers(), memory_stats().nodes_in_use) << step.what;
        // A node given back is handed out again, and names nothing before its buffer comes.
        uint32_t fresh = node_alloc();
        EXPECT_FALSE(node_in_use(fresh)) << step.what;
        for (uint32_t n : kept) EXPECT_NE(fresh, n) << step.what;
        node_free(fresh);
    }
}

// Pages emptied by a collection are given back when memory runs short, and their room makes pages again:
// what is placed there afterwards reads back whole, in every size class the pages were taken from.
TEST_F(GcTest, EmptyPagesAreGivenBackAndTheirRoomReused) {
    if (!pages::ENABLED) GTEST_SKIP() << "sanitizer builds place no buffer in pages";
    const uint32_t cells[] = {0, 2, 9, 30};  // four size classes, the largest near the biggest slot
    auto fill = [&](Cell* holder, int round) {
        new_block(holder, 4000);
        for (int i = 0; i < 4000; i++) {
            Cell b;
            uint32_t n = cells[i % 4];
            new_block(&b, n);
            for (uint32_t k = 0; k < n; k++) append(&b, integer(round * 100000 + i * 32 + int(k)));
            append(holder, b);
        }
    };
    {
        GcRoot first;
        fill(first.get(), 1);
    }
    gc_collect();
    uint64_t before = pages::page_bytes();
    EXPECT_TRUE(memory_release_reserve());
    EXPECT_LT(pages::page_bytes(), before) << "the emptied pages went back";
    GcRoot second;
    fill(second.get(), 2);
    gc_collect();
    Series* holder = cell_series(second.get());
    ASSERT_EQ(holder->cell_count(), 4000u);
    for (int i = 0; i < 4000; i++) {
        const Cell* b = holder->cells() + i;
        uint32_t n = cells[i % 4];
        ASSERT_EQ(cell_series(b)->cell_count(), n) << i;
        for (uint32_t k = 0; k < n; k++) ASSERT_EQ(cell_int(cell_series(b)->cells() + k), 200000 + i * 32 + int(k)) << i;
    }
}

TEST_F(GcTest, TheArgumentStackIsARootUpToItsTop) {
    Cell block;
    uint32_t node = new_block(&block);
    stack_push(&block);
    gc_collect();
    EXPECT_TRUE(node_in_use(node));
    stack_pop(1);
    gc_collect();
    EXPECT_FALSE(node_in_use(node));
}

TEST_F(GcTest, TheValueStoreKeepsItsValues) {
    Cell block;
    uint32_t node = new_block(&block);
    uint32_t index = valuestore_put(&block);
    gc_collect();
    EXPECT_TRUE(node_in_use(node));
    valuestore_free(index);
    gc_collect();
    EXPECT_FALSE(node_in_use(node));
}

TEST_F(GcTest, CallFramesKeepTheirContexts) {
    Cell context;
    uint32_t node = new_block(&context, 2);
    Cell word;
    set_word(&word, TYPE_WORD, node, 7);
    stack_mark_call(&word);
    gc_collect();
    EXPECT_TRUE(node_in_use(node));
    unwind_frame_drop();
    gc_collect();
    EXPECT_FALSE(node_in_use(node));
}

TEST_F(GcTest, ABlockThatContainsItselfIsMarkedOnce) {
    GcRoot block;
    uint32_t node = new_block(block.get());
    append(block.get(), *block);
    append(block.get(), *block);
    gc_collect();
    EXPECT_TRUE(node_in_use(node));
}

TEST_F(GcTest, DeepNestingDoesNotRecurse) {
    bool stress = gc_stress();
    gc_set_stress(false);  // a million collections of a growing chain would take hours
    GcRoot top;
    new_block(top.get(), 1);
    {
        Cell at = *top;
        for (int i = 0; i < 1000000; i++) {
            Cell inner;
            new_block(&inner, 1);
            append(&at, inner);
            at = inner;
        }
    }
    gc_set_stress(stress);
    gc_collect();
    // Walk down: every level survived.
    Cell at = *top;
    int depth = 0;
    while (cell_series(&at)->used() == 1) {
        at = *cell_series(&at)->cells();
        depth++;
    }
    EXPECT_EQ(depth, 1000000);
}

TEST_F(GcTest, AHashIndexKeepsTheBlockItIndexes) {
    GcRoot keys;
    uint32_t keys_node = new_block(keys.get());
    for (int i = 0; i < 4; i++) append(keys.get(), integer(i));
    uint32_t table = hashtable_make(4, keys_node, HASH_MAP, 1);
    GcRoot map;
    set_series(map.get(), TYPE_MAP, 0, 0, table);  // no cells of its own: only the index
    set_none(keys.get());  // from here the keys are reachable through the index alone
    gc_collect();
    EXPECT_TRUE(node_in_use(table));
    EXPECT_TRUE(node_in_use(keys_node));
    map->header = TYPE_NONE;
    gc_collect();
    EXPECT_FALSE(node_in_use(table));
    EXPECT_FALSE(node_in_use(keys_node));
}

TEST_F(GcTest, AStackContextDoesNotMarkItsArgumentBase) {
    // Word 2 of a stack context is an argument index, not a node: the collector must not follow it.
    GcRoot context;
    set_series(context.get(), TYPE_BLOCK, series_alloc_cells(2));
    Cell* ctx = block_alloc_tail(context.get());
    ctx->header = TYPE_CONTEXT | HDR_STACK_CONTEXT;
    ctx->w1 = 0;
    ctx->w2 = 0x7FFFFFFF;
    gc_collect();
    EXPECT_TRUE(node_in_use(series_node(context.get())));
}

TEST_F(GcTest, DisabledCollectionNeverRunsOnAllocation) {
    bool was = g_gc_enabled;
    g_gc_enabled = false;
    gc_set_stress(true);
    uint32_t before = gc_stats().collections;
    for (int i = 0; i < 100; i++) series_alloc_bytes(1 << 16);
    EXPECT_EQ(gc_stats().collections, before);
    gc_collect();
    EXPECT_EQ(gc_stats().collections, before + 1) << "an explicit collection runs whatever the flag";
    gc_set_stress(false);
    g_gc_enabled = was;
}

TEST_F(GcTest, StressCollectsAtEveryAllocation) {
    gc_set_stress(true);
    uint32_t before = gc_stats().collections;
    series_alloc_bytes(8);
    series_alloc_bytes(8);
    EXPECT_EQ(gc_stats().collections, before + 2);
    gc_set_stress(false);
}

TEST_F(GcTest, AThresholdCollectsWithoutStress) {
    uint32_t before = gc_stats().collections;
    for (int i = 0; i < 64; i++) series_alloc_bytes(1 << 20);
    EXPECT_GT(gc_stats().collections, before);
}

// --- external resources

int g_released = 0;
void count_release(void*) { g_released++; }

TEST_F(GcTest, UnreachableResourcesAreReleasedOnce) {
    uint32_t type = externals_register_type("test-resource", count_release);
    static int resource_a, resource_b;
    uint32_t live_slot = externals_store(&resource_a, type);
    uint32_t dead_slot = externals_store(&resource_b, type);
    GcRoot handle;
    handle->header = TYPE_HANDLE;
    handle->w3 = live_slot;
    g_released = 0;
    gc_collect();
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(externals_get(live_slot), &resource_a);
    EXPECT_EQ(externals_value(dead_slot), EXT_FREE);
    gc_collect();
    EXPECT_EQ(g_released, 1) << "a released slot is not released again";
    EXPECT_EQ(externals_store(&resource_b, type), dead_slot) << "the freed slot is reused first";
    externals_remove(dead_slot, false);
    handle->header = TYPE_NONE;
    gc_collect();
    EXPECT_EQ(g_released, 2);
}

}  // namespace
}  // namespace zol::test
