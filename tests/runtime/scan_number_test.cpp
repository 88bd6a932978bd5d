// The decimal integer and float scanners, over 1-, 2- and 4-byte units.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "runtime/scan_number.h"

namespace zol::test {
namespace {

// Code points stored as units of the given size, little-endian as string buffers keep them.
std::vector<uint8_t> units(const std::u32string& text, uint32_t unit) {
    std::vector<uint8_t> out;
    for (char32_t c : text) {
        for (uint32_t i = 0; i < unit; i++) out.push_back(uint8_t(uint32_t(c) >> (8 * i)));
    }
    return out;
}

std::u32string wide(const std::string& ascii) { return std::u32string(ascii.begin(), ascii.end()); }

struct IntegerCase {
    std::u32string text;
    int error;
    int32_t value;
};

TEST(ScanNumber, Integer) {
    const IntegerCase cases[] = {
        {U"0", SCAN_OK, 0},
        {U"123", SCAN_OK, 123},
        {U"+7", SCAN_OK, 7},
        {U"-7", SCAN_OK, -7},
        {U"-0", SCAN_OK, 0},
        {U"1'000'000", SCAN_OK, 1000000},
        {U"'1", SCAN_OK, 1},  // separators anywhere
        {U"1'", SCAN_OK, 1},
        {U"1''2", SCAN_OK, 12},
        {U"-'5", SCAN_OK, -5},
        {U"000000000000012", SCAN_OK, 12},
        {U"2147483647", SCAN_OK, 2147483647},
        {U"-2147483648", SCAN_OK, -2147483647 - 1},
        {U"-2'147'483'648", SCAN_OK, -2147483647 - 1},
        {U"2147483648", SCAN_OVERFLOW, 0},
        {U"-2147483649", SCAN_OVERFLOW, 0},
        {U"99999999999999999999999", SCAN_OVERFLOW, 0},
        {U"99999999999999999999999x", SCAN_INVALID, 0},  // a bad character outranks the overflow
        {U"", SCAN_INVALID, 0},
        {U"+", SCAN_INVALID, 0},
        {U"-", SCAN_INVALID, 0},
        {U"'", SCAN_INVALID, 0},
        {U"1a", SCAN_INVALID, 0},
        {U"+-1", SCAN_INVALID, 0},
        {U"1-", SCAN_INVALID, 0},
        {U" 1", SCAN_INVALID, 0},
        {U"1 ", SCAN_INVALID, 0},
        {U"1.0", SCAN_INVALID, 0},
        {U"\uFF11", SCAN_INVALID, 0},     // a fullwidth digit is no decimal digit here
        {U"\u0131", SCAN_INVALID, 0},     // its low byte is "1": no unit is narrowed
        {U"1\U00010031", SCAN_INVALID, 0},
    };
    for (const IntegerCase& c : cases) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            bool fits = true;
            for (char32_t ch : c.text) fits &= uint32_t(ch) < (unit == 4 ? 0xFFFFFFFFu : 1u << (8 * unit));
            if (!fits) continue;
            std::vector<uint8_t> bytes = units(c.text, unit);
            int error = 99;
            int32_t v = scan_integer(bytes.data(), unit, c.text.size(), &error);
            EXPECT_EQ(error, c.error) << "case " << (&c - cases) << " unit " << unit;
            EXPECT_EQ(v, c.value) << "case " << (&c - cases) << " unit " << unit;
        }
    }
}

TEST(ScanNumber, Float) {
    constexpr double INF = std::numeric_limits<double>::infinity();
    struct Case {
        std::string text;
        int error;
        double value;
        int extra;
    } cases[] = {
        {"1.5", SCAN_OK, 1.5, 0},
        {"1,5", SCAN_OK, 1.5, 0},
        {"-1.5", SCAN_OK, -1.5, 0},
        {"+.5", SCAN_OK, 0.5, 0},
        {".5", SCAN_OK, 0.5, 0},
        {"5.", SCAN_OK, 5.0, 0},
        {"42", SCAN_OK, 42.0, 0},
        {"1'000.25", SCAN_OK, 1000.25, 0},
        {"1.2'5", SCAN_OK, 1.25, 0},
        {"1'", SCAN_OK, 1.0, 0},
        {"1e10", SCAN_OK, 1e10, 0},
        {"1E-3", SCAN_OK, 0.001, 0},
        {"1.5e+3", SCAN_OK, 1500.0, 0},
        {".5e1", SCAN_OK, 5.0, 0},
        {"0.1", SCAN_OK, 0.1, 0},
        {"1e400", SCAN_OK, INF, 0},
        {"-0.0", SCAN_OK, -0.0, 0},
        {"12.5", SCAN_OK, 0.125, -2},
        {"50", SCAN_OK, 0.5, -2},
        {"", SCAN_INVALID, 0, 0},
        {".", SCAN_INVALID, 0, 0},
        {"-.", SCAN_INVALID, 0, 0},
        {"+", SCAN_INVALID, 0, 0},
        {"1e", SCAN_INVALID, 0, 0},
        {"1e+", SCAN_INVALID, 0, 0},
        {"1.e5", SCAN_INVALID, 0, 0},
        {"1.'5", SCAN_INVALID, 0, 0},
        {"'1", SCAN_INVALID, 0, 0},
        {"1''0", SCAN_INVALID, 0, 0},
        {"1e1'0", SCAN_INVALID, 0, 0},
        {"--1", SCAN_INVALID, 0, 0},
        {"+-1", SCAN_INVALID, 0, 0},
        {"1-", SCAN_INVALID, 0, 0},
        {"1.5.2", SCAN_INVALID, 0, 0},
        {"1,5,2", SCAN_INVALID, 0, 0},
        {"1.#INF", SCAN_INVALID, 0, 0},
        {"0x10", SCAN_INVALID, 0, 0},
        {"1.5 ", SCAN_INVALID, 0, 0},
        {"e5", SCAN_INVALID, 0, 0},
        {std::string(311, '0') + "1", SCAN_OK, 1.0, 0},
        {std::string(312, '0') + "1", SCAN_INVALID, 0, 0},  // longer than 312 characters
    };
    for (const Case& c : cases) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            std::vector<uint8_t> bytes = units(wide(c.text), unit);
            int error = 99;
            double v = scan_float(bytes.data(), unit, c.text.size(), &error, c.extra);
            EXPECT_EQ(error, c.error) << c.text << " unit " << unit;
            if (c.error == SCAN_OK) {
                EXPECT_EQ(std::bit_cast<uint64_t>(v), std::bit_cast<uint64_t>(c.value)) << c.text << " gave " << v;
            }
        }
    }
}

TEST(ScanNumber, FloatRefusesWideUnitsWhoseLowByteLooksRight) {
    for (uint32_t unit : {2u, 4u}) {
        for (char32_t bad : {U'\u0131', U'\u012E', U'\u0165', U'\uFF11'}) {  // low bytes "1", ".", "e"
            std::u32string text = U"1" + std::u32string(1, bad) + U"5";
            std::vector<uint8_t> bytes = units(text, unit);
            int error = 0;
            scan_float(bytes.data(), unit, text.size(), &error);
            EXPECT_EQ(error, SCAN_INVALID) << std::hex << uint32_t(bad) << " unit " << unit;
        }
    }
}

}  // namespace
}  // namespace zol::test
