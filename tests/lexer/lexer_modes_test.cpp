// The lexer's modes (one, scan, prescan, wrap, a length, an output block), the consumed count, new-line
// markers, and what the lexer keeps safe: its values across collections, its cell stack and scratch buffer
// across nested lexers and growth.
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "tests/lexer/lexer_support.h"

namespace zol::test {
namespace {

class LexerModes : public RuntimeTest {
protected:
    // A text, the type a scan or pre-scan gives for it and how much it consumes.
    struct FirstValue {
        const char* text;
        int32_t type;
        uint32_t consumed;
    };
    void check_first_values(std::initializer_list<FirstValue> cases, const LexRequest& options) {
        for (const FirstValue& c : cases) {
            Lexed r = lex(c.text, options);
            EXPECT_EQ(r.error, ERR_COUNT) << c.text;
            EXPECT_EQ(r.type, c.type) << c.text;
            EXPECT_EQ(r.consumed, c.consumed) << c.text;
        }
    }
};

TEST_F(LexerModes, OneValue) {
    Lexed r = lex("1 2", {.one = true});
    EXPECT_EQ(r.text, "1");
    EXPECT_EQ(r.consumed, 1u) << "the blank after the value is not consumed";
    EXPECT_EQ(r.type, TYPE_INTEGER);
    r = lex("  ; note\n [a b] c", {.one = true});
    EXPECT_EQ(r.text, "[a b]");
    EXPECT_EQ(r.consumed, 15u);
    r = lex("a/b/c d", {.one = true});
    EXPECT_EQ(r.text, "a/b/c");
    EXPECT_EQ(r.consumed, 5u);
    r = lex("#(true) 2", {.one = true});
    EXPECT_EQ(r.text, "true");
    EXPECT_EQ(r.consumed, 7u);
    r = lex("{a\nb} c", {.one = true});
    EXPECT_EQ(r.text, "\"a^(0A)b\"");
    EXPECT_EQ(r.consumed, 5u);
    // An empty input, or one of only blanks and comments, gives an empty block, also with one.
    for (const char* t : {"", "   ", "; only\n;comments"}) {
        EXPECT_EQ(lex(t, {.one = true}).text, "[]") << t;
        EXPECT_EQ(lex(t).text, "[]") << t;
    }
    EXPECT_EQ(lex("1 2", {.one = true, .wrap = true}).text, "[1]");
    EXPECT_EQ(lex("1 2", {.wrap = true}).text, "[1 2]");
}

TEST_F(LexerModes, ScanGivesTheTypeOfTheFirstValue) {
    check_first_values({
        {"12 ab", TYPE_INTEGER, 2},
        {"  ab", TYPE_WORD, 4},
        {"a: 1", TYPE_SET_WORD, 2},
        {"\"s\" x", TYPE_STRING, 3},
        {"[a b] c", TYPE_BLOCK, 5},
        {"a/b c", TYPE_PATH, 3},
        {"12% x", TYPE_PERCENT, 3},
        {"2147483648", TYPE_FLOAT, 10},
        {"(1, 2, 3)", TYPE_POINT3D, 9},
        {"#(none)", TYPE_NONE, 7},
        {"1-Jan-2000 x", TYPE_DATE, 10},
        // malformed tokens and open series are reported as error! without raising
        {"[a", TYPE_ERROR, 2},
        {"1.2.300", TYPE_ERROR, 7},
        {"29-Feb-2001", TYPE_ERROR, 11},
        {"'a:", TYPE_ERROR, 3},
        {"}", TYPE_ERROR, 0},
        {"", 0, 0},
        {" ; comment", 0, 10},
    }, {.one = true, .scan = true});
    // Without one, a scan runs through every token and gives the type of the last one.
    EXPECT_EQ(lex("1 a \"s\"", {.scan = true}).type, TYPE_STRING);
}

TEST_F(LexerModes, PrescanClassifiesWithoutLoading) {
    check_first_values({
        {"[1 2] 3", TYPE_BLOCK, 5},
        {"12 ab", TYPE_INTEGER, 2},
        {"12% x", TYPE_PERCENT, 3},
        {"#\"a\" x", TYPE_CHAR, 4},
        {"<t> x", TYPE_TAG, 3},
        {"#{01} x", TYPE_BINARY, 5},
        {"(1, 2) x", TYPE_POINT2D, 6},
        {"%%{a}% b}%% x", TYPE_STRING, 11},
        {"{a{b}c} x", TYPE_STRING, 7},
        {"a/b c", TYPE_PATH, 3},
        {"1.2.300", TYPE_TUPLE, 7},  // loaders do not run: the machine's classification stands
        {"\"a", TYPE_ERROR, 2},
        {"[a", TYPE_ERROR, 2},
        {"", 0, 0},
        {" ;c", 0, 3},
    }, {.one = true, .prescan = true});
}

TEST_F(LexerModes, LengthAndIndexCountCharacters) {
    EXPECT_EQ(lex("1 2 3", {.length = 3}).text, "[1 2]");
    EXPECT_EQ(lex("1 2 3", {.length = 99}).text, "[1 2 3]");
    EXPECT_EQ(lex("é 2 3", {.length = 3}).text, "[é 2]") << "characters, not bytes";
    Lexed r = lex("éé 2", {.one = true});
    EXPECT_EQ(r.consumed, 2u);
    // A string read from an index: only the text from there, and the consumed count from there.
    GcRoot source, dst;
    make_source(source, "skip 42 7");
    source->w1 = 5;
    uint32_t consumed = 0;
    load_source(dst.get(), source.get(), -1, LexOptions{.one = true, .consumed = &consumed});
    EXPECT_EQ(show(dst.get()), "42");
    EXPECT_EQ(consumed, 2u);
    // Binary input is copied and counted in bytes.
    GcRoot bin;
    uint8_t* bytes = binary_make_at(bin.get(), 8);
    std::memcpy(bytes, "\xC3\xA9 1", 4);
    binary_set_length(bin.get(), 4);
    load_source(dst.get(), bin.get(), -1, LexOptions{.one = true, .consumed = &consumed});
    EXPECT_EQ(show(dst.get()), "é");
    EXPECT_EQ(consumed, 2u);
}

TEST_F(LexerModes, OutputBlock) {
    GcRoot out;
    set_series(out.get(), TYPE_BLOCK, series_alloc_cells(4));
    *block_alloc_tail(out.get()) = word_load("kept");
    Lexed r = lex("1 [2]", {.output = out.get()});
    EXPECT_EQ(r.text, "none") << "the destination is left as it was";
    EXPECT_EQ(show(out.get()), "[kept 1 [2]]");
    lex("3 4", {.one = true, .output = out.get()});
    EXPECT_EQ(show(out.get()), "[kept 1 [2] 3]");
    // After an error the values loaded before it are there, with the blocks the error closed.
    GcRoot partial;
    set_series(partial.get(), TYPE_BLOCK, series_alloc_cells(4));
    r = lex("a [b (c 1.2.300", {.output = partial.get()});
    EXPECT_EQ(r.error, ERR_SYNTAX_INVALID);
    EXPECT_EQ(show(partial.get()), "[a [b (c)]]");
    GcRoot in_map;
    set_series(in_map.get(), TYPE_BLOCK, series_alloc_cells(4));
    lex("x #[k a/b 1.2.300", {.output = in_map.get()});
    EXPECT_EQ(show(in_map.get()), "[x k a/b]") << "a map left open gives its values to the level around it";
}

// The new-line marker: set on a value that follows a line break, on nothing else.
TEST_F(LexerModes, NewLineMarkers) {
    struct Case {
        const char* text;
        const char* marks;  // one character per value of the block: 'n' marked, '-' not
    };
    const Case cases[] = {
        {"a b\nc", "--n"},
        {"\n a", "n"},
        {"a ; comment\n b", "-n"},
        {"[\n x] y", "--"},
        {"a\n[x]\n(y)", "-nn"},
        {"a\n{x}", "-n"},
        {"a {x\ny}", "--"},           // a line break inside a value does not mark it
        {"a #{01\n02} %{x\ny}%", "---"},
        {"a\na/b", "-n"},
        {"a\u00A0\nb", "-n"},          // the line break before a Unicode blank still counts
        {"a\n\n\nb", "-n"},
    };
    for (const Case& c : cases) {
        GcRoot source, dst;
        make_source(source, c.text);
        load_source(dst.get(), source.get(), -1, LexOptions{});
        std::string marks;
        Series* s = cell_series(dst.get());
        for (uint32_t i = 0; i < s->used(); i++) marks += cell_new_line(s->cells() + i) ? 'n' : '-';
        EXPECT_EQ(marks, c.marks) << c.text;
    }
    // Inside a block or path: the first value after the line break.
    GcRoot source, dst;
    make_source(source, "[a\n b]");
    load_source(dst.get(), source.get(), -1, LexOptions{.one = true});
    Series* inner = cell_series(dst.get());
    EXPECT_FALSE(cell_new_line(inner->cells()));
    EXPECT_TRUE(cell_new_line(inner->cells() + 1));
    EXPECT_FALSE(cell_new_line(dst.get())) << "a value handed over on its own carries no marker";
}

TEST_F(LexerModes, LargeAndDeepInputs) {
    // Deep nesting grows the cell stack and never the machine stack.
    std::string deep = std::string(20000, '[') + "x" + std::string(20000, ']');
    Lexed r = lex(deep, {.one = true});
    ASSERT_EQ(r.error, ERR_COUNT);
    EXPECT_EQ(r.consumed, deep.size());
    // Many values, and a text larger than the scratch buffer.
    std::string many;
    for (int i = 0; i < 30000; i++) many += std::to_string(i) + " w" + std::to_string(i % 97) + " \"s\"\n";
    GcRoot source, dst;
    make_source(source, many);
    load_source(dst.get(), source.get(), -1, LexOptions{});
    Series* s = cell_series(dst.get());
    ASSERT_EQ(s->used(), 90000u);
    EXPECT_EQ(cell_int(s->cells() + 3 * 29999), 29999);
    EXPECT_EQ(show(s->cells() + 3 * 29999 + 1), "w26");
    EXPECT_TRUE(cell_new_line(s->cells() + 3));
}

TEST_F(LexerModes, ValuesSurviveCollections) {
    // Every allocation collects: values waiting on the cell stack and the series being closed must be marked.
    bool stress = gc_stress();
    bool enabled = g_gc_enabled;
    gc_set_stress(true);
    g_gc_enabled = true;
    Lexed r = lex("[\"a\" {b} %c url:x #{01} #[k \"v\"] (a/b \"s\") [[\"deep\"]]] \"tail\" 1.2.3 $1");
    gc_set_stress(stress);
    g_gc_enabled = enabled;
    EXPECT_EQ(r.text, "[[\"a\" \"b\" %\"c\" url url:x #{01} #[k: \"v\"] count 1 (a/b \"s\") [[\"deep\"]]] \"tail\" 1.2.3 $1.00000]");
}

}  // namespace
}  // namespace zol::test
