// Math natives: the sign tests, max and min, shift, to-hex, the trigonometric natives (degrees unless
// /radians), the logarithms, exp and square-root. A result that is no number (NaN, an infinity) is returned
// as a float!, never raised.
#include <cmath>
#include <cfloat>

#include "interpreter/natives/natives.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/random.h"
#include "runtime/values/compare.h"
#include "runtime/values/support.h"

namespace zol::natives {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

inline bool is_float_kind(const Cell* c) {
    return cell_is(c, TYPE_FLOAT) || cell_is(c, TYPE_PERCENT) || cell_is(c, TYPE_TIME);
}

// A number argument as a double (integer!, float!, percent!).
inline double float_arg(const Cell* c) { return cell_is(c, TYPE_INTEGER) ? double(cell_int(c)) : cell_float(c); }

// The sign of a number the sign tests accept; anything else raises expect-arg naming the native.
int sign_of(const Cell* c) {
    if (cell_is(c, TYPE_INTEGER)) return cell_int(c) > 0 ? 1 : cell_int(c) < 0 ? -1 : 0;
    if (is_float_kind(c)) {
        double d = cell_float(c);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;  // NaN and -0.0 are neither
    }
    if (cell_is(c, TYPE_MONEY)) return money_sign(c);
    fire_expect_arg(c, 0);
}

void result_logic(bool v) {
    logic_set_result(v);
    stack_keep_result();
}

void result_float(double d) {
    set_float(g_args.base, d);
    stack_keep_result();
}

// The trigonometric argument in radians: degrees are reduced to -180..180 and folded by the native's mode.
double trig_arg(const int32_t* refs, AngleMode mode) {
    double a = float_arg(arg(0));
    return present(refs, 0) ? a : angle_to_radians(a, mode);
}

// sine and cosine give 0.0 for what is zero but for the rounding of pi.
double cleaned(double r) { return std::fabs(r) < DBL_EPSILON ? 0.0 : r; }

void inverse_trig(const int32_t* refs, double (*fn)(double)) {
    double r = fn(float_arg(arg(0)));
    result_float(present(refs, 0) ? r : r * 180.0 / PI);
}

// --- min and max

inline bool is_plain_number(const Cell* c) { return cell_is(c, TYPE_INTEGER) || cell_is(c, TYPE_FLOAT); }
inline bool is_nan_number(const Cell* c) {
    return (cell_is(c, TYPE_FLOAT) || cell_is(c, TYPE_PERCENT)) && std::isnan(cell_float(c));
}
inline bool is_number(const Cell* c) {
    return cell_is(c, TYPE_INTEGER) || cell_is(c, TYPE_FLOAT) || cell_is(c, TYPE_PERCENT);
}

// Which of two coordinates wins; a NaN in the second value is taken.
inline float pick_float(float a, float b, bool greater) {
    if (std::isnan(b)) return b;
    return greater ? (b > a ? b : a) : (b < a ? b : a);
}
inline int32_t pick_int(int32_t a, int32_t b, bool greater) { return greater ? (b > a ? b : a) : (b < a ? b : a); }

// The coordinates of a point (or a pair, or a number repeated), in single precision.
void point_coords(const Cell* c, float out[3]) {
    if (cell_is(c, TYPE_POINT2D) || cell_is(c, TYPE_POINT3D)) {
        uint32_t n = cell_is(c, TYPE_POINT3D) ? 3 : 2;
        for (uint32_t i = 0; i < 3; i++) out[i] = i < n ? point_coordinate(c, i) : 0.0f;
    } else if (cell_is(c, TYPE_PAIR)) {
        out[0] = float(pair_x(c));
        out[1] = float(pair_y(c));
        out[2] = 0.0f;
    } else {
        out[0] = out[1] = out[2] = float(float_arg(c));
    }
}

// The composite values: a pair, a point or a tuple against a number or one of its own kind. False when the
// two are no such pair of values.
bool min_max_composite(Cell* first, const Cell* second, bool greater) {
    uint32_t t = cell_type(first);
    if (t == TYPE_PAIR) {
        if (cell_is(second, TYPE_FLOAT)) {
            double d = cell_float(second);
            if (!(d > -2147483649.0 && d < 2147483648.0)) {
                // A float no integer can hold makes the pair a point.
                float x = float(pair_x(first)), y = float(pair_y(first));
                Cell b;
                point2d_make_at(&b, float(d), float(d));
                point2d_make_at(first, x, y);
                return min_max_composite(first, &b, greater);
            }
        }
        if (is_plain_number(second) || cell_is(second, TYPE_PAIR)) {
            int32_t bx, by;
            if (cell_is(second, TYPE_PAIR)) {
                bx = pair_x(second);
                by = pair_y(second);
            } else {
                bx = by = cell_is(second, TYPE_INTEGER) ? cell_int(second) : int32_t(cell_float(second));
            }
            pair_make_at(first, pick_int(pair_x(first), bx, greater), pick_int(pair_y(first), by, greater));
            return true;
        }
        if (cell_is(second, TYPE_POINT2D)) {
            point2d_make_at(first, float(pair_x(first)), float(pair_y(first)));
            return min_max_composite(first, second, greater);
        }
        return false;
    }
    if (t == TYPE_POINT2D || t == TYPE_POINT3D) {
        if (!is_number(second) && !cell_is(second, TYPE_POINT2D) && !cell_is(second, TYPE_POINT3D) &&
            !cell_is(second, TYPE_PAIR)) {
            return false;
        }
        float a[3], b[3];
        point_coords(first, a);
        point_coords(second, b);
        // A point2D! second value leaves the third coordinate of a point3D! as it is.
        bool keep_z = cell_is(second, TYPE_POINT2D) || cell_is(second, TYPE_PAIR);
        for (uint32_t i = 0; i < 3; i++) {
            if (i == 2 && keep_z) continue;
            a[i] = pick_float(a[i], b[i], greater);
        }
        if (t == TYPE_POINT2D) {
            point2d_make_at(first, a[0], a[1]);
        } else {
            point3d_make_at(first, a[0], a[1], a[2]);
        }
        return true;
    }
    if (t == TYPE_TUPLE) {
        uint8_t bytes[TUPLE_MAX];
        uint32_t n = tuple_length(first);
        if (cell_is(second, TYPE_TUPLE)) {
            uint32_t m = tuple_length(second);
            uint32_t length = n > m ? n : m;
            for (uint32_t i = 0; i < length; i++) {
                int32_t a = i < n ? tuple_byte(first, i) : 0, b = i < m ? tuple_byte(second, i) : 0;
                bytes[i] = uint8_t(pick_int(a, b, greater));
            }
            tuple_make_at(first, bytes, length);
            return true;
        }
        if (is_plain_number(second)) {
            // A number is clamped to a byte; a NaN is no byte at all.
            double d = float_arg(second);
            if (std::isnan(d)) fire_with_type(ERR_SCRIPT_TYPE_LIMIT, TYPE_TUPLE);
            int32_t b = d < 0 ? 0 : d > 255 ? 255 : int32_t(d);
            for (uint32_t i = 0; i < n; i++) bytes[i] = uint8_t(pick_int(tuple_byte(first, i), b, greater));
            tuple_make_at(first, bytes, n);
            return true;
        }
    }
    return false;
}

void min_max(bool greater) {
    Cell* a = arg(0);
    Cell* b = arg(1);
    // A NaN against a number wins.
    if (is_nan_number(a) && is_number(b)) {
        stack_keep_result();
        return;
    }
    if (is_nan_number(b) && is_number(a)) {
        *a = *b;
        stack_keep_result();
        return;
    }
    // The composite value goes first.
    uint32_t tb = cell_type(b);
    bool composite_second = tb == TYPE_PAIR || tb == TYPE_POINT2D || tb == TYPE_POINT3D || tb == TYPE_TUPLE;
    if (is_plain_number(a) && composite_second) std::swap(*a, *b);
    if (min_max_composite(a, b, greater)) {
        stack_keep_result();
        return;
    }
    if (compare_values(b, a, greater ? CMP_GREATER : CMP_LESSER)) *a = *b;
    stack_keep_result();
}

}  // namespace

uint32_t native_negative_q(const int32_t*) {
    result_logic(sign_of(arg(0)) < 0);
    return 0;
}

uint32_t native_positive_q(const int32_t*) {
    result_logic(sign_of(arg(0)) > 0);
    return 0;
}

uint32_t native_sign_q(const int32_t*) {
    set_integer(g_args.base, sign_of(arg(0)));
    stack_keep_result();
    return 0;
}

uint32_t native_zero_q(const int32_t*) {
    const Cell* v = arg(0);
    bool zero = false;
    switch (cell_type(v)) {
        case TYPE_INTEGER: zero = cell_int(v) == 0; break;
        case TYPE_CHAR: zero = cell_char(v) == 0; break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: zero = cell_float(v) == 0.0; break;
        case TYPE_PAIR: zero = pair_x(v) == 0 && pair_y(v) == 0; break;
        case TYPE_MONEY: zero = money_sign(v) == 0; break;
        case TYPE_TUPLE: {
            zero = true;
            for (uint32_t i = 0; i < tuple_length(v); i++) zero &= tuple_byte(v, i) == 0;
            break;
        }
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            float c[3];
            point_coords(v, c);
            zero = c[0] == 0.0f && c[1] == 0.0f && c[2] == 0.0f;
            break;
        }
        default: fire_expect_arg(v, 0);
    }
    result_logic(zero);
    return 0;
}

uint32_t native_nan_q(const int32_t*) {
    result_logic(!cell_is(arg(0), TYPE_INTEGER) && std::isnan(cell_float(arg(0))));
    return 0;
}

uint32_t native_max(const int32_t*) {
    min_max(true);
    return 0;
}

uint32_t native_min(const int32_t*) {
    min_max(false);
    return 0;
}

// Counts below 0 count as 0; 32 or more shift every bit out (a negative value shifted arithmetically
// keeps its sign bits: -1).
uint32_t native_shift(const int32_t* refs) {
    int32_t data = cell_int(arg(0));
    int32_t bits = cell_int(arg(1));
    if (bits < 0) bits = 0;
    int32_t r;
    if (present(refs, 0)) {
        r = bits >= 32 ? 0 : int32_t(uint32_t(data) << bits);
    } else if (present(refs, 1)) {
        r = bits >= 32 ? 0 : int32_t(uint32_t(data) >> bits);
    } else {
        r = bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
    }
    set_integer(g_args.base, r);
    stack_keep_result();
    return 0;
}

// The integer's eight upper-case hexadecimal digits as an issue!; /size keeps the last few of them.
uint32_t native_to_hex(const int32_t* refs) {
    const char* digits = string_int_to_hex(cell_int(arg(0)), false);
    if (const Cell* size = ref_arg(refs, 0)) {
        int32_t n = cell_int(size);
        if (n < 1) fire(ERR_SCRIPT_INVALID_ARG, size);
        if (n < 8) digits += 8 - n;
    }
    Cell issue = issue_load(digits);
    stack_set_only_result(&issue);
    return 0;
}

uint32_t native_sine(const int32_t* refs) {
    result_float(cleaned(std::sin(trig_arg(refs, ANGLE_SINE))));
    return 0;
}

uint32_t native_cosine(const int32_t* refs) {
    result_float(cleaned(std::cos(trig_arg(refs, ANGLE_COSINE))));
    return 0;
}

// The tangent of a right angle is an infinity, not the large number tan gives for pi / 2 rounded.
uint32_t native_tangent(const int32_t* refs) {
    double a = trig_arg(refs, ANGLE_TANGENT);
    result_float(a == PI / 2 ? 1.0 / 0.0 : a == PI / -2 ? -1.0 / 0.0 : std::tan(a));
    return 0;
}

uint32_t native_arcsine(const int32_t* refs) {
    inverse_trig(refs, std::asin);
    return 0;
}

uint32_t native_arccosine(const int32_t* refs) {
    inverse_trig(refs, std::acos);
    return 0;
}

uint32_t native_arctangent(const int32_t* refs) {
    inverse_trig(refs, std::atan);
    return 0;
}

uint32_t native_arctangent2(const int32_t* refs) {
    double r = std::atan2(float_arg(arg(0)), float_arg(arg(1)));
    result_float(present(refs, 0) ? r : r * 180.0 / PI);
    return 0;
}

uint32_t native_log_2(const int32_t*) {
    result_float(std::log(float_arg(arg(0))) / LN_2);
    return 0;
}

uint32_t native_log_10(const int32_t*) {
    result_float(std::log10(float_arg(arg(0))));
    return 0;
}

uint32_t native_log_e(const int32_t*) {
    result_float(std::log(float_arg(arg(0))));
    return 0;
}

uint32_t native_exp(const int32_t*) {
    result_float(std::pow(E, float_arg(arg(0))));
    return 0;
}

uint32_t native_square_root(const int32_t*) {
    result_float(std::sqrt(float_arg(arg(0))));
    return 0;
}

}  // namespace zol::natives
