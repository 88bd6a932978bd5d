// block! and paren!: their action slots, mold and form, comparison, searching, editing, copying, sorting,
// set operations and the block routines the runtime calls directly. Values are chars and words, whose
// datatypes compare and mold in this tree.
#include "runtime/datatypes/block.h"

#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/cycles.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class BlockTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        block_make_at(keep_.get(), 16);
    }

    static Cell ch(char c) {
        Cell x;
        set_char(&x, uint8_t(c));
        return x;
    }
    static Cell word(const char* name, TypeId t = TYPE_WORD) {
        Cell x;
        set_word(&x, t, 0, symbol_make_flagged(name));
        return x;
    }
    static Cell type(TypeId t) {
        Cell x;
        set_datatype(&x, t);
        return x;
    }
    // A new block kept alive for the test, holding copies of the values.
    Cell blk(std::initializer_list<Cell> items, TypeId t = TYPE_BLOCK) {
        GcRoot b;
        block_make_at(b.get(), int64_t(items.size()));
        for (const Cell& c : items) *block_alloc_tail(b.get()) = c;
        cell_set_type(b.get(), t);
        *block_alloc_tail(keep_.get()) = *b;
        return *b;
    }
    // A block of chars, one per letter.
    Cell chars(const char* s, uint32_t index = 0) {
        GcRoot b;
        block_make_at(b.get(), 4);
        for (const char* p = s; *p; p++) set_char(block_alloc_tail(b.get()), uint8_t(*p));
        b->w1 = index;
        *block_alloc_tail(keep_.get()) = *b;
        return *b;
    }
    // The cells from the head as letters (chars) and names (words), for short comparisons.
    static std::string letters(const Cell& b) {
        std::string out;
        for (uint32_t i = series_index(&b); i < series_buffer_length(&b); i++) {
            const Cell* c = cell_series(&b)->cells() + i;
            if (cell_is(c, TYPE_CHAR)) {
                out += char(cell_char(c));
            } else if (cell_is(c, TYPE_NONE)) {
                out += '_';
            } else {
                out += mold_text(c);
            }
        }
        return out;
    }
    static uint32_t index_of(Cell c) { return series_index(&c); }
    static uint32_t char_of(Cell c) { return cell_char(&c); }
    static bool is_none(Cell c) { return cell_is(&c, TYPE_NONE); }
    static std::string mold(const Cell& v, MoldArgs args = {}, int budget = 0x7FFFFFFF) {
        GcRoot value(v), out;
        string_make(out.get());
        mold_value(value.get(), out.get(), args, budget);
        return string_to_utf8(out.get());
    }
    static std::string form(const Cell& v) { return form_text(&v); }
    static int compare(const Cell& a, const Cell& b, CompareOp op) {
        return g_types.get<ACT_COMPARE>(cell_type(&a))(&a, &b, op);
    }

    // Actions that leave their result in the argument base: the series goes there first.
    Cell insert(Cell s, Cell v, int part = -1, bool only = false, int dup = -1, bool append = false) {
        stack_reset();
        stack_push(&s);
        stack_push(&v);
        g_types.get<ACT_INSERT>(TYPE_BLOCK)(g_args.base, g_args.base + 1, part, only, dup, append);
        return *g_args.base;
    }
    Cell append(Cell s, Cell v, int part = -1, bool only = false, int dup = -1) { return insert(s, v, part, only, dup, true); }
    Cell change(Cell s, Cell v, int part = -1, bool only = false, int dup = -1) {
        stack_reset();
        stack_push(&s);
        stack_push(&v);
        g_types.get<ACT_CHANGE>(TYPE_BLOCK)(g_args.base, g_args.base + 1, part, only, dup);
        return *g_args.base;
    }
    Cell find(Cell s, Cell v, const FindArgs& a = {}) {
        stack_reset();
        return *g_types.get<ACT_FIND>(TYPE_BLOCK)(&s, &v, a);
    }
    Cell select(Cell s, Cell v, const FindArgs& a = {}) {
        stack_reset();
        return *g_types.get<ACT_SELECT>(TYPE_BLOCK)(&s, &v, a);
    }
    Cell sort(Cell s, const SortArgs& a = {}) {
        stack_reset();
        return *g_types.get<ACT_SORT>(TYPE_BLOCK)(&s, a);
    }
    Cell take(Cell s, const Cell* part, bool deep, bool last) {
        stack_reset();
        stack_push(&s);
        Cell p = part ? *part : g_none_value;
        g_types.get<ACT_TAKE>(TYPE_BLOCK)(g_args.base, part ? &p : nullptr, deep, last);
        return *g_args.base;
    }
    Cell copy(Cell s, const Cell* part = nullptr, bool deep = false, const Cell* kind = nullptr) {
        GcRoot result;
        Cell p = part ? *part : g_none_value, k = kind ? *kind : g_none_value;
        g_types.get<ACT_COPY>(TYPE_BLOCK)(&s, result.get(), part ? &p : nullptr, deep, kind ? &k : nullptr);
        *block_alloc_tail(keep_.get()) = *result;
        return *result;
    }
    Cell set_op(SetOp op, Cell a, Cell b, const Cell* skip = nullptr, bool strict = false) {
        stack_reset();
        stack_push(&a);
        stack_push(&b);
        block_set_op(skip, strict, op);
        return *g_args.base;
    }

    GcRoot keep_;
};

TEST_F(BlockTest, ActionSlotsOwnedInheritedAndUnsupported) {
    auto slot = [](uint32_t t, Action a) { return g_types.action(t, a); };
    for (Action own : {ACT_MAKE, ACT_TO, ACT_FORM, ACT_MOLD, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_CHANGE, ACT_COPY,
                       ACT_FIND, ACT_PUT, ACT_SELECT, ACT_SORT, ACT_SWAP, ACT_TAKE, ACT_TRIM}) {
        EXPECT_NE(slot(TYPE_BLOCK, own), nullptr) << action_word(own);
        EXPECT_NE(slot(TYPE_BLOCK, own), slot(TYPE_SERIES, own)) << action_word(own);
    }
    EXPECT_EQ(slot(TYPE_BLOCK, ACT_APPEND), slot(TYPE_BLOCK, ACT_INSERT)) << "one routine for both";
    for (Action inherited : {ACT_AT, ACT_CLEAR, ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_MOVE, ACT_MODIFY}) {
        EXPECT_EQ(slot(TYPE_BLOCK, inherited), slot(TYPE_SERIES, inherited)) << action_word(inherited);
    }
    for (Action none : {ACT_SET_PATH, ACT_ADD, ACT_NEGATE, ACT_OPEN, ACT_READ, ACT_WRITE}) {
        EXPECT_EQ(slot(TYPE_BLOCK, none), nullptr) << action_word(none);
    }
    EXPECT_EQ(slot(TYPE_PAREN, ACT_FIND), slot(TYPE_BLOCK, ACT_FIND));
    EXPECT_EQ(slot(TYPE_PAREN, ACT_SORT), slot(TYPE_BLOCK, ACT_SORT));
    EXPECT_EQ(slot(TYPE_PAREN, ACT_AT), slot(TYPE_SERIES, ACT_AT));
    EXPECT_NE(slot(TYPE_PAREN, ACT_MOLD), slot(TYPE_BLOCK, ACT_MOLD));
    EXPECT_EQ(slot(TYPE_PAREN, ACT_TRIM), nullptr) << "paren! has no trim";
}

TEST_F(BlockTest, MoldAndForm) {
    Cell inner = blk({word("b"), ch('c')});
    Cell outer = blk({word("a"), inner, word("d", TYPE_SET_WORD)});
    EXPECT_EQ(mold(outer), "[a [b #\"c\"] d:]");
    EXPECT_EQ(form(outer), "a b c d") << "form joins nested values with single spaces, no brackets";
    EXPECT_EQ(mold(blk({})), "[]");
    MoldArgs only;
    only.only = true;
    EXPECT_EQ(mold(outer, only), "a [b #\"c\"] d:") << "/only drops the outer brackets alone";
    Cell paren = blk({word("x"), inner}, TYPE_PAREN);
    EXPECT_EQ(mold(paren), "(x [b #\"c\"])");
    EXPECT_EQ(mold(paren, only), "x [b #\"c\"]");
    EXPECT_EQ(form(paren), "x b c");
    Cell tail = outer;
    tail.w1 = 2;
    EXPECT_EQ(mold(tail), "[d:]") << "from the head";

    // A /part budget stops between values; each character written counts.
    MoldArgs part;
    part.part = true;
    EXPECT_EQ(mold(chars("abcdef"), part, 10), "[#\"a\" #\"b\"]");
    EXPECT_EQ(mold(chars("abcdef"), part, 2), "[#\"a\"]");
    EXPECT_EQ(mold(chars("abcdef"), part, 1), "[]") << "the bracket alone uses the budget up";
}

TEST_F(BlockTest, MoldHonoursNewLineMarkers) {
    Cell a = word("a"), b = word("b"), c = word("c");
    a.header |= HDR_NEW_LINE;
    c.header |= HDR_NEW_LINE;
    EXPECT_EQ(mold(blk({a, b, c})), "[\n    a b\n    c\n]") << "first value on a new line: indented body";
    EXPECT_EQ(mold(blk({b, c})), "[b\nc]") << "a later marker breaks at the outer indent";
    Cell inner = blk({a, b});
    inner.header |= HDR_NEW_LINE;
    EXPECT_EQ(mold(blk({a, inner})), "[\n    a\n    [\n        a b\n    ]\n]") << "nested levels add four spaces";
    MoldArgs flat;
    flat.flat = true;
    EXPECT_EQ(mold(blk({a, b, c}), flat), "[a b c]");
    MoldArgs only;
    only.only = true;
    EXPECT_EQ(mold(blk({a, b, c}), only), "a b\nc") << "/only: no break before the first value";
    Cell tab;
    set_char(&tab, '\t');
    // form writes no space after a value that ends with a line break or tab.
    EXPECT_EQ(form(blk({ch('a'), tab, ch('b'), ch('\n'), ch('c')})), "a \tb \nc");
}

TEST_F(BlockTest, CyclesMoldAsMarkersAndLeaveNoTrace) {
    Cell self = blk({word("a")});
    append(self, self, -1, true);
    EXPECT_EQ(mold(self), "[a [...]]");
    EXPECT_EQ(form(self), "a ...");
    Cell paren = blk({word("p")}, TYPE_PAREN);
    append(paren, paren, -1, true);
    EXPECT_EQ(mold(paren), "(p (...))");
    EXPECT_EQ(cycles_depth(), 0u);
    // A value that cannot be molded raises inside the walk: the visited stack is left clean.
    Cell holder = blk({word("x"), bare(TYPE_EVENT)});  // event! comes with the GUI: no mold in this tree
    EXPECT_NE(catch_error([&] { mold(holder); }), ERR_COUNT);
    EXPECT_EQ(cycles_depth(), 0u);
}

TEST_F(BlockTest, Compare) {
    Cell ab = blk({word("a"), word("b")});
    struct Case {
        Cell a, b;
        CompareOp op;
        int answer;
        const char* what;
    } cases[] = {
        {ab, blk({word("a"), word("b")}), CMP_EQUAL, 0, "equal contents"},
        {ab, blk({word("A"), word("b")}), CMP_EQUAL, 0, "words compare without case"},
        {ab, blk({word("A"), word("b")}), CMP_STRICT_EQUAL, 1, "strictly, spelling counts"},
        {ab, blk({word("a")}), CMP_EQUAL, 1, "lengths differ"},
        {blk({word("a")}), ab, CMP_SORT, -1, "a shorter prefix sorts first"},
        {blk({}), blk({word("z")}), CMP_SORT, -1, "empty before non-empty"},
        {blk({ch('b')}), blk({ch('a')}), CMP_SORT, 1, "cells by their own order"},
        {blk({ch('z')}), blk({word("a")}), CMP_SORT, -1, "unrelated types by datatype id (char! before word!)"},
        {ab, ab, CMP_SAME, 0, "same buffer and head"},
        {ab, blk({word("a"), word("b")}), CMP_SAME, -1, "equal is not same"},
        {ab, blk({word("a"), word("b")}, TYPE_PAREN), CMP_EQUAL, COMPARE_INCOMPARABLE, "block! and paren!"},
        {blk({ab}), blk({blk({word("a"), word("b")})}), CMP_EQUAL, 0, "nested"},
    };
    for (const Case& c : cases) EXPECT_EQ(compare(c.a, c.b, c.op), c.answer) << c.what;
    // Cycles compare equal only to cycles.
    Cell x = blk({word("a")}), y = blk({word("a")});
    append(x, x, -1, true);
    append(y, y, -1, true);
    EXPECT_EQ(compare(x, y, CMP_EQUAL), 0);
    EXPECT_EQ(cycles_depth(), 0u);
}

TEST_F(BlockTest, FindAndSelect) {
    Cell kv = blk({word("a"), ch('1'), word("b"), ch('2')});
    Cell two = integer(2);
    struct Case {
        Cell series, value;
        std::function<void(FindArgs&)> set;
        int index;  // -1: none
        const char* what;
    } cases[] = {
        {kv, word("b"), [](FindArgs&) {}, 2, "plain"},
        {kv, word("B"), [](FindArgs&) {}, 2, "words match any spelling"},
        {kv, word("B"), [](FindArgs& a) { a.case_sensitive = true; }, -1, "/case"},
        {kv, word("b"), [&](FindArgs& a) { a.skip = &two; }, 2, "/skip finds a key"},
        {kv, ch('1'), [&](FindArgs& a) { a.skip = &two; }, -1, "/skip looks only at record starts"},
        {kv, type(TYPE_CHAR), [](FindArgs&) {}, 1, "a datatype finds its first value"},
        {kv, type(TYPE_CHAR), [](FindArgs& a) { a.only = true; }, -1, "/only: the datatype itself"},
        {kv, blk({word("b"), ch('2')}), [](FindArgs&) {}, 2, "a block is a sequence"},
        {kv, blk({word("b"), ch('1')}), [](FindArgs&) {}, -1, "the whole sequence must match"},
        {kv, word("b"), [](FindArgs& a) { a.tail = true; }, 3, "/tail: after the match"},
        {kv, blk({word("a"), ch('1')}), [](FindArgs& a) { a.tail = true; }, 2, "/tail after a sequence"},
        {kv, word("b"), [](FindArgs& a) { a.match = true; }, -1, "/match: only at the head"},
        {kv, word("a"), [](FindArgs& a) { a.match = true; }, 0, "/match at the head"},
        {kv, word("b"), [&](FindArgs& a) { a.part = &two; }, -1, "/part 2 stops before b"},
        {chars("abab"), ch('a'), [](FindArgs& a) { a.last = true; }, 2, "/last"},
        {chars("abab"), blk({ch('a'), ch('b')}), [](FindArgs& a) { a.last = true; }, 2, "/last sequence"},
        {chars("abab", 3), ch('a'), [](FindArgs& a) { a.reverse = true; }, 2, "/reverse from before the head"},
        {chars("abab", 2), ch('b'), [](FindArgs& a) { a.reverse = true; }, 1, "/reverse"},
        {chars("abab", 0), ch('b'), [](FindArgs& a) { a.reverse = true; }, -1, "/reverse at the buffer start"},
        {chars("abcab", 4), ch('a'), [&](FindArgs& a) { a.part = &two, a.reverse = true; }, 3,
         "/reverse/part: the cells just before the head"},
        {chars("ab", 2), ch('a'), [](FindArgs&) {}, -1, "at the tail"},
    };
    for (const Case& c : cases) {
        FindArgs args;
        c.set(args);
        Cell r = find(c.series, c.value, args);
        if (c.index < 0) {
            EXPECT_TRUE(cell_is(&r, TYPE_NONE)) << c.what;
        } else {
            ASSERT_TRUE(cell_is(&r, cell_type(&c.series))) << c.what;
            EXPECT_EQ(series_index(&r), uint32_t(c.index)) << c.what;
            EXPECT_EQ(series_node(&r), series_node(&c.series)) << c.what;
        }
    }
    Cell nested = blk({blk({word("a")}), word("a")});
    FindArgs only;
    only.only = true;
    EXPECT_EQ(index_of(find(nested, blk({word("a")}), only)), 0u) << "/only finds the inner block";
    EXPECT_EQ(index_of(find(nested, blk({word("a")}))), 1u) << "without /only the word";

    EXPECT_EQ(char_of(select(kv, word("b"))), uint32_t('2'));
    EXPECT_TRUE(is_none(select(kv, ch('2')))) << "the last value has nothing after it";
    EXPECT_EQ(mold(select(kv, blk({word("a"), ch('1')}))), "b") << "the cell after the whole sequence";

    Cell zero = integer(0), bad = g_true_value;
    auto fails = [&](std::function<void(FindArgs&)> set) {
        FindArgs args;
        set(args);
        return catch_error([&] { find(kv, word("a"), args); });
    };
    EXPECT_EQ(fails([&](FindArgs& a) { a.skip = &bad; }), ERR_SCRIPT_INVALID_REFINE_ARG);
    EXPECT_EQ(fails([&](FindArgs& a) { a.skip = &zero; }), ERR_SCRIPT_OUT_OF_RANGE);
    EXPECT_EQ(fails([&](FindArgs& a) { a.part = &bad; }), ERR_SCRIPT_INVALID_REFINE_ARG);
    Cell other = chars("xy");
    EXPECT_EQ(fails([&](FindArgs& a) { a.part = &other; }), ERR_SCRIPT_INVALID_REFINE_ARG) << "another buffer";
    Cell at_b = kv;
    at_b.w1 = 2;
    FindArgs up_to_b;
    up_to_b.part = &at_b;
    EXPECT_TRUE(is_none(find(kv, word("b"), up_to_b))) << "a /part position ends before it";
    EXPECT_EQ(index_of(find(kv, ch('1'), up_to_b)), 1u);
}

TEST_F(BlockTest, AppendInsertChange) {
    struct Case {
        const char* before;
        uint32_t index;
        Cell value;
        int part, dup;
        bool only, append;
        const char* after;
        uint32_t result_index;
    };
    Cell xy = chars("xy");
    Case cases[] = {
        {"abc", 1, ch('z'), -1, -1, false, true, "abcz", 0},
        {"abc", 1, ch('z'), -1, -1, false, false, "azbc", 2},
        {"abc", 1, xy, -1, -1, false, false, "axybc", 3},
        {"abc", 1, xy, 1, -1, false, false, "axbc", 2},
        {"abc", 1, xy, 9, -1, false, false, "axybc", 3},
        {"abc", 0, ch('z'), -1, 3, false, true, "abczzz", 0},
        {"abc", 0, xy, -1, 2, false, false, "xyxyabc", 4},
        {"abc", 0, ch('z'), -1, 0, false, true, "abc", 0},
        {"abc", 3, ch('z'), -1, -1, false, false, "abcz", 4},
        {"abc", 9, ch('z'), -1, -1, false, false, "abcz", 4},
        {"", 0, xy, -1, 3, false, true, "xyxyxy", 0},
    };
    for (const Case& c : cases) {
        Cell s = chars(c.before, c.index);
        Cell r = insert(s, c.value, c.part, c.only, c.dup, c.append);
        EXPECT_EQ(series_index(&r), c.result_index) << c.before << " " << c.after;
        s.w1 = 0;
        EXPECT_EQ(letters(s), c.after);
    }
    Cell s = chars("ab");
    append(s, xy, -1, true);
    EXPECT_EQ(mold(s), "[#\"a\" #\"b\" [#\"x\" #\"y\"]]") << "/only appends one block cell";

    // A block inserted into itself reads its cells before they move.
    Cell self = chars("abc", 1);
    Cell whole = self;
    whole.w1 = 0;
    insert(self, whole);
    self.w1 = 0;
    EXPECT_EQ(letters(self), "aabcbc");
    Cell grow = chars("ab");
    for (int i = 0; i < 6; i++) append(grow, grow);
    EXPECT_EQ(series_buffer_length(&grow), 128u) << "each append doubles";

    struct ChangeCase {
        const char* before;
        uint32_t index;
        Cell value;
        int part, dup;
        const char* after;
        uint32_t result_index;
    } changes[] = {
        {"abcd", 1, ch('z'), -1, -1, "azcd", 2},
        {"abcd", 1, xy, -1, -1, "axyd", 3},
        {"abcd", 3, xy, -1, -1, "abcxy", 5},
        {"abcd", 1, xy, 0, -1, "axybcd", 3},
        {"abcd", 1, ch('z'), 3, -1, "az", 2},
        {"abcd", 0, ch('z'), -1, 3, "zzzd", 3},
        {"abcd", 0, xy, 1, 2, "xyxybcd", 4},
    };
    for (const ChangeCase& c : changes) {
        Cell t = chars(c.before, c.index);
        Cell r = change(t, c.value, c.part, false, c.dup);
        EXPECT_EQ(series_index(&r), c.result_index) << c.before << " -> " << c.after;
        t.w1 = 0;
        EXPECT_EQ(letters(t), c.after);
    }
    Cell own = chars("abcd", 1);
    Cell from = own;
    from.w1 = 2;
    change(own, from);
    own.w1 = 0;
    EXPECT_EQ(letters(own), "acdd") << "a change from the same buffer reads the original cells";
}

TEST_F(BlockTest, CopyDeepAndTypes) {
    Cell inner = blk({word("i")});
    Cell s = blk({word("a"), inner, word("b")});
    Cell two = integer(2), minus = integer(-1);
    Cell shallow = copy(s);
    EXPECT_EQ(letters(shallow), "a[i]b");
    EXPECT_NE(series_node(&shallow), series_node(&s));
    EXPECT_EQ(series_node(cell_series(&shallow)->cells() + 1), series_node(&inner)) << "shallow shares nested blocks";
    EXPECT_EQ(letters(copy(s, &two)), "a[i]");
    Cell at_b = s;
    at_b.w1 = 2;
    EXPECT_EQ(letters(copy(at_b, &minus)), "[i]") << "a negative /part copies before the head";
    Cell deep = copy(s, nullptr, true);
    EXPECT_EQ(letters(deep), "a[i]b");
    EXPECT_NE(series_node(cell_series(&deep)->cells() + 1), series_node(&inner)) << "deep copies nested blocks";
    Cell paren_kind = type(TYPE_PAREN), block_kind = type(TYPE_BLOCK);
    Cell typed = copy(s, nullptr, false, &paren_kind);
    EXPECT_EQ(series_node(cell_series(&typed)->cells() + 1), series_node(&inner)) << "/types: other types shared";
    typed = copy(s, nullptr, false, &block_kind);
    EXPECT_NE(series_node(cell_series(&typed)->cells() + 1), series_node(&inner)) << "/types block!";

    Cell cyclic = blk({word("c")});
    append(cyclic, cyclic, -1, true);
    EXPECT_EQ(catch_error([&] { copy(cyclic, nullptr, true); }), ERR_INTERNAL_NO_CYCLE);
    EXPECT_EQ(cycles_depth(), 0u);
    EXPECT_EQ(letters(copy(cyclic)), "c[c [...]]") << "a shallow copy of a cycle is fine";
}

TEST_F(BlockTest, TakeSwapTrimPut) {
    Cell inner = blk({word("i")});
    Cell s = blk({inner, word("a"), word("b")});
    Cell taken = take(s, nullptr, true, false);
    ASSERT_TRUE(cell_is(&taken, TYPE_BLOCK));
    EXPECT_NE(series_node(&taken), series_node(&inner)) << "/deep copies a taken block";
    EXPECT_EQ(letters(s), "ab");
    Cell two = integer(2);
    Cell last = take(s, &two, false, true);
    EXPECT_EQ(letters(last), "ab");
    EXPECT_EQ(letters(s), "");

    Cell x = chars("abc"), y = chars("xyz", 1);
    Cell flagged = ch('q');
    flagged.header |= HDR_NEW_LINE;
    cell_series(&y)->cells()[1] = flagged;
    stack_reset();
    stack_push(&x);
    g_types.get<ACT_SWAP>(TYPE_BLOCK)(g_args.base, &y);
    EXPECT_EQ(letters(x), "qbc");
    EXPECT_TRUE(cell_new_line(cell_series(&x)->cells())) << "all four words move";
    y.w1 = 0;
    EXPECT_EQ(letters(y), "xaz");
    Cell at_tail = chars("m", 1);
    g_types.get<ACT_SWAP>(TYPE_BLOCK)(&x, &at_tail);
    EXPECT_EQ(letters(x), "qbc") << "nothing when a head is at its tail";
    Cell c = ch('c');
    EXPECT_EQ(catch_error([&] { g_types.get<ACT_SWAP>(TYPE_BLOCK)(&x, &c); }), ERR_SCRIPT_INVALID_ARG);

    Cell holey = blk({g_none_value, ch('a'), g_none_value, g_none_value, ch('b'), g_false_value});
    holey.w1 = 1;
    stack_reset();
    stack_push(&holey);
    g_types.get<ACT_TRIM>(TYPE_BLOCK)(g_args.base, TrimArgs{});
    holey.w1 = 0;
    EXPECT_EQ(letters(holey), "_abfalse") << "only none values from the head go";

    Cell map = blk({word("k"), ch('1')});
    auto put = g_types.get<ACT_PUT>(TYPE_BLOCK);
    Cell k = word("k"), n = word("n"), v2 = ch('2'), v3 = ch('3');
    put(&map, &k, &v2, false);
    put(&map, &n, &v3, false);
    EXPECT_EQ(letters(map), "k2n3");
    Cell lone = blk({word("k")});
    put(&lone, &k, &v2, false);
    EXPECT_EQ(letters(lone), "k2") << "a key in the last cell gets its value appended";
}

TEST_F(BlockTest, EvalPath) {
    Cell s = blk({word("a"), ch('1'), word("b", TYPE_SET_WORD), ch('2'), ch('x'), ch('y')});
    auto eval = g_types.get<ACT_EVAL_PATH>(TYPE_BLOCK);
    PathStep step;
    Cell element = word("B");
    step.element = &element;
    EXPECT_EQ(cell_char(eval(&s, step)), uint32_t('2')) << "a word selects after any word kind, any spelling";
    step.case_sensitive = true;
    EXPECT_TRUE(cell_is(eval(&s, step), TYPE_NONE));
    step.case_sensitive = false;
    element = integer(5);
    EXPECT_EQ(cell_char(eval(&s, step)), uint32_t('x')) << "an integer picks";
    element = ch('x');
    EXPECT_EQ(cell_char(eval(&s, step)), uint32_t('y')) << "any other value selects";
    Cell value = ch('z');
    step.set_value = &value;
    element = word("a");
    eval(&s, step);
    EXPECT_EQ(letters(s), "azb:2xy");
    element = integer(1);
    eval(&s, step);
    EXPECT_EQ(letters(s), "zzb:2xy") << "an integer pokes";
    element = word("missing");
    EXPECT_EQ(catch_error([&] { eval(&s, step); }), ERR_SCRIPT_BAD_PATH_SET);
}

TEST_F(BlockTest, Sort) {
    auto sorted = [&](const char* text, const std::function<void(SortArgs&)>& set, uint32_t index = 0) {
        Cell s = chars(text, index);
        SortArgs args;
        set(args);
        sort(s, args);
        s.w1 = 0;
        return letters(s);
    };
    Cell two = integer(2), three = integer(3), minus = integer(-2), field2 = integer(2);
    struct Case {
        const char* before;
        uint32_t index;
        std::function<void(SortArgs&)> set;
        const char* after;
    } cases[] = {
        {"dbca", 0, [](SortArgs&) {}, "abcd"},
        {"dbca", 0, [](SortArgs& a) { a.reverse = true; }, "dcba"},
        {"dbca", 1, [](SortArgs&) {}, "dabc"},
        {"dbca", 0, [&](SortArgs& a) { a.part = &two; }, "bdca"},
        {"dbca", 3, [&](SortArgs& a) { a.part = &minus; }, "dbca"},
        {"dcba", 3, [&](SortArgs& a) { a.part = &minus; }, "dbca"},
        {"d1a2c3", 0, [&](SortArgs& a) { a.skip = &two; }, "a2c3d1"},
        {"d1a2c3", 0, [&](SortArgs& a) { a.skip = &two, a.comparator = &field2; }, "d1a2c3"},
        {"b3a2b1", 0, [&](SortArgs& a) { a.skip = &two, a.all = true; }, "a2b1b3"},
        {"b3a2b1", 0, [&](SortArgs& a) { a.skip = &two, a.stable = true; }, "a2b3b1"},
        {"b3a2b1", 0, [&](SortArgs& a) { a.skip = &two, a.stable = true, a.reverse = true; }, "b3b1a2"},
        {"x", 1, [](SortArgs&) {}, "x"},
    };
    for (const Case& c : cases) EXPECT_EQ(sorted(c.before, c.set, c.index), c.after) << c.before;

    Cell mixed = blk({word("w"), ch('z'), word("a"), ch('b')});
    sort(mixed);
    EXPECT_EQ(letters(mixed), "bzaw") << "values of different types sort by datatype id";
    Cell words = blk({word("b"), word("B"), word("a"), word("A")});
    SortArgs cased;
    cased.case_sensitive = true;
    cased.stable = true;
    sort(words, cased);
    EXPECT_EQ(letters(words), "ABab");

    Cell zero = integer(0), big = integer(3), bad = ch('c');
    auto fails = [&](const std::function<void(SortArgs&)>& set) {
        return catch_error([&] { sorted("abcdef", set); });
    };
    EXPECT_EQ(fails([&](SortArgs& a) { a.skip = &zero; }), ERR_SCRIPT_INVALID_REFINE_ARG);
    EXPECT_EQ(fails([&](SortArgs& a) { a.skip = &big, a.part = &two; }), ERR_SCRIPT_INVALID_REFINE_ARG);
    EXPECT_EQ(fails([&](SortArgs& a) { a.skip = &two, a.part = &three; }), ERR_SCRIPT_INVALID_REFINE_ARG);
    EXPECT_EQ(fails([&](SortArgs& a) { a.all = true; }), ERR_SCRIPT_BAD_REFINES);
    EXPECT_EQ(fails([&](SortArgs& a) { a.comparator = &two; }), ERR_SCRIPT_BAD_REFINES) << "a field needs /skip";
    EXPECT_EQ(fails([&](SortArgs& a) { a.skip = &two, a.comparator = &big; }), ERR_SCRIPT_OUT_OF_RANGE);
    EXPECT_EQ(fails([&](SortArgs& a) { a.skip = &two, a.comparator = &zero; }), ERR_SCRIPT_OUT_OF_RANGE);
    EXPECT_EQ(fails([&](SortArgs& a) { a.comparator = &bad; }), ERR_SCRIPT_INVALID_REFINE_ARG);
    EXPECT_EQ(sorted("fedcba", [](SortArgs&) {}), "abcdef") << "nothing changed by a refused sort";
}

TEST_F(BlockTest, MakeAndTo) {
    auto make = g_types.get<ACT_MAKE>(TYPE_BLOCK);
    auto to = g_types.get<ACT_TO>(TYPE_BLOCK);
    Cell proto = blk({});
    Cell five = integer(5), minus = integer(-3);
    Cell made = *make(&proto, &five, TYPE_BLOCK);
    EXPECT_EQ(series_buffer_length(&made), 0u);
    EXPECT_GE(cell_series(&made)->size, 5u * 16);
    made = *make(&proto, &minus, TYPE_BLOCK);
    EXPECT_EQ(series_buffer_length(&made), 0u) << "a capacity below 1 gives room for one";
    Cell f;
    set_float(&f, 2.7);
    made = *make(&proto, &f, TYPE_PAREN);
    EXPECT_TRUE(cell_is(&made, TYPE_PAREN));
    Cell inner = blk({word("i")});
    Cell model = blk({word("a"), inner}, TYPE_PAREN);
    made = *make(&proto, &model, TYPE_BLOCK);
    EXPECT_EQ(mold(made), "[a [i]]");
    EXPECT_EQ(series_node(cell_series(&made)->cells() + 1), series_node(&inner)) << "a shallow clone";
    Cell c = ch('c');
    EXPECT_EQ(catch_error([&] { make(&proto, &c, TYPE_BLOCK); }), ERR_SCRIPT_BAD_MAKE_ARG);

    EXPECT_EQ(mold(*to(&proto, &c, TYPE_BLOCK)), "[#\"c\"]") << "any other value: a block of one";
    EXPECT_EQ(mold(*to(&proto, &model, TYPE_PAREN)), "(a [i])");
    GcRoot text;
    string_make(text.get());
    string_append_ascii(text.get(), "a [1 b/c] 'd");
    EXPECT_EQ(mold(*to(&proto, text.get(), TYPE_BLOCK)), "[a [1 b/c] 'd]") << "text is read as source";
}

TEST_F(BlockTest, SetOperations) {
    Cell a = chars("abcab"), b = chars("bcd");
    struct Case {
        SetOp op;
        const char* result;
    } cases[] = {
        {SET_UNIQUE, "abc"}, {SET_UNION, "abcd"}, {SET_INTERSECT, "bc"}, {SET_EXCLUDE, "a"}, {SET_DIFFERENCE, "ad"},
    };
    for (const Case& c : cases) EXPECT_EQ(letters(set_op(c.op, a, b)), c.result) << int(c.op);
    Cell two = integer(2);
    Cell records = chars("a1b2a3c4");
    EXPECT_EQ(letters(set_op(SET_UNIQUE, records, b, &two)), "a1b2c4") << "/skip: the first cell is the key";
    Cell keyed = chars("xbbc");
    EXPECT_EQ(letters(set_op(SET_INTERSECT, records, keyed, &two)), "b2") << "only record keys are looked up";
    Cell mixed = blk({word("x"), word("X"), blk({ch('p')}), blk({ch('p')})});
    EXPECT_EQ(letters(set_op(SET_UNIQUE, mixed, b)), "x[#\"p\"]") << "blocks by value, words by name";
    EXPECT_EQ(letters(set_op(SET_UNIQUE, mixed, b, nullptr, true)), "xX[#\"p\"]") << "/case";
    Cell zero = integer(0);
    EXPECT_EQ(catch_error([&] { set_op(SET_UNIQUE, a, b, &zero); }), ERR_SCRIPT_INVALID_REFINE_ARG);
}

TEST_F(BlockTest, DirectRoutines) {
    Cell s = chars("abc");
    EXPECT_EQ(block_rs_length(&s), 3u);
    Cell d = ch('d');
    block_rs_append(&s, &d);
    block_rs_append(&s, block_rs_abs_at(&s, 0));  // a value from the block's own buffer
    EXPECT_EQ(letters(s), "abcda");
    block_rs_append_block(&s, &s);
    EXPECT_EQ(letters(s), "abcdaabcda") << "a block appended to itself";
    EXPECT_EQ(cell_char(block_select_after(&s, &d)), uint32_t('a'));
    Cell missing = ch('q');
    EXPECT_TRUE(cell_is(block_select_after(&s, &missing), TYPE_NONE));
    s.w1 = 4;
    Cell b = ch('b');
    EXPECT_FALSE(block_remove_value(&s, &b, false));
    EXPECT_TRUE(block_remove_value(&s, &b, true)) << "the first b lay before the head";
    s.w1 = 0;
    EXPECT_EQ(letters(s), "acdaacda");
    s.w1 = 20;
    EXPECT_EQ(block_rs_head(&s), block_rs_tail(&s));
    EXPECT_EQ(series_index(&s), 8u) << "the head comes back to the tail";
    EXPECT_TRUE(block_rs_tail_q(&s));
    block_pop_last(&s);
    EXPECT_EQ(series_index(&s), 7u);
    s.w1 = 2;
    block_rs_clear(&s);
    s.w1 = 0;
    EXPECT_EQ(letters(s), "ac");
    EXPECT_TRUE(block_next(&s) == false && block_next(&s) == true && block_next(&s) == true);

    Cell t = chars("xy", 1);
    Cell z = ch('z');
    block_insert_value(&t, &z, true, false);
    EXPECT_EQ(series_index(&t), 2u);
    block_insert_value(&t, &z, false, true);
    t.w1 = 0;
    EXPECT_EQ(letters(t), "zxzy");
    t.w1 = 1;
    Cell whole = t;
    whole.w1 = 0;
    block_insert_block(&t, &whole);
    EXPECT_EQ(series_index(&t), 5u);
    t.w1 = 0;
    EXPECT_EQ(letters(t), "zzxzyxzy");

    Cell words = blk({ch('a'), word("key", TYPE_LIT_WORD), ch('1'), word("last")});
    Cell key = word("KEY"), last = word("last");
    EXPECT_EQ(cell_char(block_select_word(&words, &key, false)), uint32_t('1'));
    EXPECT_TRUE(cell_is(block_select_word(&words, &key, true), TYPE_NONE)) << "strict: the spelling must match";
    EXPECT_TRUE(cell_is(block_select_word(&words, &last, false), TYPE_NONE)) << "nothing after the last cell";

    stack_reset();
    Cell* pushed = block_push_new(0);
    EXPECT_TRUE(cell_is(pushed, TYPE_BLOCK));
    stack_push(&z);
    block_append_stack();
    stack_push(&d);
    block_insert_stack();
    EXPECT_EQ(stack_top(), pushed) << "the value cell is dropped";
    EXPECT_EQ(letters(*pushed), "dz");

    Cell parent = blk({});
    Cell* child = block_make_in(&parent, 4);
    EXPECT_TRUE(cell_is(child, TYPE_BLOCK));
    EXPECT_EQ(series_buffer_length(&parent), 1u);
    GcRoot unset_cells;
    block_make_cell(unset_cells.get(), 3, false);
    EXPECT_TRUE(cell_is(cell_series(unset_cells.get())->cells() + 2, TYPE_UNSET)) << "spare cells start unset";
    Cell heap;
    block_make_cell(&heap, 2, true);
    EXPECT_TRUE(cell_series(&heap)->flags & SER_HEAP);
    series_free_heap(series_node(&heap));
}

TEST_F(BlockTest, Clone) {
    Cell path = blk({word("p")}, TYPE_PATH);
    Cell inner = blk({word("i"), path});
    Cell paren = blk({word("q")}, TYPE_PAREN);
    Cell s = blk({inner, paren}, TYPE_PAREN);
    s.header |= HDR_NEW_LINE;
    stack_reset();
    Cell shallow = *block_clone(&s, false, false);
    EXPECT_TRUE(cell_is(&shallow, TYPE_PAREN));
    EXPECT_TRUE(cell_new_line(&shallow)) << "the clone keeps the new-line marker";
    EXPECT_EQ(series_node(cell_series(&shallow)->cells()), series_node(&inner));
    Cell deep = *block_clone(&s, true, false);
    const Cell* copied_inner = cell_series(&deep)->cells();
    EXPECT_NE(series_node(copied_inner), series_node(&inner)) << "nested block! cloned";
    EXPECT_EQ(series_node(cell_series(&deep)->cells() + 1), series_node(&paren)) << "paren! only with any_block";
    EXPECT_EQ(series_node(cell_series(copied_inner)->cells() + 1), series_node(&path));
    Cell any = *block_clone(&s, true, true);
    EXPECT_NE(series_node(cell_series(&any)->cells() + 1), series_node(&paren));
    EXPECT_NE(series_node(cell_series(cell_series(&any)->cells())->cells() + 1), series_node(&path));
    Cell cyclic = blk({word("c")});
    append(cyclic, cyclic, -1, true);
    EXPECT_EQ(catch_error([&] { block_clone(&cyclic, true, false); }), ERR_INTERNAL_NO_CYCLE);
}

TEST_F(BlockTest, GrowthUnderCollectionsKeepsValues) {
    // Every allocation collects: values reached only through the blocks being edited must survive.
    gc_set_stress(true);
    Cell s = blk({});
    for (int i = 0; i < 40; i++) {
        Cell inner = blk({ch(char('a' + i % 26))});
        append(s, inner, -1, true);
        insert(s, chars("xy"), -1, false, 2);
    }
    Cell copied = copy(s, nullptr, true);
    Cell u = set_op(SET_UNIQUE, copied, copied);
    gc_set_stress(false);
    EXPECT_EQ(series_buffer_length(&s), 200u);
    EXPECT_EQ(mold(copied), mold(s));
    EXPECT_EQ(series_buffer_length(&u), 28u) << "x, y and 26 distinct one-char blocks";
}

}  // namespace
}  // namespace zol::test
