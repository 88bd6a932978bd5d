// The datatype registry: registration order, inheritance by snapshot and the type-name table.
#include <set>

#include "runtime/datatypes/registry.h"
#include "tests/support.h"

namespace zol::test {
namespace {

TEST(Registry, RegistrationOrderHoldsEveryTypeOnceAndPutsParentsFirst) {
    std::set<uint32_t> seen;
    for (uint32_t i = 0; i < g_registration_count; i++) {
        TypeId t = g_registration_order[i].id;
        EXPECT_TRUE(seen.insert(t).second) << type_name(t) << " is listed twice";
        TypeId parent = type_parent(t);
        if (parent != NO_TYPE) {
            EXPECT_TRUE(seen.count(parent)) << type_name(t) << " before its parent";
        }
    }
    for (uint32_t t = 1; t <= TYPE_MAX; t++) EXPECT_TRUE(seen.count(t)) << type_name(t) << " is not listed";
}

TEST(Registry, EveryRuntimeTypeHasItsNameRow) {
    for (uint32_t t = TYPE_DATATYPE; t <= TYPE_IMAGE; t++) {
        const TypeNameRow& row = g_types.row(t);
        ASSERT_NE(row.name, nullptr) << t;
        EXPECT_STREQ(row.name, type_name(t));
        EXPECT_EQ(row.length + 1, std::strlen(row.name));
    }
    EXPECT_FALSE(g_types.registered(TYPE_EVENT)) << "event! is registered later, by the GUI";
    EXPECT_EQ(g_types.highest(), uint32_t(TYPE_IMAGE));
    EXPECT_EQ(g_types.row(TYPE_BLOCK).length, 5u);
}

// Distinct functions to tell entries apart.
void random_of_integer(Cell*, bool, bool, bool) {}
const Cell* find_of_series(Cell*, Cell*, const FindArgs&) { return nullptr; }
const Cell* find_of_block(Cell*, Cell*, const FindArgs&) { return nullptr; }
int compare_of_char(const Cell*, const Cell*, CompareOp) { return 0; }

TEST(Registry, InheritedSlotsCopyTheParentsEntry) {
    DatatypeRegistry r;
    Registration series(TYPE_SERIES);
    series.own<ACT_FIND>(find_of_series);
    r.register_datatype(series);
    Registration block(TYPE_BLOCK, true);
    block.own<ACT_FIND>(find_of_block);
    r.register_datatype(block);
    r.register_datatype(Registration(TYPE_STRING, true));
    r.register_datatype(Registration(TYPE_INTEGER).own<ACT_RANDOM>(random_of_integer));
    Registration character(TYPE_CHAR, true);
    character.own<ACT_COMPARE>(compare_of_char).unsupported(ACT_FIND);
    r.register_datatype(character);
    r.register_datatype(Registration(TYPE_PAREN, true));
    r.register_datatype(Registration(TYPE_URL, true));
    r.register_datatype(Registration(TYPE_FILE, true));

    EXPECT_EQ(r.get<ACT_RANDOM>(TYPE_CHAR), random_of_integer) << "char! random is integer!'s";
    EXPECT_EQ(r.get<ACT_COMPARE>(TYPE_CHAR), compare_of_char);
    EXPECT_EQ(r.get<ACT_FIND>(TYPE_CHAR), nullptr) << "a slot marked unsupported stays empty";
    EXPECT_EQ(r.get<ACT_FIND>(TYPE_PAREN), find_of_block) << "paren! find is block!'s";
    EXPECT_EQ(r.get<ACT_FIND>(TYPE_FILE), find_of_series) << "file! find is string!'s, through url!";
    EXPECT_EQ(r.get<ACT_FIND>(TYPE_STRING), find_of_series);
}

TEST(Registry, InheritanceIsASnapshotAtRegistration) {
    DatatypeRegistry r;
    r.register_datatype(Registration(TYPE_SERIES));
    r.register_datatype(Registration(TYPE_BLOCK, true));  // series! had no find yet
    r.register_datatype(Registration(TYPE_SERIES).own<ACT_FIND>(find_of_series));
    EXPECT_EQ(r.get<ACT_FIND>(TYPE_BLOCK), nullptr);
}

TEST(Registry, ATypeWithoutParentCannotInherit) {
    DatatypeRegistry r;
    r.register_datatype(Registration(TYPE_LOGIC).inherit(ACT_FIND));
    EXPECT_EQ(r.get<ACT_FIND>(TYPE_LOGIC), nullptr);
}

TEST(Registry, ActionsTableLayout) {
    // Entry of action a for type t is t x 256 + a - 1.
    EXPECT_EQ(reinterpret_cast<AnyFn>(g_types.get<ACT_COMPARE>(TYPE_LOGIC)), g_types.action(TYPE_LOGIC, ACT_COMPARE));
    EXPECT_STREQ(action_word(ACT_MAKE), "make");
    EXPECT_STREQ(action_word(ACT_WRITE), "write");
    EXPECT_STREQ(action_word(ACT_AND_T), "and~");
    EXPECT_EQ(uint32_t(ACT_WRITE), 62u);
    EXPECT_EQ(uint32_t(ACT_COMPARE), 9u);
}

}  // namespace
}  // namespace zol::test
