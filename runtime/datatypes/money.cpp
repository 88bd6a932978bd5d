// money! values: makers and readers.
#include "money.h"

#include <cstring>

#include "runtime/scan_number.h"

namespace zol {

namespace {

// The 16 bytes of a cell, in memory order.
struct Bytes {
    uint8_t b[16];
};
Bytes bytes_of(const Cell* c) {
    Bytes out;
    std::memcpy(out.b, c, 16);
    return out;
}

void set_digit(uint8_t* bytes, int n, uint32_t digit) {
    uint8_t& at = bytes[5 + (n - 1) / 2];
    at = (n & 1) ? uint8_t((at & 0x0F) | digit << 4) : uint8_t((at & 0xF0) | digit);
}

}  // namespace

bool money_make_at_digits(Cell* cell, bool negative, const uint8_t* code, const uint8_t* int_start,
                          const uint8_t* int_end, const uint8_t* frac_start, const uint8_t* frac_end) {
    int32_t currency = 0;
    if (code) {
        currency = currency_index(code, 3);
        if (currency < 0) return false;
    }
    // The significant integer digits, which must fit digits 1 to 17.
    const uint8_t* first = int_start;
    while (first < int_end && (*first == '0' || *first == '\'')) first++;
    int count = 0;
    for (const uint8_t* p = first; p < int_end; p++) count += *p != '\'';
    if (count > MONEY_INTEGER_DIGITS) return false;

    uint8_t bytes[16] = {};
    int n = MONEY_INTEGER_DIGITS - count + 1;
    for (const uint8_t* p = first; p < int_end; p++) {
        if (*p != '\'') set_digit(bytes, n++, uint32_t(*p - '0'));
    }
    n = MONEY_INTEGER_DIGITS + 1;
    for (const uint8_t* p = frac_start; p && p < frac_end && n <= MONEY_DIGITS; p++) {
        if (*p != '\'') set_digit(bytes, n++, uint32_t(*p - '0'));
    }
    bytes[4] = uint8_t(currency);
    std::memcpy(cell, bytes, 16);
    cell->header = TYPE_MONEY | (negative ? HDR_MONEY_SIGN : 0);
    return true;
}

uint32_t money_digit(const Cell* money, int n) {
    uint8_t at = bytes_of(money).b[5 + (n - 1) / 2];
    return (n & 1) ? at >> 4 : at & 0x0F;
}

uint32_t money_currency(const Cell* money) { return bytes_of(money).b[4]; }

namespace {

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

void scan_money(const uint8_t* text, size_t length, uint32_t unit, Cell* target, int* error) {
    *error = SCAN_INVALID;
    uint8_t buf[64];
    if (!scan_ascii(text, unit, length, buf, sizeof buf)) return;
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
