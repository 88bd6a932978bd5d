// The integer and float scanners shared by the lexer and the text conversions of the datatypes.
#include "scan_number.h"

#include "dtoa.h"

namespace zol {

namespace {


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
        uint32_t c = scan_unit_at(text, unit, 0);
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
        uint32_t c = scan_unit_at(text, unit, i);
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
        uint32_t c = scan_unit_at(text, unit, i);
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

// The text as ASCII bytes, when it is ASCII and fits the buffer; false otherwise.
bool scan_ascii(const uint8_t* text, uint32_t unit, size_t length, uint8_t* out, size_t room) {
    if (length > room) return false;
    for (size_t i = 0; i < length; i++) {
        uint32_t c = scan_unit_at(text, unit, i);
        if (c == 0 || c > 127) return false;
        out[i] = uint8_t(c);
    }
    return true;
}

}  // namespace zol
