// money! values: an exact decimal amount of 22 packed digits (17 before and 5 after the point) with an
// optional currency, all in the cell: header bit 14 is the sign (set: negative), byte 4 the currency index
// (0 for none, n for the n-th code of the currency list) and bytes 5 to 15 the digits, two per byte, most
// significant first. Arithmetic is exact: the digits are read as a whole number of hundred-thousandths and
// every result that does not fit the 22 digits raises type-limit.
#pragma once
#include <cstddef>
#include <cstdint>

#include "float.h"
#include "runtime/cell.h"
#include "runtime/values/locale.h"

namespace zol {

constexpr int MONEY_DIGITS = 22;
constexpr int MONEY_INTEGER_DIGITS = 17;
constexpr int MONEY_FRACTION_DIGITS = 5;


// Makes the cell a money! from decimal digit characters: the integer part [int_start, int_end) and the
// fraction [frac_start, frac_end) (null for none); "'" characters among them are skipped. The integer
// digits end at digit 17 and the fraction starts at digit 18; fraction digits past the fifth are dropped.
// Returns false, leaving the cell unset, for a currency code not in the list or an integer part of more
// than 17 significant digits.
bool money_make_at_digits(Cell* cell, bool negative, const uint8_t* code, const uint8_t* int_start,
                          const uint8_t* int_end, const uint8_t* frac_start, const uint8_t* frac_end);

// Makes the cell a money! with the digit bytes (bytes 5 to 15 of the cell) copied as they are.
Cell* money_make_at(Cell* cell, bool negative, uint32_t currency, const uint8_t digits[11]);
Cell* money_push(bool negative, uint32_t currency, const uint8_t digits[11]);
// An integer as money, exactly.
Cell* money_make_integer(Cell* cell, int32_t value);
// A float as money: its shortest decimal text, digits past the fifth fraction digit dropped. NaN, the
// infinities, magnitudes of 1e17 and more or below 1e-5 (zero aside) raise bad-make-arg, and so does, when
// strict, a text with more than five fraction digits.
Cell* money_make_float(Cell* cell, double value, bool strict);
Cell* money_push_integer(int32_t value);
Cell* money_push_float(double value, bool strict);
// The integer part (toward zero); type-limit beyond 32 bits.
int32_t money_to_integer(const Cell* money);
// The nearest double.
double money_to_float(const Cell* money);
// -1, 0 or 1; a value whose digits are all zero is 0 whatever its sign flag.
int money_sign(const Cell* money);
// The arithmetic (add to remainder) of the two arguments at the argument base, one of them money; the
// result replaces the first.
void money_do_math(ArithOp op);
// compare for money!, and for a number compared with money: the number is the first value.
int money_compare(const Cell* value, const Cell* other, CompareOp op);
int money_compare_number(const Cell* number, const Cell* money, CompareOp op);

// Digit n, from 1 (the most significant) to 22.
uint32_t money_digit(const Cell* money, int n);
uint32_t money_currency(const Cell* money);
void money_set_currency(Cell* money, uint32_t currency);
inline bool money_negative_flag(const Cell* money) { return (money->header & HDR_MONEY_SIGN) != 0; }

// Reads money text: an optional sign, an optional three-letter currency code, "$", then the amount:
// digits with single "'" separators between them (none first, last or doubled, none right after the decimal
// separator), at most one "." or "," before at most five fraction digits. Makes the target a money!; sets
// *error (a ScanError) to SCAN_INVALID for any rule broken, a currency not in the currency list, or more than
// 17 integer digits.
void scan_money(const uint8_t* text, size_t length, uint32_t unit, Cell* target, int* error);

}  // namespace zol
