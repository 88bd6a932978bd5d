// series! generic actions, run on strings and blocks of chars (their own datatypes inherit these).
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/gc.h"

#include <algorithm>
#include "tests/support.h"

namespace zol::test {
namespace {

class SeriesTest : public RuntimeTest {
protected:
    // A string held by a root.
    Cell* text(const char* s, uint32_t index = 0) {
        string_make(root_.get());
        string_append_ascii(root_.get(), s);
        root_->w1 = index;
        return root_.get();
    }
    // A block of chars, one per letter.
    Cell* chars(const char* s, uint32_t index = 0) {
        set_series(root_.get(), TYPE_BLOCK, series_alloc_cells(8));
        for (const char* p = s; *p; p++) set_char(block_alloc_tail(root_.get()), uint8_t(*p));
        root_->w1 = index;
        return root_.get();
    }
    std::string letters(const Cell* series) {
        std::string out;
        if (cell_is(series, TYPE_BLOCK)) {
            Series* s = cell_series(series);
            for (uint32_t i = series_index(series); i < s->used(); i++) out += char(cell_char(s->cells() + i));
            return out;
        }
        return string_to_utf8(series);
    }
    // Runs an action that reads its arguments from the stack; returns the result slot.
    Cell run(Action a, std::initializer_list<Cell> args) {
        stack_reset();
        for (const Cell& c : args) stack_push(&c);
        reinterpret_cast<void (*)()>(g_types.action(TYPE_SERIES, a))();
        return *g_args.base;
    }
    GcRoot root_;
};

TEST_F(SeriesTest, AtAndSkip) {
    Cell* s = text("abc");
    struct Case {
        Action act;
        uint32_t from;
        int n;
        uint32_t index;
    } cases[] = {
        {ACT_AT, 0, 0, 0}, {ACT_AT, 0, 1, 0}, {ACT_AT, 0, 2, 1}, {ACT_AT, 0, 4, 3}, {ACT_AT, 1, -1, 0},
        {ACT_AT, 0, 99, 3}, {ACT_SKIP, 0, 1, 1}, {ACT_SKIP, 2, -5, 0}, {ACT_SKIP, 1, 0, 1},
    };
    for (const Case& c : cases) {
        s->w1 = c.from;
        Cell r = run(c.act, {*s, integer(c.n)});
        EXPECT_EQ(series_index(&r), c.index) << action_word(c.act) << " " << c.n << " from " << c.from;
    }
    EXPECT_EQ(catch_error([&] { run(ACT_AT, {*s, g_true_value}); }), ERR_SCRIPT_INVALID_ARG);
}

TEST_F(SeriesTest, NavigationAndQueries) {
    Cell* s = text("ab");
    auto index_after = [&](Action a, uint32_t from) {
        s->w1 = from;
        Cell r = run(a, {*s});
        return series_index(&r);
    };
    auto query = [&](Action a, uint32_t from) {
        s->w1 = from;
        return run(a, {*s});
    };
    EXPECT_EQ(index_after(ACT_NEXT, 0), 1u);
    EXPECT_EQ(index_after(ACT_NEXT, 2), 2u) << "next stops at the tail";
    EXPECT_EQ(index_after(ACT_BACK, 0), 0u) << "back stops at the head";
    EXPECT_EQ(index_after(ACT_BACK, 2), 1u);
    EXPECT_EQ(index_after(ACT_TAIL, 0), 2u);
    EXPECT_EQ(index_after(ACT_HEAD, 2), 0u);
    Cell r = query(ACT_HEAD_Q, 0);
    EXPECT_TRUE(logic_get(&r));
    r = query(ACT_TAIL_Q, 2);
    EXPECT_TRUE(logic_get(&r));
    r = query(ACT_TAIL_Q, 1);
    EXPECT_FALSE(logic_get(&r));
    r = query(ACT_INDEX_Q, 2);
    EXPECT_EQ(cell_int(&r), 3);
    // A head left past a shortened buffer: length 0, and the head comes back to the tail.
    s->w1 = 5;
    EXPECT_EQ(g_types.get<ACT_LENGTH_Q>(TYPE_SERIES)(s), 0);
    EXPECT_EQ(series_length(s), 0u);
    EXPECT_EQ(series_index(s), 2u);
}

TEST_F(SeriesTest, PickAndPoke) {
    Cell* s = text("abc", 1);
    auto pick = g_types.get<ACT_PICK>(TYPE_SERIES);
    auto poke = g_types.get<ACT_POKE>(TYPE_SERIES);
    EXPECT_TRUE(cell_is(pick(s, 0, nullptr), TYPE_NONE));
    EXPECT_EQ(cell_char(pick(s, 1, nullptr)), uint32_t('b'));
    EXPECT_EQ(cell_char(pick(s, -1, nullptr)), uint32_t('a')) << "the item before the head";
    EXPECT_TRUE(cell_is(pick(s, 3, nullptr), TYPE_NONE));
    Cell z;
    set_char(&z, 0x20AC);
    poke(s, 2, &z, nullptr);
    EXPECT_EQ(letters(s), "b\xE2\x82\xAC") << "poking a wide char widens the string";
    Cell zero = integer(0);
    EXPECT_EQ(catch_error([&] { poke(s, 0, &z, &zero); }), ERR_SCRIPT_OUT_OF_RANGE);
    Cell one = integer(1);
    EXPECT_EQ(catch_error([&] { poke(s, 1, &one, &one); }), ERR_SCRIPT_INVALID_ARG) << "strings take chars only";
    Cell* b = chars("xyz");
    EXPECT_EQ(cell_char(pick(b, 3, nullptr)), uint32_t('z'));
    poke(b, 1, &one, &one);
    EXPECT_TRUE(cell_is(cell_series(b)->cells(), TYPE_INTEGER)) << "blocks take any value";
}

TEST_F(SeriesTest, ClearAndRemove) {
    Cell* s = text("abcdef", 2);
    g_types.get<ACT_CLEAR>(TYPE_SERIES)(s);
    s->w1 = 0;
    EXPECT_EQ(letters(s), "ab");
    auto remove = g_types.get<ACT_REMOVE>(TYPE_SERIES);
    struct Case {
        const char* before;
        uint32_t index;
        int part;  // 0: no /part
        const char* after;
    } cases[] = {
        {"abcdef", 0, 0, "bcdef"}, {"abcdef", 2, 2, "abef"}, {"abcdef", 4, 9, "abcd"},
        {"abcdef", 1, -1, "abcdef"}, {"abcdef", 6, 0, "abcdef"},
    };
    for (const Case& c : cases) {
        Cell* t = text(c.before, c.index);
        stack_reset();
        stack_push(t);
        Cell part = integer(c.part);
        remove(g_args.base, c.part ? &part : nullptr, nullptr);
        t->w1 = 0;
        EXPECT_EQ(letters(t), c.after) << c.before << " at " << c.index << " part " << c.part;
    }
    Cell* t = text("abcdef", 1);
    GcRoot other(*t);
    other->w1 = 3;
    stack_reset();
    stack_push(t);
    remove(g_args.base, other.get(), nullptr);
    t->w1 = 0;
    EXPECT_EQ(letters(t), "adef") << "a /part position in the same series";
    GcRoot elsewhere;
    string_make(elsewhere.get());
    EXPECT_EQ(catch_error([&] { remove(t, elsewhere.get(), nullptr); }), ERR_SCRIPT_INVALID_REFINE_ARG);
}

TEST_F(SeriesTest, ReverseWithPartAndSkip) {
    auto reverse = g_types.get<ACT_REVERSE>(TYPE_SERIES);
    struct Case {
        const char* before;
        int part, skip;  // 0: absent
        const char* after;
        ErrorId error;
    } cases[] = {
        {"abcdef", 0, 0, "fedcba", ERR_COUNT},   {"abcdef", 3, 0, "cbadef", ERR_COUNT},
        {"abcdef", 0, 2, "efcdab", ERR_COUNT},   {"abcdef", 0, 6, "abcdef", ERR_COUNT},
        {"abcdef", 0, 4, "", ERR_SCRIPT_INVALID_REFINE_ARG}, {"abcdef", 0, 0, "fedcba", ERR_COUNT},
        {"abcdef", 0, -1, "", ERR_SCRIPT_OUT_OF_RANGE},
    };
    for (const Case& c : cases) {
        Cell* t = text(c.before);
        Cell part = integer(c.part), skip = integer(c.skip);
        ErrorId e = catch_error([&] { reverse(t, c.part ? &part : nullptr, c.skip ? &skip : nullptr); });
        EXPECT_EQ(e, c.error) << c.before << " part " << c.part << " skip " << c.skip;
        if (c.error == ERR_COUNT) {
            EXPECT_EQ(letters(t), c.after);
        }
    }
    Cell* b = chars("abcd");
    Cell skip = integer(2);
    reverse(b, nullptr, &skip);
    EXPECT_EQ(letters(b), "cdab") << "records of cells move whole";
}

TEST_F(SeriesTest, Take) {
    auto take = [&](Cell* s, const Cell* part, bool last) {
        stack_reset();
        stack_push(s);
        Cell p = part ? *part : g_none_value;
        g_types.get<ACT_TAKE>(TYPE_SERIES)(g_args.base, part ? &p : nullptr, false, last);
        return *g_args.base;
    };
    Cell* s = text("abcdef", 1);
    GcRoot r(take(s, nullptr, false));
    EXPECT_EQ(cell_char(r.get()), uint32_t('b')) << "without /part the item itself";
    s->w1 = 0;
    EXPECT_EQ(letters(s), "acdef");
    Cell two = integer(2), zero = integer(0), minus = integer(-2);
    *r = take(s, &two, true);
    EXPECT_EQ(letters(r.get()), "ef");
    EXPECT_EQ(letters(s), "acd");
    *r = take(s, &zero, false);
    EXPECT_EQ(letters(r.get()), "") << "a count of 0 takes nothing";
    EXPECT_EQ(letters(s), "acd");
    s->w1 = 2;
    *r = take(s, &minus, false);
    EXPECT_EQ(letters(r.get()), "ac") << "a negative count takes the items before the head";
    s->w1 = 0;
    EXPECT_EQ(letters(s), "d");
    s->w1 = 1;
    *r = take(s, nullptr, false);
    EXPECT_TRUE(cell_is(r.get(), TYPE_NONE)) << "at the tail";
}

TEST_F(SeriesTest, CopyWithPart) {
    auto copy = g_types.get<ACT_COPY>(TYPE_SERIES);
    struct Case {
        uint32_t index;
        int part;  // 99: no /part
        const char* result;
    } cases[] = {{0, 99, "abcdef"}, {2, 99, "cdef"}, {2, 2, "cd"}, {4, -2, "cd"}, {1, -5, "a"}, {6, 99, ""}, {2, 50, "cdef"}};
    for (const Case& c : cases) {
        Cell* s = text("abcdef", c.index);
        GcRoot result;
        Cell part = integer(c.part);
        copy(s, result.get(), c.part == 99 ? nullptr : &part, false, nullptr);
        EXPECT_EQ(letters(result.get()), c.result) << c.index << " " << c.part;
        EXPECT_NE(series_node(result.get()), series_node(s));
    }
}

TEST_F(SeriesTest, Move) {
    auto move = g_types.get<ACT_MOVE>(TYPE_SERIES);
    GcRoot a, b;
    string_make(a.get());
    string_append_ascii(a.get(), "abcdef");
    string_make(b.get());
    string_append_ascii(b.get(), "xy");
    b->w1 = 1;
    Cell two;
    set_integer(&two, 2);
    move(a.get(), b.get(), &two);
    b->w1 = 0;
    EXPECT_EQ(letters(a.get()), "cdef");
    EXPECT_EQ(letters(b.get()), "xaby");
    // Within one series: to a later position, and into the moved range (nothing happens).
    GcRoot later(*a);
    later->w1 = 3;
    move(a.get(), later.get(), nullptr);
    EXPECT_EQ(letters(a.get()), "decf");
    GcRoot inside(*a);
    inside->w1 = 1;
    move(a.get(), inside.get(), &two);
    EXPECT_EQ(letters(a.get()), "decf");
    Cell* blk = chars("pq");
    EXPECT_EQ(catch_error([&] { move(blk, a.get(), nullptr); }), ERR_SCRIPT_MOVE_BAD);
}

TEST_F(SeriesTest, RandomShufflesAPermutation) {
    auto random = g_types.get<ACT_RANDOM>(TYPE_SERIES);
    GcRoot seed;
    string_make(seed.get());
    string_append_ascii(seed.get(), "seed text");
    auto shuffle_after_seed = [&] {
        stack_reset();
        stack_push(seed.get());
        random(g_args.base, true, false, false);
        EXPECT_TRUE(cell_is(g_args.base, TYPE_UNSET)) << "seeding gives unset";
        Cell* t = text("abcdefghij");
        random(t, false, false, false);
        return letters(t);
    };
    std::string first = shuffle_after_seed();
    std::string sorted = first;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, "abcdefghij") << "a shuffle is a permutation";
    EXPECT_NE(first, "abcdefghij");
    EXPECT_EQ(shuffle_after_seed(), first) << "the same seed gives the same shuffle";
    Cell* t = text("q");
    random(t, false, false, true);
    EXPECT_EQ(cell_char(g_args.base), uint32_t('q')) << "/only picks an item";
}

}  // namespace
}  // namespace zol::test
