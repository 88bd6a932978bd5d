// Comparison of two values through the compare slot of the first value's datatype.
#pragma once
#include "runtime/cell.h"

namespace zol {

// The datatype's three-way answer: negative, 0 or positive, or COMPARE_INCOMPARABLE. logic! and function
// values are ordered without a datatype call.
int compare_order(const Cell* a, const Cell* b, CompareOp op);
// Whether the two values satisfy the operation. Values that cannot be compared are simply unequal under
// the equality operations and raise invalid-compare under the ordering ones (lesser ... greater-or-equal).
bool compare_values(const Cell* a, const Cell* b, CompareOp op);

}  // namespace zol
