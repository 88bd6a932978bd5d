// Ownership tracking: records for owned series and what is nested in them, cycles, first owners, unbinding,
// the collector keeping owned series, and the deep-change notification of an owner with a handler.
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
#include "runtime/values/hashtable.h"
#include "runtime/memory.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"
#include "tests/block_builder.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class OwnershipTest : public RuntimeTest {
protected:
    // A new block held by the fixture.
    Cell* block() {
        Cell* c = keep();
        block_make_at(c, 4);
        return c;
    }
    Cell* string(const char* text) {
        Cell* c = keep();
        string_make(c);
        string_append_ascii(c, text);
        return c;
    }
    // A plain object with the given fields, all none, held by the fixture.
    Cell* object(std::initializer_list<const char*> fields) {
        Cell* c = keep();
        object_make_at(c, uint32_t(fields.size()));
        for (const char* f : fields) context_put_word(c->w1, symbol_make(f), &g_none_value);
        return c;
    }
    void put_field(const Cell* object, const char* name, const Cell& value) {
        Cell w = word_load(name);
        *const_cast<Cell*>(object_find_value(object, &w)) = value;
    }
    Cell word(const char* name) { return word_load(name); }
    uint32_t count() { return hashtable_count(ownership_table()); }
    bool owned(const Cell* series) { return (cell_series(series)->flags & SER_OWNED) != 0; }
    uint32_t owner_of(const Cell* series) {
        Cell* owner = ownership_get(series_node(series));
        return owner ? object_context(owner) : 0;
    }

    void TearDown() override {
        // Records of this test's values must not outlive it.
        for (uint32_t i = 0; i < used_; i++) ownership_unbind(kept_[i].get());
        RuntimeTest::TearDown();
    }

private:
    Cell* keep() { return kept_[used_++].get(); }
    GcRoot kept_[12];
    uint32_t used_ = 0;
};

TEST_F(OwnershipTest, ABlockThatHoldsItselfIsRecordedOnce) {
    Cell* owner = object({"blk"});
    Cell* b = block();
    block_rs_append(b, string("x"));
    block_rs_append(b, b);
    Cell field = word("blk");
    uint32_t before = count();
    ownership_bind(b, owner, &field);
    EXPECT_EQ(count(), before + 2) << "the block and its string, once each";
    EXPECT_TRUE(owned(b));
    EXPECT_EQ(owner_of(b), owner->w1);
    Cell* entry = ownership_get(series_node(b));
    EXPECT_EQ(word_symbol(entry + 1), word_symbol(&field)) << "the entry names the field";
    EXPECT_EQ(series_node(entry - 1), series_node(b)) << "and holds the owned value";
}

TEST_F(OwnershipTest, AnOwnedBlockKeepsItsFirstOwnerButItsNewContentIsBound) {
    Cell* first = object({"a"});
    Cell* second = object({"b"});
    Cell* b = block();
    Cell a = word("a"), bw = word("b");
    ownership_bind(b, first, &a);
    Cell* late = string("late");
    block_rs_append(b, late);
    uint32_t before = count();
    ownership_bind(b, second, &bw);
    EXPECT_EQ(count(), before + 1);
    EXPECT_EQ(owner_of(b), first->w1);
    EXPECT_EQ(owner_of(late), second->w1);
}

TEST_F(OwnershipTest, UnbindingRemovesEveryNestedRecordAndNothingElse) {
    Cell* owner = object({"blk"});
    Cell* outer = block();
    Cell* inner = block();
    Cell* text = string("t");
    block_rs_append(inner, text);
    block_rs_append(outer, inner);
    Cell field = word("blk");
    uint32_t before = count();
    ownership_bind(outer, owner, &field);
    ASSERT_EQ(count(), before + 3);

    Cell* stranger = block();
    ownership_unbind(stranger);
    EXPECT_EQ(count(), before + 3) << "a value without a record changes nothing";

    ownership_unbind(outer);
    EXPECT_EQ(count(), before);
    for (Cell* s : {outer, inner, text}) {
        EXPECT_FALSE(owned(s));
        EXPECT_EQ(ownership_get(series_node(s)), nullptr);
    }
    ownership_unbind(outer);
    EXPECT_EQ(count(), before);

    ownership_bind(outer, owner, &field);
    ownership_unbind_range(outer, 0, 1);
    EXPECT_TRUE(owned(outer)) << "a range unbinds the cells, not the block";
    EXPECT_FALSE(owned(inner));
    EXPECT_FALSE(owned(text));
}

TEST_F(OwnershipTest, AnObjectsValuesAreBoundUnderItsOwnFieldsButNeverTheOwnerItself) {
    Cell* owner = object({"child"});
    Cell* child = object({"items", "back"});
    Cell* items = block();
    put_field(child, "items", *items);
    put_field(child, "back", *owner);
    put_field(owner, "child", *child);
    Cell none = g_none_value;
    ownership_bind_owner(owner, owner, &none);
    EXPECT_TRUE(context_cell(owner->w1)->header & CONTEXT_OWNING);
    ASSERT_TRUE(owned(items));
    Cell* entry = ownership_get(series_node(items));
    EXPECT_EQ(object_context(entry), owner->w1);
    EXPECT_EQ(word_symbol(entry + 1), symbol_make("items")) << "the nested object's own field word";
}

TEST_F(OwnershipTest, AnOwnerHeldByAnObjectItOwnsIsSkipped) {
    Cell* owner = object({"mine"});
    Cell* mine = block();
    put_field(owner, "mine", *mine);
    Cell* child = object({"back", "items"});
    Cell* items = block();
    put_field(child, "back", *owner);
    put_field(child, "items", *items);
    Cell none = g_none_value;
    ownership_bind(child, owner, &none);
    EXPECT_TRUE(owned(items));
    EXPECT_FALSE(owned(mine)) << "the owner's own series are not bound through the child's back reference";
}

TEST_F(OwnershipTest, OwnedSeriesOutliveEveryOtherReference) {
    Cell* owner = object({"blk"});
    Cell field = word("blk");
    uint32_t node;
    {
        GcRoot b;
        block_make_at(b.get(), 4);
        node = series_node(b.get());
        ownership_bind(b.get(), owner, &field);
    }
    gc_collect();
    EXPECT_TRUE(node_in_use(node)) << "the table is a root";
    Cell lost;
    set_series(&lost, TYPE_BLOCK, node);
    ownership_unbind(&lost);
    EXPECT_EQ(ownership_get(node), nullptr);
    gc_collect();
    EXPECT_FALSE(node_in_use(node)) << "unbound, it is an ordinary series again";
}

TEST_F(OwnershipTest, AnOwnerWithoutAHandlerHearsNothing) {
    Cell* owner = object({"blk"});
    Cell* b = block();
    Cell field = word("blk");
    ownership_bind(b, owner, &field);
    EXPECT_FALSE(ownership_check(b, W_APPEND, 0, 1));
    Cell action = g_word[W_APPEND];
    EXPECT_EQ(catch_error([&] { object_on_deep_change(owner, &field, b, &action, nullptr, 0, 1); }),
              ERR_SCRIPT_INVALID_OBJ_EVT);
}

TEST_F(OwnershipTest, AHandlerHearsEachChangeBeforeAndAfter) {
    // on-deep-change*: func [owner word target action new index part] [append log word append log action ...],
    // built directly, with append bound to its action.
    define_native("append", ACT_APPEND, TYPE_ACTION, {"series", "value"});
    B spec, body;
    for (const char* p : {"owner", "word", "target", "action", "new", "index", "part"}) spec.w(p);
    for (const char* p : {"word", "action", "new", "index", "part"}) body.w("append").w("log").w(p);
    GcRoot log;
    block_make_at(log.get(), 4);
    Cell log_word = word_load("log");
    word_set_value(&log_word, log.get());
    function_build(spec.get(), body.get(), 0, 0, 0, 0);
    GcRoot handler(*stack_top());
    stack_pop(1);

    Cell* owner = object({"blk", "on-deep-change*"});
    Cell* b = block();
    put_field(owner, "blk", *b);
    put_field(owner, "on-deep-change*", *handler);
    object_refresh_events(owner);
    ASSERT_NE(owner->w3, 0u);
    EXPECT_TRUE(owned(b)) << "an on-deep-change* handler makes the object own its series";

    GcRoot value;
    set_integer(value.get(), 5);
    stack_reset();
    g_types.get<ACT_APPEND>(TYPE_BLOCK)(b, value.get(), -1, false, 1, true);
    EXPECT_EQ(mold_text(log.get()), "[blk append 5 0 1 blk appended 5 0 1]") << "new is the value appended";
    EXPECT_EQ(mold_text(b), "[5]");

    Cell owned_word = word_load("owned"), none = g_none_value;
    g_types.get<ACT_MODIFY>(TYPE_OBJECT)(owner, &owned_word, &none, false);
    EXPECT_FALSE(owned(b));
    block_rs_clear(log.get());
    stack_reset();
    g_types.get<ACT_APPEND>(TYPE_BLOCK)(b, value.get(), -1, false, 1, true);
    EXPECT_EQ(mold_text(log.get()), "[]") << "modify 'owned none ends the records";
}

}  // namespace
}  // namespace zol::test
