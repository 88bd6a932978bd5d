// libFuzzer target for the number scanners: arbitrary bytes, read as 1-, 2- and 4-byte units, must scan or be
// refused without reading out of bounds. What scans is checked against the C library's reading of the same
// text, and must come back unchanged through its own text (integer_to_decimal, the molded float).
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/scan_number.h"
#include "runtime/datatypes/integer.h"
#include "runtime/dtoa.h"

namespace {

using zol::SCAN_INVALID;
using zol::SCAN_OK;
using zol::SCAN_OVERFLOW;

uint32_t unit_at(const uint8_t* p, uint32_t unit, size_t i) {
    uint32_t v = 0;
    for (uint32_t b = 0; b < unit; b++) v |= uint32_t(p[i * unit + b]) << (8 * b);
    return v;
}

void check(bool ok) {
    if (!ok) std::abort();
}

struct Scanned {
    int integer_error;
    int32_t integer;
    int float_error;
    double value;
};

Scanned scan_all(const uint8_t* units, uint32_t unit, size_t count) {
    Scanned s;
    s.integer = zol::scan_integer(units, unit, count, &s.integer_error);
    s.value = zol::scan_float(units, unit, count, &s.float_error);
    return s;
}

// The integer's digits without separators, read by strtoll.
void check_integer(const std::string& text, int error, int32_t v) {
    check(error == SCAN_OK || error == SCAN_INVALID || error == SCAN_OVERFLOW);
    if (error != SCAN_OK) {
        check(v == 0);
        if (error == SCAN_INVALID) return;
    }
    std::string digits;
    for (char c : text) {
        if (c != '\'') digits += c;
    }
    size_t first = digits[0] == '+' || digits[0] == '-';
    check(digits.size() > first && digits.find_first_not_of("0123456789", first) == std::string::npos);
    size_t nonzero = digits.find_first_not_of('0', first);
    bool fits = nonzero == std::string::npos || digits.size() - nonzero <= 10;
    long long expected = fits ? std::strtoll(digits.c_str(), nullptr, 10) : 0;
    fits &= expected >= -2147483648LL && expected <= 2147483647LL;
    if (error == SCAN_OVERFLOW) {
        check(!fits);
        return;
    }
    check(fits && expected == v);
    const char* back = zol::integer_to_decimal(v);
    int again = 99;
    check(zol::scan_integer(reinterpret_cast<const uint8_t*>(back), 1, std::strlen(back), &again) == v);
    check(again == SCAN_OK);
}

// The float's text with "," read as "." and the separators dropped, read by strtod (correctly rounded in
// the C library, and a reading independent of the one under test).
void check_float(const std::string& text, const uint8_t* units, uint32_t unit, size_t count, int error, double v) {
    check(error == SCAN_OK || error == SCAN_INVALID);
    int percent_error = 99;
    double percent = zol::scan_float(units, unit, count, &percent_error, -2);
    check(percent_error == error);
    if (error != SCAN_OK) return;
    check(text.size() <= zol::SCAN_FLOAT_MAX_LENGTH);
    std::string plain;
    for (char c : text) {
        if (c != '\'') plain += c == ',' ? '.' : c;
    }
    char* end = nullptr;
    double expected = std::strtod(plain.c_str(), &end);
    check(end == plain.c_str() + plain.size());
    check(std::bit_cast<uint64_t>(expected) == std::bit_cast<uint64_t>(v));
    if (std::isfinite(v) && v != 0.0 && std::isfinite(percent) && std::fabs(percent) > 1e-300) {
        check(std::fabs(percent - v / 100) <= std::fabs(v / 100) * 1e-15);
    }
    if (std::isfinite(v)) {
        const char* molded = zol::dtoa_form_float(v, 0, true);
        int again = 99;
        double back = zol::scan_float(reinterpret_cast<const uint8_t*>(molded), 1, std::strlen(molded), &again);
        check(again == SCAN_OK && std::bit_cast<uint64_t>(back) == std::bit_cast<uint64_t>(v));
    }
}

void run(const uint8_t* units, uint32_t unit, size_t count) {
    Scanned s = scan_all(units, unit, count);
    std::string text;
    bool ascii = true;
    for (size_t i = 0; i < count; i++) {
        uint32_t c = unit_at(units, unit, i);
        ascii &= c < 128 && c != 0;
        text += char(c);
    }
    if (!ascii) {
        // No scanner reads past ASCII, nor takes a wide unit for the character in its low byte.
        bool wide = false;
        for (size_t i = 0; i < count; i++) wide |= unit_at(units, unit, i) >= 128;
        if (wide) check(s.integer_error == SCAN_INVALID && s.float_error == SCAN_INVALID);
        if (wide) return;
    }
    if (unit > 1) {
        // The same text in 1-byte units scans to the same results.
        std::vector<uint8_t> narrow(text.begin(), text.end());
        Scanned n = scan_all(narrow.data(), 1, count);
        check(n.integer_error == s.integer_error && n.integer == s.integer && n.float_error == s.float_error);
        check(std::bit_cast<uint64_t>(n.value) == std::bit_cast<uint64_t>(s.value));
    }
    if (text.find('\0') != std::string::npos) {
        check(s.integer_error == SCAN_INVALID && s.float_error == SCAN_INVALID);
        return;
    }
    check_integer(text, s.integer_error, s.integer);
    check_float(text, units, unit, count, s.float_error, s.value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        // A copy of exactly the units, so that any read past them is caught.
        size_t count = size / unit;
        std::vector<uint8_t> units(data, data + count * unit);
        run(units.data(), unit, count);
    }
    return 0;
}
