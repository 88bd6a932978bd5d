// The evaluator: runs blocks of values as code.
//
// A block is evaluated expression by expression; an expression is one value, or a call of a function value
// with the arguments its spec takes, followed by any number of infix operators (left to right, equal
// precedence). Every evaluating routine has a push flag: with it the expression's value is left as one new
// cell on the argument stack; without it the value goes into the current frame's result slot and the stack
// top is set just above that slot.
//
// Non-local exits: break, continue, return, exit and throw leave a pending unwind code; every routine here
// returns at once when one is pending after a step (the unwinder has already reset the stacks). Errors are
// C++ exceptions (ErrorUnwind).
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/values/language.h"

namespace zol {

// The entry of a native: its refinement integers (-1 absent, else the index of the refinement's first
// argument cell from the argument base). Its caller has checked the argument types. Returns 0, or for do,
// parse and try a pending code handed back to a caller without an interpreter frame.
using NativeEntry = uint32_t (*)(const int32_t* refinements);
// The entry of an action: reads its arguments from the argument stack, dispatches on the first argument's
// datatype and leaves the result in the result slot.
using ActionEntry = void (*)(const int32_t* refinements);

constexpr uint32_t NATIVE_CAPACITY = 120;
extern NativeEntry g_natives[NATIVE_CAPACITY];
extern ActionEntry g_action_entries[64];  // by action number

enum NativeId : uint32_t {
    NAT_NONE = 0,
#define ZOL_NATIVE(name, word, entry) NAT_##name,
#include "interpreter/natives.def"
#undef ZOL_NATIVE
    NAT_END
};
constexpr uint32_t NATIVE_COUNT = NAT_END - 1;

// Start-up steps.
void register_actions();
void register_natives();
void interp_init();

// Evaluates a block from its head to its tail inside a block-evaluation frame. With to_slot the result
// ends in the caller's result slot, else it is pushed.
void eval_block(const Cell* block, bool to_slot);
// How eval_next delivers and reads one expression.
enum EvalFlags : uint32_t {
    EVAL_TO_SLOT = 0,               // the value goes to the current frame's result slot
    EVAL_PUSH = 1,                  // the value is pushed
    EVAL_NO_INFIX = 2,              // an operator after the value is not taken (the right operand of one)
    EVAL_LITERAL_FUNCTIONS = 4,     // a function value standing in the code is a value, not a call
};
constexpr EvalFlags operator|(EvalFlags a, EvalFlags b) { return EvalFlags(uint32_t(a) | uint32_t(b)); }

// Evaluates one expression of a block at a position (a unit index of the block's buffer, below end);
// returns the position after it.
uint32_t eval_next(const Cell* block, uint32_t position, uint32_t end, EvalFlags flags);
// One expression inside a call frame named <body> (any, all, case, reduce).
uint32_t eval_one(const Cell* block, uint32_t position, uint32_t end, bool push);
// Where a call takes its arguments from: code, or the block of apply (with /all every argument and
// refinement in spec order, else the arguments before the first refinement and the refinements a path
// names); safer keeps apply's block values from being evaluated as functions.
enum ApplyMode : uint32_t {
    APPLY_CODE = 0,
    APPLY_ALL = 1,
    APPLY_ARGS = 2,
    APPLY_SAFER = 4,
};
constexpr ApplyMode operator|(ApplyMode a, ApplyMode b) { return ApplyMode(uint32_t(a) | uint32_t(b)); }

// A call: the block whose values from position (before end) are its arguments, the path whose elements
// after path_position are its refinements (null: none), and the word that names it.
struct CallSite {
    const Cell* block = nullptr;
    uint32_t position = 0;
    uint32_t end = 0;
    const Cell* path = nullptr;
    uint32_t path_position = 0;
    const Cell* name = nullptr;
    ApplyMode mode = APPLY_CODE;
    bool infix = false;  // an operator: its left operand is already on the stack
    bool push = false;   // the result is pushed, else it goes to the result slot
};

// Calls a function value as the call site says; returns the position after its arguments.
uint32_t interp_apply(const Cell* function, const CallSite& site);
// Runs a function! whose argument cells are already in the current frame (callbacks from datatypes
// pass their callback kind; the interpreter passes 0).
void interp_invoke(const Cell* function, uint32_t owner_context, const Cell* name, uint32_t callback_kind);
// Calls a function value of any kind from C++ with the given argument cells in spec order (rooted by the
// caller; missing ones are none, refinements are off) inside a call frame named by name. The result is
// pushed; with an unwind code pending nothing is.
void interp_call(const Cell* function, const Cell* args, uint32_t count, const Cell* name, uint32_t callback_kind);
// A /compare function of sort, as the sorting engine wants it: negative when first sorts before second.
// The function is called with (second, first), and its answer says whether its own first argument comes
// first: true or a positive number yes, false, none or a negative number no, zero a tie. So
// func [a b] [a < b] sorts ascending and keeps equal values in their order. An unwind code pending after
// the call is thrown as PendingUnwind.
int interp_sort_compare(const Cell* function, const Cell* first, const Cell* second);
// Evaluates a path, a get-path (get) or the path of a set-path (set: the value to store is the current
// frame's result slot); a function reached mid-path is called with arguments from the block.
uint32_t interp_eval_path(const Cell* path, uint32_t position, uint32_t end, const Cell* block, bool set, bool get,
                          bool push, bool case_sensitive);

}  // namespace zol
