// The number scanners over text units: a decimal integer, a float literal, a tuple and a money amount, read
// from the 1-, 2- or 4-byte units of a string buffer. The lexer loads number tokens with them; to integer!,
// to float!, to tuple! and to money! read text through them. None allocates or raises: the outcome comes
// back in an error code.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

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

// Parts of 0 to 255 separated by single dots, at most 12: makes the target a tuple! (padded to 3 bytes).
// Sets *error to SCAN_INVALID for an empty part, a part above 255, a 13th part or another character.
void scan_tuple(const uint8_t* text, uint32_t unit, size_t length, int* error, Cell* target);

// An optional sign, an optional three-letter currency code, "$", then the amount: digits with single "'"
// separators between them (none first, last or doubled, none right after the decimal separator), at most
// one "." or "," before at most five fraction digits. Makes the target a money!; sets *error to
// SCAN_INVALID for any rule broken, a currency not in the currency list, or more than 17 integer digits.
void scan_money(const uint8_t* text, size_t length, uint32_t unit, Cell* target, int* error);

}  // namespace zol
