// The lexer's text tokens, series and paths: source text and what it loads as (in the tests' notation of
// lexer_support.h: strings show their unit when wider than 1, words and numbers mold).
#include "runtime/datatypes/context.h"
#include "tests/lexer/lexer_support.h"

namespace zol::test {
namespace {

class LexerTokens : public LexerTest {
protected:
};

TEST_F(LexerTokens, WordKinds) {
    check({
        {"a b-c d? e! f*", "[a b-c d? e! f*]"},
        {"a: :b 'c", "[a: :b 'c]"},
        {"/ // /: '/ :/", "[/ // /: '/ :/]"},
        {"+ - ++ . .. = == => < << <= <> <- > >=", "[+ - ++ . .. = == => < << <= <> <- > >=]"},
        {"% %% %: '%", "[% %% %: '%]"},
        {"E ABC Fa T x", "[E ABC Fa T x]"},
        {"'+ :- '= :<", "['+ :- '= :<]"},
        {"é ∑x 😀", "[é ∑x 😀]"},
        {"a^b a&b a|b", "[a^b a&b a|b]"},
        // refinements
        {"/a /1 /a/b", "[/a /1 /a /b]"},
    });
}

TEST_F(LexerTokens, WordsKeepTheirSpellingAndAreBoundGlobally) {
    GcRoot block;
    std::string text = "Alpha alpha ALPHA";
    GcRoot source;
    make_source(source, text);
    load_source(block.get(), source.get(), -1, LexOptions{});
    Cell* w = cell_series(block.get())->cells();
    EXPECT_EQ(std::string(symbol_c_string(word_symbol(&w[0]))), "Alpha");
    EXPECT_EQ(std::string(symbol_c_string(word_symbol(&w[2]))), "ALPHA");
    EXPECT_NE(word_symbol(&w[0]), word_symbol(&w[1])) << "each spelling is its own symbol";
    EXPECT_EQ(symbol_resolve(word_symbol(&w[0])), symbol_resolve(word_symbol(&w[2])));
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(word_context(&w[i]), g_global_context);
        EXPECT_EQ(word_index(&w[i]), word_index(&w[0])) << "the spellings share one global slot";
    }
    // Every word kind is bound, so a loaded block can be evaluated; an issue never is.
    GcRoot kinds;
    make_source(source, "w: :w 'w /w #only-an-issue");
    load_source(kinds.get(), source.get(), -1, LexOptions{});
    Cell* k = cell_series(kinds.get())->cells();
    for (int i = 0; i < 4; i++) EXPECT_NE(word_index(&k[i]), WORD_UNRESOLVED) << i;
    EXPECT_EQ(word_index(&k[4]), WORD_UNRESOLVED);
    EXPECT_EQ(word_context(&k[4]), g_global_context);
    EXPECT_EQ(context_find_word(g_global_context, word_symbol(&k[4]), true), -1) << "an issue takes no global slot";
    // Many spellings, read twice (the second time from the lexer's memory of them), each its own word.
    std::string spellings;
    for (int i = 0; i < 6000; i++) spellings += "spelling-" + std::to_string(i) + " Spelling-" + std::to_string(i) + " ";
    for (int round = 0; round < 2; round++) {
        GcRoot many;
        make_source(source, spellings);
        load_source(many.get(), source.get(), -1, LexOptions{});
        Series* m = cell_series(many.get());
        ASSERT_EQ(m->used(), 12000u);
        for (uint32_t i = 0; i < m->used(); i++) {
            const Cell* c = m->cells() + i;
            std::string expected = std::string(i % 2 ? "Spelling-" : "spelling-") + std::to_string(i / 2);
            ASSERT_EQ(symbol_c_string(word_symbol(c)), expected);
            ASSERT_EQ(int32_t(word_index(c)), context_find_word(g_global_context, word_symbol(c), true)) << expected;
        }
    }
}

TEST_F(LexerTokens, UnicodeBlanksSeparateWords) {
    check({
        {"a\u00A0b", "[a b]"},
        {"\u3000x\u2003", "[x]"},
        {"\u00A0\u00A0", "[]"},
        {"\u00A012", "[12]"},  // a blank before a number does not make it a word
        {"a\u00A0b/c", "[a b/c]"},
        {"k:\u00A0v", "[url k:\u00A0v]"},  // only words are cut: the rest is the url's
    });
}

TEST_F(LexerTokens, QuotedStrings) {
    check({
        {"\"\" \"abc\"", "[\"\" \"abc\"]"},
        {"\"a^/b\"", "[\"a^(0A)b\"]"},
        {"\"^\"^-^@^^^{^}^~\"", "[\"^\"^(09)^(00)^^{}^(7F)\"]"},
        {"\"^a^Z^[^_^1^é\"", "[\"^(01)^(1A)^(1B)^(1F)1é\"/u2]"},
        {"\"^(tab)^(LINE)^(Null)^(back)^(page)^(esc)^(del)\"", "[\"^(09)^(0A)^(00)^(08)^(0C)^(1B)^(7F)\"]"},
        {"\"^(A)^(41)^(0041)\"", "[\"^(0A)AA\"]"},
        {"\"^(E9)\"", "[\"é\"]"},                   // a Latin-1 code point keeps 1-byte units
        {"\"^(0100)\"", "[\"Ā\"/u2]"},
        {"\"^(1F600)\"", "[\"😀\"/u4]"},
        {"\"é\" \"€\" \"😀\"", "[\"é\"/u2 \"€\"/u2 \"😀\"/u4]"},
        {"\"a'b;c[d]\"", "[\"a'b;c[d]\"]"},
    });
}

TEST_F(LexerTokens, BracedAndRawStrings) {
    check({
        {"{a{b}c}", "[\"a{b}c\"]"},
        {"{}", "[\"\"]"},
        {"{a\nb}", "[\"a^(0A)b\"]"},
        {"{^{^}} {a^/b}", "[\"{}\" \"a^(0A)b\"]"},
        {"{\"quoted\"}", "[\"^\"quoted^\"\"]"},
        {"{é}", "[\"é\"/u2]"},
        {"%{a}b}%", "[\"a}b\"]"},
        {"%%{x}%%", "[\"x\"]"},
        {"%{a^/b}%", "[\"a^^/b\"]"},          // no escapes in a raw string
        {"%%{a}% b}%%", "[\"a}% b\"]"},         // a shorter run of % does not close it
        {"%{\n}%", "[\"^(0A)\"]"},
        {"%{é}%", "[\"é\"/u2]"},
        {"%%{a}% é}%% z", "[\"a}% é\"/u2 z]"},
    });
}

TEST_F(LexerTokens, FilesUrlsEmailsTagsRefs) {
    check({
        {"%a/b.txt %/c/dir/", "[%\"a/b.txt\" %\"/c/dir/\"]"},
        {"%\"a b\" %\"x^/y\"", "[%\"a b\" %\"x^(0A)y\"]"},
        {"%a%20b %a%C3%A9 %a%C3 %100%", "[%\"a b\" %\"aé\" %\"a%C3\" %\"100%\"]"},
        {"http://a.b/c?d=1 ftp:x mailto:a@b", "[url http://a.b/c?d=1 url ftp:x url mailto:a@b]"},
        {"http://a%20b", "[url http://a b]"},
        {"a@b.c user.name@host x@1", "[email a@b.c email user.name@host email x@1]"},
        {"<a> <a href=\"x>\"> <a b='c>'> <>", "[<a> <a href=^\"x>^\"> <a b='c>'> <>]"},
        {"@ref @a.b", "[@ref @a.b]"},
    });
}

TEST_F(LexerTokens, CharsIssuesBinariesConstructs) {
    check({
        {"#\"a\" #\" \" #\"é\" #\"😀\"", "[#\"a\" #\" \" #\"é\" #\"😀\"]"},
        {"#\"^/\" #\"^\"\" #\"^(41)\" #\"^(tab)\" #\"^^\"", "[#\"^/\" #\"^\"\" #\"A\" #\"^-\" #\"^^\"]"},
        {"#a #abc-1 #1 #é", "[#a #abc-1 #1 #é]"},
        {"#{} #{0102} #{ab cd} #{01 02 ; comment\n 03}", "[#{} #{0102} #{ABCD} #{010203}]"},
        {"16#{FF} 2#{00000001 11111111} 2#{}", "[#{FF} #{01FF} #{}]"},
        {"64#{AQID} 64#{AQ==} 64#{AQI=} 64#{AQ} 64#{AQI} 64#{ AQ ID ; x\n}", "[#{010203} #{01} #{0102} #{01} #{0102} #{010203}]"},
        {"#(none) #(true) #(FALSE) #(unset)", "[none true false unset]"},
        {"#(integer!) #(Block!) #(date!)", "[integer! block! date!]"},
    });
}

TEST_F(LexerTokens, BlocksParensAndMaps) {
    check({
        {"", "[]"},
        {"  \t\n ; only a comment", "[]"},
        {"[] () [[]] [()]", "[[] () [[]] [()]]"},
        {"[a [b (c d) e] f]", "[[a [b (c d) e] f]]"},
        {"a;comment\nb", "[a b]"},
        {"#[a 1 \"k\" 2]", "[#[a: 1 \"k\" 2] count 2]"},
        {"#[]", "[#[] count 0]"},
        {"#[a 1 a 2]", "[#[a: 2] count 1]"},  // a later key replaces the earlier value
        {"#[a 1] [#[x [y]]]", "[#[a: 1] count 1 [#[x: [y]] count 1]]"},
        {"#[a 1]]", "missing #\"[\" near \"]\" \"(line 1)\""},
    });
}

TEST_F(LexerTokens, Paths) {
    check({
        {"a/b a/b/c", "[a/b a/b/c]"},
        {"a/b: :a/b 'a/b", "[a/b: :a/b 'a/b]"},
        {"a/b/c: 1", "[a/b/c: 1]"},
        {"a/1 a/1.5 a/-1 a/+x", "[a/1 a/float 1.5 a/-1 a/+x]"},
        {"a/:b a/'c", "[a/:b a/'c]"},
        {"a/\"s\" a/#i a/#\"c\" a/$1 a/<t> a/@r", "[a/\"s\" a/#i a/#\"c\" a/$1.00000 a/<t> a/@r]"},
        {"a/(b c)/d a/(1, 2)", "[a/(b c)/d a/(1, 2)]"},
        {"[a/b] (a/b)", "[[a/b] (a/b)]"},
        {"a/b[c] a/b(c) a/b\"c\"", "[a/b [c] a/b (c) a/b \"c\"]"},
        {"a/b:c", "[a/b: c]"},
        {"a/(b/c)/d", "[a/(b/c)/d]"},
        {"+/a ./b =/c E/d", "[+/a ./b =/c E/d]"},
        {"x: a/b y", "[x: a/b y]"},
    });
}

TEST_F(LexerTokens, Points) {
    check({
        {"(1, 2) (1.5, -2) ( 1 , 2 )", "[(1, 2) (1.5, -2) (1, 2)]"},
        {"(1, 2, 3) (1e3, .5, -0)", "[(1, 2, 3) (1000, 0.5, -0)]"},
        {"(1.#INF, 1.#NaN)", "[(inf, nan)]"},
        {"(1 2) (a) ()", "[(1 2) (a) ()]"},
        // commas in a paren that did not look like a point at its start
        {"(1'000, 2) (1'0, 2'0, 3)", "[(1000, 2) (10, 20, 3)]"},
        {"(1,", "missing #\")\" near \"(1,\" \"(line 1)\""},
    });
}

// What the loaded values of the datatypes that mold themselves mold back to: the text read, up to the
// molded spelling of each value, and the line breaks kept by the new-line markers.
TEST_F(LexerTokens, LoadedValuesMold) {
    const LoadCase cases[] = {
        {"a b: 'c :d /e 1 -2.5 #\"x\"", "[a b: 'c :d /e 1 -2.5 #\"x\"]"},
        {"[nested [block]] (paren) a/b/c a/b: :a/b 'a/b", "[[nested [block]] (paren) a/b/c a/b: :a/b 'a/b]"},
        {"\"a^/b\" \"tab^-x\" {quote\"x} {brace{x}} \"^(1F)\" \"é€😀\"", "[\"a^/b\" \"tab^-x\" {quote\"x} \"brace{x}\" \"^_\" \"é€😀\"]"},
        {"{multi\nline}", "[\"multi^/line\"]"},
        {"#(true) #(none) #(integer!)", "[true none integer!]"},
        {"a\nb [\nc\n]", "[a\nb [\n    c\n]]"},
    };
    for (const LoadCase& c : cases) {
        GcRoot source, dst;
        make_source(source, c.text);
        load_source(dst.get(), source.get(), -1, LexOptions{});
        EXPECT_EQ(mold_text(dst.get()), c.expected) << "source: " << c.text;
    }
}

}  // namespace
}  // namespace zol::test
