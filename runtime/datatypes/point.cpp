// point2D! and point3D!: coordinates of 32-bit floats. Arithmetic runs in double precision through float!'s
// and is stored back in single precision; = compares each coordinate within ten units in the last place.
#include "point.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "error.h"
#include "logic.h"
#include "pair.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/values/hashtable.h"
#include "runtime/values/predefined.h"
#include "runtime/values/support.h"
#include "string.h"
#include "symbol.h"

namespace zol {

namespace {

// The coordinates of a point, with room for three.
struct Coords {
    float c[3] = {0, 0, 0};
    uint32_t n = 2;
};

Coords coords_of(const Cell* point) {
    Coords k;
    k.n = point_dimensions(point);
    for (uint32_t i = 0; i < k.n; i++) k.c[i] = point_coordinate(point, i);
    return k;
}

Cell* make_point(Cell* cell, TypeId type, const Coords& k) {
    return type == TYPE_POINT3D ? point3d_make_at(cell, k.c[0], k.c[1], k.c[2]) : point2d_make_at(cell, k.c[0], k.c[1]);
}

const Cell* path_of(const PathStep& step, const Cell* value) { return step.path ? step.path : value; }

// make and to for both types: the result is written into the first argument's cell.
const Cell* point_to(Cell* proto, Cell* spec, TypeId type) {
    Coords k;
    k.n = type == TYPE_POINT3D ? 3 : 2;
    switch (cell_type(spec)) {
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            number_to_float32(spec, &k.c[0]);
            k.c[1] = k.c[2] = k.c[0];
            break;
        case TYPE_PAIR:
            k.c[0] = float(pair_x(spec));
            k.c[1] = float(pair_y(spec));
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            if (cell_type(spec) == type) {
                *proto = *spec;
                return proto;
            }
            if (cell_is(spec, TYPE_POINT3D)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, type, spec);
            k.c[0] = point_coordinate(spec, 0);
            k.c[1] = point_coordinate(spec, 1);
            break;
        }
        case TYPE_BLOCK: {
            Series* s = cell_series(spec);
            uint32_t index = series_index(spec);
            if (index > s->used() || s->used() - index < k.n) fire(ERR_SYNTAX_MALCONSTRUCT, spec);
            for (uint32_t i = 0; i < k.n; i++) {
                if (!number_to_float32(s->cells() + index + i, &k.c[i])) fire(ERR_SYNTAX_MALCONSTRUCT, spec);
            }
            break;
        }
        case TYPE_STRING: {
            GcRoot loaded;
            if (!load_text_value(spec, loaded.get())) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, type, spec);
            if (!cell_is(loaded.get(), type)) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, type, loaded.get());
            *proto = *loaded;
            return proto;
        }
        default: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, type, spec);
    }
    return make_point(proto, type, k);
}

void point_random(Cell* value, bool seed, bool secure, bool) {
    Coords k = coords_of(value);
    if (seed) {
        init_genrand(hash_murmur3(reinterpret_cast<const uint8_t*>(k.c), 4 * k.n));
        unset_set_result();
        return;
    }
    for (uint32_t i = 0; i < k.n; i++) {
        if (k.c[i] != 0) k.c[i] = float(float_random_value(k.c[i], secure));
    }
    make_point(g_args.base, cell_type(value), k);
}

int point_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    Coords k = coords_of(value);
    int written = 2;
    string_append_ascii(out, "(", 1);
    for (uint32_t i = 0; i < k.n; i++) {
        if (i > 0) {
            string_append_ascii(out, ", ", 2);
            written += 2;
        }
        const char* text = float_to_text(k.c[i], FLOAT_TEXT_POINT);
        size_t n = std::strlen(text);
        string_append_ascii(out, text, n);
        written += int(n);
    }
    string_append_ascii(out, ")", 1);
    return budget - written;
}

// The coordinate (from 1) an element selects; anything else raises invalid-path.
int selected_field(const Cell* value, const PathStep& step) {
    const Cell* e = step.element;
    if (cell_is(e, TYPE_INTEGER)) {
        int32_t i = cell_int(e);
        if (i >= 1 && i <= int32_t(point_dimensions(value))) return i;
    } else if (cell_is(e, TYPE_WORD)) {
        return point_field_index(e, value);
    }
    fire(ERR_SCRIPT_INVALID_PATH, path_of(step, value), e);
}

const Cell* point_eval_path(Cell* value, const PathStep& step) {
    int field = selected_field(value, step);
    if (!step.set_value) {
        set_float(value, point_coordinate(value, uint32_t(field - 1)));
        return value;
    }
    float f;
    if (!number_to_float32(step.set_value, &f)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(step.set_value));
    Coords k = coords_of(value);
    k.c[field - 1] = f;
    make_point(value, cell_type(value), k);
    return path_store_back(step, value);
}

void point_absolute() {
    Cell* p = g_args.base;
    Coords k = coords_of(p);
    for (uint32_t i = 0; i < k.n; i++) k.c[i] = std::fabs(k.c[i]);
    make_point(p, cell_type(p), k);
}

// 0 - c, so that a zero stays +0.
void point_negate(Cell* p) {
    Coords k = coords_of(p);
    for (uint32_t i = 0; i < k.n; i++) k.c[i] = 0.0f - k.c[i];
    make_point(p, cell_type(p), k);
}

void point_add() { point_do_math(ARITH_ADD); }
void point_subtract() { point_do_math(ARITH_SUBTRACT); }
void point_multiply() { point_do_math(ARITH_MULTIPLY); }
void point_divide() { point_do_math(ARITH_DIVIDE); }
void point_remainder() { point_do_math(ARITH_REMAINDER); }

// One coordinate rounded in double precision by float!'s round, whatever type the scale gives the result.
float round_coordinate(float v, const Cell* scale, const RoundArgs& args) {
    GcRoot number, s;
    set_float(number.get(), v);
    RoundArgs a = args;
    if (scale) {
        *s = *scale;
        a.scale = s.get();
    }
    float_round(number.get(), a);
    return cell_is(number.get(), TYPE_INTEGER) ? float(cell_int(number.get())) : float(cell_float(number.get()));
}

void point_round(Cell* p, const RoundArgs& args) {
    const Cell* scale = args.scale;
    if (scale && cell_is(scale, TYPE_MONEY)) fire_not_related(ACT_ROUND, TYPE_MONEY);
    Coords k = coords_of(p);
    Cell per[3];
    const Cell* scales[3] = {scale, scale, scale};
    if (scale && (cell_is(scale, TYPE_PAIR) || type_in(FAMILY_ANY_POINT, cell_type(scale)))) {
        // Each coordinate rounds to the matching one of the scale, which must have as many.
        uint32_t n = cell_is(scale, TYPE_POINT3D) ? 3 : 2;
        if (n < k.n) fire(ERR_SCRIPT_INVALID_ARG, scale);
        for (uint32_t i = 0; i < k.n; i++) {
            if (cell_is(scale, TYPE_PAIR)) {
                set_integer(&per[i], i == 0 ? pair_x(scale) : pair_y(scale));
            } else {
                set_float(&per[i], point_coordinate(scale, i));
            }
            scales[i] = &per[i];
        }
    }
    for (uint32_t i = 0; i < k.n; i++) k.c[i] = round_coordinate(k.c[i], scales[i], args);
    make_point(p, cell_type(p), k);
}

const Cell* point_pick(Cell* p, int, Cell* index_cell) {
    int field = 0;
    if (cell_is(index_cell, TYPE_INTEGER)) {
        field = cell_int(index_cell);
    } else if (cell_is(index_cell, TYPE_WORD)) {
        field = point_field_index(index_cell, p);
    }
    if (field < 1 || field > int(point_dimensions(p))) fire(ERR_SCRIPT_OUT_OF_RANGE, index_cell);
    set_float(p, point_coordinate(p, uint32_t(field - 1)));
    return p;
}

// point2D! swaps x and y, point3D! x and z.
void point_reverse(Cell* p, Cell*, Cell*) {
    Coords k = coords_of(p);
    float first = k.c[0];
    k.c[0] = k.c[k.n - 1];
    k.c[k.n - 1] = first;
    make_point(g_args.base, cell_type(p), k);
}

// The answer of an ordering whose difference is NaN: whichever side makes the ordering false.
int unordered(CompareOp op) {
    switch (op) {
        case CMP_LESSER:
        case CMP_LESSER_OR_EQUAL: return 1;
        case CMP_GREATER:
        case CMP_GREATER_OR_EQUAL: return -1;
        default: return 0;
    }
}

void register_point(DatatypeRegistry& registry, TypeId type) {
    Registration r(type);
    r.own<ACT_MAKE>(point_to).own<ACT_TO>(point_to).own<ACT_RANDOM>(point_random);
    r.own<ACT_FORM>(point_form).own<ACT_MOLD>(point_form).own<ACT_EVAL_PATH>(point_eval_path);
    r.own<ACT_COMPARE>(point_compare).own<ACT_ABSOLUTE>(point_absolute).own<ACT_NEGATE>(point_negate);
    r.own<ACT_ADD>(point_add).own<ACT_SUBTRACT>(point_subtract).own<ACT_MULTIPLY>(point_multiply);
    r.own<ACT_DIVIDE>(point_divide).own<ACT_REMAINDER>(point_remainder).own<ACT_ROUND>(point_round);
    r.own<ACT_PICK>(point_pick).own<ACT_REVERSE>(point_reverse);
    registry.register_datatype(r);
}

}  // namespace

Cell* point2d_make_at(Cell* cell, float x, float y) {
    cell->header = TYPE_POINT2D;
    cell->w1 = std::bit_cast<uint32_t>(x);
    cell->w2 = std::bit_cast<uint32_t>(y);
    cell->w3 = 0;
    return cell;
}

Cell* point3d_make_at(Cell* cell, float x, float y, float z) {
    cell->header = TYPE_POINT3D;
    cell->w1 = std::bit_cast<uint32_t>(x);
    cell->w2 = std::bit_cast<uint32_t>(y);
    cell->w3 = std::bit_cast<uint32_t>(z);
    return cell;
}

Cell* point2d_make_in(const Cell* block, float x, float y) { return point2d_make_at(block_alloc_tail(block), x, y); }
Cell* point3d_make_in(const Cell* block, float x, float y, float z) {
    return point3d_make_at(block_alloc_tail(block), x, y, z);
}
Cell* point2d_push(float x, float y) { return point2d_make_at(stack_push_cell(), x, y); }
Cell* point3d_push(float x, float y, float z) { return point3d_make_at(stack_push_cell(), x, y, z); }

float point_coordinate(const Cell* point, uint32_t i) {
    uint32_t word = i == 0 ? point->w1 : i == 1 ? point->w2 : point->w3;
    return std::bit_cast<float>(word);
}

int point_field_index(const Cell* word, const Cell* value) {
    uint32_t symbol = symbol_resolve(word_symbol(word));
    if (symbol == g_sym[SYM_X]) return 1;
    if (symbol == g_sym[SYM_Y]) return 2;
    if (symbol == g_sym[SYM_Z] && cell_is(value, TYPE_POINT3D)) return 3;
    if (type_in(FAMILY_ANY_POINT, cell_type(value))) fire(ERR_SCRIPT_CANNOT_USE, word, value);
    fire(ERR_SCRIPT_INVALID_PATH, value, word);
}

bool number_to_float32(const Cell* number, float* out) {
    if (cell_is(number, TYPE_INTEGER)) {
        *out = float(cell_int(number));
    } else if (cell_is(number, TYPE_FLOAT)) {
        *out = float(cell_float(number));
    } else {
        return false;
    }
    return true;
}

void point_do_math(ArithOp op) {
    Cell* left = g_args.base;
    const Cell* right = left + 1;
    TypeId type = cell_type(left);
    Coords k = coords_of(left), r;
    r.n = k.n;
    if (op > ARITH_REMAINDER) fire_not_related(arith_action(op), type);
    switch (cell_type(right)) {
        case TYPE_INTEGER: r.c[0] = r.c[1] = r.c[2] = float(cell_int(right)); break;
        case TYPE_PAIR:
            if (type != TYPE_POINT2D) fire_with_type(ERR_SCRIPT_INVALID_TYPE, TYPE_PAIR);
            r.c[0] = float(pair_x(right));
            r.c[1] = float(pair_y(right));
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double f = cell_float(right);
            if (op == ARITH_MULTIPLY || op == ARITH_DIVIDE) {
                // Scaling stays in single precision, with no test: dividing by zero gives infinities.
                float g = float(f);
                for (uint32_t i = 0; i < k.n; i++) {
                    k.c[i] = op == ARITH_MULTIPLY ? k.c[i] * g : float(float_op(k.c[i], g, ARITH_DIVIDE));
                }
                make_point(left, type, k);
                return;
            }
            r.c[0] = r.c[1] = r.c[2] = float(f);
            break;
        }
        default:
            if (cell_type(right) != type) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(right));
            r = coords_of(right);
            break;
    }
    for (uint32_t i = 0; i < k.n; i++) k.c[i] = float(float_op(k.c[i], r.c[i], op));
    make_point(left, type, k);
}

int point_compare(const Cell* value, const Cell* other, CompareOp op) {
    Cell converted;
    if (cell_is(value, TYPE_POINT2D) && cell_is(other, TYPE_PAIR)) {
        other = point2d_make_at(&converted, float(pair_x(other)), float(pair_y(other)));
    }
    if (cell_type(other) != cell_type(value)) return COMPARE_INCOMPARABLE;
    Coords a = coords_of(value), b = coords_of(other);
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
            for (uint32_t i = 0; i < a.n; i++) {
                if (!float32_almost_equal_q(a.c[i], b.c[i])) return 1;
            }
            return 0;
        case CMP_STRICT_EQUAL:
            for (uint32_t i = 0; i < a.n; i++) {
                if (!(a.c[i] == b.c[i])) return 1;
            }
            return 0;
        case CMP_SAME:
            for (uint32_t i = 0; i < a.n; i++) {
                if (std::bit_cast<uint32_t>(a.c[i]) != std::bit_cast<uint32_t>(b.c[i])) return 1;
            }
            return 0;
        default: break;
    }
    // Ordered by x, then y, then z: a coordinate decides unless its difference is nearly zero.
    float d = 0;
    for (uint32_t i = 0; i < a.n; i++) {
        d = a.c[i] - b.c[i];
        if (!float32_almost_equal_q(d, 0.0f)) break;
    }
    if (std::isnan(d)) return unordered(op);
    return d < 0 && !float32_almost_equal_q(d, 0.0f) ? -1 : d > 0 && !float32_almost_equal_q(d, 0.0f) ? 1 : 0;
}

void point2d_init(DatatypeRegistry& registry) { register_point(registry, TYPE_POINT2D); }
void point3d_init(DatatypeRegistry& registry) { register_point(registry, TYPE_POINT3D); }

}  // namespace zol
