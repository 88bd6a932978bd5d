// The evaluator on blocks built by hand: words, set-words, function calls, infix operators, refinements
// through paths, and the exits. (The language-level suites take over once source text can be read.)
#include "interpreter/eval.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/mold.h"
#include "runtime/predefined.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class EvalTest : public RuntimeTest {
protected:
    // Appends cells to a block held in a root.
    struct Builder {
        GcRoot block;
        Builder() { set_series(block.get(), TYPE_BLOCK, series_alloc_cells(4)); }
        Builder& word(const char* name, TypeId t = TYPE_WORD) {
            Cell w = word_load(name);
            cell_set_type(&w, t);
            *block_alloc_tail(block.get()) = w;
            return *this;
        }
        Builder& chr(uint32_t c) {
            set_char(block_alloc_tail(block.get()), c);
            return *this;
        }
        Builder& value(const Cell& v) {
            *block_alloc_tail(block.get()) = v;
            return *this;
        }
        Cell* get() { return block.get(); }
    };

    // Defines a global word as a function with the given spec and body.
    void define(const char* name, Builder& spec, Builder& body) {
        function_build(spec.get(), body.get(), 0, 0, 0, function_check_spec(spec.get()));
        Cell w = word_load(name);
        word_set_value(&w, stack_top());
        stack_pop(1);
    }

    std::string eval(Builder& code) {
        stack_reset();
        eval_block(code.get(), false);
        EXPECT_EQ(g_system.pending, UNWIND_NONE);
        return mold_text(stack_top());
    }
};

TEST_F(EvalTest, WordsSetWordsAndCalls) {
    Builder spec, body;
    spec.word("a").word("b");
    body.word("b");
    define("second-of", spec, body);
    Builder code;
    code.word("v", TYPE_SET_WORD).word("second-of").chr('x').chr('y').word("v");
    EXPECT_EQ(eval(code), "#\"y\"");
    Cell v = word_load("v");
    EXPECT_EQ(mold_text(word_value_cell(&v)), "#\"y\"");
}

TEST_F(EvalTest, InfixOperatorsTakeTheValueSoFar) {
    Builder spec, body;
    spec.word("a").word("b");
    body.word("a");
    define("left-of", spec, body);
    Cell left = word_load("left-of");
    Cell fn = *word_value_cell(&left);
    Builder make_op;
    make_op.word("op-left", TYPE_SET_WORD);
    GcRoot f(fn);
    // op-left: make op! :left-of — built directly, as make would.
    Cell op = fn;
    op.header = TYPE_OP | (TYPE_FUNCTION << HDR_OP_SOURCE_SHIFT);
    Cell w = word_load("op-left");
    word_set_value(&w, &op);
    Builder code;
    code.chr('a').word("op-left").chr('b').word("op-left").chr('c');
    EXPECT_EQ(eval(code), "#\"a\"") << "operators group from the left";
}

TEST_F(EvalTest, ReturnLeavesTheFunction) {
    Cell ret_native;  // return is native 80: build it as make native! does
    Builder rspec;
    rspec.word("value");
    native_make(rspec.get(), NAT_RETURN, TYPE_NATIVE);
    ret_native = *stack_top();
    stack_pop(1);
    Cell rw = word_load("return");
    word_set_value(&rw, &ret_native);
    Builder spec, body;
    spec.word("a");
    body.word("return").word("a").chr('z');
    define("early", spec, body);
    Builder code;
    code.word("early").chr('q');
    EXPECT_EQ(eval(code), "#\"q\"");
}

TEST_F(EvalTest, UnsetWordAndMissingArgument) {
    Builder code;
    code.word("surely-no-value-here");
    EXPECT_EQ(catch_error([&] { eval_block(code.get(), false); }), ERR_SCRIPT_NO_VALUE);
    Builder spec, body;
    spec.word("a");
    body.word("a");
    define("one-arg", spec, body);
    Builder call;
    call.word("one-arg");
    EXPECT_EQ(catch_error([&] { eval_block(call.get(), false); }), ERR_SCRIPT_NO_ARG);
    Builder tail;
    tail.word("dangling", TYPE_SET_WORD);
    EXPECT_EQ(catch_error([&] { eval_block(tail.get(), false); }), ERR_SCRIPT_NEED_VALUE);
}

TEST_F(EvalTest, RunawayRecursionIsACatchableError) {
    Builder spec, body;
    body.word("forever-down");
    define("forever-down", spec, body);
    Builder code;
    code.word("forever-down");
    EXPECT_EQ(catch_error([&] { eval_block(code.get(), false); }), ERR_INTERNAL_STACK_OVERFLOW);
    EXPECT_EQ(g_frames.top, g_frames.start);
}

}  // namespace
}  // namespace zol::test
