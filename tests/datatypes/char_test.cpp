// char!: make and to, form, mold, compare, arithmetic and the slots it shares with integer!.
#include <cmath>
#include <string>

#include "runtime/datatypes/char.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/gc.h"
#include "runtime/unicode.h"
#include "tests/outcome.h"

namespace zol::test {
namespace {

// A char! value as an action's outcome.
Outcome gives(uint32_t cp) { return test::gives(chr(cp)); }

class CharTest : public RuntimeTest {
protected:
    Outcome to(const Cell& source) {
        return attempt([&] {
            Cell proto = g_none_value, arg = source;
            const Cell* r = g_types.get<ACT_TO>(TYPE_CHAR)(&proto, &arg, TYPE_CHAR);
            EXPECT_TRUE(cell_is(r, TYPE_CHAR));
            *g_args.base = *r;
        });
    }
    Outcome math(Action act, const Cell& a, const Cell& b) {
        return attempt([&] {
            stack_push(&a);
            stack_push(&b);
            reinterpret_cast<void (*)()>(g_types.action(TYPE_CHAR, act))();
            EXPECT_TRUE(cell_is(g_args.base, TYPE_CHAR));
        });
    }
    std::string text(const Cell& v, Action act, bool all, GcRoot& out) {
        string_make(out.get());
        MoldArgs args;
        args.all = all;
        Cell value = v;
        auto fn = reinterpret_cast<ActionFn<ACT_MOLD>>(g_types.action(TYPE_CHAR, act));
        budget_left = fn(&value, out.get(), args, 100);
        return string_to_utf8(out.get());
    }
    int budget_left = 0;
};

TEST_F(CharTest, SlotsAreItsOwnOrInteger) {
    for (Action a : {ACT_MAKE, ACT_TO, ACT_FORM, ACT_MOLD, ACT_COMPARE, ACT_ADD, ACT_SUBTRACT, ACT_MULTIPLY, ACT_DIVIDE,
                     ACT_REMAINDER, ACT_AND_T, ACT_OR_T, ACT_XOR_T}) {
        EXPECT_NE(g_types.action(TYPE_CHAR, a), nullptr) << action_word(a);
    }
    EXPECT_EQ(g_types.action(TYPE_CHAR, ACT_MAKE), g_types.action(TYPE_CHAR, ACT_TO)) << "one routine";
    for (Action a : {ACT_RANDOM, ACT_ABSOLUTE, ACT_EVEN_Q, ACT_ODD_Q}) {
        EXPECT_EQ(g_types.action(TYPE_CHAR, a), g_types.action(TYPE_INTEGER, a)) << action_word(a) << " is integer!'s";
    }
    for (Action a : {ACT_NEGATE, ACT_POWER, ACT_COMPLEMENT, ACT_ROUND, ACT_APPEND, ACT_PICK, ACT_REFLECT}) {
        EXPECT_EQ(g_types.action(TYPE_CHAR, a), nullptr) << action_word(a);
    }
}

TEST_F(CharTest, ToFromNumbersAndChars) {
    struct Case {
        Cell source;
        Outcome want;
    } cases[] = {
        {integer(65), gives('A')},
        {integer(0), gives(0)},
        {integer(0x10FFFF), gives(0x10FFFF)},
        {integer(0x110000), fails(ERR_SCRIPT_OUT_OF_RANGE)},
        {integer(-1), fails(ERR_SCRIPT_OUT_OF_RANGE)},
        {chr(0xE9), gives(0xE9)},
        {chr(0x110000), fails(ERR_SCRIPT_OUT_OF_RANGE)},
        {real(65.9), gives('A')},
        {real(-0.5), gives(0)},  // toward zero
        {real(1114111.9), gives(0x10FFFF)},
        {real(1114112.0), fails(ERR_SCRIPT_OUT_OF_RANGE)},
        {real(-1.0), fails(ERR_SCRIPT_OUT_OF_RANGE)},
        {real(std::nan("")), fails(ERR_SCRIPT_OUT_OF_RANGE)},
        {real(1e300), fails(ERR_SCRIPT_OUT_OF_RANGE)},
        {real(66.5, TYPE_PERCENT), gives('B')},
        {g_none_value, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {g_true_value, fails(ERR_SCRIPT_BAD_TO_ARG)},
    };
    for (Case& c : cases) {
        Outcome got = to(c.source);
        EXPECT_EQ(got, c.want) << "source type " << type_name(cell_type(&c.source));
        if (got.error == ERR_SCRIPT_OUT_OF_RANGE) {
            EXPECT_EQ(std::memcmp(&got.arg1, &c.source, sizeof(Cell)), 0) << "the argument is the value converted";
        } else if (got.error == ERR_SCRIPT_BAD_TO_ARG) {
            EXPECT_TRUE(cell_is(&got.arg1, TYPE_DATATYPE) && datatype_id(&got.arg1) == TYPE_CHAR);
            EXPECT_EQ(cell_type(&got.arg2), cell_type(&c.source));
        }
    }
}

TEST_F(CharTest, ToFromTextReadsTheHead) {
    GcRoot str;
    string_make(str.get());
    for (uint32_t cp : {uint32_t('x'), 0x20ACu, uint32_t('y')}) string_append_char(series_node(str.get()), cp);
    EXPECT_EQ(to(*str), gives('x'));
    str->w1 = 1;
    EXPECT_EQ(to(*str), gives(0x20AC)) << "at the head index, in the string's unit";
    for (TypeId t : {TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) {
        Cell other = *str;
        cell_set_type(&other, t);
        EXPECT_EQ(to(other), gives(0x20AC)) << type_name(t);
    }
    str->w1 = 3;
    EXPECT_EQ(to(*str), fails(ERR_SCRIPT_BAD_TO_ARG)) << "at the tail";
    string_make(str.get());
    EXPECT_EQ(to(*str), fails(ERR_SCRIPT_BAD_TO_ARG)) << "empty";

    struct Case {
        std::string bytes;
        uint32_t head;
        Outcome want;
    } binaries[] = {
        {"A\xE2\x82\xAC", 0, gives('A')},
        {"A\xE2\x82\xAC", 1, gives(0x20AC)},
        {"\xF0\x9F\x98\x80", 0, gives(0x1F600)},
        {"", 0, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"AB", 2, fails(ERR_SCRIPT_BAD_TO_ARG)},              // head at the tail
        {"\xE2\x82", 0, fails(ERR_SCRIPT_BAD_TO_ARG)},        // the sequence needs bytes past the tail
        {"\x80" "A", 0, fails(ERR_ACCESS_INVALID_UTF8)},
        {"\xED\xB0\x80", 0, fails(ERR_ACCESS_INVALID_UTF8)},
    };
    for (const Case& c : binaries) {
        GcRoot bin;
        uint32_t node = series_alloc_bytes(c.bytes.size());
        Series* s = node_series(node);
        std::memcpy(s->head_ptr(), c.bytes.data(), c.bytes.size());
        s->tail = s->head + uint32_t(c.bytes.size());
        set_series(bin.get(), TYPE_BINARY, node, c.head);
        EXPECT_EQ(to(*bin), c.want) << testing::PrintToString(c.bytes);
    }
}

TEST_F(CharTest, FormAppendsTheCodePoint) {
    GcRoot out;
    EXPECT_EQ(text(chr('a'), ACT_FORM, false, out), "a");
    EXPECT_EQ(budget_left, 99);
    EXPECT_EQ(cell_series(out.get())->unit(), 1u);
    EXPECT_EQ(text(chr(0xE9), ACT_FORM, false, out), "\xC3\xA9");
    EXPECT_EQ(cell_series(out.get())->unit(), 2u) << "appending past 127 widens the output";
    EXPECT_EQ(text(chr(0x1F600), ACT_FORM, false, out), "\xF0\x9F\x98\x80");
    EXPECT_EQ(cell_series(out.get())->unit(), 4u);
}

TEST_F(CharTest, MoldEscapes) {
    struct Case {
        uint32_t cp;
        bool all;
        const char* mold;
    } cases[] = {
        {'a', false, "#\"a\""},          {'a', true, "#\"a\""},
        {0, false, "#\"^@\""},           {1, false, "#\"^A\""},          {8, false, "#\"^H\""},
        {9, false, "#\"^-\""},           {10, false, "#\"^/\""},         {11, false, "#\"^K\""},
        {26, false, "#\"^Z\""},          {27, false, "#\"^[\""},         {28, false, "#\"^\\\""},
        {29, false, "#\"^]\""},          {30, false, "#\"^(1E)\""},      {31, false, "#\"^_\""},
        {'"', false, "#\"^\"\""},        {'^', false, "#\"^^\""},        {127, false, "#\"^~\""},
        {'{', false, "#\"{\""},          {'}', false, "#\"}\""},         {' ', false, "#\" \""},
        {128, false, "#\"^(80)\""},      {159, false, "#\"^(9F)\""},
        {160, false, "#\"\xC2\xA0\""},   {160, true, "#\"^(A0)\""},
        {200, false, "#\"\xC3\x88\""},   {200, true, "#\"^(C8)\""},
        {0x1F600, false, "#\"\xF0\x9F\x98\x80\""}, {0x1F600, true, "#\"^(1F600)\""},
        {0x100, true, "#\"^(100)\""},
    };
    for (const Case& c : cases) {
        GcRoot out;
        EXPECT_EQ(text(chr(c.cp), ACT_MOLD, c.all, out), c.mold) << c.cp << (c.all ? " /all" : "");
        EXPECT_EQ(budget_left, 96) << "four less whatever the escape's length";
    }
}

TEST_F(CharTest, Compare) {
    auto compare = g_types.get<ACT_COMPARE>(TYPE_CHAR);
    struct Case {
        Cell a, b;
        CompareOp op;
        int want;
    } cases[] = {
        {chr('a'), integer(97), CMP_EQUAL, 0},
        {chr('a'), integer(97), CMP_STRICT_EQUAL, 1},
        {chr('a'), integer(97), CMP_FIND, 1},
        {chr('a'), chr('a'), CMP_STRICT_EQUAL, 0},
        {chr('a'), chr('a'), CMP_FIND, 0},
        {chr('a'), chr('A'), CMP_EQUAL, 1},  // no case folding
        {chr('a'), chr('b'), CMP_LESSER, -1},
        {chr(0x10FFFF), integer(-1), CMP_SORT, 1},  // the integer is signed
        {chr('a'), real(97.0), CMP_EQUAL, COMPARE_INCOMPARABLE},
        {chr('a'), g_none_value, CMP_EQUAL, COMPARE_INCOMPARABLE},
        {chr('a'), g_none_value, CMP_STRICT_EQUAL, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compare(&c.a, &c.b, c.op), c.want) << type_name(cell_type(&c.b)) << " op " << int(c.op);
    }
}

TEST_F(CharTest, ArithmeticStaysInTheCodePointRange) {
    struct Case {
        Action act;
        Cell a, b;
        Outcome want;
    } cases[] = {
        {ACT_ADD, chr('a'), integer(1), gives('b')},
        {ACT_ADD, chr('a'), chr(1), gives('b')},
        {ACT_ADD, chr(0x10FFFE), integer(1), gives(0x10FFFF)},
        {ACT_ADD, chr(0x10FFFF), integer(1), fails(ERR_MATH_OVERFLOW)},
        {ACT_ADD, chr('a'), integer(2147483647), fails(ERR_MATH_OVERFLOW)},
        {ACT_ADD, chr('a'), real(1.9), gives('b')},  // toward zero
        {ACT_ADD, chr('a'), real(-1.9), gives('`')},
        {ACT_ADD, chr('a'), real(1e10), fails(ERR_MATH_OVERFLOW)},
        {ACT_ADD, chr('a'), real(std::nan("")), fails(ERR_MATH_OVERFLOW)},
        {ACT_SUBTRACT, chr('a'), integer(98), fails(ERR_MATH_OVERFLOW)},
        {ACT_SUBTRACT, chr(0), integer(1), fails(ERR_MATH_OVERFLOW)},
        {ACT_SUBTRACT, chr('b'), chr('a'), gives(1)},
        {ACT_SUBTRACT, chr('a'), integer(-2147483647 - 1), fails(ERR_MATH_OVERFLOW)},
        {ACT_MULTIPLY, chr('a'), integer(2), gives(194)},
        {ACT_MULTIPLY, chr('a'), integer(-1), fails(ERR_MATH_OVERFLOW)},
        {ACT_MULTIPLY, chr(0), integer(-2147483647 - 1), gives(0)},
        {ACT_MULTIPLY, chr(0x10000), integer(0x10000), fails(ERR_MATH_OVERFLOW)},
        {ACT_DIVIDE, chr('a'), integer(2), gives('0')},  // the integer quotient
        {ACT_DIVIDE, chr('b'), integer(2), gives('1')},
        {ACT_DIVIDE, chr('a'), integer(0), fails(ERR_MATH_ZERO_DIVIDE)},
        {ACT_DIVIDE, chr('a'), real(0.5), fails(ERR_MATH_ZERO_DIVIDE)},  // truncated to 0
        {ACT_DIVIDE, chr('a'), integer(-1), fails(ERR_MATH_OVERFLOW)},
        {ACT_DIVIDE, chr(0), integer(-1), gives(0)},
        {ACT_REMAINDER, chr('a'), integer(10), gives(7)},
        {ACT_REMAINDER, chr('a'), integer(-10), gives(7)},  // the sign of the dividend
        {ACT_REMAINDER, chr('a'), integer(0), fails(ERR_MATH_ZERO_DIVIDE)},
        {ACT_AND_T, chr('a'), integer(0xDF), gives('A')},
        {ACT_AND_T, chr('a'), integer(-1), gives('a')},
        {ACT_OR_T, chr('A'), chr(0x20), gives('a')},
        {ACT_OR_T, chr('A'), integer(-1), fails(ERR_MATH_OVERFLOW)},
        {ACT_OR_T, chr('A'), integer(0x110000), fails(ERR_MATH_OVERFLOW)},
        {ACT_XOR_T, chr('a'), integer(0x20), gives('A')},
        {ACT_XOR_T, chr('a'), integer(-1), fails(ERR_MATH_OVERFLOW)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(math(c.act, c.a, c.b), c.want)
            << action_word(c.act) << " " << cell_char(&c.a) << " " << type_name(cell_type(&c.b)) << " " << c.b.w2;
    }
}

TEST_F(CharTest, ArithmeticRefusesOtherOperandTypes) {
    GcRoot str;
    string_make(str.get());
    for (const Cell& b : {g_none_value, g_true_value, real(1.0, TYPE_PERCENT), *str}) {
        Outcome got = math(ACT_ADD, chr('a'), b);
        EXPECT_EQ(got, fails(ERR_SCRIPT_INVALID_TYPE)) << type_name(cell_type(&b));
        EXPECT_TRUE(cell_is(&got.arg1, TYPE_DATATYPE) && datatype_id(&got.arg1) == cell_type(&b)) << "the operand's datatype";
    }
}

TEST_F(CharTest, MakeInAndPush) {
    GcRoot block;
    set_series(block.get(), TYPE_BLOCK, series_alloc_cells(1));
    char_make_in(block.get(), 'a');
    Cell* c = char_make_in(block.get(), 0x1F600);  // grows the block
    EXPECT_TRUE(cell_is(c, TYPE_CHAR));
    EXPECT_EQ(cell_char(c), 0x1F600u);
    Series* s = cell_series(block.get());
    ASSERT_EQ(s->used(), 2u);
    EXPECT_EQ(cell_char(&s->cells()[0]), uint32_t('a'));
    Cell* pushed = char_push('z');
    EXPECT_EQ(pushed, stack_top());
    EXPECT_EQ(cell_char(pushed), uint32_t('z'));
}

}  // namespace
}  // namespace zol::test
