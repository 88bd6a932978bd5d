// Loaders of the numeric tokens: integers (decimal and hexadecimal), floats, percents, special floats,
// tuples, pairs, points, times, dates and money. Each validates its token completely; with load false it only
// validates.
#include <cstring>
#include <limits>

#include "lexer_internal.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/scan_number.h"

namespace zol::lex {

bool read_int(const uint8_t* p, const uint8_t* end, int32_t* out, bool separators) {
    int64_t v = 0;
    bool digits = false;
    for (; p < end; p++) {
        if (*p == '\'' && separators) continue;
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > std::numeric_limits<int32_t>::max()) return false;
        digits = true;
    }
    *out = int32_t(v);
    return digits;
}

namespace {

bool has_double_apostrophe(const uint8_t* p, const uint8_t* end) {
    for (; p + 1 < end; p++) {
        if (p[0] == '\'' && p[1] == '\'') return true;
    }
    return false;
}

inline uint8_t ascii_upper(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

// An optional sign, then exactly "1.#" and NAN or INF in any case.
bool read_special_float(const uint8_t* p, const uint8_t* end, double* out) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
    uint8_t a = ascii_upper(p[3]), b = ascii_upper(p[4]), c = ascii_upper(p[5]);
    if (a == 'N' && b == 'A' && c == 'N') {
        *out = std::numeric_limits<double>::quiet_NaN();
    } else if (a == 'I' && b == 'N' && c == 'F') {
        *out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    } else {
        return false;
    }
    return true;
}

bool read_float(const uint8_t* p, const uint8_t* end, double* out, int extra_exponent = 0) {
    int error;
    *out = scan_float(p, 1, size_t(end - p), &error, extra_exponent);
    return error == SCAN_OK;
}

// --- dates

// A cursor over a date token.
struct Reader {
    const uint8_t* p;
    const uint8_t* end;

    bool at_end() const { return p >= end; }
    bool peek(uint8_t c) const { return p < end && *p == c; }
    bool take(uint8_t c) {
        if (!peek(c)) return false;
        p++;
        return true;
    }
    // Between min and max digits; *count receives how many.
    bool digits(int min, int max, int32_t* out, int* count = nullptr) {
        int n = 0;
        int64_t v = 0;
        while (p < end && *p >= '0' && *p <= '9' && n < max) {
            v = v * 10 + (*p++ - '0');
            n++;
        }
        if (count) *count = n;
        *out = int32_t(v);
        return n >= min;
    }
    // An optional sign and at least one digit (at most 9, so the value stays far from overflow).
    bool signed_number(int32_t* out, int* count) {
        bool negative = false;
        if (peek('+') || peek('-')) negative = *p++ == '-';
        if (!digits(1, 9, out, count)) return false;
        if (p < end && *p >= '0' && *p <= '9') return false;
        if (negative) *out = -*out;
        return true;
    }
};

struct DateParts {
    int32_t year = 0, month = 0, day = 0;
    bool has_time = false;
    double time = 0;
    int32_t zone = 0;  // minutes
};

// Seconds with an optional fraction: digits, then optionally '.' or ',' and digits.
bool read_seconds(Reader& r, double* out) {
    const uint8_t* from = r.p;
    int32_t whole;
    if (!r.digits(1, 2, &whole)) return false;
    if (r.peek('.') || r.peek(',')) {
        r.p++;
        int32_t fraction;
        int n;
        if (!r.digits(1, 9, &fraction, &n)) return false;
        while (r.p < r.end && *r.p >= '0' && *r.p <= '9') r.p++;  // digits past nanoseconds
    }
    return read_float(from, r.p, out);
}

// 'Z' or a zone +hh[:mm] / -hh[:mm] (also +hhmm), when one follows; false for a malformed one.
bool read_zone(Reader& r, DateParts& d) {
    if (r.take('Z') || r.take('z')) return true;
    if (!r.peek('+') && !r.peek('-')) return true;
    bool west = *r.p++ == '-';
    int32_t hours, minutes = 0;
    int n;
    if (!r.digits(1, 4, &hours, &n)) return false;
    if (n == 4) {
        minutes = hours % 100;
        hours /= 100;
    } else if (n == 3) {
        return false;
    } else if (r.take(':') && !r.digits(2, 2, &minutes)) {
        return false;
    }
    // Offsets the zone code cannot hold are refused rather than stored wrong.
    if (hours > 15 || minutes > 59 || minutes % 15 != 0) return false;
    d.zone = (west ? -1 : 1) * (hours * 60 + minutes);
    return true;
}

// Keeps a time of day once it is in range, then reads the optional zone after it.
bool time_of_day(Reader& r, DateParts& d, int32_t hour, int32_t minute, double second) {
    if (hour > 23 || minute > 59 || !(second < 60)) return false;
    d.has_time = true;
    d.time = hour * 3600.0 + minute * 60.0 + second;
    return read_zone(r, d);
}

// hh:mm[:ss[.fff]] and an optional zone.
bool read_time(Reader& r, DateParts& d) {
    int32_t hour, minute;
    if (!r.digits(1, 2, &hour) || !r.take(':') || !r.digits(1, 2, &minute)) return false;
    double second = 0;
    if (r.take(':') && !read_seconds(r, &second)) return false;
    return time_of_day(r, d, hour, minute, second);
}

// yyyymmddThhmm[ss[.fff]] with an optional Z or zone.
bool read_basic_iso(Reader& r, DateParts& d) {
    int32_t hour, minute;
    if (!r.digits(4, 4, &d.year) || !r.digits(2, 2, &d.month) || !r.digits(2, 2, &d.day)) return false;
    if (!r.take('T') && !r.take('t')) return false;
    if (!r.digits(2, 2, &hour) || !r.digits(2, 2, &minute)) return false;
    double second = 0;
    if (r.p < r.end && *r.p >= '0' && *r.p <= '9' && !read_seconds(r, &second)) return false;
    return time_of_day(r, d, hour, minute, second);
}

// The month as a name of 3 to 9 letters that starts one of the month names (any case).
bool read_month_name(Reader& r, int32_t* month) {
    static const char* const kMonths[] = {"january", "february", "march",     "april",   "may",      "june",
                                          "july",    "august",   "september", "october", "november", "december"};
    const uint8_t* from = r.p;
    while (r.p < r.end && ((*r.p >= 'a' && *r.p <= 'z') || (*r.p >= 'A' && *r.p <= 'Z'))) r.p++;
    size_t n = size_t(r.p - from);
    if (n < 3 || n > 9) return false;
    for (int m = 0; m < 12; m++) {
        size_t k = 0;
        while (k < n && kMonths[m][k] && (from[k] | 0x20) == uint8_t(kMonths[m][k])) k++;
        if (k == n) {
            *month = m + 1;
            return true;
        }
    }
    return false;
}

// A time after '/' or 'T', when one follows.
bool read_time_part(Reader& r, DateParts& d) {
    if (r.at_end()) return true;
    if (!r.take('/') && !r.take('T') && !r.take('t')) return false;
    return read_time(r, d);
}

int32_t two_digit_year(int32_t year, int digits) {
    if (digits > 2 || year < 0 || year > 99) return year;
    return year > 49 ? 1900 + year : 2000 + year;
}

// Every date form; false for text that is none of them or leaves anything over.
bool read_date(const uint8_t* p, const uint8_t* end, DateParts& d) {
    Reader r{p, end};
    if (end - p > 8 && p[8] == 'T') {
        bool basic = true;
        for (int i = 0; i < 8; i++) basic = basic && p[i] >= '0' && p[i] <= '9';
        if (basic) return read_basic_iso(r, d) && r.at_end();
    }
    int32_t first;
    int first_digits;
    if (!r.signed_number(&first, &first_digits) || first_digits > 4) return false;
    if (!r.peek('-') && !r.peek('/')) return false;
    uint8_t separator = *r.p++;

    if (separator == '-' && (r.peek('W') || r.peek('w'))) {
        // Week date: yyyy-Www[-d].
        r.p++;
        int32_t week, weekday = 1;
        if (!r.digits(2, 2, &week)) return false;
        if (r.take('-') && !r.digits(1, 1, &weekday)) return false;
        d.year = first;
        if (week < 1 || week > date_iso_weeks_in_year(first) || weekday < 1 || weekday > 7) return false;
        date_from_days(date_iso_week_start(first) + 7 * (week - 1) + weekday - 1, &d.year, &d.month, &d.day);
        return read_time_part(r, d) && r.at_end();
    }

    const uint8_t* month_at = r.p;
    int32_t middle;
    int middle_digits;
    bool numeric_month = r.digits(1, 3, &middle, &middle_digits);
    if (numeric_month && middle_digits == 3) {
        // Ordinal date: yyyy-ddd.
        if (separator != '-' || (!r.at_end() && !r.peek('T') && !r.peek('t') && !r.peek('/'))) return false;
        int32_t length = date_leap_year_q(first) ? 366 : 365;
        if (middle < 1 || middle > length) return false;
        date_from_days(date_to_days(first, 1, 1) + middle - 1, &d.year, &d.month, &d.day);
        return read_time_part(r, d) && r.at_end();
    }
    if (!numeric_month) {
        r.p = month_at;
        if (!read_month_name(r, &middle)) return false;
    }
    if (!r.take(separator)) return false;
    int32_t third;
    int third_digits;
    if (!r.signed_number(&third, &third_digits)) return false;
    if (third < 0 || third > 31 || first <= 99) {
        d.day = first;
        d.year = two_digit_year(third, third_digits);
    } else {
        d.year = first;
        d.day = third;
    }
    d.month = middle;
    return read_time_part(r, d) && r.at_end();
}

}  // namespace

// --- integers

void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if ((flags & F_APOSTROPHE) && has_double_apostrophe(start, end)) lexer_error(s, start, end, TYPE_INTEGER);
    int error;
    int32_t v = scan_integer(start, 1, size_t(end - start), &error);
    Cell value{};
    if (error == SCAN_OVERFLOW) {
        // Beyond 32 bits: the number is read as a float.
        double d;
        if (!read_float(start, end, &d)) lexer_error(s, start, end, TYPE_INTEGER);
        s.token_type = TYPE_FLOAT;
        set_float(&value, d);
    } else if (error != SCAN_OK) {
        lexer_error(s, start, end, TYPE_INTEGER);
    } else {
        set_integer(&value, v);
    }
    if (load) push_value(s, value);
}

void load_hex(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* digits_end = end - 1;  // before the 'h'
    ptrdiff_t n = digits_end - start;
    if (n == 1 && kHexDigit[*start] >= 10) lexer_error(s, start, end, TYPE_WORD);
    if (n < 2 || n > 8 || *digits_end != 'h') lexer_error(s, start, end, TYPE_INTEGER);
    uint32_t v = 0;
    for (const uint8_t* p = start; p < digits_end; p++) {
        uint8_t d = kHexDigit[*p];
        if (d > 15) lexer_error(s, start, end, TYPE_INTEGER);
        v = v << 4 | d;
    }
    if (load) {
        Cell value{};
        set_integer(&value, int32_t(v));
        push_value(s, value);
    }
}

// --- floats

void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d;
    if (!read_float(start, end, &d)) lexer_error(s, start, end, TYPE_FLOAT);
    if (load) {
        Cell value{};
        set_float(&value, d);
        push_value(s, value);
    }
}

void load_percent(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.pos = end + 1;  // past the '%'
    double d;
    if (!read_float(start, end, &d, -2)) lexer_error(s, start, end + 1, TYPE_FLOAT);
    if (load) {
        Cell value{};
        set_float(&value, d, TYPE_PERCENT);
        push_value(s, value);
    }
}

void load_special_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d;
    if (!read_special_float(start, end, &d)) lexer_error(s, start, end, TYPE_FLOAT);
    if (load) {
        Cell value{};
        set_float(&value, d);
        push_value(s, value);
    }
}

// --- tuples, pairs, points

void load_tuple(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    Cell value{};
    int error;
    scan_tuple(start, 1, size_t(end - start), &error, &value);
    if (error != SCAN_OK) lexer_error(s, start, end, TYPE_TUPLE);
    if (load) push_value(s, value);
}

void load_pair(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* x = start;
    while (x < end && *x != 'x' && *x != 'X') x++;
    int ex = SCAN_INVALID, ey = SCAN_INVALID;
    int32_t vx = 0, vy = 0;
    if (!(flags & F_DOT) && x < end) {
        vx = scan_integer(start, 1, size_t(x - start), &ex);
        vy = scan_integer(x + 1, 1, size_t(end - x - 1), &ey);
    }
    if (ex != SCAN_OK || ey != SCAN_OK) lexer_error(s, start, end, TYPE_PAIR);
    if (load) {
        Cell value{};
        pair_make_at(&value, vx, vy);
        push_value(s, value);
    }
}

// (x, y) or (x, y, z): the token runs from after the '(' to before the ')'.
void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.pos = end + 1;
    restore_entry(s);
    const uint8_t* from = start > s.start ? start - 1 : start;
    auto blank = [](uint8_t c) { return c == ' ' || c == '\t'; };
    double v[3] = {0, 0, 0};
    int dims = 2;
    const uint8_t* p = start;
    for (int i = 0; i < dims; i++) {
        int32_t type = dims == 3 ? TYPE_POINT3D : TYPE_POINT2D;
        while (p < end && blank(*p)) p++;
        const uint8_t* q = p;
        while (q < end && *q != ',' && !blank(*q)) q++;
        if (q == p) lexer_error(s, from, end + 1, type);
        bool special = std::memchr(p, '#', size_t(q - p)) != nullptr;
        bool ok = special ? read_special_float(p, q, &v[i]) : read_float(p, q, &v[i]);
        if (!ok) lexer_error(s, from, end + 1, type);
        p = q;
        while (p < end && blank(*p)) p++;
        if (i == 0) {
            if (p >= end || *p != ',') lexer_error(s, from, end + 1, TYPE_POINT2D);
            p++;
        } else if (i == 1 && p < end) {
            if (*p != ',') lexer_error(s, from, end + 1, TYPE_POINT2D);
            p++;
            dims = 3;
        } else if (i == 2 && p < end) {
            lexer_error(s, from, end + 1, TYPE_POINT3D);
        }
    }
    s.token_type = dims == 3 ? TYPE_POINT3D : TYPE_POINT2D;
    if (load) {
        Cell value{};
        if (dims == 3) {
            point3d_make_at(&value, float(v[0]), float(v[1]), float(v[2]));
        } else {
            point2d_make_at(&value, float(v[0]), float(v[1]));
        }
        push_value(s, value);
    }
}

// --- times and dates

// [sign]h:m, [sign]h:m:s[.f], or [sign]m:s.f (a fraction after the second number makes the numbers minutes
// and seconds).
void load_time(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const uint8_t* colon = p;
    while (colon < end && *colon != ':') colon++;
    int32_t hours, minutes;
    if ((flags & F_EXPONENT) || colon >= end || !read_int(p, colon, &hours, true)) lexer_error(s, start, end, TYPE_TIME);
    const uint8_t* q = colon + 1;
    const uint8_t* r = q;
    while (r < end && *r >= '0' && *r <= '9') r++;
    if (r == q || !read_int(q, r, &minutes, false)) lexer_error(s, start, end, TYPE_TIME);
    double seconds = 0;
    if (r < end) {
        const uint8_t* from = q;
        if (*r == '.' || *r == ',') {
            minutes = hours;
            hours = 0;
        } else if (*r == ':') {
            from = r + 1;
        } else {
            lexer_error(s, start, end, TYPE_TIME);
        }
        if (!read_float(from, end, &seconds) || seconds < 0) lexer_error(s, start, end, TYPE_TIME);
    }
    double value = hours * 3600.0 + minutes * 60.0 + seconds;
    if (load) {
        Cell cell{};
        time_make_at(&cell, negative ? -value : value);
        push_value(s, cell);
    }
}

void load_date(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    DateParts d;
    if (!read_date(start, end, d) || d.month < 1 || d.month > 12 || d.day < 1 ||
        d.day > date_days_in_month(d.year, d.month) || d.year < -9999 || d.year > 9999) {
        lexer_error(s, start, end, TYPE_DATE);
    }
    if (load) {
        Cell value{};
        date_make_at(&value, d.year, d.month, d.day, d.time, d.zone, d.has_time);
        push_value(s, value);
    }
}

void load_money(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    Cell value{};
    int error;
    scan_money(start, size_t(end - start), 1, &value, &error);
    if (error != SCAN_OK) lexer_error(s, start, end, TYPE_MONEY);
    if (load) push_value(s, value);
}

}  // namespace zol::lex
