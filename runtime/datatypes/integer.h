// integer! values: a signed 32-bit integer in word 2 of the cell. Arithmetic that leaves the 32-bit range
// gives a float! instead; only the results with no float answer raise math errors. char! inherits its
// random, absolute, even? and odd?, which therefore keep the value's own type.
#pragma once
#include <cstdint>

#include "float.h"
#include "runtime/cell.h"

namespace zol {

inline int32_t integer_get(const Cell* c) { return cell_int(c); }
// The argument at the given position from the argument base; the second gives 0 for one not integer!.
int32_t integer_get_arg(uint32_t position);
int32_t integer_arg_or_zero(uint32_t position);

Cell* integer_make_at(Cell* c, int32_t v);
// A new integer! at the block's tail (allocates).
Cell* integer_make_in(const Cell* block, int32_t v);
Cell* integer_push(int32_t v);
// Makes the result slot (the first argument's cell) an integer!.
Cell* integer_set_result(int32_t v);

// The decimal text, in a static buffer that the next call overwrites.
const char* integer_to_decimal(int32_t v);
// A float!, percent! or time! value truncated toward zero; a truncated value above 2147483647, below
// -2147483648, or NaN raises type-limit.
int32_t integer_from_float(const Cell* value);
// One operation of integer! arithmetic: true with the integer result in *r, or false with the exact result
// as a double in *exact when it is no 32-bit integer (an overflow, an inexact quotient). Division and
// remainder by zero raise zero-divide, the lowest integer divided by -1 raises overflow.
bool integer_op(int32_t a, int32_t b, ArithOp op, int32_t* r, double* exact);

}  // namespace zol
