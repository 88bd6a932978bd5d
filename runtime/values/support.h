// Small routines that natives and actions share: argument errors and value makers over the stacks.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Raises script error expect-arg for a value that the running call does not accept as its argument
// number n (counted from 0 among the words of its spec), naming that argument.
[[noreturn]] void fire_expect_arg(const Cell* value, uint32_t argument_number);
// The same for a value of the datatype, with the argument's word given.
[[noreturn]] void fire_expect_arg_word(uint32_t type, const Cell* argument);

}  // namespace zol
