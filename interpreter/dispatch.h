// Action dispatch: the entry of each of the 62 actions (what an action! value calls) and the lookup of a
// datatype's function with its errors.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace zol {

// The datatype's function for an action; an unsupported action raises script error expect-arg naming the
// call, the datatype and the action's first argument (make and to pass the datatype asked for, every other
// action its first argument's own).
AnyFn actions_get_action(uint32_t type, Action action);
template <Action A>
ActionFn<A> action_of(const Cell* value) {
    return reinterpret_cast<ActionFn<A>>(actions_get_action(cell_type(value), A));
}
// The function of the eval-path slot, with the path errors (bad-path-type, bad-path-type2).
ActionFn<ACT_EVAL_PATH> actions_get_path_action(const Cell* value, const Cell* path, const Cell* element, int index);

// The second argument of the current frame as an index: an integer's value, a char's code point, 1 for
// true and 2 for false, 0 for anything else.
int pick_index();

}  // namespace zol
