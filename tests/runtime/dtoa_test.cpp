// Float and text conversion: digit strings, the molded layout, correctly rounded reading, and round trips.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime/dtoa.h"

namespace zol::test {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

uint64_t bits(double d) { return std::bit_cast<uint64_t>(d); }

double read(const std::string& text, int extra = 0, ptrdiff_t* left = nullptr) {
    ptrdiff_t unused;
    return dtoa_string_to_float(text.data(), text.data() + text.size(), extra, left ? left : &unused);
}

TEST(Dtoa, Digits) {
    struct Case {
        double value;
        int limit;
        const char* digits;
        int decpt;
    } cases[] = {
        {0.1, 0, "1", 0},
        {123.456, 0, "123456", 3},
        {100.0, 0, "1", 3},
        {1e17, 0, "1", 18},
        {0.30000000000000004, 0, "30000000000000004", 0},
        {5e-324, 0, "5", -323},
        {std::numeric_limits<double>::max(), 0, "17976931348623157", 309},
        {1.23456789, 6, "123457", 1},
        {100.0, 5, "1", 3},          // trailing zeros never show
        {0.125, 2, "12", 0},         // an exact tie goes to even
        {0.375, 2, "38", 0},
        {2.5, 1, "2", 1},
        {3.5, 1, "4", 1},
        {9.96, 2, "1", 2},           // rounding carries into a new digit
        {0.1, 17, "10000000000000001", 0},
        {0.1, 20, "10000000000000000555", 0},  // digits past the shortest are the exact expansion's
        {-2.5, 0, "25", 1},
    };
    for (const Case& c : cases) {
        int decpt = 0, count = 0;
        bool negative = true;
        std::string digits = dtoa_digits(c.value, c.limit, &decpt, &count, &negative, false);
        EXPECT_EQ(digits, c.digits) << c.value << " limit " << c.limit;
        EXPECT_EQ(decpt, c.decpt) << c.value << " limit " << c.limit;
        EXPECT_EQ(count, int(digits.size()));
        EXPECT_EQ(negative, c.value < 0) << c.value;
    }
}

TEST(Dtoa, DigitsOfSpecialValues) {
    struct Case {
        double value;
        bool point;
        const char* text;
        int decpt;
        bool negative;
    } cases[] = {
        {INF, false, "1.#INF", DTOA_DECPT_SPECIAL, false},
        {-INF, true, "-1.#INF", DTOA_DECPT_SPECIAL, true},
        {std::numeric_limits<double>::quiet_NaN(), true, "1.#NaN", DTOA_DECPT_SPECIAL, false},
        {-std::numeric_limits<double>::quiet_NaN(), true, "1.#NaN", DTOA_DECPT_SPECIAL, false},  // no sign shows
        {0.0, true, "0.0", DTOA_DECPT_ZERO, false},
        {-0.0, true, "-0.0", DTOA_DECPT_ZERO, true},
        {0.0, false, "0", DTOA_DECPT_ZERO, false},
        {-0.0, false, "-0", DTOA_DECPT_ZERO, true},
    };
    for (const Case& c : cases) {
        int decpt = 0, count = 0;
        bool negative = !c.negative;
        std::string text = dtoa_digits(c.value, 0, &decpt, &count, &negative, c.point);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(decpt, c.decpt) << c.text;
        EXPECT_EQ(negative, c.negative) << c.text;
        EXPECT_EQ(count, int(text.size())) << c.text;
    }
}

TEST(Dtoa, FormFloat) {
    struct Case {
        double value;
        int limit;
        bool point;
        const char* text;
    } cases[] = {
        {0.1, 0, true, "0.1"},
        {100.0, 0, true, "100.0"},
        {100.0, 0, false, "100"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e17, 0, true, "1.0e17"},
        {1.2345678901234568e17, 0, true, "1.2345678901234568e17"},
        {12345678901234568.0, 0, true, "12345678901234568.0"},  // decpt 17: still fixed
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {1.5e-7, 0, true, "0.00000015"},  // decpt -6, as for 1e-7
        {1.5e-8, 0, true, "1.5e-8"},
        {-0.0, 0, true, "-0.0"},
        {1.5e300, 0, true, "1.5e300"},
        {-1e300, 0, false, "-1e300"},
        {3.0, 0, false, "3"},
        {2e20, 0, false, "2e20"},
        {2e20, 0, true, "2.0e20"},
        {1.23456789, 6, false, "1.23457"},
        {123.456, 0, true, "123.456"},
        {-0.5, 0, true, "-0.5"},
        {0.30000000000000004, 0, true, "0.30000000000000004"},
        {5e-324, 0, true, "5.0e-324"},
        {std::numeric_limits<double>::max(), 0, true, "1.7976931348623157e308"},
        {INF, 0, true, "1.#INF"},
        {-INF, 0, false, "-1.#INF"},
        {std::nan(""), 0, true, "1.#NaN"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(dtoa_form_float(c.value, c.limit, c.point), c.text) << c.value << " limit " << c.limit;
    }
}

TEST(Dtoa, StringToFloat) {
    struct Case {
        const char* text;
        int extra;
        double value;
        ptrdiff_t left;
    } cases[] = {
        {"0.1", 0, 0.1, 0},
        {"+5", 0, 5.0, 0},
        {"1.5E3", 0, 1500.0, 0},
        {"1.5e+3", 0, 1500.0, 0},
        {"25e-1", 0, 2.5, 0},
        {"000123.4500", 0, 123.45, 0},
        {"5.", 0, 5.0, 0},
        {".5", 0, 0.5, 0},
        {"12.5", -2, 0.125, 0},  // a percent literal
        {"7", -2, 0.07, 0},      // the literal 0.07, not 7 times an inexact 0.01
        {"1e400", 0, INF, 0},
        {"-1e400", 0, -INF, 0},
        {"1e99999999999999999999", 0, INF, 0},
        {"1e-99999999999", 0, 0.0, 0},
        {"0e99999999", 0, 0.0, 0},
        {"1.7976931348623158e308", 0, std::numeric_limits<double>::max(), 0},
        {"1.7976931348623159e308", 0, INF, 0},
        {"2.4703282292062328e-324", 0, 5e-324, 0},  // just above half the smallest subnormal
        {"2.4703282292062327e-324", 0, 0.0, 0},     // just below
        {"9007199254740993", 0, 9007199254740992.0, 0},  // a tie goes to even
        {"1.#INF", 0, INF, 0},
        {"-1.#INF", 0, -INF, 0},
        {"1.#inf and more", 0, INF, 0},  // the rest is not looked at
        {"001.#INF", 0, INF, 0},
        {"1x", 0, 1.0, 1},
        {"1e", 0, 1.0, 1},
        {"1e+", 0, 1.0, 2},
        {"1.5.2", 0, 1.5, 2},
        {"", 0, 0.0, 0},
        {"x", 0, 0.0, 1},
        {".", 0, 0.0, 1},
        {"--1", 0, -0.0, 3},
    };
    for (const Case& c : cases) {
        ptrdiff_t left = -1;
        double got = read(c.text, c.extra, &left);
        EXPECT_EQ(bits(got), bits(c.value)) << c.text << " gave " << got;
        EXPECT_EQ(left, c.left) << c.text;
    }
    EXPECT_EQ(bits(read("-")), bits(-0.0)) << "an empty digit string keeps its sign";
    EXPECT_EQ(bits(read("-0")), bits(-0.0));
    EXPECT_EQ(bits(read("1.#NaN")), 0x7FF8000000000000u);
    EXPECT_EQ(bits(read("-1.#nan")), 0x7FF8000000000000u) << "always the positive quiet NaN";
}

TEST(Dtoa, StringToFloatKeepsEveryDigitThatDecides) {
    // Just above the tie between 2^53 and 2^53 + 2, by a digit far past the first 800.
    std::string above = "9007199254740993." + std::string(900, '0') + "1";
    EXPECT_EQ(read(above), 9007199254740994.0);
    std::string tie = "9007199254740993." + std::string(900, '0');
    EXPECT_EQ(read(tie), 9007199254740992.0);
    std::string integer_above = "9007199254740993" + std::string(900, '0') + "1e-901";
    EXPECT_EQ(read(integer_above), 9007199254740994.0) << "dropped integer digits keep their weight";
    EXPECT_EQ(read("1" + std::string(1000, '0')), INF);
    EXPECT_EQ(read("0." + std::string(1000, '0') + "1e1001"), 1.0);
    // The exact expansion of the smallest subnormal (751 significant digits) reads back to it.
    int decpt, count;
    bool negative;
    std::string digits = dtoa_digits(5e-324, 800, &decpt, &count, &negative, false);
    EXPECT_EQ(digits.size(), 751u);
    EXPECT_EQ(read("0." + digits + "e" + std::to_string(decpt)), 5e-324);
}

TEST(Dtoa, MoldedTextReadsBackToTheSameBitsAndIsShortest) {
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 20000; i++) {
        double d = std::bit_cast<double>(rng());
        if (!std::isfinite(d)) continue;
        std::string text = dtoa_form_float(d, 0, true);
        ASSERT_EQ(bits(read(text)), bits(d)) << text;
        int decpt, count;
        bool negative;
        dtoa_digits(d, 0, &decpt, &count, &negative, false);
        if (count > 1) {
            std::string shorter = dtoa_form_float(d, count - 1, true);
            EXPECT_NE(bits(read(shorter)), bits(d)) << text << " has a shorter form " << shorter;
        }
    }
}

}  // namespace
}  // namespace zol::test
