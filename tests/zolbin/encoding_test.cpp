// The bytes both encoders write: the worked examples of the format, byte for byte, and the choices of the
// compact writer (small integers, integer forms of floats and percents, tuple lengths, head indexes, string
// units, shared series).
#include "tests/zolbin/support.h"

namespace zol::test {
namespace {

// The records of a one-value compact image, when it has no symbol table.
Bytes compact_records(const Bytes& image) {
    EXPECT_GE(image.size(), 10u);
    EXPECT_EQ(image[7], 1);  // compact, no symbols
    return Bytes(image.begin() + 10, image.end());
}

using EncodingTest = ZolbinTest;

TEST_F(EncodingTest, TheIntegerFiveIsElevenBytes) {
    EXPECT_EQ(encode(integer(5), true), text_bytes("ZOLBIN") + bytes_of({0x02, 0x01, 0x01, 0x01, 0x85}));
}

TEST_F(EncodingTest, CompactScalarsTakeTheirShortestForm) {
    struct Row {
        const char* code;
        Bytes record;
    };
    const Row rows[] = {
        {"63", bytes_of({0xBF})},
        {"0", bytes_of({0x80})},
        {"64", bytes_of({0x0B, 0x80, 0x01})},
        {"-1", bytes_of({0x0B, 0x01})},
        {"-2147483648", bytes_of({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})},
        {"2.0", bytes_of({0x4C, 0x04})},
        {"-1.0", bytes_of({0x4C, 0x01})},
        {"1000.0", bytes_of({0x4C, 0xD0, 0x0F})},
        {"0.5", bytes_of({0x0C, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F})},
        {"0.1", bytes_of({0x0C, 0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F})},
        {"-0.0", bytes_of({0x0C, 0, 0, 0, 0, 0, 0, 0, 0x80})},
        {"50%", bytes_of({0x66, 0x64})},
        {"0%", bytes_of({0x66, 0x00})},
        {"0.5%", bytes_of({0x26, 0x7B, 0x14, 0xAE, 0x47, 0xE1, 0x7A, 0x74, 0x3F})},
        {"1:00", bytes_of({0x6B, 0xA0, 0x38})},
        {"1.2.3", bytes_of({0x27, 1, 2, 3})},
        {"1.2.3.4", bytes_of({0x67, 4, 1, 2, 3, 4})},
        {"3x-4", bytes_of({0x25, 0x06, 0x07})},
        {"#\"a\"", bytes_of({0x0A, 0x61})},
        {"true", bytes_of({0xC2})},
        {"false", bytes_of({0xC3})},
        {"none", bytes_of({0x03})},
        {"integer!", bytes_of({0x01, 0x0B})},
        {"#{CAFE}", bytes_of({0x29, 0x02, 0xCA, 0xFE})},
        {"\"ab\"", bytes_of({0x07, 0x08, 'a', 'b'})},
        {"%f", bytes_of({0x08, 0x04, 'f'})},
        {"[]", bytes_of({0x05, 0x00})},
        {"[1 [2]]", bytes_of({0x05, 0x02, 0x81, 0x05, 0x01, 0x82})},
        {"to paren! [1]", bytes_of({0x06, 0x01, 0x81})},
    };
    for (const Row& row : rows) {
        Cell v = eval(row.code);
        EXPECT_EQ(compact_records(encode(v, true)), row.record) << row.code;
    }
}

TEST_F(EncodingTest, ATupleOfThreeBytesTakesFourAndOfFourTakesSix) {
    EXPECT_EQ(compact_records(encode(eval("1.2.3"), true)).size(), 4u);
    EXPECT_EQ(compact_records(encode(eval("1.2.3.4"), true)).size(), 6u);
}

TEST_F(EncodingTest, AStringOfTwoByteUnitsKeepsItsUnits) {
    // Five units of two bytes: the varint 5 x 4 + 1 = 21, then ten bytes.
    Cell s = eval("\"abc\u20ACd\"");
    Bytes record = compact_records(encode(s, true));
    ASSERT_EQ(record.size(), 12u);
    EXPECT_EQ(record[0], 0x07);
    EXPECT_EQ(record[1], 21);
    EXPECT_EQ(record[2], 'a');
    EXPECT_EQ(record[3], 0);
    EXPECT_EQ(record[8], 0xAC);
    EXPECT_EQ(record[9], 0x20);
    EXPECT_EQ(mold(decode(encode(s, true))), mold(s));
}

TEST_F(EncodingTest, ABlockWithAHeadIndexWritesAllItsCells) {
    Cell b = eval("skip [1 2 3 4 5] 2");
    EXPECT_EQ(compact_records(encode(b, true)), bytes_of({0x45, 0x02, 0x05, 0x81, 0x82, 0x83, 0x84, 0x85}));
    Cell back = decode(encode(b, true));
    EXPECT_EQ(series_index(&back), 2u);
    EXPECT_EQ(mold(back), "[3 4 5]");
}

TEST_F(EncodingTest, ABlockMetTwiceIsWrittenOnceAndThenByItsPath) {
    Cell outer = eval("b: [7] reduce [b b]");
    // The outer block, then b in full at path (0 0), then 0xC1, the lead byte and the path (0 0).
    EXPECT_EQ(compact_records(encode(outer, true)),
              bytes_of({0x05, 0x02, 0x05, 0x01, 0x87, 0xC1, 0x05, 0x02, 0x00, 0x00}));
    Cell back = decode(encode(outer, true));
    Series* s = cell_series(&back);
    EXPECT_EQ(s->cells()[0].w2, s->cells()[1].w2);  // one series, shared
}

TEST_F(EncodingTest, ABlockThatHoldsWordsHasASymbolTable) {
    Bytes image = encode(eval("[abc]"), true);
    // Flags 5; root count, records size, one symbol, four bytes of names, offset 0, "abc" and NUL.
    Bytes expected = text_bytes("ZOLBIN") + bytes_of({0x02, 0x05, 0x01, 0x04, 0x01, 0x04, 0, 0, 0, 0}) +
                     text_bytes("abc") + bytes_of({0, 0x05, 0x01, 0x0F, 0x00});
    EXPECT_EQ(image, expected);
}

TEST_F(EncodingTest, TheStandardStringsAreaPadsEachNameToEightBytes) {
    Bytes image = encode(eval("[ab]"), false);
    // Head: magic, version 2, flags 4, root count 1, records size, symbol count 1, strings size 8.
    Bytes head = text_bytes("ZOLBIN") + bytes_of({0x02, 0x04, 1, 0, 0, 0});
    ASSERT_GE(image.size(), 36u);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 12), head);
    EXPECT_EQ(Bytes(image.begin() + 16, image.begin() + 24), bytes_of({1, 0, 0, 0, 8, 0, 0, 0}));
    EXPECT_EQ(Bytes(image.begin() + 24, image.begin() + 28), bytes_of({0, 0, 0, 0}));  // offset of "ab"
    EXPECT_EQ(Bytes(image.begin() + 28, image.begin() + 36), text_bytes("ab") + bytes_of({0, 0, 0, 0, 0, 0}));
}

TEST_F(EncodingTest, StandardRecordsAreWords) {
    struct Row {
        const char* code;
        std::vector<uint32_t> words;
    };
    const Row rows[] = {
        {"5", {11, 5}},
        {"none", {3}},
        {"true", {4, 1}},
        {"#\"a\"", {10, 0x61}},
        {"3x-4", {37, 3, 0xFFFFFFFC}},
        {"1.2.3", {39 | 3 << 8, 0x030201, 0, 0}},
        {"[1 2]", {5, 0, 2, 11, 1, 11, 2}},
        {"\"abcde\"", {7 | 1 << 8, 0, 5, 0x64636261, 0x65}},
        {"integer!", {1, 11}},
    };
    for (const Row& row : rows) {
        Bytes image = encode(eval(row.code), false);
        ASSERT_GE(image.size(), 16u) << row.code;
        EXPECT_EQ(image[7], 0) << row.code;
        Bytes records(image.begin() + 16, image.end());
        Bytes expected;
        for (uint32_t w : row.words) expected = expected + bytes_of({int(w & 0xFF), int(w >> 8 & 0xFF), int(w >> 16 & 0xFF), int(w >> 24)});
        EXPECT_EQ(records, expected) << row.code;
        EXPECT_EQ(image[12], expected.size()) << row.code;  // the records size
    }
}

TEST_F(EncodingTest, AStandardFloatStartsOnAnEightByteBoundaryHighHalfFirst) {
    Bytes image = encode(eval("[1 0.5]"), false);
    Bytes records(image.begin() + 16, image.end());
    // Block header, head, count, integer 1 (8 bytes so far: 20), then padding to 24, then the float.
    ASSERT_EQ(records.size(), 36u);
    EXPECT_EQ(Bytes(records.begin() + 20, records.begin() + 24), bytes_of({0, 0, 0, 0}));
    EXPECT_EQ(Bytes(records.begin() + 24, records.end()), bytes_of({12, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace zol::test
