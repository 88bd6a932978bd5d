// error!: the catalog built from errors.def and its templates, make error! in every form, the formed report
// with its fallbacks, limits and optional lines, filling the stack field, mold, paths, compare and copy.
#include <vector>

#include "interpreter/eval.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "runtime/output.h"
#include "tests/block_builder.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class ErrorTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        set_none(error_state_stack_trace());
        set_none(error_state_files());
    }
    void TearDown() override {
        set_none(error_state_stack_trace());
        set_none(error_state_files());
        RuntimeTest::TearDown();
    }

    Cell text(const char* s) {
        Cell c;
        string_make(&c);
        string_append_ascii(&c, s);
        return c;
    }
    // make error! spec; the error raised instead, if any.
    ErrorId make(const Cell& spec, Cell* out) {
        stack_reset();
        GcRoot keep(spec);
        Cell proto;
        set_datatype(&proto, TYPE_ERROR);
        Cell raised;
        ErrorId id = catch_error([&] { *out = *g_types.get<ACT_MAKE>(TYPE_ERROR)(&proto, keep.get(), TYPE_ERROR); }, &raised);
        if (id != ERR_COUNT) *out = raised;
        stack_reset();
        return id;
    }
    Cell made(const Cell& spec) {
        Cell e;
        EXPECT_EQ(make(spec, &e), ERR_COUNT);
        return e;
    }
    std::string word_of(const Cell* c) { return is_any_word(c) ? symbol_c_string(word_symbol(c)) : "?"; }
    std::string mold(const Cell& v, bool flat = false) {
        GcRoot value(v), out;
        string_make(out.get());
        MoldArgs args;
        args.flat = flat;
        mold_value(value.get(), out.get(), args, 0x7FFFFFFF);
        return string_to_utf8(out.get());
    }
    std::string tail_lines(const std::string& s) { return s.substr(s.find('\n')); }
};

TEST_F(ErrorTest, TheCatalogFollowsErrorsDef) {
    const Cell* catalog = error_catalog();
    ASSERT_TRUE(cell_is(catalog, TYPE_OBJECT));
    ASSERT_EQ(object_field_count(catalog), uint32_t(ERRC_COUNT));
    for (uint32_t c = 0; c < ERRC_COUNT; c++) {
        Cell class_word = *context_word_at(catalog->w1, c);
        EXPECT_STREQ(symbol_c_string(word_symbol(&class_word)), error_class_info(ErrorClass(c)).word);
        const Cell* cls = context_values_at(catalog->w1, c);
        ASSERT_TRUE(cell_is(cls, TYPE_OBJECT));
        EXPECT_EQ(cell_int(context_values_at(cls->w1, 0)), int32_t(c * 100));
        EXPECT_EQ(string_to_utf8(context_values_at(cls->w1, 1)), error_class_info(ErrorClass(c)).text);
    }
    // Every entry sits at its position + 2 in its class, and make error! of its code finds it again.
    for (uint32_t e = 0; e < ERR_COUNT; e++) {
        const ErrorInfo& info = error_info(ErrorId(e));
        const Cell* cls = context_values_at(catalog->w1, info.cls);
        Cell id_word = *context_word_at(cls->w1, info.position + 2);
        EXPECT_STREQ(symbol_c_string(word_symbol(&id_word)), info.word);
        uint32_t t = cell_type(context_values_at(cls->w1, info.position + 2));
        EXPECT_TRUE(t == TYPE_STRING || t == TYPE_BLOCK || t == TYPE_WORD) << info.word;
        Cell err;
        ASSERT_EQ(make(integer(error_code(ErrorId(e))), &err), ERR_COUNT) << info.word;
        EXPECT_EQ(error_id(&err), ErrorId(e));
        EXPECT_EQ(word_of(error_field(&err, ERROR_FIELD_ID)), info.word);
    }
    const Cell* prototype = error_prototype();
    EXPECT_EQ(mold(*prototype, true),
              "make object! [code: none type: none id: none arg1: none arg2: none arg3: none near: none where: none "
              "stack: none files: none]");
}

TEST_F(ErrorTest, TemplatesAreReadAsZolValues) {
    struct Case {
        const char* source;
        const char* molded;  // strings shown by their text between bars
    } cases[] = {
        {R"("no loop to break")", "|no loop to break|"},
        {R"([:arg1 "has no value"])", "[:arg1 |has no value|]"},
        {R"(arg1)", "arg1"},
        {R"([ "a"   :arg2"b" ])", "[|a| :arg2 |b|]"},
        {R"zol("line^/tab^-caret^^quote^"hex^(41)^(e9)")zol", "|line\ntab\tcaret^quote\"hexA\xC3\xA9|"},
        {R"([])", "[]"},
    };
    auto show = [](auto& self, const Cell* v) -> std::string {
        if (cell_is(v, TYPE_STRING)) return "|" + string_to_utf8(v) + "|";
        if (cell_is(v, TYPE_BLOCK)) {
            std::string s = "[";
            for (uint32_t i = 0; i < cell_series(v)->used(); i++) {
                if (i) s += " ";
                s += self(self, cell_series(v)->cells() + i);
            }
            return s + "]";
        }
        return mold_text(v);
    };
    for (const Case& c : cases) {
        GcRoot out;
        ASSERT_TRUE(error_read_template(c.source, out.get())) << c.source;
        EXPECT_EQ(show(show, out.get()), c.molded) << c.source;
    }
    for (const char* bad : {R"("open)", R"([:arg1)", R"("a" "b")", R"zol("^(zz)")zol", R"(])", ""}) {
        GcRoot out;
        EXPECT_FALSE(error_read_template(bad, out.get())) << bad;
    }
}

TEST_F(ErrorTest, MakeErrorInEveryForm) {
    B script_no_value, script_nonsense, nonsense, script_only, script_five, five, empty, by_fields, bad_fields;
    script_no_value.w("script").w("no-value");
    script_nonsense.w("script").w("nonsense");
    nonsense.w("nonsense").w("no-value");
    script_only.w("script");
    script_five.w("script").i(5);
    five.i(5);
    by_fields.sw("type").lw("math").sw("id").lw("overflow");
    bad_fields.sw("type").lw("math").sw("id").lw("no-value");
    Cell real;
    set_float(&real, 5.5);
    struct Case {
        Cell spec;
        ErrorId raised;
        int code;         // of the error made
        const char* arg;  // of the error raised: its first argument, molded
    } cases[] = {
        {integer(300), ERR_COUNT, 300, nullptr},
        {integer(400), ERR_COUNT, 400, nullptr},
        {integer(393), ERR_COUNT, 393, nullptr},
        {integer(394), ERR_SCRIPT_OUT_OF_RANGE, 0, "394"},  // script has 94 ids
        {integer(1000), ERR_SCRIPT_OUT_OF_RANGE, 0, "1000"},
        {integer(-1), ERR_SCRIPT_OUT_OF_RANGE, 0, "-1"},
        {*script_no_value.get(), ERR_COUNT, 300, nullptr},
        {*script_nonsense.get(), ERR_SCRIPT_INVALID_SPEC_FIELD, 0, "id"},
        {*nonsense.get(), ERR_SCRIPT_INVALID_SPEC_FIELD, 0, "type"},
        {*script_only.get(), ERR_SCRIPT_INVALID_SPEC_FIELD, 0, "id"},
        {*script_five.get(), ERR_SCRIPT_INVALID_ARG, 0, "5"},
        {*five.get(), ERR_INTERNAL_INVALID_ERROR, 0, "none"},
        {*empty.get(), ERR_INTERNAL_INVALID_ERROR, 0, "none"},
        {*by_fields.get(), ERR_COUNT, 401, nullptr},
        {*bad_fields.get(), ERR_SCRIPT_INVALID_SPEC_FIELD, 0, "id"},
        {real, ERR_SCRIPT_BAD_MAKE_ARG, 0, "error!"},
    };
    for (const Case& c : cases) {
        std::string label = mold(c.spec, true);
        Cell e;
        ASSERT_EQ(make(c.spec, &e), c.raised) << label;
        ASSERT_TRUE(cell_is(&e, TYPE_ERROR)) << label;
        if (c.raised == ERR_COUNT) {
            EXPECT_EQ(cell_int(error_field(&e, ERROR_FIELD_CODE)), c.code) << label;
            EXPECT_EQ(e.w2, CLASS_ERROR);
        } else {
            EXPECT_EQ(mold(*error_field(&e, ERROR_FIELD_ARG1)), c.arg) << label;
        }
    }
    Cell e = made(integer(400));
    EXPECT_EQ(word_of(error_field(&e, ERROR_FIELD_TYPE)), "math");
    EXPECT_EQ(word_of(error_field(&e, ERROR_FIELD_ID)), "zero-divide");
    EXPECT_EQ(word_context(error_field(&e, ERROR_FIELD_TYPE)), error_catalog()->w1) << "bound to the catalog";

    Cell message = made(text("boom"));
    EXPECT_EQ(error_id(&message), ERR_USER_MESSAGE);
    EXPECT_EQ(string_to_utf8(error_field(&message, ERROR_FIELD_ARG1)), "boom");
}

TEST_F(ErrorTest, TheReportOfEachKindOfTemplate) {
    B pair, many, long_near;
    pair.i(1).i(2);
    for (int i = 0; i < 50; i++) many.i(i);
    for (int i = 0; i < 30; i++) long_near.i(100 + i);
    Cell foo = word_load("foo");
    GcRoot boom(text("boom"));
    struct Case {
        ErrorId id;
        Cell arg1;
        const char* first_line;
    } cases[] = {
        {ERR_SCRIPT_NO_VALUE, foo, "*** Script Error: foo has no value"},
        {ERR_SCRIPT_INVALID_ARG, *pair.get(), "*** Script Error: invalid argument: [1 2]"},
        {ERR_SYNTAX_BAD_HEADER, *pair.get(), "*** Syntax Error: script header is not valid: 1 2"},
        {ERR_MATH_ZERO_DIVIDE, g_none_value, "*** Math Error: attempt to divide by zero"},
        {ERR_USER_MESSAGE, *boom, "*** User Error: boom"},
        {ERR_SCRIPT_INVALID_ARG, *many.get(),
         "*** Script Error: invalid argument: [0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29"},
        {ERR_SCRIPT_NO_ARG, foo, "*** Script Error: foo is missing its none argument"},
    };
    for (const Case& c : cases) {
        stack_reset();
        Cell* e = error_create(c.id, &c.arg1, nullptr, nullptr);
        std::string report = error_form_text(e);
        EXPECT_EQ(report.substr(0, report.find('\n')), c.first_line);
        EXPECT_EQ(tail_lines(report), "\n*** Where: ???\n*** Near : none");
    }

    stack_reset();
    Cell* e = error_create(ERR_MATH_OVERFLOW, nullptr, nullptr, nullptr);
    *error_field(e, ERROR_FIELD_NEAR) = *long_near.get();
    *error_field(e, ERROR_FIELD_WHERE) = text("in a string");
    EXPECT_EQ(tail_lines(error_form_text(e)), "\n*** Where: in a string\n*** Near : 100 101 102 103 104 105 106 107 108 109 ");
    *error_field(e, ERROR_FIELD_WHERE) = integer(3);
    EXPECT_EQ(tail_lines(error_form_text(e)).substr(0, 16), "\n*** Where: ???\n");
    *error_field(e, ERROR_FIELD_NEAR) = g_none_value;
    *error_field(e, ERROR_FIELD_FILES) = *pair.get();
    EXPECT_EQ(tail_lines(error_form_text(e)), "\n*** Where: ???\n*** Near : none\n*** Files: 1 2");
}

std::vector<std::string> g_printed;
void capture_print(const Cell* text, bool newline) { g_printed.push_back(string_to_utf8(text) + (newline ? "|" : "")); }

TEST_F(ErrorTest, AnErrorIsPrintedWithoutBeingRaised) {
    output_hooks_register(capture_print, nullptr);
    g_printed.clear();
    Cell foo = word_load("foo");
    uint32_t top = stack_index(stack_top());
    EXPECT_NO_THROW(error_print(ERR_SCRIPT_NO_VALUE, &foo, nullptr, nullptr));
    output_hooks_unregister(capture_print, nullptr);
    EXPECT_EQ(stack_index(stack_top()), top) << "the frame it used is gone";
    ASSERT_EQ(g_printed.size(), 1u);
    EXPECT_EQ(g_printed[0], "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none|");
}

TEST_F(ErrorTest, AnErrorThatNoLongerNamesItsEntryIsReportedAsInvalid) {
    struct Case {
        ErrorField field;
        const char* replacement;
    } cases[] = {{ERROR_FIELD_TYPE, "nonsense"}, {ERROR_FIELD_ID, "nonsense"}};
    for (const Case& c : cases) {
        stack_reset();
        Cell foo = word_load("foo");
        Cell* e = error_create(ERR_SCRIPT_NO_VALUE, &foo, nullptr, nullptr);
        *error_field(e, c.field) = word_load(c.replacement);
        EXPECT_EQ(error_form_text(e).substr(0, 62), "*** Internal Error: invalid error object field value: nonsense");
        EXPECT_EQ(word_of(error_field(e, ERROR_FIELD_TYPE)), "internal") << "rewritten in place";
        EXPECT_EQ(word_of(error_field(e, ERROR_FIELD_ID)), "invalid-error");
        EXPECT_EQ(word_of(error_field(e, ERROR_FIELD_ARG1)), "nonsense");
    }
    // A template of another datatype names the class.
    const Cell* script = context_values_at(error_catalog()->w1, ERRC_SCRIPT);
    Cell* tmpl = context_values_at(script->w1, error_info(ERR_SCRIPT_PAST_END).position + 2);
    Cell saved = *tmpl;
    *tmpl = integer(5);
    stack_reset();
    Cell* e = error_create(ERR_SCRIPT_PAST_END, nullptr, nullptr, nullptr);
    std::string report = error_form_text(e);
    *tmpl = saved;
    EXPECT_EQ(report.substr(0, report.find('\n')), "*** Internal Error: invalid error object field value: script");
}

TEST_F(ErrorTest, TheStackLineFollowsTheStackTraceSetting) {
    // A word naming a function, so that level-1 traces list its frames.
    GcRoot spec, body;
    block_make_at(spec.get(), 1);
    block_make_at(body.get(), 1);
    function_build(spec.get(), body.get(), 0, 0, 0, 0);
    Cell outer = word_load("outer-fn"), inner = word_load("inner-fn"), plain = word_load("plain-frame");
    word_set_value(&outer, stack_top());
    word_set_value(&inner, stack_top());
    stack_reset();

    Cell error;
    catch_error(
        [&] {
            stack_mark_call(&outer);
            stack_mark_call(&g_word[W_BODY]);  // hidden
            stack_mark_call(&inner);
            fire(ERR_MATH_OVERFLOW);
        },
        &error);
    GcRoot kept(error);
    ASSERT_TRUE(cell_is(error_field(&error, ERROR_FIELD_STACK), TYPE_INTEGER));
    EXPECT_EQ(error_form_text(&error).find("Stack"), std::string::npos) << "no setting, no line";
    *error_state_stack_trace() = integer(0);
    EXPECT_EQ(error_form_text(&error).find("Stack"), std::string::npos);

    // The mark names frames that are gone once the error is caught: a block keeps what was filled in.
    B names;
    names.w("outer-fn").w("inner-fn");
    *error_field(&error, ERROR_FIELD_STACK) = *names.get();
    *error_state_stack_trace() = integer(1);
    EXPECT_EQ(tail_lines(error_form_text(&error)), "\n*** Where: inner-fn\n*** Near : none\n*** Stack: outer-fn inner-fn");

    // While the frames are there, the mark is formed from them.
    stack_mark_call(&outer);
    stack_mark_call(&g_word[W_BODY]);
    stack_mark_call(&plain);  // named by a word that is no function
    stack_mark_call(&inner);
    *error_field(&error, ERROR_FIELD_STACK) = integer(4);
    std::string report = error_form_text(&error);
    EXPECT_EQ(report.substr(report.find("\n*** Stack")), "\n*** Stack: outer-fn inner-fn ");
    *error_field(&error, ERROR_FIELD_STACK) = integer(1);
    report = error_form_text(&error);
    EXPECT_EQ(report.substr(report.find("\n*** Stack")), "\n*** Stack: outer-fn ") << "frames up to the mark";

    // error-fill-stack turns the mark into the block of names, at the setting's depth, with the files.
    B files;
    files.w("a.zol");
    *error_state_files() = *files.get();
    *error_field(&error, ERROR_FIELD_STACK) = integer(4);
    error_fill_stack(kept.get());
    EXPECT_EQ(mold(*error_field(&error, ERROR_FIELD_STACK)), "[outer-fn inner-fn]");
    EXPECT_EQ(mold(*error_field(&error, ERROR_FIELD_FILES)), "[a.zol]");
    EXPECT_NE(series_node(error_field(&error, ERROR_FIELD_FILES)), series_node(files.get())) << "a copy";
    *error_state_stack_trace() = integer(2);
    *error_field(&error, ERROR_FIELD_STACK) = integer(4);
    error_fill_stack(kept.get());
    EXPECT_EQ(mold(*error_field(&error, ERROR_FIELD_STACK)), "[outer-fn plain-frame inner-fn]")
        << "deeper levels keep the frames that call no function";
    Cell filled = *error_field(&error, ERROR_FIELD_STACK);
    error_fill_stack(kept.get());
    EXPECT_EQ(series_node(error_field(&error, ERROR_FIELD_STACK)), series_node(&filled)) << "filled once";
    stack_init();
}

TEST_F(ErrorTest, TryWithKeepFillsTheStackOfTheErrorItCatches) {
    // f: func [] [try/keep [make error! 1000]] -- and the same without /keep.
    define_native("make", ACT_MAKE, TYPE_ACTION, {"type", "spec"});
    define_native("try", NAT_TRY, TYPE_NATIVE, {"block", "/all", "/keep"});
    Cell type_word = word_load("error!"), type;
    set_datatype(&type, TYPE_ERROR);
    word_set_value(&type_word, &type);
    for (bool keep : {true, false}) {
        B spec, body, raise;
        raise.w("make").w("error!").i(1000);
        if (keep) {
            body.path({"try", "keep"}).b(raise);
        } else {
            body.w("try").b(raise);
        }
        function_build(spec.get(), body.get(), 0, 0, 0, 0);
        Cell f = word_load("keeping-fn");
        word_set_value(&f, stack_top());
        stack_reset();
        B code;
        code.w("keeping-fn");
        eval_block(code.get(), false);
        ASSERT_EQ(g_system.pending, UNWIND_NONE);
        Cell e = *stack_top();
        stack_reset();
        ASSERT_EQ(error_id(&e), ERR_SCRIPT_OUT_OF_RANGE);
        if (keep) {
            EXPECT_EQ(mold(*error_field(&e, ERROR_FIELD_STACK)), "[keeping-fn]");
        } else {
            EXPECT_TRUE(cell_is(error_field(&e, ERROR_FIELD_STACK), TYPE_NONE)) << "its frames are gone";
        }
    }
}

TEST_F(ErrorTest, MoldPathsCompareAndCopy) {
    Cell e = made(integer(300));
    GcRoot kept(e);
    const char* fields =
        "code: 300 type: 'script id: 'no-value arg1: none arg2: none arg3: none near: none where: none stack: none "
        "files: none";
    EXPECT_EQ(mold(e, true), std::string("make error! [") + fields + "]");
    std::string indented = "make error! [\n";
    for (const char* name : {"code: 300", "type: 'script", "id: 'no-value", "arg1: none", "arg2: none", "arg3: none",
                             "near: none", "where: none", "stack: none", "files: none"}) {
        indented += std::string("    ") + name + "\n";
    }
    EXPECT_EQ(mold(e), indented + "]");

    auto eval_path = g_types.get<ACT_EVAL_PATH>(TYPE_ERROR);
    Cell stack_word = word_load("stack"), code_word = word_load("code"), seven = integer(7);
    PathStep step;
    step.element = &stack_word;
    step.last = true;
    EXPECT_TRUE(cell_is(eval_path(kept.get(), step), TYPE_NONE)) << "the stack field can be read";
    step.set_value = &seven;
    EXPECT_EQ(catch_error([&] { eval_path(kept.get(), step); }), ERR_SCRIPT_INVALID_PATH_SET);
    step.element = &code_word;
    eval_path(kept.get(), step);
    EXPECT_EQ(cell_int(error_field(&e, ERROR_FIELD_CODE)), 7) << "any other field can be set";

    GcRoot same_code(made(integer(300)));
    GcRoot other(made(integer(301)));
    set_integer(error_field(same_code.get(), ERROR_FIELD_CODE), 7);
    auto compare = g_types.get<ACT_COMPARE>(TYPE_ERROR);
    EXPECT_EQ(compare(&e, same_code.get(), CMP_EQUAL), 0);
    EXPECT_NE(compare(&e, other.get(), CMP_EQUAL), 0);
    EXPECT_NE(compare(&e, same_code.get(), CMP_SAME), 0);
    GcRoot object;
    object_make_at(object.get(), 1);
    EXPECT_EQ(compare(&e, object.get(), CMP_EQUAL), COMPARE_INCOMPARABLE);

    GcRoot copy;
    g_types.get<ACT_COPY>(TYPE_ERROR)(kept.get(), copy.get(), nullptr, false, nullptr);
    EXPECT_TRUE(cell_is(copy.get(), TYPE_ERROR));
    EXPECT_EQ(copy->w2, CLASS_ERROR);
    EXPECT_NE(copy->w1, e.w1);
    EXPECT_EQ(compare(copy.get(), &e, CMP_EQUAL), 0);
}

using ErrorDeathTest = ErrorTest;

// Raises an error inside a call of a function with nothing to catch it.
void raise_uncaught_in_a_function() {
    stack_init();
    GcRoot spec, body;
    block_make_at(spec.get(), 1);
    block_make_at(body.get(), 1);
    function_build(spec.get(), body.get(), 0, 0, 0, 0);
    Cell name = word_load("failing-fn");
    word_set_value(&name, stack_top());
    stack_reset();
    set_integer(error_state_stack_trace(), 1);
    stack_mark_call(&name);
    fire(ERR_MATH_ZERO_DIVIDE);
}

TEST_F(ErrorDeathTest, AnUncaughtErrorReportsTheFramesItWasRaisedIn) {
    EXPECT_EXIT(raise_uncaught_in_a_function(), ::testing::ExitedWithCode(254),
                "\\*\\*\\* Where: failing-fn\n\\*\\*\\* Near : none\n\\*\\*\\* Stack: failing-fn");
}

}  // namespace
}  // namespace zol::test
