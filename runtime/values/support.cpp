// Small routines that natives and actions share.
#include "support.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "language.h"
#include "runtime/values/backtrace.h"
#include "runtime/exits.h"
#include "predefined.h"
#include "runtime/stack.h"

namespace zol {

namespace {

[[noreturn]] void raise_expect_arg(const Cell* call, uint32_t type, const Cell* argument) {
    Cell datatype;
    set_datatype(&datatype, type);
    fire(ERR_SCRIPT_EXPECT_ARG, call, &datatype, argument);
}

}  // namespace

void fire_expect_arg(const Cell* value, uint32_t argument_number) {
    Cell call;
    stack_get_call_word(&call);
    // The argument is named from the spec of what the call's word holds (<anon> when that is no function).
    const Cell* function = word_context(&call) ? context_word_value_cell(word_symbol(&call), word_context(&call)) : nullptr;
    Cell argument = error_get_call_argument(function ? function : &g_none_value, argument_number);
    raise_expect_arg(&call, cell_type(value), &argument);
}

void fire_expect_arg_word(uint32_t type, const Cell* argument) {
    Cell call;
    stack_get_call_word(&call);
    raise_expect_arg(&call, type, argument);
}

const Cell* path_store_back(const PathStep& step, const Cell* changed) {
    if (!step.previous) return step.set_value;  // a caller with no place behind the value (put)
    GcRoot value(*changed), result(*step.set_value);
    if (step.index == 1 && cell_is(step.previous, TYPE_WORD)) {
        // The value is the first word's own: set the word (an object's word runs its change handler).
        Cell word = *step.previous;
        word_set_value(&word, value.get());
        return step.set_value;
    }
    uint32_t pt = step.parent ? cell_type(step.parent) : NO_TYPE;
    auto store = pt != NO_TYPE && (type_in(FAMILY_SERIES, pt) || type_in(FAMILY_ANY_OBJECT, pt) || pt == TYPE_MAP)
                     ? g_types.get<ACT_EVAL_PATH>(pt)
                     : nullptr;
    if (!store) fire(ERR_SCRIPT_BAD_PATH_SET, step.path ? step.path : step.parent, step.element);
    GcRoot parent(*step.parent), selector(*step.previous);
    PathStep back;
    back.element = selector.get();
    back.set_value = value.get();
    back.path = step.path;
    back.case_sensitive = step.case_sensitive;
    back.last = true;
    store(parent.get(), back);
    *step.set_value = *result;
    return step.set_value;
}

bool load_text_value(const Cell* text_in, Cell* out) {
    GcRoot text(*text_in), loaded;
    // The lexer reads string! text; another kind of string is read through a string! view of its buffer.
    cell_set_type(text.get(), TYPE_STRING);
    g_language.load_source(loaded.get(), text.get(), -1, LexOptions{.wrap = true});
    Series* s = cell_series(loaded.get());
    uint32_t index = series_index(loaded.get());
    if (s->used() != index + 1) return false;
    *out = s->cells()[index];
    return true;
}

}  // namespace zol
