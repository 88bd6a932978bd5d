// date! values: a date of the proleptic Gregorian calendar with an optional time of day and zone, held in the
// cell: word 1 packs year << 17 | month << 12 | time flag << 16 | day << 7 | zone code, words 2 and 3 hold the
// time as a double, the UTC time of day counted from the start of the local date (the local time of day is
// time + zone offset). Calendar arithmetic goes through day numbers, day 0 being 1 March of year 0.
// Only the makers and the calendar routines are here so far; the actions come with the datatype.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

constexpr uint32_t DATE_TIME_FLAG = 0x10000;
constexpr uint32_t DATE_ZONE_MASK = 0x7F;
constexpr uint32_t DATE_ZONE_WEST = 0x40;  // sign bit of the zone code
constexpr int32_t DATE_ZONE_MAX_MINUTES = 15 * 60 + 45;  // what the 4-bit hours and the quarters can hold

bool date_leap_year_q(int32_t year);
int32_t date_days_in_month(int32_t year, int32_t month);
// The day number of a civil date; day and month need not be in range (day 0 is the month's eve).
int32_t date_to_days(int32_t year, int32_t month, int32_t day);
// The day number of a date! value.
int32_t date_days(const Cell* date);
void date_from_days(int32_t days, int32_t* year, int32_t* month, int32_t* day);
// Weekday of a day number, 1 (Monday) to 7 (Sunday).
int32_t date_weekday(int32_t days);
// Day number of the Monday that starts ISO week 1 of the year.
int32_t date_iso_week_start(int32_t year);
// 52 or 53.
int32_t date_iso_weeks_in_year(int32_t year);

// The zone code of an offset from UTC in minutes; the offset must lie within +-DATE_ZONE_MAX_MINUTES and be
// a multiple of 15 (a code holds nothing finer).
uint32_t date_zone_code(int32_t offset_minutes);
int32_t date_zone_minutes(uint32_t zone_code);

// Makes the cell a date! from its parts without normalising. The year must fit -16384..16383, the month 1-12,
// the day 1-31 and the zone offset (minutes) what date_zone_code accepts. With has_time, `time` is the local
// time of day in seconds and is stored converted to UTC by the zone; without it time and zone are 0.
Cell* date_make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_minutes,
                   bool has_time);

// Moves a date within its year as the isoweek, weekday and yearday fields do when set; zone code and time
// flag stay.
void date_set_isoweek(Cell* date, int32_t week);
void date_set_weekday(Cell* date, int32_t weekday);
void date_set_yearday(Cell* date, int32_t yearday);

// Fields of a date cell.
inline int32_t date_year(const Cell* d) { return int32_t(d->w1) >> 17; }
inline int32_t date_month(const Cell* d) { return int32_t((d->w1 >> 12) & 15); }
inline int32_t date_day(const Cell* d) { return int32_t((d->w1 >> 7) & 31); }
inline bool date_has_time(const Cell* d) { return (d->w1 & DATE_TIME_FLAG) != 0; }
inline uint32_t date_zone(const Cell* d) { return d->w1 & DATE_ZONE_MASK; }
inline double date_time(const Cell* d) { return cell_float(d); }

}  // namespace zol
