// Function values: native! and action! (entries of the natives and actions tables), op! (an infix operator
// over any of them), function! (a spec, a body and a context whose values are the argument cells of the
// running call) and routine! (a spec over a C++ routine registered by name).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// The info block of a function! or routine!: five cells.
enum FunctionInfo : uint32_t {
    FN_INFO_BODY = 0,
    FN_INFO_ARGS = 1,   // the argument cache, built on the first call
    FN_INFO_CODE = 2,   // integer!: the C++ entry of a routine or compiled function, 0 for interpreted code
    FN_INFO_OP = 3,     // a copy of the function when an op! was made from it
    FN_INFO_OWNER = 4,  // integer!: node of the owning object's context (methods), or routine data
    FN_INFO_COUNT = 5
};
// The info block of a native! or action!: room for its spec's context cell (none: nothing reads it, so
// start-up makes none for the few hundred natives and actions) and the argument cache.
enum NativeInfo : uint32_t { NATIVE_INFO_CONTEXT = 0, NATIVE_INFO_ARGS = 1 };

// Header flags of function values.
constexpr uint32_t FN_TRACE = 0x400;
constexpr uint32_t FN_NO_TRACE = 0x200;
constexpr uint32_t FN_BUILTIN = 0x100;       // made at start-up: tracing tools do not step into it
constexpr uint32_t ROUTINE_CELLS = 0x8000;   // the routine takes its arguments as cells
constexpr uint32_t ROUTINE_ARITY_SHIFT = 25;
constexpr uint32_t ROUTINE_ARITY_MASK = 0x3E000000;

// On the info block's body cell of a function!: its body copy is still to be bound to the function's
// context. A function binds its body when the body is first needed (called, reflected, molded, written):
// most functions of a library are made at start-up and never called. The body copy is private to the
// function, so binding it later gives exactly the cells binding it at once would have given.
constexpr uint32_t FN_BODY_UNBOUND = 0x80000000;

inline uint32_t op_source_type(const Cell* op) { return (op->header & HDR_OP_SOURCE_MASK) >> HDR_OP_SOURCE_SHIFT; }
inline uint32_t function_spec_node(const Cell* f) { return f->w2; }
inline uint32_t function_info_node(const Cell* f) { return f->w3; }
Cell* function_info(const Cell* f, uint32_t index);
// The body of a function! (or of an op! made from one), or a routine's body cell: every reader of a body
// takes it from here, which binds a function's body on first use.
Cell* function_body(const Cell* f);
void function_bind_body(const Cell* f);
// The call path's form of function_body, given the function's info cells.
inline const Cell* function_ready_body(const Cell* f, const Cell* info) {
    if (info[FN_INFO_BODY].header & FN_BODY_UNBOUND) function_bind_body(f);
    return &info[FN_INFO_BODY];
}

// While set, the functions made are built-in ones: marked no-trace, so tracing does not step into them.
extern bool g_making_builtins;
class BuiltinScope {
public:
    BuiltinScope() : saved_(g_making_builtins) { g_making_builtins = true; }
    ~BuiltinScope() { g_making_builtins = saved_; }
    BuiltinScope(const BuiltinScope&) = delete;
    BuiltinScope& operator=(const BuiltinScope&) = delete;

private:
    bool saved_;
};

// Validates a function spec; returns the header flags of its attribute block.
uint32_t function_check_spec(const Cell* spec);
// Builds a function! from a spec and a body (the body is deep-copied and bound to a new context unless a
// context is given) and pushes it; returns the function's context node.
uint32_t function_build(const Cell* spec, const Cell* body, uint32_t context, uint32_t code, uint32_t owner, uint32_t flags);
// Builds a routine! over a registered C++ routine and pushes it.
Cell* routine_build(const Cell* spec, const Cell* body, uint32_t code, int32_t data, bool cells);
inline uint32_t routine_get_arity(const Cell* r) { return (r->header & ROUTINE_ARITY_MASK) >> ROUTINE_ARITY_SHIFT; }
// The function native's spec rewriting: adds the body's set-words (and loop words) as locals. Returns the
// block of collected words; the spec cell is changed to the rewritten copy.
void function_collect_locals(Cell* spec, const Cell* body, Cell* collected);
// Number of local slots of a spec (the /local refinement included), 0 without /local.
uint32_t function_count_locals(const Cell* spec);
// Pushes the locals of a call: false for /local, then none for each local word.
void function_push_locals(uint32_t count);
inline void function_init_locals(uint32_t count) {
    if (count) function_push_locals(count);
}

// Pushes a native! or action! made from a spec block and a table index (the make action's work).
Cell* native_make(const Cell* spec, uint32_t index, TypeId type);
// Natives whose entry exists: numbers 1 to this count (filled by the natives set-up).
extern uint32_t g_native_count;
// Whether a spec block suits an op!: exactly two arguments, the left one a plain word.
bool op_spec_valid(const Cell* spec);

// The n-th word, lit-word, get-word or refinement of a function value's spec (counted from 0), or the word
// <anon>: names the argument in expect-arg errors.
Cell error_get_call_argument(const Cell* function, uint32_t n);

}  // namespace zol
