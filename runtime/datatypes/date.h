// date! values: a date of the proleptic Gregorian calendar with an optional time of day and zone, held in the
// cell: word 1 packs year << 17 | month << 12 | time flag << 16 | day << 7 | zone code, words 2 and 3 hold the
// time as a double, the UTC time of day counted from the start of the local date (the local time of day is
// time + zone offset, and lies in 0 to 86400 after every normalisation). Calendar arithmetic goes through day
// numbers, day 0 being 1 March of year 0; years run from -16384 to 16383, what the packed word holds.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

constexpr uint32_t DATE_TIME_FLAG = 0x10000;
constexpr uint32_t DATE_ZONE_MASK = 0x7F;
constexpr uint32_t DATE_ZONE_WEST = 0x40;  // sign bit of the zone code
constexpr int32_t DATE_ZONE_MAX_MINUTES = 15 * 60 + 45;  // what the 4-bit hours and the quarters can hold
constexpr int32_t DATE_YEAR_MIN = -16384;
constexpr int32_t DATE_YEAR_MAX = 16383;

bool date_leap_year_q(int32_t year);
int32_t date_days_in_month(int32_t year, int32_t month);
// The day number of a civil date; day and month need not be in range (day 0 is the month's eve, month 13
// January of the next year).
int32_t date_to_days(int32_t year, int32_t month, int32_t day);
// The day number of a date! value.
int32_t date_days(const Cell* date);
void date_from_days(int32_t days, int32_t* year, int32_t* month, int32_t* day);
// Whether a day number's year fits the packed word.
bool date_days_fit(int64_t days);
// Weekday of a day number, 1 (Monday) to 7 (Sunday).
int32_t date_weekday(int32_t days);
// Day number of the Monday that starts ISO week 1 of the year.
int32_t date_iso_week_start(int32_t year);
// 52 or 53.
int32_t date_iso_weeks_in_year(int32_t year);
// Day of the year (1-based), the week of the year (weeks start on Sunday, week 1 holds 1 January) and the
// ISO week of a day number.
int32_t date_yearday(int32_t days);
int32_t date_week(int32_t days);
int32_t date_isoweek(int32_t days);

// The zone code of an offset from UTC in minutes; the offset must lie within +-DATE_ZONE_MAX_MINUTES and be
// a multiple of 15 (a code holds nothing finer).
uint32_t date_zone_code(int32_t offset_minutes);
int32_t date_zone_minutes(uint32_t zone_code);

// Makes the cell a date! from its parts without normalising. The year must fit -16384..16383, the month 1-12,
// the day 1-31 and the zone offset (minutes) what date_zone_code accepts. With has_time, `time` is the local
// time of day in seconds and is stored converted to UTC by the zone; without it time and zone are 0.
Cell* date_make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_minutes,
                   bool has_time);
// A UTC date with its time, for file times.
Cell* date_make_at_hms(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                       int32_t second, int32_t nanosecond);
// A new date at the block's tail (allocates) or on the argument stack from its packed word and time, as
// they are.
Cell* date_make_in(const Cell* block, uint32_t packed, double time);
Cell* date_push(uint32_t packed, double time);

// Moves the day number and the time of day so that the local time (time + zone offset) lies in 0..86400.
int64_t date_normalize(int64_t days, double* time, uint32_t zone_code);

// Moves a date within its year as the isoweek, weekday and yearday fields do when set; zone code and time
// flag stay.
void date_set_isoweek(Cell* date, int32_t week);
void date_set_weekday(Cell* date, int32_t weekday);
void date_set_yearday(Cell* date, int32_t yearday);

// Field 1 to 14 of a date (date, year, month, day, zone, time, hour, minute, second, weekday, yearday,
// timezone, week, isoweek) into out.
Cell* date_get_field(Cell* out, const Cell* date, int field);
// Seconds since 1-Jan-1970/0:00 UTC, halves of a second rounded away from zero.
int64_t date_to_epoch_seconds(const Cell* date);
// Turns the first date into a time! of the seconds between the two instants (the difference native).
void date_difference(Cell* date, const Cell* other);
// The add and subtract of the two arguments at the argument base, a date first.
void date_add_subtract(bool subtract);

// Fields of a date cell.
inline int32_t date_year(const Cell* d) { return int32_t(d->w1) >> 17; }
inline int32_t date_month(const Cell* d) { return int32_t((d->w1 >> 12) & 15); }
inline int32_t date_day(const Cell* d) { return int32_t((d->w1 >> 7) & 31); }
inline bool date_has_time(const Cell* d) { return (d->w1 & DATE_TIME_FLAG) != 0; }
inline uint32_t date_zone(const Cell* d) { return d->w1 & DATE_ZONE_MASK; }
inline double date_time(const Cell* d) { return cell_float(d); }

}  // namespace zol
