// map! values: making maps from pairs, setting and looking keys up, and the actions (make, to, form, mold,
// compare, eval-path, put, select, find, remove, clear, length?, reflect, copy).
#include "map.h"

#include <climits>
#include <optional>

#include "block.h"
#include "error.h"
#include "registry.h"
#include "series.h"
#include "string.h"
#include "symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/values/compare.h"
#include "runtime/values/hashtable.h"
#include "runtime/values/mold.h"
#include "runtime/values/predefined.h"
#include "context.h"

namespace zol {

namespace {

constexpr uint64_t MAX_PAIRS = MAX_BUFFER_SIZE / 32;

inline Cell* pair_cells(const Cell* map) { return node_series(map->w2)->cells(); }
inline uint32_t used_cells(const Cell* map) { return node_series(map->w2)->used(); }
// A value cell whose header is 0 belongs to a removed pair.
inline bool live(const Cell* value) { return value->header != 0; }

inline bool word_key(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

// The key as the table holds it: word kinds as set-word!, no new-line marker. False for a datatype that
// cannot be a key (no such key can be in the map).
bool as_stored(const Cell* key, Cell* out) {
    *out = *key;
    cell_clear_new_line(out);
    uint32_t t = cell_type(out);
    if (word_key(t)) cell_set_type(out, TYPE_SET_WORD);
    return map_key_type_q(t);
}

// Makes a key ready to be stored (rooted): a datatype that cannot be a key raises invalid-path; text and binary
// keys become private copies unless the caller's copy is fresh.
void normalise(Cell* key, bool fresh) {
    uint32_t t = cell_type(key);
    if (!map_key_type_q(t)) fire_with_type(ERR_SCRIPT_INVALID_PATH, t, key);
    Cell stored;
    as_stored(key, &stored);
    if (!fresh && (type_in(FAMILY_ANY_STRING, t) || t == TYPE_BINARY)) {
        uint32_t head = series_clamped_head(key);
        uint32_t copy = series_copy_range(series_node(key), head, series_buffer_length(key) - head);
        set_series(&stored, TypeId(t), copy);
    }
    *key = stored;
}

// The cell index of the key's pair (live or removed), or -1.
int32_t find_pair(const Cell* map, const Cell* key, CompareOp mode) {
    Cell k;
    if (!as_stored(key, &k)) return -1;
    return hashtable_get(map->w3, &k, mode);
}

CompareOp mode_of(bool case_sensitive, bool same = false) {
    return same ? CMP_SAME : case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND;
}

// An empty map with room for `pairs` pairs, in the cell (rooted).
void make_empty(Cell* cell, uint64_t pairs) {
    if (pairs > MAX_PAIRS) fire(ERR_INTERNAL_NO_MEMORY);
    uint32_t size = pairs ? uint32_t(pairs) : 1;
    GcRoot map;
    map->header = TYPE_MAP;
    map->w1 = map->w2 = map->w3 = 0;  // marked while the block and the table are made: no stale words
    uint32_t block = series_alloc_cells(uint64_t(size) * 2);
    map->w2 = block;
    uint32_t table = hashtable_make(size, block, HASH_MAP, 1);
    map->w3 = table;
    *cell = *map;
}

// A key handed out (find, words, body): a set-word as the word itself is asked for, text and binary keys as
// copies, so that changing them cannot break the index.
void handed_out(const Cell* key, Cell* out, bool as_word) {
    *out = *key;
    uint32_t t = cell_type(key);
    if (as_word && t == TYPE_SET_WORD) cell_set_type(out, TYPE_WORD);
    if (type_in(FAMILY_ANY_STRING, t) || t == TYPE_BINARY) {
        GcRoot keep(*key);
        uint32_t copy = series_copy_range(series_node(key), 0, series_buffer_length(key));
        set_series(out, TypeId(t), copy);
    }
}

// A new block (rooted out) of the live keys, the live values, or both.
enum class Part { keys, values, pairs };
void collect(const Cell* map, Cell* out, Part part) {
    GcRoot m(*map), made;
    block_make_at(made.get(), part == Part::pairs ? 2 * map_count(map) : map_count(map));
    for (uint32_t i = 0; i + 1 < used_cells(m.get()); i += 2) {
        if (!live(pair_cells(m.get()) + i + 1)) continue;
        if (part != Part::values) {
            GcRoot key;
            handed_out(pair_cells(m.get()) + i, key.get(), part == Part::keys);
            if (part == Part::pairs) key->header |= HDR_NEW_LINE;  // one pair a line
            *block_alloc_tail(made.get()) = *key;
        }
        if (part != Part::keys) {
            Cell value = pair_cells(m.get())[i + 1];
            cell_clear_new_line(&value);
            *block_alloc_tail(made.get()) = value;
        }
    }
    *out = *made;
}

// --- make, to, copy

const Cell* make_or_to(Cell* proto, Cell* spec, bool make) {
    GcRoot result, source(*spec);
    switch (family_case(cell_type(spec), FAMILY_ANY_LIST, TYPE_BLOCK)) {
        case TYPE_BLOCK: {  // block!, paren!, hash!
            uint32_t head = series_clamped_head(spec);
            uint32_t n = series_buffer_length(spec) - head;
            if (n % 2) fire(ERR_SCRIPT_INVALID_ARG, spec);
            map_make_at(result.get(), cell_series(spec)->cells() + head, n, false);
            break;
        }
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            if (!make) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_MAP, spec);
            double d = cell_is(spec, TYPE_INTEGER) ? double(cell_int(spec)) : cell_float(spec);
            if (!(d >= 0.0)) fire(ERR_SCRIPT_OUT_OF_RANGE, spec);
            make_empty(result.get(), d > double(MAX_PAIRS) ? MAX_PAIRS + 1 : uint64_t(d));
            break;
        }
        case TYPE_MAP: {
            auto copy = g_types.get<ACT_COPY>(TYPE_MAP);
            copy(source.get(), result.get(), nullptr, false, nullptr);
            break;
        }
        default: fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_MAP, spec);
    }
    *proto = *result;
    return proto;
}

const Cell* map_make(Cell* proto, Cell* spec, TypeId) { return make_or_to(proto, spec, true); }
const Cell* map_to(Cell* proto, Cell* spec, TypeId) { return make_or_to(proto, spec, false); }

bool copyable(uint32_t t) {
    return type_in(FAMILY_SERIES, t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_MAP;
}

const Cell* map_copy(Cell* value, Cell* result, Cell*, bool deep, Cell* kind) {
    GcRoot source(*value), pairs;
    std::optional<VisitGuard> guard;
    if (deep) {
        if (cycles_find(series_node(value))) fire(ERR_INTERNAL_NO_CYCLE);
        guard.emplace(series_node(value));
    }
    // The live pairs, keys as they are stored: the two maps may share their keys, which nobody else holds.
    block_make_at(pairs.get(), 2 * map_count(value));
    for (uint32_t i = 0; i + 1 < used_cells(source.get()); i += 2) {
        if (!live(pair_cells(source.get()) + i + 1)) continue;
        Cell key = pair_cells(source.get())[i], v = pair_cells(source.get())[i + 1];
        *block_alloc_tail(pairs.get()) = key;
        *block_alloc_tail(pairs.get()) = v;
    }
    uint32_t n = series_buffer_length(pairs.get());
    if (kind) {
        block_copy_types(pairs.get(), 1, n, 2, deep, kind);
    } else if (deep) {
        for (uint32_t i = 1; i < n; i += 2) {
            uint32_t t = cell_type(cell_series(pairs.get())->cells() + i);
            if (!copyable(t)) continue;
            auto copy = g_types.get<ACT_COPY>(t);
            if (!copy) copy = g_types.get<ACT_COPY>(TYPE_SERIES);
            GcRoot item(cell_series(pairs.get())->cells()[i]), copied;
            copy(item.get(), copied.get(), nullptr, true, nullptr);
            cell_series(pairs.get())->cells()[i] = *copied;
        }
    }
    GcRoot made;
    map_make_at(made.get(), cell_series(pairs.get())->cells(), n, true);
    *result = *made;
    return result;
}

// --- form and mold

int write_pairs(const Cell* value, Cell* out, const MoldArgs& args, int budget, bool mold) {
    bool lines = !args.flat;
    MoldArgs inner = args;
    inner.only = false;
    inner.indent = args.indent + 1;
    bool first = true;
    GcRoot m(*value);
    for (uint32_t i = 0; i + 1 < used_cells(m.get()); i += 2) {
        if (args.part && budget < 0) break;
        Cell key = pair_cells(m.get())[i], v = pair_cells(m.get())[i + 1];
        if (!live(&v)) continue;
        cell_clear_new_line(&key);
        cell_clear_new_line(&v);
        if (mold && lines && !args.only) {
            string_append_ascii(out, "\n");
            budget = mold_indent(out, args.indent + 1, budget - 1);
        } else if (!first) {
            string_append_ascii(out, lines ? "\n" : " ");
            budget--;
        }
        first = false;
        budget = mold_value(&key, out, inner, budget);
        string_append_ascii(out, " ");
        budget = mold_value(&v, out, inner, budget - 1);
    }
    if (mold && lines && !args.only && !first) {
        string_append_ascii(out, "\n");
        budget = mold_indent(out, args.indent, budget - 1);
    }
    return budget;
}

int map_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_detect(value, out, &budget, true)) return budget;
    VisitGuard guard(series_node(value));
    if (!args.only) {
        string_append_ascii(out, "#[");
        budget -= 2;
    }
    budget = write_pairs(value, out, args, budget, true);
    if (!args.only) {
        string_append_ascii(out, "]");
        budget--;
    }
    return budget;
}

int map_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_detect(value, out, &budget, false)) return budget;
    VisitGuard guard(series_node(value));
    MoldArgs plain;
    plain.part = args.part;
    return write_pairs(value, out, plain, budget, false);
}

// --- compare

// Whether the second map has a live key matching the key with a value equal to the value.
bool has_pair(const Cell* map, const Cell* key, const Cell* value, bool strict) {
    CompareOp op = strict ? CMP_STRICT_EQUAL : CMP_FIND;
    int32_t p = find_pair(map, key, op);
    if (p >= 0 && live(pair_cells(map) + p + 1) && compare_values(value, pair_cells(map) + p + 1, strict ? CMP_STRICT_EQUAL : CMP_EQUAL)) {
        return true;
    }
    if (strict) return false;
    // Other keys equal without regard to case (set with put/case) are tried too.
    Cell stored;
    as_stored(key, &stored);
    for (uint32_t i = 0; i + 1 < used_cells(map); i += 2) {
        const Cell* k = pair_cells(map) + i;
        if (int32_t(i) == p || !live(k + 1) || cell_type(k) != cell_type(&stored)) continue;
        if (compare_values(&stored, k, CMP_FIND) && compare_values(value, k + 1, CMP_EQUAL)) return true;
    }
    return false;
}

int map_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_MAP)) return COMPARE_INCOMPARABLE;
    bool same = value->w2 == other->w2;
    if (op == CMP_SAME) return same ? 0 : -1;
    if (op == CMP_SORT || op == CMP_CASE_SORT) return value->w2 < other->w2 ? -1 : value->w2 > other->w2 ? 1 : 0;
    if (!series_equality_op(op)) return COMPARE_INCOMPARABLE;
    if (same) return 0;
    // A map met again inside itself equals only another map met again.
    if (cycles_find(value->w2) || cycles_find(other->w2)) return cycles_find(value->w2) && cycles_find(other->w2) ? 0 : 1;
    if (map_count(value) != map_count(other)) return 1;
    VisitGuard guard_a(value->w2), guard_b(other->w2);
    bool strict = op == CMP_STRICT_EQUAL || op == CMP_FIND_WORD_STRICT;
    for (uint32_t i = 0; i + 1 < used_cells(value); i += 2) {
        Cell key = pair_cells(value)[i], v = pair_cells(value)[i + 1];
        if (!live(&v)) continue;
        if (!has_pair(other, &key, &v, strict)) return 1;
    }
    return 0;
}

// --- the other actions

const Cell* map_eval_path(Cell* value, const PathStep& step) {
    if (step.set_value) {
        map_put(value, step.element, step.set_value, step.case_sensitive);
        return step.set_value;
    }
    const Cell* found = map_get(value, step.element, mode_of(step.case_sensitive));
    return found ? found : &g_none_value;
}

const Cell* map_put_action(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    map_put(series, key, value, case_sensitive);
    return value;
}

const Cell* map_select(Cell* series, Cell* value, const FindArgs& args) {
    const Cell* found = map_get(series, value, mode_of(args.case_sensitive, args.same));
    return found ? found : &g_none_value;
}

const Cell* map_find(Cell* series, Cell* value, const FindArgs& args) {
    int32_t p = find_pair(series, value, mode_of(args.case_sensitive, args.same));
    if (p < 0 || !live(pair_cells(series) + p + 1)) return &g_none_value;
    GcRoot key;
    handed_out(pair_cells(series) + p, key.get(), true);
    return stack_push(key.get());
}

void map_remove(Cell* series, Cell*, Cell* key) {
    if (!key) fire(ERR_SCRIPT_MISSING_ARG);
    int32_t p = find_pair(series, key, CMP_FIND);
    if (p >= 0) {
        Cell* v = pair_cells(series) + p + 1;
        if (live(v)) {
            *v = Cell{};  // header 0: the pair is removed, its key stays indexed to revive it
            hashtable_count_removed(series->w3, 1);
        }
    }
    stack_keep_result();
}

void map_clear(Cell* series) {
    hashtable_clear(series->w3);
    Series* s = node_series(series->w2);
    s->tail = s->head;
    stack_keep_result();
}

int map_length_q(const Cell* series) { return int(map_count(series)); }

void map_reflect(Cell* value, uint32_t field) {
    uint32_t f = symbol_resolve(field);
    GcRoot out;
    if (f == symbol_resolve(g_sym[SYM_WORDS])) {
        collect(value, out.get(), Part::keys);
    } else if (f == symbol_resolve(g_sym[SYM_VALUES])) {
        collect(value, out.get(), Part::values);
    } else if (f == symbol_resolve(g_sym[SYM_BODY])) {
        collect(value, out.get(), Part::pairs);
    } else {
        fire(ERR_INTERNAL_NOT_DONE);
    }
    stack_set_only_result(out.get());
}

}  // namespace

bool map_key_type_q(uint32_t type) {
    // Scalars (the numbers, char!, pair!, tuple!, time!, date!, money! and the points), words of every kind,
    // text and binaries.
    constexpr TypeFamily keys = FAMILY_SCALAR | FAMILY_ALL_WORD | FAMILY_ANY_STRING | (uint64_t(1) << TYPE_BINARY);
    return type_in(keys, type);
}

Cell* map_make_at(Cell* cell, const Cell* pairs, uint32_t count, bool fresh_keys) {
    GcRoot map;
    make_empty(map.get(), count / 2);
    for (uint32_t i = 0; i + 1 < count; i += 2) {
        GcRoot key(pairs[i]);
        normalise(key.get(), fresh_keys);
        Cell value = pairs[i + 1];
        cell_clear_new_line(&value);
        int32_t found = hashtable_get(map->w3, key.get(), CMP_FIND);
        if (found >= 0) {
            pair_cells(map.get())[found + 1] = value;  // a later duplicate key: its value wins, its pair goes
            continue;
        }
        uint32_t at = used_cells(map.get());
        *series_alloc_tail(map->w2) = *key;
        *series_alloc_tail(map->w2) = value;
        hashtable_put(map->w3, at, CMP_FIND);
    }
    *cell = *map;
    return cell;
}

uint32_t map_count(const Cell* map) { return hashtable_count(map->w3) - hashtable_removed(map->w3); }

void map_put(const Cell* map, const Cell* key, const Cell* value, bool case_sensitive) {
    GcRoot m(*map), k(*key), v(*value);
    CompareOp mode = mode_of(case_sensitive);
    int32_t p = find_pair(m.get(), k.get(), mode);
    if (p < 0) {
        normalise(k.get(), false);
        uint32_t at = used_cells(m.get());
        if (at / 2 >= MAX_PAIRS) fire(ERR_INTERNAL_NO_MEMORY);
        *series_alloc_tail(m->w2) = *k;
        set_unset(series_alloc_tail(m->w2));
        hashtable_put_absent(m->w3, at);
        p = int32_t(at);
    } else if (!live(pair_cells(m.get()) + p + 1)) {
        hashtable_count_removed(m->w3, -1);  // the removed pair comes back where it was
    }
    Cell stored = *v;
    cell_clear_new_line(&stored);
    pair_cells(m.get())[p + 1] = stored;
}

const Cell* map_get(const Cell* map, const Cell* key, CompareOp mode) {
    int32_t p = find_pair(map, key, mode);
    if (p < 0) return nullptr;
    const Cell* v = pair_cells(map) + p + 1;
    return live(v) ? v : nullptr;
}

void map_body(const Cell* map, Cell* out) { collect(map, out, Part::pairs); }

void map_extend(const Cell* map, const Cell* block, bool case_sensitive) {
    GcRoot m(*map), b(*block);
    for (uint32_t i = series_clamped_head(block); i + 1 < series_buffer_length(b.get()); i += 2) {
        Cell key = cell_series(b.get())->cells()[i], value = cell_series(b.get())->cells()[i + 1];
        map_put(m.get(), &key, &value, case_sensitive);
    }
}

bool map_foreach_set_words(Cell* iterator, const Cell* words) {
    uint32_t at = series_index(iterator);
    auto skip_removed = [&] {
        // At a key whose pair was removed, go on to the next pair.
        while (at % 2 == 0 && at + 1 < used_cells(iterator) && !live(pair_cells(iterator) + at + 1)) at += 2;
    };
    skip_removed();
    if (at + 1 >= used_cells(iterator) && at % 2 == 0) return false;
    uint32_t n = cell_is(words, TYPE_BLOCK) ? series_buffer_length(words) - series_clamped_head(words) : 1;
    for (uint32_t i = 0; i < n; i++) {
        Cell word = cell_is(words, TYPE_BLOCK) ? cell_series(words)->cells()[series_clamped_head(words) + i] : *words;
        if (!type_in(FAMILY_ANY_WORD, cell_type(&word))) fire(ERR_SCRIPT_INVALID_ARG, &word);
        skip_removed();
        Cell value = g_none_value;
        if (at < used_cells(iterator)) {
            value = pair_cells(iterator)[at++];
            if (cell_is(&value, TYPE_SET_WORD)) cell_set_type(&value, TYPE_WORD);
            cell_clear_new_line(&value);
        }
        word_set_value(&word, &value);
    }
    iterator->w1 = at;
    return true;
}

void map_init(DatatypeRegistry& registry) {
    Registration r(TYPE_MAP);
    r.own<ACT_MAKE>(map_make).own<ACT_REFLECT>(map_reflect).own<ACT_TO>(map_to).own<ACT_FORM>(map_form);
    r.own<ACT_MOLD>(map_mold).own<ACT_EVAL_PATH>(map_eval_path).own<ACT_COMPARE>(map_compare);
    r.own<ACT_CLEAR>(map_clear).own<ACT_COPY>(map_copy).own<ACT_FIND>(map_find).own<ACT_LENGTH_Q>(map_length_q);
    r.own<ACT_PUT>(map_put_action).own<ACT_REMOVE>(map_remove).own<ACT_SELECT>(map_select);
    registry.register_datatype(r);
}

}  // namespace zol
