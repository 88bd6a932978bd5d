// time!: seconds in a double, printed as hours, minutes and seconds. Arithmetic is float!'s, with the rules
// of durations on top: a date on the right of + makes a date, a time cannot multiply a time.
#include "time.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "date.h"
#include "error.h"
#include "float.h"
#include "integer.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"
#include "runtime/values/support.h"
#include "string.h"
#include "symbol.h"

namespace zol {

namespace {

const Cell* path_of(const PathStep& step, const Cell* value) { return step.path ? step.path : value; }

// [hours minutes seconds], 1 to 3 values: integers, the seconds also a float; only the hours may be
// negative, and then the whole time is.
double block_seconds(const Cell* spec) {
    Series* s = cell_series(spec);
    uint32_t index = series_index(spec);
    uint32_t count = index < s->used() ? s->used() - index : 0;
    if (count < 1 || count > 3) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TIME, spec);
    double parts[3] = {0, 0, 0};
    for (uint32_t i = 0; i < count; i++) {
        const Cell* v = s->cells() + index + i;
        if (cell_is(v, TYPE_INTEGER)) {
            parts[i] = cell_int(v);
        } else if (i == 2 && cell_is(v, TYPE_FLOAT) && std::isfinite(cell_float(v))) {
            parts[i] = cell_float(v);
        } else {
            fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TIME, spec);
        }
        if (i > 0 && parts[i] < 0) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TIME, spec);
    }
    double magnitude = std::fabs(parts[0]) * 3600 + parts[1] * 60 + parts[2];
    return parts[0] < 0 ? -magnitude : magnitude;
}

// make and to: the result is written into the first argument's cell.
const Cell* time_to(Cell* proto, Cell* spec, TypeId) {
    double seconds;
    uint32_t t = family_case(cell_type(spec), FAMILY_ANY_STRING, TYPE_STRING);
    switch (t == TYPE_PAREN || t == TYPE_HASH ? uint32_t(TYPE_BLOCK) : t) {
        case TYPE_TIME: *proto = *spec; return proto;
        case TYPE_INTEGER: seconds = cell_int(spec); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: seconds = cell_float(spec); break;
        case TYPE_BLOCK: seconds = block_seconds(spec); break;
        case TYPE_STRING: {  // any-string!
            GcRoot loaded;
            if (!load_text_value(spec, loaded.get())) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TIME, spec);
            if (!cell_is(loaded.get(), TYPE_TIME)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TIME, loaded.get());
            *proto = *loaded;
            return proto;
        }
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TIME, spec);
    }
    return time_make_at(proto, seconds);
}

int time_form(const Cell* value, Cell* out, const MoldArgs&, int budget) { return time_to_text(cell_float(value), out, budget); }

// The field an element selects: 1 to 3 or a field word; anything else raises invalid-path.
int selected_field(const Cell* value, const PathStep& step) {
    const Cell* e = step.element;
    int field = -1;
    if (cell_is(e, TYPE_INTEGER)) {
        field = cell_int(e);
    } else if (cell_is(e, TYPE_WORD)) {
        field = time_field_index(e, value);
    }
    if (field < 1 || field > 3) fire(ERR_SCRIPT_INVALID_PATH, path_of(step, value), e);
    return field;
}

const Cell* time_eval_path(Cell* value, const PathStep& step) {
    int field = selected_field(value, step);
    double x = cell_float(value);
    if (!step.set_value) return time_get_field(value, x, field);
    const Cell* v = step.set_value;
    double n;
    if (cell_is(v, TYPE_INTEGER)) {
        n = cell_int(v);
    } else if (field == 3 && cell_is(v, TYPE_FLOAT)) {
        n = cell_float(v);
    } else {
        fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(v));
    }
    time_make_at(value, time_set_field(x, field, n));
    return path_store_back(step, value);
}

const Cell* time_pick(Cell* value, int, Cell* index_cell) {
    int field = -1;
    if (cell_is(index_cell, TYPE_INTEGER)) {
        field = cell_int(index_cell);
    } else if (cell_is(index_cell, TYPE_WORD)) {
        field = time_field_index(index_cell, value);
    }
    if (field < 1 || field > 3) fire(ERR_SCRIPT_OUT_OF_RANGE, index_cell);
    return time_get_field(value, cell_float(value), field);
}

void time_add() {
    if (cell_is(g_args.base + 1, TYPE_DATE)) return arith_run_exchanged(ARITH_ADD);
    float_do_math(ARITH_ADD);
}

void time_subtract() {
    if (cell_is(g_args.base + 1, TYPE_DATE)) fire_not_related(ACT_SUBTRACT, TYPE_TIME);
    float_do_math(ARITH_SUBTRACT);
}

void time_multiply() {
    if (cell_is(g_args.base + 1, TYPE_TIME)) fire_not_related(ACT_MULTIPLY, TYPE_TIME);
    float_do_math(ARITH_MULTIPLY);
}

void time_divide() { float_do_math(ARITH_DIVIDE); }

// The whole seconds of the minute, nudged by a microsecond away from zero so that 1.9999999 counts as 2.
bool time_even_q(const Cell* number) {
    double x = cell_float(number);
    double v = x >= 0 ? x + 1e-6 : x - 1e-6;
    double s = std::trunc(std::fmod(v, 60));
    return std::fmod(s, 2) == 0;
}
bool time_odd_q(const Cell* number) { return !time_even_q(number); }

void time_round(Cell* number, const RoundArgs& args) {
    if (args.scale && cell_is(args.scale, TYPE_MONEY)) fire_not_related(ACT_ROUND, TYPE_MONEY);
    float_round(number, args);
    double seconds = cell_is(number, TYPE_INTEGER) ? cell_int(number) : cell_float(number);
    time_make_at(number, seconds);
}

}  // namespace

Cell* time_make_at(Cell* cell, double seconds) {
    set_float(cell, seconds, TYPE_TIME);
    return cell;
}

Cell* time_make_in(const Cell* block, uint32_t low, uint32_t high) {
    Cell* c = block_alloc_tail(block);
    c->header = TYPE_TIME;
    c->w2 = low;
    c->w3 = high;
    return c;
}

Cell* time_push(double seconds) { return time_make_at(stack_push_cell(), seconds); }

double time_hours(double seconds) { return std::trunc(seconds / 3600); }

int32_t time_minutes(double seconds) {
    double m = std::floor(std::fmod(std::fabs(seconds), 3600) / 60);
    return std::isfinite(m) ? int32_t(m) : 0;
}

int time_field_index(const Cell* word, const Cell* value) {
    uint32_t symbol = symbol_resolve(word_symbol(word));
    if (symbol == g_sym[SYM_HOUR]) return 1;
    if (symbol == g_sym[SYM_MINUTE]) return 2;
    if (symbol == g_sym[SYM_SECOND]) return 3;
    if (value && cell_is(value, TYPE_TIME)) fire(ERR_SCRIPT_CANNOT_USE, word, value);
    return -1;
}

Cell* time_get_field(Cell* out, double seconds, int field) {
    switch (field) {
        case 1: {
            Cell hours;
            set_float(&hours, time_hours(seconds));
            set_integer(out, integer_from_float(&hours));
            return out;
        }
        case 2: set_integer(out, time_minutes(seconds)); return out;
        default: set_float(out, std::fmod(seconds, 60)); return out;
    }
}

double time_set_field(double x, int field, double n) {
    bool negative = std::signbit(x);
    double m = std::fabs(x);
    switch (field) {
        case 1: {
            // h hours and the magnitude's minutes and seconds, signed as h (as the time when h is 0).
            double rest = std::fmod(m, 3600);
            double r = std::fabs(n) * 3600 + rest;
            return n < 0 || (n == 0 && negative) ? -r : r;
        }
        case 2: m -= 60 * (std::floor(std::fmod(m, 3600) / 60) - n); break;
        default: m -= std::fmod(m, 60) - n; break;
    }
    return negative ? -m : m;
}

int time_to_text(double x, Cell* out, int budget) {
    if (!std::isfinite(x)) {
        const char* text = float_to_text(x, FLOAT_TEXT_FLOAT);
        size_t n = std::strlen(text);
        string_append_ascii(out, text, n);
        return budget - int(n);
    }
    char text[400];
    char* p = text;
    if (std::signbit(x) && x != 0) {
        *p++ = '-';
        x = -x;
    }
    p = std::to_chars(p, text + 340, std::floor(x / 3600), std::chars_format::fixed, 0).ptr;
    *p++ = ':';
    int32_t minutes = int32_t(std::floor(std::fmod(x, 3600) / 60));
    *p++ = char('0' + minutes / 10);
    *p++ = char('0' + minutes % 10);
    *p++ = ':';
    double s = std::fmod(x, 60);
    if (s >= 1e-6) {
        const char* seconds = float_to_text(s, FLOAT_TEXT_TIME);
        if (seconds[1] == '\0' || seconds[1] == '.') *p++ = '0';
        size_t n = std::strlen(seconds);
        std::memcpy(p, seconds, n);
        p += n;
    } else {
        *p++ = '0';
        *p++ = '0';
    }
    size_t n = size_t(p - text);
    string_append_ascii(out, text, n);
    return budget - int(n);
}

void time_init(DatatypeRegistry& registry) {
    Registration r(TYPE_TIME);
    r.own<ACT_MAKE>(time_to).own<ACT_TO>(time_to).own<ACT_FORM>(time_form).own<ACT_MOLD>(time_form);
    r.own<ACT_EVAL_PATH>(time_eval_path).own<ACT_PICK>(time_pick);
    r.own<ACT_ADD>(time_add).own<ACT_SUBTRACT>(time_subtract).own<ACT_MULTIPLY>(time_multiply);
    r.own<ACT_DIVIDE>(time_divide).own<ACT_ROUND>(time_round);
    r.own<ACT_EVEN_Q>(time_even_q).own<ACT_ODD_Q>(time_odd_q);
    r.inherit(ACT_RANDOM).inherit(ACT_COMPARE).inherit(ACT_ABSOLUTE).inherit(ACT_NEGATE).inherit(ACT_REMAINDER);
    registry.register_datatype(r);
}

}  // namespace zol
