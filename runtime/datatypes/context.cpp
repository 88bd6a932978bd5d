// Contexts and word binding.
#include "context.h"

#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/hashtable.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"
#include "object.h"
#include "registry.h"
#include "symbol.h"

namespace zol {

uint32_t g_global_context = 0;
uint32_t g_global_values = 0;
Cell* g_global_cells = nullptr;
Cell g_global_object;
uint64_t g_global_version = 1;

namespace {

constexpr uint32_t GLOBAL_SLOTS = 1000;  // grows; a boot image reserves room for its words

inline uint32_t values_of(uint32_t context) { return context_cell(context)->w2; }

// The number of slots a context has handed out: the values for a context with a values series, the
// word entries for a stack context (whose words never share a slot).
uint32_t slot_count(uint32_t context) {
    return context_is_stack(context) ? context_word_count(context) : node_series(values_of(context))->used();
}

}  // namespace

void global_context_init() {
    g_global_context = context_make(GLOBAL_SLOTS, false, false, 0, CONTEXT_KIND_PLAIN);
    g_global_values = context_cell(g_global_context)->w2;
    g_global_cells = node_series(g_global_values)->cells();
    g_global_object.header = TYPE_OBJECT;
    g_global_object.w1 = g_global_context;
    g_global_object.w2 = 0;
    g_global_object.w3 = 0;
    gc_register_root(&g_global_object);
}

uint32_t context_make(uint32_t slots, bool stack, bool flag, uint32_t word_block, uint32_t kind) {
    if (slots < 1) slots = 1;
    GcRoot keep_words;
    if (word_block) set_series(keep_words.get(), TYPE_BLOCK, word_block);
    uint32_t node = series_alloc_cells(2);
    Series* s = node_series(node);
    s->tail = s->head + 2 * sizeof(Cell);
    Cell* c = s->cells();
    c[0].header = TYPE_CONTEXT | (stack ? HDR_STACK_CONTEXT : 0) | ((kind << HDR_CONTEXT_KIND_SHIFT) & HDR_CONTEXT_KIND_MASK) |
                  (flag ? HDR_CONTEXT_FLAG : 0);
    c[0].w1 = 0;
    c[0].w2 = 0;
    c[0].w3 = 0;
    set_unset(&c[1]);
    GcRoot keep(context_holder(node));  // the record marks its table and values from here on
    uint32_t table = hashtable_make(slots, word_block, HASH_SYMBOLS, 2);
    context_cell(node)->w1 = table;
    if (!stack) {
        // Empty, and not filled: each slot is added (unset) with its word, so only used slots are touched.
        uint32_t values = series_alloc_cells(slots);
        node_series(values)->tail = node_series(values)->head;
        context_cell(node)->w2 = values;
    }
    if (word_block) {
        // The words of a given block are this context's from the start, each keeping its slot.
        Series* wb = node_series(word_block);
        uint32_t slots_used = 0;
        for (uint32_t i = 0; i < wb->used(); i++) {
            Cell* w = wb->cells() + i;
            w->w1 = node;
            if (word_index(w) == WORD_UNRESOLVED) w->w3 = i;
            if (word_index(w) + 1 > slots_used) slots_used = word_index(w) + 1;
        }
        hashtable_index_block(table, 0, 1);
        if (!stack) {
            for (uint32_t i = 0; i < slots_used; i++) series_alloc_tail(context_cell(node)->w2);
        }
    }
    return node;
}

Cell* context_owner(uint32_t context) { return context_cell(context) + 1; }
uint32_t context_word_table(uint32_t context) { return context_cell(context)->w1; }
uint32_t context_word_block(uint32_t context) { return hashtable_block(context_word_table(context)); }
uint32_t context_word_count(uint32_t context) { return node_series(context_word_block(context))->used(); }
Cell* context_word_at(uint32_t context, uint32_t position) { return hashtable_word_at(context_word_table(context), position); }
bool context_is_stack(uint32_t context) { return (context_cell(context)->header & HDR_STACK_CONTEXT) != 0; }
uint32_t context_kind(uint32_t context) {
    return (context_cell(context)->header & HDR_CONTEXT_KIND_MASK) >> HDR_CONTEXT_KIND_SHIFT;
}

int32_t context_find_word(uint32_t context, uint32_t symbol, bool case_insensitive) {
    return hashtable_put_word(context_word_table(context), symbol, case_insensitive, 0, 0);
}

void context_reserve(uint32_t context, uint32_t more) {
    hashtable_reserve(context_word_table(context), more);
    series_reserve_cells(context_word_block(context), more);
    if (!context_is_stack(context)) {
        series_reserve_cells(values_of(context), more);
        if (context == g_global_context) g_global_cells = node_series(g_global_values)->cells();
    }
}

uint32_t context_add_word(uint32_t context, uint32_t symbol) {
    // One probe: the table finds the word, or enters it with the next slot.
    GcRoot keep(context_holder(context));
    uint32_t index = slot_count(context);
    int32_t found = hashtable_put_word(context_word_table(context), symbol, true, context, index);
    if (found >= 0) return uint32_t(found);
    if (!context_is_stack(context)) {
        series_alloc_tail(values_of(context));
        if (context == g_global_context) g_global_cells = node_series(g_global_values)->cells();
    }
    return index;
}

void context_put_word(uint32_t context, uint32_t symbol, const Cell* value) {
    if (context_find_word(context, symbol, true) >= 0) return;
    GcRoot keep(*value);
    uint32_t index = context_add_word(context, symbol);
    Cell* slot = context_values_at(context, index);
    if (context == g_global_context) global_slot_changing(slot, keep.get());
    *slot = *keep;
}

Cell* context_values_at(uint32_t context, uint32_t index) { return node_series(values_of(context))->cells() + index; }

Cell* context_word_value_cell(uint32_t symbol, uint32_t context) {
    if (context_is_stack(context)) context = g_global_context;
    int32_t index = context_find_word(context, symbol, true);
    return index < 0 ? nullptr : context_values_at(context, uint32_t(index));
}

Cell* context_global_value_cell(uint32_t symbol) { return context_word_value_cell(symbol, g_global_context); }

void context_global_value_copy(uint32_t symbol, Cell* target) {
    uint32_t index = context_add_word(g_global_context, symbol);
    *target = *context_values_at(g_global_context, index);
}

Cell context_global_word(uint32_t symbol, bool case_insensitive) {
    uint32_t table = context_word_table(g_global_context);
    int32_t index = hashtable_put_word(table, symbol, case_insensitive, 0, 0);
    if (index < 0) {
        // Another spelling of a known name shares that name's slot; a new name gets a new slot.
        int32_t shared = symbol_alias(symbol) > 0 ? context_find_word(g_global_context, symbol, true) : -1;
        uint32_t slot = shared >= 0 ? uint32_t(shared) : slot_count(g_global_context);
        hashtable_put_word(table, symbol, false, g_global_context, slot);
        if (shared < 0) {
            series_alloc_tail(values_of(g_global_context));
            g_global_cells = node_series(g_global_values)->cells();
        }
        index = int32_t(slot);
    }
    Cell word;
    set_word(&word, TYPE_WORD, g_global_context, symbol, uint32_t(index));
    return word;
}

Cell* word_value_cell_slow(const Cell* word) {
    uint32_t context = word_context(word);
    // A bound word comes here only when its context has no values now.
    if (word_index(word) != WORD_UNRESOLVED && context) fire(ERR_SCRIPT_NOT_IN_CONTEXT, word);
    if (context && cell_is(word, TYPE_WORD) && symbol_resolve(word_symbol(word)) == g_sym[SYM_SELF]) return context_owner(context);
    fire(ERR_SCRIPT_NO_VALUE, word);
}

Cell* context_set_word_value(Cell* word, const Cell* value, uint32_t context, bool on_change) {
    if (!context) fire(ERR_SCRIPT_NOT_DEFINED, word);
    if (word_index(word) == WORD_UNRESOLVED) {
        GcRoot keep(*value);
        int32_t found = context_find_word(context, word_symbol(word), false);
        word->w3 = found >= 0 ? uint32_t(found) : context_add_word(context, word_symbol(word));
        word->w1 = context;
        return context_set_word_value(word, keep.get(), context, on_change);
    }
    Cell* c = context_cell(context);
    if (!c->w2) fire(ERR_SCRIPT_NOT_DEFINED, word);
    uint32_t index = word_index(word);
    if (c->header & HDR_STACK_CONTEXT) {
        Cell* slot = stack_cell(c->w2) + index;
        *slot = *value;
        return slot;
    }
    if (((c->header & HDR_CONTEXT_KIND_MASK) >> HDR_CONTEXT_KIND_SHIFT) == CONTEXT_KIND_OBJECT) {
        // An object records which fields were set through a word, on the field's entry in its word list.
        context_word_at(context, index)->header |= HDR_SET_THROUGH_WORD;
        if (on_change && object_has_on_change(context_owner(context))) {
            GcRoot object(*context_owner(context)), w(*word), old(*context_values_at(context, index)), v(*value);
            *context_values_at(context, index) = *v;
            object_fire_on_change(object.get(), w.get(), old.get(), v.get());
            return context_values_at(context, index);
        }
    }
    Cell* slot = context_values_at(context, index);
    if (context == g_global_context) global_slot_changing(slot, value);
    *slot = *value;
    return slot;
}

void context_set_integer(uint32_t context, Cell* word, int32_t value) {
    Cell v;
    set_integer(&v, value);
    context_set_word_value(word, &v, context, false);
}

int32_t context_bind_word(uint32_t context, Cell* word) {
    int32_t index = context_find_word(context, word_symbol(word), true);
    if (index >= 0) {
        word->w1 = context;
        word->w3 = uint32_t(index);
    }
    return index;
}

namespace {

void bind_cells(uint32_t node, uint32_t context, bool self) {
    if (cycles_find(node)) return;
    stack_check_native();
    cycles_push(node);
    Series* s = node_series(node);
    series_changed(s);  // its words are bound anew
    for (uint32_t i = s->head / 16, end = s->tail / 16; i < end; i++) {
        Cell* c = reinterpret_cast<Cell*>(node_series(node)->data()) + i;
        switch (family_case(cell_type(c), FAMILY_ANY_BLOCK, TYPE_BLOCK)) {
            case TYPE_BLOCK: bind_cells(series_node(c), context, self); break;  // any-block!
            case TYPE_WORD:
                if (self && symbol_resolve(word_symbol(c)) == g_sym[SYM_SELF]) {
                    c->w1 = context;
                    c->w3 = WORD_UNRESOLVED;
                    break;
                }
                [[fallthrough]];
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT: context_bind_word(context, c); break;
            default: break;
        }
    }
    cycles_pop();
}

}  // namespace

void context_bind_block(const Cell* block, uint32_t context, bool self) { bind_cells(series_node(block), context, self); }

bool context_collect_set_words(uint32_t context, const Cell* block) {
    GcRoot keep(*block);
    bool grew = false;
    for (uint32_t i = series_index(keep.get()); i < cell_series(keep.get())->used(); i++) {
        Cell* c = cell_series(keep.get())->cells() + i;
        if (!cell_is(c, TYPE_SET_WORD)) continue;
        // One probe: a word the context has keeps its slot, a new one takes the next.
        uint32_t before = slot_count(context);
        grew |= context_add_word(context, word_symbol(c)) == before;
    }
    return grew;
}

void context_duplicate(Cell* cell, uint32_t kind) {
    uint32_t source = cell->w1;
    GcRoot keep_source(context_holder(source));
    Series* words = node_series(context_word_block(source));
    uint32_t copy = series_copy_range(context_word_block(source), 0, words->used());
    const Cell* c = context_cell(source);
    bool stack = c->header & HDR_STACK_CONTEXT;
    bool flag = c->header & HDR_CONTEXT_FLAG;
    uint32_t slots = context_word_count(source);
    uint32_t fresh = context_make(slots, stack, flag, copy, kind);
    cell->w1 = fresh;
}

// context! is the type of a context record's own cell; it is never a value of scripts and has no action.
void context_init(DatatypeRegistry& registry) { registry.register_datatype(Registration(TYPE_CONTEXT)); }

uint32_t context_make_from_spec(const Cell* spec, bool stack) {
    GcRoot keep(*spec);
    auto is_parameter = [](const Cell* c) {
        uint32_t t = cell_type(c);
        return t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT;
    };
    uint32_t count = 0;
    Series* s = cell_series(keep.get());
    for (uint32_t i = series_index(keep.get()); i < s->used(); i++) count += is_parameter(s->cells() + i);
    // A spec names a few words: its word block is made whole and indexed once, a repeated name (any
    // spelling) found by a scan. A long one takes the words one by one.
    constexpr uint32_t SCAN_LIMIT = 64;
    if (count <= SCAN_LIMIT) {
        GcRoot words;
        set_series(words.get(), TYPE_BLOCK, series_alloc_cells(count));
        Series* w = cell_series(words.get());
        const Cell* c = cell_series(keep.get())->cells();
        uint32_t n = 0;
        uint32_t seen[SCAN_LIMIT];
        for (uint32_t i = series_index(keep.get()), used = cell_series(keep.get())->used(); i < used; i++) {
            if (!is_parameter(c + i)) continue;
            uint32_t canonical = symbol_resolve(word_symbol(c + i));
            bool repeat = false;
            for (uint32_t k = 0; k < n && !repeat; k++) repeat = seen[k] == canonical;
            if (repeat) continue;
            seen[n] = canonical;
            set_word(w->cells() + n, TYPE_WORD, 0, word_symbol(c + i), n);
            n++;
        }
        w->tail = w->head + n * uint32_t(sizeof(Cell));
        return context_make(n, stack, false, series_node(words.get()), CONTEXT_KIND_PLAIN);
    }
    uint32_t context = context_make(count, stack, false, 0, CONTEXT_KIND_PLAIN);
    GcRoot keep_context(context_holder(context));
    for (uint32_t i = series_index(keep.get()); i < cell_series(keep.get())->used(); i++) {
        const Cell* c = cell_series(keep.get())->cells() + i;
        if (is_parameter(c)) context_add_word(context, word_symbol(c));
    }
    return context;
}

}  // namespace zol
