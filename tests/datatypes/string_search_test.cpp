// string! search: find and select with their refinements, the match tests of Parse and the set operations.
#include <climits>

#include "tests/datatypes/string_fixture.h"

namespace zol::test {
namespace {

// A value to look for, made when the case runs.
struct Sought {
    enum Kind { CHAR, TEXT, WIDE_TEXT, WORD, LOGIC } kind;
    uint32_t cp = 0;
    const char* text = "";
};
Sought ch(uint32_t cp) { return {Sought::CHAR, cp, ""}; }
Sought tx(const char* t) { return {Sought::TEXT, 0, t}; }

constexpr int ABSENT = INT_MIN;
struct Refinements {
    int part = ABSENT;
    int skip = ABSENT;
    bool case_sensitive = false, last = false, reverse = false, tail = false, match = false, same = false;
};
Refinements none() { return {}; }

class StringSearchTest : public StringTest {
protected:
    Cell* make(const Sought& s) {
        switch (s.kind) {
            case Sought::CHAR: return hold(chr(s.cp));
            case Sought::TEXT: return text(s.text);
            case Sought::WIDE_TEXT: return wide(s.text, 4);
            case Sought::WORD: return hold(word(s.text));
            case Sought::LOGIC: return hold(g_true_value);
        }
        return nullptr;
    }
    // The head index find answers, or -1 for none.
    int64_t find(Cell* series, Cell* value, const Refinements& r) {
        FindArgs args;
        Cell part = integer(r.part), skip = integer(r.skip);
        if (r.part != ABSENT) args.part = &part;
        if (r.skip != ABSENT) args.skip = &skip;
        args.case_sensitive = r.case_sensitive;
        args.last = r.last;
        args.reverse = r.reverse;
        args.tail = r.tail;
        args.match = r.match;
        args.same = r.same;
        Cell* slot = hold(*series);
        // string!'s own entry, which binary! inherits once it is registered.
        const Cell* found = g_types.get<ACT_FIND>(TYPE_STRING)(slot, value, args);
        if (cell_is(found, TYPE_NONE)) return -1;
        EXPECT_EQ(found, slot) << "the answer is the series cell it was given";
        EXPECT_EQ(cell_type(found), cell_type(series));
        return series_index(found);
    }
};

TEST_F(StringSearchTest, FindWithItsRefinements) {
    Refinements case_sensitive = none(), tail = none(), last = none(), reverse = none(), match = none();
    case_sensitive.case_sensitive = true;
    tail.tail = true;
    last.last = true;
    reverse.reverse = true;
    match.match = true;
    Refinements match_tail = match, skip2 = none(), skip2_tail = none(), part3 = none(), part4 = none(), zero_part = none();
    match_tail.tail = true;
    skip2.skip = 2;
    skip2_tail.skip = 2;
    skip2_tail.tail = true;
    part3.part = 3;
    part4.part = 4;
    zero_part.part = 0;
    Refinements reverse_part2 = reverse, reverse_part3 = reverse, same = none(), reverse_match = reverse, last_skip2 = last;
    reverse_part2.part = 2;
    reverse_part3.part = 3;
    same.same = true;
    reverse_match.match = true;
    last_skip2.skip = 2;
    struct Case {
        const char* series;
        uint32_t head;
        Sought value;
        Refinements r;
        int64_t index;
    } cases[] = {
        {"abc", 0, ch('B'), none(), 1},
        {"abc", 0, ch('B'), case_sensitive, -1},
        {"abc", 0, ch('B'), same, -1},
        {"abcabc", 0, tx("BC"), none(), 1},
        {"abcabc", 0, tx("bc"), tail, 3},
        {"abcabc", 0, tx("bc"), last, 4},
        {"abcabc", 0, ch('c'), last, 5},
        {"abcabc", 2, tx("ab"), none(), 3},
        {"abc", 0, ch('a'), reverse, -1},  // nothing before the head
        {"abcabc", 6, tx("bc"), reverse, 4},
        {"abcabc", 5, ch('a'), reverse, 3},
        {"abcabc", 6, ch('a'), reverse_part2, -1},  // only "bc" before the head
        {"abcabc", 6, ch('a'), reverse_part3, 3},
        {"abc", 2, ch('a'), reverse_match, -1},
        {"abc", 0, tx("ab"), match, 0},
        {"abc", 0, tx("ab"), match_tail, 2},
        {"abc", 0, tx("bc"), match, -1},
        {"", 0, ch('a'), none(), -1},
        {"abc", 3, ch('c'), none(), -1},
        {"aXbX", 0, ch('b'), skip2, 2},
        {"aXbX", 0, ch('X'), skip2, -1},
        {"aXbX", 0, ch('b'), skip2_tail, 4},
        {"aXbXcX", 0, ch('c'), last_skip2, 4},  // records start at the head: positions 4, 2, 0
        {"aXbXcX", 0, ch('a'), last_skip2, 0},
        {"aXbXcX", 0, ch('X'), last_skip2, -1},
        {"abcdef", 0, tx("cd"), part3, -1},
        {"abcdef", 0, tx("cd"), part4, 2},
        {"abcdef", 0, ch('a'), zero_part, -1},
        {"abc", 0, tx(""), none(), -1},
        {"abc", 0, tx("abcd"), none(), -1},
        {"x\xC3\x89y", 0, ch(0xE9), none(), 1},  // é finds É
        {"x\xC3\x89y", 0, ch(0xE9), case_sensitive, -1},
        {"a\xF0\x9F\x98\x80" "b", 0, tx("\xF0\x9F\x98\x80" "B"), none(), 1},
        {"the alpha", 0, {Sought::WORD, 0, "ALPHA"}, none(), 4},
        {"xtruey", 0, {Sought::LOGIC}, none(), 1},  // other values are formed and their text sought
        {"abcabc", 0, {Sought::WIDE_TEXT, 0, "cA"}, none(), 2},
    };
    for (const Case& c : cases) {
        Cell* series = text(c.series, c.head);
        EXPECT_EQ(find(series, make(c.value), c.r), c.index) << "find in " << c.series << " at " << c.head;
    }
    // The same searches in wider series.
    EXPECT_EQ(find(wide("abcABC", 2), text("cA"), none()), 2);
    EXPECT_EQ(find(wide("abcABC", 4), text("Ca"), case_sensitive), -1);
    EXPECT_EQ(find(wide("abcABC", 4), text("cA"), last), 2);
}

TEST_F(StringSearchTest, FindOtherKindsOfValue) {
    Cell* bits = bitset({'b', 'c'});
    EXPECT_EQ(find(text("xAbc"), bits, none()), 2) << "a bitset tests the code point, never folded";
    Refinements tail = none();
    tail.tail = true;
    EXPECT_EQ(find(text("xAbc"), bits, tail), 3);
    Cell* not_a = bitset({'a'}, true);
    EXPECT_EQ(find(wide("aa\xC4\x80", 2), not_a, none()), 2) << "beyond its bits the complement answers";
    EXPECT_EQ(find(wide("aa\xC4\x80", 2), bitset({'x'}), none()), -1);
    // binary! inherits find: units are numbers, and nothing folds.
    Cell* bin = bytes({1, 2, 3, 'a', 'B'});
    Cell two = integer(2), minus = integer(-1), big = integer(258);
    EXPECT_EQ(find(bin, &two, none()), 1);
    EXPECT_EQ(find(bin, &minus, none()), -1);
    EXPECT_EQ(find(bin, &big, none()), -1);
    EXPECT_EQ(find(bin, bytes({3, 'a'}), none()), 2);
    Cell b = chr('b');
    EXPECT_EQ(find(bin, &b, none()), -1);
    EXPECT_EQ(find(bin, text("B"), none()), 4);
    Cell real;
    set_float(&real, 3.0);
    EXPECT_EQ(find(bin, &real, none()), 2);
}

TEST_F(StringSearchTest, FindErrors) {
    Cell* s = text("abc");
    Cell* c = hold(chr('a'));
    Refinements skip0 = none();
    skip0.skip = 0;
    Outcome o = attempt([&] { find(s, c, skip0); });
    EXPECT_EQ(o.error, ERR_SCRIPT_OUT_OF_RANGE);
    EXPECT_EQ(cell_int(&o.arg1), 0);
    FindArgs args;
    args.part = text("abc");
    o = attempt([&] { string_find(s, c, args); });
    EXPECT_EQ(o.error, ERR_SCRIPT_INVALID_REFINE_ARG) << "a /part position in another series";
    Cell end = *s;
    end.w1 = 1;
    args.part = &end;
    EXPECT_EQ(series_index(string_find(hold(*s), c, args)), 0u) << "a /part position in this series";
    FindArgs any;
    any.any = true;
    EXPECT_EQ(error_of([&] { string_find(s, c, any); }), ERR_INTERNAL_NOT_DONE);
    FindArgs with;
    with.wild = c;
    EXPECT_EQ(error_of([&] { string_find(s, c, with); }), ERR_INTERNAL_NOT_DONE);
    Outcome b = attempt([&] { string_find(s, bytes({'a'}), FindArgs{}); });
    EXPECT_EQ(b.error, ERR_SCRIPT_INVALID_ARG) << "a binary! in a text";
    EXPECT_TRUE(cell_is(&b.arg1, TYPE_BINARY));
}

TEST_F(StringSearchTest, Select) {
    auto select = [&](Cell* series, Cell* value, bool case_sensitive = false) {
        FindArgs args;
        args.case_sensitive = case_sensitive;
        return *g_types.get<ACT_SELECT>(TYPE_STRING)(hold(*series), value, args);
    };
    Cell b = chr('b'), c = chr('c');
    Cell r = select(text("abc"), &b);
    EXPECT_EQ(cell_char(&r), uint32_t('c'));
    r = select(text("abc"), &c);
    EXPECT_TRUE(cell_is(&r, TYPE_NONE)) << "nothing after the match";
    r = select(text("abcd"), text("BC"));
    EXPECT_EQ(cell_char(&r), uint32_t('d')) << "the unit after the whole text";
    r = select(text("aBc"), &b, true);
    EXPECT_TRUE(cell_is(&r, TYPE_NONE));
    Cell t = g_true_value;
    r = select(text("xtruey"), &t);
    EXPECT_EQ(cell_char(&r), uint32_t('y')) << "after the formed text";
    Cell one = integer(1);
    r = select(bytes({1, 2}), &one);
    EXPECT_TRUE(cell_is(&r, TYPE_INTEGER)) << "a binary gives a number";
    EXPECT_EQ(cell_int(&r), 2);
}

TEST_F(StringSearchTest, MatchTestsForParse) {
    Cell* s = text("Hello");
    Cell h = chr('h');
    EXPECT_TRUE(string_match_at(s, &h, false));
    EXPECT_FALSE(string_match_at(s, &h, true));
    EXPECT_TRUE(string_match_at(s, text("HEL"), false));
    EXPECT_FALSE(string_match_at(s, text("HEL"), true));
    EXPECT_TRUE(string_match_at(s, text("Hel", 0, TYPE_FILE), true));
    EXPECT_FALSE(string_match_at(s, text("Hello!"), false));
    Cell one = integer(1);
    EXPECT_FALSE(string_match_at(s, &one, false));
    Cell* tag = text("b", 0, TYPE_TAG);
    EXPECT_TRUE(string_match_at(text("<B>x"), tag, false));
    EXPECT_FALSE(string_match_at(text("<bx"), tag, false));
    EXPECT_FALSE(string_match_at(text("<b"), tag, false));
    EXPECT_TRUE(string_tag_delims(text("<xy>"), text("ab", 0, TYPE_TAG)));
    EXPECT_FALSE(string_tag_delims(text("<xyz>"), text("ab", 0, TYPE_TAG)));
    EXPECT_FALSE(string_match_at(text("", 0), &h, false)) << "nothing matches at the tail";

    Cell* bits = bitset({'H'});
    EXPECT_TRUE(string_head_in_bitset(s, bits));
    EXPECT_FALSE(string_head_in_bitset(text("Hello", 1), bits));
    EXPECT_FALSE(string_head_in_bitset(text(""), bitset({}, true)));
    EXPECT_EQ(string_find_char(text("abcabc", 1), 'a'), 2);
    EXPECT_EQ(string_find_char(text("abc"), 'A'), -1);
    EXPECT_TRUE(string_find_char_skip(text("aXbX"), 'B', 2, false));
    EXPECT_FALSE(string_find_char_skip(text("aXbX"), 'x', 2, false));
    EXPECT_FALSE(string_find_char_skip(text("aXbX"), 'B', 2, true));
    EXPECT_TRUE(string_starts_with(wide("http://x", 2), "http:"));
    EXPECT_FALSE(string_starts_with(text("htt"), "http"));
    EXPECT_FALSE(string_starts_with(wide("\xC4\xA1", 2), "\x21")) << "U+0121 is not the byte 21";
}

TEST_F(StringSearchTest, SetOperations) {
    struct Case {
        SetOp op;
        const char* a;
        const char* b;
        bool case_sensitive;
        int skip;  // 0: absent
        const char* result;
    } cases[] = {
        {SET_UNION, "abca", "bd", false, 0, "abcd"},
        {SET_INTERSECT, "abc", "BCD", false, 0, "bc"},
        {SET_INTERSECT, "abc", "BCD", true, 0, ""},
        {SET_EXCLUDE, "abc", "b", false, 0, "ac"},
        {SET_DIFFERENCE, "abc", "bcd", false, 0, "ad"},
        {SET_UNIQUE, "aAbBa", "", false, 0, "ab"},
        {SET_UNIQUE, "aAbBa", "", true, 0, "aAbB"},
        {SET_UNIQUE, "abacab", "", false, 2, "ab"},  // a record is known by its first letter
        {SET_UNIQUE, "abcdab", "", false, 2, "abcd"},
        {SET_EXCLUDE, "abcd", "cx", false, 2, "ab"},
        {SET_UNION, "ab", "AbCd", false, 2, "abCd"},
        {SET_INTERSECT, "abcd", "xxcd", false, 2, "cd"},
        {SET_DIFFERENCE, "\xC3\xA9x", "\xC3\x89y", false, 0, "xy"},
        {SET_UNIQUE, "abc", "", false, 2, "abc"},  // a last record shorter than the others
    };
    for (const Case& c : cases) {
        GcRoot result;
        Cell skip = integer(c.skip);
        string_set_op(result.get(), text(c.a), text(c.b), c.case_sensitive, c.skip ? &skip : nullptr, c.op);
        EXPECT_EQ(string_to_utf8(result.get()), c.result) << c.op << " " << c.a << " " << c.b;
    }
    GcRoot result;
    Cell* first = text("abc", 1, TYPE_FILE);
    *result = *first;
    string_set_op(result.get(), result.get(), text("bx"), false, nullptr, SET_UNION);
    EXPECT_EQ(string_to_utf8(result.get()), "bcx") << "from the heads, into the first argument's own cell";
    EXPECT_TRUE(cell_is(result.get(), TYPE_FILE)) << "of the first value's type";
    EXPECT_NE(series_node(result.get()), series_node(first));
    Cell zero = integer(0);
    Outcome o = attempt([&] { string_set_op(result.get(), text("a"), text("b"), false, &zero, SET_UNION); });
    EXPECT_EQ(o.error, ERR_SCRIPT_INVALID_REFINE_ARG);
    EXPECT_EQ(cell_int(&o.arg2), 0);
}

}  // namespace
}  // namespace zol::test
