// Decoded forms of blocks: the decoder, which reads a block once into expression trees, and the runner,
// which evaluates those trees exactly as eval.cpp would evaluate the cells, checking on the way that what
// was decoded still holds and handing over to eval.cpp where it does not.
//
// The runner keeps the plain evaluator's stack discipline step for step: every expression pushes one cell,
// calls push the function's copy, name their frame and leave their result where the copy stood, and the
// control natives it runs in place push the frames the natives would (named by the native, then the loop
// frame), so errors, exits and the collector see the same stacks.
#include "code.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "eval_internal.h"
#include "platform/platform.h"
#include "interpreter/natives/natives.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/values/predefined.h"
#include "trace.h"

namespace zol {

CodePolicy g_code_policy = CodePolicy::automatic;

namespace {

CodeStats g_code_stats{};
uint64_t g_drops = 1;  // decoded forms dropped so far, counted from 1

constexpr uint32_t UNKNOWN = 0xFFFFFFFF;  // an expression whose end the decoder cannot tell
constexpr int MAX_DEPTH = 48;             // nesting of decoded expressions; deeper ones stay plain
constexpr uint32_t MAX_DROPS = 15;        // a block whose decoded form keeps being dropped stays plain

// A block's count kept in its buffer's flags: bit 0 set once it was evaluated, then how many decoded forms
// of it were dropped.
inline uint32_t runs_of(const Series* s) { return (s->flags & SER_RUNS_MASK) >> SER_RUNS_SHIFT; }
inline void set_runs(Series* s, uint32_t runs) {
    s->flags = (s->flags & ~SER_RUNS_MASK) | ((runs << SER_RUNS_SHIFT) & SER_RUNS_MASK);
}

// Where the value of a word of the block lives.
enum RefKind : uint8_t {
    REF_LOCAL,   // a cell of the running call of the block's function: the code's context
    REF_GLOBAL,  // a slot of the global context
    REF_OTHER,   // anywhere else: looked up through the word's cell each time
};

enum Kind : uint8_t {
    K_PLAIN,    // handed to eval_next (without infix look-ahead) every time
    K_LITERAL,  // a value that evaluates to itself
    K_WORD,     // a word holding a plain value
    K_PAREN,
    K_SET,      // a set-word of a plain slot; child: the value's expression
    K_CALL,     // a word holding a function; children: its arguments
    // Control natives run in place: a site as for K_CALL, children the arguments that are not blocks.
    K_IF,
    K_UNLESS,
    K_EITHER,
    K_LOOP,
    K_REPEAT,
    K_WHILE,
    K_UNTIL,
    K_FOREVER,
    K_REDUCE,
};

// Arithmetic and comparison computed in place, one code for each operator entry.
enum Arith : uint8_t { A_ADD, A_SUB, A_MUL, A_DIV, A_REM, A_EQ, A_NE, A_SEQ, A_LT, A_GT, A_LE, A_GE, A_NONE };

// Where a simple operand is read: a literal's cell, a word's value, a paren (its Code::parens entry), or a
// call of a built-in that can be answered in place (its node).
enum Operand : uint8_t {
    OPERAND_LITERAL,
    OPERAND_LOCAL,
    OPERAND_GLOBAL,
    OPERAND_OTHER,
    OPERAND_PAREN,
    OPERAND_CALL,
    OPERAND_NONE
};

// Actions whose common case reads a value or makes an empty block, and can neither raise nor run code: a
// call of one with simple arguments is answered in place when its arguments are of that case, as nobody
// could see its frame.
enum Intrinsic : uint8_t { I_NONE, I_PICK, I_TAIL_Q, I_MAKE };

// One expression: its primary value (what eval_next reads without look-ahead), then its operators.
// Node, OpSite and CallInfo are padded to a power of two: the runner indexes them on every step, and a shift
// is cheaper than the multiplication an odd size needs.
struct alignas(64) Node {
    Kind kind;
    RefKind ref;       // the word at pos (word, set-word, call): where its value lives
    RefKind term_ref;  // the word at end, when term is set
    bool term;         // the cell at end is a word, which may have become an operator since
    bool simple;       // a literal or word, then arithmetic and comparison operators over literals and words
    bool binary;       // simple: one slot word, one operator, a slot word or literal; no word after it
    bool direct;       // a call of a function! whose arguments are all simple (see exec_call)
    bool global_guards;  // every word its runs check (call word, operator words, term word) is global
    Intrinsic intrinsic;  // a call answered in place in its common case (then simple)
    Arith arith;          // binary: its operator and right operand, copied from its site
    Operand right_operand;
    Operand operand;   // a literal or word primary: where it is read
    uint32_t operand_at;
    uint32_t index;    // slot of the word at pos
    uint32_t pos;
    uint32_t primary_end;  // position after the primary value
    uint32_t end;          // position after the operators
    union {
        uint32_t term_index;
        uint32_t right_at;  // binary nodes (which have no term): the right operand's slot or position
    };
    uint32_t ops, nops;            // operator sites, in Code::ops
    uint32_t children, nchildren;  // argument or value expressions, in Code::nodes
    uint32_t site;                 // call site, in Code::sites
    mutable uint64_t checked;      // the global version at which those words were last found as decoded
};

struct alignas(64) OpSite {
    Cell value;  // the op! the word held
    uint32_t pos;
    RefKind ref;
    FastOp fast;
    CompareOp cmp;
    Arith arith;
    Operand right_operand;  // the right operand when it is a literal or a word
    uint32_t index;
    uint32_t right;  // the right operand's node
    uint32_t right_at;  // its slot (a word's), or its position
};

enum Callee : uint8_t {
    CALLEE_ENTRY,     // a native or an action: its entry
    CALLEE_FUNCTION,  // an interpreted function! body
    CALLEE_INVOKE,    // a function! marked to trace or not, or with compiled code: interp_invoke
};

struct Code;

struct alignas(128) CallInfo {
    Cell value;  // the function value the word held
    Cell name;   // the word, as it stood
    uint32_t symbol, word_context;  // the frame's name: the word's
    uint32_t frame_kind;
    Callee callee;
    uint32_t leading;     // evaluated arguments before the first refinement
    uint32_t types;       // their accepted datatypes, in Code::types
    uint32_t fill, nfill;  // what follows them in a function's frame (refinements off, locals), in Code::fills
    uint32_t loop_word;   // repeat: where its word's value lives
    RefKind loop_ref;
    bool simple_args;     // calls: every argument is a simple expression (see Node::simple)
    bool cond_int_logic;  // the first argument takes integers and logic values alike (a branch's condition)
    Cell* context;        // functions: their context's own cell (a context record never moves)
    Cell body;            // functions: the body
    // The decoded forms a run looked up last (a function's body; a branch native's two blocks), good while
    // no decoded form anywhere has been dropped since (g_drops then), as a form stays till it is dropped.
    mutable uint64_t found_drops;
    mutable Code* found[2];
};

// A paren of the code read as a simple operand, with the decoded form it had when last looked up: good
// while no decoded form anywhere has been dropped since, for its buffer and form stay the same till then.
struct ParenOperand {
    uint32_t pos;
    uint64_t drops = 0;  // g_drops when looked up (0: not yet)
    Code* code = nullptr;
};
static_assert(sizeof(Node) == 64 && sizeof(OpSite) == 64 && sizeof(CallInfo) == 128);

struct Code {
    TypeId type = TYPE_BLOCK;  // block! or paren!
    uint32_t node = 0;     // the block's buffer
    uint32_t start = 0;    // the head index decoded from
    uint32_t end = 0;      // the tail, when decoded
    uint32_t context = 0;  // the stack context whose words are read as REF_LOCAL, 0 for none
    bool valid = true;
    uint32_t readers = 0;  // runs reading it with its block not made current (reduce): see may_be_running
    Cell* buffer = nullptr;  // the block's cells: they stay where they are until the form is dropped
    bool single = false;   // one literal or word, read without a step
    bool simple_single = false;  // one simple expression (see Node::simple)
    const Node* only = nullptr;  // the expression of a block of one, else null
    const Node* branch = nullptr;  // that expression when it is a branch native (either, if, unless)
    std::vector<Node> nodes;
    std::vector<uint32_t> tops;  // the block's expressions in order
    std::vector<OpSite> ops;
    std::vector<CallInfo> sites;
    std::vector<uint64_t> types;
    std::vector<Cell> fills;
    std::vector<ParenOperand> parens;
    std::vector<Cell> held;  // every value the checks compare with: kept alive so that no other value can
                             // take its nodes and pass for it
#if defined(ZOL_ASSERTS)
    std::vector<Cell> cells;  // the block as decoded: a change that did not drop the form is caught here
#endif
};

// Whether the block still holds the cells it was decoded from (line break markers aside). Every change to
// a block must drop its decoded form; the checked builds verify that none was missed.
[[maybe_unused]] bool unchanged(const Code* c) {
#if defined(ZOL_ASSERTS)
    Series* s = node_series(c->node);
    if (s->cell_count() != c->end) return false;
    for (uint32_t i = c->start; i < c->end; i++) {
        const Cell* a = s->cells() + i;
        const Cell& b = c->cells[i - c->start];
        if (((a->header ^ b.header) & ~HDR_NEW_LINE) || a->w1 != b.w1 || a->w2 != b.w2 || a->w3 != b.w3) return false;
    }
#else
    (void)c;
#endif
    return true;
}

inline Code* code_of(const Series* s) { return static_cast<Code*>(s->code); }

// The cells of a form's block, for a run starting now (the form is its block's current one).
inline Cell* code_cells(const Code* c) {
    ZOL_ASSERT(c->valid && c->buffer == node_series(c->node)->cells());
    return c->buffer;
}

// The same function value: what a word held when decoded and holds now (a line break marker aside).
inline bool same_value(const Cell* a, const Cell* b) {
    uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&a1, &a->w2, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&b1, &b->w2, 8);
    return (((a0 ^ b0) & ~uint64_t(HDR_NEW_LINE)) | (a1 ^ b1)) == 0;
}

inline bool is_function_type(uint32_t t) { return (FUNCTION_VALUE >> t) & 1; }

// The value slot of the stack context's running call, or null when it is not running.
inline Cell* running_locals(uint32_t context) {
    uint32_t values = context_cell(context)->w2;
    return values ? stack_cell(values) : nullptr;
}

// ------------------------------------------------------------------------------------------------------
// Decoding

class Decoder {
public:
    Decoder(Code& code, const Cell* cells, Cell* locals) : c_(code), cells_(cells), locals_(locals) {}

    void decode_block() {
        uint32_t position = c_.start;
        while (position < c_.end) {
            uint32_t n = expression(position, true);
            c_.tops.push_back(n);
            position = c_.nodes[n].end;
            if (position == UNKNOWN) break;
        }
    }

private:
    Code& c_;
    const Cell* cells_;
    Cell* locals_;
    int depth_ = 0;

    uint32_t new_node(Kind kind, uint32_t pos) {
        Node n{};
        n.kind = kind;
        n.pos = pos;
        n.primary_end = pos + 1;
        n.end = pos + 1;
        c_.nodes.push_back(n);
        return uint32_t(c_.nodes.size() - 1);
    }

    RefKind ref_of(const Cell* w, uint32_t* index) const {
        uint32_t context = word_context(w), i = word_index(w);
        *index = i;
        if (!context || i == WORD_UNRESOLVED) return REF_OTHER;
        if (context == g_global_context) return REF_GLOBAL;
        if (context == c_.context) return REF_LOCAL;
        return REF_OTHER;
    }

    // The word's value now, when it can be read.
    const Cell* peek(const Cell* w) const {
        uint32_t index;
        RefKind ref = ref_of(w, &index);
        if (ref == REF_LOCAL) return locals_ ? locals_ + index : nullptr;
        return word_slot(w);
    }

    static Arith arith_of(FastOp fast, CompareOp cmp) {
        switch (fast) {
            case FAST_ADD: return A_ADD;
            case FAST_SUBTRACT: return A_SUB;
            case FAST_MULTIPLY: return A_MUL;
            case FAST_DIVIDE: return A_DIV;
            case FAST_REMAINDER: return A_REM;
            case FAST_COMPARE:
                switch (cmp) {
                    case CMP_NOT_EQUAL: return A_NE;
                    case CMP_STRICT_EQUAL: return A_SEQ;
                    case CMP_LESSER: return A_LT;
                    case CMP_GREATER: return A_GT;
                    case CMP_LESSER_OR_EQUAL: return A_LE;
                    case CMP_GREATER_OR_EQUAL: return A_GE;
                    default: return A_EQ;
                }
            default: return A_NONE;
        }
    }

    uint32_t paren_entry(uint32_t pos) const {
        for (uint32_t i = 0; i < c_.parens.size(); i++) {
            if (c_.parens[i].pos == pos) return i;
        }
        c_.parens.push_back(ParenOperand{pos});
        return uint32_t(c_.parens.size() - 1);
    }

    void operand_of(const Node& n, Operand* kind, uint32_t* at) const {
        *at = n.pos;
        if (n.kind == K_LITERAL) {
            *kind = OPERAND_LITERAL;
        } else if (n.kind == K_PAREN) {
            // A paren holding one simple expression is an operand too (checked again when it is read).
            const Code* inner = static_cast<const Code*>(cell_series(cells_ + n.pos)->code);
            *kind = inner && inner->simple_single ? OPERAND_PAREN : OPERAND_NONE;
            if (*kind == OPERAND_PAREN) *at = paren_entry(n.pos);
        } else if (n.kind == K_CALL && n.intrinsic != I_NONE) {
            *kind = OPERAND_CALL;
            *at = uint32_t(&n - c_.nodes.data());
        } else if (n.kind != K_WORD) {
            *kind = OPERAND_NONE;
        } else if (n.ref == REF_LOCAL || n.ref == REF_GLOBAL) {
            *kind = n.ref == REF_LOCAL ? OPERAND_LOCAL : OPERAND_GLOBAL;
            *at = n.index;
        } else {
            *kind = OPERAND_OTHER;
        }
    }

    bool is_word_at(uint32_t pos) const { return pos < c_.end && cell_is(cells_ + pos, TYPE_WORD); }

    // An expression: a primary value, then (with infix) the operators after it.
    uint32_t expression(uint32_t pos, bool infix) {
        uint32_t n = primary(pos);
        uint32_t p = c_.nodes[n].primary_end;
        operand_of(c_.nodes[n], &c_.nodes[n].operand, &c_.nodes[n].operand_at);
        if (p == UNKNOWN || !infix) {
            c_.nodes[n].end = p;
            c_.nodes[n].simple = !infix && p != UNKNOWN && c_.nodes[n].operand != OPERAND_NONE;
            return n;
        }
        // The operands' own operators go into the list first: this expression's are gathered in a row.
        std::vector<OpSite> ops;
        while (is_word_at(p) && p + 1 < c_.end) {
            const Cell* v = peek(cells_ + p);
            if (!v || !cell_is(v, TYPE_OP)) break;
            OpSite op{};
            op.value = *v;
            op.pos = p;
            op.ref = ref_of(cells_ + p, &op.index);
            op.cmp = CMP_EQUAL;
            op.fast = fast_op_of(v, &op.cmp);
            c_.held.push_back(op.value);
            op.right = primary(p + 1);
            ops.push_back(op);
            p = c_.nodes[op.right].primary_end;
            if (p == UNKNOWN) break;
        }
        for (OpSite& op : ops) {
            op.arith = arith_of(op.fast, op.cmp);
            operand_of(c_.nodes[op.right], &op.right_operand, &op.right_at);
        }
        Node& node = c_.nodes[n];
        operand_of(node, &node.operand, &node.operand_at);
        node.ops = uint32_t(c_.ops.size());
        node.nops = uint32_t(ops.size());
        c_.ops.insert(c_.ops.end(), ops.begin(), ops.end());
        node.end = p;
        node.simple = p != UNKNOWN && node.operand != OPERAND_NONE;
        for (const OpSite& op : ops) node.simple = node.simple && op.fast != FAST_NONE && op.right_operand != OPERAND_NONE;
        if (p != UNKNOWN && is_word_at(p)) {
            node.term = true;
            node.term_ref = ref_of(cells_ + p, &node.term_index);
        }
        auto slot = [](Operand o) { return o == OPERAND_LOCAL || o == OPERAND_GLOBAL; };
        node.binary = node.simple && !node.term && ops.size() == 1 && slot(node.operand) && ops[0].arith != A_NONE &&
                      (slot(ops[0].right_operand) || ops[0].right_operand == OPERAND_LITERAL);
        if (node.binary) {
            node.arith = ops[0].arith;
            node.right_operand = ops[0].right_operand;
            node.right_at = ops[0].right_at;
        }
        return n;
    }

    uint32_t primary(uint32_t pos) {
        const Cell* c = cells_ + pos;
        uint32_t t = cell_type(c);
        if (is_inert(t)) return new_node(K_LITERAL, pos);
        if (depth_ >= MAX_DEPTH) {
            uint32_t n = new_node(K_PLAIN, pos);
            c_.nodes[n].primary_end = UNKNOWN;
            return n;
        }
        depth_++;
        uint32_t n;
        switch (t) {
            case TYPE_WORD: n = word(pos); break;
            case TYPE_SET_WORD: n = set_word(pos); break;
            case TYPE_SET_PATH: {
                // The value is evaluated first; its extent tells where the expression ends.
                n = new_node(K_PLAIN, pos);
                if (pos + 1 < c_.end) {
                    uint32_t value = expression(pos + 1, true);
                    c_.nodes[n].primary_end = c_.nodes[value].end;
                }
                break;
            }
            case TYPE_PAREN:
                n = new_node(K_PAREN, pos);
                decode_child(c);
                break;
            case TYPE_NATIVE:
            case TYPE_ACTION:
            case TYPE_FUNCTION:
            case TYPE_ROUTINE:
                // A function value standing in the code: called with arguments the decoder does not follow.
                n = new_node(K_PLAIN, pos);
                c_.nodes[n].primary_end = UNKNOWN;
                break;
            default:  // paths, get-words, lit-words, operators, issues: one cell, evaluated plainly
                n = new_node(K_PLAIN, pos);
                break;
        }
        depth_--;
        return n;
    }

    uint32_t word(uint32_t pos) {
        const Cell* w = cells_ + pos;
        uint32_t n = new_node(K_WORD, pos);
        c_.nodes[n].ref = ref_of(w, &c_.nodes[n].index);
        const Cell* v = peek(w);
        if (v && is_function_type(cell_type(v)) && !cell_is(v, TYPE_OP)) {
            Cell fn = *v;
            call(n, &fn);
        }
        return n;
    }

    uint32_t set_word(uint32_t pos) {
        const Cell* w = cells_ + pos;
        uint32_t n = new_node(K_PLAIN, pos);
        if (pos + 1 >= c_.end) return n;  // raises need-value
        uint32_t index;
        RefKind ref = ref_of(w, &index);
        uint32_t value = expression(pos + 1, true);
        Node& node = c_.nodes[n];
        node.primary_end = c_.nodes[value].end;
        // Words of objects and other contexts go through the plain assignment (change handlers and all).
        if (ref == REF_LOCAL || ref == REF_GLOBAL) {
            node.kind = K_SET;
            node.ref = ref;
            node.index = index;
            node.children = value;
            node.nchildren = 1;
        }
        return n;
    }

    // Decodes a block or paren of the code on its own, unless it has a decoded form already.
    void decode_child(const Cell* block);

    // A spec that building an argument cache could refuse stays for the plain call to refuse, at its time.
    // So does one whose type words have no value yet (a native made before the typesets its spec names).
    static bool spec_is_sound(const Cell* fn) {
        Series* spec = node_series(function_spec_node(fn));
        for (uint32_t i = 0; i < spec->cell_count(); i++) {
            const Cell* c = spec->cells() + i;
            if (cell_is(c, TYPE_SET_WORD) && symbol_resolve(word_symbol(c)) != g_sym[SYM_RETURN]) return false;
            if (cell_is(c, TYPE_BLOCK) && !types_are_ready(c)) return false;
        }
        return true;
    }

    static bool types_are_ready(const Cell* types) {
        Series* s = cell_series(types);
        for (uint32_t i = series_index(types); i < s->used(); i++) {
            const Cell* v = s->cells() + i;
            if (cell_is(v, TYPE_WORD)) v = word_slot(v);
            if (!v) return false;
            switch (cell_type(v)) {
                case TYPE_DATATYPE:
                case TYPE_TYPESET:
                case TYPE_WORD:
                case TYPE_BLOCK: break;
                default: return false;
            }
        }
        return true;
    }

    // The word at node n holds the function fn: a call, or a control native run in place.
    void call(uint32_t n, const Cell* fn_in) {
        GcRoot fn(*fn_in);
        uint32_t type = cell_type(fn.get());
        uint32_t pos = c_.nodes[n].pos;
        c_.nodes[n].primary_end = UNKNOWN;  // until the arguments are known
        if (type == TYPE_ROUTINE || !spec_is_sound(fn.get())) {
            c_.nodes[n].kind = K_PLAIN;
            return;
        }
        const ArgCache* cache = arg_cache(fn.get());  // allocates on the first need
        const Param* params = params_of(cache);
        CallInfo site{};
        site.value = *fn;
        site.name = cells_[pos];
        site.symbol = word_symbol(&site.name);
        site.word_context = word_context(&site.name);
        site.frame_kind = type == TYPE_FUNCTION ? KH_INTERP_FUNCTION : KH_INTERP_CALL;
        if (type == TYPE_FUNCTION) {
            site.context = context_cell(fn->w1);
            site.body = *function_body(fn.get());
            const Cell* compiled = node_series(fn->w3)->cells() + FN_INFO_CODE;
            bool invoke = (fn->header & (FN_TRACE | FN_NO_TRACE)) || (cell_is(compiled, TYPE_INTEGER) && cell_int(compiled) != 0);
            site.callee = invoke ? CALLEE_INVOKE : CALLEE_FUNCTION;
        } else {
            site.callee = CALLEE_ENTRY;
        }
        Kind kind = type == TYPE_NATIVE ? control_kind(fn->w1) : K_CALL;
        if (kind != K_CALL && !control_fits(kind, pos, params, cache, &site)) kind = K_CALL;
        if (kind == K_CALL && cache->leading == NOT_SIMPLE) {
            // Literal or get arguments: the plain call, its extent foretold.
            c_.nodes[n].kind = K_PLAIN;
            uint32_t p = pos + 1;
            for (uint32_t i = 0; i < cache->count && params[i].kind != PARAM_REFINEMENT && p != UNKNOWN; i++) {
                if (p >= c_.end) return;
                p = params[i].kind == PARAM_NORMAL ? c_.nodes[expression(p, true)].end : p + 1;
            }
            c_.nodes[n].primary_end = p;
            return;
        }
        uint32_t arity = kind == K_CALL ? cache->leading : control_arity(kind);
        site.leading = arity;
        site.types = uint32_t(c_.types.size());
        site.cond_int_logic = arity && accepts(params[0], TYPE_INTEGER) && accepts(params[0], TYPE_LOGIC);
        for (uint32_t i = 0; i < arity; i++) c_.types.push_back(params[i].types);
        if (type == TYPE_FUNCTION) {
            site.fill = uint32_t(c_.fills.size());
            for (uint32_t i = arity; i < cache->count; i++) {
                c_.fills.push_back(params[i].kind == PARAM_REFINEMENT ? g_false_value : g_none_value);
            }
            for (uint32_t i = 0; i < cache->locals; i++) c_.fills.push_back(i == 0 ? g_false_value : g_none_value);
            site.nfill = uint32_t(c_.fills.size()) - site.fill;
        }
        c_.held.push_back(*fn);
        c_.sites.push_back(site);
        c_.nodes[n].site = uint32_t(c_.sites.size() - 1);

        // The arguments that are expressions; a control native's blocks follow them in place.
        uint32_t expressions = kind == K_CALL ? arity : control_expressions(kind);
        uint32_t skip = kind == K_REPEAT ? 1 : 0;
        uint32_t p = pos + 1 + skip;
        std::vector<uint32_t> args;
        for (uint32_t i = 0; i < expressions && p < c_.end; i++) {
            uint32_t a = expression(p, true);
            args.push_back(a);
            p = c_.nodes[a].end;
            if (p == UNKNOWN) break;
        }
        // Each argument's subtree follows it: the arguments themselves are gathered in a row.
        c_.nodes[n].children = uint32_t(c_.nodes.size());
        c_.nodes[n].nchildren = uint32_t(args.size());
        for (uint32_t a : args) {
            Node copy = c_.nodes[a];
            c_.nodes.push_back(copy);
        }
        bool complete = args.size() == expressions && p != UNKNOWN;
        uint32_t blocks = arity - expressions - skip;
        for (uint32_t i = 0; complete && i < blocks; i++) {
            complete = p + i < c_.end && cell_is(cells_ + p + i, TYPE_BLOCK);
        }
        // An operator after the last block takes that block as its left operand, as the plain call's
        // fetch of it does: the native is not run in place then.
        if (complete && blocks && is_word_at(p + blocks)) {
            const Cell* v = peek(cells_ + p + blocks);
            complete = !v || !cell_is(v, TYPE_OP);
        }
        if (!complete) {
            // The rest is fetched plainly, where it ends unknown; repeat's word makes it a plain call.
            c_.nodes[n].kind = kind == K_REPEAT ? K_PLAIN : K_CALL;
            return;
        }
        c_.nodes[n].kind = kind;
        for (uint32_t i = 0; i < blocks; i++) decode_child(cells_ + p + i);
        c_.nodes[n].primary_end = p + blocks;
        if (kind == K_CALL) {
            bool simple = args.size() == arity;
            for (uint32_t i = 0; i < args.size(); i++) simple = simple && c_.nodes[c_.nodes[n].children + i].simple;
            c_.sites[c_.nodes[n].site].simple_args = simple;
            c_.nodes[n].direct = simple && c_.sites[c_.nodes[n].site].callee == CALLEE_FUNCTION;
            if (simple && type == TYPE_ACTION) c_.nodes[n].intrinsic = intrinsic_of(Action(fn->w1));
        }
    }

    static Intrinsic intrinsic_of(Action a) {
        switch (a) {
            case ACT_PICK: return I_PICK;
            case ACT_TAIL_Q: return I_TAIL_Q;
            case ACT_MAKE: return I_MAKE;
            default: return I_NONE;
        }
    }

    static Kind control_kind(uint32_t native) {
        switch (native) {
            case NAT_IF: return K_IF;
            case NAT_UNLESS: return K_UNLESS;
            case NAT_EITHER: return K_EITHER;
            case NAT_LOOP: return K_LOOP;
            case NAT_REPEAT: return K_REPEAT;
            case NAT_WHILE: return K_WHILE;
            case NAT_UNTIL: return K_UNTIL;
            case NAT_FOREVER: return K_FOREVER;
            case NAT_REDUCE: return K_REDUCE;
            default: return K_CALL;
        }
    }
    // How many of a control native's arguments are expressions (the rest are blocks; repeat's word aside).
    static uint32_t control_expressions(Kind k) {
        switch (k) {
            case K_IF:
            case K_UNLESS:
            case K_EITHER:
            case K_LOOP:
            case K_REPEAT: return 1;
            default: return 0;
        }
    }
    static uint32_t control_arity(Kind k) {
        switch (k) {
            case K_EITHER:
            case K_REPEAT: return 3;
            case K_IF:
            case K_UNLESS:
            case K_LOOP:
            case K_WHILE: return 2;
            default: return 1;
        }
    }

    // Whether the native value is the built-in one in shape: the arguments the runner reads, each taking
    // what the runner gives it (blocks for the blocks, a word for repeat's word).
    bool control_fits(Kind k, uint32_t pos, const Param* params, const ArgCache* cache, CallInfo* site) {
        uint32_t arity = control_arity(k);
        uint32_t leading = 0;
        while (leading < cache->count && params[leading].kind != PARAM_REFINEMENT) leading++;
        if (leading != arity || cache->locals != 0) return false;
        uint32_t expressions = control_expressions(k);
        uint32_t first_block = arity - (arity - expressions - (k == K_REPEAT ? 1 : 0));
        for (uint32_t i = 0; i < arity; i++) {
            bool word_arg = k == K_REPEAT && i == 0;
            bool block_arg = i >= first_block;
            uint32_t wanted = word_arg ? PARAM_LITERAL : PARAM_NORMAL;
            if (params[i].kind != wanted) return false;
            if (block_arg && !accepts(params[i], TYPE_BLOCK)) return false;
        }
        if (k == K_REPEAT) {
            if (pos + 1 >= c_.end || !cell_is(cells_ + pos + 1, TYPE_WORD) || !accepts(params[0], TYPE_WORD)) return false;
            site->loop_ref = ref_of(cells_ + pos + 1, &site->loop_word);
        }
        return true;
    }
};

// The buffers being decoded, outermost first: a block nested in itself is not decoded again inside.
std::vector<uint32_t>& g_decoding = *new std::vector<uint32_t>;
constexpr size_t MAX_NESTED_DECODES = 32;

// Decodes a block (its cells from the head of the cell given) into a new form attached to its buffer.
Code* decode(const Cell* block) {
    Series* s = cell_series(block);
    uint32_t start = series_index(block), end = s->cell_count();
    auto code = std::make_unique<Code>();
    code->type = cell_type(block);
    code->node = series_node(block);
    code->start = start;
    code->end = end > start ? end : start;
    // The stack context of the block's words, if any: the first one its words name.
    for (uint32_t i = start; i < end; i++) {
        const Cell* c = s->cells() + i;
        if (!cell_is(c, TYPE_WORD) && !cell_is(c, TYPE_SET_WORD)) continue;
        uint32_t context = word_context(c);
        if (context && context != g_global_context && context_is_stack(context)) {
            code->context = context;
            break;
        }
    }
    Cell* locals = code->context ? running_locals(code->context) : nullptr;
    g_decoding.push_back(code->node);
    struct Pop {
        ~Pop() { g_decoding.pop_back(); }
    } pop;
    Decoder decoder(*code, s->cells(), locals);
    decoder.decode_block();
    for (Node& n : code->nodes) {
        bool global = n.kind < K_CALL || n.ref == REF_GLOBAL;
        for (uint32_t k = 0; k < n.nops; k++) global = global && code->ops[n.ops + k].ref == REF_GLOBAL;
        n.global_guards = global && (!n.term || n.term_ref == REF_GLOBAL);
    }
    if (code->tops.size() == 1) {
        const Node& n = code->nodes[code->tops[0]];
        code->single = n.end == code->end && n.nops == 0 && !n.term && (n.kind == K_LITERAL || n.kind == K_WORD);
        code->simple_single = n.end == code->end && n.simple;
        code->only = &n;  // the nodes stay where they are once decoded
        if (n.kind == K_EITHER || n.kind == K_IF || n.kind == K_UNLESS) code->branch = &n;
    }
    s = cell_series(block);
#if defined(ZOL_ASSERTS)
    code->cells.assign(s->cells() + start, s->cells() + code->end);
#endif
    ZOL_ASSERT(!s->code);
    s->code = code.get();
    code->buffer = s->cells();
    g_code_stats.decoded++;
    return code.release();
}

void Decoder::decode_child(const Cell* block) {
    Series* s = cell_series(block);
    if (s->code || g_decoding.size() >= MAX_NESTED_DECODES) return;
    for (uint32_t node : g_decoding) {
        if (node == series_node(block)) return;
    }
    // Blocks nested in a decoded one are decoded with it, once.
    Cell keep = *block;
    decode(&keep);
}

// Whether a run of the decoded form may be in progress: every run makes its block the current one, so the
// blocks being evaluated tell.
bool may_be_running(const Code* c) {
    if (c->readers) return true;
    if (cell_is(&g_current_block, TYPE_BLOCK) || cell_is(&g_current_block, TYPE_PAREN)) {
        if (g_current_block.w2 == c->node) return true;
    }
    for (uint32_t i = 0; i < g_block_depth; i++) {
        const Cell* b = &g_outer_blocks[i];
        if ((cell_is(b, TYPE_BLOCK) || cell_is(b, TYPE_PAREN)) && b->w2 == c->node) return true;
    }
    return false;
}

// Dropped forms that runs may still be reading: freed once none can be.
std::vector<Code*>& g_retired = *new std::vector<Code*>;

void free_retired() {
    size_t kept = 0;
    for (Code* c : g_retired) {
        if (may_be_running(c)) {
            g_retired[kept++] = c;
        } else {
            delete c;
        }
    }
    g_retired.resize(kept);
}

// Drops a decoded form whose block changed or whose buffer goes: at once, or once no run can be reading it.
void drop_code(Series* s) {
    Code* c = code_of(s);
    s->code = nullptr;
    if (!c) return;
    c->valid = false;
    g_code_stats.dropped++;
    g_drops++;
    // The block is to be decoded afresh after as many runs as the first time, unless that keeps happening.
    uint32_t drops = runs_of(s) >> 1;
    set_runs(s, (drops + 1 < MAX_DROPS ? drops + 1 : MAX_DROPS) << 1);
    if (may_be_running(c)) {
        g_retired.push_back(c);
    } else {
        delete c;
    }
}

void mark_code(void* code) {
    Code* c = static_cast<Code*>(code);
    gc_mark_cells(c->held.data(), c->held.data() + c->held.size());
}

// ------------------------------------------------------------------------------------------------------
// Running

// What the expressions of one run of a decoded block share.
struct Run {
    Code* code;
    const Cell* cells;  // good while the code is valid: the buffer is the same
    Cell* locals;       // the running call's cells, when the code has a context
};

// The block at its decoded head, as the plain evaluator is handed it.
inline Cell block_of(const Run& r) {
    Cell b;
    set_series(&b, r.code->type, r.code->node, r.code->start);
    return b;
}

void run_code(Code* c, const Cell* block, Cell* locals, bool to_slot);
void run_code_scoped(Code* c, Cell* locals, bool to_slot);
uint32_t exec_expr(Run& r, const Node& n);
uint32_t exec_primary(Run& r, const Node& n);
uint32_t exec_paren(Run& r, const Node& n);
uint32_t exec_call(Run& r, const Node& n);
uint32_t call_general(Run& r, const Node& n);
uint32_t exec_set(Run& r, const Node& n);

// A call goes straight to its runner; anything else through exec_primary's switch.
[[gnu::always_inline]] inline uint32_t exec_primary_or_call(Run& r, const Node& n) {
    if (n.kind == K_CALL) return n.direct ? exec_call(r, n) : call_general(r, n);
    return n.kind == K_SET ? exec_set(r, n) : exec_primary(r, n);
}

// The value a word of the code holds now (null when it cannot be read).
[[gnu::always_inline]] inline const Cell* read(const Run& r, RefKind ref, uint32_t index, uint32_t pos) {
    if (ref == REF_LOCAL) return r.locals + index;
    if (ref == REF_GLOBAL) return global_cells() + index;
    return word_slot(r.cells + pos);
}

// Stores a value into a word's slot (a local or global one).
inline void store(const Run& r, RefKind ref, uint32_t index, const Cell* v) {
    if (ref == REF_LOCAL) {
        r.locals[index] = *v;
        return;
    }
    Cell* slot = global_cells() + index;
    global_slot_changing(slot, v);
    *slot = *v;
}

// store for a value that is no function.
[[gnu::always_inline]] inline void store_plain(const Run& r, RefKind ref, uint32_t index, const Cell* v) {
    Cell* slot = ref == REF_LOCAL ? r.locals + index : global_cells() + index;
    if (ref != REF_LOCAL) global_slot_changing_to_plain(slot);
    *slot = *v;
}

// Whether the words a run of the node depends on hold what they held when it was decoded: its call or
// control word the function, each operator word its op!, and the word after it no op!.
bool guards_hold(const Run& r, const Node& n) {
    if (n.kind >= K_CALL) {
        const Cell* v = read(r, n.ref, n.index, n.pos);
        if (!v || !same_value(v, &r.code->sites[n.site].value)) return false;
    }
    const OpSite* op = r.code->ops.data() + n.ops;
    for (const OpSite* last = op + n.nops; op < last; op++) {
        const Cell* v = read(r, op->ref, op->index, op->pos);
        if (!v || !same_value(v, &op->value)) return false;
    }
    if (n.term) {
        const Cell* t = read(r, n.term_ref, n.term_index, n.end);
        if (t && cell_is(t, TYPE_OP)) return false;
    }
    return true;
}

[[gnu::noinline]] bool guards_hold_now(const Run& r, const Node& n) {
    if (!guards_hold(r, n)) return false;
    if (n.global_guards) n.checked = g_global_version;
    return true;
}

// guards_hold, checked once per change of a global slot to or from a function when all the node's words are
// global: no such change since they were last found as decoded means they still are. Called before every
// use of what was decoded, as code run in between may have changed them.
[[gnu::always_inline]] inline bool holds(const Run& r, const Node& n) {
    if (n.checked == g_global_version) {
        ZOL_ASSERT(guards_hold(r, n));
        return true;
    }
    return guards_hold_now(r, n);
}

// A new cell on top holding the value.
[[gnu::always_inline]] inline void push(const Cell* v) {
    Cell* slot = g_args.top;
    if (slot + 1 >= g_args.end) stack_overflow(slot + 1);
    *slot = *v;
    g_args.top = slot + 1;
}

uint32_t eval_arg(Run& r, const Node& n);
const Cell* plain_operand(const Run& r, const Node& n);

// Runs a decoded block: a block of one literal, or of one word holding a plain value (`[k]`, `[none]`), needs
// no step, and a block of one expression (a function body that is an either, a paren) no loop.
[[gnu::always_inline]] inline void run_code_fast(Code* c, const Cell* block, Cell* locals, bool to_slot,
                                                  Checked checked = Checked::nothing) {
    if (!c->only) {
        run_code(c, block, locals, to_slot);
        return;
    }
    Cell* result = g_args.top;
    Run r{c, code_cells(c), locals};
    const Node& n = *c->only;
    if (c->single) {
        if (const Cell* v = plain_operand(r, n)) {
            if (result + 1 >= g_args.end) stack_overflow(result + 1);
            *result = *v;
            g_args.top = result + 1;
            if (to_slot) *g_args.base = *result;
            return;
        }
    }
    BlockScope scope(block, checked);
    ZOL_ASSERT(unchanged(c));
    g_current_block.w1 = c->start;
    uint32_t next = eval_arg(r, n);
    if (unwind_pending()) return;
    if ((!c->valid || next != n.end) && next < c->end) {
        eval_block_from(next, c->end, result);
        if (unwind_pending()) return;
    }
    g_args.top = result + 1;
    if (to_slot) *g_args.base = *result;
}

// Evaluates a block of the code (a branch, a loop body, a paren) through its decoded form when it has one,
// else plainly; the locals of the running code go along when the block reads the same ones.
[[gnu::always_inline]] inline void run_block(const Cell* block, bool to_slot, const Run* parent) {
    Code* c = code_of(cell_series(block));
    if (c && c->start == series_index(block)) {
        Cell* locals = nullptr;
        if (c->context) {
            locals = parent && parent->code->context == c->context ? parent->locals : running_locals(c->context);
            if (!locals) {
                eval_block(block, to_slot);
                return;
            }
        }
        run_code_fast(c, block, locals, to_slot);
        return;
    }
    eval_block(block, to_slot);
}

// The plain evaluator takes over an expression at a position.
[[gnu::noinline, gnu::cold]] uint32_t plain_primary(Run& r, uint32_t pos) {
    Cell block = block_of(r);
    return eval_next(&block, pos, r.code->end, EVAL_PUSH | EVAL_NO_INFIX);
}
[[gnu::noinline, gnu::cold]] uint32_t plain_infix(Run& r, uint32_t pos, Cell* start) {
    Cell block = block_of(r);
    return eval_infix(&block, pos, r.code->end, start, true);
}

// --- expressions that run no code

// The value of a literal or of a word holding a plain value, or null.
[[gnu::always_inline]] inline const Cell* plain_operand(const Run& r, const Node& n) {
    if (n.kind == K_LITERAL) return r.cells + n.pos;
    const Cell* v = read(r, n.ref, n.index, n.pos);
    return v && is_plain_value(cell_type(v)) ? v : nullptr;
}

bool eval_simple_paren(const Run& r, uint32_t at, Cell* out);
bool eval_intrinsic(const Run& r, uint32_t at, Cell* out);

// The value of a literal, of a word holding a plain value, of a paren holding a simple expression or of a
// call answered in place (the last two held in paren_value), or null.
[[gnu::always_inline]] inline const Cell* operand(const Run& r, Operand kind, uint32_t at, Cell* paren_value) {
    const Cell* v;
    switch (kind) {
        case OPERAND_LITERAL: return r.cells + at;
        case OPERAND_PAREN: return eval_simple_paren(r, at, paren_value) ? paren_value : nullptr;
        case OPERAND_CALL: return eval_intrinsic(r, at, paren_value) ? paren_value : nullptr;
        case OPERAND_LOCAL: v = r.locals + at; break;
        case OPERAND_GLOBAL: v = global_cells() + at; break;
        default:
            v = word_slot(r.cells + at);
            if (!v) return nullptr;
            break;
    }
    return is_plain_value(cell_type(v)) ? v : nullptr;
}

// left op right into left, as fast_compute does it for the operator's entry.
[[gnu::always_inline]] inline bool arith(Arith a, Cell* left, const Cell* right) {
    uint32_t lt = cell_type(left), rt = cell_type(right);
    if (lt == TYPE_INTEGER && rt == TYPE_INTEGER) {
        int32_t x = int32_t(left->w2), y = int32_t(right->w2), z;
        switch (a) {
            case A_ADD:
                if (__builtin_add_overflow(x, y, &z)) return set_float(left, double(x) + double(y)), true;
                break;
            case A_SUB:
                if (__builtin_sub_overflow(x, y, &z)) return set_float(left, double(x) - double(y)), true;
                break;
            case A_MUL:
                if (__builtin_mul_overflow(x, y, &z)) return set_float(left, double(x) * double(y)), true;
                break;
            case A_DIV:
                if (y == 0 || (x == INT32_MIN && y == -1)) return false;
                if (x % y != 0) return set_float(left, double(x) / double(y)), true;
                z = x / y;
                break;
            case A_REM:
                if (y == 0 || (x == INT32_MIN && y == -1)) return false;
                z = x % y;
                break;
            case A_EQ:
            case A_SEQ: return set_logic(left, x == y), true;
            case A_NE: return set_logic(left, x != y), true;
            case A_LT: return set_logic(left, x < y), true;
            case A_GT: return set_logic(left, x > y), true;
            case A_LE: return set_logic(left, x <= y), true;
            case A_GE: return set_logic(left, x >= y), true;
            default: return false;
        }
        set_integer(left, z);
        return true;
    }
    if (lt == TYPE_FLOAT && rt == TYPE_FLOAT && a <= A_MUL) {
        double x = cell_float(left), y = cell_float(right);
        set_float(left, a == A_ADD ? x + y : a == A_SUB ? x - y : x * y);
        return true;
    }
    return false;
}

bool eval_simple_int_paren(const Run& r, uint32_t at, int32_t* out);
[[gnu::always_inline]] inline bool paren_int(const Run& r, uint32_t at, int32_t* out);

// An operand that is an integer now, as an int32; false for anything else. A paren is computed in line
// when inline_parens says so (for assignments, where loops spend their time), else through a call.
template <bool inline_parens = false>
[[gnu::always_inline]] inline bool int_operand(const Run& r, Operand kind, uint32_t at, int32_t* out) {
    const Cell* v;
    switch (kind) {
        case OPERAND_LITERAL: v = r.cells + at; break;
        case OPERAND_LOCAL: v = r.locals + at; break;
        case OPERAND_GLOBAL: v = global_cells() + at; break;
        case OPERAND_PAREN: return inline_parens ? paren_int(r, at, out) : eval_simple_int_paren(r, at, out);
        default: return false;
    }
    if (cell_type(v) != TYPE_INTEGER) return false;
    *out = int32_t(v->w2);
    return true;
}

// An integer operator applied in place: false when the answer is not an integer! the operator would give
// (overflow, division by zero or with a remainder), which the general path then computes or raises.
[[gnu::always_inline]] inline bool int_arith(Arith a, int32_t* x, int32_t y, bool* truth) {
    switch (a) {
        case A_ADD: return !__builtin_add_overflow(*x, y, x);
        case A_SUB: return !__builtin_sub_overflow(*x, y, x);
        case A_MUL: return !__builtin_mul_overflow(*x, y, x);
        case A_DIV:
            if (y == 0 || (*x == INT32_MIN && y == -1) || *x % y != 0) return false;
            *x /= y;
            return true;
        case A_REM:
            if (y == 0 || (*x == INT32_MIN && y == -1)) return false;
            *x %= y;
            return true;
        case A_EQ:
        case A_SEQ: *x = *x == y; break;
        case A_NE: *x = *x != y; break;
        case A_LT: *x = *x < y; break;
        case A_GT: *x = *x > y; break;
        case A_LE: *x = *x <= y; break;
        case A_GE: *x = *x >= y; break;
        default: return false;
    }
    *truth = true;
    return true;
}

// A simple node whose operands are all integers and whose operators stay within 32-bit integers, the last
// one possibly a comparison: its value in a register until the end. False when it is not so now (nothing
// is done then; the general evaluation below takes it, floats, overflows and all).
// eval_simple_int for a binary node (see Node::binary).
[[gnu::always_inline]] inline bool eval_binary_int(const Run& r, const Node& n, int32_t* out, bool* logic) {
    const Cell* a = n.operand == OPERAND_LOCAL ? r.locals + n.operand_at : global_cells() + n.operand_at;
    const Cell* b = n.right_operand == OPERAND_LITERAL ? r.cells + n.right_at
                    : n.right_operand == OPERAND_LOCAL ? r.locals + n.right_at
                                                       : global_cells() + n.right_at;
    if (cell_type(a) != TYPE_INTEGER || cell_type(b) != TYPE_INTEGER || !holds(r, n)) return false;
    int32_t x = int32_t(a->w2), y = int32_t(b->w2);
    bool truth = false;
    if (!int_arith(n.arith, &x, y, &truth)) return false;
    *out = x;
    *logic = truth;
    return true;
}

template <bool inline_parens = false>
[[gnu::always_inline]] inline bool eval_simple_int(const Run& r, const Node& n, int32_t* out, bool* logic) {
    if (n.binary) return eval_binary_int(r, n, out, logic);
    int32_t x, y;
    if (!holds(r, n) || !int_operand<inline_parens>(r, n.operand, n.operand_at, &x)) return false;
    const OpSite* op = r.code->ops.data() + n.ops;
    const OpSite* last = op + n.nops;
    bool truth = false;
    for (; op < last; op++) {
        // A comparison's logic! result is no integer operand for an operator after it.
        if (truth || !int_operand<inline_parens>(r, op->right_operand, op->right_at, &y)) return false;
        if (!int_arith(op->arith, &x, y, &truth)) return false;
    }
    *out = x;
    *logic = truth;
    return true;
}

// A simple node's value (a literal or word, then arithmetic and comparison operators over literals and
// words, as decoded): computed into out as eval.cpp's simple expressions are, without an evaluation step.
// False, with nothing else done, when it is not of that kind now.
template <bool inline_parens = false>
[[gnu::always_inline]] inline bool eval_simple(const Run& r, const Node& n, Cell* out) {
    int32_t x;
    bool logic;
    // A lone operand is copied as it is: only operators gain from the integer path.
    if (n.nops && eval_simple_int<inline_parens>(r, n, &x, &logic)) {
        if (logic) {
            set_logic(out, x != 0);
        } else {
            set_integer(out, x);
        }
        return true;
    }
    if (!holds(r, n)) return false;
    Cell paren;
    const Cell* v = operand(r, n.operand, n.operand_at, &paren);
    if (!v) return false;
    *out = *v;
    for (uint32_t k = 0; k < n.nops; k++) {
        const OpSite& op = r.code->ops[n.ops + k];
        const Cell* right = operand(r, op.right_operand, op.right_at, &paren);
        if (!right || !arith(op.arith, out, right)) return false;
    }
    return true;
}

// A paren operand of the code (its entry in Code::parens) when it holds one simple expression now: a run of
// its decoded form in sub. Remembered for the next time when it reads the same locals.
[[gnu::noinline]] bool look_up_paren(const Run& r, uint32_t at, Run* sub) {
    ParenOperand& p = r.code->parens[at];
    const Cell* paren = r.cells + p.pos;
    Code* c = code_of(cell_series(paren));
    if (!c || !c->simple_single || c->start != series_index(paren)) return false;
    Cell* locals = r.locals;
    if (c->context != r.code->context && c->context && !(locals = running_locals(c->context))) return false;
    *sub = Run{c, code_cells(c), locals};
    if (locals == r.locals) {
        p.code = c;
        p.drops = g_drops;
    }
    return true;
}

[[gnu::always_inline]] inline bool paren_run(const Run& r, uint32_t at, Run* sub) {
    const ParenOperand& p = r.code->parens.data()[at];
    if (p.drops != g_drops) return look_up_paren(r, at, sub);
    *sub = Run{p.code, code_cells(p.code), r.locals};
    return true;
}

// The value of a paren operand of the code that holds one simple expression, as eval.cpp's simple parens:
// false when it does not now.
[[gnu::noinline]] bool eval_simple_paren(const Run& r, uint32_t at, Cell* out) {
    Run sub;
    return paren_run(r, at, &sub) && eval_simple(sub, *sub.code->only, out);
}

// An argument of such a call: a lone operand read where it stands (a word, literal or paren has nothing to
// check), any other simple expression computed into tmp. Null when it is not simple now.
[[gnu::always_inline]] inline const Cell* intrinsic_arg(const Run& r, const Node& a, Cell* tmp) {
    if (a.nops == 0 && !a.term && a.kind != K_CALL) return operand(r, a.operand, a.operand_at, tmp);
    return eval_simple(r, a, tmp) ? tmp : nullptr;
}

// A call of an intrinsic action (its node at at) answered in place: false, with nothing done, when the word
// no longer holds the action or the arguments or the answer are not of the case answered here (the call
// then runs).
[[gnu::noinline]] bool eval_intrinsic(const Run& r, uint32_t at, Cell* out) {
    const Node& n = r.code->nodes.data()[at];
    if (!holds(r, n)) return false;
    const Node* args = r.code->nodes.data() + n.children;
    Cell tmp[2];
    const Cell* series = intrinsic_arg(r, args[0], &tmp[0]);
    if (!series) return false;
    if (n.intrinsic == I_MAKE) {
        // make block! with a size: a small buffer taken without collecting (else the call makes it).
        const Cell* size = intrinsic_arg(r, args[1], &tmp[1]);
        if (!cell_is(series, TYPE_DATATYPE) || datatype_id(series) != TYPE_BLOCK || !size ||
            !cell_is(size, TYPE_INTEGER) || cell_int(size) < 0) {
            return false;
        }
        uint32_t node = series_alloc_cells_now(uint64_t(cell_int(size)));
        if (!node) return false;
        set_series(out, TYPE_BLOCK, node);
        return true;
    }
    if (!cell_is(series, TYPE_BLOCK)) return false;
    switch (n.intrinsic) {
        case I_PICK: {
            const Cell* index = intrinsic_arg(r, args[1], &tmp[1]);
            if (!index || !cell_is(index, TYPE_INTEGER)) return false;
            // A function or unset picked goes the general way: a simple value is never one (assignments
            // store simple values as plain ones).
            const Cell* v = block_pick_cell(series, cell_int(index));
            if (v && !is_plain_value(cell_type(v))) return false;
            *out = v ? *v : g_none_value;
            return true;
        }
        case I_TAIL_Q: set_logic(out, series_at_tail(series)); return true;
        default: return false;
    }
}

bool eval_general_int(const Run& r, const Node& n, int32_t* out, bool* logic);

// The integer value of a paren of the code holding one simple expression over integers.
[[gnu::always_inline]] inline bool paren_int(const Run& r, uint32_t at, int32_t* out) {
    Run sub;
    if (!paren_run(r, at, &sub)) return false;
    const Node& n = *sub.code->only;
    bool logic;
    if (n.binary) return eval_binary_int(sub, n, out, &logic) && !logic;
    return eval_general_int(sub, n, out, &logic) && !logic;
}

[[gnu::noinline]] bool eval_simple_int_paren(const Run& r, uint32_t at, int32_t* out) { return paren_int(r, at, out); }

// eval_simple_int out of line, for a paren holding more than one operator.
[[gnu::noinline]] bool eval_general_int(const Run& r, const Node& n, int32_t* out, bool* logic) {
    return eval_simple_int(r, n, out, logic);
}

// The value of an expression that runs no code and raises nothing, parens of such included, as eval.cpp's
// simple expressions: for assignments, which need no frame then.
bool try_simple(const Run& r, const Node& n, Cell* out, int depth);

bool simple_paren(const Run& r, const Node& n, Cell* out, int depth) {
    if (depth > 8) return false;
    const Cell* paren = r.cells + n.pos;
    Code* c = code_of(cell_series(paren));
    if (!c || c->start != series_index(paren) || c->tops.size() != 1) return false;
    const Node& inner = c->nodes[c->tops[0]];
    if (inner.end != c->end) return false;
    Cell* locals = r.locals;
    if (c->context != r.code->context) {
        if (c->context && !(locals = running_locals(c->context))) return false;
    }
    Run sub{c, cell_series(paren)->cells(), locals};
    return try_simple(sub, inner, out, depth + 1);
}

inline bool simple_operand(const Run& r, const Node& n, Cell* out, int depth) {
    if (n.kind == K_LITERAL || n.kind == K_WORD) {
        const Cell* v = plain_operand(r, n);
        if (!v) return false;
        *out = *v;
        return true;
    }
    return n.kind == K_PAREN && simple_paren(r, n, out, depth);
}

bool try_simple(const Run& r, const Node& n, Cell* out, int depth) {
    if (n.simple) return eval_simple(r, n, out);
    if (n.end == UNKNOWN || !holds(r, n) || !simple_operand(r, n, out, depth)) return false;
    for (uint32_t k = 0; k < n.nops; k++) {
        const OpSite& op = r.code->ops[n.ops + k];
        if (op.fast == FAST_NONE) return false;
        Cell right;
        if (!simple_operand(r, r.code->nodes.data()[op.right], &right, depth) || !fast_compute(op.fast, op.cmp, out, &right)) return false;
    }
    return true;
}

// --- expressions

// One operator whose word still holds the decoded op!, its left operand at start: as eval_infix does it.
uint32_t exec_op(Run& r, const OpSite& op, Cell* start) {
    g_args.top = start;
    uint32_t rp = op.pos + 1;
    if (op.fast != FAST_NONE) {
        const Node& right = r.code->nodes.data()[op.right];
        const Cell* cell = r.cells + rp;
        const Cell* value = cell;
        if (right.kind == K_CALL) {
            value = nullptr;  // a call (its runner checks that the word still holds the function)
        } else if (cell_is(cell, TYPE_WORD)) {
            value = right.kind == K_WORD ? read(r, right.ref, right.index, rp) : word_slot(cell);
        }
        // A number on the right: no call needed.
        if (value && fast_compute(op.fast, op.cmp, start, value)) {
            g_args.top = start + 1;
            return rp + 1;
        }
        if (!value || cell_is(value, TYPE_PAREN) || is_function_type(cell_type(value))) {
            // Any other right operand is evaluated first; two numbers are then computed in place and
            // anything else goes to the operator's function with both operands in place.
            g_args.top = start + 1;
            uint32_t q = exec_primary_or_call(r, right);
            if (unwind_pending()) return q;
            if (fast_compute(op.fast, op.cmp, start, start + 1)) {
                g_args.top = start + 1;
            } else {
                Cell name = r.cells[op.pos];
                call_operator(&op.value, start, &name, true);
            }
            return q;
        }
    }
    Cell name = r.cells[op.pos], fn = op.value, block = block_of(r);
    return interp_apply(&fn, CallSite{.block = &block, .position = rp, .end = r.code->end, .name = &name, .infix = true, .push = true});
}

// An expression: its value pushed; returns the position after it.
uint32_t exec_expr(Run& r, const Node& n) {
    Cell* start = g_args.top;
    if (n.simple) {
        if (start + 1 >= g_args.end) stack_overflow(start + 1);
        if (eval_simple(r, n, start)) {
            g_args.top = start + 1;
            return n.end;
        }
    }
    // A paren on the left (`(fib k - 1) + ...`) goes to its runner without the switch.
    uint32_t p;
    if (n.kind == K_PAREN) {
        // A paren on the left (`(fib k - 1) + ...`) runs here, without a runner of its own.
        Cell paren = r.cells[n.pos];
        run_block(&paren, false, &r);
        p = n.pos + 1;
    } else {
        p = exec_primary(r, n);
    }
    if (unwind_pending()) return p;
    if (!r.code->valid || p != n.primary_end) return plain_infix(r, p, start);
    for (uint32_t k = 0; k < n.nops; k++) {
        if (!holds(r, n)) return plain_infix(r, p, start);
        const OpSite& op = r.code->ops[n.ops + k];
        p = exec_op(r, op, start);
        if (unwind_pending()) return p;
        if (!r.code->valid || p != r.code->nodes.data()[op.right].primary_end) return plain_infix(r, p, start);
    }
    // A word after the expression that has become an operator since takes it as its left operand.
    if (n.term && !holds(r, n)) return plain_infix(r, n.end, start);
    return n.end;
}

// An expression whose value is wanted on top (an argument, a condition, an expression of the block): the
// simple ones computed in place, the ones without operators straight to their primary.
[[gnu::always_inline]] inline uint32_t eval_arg(Run& r, const Node& n) {
    Cell* start = g_args.top;
    if (n.simple) {
        if (start + 1 >= g_args.end) stack_overflow(start + 1);
        if (eval_simple(r, n, start)) {
            g_args.top = start + 1;
            return n.end;
        }
    } else if (n.nops == 0 && !n.term) {
        uint32_t p = exec_primary_or_call(r, n);
        if (unwind_pending()) return p;
        if (!r.code->valid || p != n.end) return plain_infix(r, p, start);
        return p;
    }
    return exec_expr(r, n);
}

// --- calls

// The leading arguments from the i-th on, fetched plainly from position p (after a decoded one ended
// elsewhere than decoded, or where the decoder stopped).
[[gnu::noinline, gnu::cold]] uint32_t fetch_plain(Run& r, const CallInfo& site, const Cell* fn, uint32_t i, uint32_t p) {
    const ArgCache* cache = arg_cache(fn);  // built when the call was decoded
    const Param* params = params_of(cache);
    for (; i < site.leading; i++) {
        if (p >= r.code->end) {
            Cell word = param_word(params[i]);
            fire(ERR_SCRIPT_NO_ARG, &site.name, &word);
        }
        Cell block = block_of(r);
        p = fetch_one(params[i], &block, p, r.code->end, false, APPLY_CODE, &site.name);
        if (unwind_pending()) return p;
        if (!accepts(params[i], stack_top_type())) expect_arg(&site.name, stack_top(), params[i]);
    }
    return p;
}

[[noreturn, gnu::noinline, gnu::cold]] void refuse_arg(const CallInfo& site, const Cell* fn, const Cell* arg, uint32_t i) {
    expect_arg(&site.name, arg, params_of(arg_cache(fn))[i]);
}

// The decoded argument expressions of a call, each pushed and type-checked; the rest plainly. Returns the
// position after the arguments.
[[gnu::always_inline]] inline uint32_t fetch_args(Run& r, const Node& n, const CallInfo& site, const Cell* fn,
                                                  uint32_t skip) {
    uint32_t p = n.pos + 1 + skip;
    const uint64_t* types = r.code->types.data() + site.types + skip;
    const Node* args = r.code->nodes.data() + n.children;
    uint32_t i = 0;
    for (; i < n.nchildren; i++) {
        p = eval_arg(r, args[i]);
        if (unwind_pending()) return p;
        const Cell* arg = g_args.top - 1;
        if (!((types[i] >> cell_type(arg)) & 1)) refuse_arg(site, fn, arg, skip + i);
        if (!r.code->valid || p != args[i].end) {
            i++;
            break;
        }
    }
    if (skip + i < site.leading) p = fetch_plain(r, site, fn, skip + i, p);
    return p;
}

// Runs an interpreted function's body for the call whose frame is on top: its context points at the call's
// cells meanwhile, and return and exit stop here with the result in place.
// Points a function's context at the argument cells of its running call, and back on every way out.
class CallValues {
public:
    CallValues(Cell* context, uint32_t values) : context_(context), saved_(context->w2) { context->w2 = values; }
    ~CallValues() { context_->w2 = saved_; }
    CallValues(const CallValues&) = delete;
    CallValues& operator=(const CallValues&) = delete;

private:
    Cell* context_;
    uint32_t saved_;
};

[[gnu::always_inline]] inline void run_function(const CallInfo& site) {
    CallValues values(site.context, stack_index(g_args.base));
    g_frames.top[-1].header |= FRAME_RETURN_TARGET;
    Code* c = code_of(cell_series(&site.body));
    if (c && c->start == series_index(&site.body) && (c->context == site.value.w1 || !c->context)) {
        run_code_fast(c, &site.body, g_args.base, true);
    } else {
        Cell body = site.body;
        eval_block(&body, true);
    }
    if (unwind_pending()) {
        if (g_system.pending != UNWIND_RETURN && g_system.pending != UNWIND_EXIT) return;
        g_system.pending = UNWIND_NONE;  // addressed to this call: its result is in place
    }
    frame_clear_return_target(g_frames.top - 1);
}

// The decoded form of a function's body that a call can run with the call's cells as its locals, or null.
[[gnu::noinline]] Code* look_up_body(const CallInfo& site) {
    Code* c = code_of(cell_series(&site.body));
    if (c && c->start == series_index(&site.body) && (c->context == site.value.w1 || !c->context)) {
        site.found[0] = c;
        site.found_drops = g_drops;
        return c;
    }
    return nullptr;
}
[[gnu::always_inline]] inline Code* body_code(const CallInfo& site) {
    return site.found_drops == g_drops ? site.found[0] : look_up_body(site);
}

// The decoded form of a branch block of the code, when it has one that reads the code's locals (or none).
[[gnu::always_inline]] inline Code* branch_code(const Run& r, const Cell* block) {
    Code* c = code_of(cell_series(block));
    if (!c || c->start != series_index(block) || (c->context && c->context != r.code->context)) return nullptr;
    return c;
}

// The value of a branch block that is one literal, or one word holding a plain value, when it is decoded as
// such: taking it runs no code and can raise nothing. Null otherwise.
[[gnu::always_inline]] inline const Cell* leaf_value(const Run& r, const Cell* block) {
    Code* c = branch_code(r, block);
    if (!c || !c->single) return nullptr;
    return plain_operand(Run{c, code_cells(c), r.locals}, *c->only);
}

// The position after a branch native's blocks.
inline uint32_t branch_end(const Code* c, const Node& n) {
    return c->nodes.data()[n.children].end + (n.kind == K_EITHER ? 2 : 1);
}

// A branch native's condition that is a call answered in place (`either tail? t ...`): as int_condition.
[[gnu::always_inline]] inline bool call_condition(const Run& r, const Node& a, const CallInfo& site, Cell* value, bool* truth) {
    if (!eval_intrinsic(r, a.operand_at, value)) return false;
    uint32_t t = cell_type(value);
    if (!((r.code->types.data()[site.types] >> t) & 1) || t == TYPE_UNSET) return false;
    *truth = cell_true(value);
    return true;
}

// The condition of a branch native (either, if, unless) when it is a simple expression over integers or a
// call answered in place: its value, and whether it is true. False when it is not such now (nothing is done
// then).
[[gnu::always_inline]] inline bool int_condition(const Run& r, const Node& n, const CallInfo& site, Cell* value, bool* truth) {
    const Node& a = r.code->nodes.data()[n.children];
    int32_t x;
    bool logic;
    if (!a.simple) return false;
    if (!eval_simple_int(r, a, &x, &logic)) return a.nops == 0 && a.operand == OPERAND_CALL && call_condition(r, a, site, value, truth);
    if (!site.cond_int_logic && !((r.code->types.data()[site.types] >> (logic ? TYPE_LOGIC : TYPE_INTEGER)) & 1)) return false;
    *truth = !logic || x != 0;  // any integer is true
    if (logic) {
        set_logic(value, x != 0);
    } else {
        set_integer(value, x);
    }
    return true;
}

// The branch the native takes (null: none) by the truth of its condition.
[[gnu::always_inline]] inline const Cell* branch_taken(const Run& r, const Node& n, bool truth) {
    const Cell* first = r.cells + r.code->nodes.data()[n.children].end;
    switch (n.kind) {
        case K_IF: return truth ? first : nullptr;
        case K_UNLESS: return truth ? nullptr : first;
        default: return first + (truth ? 0 : 1);
    }
}

// The branch a body that is a branch native takes, when its condition was computed without running code.
struct Taken {
    Cell condition;      // the condition's value
    Cell value;          // the branch's value, when it was one simple expression computed here
    const Cell* branch;  // the block taken, null for none
    Code* code;          // its decoded form when it reads the call's cells (or none), else null
};

// The decoded forms of a branch native's blocks, kept in its site once all of them have one: the one of the
// block taken.
[[gnu::noinline]] Code* look_up_branches(const Run& r, const Node& n, const CallInfo& site, const Cell* branch) {
    const Cell* first = r.cells + r.code->nodes.data()[n.children].end;
    uint32_t count = n.kind == K_EITHER ? 2 : 1;
    Code* found[2] = {branch_code(r, first), count == 2 ? branch_code(r, first + 1) : nullptr};
    if (found[0] && (count == 1 || found[1])) {
        site.found[0] = found[0];
        site.found[1] = found[1];
        site.found_drops = g_drops;
    }
    return found[branch - first];
}
[[gnu::always_inline]] inline Code* taken_code(const Run& r, const Node& n, const CallInfo& site, const Cell* branch) {
    if (site.found_drops != g_drops) return look_up_branches(r, n, site, branch);
    return site.found[branch - (r.cells + r.code->nodes.data()[n.children].end)];
}

// The value of a branch block of one simple expression, computed into value; null when it is not simple now.
[[gnu::noinline]] const Cell* simple_branch(Code* b, Cell* locals, Cell* value) {
    return eval_simple(Run{b, code_cells(b), locals}, *b->only, value) ? value : nullptr;
}

// A function body that is a branch (either, if, unless) on a condition over integers, for the call whose
// cells are locals: the value of the branch taken when it is one simple expression (nothing is run and
// nothing can be raised on the way), else null, with *computed set when the condition was computed into
// taken.
[[gnu::always_inline]] inline const Cell* leaf_body(Code* c, Cell* locals, Taken* taken, bool* computed) {
    *computed = false;
    const Node& n = *c->branch;
    Run r{c, code_cells(c), locals};
    const CallInfo& site = c->sites[n.site];
    bool truth;
    if (!holds(r, n) || !int_condition(r, n, site, &taken->condition, &truth)) return nullptr;
    *computed = true;
    const Cell* branch = branch_taken(r, n, truth);
    taken->branch = branch;
    if (!branch) return &g_none_value;
    Code* b = taken_code(r, n, site, branch);
    taken->code = b;
    if (!b) return nullptr;
    if (b->single) return plain_operand(Run{b, code_cells(b), locals}, *b->only);
    return b->simple_single ? simple_branch(b, locals, &taken->value) : nullptr;
}

uint32_t branch_framed(Run& r, const Node& n, const CallInfo& site, const Cell* condition);
[[gnu::always_inline]] inline uint32_t branch_in_frame(Run& r, const Node& n, const CallInfo& site, const Cell* condition);

// Pops the frame on top, pushed while caller was the argument base, as unwind_frame does: its result cell
// becomes the caller's newest; the base comes from the caller, not converted back from the frame.
[[gnu::always_inline]] inline void pop_frame_to(Cell* caller) {
    ZOL_ASSERT(g_frames.top > g_frames.start && stack_cell(g_frames.top[-1].prev_base) == caller);
    g_frames.top--;
    g_args.top = g_args.base + 1;
    g_args.base = caller;
}

// Pops a call's frame (pushed while caller was the base) and leaves its result where the function's copy stood.
[[gnu::always_inline]] inline void pop_call(Cell* caller, Cell* copy) {
    pop_frame_to(caller);
    *copy = *(g_args.top - 1);
    g_args.top = copy + 1;
}

// A call, its function's copy pushed at copy: the arguments fetched into the frame, then the function run.
[[gnu::always_inline]] inline uint32_t call_in_frame(Run& r, const Node& n, const CallInfo& site, Cell* copy) {
    Cell* caller = g_args.base;
    mark_frame(site.symbol, site.word_context, site.frame_kind);
    uint32_t p = fetch_args(r, n, site, copy, 0);
    if (unwind_pending()) return p;
    if (site.callee == CALLEE_ENTRY) {
        call_entry(cell_type(copy), copy->w1, NO_REFINEMENTS);
    } else {
        Cell* top = g_args.top;
        if (top + site.nfill >= g_args.end) stack_overflow(top + site.nfill);
        const Cell* fill = r.code->fills.data() + site.fill;
        for (uint32_t i = 0; i < site.nfill; i++) top[i] = fill[i];
        g_args.top = top + site.nfill;
        if (site.callee == CALLEE_FUNCTION) {
            run_function(site);
        } else {
            Cell name = site.name;
            interp_invoke(copy, 0, &name, 0);
        }
    }
    if (unwind_pending()) return p;
    pop_call(caller, copy);
    return p;
}

// A call of a function! whose cells (arguments, then refinements and locals) stand above the function's copy
// already: its frame, then its body.
[[gnu::noinline]] uint32_t call_in_place(const CallInfo& site, Cell* copy, uint32_t count, uint32_t p) {
    Cell* caller = g_args.base;
    g_args.top = copy + 1;
    mark_frame(site.symbol, site.word_context, site.frame_kind);
    g_args.top = copy + 1 + count + site.nfill;
    run_function(site);
    if (unwind_pending()) return p;
    pop_call(caller, copy);
    return p;
}

// A run of a decoded form whose block is not made current (see may_be_running): the form stays while it
// lasts.
class CodeReader {
public:
    explicit CodeReader(Code* c) : code_(c) {
        if (c) c->readers++;
    }
    ~CodeReader() {
        if (code_) code_->readers--;
    }
    CodeReader(const CodeReader&) = delete;
    CodeReader& operator=(const CodeReader&) = delete;

private:
    Code* code_;
};

// The same for a body that is a branch native whose condition was computed (taken): the function's frame,
// the native's, then the branch, as run_function and the native would run them. The frames are popped
// back to the bases this call knows, with nothing to convert.
[[gnu::noinline]] uint32_t call_branch(const CallInfo& site, Code* c, Cell* copy, uint32_t count, const Taken& taken,
                                       uint32_t p) {
    Cell* caller = g_args.base;
    Cell* base = copy + 1;
    Cell* result = base + count + site.nfill;
    g_args.top = base;
    mark_frame(site.symbol, site.word_context, site.frame_kind | FRAME_RETURN_TARGET);
    g_args.top = result;
    {
        CallValues values(site.context, stack_index(base));
        const Node& n = *c->only;
        const CallInfo& native = c->sites[n.site];
        // Nothing of the body but its branch runs, and the branch becomes the current block: the body is
        // read, not made current (an error names the branch, the native and the function alike).
        CodeReader reading(c);
        // The function's frame checked the machine stack for this C++ frame; room for the native's frame
        // and then the branch's block is checked at once.
        if (g_frames.top + g_block_depth + 1 >= g_frames.end) stack_overflow(g_args.top);
        mark_frame_unchecked(native.symbol, native.word_context, KH_INTERP_CALL);
        push(&taken.condition);
        if (taken.branch) {
            Cell block = *taken.branch;
            if (taken.code) {
                run_code_fast(taken.code, &block, taken.code->context ? base : nullptr, true, Checked::all);
            } else {
                Run r{c, code_cells(c), base};
                run_block(&block, true, &r);
            }
        } else {
            natives::result_none();
        }
        if (!unwind_pending()) {
            ZOL_ASSERT(g_args.base == result && stack_cell(g_frames.top[-1].prev_base) == base);
            g_frames.top--;
            g_args.base = base;
            g_args.top = result + 1;
            // The native is the whole body (cells added to the body meanwhile wait for its next run).
            ZOL_ASSERT(branch_end(c, n) == c->end);
            *base = *result;
        }
    }
    if (unwind_pending()) {
        if (g_system.pending != UNWIND_RETURN && g_system.pending != UNWIND_EXIT) return p;
        g_system.pending = UNWIND_NONE;  // addressed to this call: its result is in place
    }
    ZOL_ASSERT(g_args.base == base && stack_cell(g_frames.top[-1].prev_base) == caller);
    g_frames.top--;
    g_args.base = caller;
    *copy = *base;
    g_args.top = copy + 1;
    return p;
}

[[gnu::noinline]] uint32_t call_framed(Run& r, const Node& n, const CallInfo& site, Cell* copy) {
    return call_in_frame(r, n, site, copy);
}

// A native or action whose arguments are all simple: they go straight into its cells, and its frame is
// pushed round the entry alone, as nothing before it can raise or run code.
[[gnu::always_inline]] inline uint32_t entry_direct(Run& r, const Node& n, const CallInfo& site, Cell* copy) {
    uint32_t count = n.nchildren;
    if (copy + 1 + count + 1 >= g_args.end) stack_overflow(copy + 1);
    *copy = site.value;
    Cell* cells = copy + 1;
    const Node* args = r.code->nodes.data() + n.children;
    const uint64_t* types = r.code->types.data() + site.types;
    for (uint32_t i = 0; i < count; i++) {
        if (!eval_simple(r, args[i], cells + i) || !((types[i] >> cell_type(cells + i)) & 1)) {
            g_args.top = cells;  // the general path computes them again and reports a refused one
            return call_framed(r, n, site, copy);
        }
    }
    uint32_t p = count ? args[count - 1].end : n.pos + 1;
    Cell* caller = g_args.base;
    g_args.top = cells;
    mark_frame(site.symbol, site.word_context, site.frame_kind);
    g_args.top = cells + count;
    call_entry(cell_type(copy), copy->w1, NO_REFINEMENTS);
    if (unwind_pending()) return p;
    pop_call(caller, copy);
    return p;
}

// A call whose arguments are not all simple, or of a function that is not an interpreted function!.
[[gnu::noinline]] uint32_t call_general(Run& r, const Node& n) {
    if (!holds(r, n)) return plain_primary(r, n.pos);
    const CallInfo& site = r.code->sites[n.site];
    Cell* copy = g_args.top;  // keeps the function alive; its result takes this place
    if (site.callee == CALLEE_ENTRY && site.simple_args) return entry_direct(r, n, site, copy);
    push(&site.value);
    return call_in_frame(r, n, site, copy);
}

// A call of a function! whose arguments are all simple (Node::direct).
[[gnu::noinline]] uint32_t exec_call(Run& r, const Node& n) {
    if (!holds(r, n)) return plain_primary(r, n.pos);
    const CallInfo& site = r.code->sites[n.site];
    Cell* copy = g_args.top;  // keeps the function alive; its result takes this place
    if (copy + 1 + n.nchildren + site.nfill + 1 >= g_args.end) stack_overflow(copy + 1);
    *copy = site.value;
    // Arguments that run no code and raise nothing go straight into the call's cells; a body that is a branch
    // to one value then gives the result with no frame, which nobody could have seen.
    Code* c = body_code(site);
    Cell* cells = copy + 1;
    const Node* args = r.code->nodes.data() + n.children;
    const uint64_t* types = r.code->types.data() + site.types;
    uint32_t count = n.nchildren;
    int32_t x;
    bool logic;
    if (count == 1 && args[0].binary && eval_binary_int(r, args[0], &x, &logic)) {
        // One argument over integers (`fib k - 1`): computed in a register, without the loop.
        if (logic) {
            set_logic(cells, x != 0);
        } else {
            set_integer(cells, x);
        }
        if (!((types[0] >> cell_type(cells)) & 1)) {
            g_args.top = copy + 1;
            return call_framed(r, n, site, copy);
        }
    } else {
        for (uint32_t i = 0; i < count; i++) {
            // A call answered in place (`check pick t 1`) checks its own words: straight into the cell.
            const Node& a = args[i];
            bool done = a.operand == OPERAND_CALL && a.nops == 0 ? eval_intrinsic(r, a.operand_at, cells + i)
                                                                 : eval_simple(r, a, cells + i);
            if (!done || !((types[i] >> cell_type(cells + i)) & 1)) {
                g_args.top = copy + 1;
                return call_framed(r, n, site, copy);
            }
        }
    }
    const Cell* fill = r.code->fills.data() + site.fill;
    for (uint32_t k = 0; k < site.nfill; k++) cells[count + k] = fill[k];
    uint32_t p = n.primary_end;  // after the arguments
    ZOL_ASSERT(p == (count ? args[count - 1].end : n.pos + 1));
    Taken taken;
    bool computed = false;
    if (c && c->branch) {
        if (const Cell* value = leaf_body(c, cells, &taken, &computed)) {
            *copy = *value;
            g_args.top = copy + 1;
            return p;
        }
    }
    return computed ? call_branch(site, c, copy, count, taken, p) : call_in_place(site, copy, count, p);
}

// --- control natives run in place

// The frame a control native would have: named by its word, its arguments from the base up.
inline bool enter_control(Run& r, const Node& n, const CallInfo& site) {
    if (!holds(r, n)) return false;
    mark_frame(site.symbol, site.word_context, KH_INTERP_CALL);
    return true;
}

// After a decoded argument ended elsewhere: the rest of the arguments plainly, then the native itself.
[[gnu::noinline]] uint32_t finish_plainly(Run& r, const CallInfo& site, uint32_t done, uint32_t p) {
    p = fetch_plain(r, site, &site.value, done, p);
    if (unwind_pending()) return p;
    call_entry(TYPE_NATIVE, site.value.w1, NO_REFINEMENTS);
    if (unwind_pending()) return p;
    unwind_frame();
    return p;
}

// Evaluates the condition or count expression into the base; false when the native is to finish plainly
// (*p is then where the expression ended) or an exit is pending.
[[gnu::always_inline]] inline bool control_argument(Run& r, const Node& n, const CallInfo& site, uint32_t skip, uint32_t* p) {
    const Node& a = r.code->nodes.data()[n.children];
    *p = eval_arg(r, a);
    if (unwind_pending()) return false;
    const Cell* arg = g_args.top - 1;
    if (!((r.code->types.data()[site.types + skip] >> cell_type(arg)) & 1)) refuse_arg(site, &site.value, arg, skip);
    return r.code->valid && *p == a.end;
}

// What a loop does with the exit its body left pending: true to go on (none, or continue), false to stop
// (break); an exit for someone else stays pending and stops it too.
inline bool loop_goes_on(bool* passed) {
    if (!unwind_pending()) return true;
    switch (g_system.pending) {
        case UNWIND_BREAK: g_system.pending = UNWIND_NONE; return false;
        case UNWIND_CONTINUE: g_system.pending = UNWIND_NONE; return true;
        default: *passed = true; return false;
    }
}

// A branch native in its frame: the condition given (when it was computed already) or evaluated now, then the
// branch taken.
[[gnu::always_inline]] inline uint32_t branch_in_frame(Run& r, const Node& n, const CallInfo& site, const Cell* condition) {
    uint32_t blocks = n.kind == K_EITHER ? 2 : 1;
    uint32_t p = r.code->nodes.data()[n.children].end;
    Cell* caller = g_args.base;
    mark_frame(site.symbol, site.word_context, KH_INTERP_CALL);
    if (condition) {
        push(condition);
    } else if (!control_argument(r, n, site, 0, &p)) {
        if (unwind_pending()) return p;
        return finish_plainly(r, site, 1, p);
    }
    const Cell* branch = nullptr;
    switch (n.kind) {
        case K_IF: branch = logic_false() ? nullptr : r.cells + p; break;
        case K_UNLESS: branch = logic_false() ? r.cells + p : nullptr; break;
        default: branch = r.cells + p + (logic_true() ? 0 : 1); break;
    }
    if (branch) {
        Cell block = *branch;
        run_block(&block, true, &r);
        if (unwind_pending()) return p + blocks;
    } else {
        natives::result_none();
    }
    pop_frame_to(caller);
    return p + blocks;
}

[[gnu::noinline]] uint32_t branch_framed(Run& r, const Node& n, const CallInfo& site, const Cell* condition) {
    return branch_in_frame(r, n, site, condition);
}

[[gnu::noinline]] uint32_t exec_branch(Run& r, const Node& n) {
    if (!holds(r, n)) return plain_primary(r, n.pos);
    const CallInfo& site = r.code->sites[n.site];
    Cell condition;
    bool truth;
    if (!int_condition(r, n, site, &condition, &truth)) return branch_in_frame(r, n, site, nullptr);
    // A condition that runs no code, then a branch that runs none either: the native's frame would be seen by
    // nobody, so it is left out.
    const Cell* branch = branch_taken(r, n, truth);
    if (const Cell* value = branch ? leaf_value(r, branch) : &g_none_value) {
        push(value);
        return r.code->nodes.data()[n.children].end + (n.kind == K_EITHER ? 2 : 1);
    }
    return branch_framed(r, n, site, &condition);
}

// The loop frame of a loop native: its result slot receives each run of the body, and break and continue
// stop there.
inline void enter_loop() { stack_mark_loop(&g_word[W_BODY]); }

// The end of a loop native: the loop frame's result becomes the native's, and the native's frame goes.
inline void leave_loop() {
    unwind_frame_return();
    unwind_frame();
}

// The decoded form of a loop body and the locals it reads, when it has one that the loop can run.
[[gnu::noinline]] Code* loop_code(const Run& r, const Cell* body, Cell** locals) {
    Code* c = code_of(cell_series(body));
    if (!c || c->start != series_index(body)) return nullptr;
    *locals = r.locals;
    if (c->context && c->context != r.code->context && !(*locals = running_locals(c->context))) return nullptr;
    return c;
}

[[gnu::noinline]] uint32_t exec_loop(Run& r, const Node& n) {
    const CallInfo& site = r.code->sites[n.site];
    bool repeat = n.kind == K_REPEAT;
    if (!enter_control(r, n, site)) return plain_primary(r, n.pos);
    Cell* word = nullptr;
    if (repeat) {
        word = g_args.top;
        push(r.cells + n.pos + 1);
    }
    uint32_t p;
    if (!control_argument(r, n, site, repeat ? 1 : 0, &p)) {
        if (unwind_pending()) return p;
        return finish_plainly(r, site, repeat ? 2 : 1, p);
    }
    int64_t count = natives::loop_count(g_args.top - 1);
    if (count < 1) {
        natives::result_none();
        unwind_frame();
        return p + 1;
    }
    Cell* body = g_args.top;
    push(r.cells + p);
    enter_loop();
    bool passed = false;
    if (!repeat || site.loop_ref != REF_OTHER) {
        // Nothing between two runs of the body can raise an error (the counter goes straight into its slot),
        // so the body stays the current block from the first run to the last; its decoded form then cannot
        // be freed while the loop runs, and is looked up again only when it was dropped.
        BlockScope scope(body);
        Code* c = nullptr;
        Cell* locals = nullptr;
        Run b{nullptr, nullptr, nullptr};  // the body's, while c stays valid
        bool assignment = false;            // the body is one assignment (the usual one of a counting loop)
        for (int64_t i = 1; i <= count; i++) {
            if (repeat) {
                Cell counter;
                set_integer(&counter, int32_t(i));
                store_plain(r, site.loop_ref, site.loop_word, &counter);
            }
            Cell* result = stack_reset();  // the loop frame's result slot
            if (!c || !c->valid) {
                c = loop_code(r, body, &locals);
                if (c) b = Run{c, code_cells(c), locals};
                assignment = c && c->only && c->only->kind == K_SET && !c->only->nops && !c->only->term;
            }
            if (c && c->only) {
                // A body of one expression, as run_code_scoped runs it, its value left in the result slot.
                const Node& only = *c->only;
                g_current_block.w1 = c->start;
                uint32_t next = assignment ? exec_set(b, only) : eval_arg(b, only);
                if (unwind_pending()) {
                    if (!loop_goes_on(&passed)) break;
                    continue;
                }
                if ((!c->valid || next != only.end) && next < c->end) {
                    eval_block_from(next, c->end, result);
                    if (unwind_pending()) {
                        if (!loop_goes_on(&passed)) break;
                        continue;
                    }
                }
                g_args.top = result + 1;
                continue;
            }
            if (c) {
                run_code_scoped(c, locals, true);
            } else {
                run_block(body, true, &r);
            }
            if (!loop_goes_on(&passed)) break;
        }
    } else {
        for (int64_t i = 1; i <= count; i++) {
            Cell counter;
            set_integer(&counter, int32_t(i));
            word_set_value(word, &counter);
            stack_reset();
            run_block(body, true, &r);
            if (!loop_goes_on(&passed)) break;
        }
    }
    if (passed) return p + 1;
    leave_loop();
    return p + 1;
}

[[gnu::noinline]] uint32_t exec_block_loop(Run& r, const Node& n) {
    const CallInfo& site = r.code->sites[n.site];
    if (!enter_control(r, n, site)) return plain_primary(r, n.pos);
    uint32_t blocks = n.kind == K_WHILE ? 2 : 1;
    Cell* first = g_args.top;
    push(r.cells + n.pos + 1);
    if (blocks == 2) push(r.cells + n.pos + 2);
    Cell* body = first + blocks - 1;
    enter_loop();
    bool passed = false;
    for (;;) {
        if (n.kind == K_WHILE) {
            stack_reset();
            run_block(first, true, &r);
            if (unwind_pending()) {
                if (g_system.pending != UNWIND_BREAK && g_system.pending != UNWIND_CONTINUE) return n.pos + 3;
                g_system.pending = UNWIND_NONE;
                fire(ERR_THROW_WHILE_COND);
            }
            if (!logic_true()) break;
        }
        stack_reset();
        run_block(body, true, &r);
        bool next = g_system.pending == UNWIND_CONTINUE;
        if (!loop_goes_on(&passed)) break;
        if (n.kind == K_UNTIL && !next && logic_true()) break;
    }
    if (passed) return n.pos + 1 + blocks;
    if (n.kind == K_WHILE) {
        stack_reset();
        unset_set_result();
    }
    leave_loop();
    return n.pos + 1 + blocks;
}

// reduce of a block in the code: its expressions evaluated as decoded with it, the block being evaluated
// staying the current one, as the native does it.
[[gnu::noinline]] uint32_t exec_reduce(Run& r, const Node& n) {
    const CallInfo& site = r.code->sites[n.site];
    if (!enter_control(r, n, site)) return plain_primary(r, n.pos);
    Cell* value = g_args.top;
    push(r.cells + n.pos + 1);
    Cell block = *value;
    stack_mark_call(&g_word[W_BODY]);
    uint32_t start = series_index(&block), end = cell_series(&block)->cell_count();
    // A decoded block knows how many values it gives: the result takes no room for the cells of its
    // expressions (a node of two calls is two cells, not the eight of its source).
    Code* c = code_of(cell_series(&block));
    uint32_t room = c && c->start == start ? uint32_t(c->tops.size()) : end - start;
    GcRoot out;
    set_series(out.get(), TYPE_BLOCK, series_alloc_cells(room ? room : 1));
    c = code_of(cell_series(&block));
    Cell* locals = r.locals;
    bool decoded = c && c->start == start;
    if (decoded && c->context != r.code->context && c->context) decoded = (locals = running_locals(c->context));
    Run sub{c, decoded ? code_cells(c) : nullptr, locals};
    // The block is not made current, so that errors read as they do from the plain evaluator: its decoded
    // form says itself that it is being read, or a change to the block by one of its expressions would free
    // it under the run.
    CodeReader reading(decoded ? c : nullptr);
    size_t t = 0;
    for (uint32_t position = start; position < end;) {
        stack_reset();
        if (decoded && c->valid && t < c->tops.size()) {
            const Node& e = c->nodes[c->tops[t++]];
            position = eval_arg(sub, e);
            decoded = position == e.end;
        } else {
            decoded = false;
            position = eval_next(&block, position, end, EVAL_PUSH);
        }
        if (unwind_pending()) return n.pos + 2;
        Cell v = *stack_top();
        v.header &= ~HDR_NEW_LINE;  // reduce drops the line breaks the values carry
        // The result is made with room for the values the block is known to give: the append needs no
        // growth (and, nobody having seen the result yet, it has no decoded form to drop).
        Series* s = cell_series(out.get());
        if (s->tail + sizeof(Cell) <= s->size) {
            *s->cell_tail() = v;
            s->tail += sizeof(Cell);
        } else {
            *block_alloc_tail(out.get()) = v;
        }
        uint32_t now = cell_series(&block)->cell_count();
        if (now < end) end = now;
    }
    stack_set_only_result(out.get());
    unwind_frame_return();
    unwind_frame();
    return n.pos + 2;
}

// --- the other expressions

[[gnu::noinline]] uint32_t exec_set(Run& r, const Node& n) {
    const Node& value = r.code->nodes.data()[n.children];
    Cell v;
    bool simple = value.simple ? eval_simple<true>(r, value, &v) : try_simple(r, value, &v, 0);
    if (simple && !cell_is(&v, TYPE_UNSET)) {
        // Nothing in between can raise an error or run code: the frame naming the assignment is left out.
        store_plain(r, n.ref, n.index, &v);
        push(&v);
        return value.end;
    }
    Cell word = r.cells[n.pos];
    mark_frame(&word, KH_INTERP_CALL);
    push(&word);
    uint32_t p = eval_arg(r, value);
    if (unwind_pending()) return p;
    v = g_args.base[1];
    if (cell_is(&v, TYPE_UNSET)) fire(ERR_SCRIPT_NEED_VALUE, &word);
    store(r, n.ref, n.index, &v);
    stack_set_only_result(&v);
    unwind_frame();
    return p;
}

[[gnu::noinline]] uint32_t exec_paren(Run& r, const Node& n) {
    Cell paren = r.cells[n.pos];
    run_block(&paren, false, &r);
    return n.pos + 1;
}

// Kept free of locals, so that each case is a jump to its own function.
uint32_t exec_primary(Run& r, const Node& n) {
    switch (n.kind) {
        case K_LITERAL: push(r.cells + n.pos); return n.pos + 1;
        case K_WORD: {
            const Cell* v = read(r, n.ref, n.index, n.pos);
            if (!v || !is_plain_value(cell_type(v))) return plain_primary(r, n.pos);
            push(v);
            return n.pos + 1;
        }
        case K_CALL: return n.direct ? exec_call(r, n) : call_general(r, n);
        case K_SET: return exec_set(r, n);
        case K_PAREN: return exec_paren(r, n);
        case K_IF:
        case K_UNLESS:
        case K_EITHER: return exec_branch(r, n);
        case K_LOOP:
        case K_REPEAT: return exec_loop(r, n);
        case K_WHILE:
        case K_UNTIL:
        case K_FOREVER: return exec_block_loop(r, n);
        case K_REDUCE: return exec_reduce(r, n);
        case K_PLAIN: break;
    }
    return plain_primary(r, n.pos);
}

// Runs a decoded form whose block is the current one already (a loop keeps its body current for all its
// runs).
void run_code_scoped(Code* c, Cell* locals, bool to_slot) {
    Cell* result = g_args.top;
    Run r{c, code_cells(c), locals};
    uint32_t position = c->start;
    if (const Node* only = c->only) {
        ZOL_ASSERT(unchanged(c));
        g_current_block.w1 = position;
        position = eval_arg(r, *only);
        if (unwind_pending()) return;
        if ((!c->valid || position != only->end) && position < c->end) {
            eval_block_from(position, c->end, result);
            if (unwind_pending()) return;
        }
        g_args.top = result + 1;
        if (to_slot) *g_args.base = *result;
        return;
    }
    if (c->tops.empty()) set_unset(result);
    for (uint32_t t : c->tops) {
        ZOL_ASSERT(!c->valid || unchanged(c));
        g_current_block.w1 = position;
        g_args.top = result;
        const Node& n = r.code->nodes.data()[t];
        uint32_t next = eval_arg(r, n);
        if (unwind_pending()) return;
        position = next;
        if (!c->valid || next != n.end) break;
    }
    if (position < r.code->end) {
        // What the decoded form does not cover any more (or never did), plainly.
        eval_block_from(position, r.code->end, result);
        if (unwind_pending()) return;
    }
    g_args.top = result + 1;
    if (to_slot) *g_args.base = *result;
}

void run_code(Code* c, const Cell* block, Cell* locals, bool to_slot) {
    BlockScope scope(block);
    run_code_scoped(c, locals, to_slot);
}

}  // namespace

bool code_run_block(const Cell* block, bool to_slot) {
    if (g_code_policy == CodePolicy::never) return false;
    Series* s = cell_series(block);
    Code* c = code_of(s);
    if (!c) {
        uint32_t runs = runs_of(s);
        if (runs >> 1 >= MAX_DROPS) return false;
        // A block is decoded on its second evaluation (its first when the policy says always).
        if (g_code_policy == CodePolicy::automatic && !(runs & 1)) {
            set_runs(s, runs | 1);
            return false;
        }
        c = decode(block);
    }
    if (c->start != series_index(block)) return false;
    Cell* locals = nullptr;
    if (c->context && !(locals = running_locals(c->context))) return false;
    run_code_fast(c, block, locals, to_slot);
    return true;
}

void code_init() {
    g_drop_code = drop_code;
    g_mark_code = mark_code;
    gc_keep_push(free_retired);
    // ZOL_CODE=always or never: for measuring what the decoded forms bring.
    if (auto policy = platform::get_env("ZOL_CODE")) {
        if (*policy == "always") g_code_policy = CodePolicy::always;
        if (*policy == "never") g_code_policy = CodePolicy::never;
    }
}

const CodeStats& code_stats() { return g_code_stats; }

}  // namespace zol
