// The integer, float, tuple and money scanners shared by the lexer and the text conversions of the datatypes.
#include "scan_number.h"

#include "runtime/datatypes/money.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/dtoa.h"

namespace zol {

namespace {

// A unit of a string buffer (little-endian whatever the width); units of another width read as 0xFFFFFFFF,
// which no scanner accepts.
inline uint32_t unit_at(const uint8_t* text, uint32_t unit, size_t i) {
    switch (unit) {
        case 1: return text[i];
        case 2: return uint32_t(text[2 * i]) | uint32_t(text[2 * i + 1]) << 8;
        case 4:
            return uint32_t(text[4 * i]) | uint32_t(text[4 * i + 1]) << 8 | uint32_t(text[4 * i + 2]) << 16 |
                   uint32_t(text[4 * i + 3]) << 24;
        default: return 0xFFFFFFFF;
    }
}

// The float syntax machine. Columns: the character classes below; states: 0 start, 1 integer digits,
// 2 after a "'" in the integer part, 3 fraction digits, 4 after a leading "." or a "'" in the fraction,
// 5 after digits and ".", 6 after the exponent letter, 7 exponent sign, 8 exponent digits, 9 (unused)
// accepting sink, 10 refused.
enum FloatClass { FC_OTHER, FC_SIGN, FC_DIGIT, FC_EXP, FC_POINT, FC_QUOTE };
constexpr uint8_t REFUSED = 10;
constexpr uint8_t kFloatMachine[11][6] = {
    {10, 0, 1, 10, 4, 10},      // 0
    {10, 10, 1, 6, 5, 2},       // 1
    {10, 10, 1, 10, 10, 10},    // 2
    {10, 10, 3, 6, 10, 4},      // 3
    {10, 10, 3, 10, 10, 10},    // 4
    {10, 10, 3, 10, 10, 10},    // 5
    {10, 7, 8, 10, 10, 10},     // 6
    {10, 10, 8, 10, 10, 10},    // 7
    {10, 10, 8, 10, 10, 10},    // 8
    {9, 9, 9, 9, 9, 9},         // 9
    {10, 10, 10, 10, 10, 10},   // 10
};
// Whether the text may end in each state.
constexpr bool kFloatAccepts[11] = {false, true, true, true, true, true, false, false, true, true, false};

FloatClass float_class(char c) {
    switch (c) {
        case '+':
        case '-': return FC_SIGN;
        case 'e':
        case 'E': return FC_EXP;
        case '.': return FC_POINT;
        case '\'': return FC_QUOTE;
        default: return c >= '0' && c <= '9' ? FC_DIGIT : FC_OTHER;
    }
}

}  // namespace

int32_t scan_integer(const uint8_t* text, uint32_t unit, size_t length, int* error) {
    size_t i = 0;
    bool negative = false;
    if (length > 0) {
        uint32_t c = unit_at(text, unit, 0);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    // The magnitude stops growing once past 2^31, the largest one a 32-bit integer can take.
    constexpr uint64_t LIMIT = 2147483648u;
    uint64_t magnitude = 0;
    bool digits = false;
    for (; i < length; i++) {
        uint32_t c = unit_at(text, unit, i);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            *error = SCAN_INVALID;
            return 0;
        }
        digits = true;
        if (magnitude <= LIMIT) magnitude = magnitude * 10 + (c - '0');
    }
    if (!digits) {
        *error = SCAN_INVALID;
        return 0;
    }
    if (magnitude > (negative ? LIMIT : LIMIT - 1)) {
        *error = SCAN_OVERFLOW;
        return 0;
    }
    *error = SCAN_OK;
    return negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
}

double scan_float(const uint8_t* text, uint32_t unit, size_t length, int* error, int extra_exponent) {
    *error = SCAN_INVALID;
    if (length > SCAN_FLOAT_MAX_LENGTH) return 0.0;
    char buf[SCAN_FLOAT_MAX_LENGTH];
    size_t n = 0;
    uint8_t state = 0;
    bool mantissa_digit = false;
    for (size_t i = 0; i < length; i++) {
        uint32_t c = unit_at(text, unit, i);
        if (c == ',') c = '.';
        if (c > 127) return 0.0;
        FloatClass cls = float_class(char(c));
        if (cls == FC_DIGIT && state < 6) mantissa_digit = true;
        state = kFloatMachine[state][cls];
        if (state == REFUSED) return 0.0;
        if (cls != FC_QUOTE) buf[n++] = char(c);
    }
    // The machine also takes "." alone, which is no number.
    if (!kFloatAccepts[state] || !mantissa_digit) return 0.0;
    ptrdiff_t left = 0;
    double value = dtoa_string_to_float(buf, buf + n, extra_exponent, &left);
    // The machine lets signs repeat; the conversion reads one, so any second sign is left over.
    if (left != 0) return 0.0;
    *error = SCAN_OK;
    return value;
}

namespace {

// The text as ASCII bytes, when it is ASCII and fits the buffer; false otherwise.
bool narrow(const uint8_t* text, uint32_t unit, size_t length, uint8_t* out, size_t room) {
    if (length > room) return false;
    for (size_t i = 0; i < length; i++) {
        uint32_t c = unit_at(text, unit, i);
        if (c == 0 || c > 127) return false;
        out[i] = uint8_t(c);
    }
    return true;
}

// Digits with single "'" separators between them, from a digit at p (after another character), moving p past
// them; -1 when a separator is doubled or no digit follows it.
int separated_digits(const uint8_t*& p, const uint8_t* end) {
    int digits = 0;
    for (; p < end && ((*p >= '0' && *p <= '9') || *p == '\''); p++) {
        if (*p == '\'') {
            if (p[-1] == '\'' || p + 1 >= end || p[1] < '0' || p[1] > '9') return -1;
        } else {
            digits++;
        }
    }
    return digits;
}

}  // namespace

void scan_tuple(const uint8_t* text, uint32_t unit, size_t length, int* error, Cell* target) {
    *error = SCAN_INVALID;
    uint8_t bytes[TUPLE_MAX];
    uint32_t parts = 0;
    uint32_t value = 0;
    bool digits = false;
    for (size_t i = 0; i <= length; i++) {
        uint32_t c = i < length ? unit_at(text, unit, i) : '.';
        if (c == '.') {
            if (!digits || parts == TUPLE_MAX) return;
            bytes[parts++] = uint8_t(value);
            value = 0;
            digits = false;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (value > 255) return;
            digits = true;
        } else {
            return;
        }
    }
    tuple_make_at(target, bytes, parts);
    *error = SCAN_OK;
}

void scan_money(const uint8_t* text, size_t length, uint32_t unit, Cell* target, int* error) {
    *error = SCAN_INVALID;
    uint8_t buf[64];
    if (!narrow(text, unit, length, buf, sizeof buf)) return;
    const uint8_t* p = buf;
    const uint8_t* end = buf + length;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const uint8_t* code = nullptr;
    if (p < end && *p != '$') {
        for (int i = 0; i < 3; i++) {
            if (p + i >= end || !((p[i] | 0x20) >= 'a' && (p[i] | 0x20) <= 'z')) return;
        }
        code = p;
        p += 3;
    }
    if (p >= end || *p++ != '$' || p >= end || *p < '0' || *p > '9') return;
    // The integer part: digits with single separators between them; leading zeros are no digits of it.
    const uint8_t* int_start = p;
    while (p + 1 < end && *p == '0' && ((p[1] >= '0' && p[1] <= '9') || p[1] == '\'')) {
        p++;
        if (*p == '\'' && (p + 1 >= end || p[1] < '0' || p[1] > '9')) return;
        if (*p == '\'') p++;
    }
    int digits = separated_digits(p, end);
    const uint8_t* int_end = p;
    if (digits < 0 || digits > 18) return;
    const uint8_t* frac_start = nullptr;
    const uint8_t* frac_end = nullptr;
    if (p < end && (*p == '.' || *p == ',')) {
        p++;
        if (p >= end || *p < '0' || *p > '9') return;
        frac_start = p;
        int fraction = separated_digits(p, end);
        if (fraction < 0 || fraction > MONEY_FRACTION_DIGITS) return;
        frac_end = p;
    }
    if (p != end) return;
    if (!money_make_at_digits(target, negative, code, int_start, int_end, frac_start, frac_end)) return;
    *error = SCAN_OK;
}

}  // namespace zol
