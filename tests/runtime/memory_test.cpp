// Series buffers: sizes, growth, copies and the limits of a request.
#include <cstring>

#include "runtime/gc.h"
#include "runtime/memory.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class MemoryTest : public RuntimeTest {};

TEST_F(MemoryTest, AllocationSizesAndUnits) {
    // Each buffer is checked before the next allocation, which may collect it.
    auto check = [](uint32_t node, uint32_t size, uint32_t unit, const char* what) {
        Series* s = node_series(node);
        EXPECT_EQ(s->size, size) << what;
        EXPECT_EQ(s->unit(), unit) << what;
        EXPECT_EQ(s->head, 0u) << what;
        EXPECT_EQ(s->tail, 0u) << what;
        EXPECT_EQ(s->node, node) << what;
        EXPECT_TRUE(s->flags & SER_IN_USE) << what;
        EXPECT_TRUE(s->flags & SER_ALLOCATED) << what;
    };
    check(series_alloc_bytes(0), 16, 1, "bytes(0) gets 16 bytes");
    check(series_alloc_bytes(17), 32, 1, "bytes(17) rounds up to 32");
    check(series_alloc_units(0, 4), 16, 4, "units(0, 4) gets 4 units");
    check(series_alloc_units(5, 2), 16, 2, "units(5, 2) rounds up to 16 bytes");
    check(series_alloc_cells(3), 48, 16, "cells(3) is 48 bytes");
    check(series_alloc(0, 16), 0, 16, "a block of 0 cells still gets a buffer, with no data area");
}

TEST_F(MemoryTest, FilledAndUnsetBuffers) {
    Series* bytes = node_series(series_alloc_bytes_filled(20, 0xAB));
    for (uint32_t i = 0; i < bytes->size; i++) ASSERT_EQ(bytes->data()[i], 0xAB);
    Series* cells = node_series(series_alloc_cells_unset(4));
    auto* c = reinterpret_cast<Cell*>(cells->data());
    for (uint32_t i = 0; i < 4; i++) EXPECT_TRUE(cell_is(&c[i], TYPE_UNSET));
}

TEST_F(MemoryTest, BigBufferThreshold) {
    // A buffer counts as big from a footprint (size + 24) of 2 MB on.
    EXPECT_FALSE(node_series(series_alloc_bytes(MAX_FRAME_SIZE - 32))->flags & SER_BIG);
    EXPECT_TRUE(node_series(series_alloc_bytes(MAX_FRAME_SIZE - 16))->flags & SER_BIG);
}

TEST_F(MemoryTest, HeadInTheMiddle) {
    Series* bytes = node_series(series_alloc(32, 1, HEAD_MIDDLE));
    EXPECT_TRUE(bytes->flags & SER_MID_HEAD);
    EXPECT_EQ(bytes->head, bytes->size / 2);
    EXPECT_EQ(bytes->tail, bytes->head);
    // Cells stay whole: the middle is rounded down to a cell boundary.
    Series* cells = node_series(series_alloc(3, 16, HEAD_MIDDLE));
    EXPECT_EQ(cells->head % 16, 0u);
    EXPECT_LE(cells->head, cells->size / 2);
}

TEST_F(MemoryTest, GrowReplacesTheBufferAndKeepsTheUsedLength) {
    uint32_t node = series_alloc_bytes(16);
    GcRoot keep;
    set_series(keep.get(), TYPE_BINARY, node);
    Series* old = node_series(node);
    old->head = 4;
    old->tail = 14;
    Series* fresh = series_grow_buffer(node);
    EXPECT_EQ(node_series(node), fresh);
    EXPECT_EQ(fresh->size, 32u);
    EXPECT_EQ(fresh->node, node);
    EXPECT_EQ(fresh->head, 0u);
    EXPECT_EQ(fresh->tail, 10u);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SER_IN_USE);
}

TEST_F(MemoryTest, ExpandCopiesFromTheHeadAndFillsTheRest) {
    uint32_t node = series_alloc_bytes(16);
    GcRoot keep;
    set_series(keep.get(), TYPE_BINARY, node);
    Series* s = node_series(node);
    std::memcpy(s->data(), "0123456789abcdef", 16);
    s->head = 2;
    s->tail = 6;
    Series* fresh = series_expand_filled(node, 64, 'x');
    EXPECT_EQ(std::memcmp(fresh->data(), "23456789abcdef", 14), 0);
    EXPECT_EQ(fresh->tail, 4u);
    for (uint32_t i = 16; i < 64; i++) ASSERT_EQ(fresh->data()[i], 'x');
}

TEST_F(MemoryTest, CopiesDropTheCollectorAndOwnerFlags) {
    uint32_t node = series_alloc(8, 2);
    GcRoot keep;
    set_series(keep.get(), TYPE_STRING, node);
    Series* s = node_series(node);
    std::memcpy(s->data(), "a\0b\0c\0d\0", 8);
    s->tail = 8;
    s->flags |= SER_OWNED | SER_HEAP | 0x400;  // 0x400: a bit of the datatype's own
    uint32_t copy = series_copy_buffer(node);
    Series* c = node_series(copy);
    EXPECT_FALSE(c->flags & (SER_OWNED | SER_HEAP | SER_MARK));
    EXPECT_TRUE(c->flags & 0x400);
    EXPECT_EQ(c->unit(), 2u);
    EXPECT_EQ(c->tail, 8u);
    EXPECT_EQ(std::memcmp(c->data(), "a\0b\0c\0d\0", 8), 0);

    uint32_t range = series_copy_range(node, 1, 2);
    Series* r = node_series(range);
    EXPECT_FALSE(r->flags & (SER_OWNED | SER_HEAP));
    EXPECT_EQ(r->tail, 4u);
    EXPECT_EQ(std::memcmp(r->data(), "b\0c\0", 4), 0);
    s->flags &= ~(SER_OWNED | SER_HEAP);
}

TEST_F(MemoryTest, AppendingCellsGrowsAFullBlock) {
    for (uint64_t capacity : {0, 1}) {  // a block made empty has no room at all
        GcRoot block;
        set_series(block.get(), TYPE_BLOCK, series_alloc_cells(capacity));
        for (int i = 0; i < 100; i++) set_integer(block_alloc_tail(block.get()), i);
        Series* s = cell_series(block.get());
        ASSERT_EQ(s->used(), 100u) << capacity;
        for (int i = 0; i < 100; i++) EXPECT_EQ(cell_int(s->cells() + i), i) << capacity;
        // Grown by the default doubling and by a reserve as well.
        GcRoot other;
        set_series(other.get(), TYPE_BLOCK, series_alloc_cells(capacity));
        uint32_t node = series_node(other.get());
        series_expand(node, 0);
        EXPECT_GE(node_series(node)->size, 16u) << capacity;
        Cell* at = reinterpret_cast<Cell*>(series_reserve_tail(node, 3 * 16));
        for (int i = 0; i < 3; i++) set_integer(at + i, i);
        EXPECT_EQ(node_series(node)->used(), 3u) << capacity;
    }
}

TEST_F(MemoryTest, ReserveTailAsksForTwiceALargeRequest) {
    uint32_t node = series_alloc_bytes(16);
    GcRoot keep;
    set_series(keep.get(), TYPE_BINARY, node);
    series_reserve_tail(node, 10);
    EXPECT_EQ(node_series(node)->size, 16u);
    series_reserve_tail(node, 10);  // 20 > 16: default doubling
    EXPECT_EQ(node_series(node)->size, 32u);
    series_reserve_tail(node, 100);  // larger than the buffer: twice the request (small buffers come in
                                     // size classes, so at least that)
    EXPECT_GE(node_series(node)->size, 208u);
    EXPECT_LT(node_series(node)->size, 256u);
    EXPECT_EQ(node_series(node)->tail, 120u);
}

TEST_F(MemoryTest, OversizedRequestsRaiseNoMemory) {
    // The byte count is computed in 64 bits: 2^28 cells of 16 bytes must not wrap to a small buffer.
    EXPECT_EQ(catch_error([] { series_alloc(uint64_t(1) << 28, 16); }), ERR_INTERNAL_NO_MEMORY);
    EXPECT_EQ(catch_error([] { series_alloc(uint64_t(1) << 32, 1); }), ERR_INTERNAL_NO_MEMORY);
    EXPECT_EQ(catch_error([] { series_alloc(0xFFFFFFFFu, 4); }), ERR_INTERNAL_NO_MEMORY);
}

TEST_F(MemoryTest, FreedNodesAreReused) {
    uint32_t a = node_alloc();
    node_free(a);
    EXPECT_FALSE(node_in_use(a));
    uint32_t b = node_alloc();
    EXPECT_EQ(a, b);
    node_free(b);
}

TEST_F(MemoryTest, ReleasedBuffersComeBackAsNewOnes) {
    // Small buffers are reused after a release: whatever the old one was (owned by C++ code, its head in the
    // middle), the new one starts clean, and the live total counts each buffer once.
    struct Case {
        uint64_t count;
        uint32_t unit;
    };
    const Case cases[] = {{1, 16}, {3, 16}, {16, 16}, {17, 16}, {20, 1}, {256, 1}, {257, 1}, {7, 4}};
    for (const Case& c : cases) {
        uint32_t old = series_alloc(c.count, c.unit, HEAD_MIDDLE);
        series_set_flags(old, SER_HEAP);
        Series* s = node_series(old);
        std::memset(s->data(), 0xEE, s->size);
        s->tail = s->size;
        // Measured after the allocation, which may have collected other garbage.
        uint64_t with = memory_stats().live_bytes;
        uint32_t size = s->size;
        uint64_t footprint = size + BUFFER_OVERHEAD;
        series_release(old);
        EXPECT_EQ(memory_stats().live_bytes, with - footprint) << c.count << "x" << c.unit;
        // The same data size in another unit, so that a kept buffer is the one handed out.
        uint32_t unit = c.unit == 1 ? 2 : 1;
        uint32_t node = series_alloc(size / unit, unit, 0);
        Series* fresh = node_series(node);
        EXPECT_EQ(fresh->size, size) << c.count << "x" << c.unit;
        EXPECT_EQ(fresh->unit(), unit) << c.count << "x" << c.unit;
        EXPECT_EQ(fresh->head, 0u);
        EXPECT_EQ(fresh->tail, 0u);
        EXPECT_EQ(fresh->node, node);
        EXPECT_FALSE(fresh->flags & (SER_HEAP | SER_MID_HEAD | SER_BIG)) << c.count << "x" << c.unit;
        series_release(node);
    }
}

TEST_F(MemoryTest, TrackedHeapKeepsARunningTotal) {
    uint64_t before = memory_stats().tracked_bytes;
    void* p = tracked_alloc(100);
    EXPECT_EQ(memory_stats().tracked_bytes, before + 100);
    p = tracked_realloc(p, 300);
    EXPECT_EQ(memory_stats().tracked_bytes, before + 300);
    tracked_free(p);
    EXPECT_EQ(memory_stats().tracked_bytes, before);
}

}  // namespace
}  // namespace zol::test
