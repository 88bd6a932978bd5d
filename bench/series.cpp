// Block workloads on 1,000,000 chars: append one by one, insert at the head of the full block, find a
// value that is not there, sort (quick and stable). The same work in series.py; compare the checksum lines.
// Values are chars: they compare through the registry as any value does, and need no other datatype.
#include <chrono>
#include <cstdio>

#include "bench.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace {

using namespace zol;
using Clock = std::chrono::steady_clock;

constexpr uint32_t N = 1000000;
constexpr int INSERTS = 1000;
constexpr int FINDS = 100;

// The same generator as series.py.
uint32_t g_seed = 42;
uint32_t next_char() {
    g_seed = (g_seed * 1103515245u + 12345u) & 0x7FFFFFFFu;
    return 32 + g_seed % 50000;
}

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// Sum of code point x (position + 1) over the block, modulo 2^32.
uint32_t checksum(const Cell* block) {
    uint32_t sum = 0;
    Series* s = cell_series(block);
    for (uint32_t i = 0; i < s->used(); i++) sum += cell_char(s->cells() + i) * (i + 1);
    return sum;
}

void workloads() {
    GcRoot block, fresh;
    block_make_at(block.get(), 1);
    auto append = g_types.get<ACT_APPEND>(TYPE_BLOCK);
    Clock::time_point t = Clock::now();
    for (uint32_t i = 0; i < N; i++) {
        stack_reset();
        Cell* series = stack_push(block.get());
        Cell* value = stack_push_cell();
        set_char(value, next_char());
        append(series, value, -1, false, -1, true);
    }
    std::printf("append %u: %.1f ms\n", N, ms_since(t));
    std::printf("checksum after append: %u\n", checksum(block.get()));

    // Kept aside so the sorts start from the same order.
    stack_reset();
    *fresh = *block_clone(block.get(), false, false);

    t = Clock::now();
    for (int i = 0; i < INSERTS; i++) {
        stack_reset();
        Cell* series = stack_push(block.get());
        Cell* value = stack_push_cell();
        set_char(value, uint32_t(i));
        g_types.get<ACT_INSERT>(TYPE_BLOCK)(series, value, -1, false, -1, false);
    }
    std::printf("insert at head x%d on %u: %.1f ms\n", INSERTS, N, ms_since(t));
    std::printf("checksum after insert: %u\n", checksum(block.get()));

    Cell absent;
    set_char(&absent, 0x10FFFF);
    auto find = g_types.get<ACT_FIND>(TYPE_BLOCK);
    int found = 0;
    t = Clock::now();
    for (int i = 0; i < FINDS; i++) {
        stack_reset();
        found += !cell_is(find(block.get(), &absent, FindArgs{}), TYPE_NONE);
    }
    std::printf("find (absent) x%d on %u: %.1f ms, found %d\n", FINDS, N + INSERTS, ms_since(t), found);

    for (bool stable : {false, true}) {
        stack_reset();
        GcRoot work(*block_clone(fresh.get(), false, false));
        SortArgs args;
        args.stable = stable;
        t = Clock::now();
        g_types.get<ACT_SORT>(TYPE_BLOCK)(work.get(), args);
        std::printf("sort%s %u: %.1f ms\n", stable ? "/stable" : "", N, ms_since(t));
        std::printf("checksum after sort: %u\n", checksum(work.get()));
        t = Clock::now();
        g_types.get<ACT_SORT>(TYPE_BLOCK)(work.get(), args);
        std::printf("sort%s %u (already sorted): %.1f ms\n", stable ? "/stable" : "", N, ms_since(t));
    }
}

}  // namespace

int main() { return zol::bench::run_in_runtime<workloads>(); }
