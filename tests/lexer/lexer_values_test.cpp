// The makers the lexer builds its values with, for the datatypes whose actions come later: the calendar
// routines and cell layout of date!, money!'s packed digits, tuple! bytes, map! keys, url! decoding.
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "tests/lexer/lexer_support.h"

namespace zol::test {
namespace {

class LexerValues : public RuntimeTest {};

TEST_F(LexerValues, CalendarRoutines) {
    // Day numbers round-trip over four centuries and more, leap days included.
    int32_t previous = date_to_days(1599, 12, 31);
    for (int32_t year = 1600; year <= 2401; year++) {
        for (int32_t month = 1; month <= 12; month++) {
            for (int32_t day = 1; day <= date_days_in_month(year, month); day++) {
                int32_t n = date_to_days(year, month, day);
                ASSERT_EQ(n, previous + 1) << year << "-" << month << "-" << day;
                int32_t y, m, d;
                date_from_days(n, &y, &m, &d);
                ASSERT_TRUE(y == year && m == month && d == day) << year << "-" << month << "-" << day;
                previous = n;
            }
        }
    }
    EXPECT_EQ(date_to_days(0, 3, 1), 0) << "day 0 is 1 March of year 0";
    EXPECT_EQ(date_weekday(date_to_days(2024, 1, 1)), 1) << "a Monday";
    EXPECT_EQ(date_weekday(date_to_days(2000, 1, 1)), 6) << "a Saturday";
    EXPECT_EQ(date_weekday(0), 3) << "day 0 was a Wednesday";
    EXPECT_TRUE(date_leap_year_q(2000));
    EXPECT_FALSE(date_leap_year_q(1900));
    EXPECT_TRUE(date_leap_year_q(2024));
    // ISO weeks: week 1 holds the year's first Thursday.
    EXPECT_EQ(date_iso_week_start(2020), date_to_days(2019, 12, 30));
    EXPECT_EQ(date_iso_week_start(2021), date_to_days(2021, 1, 4));
    EXPECT_EQ(date_iso_weeks_in_year(2020), 53);
    EXPECT_EQ(date_iso_weeks_in_year(2021), 52);
    EXPECT_EQ(date_iso_weeks_in_year(2015), 53);
}

TEST_F(LexerValues, DateCells) {
    Cell d;
    date_make_at(&d, 2000, 1, 1, 3600.0, 120, true);
    EXPECT_EQ(d.header, uint32_t(TYPE_DATE));
    EXPECT_EQ(d.w1, (2000u << 17) | (1u << 12) | DATE_TIME_FLAG | (1u << 7) | (2u << 2));
    EXPECT_EQ(date_time(&d), -3600.0) << "1:00+2:00 is stored as UTC, before the local date started";
    date_make_at(&d, -44, 3, 15, 0, 0, false);
    EXPECT_EQ(date_year(&d), -44);
    EXPECT_EQ(date_month(&d), 3);
    EXPECT_EQ(date_day(&d), 15);
    EXPECT_FALSE(date_has_time(&d));
    // Zone codes: hours in bits 2-5, quarters in bits 0-1, bit 6 west.
    struct Zone {
        int32_t minutes;
        uint32_t code;
    };
    for (Zone z : {Zone{0, 0}, Zone{60, 4}, Zone{-60, 0x44}, Zone{330, 0x16}, Zone{-30, 0x42}, Zone{945, 0x3F}, Zone{-945, 0x7F}}) {
        EXPECT_EQ(date_zone_code(z.minutes), z.code) << z.minutes;
        EXPECT_EQ(date_zone_minutes(z.code), z.minutes) << z.minutes;
    }
    // Moving a date within its year keeps the time and zone.
    date_make_at(&d, 2021, 6, 15, 36000.0, 60, true);
    uint32_t zone_and_flag = d.w1 & (DATE_ZONE_MASK | DATE_TIME_FLAG);
    date_set_isoweek(&d, 1);
    EXPECT_EQ(show(&d), "date 2021-1-4 utc 32400 zone 60");
    date_set_weekday(&d, 7);
    EXPECT_EQ(show(&d), "date 2021-1-10 utc 32400 zone 60");
    date_set_yearday(&d, 60);
    EXPECT_EQ(show(&d), "date 2021-3-1 utc 32400 zone 60");
    EXPECT_EQ(d.w1 & (DATE_ZONE_MASK | DATE_TIME_FLAG), zone_and_flag);
}

TEST_F(LexerValues, MoneyDigitsAndCurrencies) {
    const uint8_t digits[] = "12'345";
    const uint8_t fraction[] = "0607";
    Cell m;
    ASSERT_TRUE(money_make_at_digits(&m, true, reinterpret_cast<const uint8_t*>("eur"), digits, digits + 6, fraction, fraction + 4));
    EXPECT_EQ(m.header, uint32_t(TYPE_MONEY) | HDR_MONEY_SIGN);
    EXPECT_EQ(money_currency(&m), uint32_t(currency_index(reinterpret_cast<const uint8_t*>("EUR"), 3)));
    std::string all;
    for (int n = 1; n <= MONEY_DIGITS; n++) all += char('0' + money_digit(&m, n));
    EXPECT_EQ(all, "0000000000001234506070") << "the units digit is digit 17, tenths digit 18";
    uint8_t bytes[16];
    std::memcpy(bytes, &m, 16);
    EXPECT_EQ(bytes[11], 0x12) << "two digits a byte, the higher one first";
    EXPECT_EQ(bytes[15], 0x70);
    EXPECT_FALSE(money_make_at_digits(&m, false, reinterpret_cast<const uint8_t*>("QQQ"), digits, digits + 1, nullptr, nullptr));
    const uint8_t big[] = "123456789012345678";
    EXPECT_FALSE(money_make_at_digits(&m, false, nullptr, big, big + 18, nullptr, nullptr)) << "18 integer digits do not fit";
    EXPECT_TRUE(money_make_at_digits(&m, false, nullptr, big, big + 17, nullptr, nullptr));
    EXPECT_EQ(currency_index(reinterpret_cast<const uint8_t*>("US"), 2), -1);
    EXPECT_STREQ(currency_code(uint32_t(currency_index(reinterpret_cast<const uint8_t*>("usd"), 3))), "USD");
}

TEST_F(LexerValues, TuplesPairsPoints) {
    const uint8_t b[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    Cell t;
    tuple_make_at(&t, b, 5);
    EXPECT_EQ(t.header, uint32_t(TYPE_TUPLE) | (5u << 19));
    EXPECT_EQ(t.w1, 0x04030201u);
    EXPECT_EQ(t.w2, 0x05u) << "bytes past the length are zero";
    EXPECT_EQ(t.w3, 0u);
    tuple_make_at(&t, b, 1);
    EXPECT_EQ(tuple_length(&t), 3u) << "padded to three bytes";
    EXPECT_EQ(t.w1, 0x01u);
    Cell p;
    pair_make_at(&p, -1, 2);
    EXPECT_EQ(p.w2, 0xFFFFFFFFu);
    EXPECT_EQ(p.w3, 2u);
    point3d_make_at(&p, 1.5f, -2.0f, 0.25f);
    EXPECT_EQ(p.w1, 0x3FC00000u);
    EXPECT_EQ(point_coordinate(&p, 2), 0.25f);
}

TEST_F(LexerValues, MapKeys) {
    // Keys are normalised (word kinds to set-word!, but refinements and issues kept) and copied unless
    // fresh; a later equal key replaces the earlier value.
    GcRoot pairs;
    set_series(pairs.get(), TYPE_BLOCK, series_alloc_cells(8));
    auto add = [&](const Cell& c) { *block_alloc_tail(pairs.get()) = c; };
    Cell w = word_load("k");
    Cell lit = w;
    cell_set_type(&lit, TYPE_LIT_WORD);
    Cell r = refinement_load("r");
    Cell one, two, three;
    set_integer(&one, 1);
    set_integer(&two, 2);
    set_integer(&three, 3);
    add(w);
    add(one);
    add(r);
    add(two);
    add(lit);
    add(three);
    GcRoot key_text;
    make_source(key_text, "text");
    add(*key_text);
    add(one);
    GcRoot map;
    map_make_at(map.get(), cell_series(pairs.get())->cells(), 8, false);
    EXPECT_EQ(show(map.get()), "#[k: 3 /r 2 \"text\" 1] count 3");
    Cell pairs_block;
    set_series(&pairs_block, TYPE_BLOCK, map->w2);
    EXPECT_NE(cell_series(&pairs_block)->cells()[4].w2, key_text->w2) << "a string key is a copy";
    EXPECT_TRUE(map_key_type_q(TYPE_DATE));
    EXPECT_FALSE(map_key_type_q(TYPE_BLOCK));
    EXPECT_FALSE(map_key_type_q(TYPE_NONE));
}

TEST_F(LexerValues, UrlDecoding) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"a%20b", "a b"},       {"%41%42", "AB"},        {"%c3%a9", "é"},     {"%C3", "%C3"},
        {"%C3%41", "%C3A"},     {"%E2%82%AC!", "€!"},    {"%zz", "%zz"},      {"100%", "100%"},
        {"%", "%"},             {"é%20", "é "},          {"%F0%9F%98%80", "😀"}, {"%ED%A0%80", "%ED%A0%80"},
    };
    for (const Case& c : cases) {
        GcRoot u;
        ASSERT_TRUE(url_load_at(u.get(), reinterpret_cast<const uint8_t*>(c.text), std::strlen(c.text), TYPE_URL)) << c.text;
        EXPECT_EQ(cell_type(u.get()), TYPE_URL);
        EXPECT_EQ(string_to_utf8(u.get()), c.expected) << c.text;
    }
    GcRoot u;
    EXPECT_FALSE(url_load_at(u.get(), reinterpret_cast<const uint8_t*>("a\xC3"), 2, TYPE_URL)) << "raw text must be UTF-8";
}

}  // namespace
}  // namespace zol::test
