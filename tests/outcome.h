// Shared by the C++ tests of actions: the outcome of a call that either leaves a value in the frame's first
// slot or raises an error, and how such outcomes compare and print in a failed expectation.
#pragma once
#include <bit>
#include <cmath>
#include <iomanip>
#include <ostream>
#include <functional>
#include <string>

#include "runtime/datatypes/registry.h"
#include "runtime/errors.h"
#include "runtime/types.h"
#include "tests/support.h"

namespace zol::test {

// A value, or the error raised with its first two arguments.
struct Outcome {
    ErrorId error = ERR_COUNT;
    Cell value{};
    Cell arg1{}, arg2{};
};

// Two outcomes are equal when they raised the same error, or gave values of one type and payload (NaN equal
// to NaN, +0.0 not equal to -0.0). The error's arguments are left to the tests that care about them.
inline bool operator==(const Outcome& a, const Outcome& b) {
    if (a.error != b.error) return false;
    if (a.error != ERR_COUNT) return true;
    TypeId t = cell_type(&a.value);
    if (t != cell_type(&b.value)) return false;
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_CHAR: return a.value.w2 == b.value.w2;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: {
            double x = cell_float(&a.value), y = cell_float(&b.value);
            return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) || (std::isnan(x) && std::isnan(y));
        }
        default: return true;
    }
}
inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    if (o.error != ERR_COUNT) return os << "error " << error_info(o.error).word;
    TypeId t = cell_type(&o.value);
    os << type_name(t) << " ";
    if (t == TYPE_INTEGER || t == TYPE_CHAR) return os << cell_int(&o.value);
    if (t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME) return os << std::setprecision(17) << cell_float(&o.value);
    return os;
}
inline Outcome gives(const Cell& v) { return {ERR_COUNT, v}; }
inline Outcome fails(ErrorId e) { return {e, {}}; }
// A value as a failed expectation prints it.
inline std::string describe(const Cell& c) { return ::testing::PrintToString(gives(c)); }

// Runs body inside a try and takes the frame's first slot, or the error and its first two arguments; the
// stacks are reset after.
inline Outcome attempt(const std::function<void()>& body) {
    Outcome out;
    Cell error;
    out.error = catch_error(
        [&] {
            body();
            out.value = *g_args.base;
        },
        &error);
    if (out.error != ERR_COUNT) {
        out.arg1 = *error_field(&error, ERROR_FIELD_ARG1);
        out.arg2 = *error_field(&error, ERROR_FIELD_ARG2);
    }
    stack_reset();
    return out;
}

// An arithmetic or logic action's routine as `owner` registers it, called on two stacked operands.
inline Outcome call_math(TypeId owner, Action act, const Cell& a, const Cell& b) {
    return attempt([&] {
        stack_push(&a);
        stack_push(&b);
        reinterpret_cast<void (*)()>(g_types.action(owner, act))();
    });
}

// The to (or make) routine `owner` registers, converting spec to the target type.
inline Outcome call_to(TypeId owner, const Cell& spec, TypeId target, Action act = ACT_TO) {
    return attempt([&] {
        Cell* proto = stack_push(&g_none_value);
        Cell* arg = stack_push(&spec);
        auto fn = reinterpret_cast<ActionFn<ACT_TO>>(g_types.action(owner, act));
        *g_args.base = *fn(proto, arg, target);
    });
}

// The round routine `owner` registers, with the scale of /to when given.
inline Outcome call_round(TypeId owner, const Cell& value, const Cell* scale, const RoundArgs& flags) {
    return attempt([&] {
        Cell* v = stack_push(&value);
        Cell* s = scale ? stack_push(scale) : nullptr;
        RoundArgs args = flags;
        args.scale = s;
        g_types.get<ACT_ROUND>(owner)(v, args);
    });
}

// The refinements of round, as a set of flags for compact case tables.
enum RoundFlag { EVEN = 1, DOWN = 2, HALF_DOWN = 4, FLOOR = 8, CEILING = 16, HALF_CEILING = 32 };
inline RoundArgs flags(int f) {
    RoundArgs a;
    a.even = f & EVEN;
    a.down = f & DOWN;
    a.half_down = f & HALF_DOWN;
    a.floor = f & FLOOR;
    a.ceiling = f & CEILING;
    a.half_ceiling = f & HALF_CEILING;
    return a;
}

}  // namespace zol::test
