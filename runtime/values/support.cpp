// Small routines that natives and actions share.
#include "support.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
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

}  // namespace zol
