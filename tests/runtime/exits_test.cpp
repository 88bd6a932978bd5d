// Non-local exits: break, continue, return, exit and throw reach the right frames; errors stop at try
// frames; an error nothing catches ends the process with status 254.
#include <cstdlib>

#include "runtime/values/backtrace.h"
#include "runtime/system.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class ExitsTest : public RuntimeTest {
protected:
    Cell word(uint32_t symbol) {
        Cell w;
        set_word(&w, TYPE_WORD, 0, symbol);
        return w;
    }
};

TEST_F(ExitsTest, BreakReachesTheNearestLoopWithItsValue) {
    Cell name = word(5);
    stack_mark_loop(&name);
    CallFrame* loop = g_frames.top - 1;
    Cell* loop_base = g_args.base;
    Cell v = integer(1);
    stack_push(&v);
    stack_mark_call(&name);  // a call inside the loop body
    stack_push(&v);
    stack_mark_call(&name);  // break/return itself, with its value
    Cell forty_two = integer(42);
    stack_push(&forty_two);

    stack_unwind_break(true, false);
    EXPECT_EQ(g_system.pending, UNWIND_BREAK);
    EXPECT_EQ(g_frames.top, loop + 1) << "the loop frame stays for the loop to pop";
    EXPECT_EQ(g_args.base, loop_base);
    EXPECT_EQ(g_args.top, loop_base);
    EXPECT_EQ(cell_int(loop_base), 42);
}

TEST_F(ExitsTest, PlainBreakAndContinueLeaveUnset) {
    for (bool is_continue : {false, true}) {
        stack_init();
        Cell name = word(5);
        stack_mark_loop(&name);
        Cell* loop_base = g_args.base;
        stack_mark_call(&name);
        Cell v = integer(3);
        stack_push(&v);
        stack_unwind_break(false, is_continue);
        EXPECT_EQ(g_system.pending, is_continue ? UNWIND_CONTINUE : UNWIND_BREAK);
        EXPECT_TRUE(cell_is(loop_base, TYPE_UNSET));
        g_system.pending = UNWIND_NONE;
    }
}

TEST_F(ExitsTest, BreakOutsideALoopOrAcrossTryAllIsAnError) {
    Cell name = word(5);
    Cell error;
    EXPECT_EQ(catch_error([&] {
                  stack_mark_call(&name);
                  stack_unwind_break(false, false);
              }),
              ERR_THROW_BREAK);

    // continue inside try/all inside a loop: the try/all frame stops it as an error.
    stack_mark_loop(&name);
    CallFrame* loop = g_frames.top - 1;
    EXPECT_EQ(catch_error(
                  [&] {
                      stack_mark_try_all(&name);
                      stack_mark_call(&name);
                      stack_unwind_break(false, true);
                  },
                  &error),
              ERR_THROW_CONTINUE);
    EXPECT_EQ(g_frames.top, loop + 2) << "the error stopped at the try/all frame, above the loop";
}

TEST_F(ExitsTest, ReturnAndExitReachTheFunctionBody) {
    for (bool is_return : {true, false}) {
        stack_init();
        Cell name = word(6);
        stack_mark_call(&name);
        stack_set_return_target(true);
        CallFrame* body = g_frames.top - 1;
        Cell* body_base = g_args.base;
        stack_mark_loop(&name);  // return passes loops
        stack_mark_call(&name);  // return's own frame
        Cell v = integer(8);
        stack_push(&v);
        stack_unwind_return(is_return, false);
        EXPECT_EQ(g_system.pending, is_return ? UNWIND_RETURN : UNWIND_EXIT);
        EXPECT_EQ(g_frames.top, body + 1);
        EXPECT_EQ(g_args.base, body_base);
        if (is_return) {
            EXPECT_EQ(cell_int(body_base), 8);
        } else {
            EXPECT_TRUE(cell_is(body_base, TYPE_UNSET));
        }
        g_system.pending = UNWIND_NONE;
    }
}

TEST_F(ExitsTest, ReturnFromTheTopFrameItself) {
    Cell name = word(6);
    stack_mark_call(&name);
    stack_set_return_target(true);
    CallFrame* body = g_frames.top - 1;
    Cell v = integer(4);
    stack_push(&v);
    stack_unwind_return(true, true);
    EXPECT_EQ(g_system.pending, UNWIND_RETURN);
    EXPECT_EQ(g_frames.top, body + 1);
}

TEST_F(ExitsTest, ReturnOutsideAFunctionIsRaisedFromTheReturnFrame) {
    Cell outer = word(6), ret = word(77);
    Cell error;
    EXPECT_EQ(catch_error(
                  [&] {
                      stack_mark_call(&outer);
                      stack_mark_call(&ret);
                      stack_unwind_return(true, false);
                  },
                  &error),
              ERR_THROW_RETURN);
    // The frames were put back before raising, so the error names the return call itself.
    EXPECT_EQ(word_symbol(error_field(&error, ERROR_FIELD_WHERE)), 77u);
}

TEST_F(ExitsTest, ThrowReachesTheCatchWithValueAndName) {
    Cell name = word(6);
    stack_mark_catch(&name);
    CallFrame* catcher = g_frames.top - 1;
    Cell* catch_base = g_args.base;
    stack_mark_loop(&name);  // throw passes loops
    Cell thrower = word(88);
    stack_mark_call(&thrower);
    Cell value = integer(11), label = word(12);
    stack_push(&value);
    stack_push(&label);
    stack_unwind_throw(UNWIND_THROW);
    EXPECT_EQ(g_system.pending, UNWIND_THROW);
    EXPECT_EQ(g_frames.top, catcher + 1);
    EXPECT_EQ(g_args.top, catch_base + 2);
    EXPECT_EQ(cell_int(catch_base), 11);
    EXPECT_EQ(word_symbol(catch_base + 1), 12u);
    EXPECT_NE(g_throw_point, nullptr);

    // Once the catch frame has the throw, the throw point must not name frames that are gone.
    catch_received();
    EXPECT_EQ(g_system.pending, UNWIND_NONE);
    EXPECT_EQ(g_throw_point, nullptr);
    Cell found;
    stack_get_call_word(&found);
    EXPECT_EQ(word_symbol(&found), 6u);
}

TEST_F(ExitsTest, ThrowWithoutCatchIsAnErrorCarryingTheValue) {
    Cell name = word(6);
    Cell error;
    EXPECT_EQ(catch_error(
                  [&] {
                      stack_mark_catch(&name);
                      stack_mark_try_all(&name);  // a throw never crosses try/all
                      stack_mark_call(&name);
                      Cell value = integer(21);
                      stack_push(&value);
                      stack_unwind_throw(UNWIND_THROW);
                  },
                  &error),
              ERR_THROW_THROW);
    EXPECT_EQ(cell_int(error_field(&error, ERROR_FIELD_ARG1)), 21);
}

TEST_F(ExitsTest, ErrorsStopAtTheNearestTryWithWhereAndStack) {
    Cell outer = word(30), inner = word(31);
    Cell error;
    Cell arg = g_true_value;
    EXPECT_EQ(catch_error(
                  [&] {
                      stack_mark_call(&outer);
                      stack_mark_call(&inner);
                      fire(ERR_SCRIPT_INVALID_ARG, &arg);
                  },
                  &error),
              ERR_SCRIPT_INVALID_ARG);
    EXPECT_EQ(word_symbol(error_field(&error, ERROR_FIELD_WHERE)), 31u);
    EXPECT_EQ(cell_int(error_field(&error, ERROR_FIELD_STACK)), 3) << "the frame top when it was raised";
    EXPECT_EQ(cell_int(error_field(&error, ERROR_FIELD_CODE)), 309);
    EXPECT_TRUE(cell_is(error_field(&error, ERROR_FIELD_ARG1), TYPE_LOGIC));
    EXPECT_EQ(g_frames.top, g_frames.start);
    EXPECT_EQ(g_args.top, g_args.base + 1);
    EXPECT_EQ(g_system.pending, UNWIND_NONE);
}

TEST_F(ExitsTest, TheReportOfAnError) {
    Cell error;
    Cell arg = g_false_value;
    catch_error([&] { fire(ERR_SCRIPT_INVALID_ARG, &arg); }, &error);
    EXPECT_EQ(error_form_text(&error), "*** Script Error: invalid argument: false\n*** Where: try\n*** Near : none\n*** Stack: ");
}

// A C library that calls back (qsort here) sees its callback return normally; what the language raised or
// left pending inside comes out after the library has returned.
namespace guarded {
int calls = 0;
void (*inside)() = nullptr;
int compare(const void* a, const void* b) {
    calls++;
    if (!callback_guard([] { inside(); })) return 0;
    return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}
}  // namespace guarded

TEST_F(ExitsTest, AnErrorInACallbackFromCIsRaisedAfterTheLibraryReturns) {
    int numbers[] = {3, 1, 2, 5, 4};
    guarded::calls = 0;
    guarded::inside = [] { fire(ERR_SCRIPT_INVALID_ARG, &g_none_value); };
    Cell* top = g_args.top;
    CallFrame* frames = g_frames.top;
    Cell error;
    ErrorId id = catch_error([&] {
        Cell* base = g_args.base;
        Cell* inner_top = g_args.top;
        CallFrame* inner_frames = g_frames.top;
        std::qsort(numbers, 5, sizeof numbers[0], guarded::compare);
        EXPECT_TRUE(callback_has_parked());
        // The guard put the stacks back as they were before the callback.
        EXPECT_EQ(g_args.base, base);
        EXPECT_EQ(g_args.top, inner_top);
        EXPECT_EQ(g_frames.top, inner_frames);
        callback_raise_parked();
        ADD_FAILURE() << "the parked error was not raised";
    }, &error);
    EXPECT_EQ(id, ERR_SCRIPT_INVALID_ARG);
    EXPECT_FALSE(callback_has_parked());
    EXPECT_GT(guarded::calls, 1) << "later callbacks ran without their body";
    EXPECT_EQ(g_frames.top, frames);
    stack_reset();
    EXPECT_EQ(g_args.top, top);
}

TEST_F(ExitsTest, AnExitInACallbackFromCIsHandedOnAfterTheLibraryReturns) {
    int numbers[] = {2, 1};
    Cell name = word(5);
    stack_mark_loop(&name);
    CallFrame* loop = g_frames.top - 1;
    guarded::inside = [] { stack_unwind_break(false, false); };
    std::qsort(numbers, 2, sizeof numbers[0], guarded::compare);
    EXPECT_EQ(g_system.pending, UNWIND_NONE) << "nothing is pending while the library still runs";
    EXPECT_THROW(callback_raise_parked(), PendingUnwind);
    EXPECT_EQ(g_system.pending, UNWIND_BREAK);
    EXPECT_EQ(g_frames.top, loop + 1);
}

TEST_F(ExitsTest, AGuardedCallbackThatSucceedsLeavesTheStacksAsTheyWere) {
    Cell* top = g_args.top;
    CallFrame* frames = g_frames.top;
    Cell v = integer(7);
    EXPECT_TRUE(callback_guard([&] { stack_push(&v); }));
    EXPECT_EQ(g_args.top, top);
    EXPECT_EQ(g_frames.top, frames);
    EXPECT_FALSE(callback_has_parked());
    callback_raise_parked();  // nothing parked: returns
}

using ExitsDeathTest = ExitsTest;

TEST_F(ExitsDeathTest, AnUncaughtErrorEndsTheProcessWith254) {
    EXPECT_EXIT(
        {
            stack_init();
            Cell arg = g_true_value;
            fire(ERR_SCRIPT_INVALID_ARG, &arg);
        },
        ::testing::ExitedWithCode(254), "\\*\\*\\* Script Error: invalid argument: true");
    // Frames present but no try frame among them: still uncaught.
    EXPECT_EXIT(
        {
            stack_init();
            Cell name = word(5);
            stack_mark_loop(&name);
            stack_mark_call(&name);
            fire(ERR_INTERNAL_STACK_OVERFLOW);
        },
        ::testing::ExitedWithCode(254), "\\*\\*\\* Internal Error: stack overflow");
}

TEST_F(ExitsDeathTest, RuntimeErrorsPrintTheirTextAndExitWithTheirCode) {
    struct Case {
        int code;
        const char* text;
    } cases[] = {
        {1, "access violation"},
        {34, "Bus error"},
        {94, "out of memory"},
        {95, "no CATCH for THROW"},
        {101, "no value matched in SWITCH"},
        {40, "unknown error code!"},
        {1000, "unknown error code!"},
    };
    for (const Case& c : cases) {
        std::string pattern = "\\*\\*\\* Runtime Error " + std::to_string(c.code) + ": " + c.text + "\n\\*\\*\\* at: 00001234h";
        EXPECT_EXIT(runtime_error(c.code, 0x1234), ::testing::ExitedWithCode(c.code & 0xFF), pattern) << c.code;
    }
    EXPECT_EXIT(runtime_error(0, 0), ::testing::ExitedWithCode(0), "^$");
}

}  // namespace
}  // namespace zol::test
