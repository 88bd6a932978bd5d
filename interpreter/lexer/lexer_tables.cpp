// The lexer's static tables.
#include "lexer_tables.h"

#include "runtime/unicode.h"

namespace zol::lex {

#include "lexer_tables.inc"

namespace {

// The blank set: a bit per code point up to U+3000 (bit for c at byte c >> 3, mask 0x80 >> (c & 7)), built
// by the compiler.
constexpr uint32_t BLANK_SET_BYTES = 8290;
constexpr uint32_t kBlankCodePoints[] = {0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
                                         0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A,
                                         0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B};

constexpr std::array<uint8_t, BLANK_SET_BYTES> make_blank_set() {
    std::array<uint8_t, BLANK_SET_BYTES> set{};
    for (uint32_t cp : kBlankCodePoints) set[cp >> 3] |= uint8_t(0x80 >> (cp & 7));
    return set;
}
constexpr std::array<uint8_t, BLANK_SET_BYTES> kBlankSet = make_blank_set();

}  // namespace

bool escape_is_fixed(uint8_t c) {
    switch (c) {
        case '"':
        case '-':
        case '/':
        case '@':
        case '^':
        case '{':
        case '}':
        case '~': return true;
        default: return false;
    }
}

bool unicode_blank_q(uint32_t cp) {
    return (cp >> 3) < BLANK_SET_BYTES && (kBlankSet[cp >> 3] & (0x80 >> (cp & 7)));
}

uint32_t unicode_blank_at(const uint8_t* p, const uint8_t* end) {
    // Every blank of the set is a 2- or 3-byte sequence led by C2, E1, E2 or E3.
    if (p >= end || (*p != 0xC2 && (*p < 0xE1 || *p > 0xE3))) return 0;
    int32_t cp;
    const uint8_t* next = utf8_decode_char(p, end, &cp);
    return cp >= 0 && unicode_blank_q(uint32_t(cp)) ? uint32_t(next - p) : 0;
}

}  // namespace zol::lex
