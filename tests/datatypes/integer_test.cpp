// integer!: make and to, text, compare, arithmetic with overflow into float!, mixed operands, power, round
// and the slots char! shares.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/random.h"
#include "tests/outcome.h"

namespace zol::test {
namespace {

constexpr int32_t MIN = -2147483647 - 1;
constexpr int32_t MAX = 2147483647;

Outcome gives_int(int32_t v) { return gives(integer(v)); }
Outcome gives_float(double d, TypeId t = TYPE_FLOAT) { return gives(real(d, t)); }

class IntegerTest : public RuntimeTest {
protected:
    // A "by first argument" action of the left operand's type.
    Outcome math(Action act, const Cell& a, const Cell& b) { return call_math(cell_type(&a), act, a, b); }
    Outcome to(const Cell& spec, Action act = ACT_TO) { return call_to(TYPE_INTEGER, spec, TYPE_INTEGER, act); }
    Outcome round(const Cell& value, const Cell* scale, const RoundArgs& flags) {
        return call_round(TYPE_INTEGER, value, scale, flags);
    }
    int compare(const Cell& a, const Cell& b, CompareOp op) {
        return g_types.get<ACT_COMPARE>(TYPE_INTEGER)(&a, &b, op);
    }
};

TEST_F(IntegerTest, SlotsAreItsOwnAndCharSharesFour) {
    for (Action a : {ACT_MAKE, ACT_RANDOM, ACT_TO, ACT_FORM, ACT_MOLD, ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE,
                     ACT_MULTIPLY, ACT_NEGATE, ACT_POWER, ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q,
                     ACT_AND_T, ACT_COMPLEMENT, ACT_OR_T, ACT_XOR_T}) {
        EXPECT_NE(g_types.action(TYPE_INTEGER, a), nullptr) << action_word(a);
    }
    for (Action a : {ACT_REFLECT, ACT_EVAL_PATH, ACT_SET_PATH, ACT_APPEND, ACT_PICK, ACT_LENGTH_Q, ACT_OPEN, ACT_READ}) {
        EXPECT_EQ(g_types.action(TYPE_INTEGER, a), nullptr) << action_word(a);
    }
    for (Action a : {ACT_RANDOM, ACT_ABSOLUTE, ACT_EVEN_Q, ACT_ODD_Q}) {
        EXPECT_EQ(g_types.action(TYPE_CHAR, a), g_types.action(TYPE_INTEGER, a)) << action_word(a);
    }
}

TEST_F(IntegerTest, ToFromNumbers) {
    struct Case {
        Cell spec;
        Outcome want;
    } cases[] = {
        {integer(-5), gives_int(-5)},
        {chr(0x10FFFF), gives_int(0x10FFFF)},
        {real(2.9), gives_int(2)},  // toward zero
        {real(-2.9), gives_int(-2)},
        {real(2147483647.0), gives_int(MAX)},
        {real(2147483647.4), gives_int(MAX)},  // the range holds for the truncated value
        {real(2147483647.9), gives_int(MAX)},
        {real(2147483648.0), fails(ERR_SCRIPT_TYPE_LIMIT)},
        {real(-2147483648.0), gives_int(MIN)},
        {real(-2147483648.4), gives_int(MIN)},
        {real(-2147483648.9), gives_int(MIN)},
        {real(-2147483649.0), fails(ERR_SCRIPT_TYPE_LIMIT)},
        {real(1e300), fails(ERR_SCRIPT_TYPE_LIMIT)},
        {real(std::nan("")), fails(ERR_SCRIPT_TYPE_LIMIT)},
        {real(-INFINITY), fails(ERR_SCRIPT_TYPE_LIMIT)},
        {real(0.995, TYPE_PERCENT), gives_int(0)},
        {real(-150.5, TYPE_PERCENT), gives_int(-150)},
        {real(1.5, TYPE_TIME), gives_int(2)},
        {real(2.4999, TYPE_TIME), gives_int(2)},
        {real(-1.5, TYPE_TIME), gives_int(-2)},  // halves away from zero below zero as well
        {real(-0.5, TYPE_TIME), gives_int(-1)},
        {real(-2.4999, TYPE_TIME), gives_int(-2)},
        {real(0.49999999999999994, TYPE_TIME), gives_int(0)},  // adding 0.5 would round this up
        {real(2147483647.4, TYPE_TIME), gives_int(MAX)},
        {real(2147483647.5, TYPE_TIME), fails(ERR_SCRIPT_TYPE_LIMIT)},
        {real(std::nan(""), TYPE_TIME), fails(ERR_SCRIPT_TYPE_LIMIT)},
        {g_none_value, fails(ERR_SCRIPT_BAD_TO_ARG)},
        {g_true_value, fails(ERR_SCRIPT_BAD_TO_ARG)},  // only make takes a logic!
        {bare(TYPE_PAIR), fails(ERR_SCRIPT_BAD_TO_ARG)},
    };
    for (const Case& c : cases) {
        Outcome got = to(c.spec);
        EXPECT_EQ(got, c.want) << "from " << describe(c.spec);
        if (got.error == ERR_SCRIPT_TYPE_LIMIT) {
            EXPECT_TRUE(cell_is(&got.arg1, TYPE_DATATYPE) && datatype_id(&got.arg1) == TYPE_INTEGER);
        } else if (got.error == ERR_SCRIPT_BAD_TO_ARG) {
            EXPECT_TRUE(cell_is(&got.arg1, TYPE_DATATYPE) && datatype_id(&got.arg1) == TYPE_INTEGER);
            EXPECT_EQ(std::memcmp(&got.arg2, &c.spec, sizeof(Cell)), 0) << "the spec itself";
        }
    }
    EXPECT_EQ(to(g_true_value, ACT_MAKE), gives_int(1));
    EXPECT_EQ(to(g_false_value, ACT_MAKE), gives_int(0));
    EXPECT_EQ(to(real(-7.7), ACT_MAKE), gives_int(-7)) << "any other spec as to";
}

TEST_F(IntegerTest, ToFromTextIssueAndBinary) {
    struct TextCase {
        const char* text;
        Outcome want;
    } texts[] = {
        {"123", gives_int(123)},
        {"-2'147'483'648", gives_int(MIN)},
        {"+0", gives_int(0)},
        {"2147483648", fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"", fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"12a", fails(ERR_SCRIPT_BAD_TO_ARG)},
        {" 12", fails(ERR_SCRIPT_BAD_TO_ARG)},
        {"1.5", fails(ERR_SCRIPT_BAD_TO_ARG)},
    };
    for (const TextCase& c : texts) {
        GcRoot str;
        string_make(str.get());
        string_append_ascii(str.get(), c.text);
        EXPECT_EQ(to(*str), c.want) << '"' << c.text << '"';
    }
    GcRoot str;
    string_make(str.get());
    string_append_ascii(str.get(), "x-42");
    str->w1 = 1;
    EXPECT_EQ(to(*str), gives_int(-42)) << "from the head index";
    string_append_char(series_node(str.get()), 0x20AC);  // widens the units
    EXPECT_EQ(to(*str), fails(ERR_SCRIPT_BAD_TO_ARG));
    string_make(str.get());
    string_append_char(series_node(str.get()), 0x0131);  // low byte "1" in a 2-byte unit
    EXPECT_EQ(to(*str), fails(ERR_SCRIPT_BAD_TO_ARG));
    string_make(str.get());
    string_append_ascii(str.get(), "77");
    for (TypeId t : {TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) {
        Cell other = *str;
        cell_set_type(&other, t);
        EXPECT_EQ(to(other), gives_int(77)) << type_name(t);
    }

    struct IssueCase {
        const char* name;
        Outcome want;
    } issues[] = {
        {"FF", gives_int(255)},
        {"ff", gives_int(255)},
        {"7FFFFFFF", gives_int(MAX)},
        {"80000000", gives_int(MIN)},
        {"ffffffff", gives_int(-1)},
        {"00000000", gives_int(0)},
        {"123456789", fails(ERR_SCRIPT_INVALID_DATA)},
        {"G1", fails(ERR_SCRIPT_INVALID_DATA)},
        {"-1", fails(ERR_SCRIPT_INVALID_DATA)},
    };
    for (const IssueCase& c : issues) {
        Cell issue = issue_load(c.name);
        Outcome got = to(issue);
        EXPECT_EQ(got, c.want) << "#" << c.name;
        if (got.error != ERR_COUNT) {
            EXPECT_EQ(std::memcmp(&got.arg1, &issue, sizeof(Cell)), 0) << "the value";
        }
    }

    struct BinaryCase {
        std::string bytes;
        uint32_t head;
        Outcome want;
    } binaries[] = {
        {"\x01\x02", 0, gives_int(258)},
        {"\x01\x02\x03\x04\x05", 0, gives_int(16909060)},
        {"\x01\x02\x03\x04\x05", 1, gives_int(0x02030405)},
        {"\xFF\xFF\xFF\xFF", 0, gives_int(-1)},
        {"\x80", 0, gives_int(128)},
        {"", 0, gives_int(0)},
        {"\x01\x02", 2, gives_int(0)},  // at the tail
    };
    for (const BinaryCase& c : binaries) {
        GcRoot bin;
        uint32_t node = series_alloc_bytes(c.bytes.size());
        Series* s = node_series(node);
        std::memcpy(s->head_ptr(), c.bytes.data(), c.bytes.size());
        s->tail = s->head + uint32_t(c.bytes.size());
        set_series(bin.get(), TYPE_BINARY, node, c.head);
        EXPECT_EQ(to(*bin), c.want) << testing::PrintToString(c.bytes) << " at " << c.head;
    }
}

TEST_F(IntegerTest, DecimalTextFormAndMold) {
    struct Case {
        int32_t v;
        const char* text;
    } cases[] = {{0, "0"}, {7, "7"}, {-45, "-45"}, {MAX, "2147483647"}, {MIN, "-2147483648"}, {-MAX, "-2147483647"},
                 {1000000000, "1000000000"}};
    for (const Case& c : cases) {
        EXPECT_STREQ(integer_to_decimal(c.v), c.text);
        for (Action act : {ACT_FORM, ACT_MOLD}) {
            GcRoot out;
            string_make(out.get());
            string_append_ascii(out.get(), "<");
            Cell value = integer(c.v);
            MoldArgs args;
            args.all = true;
            auto fn = reinterpret_cast<ActionFn<ACT_MOLD>>(g_types.action(TYPE_INTEGER, act));
            int left = fn(&value, out.get(), args, 50);
            EXPECT_EQ(string_to_utf8(out.get()), std::string("<") + c.text) << "appended";
            EXPECT_EQ(left, 50 - int(std::strlen(c.text)));
        }
    }
}

TEST_F(IntegerTest, Compare) {
    struct Case {
        Cell a, b;
        CompareOp op;
        int want;
    } cases[] = {
        {integer(1), integer(1), CMP_STRICT_EQUAL, 0},
        {integer(1), integer(2), CMP_LESSER, -1},
        {integer(3), integer(2), CMP_SORT, 1},
        {integer(MIN), integer(MAX), CMP_SORT, -1},  // no overflow in the difference
        {integer(MAX), integer(MIN), CMP_SORT, 1},
        {integer(65), chr('A'), CMP_EQUAL, 0},
        {integer(65), chr('A'), CMP_STRICT_EQUAL, 1},
        {integer(65), chr('A'), CMP_FIND, 1},
        {integer(65), chr('A'), CMP_SAME, 1},
        {integer(-1), chr(0x10FFFF), CMP_LESSER, -1},
        {integer(1), real(1.0), CMP_EQUAL, 0},
        {integer(1), real(1.0), CMP_STRICT_EQUAL, 1},
        {integer(1), real(1.0), CMP_SAME, 1},
        {integer(1), real(0.5), CMP_GREATER, 1},
        {integer(1), real(1.0, TYPE_PERCENT), CMP_EQUAL, 0},
        {integer(60), real(60.0, TYPE_TIME), CMP_EQUAL, 0},
        {integer(1), real(std::nan("")), CMP_LESSER, 1},  // with a NaN no order holds
        {integer(MAX), real(2147483647.0000002), CMP_EQUAL, 0},  // float equality
        {integer(1), g_none_value, CMP_EQUAL, COMPARE_INCOMPARABLE},
        {integer(1), g_none_value, CMP_STRICT_EQUAL, 1},
        {integer(1), bare(TYPE_MONEY), CMP_LESSER, 1},  // against $0: money! compares the number
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compare(c.a, c.b, c.op), c.want) << describe(c.a) << " vs " << describe(c.b) << " op " << int(c.op);
    }
}

TEST_F(IntegerTest, ArithmeticOverflowsIntoFloat) {
    struct Case {
        Action act;
        int32_t a;
        Cell b;
        Outcome want;
    } cases[] = {
        {ACT_ADD, 1, integer(2), gives_int(3)},
        {ACT_ADD, MAX, integer(1), gives_float(2147483648.0)},
        {ACT_ADD, MIN, integer(-1), gives_float(-2147483649.0)},
        {ACT_ADD, MIN, integer(MAX), gives_int(-1)},
        {ACT_ADD, 1, chr('A'), gives_int(66)},
        {ACT_SUBTRACT, MIN, integer(1), gives_float(-2147483649.0)},
        {ACT_SUBTRACT, 0, integer(MIN), gives_float(2147483648.0)},
        {ACT_SUBTRACT, -1, integer(MIN), gives_int(MAX)},
        {ACT_MULTIPLY, 65536, integer(65536), gives_float(4294967296.0)},
        {ACT_MULTIPLY, 46341, integer(46341), gives_float(2147488281.0)},
        {ACT_MULTIPLY, -65536, integer(32768), gives_int(MIN)},
        {ACT_MULTIPLY, MIN, integer(-1), gives_float(2147483648.0)},
        {ACT_MULTIPLY, MAX, integer(MAX), gives_float(4611686014132420609.0)},
        {ACT_DIVIDE, 7, integer(2), gives_float(3.5)},
        {ACT_DIVIDE, -7, integer(2), gives_float(-3.5)},
        {ACT_DIVIDE, 6, integer(2), gives_int(3)},
        {ACT_DIVIDE, MIN, integer(1), gives_int(MIN)},
        {ACT_DIVIDE, MIN, integer(2), gives_int(-1073741824)},
        {ACT_DIVIDE, 1, integer(3), gives_float(1.0 / 3.0)},
        {ACT_DIVIDE, 7, integer(0), fails(ERR_MATH_ZERO_DIVIDE)},
        {ACT_DIVIDE, MIN, integer(-1), fails(ERR_MATH_OVERFLOW)},
        {ACT_REMAINDER, -7, integer(2), gives_int(-1)},
        {ACT_REMAINDER, 7, integer(-2), gives_int(1)},
        {ACT_REMAINDER, MIN, integer(3), gives_int(-2)},
        {ACT_REMAINDER, MIN, integer(MIN), gives_int(0)},
        {ACT_REMAINDER, 7, integer(0), fails(ERR_MATH_ZERO_DIVIDE)},
        {ACT_REMAINDER, MIN, integer(-1), fails(ERR_MATH_OVERFLOW)},
        {ACT_AND_T, 12, integer(10), gives_int(8)},
        {ACT_OR_T, 12, integer(10), gives_int(14)},
        {ACT_XOR_T, 12, integer(10), gives_int(6)},
        {ACT_AND_T, -1, integer(MIN), gives_int(MIN)},
        {ACT_XOR_T, MIN, integer(-1), gives_int(MAX)},
        {ACT_OR_T, 64, chr(1), gives_int(65)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(math(c.act, integer(c.a), c.b), c.want) << action_word(c.act) << " " << c.a << " " << describe(c.b);
    }
}

TEST_F(IntegerTest, ArithmeticWithFloatingPointOperands) {
    struct Case {
        Action act;
        int32_t a;
        Cell b;
        Outcome want;
    } cases[] = {
        {ACT_ADD, 1, real(1.5), gives_float(2.5)},
        {ACT_ADD, 1, real(0.1, TYPE_PERCENT), gives_float(1.1)},  // percent! only when it is on the left
        {ACT_MULTIPLY, 2, real(0.1, TYPE_PERCENT), gives_float(0.2)},
        {ACT_ADD, 1, real(1.5, TYPE_TIME), gives_float(2.5, TYPE_TIME)},
        {ACT_MULTIPLY, 3, real(60.0, TYPE_TIME), gives_float(180.0, TYPE_TIME)},
        {ACT_SUBTRACT, MIN, real(0.5), gives_float(-2147483648.5)},
        {ACT_DIVIDE, 7, real(2.0), gives_float(3.5)},
        {ACT_DIVIDE, 7, real(0.0), gives_float(INFINITY)},  // float arithmetic does not check
        {ACT_DIVIDE, -7, real(0.0), gives_float(-INFINITY)},
        {ACT_REMAINDER, 7, real(0.0), gives_float(NAN)},
        {ACT_REMAINDER, 7, real(2.5), gives_float(2.0)},
        {ACT_AND_T, 12, real(1.0), fails(ERR_SCRIPT_CANNOT_USE)},
        {ACT_XOR_T, 12, real(1.0, TYPE_TIME), fails(ERR_SCRIPT_CANNOT_USE)},
        {ACT_ADD, 1, g_none_value, fails(ERR_SCRIPT_INVALID_TYPE)},
        {ACT_ADD, 1, g_true_value, fails(ERR_SCRIPT_INVALID_TYPE)},
        {ACT_OR_T, 1, g_none_value, fails(ERR_SCRIPT_INVALID_TYPE)},
    };
    for (const Case& c : cases) {
        Outcome got = math(c.act, integer(c.a), c.b);
        EXPECT_EQ(got, c.want) << action_word(c.act) << " " << c.a << " " << describe(c.b);
        if (got.error == ERR_SCRIPT_INVALID_TYPE) {
            EXPECT_TRUE(cell_is(&got.arg1, TYPE_DATATYPE) && datatype_id(&got.arg1) == cell_type(&c.b));
        }
    }
    GcRoot str;
    string_make(str.get());
    EXPECT_EQ(math(ACT_ADD, integer(1), *str), fails(ERR_SCRIPT_INVALID_TYPE));
}

// Stand-ins for the arithmetic of types that take an integer on their right: they record how they were
// called and leave a mark in the result slot.
std::vector<std::string> g_calls;
void record(const char* what) {
    g_calls.push_back(std::string(what) + " " + type_name(cell_type(g_args.base)) + " " +
                      type_name(cell_type(g_args.base + 1)) + " " + std::to_string(cell_int(g_args.base + 1)));
    set_integer(g_args.base, 99);
}
void spy_add() { record("add"); }
void spy_multiply() { record("multiply"); }
void spy_remainder() { record("remainder"); }
void spy_negate(Cell* c) { g_calls.push_back(std::string("negate ") + type_name(cell_type(c))); }

class IntegerExchangeTest : public IntegerTest {
protected:
    void SetUp() override {
        IntegerTest::SetUp();
        saved_ = std::make_unique<DatatypeRegistry>(g_types);
        g_calls.clear();
        for (TypeId t : {TYPE_PAIR, TYPE_TUPLE, TYPE_DATE}) {
            Registration r(t);
            r.own<ACT_ADD>(spy_add).own<ACT_MULTIPLY>(spy_multiply).own<ACT_REMAINDER>(spy_remainder);
            r.own<ACT_NEGATE>(spy_negate);
            g_types.register_datatype(r);
        }
        // Points without arithmetic: the exchange must refuse them cleanly.
        for (TypeId t : {TYPE_POINT2D, TYPE_POINT3D}) g_types.register_datatype(Registration(t));
    }
    void TearDown() override {
        g_types = *saved_;
        IntegerTest::TearDown();
    }
    std::unique_ptr<DatatypeRegistry> saved_;
};

TEST_F(IntegerExchangeTest, PairPointTupleAndDateGetTheOperandsExchanged) {
    struct Case {
        Action act;
        TypeId right;
        Outcome want;
        std::vector<std::string> calls;
        const char* word;  // not-related's operation
    } cases[] = {
        {ACT_ADD, TYPE_PAIR, gives_int(99), {"add pair! integer! 5"}, nullptr},
        {ACT_MULTIPLY, TYPE_PAIR, gives_int(99), {"multiply pair! integer! 5"}, nullptr},
        {ACT_SUBTRACT, TYPE_PAIR, gives_int(99), {"negate pair!", "add pair! integer! 5"}, nullptr},
        {ACT_DIVIDE, TYPE_PAIR, fails(ERR_SCRIPT_NOT_RELATED), {}, "divide"},
        {ACT_MULTIPLY, TYPE_TUPLE, gives_int(99), {"multiply tuple! integer! 5"}, nullptr},
        {ACT_REMAINDER, TYPE_TUPLE, gives_int(99), {"remainder tuple! integer! 5"}, nullptr},
        {ACT_SUBTRACT, TYPE_TUPLE, fails(ERR_SCRIPT_NOT_RELATED), {}, "subtract"},
        {ACT_DIVIDE, TYPE_TUPLE, fails(ERR_SCRIPT_NOT_RELATED), {}, "divide"},
        {ACT_ADD, TYPE_DATE, gives_int(99), {"add date! integer! 5"}, nullptr},
        {ACT_MULTIPLY, TYPE_DATE, fails(ERR_SCRIPT_NOT_RELATED), {}, "multiply"},
        {ACT_SUBTRACT, TYPE_DATE, fails(ERR_SCRIPT_NOT_RELATED), {}, "subtract"},
        {ACT_ADD, TYPE_POINT2D, fails(ERR_SCRIPT_INVALID_TYPE), {}, nullptr},  // registered without arithmetic
        {ACT_SUBTRACT, TYPE_POINT3D, fails(ERR_SCRIPT_INVALID_TYPE), {}, nullptr},
    };
    for (const Case& c : cases) {
        g_calls.clear();
        Outcome got = math(c.act, integer(5), bare(c.right));
        EXPECT_EQ(got, c.want) << action_word(c.act) << " " << type_name(c.right);
        EXPECT_EQ(g_calls, c.calls) << action_word(c.act) << " " << type_name(c.right);
        if (c.word) {
            ASSERT_TRUE(is_any_word(&got.arg1));
            Cell expected = word_load(c.word);
            EXPECT_EQ(word_symbol(&got.arg1), word_symbol(&expected)) << c.word;
            EXPECT_TRUE(cell_is(&got.arg2, TYPE_DATATYPE) && datatype_id(&got.arg2) == TYPE_INTEGER);
        }
    }
}

TEST_F(IntegerTest, Power) {
    struct Case {
        int32_t base;
        Cell exponent;
        Outcome want;
    } cases[] = {
        {2, integer(30), gives_int(1073741824)},
        {2, integer(31), gives_float(2147483648.0)},
        {2, integer(-1), gives_float(0.5)},
        {5, integer(0), gives_int(1)},
        {0, integer(0), gives_int(1)},
        {-2, integer(31), gives_int(MIN)},
        {-2, integer(32), gives_float(4294967296.0)},
        {46341, integer(2), gives_float(2147488281.0)},
        {10, integer(10), gives_float(1e10)},
        {-1, integer(MAX), gives_int(-1)},
        {1, integer(MAX), gives_int(1)},
        {0, integer(-1), gives_float(INFINITY)},
        {3, real(2.0), gives_float(9.0)},
        {4, real(0.5), gives_float(2.0)},
        {2, g_none_value, fails(ERR_SCRIPT_EXPECT_ARG)},
        {2, real(0.5, TYPE_PERCENT), fails(ERR_SCRIPT_EXPECT_ARG)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(math(ACT_POWER, integer(c.base), c.exponent), c.want) << c.base << " ** " << describe(c.exponent);
    }
}

TEST_F(IntegerTest, Round) {
    Cell none = g_none_value;
    struct Case {
        int32_t value;
        Cell scale;  // none! for no /to
        int flags;
        Outcome want;
    } cases[] = {
        {15, none, 0, gives_int(15)},
        {17, integer(5), 0, gives_int(15)},
        {18, integer(5), 0, gives_int(20)},
        {-18, integer(5), 0, gives_int(-20)},
        {15, integer(10), 0, gives_int(20)},  // half away from zero
        {-15, integer(10), 0, gives_int(-20)},
        {17, integer(-5), 0, gives_int(15)},  // the scale's magnitude
        {17, integer(0), 0, gives_int(17)},
        {25, integer(10), EVEN, gives_int(20)},
        {35, integer(10), EVEN, gives_int(40)},
        {-35, integer(10), EVEN, gives_int(-40)},
        {15, integer(10), HALF_DOWN, gives_int(10)},
        {-15, integer(10), HALF_DOWN, gives_int(-10)},
        {15, integer(10), HALF_CEILING, gives_int(20)},
        {-15, integer(10), HALF_CEILING, gives_int(-10)},
        {16, integer(10), HALF_CEILING, gives_int(20)},
        {-12, integer(5), FLOOR, gives_int(-15)},
        {12, integer(5), FLOOR, gives_int(10)},
        {-12, integer(5), CEILING, gives_int(-10)},
        {12, integer(5), CEILING, gives_int(15)},
        {-17, integer(5), DOWN, gives_int(-15)},
        {19, integer(5), DOWN | CEILING, gives_int(15)},  // /down first
        {MIN, none, 0, gives_int(MIN)},
        {17, integer(MIN), 0, fails(ERR_MATH_OVERFLOW)},
        {MAX, integer(10), 0, fails(ERR_MATH_OVERFLOW)},  // 2147483650
        {MAX, integer(10), CEILING, fails(ERR_MATH_OVERFLOW)},
        {MAX, integer(10), DOWN, gives_int(2147483640)},
        {MAX, integer(2), FLOOR, gives_int(2147483646)},  // only the result chosen has to fit
        {MAX, integer(2), HALF_DOWN, gives_int(2147483646)},
        {MIN, integer(10), 0, fails(ERR_MATH_OVERFLOW)},  // -2147483650
        {MIN, integer(10), DOWN, gives_int(-2147483640)},
        {MIN, integer(3), CEILING, gives_int(-2147483646)},
        {MIN + 1, integer(2), FLOOR, gives_int(MIN)},
        {17, real(2.5), 0, gives_float(17.5)},  // a float scale rounds as a float
        {7, real(3.0), 0, gives_float(6.0)},
        {7, real(2.0, TYPE_PERCENT), 0, gives_float(8.0, TYPE_PERCENT)},  // the result takes the scale's type
        {17, bare(TYPE_MONEY), 0, fails(ERR_SCRIPT_NOT_RELATED)},
    };
    for (const Case& c : cases) {
        const Cell* scale = cell_is(&c.scale, TYPE_NONE) ? nullptr : &c.scale;
        EXPECT_EQ(round(integer(c.value), scale, flags(c.flags)), c.want)
            << "round " << c.value << " to " << describe(c.scale) << " flags " << c.flags;
    }
}

TEST_F(IntegerTest, AbsoluteNegateComplementEvenOdd) {
    auto unary = [&](Action act, const Cell& v) {
        return attempt([&] {
            Cell* c = stack_push(&v);
            switch (act) {
                case ACT_ABSOLUTE: g_types.get<ACT_ABSOLUTE>(cell_type(c))(); break;
                case ACT_NEGATE: g_types.get<ACT_NEGATE>(cell_type(c))(c); break;
                default: *c = *g_types.get<ACT_COMPLEMENT>(cell_type(c))(c); break;
            }
        });
    };
    struct Case {
        Action act;
        Cell value;
        Outcome want;
    } cases[] = {
        {ACT_ABSOLUTE, integer(-5), gives_int(5)},
        {ACT_ABSOLUTE, integer(5), gives_int(5)},
        {ACT_ABSOLUTE, integer(-MAX), gives_int(MAX)},
        {ACT_ABSOLUTE, integer(MIN), fails(ERR_MATH_OVERFLOW)},
        {ACT_ABSOLUTE, chr('a'), gives(chr('a'))},  // char! keeps its type
        {ACT_NEGATE, integer(5), gives_int(-5)},
        {ACT_NEGATE, integer(0), gives_int(0)},
        {ACT_NEGATE, integer(MAX), gives_int(-MAX)},
        {ACT_NEGATE, integer(MIN), fails(ERR_MATH_OVERFLOW)},
        {ACT_COMPLEMENT, integer(0), gives_int(-1)},
        {ACT_COMPLEMENT, integer(5), gives_int(-6)},
        {ACT_COMPLEMENT, integer(MIN), gives_int(MAX)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unary(c.act, c.value), c.want) << action_word(c.act) << " " << describe(c.value);
    }
    auto even = g_types.get<ACT_EVEN_Q>(TYPE_INTEGER);
    auto odd = g_types.get<ACT_ODD_Q>(TYPE_INTEGER);
    for (int32_t v : {0, 1, -1, 2, -2, MIN, MAX}) {
        Cell c = integer(v);
        EXPECT_EQ(even(&c), v % 2 == 0) << v;
        EXPECT_EQ(odd(&c), v % 2 != 0) << v;
    }
    Cell b = chr('b');
    EXPECT_TRUE(g_types.get<ACT_EVEN_Q>(TYPE_CHAR)(&b));
}

TEST_F(IntegerTest, Random) {
    // The value the action left in the result slot.
    auto random = [&](const Cell& v, bool seed) {
        Outcome r = attempt([&] { g_types.get<ACT_RANDOM>(cell_type(&v))(stack_push(&v), seed, false, false); });
        EXPECT_EQ(r.error, ERR_COUNT);
        return r.value;
    };
    Cell r = random(integer(42), true);
    EXPECT_TRUE(cell_is(&r, TYPE_UNSET)) << "/seed gives unset";
    std::vector<int32_t> first;
    for (int i = 0; i < 20; i++) {
        r = random(integer(1000000), false);
        first.push_back(cell_int(&r));
    }
    random(integer(42), true);
    for (int i = 0; i < 20; i++) {
        r = random(integer(1000000), false);
        EXPECT_EQ(cell_int(&r), first[size_t(i)]) << "the same seed, the same draws";
    }
    r = random(integer(0), false);
    EXPECT_EQ(gives(r), gives_int(0));
    bool seen[7] = {};
    for (int i = 0; i < 300; i++) {
        r = random(integer(6), false);
        ASSERT_TRUE(cell_is(&r, TYPE_INTEGER));
        int32_t v = cell_int(&r);
        ASSERT_TRUE(v >= 1 && v <= 6) << v;
        seen[v] = true;
        r = random(integer(-6), false);
        ASSERT_TRUE(cell_int(&r) >= -6 && cell_int(&r) <= -1) << cell_int(&r);
    }
    for (int v = 1; v <= 6; v++) EXPECT_TRUE(seen[v]) << v;
    r = random(chr('z'), false);
    EXPECT_TRUE(cell_is(&r, TYPE_CHAR)) << "char! keeps its type";
    EXPECT_TRUE(cell_char(&r) >= 1 && cell_char(&r) <= 'z');
}

TEST_F(IntegerTest, CellRoutines) {
    GcRoot block;
    set_series(block.get(), TYPE_BLOCK, series_alloc_cells(1));
    integer_make_in(block.get(), 1);
    Cell* c = integer_make_in(block.get(), MIN);  // grows the block
    EXPECT_EQ(cell_int(c), MIN);
    Series* s = cell_series(block.get());
    ASSERT_EQ(s->used(), 2u);
    EXPECT_TRUE(cell_is(&s->cells()[0], TYPE_INTEGER));
    EXPECT_EQ(cell_int(&s->cells()[0]), 1);

    Cell* base = stack_push(&g_none_value);
    Cell* pushed = integer_push(7);
    EXPECT_EQ(pushed, stack_top());
    stack_push(&g_none_value);
    EXPECT_EQ(integer_get_arg(1), 7);
    EXPECT_EQ(integer_arg_or_zero(1), 7);
    EXPECT_EQ(integer_arg_or_zero(2), 0) << "not an integer!";
    EXPECT_EQ(integer_set_result(-3), base);
    EXPECT_EQ(integer_get(base), -3);
    Cell at{};
    EXPECT_EQ(cell_int(integer_make_at(&at, 12)), 12);
}

}  // namespace
}  // namespace zol::test
