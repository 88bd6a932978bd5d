// Symbols, contexts and words: interning by spelling, binding by slot, and the word actions.
#include "runtime/values/backtrace.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/values/predefined.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class WordsTest : public RuntimeTest {
protected:
    std::string mold(const Cell& v) {
        GcRoot value(v), out;
        string_make(out.get());
        g_types.get<ACT_MOLD>(cell_type(&v))(value.get(), out.get(), MoldArgs{}, 100);
        return string_to_utf8(out.get());
    }
    int compare(const Cell& a, const Cell& b, CompareOp op) { return g_types.get<ACT_COMPARE>(cell_type(&a))(&a, &b, op); }
    Cell word(TypeId t, const char* name, bool exact = true) {
        Cell w;
        set_word(&w, t, 0, exact ? symbol_make_flagged(name) : symbol_make(name));
        return w;
    }
    // A context held by a root for the test's length.
    uint32_t context(uint32_t slots, bool stack = false) {
        uint32_t c = context_make(slots, stack, false, 0, CONTEXT_KIND_PLAIN);
        holder_->header = TYPE_OBJECT;
        holder_->w1 = c;
        holder_->w3 = 0;
        return c;
    }
    GcRoot holder_;
};

TEST_F(WordsTest, SpellingsAreSymbolsThatShareACanonicalId) {
    uint32_t foo = symbol_make("sym-foo");
    EXPECT_EQ(symbol_make("SYM-Foo"), foo) << "without exact, any spelling gives the first";
    uint32_t upper = symbol_make_flagged("SYM-Foo");
    EXPECT_NE(upper, foo);
    EXPECT_EQ(symbol_alias(upper), int32_t(foo));
    EXPECT_EQ(symbol_resolve(upper), foo);
    EXPECT_EQ(symbol_resolve(foo), foo);
    EXPECT_EQ(symbol_alias(foo), -1);
    EXPECT_EQ(symbol_make_flagged("SYM-Foo"), upper) << "an exact spelling is found again";
    EXPECT_STREQ(symbol_c_string(upper), "SYM-Foo");
    uint32_t length;
    symbol_bytes(upper, &length);
    EXPECT_EQ(length, 7u);
}

TEST_F(WordsTest, NamesAsStringsAndBack) {
    uint32_t id = symbol_make_flagged("na\xC3\xAFve");
    Cell* sym = symbol_get(id);
    ASSERT_NE(sym->w2, 0u);
    Cell name;
    set_series(&name, TYPE_STRING, sym->w2);
    EXPECT_EQ(string_length(&name), 5u);
    GcRoot text;
    string_make(text.get());
    string_append_utf8(text.get(), reinterpret_cast<const uint8_t*>("NA\xC3\xAFVE"), 6);
    EXPECT_EQ(symbol_from_string(text.get()), symbol_make("na\xC3\xAFve")) << "ASCII case is ignored";
}

TEST_F(WordsTest, TheSymbolTableGrowsWithoutLosingNames) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < 20000; i++) ids.push_back(symbol_make(("many-" + std::to_string(i)).c_str()));
    for (int i = 0; i < 20000; i++) ASSERT_EQ(symbol_make(("MANY-" + std::to_string(i)).c_str()), ids[size_t(i)]);
}

TEST_F(WordsTest, PredefinedNamesAndDatatypeWordsExist) {
    EXPECT_EQ(g_sym[SYM_SELF], symbol_make("SELF"));
    EXPECT_STREQ(symbol_c_string(g_sym[SYM_BAR]), "|");
    EXPECT_EQ(mold(g_word[W_BODY]), "<body>");
    EXPECT_EQ(mold(g_refinement[R_LOCAL]), "/local");
    const TypeNameRow& row = g_types.row(TYPE_BLOCK);
    EXPECT_EQ(word_context(&row.word), g_global_context);
    EXPECT_EQ(mold(row.word), "block!");
    EXPECT_EQ(g_sym_body, word_symbol(&g_word[W_BODY]));
}

TEST_F(WordsTest, MoldAndCompare) {
    EXPECT_EQ(mold(word(TYPE_SET_WORD, "x")), "x:");
    EXPECT_EQ(mold(word(TYPE_GET_WORD, "x")), ":x");
    EXPECT_EQ(mold(word(TYPE_LIT_WORD, "x")), "'x");
    EXPECT_EQ(mold(word(TYPE_REFINEMENT, "local")), "/local");
    EXPECT_EQ(mold(word(TYPE_WORD, "caf\xC3\xA9")), "caf\xC3\xA9");

    Cell lower = word(TYPE_WORD, "cmp-foo"), upper = word(TYPE_WORD, "CMP-Foo");
    EXPECT_EQ(compare(lower, upper, CMP_EQUAL), 0) << "words equal regardless of case";
    EXPECT_NE(compare(lower, upper, CMP_STRICT_EQUAL), 0) << "but not strictly, as different spellings";
    Cell lit = word(TYPE_LIT_WORD, "cmp-foo");
    EXPECT_EQ(compare(lit, lower, CMP_FIND_WORD), 0) << "'a and a under the word-pair equality";
    EXPECT_NE(compare(lit, lower, CMP_STRICT_EQUAL), 0);
    EXPECT_EQ(compare(lit, lower, CMP_EQUAL), 0);
    Cell apple = word(TYPE_WORD, "apple"), banana = word(TYPE_WORD, "Banana");
    EXPECT_LT(compare(apple, banana, CMP_SORT), 0);
    EXPECT_GT(compare(apple, banana, CMP_CASE_SORT), 0) << "case-sensitive order puts capitals first";
    Cell one;
    set_integer(&one, 1);
    EXPECT_EQ(compare(apple, one, CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(WordsTest, IndexOfAWord) {
    auto index_q = reinterpret_cast<void (*)()>(g_types.action(TYPE_WORD, ACT_INDEX_Q));
    Cell unbound = word(TYPE_WORD, "idx-a");
    stack_push(&unbound);
    index_q();
    EXPECT_TRUE(cell_is(g_args.base, TYPE_NONE));
    stack_reset();
    uint32_t c = context(4);
    Cell first = word(TYPE_WORD, "idx-a");
    context_add_word(c, word_symbol(&first));
    context_bind_word(c, &first);
    stack_push(&first);
    index_q();
    EXPECT_EQ(cell_int(g_args.base), 1);
    EXPECT_EQ(g_types.action(TYPE_REFINEMENT, ACT_INDEX_Q), nullptr);
}

TEST_F(WordsTest, ToWordFromDatatypeAndLogic) {
    auto to = g_types.get<ACT_TO>(TYPE_WORD);
    Cell proto = g_word[W_BODY], type, yes = g_true_value;
    set_datatype(&type, TYPE_INTEGER);
    EXPECT_EQ(mold(*to(&proto, &type, TYPE_WORD)), "integer!");
    EXPECT_EQ(mold(*to(&proto, &yes, TYPE_WORD)), "true");
    Cell lit = word(TYPE_LIT_WORD, "to-a");
    EXPECT_EQ(mold(*g_types.get<ACT_TO>(TYPE_SET_WORD)(&proto, &lit, TYPE_SET_WORD)), "to-a:");
    Cell one;
    set_integer(&one, 1);
    EXPECT_EQ(catch_error([&] { to(&proto, &one, TYPE_WORD); }), ERR_SCRIPT_BAD_TO_ARG);
}

TEST_F(WordsTest, ContextsBindBySlot) {
    uint32_t c = context(0);
    EXPECT_EQ(context_word_count(c), 0u);
    uint32_t a = symbol_make("ctx-a"), b = symbol_make("ctx-b");
    EXPECT_EQ(context_add_word(c, a), 0u);
    EXPECT_EQ(context_add_word(c, b), 1u);
    EXPECT_EQ(context_add_word(c, a), 0u);
    EXPECT_EQ(context_find_word(c, symbol_make_flagged("CTX-A"), true), 0);
    EXPECT_EQ(context_find_word(c, symbol_make_flagged("CTX-A"), false), -1);
    // Many words: the word table grows and every slot stays where it was.
    for (int i = 0; i < 500; i++) context_add_word(c, symbol_make(("ctx-w" + std::to_string(i)).c_str()));
    for (int i = 0; i < 500; i++) ASSERT_EQ(context_find_word(c, symbol_make(("ctx-w" + std::to_string(i)).c_str()), true), i + 2);
    Cell w;
    set_word(&w, TYPE_WORD, 0, b);
    ASSERT_EQ(context_bind_word(c, &w), 1);
    Cell v;
    set_integer(&v, 42);
    word_set_value(&w, &v);
    EXPECT_EQ(cell_int(word_value_cell(&w)), 42);
    EXPECT_EQ(cell_int(context_values_at(c, 1)), 42);
}

TEST_F(WordsTest, GlobalSpellingsShareOneSlot) {
    Cell lower = word_load("glob-foo");
    Cell upper = word_make_global(symbol_make_flagged("GLOB-Foo"));
    EXPECT_EQ(word_index(&lower), word_index(&upper));
    EXPECT_EQ(mold(upper), "GLOB-Foo") << "the word keeps its spelling";
    Cell v;
    set_integer(&v, 7);
    word_set_value(&lower, &v);
    EXPECT_EQ(cell_int(word_value_cell(&upper)), 7);
}

TEST_F(WordsTest, FunctionWordsOutsideTheirCall) {
    uint32_t c = context(2, true);
    uint32_t x = symbol_make("fn-x");
    context_add_word(c, x);
    Cell w;
    set_word(&w, TYPE_WORD, 0, x);
    context_bind_word(c, &w);
    EXPECT_EQ(catch_error([&] { word_value_cell(&w); }), ERR_SCRIPT_NOT_IN_CONTEXT);
    Cell v = g_true_value;
    EXPECT_EQ(catch_error([&] { word_set_value(&w, &v); }), ERR_SCRIPT_NOT_DEFINED);
    Cell unbound = word(TYPE_WORD, "fn-nowhere");
    EXPECT_EQ(catch_error([&] { word_value_cell(&unbound); }), ERR_SCRIPT_NO_VALUE);
}

TEST_F(WordsTest, BindingABlockThatContainsItselfAndSelf) {
    uint32_t c = context(2);
    uint32_t a = symbol_make("bind-a");
    context_add_word(c, a);
    *context_owner(c) = g_true_value;  // stands for the owning object
    GcRoot block;
    set_series(block.get(), TYPE_BLOCK, series_alloc_cells(4));
    set_word(block_alloc_tail(block.get()), TYPE_WORD, 0, a);
    set_word(block_alloc_tail(block.get()), TYPE_WORD, 0, g_sym[SYM_SELF]);
    *block_alloc_tail(block.get()) = *block;  // the block holds itself
    context_bind_block(block.get(), c, true);
    Cell* cells = cell_series(block.get())->cells();
    EXPECT_EQ(word_context(&cells[0]), c);
    EXPECT_EQ(word_index(&cells[0]), 0u);
    EXPECT_TRUE(cell_is(word_value_cell(&cells[1]), TYPE_LOGIC)) << "self gives the owner";
}

TEST_F(WordsTest, DuplicateAndCollect) {
    uint32_t c = context(2);
    context_add_word(c, symbol_make("dup-a"));
    context_add_word(c, symbol_make("dup-b"));
    GcRoot copy;
    copy->header = TYPE_OBJECT;
    copy->w1 = c;
    copy->w3 = 0;
    context_duplicate(copy.get(), CONTEXT_KIND_OBJECT);
    uint32_t d = copy->w1;
    ASSERT_NE(d, c);
    EXPECT_EQ(context_word_count(d), 2u);
    EXPECT_EQ(word_context(context_word_at(d, 1)), d) << "the copy's words are its own";
    EXPECT_EQ(context_find_word(d, symbol_make("dup-b"), true), 1);
    EXPECT_EQ(context_kind(d), CONTEXT_KIND_OBJECT);

    GcRoot body;
    set_series(body.get(), TYPE_BLOCK, series_alloc_cells(3));
    set_word(block_alloc_tail(body.get()), TYPE_SET_WORD, 0, symbol_make("dup-b"));
    set_word(block_alloc_tail(body.get()), TYPE_SET_WORD, 0, symbol_make("dup-c"));
    set_word(block_alloc_tail(body.get()), TYPE_WORD, 0, symbol_make("dup-d"));
    EXPECT_TRUE(context_collect_set_words(d, body.get()));
    EXPECT_EQ(context_word_count(d), 3u) << "only the new set-word is added";
    EXPECT_FALSE(context_collect_set_words(d, body.get()));
}

TEST_F(WordsTest, TheFramesOfACallTraceFormAsNames) {
    Cell f1 = word_load("trace-one"), f2 = word_load("trace-two");
    stack_mark_call(&f1);
    stack_mark_call(&g_word[W_BODY]);  // hidden
    stack_mark_call(&f2);
    GcRoot out;
    string_make(out.get());
    Cell end;
    set_integer(&end, int32_t(g_frames.top - g_frames.start));
    int part = stack_form_trace(2, &end, out.get(), 100);
    EXPECT_EQ(string_to_utf8(out.get()), "trace-one trace-two ");
    EXPECT_EQ(part, 100 - 20);
    string_make(out.get());
    stack_form_trace(1, &end, out.get(), 100);
    EXPECT_EQ(string_to_utf8(out.get()), "") << "at level 1 only frames of function values are named";
}

}  // namespace
}  // namespace zol::test
