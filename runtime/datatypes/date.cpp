// date!: the calendar routines (civil dates to day numbers and back, weekdays, weeks), normalisation of a
// day and a time under a zone, and the datatype's actions. Every change of a date goes through its day
// number, so out-of-range days and months roll into their neighbours.
#include "date.h"

#include <cmath>
#include <cstring>

#include "error.h"
#include "float.h"
#include "integer.h"
#include "logic.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/values/locale.h"
#include "runtime/values/predefined.h"
#include "runtime/values/support.h"
#include "string.h"
#include "symbol.h"
#include "time.h"

namespace zol {

namespace {

// Division and remainder rounding toward minus infinity: the calendar repeats every 400 years on both
// sides of year 0.
constexpr int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
constexpr int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Days from day 0 to 1 March of the year (a March-based year).
int64_t days_before(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

constexpr int64_t EPOCH_DAYS = 719468;  // 1-Jan-1970

double offset_seconds(uint32_t zone_code) { return 60.0 * date_zone_minutes(zone_code); }

// The date word without its zone and time flag: year, month and day.
uint32_t calendar_bits(const Cell* d) { return d->w1 & ~(DATE_ZONE_MASK | DATE_TIME_FLAG); }

// Packs a day number into the date word, keeping the zone code and the time flag. The day must fit.
void set_days(Cell* date, int64_t days) {
    int32_t y, m, d;
    date_from_days(int32_t(days), &y, &m, &d);
    uint32_t keep = date->w1 & (DATE_ZONE_MASK | DATE_TIME_FLAG);
    date->w1 = (uint32_t(y) << 17) | (uint32_t(m & 15) << 12) | (uint32_t(d & 31) << 7) | keep;
}

// Where a change of a date reports a day outside the years it can hold: the calling action's error.
struct Refusal {
    ErrorId id;
    const Cell* arg1;
    const Cell* arg2 = nullptr;
};

void store_days(Cell* date, int64_t days, const Refusal& r) {
    if (!date_days_fit(days)) fire(r.id, r.arg1, r.arg2);
    set_days(date, days);
}

// Sets the time of day (a local time when `local`, else already UTC), moving the day as normalisation says.
void set_time(Cell* date, double time, bool local, const Refusal& r) {
    if (!std::isfinite(time)) fire(r.id, r.arg1, r.arg2);
    if (local) time -= offset_seconds(date_zone(date));
    int64_t days = date_normalize(date_days(date), &time, date_zone(date));
    store_days(date, days, r);
    cell_set_float_payload(date, time);
}

// The month moves the year by whole years (month 0 is December of the year before); the day stays, so 31
// January with month 2 becomes 2 or 3 March.
void set_month(Cell* date, int64_t month, const Refusal& r) {
    int64_t year = int64_t(date_year(date)) + floor_div(month - 1, 12);
    int64_t m = floor_mod(month - 1, 12) + 1;
    if (year < DATE_YEAR_MIN || year > DATE_YEAR_MAX) fire(r.id, r.arg1, r.arg2);
    store_days(date, date_to_days(int32_t(year), int32_t(m), date_day(date)), r);
}

// A zone from an integer of hours or a time!: its code, or false for anything else or more than 15 hours.
bool zone_of(const Cell* value, uint32_t* code) {
    double seconds;
    if (cell_is(value, TYPE_INTEGER)) {
        seconds = 3600.0 * cell_int(value);
    } else if (cell_is(value, TYPE_TIME)) {
        seconds = cell_float(value);
    } else {
        return false;
    }
    double m = std::fabs(seconds);
    if (!(m < 16 * 3600.0)) return false;  // NaN too
    uint32_t hours = uint32_t(m / 3600), quarters = uint32_t(std::fmod(m, 3600) / 900);
    *code = hours << 2 | quarters;
    // The sign is the value's own, so that -0:30 lies west as -5:30 does.
    if (*code != 0 && seconds < 0) *code |= DATE_ZONE_WEST;
    return true;
}

// zone keeps the local clock time (another instant); timezone keeps the instant (another clock time).
void set_zone(Cell* date, uint32_t code, bool keep_instant, const Refusal& r) {
    date->w1 |= DATE_TIME_FLAG;
    double time = date_time(date);
    double local = time + offset_seconds(date_zone(date));
    date->w1 = (date->w1 & ~DATE_ZONE_MASK) | code;
    if (keep_instant) {
        set_time(date, time, false, r);
    } else {
        cell_set_float_payload(date, local - offset_seconds(code));
    }
}

const Cell* path_of(const PathStep& step, const Cell* value) { return step.path ? step.path : value; }

// The field a word names, 1 to 14; -1 for another word.
int field_of_word(const Cell* word) {
    uint32_t s = symbol_resolve(word_symbol(word));
    static const struct {
        PredefinedSymbol symbol;
        int field;
    } kFields[] = {{SYM_DATE, 1},    {SYM_YEAR, 2},     {SYM_MONTH, 3},     {SYM_DAY, 4},      {SYM_ZONE, 5},
                   {SYM_TIME, 6},    {SYM_HOUR, 7},     {SYM_MINUTE, 8},    {SYM_SECOND, 9},   {SYM_WEEKDAY, 10},
                   {SYM_YEARDAY, 11}, {SYM_JULIAN, 11}, {SYM_TIMEZONE, 12}, {SYM_WEEK, 13},    {SYM_ISOWEEK, 14}};
    for (const auto& f : kFields) {
        if (s == g_sym[f.symbol]) return f.field;
    }
    return -1;
}

// --- make and to

enum DateField { F_FIRST, F_MONTH, F_THIRD, F_HOUR, F_MINUTE, F_SECOND, F_ZONE_HOURS, F_ZONE_MINUTES, F_TIME, F_ZONE_TIME, F_NONE };

// The reader of a date block: for each state and class of value (integer!, time!, float!), the next state and
// the field the value fills; -1 where the value has no place.
struct Step {
    int8_t next;
    DateField field;
};
constexpr Step kNoStep{-1, F_NONE};
constexpr Step kSteps[14][3] = {
    {{1, F_FIRST}, kNoStep, kNoStep},
    {{2, F_MONTH}, kNoStep, kNoStep},
    {{3, F_THIRD}, kNoStep, kNoStep},
    {{8, F_HOUR}, {4, F_TIME}, kNoStep},
    {{6, F_ZONE_HOURS}, {5, F_ZONE_TIME}, kNoStep},
    {kNoStep, kNoStep, kNoStep},
    {{7, F_ZONE_MINUTES}, kNoStep, kNoStep},
    {kNoStep, kNoStep, kNoStep},
    {{9, F_MINUTE}, kNoStep, kNoStep},
    {{10, F_SECOND}, kNoStep, {10, F_SECOND}},
    {{12, F_ZONE_HOURS}, {11, F_ZONE_TIME}, kNoStep},
    {kNoStep, kNoStep, kNoStep},
    {{13, F_ZONE_MINUTES}, kNoStep, kNoStep},
    {kNoStep, kNoStep, kNoStep},
};

// [day month year], or [year month day] when the first is at least 100 and greater than the third, then a
// time (a time! or hours, minutes and seconds) and a zone (a time! or hours and minutes). make checks that no
// field rolled over; to lets days, months and times roll into their neighbours.
void date_from_block(Cell* out, const Cell* spec, bool check) {
    Refusal bad{ERR_SCRIPT_BAD_TO_ARG, nullptr, spec};
    Cell type;
    set_datatype(&type, TYPE_DATE);
    bad.arg1 = &type;
    Series* s = cell_series(spec);
    uint32_t index = series_index(spec);
    uint32_t count = index < s->used() ? s->used() - index : 0;
    double v[F_NONE] = {};
    bool given[F_NONE] = {};
    int state = 0;
    for (uint32_t i = 0; i < count; i++) {
        const Cell* c = s->cells() + index + i;
        int kind = cell_is(c, TYPE_INTEGER) ? 0 : cell_is(c, TYPE_TIME) ? 1 : cell_is(c, TYPE_FLOAT) ? 2 : -1;
        if (kind < 0 || kSteps[state][kind].next < 0) fire(bad.id, bad.arg1, bad.arg2);
        Step step = kSteps[state][kind];
        v[step.field] = kind == 0 ? double(cell_int(c)) : cell_float(c);
        given[step.field] = true;
        state = step.next;
    }
    if (state < 3) fire(bad.id, bad.arg1, bad.arg2);
    double day = v[F_FIRST], year = v[F_THIRD];
    if (day >= 100 && day > year) std::swap(day, year);
    double month = v[F_MONTH];
    if (year < DATE_YEAR_MIN || year > DATE_YEAR_MAX) fire(bad.id, bad.arg1, bad.arg2);

    uint32_t zone = 0;
    if (given[F_ZONE_TIME]) {
        Cell z;
        time_make_at(&z, v[F_ZONE_TIME]);
        if (!zone_of(&z, &zone)) fire(bad.id, bad.arg1, bad.arg2);
    } else if (given[F_ZONE_HOURS]) {
        double minutes = v[F_ZONE_MINUTES];
        if (std::fabs(v[F_ZONE_HOURS]) > 15 || minutes < 0 || minutes > 59) fire(bad.id, bad.arg1, bad.arg2);
        Cell z;
        double seconds = std::fabs(v[F_ZONE_HOURS]) * 3600 + minutes * 60;
        time_make_at(&z, v[F_ZONE_HOURS] < 0 ? -seconds : seconds);
        zone_of(&z, &zone);
    }
    bool has_time = given[F_TIME] || given[F_HOUR];
    double time = given[F_TIME] ? v[F_TIME] : v[F_HOUR] * 3600 + v[F_MINUTE] * 60 + v[F_SECOND];
    if (check) {
        bool ok = month >= 1 && month <= 12 && day >= 1 && day <= date_days_in_month(int32_t(year), int32_t(month));
        if (given[F_TIME]) ok = ok && time >= 0 && time < 86400;
        if (given[F_HOUR]) {
            ok = ok && v[F_HOUR] >= 0 && v[F_HOUR] <= 23 && v[F_MINUTE] >= 0 && v[F_MINUTE] <= 59 &&
                 v[F_SECOND] >= 0 && v[F_SECOND] < 60;
        }
        if (!ok) fire(bad.id, bad.arg1, bad.arg2);
    }
    if (std::fabs(month) > 1e6 || std::fabs(day) > 1e9) fire(bad.id, bad.arg1, bad.arg2);
    out->header = TYPE_DATE;
    out->w1 = uint32_t(int32_t(year)) << 17 | 1 << 12 | 1 << 7 | (has_time ? DATE_TIME_FLAG : 0);
    cell_set_float_payload(out, 0);
    set_month(out, int64_t(month), bad);
    store_days(out, int64_t(date_to_days(date_year(out), date_month(out), 0)) + int64_t(day), bad);
    if (has_time) {
        out->w1 |= zone;
        set_time(out, time, true, bad);
    }
}

const Cell* date_make_to(Cell* proto, Cell* spec, bool check) {
    uint32_t t = cell_type(spec);
    if (t == TYPE_DATE) {
        *proto = *spec;
        return proto;
    }
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        Cell out;
        date_from_block(&out, spec, check);
        *proto = out;
        return proto;
    }
    if (t == TYPE_INTEGER && !check) {
        // Seconds since 1-Jan-1970/0:00 UTC.
        int64_t seconds = cell_int(spec);
        double time = double(floor_mod(seconds, 86400));
        date_make_at(proto, 1970, 1, 1, 0, 0, true);
        set_days(proto, EPOCH_DAYS + floor_div(seconds, 86400));
        cell_set_float_payload(proto, time);
        return proto;
    }
    fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_DATE, spec);
}

const Cell* date_make(Cell* proto, Cell* spec, TypeId) { return date_make_to(proto, spec, true); }
const Cell* date_to(Cell* proto, Cell* spec, TypeId) { return date_make_to(proto, spec, false); }

// --- other actions

void date_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        double t = std::trunc(date_time(value));
        init_genrand(value->w1 + (std::fabs(t) < 4294967296.0 ? uint32_t(int64_t(t)) : 0));
        unset_set_result();
        return;
    }
    Cell d = *value;
    int32_t days = date_days(&d);
    set_days(&d, days > 0 ? random_range(secure, days) - 1 : 0);
    if (date_has_time(&d)) {
        uint32_t code = random_draw(secure) & DATE_ZONE_MASK;
        d.w1 = (d.w1 & ~DATE_ZONE_MASK) | code;
        double r = double(random_draw(secure)) / 2147483648.0;
        Refusal none{ERR_SCRIPT_TYPE_LIMIT, nullptr};
        set_time(&d, 86400.0 * std::floor(3600 * r) / 3600, true, none);
    }
    *g_args.base = d;
}

// [-]digits, padded with zeros to four digits below 100.
int append_year(Cell* out, int32_t year) {
    char text[16];
    char* p = text;
    if (year < 0) *p++ = '-';
    int32_t a = year < 0 ? -year : year;
    if (a < 100) {
        *p++ = '0';
        *p++ = '0';
        *p++ = char('0' + a / 10);
        *p++ = char('0' + a % 10);
    } else {
        const char* digits = integer_to_decimal(a);
        size_t n = std::strlen(digits);
        std::memcpy(p, digits, n);
        p += n;
    }
    string_append_ascii(out, text, size_t(p - text));
    return int(p - text);
}

int date_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    uint32_t month[3];
    int month_length = locale_month_abbreviation(date_month(value), month);
    if (month_length < 0) fire(ERR_SCRIPT_INVALID_MONTHS);
    const char* sep = date_year(value) < 0 ? "/" : "-";
    const char* day = integer_to_decimal(date_day(value));
    int written = int(std::strlen(day)) + 2 + month_length;
    string_append_ascii(out, day);
    string_append_ascii(out, sep, 1);
    for (int i = 0; i < month_length; i++) string_append_char(series_node(out), month[i]);
    string_append_ascii(out, sep, 1);
    written += append_year(out, date_year(value));
    budget -= written;
    if (!date_has_time(value)) return budget;
    string_append_ascii(out, "/", 1);
    budget = time_to_text(date_time(value) + offset_seconds(date_zone(value)), out, budget - 1);
    uint32_t zone = date_zone(value);
    if (zone == 0) return budget;
    int32_t minutes = date_zone_minutes(zone);
    int32_t a = minutes < 0 ? -minutes : minutes;
    char text[8] = {minutes < 0 ? '-' : '+', char('0' + a / 600), char('0' + a / 60 % 10), ':',
                    char('0' + a % 60 / 10), char('0' + a % 10), 0, 0};
    string_append_ascii(out, text, 6);
    return budget - 6;
}

// The field an element selects: 1 to 14 or a field word; anything else raises invalid-path.
int selected_field(const Cell* value, const PathStep& step) {
    const Cell* e = step.element;
    int field = -1;
    if (cell_is(e, TYPE_INTEGER)) {
        field = cell_int(e);
    } else if (cell_is(e, TYPE_WORD)) {
        field = field_of_word(e);
    }
    if (field < 1 || field > 14) fire(ERR_SCRIPT_INVALID_PATH, path_of(step, value), e);
    return field;
}

// Sets a field of the date in place; the value's type was not checked yet.
void set_field(Cell* date, int field, const Cell* v) {
    Refusal bad{ERR_SCRIPT_INVALID_ARG, v};
    bool integer = cell_is(v, TYPE_INTEGER);
    int64_t n = integer ? cell_int(v) : 0;
    int32_t days = date_days(date);
    switch (field) {
        case 1: {
            if (!cell_is(v, TYPE_DATE)) fire(ERR_SCRIPT_INVALID_ARG, v);
            // The calendar date only: this date's time and zone stay.
            date->w1 = calendar_bits(v) | (date->w1 & (DATE_ZONE_MASK | DATE_TIME_FLAG));
            return;
        }
        case 5:
        case 12: {
            uint32_t code;
            if (!zone_of(v, &code)) fire(ERR_SCRIPT_INVALID_ARG, v);
            return set_zone(date, code, field == 12, bad);
        }
        case 6:
            if (cell_is(v, TYPE_NONE)) {
                date->w1 &= ~DATE_TIME_FLAG;
                cell_set_float_payload(date, 0);
                return;
            }
            if (!cell_is(v, TYPE_TIME)) fire(ERR_SCRIPT_INVALID_ARG, v);
            date->w1 |= DATE_TIME_FLAG;
            return set_time(date, cell_float(v), true, bad);
        case 7:
        case 8:
        case 9: {
            // The fields of the local time of day, set as time!'s are.
            if (!integer && !(field == 9 && cell_is(v, TYPE_FLOAT))) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(v));
            double local = date_time(date) + offset_seconds(date_zone(date));
            double x = time_set_field(local, field - 6, integer ? double(n) : cell_float(v));
            date->w1 |= DATE_TIME_FLAG;
            return set_time(date, x, true, bad);
        }
        default: break;
    }
    if (!integer) fire(ERR_SCRIPT_INVALID_ARG, v);
    int32_t first = date_to_days(date_year(date), 1, 1);
    switch (field) {
        case 2: {
            if (n < DATE_YEAR_MIN || n > DATE_YEAR_MAX) fire(ERR_SCRIPT_INVALID_ARG, v);
            return store_days(date, date_to_days(int32_t(n), date_month(date), date_day(date)), bad);
        }
        case 3: return set_month(date, n, bad);
        case 4: return store_days(date, int64_t(date_to_days(date_year(date), date_month(date), 0)) + n, bad);
        case 10: return store_days(date, int64_t(days) - (date_weekday(days) - 1) + n - 1, bad);
        case 11: return store_days(date, int64_t(first) + n - 1, bad);
        case 13: {
            int64_t to = first;
            if (n > 1) to = first + 7 * (n - 2) + 7 - floor_mod(first + 3, 7);
            return store_days(date, to, bad);
        }
        default: return store_days(date, int64_t(date_iso_week_start(date_year(date))) + 7 * (n - 1), bad);
    }
}

const Cell* date_eval_path(Cell* value, const PathStep& step) {
    int field = selected_field(value, step);
    if (!step.set_value) {
        Cell out;
        date_get_field(&out, value, field);
        *value = out;
        return value;
    }
    set_field(value, field, step.set_value);
    return path_store_back(step, value);
}

const Cell* date_pick(Cell* value, int, Cell* index) {
    int field = -1;
    if (cell_is(index, TYPE_INTEGER)) {
        field = cell_int(index);
    } else if (cell_is(index, TYPE_WORD)) {
        field = field_of_word(index);
    }
    if (field < 1 || field > 14) fire(ERR_SCRIPT_OUT_OF_RANGE, index);
    Cell out;
    date_get_field(&out, value, field);
    *value = out;
    return value;
}

// Dates compare as instants: the same moment written in two zones is equal.
int date_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_DATE)) return COMPARE_INCOMPARABLE;
    if (op == CMP_SAME) {
        uint64_t a = uint64_t(value->w3) << 32 | value->w2, b = uint64_t(other->w3) << 32 | other->w2;
        return calendar_bits(value) == calendar_bits(other) && a == b ? 0 : 1;
    }
    double a = date_days(value) * 86400.0 + date_time(value);
    double b = date_days(other) * 86400.0 + date_time(other);
    if (float_almost_equal_q(a, b)) return 0;
    return a < b ? -1 : 1;
}

void date_add() { date_add_subtract(false); }
void date_subtract() { date_add_subtract(true); }

}  // namespace

// --- calendar

int32_t date_days(const Cell* date) { return date_to_days(date_year(date), date_month(date), date_day(date)); }

bool date_leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t date_days_in_month(int32_t year, int32_t month) {
    static const int32_t kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && !date_leap_year_q(year)) return 28;
    return month >= 1 && month <= 12 ? kDays[month - 1] : 0;
}

int32_t date_to_days(int32_t year, int32_t month, int32_t day) {
    int64_t y = int64_t(year) + floor_div(int64_t(month) - 1, 12);
    int64_t m = (floor_mod(int64_t(month) - 1, 12) + 10) % 12;  // March is 0, February 11
    y -= m / 10;
    return int32_t(days_before(y) + (306 * m + 5) / 10 + day - 1);
}

void date_from_days(int32_t days, int32_t* year, int32_t* month, int32_t* day) {
    int64_t n = days;
    int64_t y = int64_t(std::floor((10000.0 * double(n) + 14780.0) / 3652425.0));
    int64_t r = n - days_before(y);
    if (r < 0) {
        y--;
        r = n - days_before(y);
    }
    int64_t k = (100 * r + 52) / 3060;
    *month = int32_t((k + 2) % 12 + 1);
    *year = int32_t(y + (k + 2) / 12);
    *day = int32_t(r - (306 * k + 5) / 10 + 1);
}

bool date_days_fit(int64_t days) {
    static const int64_t lowest = date_to_days(DATE_YEAR_MIN, 1, 1), highest = date_to_days(DATE_YEAR_MAX, 12, 31);
    return days >= lowest && days <= highest;
}

int32_t date_weekday(int32_t days) { return int32_t(floor_mod(int64_t(days) + 2, 7)) + 1; }

int32_t date_iso_week_start(int32_t year) {
    int32_t first = date_to_days(year, 1, 1);
    int32_t w = date_weekday(first);
    return w < 5 ? first + 1 - w : first + 8 - w;
}

int32_t date_iso_weeks_in_year(int32_t year) { return (date_iso_week_start(year + 1) - date_iso_week_start(year)) / 7; }

namespace {

int32_t year_of(int32_t days) {
    int32_t y, m, d;
    date_from_days(days, &y, &m, &d);
    return y;
}

}  // namespace

int32_t date_yearday(int32_t days) { return days - date_to_days(year_of(days), 1, 1) + 1; }

int32_t date_week(int32_t days) {
    int32_t first = date_to_days(year_of(days), 1, 1);
    int32_t yearday = days - first + 1;
    int32_t j = int32_t(floor_mod(first + 3, 7));  // weekday of 1 January, 0 for Sunday
    return yearday > 7 - j ? (yearday + j - 1) / 7 + 1 : 1;
}

int32_t date_isoweek(int32_t days) {
    int32_t year = year_of(days);
    int32_t start = date_iso_week_start(year);
    if (days >= start) return days < date_iso_week_start(year + 1) ? (days - start) / 7 + 1 : 1;
    return date_iso_weeks_in_year(year - 1);
}

uint32_t date_zone_code(int32_t offset_minutes) {
    uint32_t magnitude = uint32_t(offset_minutes < 0 ? -offset_minutes : offset_minutes);
    uint32_t code = ((magnitude / 60) & 15) << 2 | ((magnitude % 60) / 15);
    return offset_minutes < 0 && code != 0 ? code | DATE_ZONE_WEST : code;
}

int32_t date_zone_minutes(uint32_t zone_code) {
    int32_t minutes = int32_t((zone_code >> 2) & 15) * 60 + int32_t(zone_code & 3) * 15;
    return (zone_code & DATE_ZONE_WEST) ? -minutes : minutes;
}

// --- makers

Cell* date_make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_minutes,
                   bool has_time) {
    cell->header = TYPE_DATE;
    cell->w1 = (uint32_t(year) << 17) | (uint32_t(month & 15) << 12) | (uint32_t(day & 31) << 7);
    if (has_time) {
        uint32_t zone = date_zone_code(zone_minutes);
        cell->w1 |= DATE_TIME_FLAG | zone;
        cell_set_float_payload(cell, time - offset_seconds(zone));
    } else {
        cell_set_float_payload(cell, 0.0);
    }
    return cell;
}

Cell* date_make_at_hms(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                       int32_t second, int32_t nanosecond) {
    double time = 3600.0 * hour + 60.0 * minute + second + 1e-9 * nanosecond;
    return date_make_at(cell, year, month, day, time, 0, true);
}

Cell* date_make_in(const Cell* block, uint32_t packed, double time) {
    Cell* c = block_alloc_tail(block);
    c->header = TYPE_DATE;
    c->w1 = packed;
    cell_set_float_payload(c, time);
    return c;
}

Cell* date_push(uint32_t packed, double time) {
    Cell* c = stack_push_cell();
    c->header = TYPE_DATE;
    c->w1 = packed;
    cell_set_float_payload(c, time);
    return c;
}

int64_t date_normalize(int64_t days, double* time, uint32_t zone_code) {
    double hours = date_zone_minutes(zone_code) / 60.0;
    double t = *time;
    // Whole days of the local time; far past any year a date can hold, the caller's range check refuses.
    double k = std::trunc(std::trunc(hours + t / 3600) / 24);
    if (!(std::fabs(k) < 1e10)) k = k < 0 ? -1e10 : 1e10;
    days += int64_t(k);
    t -= 86400 * k;
    if (t + 3600 * hours < 0) {
        days--;
        t += 86400;
    }
    *time = t;
    return days;
}

void date_set_isoweek(Cell* date, int32_t week) { set_days(date, date_iso_week_start(date_year(date)) + 7 * (week - 1)); }

void date_set_weekday(Cell* date, int32_t weekday) {
    int32_t days = date_days(date);
    set_days(date, days - (date_weekday(days) - 1) + weekday - 1);
}

void date_set_yearday(Cell* date, int32_t yearday) { set_days(date, date_to_days(date_year(date), 1, 1) + yearday - 1); }

Cell* date_get_field(Cell* out, const Cell* date, int field) {
    int32_t days = date_days(date);
    double local = date_time(date) + offset_seconds(date_zone(date));
    switch (field) {
        case 1:
            *out = *date;
            out->w1 = calendar_bits(date);
            cell_set_float_payload(out, 0);
            return out;
        case 2: set_integer(out, date_year(date)); return out;
        case 3: set_integer(out, date_month(date)); return out;
        case 4: set_integer(out, date_day(date)); return out;
        case 5:
        case 12:
            if (!date_has_time(date)) return set_none(out), out;
            return time_make_at(out, offset_seconds(date_zone(date)));
        case 6:
            if (!date_has_time(date)) return set_none(out), out;
            return time_make_at(out, local);
        case 7: return time_get_field(out, local, 1);
        case 8: return time_get_field(out, local, 2);
        case 9: return time_get_field(out, local, 3);
        case 10: set_integer(out, date_weekday(days)); return out;
        case 11: set_integer(out, date_yearday(days)); return out;
        case 13: set_integer(out, date_week(days)); return out;
        default: set_integer(out, date_isoweek(days)); return out;
    }
}

int64_t date_to_epoch_seconds(const Cell* date) {
    // The instant is rounded as a whole, so that half a second before the epoch is -1 as -0.5 rounds.
    double seconds = double(int64_t(date_days(date)) - EPOCH_DAYS) * 86400 + date_time(date);
    return int64_t(std::round(seconds));
}

void date_difference(Cell* date, const Cell* other) {
    double seconds = (double(date_days(date)) - double(date_days(other))) * 86400.0 + date_time(date) - date_time(other);
    time_make_at(date, seconds);
}

void date_add_subtract(bool subtract) {
    Cell* left = g_args.base;
    const Cell* right = left + 1;
    Cell type;
    set_datatype(&type, TYPE_DATE);
    Refusal overflow{ERR_SCRIPT_TYPE_LIMIT, &type};
    switch (cell_type(right)) {
        case TYPE_INTEGER: {
            int64_t n = cell_int(right);
            double time = date_time(left);
            int64_t days = date_normalize(int64_t(date_days(left)) + (subtract ? -n : n), &time, date_zone(left));
            store_days(left, days, overflow);
            cell_set_float_payload(left, time);
            return;
        }
        case TYPE_TIME: {
            double s = cell_float(right);
            left->w1 |= DATE_TIME_FLAG;
            return set_time(left, date_time(left) + (subtract ? -s : s), false, overflow);
        }
        case TYPE_DATE: {
            if (!subtract) fire_not_related(ACT_ADD, TYPE_DATE);
            // Whole local days between the two instants, counted in the first date's zone.
            double time = date_time(left) - date_time(right);
            int64_t days = date_normalize(int64_t(date_days(left)) - date_days(right), &time, date_zone(left));
            set_integer(left, int32_t(days));
            return;
        }
        default: fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(right));
    }
}

void date_init(DatatypeRegistry& registry) {
    Registration r(TYPE_DATE);
    r.own<ACT_MAKE>(date_make).own<ACT_TO>(date_to).own<ACT_RANDOM>(date_random);
    r.own<ACT_FORM>(date_form).own<ACT_MOLD>(date_form).own<ACT_EVAL_PATH>(date_eval_path);
    r.own<ACT_COMPARE>(date_compare).own<ACT_ADD>(date_add).own<ACT_SUBTRACT>(date_subtract);
    r.own<ACT_PICK>(date_pick);
    registry.register_datatype(r);
}

}  // namespace zol
