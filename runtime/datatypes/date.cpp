// date! values: makers and calendar routines.
#include "date.h"

namespace zol {

namespace {

// Packs a day number back into the date word, keeping the zone code and the time flag.
void set_days(Cell* date, int32_t days) {
    int32_t y, m, d;
    date_from_days(days, &y, &m, &d);
    uint32_t keep = date->w1 & (DATE_ZONE_MASK | DATE_TIME_FLAG);
    date->w1 = (uint32_t(y) << 17) | (uint32_t(m & 15) << 12) | (uint32_t(d & 31) << 7) | keep;
}

}  // namespace

int32_t date_days(const Cell* date) { return date_to_days(date_year(date), date_month(date), date_day(date)); }

bool date_leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t date_days_in_month(int32_t year, int32_t month) {
    static const int32_t kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && !date_leap_year_q(year)) return 28;
    return month >= 1 && month <= 12 ? kDays[month - 1] : 0;
}

int32_t date_to_days(int32_t year, int32_t month, int32_t day) {
    int32_t m = (month + 9) % 12;
    int32_t y = year - m / 10;
    return 365 * y + y / 4 - y / 100 + y / 400 + (306 * m + 5) / 10 + day - 1;
}

void date_from_days(int32_t days, int32_t* year, int32_t* month, int32_t* day) {
    int32_t y = int32_t((10000.0 * days + 14780.0) / 3652425.0);
    int32_t r = days - (365 * y + y / 4 - y / 100 + y / 400);
    if (r < 0) {
        y--;
        r = days - (365 * y + y / 4 - y / 100 + y / 400);
    }
    int32_t k = (100 * r + 52) / 3060;
    *month = (k + 2) % 12 + 1;
    *year = y + (k + 2) / 12;
    *day = r - (306 * k + 5) / 10 + 1;
}

int32_t date_weekday(int32_t days) {
    int32_t w = (days + 2) % 7;
    if (w < 0) w += 7;
    return w + 1;
}

int32_t date_iso_week_start(int32_t year) {
    int32_t first = date_to_days(year, 1, 1);
    int32_t w = date_weekday(first);
    return w < 5 ? first + 1 - w : first + 8 - w;
}

int32_t date_iso_weeks_in_year(int32_t year) { return (date_iso_week_start(year + 1) - date_iso_week_start(year)) / 7; }

uint32_t date_zone_code(int32_t offset_minutes) {
    uint32_t magnitude = uint32_t(offset_minutes < 0 ? -offset_minutes : offset_minutes);
    uint32_t code = ((magnitude / 60) & 15) << 2 | ((magnitude % 60) / 15);
    return offset_minutes < 0 ? code | DATE_ZONE_WEST : code;
}

int32_t date_zone_minutes(uint32_t zone_code) {
    int32_t minutes = int32_t((zone_code >> 2) & 15) * 60 + int32_t(zone_code & 3) * 15;
    return (zone_code & DATE_ZONE_WEST) ? -minutes : minutes;
}

Cell* date_make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_minutes,
                   bool has_time) {
    cell->header = TYPE_DATE;
    cell->w1 = (uint32_t(year) << 17) | (uint32_t(month & 15) << 12) | (uint32_t(day & 31) << 7);
    if (has_time) {
        uint32_t zone = date_zone_code(zone_minutes);
        cell->w1 |= DATE_TIME_FLAG | zone;
        cell_set_float_payload(cell, time - 60.0 * date_zone_minutes(zone));
    } else {
        cell_set_float_payload(cell, 0.0);
    }
    return cell;
}

void date_set_isoweek(Cell* date, int32_t week) { set_days(date, date_iso_week_start(date_year(date)) + 7 * (week - 1)); }

void date_set_weekday(Cell* date, int32_t weekday) {
    int32_t days = date_days(date);
    set_days(date, days - (date_weekday(days) - 1) + weekday - 1);
}

void date_set_yearday(Cell* date, int32_t yearday) { set_days(date, date_to_days(date_year(date), 1, 1) + yearday - 1); }

}  // namespace zol
