// series! generic actions. Every action takes its arguments from the argument stack; the first cell (the
// argument base) is the series and becomes the result unless said otherwise.
#include "series.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "hash.h"
#include "logic.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/hashtable.h"
#include "runtime/values/ownership.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/values/support.h"
#include "string.h"
#include "symbol.h"
#include "vector.h"
#include "word.h"

namespace zol {

bool series_advance(Cell* s, uint32_t n) {
    uint64_t next = uint64_t(series_index(s)) + n;
    uint32_t length = series_buffer_length(s);
    if (next <= length) s->w1 = uint32_t(next);
    return series_index(s) >= length;
}

uint32_t series_length(Cell* s, bool from_start) {
    uint32_t length = series_buffer_length(s);
    if (from_start) return length;
    if (series_index(s) > length) {
        s->w1 = length;
        return 0;
    }
    return length - series_index(s);
}

void fire_bad_refinement(const char* refinement, const Cell* value) {
    Cell word = word_load(refinement);
    fire(ERR_SCRIPT_INVALID_REFINE_ARG, &word, value);
}

int64_t series_part_count(const Cell* series, const Cell* part) {
    switch (cell_type(part)) {
        case TYPE_INTEGER: return cell_int(part);
        case TYPE_FLOAT: {
            double d = cell_float(part);
            if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ERR_SCRIPT_OUT_OF_RANGE, part);
            return int64_t(d);
        }
        default:
            if (cell_type(part) == cell_type(series) && series_node(part) == series_node(series)) {
                return int64_t(series_index(part)) - int64_t(series_index(series));
            }
            fire_bad_refinement("part", part);
    }
}

SortSpan sort_span(Cell* series, int64_t length, const SortArgs& args) {
    SortSpan span{series_clamped_head(series), length, 1};
    if (args.part) {
        int64_t n = series_part_count(series, args.part);
        if (n < 0) {
            span.count = -n > span.head ? span.head : -n;
            span.head -= uint32_t(span.count);
            series->w1 = span.head;
        } else if (n < span.count) {
            span.count = n;
        }
    }
    if (args.skip) {
        if (!cell_is(args.skip, TYPE_INTEGER)) fire_bad_refinement("skip", args.skip);
        int64_t k = cell_int(args.skip);
        bool fits = k >= 1 && (span.count == 0 || (k <= span.count && span.count % k == 0));
        if (!fits) fire_bad_refinement("skip", args.skip);
        span.record = uint32_t(k);
    } else if (args.all) {
        fire(ERR_SCRIPT_BAD_REFINES);
    }
    return span;
}

void series_remove_units(uint32_t node, uint32_t index, uint32_t count) {
    Series* s = node_series(node);
    uint32_t length = s->used();
    if (index >= length || count == 0) return;
    if (count > length - index) count = length - index;
    uint32_t unit = s->unit();
    uint8_t* at = s->head_ptr() + uint64_t(index) * unit;
    std::memmove(at, at + uint64_t(count) * unit, uint64_t(length - index - count) * unit);
    s->tail -= count * unit;
    series_changed(s);
}

Series* series_open_gap(uint32_t node, uint32_t index, uint32_t count) {
    Series* s = node_series(node);
    uint32_t unit = s->unit();
    uint64_t needed = uint64_t(s->tail) + uint64_t(count) * unit;
    if (needed > s->size) {
        if (needed - s->head > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
        s = series_expand(node, 2 * (needed - s->head));
    }
    uint32_t length = s->used();
    if (index > length) index = length;
    uint8_t* at = s->head_ptr() + uint64_t(index) * unit;
    std::memmove(at + uint64_t(count) * unit, at, uint64_t(length - index) * unit);
    s->tail += count * unit;
    series_changed(s);
    return s;
}

namespace {

inline Cell* arg(int i) { return g_args.base + i; }
inline void keep_result() { stack_keep_result(); }

// The item at a unit position as a value: the cell of a block, a char! of a string, an integer! of a
// binary. Non-cell items are pushed so the returned cell stays valid.
const Cell* item_at(const Cell* series, uint32_t position) {
    uint32_t t = cell_type(series);
    if (type_in(FAMILY_ANY_BLOCK, t)) return cell_series(series)->cells() + position;
    if (t == TYPE_VECTOR) {
        Cell* out = stack_push_cell();
        vector_pick(series, position, out);
        return out;
    }
    uint32_t v = string_char_at(series, position);
    Cell* out = stack_push_cell();
    if (t == TYPE_BINARY) {
        set_integer(out, int32_t(v));
    } else if (type_in(FAMILY_ANY_STRING, t)) {
        set_char(out, v);
    } else {
        fire(ERR_INTERNAL_NOT_DONE);  // image! answers pick itself
    }
    return out;
}

void at_or_skip(bool at) {
    Cell* s = arg(0);
    const Cell* n = arg(1);
    if (!cell_is(n, TYPE_INTEGER)) fire(ERR_SCRIPT_INVALID_ARG, n);
    int64_t offset = cell_int(n);
    int64_t target = int64_t(series_index(s)) + offset - (at && offset >= 1 ? 1 : 0);
    int64_t length = series_buffer_length(s);
    s->w1 = uint32_t(target < 0 ? 0 : target > length ? length : target);
    stack_keep_result();
}

void series_at() { at_or_skip(true); }
void series_skip() { at_or_skip(false); }

void series_back() {
    if (series_index(arg(0)) > 0) arg(0)->w1--;
    stack_keep_result();
}

void series_next() {
    series_advance(arg(0), 1);
    stack_keep_result();
}

void series_head() {
    arg(0)->w1 = 0;
    stack_keep_result();
}

void series_tail() {
    arg(0)->w1 = series_buffer_length(arg(0));
    stack_keep_result();
}

void series_head_q() { stack_set_only_result(series_index(arg(0)) == 0 ? &g_true_value : &g_false_value); }
void series_tail_q() { stack_set_only_result(series_at_tail(arg(0)) ? &g_true_value : &g_false_value); }

void series_index_q() {
    Cell r;
    set_integer(&r, int32_t(series_index(arg(0))) + 1);
    stack_set_only_result(&r);
}

int series_length_q(const Cell* s) {
    uint32_t length = series_buffer_length(s);
    return series_index(s) >= length ? 0 : int(length - series_index(s));
}

// The unit position an index names: head + index - 1 for a positive index, head + index for a negative one.
int64_t index_position(const Cell* series, int index) {
    return int64_t(series_index(series)) + index - (index > 0 ? 1 : 0);
}

const Cell* series_pick(Cell* series, int index, Cell*) {
    int64_t position = index_position(series, index);
    if (index == 0 || position < 0 || position >= series_buffer_length(series)) return &g_none_value;
    return item_at(series, uint32_t(position));
}

[[noreturn]] void poke_out_of_range(int index, const Cell* index_cell) {
    Cell bad;
    set_integer(&bad, index);
    fire(ERR_SCRIPT_OUT_OF_RANGE, cell_is(index_cell, TYPE_INTEGER) ? index_cell : &bad);
}

const Cell* series_poke(Cell* series, int index, Cell* value, Cell* index_cell) {
    int64_t position = index_position(series, index);
    if (index == 0 || position < 0 || position >= series_buffer_length(series)) poke_out_of_range(index, index_cell);
    uint32_t t = cell_type(series);
    uint32_t at = uint32_t(position);
    if (type_in(FAMILY_ANY_STRING, t) && !cell_is(value, TYPE_CHAR)) fire(ERR_SCRIPT_INVALID_ARG, value);
    if (t == TYPE_VECTOR && cell_type(value) != vector_type(series)) fire(ERR_SCRIPT_INVALID_ARG, value);
    uint32_t byte = 0;
    if (t == TYPE_BINARY) {
        if (!cell_is(value, TYPE_INTEGER) && !cell_is(value, TYPE_CHAR)) fire(ERR_SCRIPT_INVALID_ARG, value);
        int64_t v = cell_is(value, TYPE_INTEGER) ? cell_int(value) : int64_t(cell_char(value));
        if (v < 0 || v > 255) fire(ERR_SCRIPT_OUT_OF_RANGE, value);
        byte = uint32_t(v);
    }
    OwnershipReport report(series, W_POKE, W_POKED, int32_t(at), 1, value);
    if (report.told() && at >= series_buffer_length(series)) poke_out_of_range(index, index_cell);
    if (type_in(FAMILY_ANY_BLOCK, t)) {
        cell_series(series)->cells()[at] = *value;
        hash_upkeep(series, HashEdit::replaced, at, 1);
    } else if (type_in(FAMILY_ANY_STRING, t)) {
        string_put_char(series_node(series), at, cell_char(value));
    } else if (t == TYPE_BINARY) {
        cell_series(series)->head_ptr()[at] = uint8_t(byte);
    } else if (t == TYPE_VECTOR) {
        vector_poke(series, at, value);
    } else {
        fire(ERR_INTERNAL_NOT_DONE);  // image! pokes itself
    }
    report.done();
    return value;
}

void series_clear(Cell* series) {
    Series* s = cell_series(series);
    uint32_t index = series_index(series);
    if (index < s->used()) {
        OwnershipReport report(series, W_CLEAR, W_CLEARED, int32_t(index), int32_t(s->used() - index));
        s = cell_series(series);  // the owner's handler may have changed the buffer
        if (index < s->used()) {
            uint32_t dropped = s->used() - index;
            s->tail = s->head + index * s->unit();
            hash_upkeep(series, HashEdit::removed, index, dropped);
        }
        report.done();
    }
    stack_keep_result();
}

void series_remove(Cell* series, Cell* part, Cell* key) {
    int64_t count = 1;
    if (part) count = series_part_count(series, part);
    if (count < 1) {
        stack_keep_result();
        return;
    }
    if (key) {
        auto find = g_types.get<ACT_FIND>(cell_type(series));
        FindArgs args;
        const Cell* found = find(series, key, args);
        if (cell_is(found, TYPE_NONE)) {
            none_set_result();
            stack_keep_result();
            return;
        }
        *series = *found;
        count++;  // the key and the value after it
    }
    uint32_t index = series_index(series);
    if (index < series_buffer_length(series)) {
        OwnershipReport report(series, W_REMOVE, W_REMOVED, int32_t(index), int32_t(count));
        uint32_t before = series_buffer_length(series);
        series_remove_units(series_node(series), index, uint32_t(count > 0x7FFFFFFF ? 0x7FFFFFFF : count));
        hash_upkeep(series, HashEdit::removed, index, before - series_buffer_length(series));
        report.done();
    }
    *arg(0) = *series;
    stack_keep_result();
}

void series_reverse(Cell* series, Cell* part, Cell* skip) {
    uint32_t left = uint32_t(series_length_q(series));
    if (left == 0) return keep_result();
    int64_t count = part ? series_part_count(series, part) : left;
    if (count < 1) return keep_result();
    if (count > left) count = left;
    int64_t size = 1;
    if (skip) {
        if (!cell_is(skip, TYPE_INTEGER)) fire_bad_refinement("skip", skip);
        size = cell_int(skip);
        if (size == count) return keep_result();
        if (size < 1) fire(ERR_SCRIPT_OUT_OF_RANGE, skip);
        if (count < size || count % size != 0) fire_bad_refinement("skip", skip);
    }
    uint32_t index = series_index(series);
    OwnershipReport report(series, W_REVERSE, W_REVERSED, int32_t(index), int32_t(count));
    if (report.told()) {
        count = series_units_left(series, index, part ? count : INT64_MAX, size);
        report.recount(int32_t(count));
    }
    Series* s = cell_series(series);
    uint32_t record = uint32_t(size) * s->unit();
    uint8_t* first = s->head_ptr() + uint64_t(index) * s->unit();
    uint8_t* last = first + uint64_t(count - size) * s->unit();
    std::vector<uint8_t> temp(record);
    for (; first < last; first += record, last -= record) {
        std::memcpy(temp.data(), first, record);
        std::memcpy(first, last, record);
        std::memcpy(last, temp.data(), record);
    }
    hash_upkeep(series, HashEdit::replaced, index, uint64_t(count));
    report.done();
    stack_keep_result();
}

// A new, empty series of the source's type with room for count units.
void make_like(Cell* out, const Cell* source, uint32_t count) {
    uint32_t unit = cell_series(source)->unit();
    set_series(out, cell_type(source), series_alloc(count ? count : 1, unit, 0), 0,
               cell_is(source, TYPE_VECTOR) ? source->w3 : 0);
}

// A hash! made by taking gets its own index once its cells are in.
void index_if_hash(Cell* made) {
    if (cell_is(made, TYPE_HASH)) hash_index(made);
}

// Moves count units from the source's unit index into the (empty) result, then closes the source's gap.
void move_units(const Cell* source, uint32_t index, uint32_t count, Cell* result) {
    Series* dst = cell_series(result);
    Series* src = cell_series(source);
    uint32_t unit = src->unit();
    std::memcpy(dst->head_ptr(), src->head_ptr() + uint64_t(index) * unit, uint64_t(count) * unit);
    dst->tail = dst->head + count * unit;
    series_remove_units(series_node(source), index, count);
    hash_upkeep(source, HashEdit::removed, index, count);
}

void series_take(Cell* series, Cell* part, bool, bool last) {
    uint32_t index = series_index(series);
    uint32_t buffer = series_buffer_length(series);
    if (index >= buffer) {
        none_set_result();
        return keep_result();
    }
    int64_t length = buffer - index;
    int64_t n = 1;
    if (part) {
        if (cell_is(part, TYPE_INTEGER) || cell_is(part, TYPE_FLOAT)) {
            n = series_part_count(series, part);
        } else if (cell_type(part) == cell_type(series) && series_node(part) == series_node(series)) {
            int64_t at = series_index(part);
            n = at < index ? 0 : last ? index + length - at : at - index;
        } else {
            fire_bad_refinement("part", part);
        }
    }
    int64_t given = n;
    if (n < 0) {
        length = index;
        n = last ? 1 : -n;
    }
    if (n > length) n = length;
    if (n == 0) n = 1;
    GcRoot source(*series);
    GcRoot result;
    make_like(result.get(), series, uint32_t(n));
    OwnershipReport report(source.get(), W_TAKE, W_TAKEN, int32_t(index), int32_t(n));
    if (report.told()) {
        // Take no more than the series now holds on the side taken from.
        uint32_t now = series_buffer_length(source.get());
        int64_t room = given < 0 && !last ? (index <= now ? index : 0) : (now > index ? now - index : 0);
        if (n > room) n = room;
    }
    if (n == 0) {
        // The handler left nothing to take.
    } else if (given < 1) {
        // Nothing asked for (0) gives an empty result; a negative count takes the items before the head.
        if (given < 0 && !last && index >= n) move_units(source.get(), index - uint32_t(n), uint32_t(n), result.get());
    } else if (last) {
        move_units(source.get(), series_buffer_length(source.get()) - uint32_t(n), uint32_t(n), result.get());
    } else {
        move_units(source.get(), index, uint32_t(n), result.get());
    }
    report.done();
    if (part) {
        index_if_hash(result.get());
        stack_set_only_result(result.get());
    } else if (n == 0) {
        none_set_result();
        keep_result();
    } else {
        GcRoot item(*item_at(result.get(), 0));
        stack_set_only_result(item.get());
    }
}

const Cell* series_copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    uint32_t buffer = series_buffer_length(value);
    int64_t start = series_index(value);
    int64_t count = start >= buffer ? 0 : buffer - start;
    if (part) {
        if (cell_is(part, TYPE_PAIR)) fire(ERR_INTERNAL_NOT_DONE);  // image! regions copy themselves
        count = series_part_count(value, part);
    }
    if (count < 0) {
        start += count;
        if (start < 0) {
            count = series_index(value);
            start = 0;
        } else {
            count = -count;
        }
    }
    if (start > buffer) {
        start = buffer;
        count = 0;
    }
    if (start + count > buffer) count = buffer - start;
    GcRoot source(*value);
    uint32_t node = series_copy_range(series_node(value), uint32_t(start), uint32_t(count));
    result->header = (source->header & (HDR_TYPE_MASK | HDR_NEW_LINE));
    result->w1 = 0;
    result->w2 = node;
    result->w3 = cell_is(source.get(), TYPE_VECTOR) ? source->w3 : 0;
    return result;
}

const Cell* series_move(Cell* origin, Cell* target, Cell* part) {
    if (!type_in(FAMILY_SERIES, cell_type(target))) fire_expect_arg(target, 1);
    uint32_t left = uint32_t(series_length_q(origin));
    if (left == 0) return target;
    int64_t count = 1;
    if (part) {
        count = series_part_count(origin, part);
        if (count < 1) return target;
        if (count > left) count = left;
    }
    uint32_t n = uint32_t(count);
    uint32_t from = series_index(origin);
    GcRoot source(*origin), dest(*target);
    uint32_t src_type = cell_type(origin), dst_type = cell_type(target);
    if (series_node(origin) == series_node(target)) {
        uint32_t to = series_index(target);
        if (to > series_buffer_length(target)) to = series_buffer_length(target);
        if (to == from || (to > from && to < from + n)) return origin;
        OwnershipReport report(origin, W_MOVE, W_MOVED, int32_t(from), int32_t(n));
        if (report.told()) {
            n = uint32_t(series_units_left(origin, from, n));
            to = std::min(to, series_buffer_length(origin));
            if (n == 0 || to == from || (to > from && to < from + n)) {
                report.done();
                return origin;
            }
        }
        Series* s = cell_series(origin);
        uint32_t unit = s->unit();
        std::vector<uint8_t> moved(uint64_t(n) * unit);
        std::memcpy(moved.data(), s->head_ptr() + uint64_t(from) * unit, moved.size());
        series_remove_units(series_node(origin), from, n);
        if (to > from) to -= n;
        s = series_open_gap(series_node(origin), to, n);
        std::memcpy(s->head_ptr() + uint64_t(to) * unit, moved.data(), moved.size());
        hash_upkeep_move(origin, to, from, n);
        report.done();
        return target;
    }
    bool strings = type_in(FAMILY_ANY_STRING, src_type) && type_in(FAMILY_ANY_STRING, dst_type);
    uint32_t src_unit = cell_series(origin)->unit(), dst_unit = cell_series(target)->unit();
    // Vectors take elements only from vectors of their own element type: bits of another type read as nonsense.
    bool vectors_differ = (src_type == TYPE_VECTOR || dst_type == TYPE_VECTOR) &&
                          (src_type != dst_type || vector_type(origin) != vector_type(target));
    if (!strings && (type_in(FAMILY_ANY_BLOCK, src_type) != type_in(FAMILY_ANY_BLOCK, dst_type) || src_unit != dst_unit ||
                     vectors_differ)) {
        Cell a, b;
        set_datatype(&a, src_type);
        set_datatype(&b, dst_type);
        fire(ERR_SCRIPT_MOVE_BAD, &a, &b);
    }
    OwnershipReport report(origin, W_MOVE, W_MOVED, int32_t(from), int32_t(n));
    if (report.told()) n = uint32_t(series_units_left(source.get(), from, n));
    uint32_t to = series_index(dest.get());
    if (to > series_buffer_length(dest.get())) to = series_buffer_length(dest.get());
    if (strings) {
        // Code point by code point, so the target widens to whatever the moved text needs.
        for (uint32_t i = 0; i < n; i++) {
            Series* s = cell_series(source.get());
            uint32_t cp = string_get_char(s->head_ptr() + uint64_t(from + i) * s->unit(), s->unit());
            string_insert_char(series_node(dest.get()), to + i, cp);
        }
    } else {
        Series* d = series_open_gap(series_node(dest.get()), to, n);
        Series* s = cell_series(source.get());
        std::memcpy(d->head_ptr() + uint64_t(to) * dst_unit, s->head_ptr() + uint64_t(from) * src_unit, uint64_t(n) * src_unit);
        hash_upkeep(dest.get(), HashEdit::inserted, to, n);
    }
    series_remove_units(series_node(source.get()), from, n);
    hash_upkeep(source.get(), HashEdit::removed, from, n);
    report.done();
    return target;
}

void series_random(Cell* value, bool seed, bool secure, bool only) {
    Series* s = cell_series(value);
    uint32_t index = series_index(value);
    uint32_t left = uint32_t(series_length_q(value));
    if (seed) {
        init_genrand(hash_murmur3(s->head_ptr() + uint64_t(index) * s->unit(), uint64_t(left) * s->unit()));
        unset_set_result();
        return keep_result();
    }
    if (only) {
        if (left == 0) {
            none_set_result();
            return keep_result();
        }
        GcRoot item(*item_at(value, index + uint32_t(random_range(secure, int32_t(left))) - 1));
        return stack_set_only_result(item.get());
    }
    OwnershipReport report(value, W_RANDOM, W_RANDOMIZED, int32_t(index), int32_t(left));
    s = cell_series(value);  // the owner's handler may have changed the buffer
    if (report.told()) {
        left = uint32_t(series_units_left(value, index, INT64_MAX));
        report.recount(int32_t(left));
    }
    uint32_t unit = s->unit();
    std::vector<uint8_t> temp(unit);
    for (uint32_t p = index, n = left; n > 1; p++, n--) {
        uint32_t k = uint32_t(random_range(secure, int32_t(n)));
        uint8_t* a = s->head_ptr() + uint64_t(p) * unit;
        uint8_t* b = s->head_ptr() + uint64_t(p + k - 1) * unit;
        std::memcpy(temp.data(), a, unit);
        std::memcpy(a, b, unit);
        std::memcpy(b, temp.data(), unit);
    }
    hash_upkeep(value, HashEdit::replaced, index, left);
    report.done();
    stack_keep_result();
}

void series_reflect(Cell* value, uint32_t field) {
    if (symbol_resolve(field) != g_sym[SYM_OWNED]) fire(ERR_INTERNAL_NOT_DONE);
    const Cell* owner = ownership_get(series_node(value));
    stack_set_only_result(owner ? owner : &g_none_value);
}

const Cell* series_modify(Cell* value, Cell* field, Cell* change, bool) {
    if (!is_any_word(field) || symbol_resolve(word_symbol(field)) != g_sym[SYM_OWNED]) fire(ERR_INTERNAL_NOT_DONE);
    if (cell_is(change, TYPE_NONE)) {
        ownership_unbind(value);
    } else if (cell_is(change, TYPE_BLOCK) && cell_series(change)->used() - series_index(change) >= 2) {
        // The block names the owner object and the field word that holds the series.
        const Cell* cells = cell_series(change)->cells() + series_index(change);
        GcRoot owner(cells[0]), word(cells[1]);
        if (!cell_is(owner.get(), TYPE_OBJECT) || !is_any_word(word.get())) fire(ERR_SCRIPT_INVALID_ARG, change);
        ownership_bind_owner(value, owner.get(), word.get());
    } else {
        fire(ERR_SCRIPT_INVALID_ARG, change);
    }
    return change;
}

}  // namespace

void series_init(DatatypeRegistry& registry) {
    Registration r(TYPE_SERIES);
    r.own<ACT_RANDOM>(series_random).own<ACT_REFLECT>(series_reflect).own<ACT_AT>(series_at);
    r.own<ACT_BACK>(series_back).own<ACT_CLEAR>(series_clear).own<ACT_COPY>(series_copy);
    r.own<ACT_HEAD>(series_head).own<ACT_HEAD_Q>(series_head_q).own<ACT_INDEX_Q>(series_index_q);
    r.own<ACT_LENGTH_Q>(series_length_q).own<ACT_MOVE>(series_move).own<ACT_NEXT>(series_next);
    r.own<ACT_PICK>(series_pick).own<ACT_POKE>(series_poke).own<ACT_REMOVE>(series_remove);
    r.own<ACT_REVERSE>(series_reverse).own<ACT_SKIP>(series_skip).own<ACT_TAIL>(series_tail);
    r.own<ACT_TAIL_Q>(series_tail_q).own<ACT_TAKE>(series_take).own<ACT_MODIFY>(series_modify);
    registry.register_datatype(r);
}

}  // namespace zol
