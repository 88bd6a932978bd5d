// Case folding: the Unicode 11.0 pair lists, the direct tables built at start-up and case_convert_char.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/casefold.h"
#include "tests/generated.h"
#include "tests/support.h"

namespace zol::test {
namespace {

namespace fs = std::filesystem;

TEST(Casefold, PairListsHoldUnicode11) {
    struct Case {
        bool upper, supplementary;
        uint32_t count;
        CasePair first, last;
    } cases[] = {
        {true, false, 1250, {0x61, 0x41}, {0xFF5A, 0xFF3A}},
        {false, false, 1158, {0x41, 0x61}, {0xFF3A, 0xFF5A}},
        {true, true, 225, {0x10428, 0x10400}, {0x1E943, 0x1E921}},
        {false, true, 225, {0x10400, 0x10428}, {0x1E921, 0x1E943}},
    };
    for (const Case& c : cases) {
        CasePairList list = case_pairs(c.upper, c.supplementary);
        ASSERT_EQ(list.count, c.count) << "upper " << c.upper << " supplementary " << c.supplementary;
        EXPECT_EQ(list.pairs[0].from, c.first.from);
        EXPECT_EQ(list.pairs[0].to, c.first.to);
        EXPECT_EQ(list.pairs[list.count - 1].from, c.last.from);
        EXPECT_EQ(list.pairs[list.count - 1].to, c.last.to);
        for (uint32_t i = 1; i < list.count; i++) {
            ASSERT_LT(list.pairs[i - 1].from, list.pairs[i].from) << "sorted, no duplicates, at " << i;
        }
    }
}

TEST(Casefold, ConvertChar) {
    struct Case {
        uint32_t cp;
        bool upper;
        uint32_t want;
    } cases[] = {
        {'a', true, 'A'},        {'A', true, 'A'},         {'A', false, 'a'},         {'1', true, '1'},
        {0xDF, true, 0x53},      // sharp s: first code point of "SS"
        {0xFB01, true, 0x46},    // fi ligature: first of "FI"
        {0x1F80, true, 0x1F08},  // first of the full mapping 1F08 0399, not the simple 1F88
        {0x130, false, 0x69},    // dotted capital I: first of "i" + combining dot
        {0x131, true, 0x49},     {0xFF, true, 0x178},       {0x178, false, 0xFF},
        {0xA794, true, 0xA794},  // its upper case (U+A7C4) came after 11.0
        {0x10D0, true, 0x1C90},  {0x1C90, false, 0x10D0},  // Georgian Mtavruli came with 11.0
        {0x1E943, true, 0x1E921}, {0x1E922, true, 0x1E900}, {0x1E900, false, 0x1E922},
        {0x10428, true, 0x10400},  {0x10400, false, 0x10428},
        {0x10427, true, 0x10427},  // below the first supplementary key
        {0x1E944, true, 0x1E944},  // above the last one
        {0x16E60, true, 0x16E40},  // inside the list
        {0x16E61, false, 0x16E61}, // inside the range, no mapping that way
        {0x10597, true, 0x10597},  // Vithkuqi came after 11.0
        {0x110000, true, 0x110000}, {0xFFFFFFFF, false, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(case_convert_char(c.cp, c.upper), c.want) << std::hex << c.cp << (c.upper ? " up" : " down");
    }
}

TEST(Casefold, TablesAgreeWithTheLists) {
    for (bool upper : {true, false}) {
        for (bool supplementary : {false, true}) {
            CasePairList list = case_pairs(upper, supplementary);
            for (uint32_t i = 0; i < list.count; i++) ASSERT_EQ(case_convert_char(list.pairs[i].from, upper), list.pairs[i].to);
        }
    }
}

// The committed table must be what the generator makes from the Unicode data files, when they are installed.
TEST(Casefold, CommittedTablesMatchAFreshGeneration) {
    if (!fs::exists("/usr/share/unicode/UnicodeData.txt")) GTEST_SKIP() << "Unicode data files not installed (Debian package unicode-data)";
    expect_fresh_generation("gen_casefold.py", "runtime/casefold_tables.inc");
}

}  // namespace
}  // namespace zol::test
