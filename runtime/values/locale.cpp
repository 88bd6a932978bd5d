// The locale and options the datatypes read: the system object's, or the built-in values before it exists.
#include "locale.h"

#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/memory.h"
#include "system_object.h"

namespace zol {

namespace {

constexpr const char* kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

constexpr const char* kCurrencies[] = {
#include "currencies.inc"
};
constexpr uint32_t CURRENCY_COUNT = sizeof kCurrencies / sizeof kCurrencies[0];

inline uint8_t ascii_upper(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

}  // namespace

int locale_month_abbreviation(int32_t month, uint32_t out[3]) {
    if (month < 1 || month > 12) return -1;
    if (!system_object()) {
        const char* name = kMonths[month - 1];
        for (int i = 0; i < 3; i++) out[i] = uint8_t(name[i]);
        return 3;
    }
    const Cell* months = system_locale_months();
    if (!months) return -1;
    Series* s = cell_series(months);
    uint64_t at = uint64_t(series_index(months)) + uint32_t(month - 1);
    if (at >= s->used() || !cell_is(s->cells() + at, TYPE_STRING)) return -1;
    const Cell* name = s->cells() + at;
    uint32_t length = string_length(name);
    int n = 0;
    for (; n < 3 && uint32_t(n) < length; n++) out[n] = string_char_at(name, series_index(name) + uint32_t(n));
    return n;
}

int32_t currency_index(const uint8_t* code, size_t length) {
    if (system_currencies()) return system_currency_index(code, length);
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

const char* currency_code(uint32_t index) {
    if (!system_currencies()) return currency_builtin_code(index);
    static char code[4];
    return system_currency_code(index, code) ? code : nullptr;
}

uint32_t currency_builtin_count() { return CURRENCY_COUNT; }

const char* currency_builtin_code(uint32_t index) {
    return index >= 1 && index <= CURRENCY_COUNT ? kCurrencies[index - 1] : nullptr;
}

int32_t locale_money_digits() { return system_money_digits(); }

}  // namespace zol
