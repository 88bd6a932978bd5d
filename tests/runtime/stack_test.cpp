// The argument stack and the call frames: pushing, popping, unwinding and the fixed limits.
#include "runtime/values/backtrace.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class StackTest : public RuntimeTest {
protected:
    Cell word(uint32_t symbol) {
        Cell w;
        set_word(&w, TYPE_WORD, 0, symbol);
        return w;
    }
};

TEST_F(StackTest, ACallLeavesExactlyItsResultCell) {
    Cell name = word(3);
    Cell* caller_top = g_args.top;
    stack_mark_call(&name);
    EXPECT_EQ(g_args.base, caller_top);
    Cell v;
    set_integer(&v, 7);
    stack_push(&v);
    stack_push(&v);
    set_integer(g_args.base, 42);
    unwind_frame();
    EXPECT_EQ(g_args.top, caller_top + 1);
    EXPECT_EQ(cell_int(caller_top), 42);

    // A callee that pushed nothing still leaves its base cell as the caller's newest cell.
    stack_mark_call(&name);
    unwind_frame();
    EXPECT_EQ(g_args.top, caller_top + 2);
}

TEST_F(StackTest, DropAndReturnVariants) {
    Cell name = word(3);
    Cell v;
    set_integer(&v, 1);
    stack_push(&v);  // the caller's result slot
    stack_mark_call(&name);
    Cell* inner_base = g_args.base;
    set_integer(stack_push_cell(), 99);
    unwind_frame_return();
    EXPECT_EQ(cell_int(g_args.base), 99) << "the callee's result lands in the caller's result slot";
    EXPECT_EQ(g_args.top, inner_base + 1);

    stack_mark_call(&name);
    stack_push(&v);
    unwind_frame_drop();
    EXPECT_EQ(g_args.top, g_args.base);
}

TEST_F(StackTest, UnwindToLoopStopsAtTryAll) {
    Cell name = word(3);
    stack_mark_loop(&name);
    stack_mark_try_all(&name);
    stack_mark_call(&name);
    stack_mark_call(&name);
    unwind_to_kind(FRAME_LOOP, true);
    EXPECT_EQ(frame_kind(g_frames.top - 1), uint32_t(FRAME_TRY_ALL));
    EXPECT_EQ(g_frames.top - g_frames.start, 2);
}

TEST_F(StackTest, UnwindWithoutKeepLeavesTheStoppingFrameAndItsCallersBase) {
    Cell name = word(3);
    Cell* before = g_args.top;
    stack_mark_loop(&name);
    Cell v;
    set_integer(&v, 5);
    stack_push(&v);
    stack_mark_call(&name);
    stack_push(&v);
    unwind_to_kind(FRAME_LOOP, false);
    EXPECT_EQ(frame_kind(g_frames.top - 1), uint32_t(FRAME_LOOP)) << "the stopping frame stays for the caller";
    EXPECT_EQ(g_args.base, before) << "the base is the one in force before the loop frame";
}

TEST_F(StackTest, HiddenFramesAreSkippedWhenNamingTheCall) {
    uint32_t saved[] = {g_sym_body, g_sym_anon, g_sym_not_found};
    g_sym_body = 101;
    g_sym_anon = 102;
    g_sym_not_found = 103;
    Cell body = word(101), anon = word(102), named = word(55);
    Cell found;

    stack_mark_call(&body);
    stack_mark_call(&anon);
    stack_get_call_word(&found);
    EXPECT_EQ(word_symbol(&found), 103u) << "only hidden frames: <not-found>";

    unwind_frame_drop();
    stack_mark_call(&named);
    stack_mark_call(&anon);
    stack_get_call_word(&found);
    EXPECT_EQ(word_symbol(&found), 55u);

    g_sym_body = saved[0];
    g_sym_anon = saved[1];
    g_sym_not_found = saved[2];
}

TEST_F(StackTest, SymbolsAboveSixteenBitsKeepTheirName) {
    Cell name = word(0x12345);
    stack_mark_call(&name);
    Cell found;
    stack_get_call_word(&found);
    EXPECT_EQ(word_symbol(&found), 0x12345u);
}

TEST_F(StackTest, RecursionRestoresTheOuterCallsArguments) {
    // A function context whose values are the argument cells of its current call.
    GcRoot record;
    set_series(record.get(), TYPE_BLOCK, series_alloc_cells(2));
    Cell* ctx = block_alloc_tail(record.get());
    ctx->header = TYPE_CONTEXT | HDR_STACK_CONTEXT;
    ctx->w1 = 0;
    ctx->w2 = 0;
    block_alloc_tail(record.get());
    uint32_t context = series_node(record.get());
    auto values = [&] { return node_series(context)->cells()[0].w2; };
    Cell name = word(9);
    Cell arg;

    stack_mark_func(&name, context);
    set_integer(&arg, 1);
    stack_push(&arg);
    stack_mark_func_entry(&name, context);
    uint32_t outer = values();
    EXPECT_EQ(cell_int(stack_cell(outer)), 1);

    stack_mark_func(&name, context);
    set_integer(&arg, 2);
    stack_push(&arg);
    stack_mark_func_entry(&name, context);
    EXPECT_EQ(cell_int(stack_cell(values())), 2);
    unwind_frame();
    unwind_frame_restore();

    EXPECT_EQ(values(), outer);
    EXPECT_EQ(cell_int(stack_cell(values())), 1) << "the outer call reads its own cells again";
    unwind_frame();
    unwind_frame_restore();
    EXPECT_EQ(values(), 0u);
}

TEST_F(StackTest, TheArgumentStackHoldsItsCapacityLessOne) {
    Cell error;
    uint32_t pushed = 0;
    ErrorId id = catch_error(
        [&] {
            Cell v = g_none_value;
            for (;;) {
                stack_push(&v);
                pushed++;
            }
        },
        &error);
    EXPECT_EQ(id, ERR_INTERNAL_STACK_OVERFLOW);
    // catch_error's try frame starts at the area start: the last cell is never handed out.
    EXPECT_EQ(pushed, ARG_STACK_CELLS - 1);
    EXPECT_EQ(g_frames.top, g_frames.start);
    EXPECT_EQ(g_args.top, g_args.base + 1);
}

TEST_F(StackTest, TheFrameStackHoldsTwelveThousandFrames) {
    Cell name = word(4);
    uint32_t marked = 0;
    ErrorId id = catch_error([&] {
        for (;;) {
            stack_mark_call(&name);
            marked++;
        }
    });
    EXPECT_EQ(id, ERR_INTERNAL_STACK_OVERFLOW);
    EXPECT_EQ(marked, CALL_FRAMES - 1) << "catch_error's try frame takes one";
    EXPECT_EQ(g_frames.top, g_frames.start);
    // Both stacks are usable again.
    stack_mark_call(&name);
    stack_push(&name);
    unwind_frame();
}

int recurse(int depth) {
    volatile char pad[16 * 1024];
    pad[0] = char(depth);
    stack_check_native();
    if (depth > 10000000) return 0;  // never reached: the guard fires long before
    return recurse(depth + 1) + pad[0];
}

TEST_F(StackTest, TheMachineStackGuardRaisesStackOverflow) {
    EXPECT_EQ(catch_error([] { recurse(0); }), ERR_INTERNAL_STACK_OVERFLOW);
}

#if defined(ZOL_ASSERTS)
// In the checking builds an accessor used on the wrong type, or a pop below the stack's start, stops the
// process at once with the broken condition.
TEST(InvariantDeathTest, BrokenInvariantsStopAtOnce) {
    Cell none{};
    set_none(&none);
    EXPECT_DEATH(cell_int(&none), "Internal check failed: .*TYPE_INTEGER");
    EXPECT_DEATH(series_node(&none), "Internal check failed");
    EXPECT_DEATH(
        {
            stack_init();
            stack_pop(1);
        },
        "Internal check failed");
}
#endif

}  // namespace
}  // namespace zol::test
