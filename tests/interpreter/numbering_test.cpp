// The boot script makes each native and action from its number; the numbers are the rows of natives.def
// and actions.def. A number written wrong in the script would bind a word to another function, so each word
// is checked against the table after start-up.
#include "interpreter/eval.h"
#include "runtime/datatypes/word.h"
#include "tests/support.h"

namespace zol::test {
namespace {

struct Numbered {
    const char* word;
    uint32_t number;
};

const Numbered kNatives[] = {
#define ZOL_NATIVE(name, word, entry) {word, NAT_##name},
#include "interpreter/natives.def"
#undef ZOL_NATIVE
};

const Numbered kActions[] = {
#define ZOL_ACTION(name, word, entry, result, params) {word, ACT_##name},
#include "runtime/actions.def"
#undef ZOL_ACTION
};

void check(const Numbered& n, TypeId type) {
    Cell word = word_load(n.word);
    const Cell* value = word_get_any(&word);
    ASSERT_TRUE(value && cell_is(value, type)) << n.word << " is not a " << type_name(type);
    EXPECT_EQ(value->w1, n.number) << n.word << " is made with the number of another row";
}

TEST(Numbering, EveryNativeWordHoldsTheNativeOfItsRow) {
    EXPECT_EQ(sizeof kNatives / sizeof kNatives[0], size_t(NATIVE_COUNT));
    for (const Numbered& n : kNatives) check(n, TYPE_NATIVE);
}

TEST(Numbering, EveryActionWordHoldsTheActionOfItsRow) {
    for (const Numbered& n : kActions) {
        // The path actions and compare are called by the runtime only; the script makes no word of them.
        if (n.number == ACT_EVAL_PATH || n.number == ACT_SET_PATH || n.number == ACT_COMPARE) continue;
        check(n, TYPE_ACTION);
    }
}

}  // namespace
}  // namespace zol::test
