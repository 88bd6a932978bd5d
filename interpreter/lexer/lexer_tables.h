// The lexer's static tables: byte classes with their flag bits, the state machine (65 working states, final
// states 66 to 103), the datatype of each state, and the side tables of the scanners. The big tables are
// generated from tools/lexer_grammar.txt into lexer_tables.inc.
#pragma once
#include <array>
#include <cstdint>

namespace zol::lex {

constexpr uint32_t CLASS_COUNT = 40;
constexpr uint32_t WORKING_STATES = 65;
constexpr uint32_t STATE_COUNT = 104;
constexpr uint32_t FIRST_FINAL = 66;  // states above 65 end a token; 65 itself is never entered

// Byte classes (the low byte of a class entry).
enum ByteClass : uint8_t {
    C_BLANK, C_LINE, C_DIGIT, C_ZERO, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN,
    C_BRACE_CLOSE, C_QUOTE, C_HASH, C_APOSTROPHE, C_COLON, C_X, C_T, C_H, C_E_LOW, C_E_UP, C_HEX_LOW, C_HEX_UP,
    C_SLASH, C_BACKSLASH, C_LESS, C_GREATER, C_EQUAL, C_PERCENT, C_COMMA, C_SEMICOLON, C_AT, C_DOT, C_DOLLAR,
    C_PLUS, C_MINUS, C_CARET, C_CONTROL, C_CONT, C_WORDCH, C_BAD, C_EOF
};
static_assert(C_EOF == CLASS_COUNT - 1);

// Flag bits of the class entries, ORed over the bytes of a token.
constexpr uint32_t F_MULTILINE = 1u << 17;  // added by the braced-string opener: a line break came before it
constexpr uint32_t F_PERCENT = 1u << 18;
constexpr uint32_t F_GREATER = 1u << 19;
constexpr uint32_t F_LESS = 1u << 20;
constexpr uint32_t F_SIGN = 1u << 21;
constexpr uint32_t F_NUL = 1u << 22;
constexpr uint32_t F_HASH = 1u << 23;
constexpr uint32_t F_EXPONENT = 1u << 24;
constexpr uint32_t F_APOSTROPHE = 1u << 25;
constexpr uint32_t F_COLON = 1u << 26;
constexpr uint32_t F_COMMA = 1u << 27;
constexpr uint32_t F_DOT = 1u << 28;
constexpr uint32_t F_CARET = 1u << 29;
constexpr uint32_t F_UTF8_LEAD = 1u << 30;  // a lead byte of a 2- or 3-byte sequence
constexpr uint32_t F_UTF8_LEAD4 = 1u << 31;  // a lead byte of a 4-byte sequence

// Tokens: final state minus 65.
enum Token : uint32_t {
    T_EOF = 1, T_ERROR, T_BLOCK_OPEN, T_BLOCK_CLOSE, T_PAREN_OPEN, T_PAREN_CLOSE, T_BRACE_OPEN, T_BRACE_CLOSE,
    T_MAP_OPEN, T_PATH_HEAD, T_CONSTRUCT, T_COMMENT, T_COMMA, T_STRING, T_WORD, T_ISSUE, T_INTEGER,
    T_REFINEMENT, T_CHAR, T_FILE, T_BINARY, T_PERCENT, T_FLOAT, T_SPECIAL_FLOAT, T_TUPLE, T_DATE, T_PAIR,
    T_POINT, T_TIME, T_MONEY, T_TAG, T_URL, T_EMAIL, T_HEX, T_RAW_STRING, T_REF,
    TOKEN_COUNT_PLUS_ONE
};
static_assert(T_REF == 36);
constexpr uint32_t final_state(Token t) { return t + 65; }

// Working states that the engine starts tokens in or reports on.
constexpr uint8_t S_BETWEEN = 0;
constexpr uint8_t S_BINARY_COMMENT = 18;
constexpr uint8_t S_CONSTRUCT = 21;
constexpr uint8_t S_BRACED = 4;
constexpr uint8_t S_POINT = 35;
constexpr uint8_t S_PATH = 59;
constexpr uint8_t S_PATH_LAST = 64;  // 59 to 64 read path elements

extern const uint32_t kCharClass[256];
extern const uint8_t kTransitions[WORKING_STATES][CLASS_COUNT];
extern const uint8_t kStateType[STATE_COUNT];
extern const uint8_t kPathEnd[CLASS_COUNT];
extern const uint8_t kPointStart[256];

inline uint8_t byte_class(uint8_t b) { return uint8_t(kCharClass[b]); }

// 0-15 for a hexadecimal digit of either case, 255 for every other byte.
constexpr std::array<uint8_t, 256> make_hex_digits() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = 255;
    for (int d = 0; d < 10; d++) t['0' + d] = uint8_t(d);
    for (int d = 0; d < 6; d++) t['A' + d] = t['a' + d] = uint8_t(10 + d);
    return t;
}
inline constexpr std::array<uint8_t, 256> kHexDigit = make_hex_digits();
// Whether a character has a fixed meaning after '^' (" - / @ ^ { } ~).
bool escape_is_fixed(uint8_t c);

// The Unicode code points that count as blanks before and inside words.
bool unicode_blank_q(uint32_t cp);
// The length of the UTF-8 sequence of a Unicode blank at p (never past end), 0 when none starts there.
uint32_t unicode_blank_at(const uint8_t* p, const uint8_t* end);
}  // namespace zol::lex
