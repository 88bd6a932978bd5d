// The boot image: the stage-0 program writes the same bytes from the same scripts; start-up from the image and
// start-up from the scripts' sources leave the same global words; loading an image appends its root values
// to the root block and numbers them as literals; a bad image ends the process with a message.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "boot/boot_image.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/values/mold.h"
#include "tests/zolbin/support.h"

namespace zol::test {
namespace {

// The value's datatype and mold, or the datatype alone when it cannot be molded.
std::string describe(const Cell& value) {
    std::string text = type_name(cell_type(&value));
    GcRoot keep(value);
    stack_reset();
    Cell error;
    std::string molded;
    if (catch_error([&] { molded = mold_text(keep.get(), true); }, &error) == ERR_COUNT) text += " " + molded;
    stack_reset();
    return text;
}

// Every word of a context that has a value, under its name with the prefix. The system object is listed
// field by field, without `words`: that is the global context itself, listed already, whose words stand in
// the order they were first made, which differs between the two ways of starting.
void describe_context(uint32_t context, const std::string& prefix, std::map<std::string, std::string>* lines) {
    for (uint32_t i = 0; i < context_word_count(context); i++) {
        Cell word = *context_word_at(context, i);
        Cell value = *context_values_at(context, word_index(&word));
        if (cell_is(&value, TYPE_UNSET)) continue;
        std::string name = prefix + symbol_c_string(word_symbol(&word));
        if (name == "system/words") continue;
        if (name == "system" && cell_is(&value, TYPE_OBJECT)) {
            describe_context(value.w1, "system/", lines);
        } else {
            (*lines)[name] = describe(value);
        }
    }
}

// Every global word that has a value, with its value's datatype and mold, one line each, in name order.
std::string global_words() {
    std::map<std::string, std::string> lines;
    describe_context(g_global_context, "", &lines);
    std::string out;
    for (auto& [name, text] : lines) out += name + ": " + text + "\n";
    return out;
}

// Runs this test program with a test filter and environment settings; returns the exit status.
int run_self(const std::string& filter, const std::string& environment) {
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string command = environment + " '" + self + "' --gtest_filter=" + filter + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

// Run by BothWaysLeaveTheSameGlobalWords in a process of its own: writes the global words where
// ZOL_DUMP_GLOBALS says (alone, it only checks that there are some).
TEST(BootModes, DumpGlobalWords) {
    std::string words = global_words();
    EXPECT_GT(std::count(words.begin(), words.end(), '\n'), 200);
    if (const char* path = std::getenv("ZOL_DUMP_GLOBALS")) std::ofstream(path, std::ios::binary) << words;
}

TEST(BootModes, BothWaysLeaveTheSameGlobalWords) {
    std::filesystem::path dump = unique_temporary_path("zol-globals");
    int status = run_self("BootModes.DumpGlobalWords",
                          "ZOL_BOOT_SOURCES='" + std::string(ZOL_SOURCE_DIR) + "' ZOL_DUMP_GLOBALS='" + dump.string() + "'");
    ASSERT_EQ(status, 0);
    std::string from_sources = read_whole(dump);
    std::filesystem::remove(dump);
    ASSERT_FALSE(from_sources.empty());
    EXPECT_EQ(global_words(), from_sources);
}

// The built-in scripts run with every block decoded on its first run: a call site met before the typesets its
// native's spec names exist must not be refused when the block is decoded.
TEST(BootModes, DecodingEveryBlockOnItsFirstRunLeavesTheSameGlobalWords) {
    std::filesystem::path dump = unique_temporary_path("zol-globals");
    int status = run_self("BootModes.DumpGlobalWords", "ZOL_CODE=always ZOL_DUMP_GLOBALS='" + dump.string() + "'");
    ASSERT_EQ(status, 0);
    std::string decoded = read_whole(dump);
    std::filesystem::remove(dump);
    EXPECT_EQ(global_words(), decoded);
}

TEST(BootImage, StageZeroWritesTheSameBytesFromTheSameScripts) {
    std::filesystem::path out = unique_temporary_path("zol-image");
    std::string command = "'" + std::string(ZOL_STAGE0) + "' '" + out.string() + "' '" + ZOL_SOURCE_DIR + "'";
    for (size_t i = 0; i < g_boot_script_count; i++) command += std::string(" ") + g_boot_scripts[i];
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::string text = read_whole(out);
    std::filesystem::remove(out);
    Bytes image(text.begin(), text.end());
    ASSERT_EQ(image.size(), g_boot_image_size);
    auto differ = std::mismatch(image.begin(), image.end(), g_boot_image);
    EXPECT_EQ(differ.first, image.end()) << "first difference at byte " << (differ.first - image.begin());
}

TEST(BootImage, TheImageIsCompactWithASymbolTable) {
    ASSERT_GT(g_boot_image_size, 8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_boot_image), 6), "ZOLBIN");
    EXPECT_EQ(g_boot_image[6], 1);
    EXPECT_EQ(g_boot_image[7], ZOLBIN_COMPACT | ZOLBIN_SYMBOLS);
}

using BootLoad = ZolbinTest;

// A boot image of the given root values and "set" records, written by the boot writer.
Bytes boot_image(const std::vector<std::pair<const char*, Cell>>& sets, const std::vector<Cell>& roots) {
    BootImageWriter writer;
    for (auto& [name, value] : sets) writer.add_set(symbol_make(name), &value);
    for (const Cell& root : roots) writer.add_root(&root);
    return writer.finish();
}

TEST_F(BootLoad, LiteralsAreNumberedFromTheFirstValueTheImageAppends) {
    Cell a = eval("[first literal]"), b = eval("\"second\"");
    Bytes image = boot_image({}, {a, b});
    uint32_t before = node_series(g_root_block)->used();
    uint32_t saved = literal_base();
    // Appended with the base kept: literal 0 stays where it was.
    zolbin_load_boot(image.data(), image.size(), true);
    EXPECT_EQ(node_series(g_root_block)->used(), before + 2);
    EXPECT_EQ(literal_base(), saved);
    // Appended again: literal 0 is the first of the new values, at the root block's former length.
    uint32_t base = zolbin_load_boot(image.data(), image.size(), false);
    EXPECT_EQ(base, before + 2);
    EXPECT_EQ(literal_base(), before + 2);
    EXPECT_EQ(mold_text(literal_cell(0)), "[first literal]");
    EXPECT_EQ(mold_text(literal_cell(1)), "\"second\"");
    EXPECT_FALSE(g_zolbin_codec);
    EXPECT_TRUE(g_gc_enabled) << "collection is back on after the load";
}

TEST_F(BootLoad, ASetRecordAssignsAWordAndLeavesNothingInTheRootBlock) {
    Cell spec = eval("[cond [any-type!] then-blk [block!]]");
    GcRoot native(*native_make(&spec, 1, TYPE_NATIVE));
    stack_reset();
    GcRoot block;
    block_make_at(block.get(), 4);
    Cell w = word_load("boot-test-if");
    Bytes image = boot_image({{"boot-test-if", *native}}, {});
    zolbin_decode_boot(image.data(), image.size(), block.get());
    EXPECT_EQ(block_rs_length(block.get()), 0u) << "a set record leaves nothing, its native's spec neither";
    const Cell* v = word_value_cell(&w);
    ASSERT_TRUE(cell_is(v, TYPE_NATIVE));
    EXPECT_EQ(v->w1, 1u);
    EXPECT_EQ(eval("boot-test-if true [7]").w2, 7u) << "it works as the native";
}

TEST_F(BootLoad, ANativeOutsideASetRecordIsFollowedByItsSpecAsALiteral) {
    Cell spec = eval("[value [any-type!]]");
    GcRoot native(*native_make(&spec, 33, TYPE_NATIVE));
    stack_reset();
    GcRoot block;
    block_make_at(block.get(), 4);
    Bytes image = boot_image({}, {*native, integer(5)});
    zolbin_decode_boot(image.data(), image.size(), block.get());
    ASSERT_EQ(block_rs_length(block.get()), 3u);
    Cell* c = cell_series(block.get())->cells();
    EXPECT_TRUE(cell_is(&c[0], TYPE_NATIVE));
    EXPECT_TRUE(cell_is(&c[1], TYPE_BLOCK));
    EXPECT_EQ(c[1].w2, c[0].w2) << "the literal is the native's spec";
    EXPECT_EQ(cell_int(&c[2]), 5);
}

TEST_F(BootLoad, VersionTwoLoadsLikeVersionOne) {
    Bytes image = boot_image({}, {integer(42)});
    image[6] = 2;
    GcRoot block;
    block_make_at(block.get(), 4);
    zolbin_decode_boot(image.data(), image.size(), block.get());
    ASSERT_EQ(block_rs_length(block.get()), 1u);
    EXPECT_EQ(cell_int(cell_series(block.get())->cells()), 42);
}

TEST_F(BootLoad, BoundWordsNameTheirContextByRootNumber) {
    // Root 0: a context! of the words a and b; root 1: a block of a word bound to root 0 (index given) and
    // one bound by name (index -1).
    Bytes records = bytes_of({0x0E, 0x10, 0x02, 0x00, 0x01, 0x81, 0x82, 0x05, 0x02, 0x4F, 0x00, 0x00, 0x00, 0x4F,
                              0x01, 0x00, 0x01});
    Bytes image = text_bytes("ZOLBIN") + bytes_of({1, 5, 2, int(records.size()), 2, 4, 0, 0, 0, 0, 2, 0, 0, 0}) +
                  text_bytes("a") + bytes_of({0}) + text_bytes("b") + bytes_of({0}) + records;
    GcRoot block;
    block_make_at(block.get(), 4);
    zolbin_decode_boot(image.data(), image.size(), block.get());
    ASSERT_EQ(block_rs_length(block.get()), 2u);
    Cell object = cell_series(block.get())->cells()[0];
    Cell words = cell_series(block.get())->cells()[1];
    ASSERT_TRUE(cell_is(&object, TYPE_OBJECT));
    for (uint32_t i = 0; i < 2; i++) {
        Cell w = cell_series(&words)->cells()[i];
        EXPECT_EQ(word_context(&w), object.w1);
        EXPECT_EQ(word_index(&w), i);
        EXPECT_EQ(cell_int(word_value_cell(&w)), int32_t(i + 1));
    }
    // A root number past the values read so far, or naming a value that has no context, is refused.
    Bytes bad = image;
    bad[bad.size() - 6] = 0x05;
    stack_reset();
    EXPECT_EQ(catch_error([&] { zolbin_decode_boot(bad.data(), bad.size(), block.get()); }), ERR_SCRIPT_ZB_INVALID_RECORD);
}

TEST(BootFaults, AWrongMagicEndsTheProcessWithAMessage) {
    static const uint8_t image[] = {'Z', 'O', 'L', 'B', 'I', 'X', 1, 5, 0, 0};
    EXPECT_EXIT(zolbin_load_boot(image, sizeof image, false), ::testing::ExitedWithCode(1), "Not a Zolbin file");
}

TEST(BootFaults, CorruptCompressedDataEndTheProcessWithAMessage) {
    static const uint8_t image[] = {'Z', 'O', 'L', 'B', 'I', 'N', 1, 7, 4, 0, 0, 0, 9, 0, 0, 0, 1, 2, 3, 4};
    EXPECT_EXIT(zolbin_load_boot(image, sizeof image, false), ::testing::ExitedWithCode(1), "compressed data corrupted");
}

TEST(BootFaults, AMalformedRecordEndsTheProcessAsAnUncaughtError) {
    static const uint8_t image[] = {'Z', 'O', 'L', 'B', 'I', 'N', 1, 1, 1, 1, 0xC5};
    EXPECT_EXIT(zolbin_load_boot(image, sizeof image, false), ::testing::ExitedWithCode(254),
                "ZOLBIN - invalid record at index 11");
}

}  // namespace
}  // namespace zol::test
