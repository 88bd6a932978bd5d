// The sorting engine: both sorts against std::stable_sort over many input shapes and record widths, the
// stability of the merge sort, the cost on presorted input, and what a comparator that unwinds leaves.
#include "runtime/sort.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "tests/support.h"

namespace zol::test {
namespace {

enum class Shape { random, sorted, reversed, equal, few_keys, sawtooth, organ_pipe, nearly_sorted, nearly_reversed };

std::vector<int32_t> keys_of(Shape shape, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> k(n);
    for (size_t i = 0; i < n; i++) {
        switch (shape) {
            case Shape::random: k[i] = int32_t(rng() % 1000000); break;
            case Shape::sorted: k[i] = int32_t(i); break;
            case Shape::reversed: k[i] = int32_t(n - i); break;
            case Shape::equal: k[i] = 7; break;
            case Shape::few_keys: k[i] = int32_t(rng() % 4); break;
            case Shape::sawtooth: k[i] = int32_t(i % 37); break;
            case Shape::organ_pipe: k[i] = int32_t(i < n / 2 ? i : n - i); break;
            case Shape::nearly_sorted: k[i] = int32_t(i); break;
            case Shape::nearly_reversed: k[i] = int32_t(n - i); break;
        }
    }
    if ((shape == Shape::nearly_sorted || shape == Shape::nearly_reversed) && n > 1) {
        for (size_t s = 0; s < n / 50 + 1; s++) std::swap(k[rng() % n], k[rng() % n]);
    }
    return k;
}

// Records of `width` bytes: a 4-byte key, then the record's input position in the next 4 bytes when the
// width allows (so exchanges and stability are visible), then filler derived from the key.
std::vector<uint8_t> records_of(const std::vector<int32_t>& keys, size_t width) {
    std::vector<uint8_t> out(keys.size() * width);
    for (size_t i = 0; i < keys.size(); i++) {
        uint8_t* r = out.data() + i * width;
        std::memcpy(r, &keys[i], 4);
        if (width >= 8) {
            uint32_t pos = uint32_t(i);
            std::memcpy(r + 4, &pos, 4);
        }
        for (size_t b = 8; b < width; b++) r[b] = uint8_t(keys[i] + b);
    }
    return out;
}

int32_t key_at(const uint8_t* r) {
    int32_t k;
    std::memcpy(&k, r, 4);
    return k;
}

const auto by_key = [](const uint8_t* a, const uint8_t* b) {
    int32_t x = key_at(a), y = key_at(b);
    return (x > y) - (x < y);
};

// The expected output: records stably sorted by key.
std::vector<uint8_t> stably_sorted(const std::vector<uint8_t>& records, size_t width) {
    size_t n = records.size() / width;
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return key_at(&records[a * width]) < key_at(&records[b * width]); });
    std::vector<uint8_t> out(records.size());
    for (size_t i = 0; i < n; i++) std::memcpy(&out[i * width], &records[order[i] * width], width);
    return out;
}

// The records as a sorted list of byte strings: equal for any permutation of the same records.
std::vector<std::string> multiset(const std::vector<uint8_t>& records, size_t width) {
    std::vector<std::string> out;
    for (size_t i = 0; i < records.size(); i += width) out.emplace_back(reinterpret_cast<const char*>(&records[i]), width);
    std::sort(out.begin(), out.end());
    return out;
}

TEST(Sort, BothSortsOrderEveryShapeAndWidth) {
    const Shape shapes[] = {Shape::random,   Shape::sorted,     Shape::reversed,      Shape::equal,          Shape::few_keys,
                            Shape::sawtooth, Shape::organ_pipe, Shape::nearly_sorted, Shape::nearly_reversed};
    // Sizes around the insertion cut-off (7), the small-partition limit (511) and the sampled passes.
    const size_t sizes[] = {0, 1, 2, 3, 7, 8, 9, 24, 25, 63, 100, 511, 512, 1000, 5000, 70000};
    const size_t widths[] = {4, 6, 16, 48};  // 6: exchanged byte by byte
    for (Shape shape : shapes) {
        for (size_t n : sizes) {
            for (size_t width : widths) {
                if (n > 5000 && width != 16) continue;
                auto input = records_of(keys_of(shape, n, uint32_t(n * 31 + width)), width);
                auto expected = stably_sorted(input, width);
                auto quick = input;
                sort_quick(quick.data(), n, width, by_key);
                auto merge = input;
                EXPECT_EQ(sort_merge(merge.data(), n, width, by_key), n);
                std::string where = "shape " + std::to_string(int(shape)) + " n " + std::to_string(n) + " width " +
                                    std::to_string(width);
                if (width >= 8) {
                    EXPECT_TRUE(merge == expected) << "merge sort is stable: " << where;
                } else {
                    EXPECT_TRUE(multiset(merge, width) == multiset(input, width)) << where;
                }
                // The quicksort need not be stable: same keys in order, same records.
                bool ordered = true;
                for (size_t i = 1; i < n; i++) ordered = ordered && key_at(&quick[(i - 1) * width]) <= key_at(&quick[i * width]);
                EXPECT_TRUE(ordered) << "quicksort order: " << where;
                EXPECT_TRUE(multiset(quick, width) == multiset(input, width)) << "quicksort permutation: " << where;
            }
        }
    }
}

TEST(Sort, ManyRandomInputsAgainstTheStandardLibrary) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; round++) {
        size_t n = rng() % 3000;
        uint32_t range = 1 + rng() % (round % 2 ? 10 : 100000);
        std::vector<int32_t> keys(n);
        for (auto& k : keys) k = int32_t(rng() % range);
        auto input = records_of(keys, 8);
        auto expected = stably_sorted(input, 8);
        auto merge = input;
        sort_merge(merge.data(), n, 8, by_key);
        EXPECT_TRUE(merge == expected) << "round " << round;
        auto quick = input;
        sort_quick(quick.data(), n, 8, by_key);
        std::vector<int32_t> got, want(keys);
        for (size_t i = 0; i < n; i++) got.push_back(key_at(&quick[i * 8]));
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << "round " << round;
        EXPECT_TRUE(multiset(quick, 8) == multiset(input, 8));
    }
}

struct Counting {
    size_t* count;
    int operator()(const uint8_t* a, const uint8_t* b) const {
        ++*count;
        return by_key(a, b);
    }
};

TEST(Sort, CostOnPresortedInput) {
    size_t compares = 0;
    Counting counting{&compares};
    uint8_t one[8] = {};
    sort_quick(one, 1, 8, counting);
    sort_merge(one, 1, 8, counting);
    sort_quick(one, 0, 8, counting);
    EXPECT_EQ(compares, 0u) << "nothing to compare below two records";

    const size_t n = 10000;
    for (Shape shape : {Shape::sorted, Shape::reversed}) {
        auto input = records_of(keys_of(shape, n, 1), 8);
        auto quick = input;
        compares = 0;
        sort_quick(quick.data(), n, 8, counting);
        EXPECT_LE(compares, n + n / 50) << "one neighbour pass and a sparse sample, shape " << int(shape);
        EXPECT_TRUE(quick == stably_sorted(input, 8));
        auto merge = input;
        compares = 0;
        sort_merge(merge.data(), n, 8, counting);
        EXPECT_LT(compares, n) << "a single run";
    }

    // All equal: one pass of neighbour compares and no exchange (the positions stay in input order).
    auto input = records_of(keys_of(Shape::equal, 1000, 1), 8);
    auto quick = input;
    compares = 0;
    sort_quick(quick.data(), 1000, 8, counting);
    EXPECT_EQ(compares, 999u);
    EXPECT_TRUE(quick == input);

    // A sorted input with a few records out of place still mostly rides on the sorted prefix.
    auto nearly = records_of(keys_of(Shape::nearly_sorted, 100000, 9), 8);
    compares = 0;
    sort_quick(nearly.data(), 100000, 8, counting);
    EXPECT_LT(compares, 100000u * 8) << "well below a full n log n sort";
}

// A comparator that unwinds at its nth call, with an error or with a pending break/return/throw.
struct Unwinding {
    size_t at;
    bool pending;
    size_t* calls;
    int operator()(const uint8_t* a, const uint8_t* b) const {
        if (++*calls == at) {
            if (pending) throw PendingUnwind{};
            fire(ERR_SCRIPT_INVALID_ARG);
        }
        return by_key(a, b);
    }
};

class SortUnwindTest : public RuntimeTest {};

TEST_F(SortUnwindTest, ACompareThatUnwindsLeavesAPermutation) {
    for (bool stable : {false, true}) {
        for (bool pending : {false, true}) {
            for (size_t n : {2u, 30u, 600u, 5000u}) {
                auto input = records_of(keys_of(Shape::random, n, uint32_t(n)), 16);
                // How many compares a full sort takes, then unwind at points spread over that run.
                size_t total = 0;
                {
                    auto copy = input;
                    Counting counting{&total};
                    if (stable) {
                        sort_merge(copy.data(), n, 16, counting);
                    } else {
                        sort_quick(copy.data(), n, 16, counting);
                    }
                }
                for (size_t at : {size_t(1), total / 3, total / 2, total - 1}) {
                    if (at == 0) continue;
                    auto work = input;
                    size_t calls = 0;
                    Unwinding cmp{at, pending, &calls};
                    bool unwound = false;
                    if (pending) {
                        try {
                            stable ? void(sort_merge(work.data(), n, 16, cmp)) : sort_quick(work.data(), n, 16, cmp);
                        } catch (const PendingUnwind&) {
                            unwound = true;
                        }
                    } else {
                        ErrorId e = catch_error([&] {
                            stable ? void(sort_merge(work.data(), n, 16, cmp)) : sort_quick(work.data(), n, 16, cmp);
                        });
                        unwound = e == ERR_SCRIPT_INVALID_ARG;
                    }
                    EXPECT_TRUE(unwound) << "stable " << stable << " n " << n << " at " << at;
                    EXPECT_TRUE(multiset(work, 16) == multiset(input, 16))
                        << "every record is still there: stable " << stable << " pending " << pending << " n " << n
                        << " at " << at;
                }
            }
        }
    }
}

TEST_F(SortUnwindTest, MergeBufferTooLargeIsRefused) {
    uint8_t dummy[16] = {};
    // (n / 2) x width past 32 bits: refused before any record is read.
    EXPECT_EQ(catch_error([&] { sort_merge(dummy, size_t(1) << 20, size_t(1) << 13, by_key); }), ERR_SCRIPT_TOO_LONG);
}

TEST(Sort, SwapExchangesRanges) {
    for (bool bytewise : {false, true}) {
        for (size_t bytes : {1u, 3u, 4u, 12u, 16u, 21u}) {
            std::vector<uint8_t> a(bytes), b(bytes);
            for (size_t i = 0; i < bytes; i++) {
                a[i] = uint8_t(i);
                b[i] = uint8_t(100 + i);
            }
            auto a0 = a, b0 = b;
            sort_swap(a.data(), b.data(), bytes, bytewise);
            EXPECT_EQ(a, b0);
            EXPECT_EQ(b, a0);
        }
    }
}

}  // namespace
}  // namespace zol::test
