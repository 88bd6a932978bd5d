// string! editing: append, insert and change, swap, trim and sort.
#include <algorithm>
#include <cctype>
#include <climits>

#include "runtime/random.h"
#include "tests/datatypes/string_fixture.h"

namespace zol::test {
namespace {

class StringEditTest : public StringTest {
protected:
    Cell* value_of(char kind, const char* text_or_name) {
        switch (kind) {
            case 'c': return hold(chr(uint32_t(*text_or_name == '\\' ? 0xE9 : *text_or_name)));  // \ stands for é
            case 't': return text(text_or_name, 0, TYPE_TAG);
            case 'w': return hold(word(text_or_name));
            case 'l': return hold(g_true_value);
            case 'b': {
                Cell x = word("x");
                return block({x, *text("yy"), chr('z')});
            }
            default: return text(text_or_name);
        }
    }
};

TEST_F(StringEditTest, AppendInsertAndChange) {
    enum Op { APPEND, INSERT, CHANGE };
    struct Case {
        Op op;
        const char* series;
        uint32_t head;
        char kind;  // s text, c char, t tag, w word, l logic, b block [x "yy" #"z"]
        const char* value;
        int part, dup;
        const char* result;  // the whole buffer
        uint32_t head_after;
    } cases[] = {
        {APPEND, "ab", 1, 's', "cd", -1, 0, "abcd", 0},
        {APPEND, "ab", 0, 's', "cdef", 2, 0, "abcd", 0},
        {APPEND, "a", 0, 's', "xy", -1, 3, "axyxyxy", 0},
        {APPEND, "a", 0, 's', "xy", -1, 1, "axy", 0},
        {APPEND, "ab", 0, 'c', "c", -1, 3, "abccc", 0},
        {APPEND, "ab", 0, 'c', "c", 0, 0, "ab", 0},
        {APPEND, "ab", 0, 't', "p", -1, 0, "ab<p>", 0},
        {APPEND, "ab", 0, 'w', "alpha", -1, 0, "abalpha", 0},
        {APPEND, "ab", 0, 'l', "", -1, 0, "abtrue", 0},
        {APPEND, "ab", 0, 'b', "", -1, 0, "abxyyz", 0},
        {APPEND, "ab", 0, 'b', "", 2, 0, "abxyy", 0},  // /part counts the elements of a block
        {INSERT, "abc", 1, 's', "XY", -1, 0, "aXYbc", 3},
        {INSERT, "abc", 3, 's', "XY", -1, 2, "abcXYXY", 7},
        {INSERT, "abc", 0, 's', "XYZ", 1, 0, "Xabc", 1},
        {INSERT, "abc", 1, 'c', "-", -1, 0, "a-bc", 2},
        {CHANGE, "abcd", 1, 's', "XY", -1, 0, "aXYd", 3},
        {CHANGE, "abcd", 2, 's', "XYZ", -1, 0, "abXYZ", 5},
        {CHANGE, "abcd", 0, 'c', "X", -1, 2, "XXcd", 2},
        {CHANGE, "abcd", 1, 's', "X", 2, 0, "aXd", 2},
        {CHANGE, "abcd", 0, 's', "XYZ", 1, 0, "XYZbcd", 3},
        {CHANGE, "abcd", 1, 's', "X", 0, 0, "aXbcd", 2},
        {CHANGE, "abcd", 2, 's', "X", 9, 0, "abX", 3},
        {CHANGE, "abcd", 1, 's', "", 2, 0, "ad", 1},
        {CHANGE, "abcd", 1, 's', "XY", 1, 2, "aXYXYcd", 5},
    };
    for (const Case& c : cases) {
        Cell* s = text(c.series, c.head);
        Cell* v = value_of(c.kind, c.value);
        switch (c.op) {
            case APPEND: g_types.get<ACT_APPEND>(TYPE_STRING)(s, v, c.part, false, c.dup, true); break;
            case INSERT: g_types.get<ACT_INSERT>(TYPE_STRING)(s, v, c.part, false, c.dup, false); break;
            case CHANGE: g_types.get<ACT_CHANGE>(TYPE_STRING)(s, v, c.part, false, c.dup); break;
        }
        EXPECT_EQ(all_text(s), c.result) << c.op << " " << c.series << " " << c.value << " part " << c.part;
        EXPECT_EQ(series_index(s), c.head_after) << c.op << " " << c.series << " " << c.value << " part " << c.part;
    }
}

TEST_F(StringEditTest, AddedTextWidensTheTarget) {
    Cell* s = text("ab");
    string_append(s, value_of('c', "\\"), -1, false, 1, true);
    EXPECT_EQ(unit(s), 2u) << "append of 233 widens";
    EXPECT_EQ(string_to_utf8(s), "ab\xC3\xA9");
    Cell* t = text("ab");
    string_change(t, wide("\xF0\x9F\x98\x80", 4), -1, false, 1);
    EXPECT_EQ(unit(t), 4u);
    EXPECT_EQ(all_text(t), "\xF0\x9F\x98\x80" "b");
    Cell* w = wide("x\xE2\x82\xAC", 2);
    string_append(w, text("\xC3\xA9y"), -1, false, 1, false);  // a 1-byte source into a 2-byte target
    EXPECT_EQ(unit(w), 2u);
    EXPECT_EQ(all_text(w), "\xC3\xA9yx\xE2\x82\xAC");
}

TEST_F(StringEditTest, EditingAStringWithItself) {
    Cell* a = text("abc", 1);
    string_append(a, a, -1, false, 2, true);
    EXPECT_EQ(all_text(a), "abcbcbc");
    Cell* i = text("abc", 1);
    Cell whole = *i;
    whole.w1 = 0;
    string_append(i, &whole, -1, false, 1, false);
    EXPECT_EQ(all_text(i), "aabcbc");
    EXPECT_EQ(series_index(i), 4u);
    Cell* c = text("abcdef", 1);
    Cell tail = *c;
    tail.w1 = 3;  // "def", partly inside the replaced units
    string_change(c, &tail, 3, false, 1);
    EXPECT_EQ(all_text(c), "adefef");
    Cell* o = text("abcdef", 0);
    Cell later = *o;
    later.w1 = 2;
    string_change(o, &later, -1, false, 1);
    EXPECT_EQ(all_text(o), "cdefef");
}

TEST_F(StringEditTest, SizesBeyond32BitsRaiseNoMemory) {
    Cell* s = text("ab");
    EXPECT_EQ(error_of([&] { string_append(s, text("xy"), -1, false, INT_MAX, true); }), ERR_INTERNAL_NO_MEMORY);
    EXPECT_EQ(error_of([&] { string_append(s, wide("xy", 4), -1, false, 0x10000000, false); }), ERR_INTERNAL_NO_MEMORY);
    EXPECT_EQ(all_text(s), "ab") << "nothing was written";
}

TEST_F(StringEditTest, Swap) {
    Cell* a = text("abc");
    Cell* b = text("xyz", 1);
    g_types.get<ACT_SWAP>(TYPE_STRING)(a, b);
    EXPECT_EQ(all_text(a), "ybc");
    EXPECT_EQ(all_text(b), "xaz");
    Cell* narrow = text("abc");
    string_swap(narrow, wide("\xE2\x82\xAC", 2));
    EXPECT_EQ(string_to_utf8(narrow), "\xE2\x82\xAC" "bc") << "either side widens";
    Cell* e = text("");
    string_swap(a, e);
    EXPECT_EQ(all_text(a), "ybc") << "an empty side swaps nothing";
    Cell c = chr('q');
    Outcome o = attempt([&] { string_swap(a, &c); });
    EXPECT_EQ(o.error, ERR_SCRIPT_INVALID_ARG);
    EXPECT_EQ(cell_char(&o.arg1), uint32_t('q'));
    Cell* bin = bytes({1, 2});
    string_swap(bin, text("\xC3\xA9"));
    EXPECT_EQ(cell_series(bin)->head_ptr()[0], 0xE9) << "a code point below 256 is a byte";
    EXPECT_EQ(unit(bin), 1u);
    Cell* x = text("x");
    EXPECT_EQ(error_of([&] { string_swap(x, bin); }), ERR_COUNT);
    EXPECT_EQ(all_text(x), "\xC3\xA9") << "the byte comes back as its code point";
    EXPECT_EQ(cell_series(bin)->head_ptr()[0], 'x');
    EXPECT_EQ(error_of([&] { string_swap(bin, wide("\xE2\x82\xAC", 2)); }), ERR_SCRIPT_OUT_OF_RANGE)
        << "a binary! never takes a wider code point";
    EXPECT_EQ(unit(bin), 1u);
}

TEST_F(StringEditTest, Trim) {
    enum Mode { BOTH, HEAD, TAIL, HEAD_TAIL, LINES, ALL };
    struct Case {
        const char* before;
        uint32_t head;
        Mode mode;
        const char* with;  // null: none; "#x" a char, "=98" an integer
        const char* after;  // the whole buffer
    } cases[] = {
        {"  a  b  \n  c  \n\n", 0, BOTH, nullptr, "a  b\nc\n"},
        {"  ab  ", 0, BOTH, nullptr, "ab"},
        {"a \t\n  b", 0, BOTH, nullptr, "a\nb"},
        {"\n\n a\n", 0, BOTH, nullptr, "a\n"},
        {"   ", 0, BOTH, nullptr, ""},
        {"\xE3\x80\x80" "ab\xC2\xA0", 0, BOTH, nullptr, "ab"},  // ideographic and no-break spaces
        {"xx  a  ", 2, BOTH, nullptr, "xxa"},
        {"  ab  ", 0, HEAD, nullptr, "ab  "},
        {"  ab  ", 0, TAIL, nullptr, "  ab"},
        {" \n ab \n ", 0, HEAD_TAIL, nullptr, "ab"},
        {"  a \n b  ", 0, LINES, nullptr, "a b"},
        {"a\t\tb\r\nc", 0, LINES, nullptr, "a b c"},
        {" a\tb\nc\r ", 0, ALL, nullptr, "abc"},
        {"a-b-c", 0, ALL, "-", "abc"},
        {"a-b_c", 0, ALL, "_-", "abc"},
        {"banana", 0, ALL, "#a", "bnn"},
        {"banana", 0, ALL, "=98", "anana"},
        {"banana", 0, ALL, "", "banana"},
        {"a b", 0, ALL, nullptr, "ab"},
    };
    for (const Case& c : cases) {
        Cell* s = text(c.before, c.head);
        TrimArgs args;
        args.head = c.mode == HEAD || c.mode == HEAD_TAIL;
        args.tail = c.mode == TAIL || c.mode == HEAD_TAIL;
        args.lines = c.mode == LINES;
        args.all = c.mode == ALL && !c.with;
        Cell with;
        if (c.with) {
            if (c.with[0] == '#') {
                with = chr(uint8_t(c.with[1]));
            } else if (c.with[0] == '=') {
                with = integer(std::atoi(c.with + 1));
            } else {
                with = *text(c.with);
            }
            args.with = hold(with);
        }
        g_types.get<ACT_TRIM>(TYPE_STRING)(s, args);
        EXPECT_EQ(all_text(s), c.after) << "trim " << c.mode << " of [" << c.before << "]";
    }
    Cell* w = wide(" a\xE2\x80\x80", 2);  // U+2000, an en quad
    string_trim(w, TrimArgs{});
    EXPECT_EQ(string_to_utf8(w), "a");
    TrimArgs automatic;
    automatic.automatic = true;
    EXPECT_EQ(error_of([&] { string_trim(w, automatic); }), ERR_INTERNAL_NOT_DONE);
    TrimArgs bad;
    Cell* blk = block({});
    bad.with = blk;
    EXPECT_EQ(error_of([&] { string_trim(w, bad); }), ERR_SCRIPT_INVALID_ARG);
}

// --- sort

class StringSortTest : public StringEditTest {
protected:
    struct Options {
        int part = INT_MIN, skip = INT_MIN;
        Cell* compare = nullptr;
        bool case_sensitive = false, all = false, reverse = false, stable = false;
    };
    std::string sort(Cell* s, const Options& o) {
        SortArgs args;
        Cell part = integer(o.part), skip = integer(o.skip);
        if (o.part != INT_MIN) args.part = &part;
        if (o.skip != INT_MIN) args.skip = &skip;
        args.comparator = o.compare;
        args.case_sensitive = o.case_sensitive;
        args.all = o.all;
        args.reverse = o.reverse;
        args.stable = o.stable;
        EXPECT_EQ(g_types.get<ACT_SORT>(TYPE_STRING)(s, args), s);
        return all_text(s);
    }
};

TEST_F(StringSortTest, OrdersAndRecords) {
    Options plain, cs, rev, skip2, skip2_all, part2, back2, stable, offset2;
    cs.case_sensitive = true;
    rev.reverse = true;
    skip2.skip = 2;
    skip2_all.skip = 2;
    skip2_all.all = true;
    part2.part = 2;
    back2.part = -2;
    stable.stable = true;
    offset2.skip = 2;
    offset2.compare = hold(integer(2));
    struct Case {
        const char* before;
        uint32_t head;
        const Options* o;
        const char* after;
    } cases[] = {
        {"dcBa", 0, &plain, "aBcd"},
        {"dcBa", 0, &cs, "Bacd"},
        {"abc", 0, &rev, "cba"},
        {"dcba", 0, &skip2, "badc"},
        {"acab", 0, &skip2, "acab"},  // only the first unit of each record is compared
        {"acab", 0, &skip2_all, "abac"},
        {"a2b1", 0, &offset2, "b1a2"},
        {"dcba", 0, &part2, "cdba"},
        {"dcba", 4, &back2, "dcab"},
        {"dcba", 1, &back2, "dcba"},  // only one unit before the head
        {"bBaAb", 0, &stable, "aAbBb"},
        {"\xC3\xA9" "E\xC3\x89" "e", 0, &stable, "Ee\xC3\xA9\xC3\x89"},
        {"", 0, &plain, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(sort(text(c.before, c.head), *c.o), c.after) << c.before;
    Cell* s = text("dcba", 4);
    sort(s, back2);
    EXPECT_EQ(series_index(s), 2u) << "a negative part moves the head back to the sorted units";
    EXPECT_EQ(sort(wide("c\xF0\x9F\x98\x80" "aB", 4), plain), "aBc\xF0\x9F\x98\x80");
    Cell* bin = bytes({'b', 'B', 'a'});
    sort(bin, plain);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cell_series(bin)->head_ptr()), 3), "Bab") << "binary! never folds";
}

TEST_F(StringSortTest, RefinementErrors) {
    Cell* s = text("abcd");
    Options skip3, skip0, all, offset_no_skip, offset_all, offset3, word_compare, part_elsewhere;
    skip3.skip = 3;
    skip0.skip = 0;
    all.all = true;
    offset_no_skip.compare = hold(integer(1));
    offset_all.skip = 2;
    offset_all.all = true;
    offset_all.compare = offset_no_skip.compare;
    offset3.skip = 2;
    offset3.compare = hold(integer(3));
    word_compare.compare = hold(word("x"));
    struct Case {
        const Options* o;
        ErrorId error;
    } cases[] = {
        {&skip3, ERR_SCRIPT_INVALID_REFINE_ARG},  {&skip0, ERR_SCRIPT_INVALID_REFINE_ARG},
        {&all, ERR_SCRIPT_BAD_REFINES},           {&offset_no_skip, ERR_SCRIPT_BAD_REFINES},
        {&offset_all, ERR_SCRIPT_BAD_REFINES},    {&offset3, ERR_SCRIPT_OUT_OF_RANGE},
        {&word_compare, ERR_SCRIPT_INVALID_REFINE_ARG},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { sort(s, *c.o); }), c.error) << error_info(c.error).word;
    EXPECT_EQ(all_text(s), "abcd");
    SortArgs args;
    args.part = text("abcd");
    EXPECT_EQ(error_of([&] { string_sort(s, args); }), ERR_SCRIPT_INVALID_REFINE_ARG) << "a /part in another series";
}

TEST_F(StringSortTest, LargeInputsMatchAReferenceSort) {
    init_genrand(7);
    std::string letters;
    for (int i = 0; i < 20000; i++) {
        int r = random_range(false, 52) - 1;
        letters += char(r < 26 ? 'a' + r : 'A' + r - 26);
    }
    std::string by_code = letters;
    std::sort(by_code.begin(), by_code.end());
    Options cs;
    cs.case_sensitive = true;
    EXPECT_EQ(sort(text(letters), cs), by_code);
    std::string folded = letters;
    std::stable_sort(folded.begin(), folded.end(), [](char a, char b) { return std::toupper(a) < std::toupper(b); });
    Options stable;
    stable.stable = true;
    EXPECT_EQ(sort(text(letters), stable), folded) << "equal letters keep their order";
    Options reverse_records;
    reverse_records.skip = 4;
    reverse_records.all = true;
    reverse_records.reverse = true;
    reverse_records.case_sensitive = true;
    std::vector<std::string> records;
    for (size_t i = 0; i < letters.size(); i += 4) records.push_back(letters.substr(i, 4));
    std::sort(records.begin(), records.end(), std::greater<>());
    std::string joined;
    for (const std::string& r : records) joined += r;
    EXPECT_EQ(sort(text(letters), reverse_records), joined);
}

}  // namespace
}  // namespace zol::test
