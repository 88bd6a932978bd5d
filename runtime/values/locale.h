// What the datatypes read of the system's locale and options: the month names that date! text abbreviates,
// the currency list whose positions money! values keep, and the number of fraction digits money! prints.
// They come from the system object (system/locale/months, system/locale/currencies/list and
// system/options/money-digits) once it is attached; before that, from the built-in values: English month
// names, the currency codes of currencies.inc (the system's list starts as the same codes, in the same order,
// so indexes made before and after agree) and two digits.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zol {

// The first three characters of the month's name (1 to 12) into out; their count (at most 3), or -1 when the
// locale has no name for the month (its months block is missing, short, or holds no string there).
int locale_month_abbreviation(int32_t month, uint32_t out[3]);

// The 1-based index of a three-letter currency code in the currency list (letters of any case), -1 when it
// is not there.
int32_t currency_index(const uint8_t* code, size_t length);
// The same for a word's symbol.
int32_t currency_index_of_symbol(uint32_t symbol);
// The code of a currency index, null for 0 or an index past the list. The text may live in a static
// buffer that the next call overwrites.
const char* currency_code(uint32_t index);
// The built-in list, which the system's list starts as.
uint32_t currency_builtin_count();
const char* currency_builtin_code(uint32_t index);

// The fraction digits money! form and mold write (any value: 6 and above mean all five, 0 and below none).
int32_t locale_money_digits();

}  // namespace zol
