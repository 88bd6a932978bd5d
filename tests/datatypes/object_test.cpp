// object!: making (class ids, prototypes, copied and rebound series, re-made methods), the change handlers,
// construct and set, copy, reflect, form and mold, paths, select, put, modify and compare. Blocks are
// built by hand and evaluated, with the natives and actions they need bound to their words.
#include "interpreter/eval.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"
#include "tests/block_builder.h"
#include "tests/support.h"

namespace zol::test {
namespace {

// The natives and actions the tests evaluate, bound to their words once.
void install_words() {
    static bool done = false;
    if (done) return;
    done = true;
    define_native("make", ACT_MAKE, TYPE_ACTION, {"type", "spec"});
    define_native("append", ACT_APPEND, TYPE_ACTION, {"series", "*value", "/part", "length", "/only", "/dup", "count"});
    define_native("func", NAT_FUNC, TYPE_NATIVE, {"spec", "body"});
    define_native("set", NAT_SET, TYPE_NATIVE, {"word", "*value", "/any", "/case", "/only", "/some"});
    define_native("construct", NAT_CONSTRUCT, TYPE_NATIVE, {"block", "/with", "object", "/only"});
    define_native("loop", NAT_LOOP, TYPE_NATIVE, {"count", "block"});
    define_native("break", NAT_BREAK, TYPE_NATIVE, {"/return", "value"});
    Cell object_type = word_load("object!"), datatype;
    set_datatype(&datatype, TYPE_OBJECT);
    word_set_value(&object_type, &datatype);
}

class ObjectTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        install_words();
        B log;
        set("log", *log.get());
    }

    // Evaluates the block; the value of its last expression.
    Cell run(B& code) {
        stack_reset();
        eval_block(code.get(), false);
        EXPECT_EQ(g_system.pending, UNWIND_NONE);
        Cell v = *stack_top();
        stack_reset();
        return v;
    }
    ErrorId fails(B& code, Cell* error = nullptr) {
        stack_reset();
        return catch_error([&] { eval_block(code.get(), false); }, error);
    }
    ErrorId fails(const std::function<void()>& body, Cell* error = nullptr) {
        stack_reset();
        return catch_error(body, error);
    }
    Cell get(const char* name) {
        Cell w = word_load(name);
        return *word_value_cell(&w);
    }
    void set(const char* name, const Cell& value) {
        Cell w = word_load(name);
        word_set_value(&w, &value);
    }
    // make object! [spec...], stored in a global word.
    Cell make(const char* name, B& spec) {
        B code;
        code.sw(name).w("make").w("object!").b(spec);
        return run(code);
    }
    std::string mold(const Cell& v, bool only = false, bool flat = false, bool all = false) {
        GcRoot value(v), out;
        string_make(out.get());
        MoldArgs args;
        args.only = only;
        args.flat = flat;
        args.all = all;
        mold_value(value.get(), out.get(), args, 0x7FFFFFFF);
        return string_to_utf8(out.get());
    }
    std::string form(const Cell& v) { return form_text(&v); }
    // A reflector's answer.
    Cell reflect(const Cell& object, const char* field) {
        GcRoot o(object);
        stack_reset();
        g_types.get<ACT_REFLECT>(cell_type(&object))(o.get(), symbol_make(field));
        Cell r = *g_args.base;
        stack_reset();
        return r;
    }
    Cell field(const Cell& object, const char* name) {
        Cell w = word_load(name);
        return *object_find_value(&object, &w);
    }
    // The integer a result holds.
    int32_t int_of(const Cell& c) {
        EXPECT_TRUE(cell_is(&c, TYPE_INTEGER)) << mold(c);
        return cell_int(&c);
    }
};

TEST_F(ObjectTest, ClassIdsComeFromTheCounterAndPrototypesKeepTheirs) {
    B spec1, spec2;
    spec1.sw("a").i(1);
    spec2.sw("a").i(1);
    Cell o1 = make("o1", spec1), o2 = make("o2", spec2);
    ASSERT_TRUE(cell_is(&o1, TYPE_OBJECT));
    EXPECT_GT(o1.w2, 1000000u);
    EXPECT_GT(o2.w2, o1.w2) << "every make object! gets a class of its own";

    B same, grown;
    same.sw("p").w("make").w("o1").b(B().sw("a").i(2));
    grown.sw("q").w("make").w("o1").b(B().sw("b").i(2));
    Cell p = run(same), q = run(grown);
    EXPECT_EQ(p.w2, o1.w2) << "no new field: the prototype's class";
    EXPECT_NE(q.w2, o1.w2);
    EXPECT_GT(q.w2, o2.w2);
    EXPECT_EQ(int_of(field(p, "a")), 2);
    EXPECT_EQ(int_of(field(o1, "a")), 1) << "the prototype is left as it was";
    EXPECT_EQ(int_of(field(q, "a")), 1);
    EXPECT_EQ(int_of(field(q, "b")), 2);
}

TEST_F(ObjectTest, MakeFromAPrototypeCopiesItsBlocksAndRemakesItsMethods) {
    // o: make object! [a: 1 blk: [a] get-blk: func [] [blk]]
    B spec;
    spec.sw("a").i(1).sw("blk").b(B().w("a")).sw("get-blk").w("func").b(B()).b(B().w("blk"));
    Cell o = make("o", spec);
    B code;
    code.sw("p").w("make").w("o").b(B().sw("a").i(2));
    Cell p = run(code);

    Cell o_blk = field(o, "blk"), p_blk = field(p, "blk");
    ASSERT_TRUE(cell_is(&p_blk, TYPE_BLOCK));
    EXPECT_NE(series_node(&p_blk), series_node(&o_blk)) << "a deep copy, not the prototype's block";
    Cell word_in_copy = cell_series(&p_blk)->cells()[0];
    EXPECT_EQ(word_context(&word_in_copy), object_context(&p)) << "the copy is rebound to the new object";
    EXPECT_EQ(int_of(*word_value_cell(&word_in_copy)), 2);

    Cell o_fn = field(o, "get-blk"), p_fn = field(p, "get-blk");
    EXPECT_NE(p_fn.w1, o_fn.w1) << "the method has a context of its own";
    B call;
    call.path(TYPE_PATH, {"p", "get-blk"});
    Cell result = run(call);
    EXPECT_EQ(series_node(&result), series_node(&p_blk)) << "the re-made method reads the new object's field";
    B call_o;
    call_o.path(TYPE_PATH, {"o", "get-blk"});
    Cell from_o = run(call_o);
    EXPECT_EQ(series_node(&from_o), series_node(&o_blk));
}

TEST_F(ObjectTest, MakeWithAnObjectSpecMergesAndCopies) {
    B s1, s2;
    s1.sw("a").i(1).sw("blk").b(B().i(5));
    s2.sw("b").i(2).sw("a").i(3);
    Cell base = make("base", s1), extra = make("extra", s2);
    B code;
    code.w("make").w("base").w("extra");
    Cell merged = run(code);
    EXPECT_EQ(mold(merged, false, true), "make object! [a: 3 blk: [5] b: 2]");
    EXPECT_NE(merged.w2, base.w2) << "the context grew";
    Cell blk = field(merged, "blk"), base_blk = field(base, "blk");
    EXPECT_NE(series_node(&blk), series_node(&base_blk));
    (void)extra;
}

TEST_F(ObjectTest, MakeRefusesSpecsThatAreNeitherBlockNorObject) {
    Cell error;
    B code;
    code.w("make").w("object!").i(5);
    EXPECT_EQ(fails(code, &error), ERR_SYNTAX_MALCONSTRUCT);
    EXPECT_EQ(cell_int(error_field(&error, ERROR_FIELD_ARG1)), 5);
}

// Appends on-change*: func [word old new] [append log word append log :old append log :new]
void add_logging_handler(B& spec) {
    spec.sw("on-change*").w("func").b(B().w("word").w("old").w("new"));
    spec.b(B().w("append").w("log").w("word").w("append").w("log").gw("old").w("append").w("log").gw("new"));
}

TEST_F(ObjectTest, OnChangeSeesPathsWordsAndSetButNeverItsOwnFields) {
    B spec;
    spec.sw("a").i(1).sw("b").i(2).sw("bump").w("func").b(B()).b(B().sw("a").i(9));
    add_logging_handler(spec);
    Cell o = make("o", spec);
    ASSERT_NE(o.w3, 0u) << "an events block";
    EXPECT_EQ(mold(get("log")), "[]") << "making the object calls no handler";

    B path_set;
    path_set.path(TYPE_SET_PATH, {"o", "a"}).i(5);
    run(path_set);
    EXPECT_EQ(mold(get("log")), "[a 1 5]");

    set("log", *B().get());
    B method;
    method.path(TYPE_PATH, {"o", "bump"});
    run(method);
    EXPECT_EQ(mold(get("log")), "[a 5 9]") << "a set-word bound to the object";

    set("log", *B().get());
    B set_all;
    set_all.w("set").w("o").i(7);
    run(set_all);
    Cell log = get("log");
    ASSERT_EQ(cell_series(&log)->used(), 9u) << "once per field, never for on-change* itself";
    Cell* logged = cell_series(&log)->cells();
    EXPECT_EQ(word_symbol(&logged[6]), symbol_make("bump"));
    EXPECT_TRUE(cell_is(&logged[7], TYPE_FUNCTION));
    EXPECT_EQ(cell_int(&logged[8]), 7);
    cell_series(&log)->tail = cell_series(&log)->head + 6 * sizeof(Cell);  // the function's mold is not ours
    EXPECT_EQ(mold(log), "[a 9 7 b 2 7]");
    Cell handler = field(o, "on-change*");
    EXPECT_TRUE(cell_is(&handler, TYPE_FUNCTION));
}

TEST_F(ObjectTest, AHandlerThatIsNoLongerAFunctionIsAnError) {
    B spec;
    spec.sw("a").i(1);
    add_logging_handler(spec);
    Cell o = make("o", spec);
    Cell five;
    set_integer(&five, 5);
    Cell w = word_load("on-change*");
    *const_cast<Cell*>(object_find_value(&o, &w)) = five;  // changed behind the object's back
    B code;
    code.path(TYPE_SET_PATH, {"o", "a"}).i(2);
    Cell error;
    EXPECT_EQ(fails(code, &error), ERR_SCRIPT_INVALID_OBJ_EVT);
    EXPECT_EQ(cell_int(error_field(&error, ERROR_FIELD_ARG1)), 5);

    B bad;
    bad.w("make").w("object!").b(B().sw("on-deep-change*").i(3));
    EXPECT_EQ(fails(bad, &error), ERR_SCRIPT_BAD_FIELD_SET);
    EXPECT_EQ(symbol_resolve(word_symbol(error_field(&error, ERROR_FIELD_ARG1))), symbol_make("on-deep-change*"));
    EXPECT_EQ(datatype_id(error_field(&error, ERROR_FIELD_ARG2)), uint32_t(TYPE_INTEGER));
}

TEST_F(ObjectTest, ABreakInAHandlerReachesTheLoopAroundTheSet) {
    // o: make object! [a: 1 on-change*: func [w old new] [append log w break]]
    B spec;
    spec.sw("a").i(1).sw("on-change*").w("func").b(B().w("w").w("old").w("new"));
    spec.b(B().w("append").w("log").w("w").w("break"));
    Cell o = make("o", spec);
    B code;
    code.w("loop").i(3).b(B().w("set").w("o").i(4)).i(42);
    Cell result = run(code);
    EXPECT_EQ(int_of(result), 42);
    EXPECT_EQ(mold(get("log")), "[a]") << "the first handler call left the loop";
    EXPECT_EQ(int_of(field(o, "a")), 4);

    // From C++, the pending break comes back as PendingUnwind.
    stack_reset();
    stack_mark_loop(&g_word[W_BODY]);
    Cell w = word_load("a"), old = g_none_value, now = g_none_value;
    EXPECT_THROW(object_fire_on_change(&o, &w, &old, &now), PendingUnwind);
    EXPECT_EQ(g_system.pending, UNWIND_BREAK);
    g_system.pending = UNWIND_NONE;
    stack_init();
}

TEST_F(ObjectTest, MoldFormAndBody) {
    B spec;
    spec.sw("a").i(1).sw("b").lw("c");
    Cell o = make("o", spec);
    EXPECT_EQ(mold(o), "make object! [\n    a: 1\n    b: 'c\n]");
    EXPECT_EQ(mold(o, false, true), "make object! [a: 1 b: 'c]");
    EXPECT_EQ(mold(o, true), "a: 1\nb: 'c");
    EXPECT_EQ(form(o), "a: 1\nb: 'c");
    Cell body = reflect(o, "body");
    EXPECT_EQ(mold(body), "[\n    a: 1\n    b: 'c\n]") << "a new line before each set-word; words quoted";

    B nested;
    nested.sw("x").i(1).sw("inner").w("make").w("object!").b(B().sw("y").i(2));
    Cell n = make("n", nested);
    EXPECT_EQ(mold(n), "make object! [\n    x: 1\n    inner: make object! [\n        y: 2\n    ]\n]");
    B in_block;
    in_block.w("n");
    Cell block = *in_block.get();
    cell_series(&block)->cells()[0] = n;
    EXPECT_EQ(mold(block), "[make object! [\n    x: 1\n    inner: make object! [\n        y: 2\n    ]\n]]");

    B handlers;
    handlers.sw("a").i(1).sw("on-change*").w("func").b(B().w("w").w("o").w("n")).b(B());
    Cell h = make("h", handlers);
    EXPECT_EQ(mold(h, false, true), "make object! [a: 1]") << "handler fields only with /all";
    EXPECT_EQ(mold(h, false, true, true).rfind("make object! [a: 1 on-change*: func [w o n]", 0), 0u);
}

TEST_F(ObjectTest, AnObjectThatHoldsItselfMoldsOnce) {
    B spec;
    spec.sw("a").i(1).sw("me").i(0);
    Cell o = make("o", spec);
    Cell w = word_load("me");
    *const_cast<Cell*>(object_find_value(&o, &w)) = o;
    EXPECT_EQ(mold(o, false, true), "make object! [a: 1 me: make object! [...]]");
    EXPECT_EQ(form(o), "a: 1\nme: make object! [...]") << "form molds the field values";
}

TEST_F(ObjectTest, ReflectorsAndTheChangedMarks) {
    B spec;
    spec.sw("a").i(1).sw("b").lw("c");
    Cell o = make("o", spec);
    EXPECT_EQ(mold(reflect(o, "words")), "[a b]");
    Cell words = reflect(o, "words");
    EXPECT_EQ(word_context(cell_series(&words)->cells()), object_context(&o));
    EXPECT_EQ(mold(reflect(o, "values")), "[1 c]");
    EXPECT_EQ(int_of(reflect(o, "class")), int32_t(o.w2));
    EXPECT_EQ(mold(reflect(o, "owner")), "false");
    EXPECT_EQ(mold(reflect(o, "events?")), "false");
    EXPECT_EQ(mold(reflect(o, "changed")), "[]") << "make clears the marks its own spec set";

    B code;
    code.path(TYPE_SET_PATH, {"o", "b"}).i(3);
    run(code);
    EXPECT_EQ(mold(reflect(o, "changed")), "[b]");
    GcRoot obj(o), field_word(word_load("changed")), none(g_none_value);
    g_types.get<ACT_MODIFY>(TYPE_OBJECT)(obj.get(), field_word.get(), none.get(), false);
    EXPECT_EQ(mold(reflect(o, "changed")), "[]");
    Cell one;
    set_integer(&one, 1);
    EXPECT_EQ(fails([&] { g_types.get<ACT_MODIFY>(TYPE_OBJECT)(obj.get(), field_word.get(), &one, false); }),
              ERR_SCRIPT_INVALID_ARG);
    EXPECT_EQ(fails([&] { reflect(o, "spec"); }), ERR_INTERNAL_NOT_DONE);
}

TEST_F(ObjectTest, EqualObjectsAreNotTheSame) {
    B s1, s2, s3, s4;
    s1.sw("a").i(1).sw("b").lw("c");
    s2.sw("a").i(1).sw("b").lw("c");
    s3.sw("a").i(2).sw("b").lw("c");
    s4.sw("a").i(1);
    Cell o1 = make("o1", s1), o2 = make("o2", s2), o3 = make("o3", s3), o4 = make("o4", s4);
    auto cmp = g_types.get<ACT_COMPARE>(TYPE_OBJECT);
    EXPECT_EQ(cmp(&o1, &o2, CMP_EQUAL), 0);
    EXPECT_NE(cmp(&o1, &o2, CMP_SAME), 0);
    EXPECT_EQ(cmp(&o1, &o1, CMP_SAME), 0);
    EXPECT_LT(cmp(&o1, &o3, CMP_EQUAL), 0);
    EXPECT_GT(cmp(&o3, &o1, CMP_EQUAL), 0);
    EXPECT_GT(cmp(&o1, &o4, CMP_EQUAL), 0) << "more fields";
    EXPECT_LT(cmp(&o4, &o1, CMP_EQUAL), 0);
    Cell one;
    set_integer(&one, 1);
    EXPECT_EQ(cmp(&o1, &one, CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(ObjectTest, PathsSelectAndPut) {
    B spec;
    spec.sw("a").i(1).sw("u").i(0);
    Cell o = make("o", spec);
    Cell unset_value = g_unset_value;
    Cell w = word_load("u");
    *const_cast<Cell*>(object_find_value(&o, &w)) = unset_value;

    struct Case {
        TypeId kind;
        const char* field;
        ErrorId expected;
    } cases[] = {
        {TYPE_PATH, "missing", ERR_SCRIPT_UNSET_PATH},
        {TYPE_PATH, "u", ERR_SCRIPT_UNSET_PATH},
        {TYPE_GET_PATH, "missing", ERR_COUNT},  // a get-path ending at a missing field answers unset
        {TYPE_PATH, "a", ERR_COUNT},
    };
    for (const Case& c : cases) {
        B code;
        code.path(c.kind, {"o", c.field});
        EXPECT_EQ(fails(code), c.expected) << c.field;
    }
    B get_missing;
    get_missing.path(TYPE_GET_PATH, {"o", "missing"});
    Cell got = run(get_missing);
    EXPECT_TRUE(cell_is(&got, TYPE_UNSET));
    B deeper;
    deeper.add(*B().w("o").w("missing").w("x").get());
    Cell p = *deeper.get();
    cell_set_type(cell_series(&p)->cells(), TYPE_GET_PATH);
    EXPECT_EQ(fails(deeper), ERR_SCRIPT_INVALID_PATH) << "a get-path cannot go on past a missing field";
    Cell number_path;
    {
        B pb;
        pb.w("o").i(1);
        number_path = *pb.get();
        cell_set_type(&number_path, TYPE_PATH);
        B code;
        code.add(number_path);
        EXPECT_EQ(fails(code), ERR_SCRIPT_INVALID_PATH);
    }

    GcRoot obj(o), text, key_a(word_load("a")), key_missing(word_load("missing"));
    auto select = g_types.get<ACT_SELECT>(TYPE_OBJECT);
    EXPECT_EQ(cell_int(select(obj.get(), key_a.get(), FindArgs{})), 1);
    EXPECT_TRUE(cell_is(select(obj.get(), key_missing.get(), FindArgs{}), TYPE_NONE));
    string_make(text.get());
    string_append_ascii(text.get(), "a");
    Cell error;
    EXPECT_EQ(fails([&] { select(obj.get(), text.get(), FindArgs{}); }, &error), ERR_SCRIPT_INVALID_TYPE);
    EXPECT_EQ(datatype_id(error_field(&error, ERROR_FIELD_ARG1)), uint32_t(TYPE_STRING));

    auto put = g_types.get<ACT_PUT>(TYPE_OBJECT);
    Cell seven;
    set_integer(&seven, 7);
    put(obj.get(), key_a.get(), &seven, false);
    EXPECT_EQ(int_of(field(o, "a")), 7);
    EXPECT_EQ(fails([&] { put(obj.get(), &seven, &seven, false); }, &error), ERR_SCRIPT_INVALID_KEY_TYPE);
}

TEST_F(ObjectTest, ConstructEvaluatesNothingButTheLogicWords) {
    B code;
    code.w("construct").b(B().sw("a").sw("b").w("yes").sw("c").w("none").sw("d").w("foo").sw("e").w("off"));
    Cell o = run(code);
    EXPECT_EQ(mold(o, false, true), "make object! [a: true b: true c: none d: 'foo e: false]");
    EXPECT_GT(o.w2, 1000000u);

    B only;
    only.path(TYPE_PATH, {"construct", "only"}).b(B().sw("a").w("yes").sw("b"));
    EXPECT_EQ(mold(run(only), false, true), "make object! [a: 'yes b: none]") << "past the end: none";

    B proto_spec;
    proto_spec.sw("x").i(1).sw("blk").b(B().i(1));
    Cell proto = make("proto", proto_spec);
    B with;
    with.path(TYPE_PATH, {"construct", "with"}).b(B().sw("x").i(2)).w("proto");
    Cell same_class = run(with);
    EXPECT_EQ(mold(same_class, false, true), "make object! [x: 2 blk: [1]]");
    EXPECT_EQ(same_class.w2, proto.w2);
    Cell blk = field(same_class, "blk"), proto_blk = field(proto, "blk");
    EXPECT_NE(series_node(&blk), series_node(&proto_blk)) << "the prototype is copied deeply";
    B grow;
    grow.path(TYPE_PATH, {"construct", "with"}).b(B().sw("y").i(2)).w("proto");
    EXPECT_NE(run(grow).w2, proto.w2);
}

TEST_F(ObjectTest, SetSpreadsBlocksAndObjects) {
    B spec;
    spec.sw("a").i(1).sw("b").i(2).sw("c").i(3);
    Cell o = make("o", spec);
    B source_spec;
    source_spec.sw("c").i(30).sw("z").i(0);
    Cell source = make("source", source_spec);
    GcRoot obj(o);
    auto reset = [&] {
        for (const char* n : {"a", "b", "c"}) {
            Cell w = word_load(n), v;
            set_integer(&v, n[0] - 'a' + 1);
            *const_cast<Cell*>(object_find_value(&o, &w)) = v;
        }
    };
    B pair, with_none, blockv;
    pair.i(10).i(20);
    with_none.w("none").i(20).i(30);
    Cell none_block = *with_none.get();
    cell_series(&none_block)->cells()[0] = g_none_value;
    blockv.i(9);
    struct Case {
        const Cell* value;
        bool only, some;
        const char* expected;
    } cases[] = {
        {pair.get(), false, false, "make object! [a: 10 b: 20 c: none]"},
        {pair.get(), true, false, "make object! [a: [10 20] b: [10 20] c: [10 20]]"},
        {&none_block, false, true, "make object! [a: 1 b: 20 c: 30]"},
        {&none_block, false, false, "make object! [a: none b: 20 c: 30]"},
        {&source, false, false, "make object! [a: 1 b: 2 c: 30]"},
        {blockv.get(), false, false, "make object! [a: 9 b: none c: none]"},
    };
    for (const Case& c : cases) {
        reset();
        object_set_values(obj.get(), c.value, false, c.only, c.some);
        EXPECT_EQ(mold(o, false, true), c.expected);
    }

    reset();
    B holes;
    holes.i(5).i(6).i(7);
    Cell with_unset = *holes.get();
    set_unset(cell_series(&with_unset)->cells() + 1);
    Cell error;
    EXPECT_EQ(fails([&] { object_set_values(obj.get(), &with_unset, false, false, false); }, &error), ERR_SCRIPT_NEED_VALUE);
    EXPECT_EQ(symbol_resolve(word_symbol(error_field(&error, ERROR_FIELD_ARG1))), symbol_make("b"));
    EXPECT_EQ(mold(o, false, true), "make object! [a: 1 b: 2 c: 3]") << "nothing is set before the check";
    object_set_values(obj.get(), &with_unset, true, false, false);
    EXPECT_EQ(mold(o, false, true), "make object! [a: 5 b: unset c: 7]");
}

TEST_F(ObjectTest, CopyRemakesMethodsAndCopiesSeriesOnlyWhenAsked) {
    GcRoot text;
    string_make(text.get());
    string_append_ascii(text.get(), "t");
    B spec;
    spec.sw("blk").b(B().i(1)).sw("inner").b(B().b(B().i(2))).sw("txt").add(*text);
    spec.sw("f").w("func").b(B()).b(B().w("blk"));
    Cell o = make("o", spec);
    GcRoot obj(o), out;
    auto copy = g_types.get<ACT_COPY>(TYPE_OBJECT);
    auto node_of = [&](const Cell& object, const char* name) {
        Cell v = field(object, name);
        return series_node(&v);
    };
    copy(obj.get(), out.get(), nullptr, false, nullptr);
    Cell shallow = *out;
    EXPECT_EQ(node_of(shallow, "blk"), node_of(o, "blk")) << "a shallow copy shares its series";
    EXPECT_NE(field(shallow, "f").w1, field(o, "f").w1) << "but never its methods";
    EXPECT_EQ(shallow.w2, o.w2);

    copy(obj.get(), out.get(), nullptr, true, nullptr);
    Cell deep = *out;
    EXPECT_NE(node_of(deep, "blk"), node_of(o, "blk"));
    EXPECT_NE(node_of(deep, "txt"), node_of(o, "txt"));
    Cell i0 = field(o, "inner"), i2 = field(deep, "inner");
    EXPECT_NE(series_node(cell_series(&i2)->cells()), series_node(cell_series(&i0)->cells())) << "nested blocks too";

    Cell only_blocks;
    set_datatype(&only_blocks, TYPE_BLOCK);
    copy(obj.get(), out.get(), nullptr, false, &only_blocks);
    Cell typed = *out;
    EXPECT_NE(node_of(typed, "blk"), node_of(o, "blk"));
    EXPECT_EQ(node_of(typed, "txt"), node_of(o, "txt")) << "a string is not of the types asked for";

    Cell part;
    set_integer(&part, 1);
    Cell error;
    EXPECT_EQ(fails([&] { copy(obj.get(), out.get(), &part, false, nullptr); }, &error), ERR_SCRIPT_INVALID_REFINE_ARG);
    EXPECT_EQ(cell_int(error_field(&error, ERROR_FIELD_ARG2)), 1);

    // A method whose body is gone cannot be re-made.
    Cell f = field(o, "f");
    set_none(function_info(&f, FN_INFO_BODY));
    EXPECT_EQ(fails([&] { copy(obj.get(), out.get(), nullptr, false, nullptr); }), ERR_SCRIPT_BAD_FUNC_DEF);
}

TEST_F(ObjectTest, ATypedDeepCopyOfAnObjectInsideItselfIsRefused) {
    B spec;
    spec.sw("me").i(0);
    Cell o = make("o", spec);
    Cell w = word_load("me");
    *const_cast<Cell*>(object_find_value(&o, &w)) = o;
    GcRoot obj(o), out;
    Cell objects;
    set_datatype(&objects, TYPE_OBJECT);
    EXPECT_EQ(fails([&] { g_types.get<ACT_COPY>(TYPE_OBJECT)(obj.get(), out.get(), nullptr, true, &objects); }),
              ERR_INTERNAL_NO_CYCLE);
}

TEST_F(ObjectTest, ObjectsOfTheBuiltInScriptsAndClassTests) {
    // The global code's way: a context of its own, object-push, then the events numbers.
    GcRoot holder;
    object_make_at(holder.get(), 2);
    uint32_t context = holder->w1;
    context_add_word(context, symbol_make("a"));
    context_add_word(context, symbol_make("on-deep-change*"));
    Cell* o = object_push(context, 77);
    EXPECT_EQ(o->w2, 77u);
    EXPECT_EQ(context_owner(context)->w2, 77u);
    object_init_events(context, -1, 0, 1, 0);
    EXPECT_NE(stack_top()->w3, 0u);
    EXPECT_TRUE(context_cell(context)->header & CONTEXT_OWNING) << "an on-deep-change* index makes it an owner";
    set("klass", *stack_top());
    stack_pop(1);
    Cell w = word_load("klass");
    EXPECT_TRUE(object_word_is_class(&w, 77));
    EXPECT_FALSE(object_word_is_class(&w, 78));
    EXPECT_EQ(object_field_count(holder.get()), 2u);
    EXPECT_EQ(word_symbol(object_first_word(holder.get())), symbol_make("a"));
}

}  // namespace
}  // namespace zol::test
