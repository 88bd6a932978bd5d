// date!'s calendar against a table of days that Python's datetime computed (tools/gen_date_oracle.py), and
// against itself over every day a date can hold.
#include <filesystem>

#include "runtime/datatypes/date.h"
#include "tests/generated.h"
#include "tests/support.h"

namespace zol::test {
namespace {

struct OracleDay {
    int32_t year, month, day, number, weekday, yearday, week, isoweek, leap;
};
const OracleDay kOracle[] = {
#include "date_oracle.inc"
};

TEST(DateCalendar, AgreesWithTheOracleOnEveryTabledDay) {
    for (const OracleDay& o : kOracle) {
        SCOPED_TRACE(std::to_string(o.year) + "-" + std::to_string(o.month) + "-" + std::to_string(o.day));
        ASSERT_EQ(date_to_days(o.year, o.month, o.day), o.number);
        int32_t y, m, d;
        date_from_days(o.number, &y, &m, &d);
        ASSERT_EQ(y, o.year);
        ASSERT_EQ(m, o.month);
        ASSERT_EQ(d, o.day);
        ASSERT_EQ(date_weekday(o.number), o.weekday);
        ASSERT_EQ(date_yearday(o.number), o.yearday);
        ASSERT_EQ(date_week(o.number), o.week);
        ASSERT_EQ(date_isoweek(o.number), o.isoweek);
        ASSERT_EQ(date_leap_year_q(o.year), o.leap != 0);
    }
}

// Every day number from the first day of year -16384 to the last of 16383 reads back as itself, and its
// civil date follows the previous day's.
TEST(DateCalendar, DayNumbersAndCivilDatesRoundTripOverTheWholeRange) {
    int32_t first = date_to_days(DATE_YEAR_MIN, 1, 1), last = date_to_days(DATE_YEAR_MAX, 12, 31);
    EXPECT_TRUE(date_days_fit(first) && date_days_fit(last));
    EXPECT_FALSE(date_days_fit(int64_t(first) - 1) || date_days_fit(int64_t(last) + 1));
    int32_t py, pm, pd;
    date_from_days(first - 1, &py, &pm, &pd);
    EXPECT_TRUE(py == DATE_YEAR_MIN - 1 && pm == 12 && pd == 31);
    for (int32_t n = first; n <= last; n++) {
        int32_t y, m, d;
        date_from_days(n, &y, &m, &d);
        bool next_day = y == py && m == pm && d == pd + 1;
        bool next_month = y == py && m == pm + 1 && d == 1 && pd == date_days_in_month(py, pm);
        bool next_year = y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31;
        ASSERT_TRUE(next_day || next_month || next_year) << n;
        ASSERT_EQ(date_to_days(y, m, d), n);
        py = y, pm = m, pd = d;
    }
}

// Days and months out of range roll into their neighbours.
TEST(DateCalendar, OutOfRangeDaysAndMonthsRoll) {
    EXPECT_EQ(date_to_days(2001, 1, 32), date_to_days(2001, 2, 1));
    EXPECT_EQ(date_to_days(2001, 3, 0), date_to_days(2001, 2, 28));
    EXPECT_EQ(date_to_days(2001, 13, 1), date_to_days(2002, 1, 1));
    EXPECT_EQ(date_to_days(2001, 0, 1), date_to_days(2000, 12, 1));
    EXPECT_EQ(date_to_days(2001, -11, 1), date_to_days(2000, 1, 1));
}

TEST(DateCalendar, CommittedOracleMatchesAFreshGeneration) { expect_fresh_generation("gen_date_oracle.py", "tests/datatypes/date_oracle.inc"); }

}  // namespace
}  // namespace zol::test
