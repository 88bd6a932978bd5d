// The base-2, base-16, base-58 and base-64 encodings: known encodings, round trips over random bytes in every
// base, text in 1-, 2- and 4-byte units, comments and blanks, and malformed text that must decode to nothing
// (never to a partial result, and never by reading past the count given).
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/binary_base.h"
#include "runtime/gc.h"
#include "tests/support.h"

namespace zol::test {
namespace {

using Bytes = std::vector<uint8_t>;

std::string encode(int base, const Bytes& bytes) {
    std::string out(binary_base_encoded_size(base, bytes.size()), '\0');
    uint8_t* start = reinterpret_cast<uint8_t*>(out.data());
    uint8_t* end = binary_encode_base(base, start, bytes.data(), bytes.size());
    EXPECT_LE(size_t(end - start), out.size()) << "base " << base << " wrote past the room it asks for";
    out.resize(size_t(end - start));
    return out;
}

// Decodes text held in units of the given size from an exactly sized heap block, so that a read past the
// count is caught by the sanitizer builds. Null when the text is invalid.
std::unique_ptr<Bytes> decode(int base, const std::u32string& text, uint32_t unit = 1) {
    std::unique_ptr<uint8_t[]> units(new uint8_t[text.size() * unit + 1]);
    for (size_t i = 0; i < text.size(); i++) {
        uint32_t c = text[i];
        std::memcpy(units.get() + i * unit, &c, unit);  // little-endian: the low bytes of the code point
    }
    GcRoot out;
    if (!binary_decode_base(base, units.get(), uint32_t(text.size()), unit, out.get())) return nullptr;
    EXPECT_TRUE(cell_is(out.get(), TYPE_BINARY));
    uint32_t n;
    const uint8_t* p = binary_head(out.get(), &n);
    return std::make_unique<Bytes>(p, p + n);
}

std::u32string wide(const std::string& s) { return std::u32string(s.begin(), s.end()); }
Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

class BinaryBase : public RuntimeTest {};

TEST_F(BinaryBase, KnownEncodings) {
    struct Case {
        int base;
        std::string bytes, text;
    } cases[] = {
        {2, "h", "01101000"},       {2, "", ""},
        {16, "\x01\xAB", "01AB"},   {16, "", ""},
        {64, "Man", "TWFu"},        {64, "Ma", "TWE="},
        {64, "M", "TQ=="},          {64, "", ""},
        {58, std::string("\0\0", 2), "11"},
        {58, std::string("\0\1", 2), "12"},
        {58, "hello world", "StV1DL6CwTryKyV"},
        {58, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encode(c.base, bytes_of(c.bytes)), c.text) << "base " << c.base;
        auto back = decode(c.base, wide(c.text));
        ASSERT_TRUE(back) << "base " << c.base << " " << c.text;
        EXPECT_EQ(*back, bytes_of(c.bytes)) << "base " << c.base << " " << c.text;
    }
}

TEST_F(BinaryBase, EveryBaseRoundTripsRandomBytesInEveryUnitSize) {
    std::mt19937 rng(7);
    for (int base : {2, 16, 58, 64}) {
        for (size_t length : {0, 1, 2, 3, 4, 5, 31, 32, 33, 100}) {
            Bytes bytes(length);
            for (uint8_t& b : bytes) b = uint8_t(rng());
            if (length > 3) bytes[0] = bytes[1] = 0;  // leading zeros matter to base 58
            std::u32string text = wide(encode(base, bytes));
            for (uint32_t unit : {1u, 2u, 4u}) {
                auto back = decode(base, text, unit);
                ASSERT_TRUE(back) << "base " << base << " length " << length << " unit " << unit;
                EXPECT_EQ(*back, bytes) << "base " << base << " length " << length << " unit " << unit;
            }
        }
    }
}

TEST_F(BinaryBase, BlanksAndCommentsAreSkipped) {
    struct Case {
        int base;
        std::string text, bytes;
    } cases[] = {
        {64, "TWFu ; comment", "Man"},
        {64, "TW\n Fu\t", "Man"},
        {64, "TW'Fu", "Man"},
        {64, "; only a comment\nTWFu", "Man"},
        {16, "01 ab\n;x\nCD", "\x01\xAB\xCD"},
        {16, "ABC", "\xAB"},  // a final odd digit is dropped
        {2, "0110 1000 ; h", "h"},
        {58, " 1 2 ", std::string("\0\1", 2)},
        {64, "TWE=garbage after the padding", "Ma"},
        {64, "TWFuTQ", "Man"},  // an incomplete last group without padding is dropped
    };
    for (const Case& c : cases) {
        auto back = decode(c.base, wide(c.text));
        ASSERT_TRUE(back) << "base " << c.base << " \"" << c.text << "\"";
        EXPECT_EQ(*back, bytes_of(c.bytes)) << "base " << c.base << " \"" << c.text << "\"";
    }
}

TEST_F(BinaryBase, MalformedTextDecodesToNothing) {
    struct Case {
        int base;
        std::u32string text;
    } cases[] = {
        {2, U"0110100"},     // seven bits
        {2, U"01102000"},    // a digit that is not a bit
        {16, U"0G"},         // not hexadecimal
        {16, U"\u00C1B"},    // Á: only its low 7 bits would read as A
        {64, U"T==="},       // padding after one character of a group
        {64, U"=AAA"},       // padding first
        {64, U"TW.u"},       // not in the alphabet
        {64, U"TW\u00E9u"},  // above 127
        {58, U"0OIl"},       // the characters base 58 leaves out
        {58, U"12\u0100"},   // above 127
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(decode(c.base, c.text)) << "base " << c.base << " text of " << c.text.size() << " characters";
    }
}

TEST_F(BinaryBase, ConveniencesWorkOnValues) {
    GcRoot bin, text, back;
    const uint8_t bytes[] = {0xDE, 0xAD, 0xBE, 0xEF};
    binary_load_at(bin.get(), bytes, sizeof bytes);
    binary_enbase_string(text.get(), 64, bin.get());
    ASSERT_TRUE(cell_is(text.get(), TYPE_STRING));
    ASSERT_TRUE(binary_debase_string(back.get(), 64, text.get()));
    uint32_t n;
    const uint8_t* p = binary_head(back.get(), &n);
    EXPECT_EQ(Bytes(p, p + n), Bytes(bytes, bytes + 4));
}

}  // namespace
}  // namespace zol::test
