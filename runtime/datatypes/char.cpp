// char!: one Unicode code point. It shares integer!'s random, absolute, even? and odd?; its own actions convert,
// print and compare code points, and its arithmetic keeps every result inside the code-point range.
#include "char.h"

#include "binary.h"
#include "vector.h"
#include "error.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "string.h"

namespace zol {

namespace {

constexpr int64_t MAX_CODE_POINT = 0x10FFFF;

// The code point of the UTF-8 sequence at a binary's head; nothing past its tail is read.
int64_t binary_head_char(const Cell* bin) {
    uint32_t count;
    const uint8_t* bytes = binary_head(bin, &count);
    if (count == 0) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_CHAR, bin);
    int32_t cp = unicode_decode_utf8_char(bytes, &count);  // raises invalid-utf8
    if (cp == UTF8_INCOMPLETE) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_CHAR, bin);
    return cp;
}

// make and to: the result is written into the first argument's cell.
const Cell* char_to(Cell* proto, Cell* source, TypeId) {
    int64_t cp;
    switch (family_case(cell_type(source), FAMILY_ANY_STRING, TYPE_STRING)) {
        case TYPE_STRING:  // any-string!
            if (string_length(source) == 0) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_CHAR, source);
            cp = string_char_at(source, series_index(source));
            break;
        case TYPE_CHAR: cp = cell_char(source); break;
        case TYPE_INTEGER: cp = cell_int(source); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = cell_float(source);
            if (!(d > -1.0 && d < double(MAX_CODE_POINT + 1))) fire(ERR_SCRIPT_OUT_OF_RANGE, source);  // NaN too
            cp = int64_t(d);  // toward zero
            break;
        }
        case TYPE_BINARY: cp = binary_head_char(source); break;
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_CHAR, source);
    }
    if (cp < 0 || cp > MAX_CODE_POINT) fire(ERR_SCRIPT_OUT_OF_RANGE, source);
    set_char(proto, uint32_t(cp));
    return proto;
}

int char_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    string_append_char(series_node(out), cell_char(value));
    return budget - 1;
}

// The escapes are string!'s: char! writes them between #" and ", so only the double quote needs a caret, never
// a brace.
int char_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    string_append_ascii(out, "#\"");
    string_mold_char(out, cell_char(value), args.all);
    string_append_ascii(out, "\"");
    return budget - 4;  // whatever the escape's length
}

// Numeric order of the code points; a char! equals the integer! of its code point except under strict and
// search equality.
int char_compare(const Cell* value, const Cell* other, CompareOp op) {
    bool is_char = cell_is(other, TYPE_CHAR);
    if ((op == CMP_STRICT_EQUAL || op == CMP_FIND) && !is_char) return 1;
    int64_t b;
    if (is_char) {
        b = cell_char(other);
    } else if (cell_is(other, TYPE_INTEGER)) {
        b = cell_int(other);
    } else {
        return COMPARE_INCOMPARABLE;
    }
    int64_t a = cell_char(value);
    return a < b ? -1 : a > b ? 1 : 0;
}

enum MathOp { MATH_ADD, MATH_SUBTRACT, MATH_MULTIPLY, MATH_DIVIDE, MATH_REMAINDER, MATH_OR, MATH_AND, MATH_XOR };

// The first argument (the result slot) combines with the second as 32-bit integers would. 64-bit arithmetic
// holds every exact result, so one range test stands for both "no 32-bit answer" and "not a code point".
void char_math(MathOp op) {
    Cell* left = g_args.base;
    const Cell* right = g_args.base + 1;
    int64_t b;
    switch (cell_type(right)) {
        case TYPE_CHAR:
        case TYPE_INTEGER: b = int32_t(right->w2); break;
        case TYPE_FLOAT: {
            double d = cell_float(right);
            // An operand with no 32-bit truncation (NaN too) gives no code point.
            if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ERR_MATH_OVERFLOW);
            b = int64_t(d);
            break;
        }
        case TYPE_VECTOR: return vector_scalar_op(ArithOp(op), g_args.base + 1, left, true);  // the same codes
        default: fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(right));
    }
    int64_t a = cell_char(left);
    int64_t r = 0;
    switch (op) {
        case MATH_ADD: r = a + b; break;
        case MATH_SUBTRACT: r = a - b; break;
        case MATH_MULTIPLY: r = a * b; break;
        case MATH_DIVIDE:
            if (b == 0) fire(ERR_MATH_ZERO_DIVIDE);
            r = a / b;  // an integer quotient: a code point has no fraction
            break;
        case MATH_REMAINDER:
            if (b == 0) fire(ERR_MATH_ZERO_DIVIDE);
            r = a % b;
            break;
        case MATH_OR: r = a | b; break;
        case MATH_AND: r = a & b; break;
        case MATH_XOR: r = a ^ b; break;
    }
    if (r < 0 || r > MAX_CODE_POINT) fire(ERR_MATH_OVERFLOW);
    set_char(left, uint32_t(r));
}

void char_add() { char_math(MATH_ADD); }
void char_subtract() { char_math(MATH_SUBTRACT); }
void char_multiply() { char_math(MATH_MULTIPLY); }
void char_divide() { char_math(MATH_DIVIDE); }
void char_remainder() { char_math(MATH_REMAINDER); }
void char_or() { char_math(MATH_OR); }
void char_and() { char_math(MATH_AND); }
void char_xor() { char_math(MATH_XOR); }

}  // namespace

Cell* char_make_in(const Cell* block, uint32_t cp) {
    Cell* c = block_alloc_tail(block);
    set_char(c, cp);
    return c;
}

Cell* char_push(uint32_t cp) {
    Cell* c = stack_push_cell();
    set_char(c, cp);
    return c;
}

void char_init(DatatypeRegistry& registry) {
    Registration r(TYPE_CHAR);
    r.own<ACT_MAKE>(char_to).own<ACT_TO>(char_to);
    r.own<ACT_FORM>(char_form).own<ACT_MOLD>(char_mold).own<ACT_COMPARE>(char_compare);
    r.own<ACT_ADD>(char_add).own<ACT_SUBTRACT>(char_subtract).own<ACT_MULTIPLY>(char_multiply);
    r.own<ACT_DIVIDE>(char_divide).own<ACT_REMAINDER>(char_remainder);
    r.own<ACT_AND_T>(char_and).own<ACT_OR_T>(char_or).own<ACT_XOR_T>(char_xor);
    r.inherit(ACT_RANDOM).inherit(ACT_ABSOLUTE).inherit(ACT_EVEN_Q).inherit(ACT_ODD_Q);
    registry.register_datatype(r);
}

}  // namespace zol
