// object!: a context (kind 2) with a value cell that names it: word 1 the context, word 2 the class id,
// word 3 the node of the events block (0 when the object has no change handler). The context's owner
// cell holds a copy of the object cell, so a context can find its object. error! and port! are objects
// too and reuse most of this unit.
//
// Change handlers: a field on-change* holding a function is called (word, old, new) whenever a field is
// set through the object; a field on-deep-change* is called (owner, word, target, action, new, index,
// part) when a series held in a field is modified (see ownership.h). The events block records, for each
// handler, its field index and the local count of its function.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Objects made at run time take class ids from a counter starting at 1,000,000 (first id 1,000,001);
// error! values have class 1 and port! values class 2.
constexpr uint32_t CLASS_ERROR = 1;
constexpr uint32_t CLASS_PORT = 2;
uint32_t object_new_class_id();

// --- making objects (each allocates)
// Pushes a new object over a context and stores it in the context's owner cell; a context whose values
// series is empty first gets one value per word.
Cell* object_push(uint32_t context, uint32_t class_id);
// Gives the object on the stack top an events block from these numbers (field index -1: no handler);
// with an on-deep-change* handler the object becomes the owner of its series.
void object_init_events(uint32_t context, int32_t on_change_index, uint32_t on_change_locals, int32_t on_deep_index,
                        uint32_t on_deep_locals);
// Pushes an object with a given events block.
Cell* object_push_owned(uint32_t context, uint32_t events, uint32_t class_id);
// Fills the cell (which must stay reachable) as a new object with a fresh context of that many slots,
// class 0, no events block.
Cell* object_make_at(Cell* cell, uint32_t slots);
// Copies an object into the result cell (which must stay reachable): a new context with the same words,
// the same values, every function value re-made for the new object; with deep the series values are
// copied too, with types (a datatype! or typeset!, or null) only the values of those types. With refresh
// the events block is rebuilt from the copy's fields, else the source's is shared.
void object_copy(const Cell* source, Cell* result, bool deep, const Cell* types, bool refresh);
// Rebuilds the events block from the object's current fields (the cell must stay reachable and is
// updated in place), binds its series as owned when it has an on-deep-change* handler and stores it in
// the owner cell. Raises bad-field-set when a handler field holds no function.
void object_refresh_events(Cell* object);

// The construct native: a copy of the prototype (or a new object), its fields set from the set-words of
// the spec without evaluating anything; unless only, the words true, yes, on, false, no, off and none
// stand for their values. Pushes the object and returns it.
Cell* object_construct(const Cell* spec, const Cell* prototype, bool only);
// The set native with an object target: spreads a block or object over the fields (unless only), else
// gives every field the value; calls on-change* for each field set when the object has handlers.
void object_set_values(const Cell* object, const Cell* value, bool any, bool only, bool some);
// A new block of the object's values (shallow copy), into the cell (which must stay reachable).
void object_values_block(const Cell* object, Cell* out);
// A new block that reads back as the object: each field as a set-word starting a new line, then its value
// (a word or path value quoted), into the cell (which must stay reachable).
void object_body(const Cell* object, Cell* out);

// --- change handlers (both call language code, and turn a pending break, return or throw left by the
// handler into PendingUnwind)
void object_fire_on_change(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value);
// Raises invalid-obj-evt for an owner without events block. new_value may be null (passed as none).
void object_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                           const Cell* new_value, int32_t index, int32_t part);
// True when setting a field of this object must call its on-change* handler.
bool object_has_on_change(const Cell* object);

// --- lookups and accessors (none allocates)
// The field's value cell (lookup by symbol without regard to case), or the shared none cell.
const Cell* object_find_value(const Cell* object, const Cell* word);
int32_t object_find_index(const Cell* object, const Cell* word);
// Whether the value is an object! of that class.
bool object_word_is_class(const Cell* word, uint32_t class_id);
bool object_is_class(uint32_t context, uint32_t index, uint32_t class_id);
Cell* object_first_value(const Cell* object);
uint32_t object_field_count(const Cell* object);
Cell* object_first_word(const Cell* object);

// The field writer that form and mold of objects and errors share: for each field (the handler fields
// only with args.all) the word, ": " and the molded value. With indent >= 0 each field is indented at
// that level and followed by separator, else the separator only goes between fields. Returns the budget.
int object_mold_fields(const Cell* object, Cell* out, const MoldArgs& args, int budget, int indent, const char* separator);
// object!'s own actions, which error! builds on.
const Cell* object_eval_path(Cell* object, const PathStep& step);
int object_compare(const Cell* object, const Cell* other, CompareOp op);

}  // namespace zol
