// The lexer's tables: the committed tables match the grammar file, and the byte classes, the machine and its
// side tables classify the examples the grammar is written for (a slip in a table would otherwise go
// unnoticed: the lexer would silently read another token).
#include <gtest/gtest.h>

#include <string>

#include "interpreter/lexer/lexer_tables.h"
#include "runtime/types.h"
#include "tests/generated.h"

namespace zol::test {
namespace {

using namespace zol::lex;

TEST(LexerTables, CommittedTablesMatchAFreshGeneration) {
    expect_fresh_generation("gen_lexer_tables.py", "interpreter/lexer/lexer_tables.inc");
}

TEST(LexerTables, ByteClassesAndFlags) {
    struct Case {
        const char* bytes;
        ByteClass cls;
        uint32_t flags;
    };
    const Case cases[] = {
        {" \t\r", C_BLANK, 0},     {"\n", C_LINE, 0},          {"123456789", C_DIGIT, 0}, {"0", C_ZERO, 0},
        {"xX", C_X, 0},            {"T", C_T, 0},              {"h", C_H, 0},             {"e", C_E_LOW, F_EXPONENT},
        {"E", C_E_UP, F_EXPONENT}, {"abcdf", C_HEX_LOW, 0},    {"ABCDF", C_HEX_UP, 0},    {"%", C_PERCENT, F_PERCENT},
        {">", C_GREATER, F_GREATER}, {"<", C_LESS, F_LESS},    {"+", C_PLUS, F_SIGN},     {"-", C_MINUS, F_SIGN},
        {"#", C_HASH, F_HASH},     {"'", C_APOSTROPHE, F_APOSTROPHE}, {":", C_COLON, F_COLON},
        {",", C_COMMA, F_COMMA},   {".", C_DOT, F_DOT},        {"^", C_CARET, F_CARET},
        {"!&*?_`|~GSUWYZgijwyz", C_WORDCH, 0},
        {"\x01\x08\x0B\x0C\x0E\x1F", C_CONTROL, 0},
        {"\x7F\x80\xBF", C_CONT, 0},
        {"\xC2\xDF\xE0\xEF", C_WORDCH, F_UTF8_LEAD},
        {"\xF0\xF7", C_WORDCH, F_UTF8_LEAD4},
        {"\xC0\xC1\xF8\xFF", C_BAD, 0},
    };
    for (const Case& c : cases) {
        for (const char* p = c.bytes; *p; p++) {
            uint32_t e = kCharClass[uint8_t(*p)];
            EXPECT_EQ(uint8_t(e), c.cls) << "byte " << int(uint8_t(*p));
            EXPECT_EQ(e & ~0xFFu, c.flags) << "byte " << int(uint8_t(*p));
        }
    }
    EXPECT_EQ(kCharClass[0], uint32_t(C_EOF) | F_NUL);
}

// Runs the machine from state 0 over the text as the engine does; returns the final state and how many
// bytes it consumed (leading blanks included).
std::pair<uint32_t, size_t> classify(const std::string& text, uint32_t state = S_BETWEEN) {
    size_t i = 0;
    for (;; i++) {
        uint32_t next = i < text.size() ? kTransitions[state][byte_class(uint8_t(text[i]))] : kTransitions[state][C_EOF];
        if (next >= FIRST_FINAL) return {next, i};
        state = next;
    }
}

TEST(LexerTables, TheMachineReadsEachTokenKind) {
    struct Case {
        const char* text;
        Token token;
        size_t length;  // bytes before the final state (the byte that ended the token is not consumed)
    };
    const Case cases[] = {
        {"", T_EOF, 0},
        {"  \t", T_EOF, 3},
        {"[", T_BLOCK_OPEN, 0},
        {"]", T_BLOCK_CLOSE, 0},
        {"(", T_PAREN_OPEN, 0},
        {")", T_PAREN_CLOSE, 0},
        {"{", T_BRACE_OPEN, 0},
        {"#[", T_MAP_OPEN, 1},
        {"a/b", T_PATH_HEAD, 1},
        {"#(none)", T_CONSTRUCT, 6},
        {"; note\nx", T_COMMENT, 6},
        {",", T_COMMA, 0},
        {"\"a^\"b\"", T_STRING, 5},
        {"word", T_WORD, 4},
        {"set:", T_WORD, 4},
        {"#iss", T_ISSUE, 4},
        {"12", T_INTEGER, 2},
        {"/ref", T_REFINEMENT, 4},
        {"#\"c\"", T_CHAR, 3},
        {"%a/b.txt", T_FILE, 8},
        {"#{0A}", T_BINARY, 4},
        {"12%", T_PERCENT, 2},
        {"1.2", T_FLOAT, 3},
        {"1.#INF", T_SPECIAL_FLOAT, 6},
        {"1.2.3", T_TUPLE, 5},
        {"2020-01-02", T_DATE, 10},
        {"1x2", T_PAIR, 3},
        {"12:30", T_TIME, 5},
        {"$1.50", T_MONEY, 5},
        {"<tag>", T_TAG, 4},
        {"http://a", T_URL, 8},
        {"a@b", T_EMAIL, 3},
        {"FFh", T_HEX, 3},
        {"%{raw}%", T_RAW_STRING, 7},
        {"@ref", T_REF, 4},
        // the words the grammar makes from signs and brackets
        {"<", T_WORD, 1},
        {"<=", T_WORD, 2},
        {"<>", T_WORD, 2},
        {"%", T_WORD, 1},
        {"/", T_WORD, 1},
        {"//", T_WORD, 2},
        {"+", T_WORD, 1},
        {".", T_WORD, 1},
        {"E", T_WORD, 1},
    };
    for (const Case& c : cases) {
        auto [state, length] = classify(c.text);
        EXPECT_EQ(state - 65, c.token) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
    }
}

TEST(LexerTables, EveryStateRefusesBadBytesAndLeadsSomewhere) {
    for (uint32_t s = 0; s < WORKING_STATES; s++) {
        EXPECT_EQ(kTransitions[s][C_BAD], 67u) << "state " << s;
        for (uint32_t c = 0; c < CLASS_COUNT; c++) {
            uint32_t next = kTransitions[s][c];
            EXPECT_TRUE(next < STATE_COUNT && next != 65) << "state " << s << " class " << c;
        }
    }
    EXPECT_EQ(kTransitions[S_BETWEEN][C_EOF], 66u) << "NUL reads as the end-of-input column";
}

TEST(LexerTables, StateTypes) {
    struct Case {
        uint32_t state;
        uint32_t type;
    };
    const Case cases[] = {{67, TYPE_ERROR}, {73, TYPE_STRING}, {79, TYPE_STRING},   {80, TYPE_WORD},     {81, TYPE_ISSUE},
                          {82, TYPE_INTEGER}, {83, TYPE_REFINEMENT}, {84, TYPE_CHAR}, {85, TYPE_FILE},   {86, TYPE_BINARY},
                          {87, TYPE_PERCENT}, {88, TYPE_FLOAT}, {89, TYPE_FLOAT},   {90, TYPE_TUPLE},    {91, TYPE_DATE},
                          {92, TYPE_PAIR},  {93, TYPE_POINT2D}, {94, TYPE_TIME},    {95, TYPE_MONEY},    {96, TYPE_TAG},
                          {97, TYPE_URL},   {98, TYPE_EMAIL},   {99, TYPE_INTEGER}, {100, TYPE_STRING},  {101, TYPE_REF},
                          {66, 0},          {68, 0},            {75, 0},            {78, 0},
                          // working states name what fails in them
                          {0, 0},           {2, TYPE_STRING},   {17, TYPE_BINARY},  {30, TYPE_DATE},     {59, TYPE_PATH}};
    for (const Case& c : cases) EXPECT_EQ(kStateType[c.state], c.type) << "state " << c.state;
}

TEST(LexerTables, SideTables) {
    const ByteClass ending[] = {C_BLANK, C_LINE,  C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN,
                                C_QUOTE, C_COLON, C_LESS,       C_SEMICOLON,   C_WORDCH,     C_BAD,         C_EOF};
    uint32_t count = 0;
    for (uint32_t c = 0; c < CLASS_COUNT; c++) count += kPathEnd[c];
    EXPECT_EQ(count, sizeof ending / sizeof ending[0]);
    for (ByteClass c : ending) EXPECT_EQ(kPathEnd[c], 1) << int(c);

    std::string in_point = "\t #+-.0123456789AEFINaefin";
    for (int b = 0; b < 256; b++) EXPECT_EQ(kPointStart[b] != 0, b && in_point.find(char(b)) != std::string::npos) << b;

    for (int b = 0; b < 256; b++) {
        int expected = b >= '0' && b <= '9' ? b - '0' : b >= 'a' && b <= 'f' ? b - 'a' + 10 : b >= 'A' && b <= 'F' ? b - 'A' + 10 : 255;
        EXPECT_EQ(kHexDigit[b], expected) << b;
    }
    for (int b = 0; b < 256; b++) EXPECT_EQ(escape_is_fixed(uint8_t(b)), std::string("\"-/@^{}~").find(char(b)) != std::string::npos && b);
}

TEST(LexerTables, UnicodeBlanks) {
    const uint32_t blanks[] = {0x85, 0xA0, 0x1680, 0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B};
    for (uint32_t cp : blanks) EXPECT_TRUE(unicode_blank_q(cp)) << std::hex << cp;
    for (uint32_t cp : {0x20u, 0x09u, 0x84u, 0xA1u, 0x200Cu, 0x3001u, 0xFEFFu, 0x10FFFFu}) EXPECT_FALSE(unicode_blank_q(cp)) << std::hex << cp;
    const uint8_t nbsp[] = {0xC2, 0xA0, 'a'};
    EXPECT_EQ(unicode_blank_at(nbsp, nbsp + 3), 2u);
    EXPECT_EQ(unicode_blank_at(nbsp, nbsp + 1), 0u) << "a cut sequence is no blank";
    const uint8_t ideographic[] = {0xE3, 0x80, 0x80};
    EXPECT_EQ(unicode_blank_at(ideographic, ideographic + 3), 3u);
    const uint8_t e_acute[] = {0xC3, 0xA9};
    EXPECT_EQ(unicode_blank_at(e_acute, e_acute + 2), 0u);
}

}  // namespace
}  // namespace zol::test
