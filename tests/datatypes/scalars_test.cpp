// datatype!, unset!, none! and logic!: form, mold, compare, make, to and their other actions.
#include <cmath>

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/gc.h"
#include "runtime/random.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class ScalarsTest : public RuntimeTest {
protected:
    std::string text(const Cell& v, Action act, bool all = false) {
        GcRoot value(v), out;
        string_make(out.get());
        MoldArgs args;
        args.all = all;
        auto fn = reinterpret_cast<ActionFn<ACT_MOLD>>(g_types.action(cell_type(&v), act));
        int budget = fn(value.get(), out.get(), args, 100);
        std::string s = string_to_utf8(out.get());
        EXPECT_EQ(budget, 100 - int(s.size())) << "the part budget shrinks by what was written: " << s;
        return s;
    }
    int compare(const Cell& a, const Cell& b, CompareOp op) {
        return g_types.get<ACT_COMPARE>(cell_type(&a))(&a, &b, op);
    }
    Cell datatype(TypeId t) {
        Cell c;
        set_datatype(&c, t);
        return c;
    }
};

TEST_F(ScalarsTest, FormAndMold) {
    struct Case {
        Cell value;
        const char *form, *mold, *mold_all;
    } cases[] = {
        {g_unset_value, "", "unset", "#(unset)"},
        {g_none_value, "none", "none", "#(none)"},
        {g_true_value, "true", "true", "#(true)"},
        {g_false_value, "false", "false", "#(false)"},
        {datatype(TYPE_BLOCK), "block", "block!", "#(block!)"},
        {datatype(TYPE_POINT2D), "point2D", "point2D!", "#(point2D!)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(c.value, ACT_FORM), c.form);
        EXPECT_EQ(text(c.value, ACT_MOLD), c.mold);
        EXPECT_EQ(text(c.value, ACT_MOLD, true), c.mold_all);
    }
}

// triple! has no maker in the language: its cells come from C++ and only print.
TEST_F(ScalarsTest, TripleFormsAndMoldsItsThreeIntegers) {
    struct Case {
        Cell value;
        const char* text;
    } cases[] = {
        {{TYPE_TRIPLE, 1, uint32_t(-2), 3}, "make triple! [1 -2 3]"},
        {{TYPE_TRIPLE, 0, 0, 0}, "make triple! [0 0 0]"},
        {{TYPE_TRIPLE, 0x80000000u, 0x7FFFFFFF, 10}, "make triple! [-2147483648 2147483647 10]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(c.value, ACT_FORM), c.text);
        EXPECT_EQ(text(c.value, ACT_MOLD), c.text);
    }
    for (uint32_t a = 1; a <= ACTION_COUNT; a++) {
        if (a == ACT_FORM || a == ACT_MOLD) continue;
        EXPECT_EQ(g_types.action(TYPE_TRIPLE, a), nullptr) << action_word(Action(a)) << " is refused";
    }
}

TEST_F(ScalarsTest, Compare) {
    Cell block = datatype(TYPE_BLOCK), paren = datatype(TYPE_PAREN);
    EXPECT_EQ(compare(block, block, CMP_EQUAL), 0);
    EXPECT_NE(compare(block, paren, CMP_EQUAL), 0);
    EXPECT_EQ(compare(block, paren, CMP_LESSER), COMPARE_INCOMPARABLE);
    EXPECT_EQ(compare(g_none_value, g_none_value, CMP_EQUAL), 0);
    EXPECT_EQ(compare(g_unset_value, g_unset_value, CMP_STRICT_EQUAL), 0);
    EXPECT_EQ(compare(g_none_value, g_false_value, CMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(compare(g_none_value, g_none_value, CMP_LESSER), COMPARE_INCOMPARABLE);
    EXPECT_LT(compare(g_false_value, g_true_value, CMP_SORT), 0) << "false sorts before true";
    EXPECT_EQ(compare(g_true_value, g_true_value, CMP_SAME), 0);
    EXPECT_EQ(compare(g_true_value, integer(1), CMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(compare(g_true_value, g_false_value, CMP_GREATER), COMPARE_INCOMPARABLE);
}

TEST_F(ScalarsTest, MakeAndToLogic) {
    auto make = g_types.get<ACT_MAKE>(TYPE_LOGIC);
    auto to = g_types.get<ACT_TO>(TYPE_LOGIC);
    Cell proto = g_true_value;
    GcRoot str;
    string_make(str.get());
    struct Case {
        Cell spec;
        bool make_result;
    } cases[] = {
        {integer(0), false},
        {integer(2), true},
        {real(0.0), false},
        {real(-0.5), true},
        {real(std::nan("")), true},
        {*str, true},  // any other value is true, even an empty string
        {g_none_value, false},
        {g_false_value, false},
    };
    for (Case& c : cases) EXPECT_EQ(logic_get(make(&proto, &c.spec, TYPE_LOGIC)), uint32_t(c.make_result));
    Cell none = g_none_value, zero = integer(0);
    EXPECT_EQ(logic_get(to(&proto, &none, TYPE_LOGIC)), 0u);
    EXPECT_EQ(logic_get(to(&proto, &zero, TYPE_LOGIC)), 1u) << "to logic! does not look at numbers";
}

TEST_F(ScalarsTest, LogicOperators) {
    auto run = [&](Action act, const Cell& a, const Cell& b) {
        stack_push(&a);
        stack_push(&b);
        reinterpret_cast<void (*)()>(g_types.action(TYPE_LOGIC, act))();
        Cell r = *g_args.base;
        stack_reset();
        return r;
    };
    Cell r = run(ACT_AND_T, g_true_value, g_false_value);
    EXPECT_EQ(logic_get(&r), 0u);
    r = run(ACT_OR_T, g_true_value, g_false_value);
    EXPECT_EQ(logic_get(&r), 1u);
    r = run(ACT_XOR_T, g_true_value, g_true_value);
    EXPECT_EQ(logic_get(&r), 0u);
    Cell t = g_true_value;
    EXPECT_EQ(logic_get(g_types.get<ACT_COMPLEMENT>(TYPE_LOGIC)(&t)), 0u);
    EXPECT_EQ(catch_error([&] { run(ACT_OR_T, g_true_value, integer(1)); }), ERR_SCRIPT_EXPECT_ARG);
}

TEST_F(ScalarsTest, NoneAnswersNoneForSeriesActions) {
    Cell none = g_none_value, key = integer(1);
    FindArgs find;
    EXPECT_EQ(g_types.get<ACT_LENGTH_Q>(TYPE_NONE)(&none), -1);
    EXPECT_TRUE(cell_is(g_types.get<ACT_FIND>(TYPE_NONE)(&none, &key, find), TYPE_NONE));
    EXPECT_TRUE(cell_is(g_types.get<ACT_SELECT>(TYPE_NONE)(&none, &key, find), TYPE_NONE));
    set_integer(stack_push_cell(), 5);
    g_types.get<ACT_TAKE>(TYPE_NONE)(&none, nullptr, false, false);
    EXPECT_TRUE(cell_is(g_args.base, TYPE_NONE));
    EXPECT_EQ(g_types.action(TYPE_NONE, ACT_APPEND), nullptr);
    EXPECT_EQ(g_types.action(TYPE_UNSET, ACT_FIND), nullptr);
}

TEST_F(ScalarsTest, RandomLogicIsFair) {
    auto random = g_types.get<ACT_RANDOM>(TYPE_LOGIC);
    Cell seed = g_true_value;
    stack_push_cell();
    random(&seed, true, false, false);
    EXPECT_TRUE(cell_is(g_args.base, TYPE_UNSET)) << "seeding gives unset";
    int trues = 0;
    for (int i = 0; i < 20000; i++) {
        random(&seed, false, false, false);
        trues += logic_get(g_args.base);
    }
    // A 32-bit draw compared with 0x3FFFFFFF would give true three times in four.
    EXPECT_GT(trues, 9500);
    EXPECT_LT(trues, 10500);
}

TEST_F(ScalarsTest, TruthTests) {
    EXPECT_FALSE(cell_true(&g_none_value));
    EXPECT_FALSE(cell_true(&g_false_value));
    Cell zero = integer(0);
    EXPECT_TRUE(cell_true(&zero));
    EXPECT_TRUE(logic_cell_true(&g_unset_value, false, nullptr));
    EXPECT_EQ(catch_error([] { logic_cell_true(&g_unset_value, true, nullptr); }), ERR_SCRIPT_NO_VALUE);
    EXPECT_EQ(catch_error([] {
                  unset_push();
                  logic_true();
              }),
              ERR_SCRIPT_NO_RETURN);
    stack_reset();
    stack_push(&g_false_value);
    EXPECT_TRUE(logic_false());
    stack_push(&zero);
    EXPECT_TRUE(logic_top_true());
}

}  // namespace
}  // namespace zol::test
