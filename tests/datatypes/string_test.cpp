// string!: unit sizes and widening, joining, loading, make and to, form, mold, comparison, eval-path and case
// conversion. Search and editing have their own files.
#include <climits>

#include "runtime/values/compare.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/stack.h"
#include "tests/datatypes/string_fixture.h"

namespace zol::test {
namespace {

TEST_F(StringTest, SlotsAreOwnInheritedOrUnsupported) {
    for (Action a : {ACT_MAKE, ACT_TO, ACT_FORM, ACT_MOLD, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_INSERT, ACT_CHANGE,
                     ACT_FIND, ACT_SELECT, ACT_SORT, ACT_SWAP, ACT_TRIM}) {
        EXPECT_NE(g_types.action(TYPE_STRING, a), nullptr) << action_word(a);
        EXPECT_NE(g_types.action(TYPE_STRING, a), g_types.action(TYPE_SERIES, a)) << action_word(a) << " is string!'s own";
    }
    for (Action a : {ACT_RANDOM, ACT_REFLECT, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q,
                     ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SKIP, ACT_TAIL,
                     ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY}) {
        EXPECT_EQ(g_types.action(TYPE_STRING, a), g_types.action(TYPE_SERIES, a)) << action_word(a) << " is series!'s";
    }
    for (Action a : {ACT_SET_PATH, ACT_ADD, ACT_NEGATE, ACT_EVEN_Q, ACT_AND_T, ACT_COMPLEMENT, ACT_PUT, ACT_OPEN, ACT_READ}) {
        EXPECT_EQ(g_types.action(TYPE_STRING, a), nullptr) << action_word(a);
    }
    EXPECT_EQ(g_types.action(TYPE_STRING, ACT_APPEND), g_types.action(TYPE_STRING, ACT_INSERT)) << "one routine";
}

// --- units and widening

TEST_F(StringTest, StoringACodePointWidensByItsRule) {
    enum Op { APPEND, PUT, POKE_TAIL, INSERT };
    struct Case {
        const char* before;
        uint32_t before_unit;
        Op op;
        uint32_t cp;
        uint32_t unit;
        const char* after;
    } cases[] = {
        {"ab", 1, APPEND, 127, 1, "ab\x7F"},
        {"ab", 1, APPEND, 233, 2, "ab\xC3\xA9"},  // appending 128-255 widens ...
        {"ab", 1, PUT, 233, 1, "\xC3\xA9" "b"},   // ... writing over a position does not
        {"ab", 1, PUT, 0x20AC, 2, "\xE2\x82\xAC" "b"},
        {"ab", 1, PUT, 0x1F600, 4, "\xF0\x9F\x98\x80" "b"},
        {"ab", 2, APPEND, 0x1F600, 4, "ab\xF0\x9F\x98\x80"},
        {"ab", 2, PUT, 0xFFFF, 2, "\xEF\xBF\xBF" "b"},
        {"ab", 1, POKE_TAIL, 233, 1, "ab\xC3\xA9"},
        {"ab", 1, INSERT, 233, 2, "\xC3\xA9" "ab"},
        {"ab", 4, APPEND, 'c', 4, "abc"},
    };
    for (const Case& c : cases) {
        Cell* s = text(c.before, 0, TYPE_STRING, c.before_unit);
        uint32_t node = series_node(s);
        switch (c.op) {
            case APPEND: string_append_char(node, c.cp); break;
            case PUT: string_put_char(node, 0, c.cp); break;
            case POKE_TAIL: string_poke_char(node, 2, c.cp); break;
            case INSERT: string_insert_char(node, 0, c.cp); break;
        }
        EXPECT_EQ(unit(s), c.unit) << c.before << " op " << c.op << " " << c.cp;
        EXPECT_EQ(string_to_utf8(s), c.after) << c.before << " op " << c.op << " " << c.cp;
    }
}

TEST_F(StringTest, ResetNarrowsAnEmptiedString) {
    Cell* s = wide("ab\xE2\x82\xAC", 2);
    s->w1 = 2;
    string_reset(s);
    EXPECT_EQ(unit(s), 1u);
    EXPECT_EQ(series_index(s), 0u);
    EXPECT_EQ(string_length(s), 0u);
    string_append_char(series_node(s), 'x');
    EXPECT_EQ(string_to_utf8(s), "x");
}

TEST_F(StringTest, MakeWithAUnitAndAppendBytes) {
    GcRoot s;
    string_make_unit(s.get(), 0, 4);
    EXPECT_EQ(unit(s.get()), 4u);
    EXPECT_EQ(string_length(s.get()), 0u);
    Cell* b = text("x");
    const uint8_t raw[] = {'a', 0xE9, 0};
    string_append_bytes(b, raw, 2);
    EXPECT_EQ(string_to_utf8(b), "xa\xC3\xA9") << "each byte is one code point";
    EXPECT_EQ(unit(b), 2u) << "appending 233 widens";
}

// --- joining

TEST_F(StringTest, ConcatenateModesCountsAndRepeats) {
    struct Case {
        const char* target;
        uint32_t head;
        const char* source;
        int32_t count;
        uint32_t offset;
        JoinMode mode;
        uint32_t times;
        const char* result;  // the whole buffer
        uint32_t written;
    } cases[] = {
        {"ab", 0, "cd", -1, 0, JoinMode::append, 1, "abcd", 2},
        {"ab", 1, "cd", -1, 0, JoinMode::append, 1, "abcd", 2},
        {"ab", 0, "cde", 2, 0, JoinMode::append, 1, "abcd", 2},
        {"ab", 0, "cd", 9, 0, JoinMode::append, 3, "abcdcdcd", 6},
        {"ab", 0, "cd", 0, 0, JoinMode::append, 1, "ab", 0},
        {"abcd", 1, "XY", -1, 0, JoinMode::insert, 1, "aXYbcd", 2},
        {"abcd", 1, "XY", -1, 2, JoinMode::insert, 2, "abcXYXYd", 4},
        {"abcd", 1, "XY", -1, 0, JoinMode::overwrite, 1, "aXYd", 2},
        {"abcd", 3, "XYZ", -1, 0, JoinMode::overwrite, 1, "abcXYZ", 3},  // past the tail: the tail moves
        {"abcd", 0, "XY", -1, 9, JoinMode::insert, 1, "abcdXY", 2},      // an offset past the tail is the tail
        {"", 0, "", -1, 0, JoinMode::append, 1, "", 0},
    };
    for (const Case& c : cases) {
        Cell* t = text(c.target, c.head);
        Cell* s = text(c.source);
        uint32_t n = string_concatenate(t, s, c.count, c.offset, false, c.mode, c.times);
        EXPECT_EQ(all_text(t), c.result) << c.target << " + " << c.source << " mode " << int(c.mode);
        EXPECT_EQ(n, c.written) << c.target << " + " << c.source;
    }
    // Overwriting past the tail of a full buffer grows it first.
    Cell* full = text("abcdefghijklmnop", 15);
    ASSERT_EQ(cell_series(full)->size, 16u);
    string_concatenate(full, text("XYZ"), -1, 0, false, JoinMode::overwrite);
    EXPECT_EQ(all_text(full), "abcdefghijklmnoXYZ");
    EXPECT_LE(cell_series(full)->head + cell_series(full)->tail, cell_series(full)->size);
}

TEST_F(StringTest, ConcatenateMatchesUnitSizes) {
    // The target takes the source's unit size; a narrower source is read into the wider target.
    Cell* t = text("ab");
    string_concatenate(t, wide("\xE2\x82\xAC", 2), -1, 0, false, JoinMode::append);
    EXPECT_EQ(unit(t), 2u);
    string_concatenate(t, text("c\xC3\xA9"), -1, 0, false, JoinMode::insert);
    EXPECT_EQ(string_to_utf8(t), "c\xC3\xA9" "ab\xE2\x82\xAC");
    EXPECT_EQ(unit(t), 2u);
    // By code point the target widens only as far as the text needs, whatever the source's unit.
    Cell* n = text("ab");
    string_concatenate(n, wide("xy", 4), -1, 0, true, JoinMode::append);
    EXPECT_EQ(unit(n), 1u);
    EXPECT_EQ(string_to_utf8(n), "abxy");
    string_concatenate(n, wide("\xC3\xA9", 4), -1, 0, true, JoinMode::append);
    EXPECT_EQ(unit(n), 2u) << "the append rule: 233 needs two bytes";
    // Without it, a Latin-1 source in 1-byte units keeps the target at 1 byte.
    Cell* l = text("ab");
    string_concatenate(l, text("\xC3\xA9"), -1, 0, false, JoinMode::append);
    EXPECT_EQ(unit(l), 1u);
    EXPECT_EQ(string_to_utf8(l), "ab\xC3\xA9");
}

TEST_F(StringTest, ConcatenateWordsCharsAndItself) {
    Cell* t = text("<");
    Cell w = word("alpha");
    string_concatenate(t, &w, -1, 0, false, JoinMode::append);
    Cell c = chr(0x1F600);
    string_concatenate(t, &c, -1, 0, false, JoinMode::append, 2);
    EXPECT_EQ(string_to_utf8(t), "<alpha\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
    EXPECT_EQ(unit(t), 4u);
    // A string joined with itself reads the text as it was before the write.
    Cell* s = text("abc", 1);
    string_concatenate(s, s, -1, 0, false, JoinMode::append);
    EXPECT_EQ(all_text(s), "abcbc");
    Cell* i = text("abc", 1);
    string_concatenate(i, i, -1, 0, false, JoinMode::insert, 2);
    EXPECT_EQ(all_text(i), "abcbcbc");
    Cell* before = text("abc");
    Cell later = *before;
    later.w1 = 1;
    string_concatenate(before, &later, -1, 0, false, JoinMode::insert);
    EXPECT_EQ(all_text(before), "bcabc") << "the text lay where the insertion moves units";
    Cell one = integer(1);
    EXPECT_EQ(error_of([&] { string_concatenate(t, &one, -1, 0, false, JoinMode::append); }), ERR_SCRIPT_INVALID_ARG);
}

// --- loading and converting

TEST_F(StringTest, LoadDecodesUtf8AndUtf16) {
    const uint8_t utf8[] = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC};
    Cell* pushed = string_load_push(utf8, sizeof utf8, STRING_UTF8);
    EXPECT_EQ(string_to_utf8(pushed), "a\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(unit(pushed), 2u);
    stack_reset();
    const uint8_t utf16[] = {'h', 0, 'i', 0, 0x3D, 0xD8, 0x00, 0xDE};  // h i U+1F600
    Cell* target = text("old text");
    EXPECT_EQ(string_load(utf16, 4, target, STRING_UTF16LE), target);
    EXPECT_EQ(string_to_utf8(target), "hi\xF0\x9F\x98\x80") << "the target's content is replaced";
    Cell* blk = block({});
    Cell* in = string_load_in(blk, utf8, 3, STRING_UTF8);
    EXPECT_EQ(cell_series(blk)->used(), 1u);
    EXPECT_EQ(string_to_utf8(in), "a\xC3\xA9");
    EXPECT_EXIT(string_load(utf8, 1, nullptr, 3), ::testing::ExitedWithCode(0), "") << "an unknown encoding ends the run";
}

TEST_F(StringTest, BinaryToStringReportsTheBytesFromTheFirstBadOne) {
    GcRoot out;
    const uint8_t good[] = {0xEF, 0xBB, 0xBF, 'a', 0xC3, 0xA9};
    binary_to_string(good, sizeof good, out.get());
    EXPECT_EQ(string_to_utf8(out.get()), "a\xC3\xA9") << "the byte order mark is dropped";
    const uint8_t bad[] = {'a', 'b', 0xFF, 'c', 'd'};
    Outcome o = attempt([&] { binary_to_string(bad, sizeof bad, out.get()); });
    ASSERT_EQ(o.error, ERR_ACCESS_INVALID_UTF8);
    ASSERT_TRUE(cell_is(&o.arg1, TYPE_BINARY));
    Series* s = cell_series(&o.arg1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->head_ptr()), s->used()), "\xFF" "cd");
    const uint8_t cut[] = {'a', 0xE2, 0x82};  // a sequence cut by the end is not an error: decoding stops
    binary_to_string(cut, sizeof cut, out.get());
    EXPECT_EQ(string_to_utf8(out.get()), "a");
}

TEST_F(StringTest, HexTexts) {
    struct Case {
        int32_t v;
        bool short_form;
        const char* text;
    } cases[] = {{0, false, "00000000"}, {0x1E, false, "0000001E"}, {-1, false, "FFFFFFFF"}, {0, true, "00"},
                 {0x1E, true, "1E"},     {5, true, "5"},            {0x10FFFF, true, "10FFFF"}, {-2, true, "FFFFFFFE"}};
    for (const Case& c : cases) EXPECT_STREQ(string_int_to_hex(c.v, c.short_form), c.text) << c.v << " " << c.short_form;
    EXPECT_STREQ(string_byte_to_hex(0xA7), "A7");
    EXPECT_STREQ(string_byte_to_hex(0x05), "05");
}

// --- form and mold

class StringMoldTest : public StringTest {
protected:
    std::string run(Action act, const Cell* value, bool all = false, bool part = false, int budget = 1000) {
        GcRoot out;
        string_make(out.get());
        MoldArgs args;
        args.all = all;
        args.part = part;
        left = reinterpret_cast<ActionFn<ACT_MOLD>>(g_types.action(TYPE_STRING, act))(value, out.get(), args, budget);
        return string_to_utf8(out.get());
    }
    std::string mold(const std::string& utf8, bool all = false) { return run(ACT_MOLD, text(utf8), all); }
    int left = 0;
};

TEST_F(StringMoldTest, QuotesOrBraces) {
    std::string x49(49, 'x'), x50(50, 'x');
    struct Case {
        std::string in, out;
    } cases[] = {
        {"abc", R"("abc")"},
        {"", R"("")"},
        {"a\"b", R"({a"b})"},
        {x49, "\"" + x49 + "\""},
        {x50, "{" + x50 + "}"},
        {"a\nb\nc", R"("a^/b^/c")"},
        {"a\nb\nc\nd", R"({a^/b^/c^/d})"},
        {"a{b}c", R"("a{b}c")"},  // braces stay as they are between double quotes
        {"a{b", R"("a{b")"},
        {"x\"{y}", R"({x"{y}})"},       // a balanced pair is left alone
        {"\"}", R"({"^}})"},            // a closing brace with nothing open
        {"\"{", R"({"^{})"},            // an opening brace never closed
        {"\"}{a}", R"({"^}{a}})"},
        {"\"{a}{b", R"({"{a}^{b})"},    // from the first unclosed one on
        {"\"{a{b}", R"({"^{a^{b^}})"},  // ... every opening brace gets a caret, and nothing is open to close
        {"^", R"("^^")"},
        {"\"^", R"({"^^})"},
        {"\t", R"("^-")"},
        {std::string(1, '\0'), R"("^@")"},
        {"\x1B", R"("^[")"},
        {"\x1E", R"z("^(1E)")z"},
        {"\x1F", R"("^_")"},
        {"\x7F", R"("^~")"},
        {"\xC2\x80", R"z("^(80)")z"},
        {"\xC2\x9F", R"z("^(9F)")z"},
        {"\xC2\xA0", "\"\xC2\xA0\""},
        {"\xE2\x82\xAC", "\"\xE2\x82\xAC\""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(c.in), c.out) << c.in;
    EXPECT_EQ(mold("\xC2\xA0\xC3\xA9", true), R"z("^(A0)^(E9)")z") << "/all escapes everything above 127";
    EXPECT_EQ(mold("\xF0\x9F\x98\x80", true), R"z("^(1F600)")z");
}

TEST_F(StringMoldTest, PartBudgets) {
    EXPECT_EQ(run(ACT_MOLD, text("abcdef", 1), false, true, 3), R"("bcd")");
    EXPECT_EQ(left, 3 - 3 - 2);
    EXPECT_EQ(run(ACT_MOLD, text("abc"), false, true, -4), R"("")");
    EXPECT_EQ(run(ACT_MOLD, text(std::string(60, 'x')), false, true, 2), "{xx}") << "the whole length picks braces";
    EXPECT_EQ(run(ACT_MOLD, text("abc")), R"("abc")");
    EXPECT_EQ(left, 1000 - 5);
    EXPECT_EQ(run(ACT_FORM, text("abcdef", 2)), "cdef");
    EXPECT_EQ(left, 1000 - 4);
    EXPECT_EQ(run(ACT_FORM, text("abcdef"), false, true, 2), "ab");
    EXPECT_EQ(left, 2 - 6) << "form takes the whole length from the budget";
    EXPECT_EQ(run(ACT_FORM, text("a\"{\n")), "a\"{\n") << "form writes the text as it is";
    run(ACT_FORM, text("abc"), false, false, INT_MIN + 1);
    EXPECT_EQ(left, INT_MIN) << "the budget never wraps";
}

TEST_F(StringMoldTest, IntoItself) {
    Cell* s = text("a\"b");
    MoldArgs args;
    string_mold(s, s, args, 100);
    EXPECT_EQ(string_to_utf8(s), "a\"b{a\"b}");
    Cell* f = text("xy", 1);
    string_form(f, f, args, 100);
    EXPECT_EQ(all_text(f), "xyy");
}

TEST_F(StringMoldTest, CharUsesTheSameEscapes) {
    auto mold_char = [&](uint32_t cp, bool all) {
        GcRoot out;
        string_make(out.get());
        MoldArgs args;
        args.all = all;
        Cell c = chr(cp);
        g_types.get<ACT_MOLD>(TYPE_CHAR)(&c, out.get(), args, 10);
        return string_to_utf8(out.get());
    };
    EXPECT_EQ(mold_char('"', false), R"(#"^"")");
    EXPECT_EQ(mold_char('{', false), R"(#"{")");
    EXPECT_EQ(mold_char(10, false), R"(#"^/")");
    EXPECT_EQ(mold_char(0xC8, true), R"z(#"^(C8)")z");
}

// --- comparison

TEST_F(StringTest, CompareFoldsCaseUnlessStrict) {
    struct Case {
        const char* a;
        uint32_t unit_a;
        const char* b;
        uint32_t unit_b;
        CompareOp op;
        int want;
    } cases[] = {
        {"ABC", 1, "abc", 1, CMP_EQUAL, 0},
        {"ABC", 1, "abc", 2, CMP_EQUAL, 0},
        {"ABC", 1, "abc", 1, CMP_STRICT_EQUAL, -1},
        {"abc", 4, "abc", 1, CMP_STRICT_EQUAL, 0},
        {"\xC3\xA9", 1, "\xC3\x89", 2, CMP_EQUAL, 0},  // é and É
        {"ab", 1, "abc", 1, CMP_LESSER, -1},
        {"abc", 1, "ab", 1, CMP_GREATER, 1},
        {"ab", 1, "abc", 1, CMP_EQUAL, 1},
        {"abc", 1, "", 1, CMP_LESSER, 1},
        {"", 1, "abc", 1, CMP_LESSER, -1},
        {"", 1, "", 1, CMP_EQUAL, 0},
        {"abd", 1, "abc", 1, CMP_SORT, 1},
        {"B", 1, "a", 1, CMP_SORT, 1},
        {"B", 1, "a", 1, CMP_CASE_SORT, -1},
        {"b", 2, "A", 1, CMP_SORT, 1},
        {"\xF0\x9F\x98\x80", 4, "\xE2\x82\xAC", 2, CMP_LESSER, 1},
    };
    for (const Case& c : cases) {
        Cell* a = text(c.a, 0, TYPE_STRING, c.unit_a);
        Cell* b = text(c.b, 0, TYPE_STRING, c.unit_b);
        EXPECT_EQ(g_types.get<ACT_COMPARE>(TYPE_STRING)(a, b, c.op), c.want) << c.a << " vs " << c.b << " op " << c.op;
    }
}

TEST_F(StringTest, CompareAcrossTheFamilyAndSameness) {
    Cell* s = text("abc");
    Cell* f = text("ABC", 0, TYPE_FILE);
    EXPECT_TRUE(compare_values(s, f, CMP_EQUAL));
    EXPECT_FALSE(compare_values(s, f, CMP_NOT_EQUAL));
    EXPECT_FALSE(compare_values(s, f, CMP_STRICT_EQUAL)) << "different string types are never strictly equal";
    EXPECT_EQ(string_compare(s, f, CMP_LESSER), COMPARE_INCOMPARABLE) << "... nor ordered";
    EXPECT_EQ(error_of([&] { compare_values(s, f, CMP_LESSER); }), ERR_SCRIPT_INVALID_COMPARE);
    Cell c = chr('a');
    EXPECT_EQ(string_compare(s, &c, CMP_EQUAL), COMPARE_INCOMPARABLE);
    Cell* t = text("abc");
    EXPECT_EQ(string_compare(s, t, CMP_SAME), -1) << "same text, another buffer";
    Cell same = *s;
    EXPECT_EQ(string_compare(s, &same, CMP_SAME), 0);
    same.w1 = 1;
    EXPECT_EQ(string_compare(s, &same, CMP_SAME), -1);
    EXPECT_EQ(string_compare(s, &same, CMP_GREATER), -1) << "abc before bc";
    Cell w = word("alpha");
    EXPECT_EQ(string_compare_op(text("ALPHA"), &w, CMP_EQUAL, false), 0) << "a word compares by its name";
}

TEST_F(StringTest, ComparePrefix) {
    struct Case {
        const char* a;
        const char* b;
        CompareOp op;
        int want;
    } cases[] = {
        {"abcd", "ab", CMP_EQUAL, 0},       {"ABcd", "ab", CMP_EQUAL, 0},  {"ABcd", "ab", CMP_STRICT_EQUAL, -1},
        {"ab", "abc", CMP_EQUAL, 1},        {"abc", "", CMP_EQUAL, 0},     {"abc", "", CMP_FIND, 1},
        {"abc", "abc", CMP_EQUAL, 0},       {"xbc", "ab", CMP_EQUAL, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(string_compare_op(text(c.a), text(c.b), c.op, true), c.want) << c.a << " starts with " << c.b;
    }
}

// --- make and to

TEST_F(StringTest, MakeGivesAnEmptyValueOfACapacity) {
    auto make = g_types.get<ACT_MAKE>(TYPE_STRING);
    Cell* proto = hold(g_none_value);
    Cell n = integer(40);
    make(proto, &n, TYPE_STRING);
    EXPECT_TRUE(cell_is(proto, TYPE_STRING));
    EXPECT_EQ(string_length(proto), 0u);
    EXPECT_GE(cell_series(proto)->size, 40u);
    Cell zero = integer(0);
    make(proto, &zero, TYPE_FILE);
    EXPECT_TRUE(cell_is(proto, TYPE_FILE));
    EXPECT_GE(cell_series(proto)->size, 16u);
    Cell real;
    set_float(&real, 20.9);
    make(proto, &real, TYPE_STRING);
    EXPECT_GE(cell_series(proto)->size, 20u);
    Cell minus = integer(-1);
    Outcome o = attempt([&] { make(proto, &minus, TYPE_STRING); });
    EXPECT_EQ(o.error, ERR_SCRIPT_OUT_OF_RANGE);
    EXPECT_EQ(cell_int(&o.arg1), -1);
    set_float(&real, 1e12);
    EXPECT_EQ(error_of([&] { make(proto, &real, TYPE_STRING); }), ERR_SCRIPT_OUT_OF_RANGE);
    // Any other value converts as to does.
    make(proto, text("abc", 1), TYPE_STRING);
    EXPECT_EQ(string_to_utf8(proto), "bc");
    Cell money{};
    money.header = TYPE_MONEY;
    Outcome m = attempt([&] { make(proto, &money, TYPE_BINARY); });
    EXPECT_EQ(m.error, ERR_SCRIPT_BAD_MAKE_ARG);
    EXPECT_EQ(datatype_id(&m.arg1), uint32_t(TYPE_BINARY));
}

TEST_F(StringTest, ToConvertsByTheSourcesType) {
    auto to = [&](const Cell& source, TypeId type = TYPE_STRING) {
        Cell* proto = hold(g_none_value);
        Cell* held = hold(source);
        const Cell* r = g_types.get<ACT_TO>(TYPE_STRING)(proto, held, type);
        EXPECT_EQ(cell_type(r), type);
        return r;
    };
    Cell a = word("a");
    Cell* blk = block({a, *text("b"), chr('c'), g_true_value});
    EXPECT_EQ(string_to_utf8(to(*blk)), "abctrue") << "elements formed and joined";
    Cell* src = text("xyz", 1);
    const Cell* copy = to(*src);
    EXPECT_EQ(string_to_utf8(copy), "yz");
    EXPECT_NE(series_node(copy), series_node(src)) << "a copy";
    EXPECT_TRUE(cell_is(to(*src, TYPE_FILE), TYPE_FILE));
    Cell ref = refinement_load("ref");
    EXPECT_EQ(string_to_utf8(to(ref)), "ref") << "formed for string!";
    EXPECT_EQ(string_to_utf8(to(ref, TYPE_URL)), "/ref") << "molded for the others";
    EXPECT_EQ(string_to_utf8(to(*bytes({'a', 0xC3, 0xA9}, 1))), "\xC3\xA9") << "UTF-8 from the binary's head";
    EXPECT_EQ(string_to_utf8(to(chr(0x20AC))), "\xE2\x82\xAC");
    EXPECT_EQ(string_to_utf8(to(word("alpha"))), "alpha");
    EXPECT_EQ(string_to_utf8(to(g_false_value)), "false");

    Cell* proto = hold(g_none_value);
    Cell none = g_none_value;
    Outcome o = attempt([&] { g_types.get<ACT_TO>(TYPE_STRING)(proto, &none, TYPE_FILE); });
    EXPECT_EQ(o.error, ERR_SCRIPT_BAD_TO_ARG);
    EXPECT_EQ(datatype_id(&o.arg1), uint32_t(TYPE_STRING)) << "names string! whatever the target";
    Cell* bad = bytes({'o', 'k', 0xC3, 'x'});
    o = attempt([&] { g_types.get<ACT_TO>(TYPE_STRING)(proto, bad, TYPE_STRING); });
    EXPECT_EQ(o.error, ERR_ACCESS_INVALID_UTF8);
    EXPECT_EQ(cell_series(&o.arg1)->used(), 2u) << "the bytes from the bad one to the end";
    EXPECT_EQ(error_of([&] { g_types.get<ACT_TO>(TYPE_STRING)(proto, src, TYPE_BINARY); }), ERR_INTERNAL_NOT_DONE)
        << "binary! converts into bytes itself";
}

// --- eval-path

TEST_F(StringTest, EvalPathReadsAndWrites) {
    auto path = g_types.get<ACT_EVAL_PATH>(TYPE_STRING);
    Cell* s = text("abc");
    PathStep step;
    Cell two = integer(2);
    step.element = &two;
    EXPECT_EQ(cell_char(path(s, step)), uint32_t('b'));
    Cell z = chr(0x20AC);
    step.set_value = &z;
    path(s, step);
    EXPECT_EQ(string_to_utf8(s), "a\xE2\x82\xAC" "c");
    Cell key = chr('A');
    step.element = &key;
    step.set_value = nullptr;
    EXPECT_EQ(cell_char(path(s, step)), 0x20ACu) << "another key selects, folding case";
    step.case_sensitive = true;
    EXPECT_TRUE(cell_is(path(s, step), TYPE_NONE));
    step.case_sensitive = false;
    Cell x = chr('x');
    step.set_value = &x;
    path(s, step);
    EXPECT_EQ(string_to_utf8(s), "axc") << "set: the value goes after the key";
    EXPECT_EQ(series_index(s), 0u) << "the string itself keeps its head";
    Cell missing = chr('q');
    step.element = &missing;
    Outcome o = attempt([&] { path(s, step); });
    EXPECT_EQ(o.error, ERR_SCRIPT_BAD_PATH_SET);
    EXPECT_EQ(cell_char(&o.arg2), uint32_t('q'));
    Cell w = word("size");
    step.element = &w;
    step.set_value = nullptr;
    EXPECT_EQ(error_of([&] { path(s, step); }), ERR_SCRIPT_INVALID_PATH);
}

// --- case conversion

TEST_F(StringTest, CaseConversionInPlace) {
    struct Case {
        const char* before;
        uint32_t unit;
        bool upper;
        int part;  // -1: none
        const char* after;
        uint32_t unit_after;
    } cases[] = {
        {"abc", 1, true, -1, "ABC", 1},
        {"\xC3\xBF", 1, true, -1, "\xC5\xB8", 2},  // ÿ up is U+0178: the Latin-1 string widens
        {"\xC3\x80" "B", 1, false, -1, "\xC3\xA0" "b", 1},
        {"\xC4\xB0", 2, false, -1, "i", 2},  // İ down is i
        {"\xC3\x9F", 1, true, -1, "S", 1},  // ß up is the first letter of its full mapping
        {"\xF0\x9E\xA4\xA2", 4, true, -1, "\xF0\x9E\xA4\x80", 4},  // U+1E922 up is U+1E900
        {"abcd", 1, true, 2, "ABcd", 1},
        {"abcd", 1, true, 0, "abcd", 1},
        {"abcd", 1, true, -3, "abcd", 1},  // a negative count converts nothing
        {"abcd", 1, true, 99, "ABCD", 1},
    };
    for (const Case& c : cases) {
        Cell* s = text(c.before, 0, TYPE_STRING, c.unit);
        Cell n = integer(c.part);
        case_convert_value(s, c.part == -1 ? nullptr : &n, c.upper);
        EXPECT_EQ(string_to_utf8(s), c.after) << c.before << (c.upper ? " up" : " down") << " part " << c.part;
        EXPECT_EQ(unit(s), c.unit_after) << c.before;
    }
    Cell c = chr('q');
    case_convert_value(&c, nullptr, true);
    EXPECT_EQ(cell_char(&c), uint32_t('Q'));
}

TEST_F(StringTest, CaseConversionPartAsAPosition) {
    Cell* s = text("abcd", 1);
    Cell end = *s;
    end.w1 = 3;
    case_convert_value(s, &end, true);
    EXPECT_EQ(all_text(s), "aBCd");
    Cell before = *s;
    before.w1 = 0;
    case_convert_value(s, &before, true);
    EXPECT_EQ(all_text(s), "aBCd") << "a part before the head converts nothing";
    Outcome o = attempt([&] { case_convert_value(s, text("abcd"), true); });
    EXPECT_EQ(o.error, ERR_SCRIPT_INVALID_REFINE_ARG) << "a part in another buffer";
    EXPECT_EQ(symbol_resolve(word_symbol(&o.arg1)), symbol_resolve(symbol_make("part")));
    Cell* past = text("ab");
    past->w1 = 7;
    case_convert_value(past, nullptr, true);
    EXPECT_EQ(series_index(past), 2u) << "a head past the tail comes back to it";
    EXPECT_EQ(all_text(past), "ab");
}

}  // namespace
}  // namespace zol::test
