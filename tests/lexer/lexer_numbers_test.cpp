// The lexer's numbers, times, dates and money: source text and what it loads as, the refusals of each form,
// and the text scanners that the datatypes' conversions share with the lexer.
#include "runtime/scan_number.h"
#include "tests/lexer/lexer_support.h"

namespace zol::test {
namespace {

class LexerNumbers : public LexerTest {
protected:
    // The one value a text loads as (or its error).
    std::string value(const std::string& text) {
        std::string shown = load(text);
        if (shown.size() >= 2 && shown.front() == '[' && shown.back() == ']') return shown.substr(1, shown.size() - 2);
        return shown;
    }
    void check_values(std::initializer_list<LoadCase> cases) {
        for (const LoadCase& c : cases) EXPECT_EQ(value(c.text), c.expected) << "source: " << c.text;
    }
    // Only the error id, for tables of refusals.
    void check_invalid(const char* type, std::initializer_list<const char*> texts) {
        for (const char* t : texts) {
            std::string shown = load(t);
            EXPECT_EQ(shown.rfind(std::string("invalid ") + type + " ", 0), 0u) << "source: " << t << " gave " << shown;
        }
    }
};

TEST_F(LexerNumbers, Integers) {
    check_values({
        {"0", "0"},
        {"+7", "7"},
        {"-7", "-7"},
        {"2147483647", "2147483647"},
        {"-2147483648", "-2147483648"},
        {"1'000'000", "1000000"},
        {"1'", "1"},
        // an integer overflows by value, not by its number of characters
        {"-1000000000", "-1000000000"},
        {"+1000000000", "1000000000"},
        {"00000000001", "1"},
        {"000000000002147483647", "2147483647"},
        // beyond 32 bits the number is a float
        {"2147483648", "float 2147483648"},
        {"-2147483649", "float -2147483649"},
        {"1'000'000'000'000", "float 1000000000000"},
        // hexadecimal
        {"FFh", "255"},
        {"0Fh", "15"},
        {"12h", "18"},
        {"1Eh", "30"},
        {"DEADBEEFh", "-559038737"},
        {"7FFFFFFFh", "2147483647"},
    });
    check_invalid("integer!", {"1''0", "1h", "ABCDEF123h", "123456789h"});
    EXPECT_EQ(load("Ah"), "invalid word! near \"Ah\" \"(line 1)\"") << "one letter and h is a word gone wrong";
}

TEST_F(LexerNumbers, FloatsAndPercents) {
    check_values({
        {"1.5", "float 1.5"},
        {".5", "float 0.5"},
        {"-.5", "float -0.5"},
        {"1.", "float 1"},
        {"1e5", "float 100000"},
        {"1E5", "float 100000"},
        {"1.5e-3", "float 0.0015"},
        {"2.5E+2", "float 250"},
        {"1'000.5", "float 1000.5"},
        {"1.2'5", "float 1.25"},
        {"1.#INF", "float inf"},
        {"-1.#inf", "float -inf"},
        {"+1.#Inf", "float inf"},
        {"1.#NaN", "float nan"},
        {"50%", "50%"},
        {"12.5%", "12.5%"},
        {"-.5%", "-0.5%"},
        {"1E2%", "100%"},
    });
    check_invalid("float!", {"1E", ".5e", "1.#X", "1.#INFX", "2.#INF", "1.#1", "1e+"});
    std::string long_float = "1." + std::string(311, '1');  // 313 characters
    check_invalid("float!", {long_float.c_str()});
    EXPECT_EQ(value("1." + std::string(310, '0')), "float 1") << "312 characters are still read";
}

TEST_F(LexerNumbers, TuplesAndPairs) {
    check_values({
        {"1.2.3", "1.2.3"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255", "255.255.255"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"001.02.3", "1.2.3"},
        {"1x2", "1x2"},
        {"-1x-2", "-1x-2"},
        {"10X+20", "10x20"},
        {"1'000x2", "1000x2"},
    });
    check_invalid("tuple!", {"1.256.3", "1.2.", "1.2.3.4.5.6.7.8.9.10.11.12.13", "1.2.99999999999"});
    check_invalid("pair!", {"1.5x2", "1x2.5", "1x2e3", "1x99999999999"});
}

TEST_F(LexerNumbers, Times) {
    check_values({
        {"12:30", "time 45000"},
        {"0:0", "time 0"},
        {"1:2:3", "time 3723"},
        {"1:2:3.5", "time 3723.5"},
        {"12:30.5", "time 750.5"},  // a fraction after the second number: minutes and seconds
        {"-0:30", "time -1800"},
        {"-1:30", "time -5400"},
        {"+1:00", "time 3600"},
        {"1:75", "time 8100"},
        {"100:00", "time 360000"},
        {"1'000:00", "time 3600000"},
    });
    check_invalid("time!", {"12:", "1:2:", "1:2:3:4", "1:2.3.4", "99999999999:00"});
}

TEST_F(LexerNumbers, DatesInEveryForm) {
    check_values({
        // day, month and year, with - or /
        {"1-Jan-2000", "date 2000-1-1"},
        {"1/Jan/2000", "date 2000-1-1"},
        {"31-december-1999", "date 1999-12-31"},
        {"5-Sept-2024", "date 2024-9-5"},
        {"5-Jun-99", "date 1999-6-5"},
        {"5-Jun-49", "date 2049-6-5"},
        {"5-Jun-0099", "date 99-6-5"},  // four digits keep the year as written
        {"1/1/99", "date 1999-1-1"},
        {"10/12/05", "date 2005-12-10"},
        {"29-Feb-2000", "date 2000-2-29"},
        {"1/Jan/-44", "date -44-1-1"},
        // year first
        {"2000-01-02", "date 2000-1-2"},
        {"2020-1-31", "date 2020-1-31"},
        {"2024/12/25", "date 2024-12-25"},
        // week and ordinal dates
        {"2020-W01", "date 2019-12-30"},
        {"2020-W01-1", "date 2019-12-30"},
        {"2021-W01-5", "date 2021-1-8"},
        {"2020-W53-7", "date 2021-1-3"},
        {"2020-001", "date 2020-1-1"},
        {"2020-366", "date 2020-12-31"},
        {"2021-060", "date 2021-3-1"},
        // with a time: the cell holds UTC, the zone in minutes
        {"1-Jan-2000/10:30", "date 2000-1-1 utc 37800"},
        {"1-Jan-2000/10:30:15.5", "date 2000-1-1 utc 37815.5"},
        {"1-Jan-2000/10:30+2:00", "date 2000-1-1 utc 30600 zone 120"},
        {"1-Jan-2000/1:00+2:00", "date 2000-1-1 utc -3600 zone 120"},
        {"1-Jan-2000/10:00-5:30", "date 2000-1-1 utc 55800 zone -330"},
        {"1-Jan-2000/10:00-15:45", "date 2000-1-1 utc 92700 zone -945"},
        {"1-Jan-2000/10:00Z", "date 2000-1-1 utc 36000"},
        {"2020-01-01T12:30:00Z", "date 2020-1-1 utc 45000"},
        {"2020-01-01T12:30+01:00", "date 2020-1-1 utc 41400 zone 60"},
        {"2020-W01-1T10:00", "date 2019-12-30 utc 36000"},
        {"2020-366/23:59:59", "date 2020-12-31 utc 86399"},
        // basic ISO
        {"20200102T1030Z", "date 2020-1-2 utc 37800"},
        {"20200102T103015", "date 2020-1-2 utc 37815"},
        {"20200102T103015.25+0100", "date 2020-1-2 utc 34215.25 zone 60"},
        {"20200102T1030", "date 2020-1-2 utc 37800"},
    });
    check_invalid("date!", {
        "29-Feb-2001", "31-Apr-2000", "0-Jan-2000", "1-Foo-2000", "1-Ja-2000", "1-13-2000", "2000-00-01",
        "1-Jan/2000",                       // two different separators
        "1-Jan-2000/24:00", "1-Jan-2000/10:60", "1-Jan-2000/10:00:60", "1-Jan-2000/10",
        "1-Jan-10000", "1-Jan-99999999",  // years beyond the date range are refused, not wrapped
        "1-Jan-2000/10:00+16:00", "1-Jan-2000/10:00-16:00", "1-Jan-2000/10:00+15:50",  // zones that do not fit
        "2021-W53", "2020-W00", "2020-W01-8", "2021-366", "2020-000", "12345-01-01",
        "20200102T2500", "1-Jan-2000x", "2020-01-01T"});
}

TEST_F(LexerNumbers, Money) {
    check_values({
        {"$1", "$1.00000"},
        {"$1.50", "$1.50000"},
        {"$0", "$0.00000"},
        {"-$1'000.25", "-$1000.25000"},
        {"+$2", "$2.00000"},
        {"USD$1.50", "USD$1.50000"},
        {"eur$3", "EUR$3.00000"},
        {"-USD$1", "-USD$1.00000"},
        {"$0001'000.5", "$1000.50000"},
        {"$1.12345", "$1.12345"},
        {"$1.1'2", "$1.12000"},
        {"$12345678901234567", "$12345678901234567.00000"},
        {"$000000000000000000001", "$1.00000"},  // leading zeros are not digits of the amount
    });
    check_invalid("money!", {"US$1", "USDX$1", "XXX$1", "$1.123456", "$1.", "$1''0", "$1'", "$1.'5", "$1234567890123456789",
                             "$123456789012345678", "-$"});
}

TEST(LexerScanners, TupleAndMoneyOverTextUnits) {
    // The scanners that to tuple! and to money! use read 1-, 2- and 4-byte units alike.
    struct Case {
        const char* text;
        bool ok;
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        auto units = [unit](const char* text) {
            std::string out;
            for (const char* p = text; *p; p++) {
                out += *p;
                out.append(unit - 1, '\0');
            }
            return out;
        };
        for (Case c : {Case{"1.2.3", true}, Case{"7", true}, Case{"1.2", true}, Case{"1..2", false}, Case{"256.1.1", false},
                       Case{"1.2.a", false}, Case{"", false}}) {
            std::string u = units(c.text);
            Cell t;
            int error;
            scan_tuple(reinterpret_cast<const uint8_t*>(u.data()), unit, std::strlen(c.text), &error, &t);
            EXPECT_EQ(error == SCAN_OK, c.ok) << c.text << " unit " << unit;
            if (c.ok) {
                EXPECT_GE(tuple_length(&t), 3u) << "tuples are padded to three bytes";
            }
        }
        for (Case c : {Case{"$1,50", true}, Case{"CHF$2", true}, Case{"-$3.5", true}, Case{"$", false}, Case{"1", false}, Case{"$1,", false}}) {
            std::string u = units(c.text);
            Cell m;
            int error;
            scan_money(reinterpret_cast<const uint8_t*>(u.data()), std::strlen(c.text), unit, &m, &error);
            EXPECT_EQ(error == SCAN_OK, c.ok) << c.text << " unit " << unit;
        }
    }
    // A wide unit is never read as the character in its low byte.
    const uint8_t wide[] = {'$', 0, '1', 1};
    Cell m;
    int error;
    scan_money(wide, 2, 2, &m, &error);
    EXPECT_EQ(error, SCAN_INVALID);
}

}  // namespace
}  // namespace zol::test
