// The locale and options the datatypes read, with their built-in values.
#include "locale.h"

#include "runtime/datatypes/symbol.h"

namespace zol {

namespace {

constexpr const char* kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

constexpr const char* kCurrencies[] = {
#include "currencies.inc"
};
constexpr uint32_t CURRENCY_COUNT = sizeof kCurrencies / sizeof kCurrencies[0];

int32_t g_money_digits = 2;

inline uint8_t ascii_upper(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

}  // namespace

int locale_month_abbreviation(int32_t month, uint32_t out[3]) {
    if (month < 1 || month > 12) return -1;
    const char* name = kMonths[month - 1];
    int n = 0;
    while (n < 3 && name[n]) {
        out[n] = uint8_t(name[n]);
        n++;
    }
    return n;
}

int32_t currency_index(const uint8_t* code, size_t length) {
    if (length != 3) return -1;
    for (uint32_t i = 0; i < CURRENCY_COUNT; i++) {
        const char* c = kCurrencies[i];
        if (ascii_upper(code[0]) == uint8_t(c[0]) && ascii_upper(code[1]) == uint8_t(c[1]) &&
            ascii_upper(code[2]) == uint8_t(c[2])) {
            return int32_t(i + 1);
        }
    }
    return -1;
}

int32_t currency_index_of_symbol(uint32_t symbol) {
    uint32_t length;
    const uint8_t* bytes = symbol_bytes(symbol, &length);
    return currency_index(bytes, length);
}

const char* currency_code(uint32_t index) { return index >= 1 && index <= CURRENCY_COUNT ? kCurrencies[index - 1] : nullptr; }

uint32_t currency_count() { return CURRENCY_COUNT; }

int32_t locale_money_digits() { return g_money_digits; }

void locale_set_money_digits(int32_t digits) { g_money_digits = digits; }

}  // namespace zol
