// vector! values: reading and writing packed elements, making vectors from specs, form and mold, comparison,
// element-wise arithmetic, append, insert and change, and the find, select and sort that string! hands over.
#include "vector.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "block.h"
#include "integer.h"
#include "registry.h"
#include "series.h"
#include "string.h"
#include "symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/values/language.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"
#include "runtime/values/predefined.h"

namespace zol {

namespace {

using Bytes = std::vector<uint8_t>;

inline bool integral(uint32_t type) { return type == TYPE_CHAR || type == TYPE_INTEGER; }
inline bool number_value(const Cell* v) {
    uint32_t t = cell_type(v);
    return t == TYPE_INTEGER || t == TYPE_CHAR || t == TYPE_FLOAT || t == TYPE_PERCENT;
}
// The element size a type takes when its spec gives none: 32 bits for char! and integer!, 64 for the others.
inline uint32_t default_size(uint32_t type) { return integral(type) ? 4 : 8; }

int64_t read_int(const uint8_t* p, uint32_t size, bool sign) {
    switch (size) {
        case 1: return sign ? int64_t(int8_t(*p)) : int64_t(*p);
        case 2: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return sign ? int64_t(int16_t(v)) : int64_t(v);
        }
        default: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return sign ? int64_t(int32_t(v)) : int64_t(v);
        }
    }
}

void write_int(uint8_t* p, uint32_t size, int64_t v) {
    uint32_t low = uint32_t(v);
    switch (size) {
        case 1: *p = uint8_t(low); break;
        case 2: {
            uint16_t h = uint16_t(low);
            std::memcpy(p, &h, 2);
            break;
        }
        default: std::memcpy(p, &low, 4); break;
    }
}

double read_float(const uint8_t* p, uint32_t size) {
    if (size == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void write_float(uint8_t* p, uint32_t size, double d) {
    if (size == 4) {
        float f = float(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

// An element as a number, for comparison and arithmetic.
double element_number(const uint8_t* p, uint32_t size, uint32_t type) {
    return integral(type) ? double(read_int(p, size, type == TYPE_INTEGER)) : read_float(p, size);
}

double value_number(const Cell* v) {
    switch (cell_type(v)) {
        case TYPE_INTEGER: return cell_int(v);
        case TYPE_CHAR: return cell_char(v);
        default: return cell_float(v);
    }
}

inline uint8_t* element_at(const Cell* v, uint32_t position) {
    Series* s = cell_series(v);
    return s->head_ptr() + uint64_t(position) * s->unit();
}

[[noreturn]] void bad_make(const Cell* spec) {
    Cell type;
    set_datatype(&type, TYPE_VECTOR);
    fire(ERR_SCRIPT_BAD_MAKE_ARG, &type, spec);
}

// The bytes of values converted for the vector's elements, checked before anything is changed.
Bytes encode(const Cell* values, uint32_t count, uint32_t size, TypeId type, bool strict) {
    Bytes bytes(uint64_t(count) * size);
    for (uint32_t i = 0; i < count; i++) {
        const Cell* value = values + i;
        if (strict && cell_type(value) != type) fire(ERR_SCRIPT_INVALID_ARG, value);
        vector_set_value(bytes.data() + uint64_t(i) * size, value, size, type);
    }
    return bytes;
}

// Opens a gap of `elements` elements at a position (clamped to the tail), growing the buffer to what is
// needed or to twice its size, whichever is more. Allocates; returns the buffer.
Series* open_elements(uint32_t node, uint32_t at, uint64_t elements) {
    Series* s = node_series(node);
    uint32_t unit = s->unit();
    uint64_t needed = uint64_t(s->tail - s->head) + elements * unit;
    if (elements > MAX_BUFFER_SIZE || needed > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    if (s->head + needed > s->size) {
        uint64_t size = std::max<uint64_t>(needed, 2 * uint64_t(s->size - s->head));
        s = series_expand(node, std::min<uint64_t>(size, MAX_BUFFER_SIZE));
    }
    uint32_t used = s->used();
    if (at > used) at = used;
    uint8_t* p = s->head_ptr() + uint64_t(at) * unit;
    std::memmove(p + elements * unit, p, uint64_t(used - at) * unit);
    s->tail += uint32_t(elements * unit);
    return s;
}

uint32_t clamp_head(Cell* v) {
    uint32_t used = cell_series(v)->used();
    if (series_index(v) > used) v->w1 = used;
    return series_index(v);
}

// --- make

TypeId type_named(const Cell* word) {
    uint32_t s = symbol_resolve(word_symbol(word));
    if (s == symbol_resolve(g_sym[SYM_INTEGER_T])) return TYPE_INTEGER;
    if (s == symbol_resolve(g_sym[SYM_CHAR_T])) return TYPE_CHAR;
    if (s == symbol_resolve(g_sym[SYM_FLOAT_T])) return TYPE_FLOAT;
    if (s == symbol_resolve(g_sym[SYM_PERCENT_T])) return TYPE_PERCENT;
    return NO_TYPE;
}

int64_t count_of(const Cell* number) {
    if (cell_is(number, TYPE_INTEGER)) return cell_int(number);
    double d = cell_float(number);
    return !(d > 0) ? 0 : d > double(MAX_BUFFER_SIZE) ? int64_t(MAX_BUFFER_SIZE) + 1 : int64_t(d);
}

// A vector of `length` elements: the values (each of the type itself) then zeros.
void make_filled(Cell* out, TypeId type, uint32_t size, int64_t length, const Cell* values, uint32_t count) {
    if (length < 0) length = 0;
    uint64_t total = std::max<uint64_t>(uint64_t(length), count);
    if (total * size > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    Bytes bytes = encode(values, count, size, type, true);
    GcRoot made;
    vector_make_at(made.get(), total, type, size);
    Series* s = cell_series(made.get());
    std::memset(s->head_ptr(), 0, total * size);
    if (!bytes.empty()) std::memcpy(s->head_ptr(), bytes.data(), bytes.size());
    s->tail = s->head + uint32_t(total * size);
    *out = *made;
}

const Cell* vector_make(Cell* proto, Cell* spec, TypeId) {
    GcRoot result, keep(*spec);
    switch (cell_type(spec)) {
        case TYPE_INTEGER:
        case TYPE_FLOAT: make_filled(result.get(), TYPE_INTEGER, 4, count_of(spec), nullptr, 0); break;
        case TYPE_BLOCK: {
            uint32_t head = series_clamped_head(spec);
            uint32_t n = series_buffer_length(spec) - head;
            const Cell* cells = cell_series(spec)->cells() + head;
            if (n == 0) {
                make_filled(result.get(), TYPE_INTEGER, 4, 0, nullptr, 0);
                break;
            }
            if (!cell_is(cells, TYPE_WORD)) {
                // The values themselves: the first one's datatype is the element type.
                TypeId type = cell_type(cells);
                if (!number_value(cells)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, type);
                make_filled(result.get(), type, default_size(type), 0, cells, n);
                break;
            }
            if (n < 2) bad_make(spec);
            TypeId type = type_named(cells);
            if (type == NO_TYPE) bad_make(spec);
            uint32_t at = 1, size;
            if (cell_is(cells + 1, TYPE_INTEGER)) {
                int32_t bits = cell_int(cells + 1);
                bool fits = type == TYPE_PERCENT || (integral(type) ? bits == 8 || bits == 16 || bits == 32 : bits == 32 || bits == 64);
                if (!fits) bad_make(spec);
                size = type == TYPE_PERCENT ? 8 : uint32_t(bits) / 8;
                at = 2;
            } else if (type == TYPE_PERCENT) {
                size = 8;
            } else {
                fire(ERR_SCRIPT_INVALID_SPEC_FIELD, spec);
            }
            int64_t length = 0;
            if (at < n && cell_is(cells + at, TYPE_INTEGER)) length = cell_int(cells + at++);
            const Cell* values = nullptr;
            uint32_t count = 0;
            if (at < n && cell_is(cells + at, TYPE_BLOCK)) {
                const Cell* list = cells + at++;
                values = cell_series(list)->cells() + series_clamped_head(list);
                count = series_buffer_length(list) - series_clamped_head(list);
            }
            if (at < n) fire(ERR_SCRIPT_INVALID_SPEC_FIELD, spec);
            make_filled(result.get(), type, size, length, values, count);
            break;
        }
        default: fire(ERR_INTERNAL_NOT_DONE);
    }
    *proto = *result;
    return proto;
}

// --- form and mold

void element_text(std::string& out, const uint8_t* p, uint32_t size, TypeId type, bool mold) {
    switch (type) {
        case TYPE_INTEGER: out += integer_to_decimal(int32_t(read_int(p, size, true))); break;
        case TYPE_FLOAT: out += float_to_text(read_float(p, size), size == 4 ? FLOAT_TEXT_FLOAT32 : FLOAT_TEXT_FLOAT); break;
        case TYPE_PERCENT:
            out += float_to_text(read_float(p, size) * 100, size == 4 ? FLOAT_TEXT_PERCENT32 : FLOAT_TEXT_PERCENT);
            break;
        default: break;  // char!: written by the caller
    }
    (void)mold;
}

int write_elements(const Cell* v, Cell* out, const MoldArgs& args, int budget, bool mold) {
    GcRoot keep(*v);
    TypeId type = vector_type(v);
    uint32_t size = vector_element_size(v);
    uint32_t head = series_clamped_head(v), used = series_buffer_length(v);
    std::string text;
    for (uint32_t i = head; i < used; i++) {
        if (args.part && budget <= 0) break;
        if (i > head) {
            string_append_ascii(out, " ");
            budget--;
        }
        const uint8_t* p = element_at(keep.get(), i);
        if (type == TYPE_CHAR) {
            uint32_t cp = uint32_t(read_int(p, size, false));
            // A char! element molds as a char! value does, escapes and all, so the text loads back.
            if (mold) {
                string_append_ascii(out, "#\"");
                string_mold_char(out, cp, args.all);
                string_append_ascii(out, "\"");
                budget -= 4;
            } else {
                string_append_code_points(out, &cp, 1);
                budget--;
            }
            continue;
        }
        text.clear();
        element_text(text, p, size, type, mold);
        string_append_ascii(out, text.data(), text.size());
        budget -= int(text.size());
    }
    return budget;
}

int vector_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    return write_elements(value, out, args, budget, false);
}

int vector_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    TypeId type = vector_type(value);
    uint32_t size = vector_element_size(value);
    bool plain = series_buffer_length(value) > 0 && size == default_size(type);
    if (!args.only) {
        string_append_ascii(out, "make vector! [");
        budget -= 14;
    }
    if (!plain) {
        const TypeNameRow& row = g_types.row(type);
        std::string head = std::string(row.name, row.length + 1) + " " + std::to_string(size * 8) + " [";
        string_append_ascii(out, head.data(), head.size());
        budget -= int(head.size());
    }
    budget = write_elements(value, out, args, budget, true);
    // The inner bracket is closed with /only too: it was opened here.
    if (!plain) {
        string_append_ascii(out, "]");
        budget--;
    }
    if (!args.only) {
        string_append_ascii(out, "]");
        budget--;
    }
    return budget;
}

// --- compare

int vector_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_VECTOR)) return COMPARE_INCOMPARABLE;
    if (vector_type(value) != vector_type(other)) fire(ERR_SCRIPT_NOT_SAME_TYPE);
    bool same = series_node(value) == series_node(other) && series_index(value) == series_index(other);
    if (op == CMP_SAME) return same ? 0 : -1;
    if (same && series_equality_op(op)) return 0;
    uint32_t la = vector_length(value), lb = vector_length(other);
    if (la == 0 && lb == 0) return 0;
    if (la != lb && series_equality_op(op)) return 1;
    uint32_t sa = vector_element_size(value), sb = vector_element_size(other);
    uint32_t ha = series_clamped_head(value), hb = series_clamped_head(other);
    TypeId type = vector_type(value);
    for (uint32_t i = 0; i < std::min(la, lb); i++) {
        double x = element_number(element_at(value, ha + i), sa, type);
        double y = element_number(element_at(other, hb + i), sb, type);
        if (x != y) return x < y ? -1 : 1;
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// --- arithmetic

int64_t integer_op(int64_t a, int64_t b, ArithOp op) {
    switch (op) {
        case ARITH_ADD: return a + b;
        case ARITH_SUBTRACT: return a - b;
        case ARITH_MULTIPLY: return a * b;
        case ARITH_DIVIDE:
            if (b == 0) fire(ERR_MATH_ZERO_DIVIDE);
            if (a == INT32_MIN && b == -1) fire(ERR_MATH_OVERFLOW);  // as integer! raises it; only sums wrap
            return a / b;
        case ARITH_REMAINDER:
            if (b == 0) fire(ERR_MATH_ZERO_DIVIDE);
            if (a == INT32_MIN && b == -1) fire(ERR_MATH_OVERFLOW);
            return a % b;
        case ARITH_OR: return a | b;
        case ARITH_AND: return a & b;
        default: return a ^ b;
    }
}

// One element's operation, the result stored in the element's own size (integers wrap).
void apply(uint8_t* target, uint32_t tsize, double x_float, int64_t x_int, double y_float, int64_t y_int, TypeId type,
           ArithOp op) {
    if (integral(type)) {
        write_int(target, tsize, int64_t(int32_t(uint32_t(integer_op(x_int, y_int, op)))));
    } else {
        write_float(target, tsize, float_op(x_float, y_float, op));
    }
}

void vector_with_vector(ArithOp op) {
    Cell* a = g_args.base;
    const Cell* b = a + 1;
    TypeId type = vector_type(a);
    if (vector_type(b) != type) fire(ERR_SCRIPT_NOT_SAME_TYPE);
    uint32_t sa = vector_element_size(a), sb = vector_element_size(b);
    uint32_t size = std::max(sa, sb);
    uint32_t n = std::min(vector_length(a), vector_length(b));
    GcRoot result;
    vector_make_at(result.get(), n, type, size);
    uint32_t ha = series_clamped_head(a), hb = series_clamped_head(b);
    bool sign = type == TYPE_INTEGER;
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* pa = element_at(a, ha + i);
        const uint8_t* pb = element_at(b, hb + i);
        int64_t xi = integral(type) ? read_int(pa, sa, sign) : 0, yi = integral(type) ? read_int(pb, sb, sign) : 0;
        double xf = integral(type) ? 0 : read_float(pa, sa), yf = integral(type) ? 0 : read_float(pb, sb);
        apply(cell_series(result.get())->head_ptr() + uint64_t(i) * size, size, xf, xi, yf, yi, type, op);
    }
    Series* s = cell_series(result.get());
    s->tail = s->head + n * size;
    stack_set_only_result(result.get());
}

void vector_math(ArithOp op) {
    Cell* a = g_args.base;
    if (cell_is(a + 1, TYPE_VECTOR)) return vector_with_vector(op);
    vector_scalar_op(op, a, a + 1, false);
}

void vector_add() { vector_math(ARITH_ADD); }
void vector_subtract() { vector_math(ARITH_SUBTRACT); }
void vector_multiply() { vector_math(ARITH_MULTIPLY); }
void vector_divide() { vector_math(ARITH_DIVIDE); }
void vector_remainder() { vector_math(ARITH_REMAINDER); }
void vector_or() { vector_math(ARITH_OR); }
void vector_and() { vector_math(ARITH_AND); }
void vector_xor() { vector_math(ARITH_XOR); }

// --- append, insert, change

// The values a value gives: a block kind's values from its head (up to part), else the value itself.
uint32_t values_of(const Cell* value, int part, bool paths, const Cell** cells) {
    uint32_t t = cell_type(value);
    if (type_in(FAMILY_ANY_LIST, t) || (paths && type_in(FAMILY_ANY_PATH, t))) {
        uint32_t head = series_clamped_head(value);
        uint32_t n = series_buffer_length(value) - head;
        if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
        *cells = cell_series(value)->cells() + head;
        return n;
    }
    *cells = value;
    return 1;
}

void vector_insert(Cell* series, Cell* value, int part, bool, int dup, bool append) {
    const Cell* cells;
    uint32_t count = values_of(value, part, false, &cells);
    uint32_t size = vector_element_size(series);
    TypeId type = vector_type(series);
    Bytes bytes = encode(cells, count, size, type, false);
    uint64_t times = dup < 2 ? 1 : uint64_t(dup);
    uint64_t elements = uint64_t(count) * times;
    if (elements * size > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    uint32_t head = clamp_head(series);
    uint32_t at = append ? series_buffer_length(series) : head;
    OwnershipReport report(series, append ? W_APPEND : W_INSERT, append ? W_APPENDED : W_INSERTED, int32_t(at),
                           int32_t(std::min<uint64_t>(elements, INT_MAX)));
    if (report.told()) {
        head = clamp_head(series);
        at = append ? series_buffer_length(series) : head;
    }
    if (elements > 0) {
        Series* s = open_elements(series_node(series), at, elements);
        uint8_t* p = s->head_ptr() + uint64_t(at) * size;
        std::memcpy(p, bytes.data(), bytes.size());
        if (times > 1) memory_replicate(p, uint32_t(bytes.size()), uint32_t(times));
    }
    report.done();
    if (!append) series->w1 = at + uint32_t(elements);
}

void vector_change(Cell* series, Cell* value, int part, bool, int dup) {
    uint32_t size = vector_element_size(series);
    TypeId type = vector_type(series);
    Bytes bytes;
    uint32_t count;
    if (cell_is(value, TYPE_VECTOR)) {
        // Another vector's elements, converted value by value into this vector's elements.
        count = vector_length(value);
        bytes.resize(uint64_t(count) * size);
        for (uint32_t i = 0; i < count; i++) {
            Cell element;
            vector_pick(value, series_clamped_head(value) + i, &element);
            vector_set_value(bytes.data() + uint64_t(i) * size, &element, size, type);
        }
    } else {
        const Cell* cells;
        count = values_of(value, -1, true, &cells);
        bytes = encode(cells, count, size, type, false);
    }
    uint64_t times = dup < 2 ? 1 : uint64_t(dup);
    uint64_t elements = uint64_t(count) * times;
    if (elements * size > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    uint32_t head = clamp_head(series);
    auto replaced_of = [&] {
        uint64_t room = series_buffer_length(series) - head;
        uint64_t wanted = part >= 0 ? uint64_t(part) : elements;
        return uint32_t(std::min(wanted, room));
    };
    uint32_t replaced = replaced_of();
    OwnershipReport report(series, W_CHANGE, W_CHANGED, int32_t(head), int32_t(std::min<uint64_t>(elements, INT_MAX)));
    if (report.told()) {
        head = clamp_head(series);
        replaced = replaced_of();
    }
    uint32_t node = series_node(series);
    if (elements > replaced) {
        open_elements(node, head + replaced, elements - replaced);
    } else if (elements < replaced) {
        series_remove_units(node, head + uint32_t(elements), replaced - uint32_t(elements));
    }
    if (elements > 0) {
        uint8_t* p = node_series(node)->head_ptr() + uint64_t(head) * size;
        std::memcpy(p, bytes.data(), bytes.size());
        if (times > 1) memory_replicate(p, uint32_t(bytes.size()), uint32_t(times));
    }
    report.done();
    uint32_t used = series_buffer_length(series);
    series->w1 = uint64_t(head) + elements > used ? used : head + uint32_t(elements);
}

}  // namespace

// --- routines

uint32_t vector_element_size(const Cell* v) { return cell_series(v)->unit(); }

uint32_t vector_length(const Cell* v) {
    uint32_t used = series_buffer_length(v);
    return series_index(v) >= used ? 0 : used - series_index(v);
}

Cell* vector_make_at(Cell* cell, uint64_t capacity, TypeId type, uint32_t size) {
    if (capacity * size > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    uint32_t node = series_alloc(capacity ? capacity : 1, size, 0);
    set_series(cell, TYPE_VECTOR, node, 0, type);
    return cell;
}

void vector_get_value(const uint8_t* at, uint32_t size, TypeId type, Cell* out) {
    switch (type) {
        case TYPE_INTEGER: set_integer(out, int32_t(read_int(at, size, true))); break;
        case TYPE_CHAR: set_char(out, uint32_t(read_int(at, size, false))); break;
        case TYPE_PERCENT: set_float(out, read_float(at, size), TYPE_PERCENT); break;
        default: set_float(out, read_float(at, size)); break;
    }
}

void vector_set_value(uint8_t* at, const Cell* value, uint32_t size, TypeId type) {
    uint32_t t = cell_type(value);
    if (integral(type)) {
        if (!integral(t)) fire(ERR_SCRIPT_INVALID_ARG, value);
        write_int(at, size, int64_t(int32_t(value->w2)));
        return;
    }
    if (t != TYPE_FLOAT && t != TYPE_PERCENT && t != TYPE_INTEGER) fire(ERR_SCRIPT_INVALID_ARG, value);
    write_float(at, size, t == TYPE_INTEGER ? double(cell_int(value)) : cell_float(value));
}

void vector_append_value(const Cell* v, const Cell* value) {
    if (cell_type(value) != vector_type(v)) fire(ERR_SCRIPT_INVALID_ARG, value);
    uint32_t size = vector_element_size(v);
    uint8_t element[8];
    vector_set_value(element, value, size, vector_type(v));
    Series* s = open_elements(series_node(v), series_buffer_length(v), 1);
    std::memcpy(s->tail_ptr() - size, element, size);
}

void vector_append_int32(const Cell* v, int32_t value) {
    Series* s = open_elements(series_node(v), series_buffer_length(v), 1);
    write_int(s->tail_ptr() - 4, 4, value);
}

void vector_cut_at_head(const Cell* v) {
    Series* s = cell_series(v);
    if (series_index(v) < s->used()) s->tail = s->head + series_index(v) * s->unit();
}

void vector_pick(const Cell* v, uint32_t position, Cell* out) {
    vector_get_value(element_at(v, position), vector_element_size(v), vector_type(v), out);
}

void vector_poke(const Cell* v, uint32_t position, const Cell* value) {
    if (cell_type(value) != vector_type(v)) fire(ERR_SCRIPT_INVALID_ARG, value);
    vector_set_value(element_at(v, position), value, vector_element_size(v), vector_type(v));
}

void vector_to_block(const Cell* v, Cell* out) {
    GcRoot source(*v), made;
    uint32_t n = vector_length(v);
    block_make_at(made.get(), n);
    uint32_t head = series_clamped_head(v);
    for (uint32_t i = 0; i < n; i++) {
        Cell element;
        vector_pick(source.get(), head + i, &element);
        *block_alloc_tail(made.get()) = element;
    }
    *out = *made;
}

void vector_scalar_op(ArithOp op, Cell* vector, const Cell* scalar, bool scalar_first) {
    GcRoot v(*vector);
    TypeId type = vector_type(vector);
    uint32_t size = vector_element_size(vector);
    double yf = 0;
    int64_t yi = 0;
    switch (cell_type(scalar)) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            yi = int32_t(scalar->w2);
            yf = double(yi);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            yf = cell_float(scalar);
            if (integral(type)) yi = integer_from_float(scalar);
            break;
        default: fire(ERR_INTERNAL_NOT_DONE);
    }
    bool identity = integral(type) ? ((op == ARITH_ADD || (op == ARITH_SUBTRACT && !scalar_first)) && yi == 0) ||
                                         ((op == ARITH_MULTIPLY || (op == ARITH_DIVIDE && !scalar_first)) && yi == 1)
                                   : ((op == ARITH_ADD || (op == ARITH_SUBTRACT && !scalar_first)) && yf == 0.0) ||
                                         ((op == ARITH_MULTIPLY || (op == ARITH_DIVIDE && !scalar_first)) && yf == 1.0);
    if (!identity) {
        uint32_t head = series_clamped_head(v.get()), used = series_buffer_length(v.get());
        bool sign = type == TYPE_INTEGER;
        for (uint32_t i = head; i < used; i++) {
            uint8_t* p = element_at(v.get(), i);
            int64_t xi = integral(type) ? read_int(p, size, sign) : 0;
            double xf = integral(type) ? 0 : read_float(p, size);
            if (scalar_first) {
                apply(p, size, yf, yi, xf, xi, type, op);
            } else {
                apply(p, size, xf, xi, yf, yi, type, op);
            }
        }
    }
    stack_set_only_result(v.get());
}

const Cell* vector_find(Cell* series, const Cell* value, const FindArgs& args, bool select) {
    if (args.any || args.wild) fire(ERR_INTERNAL_NOT_DONE);
    uint32_t used = series_buffer_length(series);
    uint32_t head = series_index(series);
    if (used == 0 || (head >= used && !args.reverse) || !number_value(value)) return &g_none_value;
    if (head > used) head = used;
    int64_t step = 1;
    if (args.skip) {
        if (!cell_is(args.skip, TYPE_INTEGER)) fire_bad_refinement("skip", args.skip);
        step = cell_int(args.skip);
        if (step < 1) fire(ERR_SCRIPT_OUT_OF_RANGE, args.skip);
    }
    int64_t limit = -1;
    if (args.part) {
        limit = series_part_count(series, args.part);
        if (limit < 1) return &g_none_value;
    }
    double wanted = value_number(value);
    uint32_t size = vector_element_size(series);
    TypeId type = vector_type(series);
    auto matches = [&](int64_t p) { return element_number(element_at(series, uint32_t(p)), size, type) == wanted; };
    int64_t found = -1;
    if (args.reverse || args.last) {
        if (args.reverse && (head == 0 || args.match)) return &g_none_value;
        int64_t hi = args.reverse ? head : (limit >= 0 && limit < used - head ? head + limit : used);
        int64_t lo = args.reverse ? (limit >= 0 && limit < head ? head - limit : 0) : head;
        for (int64_t p = hi - 1; p >= lo; p -= step) {
            if (matches(p)) {
                found = p;
                break;
            }
            if (args.match) break;
        }
    } else {
        int64_t hi = limit >= 0 && limit < used - head ? head + limit : used;
        for (int64_t p = head; p < hi; p += step) {
            if (matches(p)) {
                found = p;
                break;
            }
            if (args.match) break;
        }
    }
    if (found < 0) return &g_none_value;
    if (select) {
        if (found + 1 >= used) return &g_none_value;
        vector_pick(series, uint32_t(found + 1), series);  // the series cell receives the answer
        return series;
    }
    if (args.tail) found = std::min<int64_t>(found + step, used);
    series->w1 = uint32_t(found);
    return series;
}

const Cell* vector_sort(Cell* series, const SortArgs& args) {
    SortSpan span = sort_span(series, vector_length(series), args);
    uint32_t head = span.head;
    int64_t count = span.count;
    uint32_t record = span.record;
    uint32_t field = 0;
    if (args.comparator && cell_is(args.comparator, TYPE_INTEGER)) {
        if (!args.skip || args.all) fire(ERR_SCRIPT_BAD_REFINES);
        int64_t at = cell_int(args.comparator);
        if (at < 1 || at > record) fire(ERR_SCRIPT_OUT_OF_RANGE, args.comparator);
        field = uint32_t(at - 1);
    } else if (args.comparator && !cell_is(args.comparator, TYPE_FUNCTION)) {
        fire_bad_refinement("compare", args.comparator);
    }
    if (count < 2 * int64_t(record)) return series;
    OwnershipReport report(series, W_SORT, W_SORTED, int32_t(head), int32_t(count));
    if (report.told()) count = series_units_left(series, head, count, record);
    uint32_t size = vector_element_size(series);
    TypeId type = vector_type(series);
    int sign = args.reverse ? -1 : 1;
    if (args.comparator && cell_is(args.comparator, TYPE_FUNCTION)) {
        // The function runs language code, which may change the vector: its elements are sorted as a copy.
        GcRoot fn(*args.comparator), keep(*series);
        Bytes copy(element_at(series, head), element_at(series, head) + uint64_t(count) * size);
        auto order = [&](const uint8_t* a, const uint8_t* b) {
            Cell x, y;
            vector_get_value(a, size, type, &x);
            vector_get_value(b, size, type, &y);
            return sign * g_language.sort_compare(fn.get(), &x, &y);
        };
        if (args.stable) {
            sort_merge(copy.data(), size_t(count / record), size_t(record) * size, order);
        } else {
            sort_quick(copy.data(), size_t(count / record), size_t(record) * size, order);
        }
        uint32_t reach = uint32_t(std::min<int64_t>(count, vector_length(keep.get()) + series_index(keep.get()) - head));
        std::memcpy(element_at(keep.get(), head), copy.data(), uint64_t(reach) * size);
        report.done();
        return series;
    }
    uint32_t first = args.all ? 0 : field, last = args.all ? record : field + 1;
    // By value; a NaN orders equal to anything.
    auto order = [=](const uint8_t* a, const uint8_t* b) {
        for (uint32_t i = first; i < last; i++) {
            double x = element_number(a + uint64_t(i) * size, size, type);
            double y = element_number(b + uint64_t(i) * size, size, type);
            if (x < y) return -sign;
            if (x > y) return sign;
        }
        return 0;
    };
    uint8_t* base = element_at(series, head);
    if (args.stable) {
        sort_merge(base, size_t(count / record), size_t(record) * size, order);
    } else {
        sort_quick(base, size_t(count / record), size_t(record) * size, order);
    }
    report.done();
    return series;
}

void vector_init(DatatypeRegistry& registry) {
    Registration r(TYPE_VECTOR, true);
    r.own<ACT_MAKE>(vector_make).own<ACT_FORM>(vector_form).own<ACT_MOLD>(vector_mold).own<ACT_COMPARE>(vector_compare);
    r.own<ACT_ADD>(vector_add).own<ACT_SUBTRACT>(vector_subtract).own<ACT_MULTIPLY>(vector_multiply);
    r.own<ACT_DIVIDE>(vector_divide).own<ACT_REMAINDER>(vector_remainder);
    r.own<ACT_AND_T>(vector_and).own<ACT_OR_T>(vector_or).own<ACT_XOR_T>(vector_xor);
    r.own<ACT_APPEND>(vector_insert).own<ACT_INSERT>(vector_insert).own<ACT_CHANGE>(vector_change);
    for (Action a : {ACT_TO, ACT_SET_PATH, ACT_ABSOLUTE, ACT_NEGATE, ACT_POWER, ACT_ROUND, ACT_EVEN_Q, ACT_ODD_Q,
                     ACT_COMPLEMENT, ACT_PUT, ACT_SWAP, ACT_TRIM, ACT_CREATE, ACT_CLOSE, ACT_DELETE, ACT_OPEN,
                     ACT_OPEN_Q, ACT_QUERY, ACT_READ, ACT_RENAME, ACT_UPDATE, ACT_WRITE}) {
        r.unsupported(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
