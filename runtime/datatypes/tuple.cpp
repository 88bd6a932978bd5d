// tuple!: 3 to 12 bytes in the cell. Arithmetic combines the bytes one by one through integer! or float!
// arithmetic and saturates each result to 0..255.
#include "tuple.h"

#include <cmath>
#include <cstring>

#include "binary.h"
#include "error.h"
#include "integer.h"
#include "logic.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/scan_number.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"
#include "runtime/values/support.h"
#include "string.h"
#include "symbol.h"

namespace zol {

namespace {

struct Bytes {
    uint8_t b[TUPLE_MAX] = {};
    uint32_t n = 3;
};

Bytes bytes_of(const Cell* t) {
    Bytes k;
    k.n = tuple_length(t);
    for (uint32_t i = 0; i < k.n; i++) k.b[i] = tuple_byte(t, i);
    return k;
}

// Keeps the header's flags (a new-line marker) and replaces the length and the bytes.
Cell* store(Cell* cell, const Bytes& k) {
    uint32_t flags = cell->header & ~(TUPLE_LENGTH_MASK | HDR_TYPE_MASK) & 0x1FFFFFFF;
    if (!cell_is(cell, TYPE_TUPLE)) flags = 0;
    tuple_make_at(cell, k.b, k.n);
    cell->header |= flags;
    return cell;
}

uint8_t clamp_byte(double d) {
    if (!(d > 0)) return 0;  // NaN too
    return d >= 255 ? 255 : uint8_t(d);
}

// A colour from the hexadecimal text of an issue: 3 digits (each doubled), 6 or 8 (with alpha).
void from_issue(const Cell* issue, Bytes* k) {
    uint32_t length;
    const uint8_t* name = symbol_bytes(word_symbol(issue), &length);
    if (length != 3 && length != 6 && length != 8) fire(ERR_SCRIPT_INVALID_DATA, issue);
    uint8_t d[8];
    for (uint32_t i = 0; i < length; i++) {
        uint8_t c = name[i];
        if (c >= '0' && c <= '9') {
            d[i] = uint8_t(c - '0');
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
            d[i] = uint8_t((c | 0x20) - 'a' + 10);
        } else {
            fire(ERR_SCRIPT_INVALID_DATA, issue);  // a byte of a non-ASCII character too
        }
    }
    if (length == 3) {
        k->n = 3;
        for (uint32_t i = 0; i < 3; i++) k->b[i] = uint8_t(d[i] * 17);
        return;
    }
    k->n = length / 2;
    for (uint32_t i = 0; i < k->n; i++) k->b[i] = uint8_t(d[2 * i] << 4 | d[2 * i + 1]);
}

// make and to: the result is written into the first argument's cell.
const Cell* tuple_to(Cell* proto, Cell* spec, TypeId) {
    Bytes k;
    uint32_t t = family_case(cell_type(spec), FAMILY_ANY_STRING, TYPE_STRING);
    switch (t == TYPE_PAREN || t == TYPE_HASH ? uint32_t(TYPE_BLOCK) : t) {
        case TYPE_TUPLE: *proto = *spec; return proto;
        case TYPE_BLOCK: {
            Series* s = cell_series(spec);
            uint32_t index = series_index(spec);
            uint32_t count = index < s->used() ? s->used() - index : 0;
            if (count > TUPLE_MAX) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TUPLE, spec);
            for (uint32_t i = 0; i < count; i++) {
                const Cell* v = s->cells() + index + i;
                double d;
                switch (cell_type(v)) {
                    case TYPE_INTEGER: d = cell_int(v); break;
                    case TYPE_CHAR: d = cell_char(v); break;
                    case TYPE_FLOAT: d = std::trunc(cell_float(v)); break;
                    default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TUPLE, spec);
                }
                if (!(d >= 0 && d <= 255)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TUPLE, spec);
                k.b[i] = uint8_t(d);
            }
            k.n = count < 3 ? 3 : count;
            break;
        }
        case TYPE_BINARY: {
            uint32_t length;
            const uint8_t* bytes = binary_head(spec, &length);
            if (length > TUPLE_MAX) length = TUPLE_MAX;
            std::memcpy(k.b, bytes, length);
            k.n = length < 3 ? 3 : length;
            break;
        }
        case TYPE_ISSUE: from_issue(spec, &k); break;
        case TYPE_STRING: {  // any-string!
            GcRoot loaded;
            if (!load_text_value(spec, loaded.get())) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TUPLE, spec);
            if (!cell_is(loaded.get(), TYPE_TUPLE)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TUPLE, loaded.get());
            *proto = *loaded;
            return proto;
        }
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_TUPLE, spec);
    }
    return tuple_make_at(proto, k.b, k.n);
}

void tuple_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        init_genrand(value->w1 ^ value->w2 ^ value->w3);
        unset_set_result();
        return;
    }
    Bytes k = bytes_of(value);
    for (uint32_t i = 0; i < k.n; i++) k.b[i] = uint8_t(random_range(secure, k.b[i] + 1) - 1);
    store(g_args.base, k);
}

int tuple_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    char text[TUPLE_MAX * 4];
    char* p = text;
    Bytes k = bytes_of(value);
    for (uint32_t i = 0; i < k.n; i++) {
        if (i > 0) *p++ = '.';
        const char* digits = integer_to_decimal(k.b[i]);
        size_t n = std::strlen(digits);
        std::memcpy(p, digits, n);
        p += n;
    }
    string_append_ascii(out, text, size_t(p - text));
    return budget - int(p - text);
}

// The byte at a 1-based index, raising out-of-range outside the length.
uint32_t checked_index(const Cell* t, const Cell* index) {
    int32_t i = cell_is(index, TYPE_INTEGER) ? cell_int(index) : 0;
    if (i < 1 || uint32_t(i) > tuple_length(t)) fire(ERR_SCRIPT_OUT_OF_RANGE, index);
    return uint32_t(i - 1);
}

const Cell* tuple_pick(Cell* t, int, Cell* index) {
    set_integer(t, tuple_byte(t, checked_index(t, index)));
    return t;
}

// A none value cuts the tuple before the index (never below 3 bytes); an integer is stored clamped.
void tuple_poke(Cell* t, const Cell* index, const Cell* value) {
    uint32_t i = checked_index(t, index);
    Bytes k = bytes_of(t);
    if (cell_is(value, TYPE_NONE)) {
        for (uint32_t j = i; j < k.n; j++) k.b[j] = 0;
        k.n = i < 3 ? 3 : i;
    } else {
        int32_t v = cell_int(value);
        k.b[i] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    store(t, k);
}

const Cell* tuple_eval_path(Cell* value, const PathStep& step) {
    if (!cell_is(step.element, TYPE_INTEGER)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(step.element));
    if (!step.set_value) return tuple_pick(value, 0, step.element);
    const Cell* v = step.set_value;
    if (!cell_is(v, TYPE_INTEGER) && !cell_is(v, TYPE_NONE)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(v));
    tuple_poke(value, step.element, v);
    return path_store_back(step, value);
}

int tuple_compare(const Cell* value, const Cell* other, CompareOp) {
    if (!cell_is(other, TYPE_TUPLE)) return COMPARE_INCOMPARABLE;
    // Bytes past a length count as zero (they are zero), so 1.2.3 equals 1.2.3.0.
    uint32_t n = tuple_length(value) > tuple_length(other) ? tuple_length(value) : tuple_length(other);
    for (uint32_t i = 0; i < n; i++) {
        int d = int(tuple_byte(value, i)) - int(tuple_byte(other, i));
        if (d != 0) return d < 0 ? -1 : 1;
    }
    return 0;
}

void tuple_add() { tuple_do_math(ARITH_ADD); }
void tuple_subtract() { tuple_do_math(ARITH_SUBTRACT); }
void tuple_multiply() { tuple_do_math(ARITH_MULTIPLY); }
void tuple_divide() { tuple_do_math(ARITH_DIVIDE); }
void tuple_remainder() { tuple_do_math(ARITH_REMAINDER); }
void tuple_and() { tuple_do_math(ARITH_AND); }
void tuple_or() { tuple_do_math(ARITH_OR); }
void tuple_xor() { tuple_do_math(ARITH_XOR); }

const Cell* tuple_complement(Cell* t) {
    Bytes k = bytes_of(t);
    for (uint32_t i = 0; i < k.n; i++) k.b[i] = uint8_t(~k.b[i]);
    return store(t, k);
}

int tuple_length_q(const Cell* t) { return int(tuple_length(t)); }

void tuple_reverse(Cell* t, Cell* part, Cell* skip) {
    Bytes k = bytes_of(t);
    uint32_t count = k.n;
    int32_t size = 1;
    if (part) {
        if (!cell_is(part, TYPE_INTEGER)) fire(ERR_SCRIPT_INVALID_REFINE_ARG, &g_refinement[R_PART], part);
        if (cell_int(part) < 0) fire(ERR_SCRIPT_OUT_OF_RANGE, part);
        if (uint32_t(cell_int(part)) < count) count = uint32_t(cell_int(part));
    }
    if (skip) {
        if (!cell_is(skip, TYPE_INTEGER)) fire(ERR_SCRIPT_INVALID_REFINE_ARG, &g_refinement[R_SKIP], skip);
        size = cell_int(skip);
        if (part && size == cell_int(part)) return store(g_args.base, k), void();
        if (size < 1) fire(ERR_SCRIPT_OUT_OF_RANGE, skip);
        if (part && (cell_int(part) < size || cell_int(part) % size != 0)) {
            fire(ERR_SCRIPT_INVALID_REFINE_ARG, &g_refinement[R_SKIP], skip);
        }
    }
    // Records of `size` bytes within the count change places as units, the first with the last.
    uint32_t records = count / uint32_t(size);
    for (uint32_t a = 0, b = records ? records - 1 : 0; a < b; a++, b--) {
        for (uint32_t j = 0; j < uint32_t(size); j++) {
            uint8_t x = k.b[a * size + j];
            k.b[a * size + j] = k.b[b * size + j];
            k.b[b * size + j] = x;
        }
    }
    store(g_args.base, k);
}

}  // namespace

Cell* tuple_make_at(Cell* cell, const uint8_t* bytes, uint32_t length) {
    if (length > TUPLE_MAX) length = TUPLE_MAX;
    uint8_t data[12] = {};
    std::memcpy(data, bytes, length);
    if (length < 3) length = 3;
    cell->header = TYPE_TUPLE | (length << TUPLE_LENGTH_SHIFT);
    std::memcpy(&cell->w1, data, 4);
    std::memcpy(&cell->w2, data + 4, 4);
    std::memcpy(&cell->w3, data + 8, 4);
    return cell;
}

Cell* tuple_push(const uint8_t* bytes, uint32_t length) { return tuple_make_at(stack_push_cell(), bytes, length); }

Cell* tuple_make_rgba(Cell* cell, uint8_t r, uint8_t g, uint8_t b, int32_t alpha) {
    const uint8_t bytes[4] = {r, g, b, uint8_t(alpha)};
    return tuple_make_at(cell, bytes, alpha == -1 ? 3 : 4);
}

bool tuple_zero_q(const Cell* t) {
    for (uint32_t i = 0; i < tuple_length(t); i++) {
        if (tuple_byte(t, i) != 0) return false;
    }
    return true;
}

void tuple_do_math(ArithOp op) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    if (!cell_is(left, TYPE_TUPLE)) {
        // A number came first: + * // and the bit operations commute; - and / do not.
        if (op == ARITH_SUBTRACT || op == ARITH_DIVIDE) fire_not_related(arith_action(op), cell_type(left));
        Cell swap = *left;
        *left = *right;
        *right = swap;
    }
    Bytes k = bytes_of(left);
    switch (cell_type(right)) {
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double f = cell_float(right);
            for (uint32_t i = 0; i < k.n; i++) k.b[i] = clamp_byte(std::trunc(float_op(k.b[i], f, op)));
            store(left, k);
            return;
        }
        case TYPE_TUPLE:
        case TYPE_INTEGER: break;
        default: fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(right));
    }
    bool per_byte = cell_is(right, TYPE_TUPLE);
    if (per_byte && tuple_length(right) > k.n) k.n = tuple_length(right);
    for (uint32_t i = 0; i < k.n; i++) {
        int32_t b = per_byte ? tuple_byte(right, i) : cell_int(right), r;
        double exact;
        if (integer_op(k.b[i], b, op, &r, &exact)) {
            k.b[i] = clamp_byte(r);
        } else {
            // An inexact quotient is truncated as the float path does; a result past 32 bits saturates.
            k.b[i] = clamp_byte(op == ARITH_DIVIDE ? std::trunc(exact) : exact);
        }
    }
    store(left, k);
}

uint8_t tuple_byte(const Cell* t, uint32_t i) {
    uint32_t word = i < 4 ? t->w1 : i < 8 ? t->w2 : t->w3;
    uint8_t bytes[4];
    std::memcpy(bytes, &word, 4);
    return bytes[i % 4];
}

void scan_tuple(const uint8_t* text, uint32_t unit, size_t length, int* error, Cell* target) {
    *error = SCAN_INVALID;
    uint8_t bytes[TUPLE_MAX];
    uint32_t parts = 0;
    uint32_t value = 0;
    bool digits = false;
    for (size_t i = 0; i <= length; i++) {
        uint32_t c = i < length ? scan_unit_at(text, unit, i) : '.';
        if (c == '.') {
            if (!digits || parts == TUPLE_MAX) return;
            bytes[parts++] = uint8_t(value);
            value = 0;
            digits = false;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (value > 255) return;
            digits = true;
        } else {
            return;
        }
    }
    tuple_make_at(target, bytes, parts);
    *error = SCAN_OK;
}

void tuple_init(DatatypeRegistry& registry) {
    Registration r(TYPE_TUPLE);
    r.own<ACT_MAKE>(tuple_to).own<ACT_TO>(tuple_to).own<ACT_RANDOM>(tuple_random);
    r.own<ACT_FORM>(tuple_form).own<ACT_MOLD>(tuple_form).own<ACT_EVAL_PATH>(tuple_eval_path);
    r.own<ACT_COMPARE>(tuple_compare).own<ACT_ADD>(tuple_add).own<ACT_SUBTRACT>(tuple_subtract);
    r.own<ACT_MULTIPLY>(tuple_multiply).own<ACT_DIVIDE>(tuple_divide).own<ACT_REMAINDER>(tuple_remainder);
    r.own<ACT_AND_T>(tuple_and).own<ACT_OR_T>(tuple_or).own<ACT_XOR_T>(tuple_xor);
    r.own<ACT_COMPLEMENT>(tuple_complement).own<ACT_LENGTH_Q>(tuple_length_q).own<ACT_PICK>(tuple_pick);
    r.own<ACT_REVERSE>(tuple_reverse);
    registry.register_datatype(r);
}

}  // namespace zol
