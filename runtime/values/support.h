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

// A set-path changed a value held in the cell (a pair's x, a date's month ...): stores the changed value
// back where the path read it from, through the word that names it or through its parent's own eval-path,
// so that an object's change handler and a series' owner hear of it as of any other set. A parent that is
// itself such a value keeps no place to store into, and raises bad-path-set. Returns the value that was
// set (the set-path's result). May run language code.
const Cell* path_store_back(const PathStep& step, const Cell* changed);

// Loads a text (any string) as source: true with the value in out when it holds exactly one value; false
// when it holds none or more than one. A syntax error is raised as the lexer reports it. Allocates.
bool load_text_value(const Cell* text, Cell* out);

}  // namespace zol
