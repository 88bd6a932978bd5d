// money!: exact decimal amounts. The 22 packed digits are read as one whole number of hundred-thousandths
// (below 10^22, so a 128-bit integer holds it and every product and dividend the operations form), the
// operation is done exactly, and a result that does not fit the digits raises type-limit. Products and
// quotients keep five fraction digits, truncated toward zero.
#include "money.h"

#include <cmath>
#include <cstring>

#include "error.h"
#include "logic.h"
#include "registry.h"
#include "runtime/dtoa.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/scan_number.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"
#include "string.h"
#include "symbol.h"
#include "word.h"

namespace zol {

namespace {

// The 16 bytes of a cell, in memory order.
struct Bytes {
    uint8_t b[16];
};
Bytes bytes_of(const Cell* c) {
    Bytes out;
    std::memcpy(out.b, c, 16);
    return out;
}

void set_digit(uint8_t* bytes, int n, uint32_t digit) {
    uint8_t& at = bytes[5 + (n - 1) / 2];
    at = (n & 1) ? uint8_t((at & 0x0F) | digit << 4) : uint8_t((at & 0xF0) | digit);
}

}  // namespace

bool money_make_at_digits(Cell* cell, bool negative, const uint8_t* code, const uint8_t* int_start,
                          const uint8_t* int_end, const uint8_t* frac_start, const uint8_t* frac_end) {
    int32_t currency = 0;
    if (code) {
        currency = currency_index(code, 3);
        if (currency < 0) return false;
    }
    // The significant integer digits, which must fit digits 1 to 17.
    const uint8_t* first = int_start;
    while (first < int_end && (*first == '0' || *first == '\'')) first++;
    int count = 0;
    for (const uint8_t* p = first; p < int_end; p++) count += *p != '\'';
    if (count > MONEY_INTEGER_DIGITS) return false;

    uint8_t bytes[16] = {};
    int n = MONEY_INTEGER_DIGITS - count + 1;
    for (const uint8_t* p = first; p < int_end; p++) {
        if (*p != '\'') set_digit(bytes, n++, uint32_t(*p - '0'));
    }
    n = MONEY_INTEGER_DIGITS + 1;
    for (const uint8_t* p = frac_start; p && p < frac_end && n <= MONEY_DIGITS; p++) {
        if (*p != '\'') set_digit(bytes, n++, uint32_t(*p - '0'));
    }
    bytes[4] = uint8_t(currency);
    std::memcpy(cell, bytes, 16);
    cell->header = TYPE_MONEY | (negative ? HDR_MONEY_SIGN : 0);
    return true;
}

uint32_t money_digit(const Cell* money, int n) {
    uint8_t at = bytes_of(money).b[5 + (n - 1) / 2];
    return (n & 1) ? at >> 4 : at & 0x0F;
}

uint32_t money_currency(const Cell* money) { return bytes_of(money).b[4]; }

void money_set_currency(Cell* money, uint32_t currency) {
    uint8_t bytes[16];
    std::memcpy(bytes, money, 16);
    bytes[4] = uint8_t(currency);
    std::memcpy(money, bytes, 16);
}

namespace {

// Digits with single "'" separators between them, from a digit at p (after another character), moving p past
// them; -1 when a separator is doubled or no digit follows it.
int separated_digits(const uint8_t*& p, const uint8_t* end) {
    int digits = 0;
    for (; p < end && ((*p >= '0' && *p <= '9') || *p == '\''); p++) {
        if (*p == '\'') {
            if (p[-1] == '\'' || p + 1 >= end || p[1] < '0' || p[1] > '9') return -1;
        } else {
            digits++;
        }
    }
    return digits;
}

}  // namespace

void scan_money(const uint8_t* text, size_t length, uint32_t unit, Cell* target, int* error) {
    *error = SCAN_INVALID;
    uint8_t buf[64];
    if (!scan_ascii(text, unit, length, buf, sizeof buf)) return;
    const uint8_t* p = buf;
    const uint8_t* end = buf + length;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const uint8_t* code = nullptr;
    if (p < end && *p != '$') {
        for (int i = 0; i < 3; i++) {
            if (p + i >= end || !((p[i] | 0x20) >= 'a' && (p[i] | 0x20) <= 'z')) return;
        }
        code = p;
        p += 3;
    }
    if (p >= end || *p++ != '$' || p >= end || *p < '0' || *p > '9') return;
    // The integer part: digits with single separators between them; leading zeros are no digits of it.
    const uint8_t* int_start = p;
    while (p + 1 < end && *p == '0' && ((p[1] >= '0' && p[1] <= '9') || p[1] == '\'')) {
        p++;
        if (*p == '\'' && (p + 1 >= end || p[1] < '0' || p[1] > '9')) return;
        if (*p == '\'') p++;
    }
    int digits = separated_digits(p, end);
    const uint8_t* int_end = p;
    if (digits < 0 || digits > 18) return;
    const uint8_t* frac_start = nullptr;
    const uint8_t* frac_end = nullptr;
    if (p < end && (*p == '.' || *p == ',')) {
        p++;
        if (p >= end || *p < '0' || *p > '9') return;
        frac_start = p;
        int fraction = separated_digits(p, end);
        if (fraction < 0 || fraction > MONEY_FRACTION_DIGITS) return;
        frac_end = p;
    }
    if (p != end) return;
    if (!money_make_at_digits(target, negative, code, int_start, int_end, frac_start, frac_end)) return;
    *error = SCAN_OK;
}


namespace {

using Wide = __int128;

constexpr Wide pow10(int n) {
    Wide v = 1;
    while (n-- > 0) v *= 10;
    return v;
}
constexpr Wide UNIT = pow10(MONEY_FRACTION_DIGITS);  // hundred-thousandths in one
constexpr Wide LIMIT = pow10(MONEY_DIGITS);           // every amount lies below this many units

// An amount: signed units, the sign flag (a zero may carry one) and the currency index.
struct Amount {
    Wide units = 0;
    bool negative = false;
    uint32_t currency = 0;
};

Wide magnitude_of(const Cell* m) {
    Wide v = 0;
    for (int n = 1; n <= MONEY_DIGITS; n++) v = v * 10 + money_digit(m, n);
    return v;
}

Amount amount_of(const Cell* m) {
    Amount a;
    a.negative = money_negative_flag(m);
    Wide v = magnitude_of(m);
    a.units = a.negative ? -v : v;
    a.currency = money_currency(m);
    return a;
}

[[noreturn]] void fire_limit() { fire_with_type(ERR_SCRIPT_TYPE_LIMIT, TYPE_MONEY); }

Cell* store(Cell* cell, Wide units, bool negative, uint32_t currency) {
    Wide v = units < 0 ? -units : units;
    if (v >= LIMIT) fire_limit();
    uint8_t bytes[16] = {};
    for (int n = MONEY_DIGITS; n >= 1; n--) {
        set_digit(bytes, n, uint32_t(v % 10));
        v /= 10;
    }
    bytes[4] = uint8_t(currency);
    std::memcpy(cell, bytes, 16);
    cell->header = TYPE_MONEY | (negative ? HDR_MONEY_SIGN : 0);
    return cell;
}
Cell* store(Cell* cell, Wide units, uint32_t currency) { return store(cell, units, units < 0, currency); }

Wide wide_abs(Wide v) { return v < 0 ? -v : v; }

// The shortest decimal digits of a finite, non-zero double: |value| = digits x 10^exponent.
struct Decimal {
    Wide digits;
    int exponent;
    int fraction_digits;
};
Decimal decimal_of(double value) {
    int decpt, count;
    bool negative;
    const char* text = dtoa_digits(value, 0, &decpt, &count, &negative, false);
    Decimal d{0, decpt - count, count - decpt > 0 ? count - decpt : 0};
    for (int i = 0; i < count; i++) d.digits = d.digits * 10 + (text[i] - '0');
    return d;
}

[[noreturn]] void fire_bad_float(double value) {
    Cell f;
    set_float(&f, value);
    fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_MONEY, &f);
}

// A number operand as money: integers exactly, floats (and percents) by their text.
Amount operand(const Cell* v, bool strict) {
    Cell m;
    switch (cell_type(v)) {
        case TYPE_MONEY: return amount_of(v);
        case TYPE_INTEGER: return amount_of(money_make_integer(&m, cell_int(v)));
        case TYPE_FLOAT:
        case TYPE_PERCENT: return amount_of(money_make_float(&m, cell_float(v), strict));
        default: fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(v));
    }
}

// --- comparison

int order_of(Wide a, Wide b) { return a < b ? -1 : a > b ? 1 : 0; }

// The order of an amount against a double, exactly as the double's shortest text reads; 2 for NaN.
int order_against_float(Wide units, double f) {
    if (std::isnan(f)) return 2;
    if (f == 0) return order_of(units, 0);
    // Beyond what money holds: larger than every amount, or smaller than every amount but zero.
    if (!(std::fabs(f) < 1e17)) return f > 0 ? -1 : 1;
    if (std::fabs(f) < 1e-5) return units == 0 ? (f > 0 ? -1 : 1) : (units > 0 ? 1 : -1);
    Decimal d = decimal_of(f);
    Wide other = f < 0 ? -d.digits : d.digits;
    int shift = d.exponent + MONEY_FRACTION_DIGITS;
    if (shift >= 0) return order_of(units, other * pow10(shift));
    return order_of(units * pow10(-shift), other);
}

// The code text order of two currencies, none first.
int currency_order(uint32_t a, uint32_t b) {
    if (a == b) return 0;
    if (a == 0 || b == 0) return a == 0 ? -1 : 1;
    char x[4] = {}, y[4] = {};  // currency_code's text lives in a buffer that the next call reuses
    if (const char* code = currency_code(a)) std::memcpy(x, code, 3);
    if (const char* code = currency_code(b)) std::memcpy(y, code, 3);
    int c = std::strcmp(x, y);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// The answer of an ordering with a NaN: whichever side makes the ordering false.
int unordered(CompareOp op) {
    switch (op) {
        case CMP_LESSER:
        case CMP_LESSER_OR_EQUAL: return 1;
        case CMP_GREATER:
        case CMP_GREATER_OR_EQUAL: return -1;
        default: return 1;
    }
}

bool is_ordering(CompareOp op) { return op >= CMP_LESSER && op <= CMP_GREATER_OR_EQUAL; }

// Compares two amounts under an operation, with the currency rules: orderings need compatible currencies,
// equalities find incompatible ones unequal, a sought value without currency finds any currency, sorting
// orders by currency first.
int compare_amounts(const Amount& a, const Amount& b, CompareOp op) {
    bool compatible = a.currency == 0 || b.currency == 0 || a.currency == b.currency;
    switch (op) {
        case CMP_SORT:
        case CMP_CASE_SORT:
            if (int c = currency_order(a.currency, b.currency)) return c;
            break;
        case CMP_SAME:
            if (a.currency != b.currency) return 1;
            break;
        case CMP_FIND:
            // Searching code passes the value sought first: one without a currency matches any currency.
            if (a.currency != 0 && a.currency != b.currency) return 1;
            break;
        default:
            if (compatible) break;
            if (is_ordering(op)) fire(ERR_SCRIPT_WRONG_DENOM);
            return 1;
    }
    return order_of(a.units, b.units);
}

// --- actions

const Cell* money_to(Cell* proto, Cell* spec, TypeId) {
    switch (family_case(cell_type(spec), FAMILY_ANY_STRING, TYPE_STRING)) {
        case TYPE_MONEY: *proto = *spec; return proto;
        case TYPE_INTEGER: return money_make_integer(proto, cell_int(spec));
        case TYPE_FLOAT: return money_make_float(proto, cell_float(spec), true);
        case TYPE_STRING: {  // any-string!: a money literal from the head
            Series* s = cell_series(spec);
            Cell m;
            int error;
            scan_money(s->head_ptr() + uint64_t(series_index(spec)) * s->unit(), string_length(spec), s->unit(), &m, &error);
            if (error != SCAN_OK) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_MONEY, spec);
            *proto = m;
            return proto;
        }
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_MONEY, spec);
    }
}

// [currency amount fraction]: an optional currency word, an integer or float amount, and after an integer
// amount an optional count of hundred-thousandths (0 to 99999) that takes the amount's sign.
const Cell* money_make(Cell* proto, Cell* spec, TypeId type) {
    if (cell_is(spec, TYPE_WORD)) {
        int32_t currency = currency_index_of_symbol(word_symbol(spec));
        if (currency < 0) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_MONEY, spec);
        return store(proto, 0, uint32_t(currency));
    }
    if (!cell_is(spec, TYPE_BLOCK)) return money_to(proto, spec, type);
    Series* s = cell_series(spec);
    uint32_t index = series_index(spec);
    uint32_t count = index < s->used() ? s->used() - index : 0;
    const Cell* v = s->cells() + index;
    const Cell* end = v + count;
    if (count < 1 || count > 3) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_MONEY, spec);
    uint32_t currency = 0;
    if (cell_is(v, TYPE_WORD)) {
        int32_t c = currency_index_of_symbol(word_symbol(v));
        if (c < 0 || v + 1 == end) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_MONEY, spec);
        currency = uint32_t(c);
        v++;
    }
    Amount a;
    if (cell_is(v, TYPE_INTEGER)) {
        a = operand(v, true);
        if (++v < end) {
            if (!cell_is(v, TYPE_INTEGER) || cell_int(v) < 0 || cell_int(v) > 99999 || v + 1 != end) {
                fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_MONEY, spec);
            }
            a.units += a.units < 0 ? -Wide(cell_int(v)) : Wide(cell_int(v));
        }
    } else if (cell_is(v, TYPE_FLOAT) && v + 1 == end) {
        a = operand(v, true);
    } else {
        fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_MONEY, spec);
    }
    return store(proto, a.units, currency);
}

// Each digit from the first significant one is drawn from 0 to itself until one is drawn lower, after which
// the digits are free: a uniform amount between zero and the value.
void money_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        init_genrand(value->w1 ^ value->w2 ^ value->w3 ^ (money_negative_flag(value) ? 1 : 0));
        unset_set_result();
        return;
    }
    Amount a = amount_of(value);
    Wide v = wide_abs(a.units), r = 0;
    bool free = false, started = false;
    for (int n = 1; n <= MONEY_DIGITS; n++) {
        uint32_t d = uint32_t(v / pow10(MONEY_DIGITS - n) % 10);
        started = started || d != 0;
        uint32_t x = 0;
        if (free) {
            x = random_draw(secure) % 10;
        } else if (started) {
            for (;;) {
                x = random_draw(secure) % (d + 1);
                if (x == d && random_draw(secure) % 1000 != random_draw(secure) % 1000) continue;
                break;
            }
            free = x < d;
        }
        r = r * 10 + x;
    }
    store(g_args.base, a.negative ? -r : r, a.negative, a.currency);
}

int money_text(const Cell* value, Cell* out, const MoldArgs& args, int budget, bool separators) {
    char text[64];
    char* p = text;
    if (money_sign(value) < 0) *p++ = '-';
    if (const char* code = currency_code(money_currency(value))) {
        std::memcpy(p, code, 3);
        p += 3;
    }
    *p++ = '$';
    int first = 1;
    while (first < MONEY_INTEGER_DIGITS && money_digit(value, first) == 0) first++;
    for (int n = first; n <= MONEY_INTEGER_DIGITS; n++) {
        *p++ = char('0' + money_digit(value, n));
        if (separators && n != MONEY_INTEGER_DIGITS && (n + 1) % 3 == 0) *p++ = '\'';
    }
    int fraction = locale_money_digits();
    if (fraction >= 6 || args.all) fraction = MONEY_FRACTION_DIGITS;
    if (fraction > 0) {
        *p++ = '.';
        for (int n = MONEY_INTEGER_DIGITS + 1; n <= MONEY_INTEGER_DIGITS + fraction; n++) {
            *p++ = char('0' + money_digit(value, n));
            if (separators && n == 20 && fraction > 3) *p++ = '\'';
        }
    }
    string_append_ascii(out, text, size_t(p - text));
    return budget - int(p - text);
}

int money_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) { return money_text(value, out, args, budget, true); }
int money_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) { return money_text(value, out, args, budget, false); }

// The field an element or index selects: 1 for code, 2 for amount; 0 for anything else.
int field_of(const Cell* e) {
    if (cell_is(e, TYPE_INTEGER)) return cell_int(e) == 1 || cell_int(e) == 2 ? cell_int(e) : 0;
    if (!cell_is(e, TYPE_WORD)) return 0;
    uint32_t s = symbol_resolve(word_symbol(e));
    return s == g_sym[SYM_CODE] ? 1 : s == g_sym[SYM_AMOUNT] ? 2 : 0;
}

const Cell* field_value(Cell* value, int field) {
    if (field == 2) {
        Amount a = amount_of(value);
        return store(value, a.units, a.negative, 0);
    }
    const char* code = currency_code(money_currency(value));
    if (!code) {
        set_none(value);
    } else {
        *value = word_load(code);
    }
    return value;
}

const Cell* money_eval_path(Cell* value, const PathStep& step) {
    const Cell* path = step.path ? step.path : value;
    int field = field_of(step.element);
    if (field == 0) fire(ERR_SCRIPT_INVALID_PATH, path, step.element);
    if (step.set_value) fire(ERR_SCRIPT_BAD_PATH_SET, path, step.element);
    return field_value(value, field);
}

const Cell* money_pick(Cell* value, int, Cell* index) {
    int field = field_of(index);
    if (field == 0) fire(ERR_SCRIPT_OUT_OF_RANGE, index);
    return field_value(value, field);
}

void money_absolute() { g_args.base->header &= ~HDR_MONEY_SIGN; }
void money_negate(Cell* m) { m->header ^= HDR_MONEY_SIGN; }
void money_add() { money_do_math(ARITH_ADD); }
void money_subtract() { money_do_math(ARITH_SUBTRACT); }
void money_multiply() { money_do_math(ARITH_MULTIPLY); }
void money_divide() { money_do_math(ARITH_DIVIDE); }
void money_remainder() { money_do_math(ARITH_REMAINDER); }
bool money_even_q(const Cell* m) { return money_digit(m, MONEY_INTEGER_DIGITS) % 2 == 0; }
bool money_odd_q(const Cell* m) { return !money_even_q(m); }

// To a multiple of the scale (1 by default), the choice between the two neighbours made by the refinement.
// A tie is a remainder of exactly half the scale; /even looks at the parity of the quotient.
void money_round(Cell* m, const RoundArgs& args) {
    Amount a = amount_of(m);
    if (a.units == 0) return;
    Wide scale = UNIT;
    if (args.scale) {
        switch (cell_type(args.scale)) {
            case TYPE_MONEY:
            case TYPE_INTEGER:
            case TYPE_FLOAT: scale = wide_abs(operand(args.scale, true).units); break;
            default: fire_not_related(ACT_ROUND, cell_type(args.scale));
        }
    }
    if (scale == 0) return;
    bool negative = a.units < 0;
    Wide v = wide_abs(a.units), r = v % scale, down = v - r, up = down + scale;
    bool tie = 2 * r == scale, away;
    if (args.down) {
        away = false;
    } else if (args.floor) {
        away = negative && r != 0;
    } else if (args.ceiling) {
        away = !negative && r != 0;
    } else if (args.even && tie) {
        away = (v / scale) % 2 != 0;
    } else if (args.half_down && tie) {
        away = false;
    } else if (args.half_ceiling && tie) {
        away = !negative;
    } else {
        away = r != 0 && r >= scale - r;
    }
    Wide result = away ? up : down;
    store(m, negative ? -result : result, negative, a.currency);
}

}  // namespace

Cell* money_make_at(Cell* cell, bool negative, uint32_t currency, const uint8_t digits[11]) {
    uint8_t bytes[16] = {};
    bytes[4] = uint8_t(currency);
    std::memcpy(bytes + 5, digits, 11);
    std::memcpy(cell, bytes, 16);
    cell->header = TYPE_MONEY | (negative ? HDR_MONEY_SIGN : 0);
    return cell;
}

Cell* money_push(bool negative, uint32_t currency, const uint8_t digits[11]) {
    return money_make_at(stack_push_cell(), negative, currency, digits);
}

Cell* money_make_integer(Cell* cell, int32_t value) { return store(cell, Wide(value) * UNIT, 0); }

Cell* money_make_float(Cell* cell, double value, bool strict) {
    double a = std::fabs(value);
    if (!std::isfinite(value) || a >= 1e17 || (a > 0 && a < 1e-5)) fire_bad_float(value);
    if (a == 0) return store(cell, 0, 0);
    Decimal d = decimal_of(value);
    if (strict && d.fraction_digits > MONEY_FRACTION_DIGITS) fire_bad_float(value);
    int shift = d.exponent + MONEY_FRACTION_DIGITS;
    Wide units = shift >= 0 ? d.digits * pow10(shift) : d.digits / pow10(-shift);
    return store(cell, value < 0 ? -units : units, value < 0, 0);
}

Cell* money_push_integer(int32_t value) { return money_make_integer(stack_push_cell(), value); }
Cell* money_push_float(double value, bool strict) { return money_make_float(stack_push_cell(), value, strict); }

int32_t money_to_integer(const Cell* money) {
    Wide v = amount_of(money).units / UNIT;
    if (v < INT32_MIN || v > INT32_MAX) fire_with_type(ERR_SCRIPT_TYPE_LIMIT, TYPE_INTEGER);
    return int32_t(v);
}

double money_to_float(const Cell* money) {
    // The decimal text with all five fraction digits, read back correctly rounded.
    char text[32];
    char* p = text + sizeof text;
    Wide v = magnitude_of(money);
    for (int n = 0; n < MONEY_DIGITS; n++) {
        if (n == MONEY_FRACTION_DIGITS) *--p = '.';
        *--p = char('0' + int(v % 10));
        v /= 10;
    }
    ptrdiff_t left;
    double d = dtoa_string_to_float(p, text + sizeof text, 0, &left);
    return money_sign(money) < 0 ? -d : d;
}

int money_sign(const Cell* money) {
    if (magnitude_of(money) == 0) return 0;
    return money_negative_flag(money) ? -1 : 1;
}

void money_do_math(ArithOp op) {
    Cell* left = g_args.base;
    const Cell* right = left + 1;
    bool left_money = cell_is(left, TYPE_MONEY), right_money = cell_is(right, TYPE_MONEY);
    if (op > ARITH_REMAINDER) fire_with_type(ERR_SCRIPT_INVALID_TYPE, TYPE_MONEY);
    if (left_money && right_money && op == ARITH_MULTIPLY) fire_with_type(ERR_SCRIPT_INVALID_TYPE, TYPE_MONEY);
    if (!left_money && (op == ARITH_DIVIDE || op == ARITH_REMAINDER)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, TYPE_MONEY);
    Amount a = operand(left, false), b = operand(right, false);
    if (a.currency && b.currency && a.currency != b.currency) fire(ERR_SCRIPT_WRONG_DENOM);
    uint32_t currency = b.currency ? b.currency : a.currency;
    Wide x = wide_abs(a.units), y = wide_abs(b.units), r;
    bool negative;
    switch (op) {
        case ARITH_ADD: return (void)store(left, a.units + b.units, currency);
        case ARITH_SUBTRACT: return (void)store(left, a.units - b.units, currency);
        case ARITH_MULTIPLY: {
            if (x == 0 || y == 0) return (void)store(left, 0, currency);
            if (x > (LIMIT * UNIT - 1) / y) fire_limit();
            r = x * y / UNIT;
            if (r == 0) fire_limit();  // a product below the smallest amount
            negative = (a.units < 0) != (b.units < 0);
            break;
        }
        case ARITH_DIVIDE: {
            if (y == 0) fire(ERR_MATH_ZERO_DIVIDE);
            negative = (a.units < 0) != (b.units < 0);
            r = x * UNIT / y;
            if (x != 0 && r == 0) fire_limit();  // a quotient below the smallest amount
            if (left_money && right_money) {
                Cell q;
                store(&q, negative ? -r : r, 0);
                set_float(left, money_to_float(&q));
                return;
            }
            break;
        }
        default:
            if (y == 0) fire(ERR_MATH_ZERO_DIVIDE);
            r = x % y;
            negative = a.units < 0;
            break;
    }
    store(left, negative ? -r : r, negative && r != 0, currency);
}

int money_compare(const Cell* value, const Cell* other, CompareOp op) {
    TypeId ot = cell_type(other);
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && ot != TYPE_MONEY) return 1;
    Amount a = amount_of(value);
    switch (ot) {
        case TYPE_MONEY: return compare_amounts(a, amount_of(other), op);
        case TYPE_INTEGER: {
            Amount b;
            b.units = Wide(cell_int(other)) * UNIT;
            return compare_amounts(a, b, op);
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            int c = order_against_float(a.units, cell_float(other));
            if (c == 2) return is_ordering(op) ? unordered(op) : 1;
            return is_ordering(op) || op == CMP_SORT || op == CMP_CASE_SORT ? c : c != 0;
        }
        default: return COMPARE_INCOMPARABLE;
    }
}

int money_compare_number(const Cell* number, const Cell* money, CompareOp op) {
    if (op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) return 1;
    int c = money_compare(money, number, op);
    if (c == COMPARE_INCOMPARABLE) return c;
    return is_ordering(op) || op == CMP_SORT || op == CMP_CASE_SORT ? -c : c;
}

void money_init(DatatypeRegistry& registry) {
    Registration r(TYPE_MONEY);
    r.own<ACT_MAKE>(money_make).own<ACT_TO>(money_to).own<ACT_RANDOM>(money_random);
    r.own<ACT_FORM>(money_form).own<ACT_MOLD>(money_mold).own<ACT_EVAL_PATH>(money_eval_path);
    r.own<ACT_COMPARE>(money_compare).own<ACT_ABSOLUTE>(money_absolute).own<ACT_NEGATE>(money_negate);
    r.own<ACT_ADD>(money_add).own<ACT_SUBTRACT>(money_subtract).own<ACT_MULTIPLY>(money_multiply);
    r.own<ACT_DIVIDE>(money_divide).own<ACT_REMAINDER>(money_remainder).own<ACT_ROUND>(money_round);
    r.own<ACT_EVEN_Q>(money_even_q).own<ACT_ODD_Q>(money_odd_q).own<ACT_PICK>(money_pick);
    registry.register_datatype(r);
}

}  // namespace zol
