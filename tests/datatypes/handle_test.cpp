// handle!: no Zol code can make one, so its text, its comparison and the registries of machine words that
// its values index are tested here.
#include <cstdint>
#include <string>

#include "runtime/datatypes/handle.h"
#include "runtime/values/compare.h"
#include "runtime/values/mold.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class HandleTest : public RuntimeTest {};

TEST_F(HandleTest, FormsAsEightHexDigitsAndMoldsWithItsKindUnderAll) {
    struct {
        int32_t value;
        HandleKind kind;
        const char* form;
        const char* mold_all;
    } cases[] = {
        {255, HANDLE_WINDOW, "000000FFh", "#[handle! 000000FFh window]"},
        {0, HANDLE_NULL, "00000000h", "#[handle! 00000000h]"},
        {-1, HANDLE_FD, "FFFFFFFFh", "#[handle! FFFFFFFFh fd]"},
        {0x1234ABCD, HANDLE_RICH_TEXT, "1234ABCDh", "#[handle! 1234ABCDh rich-text]"},
        {7, HANDLE_FONT, "00000007h", "#[handle! 00000007h font]"},
        {8, HANDLE_MONITOR, "00000008h", "#[handle! 00000008h monitor]"},
    };
    for (const auto& c : cases) {
        Cell h;
        handle_make_at(&h, c.value, c.kind);
        EXPECT_EQ(form_text(&h), c.form) << c.value;
        EXPECT_EQ(mold_text(&h), "handle!") << c.value;
        EXPECT_EQ(mold_text(&h, true), c.mold_all) << c.value;
        EXPECT_EQ(handle_kind(&h), c.kind);
        EXPECT_EQ(handle_value(&h), c.value);
    }
}

// Handles order by value as signed numbers; a handle never equals a value of another type, even the same
// number.
TEST_F(HandleTest, ComparesByValueAndNeverEqualsAnotherType) {
    Cell a, b, c;
    handle_make_at(&a, 5, HANDLE_WINDOW);
    handle_make_at(&b, 5, HANDLE_FONT);
    handle_make_at(&c, -3, HANDLE_WINDOW);
    Cell five = integer(5);
    EXPECT_TRUE(compare_values(&a, &b, CMP_EQUAL));
    EXPECT_TRUE(compare_values(&c, &a, CMP_LESSER));
    EXPECT_FALSE(compare_values(&a, &c, CMP_LESSER));
    EXPECT_FALSE(compare_values(&a, &five, CMP_EQUAL));
    EXPECT_TRUE(compare_values(&a, &five, CMP_NOT_EQUAL));
}

// A registry hands out indices from 1 (0 is the null handle), looks the machine word up again, answers 0
// for an index it does not hold, and reuses a released index.
TEST_F(HandleTest, RegistryIndicesStandForMachineWords) {
    const uintptr_t big = uintptr_t(0x7FFF12345678ULL);
    int32_t first = handle_register(HANDLE_WINDOW, big);
    int32_t second = handle_register(HANDLE_WINDOW, big + 8);
    EXPECT_GT(first, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(handle_lookup(HANDLE_WINDOW, first), big);
    EXPECT_EQ(handle_lookup(HANDLE_WINDOW, second), big + 8);
    EXPECT_EQ(handle_lookup(HANDLE_FONT, first), 0u);  // each kind has its own registry
    EXPECT_EQ(handle_lookup(HANDLE_WINDOW, 0), 0u);
    EXPECT_EQ(handle_lookup(HANDLE_WINDOW, -1), 0u);
    EXPECT_EQ(handle_lookup(HANDLE_WINDOW, 1 << 30), 0u);
    handle_release(HANDLE_WINDOW, first);
    EXPECT_EQ(handle_lookup(HANDLE_WINDOW, first), 0u);
    handle_release(HANDLE_WINDOW, first);  // a second release must not list the index twice
    int32_t third = handle_register(HANDLE_WINDOW, big + 16);
    int32_t fourth = handle_register(HANDLE_WINDOW, big + 24);
    EXPECT_EQ(third, first);
    EXPECT_NE(fourth, first);
    EXPECT_EQ(handle_lookup(HANDLE_WINDOW, third), big + 16);
    for (int32_t i : {second, third, fourth}) handle_release(HANDLE_WINDOW, i);
}

}  // namespace
}  // namespace zol::test
