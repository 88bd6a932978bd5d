// float!: make and to, form and mold, the text kinds of float_to_text, tolerant and exact comparison,
// arithmetic with its result types, power, round and the cell routines. percent! and time! values go
// through the same routines.
#include <bit>
#include <cmath>
#include <iomanip>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "tests/outcome.h"

namespace zol::test {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double DMAX = std::numeric_limits<double>::max();

Cell pct(double v) { return real(v, TYPE_PERCENT); }
Cell tm(double v) { return real(v, TYPE_TIME); }

double step(double d, int ulps) {
    for (; ulps > 0; ulps--) d = std::nextafter(d, INF);
    for (; ulps < 0; ulps++) d = std::nextafter(d, -INF);
    return d;
}

// A block of the given cells, rooted by the caller.
void make_block(GcRoot& block, std::initializer_list<Cell> cells, TypeId type = TYPE_BLOCK) {
    set_series(block.get(), type, series_alloc_cells(cells.size() + 1));
    for (const Cell& c : cells) *block_alloc_tail(block.get()) = c;
}

class FloatTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        saved_pretty_ = g_float_pretty;
    }
    void TearDown() override {
        g_float_pretty = saved_pretty_;
        RuntimeTest::TearDown();
    }
    // The routine float! registers for the action, on a value of any of the three floating types.
    Outcome math(Action act, const Cell& a, const Cell& b) { return call_math(TYPE_FLOAT, act, a, b); }
    Outcome to(const Cell& spec, TypeId target = TYPE_FLOAT, Action act = ACT_TO) {
        return call_to(TYPE_FLOAT, spec, target, act);
    }
    Outcome round(const Cell& value, const Cell* scale, const RoundArgs& flags) {
        return call_round(TYPE_FLOAT, value, scale, flags);
    }
    std::string text(double v, Action act) {
        GcRoot out;
        string_make(out.get());
        Cell value = real(v);
        auto fn = reinterpret_cast<ActionFn<ACT_MOLD>>(g_types.action(TYPE_FLOAT, act));
        int left = fn(&value, out.get(), MoldArgs{}, 100);
        std::string s = string_to_utf8(out.get());
        EXPECT_EQ(left, 100 - int(s.size())) << s;
        return s;
    }
    bool saved_pretty_ = true;
};

TEST_F(FloatTest, Slots) {
    for (Action a : {ACT_MAKE, ACT_RANDOM, ACT_TO, ACT_FORM, ACT_MOLD, ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE,
                     ACT_MULTIPLY, ACT_NEGATE, ACT_POWER, ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q}) {
        EXPECT_NE(g_types.action(TYPE_FLOAT, a), nullptr) << action_word(a);
    }
    for (Action a : {ACT_AND_T, ACT_OR_T, ACT_XOR_T, ACT_COMPLEMENT, ACT_REFLECT, ACT_EVAL_PATH, ACT_APPEND, ACT_PICK}) {
        EXPECT_EQ(g_types.action(TYPE_FLOAT, a), nullptr) << action_word(a);
    }
    EXPECT_EQ(g_types.action(TYPE_FLOAT, ACT_MAKE), g_types.action(TYPE_FLOAT, ACT_TO));
    EXPECT_EQ(g_types.action(TYPE_FLOAT, ACT_ROUND), reinterpret_cast<AnyFn>(float_round));
    EXPECT_EQ(g_types.action(TYPE_FLOAT, ACT_COMPARE), reinterpret_cast<AnyFn>(float_compare));
    EXPECT_EQ(g_types.action(TYPE_FLOAT, ACT_POWER), reinterpret_cast<AnyFn>(float_power));
    EXPECT_TRUE(g_float_pretty) << "on at start-up";
    EXPECT_FALSE(g_float_full);
}

TEST_F(FloatTest, ToFromScalars) {
    struct Case {
        Cell spec;
        TypeId target;
        Outcome want;
    } cases[] = {
        {chr('A'), TYPE_FLOAT, gives(real(65.0))},
        {integer(-5), TYPE_FLOAT, gives(real(-5.0))},
        {integer(-5), TYPE_PERCENT, gives(pct(-5.0))},
        {real(1.5), TYPE_PERCENT, gives(pct(1.5))},
        {pct(0.5), TYPE_FLOAT, gives(real(0.5))},
        {tm(90.5), TYPE_FLOAT, gives(real(90.5))},
        {real(NAN), TYPE_FLOAT, gives(real(NAN))},
        {g_none_value, TYPE_FLOAT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {g_true_value, TYPE_PERCENT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {bare(TYPE_PAIR), TYPE_FLOAT, fails(ERR_SCRIPT_BAD_TO_ARG)},
    };
    for (const Case& c : cases) {
        for (Action act : {ACT_TO, ACT_MAKE}) {
            Outcome got = to(c.spec, c.target, act);
            EXPECT_EQ(got, c.want) << describe(c.spec) << " to " << type_name(c.target);
            if (got.error == ERR_SCRIPT_BAD_TO_ARG) {
                EXPECT_TRUE(cell_is(&got.arg1, TYPE_DATATYPE) && datatype_id(&got.arg1) == c.target);
                EXPECT_EQ(std::memcmp(&got.arg2, &c.spec, sizeof(Cell)), 0);
            }
        }
    }
}

TEST_F(FloatTest, ToFromText) {
    struct Case {
        const char* text;
        TypeId target;
        Outcome want;
    } cases[] = {
        {"1.5", TYPE_FLOAT, gives(real(1.5))},
        {"1,5", TYPE_FLOAT, gives(real(1.5))},
        {"-1'000.5", TYPE_FLOAT, gives(real(-1000.5))},
        {"12", TYPE_FLOAT, gives(real(12.0))},
        {"1e400", TYPE_FLOAT, gives(real(INF))},
        {"", TYPE_FLOAT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"abc", TYPE_FLOAT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {" 1.5", TYPE_FLOAT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"1.5%", TYPE_FLOAT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"12.5%", TYPE_PERCENT, gives(pct(0.125))},
        {" 12.5%\n", TYPE_PERCENT, gives(pct(0.125))},  // loaded as a value: blanks around it are skipped
        {"7%", TYPE_PERCENT, gives(pct(0.07))},
        {"50", TYPE_PERCENT, gives(pct(50.0))},
        {"0.5", TYPE_PERCENT, gives(pct(0.5))},
        {"%", TYPE_PERCENT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"", TYPE_PERCENT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"  ", TYPE_PERCENT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"1 2", TYPE_PERCENT, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"x%", TYPE_PERCENT, fails(ERR_SCRIPT_BAD_TO_ARG)},
    };
    for (const Case& c : cases) {
        GcRoot str;
        string_make(str.get());
        string_append_ascii(str.get(), c.text);
        EXPECT_EQ(to(*str, c.target), c.want) << '"' << c.text << "\" to " << type_name(c.target);
    }
    GcRoot str;
    string_make(str.get());
    string_append_ascii(str.get(), "9.25");
    string_append_char(series_node(str.get()), 0x20AC);
    str->w1 = 4;
    EXPECT_EQ(to(*str), fails(ERR_SCRIPT_BAD_TO_ARG)) << "at the tail";
    string_make(str.get());
    string_append_char(series_node(str.get()), 0x20AC);
    string_append_ascii(str.get(), "9.25");
    str->w1 = 1;
    EXPECT_EQ(to(*str), gives(real(9.25))) << "from the head, in 2-byte units";
    for (TypeId t : {TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) {
        Cell other = *str;
        cell_set_type(&other, t);
        EXPECT_EQ(to(other), gives(real(9.25))) << type_name(t);
    }
}

TEST_F(FloatTest, ToFromBinaryAndBlock) {
    struct BinaryCase {
        std::string bytes;
        uint32_t head;
        double want;
    } binaries[] = {
        {std::string("\x3F\xF0\0\0\0\0\0\0", 8), 0, 1.0},
        {std::string("\x3F\xF0\0\0\0\0\0\0\xFF", 9), 0, 1.0},  // the first 8 bytes only
        {std::string("\x00\x3F\xF0\0\0\0\0\0\0", 9), 1, 1.0},
        {"\x01", 0, 5e-324},  // right-aligned: the low byte
        {"", 0, 0.0},
    };
    for (const BinaryCase& c : binaries) {
        GcRoot bin;
        uint32_t node = series_alloc_bytes(c.bytes.size());
        Series* s = node_series(node);
        std::memcpy(s->head_ptr(), c.bytes.data(), c.bytes.size());
        s->tail = s->head + uint32_t(c.bytes.size());
        set_series(bin.get(), TYPE_BINARY, node, c.head);
        EXPECT_EQ(to(*bin), gives(real(c.want))) << testing::PrintToString(c.bytes);
    }

    GcRoot str;
    string_make(str.get());
    struct BlockCase {
        std::vector<Cell> cells;
        Outcome want;
    } blocks[] = {
        {{integer(15), integer(-1)}, gives(real(1.5))},
        {{integer(3), integer(-1)}, gives(real(0.3))},  // the literal 3e-1, not 3 times an inexact 0.1
        {{real(1.5), integer(2)}, gives(real(150.0))},
        {{real(0.1), integer(1)}, gives(real(1.0))},
        {{integer(2), real(1.9)}, gives(real(20.0))},  // the exponent truncated
        {{integer(-2), real(-1.9)}, gives(real(-0.2))},
        {{integer(1), integer(400)}, gives(real(INF))},
        {{integer(1), real(1e300)}, gives(real(INF))},
        {{integer(1), real(-1e300)}, gives(real(0.0))},
        {{integer(0), integer(5)}, gives(real(0.0))},
        {{real(-0.0), integer(5)}, gives(real(-0.0))},
        {{real(INF), integer(-400)}, gives(real(INF))},
        {{integer(1), real(NAN)}, gives(real(NAN))},
        {{integer(-2147483647 - 1), integer(-2147483647 - 1)}, gives(real(-0.0))},
        {{integer(1), integer(2), integer(3)}, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {{integer(1)}, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {{}, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {{integer(1), g_none_value}, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {{*str, integer(1)}, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {{pct(0.5), integer(1)}, fails(ERR_SCRIPT_BAD_TO_ARG)},
    };
    for (const BlockCase& c : blocks) {
        for (TypeId t : {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH}) {
            GcRoot block;
            set_series(block.get(), t, series_alloc_cells(4));
            for (const Cell& cell : c.cells) *block_alloc_tail(block.get()) = cell;
            EXPECT_EQ(to(*block), c.want) << c.cells.size() << " cells, " << type_name(t);
        }
    }
    GcRoot block;
    make_block(block, {integer(9), integer(15), integer(-1)});
    block->w1 = 1;
    EXPECT_EQ(to(*block), gives(real(1.5))) << "from the head index";
}

TEST_F(FloatTest, FormAndMold) {
    struct Case {
        double value;
        const char *form, *form_plain, *mold;  // form with pretty? on and off
    } cases[] = {
        {0.1 + 0.7, "0.8", "0.7999999999999999", "0.7999999999999999"},
        {-(0.1 + 0.7), "-0.8", "-0.7999999999999999", "-0.7999999999999999"},
        {0.1 + 0.2, "0.3", "0.3", "0.30000000000000004"},
        {1.000000000000001, "1.0", "1.000000000000001", "1.000000000000001"},
        {4.35 * 100, "435.0", "434.9999999999999", "434.99999999999994"},
        {1e23, "1.0e23", "9.999999999999999e22", "1.0e23"},
        {-1.23456789012301, "-1.23456789012301", "-1.23456789012301", "-1.23456789012301"},  // the sign does not count
        {1e20, "1.0e20", "1.0e20", "1.0e20"},
        {3.0, "3.0", "3.0", "3.0"},
        {1e16, "1.0e16", "1.0e16", "10000000000000000.0"},
        {1e-5, "1.0e-5", "1.0e-5", "0.00001"},
        {123.456, "123.456", "123.456", "123.456"},
        {1.5e300, "1.5e300", "1.5e300", "1.5e300"},
        {1e-20, "0.0", "9.999999999999999e-21", "1.0e-20"},
        {-0.0, "0.0", "-0.0", "-0.0"},
        {INF, "1.#INF", "1.#INF", "1.#INF"},
        {-INF, "-1.#INF", "-1.#INF", "-1.#INF"},
        {NAN, "1.#NaN", "1.#NaN", "1.#NaN"},
    };
    for (const Case& c : cases) {
        g_float_pretty = true;
        EXPECT_EQ(text(c.value, ACT_FORM), c.form) << c.mold;
        EXPECT_EQ(text(c.value, ACT_MOLD), c.mold);
        g_float_pretty = false;
        EXPECT_EQ(text(c.value, ACT_FORM), c.form_plain) << c.mold;
        EXPECT_EQ(text(c.value, ACT_MOLD), c.mold) << "mold does not look at pretty?";
    }
}

TEST_F(FloatTest, TextKinds) {
    struct Case {
        double value;
        FloatTextKind kind;
        bool pretty;
        const char* text;
    } cases[] = {
        {12.5, FLOAT_TEXT_PERCENT, true, "12.5%"},
        {100.0, FLOAT_TEXT_PERCENT, true, "100%"},
        {1e-18, FLOAT_TEXT_PERCENT, true, "0%"},
        {1e-18, FLOAT_TEXT_PERCENT, false, "1e-18%"},
        {12.3456789012345678, FLOAT_TEXT_PERCENT, true, "12.34567890123%"},
        {1e-18, FLOAT_TEXT_PERCENT32, true, "0%"},
        {33.333333333, FLOAT_TEXT_PERCENT32, true, "33.33333%"},
        {1.5, FLOAT_TEXT_FLOAT32, true, "1.5"},
        {1.0 / 3, FLOAT_TEXT_FLOAT32, true, "0.3333333"},
        {2.0, FLOAT_TEXT_FLOAT32, true, "2.0"},
        {1e20, FLOAT_TEXT_FLOAT32, true, "1.0e20"},
        {double(0.3f), FLOAT_TEXT_FLOAT32, true, "0.3"},
        {1e-20, FLOAT_TEXT_FLOAT32, true, "0.0"},
        {2.0, FLOAT_TEXT_POINT, true, "2"},
        {1e20, FLOAT_TEXT_POINT, true, "1e20"},
        {-1.25e-7, FLOAT_TEXT_POINT, true, "-1.25e-7"},
        {1e-20, FLOAT_TEXT_POINT, true, "0"},
        {0.0, FLOAT_TEXT_POINT, false, "0"},
        {3.5, FLOAT_TEXT_TIME, true, "3.5"},
        {3.0, FLOAT_TEXT_TIME, true, "3"},
        {56.123456789, FLOAT_TEXT_TIME, true, "56.1235"},
        {0.000123456789, FLOAT_TEXT_TIME, true, "0.000123457"},
        {1e-20, FLOAT_TEXT_TIME, true, "0.0"},
        {-INF, FLOAT_TEXT_PERCENT, true, "-1.#INF"},
        {NAN, FLOAT_TEXT_POINT, true, "1.#NaN"},
        {-0.0, FLOAT_TEXT_FLOAT32, false, "-0.0"},
    };
    for (const Case& c : cases) {
        g_float_pretty = c.pretty;
        EXPECT_STREQ(float_to_text(c.value, c.kind), c.text) << c.value << " kind " << int(c.kind);
    }
}

TEST_F(FloatTest, AlmostEqual) {
    struct Case {
        double x, y;
        bool equal;
    } cases[] = {
        {0.1 + 0.2, 0.3, true},
        {1.0, step(1.0, 10), true},
        {1.0, step(1.0, 11), false},
        {-1.0, step(-1.0, -10), true},
        {0.0, -0.0, true},
        {1e-17, -1e-17, true},  // closer than the epsilon
        {1e-16, 2e-16, true},
        {1e-10, 2e-10, false},
        {5e-324, -5e-324, true},
        {DMAX, step(DMAX, -10), true},
        {1e300, 1.0000000000001e300, false},
        {1.0, 1.0000001, false},
        {INF, INF, true},
        {INF, DMAX, false},  // an infinity equals only itself
        {-INF, INF, false},
        {NAN, NAN, false},
        {NAN, 1.0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_almost_equal_q(c.x, c.y), c.equal) << std::setprecision(17) << c.x << " " << c.y;
        EXPECT_EQ(float_almost_equal_q(c.y, c.x), c.equal) << "symmetric";
    }
    auto fstep = [](float f, int n) {
        for (; n > 0; n--) f = std::nextafter(f, INFINITY);
        for (; n < 0; n++) f = std::nextafter(f, -INFINITY);
        return f;
    };
    constexpr float FMAX = std::numeric_limits<float>::max();
    struct Case32 {
        float a, b;
        bool equal;
    } cases32[] = {
        {0.1f + 0.2f, 0.3f, true},
        {1.0f, fstep(1.0f, 10), true},
        {1.0f, fstep(1.0f, 11), false},
        {-1.0f, fstep(-1.0f, -10), true},
        {0.0f, -0.0f, true},
        {1e-45f, -1e-45f, true},
        {NAN, NAN, false},
        {FMAX, INFINITY, true},  // past the largest float only the sign and a coarse distance count
        {INFINITY, -INFINITY, false},
        {fstep(FMAX, -10), fstep(FMAX, -20), true},
        {1.0f, 1.001f, false},
    };
    for (const Case32& c : cases32) {
        EXPECT_EQ(float32_almost_equal_q(c.a, c.b), c.equal) << c.a << " " << c.b;
        EXPECT_EQ(float32_almost_equal_q(c.b, c.a), c.equal) << "symmetric";
    }
}

TEST_F(FloatTest, Compare) {
    struct Case {
        Cell a, b;
        CompareOp op;
        int want;
    } cases[] = {
        {real(0.1 + 0.2), real(0.3), CMP_EQUAL, 0},
        {real(0.1 + 0.2), real(0.3), CMP_NOT_EQUAL, 0},  // the caller turns 0 into "not unequal"
        {real(0.1), real(0.3), CMP_NOT_EQUAL, 1},
        {real(0.1 + 0.2), real(0.3), CMP_STRICT_EQUAL, 1},
        {real(0.3), real(0.3), CMP_STRICT_EQUAL, 0},
        {real(0.0), real(-0.0), CMP_EQUAL, 0},
        {real(0.0), real(-0.0), CMP_STRICT_EQUAL, 0},
        {real(0.0), real(-0.0), CMP_SAME, 1},
        {real(0.5), real(0.5), CMP_SAME, 0},
        {real(1.0), integer(1), CMP_EQUAL, 0},
        {real(1.0), integer(1), CMP_STRICT_EQUAL, 1},
        {real(1.0), integer(1), CMP_SAME, 1},
        {real(1.0), integer(1), CMP_FIND, 1},
        {real(0.5), pct(0.5), CMP_EQUAL, 0},
        {real(0.5), pct(0.5), CMP_STRICT_EQUAL, 1},
        {pct(0.5), pct(0.5), CMP_STRICT_EQUAL, 0},
        {real(60.0), tm(60.0), CMP_EQUAL, 0},
        {tm(30.0), tm(60.0), CMP_LESSER, -1},
        {real(0.3), real(0.3), CMP_FIND, 0},
        {real(0.1 + 0.2), real(0.3), CMP_FIND, 1},
        {real(NAN), real(NAN), CMP_EQUAL, 1},
        {real(NAN), real(NAN), CMP_STRICT_EQUAL, 1},
        {real(NAN), real(NAN), CMP_FIND, 1},  // a NaN is never found
        {real(NAN), real(NAN), CMP_SAME, 0},
        {real(NAN), real(1.0), CMP_LESSER, 1},
        {real(NAN), real(1.0), CMP_LESSER_OR_EQUAL, 1},
        {real(1.0), real(NAN), CMP_GREATER, -1},
        {real(1.0), real(NAN), CMP_GREATER_OR_EQUAL, -1},
        {real(1.0), real(NAN), CMP_SORT, 0},
        {real(1.0), real(2.0), CMP_LESSER, -1},
        {real(2.0), real(1.0), CMP_SORT, 1},
        {real(1.0), real(step(1.0, 1)), CMP_LESSER, -1},  // ordering is exact
        {real(-INF), real(INF), CMP_LESSER, -1},
        {real(1.0), chr(1), CMP_EQUAL, COMPARE_INCOMPARABLE},
        {real(1.0), g_none_value, CMP_EQUAL, COMPARE_INCOMPARABLE},
        {real(1.0), g_none_value, CMP_STRICT_EQUAL, 1},
        {real(1.0), bare(TYPE_MONEY), CMP_EQUAL, 1},  // unequal to $0, through money!
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_compare(&c.a, &c.b, c.op), c.want) << describe(c.a) << " vs " << describe(c.b) << " op " << int(c.op);
    }
}

TEST_F(FloatTest, ArithmeticAndResultTypes) {
    struct Case {
        Action act;
        Cell a, b;
        Outcome want;
    } cases[] = {
        {ACT_ADD, real(0.1), real(0.2), gives(real(0.30000000000000004))},
        {ACT_ADD, real(1.5), integer(2), gives(real(3.5))},
        {ACT_ADD, real(1.5), chr(1), gives(real(2.5))},
        {ACT_SUBTRACT, real(1.5), integer(2), gives(real(-0.5))},
        {ACT_MULTIPLY, real(1.5), real(2.0), gives(real(3.0))},
        {ACT_ADD, pct(0.1), integer(1), gives(pct(1.1))},  // percent! on the left stays percent!
        {ACT_MULTIPLY, pct(0.1), pct(0.5), gives(pct(0.05))},
        {ACT_ADD, real(0.5), pct(0.1), gives(real(0.6))},
        {ACT_ADD, real(1.0), tm(60.0), gives(tm(61.0))},  // time! on either side wins
        {ACT_ADD, pct(0.5), tm(60.0), gives(tm(60.5))},
        {ACT_MULTIPLY, tm(60.0), pct(0.5), gives(tm(30.0))},
        {ACT_DIVIDE, tm(60.0), tm(30.0), gives(tm(2.0))},
        {ACT_ADD, integer(1), real(0.5), gives(real(1.5))},  // integer! on the left, as integer! hands over
        {ACT_ADD, pct(0.5), chr(1), fails(ERR_SCRIPT_INVALID_TYPE)},
        {ACT_ADD, tm(60.0), chr(1), fails(ERR_SCRIPT_INVALID_TYPE)},
        {ACT_DIVIDE, real(1.0), integer(0), gives(real(INF))},
        {ACT_DIVIDE, real(-1.0), real(0.0), gives(real(-INF))},
        {ACT_DIVIDE, real(1.0), real(-0.0), gives(real(-INF))},
        {ACT_DIVIDE, real(0.0), real(0.0), gives(real(NAN))},
        {ACT_DIVIDE, real(INF), real(0.0), gives(real(INF))},
        {ACT_REMAINDER, real(1.0), real(0.0), gives(real(NAN))},
        {ACT_REMAINDER, real(5.5), real(INF), gives(real(5.5))},
        {ACT_REMAINDER, real(5.5), real(-INF), gives(real(5.5))},
        {ACT_REMAINDER, real(INF), real(INF), gives(real(NAN))},
        {ACT_REMAINDER, real(5.5), real(NAN), gives(real(NAN))},
        {ACT_REMAINDER, real(INF), real(2.0), gives(real(NAN))},
        {ACT_REMAINDER, real(-7.5), integer(2), gives(real(-1.5))},
        {ACT_REMAINDER, real(7.5), integer(-2), gives(real(1.5))},
        {ACT_ADD, real(INF), real(-INF), gives(real(NAN))},
        {ACT_MULTIPLY, real(DMAX), real(2.0), gives(real(INF))},
        {ACT_ADD, real(1.0), g_none_value, fails(ERR_SCRIPT_INVALID_TYPE)},
        {ACT_SUBTRACT, real(1.0), bare(TYPE_PAIR), fails(ERR_SCRIPT_NOT_RELATED)},
        {ACT_DIVIDE, real(1.0), bare(TYPE_POINT2D), fails(ERR_SCRIPT_NOT_RELATED)},
        {ACT_SUBTRACT, tm(1.0), bare(TYPE_POINT3D), fails(ERR_SCRIPT_NOT_RELATED)},
        {ACT_ADD, real(1.0), bare(TYPE_PAIR), gives(bare(TYPE_PAIR))},  // exchanged: pair! takes the number
        {ACT_REMAINDER, real(1.0), bare(TYPE_PAIR), fails(ERR_SCRIPT_INVALID_TYPE)},
    };
    for (const Case& c : cases) {
        Outcome got = math(c.act, c.a, c.b);
        EXPECT_EQ(got, c.want) << action_word(c.act) << " " << describe(c.a) << " " << describe(c.b);
        if (got.error == ERR_SCRIPT_INVALID_TYPE) {
            EXPECT_TRUE(cell_is(&got.arg1, TYPE_DATATYPE) && datatype_id(&got.arg1) == cell_type(&c.b));
        } else if (got.error == ERR_SCRIPT_NOT_RELATED) {
            Cell word = word_load(action_word(c.act));
            EXPECT_TRUE(is_any_word(&got.arg1) && word_symbol(&got.arg1) == word_symbol(&word));
            EXPECT_TRUE(cell_is(&got.arg2, TYPE_DATATYPE) && datatype_id(&got.arg2) == cell_type(&c.b));
        }
    }
    Outcome got = attempt([] { float_op(1.0, 2.0, ARITH_OR); });
    EXPECT_EQ(got, fails(ERR_SCRIPT_CANNOT_USE));
    EXPECT_TRUE(cell_is(&got.arg2, TYPE_DATATYPE) && datatype_id(&got.arg2) == TYPE_FLOAT);
}

std::vector<std::string> g_calls;
void spy_add() {
    g_calls.push_back(std::string("add ") + type_name(cell_type(g_args.base)) + " " +
                      type_name(cell_type(g_args.base + 1)));
}

TEST_F(FloatTest, PairsAndPointsTakeAddAndMultiplyWithTheOperandsExchanged) {
    auto saved = std::make_unique<DatatypeRegistry>(g_types);
    g_types.register_datatype(Registration(TYPE_POINT2D).own<ACT_ADD>(spy_add).own<ACT_MULTIPLY>(spy_add));
    g_calls.clear();
    EXPECT_EQ(math(ACT_ADD, real(1.5), bare(TYPE_POINT2D)).error, ERR_COUNT);
    EXPECT_EQ(math(ACT_MULTIPLY, pct(0.5), bare(TYPE_POINT2D)).error, ERR_COUNT);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"add point2D! float!", "add point2D! percent!"}));
    EXPECT_EQ(math(ACT_ADD, tm(1.0), bare(TYPE_POINT2D)), fails(ERR_SCRIPT_INVALID_TYPE)) << "not with a time!";
    EXPECT_EQ(g_calls.size(), 2u);
    g_types = *saved;
}

TEST_F(FloatTest, Power) {
    struct Case {
        Cell base, exponent;
        Outcome want;
    } cases[] = {
        {real(2.0), integer(3), gives(real(8.0))},
        {real(2.0), real(0.5), gives(real(std::sqrt(2.0)))},
        {real(2.0), integer(-1), gives(real(0.5))},
        {real(-8.0), real(1.0 / 3), gives(real(NAN))},
        {real(0.0), integer(-1), gives(real(INF))},
        {pct(0.5), integer(2), gives(pct(0.25))},  // the base keeps its type
        {real(2.0), g_none_value, fails(ERR_SCRIPT_EXPECT_ARG)},
        {real(2.0), pct(0.5), fails(ERR_SCRIPT_EXPECT_ARG)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(math(ACT_POWER, c.base, c.exponent), c.want) << describe(c.base) << " ** " << describe(c.exponent);
    }
}

TEST_F(FloatTest, AbsoluteNegateEvenOdd) {
    auto unary = [&](Action act, const Cell& v) {
        return attempt([&] {
            Cell* c = stack_push(&v);
            if (act == ACT_ABSOLUTE) {
                g_types.get<ACT_ABSOLUTE>(TYPE_FLOAT)();
            } else {
                g_types.get<ACT_NEGATE>(TYPE_FLOAT)(c);
            }
        });
    };
    struct Case {
        Action act;
        Cell value;
        Outcome want;
    } cases[] = {
        {ACT_ABSOLUTE, real(-1.5), gives(real(1.5))},
        {ACT_ABSOLUTE, real(-0.0), gives(real(0.0))},
        {ACT_ABSOLUTE, real(-INF), gives(real(INF))},
        {ACT_ABSOLUTE, pct(-0.5), gives(pct(0.5))},
        {ACT_NEGATE, real(1.5), gives(real(-1.5))},
        {ACT_NEGATE, real(0.0), gives(real(0.0))},
        {ACT_NEGATE, real(-0.0), gives(real(0.0))},  // 0.0 - value
        {ACT_NEGATE, tm(60.0), gives(tm(-60.0))},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unary(c.act, c.value), c.want) << action_word(c.act) << " " << describe(c.value);
    }
    Outcome abs_nan = unary(ACT_ABSOLUTE, real(-NAN));
    EXPECT_FALSE(std::signbit(cell_float(&abs_nan.value)));

    auto even = g_types.get<ACT_EVEN_Q>(TYPE_FLOAT);
    auto odd = g_types.get<ACT_ODD_Q>(TYPE_FLOAT);
    struct Parity {
        double value;
        bool even;
    } parities[] = {{2.0, true}, {3.7, false}, {-3.7, false}, {-2.5, true}, {0.5, true}, {3e9, true},
                    {-3e9, true}, {NAN, true}, {2147483647.5, false}, {-2147483648.5, true}, {-2147483647.9, false}};
    for (const Parity& p : parities) {
        Cell c = real(p.value);
        EXPECT_EQ(even(&c), p.even) << p.value;
        EXPECT_EQ(odd(&c), !p.even) << p.value;
    }
}

TEST_F(FloatTest, Round) {
    Cell none = g_none_value;
    struct Case {
        Cell value;
        Cell scale;  // none! for no /to
        int flags;
        Outcome want;
    } cases[] = {
        {real(2.5), none, 0, gives(real(3.0))},
        {real(2.5), none, EVEN, gives(real(2.0))},
        {real(3.5), none, EVEN, gives(real(4.0))},
        {real(-3.5), none, EVEN, gives(real(-4.0))},
        {real(2.5), none, HALF_DOWN, gives(real(2.0))},
        {real(-2.5), none, 0, gives(real(-3.0))},
        {real(-2.5), none, HALF_CEILING, gives(real(-2.0))},
        {real(2.5), none, HALF_CEILING, gives(real(3.0))},
        {real(2.4), none, 0, gives(real(2.0))},
        {real(2.6), none, HALF_DOWN, gives(real(3.0))},
        {real(-0.4), none, 0, gives(real(-0.0))},  // keeps the sign
        {real(2.7), none, DOWN, gives(real(2.0))},
        {real(-2.7), none, DOWN, gives(real(-2.0))},
        {real(-2.1), none, FLOOR, gives(real(-3.0))},
        {real(-2.9), none, CEILING, gives(real(-2.0))},
        {real(0.49999999999999994), none, 0, gives(real(0.0))},
        {real(2.567), real(0.01), 0, gives(real(2.57))},
        {real(2.567), real(-0.01), 0, gives(real(2.57))},
        {real(7.3), integer(2), 0, gives(integer(8))},  // an integer! scale makes an integer!
        {real(7.3), real(2.0), 0, gives(real(8.0))},
        {real(12.5), pct(0.05), 0, gives(pct(12.5))},  // the result takes the scale's type
        {real(90.6), tm(60.0), 0, gives(tm(120.0))},
        {real(1e300), integer(1), 0, gives(real(1e300))},  // below its precision: unchanged, type included
        {real(3e9), integer(1), 0, fails(ERR_MATH_OVERFLOW)},  // no 32-bit integer holds it
        {real(1.5e308), real(1e308), 0, fails(ERR_MATH_OVERFLOW)},
        {real(5.0), integer(0), 0, gives(real(5.0))},
        {real(0.0), real(0.0), 0, gives(real(0.0))},
        {real(NAN), none, 0, gives(real(NAN))},
        {real(INF), none, 0, gives(real(INF))},
        {real(-INF), real(0.5), 0, gives(real(-INF))},
        {real(17.0), bare(TYPE_MONEY), 0, fails(ERR_SCRIPT_NOT_RELATED)},
        {real(17.0), g_true_value, 0, fails(ERR_SCRIPT_EXPECT_ARG)},
        {pct(0.12345), none, 0, gives(pct(0.12))},  // a percent rounds to one percent
        {pct(0.12345), real(0.1), 0, gives(real(0.123))},  // the scale counts in percent
        {pct(0.12345), integer(5), 0, gives(integer(0))},
        {tm(90.6), none, 0, gives(tm(91.0))},
    };
    for (const Case& c : cases) {
        const Cell* scale = cell_is(&c.scale, TYPE_NONE) ? nullptr : &c.scale;
        EXPECT_EQ(round(c.value, scale, flags(c.flags)), c.want)
            << "round " << describe(c.value) << " to " << describe(c.scale) << " flags " << c.flags;
    }
}

TEST_F(FloatTest, RoundToASubnormalScale) {
    // A scale whose reciprocal is no finite double still gives a multiple of the scale nearest the value.
    for (double s : {1e-320, 3e-315, 5e-324}) {
        for (double x : {1e-310, -7.77e-312, 2.5e-316}) {
            Cell scale = real(s);
            Outcome got = round(real(x), &scale, flags(0));
            ASSERT_EQ(got.error, ERR_COUNT);
            double r = cell_float(&got.value);
            double q = r / s;
            EXPECT_EQ(q, std::trunc(q)) << x << " to " << s << " gave " << r;
            EXPECT_LE(std::fabs(r - x), s / 2 * (1 + 1e-12)) << x << " to " << s << " gave " << r;
        }
    }
}

TEST_F(FloatTest, Random) {
    auto random = [&](const Cell& v, bool seed, bool secure) {
        Outcome r = attempt([&] { g_types.get<ACT_RANDOM>(TYPE_FLOAT)(stack_push(&v), seed, secure, false); });
        EXPECT_EQ(r.error, ERR_COUNT);
        return r.value;
    };
    Cell r = random(real(1.5), true, false);
    EXPECT_TRUE(cell_is(&r, TYPE_UNSET)) << "/seed gives unset";
    std::vector<double> first;
    for (int i = 0; i < 10; i++) {
        r = random(real(10.0), false, false);
        first.push_back(cell_float(&r));
    }
    random(real(1.5), true, false);
    for (int i = 0; i < 10; i++) {
        r = random(real(10.0), false, false);
        EXPECT_EQ(cell_float(&r), first[size_t(i)]) << "the same seed, the same draws";
    }
    bool low = false, high = false;
    for (int i = 0; i < 200; i++) {
        for (bool secure : {false, true}) {
            r = random(real(-10.0), false, secure);
            ASSERT_TRUE(cell_is(&r, TYPE_FLOAT));
            double d = cell_float(&r);
            ASSERT_TRUE(d <= 0.0 && d >= -10.0) << d;
            low |= d > -5.0;
            high |= d < -5.0;
        }
    }
    EXPECT_TRUE(low && high) << "spread over the range";
    r = random(pct(0.5), false, false);
    EXPECT_TRUE(cell_is(&r, TYPE_PERCENT)) << "the value keeps its type";
}

TEST_F(FloatTest, CellRoutines) {
    GcRoot block;
    set_series(block.get(), TYPE_BLOCK, series_alloc_cells(1));
    float_make_in(block.get(), 0x3FF00000, 0);
    Cell* c = float_make_in(block.get(), 0x7FF80000, 1);  // grows the block
    EXPECT_TRUE(float_nan_q(float_get(c)));
    Series* s = cell_series(block.get());
    ASSERT_EQ(s->used(), 2u);
    EXPECT_TRUE(cell_is(&s->cells()[0], TYPE_FLOAT));
    EXPECT_EQ(float_get(&s->cells()[0]), 1.0);

    Cell* base = stack_push(&g_none_value);
    Cell* pushed = float_push(2.5);
    EXPECT_EQ(pushed, stack_top());
    EXPECT_EQ(float_get(pushed), 2.5);
    pushed = float_push_halves(0xC0000000, 0);
    EXPECT_EQ(float_get(pushed), -2.0);
    EXPECT_EQ(float_set_result(-3.25), base);
    EXPECT_TRUE(cell_is(base, TYPE_FLOAT));
    EXPECT_EQ(float_get(base), -3.25);

    struct Pixel {
        double value;
        int32_t want;
    } pixels[] = {{0.5, 0}, {1.5, 1}, {1.6, 2}, {2.4999, 2}, {-0.4, 0}, {-1.5, -1}, {-1.6, -1},
                  {3e9, 2147483647}, {-3e9, -2147483647 - 1}, {NAN, 0}, {INF, 2147483647}};
    for (const Pixel& p : pixels) EXPECT_EQ(float_round_to_int(p.value), p.want) << p.value;

    EXPECT_TRUE(float_nan_q(NAN));
    EXPECT_TRUE(float_nan_q(std::bit_cast<double>(uint64_t(0xFFF0000000000001))));
    EXPECT_FALSE(float_nan_q(INF));
    EXPECT_FALSE(float_nan_q(DMAX));
    EXPECT_TRUE(float32_nan_q(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(float32_nan_q(std::numeric_limits<float>::infinity()));
    EXPECT_TRUE(float_special_q(-INF));
    EXPECT_TRUE(float_special_q(NAN));
    EXPECT_FALSE(float_special_q(DMAX));
    EXPECT_EQ(std::bit_cast<uint64_t>(float_abs(-0.0)), 0u);
    EXPECT_EQ(std::bit_cast<uint64_t>(FLOAT_NAN), 0x7FF8000000000000u);
    EXPECT_EQ(std::bit_cast<uint64_t>(FLOAT_ROUNDING_BIAS), 0x3FDFFFFF00000000u);
}

}  // namespace
}  // namespace zol::test
