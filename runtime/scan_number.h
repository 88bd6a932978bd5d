// The number scanners over text units: a decimal integer and a float literal, read from the 1-, 2- or 4-byte
// units of a string buffer. The lexer loads number tokens with them; to integer! and to float! read text
// through them, and tuple! and money! build their own scanners on the unit readers here. None allocates or
// raises: the outcome comes back in an error code.
#pragma once
#include <cstddef>
#include <cstdint>


namespace zol {

enum ScanError : int {
    SCAN_OK = 0,
    SCAN_INVALID = -1,   // not a number of that kind
    SCAN_OVERFLOW = -2,  // a decimal integer outside the 32-bit range
};

// A float text longer than this is refused.
constexpr size_t SCAN_FLOAT_MAX_LENGTH = 312;

// An optional "+" or "-", then decimal digits with "'" separators anywhere among them. Sets *error to
// SCAN_INVALID for any other character or when there is no digit, to SCAN_OVERFLOW when the value does not
// fit in 32 bits ("-2147483648" fits); the result is then 0.
int32_t scan_integer(const uint8_t* text, uint32_t unit, size_t length, int* error);

// A float literal: an optional sign, digits with "'" separators, an optional "." (or ",") and fraction, an
// optional exponent (1.e5 and "'" inside the exponent are refused). The "'" are dropped and the text is
// read with dtoa_string_to_float, extra_exponent added (the lexer passes -2 for a percent). Sets *error to
// SCAN_INVALID when the text is longer than SCAN_FLOAT_MAX_LENGTH or is no complete literal.
double scan_float(const uint8_t* text, uint32_t unit, size_t length, int* error, int extra_exponent = 0);

// Unit i of a string buffer of 1-, 2- or 4-byte units (little-endian whatever the width); units of another
// width read as 0xFFFFFFFF, which no scanner accepts.
inline uint32_t scan_unit_at(const uint8_t* text, uint32_t unit, size_t i) {
    switch (unit) {
        case 1: return text[i];
        case 2: return uint32_t(text[2 * i]) | uint32_t(text[2 * i + 1]) << 8;
        case 4:
            return uint32_t(text[4 * i]) | uint32_t(text[4 * i + 1]) << 8 | uint32_t(text[4 * i + 2]) << 16 |
                   uint32_t(text[4 * i + 3]) << 24;
        default: return 0xFFFFFFFF;
    }
}

// The text as ASCII bytes into out, when it is ASCII without NUL and fits its room; false otherwise.
bool scan_ascii(const uint8_t* text, uint32_t unit, size_t length, uint8_t* out, size_t room);

}  // namespace zol
