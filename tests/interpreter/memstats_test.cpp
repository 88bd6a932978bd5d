// Memory statistics: the shape of stats/info and the number types of plain stats.
#include "interpreter/memstats.h"
#include "runtime/datatypes/block.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class MemoryStatsTest : public RuntimeTest {};

TEST_F(MemoryStatsTest, ByteCountsAreIntegersUntilTheyOverflow) {
    Cell c;
    memory_stats_number(&c, memory_stats_measure(nullptr, 1));
    ASSERT_TRUE(cell_is(&c, TYPE_INTEGER));
    EXPECT_GT(cell_int(&c), 0);
    memory_stats_number(&c, 2147483647.0);
    EXPECT_TRUE(cell_is(&c, TYPE_INTEGER));
    memory_stats_number(&c, 2147483648.0);
    ASSERT_TRUE(cell_is(&c, TYPE_FLOAT));
    EXPECT_EQ(cell_float(&c), 2147483648.0);
}

TEST_F(MemoryStatsTest, InfoListsFramesThenTotals) {
    GcRoot report, big;
    block_make_at(report.get(), 5);
    // A buffer large enough to count as big shows as one big frame of at least its size.
    block_make_at(big.get(), MAX_FRAME_SIZE / 16 + 1);
    double used = memory_stats_measure(report.get(), 2);
    Series* s = cell_series(report.get());
    ASSERT_EQ(s->used(), 5u);
    Cell* v = s->cells();
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(cell_is(v + i, TYPE_BLOCK)) << i;
        EXPECT_TRUE(v[i].header & HDR_NEW_LINE) << i;
    }
    const Cell* first_frame = cell_series(v)->cells();
    ASSERT_TRUE(cell_is(first_frame, TYPE_BLOCK));
    const Cell* triple = cell_series(first_frame)->cells();
    ASSERT_EQ(cell_series(first_frame)->used(), 3u);
    EXPECT_EQ(cell_int(triple + 2), 10000) << "the first node frame";
    EXPECT_EQ(cell_int(triple) + cell_int(triple + 1), 10000) << "free plus used";
    bool found = false;
    Series* bigs = cell_series(v + 2);
    for (uint32_t i = 0; i < bigs->used(); i++) found |= cell_int(bigs->cells() + i) >= int32_t(MAX_FRAME_SIZE);
    EXPECT_TRUE(found);
    ASSERT_TRUE(cell_is(v + 3, TYPE_INTEGER));
    EXPECT_GE(double(cell_int(v + 3)), used) << "memory taken covers memory in use";
    EXPECT_TRUE(cell_is(v + 4, TYPE_INTEGER));
}

}  // namespace
}  // namespace zol::test
