// integer!: the 32-bit signed integer. Its arithmetic runs on the cells in place and watches for overflow:
// a sum, difference, product or power that does not fit, or an inexact quotient, becomes a float!. Mixed
// arithmetic with a floating-point operand runs float!'s; pair!, point, tuple! and date! operands get the
// operation with the operands exchanged.
#include "integer.h"

#include <cmath>
#include <cstring>

#include "binary.h"
#include "date.h"
#include "error.h"
#include "float.h"
#include "logic.h"
#include "money.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/values/support.h"
#include "runtime/scan_number.h"
#include "string.h"
#include "symbol.h"
#include "vector.h"
#include "word.h"

namespace zol {

namespace {

constexpr int32_t INT32_LOWEST = -2147483647 - 1;

// Decimal text from the head, with "'" separators, as the lexer reads an integer.
int32_t text_to_integer(const Cell* text) {
    Series* s = cell_series(text);
    int error;
    int32_t v = scan_integer(s->head_ptr() + uint64_t(series_index(text)) * s->unit(), s->unit(),
                             string_length(text), &error);
    if (error != SCAN_OK) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_INTEGER, text);
    return v;
}

// An issue's name as up to 8 hexadecimal digits; FFFFFFFF is -1.
int32_t issue_to_integer(const Cell* issue) {
    uint32_t length;
    const uint8_t* name = symbol_bytes(word_symbol(issue), &length);
    if (length == 0 || length > 8) fire(ERR_SCRIPT_INVALID_DATA, issue);
    uint32_t v = 0;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t c = name[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            fire(ERR_SCRIPT_INVALID_DATA, issue);
        }
        v = v << 4 | digit;
    }
    return int32_t(v);
}

// Up to the first 4 bytes from the head, big-endian.
int32_t binary_to_integer(const Cell* bin) {
    uint32_t length;
    const uint8_t* bytes = binary_head(bin, &length);
    uint32_t v = 0;
    for (uint32_t i = 0; i < length && i < 4; i++) v = v << 8 | bytes[i];
    return int32_t(v);
}

// Whole seconds, halves rounded away from zero on both sides of zero.
int32_t time_to_integer(const Cell* time) {
    double r = std::round(cell_float(time));
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) fire_with_type(ERR_SCRIPT_TYPE_LIMIT, TYPE_INTEGER);
    return int32_t(r);
}

// make and to: the result is written into the first argument's cell.
const Cell* integer_to(Cell* proto, Cell* spec, TypeId) {
    int32_t v;
    switch (family_case(cell_type(spec), FAMILY_ANY_STRING, TYPE_STRING)) {
        case TYPE_INTEGER: v = cell_int(spec); break;
        case TYPE_CHAR: v = int32_t(cell_char(spec)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: v = integer_from_float(spec); break;
        case TYPE_TIME: v = time_to_integer(spec); break;
        case TYPE_STRING: v = text_to_integer(spec); break;  // any-string!
        case TYPE_ISSUE: v = issue_to_integer(spec); break;
        case TYPE_BINARY: v = binary_to_integer(spec); break;
        case TYPE_DATE: {
            int64_t seconds = date_to_epoch_seconds(spec);
            if (seconds < INT32_LOWEST || seconds > 2147483647) fire_with_type(ERR_SCRIPT_TYPE_LIMIT, TYPE_INTEGER);
            v = int32_t(seconds);
            break;
        }
        case TYPE_MONEY: v = money_to_integer(spec); break;
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_INTEGER, spec);
    }
    set_integer(proto, v);
    return proto;
}

const Cell* integer_make(Cell* proto, Cell* spec, TypeId type) {
    if (cell_is(spec, TYPE_LOGIC)) {
        set_integer(proto, logic_get(spec) ? 1 : 0);
        return proto;
    }
    return integer_to(proto, spec, type);
}

// Shared with char!: the result keeps the value's own type.
void integer_random(Cell* value, bool seed, bool secure, bool) {
    int32_t v = cell_int(value);
    if (seed) {
        init_genrand(uint32_t(v));
        unset_set_result();
        return;
    }
    TypeId type = cell_type(value);
    Cell* out = g_args.base;
    set_integer(out, v == 0 ? 0 : random_range(secure, v));
    cell_set_type(out, type);
}

int integer_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    const char* text = integer_to_decimal(cell_int(value));
    size_t n = std::strlen(text);
    string_append_ascii(out, text, n);
    return budget - int(n);
}

int integer_compare(const Cell* value, const Cell* other, CompareOp op) {
    TypeId type = cell_type(other);
    // A value of another type is never strictly equal, the same, or found; so 1 == 1.0 and same? 65 #"A"
    // are false.
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && type != cell_type(value)) return 1;
    int64_t a = cell_int(value), b;
    switch (type) {
        case TYPE_INTEGER: b = cell_int(other); break;
        case TYPE_CHAR: b = cell_char(other); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: {
            Cell f;
            set_float(&f, double(a));
            return float_compare(&f, other, op);
        }
        case TYPE_MONEY: return money_compare_number(value, other, op);
        default: return COMPARE_INCOMPARABLE;
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

// Shared with char!: the value keeps its type.
void integer_absolute() {
    Cell* c = g_args.base;
    int32_t v = cell_int(c);
    if (v == INT32_LOWEST) fire(ERR_MATH_OVERFLOW);
    c->w2 = uint32_t(v < 0 ? -v : v);
}

void integer_negate(Cell* number) {
    int32_t v = cell_int(number);
    if (v == INT32_LOWEST) fire(ERR_MATH_OVERFLOW);
    number->w2 = uint32_t(-v);
}

const Cell* integer_complement(Cell* value) {
    value->w2 = ~value->w2;
    return value;
}

bool integer_even_q(const Cell* number) { return (number->w2 & 1) == 0; }
bool integer_odd_q(const Cell* number) { return (number->w2 & 1) != 0; }

// The types that take a number on their right run the operation with the operands exchanged.
void exchanged_math(ArithOp op, TypeId right) {
    switch (right) {
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (op == ARITH_DIVIDE) fire_not_related(ACT_DIVIDE, TYPE_INTEGER);
            if (op == ARITH_SUBTRACT) {
                // n - p is -p + n.
                auto negate = g_types.get<ACT_NEGATE>(right);
                if (!negate || !g_types.action(right, ACT_ADD)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, right);
                negate(g_args.base + 1);
                op = ARITH_ADD;
            }
            break;
        case TYPE_TUPLE:
            if (op == ARITH_SUBTRACT || op == ARITH_DIVIDE) fire_not_related(arith_action(op), TYPE_INTEGER);
            break;
        default:  // date!
            if (op != ARITH_ADD) fire_not_related(arith_action(op), TYPE_INTEGER);
            break;
    }
    arith_run_exchanged(op);
}

// The first argument (the result slot) combines with the second.
void integer_do_math(ArithOp op) {
    Cell* left = g_args.base;
    const Cell* right = left + 1;
    TypeId rt = cell_type(right);
    switch (rt) {
        case TYPE_INTEGER:
        case TYPE_CHAR: break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: return float_do_math(op);
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
        case TYPE_TUPLE:
        case TYPE_DATE: return exchanged_math(op, rt);
        case TYPE_VECTOR: return vector_scalar_op(op, g_args.base + 1, left, true);
        case TYPE_MONEY: return money_do_math(op);
        default:
            fire_with_type(ERR_SCRIPT_INVALID_TYPE, rt);
    }
    int32_t r;
    double exact;
    if (integer_op(cell_int(left), int32_t(right->w2), op, &r, &exact)) {
        set_integer(left, r);
    } else {
        set_float(left, exact);
    }
}

void integer_add() { integer_do_math(ARITH_ADD); }
void integer_subtract() { integer_do_math(ARITH_SUBTRACT); }
void integer_multiply() { integer_do_math(ARITH_MULTIPLY); }
void integer_divide() { integer_do_math(ARITH_DIVIDE); }
void integer_remainder() { integer_do_math(ARITH_REMAINDER); }
void integer_or() { integer_do_math(ARITH_OR); }
void integer_and() { integer_do_math(ARITH_AND); }
void integer_xor() { integer_do_math(ARITH_XOR); }

// Exponentiation by squaring in 32 bits; a product that overflows gives the float power instead.
void integer_power() {
    Cell* base = g_args.base;
    const Cell* exponent = base + 1;
    bool integer_exponent = cell_is(exponent, TYPE_INTEGER);
    if (!integer_exponent && !cell_is(exponent, TYPE_FLOAT)) fire_expect_arg(exponent, 1);
    if (!integer_exponent || cell_int(exponent) < 0) {
        set_float(base, double(cell_int(base)));
        return float_power();
    }
    int32_t b = cell_int(base), e = cell_int(exponent), r = 1;
    bool overflow = false;
    for (uint32_t bits = uint32_t(e); bits != 0 && !overflow;) {
        if (bits & 1) overflow = __builtin_mul_overflow(r, b, &r);
        bits >>= 1;
        if (bits != 0 && !overflow) overflow = __builtin_mul_overflow(b, b, &b);
    }
    if (overflow) {
        set_float(base, std::pow(double(cell_int(base)), double(e)));
    } else {
        set_integer(base, r);
    }
}

// Rounds to a multiple of |scale| in 64 bits; math overflow only when the chosen result does not fit.
void integer_round(Cell* number, const RoundArgs& args) {
    const Cell* scale_cell = args.scale;
    if (scale_cell && cell_is(scale_cell, TYPE_MONEY)) fire_not_related(ACT_ROUND, TYPE_MONEY);
    if (scale_cell && !cell_is(scale_cell, TYPE_INTEGER)) {
        set_float(number, double(cell_int(number)));
        return float_round(number, args);
    }
    int64_t scale = scale_cell ? cell_int(scale_cell) : 1;
    if (scale == INT32_LOWEST) fire(ERR_MATH_OVERFLOW);
    if (scale < 0) scale = -scale;
    int64_t value = cell_int(number);
    if (scale == 0) return;
    int64_t a = value < 0 ? -value : value, q = a / scale, r = a % scale;
    if (r == 0) return;
    bool negative = value < 0;
    int64_t down = a - r, up = a + (scale - r);
    int64_t result;
    if (args.down) {
        result = negative ? -down : down;
    } else if (args.floor) {
        result = negative ? -up : down;
    } else if (args.ceiling) {
        result = negative ? -down : up;
    } else {
        int64_t magnitude;
        if (r < scale - r) {
            magnitude = down;
        } else if (r > scale - r) {
            magnitude = up;
        } else if (args.even) {
            magnitude = q % 2 ? up : down;
        } else if (args.half_down) {
            magnitude = down;
        } else if (args.half_ceiling) {
            magnitude = negative ? down : up;
        } else {
            magnitude = up;
        }
        result = negative ? -magnitude : magnitude;
    }
    if (result < INT32_LOWEST || result > 2147483647) fire(ERR_MATH_OVERFLOW);
    number->w2 = uint32_t(int32_t(result));
}

}  // namespace

int32_t integer_get_arg(uint32_t position) { return cell_int(g_args.base + position); }

int32_t integer_arg_or_zero(uint32_t position) {
    const Cell* c = g_args.base + position;
    return cell_is(c, TYPE_INTEGER) ? cell_int(c) : 0;
}

Cell* integer_make_at(Cell* c, int32_t v) {
    set_integer(c, v);
    return c;
}

Cell* integer_make_in(const Cell* block, int32_t v) { return integer_make_at(block_alloc_tail(block), v); }

Cell* integer_push(int32_t v) { return integer_make_at(stack_push_cell(), v); }

Cell* integer_set_result(int32_t v) { return integer_make_at(g_args.base, v); }

const char* integer_to_decimal(int32_t v) {
    static char text[12];
    if (v == INT32_LOWEST) return "-2147483648";
    uint32_t magnitude = uint32_t(v < 0 ? -v : v);
    char* p = text + sizeof text - 1;
    *p = '\0';
    do {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (v < 0) *--p = '-';
    return p;
}

int32_t integer_from_float(const Cell* value) {
    // Truncated first: 2147483647.4 and -2147483648.9 have an integer value.
    double d = std::trunc(cell_float(value));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire_with_type(ERR_SCRIPT_TYPE_LIMIT, TYPE_INTEGER);
    return int32_t(d);
}

bool integer_op(int32_t a, int32_t b, ArithOp op, int32_t* r, double* exact) {
    switch (op) {
        case ARITH_ADD:
            if (!__builtin_add_overflow(a, b, r)) return true;
            *exact = double(a) + double(b);
            return false;
        case ARITH_SUBTRACT:
            if (!__builtin_sub_overflow(a, b, r)) return true;
            *exact = double(a) - double(b);
            return false;
        case ARITH_MULTIPLY:
            if (!__builtin_mul_overflow(a, b, r)) return true;
            *exact = double(a) * double(b);
            return false;
        case ARITH_DIVIDE:
            if (b == 0) fire(ERR_MATH_ZERO_DIVIDE);
            if (a == INT32_LOWEST && b == -1) fire(ERR_MATH_OVERFLOW);
            if (a % b != 0) {
                *exact = double(a) / double(b);
                return false;
            }
            *r = a / b;
            return true;
        case ARITH_REMAINDER:
            if (b == 0) fire(ERR_MATH_ZERO_DIVIDE);
            if (a == INT32_LOWEST && b == -1) fire(ERR_MATH_OVERFLOW);
            *r = a % b;
            return true;
        case ARITH_OR: *r = a | b; return true;
        case ARITH_AND: *r = a & b; return true;
        case ARITH_XOR: *r = a ^ b; return true;
    }
    return true;
}

void integer_init(DatatypeRegistry& registry) {
    Registration r(TYPE_INTEGER);
    r.own<ACT_MAKE>(integer_make).own<ACT_TO>(integer_to).own<ACT_RANDOM>(integer_random);
    r.own<ACT_FORM>(integer_form).own<ACT_MOLD>(integer_form).own<ACT_COMPARE>(integer_compare);
    r.own<ACT_ABSOLUTE>(integer_absolute).own<ACT_NEGATE>(integer_negate).own<ACT_COMPLEMENT>(integer_complement);
    r.own<ACT_ADD>(integer_add).own<ACT_SUBTRACT>(integer_subtract).own<ACT_MULTIPLY>(integer_multiply);
    r.own<ACT_DIVIDE>(integer_divide).own<ACT_REMAINDER>(integer_remainder).own<ACT_POWER>(integer_power);
    r.own<ACT_ROUND>(integer_round).own<ACT_EVEN_Q>(integer_even_q).own<ACT_ODD_Q>(integer_odd_q);
    r.own<ACT_AND_T>(integer_and).own<ACT_OR_T>(integer_or).own<ACT_XOR_T>(integer_xor);
    registry.register_datatype(r);
}

}  // namespace zol
