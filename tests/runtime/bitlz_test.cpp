// The bit-level LZ codec: the bit routines, the decoder against records built token by token (each length
// and distance code, every refusal), and the encoder's records decoded back over varied data.
#include <bit>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "runtime/bitlz.h"
#include "tests/support.h"

namespace zol::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct Token {
    bool match;
    uint32_t a;  // the literal byte, or the bytes a match copies
    uint32_t d;
};
Token lit(uint8_t byte) { return {false, byte, 0}; }
Token copy(uint32_t bytes, uint32_t d) { return {true, bytes, d}; }

struct Block {
    uint32_t length;  // written as given, so a test can lie about it
    std::vector<Token> tokens;
};

// Writes one token's fields as the format's tables lay them out.
void put_token(BitlzState* s, const Token& t) {
    if (!t.match) {
        bitlz_put_bits(1, 0, s);
        bitlz_put_bits(8, t.a, s);
        return;
    }
    bitlz_put_bits(1, 1, s);
    uint32_t n = t.a - 3;
    if (n < 4) bitlz_put_bits(1, 1, s), bitlz_put_bits(2, n, s);
    else if (n < 8) bitlz_put_bits(1, 0, s), bitlz_put_bits(1, 1, s), bitlz_put_bits(2, n - 4, s);
    else if (n < 12) bitlz_put_bits(2, 0, s), bitlz_put_bits(1, 1, s), bitlz_put_bits(2, n - 8, s);
    else if (n < 20) bitlz_put_bits(3, 0, s), bitlz_put_bits(1, 1, s), bitlz_put_bits(3, n - 12, s);
    else if (n < 52) bitlz_put_bits(4, 0, s), bitlz_put_bits(1, 1, s), bitlz_put_bits(5, n - 20, s);
    else bitlz_put_bits(5, 0, s), bitlz_put_bits(9, n - 52, s);
    if (t.d < 8) {
        bitlz_put_bits(4, 0, s);
        bitlz_put_bits(3, t.d, s);
    } else {
        uint32_t j = uint32_t(std::bit_width(t.d)) - 1;
        bitlz_put_bits(4, j - 2, s);
        bitlz_put_bits(j, t.d - (1u << j), s);
    }
}

void put_u32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; k++) p[k] = uint8_t(v >> (8 * k));
}
uint32_t get_u32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// A block of length bytes of 7 (at least 4): one literal, then runs at d = 0.
Block run_block(uint32_t length) {
    Block block{length, {lit(7)}};
    for (uint32_t left = length - 1; left > 0; left -= block.tokens.back().a)
        block.tokens.push_back(copy(left < 566 ? left : left - 566 < 3 ? left - 3 : 566, 0));
    return block;
}

Bytes make_record(const std::vector<Block>& blocks, uint32_t output_size) {
    size_t room = 64;
    for (const Block& b : blocks) room += 8 + 5 * b.tokens.size();  // a token takes at most 36 bits
    Bytes out(room);
    BitlzState s;
    bitlz_init(&s, room, nullptr, 0);
    s.out = out.data();
    s.used = BITLZ_HEAD_SIZE;
    for (const Block& b : blocks) {
        put_u32(bitlz_reserve(&s, 4), b.length);
        for (const Token& t : b.tokens) put_token(&s, t);
        bitlz_put_bits((8 - s.count) & 7, 0, &s);
    }
    EXPECT_FALSE(s.error);
    put_u32(out.data(), uint32_t(s.used - BITLZ_HEAD_SIZE));
    put_u32(out.data() + 4, output_size);
    out.resize(s.used);
    return out;
}

std::optional<Bytes> decode(const Bytes& record) {
    uint32_t produced = 0xDEADBEEF;
    uint8_t* out = bitlz_decompress(record.data(), record.size(), &produced);
    if (!out) return std::nullopt;
    Bytes result(out, out + produced);
    bitlz_free(out);
    return result;
}

Bytes text_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(Bitlz, BitsAreTakenFromBitZeroUp) {
    struct Field {
        uint32_t n, value;
    } fields[] = {{1, 1}, {3, 5}, {8, 0xA5}, {0, 0}, {9, 0x1FF}, {17, 0x1ABCD}, {32, 0xCAFEF00D}, {3, 6}};
    uint8_t area[16] = {};
    BitlzState s;
    bitlz_init(&s, sizeof area, nullptr, 0);
    s.out = area;
    for (const Field& f : fields) bitlz_put_bits(f.n, f.value, &s);
    bitlz_put_bits((8 - s.count) & 7, 0, &s);
    ASSERT_FALSE(s.error);
    EXPECT_EQ(s.used, 10u) << "73 bits, the last byte padded";
    // The first field lands in bit 0; 1, then 101, then the low half of 0xA5 make the first byte.
    EXPECT_EQ(area[0], 0x5B);

    BitlzState r;
    bitlz_init(&r, 0, area, s.used);
    for (const Field& f : fields) EXPECT_EQ(bitlz_get_bits(f.n, &r), f.value) << f.n << " bits";
    EXPECT_FALSE(r.error);
    bitlz_get_bits(7, &r);  // the padding
    EXPECT_FALSE(r.error);
    EXPECT_EQ(bitlz_get_bits(1, &r), 0u);
    EXPECT_TRUE(r.error) << "a read past the input";
    bitlz_free(r.out);
}

TEST(Bitlz, ReserveStopsAtTheCapacity) {
    uint8_t area[10];
    BitlzState s;
    bitlz_init(&s, 10, nullptr, 0);
    s.out = area;
    EXPECT_EQ(bitlz_reserve(&s, 6), area);
    EXPECT_EQ(bitlz_reserve(&s, 4), area + 6);
    EXPECT_FALSE(s.error);
    EXPECT_EQ(bitlz_reserve(&s, 1), nullptr);
    EXPECT_TRUE(s.error);
    bitlz_put_bits(8, 0xFF, &s);
    EXPECT_EQ(s.used, 10u) << "a full output takes no more bytes";
}

TEST(Bitlz, DecodesEveryLengthAndDistanceCode) {
    // Both ends of each length row and each distance width, and overlapping copies (bytes > d + 1). Each
    // block is d + 1 literals followed by the match.
    struct MatchCase {
        uint32_t bytes;
        uint32_t d;
    } const cases[] = {{3, 0},     {6, 7},      {7, 8},       {10, 15},      {11, 16},
                               {14, 255},  {15, 256},   {22, 4095},   {23, 65536},   {54, 131071},
                               {55, 131072}, {566, 262143}, {566, 0},  {200, 2}};
    for (const MatchCase& c : cases) {
        Block block{c.d + 1 + c.bytes, {}};
        Bytes expected;
        for (uint32_t k = 0; k <= c.d; k++) {
            uint8_t byte = uint8_t(k * 7 + (k >> 8) * 13);
            block.tokens.push_back(lit(byte));
            expected.push_back(byte);
        }
        block.tokens.push_back(copy(c.bytes, c.d));
        for (uint32_t k = 0; k < c.bytes; k++) expected.push_back(expected[expected.size() - c.d - 1]);
        std::optional<Bytes> out = decode(make_record({block}, block.length));
        ASSERT_TRUE(out) << "match of " << c.bytes << " at d " << c.d;
        EXPECT_TRUE(*out == expected) << "match of " << c.bytes << " at d " << c.d;
    }
}

TEST(Bitlz, DecoderBoundariesThatSucceed) {
    // A run of one byte: d = 0 right after one literal.
    EXPECT_EQ(decode(make_record({{5, {lit('x'), copy(4, 0)}}}, 5)), text_of("xxxxx"));
    // Blocks decode to their concatenation; each match reaches back only inside its own block.
    EXPECT_EQ(decode(make_record({{6, {lit('a'), lit('b'), copy(4, 1)}}, {3, {lit('c'), lit('d'), lit('e')}},
                                  {4, {lit('z'), copy(3, 0)}}},
                                 13)),
              text_of("ababab" "cde" "zzzz"));
    // A larger output size than the blocks fill: the bytes produced are reported.
    EXPECT_EQ(decode(make_record({{3, {lit('a'), lit('b'), lit('c')}}}, 40)), text_of("abc"));
    // An empty stream yields an empty buffer.
    std::optional<Bytes> empty = decode(make_record({}, 0));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());

    // Bytes after the stream are not the decoder's; the size pointer is optional.
    Bytes record = make_record({{4, {lit('a'), copy(3, 0)}}}, 4);
    record.push_back(0xFF);
    uint8_t* out = bitlz_decompress(record.data(), record.size(), nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::memcmp(out, "aaaa", 4), 0);
    bitlz_free(out);

    // The largest block length is accepted.
    std::optional<Bytes> full = decode(make_record({run_block(BITLZ_MAX_BLOCK)}, BITLZ_MAX_BLOCK));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->size(), size_t(BITLZ_MAX_BLOCK));
    EXPECT_EQ((*full)[BITLZ_MAX_BLOCK - 1], 7);
}

TEST(Bitlz, DecoderRefusesCorruptRecords) {
    Bytes valid = make_record({{4, {lit('a'), copy(3, 0)}}}, 4);
    Bytes cut_head(valid.begin(), valid.begin() + 7);
    Bytes long_stream = valid;
    put_u32(long_stream.data(), uint32_t(valid.size() - 8 + 1));
    Bytes cut_length_word = {2, 0, 0, 0, 4, 0, 0, 0, 4, 0};
    Bytes huge_output = valid;
    put_u32(huge_output.data() + 4, 0xFFFFFFFF);

    struct Case {
        const char* what;
        Bytes record;
    } cases[] = {
        {"a record shorter than its head", cut_head},
        {"a stream length beyond the record", long_stream},
        {"a length word cut short", cut_length_word},
        {"an output size no stream of this length can yield", huge_output},
        {"a block length of 0", make_record({{0, {}}, {1, {lit('a')}}}, 1)},
        {"a block length of 1,048,577", make_record({run_block(BITLZ_MAX_BLOCK + 1)}, BITLZ_MAX_BLOCK + 1)},
        {"tokens running out before the block length", make_record({{3, {lit('a')}}}, 3)},
        {"a match as the first token", make_record({{3, {copy(3, 0)}}}, 3)},
        {"a match reaching before the block start", make_record({{4, {lit('a'), copy(3, 1)}}}, 4)},
        {"a match running past the block end", make_record({{4, {lit('a'), copy(4, 0)}}}, 4)},
        {"a match into the previous block",
         make_record({{2, {lit('a'), lit('b')}}, {3, {copy(3, 0)}}}, 5)},
        {"an output size smaller than the blocks yield",
         make_record({{2, {lit('a'), lit('b')}}, {2, {lit('c'), lit('d')}}}, 3)},
    };
    for (const Case& c : cases) EXPECT_FALSE(decode(c.record)) << c.what;
    EXPECT_EQ(bitlz_decompress(nullptr, 0, nullptr), nullptr);
}

Bytes sample_text(size_t length) {
    static const char* words[] = {"block ", "word ", "series ", "context ", "the ", "of ", "value ",
                                  "[", "]", "\n", "func ", "either ", "print ", "none ", "42 "};
    std::mt19937 rng(7);
    Bytes out;
    while (out.size() < length) {
        const char* w = words[rng() % 15];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(length);
    return out;
}

Bytes random_bytes(size_t length, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(length);
    for (uint8_t& b : out) b = uint8_t(rng());
    return out;
}

// Literal bursts, runs and copies from anywhere earlier (often farther than the window).
Bytes structured(size_t length, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < length) {
        switch (rng() % 4) {
            case 0:
                for (uint32_t n = 1 + rng() % 20; n > 0; n--) out.push_back(uint8_t(rng()));
                break;
            case 1:
                out.insert(out.end(), 3 + rng() % 300, uint8_t(rng()));
                break;
            default:
                if (out.empty()) break;
                size_t from = out.size() - 1 - rng() % (out.size() < 400000 ? out.size() : 400000);
                for (uint32_t n = 3 + rng() % 700; n > 0; n--) out.push_back(out[from++]);
        }
    }
    out.resize(length);
    return out;
}

// Compresses into an area of exactly length - 8 bytes, so any overrun trips the sanitizer build. Returns
// the record, empty when the encoder declined.
Bytes compress(const Bytes& source) {
    Bytes area(source.size() > 8 ? source.size() - 8 : 1);
    int64_t size = bitlz_compress(source.data(), source.size(), area.data());
    if (size < 0) {
        EXPECT_EQ(size, -1);
        return {};
    }
    area.resize(size_t(size));
    return area;
}

void expect_round_trip(const Bytes& source, const std::string& what) {
    Bytes record = compress(source);
    ASSERT_FALSE(record.empty()) << what << ": expected to compress";
    EXPECT_LE(record.size(), source.size() - 8) << what;
    EXPECT_EQ(get_u32(record.data()), record.size() - 8) << what << ": stream length";
    EXPECT_EQ(get_u32(record.data() + 4), source.size()) << what << ": output size";
    EXPECT_EQ(get_u32(record.data() + 8), source.size() < BITLZ_MAX_BLOCK ? source.size() : BITLZ_MAX_BLOCK)
        << what << ": first block length";
    std::optional<Bytes> back = decode(record);
    ASSERT_TRUE(back) << what << ": the decoder refused the encoder's record";
    EXPECT_TRUE(*back == source) << what << ": round trip differs";
}

TEST(Bitlz, EncoderWritesTheShortestCodes) {
    // One literal, then a single 127-byte match at d = 0: 0 + 'a', 1 + 00000 + 9 bits of 72 + 0000 + 000.
    Bytes record = compress(Bytes(128, 'a'));
    EXPECT_EQ(record, (Bytes{8, 0, 0, 0, 128, 0, 0, 0, 128, 0, 0, 0, 0xC2, 0x02, 0x24, 0x00}));
}

TEST(Bitlz, EncoderDeclinesShortOrIncompressibleSources) {
    EXPECT_TRUE(compress(Bytes(127, 'a')).empty()) << "127 bytes are never compressed";
    EXPECT_FALSE(compress(Bytes(128, 'a')).empty());
    EXPECT_TRUE(compress(random_bytes(5000, 1)).empty()) << "random bytes do not shrink";
    EXPECT_EQ(bitlz_compress(nullptr, 1000, nullptr), -1);

    // A random head followed by a growing run: each extra byte of run makes the record at most one byte
    // longer, so the first run the encoder accepts gives a record of exactly length - 8 bytes.
    Bytes head = random_bytes(200, 2);
    bool accepted = false;
    for (size_t run = 0; run < 400 && !accepted; run++) {
        Bytes source = head;
        source.insert(source.end(), run, 'z');
        Bytes record = compress(source);
        if (record.empty()) continue;
        accepted = true;
        EXPECT_EQ(record.size(), source.size() - 8) << "run of " << run;
        EXPECT_EQ(decode(record), source);
    }
    EXPECT_TRUE(accepted);
}

TEST(Bitlz, RoundTripsVariedData) {
    Bytes two_equal_chunks = structured(BITLZ_MAX_BLOCK, 3);
    two_equal_chunks.insert(two_equal_chunks.end(), two_equal_chunks.begin(), two_equal_chunks.end());

    struct Case {
        const char* what;
        Bytes source;
    } cases[] = {
        {"128 bytes of text", sample_text(128)},
        {"129 bytes of text", sample_text(129)},
        {"a run of 128", Bytes(128, 0)},
        {"runs of varied lengths", structured(5000, 5)},
        {"text", sample_text(100000)},
        {"one byte more than a block", structured(BITLZ_MAX_BLOCK + 1, 6)},
        {"a second chunk equal to the first", two_equal_chunks},
        {"several blocks of mixed data", structured(3 * BITLZ_MAX_BLOCK + 12345, 7)},
    };
    for (const Case& c : cases) expect_round_trip(c.source, c.what);

    // Random sizes and mixtures.
    std::mt19937 rng(11);
    for (uint32_t seed = 0; seed < 40; seed++) {
        size_t length = 128 + rng() % (seed % 4 == 0 ? 300000 : 3000);
        expect_round_trip(structured(length, 100 + seed), "mixture " + std::to_string(seed));
    }
}

TEST(Bitlz, EncoderReachesBackAWholeWindowAndNoFarther) {
    // The same 300 random bytes twice, the second copy starting a window (d = 262,143) or one byte more
    // after the first: only the nearer repeat can be a match, which saves some 300 bytes of literals.
    Bytes repeated = random_bytes(300, 4);
    auto source = [&](size_t gap) {
        Bytes s = repeated;
        s.insert(s.end(), gap - repeated.size(), 0);
        s.insert(s.end(), repeated.begin(), repeated.end());
        return s;
    };
    Bytes within = source(BITLZ_WINDOW), beyond = source(BITLZ_WINDOW + 1);
    expect_round_trip(within, "a repeat a window back");
    expect_round_trip(beyond, "a repeat just out of reach");
    EXPECT_GT(compress(beyond).size(), compress(within).size() + 250);
}

TEST(Bitlz, EveryTruncationOfAStreamIsRefused) {
    Bytes record = compress(sample_text(3000));
    ASSERT_FALSE(record.empty());
    for (size_t keep = 0; keep < record.size() - 8; keep++) {
        Bytes cut(record.begin(), record.begin() + 8 + keep);
        put_u32(cut.data(), uint32_t(keep));
        ASSERT_FALSE(decode(cut)) << "stream cut to " << keep << " bytes";
    }
}

TEST(Bitlz, DamagedRecordsStayInsideTheirBuffers) {
    // Flipped bits may still decode; they must never yield more than the output size (the sanitizer build
    // checks that nothing is read or written out of bounds).
    Bytes record = compress(structured(4000, 9));
    ASSERT_FALSE(record.empty());
    std::mt19937 rng(13);
    for (int round = 0; round < 3000; round++) {
        Bytes damaged = record;
        for (uint32_t flips = 1 + rng() % 3; flips > 0; flips--) damaged[rng() % damaged.size()] ^= uint8_t(1 << rng() % 8);
        uint32_t produced = 0;
        uint8_t* out = bitlz_decompress(damaged.data(), damaged.size(), &produced);
        if (!out) continue;
        EXPECT_LE(produced, get_u32(damaged.data() + 4)) << "round " << round;
        bitlz_free(out);
    }
}

}  // namespace
}  // namespace zol::test
