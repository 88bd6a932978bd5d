// The type families the C++ code tests membership with (types.def and types.h) are the typesets the boot
// script builds under the same names: the two are written apart, so they are checked against each other.
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "tests/support.h"

namespace zol::test {
namespace {

struct FamilyName {
    const char* typeset;
    TypeFamily family;
};

const FamilyName kFamilies[] = {
    {"internal!", FAMILY_INTERNAL},         {"number!", FAMILY_NUMBER},       {"planar!", FAMILY_PLANAR},
    {"any-point!", FAMILY_ANY_POINT},       {"scalar!", FAMILY_SCALAR},       {"any-word!", FAMILY_ANY_WORD},
    {"all-word!", FAMILY_ALL_WORD},         {"any-list!", FAMILY_ANY_LIST},   {"any-path!", FAMILY_ANY_PATH},
    {"any-block!", FAMILY_ANY_BLOCK},       {"any-function!", FAMILY_ANY_FUNCTION},
    {"any-object!", FAMILY_ANY_OBJECT},     {"any-string!", FAMILY_ANY_STRING}, {"series!", FAMILY_SERIES},
    {"immediate!", FAMILY_IMMEDIATE},       {"default!", FAMILY_DEFAULT},     {"any-type!", FAMILY_ANY_TYPE},
};

TEST(Families, EachTypesetOfTheBootScriptIsItsFamily) {
    for (const FamilyName& f : kFamilies) {
        Cell word = word_load(f.typeset);
        const Cell* value = word_get_any(&word);
        ASSERT_TRUE(value && cell_is(value, TYPE_TYPESET)) << f.typeset << " is not a typeset";
        for (uint32_t t = 1; t < 64; t++) {
            EXPECT_EQ(typeset_has(value, t), type_in(f.family, t))
                << f.typeset << " and its family disagree on " << (type_name(t) ? type_name(t) : "an unused id");
        }
    }
}

TEST(Families, MembershipReadsTheTable) {
    // A few members and strangers, so that a family built from the wrong rows shows here as well.
    EXPECT_TRUE(type_in(FAMILY_ANY_STRING, TYPE_REF));
    EXPECT_FALSE(type_in(FAMILY_ANY_STRING, TYPE_BINARY));
    EXPECT_TRUE(type_in(FAMILY_SERIES, TYPE_BINARY));
    EXPECT_TRUE(type_in(FAMILY_ANY_BLOCK, TYPE_HASH));
    EXPECT_TRUE(type_in(FAMILY_ALL_WORD, TYPE_ISSUE));
    EXPECT_FALSE(type_in(FAMILY_ANY_WORD, TYPE_ISSUE));
    EXPECT_FALSE(type_in(FAMILY_ANY_TYPE, TYPE_SYMBOL));
    EXPECT_FALSE(type_in(FAMILY_ANY_TYPE, 64));
    EXPECT_EQ(family_case(TYPE_TAG, FAMILY_ANY_STRING, TYPE_STRING), uint32_t(TYPE_STRING));
    EXPECT_EQ(family_case(TYPE_BLOCK, FAMILY_ANY_STRING, TYPE_STRING), uint32_t(TYPE_BLOCK));
}

}  // namespace
}  // namespace zol::test
