// Syntax errors: the catalog id, its arguments (the datatype or the missing character, the near text and
// the line) for each kind of malformed source, and what an error leaves behind.
#include "tests/lexer/lexer_support.h"

namespace zol::test {
namespace {

class LexerErrors : public LexerTest {};

TEST_F(LexerErrors, MissingBrackets) {
    check({
        {"[a", "missing #\"]\" near \"[a\" \"(line 1)\""},
        {"a [b [c]", "missing #\"]\" near \"[b [c]\" \"(line 1)\""},
        {"a]", "missing #\"[\" near \"]\" \"(line 1)\""},
        {"(a", "missing #\")\" near \"(a\" \"(line 1)\""},
        {"a)", "missing #\"(\" near \")\" \"(line 1)\""},
        {"(a]", "missing #\")\" near \"]\" \"(line 1)\""},
        {"[a)", "missing #\"]\" near \")\" \"(line 1)\""},
        {"#[a 1", "missing #\"]\" near \"#[a 1\" \"(line 1)\""},
        {"#[a 1)", "missing #\"]\" near \")\" \"(line 1)\""},
        {"[\n\n(x", "missing #\")\" near \"(x\" \"(line 3)\""},
    });
}

TEST_F(LexerErrors, WordsAndPaths) {
    check({
        {"'a:", "invalid lit-word! near \"'a:\" \"(line 1)\""},
        {":a:", "invalid word! near \":a:\" \"(line 1)\""},
        {"a/b:/c", "invalid path! near \"a/b:/c\" \"(line 1)\""},
        {"a/b/", "invalid path! near \"a/b/\" \"(line 1)\""},
        {"a/", "invalid path! near \"a/\" \"(line 1)\""},
        {"a/:", "invalid path! near \"a/:\" \"(line 1)\""},
        {"a/b,", "invalid path! near \"a/b,\" \"(line 1)\""},
        {"a/b/#y/c", "invalid issue! near \"#y/c\" \"(line 1)\""},  // an issue ends a path
        {"a//b", "invalid path! near \"a//b\" \"(line 1)\""},
        // after an element that ends with its own closing character, only '/' or a delimiter may follow
        {"a/\"x\"1", "invalid path! near \"a/^\"x^\"1\" \"(line 1)\""},
        {"a/(b)#", "invalid path! near \"a/(b)#\" \"(line 1)\""},
        // a get-path or lit-path cannot also be a set-path
        {":a/b: 1", "bad-char near \":a/b: 1\" \"(line 1)\""},
        {"'a/b:", "bad-char near \"'a/b:\" \"(line 1)\""},
        {"a/b)", "missing #\"(\" near \")\" \"(line 1)\""},  // the path ends, the paren has no opening
        {"/a:", "invalid refinement! near \"/a:\" \"(line 1)\""},
        {"'", "invalid word! near \"'\" \"(line 1)\""},
        {":", "invalid word! near \":\" \"(line 1)\""},
        {"a, b", "invalid word! near \"a, b\" \"(line 1)\""},
    });
}

// Raw bytes that a string could not hold: lexed in place.
TEST_F(LexerErrors, BadBytes) {
    const std::pair<std::string, const char*> cases[] = {
        // a NUL byte outside a string is a bad character, not the end of the input
        {std::string("a\0b", 3), "bad-char near \"^(00)b\" \"(line 1)\""},
        {std::string("[1 2]\0", 6), "bad-char near \"^(00)\" \"(line 1)\""},
        {std::string("\"a\0b\"", 5), "invalid string! near \"^\"a^(00)b^\"\" \"(line 1)\""},
        {"}", "bad-char near \"}\" \"(line 1)\""},
        {"\\", "bad-char near \"\\\" \"(line 1)\""},
        {"\x80", "bad-char near \"\xEF\xBF\xBD\" \"(line 1)\""},
        {"a \xC0", "bad-char near \"\xEF\xBF\xBD\" \"(line 1)\""},
        {"\"a\xFF\"", "invalid string! near \"^\"a\xEF\xBF\xBD^\"\" \"(line 1)\""},
        {"; comment \xF8", "bad-char near \"; comment \xEF\xBF\xBD\" \"(line 1)\""},
        {"\"a\x80\"", "invalid string! near \"^\"a\xEF\xBF\xBD^\"\" \"(line 1)\""},  // a stray continuation byte
        {"\"a\xC3\"", "invalid string! near \"^\"a\xEF\xBF\xBD^\"\" \"(line 1)\""},  // a cut sequence
        {"{a\xE2\x82}", "invalid string! near \"{a\xEF\xBF\xBD}\" \"(line 1)\""},
        {"a\xC3", "invalid word! near \"a\xEF\xBF\xBD\" \"(line 1)\""},
        {"#\xC3", "invalid issue! near \"#\xEF\xBF\xBD\" \"(line 1)\""},
        {"%a\xC3", "invalid file! near \"%a\xEF\xBF\xBD\" \"(line 1)\""},
        {"a:\xC3", "invalid url! near \"a:\xEF\xBF\xBD\" \"(line 1)\""},
        {"<a\xC3>", "invalid tag! near \"<a\xEF\xBF\xBD>\" \"(line 1)\""},
        {"#\"\xC3\"", "invalid char! near \"#^\"\xEF\xBF\xBD^\"\" \"(line 1)\""},
        {"%{\xC3}%", "invalid string! near \"%{\xEF\xBF\xBD}%\" \"(line 1)\""},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(load_bytes(bytes), expected) << "bytes: " << bytes;
}

TEST_F(LexerErrors, Strings) {
    check({
        {"\"abc", "invalid string! near \"^\"abc\" \"(line 1)\""},
        {"\"a\nb\"", "invalid string! near \"^\"a\" \"(line 1)\""},
        {"{a", "invalid string! near \"{a\" \"(line 1)\""},
        {"{a{b}", "invalid string! near \"{a{b}\" \"(line 1)\""},
        {"x {", "invalid string! near \"{\" \"(line 1)\""},
        {"\"^(1234567)\"", "invalid string! near \"^\"^^(1234567)^\"\" \"(line 1)\""},
        {"\"^(110000)\"", "invalid string! near \"^\"^^(110000)^\"\" \"(line 1)\""},
        {"\"^(12\"", "invalid string! near \"^\"^^(12^\"\" \"(line 1)\""},
        {"\"^(xyz)\"", "invalid string! near \"^\"^^(xyz)^\"\" \"(line 1)\""},
        {"\"^()\"", "invalid string! near \"^\"^^()^\"\" \"(line 1)\""},
        {"%{x}%%", "invalid string! near \"%{x}%%\" \"(line 1)\""},
        {"%%{x}% y", "invalid string! near \"%%{x}% y\" \"(line 1)\""},
        {"%{x", "invalid string! near \"%{x\" \"(line 1)\""},
        {"%\"a b", "invalid file! near \"%^\"a b\" \"(line 1)\""},
        {"%a\"", "invalid file! near \"%a^\"\" \"(line 1)\""},
        {"<a", "invalid tag! near \"<a\" \"(line 1)\""},
        {":a:b", "invalid get-word! near \":a:b\" \"(line 1)\""},
        {"'a:b", "invalid lit-word! near \"'a:b\" \"(line 1)\""},
    });
}

TEST_F(LexerErrors, CharsIssuesBinariesConstructsMapsPoints) {
    check({
        {"#\"\"", "invalid char! near \"#^\"^\"\" \"(line 1)\""},
        {"#\"ab\"", "invalid char! near \"#^\"ab^\"\" \"(line 1)\""},
        {"#\"^\"", "invalid char! near \"#^\"^^^\"\" \"(line 1)\""},
        {"#\"^(110000)\"", "invalid char! near \"#^\"^^(110000)^\"\" \"(line 1)\""},
        {"#", "invalid issue! near \"#\" \"(line 1)\""},
        {"#a:", "invalid issue! near \"#a:\" \"(line 1)\""},
        {"3#{}", "invalid binary! near \"3#{}\" \"(line 1)\""},
        {"#{0}", "invalid binary! near \"#{0}\" \"(line 1)\""},
        {"#{0G}", "invalid binary! near \"#{0G}\" \"(line 1)\""},
        {"2#{0101}", "invalid binary! near \"2#{0101}\" \"(line 1)\""},
        {"2#{00000002}", "invalid binary! near \"2#{00000002}\" \"(line 1)\""},
        {"64#{A}", "invalid binary! near \"64#{A}\" \"(line 1)\""},
        {"64#{AQ=}", "invalid binary! near \"64#{AQ=}\" \"(line 1)\""},
        {"64#{AQ==AQ}", "invalid binary! near \"64#{AQ==AQ}\" \"(line 1)\""},
        {"64#{A!}", "invalid binary! near \"64#{A!}\" \"(line 1)\""},
        {"#{01 ; no end", "invalid binary! near \"#{01 ; no end\" \"(line 1)\""},
        {"#(foo)", "malconstruct near \"#(foo)\" \"(line 1)\""},
        {"#( none)", "malconstruct near \"#( none)\" \"(line 1)\""},
        {"#(none", "malconstruct near \"#(none\" \"(line 1)\""},
        {"#[a 1 b]", "invalid map! near \"#[a 1 b]\" \"(line 1)\""},
        {"#[[k] 1]", "invalid map! near \"#[[k] 1]\" \"(line 1)\""},
        {"a, b", "invalid word! near \"a, b\" \"(line 1)\""},
        {"1 , 2", "invalid point2D! near \", 2\" \"(line 1)\""},
        {"[1 , 2]", "invalid point2D! near \", 2]\" \"(line 1)\""},
        {"(a, b)", "invalid point2D! near \"(a, b)\" \"(line 1)\""},
        {"(1, a)", "invalid point2D! near \"(1, a)\" \"(line 1)\""},
        {"(1 2, 3)", "invalid point2D! near \"(1 2, 3)\" \"(line 1)\""},
        {"(1'0 2, 3)", "invalid point2D! near \", 3)\" \"(line 1)\""},
        {"(1x2 , 3)", "invalid point2D! near \", 3)\" \"(line 1)\""},
        {"(1, 2, 3, 4)", "invalid point3D! near \"(1, 2, 3, 4)\" \"(line 1)\""},
        {"(1'0, 2'0, [3])", "invalid point2D! near \"[3])\" \"(line 1)\""},
        {"(1,2 3)", "invalid point2D! near \"(1,2 3)\" \"(line 1)\""},
    });
}

TEST_F(LexerErrors, NearTextAndLine) {
    // The near text stops at a line break or after 30 bytes; the line counts every line break before.
    EXPECT_EQ(load("a\nb\n  1.2.3.4.5.6.7.8.9.10.11.12.13.14.15"),
              "invalid tuple! near \"1.2.3.4.5.6.7.8.9.10.11.12.13.\" \"(line 3)\"");
    EXPECT_EQ(load("\"x\"\n\n#\"ab\" next\nline"), "invalid char! near \"#^\"ab^\" next\" \"(line 3)\"");
    EXPECT_EQ(load("{one\ntwo\n"), "invalid string! near \"{one\" \"(line 3)\"");
    EXPECT_EQ(load("%{a\nb\nc"), "invalid string! near \"%{a\" \"(line 3)\"") << "the line where the lexer found the error";
}

// Errors raise catchable errors whose class is syntax.
TEST_F(LexerErrors, ErrorsAreSyntaxErrors) {
    for (const char* t : {"[", "#(x)", "a\x01}", "1.2.300"}) {
        Cell error;
        GcRoot source, dst;
        make_source(source, t);
        ErrorId id = catch_error([&] { load_source(dst.get(), source.get(), -1, LexOptions{}); }, &error);
        ASSERT_NE(id, ERR_COUNT) << t;
        EXPECT_EQ(error_info(id).cls, ERRC_SYNTAX) << t;
        stack_reset();
    }
}

}  // namespace
}  // namespace zol::test
