// float! values: a 64-bit IEEE double in words 2 and 3 of the cell. percent! and time! keep the same payload
// and reuse float!'s arithmetic, comparison and rounding, so the routines here look at the cell's own type
// where the result's type depends on it. float_to_text prints every floating-point quantity but mold.
#pragma once
#include <cstdint>
#include <limits>

#include "runtime/cell.h"

namespace zol {

// Operation codes of the arithmetic routines shared by integer!, float! and the types that call them.
enum ArithOp : int {
    ARITH_ADD = 0,
    ARITH_SUBTRACT = 1,
    ARITH_MULTIPLY = 2,
    ARITH_DIVIDE = 3,
    ARITH_REMAINDER = 4,
    ARITH_OR = 5,
    ARITH_AND = 6,
    ARITH_XOR = 7,
};
// The action that runs an operation code.
inline Action arith_action(ArithOp op) {
    constexpr Action actions[] = {ACT_ADD,       ACT_SUBTRACT, ACT_MULTIPLY, ACT_DIVIDE,
                                  ACT_REMAINDER, ACT_OR_T,     ACT_AND_T,    ACT_XOR_T};
    return actions[op];
}

constexpr double FLOAT_MAX = std::numeric_limits<double>::max();
constexpr double FLOAT_INFINITY = std::numeric_limits<double>::infinity();
constexpr double FLOAT_NAN = std::numeric_limits<double>::quiet_NaN();  // bits 0x7FF8000000000000
// Added before truncation when a coordinate becomes a pixel: just below one half, so that x.5 goes down.
constexpr double FLOAT_ROUNDING_BIAS = 0.4999997615814209;
// Magnitudes below this are equal to zero for = and print as 0 when pretty-printing.
constexpr double FLOAT_EPSILON = 2.220446049250313e-16;

// The float options of the system object: pretty? (on at start-up) makes float_to_text drop the noise
// digits of values such as 0.1 + 0.7; full? is kept for the library and read by nothing here.
extern bool g_float_pretty;
extern bool g_float_full;

inline double float_get(const Cell* c) { return cell_float(c); }
Cell* float_make_at(Cell* c, double d);
// A new float! at the block's tail from the double's two halves (allocates).
Cell* float_make_in(const Cell* block, uint32_t high, uint32_t low);
Cell* float_push(double d);
Cell* float_push_halves(uint32_t high, uint32_t low);
// Makes the result slot (the first argument's cell) a float!.
Cell* float_set_result(double d);

double float_abs(double d);
// A random double between 0 and d, from the generator or the secure source.
double float_random_value(double d, bool secure);
// value + FLOAT_ROUNDING_BIAS truncated toward zero, saturated to the 32-bit range (NaN gives 0).
int32_t float_round_to_int(double d);
bool float_nan_q(double d);
bool float32_nan_q(float f);
bool float_special_q(double d);  // an infinity or NaN

// What float_to_text prints: the precision, the suffix and the zero text depend on it.
enum FloatTextKind : int {
    FLOAT_TEXT_FLOAT32 = 0,    // vector! elements
    FLOAT_TEXT_FLOAT = 1,      // float! form
    FLOAT_TEXT_PERCENT32 = 2,  // the caller passes the value x 100
    FLOAT_TEXT_PERCENT = 3,    // the caller passes the value x 100
    FLOAT_TEXT_TIME = 4,       // the seconds of a time
    FLOAT_TEXT_POINT = 5,      // a point2D! or point3D! coordinate
};
// The text of a value, in a static buffer that the next call overwrites.
const char* float_to_text(double value, FloatTextKind kind);

// The equality of =: exactly equal, closer than FLOAT_EPSILON, or at most 10 representable doubles apart.
bool float_almost_equal_q(double x, double y);
// The same rule for the 32-bit coordinates of point2D! and point3D!.
bool float32_almost_equal_q(float a, float b);

// One IEEE operation (add to remainder) on two doubles; no operand is checked, so dividing by zero gives an
// infinity or NaN. Another operation code raises cannot-use.
double float_op(double x, double y, ArithOp op);
// The arithmetic of the two arguments at the argument base, for float!, percent!, time! and integer! on
// the left; the result replaces the left one. The result is time! when either side is time!, else
// percent! when the left one is, else float!.
void float_do_math(ArithOp op);
// Hands the operation to the right operand's datatype with the two arguments exchanged, for the types whose
// arithmetic takes a number on their right (pair!, point2D! ...); a type without that action raises
// invalid-type.
void arith_run_exchanged(ArithOp op);
// compare for a float!, percent! or time! value (integer! compares through it too).
int float_compare(const Cell* value, const Cell* other, CompareOp op);
// round for a float!, percent! or time! value, in place; with a /to scale the result takes the scale's type.
void float_round(Cell* number, const RoundArgs& args);
// power with the base at the argument base (its type is kept) and the exponent after it.
void float_power();

}  // namespace zol
