// money! arithmetic and rounding against tables that Python's decimal module worked out
// (tools/gen_money_oracle.py), and the committed currency list against its generator.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "runtime/datatypes/money.h"
#include "runtime/memory.h"
#include "runtime/scan_number.h"
#include "runtime/values/mold.h"
#include "runtime/values/system_object.h"
#include "tests/generated.h"
#include "tests/outcome.h"

namespace zol::test {
namespace {

struct ArithmeticRow {
    const char *a, *b, *sum, *difference, *product, *quotient, *remainder;
    int order;
};
const ArithmeticRow kArithmetic[] = {
#define MONEY_ARITHMETIC
#include "money_oracle.inc"
#undef MONEY_ARITHMETIC
};

struct RoundingRow {
    const char *value, *scale;
    const char* results[7];  // default, /down, /floor, /ceiling, /even, /half-down, /half-ceiling
};
const RoundingRow kRounding[] = {
#define MONEY_ROUNDING
#include "money_oracle.inc"
#undef MONEY_ROUNDING
};

Cell money(const char* text) {
    Cell m{};
    int error;
    scan_money(reinterpret_cast<const uint8_t*>(text), std::strlen(text), 1, &m, &error);
    EXPECT_EQ(error, SCAN_OK) << text;
    return m;
}

// What the oracle writes for an outcome: the amount as mold/all gives it, or the error's mark.
std::string text_of(const Outcome& o) {
    if (o.error == ERR_SCRIPT_TYPE_LIMIT) return "limit";
    if (o.error == ERR_MATH_ZERO_DIVIDE) return "zero";
    if (o.error != ERR_COUNT) return std::string("error ") + error_info(o.error).word;
    if (cell_is(&o.value, TYPE_FLOAT)) return "float " + mold_text(&o.value);
    return mold_text(&o.value, true);
}

class MoneyOracle : public RuntimeTest {};

TEST_F(MoneyOracle, ArithmeticAgreesWithDecimal) {
    for (const ArithmeticRow& r : kArithmetic) {
        SCOPED_TRACE(std::string(r.a) + " and " + r.b);
        Cell a = money(r.a), b = money(r.b);
        EXPECT_EQ(text_of(call_math(TYPE_MONEY, ACT_ADD, a, b)), r.sum);
        EXPECT_EQ(text_of(call_math(TYPE_MONEY, ACT_SUBTRACT, a, b)), r.difference);
        EXPECT_EQ(text_of(call_math(TYPE_MONEY, ACT_REMAINDER, a, b)), r.remainder);
        // Money times money is refused, so the product is taken with the second amount as a float when that
        // is exact, and the quotient of two amounts comes back as the float of the five-digit quotient.
        Outcome q = call_math(TYPE_MONEY, ACT_DIVIDE, a, b);
        if (r.quotient[0] == '$' || r.quotient[0] == '-') {
            Cell exact = money(r.quotient), expected;
            set_float(&expected, money_to_float(&exact));
            EXPECT_EQ(text_of(q), "float " + mold_text(&expected));
        } else {
            EXPECT_EQ(text_of(q), r.quotient);
        }
        int order = g_types.get<ACT_COMPARE>(TYPE_MONEY)(&a, &b, CMP_LESSER);
        EXPECT_EQ(order, r.order);
        EXPECT_EQ(g_types.get<ACT_COMPARE>(TYPE_MONEY)(&a, &b, CMP_EQUAL) == 0, r.order == 0);
    }
}

// Products: the second amount given as an integer when it is whole and fits, so no float rounding enters.
TEST_F(MoneyOracle, ProductsOfWholeFactorsAgreeWithDecimal) {
    int checked = 0;
    for (const ArithmeticRow& r : kArithmetic) {
        Cell b = money(r.b);
        bool whole = true;
        for (int n = 18; n <= 22; n++) whole = whole && money_digit(&b, n) == 0;
        if (!whole || std::fabs(money_to_float(&b)) > 2147483647.0) continue;
        SCOPED_TRACE(std::string(r.a) + " * " + r.b);
        EXPECT_EQ(text_of(call_math(TYPE_MONEY, ACT_MULTIPLY, money(r.a), integer(money_to_integer(&b)))), r.product);
        checked++;
    }
    EXPECT_GT(checked, 100);
}

TEST_F(MoneyOracle, RoundingAgreesWithDecimalInEveryMode) {
    const int modes[7] = {0, DOWN, FLOOR, CEILING, EVEN, HALF_DOWN, HALF_CEILING};
    for (const RoundingRow& r : kRounding) {
        Cell v = money(r.value), s = money(r.scale);
        for (int m = 0; m < 7; m++) {
            SCOPED_TRACE(std::string(r.value) + " to " + r.scale + " mode " + std::to_string(m));
            EXPECT_EQ(text_of(call_round(TYPE_MONEY, v, &s, flags(modes[m]))), r.results[m]);
        }
    }
}

// The system's currency list starts as the built-in one, code for code, so that money made before the system
// object existed (by the built-in scripts) names the same currencies after.
TEST(MoneyTables, TheSystemListStartsAsTheBuiltInList) {
    ASSERT_NE(system_currencies(), nullptr);
    const Cell* list = system_currencies();
    EXPECT_GE(cell_series(list)->used() - series_index(list), currency_builtin_count());
    for (uint32_t i = 1; i <= currency_builtin_count(); i++) {
        char code[4];
        ASSERT_TRUE(system_currency_code(i, code)) << i;
        EXPECT_STREQ(code, currency_builtin_code(i)) << i;
    }
}

TEST(MoneyTables, CommittedOracleMatchesAFreshGeneration) { expect_fresh_generation("gen_money_oracle.py", "tests/datatypes/money_oracle.inc"); }

// The built-in currency list (and the system's, which starts as it) must be what the generator makes from
// Debian's ISO 4217 data, when installed.
TEST(MoneyTables, CommittedCurrenciesMatchAFreshGeneration) {
    if (!std::filesystem::exists("/usr/share/iso-codes/json/iso_4217.json")) GTEST_SKIP() << "iso-codes not installed";
    expect_fresh_generation("gen_currencies.py", "runtime/values/currencies.inc");
}

}  // namespace
}  // namespace zol::test
