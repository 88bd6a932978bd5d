// Float and text conversion: digits through std::to_chars, reading through std::from_chars, both
// correctly rounded; the special texts, the mold layout and the digit bookkeeping are the system's own.
#include "dtoa.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace zol {

namespace {

// A double's exact decimal expansion has at most 767 significant digits, so no limit beyond this changes
// the digits (the rest would be zeros, which are never written).
constexpr int MAX_DIGITS = 800;

char g_digits[MAX_DIGITS + 16];
// Room for "-", "0.", six zeros, every digit, and the point and exponent of the other forms.
char g_text[MAX_DIGITS + 32];

bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char* special_text(double value, int* decpt, int* count, bool* negative, bool point) {
    const char* text;
    if (std::isnan(value)) {
        *negative = false;  // a NaN never shows a sign
        text = "1.#NaN";
        *decpt = DTOA_DECPT_SPECIAL;
    } else if (std::isinf(value)) {
        *negative = value < 0;
        text = *negative ? "-1.#INF" : "1.#INF";
        *decpt = DTOA_DECPT_SPECIAL;
    } else {
        *negative = std::signbit(value);
        text = point ? (*negative ? "-0.0" : "0.0") : (*negative ? "-0" : "0");
        *decpt = DTOA_DECPT_ZERO;
    }
    *count = int(std::strlen(text));
    return text;
}

}  // namespace

const char* dtoa_digits(double value, int limit, int* decpt, int* count, bool* negative, bool point) {
    if (!std::isfinite(value) || value == 0.0) return special_text(value, decpt, count, negative, point);
    *negative = std::signbit(value);
    double magnitude = std::fabs(value);

    // Scientific notation gives the digits and the exponent in one piece: "d.ddde+XX".
    char sci[MAX_DIGITS + 16];
    std::to_chars_result r = limit <= 0
        ? std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific)
        : std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific,
                        (limit > MAX_DIGITS ? MAX_DIGITS : limit) - 1);
    int n = 0;
    const char* p = sci;
    for (; p < r.ptr && *p != 'e'; p++) {
        if (is_digit(*p)) g_digits[n++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), r.ptr, exponent);
    while (n > 1 && g_digits[n - 1] == '0') n--;
    g_digits[n] = '\0';
    *decpt = exponent + 1;
    *count = n;
    return g_digits;
}

const char* dtoa_form_float(double value, int limit, bool point) {
    int decpt, count;
    bool negative;
    const char* digits = dtoa_digits(value, limit, &decpt, &count, &negative, point);
    if (decpt >= DTOA_DECPT_ZERO) return digits;

    char* out = g_text;
    if (negative) *out++ = '-';
    bool scientific = decpt > 17 || decpt < -6;
    if (scientific) {
        *out++ = digits[0];
        *out++ = '.';
        std::memcpy(out, digits + 1, size_t(count - 1));
        out += count - 1;
    } else if (decpt <= 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -decpt; i++) *out++ = '0';
        std::memcpy(out, digits, size_t(count));
        out += count;
    } else if (decpt >= count) {
        std::memcpy(out, digits, size_t(count));
        out += count;
        for (int i = count; i < decpt; i++) *out++ = '0';
        *out++ = '.';
    } else {
        std::memcpy(out, digits, size_t(decpt));
        out += decpt;
        *out++ = '.';
        std::memcpy(out, digits + decpt, size_t(count - decpt));
        out += count - decpt;
    }
    if (out[-1] == '.') {
        if (point) {
            *out++ = '0';
        } else {
            out--;
        }
    }
    if (scientific) {
        *out++ = 'e';
        out = std::to_chars(out, g_text + sizeof g_text, decpt - 1).ptr;
    }
    *out = '\0';
    return g_text;
}

double dtoa_string_to_float(const char* start, const char* end, int extra_exponent, ptrdiff_t* left) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* digits_start = p;
    while (p < end && *p == '0') p++;

    // <digit>.#INF and <digit>.#NaN: the letter after "#" decides and the rest is not looked at.
    if (end - p >= 4 && is_digit(p[0]) && p[1] == '.' && p[2] == '#') {
        char c = p[3];
        if (c == 'I' || c == 'i') {
            *left = 0;
            return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        }
        if (c == 'N' || c == 'n') {
            *left = 0;
            return std::numeric_limits<double>::quiet_NaN();
        }
    }

    // The significant digits go to a buffer as an integer; `scale` is the power of ten that multiplies
    // it. Past MAX_DIGITS digits only whether any further digit is non-zero can change the rounding, so
    // they collapse into one sticky "1".
    char buf[MAX_DIGITS + 32];
    int n = 0;
    int64_t scale = 0;
    bool sticky = false;
    bool any_digit = p > digits_start;
    for (; p < end && is_digit(*p); p++) {
        any_digit = true;
        if (n == 0 && *p == '0') continue;
        if (n < MAX_DIGITS) {
            buf[n++] = *p;
        } else {
            scale++;
            sticky |= *p != '0';
        }
    }
    if (p < end && *p == '.') {
        const char* point = p++;
        bool fraction = false;
        for (; p < end && is_digit(*p); p++) {
            fraction = true;
            if (n == 0 && *p == '0') {
                scale--;
            } else if (n < MAX_DIGITS) {
                buf[n++] = *p;
                scale--;
            } else {
                sticky |= *p != '0';
            }
        }
        if (!any_digit && !fraction) p = point;  // a lone "." is no number
        any_digit |= fraction;
    }
    if (!any_digit) {
        *left = end - start;
        return negative ? -0.0 : 0.0;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exp_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exp_negative = *q++ == '-';
        if (q < end && is_digit(*q)) {
            // Any exponent beyond a billion gives an infinity or a zero whatever the digits are.
            int64_t written = 0;
            for (; q < end && is_digit(*q); q++) {
                if (written < 1000000000) written = written * 10 + (*q - '0');
            }
            scale += exp_negative ? -written : written;
            p = q;
        }
    }
    *left = end - p;

    if (sticky) {
        buf[n++] = '1';
        scale--;
    }
    while (n > 0 && buf[n - 1] == '0') {
        n--;
        scale++;
    }
    if (n == 0) return negative ? -0.0 : 0.0;
    scale += extra_exponent;

    char* e = buf + n;
    *e++ = 'e';
    e = std::to_chars(e, buf + sizeof buf, scale).ptr;
    double value = 0.0;
    std::from_chars_result r = std::from_chars(buf, e, value, std::chars_format::scientific);
    if (r.ec == std::errc::result_out_of_range) {
        // The number is d1.d2... x 10^(n - 1 + scale): at least 1 means it overflowed, else it underflowed.
        value = n + scale > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace zol
