// The reader on images made by hand: the records the format allows that no writer makes (padding words,
// context! records, standalone references, varints of five bytes), and every malformed record, each of which
// must raise zb-invalid-record at its offset (or invalid-data, or no-codec) and nothing else.
#include "runtime/bitlz.h"
#include "runtime/datatypes/object.h"
#include "tests/zolbin/support.h"

namespace zol::test {
namespace {

Bytes varint(uint32_t v) {
    Bytes out;
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
    return out;
}
Bytes u32(uint32_t v) { return bytes_of({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)}); }
Bytes words(std::initializer_list<uint32_t> list) {
    Bytes out;
    for (uint32_t w : list) out = out + u32(w);
    return out;
}

// A compact image (codec version) of the records, with a symbol table of the names when there are any.
Bytes compact(const Bytes& records, std::initializer_list<const char*> names = {}) {
    Bytes symbols, strings;
    for (const char* n : names) {
        symbols = symbols + u32(uint32_t(strings.size()));
        strings = strings + text_bytes(n) + bytes_of({0});
    }
    Bytes head = text_bytes("ZOLBIN") + bytes_of({2, names.size() ? 5 : 1}) + varint(1) + varint(uint32_t(records.size()));
    if (names.size()) head = head + varint(uint32_t(names.size())) + varint(uint32_t(strings.size())) + symbols + strings;
    return head + records;
}
// A standard image of the record words, with a symbol table of the names (each padded to 8 bytes).
Bytes standard(const Bytes& records, std::initializer_list<const char*> names = {}) {
    Bytes offsets, strings;
    for (const char* n : names) {
        offsets = offsets + u32(uint32_t(strings.size()));
        strings = strings + text_bytes(n) + bytes_of({0});
        strings.resize((strings.size() + 7) & ~size_t(7), 0);
    }
    Bytes head = text_bytes("ZOLBIN") + bytes_of({2, names.size() ? 4 : 0}) + u32(1) + u32(uint32_t(records.size()));
    if (names.size()) head = head + u32(uint32_t(names.size())) + u32(uint32_t(strings.size())) + offsets + strings;
    return head + records;
}

using ReaderTest = ZolbinTest;

TEST_F(ReaderTest, RecordsNoWriterMakesReadAsTheFormatSays) {
    struct Row {
        const char* what;
        Bytes image;
        const char* expected;  // the value, as Zol code in brackets
    };
    Bytes no_names = text_bytes("ZOLBIN") + bytes_of({2, 5, 1, 1, 0, 0, 0x85});
    const Row rows[] = {
        {"padding words before a standard record", standard(words({0, 0, 11, 7})), "[7]"},
        {"a standard block of padded records", standard(words({5, 0, 2, 0, 11, 1, 0, 0, 11, 2})), "[[1 2]]"},
        {"a five-byte varint ending in 0x0F", compact(bytes_of({0x0B, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F})), "[2147483647]"},
        {"prefixes in any order and repeated", compact(bytes_of({0x05, 0x01, 0xC0, 0xC0, 0x81})), "[[\n 1]]"},
        {"the last valid path index", compact(bytes_of({0x05, 0x03, 0x81, 0x82, 0xFF, 0x02, 0x00, 0x01})), "[[1 2 2]]"},
        {"an empty strings area", no_names, "[5]"},
        {"a tuple of one byte", compact(bytes_of({0x67, 0x01, 0x09})), "[9.0.0]"},
        {"a date with its time",
         compact(bytes_of({0x6F}) + u32(2020 << 17 | 1 << 12 | 1 << 16 | 1 << 7) + u32(0) + u32(0x40AC2000)), "[1-Jan-2020/1:00]"},
        {"a percent in the integer form", compact(bytes_of({0x66, 0x03})), "[-2%]"},
        {"a time in the integer form", compact(bytes_of({0x6B, 0x78})), "[0:01]"},
        {"a pair", compact(bytes_of({0x25, 0x06, 0x07})), "[3x-4]"},
        {"an issue", compact(bytes_of({0x14, 0x00}), {"x"}), "[#x]"},
    };
    for (const Row& row : rows) {
        stack_reset();
        Cell v{};
        ErrorId id = catch_error([&] { v = decode(row.image); });
        EXPECT_EQ(id, ERR_COUNT) << row.what;
        if (id != ERR_COUNT) continue;
        Cell expected = eval(row.expected);
        Cell first = cell_series(&expected)->cells()[0];
        cell_clear_new_line(&first);
        Shape shape;
        EXPECT_TRUE(shape.same(&first, &v)) << row.what << ": " << shape.problem;
    }
}

// hash! and vector! values cannot be made from Zol code yet: their records are read, and the value read is
// written again to the same bytes.
TEST_F(ReaderTest, HashAndVectorRecordsComeBackByteForByte) {
    struct Row {
        const char* what;
        Bytes image;
        bool compact_encoding;
    };
    const Row rows[] = {
        {"a hash", compact(bytes_of({0x24, 0x02, 0x81, 0x82})), true},
        {"a hash from its second value", compact(bytes_of({0x64, 0x01, 0x02, 0x81, 0x82})), true},
        {"a vector of 32-bit integers", compact(bytes_of({0x23, 0x2E, 0x02, 1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF})), true},
        {"a vector of bytes from its third", compact(bytes_of({0x63, 0x02, 0x2C, 0x03, 7, 8, 9})), true},
        {"a vector of 64-bit floats", compact(bytes_of({0x23, 0x33, 0x01, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F})), true},
        {"a standard hash", standard(words({36, 0, 2, 11, 1, 11, 2})), false},
        {"a standard vector of 16-bit chars", standard(words({35 | 2 << 8, 1, 3, 10, 0x00620061, 0x00000063})), false},
    };
    for (const Row& row : rows) {
        stack_reset();
        Cell v{};
        ErrorId id = catch_error([&] { v = decode(row.image); });
        EXPECT_EQ(id, ERR_COUNT) << row.what;
        if (id != ERR_COUNT) continue;
        EXPECT_TRUE(cell_is(&v, TYPE_HASH) || cell_is(&v, TYPE_VECTOR)) << row.what;
        EXPECT_EQ(encode(v, row.compact_encoding), row.image) << row.what;
    }
}

TEST_F(ReaderTest, AStandaloneReferenceCopiesTheValueItReaches) {
    for (const Bytes& image : {compact(bytes_of({0x05, 0x02, 0x05, 0x01, 0x87, 0xFF, 0x02, 0x00, 0x00})),
                               standard(words({5, 0, 2, 5, 0, 1, 11, 7, 255, 2, 0, 0}))}) {
        Cell v = decode(image);
        EXPECT_EQ(mold_text(&v), "[[7] [7]]");
        EXPECT_EQ(cell_series(&v)->cells()[0].w2, cell_series(&v)->cells()[1].w2);
    }
}

TEST_F(ReaderTest, AContextRecordIsAnObjectOfClassMinusOne) {
    // context!: flags (values follow), two words, their values.
    Cell v = decode(compact(bytes_of({0x0E, 0x10, 0x02, 0x00, 0x01, 0x81, 0x82}), {"a", "b"}));
    ASSERT_TRUE(cell_is(&v, TYPE_OBJECT));
    EXPECT_EQ(v.w2, 0xFFFFFFFFu);
    EXPECT_EQ(mold_text(&v), "make object! [\n    a: 1\n    b: 2\n]");
    // An object's words are bound to it: the owner cell is the object.
    EXPECT_EQ(context_owner(v.w1)->w1, v.w1);
}

TEST_F(ReaderTest, ADecodedImageOfOneValueIsThatValueAndOfSeveralABlock) {
    Cell one = decode(compact(bytes_of({0x85})));
    EXPECT_TRUE(cell_is(&one, TYPE_INTEGER));
    Bytes two = text_bytes("ZOLBIN") + bytes_of({2, 1, 2, 2, 0x85, 0x86});
    EXPECT_EQ(mold_text(&(const Cell&)decode(two)), "[5 6]");
    Bytes none = text_bytes("ZOLBIN") + bytes_of({2, 1, 0, 0, 0, 0, 0});
    EXPECT_EQ(mold_text(&(const Cell&)decode(none)), "[]");
}

TEST_F(ReaderTest, APayloadOfTenBytesIsRefusedAndOfElevenRead) {
    Cell arg;
    EXPECT_EQ(decode_error(text_bytes("ZOLBIN") + bytes_of({2, 1, 1, 1}), &arg), ERR_SCRIPT_INVALID_DATA);
    EXPECT_TRUE(cell_is(&arg, TYPE_BINARY));
    EXPECT_EQ(decode_error(text_bytes("ZOLBIN") + bytes_of({2, 1, 1, 1, 0x85})), ERR_COUNT);
    EXPECT_EQ(decode_error(text_bytes("ZOLBIX") + bytes_of({2, 1, 1, 1, 0x85})), ERR_SCRIPT_INVALID_DATA);
    // A compressed body the bit-LZ decoder refuses.
    EXPECT_EQ(decode_error(text_bytes("ZOLBIN") + bytes_of({2, 3, 1, 1, 0x85, 0, 0, 0})), ERR_SCRIPT_INVALID_DATA);
    // A standard body shorter than its two counts.
    EXPECT_EQ(decode_error(text_bytes("ZOLBIN") + bytes_of({2, 0, 1, 0, 0, 0, 0})), ERR_SCRIPT_INVALID_DATA);
}

TEST_F(ReaderTest, ACompressedBodyReadsAsItsPlainOne) {
    Cell v = eval("b: copy [] loop 100 [append b \"the same text again\"] b");
    for (bool compact_body : {true, false}) {
        Bytes image = encode(v, compact_body);
        Bytes body(image.begin() + 8, image.end());
        Bytes packed(body.size());
        int64_t n = bitlz_compress(body.data(), body.size(), packed.data());
        ASSERT_GT(n, 0);
        packed.resize(size_t(n));
        Bytes compressed = Bytes(image.begin(), image.begin() + 8) + packed;
        compressed[7] |= ZOLBIN_COMPRESSED;
        EXPECT_LT(compressed.size(), image.size());
        Cell back = decode(compressed);
        EXPECT_EQ(mold_text(&back), mold_text(&v));
    }
}

// Every malformed record: the error and the 1-based offset it names.
TEST_F(ReaderTest, EveryMalformedRecordRaisesInvalidRecordAtItsOffset) {
    struct Row {
        const char* what;
        Bytes image;
        int offset;  // 0: the offset is not checked
    };
    // In a compact image without symbols the records start at offset 11 (1-based).
    const Row rows[] = {
        {"a varint of more than 32 bits", compact(bytes_of({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x10})), 12},
        {"a varint of six bytes", compact(bytes_of({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x8F, 0x01})), 12},
        {"a record past the records' end", compact(bytes_of({0x0B})), 12},
        {"a block of more cells than bytes", compact(bytes_of({0x05, 0x05, 0x81})), 11},
        {"datatype id 0", compact(bytes_of({0x00})), 11},
        {"datatype id 0 after 0x3F", compact(bytes_of({0x3F, 0x00})), 11},
        {"datatype id 13", compact(bytes_of({0x0D})), 11},
        {"datatype id 42", compact(bytes_of({0x2A})), 11},
        {"datatype id 60", compact(bytes_of({0x3F, 0x3C})), 11},
        {"an unknown lead byte", compact(bytes_of({0xC5})), 11},
        {"a reference before a small integer", compact(bytes_of({0xC1, 0x85})), 12},
        {"a set in codec mode", compact(bytes_of({0xC4, 0x10, 0x00, 0x85}), {"x"}), 19},
        {"a symbol index past the table", compact(bytes_of({0x0F, 0x01}), {"x"}), 0},
        {"a word without a symbol table", compact(bytes_of({0x0F, 0x00})), 0},
        {"a symbol offset past the strings",
         text_bytes("ZOLBIN") + bytes_of({2, 5, 1, 2, 1, 2, 5, 0, 0, 0, 'x', 0, 0x0F, 0x00}), 0},
        {"a strings area whose last byte is not NUL",
         text_bytes("ZOLBIN") + bytes_of({2, 5, 1, 2, 1, 1, 0, 0, 0, 0, 'x', 0x0F, 0x00}), 13},
        {"a path count of 0", compact(bytes_of({0x05, 0x01, 0xFF, 0x00})), 0},
        {"a path count past the bytes left", compact(bytes_of({0x05, 0x01, 0xFF, 0x09, 0x00})), 0},
        {"a path index equal to the cell count", compact(bytes_of({0x05, 0x02, 0x81, 0xFF, 0x02, 0x00, 0x02})), 0},
        {"a path into an integer", compact(bytes_of({0x05, 0x02, 0x81, 0xFF, 0x03, 0x00, 0x00, 0x00})), 0},
        {"a string unit code of 3", compact(bytes_of({0x07, 0x07, 0x00})), 0},
        {"a string longer than the bytes left", compact(bytes_of({0x07, 0x14, 0x41})), 0},
        {"a typeset of 13 bytes", compact(bytes_of({0x21, 0x0D}) + Bytes(13, 0)), 0},
        {"a tuple of 0 bytes", compact(bytes_of({0x67, 0x00})), 0},
        {"a tuple of 13 bytes", compact(bytes_of({0x67, 0x0D}) + Bytes(13, 1)), 0},
        {"money shorter than 12 bytes", compact(bytes_of({0x31, 0, 0, 0, 0})), 0},
        {"money with a digit above 9", compact(bytes_of({0x31, 0, 0xA0}) + Bytes(10, 0)), 0},
        {"money of a currency not listed", compact(bytes_of({0x31, 0xFF}) + Bytes(11, 0)), 0},
        {"an image dimension above 65,535", compact(bytes_of({0x35, 0x80, 0x80, 0x04, 0x01})), 0},
        {"an image larger than the bytes left", compact(bytes_of({0x35, 0x10, 0x10, 0, 0})), 0},
        {"a date whose flag disagrees with its time", compact(bytes_of({0x2F}) + u32(2020 << 17 | 1 << 12 | 1 << 16 | 1 << 7)), 0},
        {"a date of month 13", compact(bytes_of({0x2F}) + u32(2020 << 17 | 13 << 12 | 1 << 7)), 0},
        {"a date of 30 February", compact(bytes_of({0x2F}) + u32(2021 << 17 | 2 << 12 | 30 << 7)), 0},
        {"native index 0", compact(bytes_of({0x15, 0x00, 0x05, 0x00})), 0},
        {"native index past the table", compact(bytes_of({0x15, 0xFF, 0x01, 0x05, 0x00})), 0},
        {"action index 0", compact(bytes_of({0x16, 0x00, 0x05, 0x00})), 0},
        {"action index 63", compact(bytes_of({0x16, 0x3F, 0x05, 0x00})), 0},
        {"a native spec that is not a block", compact(bytes_of({0x15, 0x01, 0x85})), 0},
        {"a context part whose lead is not 14", compact(bytes_of({0x20, 0x00, 0x0F, 0x00, 0x00})), 0},
        {"an object over a stack context", compact(bytes_of({0x20, 0x00, 0x0E, 0x04, 0x00})), 0},
        {"a function over a context with values", compact(bytes_of({0x18, 0, 0, 0x0E, 0x10, 0x00, 0x05, 0, 0x05, 0})), 0},
        {"a context naming a word twice", compact(bytes_of({0x0E, 0x00, 0x02, 0x00, 0x01}), {"a", "A"}), 0},
        {"a bound word followed by an integer", compact(bytes_of({0x4F, 0x00, 0x00, 0x85}), {"x"}), 0},
        {"a bound word's index past its context", compact(bytes_of({0x4F, 0x00, 0x04, 0x20, 0x00, 0x0E, 0x00, 0x01, 0x00}), {"x"}), 0},
        {"a function whose context is not its spec's",
         compact(bytes_of({0x18, 1, 0, 0x0E, 0x04, 0x01, 0x00, 0x05, 0x01, 0x0F, 0x01, 0x05, 0x00}), {"a", "b"}), 0},
        {"a block reference that reaches a string",
         compact(bytes_of({0x05, 0x02, 0x07, 0x04, 'a', 0xC1, 0x05, 0x02, 0x00, 0x00})), 0},
        {"a binary reference that reaches a string",
         compact(bytes_of({0x05, 0x02, 0x07, 0x04, 'a', 0xC1, 0x29, 0x02, 0x00, 0x00})), 0},
        {"an object reference that reaches a block",
         compact(bytes_of({0x05, 0x02, 0x05, 0x00, 0xC1, 0x20, 0x02, 0x00, 0x00})), 0},
        {"a map of an odd count", compact(bytes_of({0x28, 0x01, 0x81})), 0},
        {"a map key of a block", compact(bytes_of({0x28, 0x02, 0x05, 0x00, 0x81})), 0},
        {"a map key twice", compact(bytes_of({0x28, 0x04, 0x81, 0x82, 0x81, 0x83})), 0},
        {"a vector of 8-byte integers", compact(bytes_of({0x23, 0x2F, 0x00})), 0},
        {"a datatype! of no datatype", compact(bytes_of({0x01, 0x3C})), 0},
        {"an error code not in the catalog", compact(bytes_of({0x22, 0xE7, 0x07})), 0},
        {"an op over an integer", compact(bytes_of({0x17, 0x85})), 0},
        {"an op over a native of one argument", compact(bytes_of({0x17, 0x15, 0x01, 0x05, 0x01, 0x0F, 0x00}), {"a"}), 0},
        {"a symbol name that is not UTF-8", compact(bytes_of({0x0F, 0x00}), {"\xFF"}), 0},
        {"a symbol name that is empty", compact(bytes_of({0x0F, 0x00}), {""}), 0},
        {"a standard record past the end", standard(words({11})), 21},
        {"a standard block of more cells than words", standard(words({5, 0, 9, 11, 1})), 0},
        {"a standard logic of 2", standard(words({4, 2})), 0},
        {"a standard path without its mark", standard(words({5, 0, 2, 5, 0, 0, 5 | 1 << 19, 0, 7, 2, 0, 0})), 0},
        {"a standard reference that reaches nothing", standard(words({5 | 1 << 19, 0, 255, 1, 3})), 0},
        {"a standard string of unit 3", standard(words({7 | 3 << 8, 0, 1, 0x41})), 0},
        {"a standard binary of unit 2", standard(words({41 | 2 << 8, 0, 1, 0x41})), 0},
        {"a standard id 13", standard(words({13})), 0},
    };
    for (const Row& row : rows) {
        Cell arg = g_none_value;
        ErrorId id = decode_error(row.image, &arg);
        EXPECT_EQ(id, ERR_SCRIPT_ZB_INVALID_RECORD) << row.what;
        if (id == ERR_SCRIPT_ZB_INVALID_RECORD && row.offset) {
            EXPECT_EQ(cell_int(&arg), row.offset) << row.what;
        }
    }
}

TEST_F(ReaderTest, SetMarksOutsideBootModeAndBeforeOtherRecordsAreRefused) {
    GcRoot block;
    block_make_at(block.get(), 4);
    auto boot_error = [&](const Bytes& image) {
        stack_reset();
        return catch_error([&] { zolbin_decode_boot(image.data(), image.size(), block.get()); });
    };
    EXPECT_EQ(boot_error(compact(bytes_of({0xC4, 0x85}))), ERR_SCRIPT_ZB_INVALID_RECORD);
    EXPECT_EQ(boot_error(compact(bytes_of({0xC4, 0x05, 0x00}))), ERR_SCRIPT_ZB_INVALID_RECORD);
    EXPECT_EQ(boot_error(compact(bytes_of({0xC1, 0xC4, 0x10, 0x00, 0x85}), {"x"})), ERR_SCRIPT_ZB_INVALID_RECORD);
    // Inside a container: a set must leave no gap in a block of counted cells, so only at a block's end.
    EXPECT_EQ(boot_error(compact(bytes_of({0x17, 0xC4, 0x10, 0x00, 0x85}), {"x"})), ERR_SCRIPT_ZB_INVALID_RECORD);
    // A set record's value may be another set record: a long chain counts as nesting, not a native stack
    // overflow.
    Bytes chain;
    for (uint32_t i = 0; i < ZOLBIN_MAX_DEPTH + 1; i++) chain = chain + bytes_of({0xC4, 0x10, 0x00});
    EXPECT_EQ(boot_error(compact(chain + bytes_of({0x85}), {"x"})), ERR_SCRIPT_ZB_INVALID_RECORD);
    EXPECT_EQ(boot_error(compact(bytes_of({0xC4, 0x10, 0x00, 0xC4, 0x10, 0x00, 0x85}), {"x"})), ERR_COUNT);
}

TEST_F(ReaderTest, DatatypesWithoutARecordRaiseNoCodec) {
    for (int id : {29, 31, 46, 48, 54}) {
        Cell arg = g_none_value;
        EXPECT_EQ(decode_error(compact(bytes_of({id})), &arg), ERR_ACCESS_NO_CODEC) << id;
        EXPECT_TRUE(cell_is(&arg, TYPE_DATATYPE) && datatype_id(&arg) == uint32_t(id)) << id;
        EXPECT_EQ(decode_error(standard(words({uint32_t(id)}))), ERR_ACCESS_NO_CODEC) << id;
    }
}

TEST_F(ReaderTest, NestedBlocksThatEachClaimTheRestOfTheInputAreRefusedBeforeTheyAllocateIt) {
    // A thousand blocks, each saying it holds 60,000 values, over 60,000 bytes: each count alone fits in
    // what is left, but together they would ask for a gigabyte of cells.
    Bytes records, words_records;
    Bytes level = bytes_of({0x05, 0xE0, 0xD4, 0x03}), words_level = words({5, 0, 60000});
    for (int i = 0; i < 1000; i++) {
        records.insert(records.end(), level.begin(), level.end());
        words_records.insert(words_records.end(), words_level.begin(), words_level.end());
    }
    records.resize(records.size() + 60000, 0x03);
    Bytes none = words({3});
    for (int i = 0; i < 60000; i++) words_records.insert(words_records.end(), none.begin(), none.end());
    for (const Bytes& image : {compact(records), standard(words_records)}) {
        bool was = g_gc_enabled;
        g_gc_enabled = false;  // what the decode made stays counted until it is measured
        uint64_t before = memory_stats().live_bytes;
        EXPECT_EQ(decode_error(image), ERR_SCRIPT_ZB_INVALID_RECORD);
        uint64_t grown = memory_stats().live_bytes - before;
        g_gc_enabled = was;
        EXPECT_LT(grown, 64 * image.size());
    }
}

TEST_F(ReaderTest, NestingDeeperThanTheLimitIsRefused) {
    Bytes deep;
    for (uint32_t i = 0; i < ZOLBIN_MAX_DEPTH + 1; i++) deep = deep + bytes_of({0x05, 0x01});
    deep = deep + bytes_of({0x85});
    EXPECT_EQ(decode_error(compact(deep)), ERR_SCRIPT_ZB_INVALID_RECORD);
    Bytes fits;
    for (uint32_t i = 0; i < ZOLBIN_MAX_DEPTH - 1; i++) fits = fits + bytes_of({0x05, 0x01});
    fits = fits + bytes_of({0x85});
    EXPECT_EQ(decode_error(compact(fits)), ERR_COUNT);
}

}  // namespace
}  // namespace zol::test
