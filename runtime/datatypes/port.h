// port! values: an object (class 2) that stands for an I/O endpoint of a scheme. Field 0 is its spec
// object, field 1 the scheme's name and field 2 the scheme's actor, an object whose functions, named after
// the actions, do the scheme's work. port! itself does no I/O: each series and I/O action applied to a port
// calls the actor's function of the same name with the port, the action's arguments, and each refinement
// as a logic! followed by its arguments (none when it was not used).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// make port!: the spec is an object, or what makes one from system/standard/port-spec; its first field
// names a scheme of system/schemes, whose actor (field 3) the port takes. Pushes the port.
const Cell* port_make(Cell* proto, Cell* spec, TypeId type);
// The open, read and write actions on a port (read: open, copy, close; write: open, insert, copy, close).
const Cell* port_open(Cell* port, const OpenArgs& args);
const Cell* port_read(Cell* port, const IoArgs& args);
const Cell* port_write(Cell* port, Cell* data, const IoArgs& args);

// Calls a function! with these arguments in the frame of a call named by the word: the refinements and
// refinement arguments its spec has beyond them are off (false, none), extra arguments are left out. The
// result goes to result, which must stay reachable. Calls language code.
void port_call_function(const Cell* function, const Cell* name, const Cell* args, uint32_t count, Cell* result);

}  // namespace zol
