// The evaluator on blocks built by hand: words, set-words, function calls, infix operators, refinements
// through paths, and the exits. (The language-level suites take over once source text can be read.)
#include "interpreter/eval.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "runtime/values/predefined.h"
#include "tests/block_builder.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class EvalTest : public RuntimeTest {
protected:
    // Defines a global word as a function with the given spec and body.
    void define(const char* name, B& spec, B& body) {
        function_build(spec.get(), body.get(), 0, 0, 0, function_check_spec(spec.get()));
        Cell w = word_load(name);
        word_set_value(&w, stack_top());
        stack_pop(1);
    }

    std::string eval(B& code) {
        stack_reset();
        eval_block(code.get(), false);
        EXPECT_EQ(g_system.pending, UNWIND_NONE);
        return mold_text(stack_top());
    }
};

TEST_F(EvalTest, WordsSetWordsAndCalls) {
    B spec, body;
    spec.w("a").w("b");
    body.w("b");
    define("second-of", spec, body);
    B code;
    code.sw("v").w("second-of").ch('x').ch('y').w("v");
    EXPECT_EQ(eval(code), "#\"y\"");
    Cell v = word_load("v");
    EXPECT_EQ(mold_text(word_value_cell(&v)), "#\"y\"");
}

TEST_F(EvalTest, InfixOperatorsTakeTheValueSoFar) {
    B spec, body;
    spec.w("a").w("b");
    body.w("a");
    define("left-of", spec, body);
    Cell left = word_load("left-of");
    Cell fn = *word_value_cell(&left);
    B make_op;
    make_op.sw("op-left");
    GcRoot f(fn);
    // op-left: make op! :left-of — built directly, as make would.
    Cell op = fn;
    op.header = TYPE_OP | (TYPE_FUNCTION << HDR_OP_SOURCE_SHIFT);
    Cell w = word_load("op-left");
    word_set_value(&w, &op);
    B code;
    code.ch('a').w("op-left").ch('b').w("op-left").ch('c');
    EXPECT_EQ(eval(code), "#\"a\"") << "operators group from the left";
}

TEST_F(EvalTest, ReturnLeavesTheFunction) {
    define_native("return", NAT_RETURN, TYPE_NATIVE, {"value"});
    B spec, body;
    spec.w("a");
    body.w("return").w("a").ch('z');
    define("early", spec, body);
    B code;
    code.w("early").ch('q');
    EXPECT_EQ(eval(code), "#\"q\"");
}

TEST_F(EvalTest, UnsetWordAndMissingArgument) {
    B code;
    code.w("surely-no-value-here");
    EXPECT_EQ(catch_error([&] { eval_block(code.get(), false); }), ERR_SCRIPT_NO_VALUE);
    B spec, body;
    spec.w("a");
    body.w("a");
    define("one-arg", spec, body);
    B call;
    call.w("one-arg");
    EXPECT_EQ(catch_error([&] { eval_block(call.get(), false); }), ERR_SCRIPT_NO_ARG);
    B tail;
    tail.sw("dangling");
    EXPECT_EQ(catch_error([&] { eval_block(tail.get(), false); }), ERR_SCRIPT_NEED_VALUE);
}

TEST_F(EvalTest, RunawayRecursionIsACatchableError) {
    B spec, body;
    body.w("forever-down");
    define("forever-down", spec, body);
    B code;
    code.w("forever-down");
    EXPECT_EQ(catch_error([&] { eval_block(code.get(), false); }), ERR_INTERNAL_STACK_OVERFLOW);
    EXPECT_EQ(g_frames.top, g_frames.start);
}

}  // namespace
}  // namespace zol::test
