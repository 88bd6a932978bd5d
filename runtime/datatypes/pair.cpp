// pair!: two 32-bit integers. Its arithmetic runs integer!'s on each coordinate; a result that leaves the
// integers, a fractional factor or a point2D! operand hands the operation to point2D!.
#include "pair.h"

#include <cmath>
#include <cstring>

#include "error.h"
#include "integer.h"
#include "logic.h"
#include "point.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"
#include "runtime/values/support.h"
#include "string.h"
#include "symbol.h"

namespace zol {

namespace {

const Cell* path_of(const PathStep& step, const Cell* value) { return step.path ? step.path : value; }

// The first two values of a block as integers, floats truncated; malconstruct otherwise.
void block_coordinates(const Cell* spec, int32_t* x, int32_t* y) {
    Series* s = cell_series(spec);
    uint32_t index = series_index(spec);
    if (index > s->used() || s->used() - index < 2 || !number_to_int(s->cells() + index, x) ||
        !number_to_int(s->cells() + index + 1, y)) {
        fire(ERR_SYNTAX_MALCONSTRUCT, spec);
    }
}

// make and to: the result is written into the first argument's cell.
const Cell* pair_to(Cell* proto, Cell* spec, TypeId) {
    int32_t x, y;
    switch (cell_type(spec)) {
        case TYPE_PAIR: *proto = *spec; return proto;
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            if (!number_to_int(spec, &x)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_PAIR, spec);
            y = x;
            break;
        case TYPE_BLOCK: block_coordinates(spec, &x, &y); break;
        case TYPE_POINT2D: {
            double fx = point_coordinate(spec, 0), fy = point_coordinate(spec, 1);
            if (!(std::fabs(fx) < 2147483648.0 && std::fabs(fy) < 2147483648.0)) fire(ERR_SCRIPT_INVALID_ARG, spec);
            x = int32_t(fx);
            y = int32_t(fy);
            break;
        }
        case TYPE_STRING: {
            GcRoot loaded;
            if (!load_text_value(spec, loaded.get())) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_PAIR, spec);
            if (!cell_is(loaded.get(), TYPE_PAIR)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_PAIR, loaded.get());
            *proto = *loaded;
            return proto;
        }
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_PAIR, spec);
    }
    return pair_make_at(proto, x, y);
}

void pair_random(Cell* value, bool seed, bool secure, bool) {
    int32_t x = pair_x(value), y = pair_y(value);
    if (seed) {
        init_genrand(uint32_t(x) ^ uint32_t(y));
        unset_set_result();
        return;
    }
    if (x != 0) x = random_range(secure, x);
    if (y != 0) y = random_range(secure, y);
    pair_make_at(g_args.base, x, y);
}

int pair_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    int written = 0;
    for (int i = 0; i < 2; i++) {
        if (i == 1) {
            string_append_ascii(out, "x", 1);
            written++;
        }
        const char* text = integer_to_decimal(i == 0 ? pair_x(value) : pair_y(value));
        size_t n = std::strlen(text);
        string_append_ascii(out, text, n);
        written += int(n);
    }
    return budget - written;
}

// The coordinate an element selects: 1, 2 or a field word; anything else raises invalid-path.
int selected_field(const Cell* value, const PathStep& step) {
    const Cell* e = step.element;
    if (cell_is(e, TYPE_INTEGER)) {
        int32_t i = cell_int(e);
        if (i == 1 || i == 2) return i;
    } else if (cell_is(e, TYPE_WORD)) {
        return pair_field_index(e, value);
    }
    fire(ERR_SCRIPT_INVALID_PATH, path_of(step, value), e);
}

const Cell* pair_eval_path(Cell* value, const PathStep& step) {
    int field = selected_field(value, step);
    if (!step.set_value) {
        set_integer(value, field == 1 ? pair_x(value) : pair_y(value));
        return value;
    }
    const Cell* v = step.set_value;
    if (!cell_is(v, TYPE_INTEGER)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(v));
    (field == 1 ? value->w2 : value->w3) = uint32_t(cell_int(v));
    return path_store_back(step, value);
}

int pair_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (cell_is(other, TYPE_POINT2D)) {
        Cell point;
        point2d_make_at(&point, float(pair_x(value)), float(pair_y(value)));
        return point_compare(&point, other, op);
    }
    if (!cell_is(other, TYPE_PAIR)) return COMPARE_INCOMPARABLE;
    int64_t d = int64_t(pair_x(value)) - pair_x(other);
    if (d == 0) d = int64_t(pair_y(value)) - pair_y(other);
    return d < 0 ? -1 : d > 0 ? 1 : 0;
}

// integer!'s absolute value of each coordinate, which raises overflow for the lowest integer.
void pair_absolute() {
    Cell* p = g_args.base;
    int32_t x = pair_x(p), y = pair_y(p);
    if (x == INT32_MIN || y == INT32_MIN) fire(ERR_MATH_OVERFLOW);
    pair_make_at(p, x < 0 ? -x : x, y < 0 ? -y : y);
}

// Two's complement: the lowest integer stays itself.
void pair_negate(Cell* p) { pair_make_at(p, int32_t(0u - p->w2), int32_t(0u - p->w3)); }

void pair_add() { pair_do_math(ARITH_ADD); }
void pair_subtract() { pair_do_math(ARITH_SUBTRACT); }
void pair_multiply() { pair_do_math(ARITH_MULTIPLY); }
void pair_divide() { pair_do_math(ARITH_DIVIDE); }
void pair_remainder() { pair_do_math(ARITH_REMAINDER); }
void pair_and() { pair_do_math(ARITH_AND); }
void pair_or() { pair_do_math(ARITH_OR); }
void pair_xor() { pair_do_math(ARITH_XOR); }

// One coordinate rounded by integer!'s round; a float result (a float scale) is truncated back.
int32_t round_coordinate(int32_t v, const Cell* scale, const RoundArgs& args) {
    GcRoot number, s;
    set_integer(number.get(), v);
    RoundArgs a = args;
    if (scale) {
        *s = *scale;
        a.scale = s.get();
    }
    g_types.get<ACT_ROUND>(TYPE_INTEGER)(number.get(), a);
    if (cell_is(number.get(), TYPE_INTEGER)) return cell_int(number.get());
    return integer_from_float(number.get());
}

void pair_round(Cell* p, const RoundArgs& args) {
    const Cell* scale = args.scale;
    if (scale && cell_is(scale, TYPE_MONEY)) fire_not_related(ACT_ROUND, TYPE_MONEY);
    Cell sx, sy;
    const Cell* scale_x = scale;
    const Cell* scale_y = scale;
    if (scale && cell_is(scale, TYPE_PAIR)) {
        set_integer(&sx, pair_x(scale));
        set_integer(&sy, pair_y(scale));
        scale_x = &sx;
        scale_y = &sy;
    }
    int32_t x = round_coordinate(pair_x(p), scale_x, args);
    int32_t y = round_coordinate(pair_y(p), scale_y, args);
    pair_make_at(p, x, y);
}

const Cell* pair_pick(Cell* p, int, Cell* index_cell) {
    int field = 0;
    if (cell_is(index_cell, TYPE_INTEGER)) {
        field = cell_int(index_cell);
    } else if (cell_is(index_cell, TYPE_WORD)) {
        field = pair_field_index(index_cell, p);
    }
    if (field != 1 && field != 2) fire(ERR_SCRIPT_OUT_OF_RANGE, index_cell);
    set_integer(p, field == 1 ? pair_x(p) : pair_y(p));
    return p;
}

void pair_reverse(Cell* p, Cell*, Cell*) { pair_make_at(g_args.base, pair_y(p), pair_x(p)); }

}  // namespace

Cell* pair_make_at(Cell* cell, int32_t x, int32_t y) {
    cell->header = TYPE_PAIR;
    cell->w1 = 0;
    cell->w2 = uint32_t(x);
    cell->w3 = uint32_t(y);
    return cell;
}

Cell* pair_make_in(const Cell* block, int32_t x, int32_t y) { return pair_make_at(block_alloc_tail(block), x, y); }

Cell* pair_push(int32_t x, int32_t y) { return pair_make_at(stack_push_cell(), x, y); }

int pair_field_index(const Cell* word, const Cell* value) {
    uint32_t symbol = symbol_resolve(word_symbol(word));
    if (symbol == g_sym[SYM_X]) return 1;
    if (symbol == g_sym[SYM_Y]) return 2;
    if (cell_is(value, TYPE_PAIR)) fire(ERR_SCRIPT_CANNOT_USE, word, value);
    fire(ERR_SCRIPT_INVALID_PATH, value, word);
}

bool number_to_int(const Cell* number, int32_t* out) {
    if (cell_is(number, TYPE_INTEGER)) {
        *out = cell_int(number);
        return true;
    }
    if (!cell_is(number, TYPE_FLOAT)) return false;
    double d = std::trunc(cell_float(number));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) return false;  // NaN too
    *out = int32_t(d);
    return true;
}

void pair_to_point2d(uint32_t position) {
    Cell* c = g_args.base + position;
    point2d_make_at(c, float(pair_x(c)), float(pair_y(c)));
}

void pair_do_math(ArithOp op) {
    Cell* left = g_args.base;
    const Cell* right = left + 1;
    int32_t x2, y2;
    switch (cell_type(right)) {
        case TYPE_PAIR:
            x2 = pair_x(right);
            y2 = pair_y(right);
            break;
        case TYPE_INTEGER: x2 = y2 = cell_int(right); break;
        case TYPE_POINT2D:
            pair_to_point2d(0);
            return point_do_math(op);
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double f = cell_float(right);
            if (op == ARITH_MULTIPLY || op == ARITH_DIVIDE) {
                // A fractional factor gives a point2D!, computed in single precision as its coordinates are.
                if (std::isnan(f) || (op == ARITH_MULTIPLY && std::isinf(f))) fire(ERR_SCRIPT_INVALID_ARG, right);
                float x = float(pair_x(left)), y = float(pair_y(left)), g = float(f);
                if (op == ARITH_MULTIPLY) {
                    point2d_make_at(left, g * x, g * y);
                } else {
                    point2d_make_at(left, float(float_op(x, g, ARITH_DIVIDE)), float(float_op(y, g, ARITH_DIVIDE)));
                }
                return;
            }
            Cell n;
            set_float(&n, f);
            if (!number_to_int(&n, &x2)) fire(ERR_SCRIPT_INVALID_ARG, right);
            y2 = x2;
            break;
        }
        default: fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(right));
    }
    int32_t x, y;
    double exact;
    if (integer_op(pair_x(left), x2, op, &x, &exact) && integer_op(pair_y(left), y2, op, &y, &exact)) {
        pair_make_at(left, x, y);
        return;
    }
    // A coordinate left the integers: the whole operation is done again on points.
    pair_to_point2d(0);
    if (cell_is(right, TYPE_PAIR)) {
        pair_to_point2d(1);
    } else {
        set_integer(left + 1, x2);
    }
    point_do_math(op);
}

void pair_init(DatatypeRegistry& registry) {
    Registration r(TYPE_PAIR);
    r.own<ACT_MAKE>(pair_to).own<ACT_TO>(pair_to).own<ACT_RANDOM>(pair_random);
    r.own<ACT_FORM>(pair_form).own<ACT_MOLD>(pair_form).own<ACT_EVAL_PATH>(pair_eval_path);
    r.own<ACT_COMPARE>(pair_compare).own<ACT_ABSOLUTE>(pair_absolute).own<ACT_NEGATE>(pair_negate);
    r.own<ACT_ADD>(pair_add).own<ACT_SUBTRACT>(pair_subtract).own<ACT_MULTIPLY>(pair_multiply);
    r.own<ACT_DIVIDE>(pair_divide).own<ACT_REMAINDER>(pair_remainder).own<ACT_ROUND>(pair_round);
    r.own<ACT_AND_T>(pair_and).own<ACT_OR_T>(pair_or).own<ACT_XOR_T>(pair_xor);
    r.own<ACT_PICK>(pair_pick).own<ACT_REVERSE>(pair_reverse);
    registry.register_datatype(r);
}

}  // namespace zol
