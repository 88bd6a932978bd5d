// Small routines that natives and actions share.
#include "support.h"

#include "exits.h"
#include "stack.h"

namespace zol {

void fire_expect_arg(const Cell* value, uint32_t argument_number) {
    (void)argument_number;  // names the argument once function specs can be read back
    Cell call, type;
    stack_get_call_word(&call);
    set_datatype(&type, cell_type(value));
    fire(ERR_SCRIPT_EXPECT_ARG, &call, &type);
}

}  // namespace zol
