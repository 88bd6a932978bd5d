// Ownership tracking.
#include "ownership.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/cycles.h"
#include "runtime/gc.h"
#include "hashtable.h"
#include "runtime/memory.h"
#include "mold.h"
#include "runtime/stack.h"

namespace zol {

namespace {

constexpr uint32_t TABLE_SIZE = 1000;
constexpr uint32_t ENTRY_WIDTH = 3;  // owned value, owner, field word

uint32_t g_table = 0;

void mark_table() { hashtable_mark(g_table); }

// Series that get a record of their own: the block kinds, whose cells may hold further series, and those
// whose units are not values. (image! keeps its owned mark in its cell and is not tracked yet.)
bool is_tracked_series(uint32_t t) {
    return type_in(FAMILY_ANY_BLOCK, t) || type_in(FAMILY_ANY_STRING, t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_BITSET;
}

inline uint32_t& context_header(uint32_t context) { return context_cell(context)->header; }

void bind(const Cell* value, const Cell* owner, const Cell* word) {
    stack_check_native();
    uint32_t t = cell_type(value);
    if (is_tracked_series(t)) {
        uint32_t node = series_node(value);
        if (!(node_series(node)->flags & SER_OWNED)) {
            node_series(node)->flags |= SER_OWNED;
            Cell v = *value, o = *owner, w = *word;
            Cell* entry = hashtable_put_node(g_table, node);  // good until the next put
            entry[0] = v;
            entry[1] = o;
            entry[2] = w;
        }
        if (!type_in(FAMILY_ANY_BLOCK, t) || cycles_find(node)) return;
        VisitGuard guard(node);  // also holds the container while its cells are bound
        for (uint32_t i = series_index(value); i < node_series(node)->used(); i++) {
            Cell item = node_series(node)->cells()[i];
            bind(&item, owner, word);
        }
        return;
    }
    if (t == TYPE_OBJECT) {
        uint32_t context = object_context(value);
        if ((context_header(context) & CONTEXT_OWNING) || cycles_find(context)) return;
        VisitGuard guard(context);
        for (uint32_t i = 0; i < context_word_count(context); i++) {
            Cell item = *context_values_at(context, i);
            // An owner that holds itself (self-reference) is not its own owned value.
            if (cell_type(&item) == TYPE_OBJECT && object_context(&item) == object_context(owner)) continue;
            Cell field = *context_word_at(context, i);
            field.header &= ~(HDR_SET_THROUGH_WORD | HDR_NEW_LINE);
            field.w1 = context;
            bind(&item, owner, &field);
        }
    }
}

void unbind(const Cell* value) {
    stack_check_native();
    uint32_t t = cell_type(value);
    if (is_tracked_series(t)) {
        uint32_t node = series_node(value);
        node_series(node)->flags &= ~SER_OWNED;
        if (Cell* entry = hashtable_get_node(g_table, node)) {
            for (uint32_t i = 0; i < ENTRY_WIDTH; i++) set_unset(entry + i);
            hashtable_delete_node(g_table, node);
        }
        if (!type_in(FAMILY_ANY_BLOCK, t) || cycles_find(node)) return;
        VisitGuard guard(node);
        for (uint32_t i = series_index(value); i < node_series(node)->used(); i++) {
            Cell item = node_series(node)->cells()[i];
            unbind(&item);
        }
        return;
    }
    if (t == TYPE_OBJECT) {
        uint32_t context = object_context(value);
        if ((context_header(context) & CONTEXT_OWNING) || cycles_find(context)) return;
        VisitGuard guard(context);
        for (uint32_t i = 0; i < context_word_count(context); i++) {
            Cell item = *context_values_at(context, i);
            unbind(&item);
        }
    }
}

// The node a value's record is kept under.
uint32_t key_of(const Cell* value) {
    uint32_t t = cell_type(value);
    if (is_tracked_series(t)) return series_node(value);
    if (t == TYPE_OBJECT) return object_context(value);
    return 0;
}

}  // namespace

void ownership_init() {
    g_table = hashtable_make(TABLE_SIZE, 0, HASH_OWNERSHIP, ENTRY_WIDTH);
    gc_keep_push(mark_table);
}

uint32_t ownership_table() { return g_table; }

void ownership_bind(const Cell* value, const Cell* owner, const Cell* word) {
    GcRoot v(*value), o(*owner), w(*word);
    bind(v.get(), o.get(), w.get());
}

void ownership_bind_owner(const Cell* value, const Cell* owner, const Cell* word) {
    GcRoot o(*owner);
    ownership_bind(value, o.get(), word);
    context_header(object_context(o.get())) |= CONTEXT_OWNING;
}

void ownership_unbind(const Cell* value) {
    Cell v = *value;  // unbinding never allocates
    unbind(&v);
}

void ownership_unbind_range(const Cell* block, uint32_t index, uint32_t count) {
    uint32_t node = series_node(block);
    for (uint32_t i = index; i < node_series(node)->used() && i - index < count; i++) {
        Cell item = node_series(node)->cells()[i];
        unbind(&item);
    }
}

Cell* ownership_get(uint32_t node) {
    if (!g_table) return nullptr;
    Cell* entry = hashtable_get_node(g_table, node);
    return entry ? entry + 1 : nullptr;
}

bool ownership_check(const Cell* value, PredefinedWord action, int32_t index, int32_t part, const Cell* extra) {
    if (!g_table) return false;
    uint32_t node = key_of(value);
    if (!node) return false;
    // Most series have no owner: their buffer says so without a table lookup.
    if (cell_type(value) != TYPE_OBJECT && !(node_series(node)->flags & SER_OWNED)) return false;
    Cell* entry = hashtable_get_node(g_table, node);
    if (!entry || !entry[1].w3) return false;
    GcRoot owner(entry[1]), word(entry[2]), target(*value), act(g_word[action]);
    GcRoot more(extra ? *extra : g_none_value);
    object_on_deep_change(owner.get(), word.get(), target.get(), act.get(), extra ? more.get() : nullptr, index, part);
    return true;
}

}  // namespace zol
