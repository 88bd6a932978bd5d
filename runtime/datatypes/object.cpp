// object!: making and copying objects, their change handlers, and the actions of object! (make, reflect,
// form, mold, eval-path, compare, copy, put, select, modify).
#include "object.h"

#include <optional>

#include "block.h"
#include "context.h"
#include "error.h"
#include "function.h"
#include "registry.h"
#include "runtime/values/language.h"
#include "runtime/values/compare.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"
#include "series.h"
#include "string.h"
#include "symbol.h"
#include "typeset.h"

namespace zol {

namespace {

uint32_t g_class_counter = 1000000;

// The events block: two pair!-headed cells, on-change* then on-deep-change*. Word 2 holds the handler's
// field index (0xFFFF: none) above its local count; word 3 the node of the spec the count was taken from.
enum EventSlot : uint32_t { EVENT_CHANGE = 0, EVENT_DEEP = 1 };
constexpr uint32_t NO_HANDLER = 0xFFFF;

inline uint32_t events_word(uint32_t index, uint32_t locals) { return (index << 16) | (locals & 0xFFFF); }

Cell* event_cell(const Cell* object, EventSlot slot) { return node_series(object->w3)->cells() + slot; }

uint32_t handler_index(const Cell* object, EventSlot slot) {
    return object->w3 ? event_cell(object, slot)->w2 >> 16 : NO_HANDLER;
}

uint32_t make_events(uint32_t change_index, uint32_t change_locals, uint32_t deep_index, uint32_t deep_locals) {
    uint32_t node = series_alloc_cells(2);
    Series* s = node_series(node);
    s->tail = s->head + 2 * sizeof(Cell);
    Cell* c = s->cells();
    c[0] = Cell{TYPE_PAIR, 0, events_word(change_index, change_locals), 0};
    c[1] = Cell{TYPE_PAIR, 0, events_word(deep_index, deep_locals), 0};
    return node;
}

inline uint32_t sym_on_change() { return symbol_resolve(word_symbol(&g_word[W_ON_CHANGE])); }
inline uint32_t sym_on_deep_change() { return symbol_resolve(word_symbol(&g_word[W_ON_DEEP_CHANGE])); }

bool is_handler_field(uint32_t symbol) {
    uint32_t s = symbol_resolve(symbol);
    return s == sym_on_change() || s == sym_on_deep_change();
}

// The word of field i, as a word! bound to the context (without the changed mark or a new line).
Cell field_word(uint32_t context, uint32_t i) {
    Cell w = *context_word_at(context, i);
    w.header = TYPE_WORD;
    w.w1 = context;
    w.w3 = i;
    return w;
}

inline Cell* field_value(uint32_t context, uint32_t i) { return context_values_at(context, i); }

// The series datatypes a deep object copy copies through their own copy action.
bool copied_when_deep(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || type_in(FAMILY_ANY_PATH | FAMILY_ANY_STRING, t);
}

// make with a block spec copies every series of an object prototype, and rebinds the blocks among them.
bool copied_by_make(uint32_t t) { return type_in(FAMILY_SERIES, t); }
bool rebound_by_make(uint32_t t) { return type_in(FAMILY_ANY_BLOCK, t); }

ActionFn<ACT_COPY> copy_action(uint32_t type) {
    auto copy = g_types.get<ACT_COPY>(type);
    if (!copy && type_in(FAMILY_SERIES, type)) copy = g_types.get<ACT_COPY>(TYPE_SERIES);
    if (!copy) fire(ERR_INTERNAL_NOT_DONE);
    return copy;
}

// Replaces field i of a context by a copy of `source` made through its datatype's copy action.
void copy_field(uint32_t context, uint32_t i, const Cell* source, bool deep, const Cell* types) {
    GcRoot item(*source), copied;
    copy_action(cell_type(item.get()))(item.get(), copied.get(), nullptr, deep, const_cast<Cell*>(types));
    *field_value(context, i) = *copied;
}

// Re-makes the function in field i for the object whose context is given: a new function context with the
// same words, a deep copy of the body bound first to the object (with self) and then to the new context.
void clone_function(uint32_t object_context, uint32_t i) {
    GcRoot fn(*field_value(object_context, i));
    Cell* body = function_body(fn.get());
    if (!cell_is(body, TYPE_BLOCK)) fire(ERR_SCRIPT_BAD_FUNC_DEF, fn.get());
    GcRoot body_copy(*block_clone(body, true, true));
    stack_pop(1);
    GcRoot fn_context(context_holder(fn->w1));
    context_duplicate(fn_context.get(), CONTEXT_KIND_PLAIN);
    context_bind_block(body_copy.get(), object_context, true);
    context_bind_block(body_copy.get(), fn_context->w1, false);
    GcRoot spec;
    set_series(spec.get(), TYPE_BLOCK, function_spec_node(fn.get()));
    uint32_t flags = fn->header & ~(HDR_TYPE_MASK | HDR_NEW_LINE);
    function_build(spec.get(), body_copy.get(), fn_context->w1, 0, 0, flags);
    *field_value(object_context, i) = *stack_top();
    stack_pop(1);
}

bool type_wanted(const Cell* types, uint32_t t) {
    if (!cell_is(types, TYPE_DATATYPE) && !cell_is(types, TYPE_TYPESET)) fire(ERR_SCRIPT_INVALID_ARG, types);
    return typeset_or_datatype_has(types, t);
}

uint32_t handler_locals(const Cell* fn) {
    Cell spec;
    set_series(&spec, TYPE_BLOCK, function_spec_node(fn));
    return function_count_locals(&spec);
}

// The local count of a handler's spec, kept in its events cell. Counted on every call: cheap, and safe
// against a spec node that the collector freed and handed out again to another spec.
uint32_t refresh_locals(const Cell* object, EventSlot slot, const Cell* fn) {
    uint32_t locals = handler_locals(fn);
    Cell* e = event_cell(object, slot);
    e->w2 = events_word(e->w2 >> 16, locals);
    e->w3 = function_spec_node(fn);
    return locals;
}

// Calls a handler inside a function frame named by its field's word: the arguments, then its locals.
void call_handler(const Cell* fn, PredefinedWord name, const Cell* const* args, uint32_t count, uint32_t locals) {
    GcRoot handler(*fn);
    Cell* top = g_args.top;
    stack_mark_func(&g_word[name], handler->w1);
    for (uint32_t i = 0; i < count; i++) stack_push(args[i]);
    function_init_locals(locals);
    g_language.invoke(handler.get(), 0, &g_word[name], 0);
    // A break, return or throw out of the handler has unwound the frames already: hand it on.
    throw_if_pending();
    unwind_frame_restore();
    g_args.top = top;  // the handler's result is not wanted
}

void store_owner(const Cell* object) { *context_owner(object->w1) = *object; }

// Sets field i of an object as set-path and put do: with on-change*, the handler sees the old value.
void set_field(const Cell* object_in, uint32_t i, const Cell* value_in) {
    GcRoot object(*object_in), value(*value_in);
    uint32_t context = object->w1;
    Cell word = field_word(context, i);
    if (!object_has_on_change(object.get())) {
        context_set_word_value(&word, value.get(), context, false);
        return;
    }
    GcRoot old(*field_value(context, i)), w(word);
    context_set_word_value(w.get(), value.get(), context, false);
    object_fire_on_change(object.get(), w.get(), old.get(), value.get());
}

}  // namespace

uint32_t object_new_class_id() { return ++g_class_counter; }

// --- making objects

Cell* object_push(uint32_t context, uint32_t class_id) {
    GcRoot keep(context_holder(context));
    uint32_t values = context_cell(context)->w2;
    if (values && node_series(values)->used() == 0) {
        for (uint32_t i = context_word_count(context); i > 0; i--) series_alloc_tail(context_cell(context)->w2);
    }
    Cell* o = stack_push_cell();
    *o = Cell{TYPE_OBJECT, context, class_id, 0};
    store_owner(o);
    return o;
}

void object_init_events(uint32_t context, int32_t on_change_index, uint32_t on_change_locals, int32_t on_deep_index,
                        uint32_t on_deep_locals) {
    uint32_t events = make_events(on_change_index < 0 ? NO_HANDLER : uint32_t(on_change_index), on_change_locals,
                                  on_deep_index < 0 ? NO_HANDLER : uint32_t(on_deep_index), on_deep_locals);
    Cell* o = stack_top();  // the object of that context, pushed by object_push
    o->w3 = events;
    *context_owner(context) = *o;
    if (on_deep_index >= 0) ownership_bind_owner(o, o, &g_none_value);
}

Cell* object_push_owned(uint32_t context, uint32_t events, uint32_t class_id) {
    Cell* o = object_push(context, class_id);
    o->w3 = events;
    store_owner(o);
    return o;
}

Cell* object_make_at(Cell* cell, uint32_t slots) {
    uint32_t context = context_make(slots, false, false, 0, CONTEXT_KIND_OBJECT);
    *cell = Cell{TYPE_OBJECT, context, 0, 0};
    store_owner(cell);
    return cell;
}

void object_refresh_events(Cell* object) {
    GcRoot o(*object);
    uint32_t context = o->w1;
    int32_t change = context_find_word(context, word_symbol(&g_word[W_ON_CHANGE]), true);
    int32_t deep = context_find_word(context, word_symbol(&g_word[W_ON_DEEP_CHANGE]), true);
    if (change < 0 && deep < 0) {
        o->w3 = 0;
    } else {
        uint32_t locals[2] = {0, 0};
        int32_t index[2] = {change, deep};
        for (uint32_t k = 0; k < 2; k++) {
            if (index[k] < 0) continue;
            const Cell* fn = field_value(context, uint32_t(index[k]));
            if (!cell_is(fn, TYPE_FUNCTION) && !cell_is(fn, TYPE_ROUTINE)) {
                Cell word = field_word(context, uint32_t(index[k])), type;
                set_datatype(&type, cell_type(fn));
                fire(ERR_SCRIPT_BAD_FIELD_SET, &word, &type);
            }
            locals[k] = handler_locals(fn);
        }
        uint32_t events = make_events(change < 0 ? NO_HANDLER : uint32_t(change), locals[0],
                                      deep < 0 ? NO_HANDLER : uint32_t(deep), locals[1]);
        o->w3 = events;
        for (uint32_t k = 0; k < 2; k++) {
            if (index[k] < 0) continue;
            event_cell(o.get(), EventSlot(k))->w3 = function_spec_node(field_value(context, uint32_t(index[k])));
        }
    }
    store_owner(o.get());
    if (deep >= 0) ownership_bind_owner(o.get(), o.get(), &g_none_value);
    *object = *o;
}

namespace {

// object_copy, with the re-making of functions left to the caller when remake is off (make re-makes them
// once the spec's fields are in, so that their bodies see those fields too).
void copy_object(const Cell* source_in, Cell* result, bool deep, const Cell* types_in, bool refresh, bool remake) {
    GcRoot source(*source_in), types(types_in ? *types_in : g_none_value);
    uint32_t from = source->w1;
    // The copy has its own list of the source's words: a word list shared between two contexts would let
    // one object's new fields show up in the other.
    GcRoot copy(context_holder(from));
    context_duplicate(copy.get(), CONTEXT_KIND_OBJECT);
    uint32_t to = copy->w1;
    *copy = Cell{cell_type(source.get()), to, source->w2, refresh ? 0 : source->w3};
    store_owner(copy.get());
    uint32_t n = context_word_count(from);
    for (uint32_t i = 0; i < n; i++) *field_value(to, i) = *field_value(from, i);

    bool typed = types_in && !cell_is(types.get(), TYPE_NONE);
    if (deep && !typed) {
        for (uint32_t i = 0; i < n; i++) {
            uint32_t t = cell_type(field_value(to, i));
            if (copied_when_deep(t)) {
                GcRoot item(*field_value(to, i));
                copy_field(to, i, item.get(), true, nullptr);
            }
        }
    } else if (typed) {
        if (deep && cycles_find(from)) fire(ERR_INTERNAL_NO_CYCLE);
        std::optional<VisitGuard> guard;
        if (deep) guard.emplace(from);
        for (uint32_t i = 0; i < n; i++) {
            uint32_t t = cell_type(field_value(to, i));
            bool copyable = type_in(FAMILY_SERIES, t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_MAP;
            if (!copyable || !type_wanted(types.get(), t)) continue;
            GcRoot item(*field_value(to, i));
            copy_field(to, i, item.get(), deep, types.get());
        }
    }
    if (remake) {
        for (uint32_t i = 0; i < n; i++) {
            if (cell_is(field_value(to, i), TYPE_FUNCTION)) clone_function(to, i);
        }
    }
    if (refresh) object_refresh_events(copy.get());
    *result = *copy;
}

}  // namespace

void object_copy(const Cell* source, Cell* result, bool deep, const Cell* types, bool refresh) {
    copy_object(source, result, deep, types, refresh, true);
}

Cell* object_construct(const Cell* spec_in, const Cell* prototype, bool only) {
    GcRoot spec(*spec_in), proto(prototype ? *prototype : g_none_value);
    Cell* result = stack_push_cell();
    set_none(result);
    bool from_object = cell_is(proto.get(), TYPE_OBJECT);
    if (from_object) {
        object_copy(proto.get(), result, true, nullptr, true);
    } else {
        object_make_at(result, 4);
        result->w2 = object_new_class_id();
    }
    uint32_t context = result->w1;
    bool grew = false;
    uint32_t end = cell_series(spec.get())->used();
    for (uint32_t i = series_index(spec.get()); i < end; i++) {
        Cell* cells = cell_series(spec.get())->cells();
        if (!cell_is(&cells[i], TYPE_SET_WORD)) continue;
        // A run of set-words all take the value after the run.
        uint32_t j = i + 1;
        while (j < end && cell_is(&cells[j], TYPE_SET_WORD)) j++;
        Cell value = j < end ? cells[j] : g_none_value;
        value.header &= ~HDR_NEW_LINE;
        if (!only && cell_is(&value, TYPE_WORD)) {
            uint32_t s = symbol_resolve(word_symbol(&value));
            if (s == g_sym[SYM_TRUE] || s == g_sym[SYM_YES] || s == g_sym[SYM_ON]) {
                value = g_true_value;
            } else if (s == g_sym[SYM_FALSE] || s == g_sym[SYM_NO] || s == g_sym[SYM_OFF]) {
                value = g_false_value;
            } else if (s == g_sym[SYM_NONE]) {
                value = g_none_value;
            }
        }
        uint32_t symbol = word_symbol(&cells[i]);
        GcRoot keep(value);
        int32_t found = context_find_word(context, symbol, true);
        uint32_t index = found >= 0 ? uint32_t(found) : context_add_word(context, symbol);
        grew |= found < 0;
        *field_value(context, index) = *keep;
    }
    // An object made from a prototype keeps its class unless it gained fields.
    if (from_object && grew) result->w2 = object_new_class_id();
    store_owner(result);
    return result;
}

void object_set_values(const Cell* object_in, const Cell* value_in, bool any, bool only, bool some) {
    GcRoot object(*object_in), source(*value_in);
    uint32_t context = object->w1;
    uint32_t n = context_word_count(context);
    bool spread_block = !only && cell_is(source.get(), TYPE_BLOCK);
    bool spread_object = !only && cell_is(source.get(), TYPE_OBJECT);
    // The value field i gets, or false when the source has no field of that name.
    auto source_at = [&](uint32_t i, Cell* out) {
        if (spread_block) {
            uint32_t at = series_index(source.get()) + i;
            *out = at < cell_series(source.get())->used() ? cell_series(source.get())->cells()[at] : g_none_value;
            return true;
        }
        if (spread_object) {
            int32_t j = context_find_word(source->w1, word_symbol(context_word_at(context, i)), true);
            if (j < 0) return false;
            *out = *field_value(source->w1, uint32_t(j));
            return true;
        }
        *out = *source;
        return true;
    };
    if (!any && !some) {
        for (uint32_t i = 0; i < n; i++) {
            Cell v;
            if (source_at(i, &v) && cell_is(&v, TYPE_UNSET)) {
                Cell word = field_word(context, i);
                fire(ERR_SCRIPT_NEED_VALUE, &word);
            }
        }
    }
    bool events = object->w3 != 0;
    for (uint32_t i = 0; i < n; i++) {
        Cell v;
        if (!source_at(i, &v)) continue;
        if (some && cell_is(&v, TYPE_NONE)) continue;
        v.header &= ~HDR_NEW_LINE;
        // system/words is an object over the global context.
        if (context == g_global_context) global_slot_changing(field_value(context, i), &v);
        if (!events) {
            *field_value(context, i) = v;
            continue;
        }
        if (is_handler_field(word_symbol(context_word_at(context, i)))) continue;
        GcRoot old(*field_value(context, i)), value(v), word(field_word(context, i));
        *field_value(context, i) = *value;
        object_fire_on_change(object.get(), word.get(), old.get(), value.get());
    }
}

void object_values_block(const Cell* object, Cell* out) {
    uint32_t values = context_cell(object->w1)->w2;
    set_series(out, TYPE_BLOCK, series_copy_range(values, 0, node_series(values)->used()));
}

// --- change handlers

bool object_has_on_change(const Cell* object) {
    bool any_object = type_in(FAMILY_ANY_OBJECT, cell_type(object));
    return any_object && object->w3 && handler_index(object, EVENT_CHANGE) != NO_HANDLER;
}

void object_fire_on_change(const Cell* object_in, const Cell* word_in, const Cell* old_in, const Cell* new_in) {
    if (!object_in->w3) return;
    uint32_t index = handler_index(object_in, EVENT_CHANGE);
    if (index == NO_HANDLER) return;
    GcRoot object(*object_in), word(*word_in), old(*old_in), value(*new_in);
    uint32_t context = object->w1;
    GcRoot fn(*field_value(context, index));
    if (!cell_is(fn.get(), TYPE_FUNCTION) && !cell_is(fn.get(), TYPE_ROUTINE)) fire(ERR_SCRIPT_INVALID_OBJ_EVT, fn.get());
    uint32_t locals = refresh_locals(object.get(), EVENT_CHANGE, fn.get());
    word->header = TYPE_WORD;
    if (word_context(word.get()) != context || word_index(word.get()) == WORD_UNRESOLVED) context_bind_word(context, word.get());
    const Cell* args[] = {word.get(), old.get(), value.get()};
    call_handler(fn.get(), W_ON_CHANGE, args, 3, locals);
}

void object_on_deep_change(const Cell* owner_in, const Cell* word_in, const Cell* target_in, const Cell* action_in,
                           const Cell* new_in, int32_t index, int32_t part) {
    if (!owner_in->w3) fire(ERR_SCRIPT_INVALID_OBJ_EVT, owner_in);
    uint32_t field = handler_index(owner_in, EVENT_DEEP);
    if (field == NO_HANDLER) return;
    GcRoot owner(*owner_in), word(*word_in), target(*target_in), action(*action_in), value(new_in ? *new_in : g_none_value);
    GcRoot fn(*field_value(owner->w1, field));
    if (!cell_is(fn.get(), TYPE_FUNCTION) && !cell_is(fn.get(), TYPE_ROUTINE)) return;
    uint32_t locals = refresh_locals(owner.get(), EVENT_DEEP, fn.get());
    Cell at, count;
    set_integer(&at, index);
    set_integer(&count, part);
    const Cell* args[] = {owner.get(), word.get(), target.get(), action.get(), value.get(), &at, &count};
    call_handler(fn.get(), W_ON_DEEP_CHANGE, args, 7, locals);
}

// --- lookups

int32_t object_find_index(const Cell* object, const Cell* word) {
    return context_find_word(object->w1, word_symbol(word), true);
}

const Cell* object_find_value(const Cell* object, const Cell* word) {
    int32_t i = object_find_index(object, word);
    return i < 0 ? &g_none_value : field_value(object->w1, uint32_t(i));
}

bool object_word_is_class(const Cell* word, uint32_t class_id) {
    if (!word_context(word) || word_index(word) == WORD_UNRESOLVED) return false;
    return object_is_class(word_context(word), word_index(word), class_id);
}

bool object_is_class(uint32_t context, uint32_t index, uint32_t class_id) {
    const Cell* c = context_cell(context);
    if (c->header & HDR_STACK_CONTEXT || !c->w2 || index >= node_series(c->w2)->used()) return false;
    const Cell* v = field_value(context, index);
    return cell_is(v, TYPE_OBJECT) && v->w2 == class_id;
}

Cell* object_first_value(const Cell* object) { return field_value(object->w1, 0); }
uint32_t object_field_count(const Cell* object) { return context_word_count(object->w1); }
Cell* object_first_word(const Cell* object) { return context_word_at(object->w1, 0); }

// --- form and mold

int object_mold_fields(const Cell* object, Cell* out, const MoldArgs& args, int budget, int indent, const char* separator) {
    uint32_t context = object->w1;
    uint32_t sep_length = uint32_t(__builtin_strlen(separator));
    MoldArgs inner = args;
    inner.only = false;
    inner.indent = indent >= 0 ? indent : args.indent;
    VisitGuard guard(context);  // also keeps the object alive while its fields are written
    bool first = true;
    for (uint32_t i = 0; i < context_word_count(context); i++) {
        if (args.part && budget < 1) break;
        Cell word = field_word(context, i);
        if (!args.all && is_handler_field(word_symbol(&word))) continue;
        if (indent < 0 && !first) {
            string_append_ascii(out, separator, sep_length);
            budget -= int(sep_length);
        }
        first = false;
        if (indent >= 0) budget = mold_indent(out, indent, budget);
        budget = form_value(&word, out, inner, budget);
        string_append_ascii(out, ": ", 2);
        budget -= 2;
        Cell value = *field_value(context, i);
        if (value.header == 0) set_unset(&value);
        if (cell_is(&value, TYPE_WORD)) {
            string_append_ascii(out, "'", 1);
            budget--;
        }
        budget = mold_value(&value, out, inner, budget);
        if (indent >= 0) {
            string_append_ascii(out, separator, sep_length);
            budget -= int(sep_length);
        }
    }
    return budget;
}

// --- actions

void object_body(const Cell* object, Cell* out) {
    uint32_t context = object->w1;
    uint32_t n = context_word_count(context);
    block_make_at(out, int64_t(n) * 2);
    for (uint32_t i = 0; i < n; i++) {
        Cell word = field_word(context, i);
        word.header = TYPE_SET_WORD | HDR_NEW_LINE;
        *block_alloc_tail(out) = word;
        // Words and paths would be evaluated when the body is read back: quote them.
        Cell v = *field_value(context, i);
        v.header &= ~HDR_NEW_LINE;
        if (cell_is(&v, TYPE_WORD)) cell_set_type(&v, TYPE_LIT_WORD);
        if (cell_is(&v, TYPE_PATH)) cell_set_type(&v, TYPE_LIT_PATH);
        *block_alloc_tail(out) = v;
    }
}

namespace {

void remake_functions(uint32_t context) {
    for (uint32_t i = 0; i < context_word_count(context); i++) {
        if (cell_is(field_value(context, i), TYPE_FUNCTION)) clone_function(context, i);
    }
}

const Cell* object_make(Cell* proto_in, Cell* spec_in, TypeId) {
    GcRoot proto(*proto_in), spec(*spec_in);
    bool spec_object = cell_is(spec.get(), TYPE_OBJECT);
    if (!spec_object && !cell_is(spec.get(), TYPE_BLOCK)) fire(ERR_SYNTAX_MALCONSTRUCT, spec.get());
    Cell* result = stack_push_cell();
    set_none(result);
    bool from_object = cell_is(proto.get(), TYPE_OBJECT);
    // For a block spec the series values are copied once, below, where they are also rebound.
    if (from_object) {
        copy_object(proto.get(), result, spec_object, nullptr, false, false);
    } else {
        object_make_at(result, 4);
    }
    uint32_t context = result->w1;
    uint32_t class_id = from_object ? proto->w2 : 0;
    if (spec_object) {
        uint32_t other = spec->w1;
        uint32_t before = context_word_count(context);
        uint32_t n = context_word_count(other);
        for (uint32_t i = 0; i < n; i++) {
            uint32_t index = context_add_word(context, word_symbol(context_word_at(other, i)));
            *field_value(context, index) = *field_value(other, i);
            uint32_t t = cell_type(field_value(context, index));
            if (copied_when_deep(t)) {
                GcRoot item(*field_value(context, index));
                copy_field(context, index, item.get(), true, nullptr);
            }
        }
        if (context_word_count(context) > before || !from_object) class_id = object_new_class_id();
    } else {
        bool grew = context_collect_set_words(context, spec.get());
        context_bind_block(spec.get(), context, true);
        if (from_object) {
            uint32_t source = proto->w1;
            for (uint32_t i = 0; i < context_word_count(source); i++) {
                uint32_t t = cell_type(field_value(source, i));
                if (!copied_by_make(t)) continue;
                GcRoot item(*field_value(source, i));
                copy_field(context, i, item.get(), true, nullptr);
                if (rebound_by_make(t)) {
                    GcRoot copied(*field_value(context, i));
                    context_bind_block(copied.get(), context, true);
                }
            }
        }
        remake_functions(context);
        g_language.eval_block(spec.get());
        throw_if_pending();
        stack_pop(1);
        for (uint32_t i = 0; i < context_word_count(context); i++) {
            context_word_at(context, i)->header &= ~HDR_SET_THROUGH_WORD;
            field_value(context, i)->header &= ~HDR_NEW_LINE;
        }
        if (grew || !from_object) class_id = object_new_class_id();
    }
    if (spec_object) remake_functions(context);
    result->w2 = class_id;
    object_refresh_events(result);
    return result;
}

void object_reflect(Cell* value, uint32_t field) {
    GcRoot object(*value), result;
    uint32_t context = object->w1;
    uint32_t f = symbol_resolve(field);
    uint32_t n = context_word_count(context);
    if (f == g_sym[SYM_WORDS]) {
        block_make_at(result.get(), n);
        for (uint32_t i = 0; i < n; i++) *block_alloc_tail(result.get()) = field_word(context, i);
    } else if (f == g_sym[SYM_VALUES]) {
        object_values_block(object.get(), result.get());
    } else if (f == g_sym[SYM_BODY]) {
        object_body(object.get(), result.get());
    } else if (f == g_sym[SYM_CLASS]) {
        set_integer(result.get(), int32_t(object->w2));
    } else if (f == g_sym[SYM_OWNER]) {
        set_logic(result.get(), (context_cell(context)->header & CONTEXT_OWNING) != 0);
    } else if (f == g_sym[SYM_EVENTS_Q]) {
        set_logic(result.get(), object->w3 != 0);
    } else if (f == symbol_resolve(word_symbol(&g_word[W_CHANGED]))) {
        block_make_at(result.get(), 4);
        for (uint32_t i = 0; i < n; i++) {
            if (context_word_at(context, i)->header & HDR_SET_THROUGH_WORD) *block_alloc_tail(result.get()) = field_word(context, i);
        }
    } else {
        fire(ERR_INTERNAL_NOT_DONE);
    }
    stack_set_only_result(result.get());
}

int object_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_detect(value, out, &budget, false)) return budget;
    return object_mold_fields(value, out, args, budget, -1, "\n");
}

int object_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_detect(value, out, &budget, true)) return budget;
    if (args.only) return object_mold_fields(value, out, args, budget, -1, "\n");
    string_append_ascii(out, "make object! [");
    budget -= 14;
    if (args.flat) {
        budget = object_mold_fields(value, out, args, budget, -1, " ");
    } else {
        string_append_ascii(out, "\n");
        budget = object_mold_fields(value, out, args, budget - 1, args.indent + 1, "\n");
        if (args.indent > 0) budget = mold_indent(out, args.indent, budget);
    }
    string_append_ascii(out, "]");
    return budget - 1;
}

const Cell* object_copy_action(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind) {
    if (part) fire(ERR_SCRIPT_INVALID_REFINE_ARG, &g_refinement[R_PART], part);
    object_copy(value, result, deep, kind, true);
    return result;
}

const Cell* object_put(Cell* object, Cell* key, Cell* value, bool) {
    if (!cell_is(key, TYPE_WORD)) fire_with_type(ERR_SCRIPT_INVALID_KEY_TYPE, cell_type(key));
    PathStep step;
    step.element = key;
    step.set_value = value;
    step.last = true;
    object_eval_path(object, step);
    return value;
}

const Cell* object_select(Cell* object, Cell* key, const FindArgs&) {
    uint32_t t = cell_type(key);
    if (t < TYPE_WORD || t > TYPE_GET_WORD) fire_with_type(ERR_SCRIPT_INVALID_TYPE, t);
    return object_find_value(object, key);
}

const Cell* object_modify(Cell* object_in, Cell* field, Cell* value, bool) {
    if (!is_any_word(field)) return value;
    GcRoot object(*object_in), v(*value);
    uint32_t context = object->w1;
    uint32_t f = symbol_resolve(word_symbol(field));
    if (f == symbol_resolve(word_symbol(&g_word[W_CHANGED]))) {
        if (!cell_is(v.get(), TYPE_NONE)) fire(ERR_SCRIPT_INVALID_ARG, v.get());
        for (uint32_t i = 0; i < context_word_count(context); i++) context_word_at(context, i)->header &= ~HDR_SET_THROUGH_WORD;
    } else if (f == g_sym[SYM_OWNER]) {
        ownership_bind_owner(object.get(), object.get(), &g_none_value);
    } else if (f == g_sym[SYM_OWNED]) {
        if (cell_is(v.get(), TYPE_NONE)) {
            for (uint32_t i = 0; i < context_word_count(context); i++) {
                Cell item = *field_value(context, i);
                ownership_unbind(&item);
            }
        } else if (cell_is(v.get(), TYPE_BLOCK)) {
            uint32_t at = series_index(v.get());
            Series* s = cell_series(v.get());
            GcRoot owner(at < s->used() ? s->cells()[at] : g_none_value);
            GcRoot word(at + 1 < s->used() ? s->cells()[at + 1] : g_none_value);
            for (uint32_t i = 0; i < context_word_count(context); i++) {
                GcRoot item(*field_value(context, i));
                ownership_bind(item.get(), owner.get(), word.get());
            }
        }
    }
    return value;
}

}  // namespace

const Cell* object_eval_path(Cell* object, const PathStep& step) {
    Cell* element = step.element;
    const Cell* path = step.path ? step.path : object;
    uint32_t t = cell_type(element);
    if (t < TYPE_WORD || t > TYPE_GET_WORD) fire(ERR_SCRIPT_INVALID_PATH, path, element);
    uint32_t context = object->w1;
    int32_t index;
    if (word_context(element) == context && word_index(element) != WORD_UNRESOLVED) {
        index = int32_t(word_index(element));
    } else {
        index = context_bind_word(context, element);
    }
    if (index >= 0 && step.set_value) {
        set_field(object, uint32_t(index), step.set_value);
        return step.set_value;
    }
    if (index >= 0) {
        const Cell* value = field_value(context, uint32_t(index));
        if (!cell_is(value, TYPE_UNSET)) return value;
    }
    // A missing or unset field: a get-path ending here answers unset, one going further cannot go on.
    if (step.get && step.last) return &g_unset_value;
    if (step.get) fire(ERR_SCRIPT_INVALID_PATH, path, element);
    fire(ERR_SCRIPT_UNSET_PATH, path, element);
}

int object_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_OBJECT)) return COMPARE_INCOMPARABLE;
    uint32_t a = value->w1, b = other->w1;
    if (a == b) return 0;
    if (op == CMP_SAME) return -1;
    if (cycles_find(a)) return cycles_find(b) ? 0 : -1;
    uint32_t na = context_word_count(a), nb = context_word_count(b);
    if (na != nb) return na > nb ? 1 : -1;
    VisitGuard guard(a, b);
    for (uint32_t i = 0; i < na; i++) {
        uint32_t sa = symbol_resolve(word_symbol(context_word_at(a, i)));
        uint32_t sb = symbol_resolve(word_symbol(context_word_at(b, i)));
        if (sa != sb) return sa < sb ? -1 : 1;
        const Cell* va = field_value(a, i);
        const Cell* vb = field_value(b, i);
        uint32_t ta = cell_type(va), tb = cell_type(vb);
        int r;
        if (ta == tb || (is_any_word(va) && is_any_word(vb)) || (type_in(FAMILY_NUMBER, ta) && type_in(FAMILY_NUMBER, tb))) {
            r = compare_order(va, vb, op);
        } else {
            r = ta < tb ? -1 : 1;
        }
        if (r != 0) return r;
    }
    return 0;
}

void object_init(DatatypeRegistry& registry) {
    Registration r(TYPE_OBJECT);
    r.own<ACT_MAKE>(object_make).own<ACT_REFLECT>(object_reflect).own<ACT_FORM>(object_form);
    r.own<ACT_MOLD>(object_mold).own<ACT_EVAL_PATH>(object_eval_path).own<ACT_COMPARE>(object_compare);
    r.own<ACT_COPY>(object_copy_action).own<ACT_PUT>(object_put).own<ACT_SELECT>(object_select);
    r.own<ACT_MODIFY>(object_modify);
    registry.register_datatype(r);
}

}  // namespace zol
