// What the evaluator's two units share: eval.cpp, which walks blocks cell by cell, and code.cpp, which runs
// the decoded forms of blocks and falls back on eval.cpp wherever a decoded assumption no longer holds.
// Natives and datatypes use eval.h, never this.
#pragma once
#include <cstdint>

#include "eval.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace zol {

// --- the argument cache: one entry per argument and refinement of a spec, in spec order (so an entry's
// position is its word's index in a function's context), built once per function value.

enum ParamKind : uint8_t { PARAM_NORMAL = 0, PARAM_GET = 1, PARAM_LITERAL = 2, PARAM_REFINEMENT = 3 };

struct Param {
    uint8_t kind;
    uint8_t reserved;
    uint16_t ordinal;  // refinements: their position among the refinements, from 0
    uint32_t symbol;
    uint64_t types;  // bit t: datatype id t is accepted
};

struct ArgCache {
    uint32_t count;        // entries
    uint32_t locals;       // local slots after them (the /local refinement and its words), 0 when none
    uint32_t refinements;  // refinement entries
    uint32_t leading;      // evaluated arguments before the first refinement, when all before it are such; else
                           // NOT_SIMPLE (a call from code without refinements then takes the general path)
};
constexpr uint32_t NOT_SIMPLE = 0xFFFFFFFF;
static_assert(sizeof(Param) == 16 && sizeof(ArgCache) == 16);

constexpr uint32_t MAX_REFINEMENTS = 32;
extern const int32_t NO_REFINEMENTS[MAX_REFINEMENTS];  // every refinement absent

// The function's argument cache, built on first need (which allocates). The function cell must be rooted.
const ArgCache* arg_cache(const Cell* fn);
inline const Param* params_of(const ArgCache* c) { return reinterpret_cast<const Param*>(c + 1); }
inline bool accepts(const Param& p, uint32_t type) { return (p.types >> type) & 1; }
Cell param_word(const Param& p);
[[noreturn]] void expect_arg(const Cell* name, const Cell* value, const Param& p);
// The word a call is named by: the given word, or <anon> when the name is no word.
const Cell* call_name(const Cell* name);

// Calls a native's or action's entry. Code called back from inside it (change handlers, comparators) turns a
// pending exit into PendingUnwind: it stops here and stays a pending code, which every caller tests.
inline void call_entry(uint32_t type, uint32_t index, const int32_t* refs) {
    try {
        if (type == TYPE_NATIVE) {
            g_natives[index - 1](refs);
        } else {
            g_action_entries[index](refs);
        }
    } catch (const PendingUnwind&) {
    }
}

// Evaluates one argument of the kind the parameter says; returns the position after it.
uint32_t fetch_one(const Param& p, const Cell* block, uint32_t position, uint32_t end, bool infix_right, uint32_t mode,
                   const Cell* name);

// --- what evaluates to itself

constexpr uint64_t type_bit(uint32_t t) { return uint64_t(1) << t; }
// Datatypes whose values do not evaluate to themselves.
constexpr uint64_t NOT_INERT = type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) | type_bit(TYPE_GET_WORD) |
                               type_bit(TYPE_LIT_WORD) | type_bit(TYPE_PATH) | type_bit(TYPE_SET_PATH) |
                               type_bit(TYPE_GET_PATH) | type_bit(TYPE_LIT_PATH) | type_bit(TYPE_PAREN) |
                               type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) | type_bit(TYPE_FUNCTION) |
                               type_bit(TYPE_ROUTINE) | type_bit(TYPE_OP) | type_bit(TYPE_ISSUE);
// Values a word may hold and be evaluated to at once.
constexpr uint64_t NOT_PLAIN_VALUE = type_bit(TYPE_UNSET) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) |
                                     type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE) | type_bit(TYPE_OP);
constexpr uint64_t FUNCTION_VALUE = type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) | type_bit(TYPE_FUNCTION) |
                                    type_bit(TYPE_ROUTINE) | type_bit(TYPE_OP);
inline bool is_inert(uint32_t type) { return !((NOT_INERT >> type) & 1); }
inline bool is_plain_value(uint32_t type) { return !((NOT_PLAIN_VALUE >> type) & 1); }

// --- inline arithmetic and comparison for infix operators over integers and floats

enum FastOp : uint8_t { FAST_NONE, FAST_ADD, FAST_SUBTRACT, FAST_MULTIPLY, FAST_DIVIDE, FAST_REMAINDER, FAST_COMPARE };

// The fast operation of an op! by the entry it wraps (users may rebind the operator words).
[[gnu::always_inline]] inline FastOp fast_op_of(const Cell* op, CompareOp* cmp) {
    uint32_t source = op_source_type(op);
    if (source == TYPE_ACTION) {
        switch (op->w1) {
            case ACT_ADD: return FAST_ADD;
            case ACT_SUBTRACT: return FAST_SUBTRACT;
            case ACT_MULTIPLY: return FAST_MULTIPLY;
            case ACT_DIVIDE: return FAST_DIVIDE;
            case ACT_REMAINDER: return FAST_REMAINDER;
            default: return FAST_NONE;
        }
    }
    if (source != TYPE_NATIVE) return FAST_NONE;
    switch (op->w1) {
        case NAT_EQUAL_Q: *cmp = CMP_EQUAL; return FAST_COMPARE;
        case NAT_NOT_EQUAL_Q: *cmp = CMP_NOT_EQUAL; return FAST_COMPARE;
        case NAT_STRICT_EQUAL_Q: *cmp = CMP_STRICT_EQUAL; return FAST_COMPARE;
        case NAT_LESSER_Q: *cmp = CMP_LESSER; return FAST_COMPARE;
        case NAT_GREATER_Q: *cmp = CMP_GREATER; return FAST_COMPARE;
        case NAT_LESSER_OR_EQUAL_Q: *cmp = CMP_LESSER_OR_EQUAL; return FAST_COMPARE;
        case NAT_GREATER_OR_EQUAL_Q: *cmp = CMP_GREATER_OR_EQUAL; return FAST_COMPARE;
        default: return FAST_NONE;
    }
}

// Computes left op right into left when both are integers (or, for +, - and *, both floats), as the
// actions would: integer arithmetic that leaves 32 bits gives the exact float, an inexact integer
// division a float. False when it cannot, also for what raises an error (the action then raises it).
[[gnu::always_inline]] inline bool fast_compute(FastOp op, CompareOp cmp, Cell* left, const Cell* right) {
    uint32_t lt = cell_type(left), rt = cell_type(right);
    if (lt == TYPE_INTEGER && rt == TYPE_INTEGER) {
        int32_t a = cell_int(left), b = cell_int(right), r;
        bool overflow;
        switch (op) {
            case FAST_ADD: overflow = __builtin_add_overflow(a, b, &r); break;
            case FAST_SUBTRACT: overflow = __builtin_sub_overflow(a, b, &r); break;
            case FAST_MULTIPLY: overflow = __builtin_mul_overflow(a, b, &r); break;
            case FAST_DIVIDE:
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                if (a % b != 0) {
                    set_float(left, double(a) / double(b));
                    return true;
                }
                set_integer(left, a / b);
                return true;
            case FAST_REMAINDER:
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                set_integer(left, a % b);
                return true;
            default: {
                bool truth;
                switch (cmp) {
                    case CMP_NOT_EQUAL: truth = a != b; break;
                    case CMP_LESSER: truth = a < b; break;
                    case CMP_GREATER: truth = a > b; break;
                    case CMP_LESSER_OR_EQUAL: truth = a <= b; break;
                    case CMP_GREATER_OR_EQUAL: truth = a >= b; break;
                    default: truth = a == b; break;
                }
                set_logic(left, truth);
                return true;
            }
        }
        if (!overflow) {
            set_integer(left, r);
        } else {
            double x = a, y = b;
            set_float(left, op == FAST_ADD ? x + y : op == FAST_SUBTRACT ? x - y : x * y);
        }
        return true;
    }
    if (lt == TYPE_FLOAT && rt == TYPE_FLOAT && op <= FAST_MULTIPLY) {
        double x = cell_float(left), y = cell_float(right);
        set_float(left, op == FAST_ADD ? x + y : op == FAST_SUBTRACT ? x - y : x * y);
        return true;
    }
    return false;
}

// Pops a call's frame and leaves the result as the caller wants it.
inline void pop_call(bool push) {
    if (push) {
        unwind_frame();
    } else {
        unwind_frame_return();
        stack_keep_result();
    }
}

// Calls an operator over a native or action whose two operands are already evaluated, at operands and the
// cell after it; the result replaces the left operand.
void call_operator(const Cell* op_value, Cell* operands, const Cell* name, bool push);

// --- running blocks

// Restores a function context's values word (the argument base of the running call) on every way out.
class ValuesGuard {
public:
    ValuesGuard(uint32_t context, uint32_t values) : context_(context), saved_(context_cell(context)->w2) {
        context_cell(context)->w2 = values;
    }
    ~ValuesGuard() { context_cell(context_)->w2 = saved_; }
    ValuesGuard(const ValuesGuard&) = delete;
    ValuesGuard& operator=(const ValuesGuard&) = delete;

private:
    uint32_t context_;
    uint32_t saved_;
};

// The blocks being evaluated, outermost first, each at the position of its current expression; the
// innermost is g_current_block. The collector marks them all.
extern Cell g_outer_blocks[CALL_FRAMES];
extern uint32_t g_block_depth;

// What the caller of a BlockScope has checked already: nothing, the machine stack at this depth, or that too
// and the room for the block.
enum class Checked : uint8_t { nothing, machine_stack, all };

// A block being evaluated without a frame of its own: it becomes the current block for the life of the
// scope. Such blocks still count against the frame stack's capacity, so that runaway nesting of blocks and
// parens ends in stack-overflow as soon as it would with frames.
class BlockScope {
public:
    explicit BlockScope(const Cell* block) : BlockScope(block, Checked::nothing) {}
    BlockScope(const Cell* block, Checked checked) {
        if (checked != Checked::all && g_frames.top + g_block_depth >= g_frames.end) stack_overflow(g_args.top);
        if (checked == Checked::nothing) stack_check_native();
        g_outer_blocks[g_block_depth++] = g_current_block;
        g_current_block = *block;
    }
    ~BlockScope() { g_current_block = g_outer_blocks[--g_block_depth]; }
    BlockScope(const BlockScope&) = delete;
    BlockScope& operator=(const BlockScope&) = delete;
};

// The plain evaluator's parts that decoded code falls back on.
// The infix operators from position on, the left operand standing at start_top (eval_next's loop).
uint32_t eval_infix(const Cell* block, uint32_t position, uint32_t end, Cell* start_top, bool push);
// The expressions of the current block from position to end, each pushed at result, the last one left
// there (eval_block's loop).
void eval_block_from(uint32_t position, uint32_t end, Cell* result);
// Runs an interpreted function's body in the call frame on top, whose argument cells the function's context
// points at meanwhile; return and exit stop here.
void run_plain_body(const Cell* fn, const Cell* name);

}  // namespace zol
