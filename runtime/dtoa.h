// Conversions between doubles and decimal text: the digits of a double (shortest round trip, or a number of
// significant digits), the molded text built from them, and the correctly rounded reading of decimal text.
// The digit work is std::to_chars / std::from_chars; this unit adds the system's special texts and layout.
#pragma once
#include <cstddef>

namespace zol {

// Reserved decimal-point positions: the text returned is final, not a digit string.
constexpr int DTOA_DECPT_SPECIAL = 9999;  // "1.#INF", "-1.#INF", "1.#NaN"
constexpr int DTOA_DECPT_ZERO = 9998;     // "0.0", "-0.0" (point flag) or "0", "-0"

// The digits of |value|: with limit <= 0 the shortest string that reads back to the same double, else at
// most `limit` significant digits, correctly rounded (ties to even). Never ends in a zero. The value is
// 0.d1d2... x 10^decpt. Infinities, NaN and zeros give their final text and a reserved decpt; `count`
// receives the length of what is returned, `negative` the sign bit (false for NaN).
// The text lives in a static buffer that the next call overwrites.
const char* dtoa_digits(double value, int limit, int* decpt, int* count, bool* negative, bool point);

// The text of a double: fixed form for decpt -6..17, else "d.ddde<exp>" with no "+" and no leading zeros.
// With the point flag a text ending in "." gets a "0" (100.0, 1.0e20), without it the "." goes (100, 1e20).
// Static buffer, overwritten by the next call.
const char* dtoa_form_float(double value, int limit, bool point);

// Reads [start, end): optional sign, digits, optional "." and fraction, optional e/E, sign and exponent
// digits; also the special forms <digit>.#I... (infinity) and <digit>.#N... (the positive quiet NaN).
// extra_exponent is added to the written exponent before rounding (-2 reads a percent literal). `left`
// receives how many characters were not part of the number (0 when all were). Correctly rounded to
// nearest-even; overflow gives an infinity, underflow a subnormal or zero.
double dtoa_string_to_float(const char* start, const char* end, int extra_exponent, ptrdiff_t* left);

}  // namespace zol
