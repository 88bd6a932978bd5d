// block!: its actions and the block routines of block.h. The navigation and most editing actions come from
// series!; this unit adds what knows that the units are value cells: comparing, molding, searching,
// inserting and sorting them.
#include "block.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "error.h"
#include "hash.h"
#include "logic.h"
#include "map.h"
#include "object.h"
#include "registry.h"
#include "runtime/values/language.h"
#include "runtime/values/compare.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/hashtable.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "series.h"
#include "string.h"
#include "symbol.h"
#include "typeset.h"
#include "vector.h"

namespace zol {

namespace {

constexpr uint32_t CELL = sizeof(Cell);
constexpr uint64_t MAX_CELLS = MAX_BUFFER_SIZE / CELL;

inline uint32_t length_of(const Cell* block) { return series_buffer_length(block); }
inline uint32_t rest_of(const Cell* block) {
    uint32_t length = length_of(block);
    return series_index(block) >= length ? 0 : length - series_index(block);
}
inline Cell* cells_of(const Cell* block) { return cell_series(block)->cells(); }
inline bool is_path_or_lit(uint32_t t) { return t == TYPE_PATH || t == TYPE_LIT_PATH; }
inline int sign(int v) { return (v > 0) - (v < 0); }

uint32_t skip_size(const Cell* skip) {
    if (!cell_is(skip, TYPE_INTEGER)) fire_bad_refinement("skip", skip);
    return uint32_t(cell_int(skip));  // callers check the sign first where it matters
}

// Opens a gap of count cells at index (clamped to the tail). A buffer too small grows to the size needed,
// doubled when asked. Returns the buffer.
Series* open_cells(uint32_t node, uint32_t index, uint64_t count, bool doubled) {
    Series* s = node_series(node);
    uint64_t bytes = count * CELL;
    uint64_t needed = uint64_t(s->tail - s->head) + bytes;
    if (count > MAX_CELLS || needed > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    if (uint64_t(s->tail) + bytes > s->size) {
        uint64_t size = doubled ? needed * 2 : needed;
        if (size > MAX_BUFFER_SIZE) size = MAX_BUFFER_SIZE;
        s = series_expand(node, size);
    }
    uint32_t used = s->used();
    if (index > used) index = used;
    Cell* at = s->cells() + index;
    std::memmove(at + count, at, uint64_t(used - index) * CELL);
    s->tail += uint32_t(bytes);
    return s;
}

// The cells a value gives to insert or change: a block kind's cells from its head (unless only), else the
// value itself. A block that shares the target's buffer is copied aside first, because opening or closing
// the gap moves its cells; the copies stay reachable through the buffer they came from.
class SourceCells {
public:
    SourceCells(const Cell* value, bool only, uint32_t target_node) : one_(*value) {
        spread_ = type_in(FAMILY_ANY_BLOCK, cell_type(value)) && !only;
        if (!spread_) {
            count_ = 1;
            return;
        }
        node_ = series_node(value);
        index_ = series_index(value);
        count_ = rest_of(value);
        if (node_ == target_node) {
            const Cell* first = node_series(node_)->cells() + index_;
            aside_.assign(first, first + count_);
        }
    }
    uint32_t count() const { return count_; }
    void limit(uint32_t n) {
        if (n < count_) count_ = n;
    }
    // Good until the next allocation when the cells are read in place.
    const Cell* cells() const {
        if (!spread_) return &one_;
        if (!aside_.empty()) return aside_.data();
        return node_series(node_)->cells() + index_;
    }

private:
    Cell one_;
    bool spread_ = false;
    uint32_t node_ = 0, index_ = 0, count_ = 0;
    std::vector<Cell> aside_;
};

// Writes the source's cells at a position, then copies - 1 more runs of them.
void write_cells(uint32_t node, uint32_t at, const SourceCells& source, uint64_t copies) {
    uint8_t* to = reinterpret_cast<uint8_t*>(node_series(node)->cells() + at);
    uint32_t bytes = source.count() * CELL;
    std::memcpy(to, source.cells(), bytes);
    if (copies > 1) memory_replicate(to, bytes, uint32_t(copies));
}

uint64_t copies_of(int dup) { return dup < 0 ? 1 : uint64_t(dup); }

uint64_t total_cells(const SourceCells& source, uint64_t copies) {
    uint64_t total = uint64_t(source.count()) * copies;
    if (total > MAX_CELLS) fire(ERR_INTERNAL_NO_MEMORY);
    return total;
}

// A head left past a shortened buffer comes back to the tail.
uint32_t clamp_head(Cell* block) {
    uint32_t length = length_of(block);
    if (series_index(block) > length) block->w1 = length;
    return series_index(block);
}

// --- search

struct Match {
    int64_t position = -1;  // -1: none
    uint32_t after = 0;     // past the matched cell or sequence
};

// The values a hash! looks up through its index: those whose hash follows find's equality. Blocks hash by
// position but compare by content, and numbers with fractions compare with a tolerance: those are scanned.
bool indexed_type(uint32_t t) {
    constexpr TypeFamily by_content = FAMILY_ALL_WORD | FAMILY_ANY_STRING | uint64_t(1) << TYPE_BINARY |
                                      uint64_t(1) << TYPE_INTEGER | uint64_t(1) << TYPE_CHAR | uint64_t(1) << TYPE_LOGIC |
                                      uint64_t(1) << TYPE_NONE | uint64_t(1) << TYPE_DATATYPE | uint64_t(1) << TYPE_TUPLE |
                                      uint64_t(1) << TYPE_TYPESET;
    return type_in(by_content, t);
}

// The search of a hash! through its index: the same answers as the scan, on the same record grid.
Match indexed_search(const Cell* series, const Cell* value, const FindArgs& args, CompareOp op, uint32_t head,
                     uint32_t lower, uint32_t upper, uint32_t size) {
    auto found = [](int64_t p) { return Match{p, uint32_t(p + 1)}; };
    if (args.last) {
        if (head >= upper) return {};
        for (int64_t start = int64_t(upper) - 1; start >= head;) {
            int32_t p = hash_find_position(series, value, op, uint32_t(start), true);
            if (p < int64_t(head)) return {};
            if ((uint32_t(p) - head) % size == 0) return found(p);
            start = int64_t(p) - 1;
        }
        return {};
    }
    if (args.reverse) {
        if (head < lower + size) return {};
        for (int64_t start = int64_t(head) - size; start >= lower;) {
            int32_t p = hash_find_position(series, value, op, uint32_t(start), true);
            if (p < int64_t(lower)) return {};
            if ((head - uint32_t(p)) % size == 0) return found(p);
            start = int64_t(p) - 1;
        }
        return {};
    }
    for (uint32_t start = head; start < upper;) {
        int32_t p = hash_find_position(series, value, op, start, false);
        if (p < 0 || uint32_t(p) >= upper) return {};
        if ((uint32_t(p) - head) % size == 0) return found(p);
        start = uint32_t(p) + 1;
    }
    return {};
}

// The search of find, select and put (the /any and /with refinements do not apply to cells).
Match search(const Cell* series, const Cell* value, const FindArgs& args) {
    uint32_t length = length_of(series);
    uint32_t head = series_index(series);
    if (!args.reverse && head >= length) return {};
    if (head > length) head = length;
    uint32_t size = 1;
    if (args.skip) {
        size = skip_size(args.skip);
        if (cell_int(args.skip) < 1) fire(ERR_SCRIPT_OUT_OF_RANGE, args.skip);
    }
    // Matches start within [lower, head) backward, or at head or later and end by upper forward.
    uint32_t lower = 0, upper = length;
    if (args.part) {
        uint64_t limit;
        if (cell_is(args.part, TYPE_INTEGER)) {
            if (cell_int(args.part) < 1) return {};
            uint64_t n = uint32_t(cell_int(args.part));
            limit = args.reverse && !args.last ? (head > n ? head - n : 0) : head + n;
        } else if (cell_type(args.part) == cell_type(series) && series_node(args.part) == series_node(series)) {
            limit = series_index(args.part);
        } else {
            fire_bad_refinement("part", args.part);
        }
        if (args.reverse && !args.last) {
            lower = uint32_t(std::min<uint64_t>(limit, head));
            if (limit >= head) return {};
        } else if (limit < upper) {
            upper = uint32_t(limit);
        }
    }

    uint32_t type = cell_type(value);
    bool sequence = type_in(FAMILY_ANY_BLOCK, type) && !args.only;
    bool by_type = (type == TYPE_DATATYPE || type == TYPE_TYPESET) && !args.only;
    CompareOp op = args.same ? CMP_SAME : args.case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND;
    bool indexed = !sequence && !by_type && !args.match && (indexed_type(type) || (type == TYPE_OBJECT && args.same));
    if (cell_is(series, TYPE_HASH) && series->w3 && indexed) {
        return indexed_search(series, value, args, op, head, lower, upper, size);
    }
    uint64_t width = sequence ? rest_of(value) : 1;
    auto matches = [&](uint64_t p) {
        if (p + width > length) return false;
        const Cell* at = cells_of(series) + p;
        if (by_type) return typeset_or_datatype_has(value, cell_type(at));
        if (!sequence) return compare_values(value, at, op);
        const Cell* seq = cells_of(value) + series_index(value);
        for (uint64_t i = 0; i < width; i++) {
            if (!compare_values(seq + i, at + i, op)) return false;
        }
        return true;
    };
    auto found = [&](uint64_t p) { return Match{int64_t(p), uint32_t(p + width)}; };

    if (args.last) {
        // Backward from the last start that fits, on the record grid that starts at the head.
        if (uint64_t(head) + width > upper) return {};
        for (uint64_t p = head + (upper - width - head) / size * size;; p -= size) {
            if (matches(p)) return found(p);
            if (args.match || p < uint64_t(head) + size) return {};
        }
    }
    if (args.reverse) {
        if (head < lower + size) return {};
        for (uint64_t p = head - size;; p -= size) {
            if (matches(p)) return found(p);
            if (args.match || p < uint64_t(lower) + size) return {};
        }
    }
    for (uint64_t p = head; p + width <= upper; p += size) {
        if (matches(p)) return found(p);
        if (args.match) break;
    }
    return {};
}

// --- make and to

// An object's body, pushed.
Cell* object_body_pushed(const Cell* object) {
    GcRoot source(*object), body;
    object_body(source.get(), body.get());
    return stack_push(body.get());
}

Cell* map_body_pushed(const Cell* map) {
    GcRoot source(*map), body;
    map_body(source.get(), body.get());
    return stack_push(body.get());
}

Cell* vector_values_pushed(const Cell* vector) {
    GcRoot source(*vector), values;
    vector_to_block(source.get(), values.get());
    return stack_push(values.get());
}

const Cell* block_make(Cell*, Cell* source, TypeId type) {
    Cell* result;
    switch (cell_type(source)) {
        case TYPE_INTEGER: result = block_push_new(cell_int(source)); break;
        case TYPE_FLOAT: {
            // Truncated; NaN and anything below 1 give room for one cell, anything too large no-memory.
            double d = cell_float(source);
            int64_t n = !(d >= 1.0) ? 1 : d >= double(MAX_CELLS) ? int64_t(MAX_CELLS) + 1 : int64_t(d);
            result = block_push_new(n);
            break;
        }
        case TYPE_OBJECT: result = object_body_pushed(source); break;
        case TYPE_MAP: result = map_body_pushed(source); break;
        case TYPE_VECTOR: result = vector_values_pushed(source); break;
        default:
            if (!type_in(FAMILY_ANY_BLOCK, cell_type(source))) fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, type, source);
            result = block_clone(source, false, false);
            break;
    }
    cell_set_type(result, type);
    return result;
}

const Cell* block_to(Cell*, Cell* source, TypeId type) {
    Cell* result;
    switch (cell_type(source)) {
        case TYPE_OBJECT: result = object_body_pushed(source); break;
        case TYPE_TYPESET: {
            GcRoot block;
            typeset_to_block(source, block.get());
            result = stack_push(block.get());
            break;
        }
        case TYPE_STRING: {
            // The text is read as source: the values it holds, words bound globally.
            GcRoot text(*source), loaded;
            g_language.load_source(loaded.get(), text.get(), -1, LexOptions{.wrap = true});
            result = stack_push(loaded.get());
            break;
        }
        case TYPE_MAP: result = map_body_pushed(source); break;
        case TYPE_VECTOR: result = vector_values_pushed(source); break;
        default:
            if (type_in(FAMILY_ANY_BLOCK, cell_type(source))) {
                result = block_clone(source, false, false);
            } else {
                GcRoot value(*source);
                result = block_push_new(1);
                *block_alloc_tail(result) = *value;
            }
            break;
    }
    result->header = (result->header & HDR_NEW_LINE) | type;
    return result;
}

// --- form, mold, compare

int block_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_detect(value, out, &budget, false)) return budget;
    return block_mold_items(value, out, args, budget, false);
}

int block_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_detect(value, out, &budget, true)) return budget;
    if (!args.only) {
        string_append_ascii(out, "[");
        budget--;
    }
    budget = block_mold_items(value, out, args, budget, true);
    if (!args.only) {
        string_append_ascii(out, "]");
        budget--;
    }
    return budget;
}

int block_compare(const Cell* value, const Cell* other, CompareOp op) {
    uint32_t ta = cell_type(value), tb = cell_type(other);
    if (ta != tb && !((op == CMP_FIND_WORD || op == CMP_FIND_WORD_STRICT) && is_path_or_lit(ta) && is_path_or_lit(tb))) {
        return COMPARE_INCOMPARABLE;
    }
    bool shared = series_node(value) == series_node(other) && series_index(value) == series_index(other);
    if (op == CMP_SAME) return shared ? 0 : -1;
    if (shared) return 0;
    // A block met again inside itself equals only another cycle.
    if (cycles_find(series_node(value))) return cycles_find(series_node(other)) ? 0 : -1;
    uint32_t la = rest_of(value), lb = rest_of(other);
    if (la != lb && series_equality_op(op)) return 1;
    VisitGuard guard(series_node(value), series_node(other));
    uint32_t n = std::min(la, lb);
    for (uint32_t i = 0; i < n; i++) {
        const Cell* x = cells_of(value) + series_index(value) + i;
        const Cell* y = cells_of(other) + series_index(other) + i;
        uint32_t tx = cell_type(x), ty = cell_type(y);
        int r;
        if (tx == ty || (is_any_word(x) && is_any_word(y)) || (type_in(FAMILY_NUMBER, tx) && type_in(FAMILY_NUMBER, ty))) {
            r = compare_order(x, y, op);
        } else {
            r = tx < ty ? -1 : 1;
        }
        if (r != 0) return r;
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// --- eval-path, find, select, put

const Cell* block_select(Cell* series, Cell* value, const FindArgs& args);

const Cell* block_eval_path(Cell* parent, const PathStep& step) {
    const Cell* element = step.element;
    uint32_t type = cell_type(parent);
    if (cell_is(element, TYPE_INTEGER)) {
        Cell index = *element;
        if (step.set_value) return g_types.get<ACT_POKE>(type)(parent, cell_int(&index), step.set_value, &index);
        return g_types.get<ACT_PICK>(type)(parent, cell_int(&index), &index);
    }
    FindArgs args;
    args.case_sensitive = step.case_sensitive;
    Cell key = *element;
    if (!step.set_value) {
        if (cell_is(element, TYPE_WORD) && !cell_is(parent, TYPE_HASH)) {
            return block_select_word(parent, element, step.case_sensitive);
        }
        return block_select(parent, &key, args);
    }
    Match m = search(parent, &key, args);
    if (m.position < 0) fire(ERR_SCRIPT_BAD_PATH_SET, step.path ? step.path : parent, element);
    GcRoot block(*parent), value(*step.set_value);
    uint32_t at = uint32_t(m.position) + 1;
    OwnershipReport report(block.get(), W_CHANGE, W_CHANGED, int32_t(at), 1, value.get());
    if (at < length_of(block.get())) {
        cells_of(block.get())[at] = *value;
        hash_upkeep(block.get(), HashEdit::replaced, at, 1);
    } else {
        block_rs_append(block.get(), value.get());  // a key in the last cell gets its value after it (indexed there)
    }
    report.done();
    return step.set_value;
}

const Cell* block_find(Cell* series, Cell* value, const FindArgs& args) {
    Match m = search(series, value, args);
    if (m.position < 0) return &g_none_value;
    Cell* result = stack_push(series);
    result->w1 = args.tail ? m.after : uint32_t(m.position);
    return result;
}

const Cell* block_select(Cell* series, Cell* value, const FindArgs& args) {
    Match m = search(series, value, args);
    if (m.position < 0 || m.after >= length_of(series)) return &g_none_value;
    return stack_push(cells_of(series) + m.after);
}

const Cell* block_put(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    GcRoot block(*series), k(*key), v(*value);
    FindArgs args;
    args.only = true;
    args.case_sensitive = case_sensitive;
    Match m = search(block.get(), k.get(), args);
    int32_t at = m.position < 0 ? int32_t(length_of(block.get())) : int32_t(m.position) + 1;
    OwnershipReport report(block.get(), W_PUT, W_PUT_ED, at, 1, v.get());
    if (m.position < 0) {
        block_rs_append(block.get(), k.get());  // each indexed as it is appended
        block_rs_append(block.get(), v.get());
    } else if (uint32_t(at) < length_of(block.get())) {
        Cell* slot = cells_of(block.get()) + at;
        if (compare_order(slot, v.get(), CMP_FIND) != 0) {
            *slot = *v;
            hash_upkeep(block.get(), HashEdit::replaced, uint32_t(at), 1);
        }
    } else {
        block_rs_append(block.get(), v.get());
    }
    report.done();
    return value;
}

// --- append, insert, change

void block_insert(Cell* series, Cell* value, int part, bool only, int dup, bool append) {
    GcRoot target(*series), item(*value);
    std::optional<SourceCells> source(std::in_place, item.get(), only, series_node(series));
    if (part >= 0) source->limit(uint32_t(part));
    uint64_t copies = copies_of(dup);
    uint64_t total = total_cells(*source, copies);
    uint32_t head = clamp_head(target.get());
    uint32_t length = length_of(target.get());
    uint32_t place = append || head == length ? length : head;
    OwnershipReport report(target.get(), append ? W_APPEND : W_INSERT, append ? W_APPENDED : W_INSERTED,
                           int32_t(place), int32_t(total), item.get());
    if (report.told()) {
        // The handler may have changed the target or the value: read both again.
        source.emplace(item.get(), only, series_node(target.get()));
        if (part >= 0) source->limit(uint32_t(part));
        total = total_cells(*source, copies);
        head = clamp_head(target.get());
        length = length_of(target.get());
        place = append || head >= length ? length : head;
    }
    if (total > 0) {
        open_cells(series_node(target.get()), place, total, copies < 5);
        write_cells(series_node(target.get()), place, *source, copies);
        hash_upkeep(target.get(), HashEdit::inserted, place, total);
    }
    report.done();
    Cell result = *target;
    result.w1 = append ? 0 : place + uint32_t(total);
    stack_set_only_result(&result);
}

void block_change(Cell* series, Cell* value, int part, bool only, int dup) {
    GcRoot target(*series), item(*value);
    uint32_t node = series_node(series);
    std::optional<SourceCells> source(std::in_place, item.get(), only, node);
    uint64_t copies = copies_of(dup);
    uint64_t total = total_cells(*source, copies);
    uint32_t head = clamp_head(target.get());
    uint32_t room = length_of(target.get()) - head;
    uint64_t replaced = std::min<uint64_t>(part < 0 ? total : uint64_t(part), room);
    OwnershipReport report(target.get(), W_CHANGE, W_CHANGED, int32_t(head), int32_t(total), item.get());
    if (report.told()) {
        // The handler may have changed the target or the value: read both again.
        source.emplace(item.get(), only, node);
        total = total_cells(*source, copies);
        head = clamp_head(target.get());
        room = length_of(target.get()) - head;
        replaced = std::min<uint64_t>(part < 0 ? total : uint64_t(part), room);
    }
    if (total > replaced) {
        open_cells(node, head + uint32_t(replaced), total - replaced, copies < 5);
    } else if (total < replaced) {
        series_remove_units(node, head + uint32_t(total), uint32_t(replaced - total));
    }
    if (total > 0) write_cells(node, head, *source, copies);
    hash_upkeep_change(target.get(), head, uint32_t(replaced), uint32_t(total));
    report.done();
    Cell result = *target;
    result.w1 = head + uint32_t(total);
    stack_set_only_result(&result);
}

// --- copy and take

ActionFn<ACT_COPY> copy_action_of(uint32_t type) {
    auto copy = g_types.get<ACT_COPY>(type);
    // A series type whose unit is not built yet copies as any series does.
    if (!copy && type_in(FAMILY_SERIES, type)) copy = g_types.get<ACT_COPY>(TYPE_SERIES);
    return copy;
}

// Replaces the value in a cell of the block by a deep copy of it.
void deep_copy_cell(const Cell* block, uint32_t index, Cell* kind) {
    GcRoot item(cells_of(block)[index]), copied;
    auto copy = copy_action_of(cell_type(item.get()));
    if (!copy) fire(ERR_INTERNAL_NOT_DONE);
    copy(item.get(), copied.get(), nullptr, true, kind);
    copied->header = (copied->header & ~HDR_NEW_LINE) | (item->header & HDR_NEW_LINE);
    cells_of(block)[index] = *copied;
}

// Copies every series value of the block (from its first cell) deeply in place.
void deep_copy_series_values(const Cell* block) {
    for (uint32_t i = 0; i < length_of(block); i++) {
        if (type_in(FAMILY_SERIES, cell_type(cells_of(block) + i))) deep_copy_cell(block, i, nullptr);
    }
}

const Cell* block_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind) {
    GcRoot source(*value), copy;
    g_types.get<ACT_COPY>(TYPE_SERIES)(source.get(), copy.get(), part, false, nullptr);
    if (deep || kind) {
        if (cell_is(copy.get(), TYPE_HASH)) cell_set_type(copy.get(), TYPE_BLOCK);  // hash!/copy rebuilds its table
        std::optional<VisitGuard> guard;
        if (deep) {
            if (cycles_find(series_node(source.get()))) fire(ERR_INTERNAL_NO_CYCLE);
            guard.emplace(series_node(source.get()));
        }
        if (kind) {
            block_copy_types(copy.get(), 0, length_of(copy.get()), 1, deep, kind);
        } else {
            deep_copy_series_values(copy.get());
        }
    }
    *result = *copy;
    return result;
}

void block_take(Cell* series, Cell* part, bool deep, bool last) {
    g_types.get<ACT_TAKE>(TYPE_SERIES)(series, part, false, last);
    if (!deep) return;
    GcRoot taken(*g_args.base);
    if (part) {
        if (type_in(FAMILY_ANY_BLOCK, cell_type(taken.get()))) deep_copy_series_values(taken.get());
    } else if (type_in(FAMILY_SERIES, cell_type(taken.get()))) {
        GcRoot holder;
        block_make_at(holder.get(), 1);
        *block_alloc_tail(holder.get()) = *taken;
        deep_copy_cell(holder.get(), 0, nullptr);
        *taken = cells_of(holder.get())[0];
    }
    stack_set_only_result(taken.get());
}

// --- sort, swap, trim

// The order of two records: their first cells (or the chosen field, or every cell with all) under the sort
// operation; values that cannot be compared order by datatype id.
struct RecordOrder {
    CompareOp op;
    uint32_t field;
    uint32_t cells;  // compared per record
    bool reverse;

    int operator()(const uint8_t* a, const uint8_t* b) const {
        const Cell* x = reinterpret_cast<const Cell*>(a) + field;
        const Cell* y = reinterpret_cast<const Cell*>(b) + field;
        for (uint32_t i = 0; i < cells; i++) {
            int r = compare_order(x + i, y + i, op);
            if (r == COMPARE_INCOMPARABLE) r = int(cell_type(x + i)) - int(cell_type(y + i));
            if (r != 0) return reverse ? -sign(r) : r;
        }
        return 0;
    }
};

// A function! comparator runs language code, which may change the block being sorted (growing it replaces
// its buffer under the sort): the records are sorted in a private copy and written back afterwards, as far
// as the block still reaches.
void sort_with_function(Cell* series, uint32_t start, uint32_t count, uint32_t size, const SortArgs& args) {
    GcRoot fn(*args.comparator), copy, left, right;
    block_make_at(copy.get(), count);
    std::memcpy(cells_of(copy.get()), cells_of(series) + start, size_t(count) * CELL);
    cell_series(copy.get())->tail = cell_series(copy.get())->head + count * CELL;
    bool whole = args.all && size > 1;
    if (whole) {
        // Whole records are passed as two blocks, refilled for every comparison.
        block_make_at(left.get(), size);
        block_make_at(right.get(), size);
        cell_series(left.get())->tail = cell_series(left.get())->head + size * CELL;
        cell_series(right.get())->tail = cell_series(right.get())->head + size * CELL;
    }
    bool reverse = args.reverse;
    auto order = [&](const uint8_t* a, const uint8_t* b) {
        const Cell* x = reinterpret_cast<const Cell*>(a);
        const Cell* y = reinterpret_cast<const Cell*>(b);
        int r;
        if (whole) {
            std::memcpy(cells_of(left.get()), x, size_t(size) * CELL);
            std::memcpy(cells_of(right.get()), y, size_t(size) * CELL);
            r = g_language.sort_compare(fn.get(), left.get(), right.get());
        } else {
            Cell first = *x, second = *y;
            r = g_language.sort_compare(fn.get(), &first, &second);
        }
        return reverse ? -r : r;
    };
    // The copy's buffer is private and never grows, so its address holds across the calls.
    uint8_t* base = reinterpret_cast<uint8_t*>(cells_of(copy.get()));
    if (args.stable) {
        sort_merge(base, count / size, size_t(size) * CELL, order);
    } else {
        sort_quick(base, count / size, size_t(size) * CELL, order);
    }
    uint32_t length = length_of(series);
    uint32_t reach = start < length ? std::min(count, length - start) : 0;
    std::memcpy(cells_of(series) + start, cells_of(copy.get()), size_t(reach) * CELL);
}

const Cell* block_sort(Cell* series, const SortArgs& args) {
    uint32_t head = series_index(series);
    uint32_t length = length_of(series);
    if (head >= length) return series;
    int64_t start = head, count = length - head;
    if (args.part) {
        int64_t n = series_part_count(series, args.part);
        if (n < 0) {
            start = head + n;
            count = -n;
            if (start < 0) {
                start = 0;
                count = head;
            }
        } else if (n < count) {
            count = n;
        }
    }
    uint32_t size = 1;
    if (args.skip) {
        size = skip_size(args.skip);
        if (cell_int(args.skip) < 1 || count < size || count % size != 0) fire_bad_refinement("skip", args.skip);
    }
    if (args.all && !args.skip) fire(ERR_SCRIPT_BAD_REFINES);
    uint32_t field = 0;
    if (args.comparator) {
        switch (cell_type(args.comparator)) {
            case TYPE_INTEGER: {
                if (args.all || !args.skip) fire(ERR_SCRIPT_BAD_REFINES);
                int32_t f = cell_int(args.comparator);
                if (f < 1 || uint32_t(f) > size) fire(ERR_SCRIPT_OUT_OF_RANGE, args.comparator);
                field = uint32_t(f) - 1;
                break;
            }
            case TYPE_FUNCTION: break;
            default: fire_bad_refinement("compare", args.comparator);
        }
    }
    if (count == 0) return series;
    OwnershipReport report(series, W_SORT, W_SORTED, int32_t(start), int32_t(count));
    if (report.told()) {
        // Without /part the sort covers every record the handler left, however many.
        count = series_units_left(series, start, args.part ? count : INT64_MAX, size);
        report.recount(int32_t(count));
    }
    if (args.comparator && cell_is(args.comparator, TYPE_FUNCTION)) {
        sort_with_function(series, uint32_t(start), uint32_t(count), size, args);
        hash_upkeep(series, HashEdit::rebuilt, 0, 0);
        report.done();
        return series;
    }
    RecordOrder order{args.case_sensitive ? CMP_CASE_SORT : CMP_SORT, field, args.all ? size : 1, args.reverse};
    // The comparisons allocate nothing, so the buffer stays where it is for the whole sort.
    uint8_t* base = reinterpret_cast<uint8_t*>(cells_of(series) + start);
    if (args.stable) {
        sort_merge(base, size_t(count / size), size_t(size) * CELL, order);
    } else {
        sort_quick(base, size_t(count / size), size_t(size) * CELL, order);
    }
    hash_upkeep(series, HashEdit::rebuilt, 0, 0);
    report.done();
    return series;
}

void block_swap(Cell* series1, Cell* series2) {
    if (!type_in(FAMILY_ANY_BLOCK, cell_type(series2))) fire(ERR_SCRIPT_INVALID_ARG, series2);
    Cell result = *series1;
    if (!series_at_tail(series1) && !series_at_tail(series2)) {
        uint32_t i = series_index(series1), j = series_index(series2);
        OwnershipReport first(series1, W_SWAP, W_SWAPED, int32_t(i), 1);
        OwnershipReport second(series2, W_SWAP, W_SWAPED, int32_t(j), 1);
        // Handlers may have emptied either block: swap only what is still there.
        if (i < length_of(series1) && j < length_of(series2)) {
            std::swap(cells_of(series1)[i], cells_of(series2)[j]);
            if (series_node(series1) == series_node(series2)) {
                hash_upkeep_swap(series1, i, j);
            } else {
                hash_upkeep(series1, HashEdit::replaced, i, 1);
                hash_upkeep(series2, HashEdit::replaced, j, 1);
            }
        }
        second.done();
        first.done();
    }
    stack_set_only_result(&result);
}

void block_trim(Cell* series, const TrimArgs&) {
    Cell result = *series;
    uint32_t head = clamp_head(&result);
    OwnershipReport report(&result, W_TRIM, W_TRIMMED, int32_t(head), int32_t(length_of(&result) - head));
    // Read after the report: the owner's handler may have changed the block or replaced its buffer.
    head = clamp_head(&result);
    Series* s = cell_series(&result);
    uint32_t length = s->used();
    Cell* cells = s->cells();
    uint32_t kept = head;
    for (uint32_t i = head; i < length; i++) {
        if (!cell_is(cells + i, TYPE_NONE)) cells[kept++] = cells[i];
    }
    s->tail = s->head + kept * CELL;
    hash_upkeep(&result, HashEdit::rebuilt, 0, 0);
    report.done();
    stack_set_only_result(&result);
}

// --- set operations

// Keeps a block and a hash table over it alive, as a hash! cell would.
void hold_table(Cell* root, const Cell* block, uint32_t table) {
    set_series(root, TYPE_HASH, series_node(block), 0, table);
}

}  // namespace

// --- routines

uint32_t block_rs_length(const Cell* block) { return rest_of(block); }

bool block_next(Cell* block) {
    if (series_index(block) < length_of(block)) block->w1++;
    return series_index(block) >= length_of(block);
}

Cell* block_rs_head(Cell* block) { return cells_of(block) + clamp_head(block); }
Cell* block_rs_tail(const Cell* block) { return cell_series(block)->cell_tail(); }
bool block_rs_tail_q(const Cell* block) { return series_index(block) == length_of(block); }
Cell* block_rs_abs_at(const Cell* block, uint32_t index) { return cells_of(block) + index; }

void block_rs_clear(const Cell* block) { block_rs_clear_from(block, series_index(block)); }

void block_rs_clear_from(const Cell* block, uint32_t index) {
    Series* s = cell_series(block);
    if (index < s->used()) s->tail = s->head + index * CELL;
    hash_upkeep(block, HashEdit::removed, index, 0);
}

Cell* block_rs_append(const Cell* block, const Cell* value) {
    Cell copy = *value;  // the value may lie in the block's own buffer, which appending may replace
    Cell* cell = block_alloc_tail(block);
    *cell = copy;
    hash_upkeep(block, HashEdit::inserted, length_of(block) - 1, 1);
    return cell;
}

void block_rs_append_block(const Cell* block, const Cell* source) {
    uint32_t n = rest_of(source);
    if (n == 0) return;
    uint32_t at = length_of(block);
    Cell from = *source;
    uint8_t* to = series_reserve_tail(series_node(block), uint64_t(n) * CELL);
    // Read after the reservation: it may have replaced the source's buffer when it is the block's own.
    std::memcpy(to, cells_of(&from) + series_index(&from), uint64_t(n) * CELL);
    hash_upkeep(block, HashEdit::inserted, at, n);
}

void block_pop_last(Cell* block) {
    Series* s = cell_series(block);
    if (s->used() == 0) return;
    s->tail -= CELL;
    hash_upkeep(block, HashEdit::removed, s->used(), 1);
    clamp_head(block);
}

const Cell* block_select_after(const Cell* block, const Cell* value) {
    uint32_t length = length_of(block);
    for (uint32_t i = series_index(block); i < length; i++) {
        if (compare_values(value, cells_of(block) + i, CMP_FIND)) {
            return i + 1 < length ? cells_of(block) + i + 1 : &g_none_value;
        }
    }
    return &g_none_value;
}

bool block_remove_value(Cell* block, const Cell* value, bool from_start) {
    uint32_t length = length_of(block);
    for (uint32_t i = from_start ? 0 : series_index(block); i < length; i++) {
        if (compare_values(value, cells_of(block) + i, CMP_FIND)) {
            series_remove_units(series_node(block), i, 1);
            hash_upkeep(block, HashEdit::removed, i, 1);
            return i < series_index(block);
        }
    }
    return false;
}

void block_insert_value(Cell* block, const Cell* value, bool advance, bool at_start) {
    Cell copy = *value;
    uint32_t at = at_start ? 0 : clamp_head(block);
    Series* s = open_cells(series_node(block), at, 1, true);
    s->cells()[at] = copy;
    hash_upkeep(block, HashEdit::inserted, at, 1);
    if (advance) block->w1 = at + 1;
}

void block_insert_block(Cell* block, const Cell* source) {
    Cell from = *source;
    uint32_t n = rest_of(&from);
    if (series_node(&from) == series_node(block)) {
        // Its cells move as the gap opens: take copies first (they stay reachable through the block).
        std::vector<Cell> aside(cells_of(&from) + series_index(&from), cells_of(&from) + series_index(&from) + n);
        for (const Cell& c : aside) block_insert_value(block, &c, true, false);
        return;
    }
    for (uint32_t i = 0; i < n; i++) {
        Cell c = cells_of(&from)[series_index(&from) + i];
        block_insert_value(block, &c, true, false);
    }
}

void block_insert_stack() {
    Cell* value = stack_top();
    block_insert_value(value - 1, value, false, false);
    stack_pop(1);
}

void block_append_stack() {
    Cell* value = stack_top();
    block_rs_append(value - 1, value);
    stack_pop(1);
}

const Cell* block_select_word(const Cell* block, const Cell* word, bool strict) {
    uint32_t symbol = word_symbol(word);
    uint32_t canonical = symbol_resolve(symbol);
    uint32_t length = length_of(block);
    for (uint32_t i = series_index(block); i < length; i++) {
        const Cell* c = cells_of(block) + i;
        uint32_t t = cell_type(c);
        if (t < TYPE_WORD || t > TYPE_GET_WORD) continue;
        if (strict ? word_symbol(c) == symbol : symbol_resolve(word_symbol(c)) == canonical) {
            return i + 1 < length ? c + 1 : &g_none_value;
        }
    }
    return &g_none_value;
}

Cell* block_make_at(Cell* out, int64_t capacity) {
    uint32_t node = series_alloc_cells(uint64_t(capacity < 0 ? 0 : capacity));
    set_series(out, TYPE_BLOCK, node);
    return out;
}

Cell* block_make_cell(Cell* out, int64_t capacity, bool heap) {
    uint64_t n = uint64_t(capacity < 1 ? 1 : capacity);
    uint32_t node = heap ? series_alloc_heap(n, CELL) : series_alloc_cells_unset(n);
    set_series(out, TYPE_BLOCK, node);
    return out;
}

Cell* block_make_root_in(int64_t capacity) {
    GcRoot fresh;
    block_make_at(fresh.get(), capacity);
    Cell* cell = root_block_append();
    *cell = *fresh;
    return cell;
}

Cell* block_make_in(const Cell* parent, int64_t capacity) {
    GcRoot fresh;
    block_make_at(fresh.get(), capacity);
    Cell* cell = block_alloc_tail(parent);
    *cell = *fresh;
    return cell;
}

Cell* block_push_new(int64_t capacity) {
    Cell* out = stack_push_cell();
    set_none(out);
    return block_make_at(out, capacity);
}

Cell* block_clone(const Cell* block, bool deep, bool any_block) {
    Cell source = *block;
    uint32_t n = rest_of(&source);
    Cell* out = block_push_new(n);
    out->header = source.header & (HDR_TYPE_MASK | HDR_NEW_LINE);
    std::memcpy(cells_of(out), cells_of(&source) + series_index(&source), uint64_t(n) * CELL);
    cell_series(out)->tail = n * CELL;
    if (!deep) return out;
    if (cycles_find(series_node(&source))) fire(ERR_INTERNAL_NO_CYCLE);
    VisitGuard guard(series_node(&source));
    for (uint32_t i = 0; i < n; i++) {
        Cell item = cells_of(out)[i];
        uint32_t t = cell_type(&item);
        if (t == TYPE_BLOCK || (any_block && (t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH)))) {
            Cell* copy = block_clone(&item, true, any_block);
            cells_of(out)[i] = *copy;
            stack_pop(1);
        }
    }
    return out;
}

int block_mold_items(const Cell* block, Cell* out, const MoldArgs& args, int budget, bool mold) {
    uint32_t node = series_node(block);
    uint32_t head = series_index(block);
    int indent = args.indent;
    bool closing_break = false;
    MoldArgs inner = args;
    inner.only = false;
    {
        VisitGuard guard(node);  // also keeps the block alive while its values are written
        for (uint32_t i = head; i < node_series(node)->used(); i++) {
            if (args.part && budget < 1) break;
            Cell item = node_series(node)->cells()[i];
            if (!mold) {
                if (i != head) {
                    uint32_t written = series_buffer_length(out);
                    uint32_t last = written ? string_char_at(out, written - 1) : 0;
                    if (last != '\t' && last != '\n' && last != '\r') {
                        string_append_ascii(out, " ");
                        budget--;
                    }
                }
                budget = form_value(&item, out, inner, budget);
                continue;
            }
            if (!args.flat && cell_new_line(&item)) {
                bool first = i == head;
                if (!args.only && first) {
                    indent++;
                    closing_break = true;
                }
                if (!(args.only && first)) {
                    string_append_ascii(out, "\n");
                    budget--;
                }
                budget = mold_indent(out, indent, budget);
            } else if (i != head) {
                string_append_ascii(out, " ");
                budget--;
            }
            inner.indent = indent;
            budget = mold_value(&item, out, inner, budget);
        }
    }
    if (closing_break) {
        string_append_ascii(out, "\n");
        budget = mold_indent(out, indent - 1, budget - 1);
    }
    return budget;
}

void block_copy_types(const Cell* block, uint32_t start, uint32_t count, uint32_t step, bool deep, const Cell* kind) {
    if (!cell_is(kind, TYPE_DATATYPE) && !cell_is(kind, TYPE_TYPESET)) fire(ERR_SCRIPT_INVALID_ARG, kind);
    GcRoot kept(*block), wanted(*kind);
    uint64_t end = std::min<uint64_t>(uint64_t(start) + count, length_of(block));
    for (uint64_t i = start; i < end && i < length_of(kept.get()); i += step ? step : 1) {
        uint32_t t = cell_type(cells_of(kept.get()) + i);
        bool copyable = type_in(FAMILY_SERIES, t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_MAP;
        if (!copyable || !typeset_or_datatype_has(wanted.get(), t)) continue;
        GcRoot item(cells_of(kept.get())[i]), copied;
        auto copy = copy_action_of(t);
        if (!copy) fire(ERR_INTERNAL_NOT_DONE);
        copy(item.get(), copied.get(), nullptr, deep, wanted.get());
        copied->header = (copied->header & ~HDR_NEW_LINE) | (item->header & HDR_NEW_LINE);
        cells_of(kept.get())[i] = *copied;
    }
}

void block_set_op(const Cell* skip, bool case_sensitive, SetOp op) {
    uint32_t size = 1;
    if (skip) {
        size = skip_size(skip);
        if (cell_int(skip) < 1) fire_bad_refinement("skip", skip);
    }
    GcRoot first(g_args.base[0]), second(op == SET_UNIQUE ? g_none_value : g_args.base[1]);
    if (op != SET_UNIQUE && !type_in(FAMILY_ANY_BLOCK, cell_type(second.get()))) fire(ERR_SCRIPT_INVALID_ARG, second.get());
    bool hashed = cell_is(first.get(), TYPE_HASH) || cell_is(second.get(), TYPE_HASH);
    CompareOp mode = case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND;
    Cell skip_cell;
    set_integer(&skip_cell, int32_t(size));

    uint64_t capacity = uint64_t(rest_of(first.get())) + (op == SET_UNION ? rest_of(second.get()) : 0);
    GcRoot result, result_index, first_index, second_index;
    block_make_at(result.get(), int64_t(std::min<uint64_t>(capacity, MAX_CELLS)));
    hold_table(result_index.get(), result.get(), hashtable_make(uint32_t(std::min<uint64_t>(capacity, MAX_CELLS)),
                                                                series_node(result.get()), HASH_BLOCK, 1));
    auto index_of = [&](Cell* root, const Cell* series) {
        if (!cell_is(root, TYPE_HASH)) hold_table(root, series, hashtable_make(length_of(series), series_node(series), HASH_BLOCK, 1));
        return root->w3;
    };

    // Whether a record of `series` (from its head, every size cells) has this key. Block kinds are found by
    // value through a scan, since their hash is their position.
    auto has_key = [&](const Cell* series, uint32_t table, const Cell* key, bool keys_only) {
        if (type_in(FAMILY_ANY_BLOCK, cell_type(key))) {
            FindArgs args;
            args.only = true;
            args.case_sensitive = case_sensitive;
            args.skip = &skip_cell;
            return search(series, key, args).position >= 0;
        }
        uint32_t head = series_index(series);
        for (int32_t p = hashtable_get(table, key, mode, head); p >= 0; p = hashtable_get(table, key, mode, uint32_t(p) + 1)) {
            if (keys_only || (uint32_t(p) - head) % size == 0) return true;
        }
        return false;
    };
    // Appends to the result every record of `from` whose key passes and is not in the result yet.
    auto pass = [&](const Cell* from, const Cell* other, Cell* other_index, bool check) {
        uint32_t other_table = check ? index_of(other_index, other) : 0;
        for (uint32_t p = series_index(from); p < length_of(from); p += size) {
            Cell key = cells_of(from)[p];
            bool in_other = check && has_key(other, other_table, &key, false);
            bool keep = !check || (op == SET_INTERSECT ? in_other : !in_other);
            if (!keep || has_key(result.get(), result_index->w3, &key, true)) continue;
            uint32_t n = std::min(size, length_of(from) - p);
            uint32_t at = length_of(result.get());
            uint8_t* to = series_reserve_tail(series_node(result.get()), uint64_t(n) * CELL);
            std::memcpy(to, cells_of(from) + p, uint64_t(n) * CELL);
            hashtable_put(result_index->w3, at, mode);
        }
    };

    switch (op) {
        case SET_UNIQUE: pass(first.get(), nullptr, nullptr, false); break;
        case SET_UNION:
            pass(first.get(), nullptr, nullptr, false);
            pass(second.get(), nullptr, nullptr, false);
            break;
        case SET_INTERSECT:
        case SET_EXCLUDE: pass(first.get(), second.get(), second_index.get(), true); break;
        case SET_DIFFERENCE:
            pass(first.get(), second.get(), second_index.get(), true);
            pass(second.get(), first.get(), first_index.get(), true);
            break;
    }
    if (hashed) {
        // A hash! input gives a hash!, over the result's index when it was made with find's equality.
        result->header = TYPE_HASH;
        if (mode == CMP_FIND) {
            result->w3 = result_index->w3;
        } else {
            hash_index(result.get());
        }
    }
    stack_set_only_result(result.get());
}

void block_init(DatatypeRegistry& registry) {
    Registration r(TYPE_BLOCK);
    r.own<ACT_MAKE>(block_make).own<ACT_TO>(block_to).own<ACT_FORM>(block_form).own<ACT_MOLD>(block_mold);
    r.own<ACT_EVAL_PATH>(block_eval_path).own<ACT_COMPARE>(block_compare);
    r.own<ACT_APPEND>(block_insert).own<ACT_INSERT>(block_insert).own<ACT_CHANGE>(block_change);
    r.own<ACT_COPY>(block_copy).own<ACT_FIND>(block_find).own<ACT_PUT>(block_put).own<ACT_SELECT>(block_select);
    r.own<ACT_SORT>(block_sort).own<ACT_SWAP>(block_swap).own<ACT_TAKE>(block_take).own<ACT_TRIM>(block_trim);
    for (Action a : {ACT_RANDOM, ACT_REFLECT, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q,
                     ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SKIP,
                     ACT_TAIL, ACT_TAIL_Q, ACT_MODIFY}) {
        r.inherit(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
