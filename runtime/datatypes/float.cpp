// float!: the 64-bit IEEE number. Its routines also serve percent! and time! (which inherit or call them)
// and integer! mixed with a floating-point operand, so they read the cell's own type where it matters.
#include "float.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "binary.h"
#include "error.h"
#include "logic.h"
#include "money.h"
#include "registry.h"
#include "vector.h"
#include "runtime/values/backtrace.h"
#include "runtime/dtoa.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/values/support.h"
#include "runtime/scan_number.h"
#include "string.h"
#include "tuple.h"

namespace zol {

bool g_float_pretty = true;
bool g_float_full = false;

namespace {

// IEEE division, spelled out for a zero divisor so that no compiler setting can make it a trap.
double ieee_divide(double x, double y) {
    if (y != 0.0) return x / y;
    if (x == 0.0 || std::isnan(x)) return FLOAT_NAN;
    return std::signbit(x) != std::signbit(y) ? -FLOAT_INFINITY : FLOAT_INFINITY;
}

// Doubles mapped to unsigned keys in numeric order, so that neighbouring doubles get neighbouring keys
// (-0.0 and 0.0 share one).
uint64_t ordered_key(double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    return bits >> 63 ? ~bits + 1 : bits | 0x8000000000000000u;
}

// --- text

// printf's "%.<precision>g", which std::to_chars reproduces exactly.
void general_text(char* out, size_t size, double value, int precision) {
    char* end = std::to_chars(out, out + size - 1, value, std::chars_format::general, precision).ptr;
    *end = '\0';
}

// A text of 16 or more significant digits that ends in 01 or 99 is a binary fraction showing through (0.1 +
// 0.7 gives 0.7999999999999999); the caller prints the value again with fewer digits.
bool noisy_digits(const char* text) {
    const char* m = text + (text[0] == '-');
    size_t length = std::strcspn(m, "e");
    size_t most = m[length] != 'e' && m[0] == '0' ? 17 : 16;
    if (length <= most) return false;
    char a = m[length - 2], b = m[length - 1];
    return (a == '0' && b == '1') || (a == '9' && b == '9');
}

// "1e+20" becomes "1e20" and "1e-05" becomes "1e-5".
void shorten_exponent(char* text) {
    char* e = std::strchr(text, 'e');
    if (!e) return;
    char* from = e + 1;
    char* to = e + 1;
    if (*from == '+') {
        from++;
    } else if (*from == '-') {
        *to++ = *from++;
    }
    while (*from == '0' && from[1] != '\0') from++;
    std::memmove(to, from, std::strlen(from) + 1);
}

// --- make and to

// The units of a text value from its head, read in place: nothing may allocate while they are used.
struct Units {
    const uint8_t* at;
    uint32_t unit;
    uint32_t length;
};
Units text_units(const Cell* text) {
    Series* s = cell_series(text);
    return {s->head_ptr() + uint64_t(series_index(text)) * s->unit(), s->unit(), string_length(text)};
}

bool is_blank(uint32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The number a text loads as, for to percent!: blanks around it are skipped, a "%" suffix divides by 100.
bool text_load_number(const Cell* text, double* out) {
    Units u = text_units(text);
    uint32_t first = 0, last = u.length;
    while (first < last && is_blank(string_get_char(u.at + first * u.unit, u.unit))) first++;
    while (last > first && is_blank(string_get_char(u.at + (last - 1) * u.unit, u.unit))) last--;
    if (first == last) return false;
    int extra = 0;
    if (string_get_char(u.at + (last - 1) * u.unit, u.unit) == '%') {
        extra = -2;
        last--;
    }
    int error;
    *out = scan_float(u.at + first * u.unit, u.unit, last - first, &error, extra);
    return error == SCAN_OK;
}

// Up to 8 bytes from the head, big-endian and right-aligned in the 64-bit pattern.
double binary_bits(const Cell* bin) {
    uint32_t length;
    const uint8_t* bytes = binary_head(bin, &length);
    uint64_t bits = 0;
    for (uint32_t i = 0; i < length && i < 8; i++) bits = bits << 8 | bytes[i];
    return std::bit_cast<double>(bits);
}

// [mantissa exponent]: read as the decimal literal <mantissa>e<exponent>, so [3 -1] is 0.3 exactly as the
// literal 3e-1 is, not 3 times an inexact 0.1.
double block_scientific(const Cell* spec, TypeId target) {
    Series* s = cell_series(spec);
    uint32_t used = s->used(), index = series_index(spec);
    if (index > used || used - index != 2) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, target, spec);
    const Cell* m = s->cells() + index;
    const Cell* e = m + 1;
    bool m_integer = cell_is(m, TYPE_INTEGER), e_integer = cell_is(e, TYPE_INTEGER);
    if (!(m_integer || cell_is(m, TYPE_FLOAT)) || !(e_integer || cell_is(e, TYPE_FLOAT))) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, target, spec);

    int64_t exponent;
    if (e_integer) {
        exponent = cell_int(e);
    } else {
        double x = std::trunc(cell_float(e));
        if (std::isnan(x)) return FLOAT_NAN;
        // Past a billion every mantissa gives an infinity or a zero.
        exponent = x > 1e9 ? 1000000000 : x < -1e9 ? -1000000000 : int64_t(x);
    }
    char text[64];
    char* p = text;
    if (m_integer) {
        p = std::to_chars(p, text + sizeof text, cell_int(m)).ptr;
    } else {
        double d = cell_float(m);
        if (!std::isfinite(d) || d == 0.0) return d;
        int decpt, count;
        bool negative;
        const char* digits = dtoa_digits(d, 0, &decpt, &count, &negative, false);
        if (negative) *p++ = '-';
        std::memcpy(p, digits, size_t(count));
        p += count;
        exponent += decpt - count;
    }
    *p++ = 'e';
    p = std::to_chars(p, text + sizeof text, exponent).ptr;
    ptrdiff_t left;
    return dtoa_string_to_float(text, p, 0, &left);
}

// make and to for the targets float! and percent!: the result is written into the first argument's cell.
const Cell* float_to(Cell* proto, Cell* spec, TypeId type) {
    TypeId target = type == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
    double d;
    uint32_t t = family_case(cell_type(spec), FAMILY_ANY_STRING, TYPE_STRING);
    switch (family_case(t, FAMILY_ANY_LIST, TYPE_BLOCK)) {
        case TYPE_CHAR: d = cell_char(spec); break;
        case TYPE_INTEGER: d = cell_int(spec); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: d = cell_float(spec); break;
        case TYPE_STRING: {  // any-string!
            bool ok;
            if (target == TYPE_PERCENT) {
                ok = text_load_number(spec, &d);
            } else {
                Units u = text_units(spec);
                int error;
                d = scan_float(u.at, u.unit, u.length, &error);
                ok = error == SCAN_OK;
            }
            if (!ok) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, target, spec);
            break;
        }
        case TYPE_BINARY: d = binary_bits(spec); break;
        case TYPE_BLOCK: d = block_scientific(spec, target); break;  // any-list!
        case TYPE_MONEY: d = money_to_float(spec); break;
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, target, spec);
    }
    set_float(proto, d, target);
    return proto;
}

// --- other actions

void float_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        init_genrand(value->w2 ^ value->w3);
        unset_set_result();
        return;
    }
    set_float(g_args.base, float_random_value(cell_float(value), secure), cell_type(value));
}

int append_text(Cell* out, const char* text, int budget) {
    size_t n = std::strlen(text);
    string_append_ascii(out, text, n);
    return budget - int(n);
}

int float_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    return append_text(out, float_to_text(cell_float(value), FLOAT_TEXT_FLOAT), budget);
}

int float_mold(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    return append_text(out, dtoa_form_float(cell_float(value), 0, true), budget);
}

void float_absolute() {
    g_args.base->w3 &= 0x7FFFFFFF;
}

void float_negate(Cell* number) {
    set_float(number, 0.0 - cell_float(number), cell_type(number));
}

void float_add() { float_do_math(ARITH_ADD); }
void float_subtract() { float_do_math(ARITH_SUBTRACT); }
void float_multiply() { float_do_math(ARITH_MULTIPLY); }
void float_divide() { float_do_math(ARITH_DIVIDE); }
void float_remainder() { float_do_math(ARITH_REMAINDER); }

// Outside the 32-bit range (NaN too) a value counts as even.
bool float_even_q(const Cell* number) {
    double d = cell_float(number);
    if (!(d > -2147483649.0 && d < 2147483648.0)) return true;
    return (int64_t(d) & 1) == 0;
}
bool float_odd_q(const Cell* number) { return !float_even_q(number); }

}  // namespace

// --- cells

Cell* float_make_at(Cell* c, double d) {
    set_float(c, d);
    return c;
}

namespace {

Cell* float_make_halves_at(Cell* c, uint32_t high, uint32_t low) {
    c->header = TYPE_FLOAT;
    c->w2 = low;
    c->w3 = high;
    return c;
}

}  // namespace

Cell* float_make_in(const Cell* block, uint32_t high, uint32_t low) {
    return float_make_halves_at(block_alloc_tail(block), high, low);
}

Cell* float_push(double d) { return float_make_at(stack_push_cell(), d); }

Cell* float_push_halves(uint32_t high, uint32_t low) { return float_make_halves_at(stack_push_cell(), high, low); }

Cell* float_set_result(double d) { return float_make_at(g_args.base, d); }

double float_abs(double d) { return std::fabs(d); }

double float_random_value(double d, bool secure) {
    if (secure) {
        double r1 = secure_rand(), r2 = secure_rand();
        return (r1 / 2147483647.0 + r2) * d / 2147483648.0;
    }
    return double(random_draw(false)) / 2147483647.0 * d;
}

int32_t float_round_to_int(double d) {
    double v = std::trunc(d + FLOAT_ROUNDING_BIAS);
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return int32_t(v);
}

bool float_nan_q(double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    return (bits & 0x7FF0000000000000u) == 0x7FF0000000000000u && (bits & 0x000FFFFFFFFFFFFFu) != 0;
}

bool float32_nan_q(float f) { return f != f; }

bool float_special_q(double d) { return !std::isfinite(d); }

// --- text

const char* float_to_text(double value, FloatTextKind kind) {
    static char text[64];
    if (std::isnan(value)) return "1.#NaN";
    if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
    bool percent = kind == FLOAT_TEXT_PERCENT32 || kind == FLOAT_TEXT_PERCENT;
    if (g_float_pretty && std::fabs(value) < FLOAT_EPSILON) {
        return percent ? "0%" : kind == FLOAT_TEXT_POINT ? "0" : "0.0";
    }
    bool short_kind = kind == FLOAT_TEXT_FLOAT32 || kind == FLOAT_TEXT_TIME || kind == FLOAT_TEXT_POINT;
    if (kind == FLOAT_TEXT_TIME) {
        std::strcpy(text, dtoa_form_float(value, 6, false));
    } else {
        general_text(text, sizeof text, value, kind == FLOAT_TEXT_FLOAT ? 16 : kind == FLOAT_TEXT_PERCENT ? 13 : 7);
    }
    if (g_float_pretty && noisy_digits(text)) general_text(text, sizeof text, value, short_kind ? 5 : 14);
    shorten_exponent(text);
    if (percent) {
        std::strcat(text, "%");
    } else if (kind != FLOAT_TEXT_TIME && kind != FLOAT_TEXT_POINT && !std::strchr(text, '.')) {
        char* e = std::strchr(text, 'e');
        if (!e) e = text + std::strlen(text);
        std::memmove(e + 2, e, std::strlen(e) + 1);
        e[0] = '.';
        e[1] = '0';
    }
    return text;
}

// --- equality

bool float_almost_equal_q(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) return false;
    if (x == y) return true;
    // An infinity sits one key above the largest double; it equals only itself.
    if (std::isinf(x) || std::isinf(y)) return false;
    if (std::fabs(x - y) < FLOAT_EPSILON) return true;
    uint64_t a = ordered_key(x), b = ordered_key(y);
    return (a > b ? a - b : b - a) <= 10;
}

bool float32_almost_equal_q(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    uint32_t ma = std::bit_cast<uint32_t>(a) & 0x7FFFFFFF, mb = std::bit_cast<uint32_t>(b) & 0x7FFFFFFF;
    bool na = std::signbit(a), nb = std::signbit(b);
    constexpr float FLOAT32_MAX = std::numeric_limits<float>::max();
    if (std::fabs(a) < FLOAT32_MAX && std::fabs(b) < FLOAT32_MAX) {
        int64_t ka = na ? -int64_t(ma) : int64_t(ma), kb = nb ? -int64_t(mb) : int64_t(mb);
        return (ka > kb ? ka - kb : kb - ka) <= 10;
    }
    return na == nb && (ma > mb ? ma - mb : mb - ma) < 0x100000;
}

// --- arithmetic

double float_op(double x, double y, ArithOp op) {
    switch (op) {
        case ARITH_ADD: return x + y;
        case ARITH_SUBTRACT: return x - y;
        case ARITH_MULTIPLY: return x * y;
        case ARITH_DIVIDE: return ieee_divide(x, y);
        case ARITH_REMAINDER:
            if (!std::isfinite(y)) return std::isnan(y) || !std::isfinite(x) ? FLOAT_NAN : x;
            return std::fmod(x, y);  // NaN for a zero y
        default: {
            Cell word, type;
            stack_get_call_word(&word);
            set_datatype(&type, TYPE_FLOAT);
            fire(ERR_SCRIPT_CANNOT_USE, &word, &type);
        }
    }
}

void arith_run_exchanged(ArithOp op) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    auto fn = reinterpret_cast<void (*)()>(g_types.action(cell_type(right), arith_action(op)));
    if (!fn) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(right));
    Cell swap = *left;
    *left = *right;
    *right = swap;
    fn();
}

void float_do_math(ArithOp op) {
    Cell* left = g_args.base;
    const Cell* right = left + 1;
    TypeId lt = cell_type(left), rt = cell_type(right);
    double y;
    switch (rt) {
        case TYPE_INTEGER: y = cell_int(right); break;
        case TYPE_CHAR:
            if (lt == TYPE_TIME || lt == TYPE_PERCENT) fire_with_type(ERR_SCRIPT_INVALID_TYPE, rt);
            y = cell_char(right);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: y = cell_float(right); break;
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (op == ARITH_SUBTRACT || op == ARITH_DIVIDE) fire_not_related(arith_action(op), rt);
            // A pair or point commutes with a number under add and multiply; a time does not mix with them.
            if ((op == ARITH_ADD || op == ARITH_MULTIPLY) && lt != TYPE_TIME) return arith_run_exchanged(op);
            fire_with_type(ERR_SCRIPT_INVALID_TYPE, rt);
        case TYPE_VECTOR: return vector_scalar_op(op, g_args.base + 1, left, true);
        case TYPE_TUPLE: return tuple_do_math(op);
        case TYPE_MONEY: return money_do_math(op);
        default:
            fire_with_type(ERR_SCRIPT_INVALID_TYPE, rt);
    }
    double x = lt == TYPE_INTEGER ? double(cell_int(left)) : cell_float(left);
    TypeId result = lt == TYPE_TIME || rt == TYPE_TIME ? TYPE_TIME : lt == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
    set_float(left, float_op(x, y, op), result);
}

void float_power() {
    Cell* base = g_args.base;
    const Cell* exponent = base + 1;
    double y;
    if (cell_is(exponent, TYPE_INTEGER)) {
        y = cell_int(exponent);
    } else if (cell_is(exponent, TYPE_FLOAT)) {
        y = cell_float(exponent);
    } else {
        fire_expect_arg(exponent, 1);
    }
    set_float(base, std::pow(cell_float(base), y), cell_type(base));
}

// --- compare

int float_compare(const Cell* value, const Cell* other, CompareOp op) {
    TypeId ot = cell_type(other);
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && ot != cell_type(value)) return 1;
    double x = cell_float(value), y;
    switch (ot) {
        case TYPE_INTEGER: y = cell_int(other); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: y = cell_float(other); break;
        case TYPE_MONEY: return money_compare_number(value, other, op);
        default: return COMPARE_INCOMPARABLE;
    }
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL: return float_almost_equal_q(x, y) ? 0 : 1;
        case CMP_STRICT_EQUAL:
        case CMP_FIND: return x == y ? 0 : 1;  // so a NaN is never found
        case CMP_SAME: return other->w2 == value->w2 && other->w3 == value->w3 ? 0 : 1;
        default: break;
    }
    if (std::isnan(x) || std::isnan(y)) {
        // No order holds with a NaN: each ordering operation answers the side that makes it false.
        switch (op) {
            case CMP_LESSER:
            case CMP_LESSER_OR_EQUAL: return 1;
            case CMP_GREATER:
            case CMP_GREATER_OR_EQUAL: return -1;
            default: return 0;
        }
    }
    return x < y ? -1 : x > y ? 1 : 0;
}

// --- round

void float_round(Cell* number, const RoundArgs& args) {
    const Cell* scale = args.scale;
    TypeId type = cell_type(number);
    if (scale && cell_is(scale, TYPE_MONEY)) fire_not_related(ACT_ROUND, TYPE_MONEY);
    double x = cell_float(number);
    double s = type == TYPE_PERCENT ? 0.01 : 1.0;
    if (scale) {
        switch (cell_type(scale)) {
            case TYPE_INTEGER: s = std::fabs(double(cell_int(scale))); break;
            case TYPE_FLOAT:
            case TYPE_PERCENT:
            case TYPE_TIME: s = std::fabs(cell_float(scale)); break;
            default: fire_expect_arg(scale, 1);
        }
        if (type == TYPE_PERCENT) s /= 100;
    }
    // A scale below the value's precision leaves it as it is, type included; so does a zero scale.
    if (std::ldexp(std::fabs(x), -53) > s || s == 0.0) return;

    // Scales below 1 multiply by their reciprocal, which is exact for 0.1, 0.01 ...; a scale too small for
    // its reciprocal to be finite first moves the binary exponent out of both.
    int e = 0;
    double v;
    if (s >= 1) {
        v = x / s;
    } else {
        double mantissa = std::frexp(s, &e);
        if (e < -1021) {
            x = std::ldexp(x, -e);
            s = mantissa;
        } else {
            e = 0;
        }
        v = (1 / s) * x;
    }

    double r;
    if (args.down) {
        r = std::trunc(v);
    } else if (args.floor) {
        r = std::floor(v);
    } else if (args.ceiling) {
        r = std::ceil(v);
    } else {
        double a = std::fabs(v), half = std::floor(a) + 0.5, magnitude;
        if (a > half) {
            magnitude = std::ceil(a);
        } else if (a < half) {
            magnitude = std::floor(a);
        } else if (args.even) {
            magnitude = std::fmod(a, 2) >= 1 ? std::ceil(a) : std::floor(a);
        } else if (args.half_down) {
            magnitude = std::floor(a);
        } else if (args.half_ceiling) {
            magnitude = std::fabs(std::ceil(v));
        } else {
            magnitude = std::ceil(a);
        }
        r = std::copysign(magnitude, v);
    }

    double result;
    if (s >= 1) {
        result = r * s;
        if (std::isinf(result)) fire(ERR_MATH_OVERFLOW);
    } else {
        result = std::ldexp(r / (1 / s), e);
    }
    if (!scale) {
        set_float(number, result, type);
    } else if (cell_is(scale, TYPE_INTEGER)) {
        if (!(result >= -2147483648.0 && result < 2147483648.0)) fire(ERR_MATH_OVERFLOW);
        set_integer(number, int32_t(result));
    } else {
        set_float(number, result, cell_type(scale));
    }
}

void float_init(DatatypeRegistry& registry) {
    g_float_pretty = true;
    g_float_full = false;
    Registration r(TYPE_FLOAT);
    r.own<ACT_MAKE>(float_to).own<ACT_TO>(float_to).own<ACT_RANDOM>(float_random);
    r.own<ACT_FORM>(float_form).own<ACT_MOLD>(float_mold).own<ACT_COMPARE>(float_compare);
    r.own<ACT_ABSOLUTE>(float_absolute).own<ACT_NEGATE>(float_negate).own<ACT_POWER>(float_power);
    r.own<ACT_ADD>(float_add).own<ACT_SUBTRACT>(float_subtract).own<ACT_MULTIPLY>(float_multiply);
    r.own<ACT_DIVIDE>(float_divide).own<ACT_REMAINDER>(float_remainder).own<ACT_ROUND>(float_round);
    r.own<ACT_EVEN_Q>(float_even_q).own<ACT_ODD_Q>(float_odd_q);
    registry.register_datatype(r);
}

}  // namespace zol
