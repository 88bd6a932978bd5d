// The deflate codec over byte buffers: the encoder's exact choices, round trips through the system zlib in
// both directions (its streams committed in tests/io/deflate/, our streams checked by python3's zlib), the
// sizing protocol, and the status of every kind of malformed input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/codecs/checksum.h"
#include "io/codecs/deflate.h"
#include "tests/generated.h"
#include "tests/io/deflate_inputs.h"

namespace zol::test {
namespace {

using namespace codecs;
using Codec = CodecStatus (*)(uint8_t*, uint64_t*, const uint8_t*, size_t);

struct Outcome {
    CodecStatus status;
    uint64_t size;
    Bytes bytes;  // what the buffer holds: size bytes when done
};

// One call with the given capacity; guard bytes past it must come back untouched.
Outcome call(Codec codec, const Bytes& input, uint64_t capacity) {
    constexpr size_t GUARD = 64;
    Bytes buffer(capacity + GUARD, 0xEE);
    uint64_t size = capacity;
    CodecStatus status = codec(capacity ? buffer.data() : nullptr, &size, input.data(), input.size());
    for (size_t i = capacity; i < buffer.size(); i++) {
        if (buffer[i] != 0xEE) {
            ADD_FAILURE() << "byte " << i << " written past a capacity of " << capacity;
            break;
        }
    }
    buffer.resize(status == CODEC_DONE ? size : capacity);
    return {status, size, buffer};
}

// As the natives do: a first call learns the size, a second one fills a buffer of that size.
Outcome sized(Codec codec, const Bytes& input, uint64_t first_capacity = 0) {
    Outcome first = call(codec, input, first_capacity);
    if (first.status != CODEC_TOO_SMALL) return first;
    return call(codec, input, first.size);
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Packs bits given in stream order ('0' and '1'; anything else is a separator) into bytes, the first bit
// the lowest of the first byte, as deflate writes them.
Bytes pack(const std::string& bits) {
    Bytes out;
    size_t n = 0;
    for (char c : bits) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= uint8_t(1 << (n % 8));
        n++;
    }
    return out;
}

// A value's n bits, least significant first, as extra bits and header fields go into the stream.
std::string low_first(uint32_t value, unsigned n) {
    std::string s;
    for (unsigned i = 0; i < n; i++) s += value >> i & 1 ? '1' : '0';
    return s;
}

// ---- A reader of the encoder's single fixed block, written apart from the decoder: it lists what the
// encoder chose, literal by literal and match by match.

struct Token {
    uint32_t length;    // 0 for a literal
    uint32_t value;     // the literal byte, or the match's distance
    bool operator==(const Token&) const = default;
};
void PrintTo(const Token& t, std::ostream* os) {
    if (t.length) {
        *os << "match(" << t.length << ", " << t.value << ")";
    } else {
        *os << "lit(" << t.value << ")";
    }
}
Token lit(uint8_t b) { return {0, b}; }
Token match(uint32_t length, uint32_t distance) { return {length, distance}; }

std::vector<Token> fixed_block_tokens(const Bytes& stream) {
    static const uint16_t length_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint8_t length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    size_t bit = 0;
    auto next = [&]() -> uint32_t {
        if (bit >= stream.size() * 8) throw std::runtime_error("stream ends inside the block");
        uint32_t b = stream[bit / 8] >> (bit % 8) & 1;
        bit++;
        return b;
    };
    auto field = [&](unsigned n) {  // least significant bit first
        uint32_t v = 0;
        for (unsigned i = 0; i < n; i++) v |= next() << i;
        return v;
    };
    auto code = [&](unsigned n) {  // most significant bit first
        uint32_t v = 0;
        for (unsigned i = 0; i < n; i++) v = v << 1 | next();
        return v;
    };
    if (field(3) != 3) throw std::runtime_error("not one final fixed block");
    std::vector<Token> tokens;
    for (;;) {
        uint32_t c = code(7), symbol;
        if (c <= 0x17) {
            symbol = 256 + c;
        } else {
            c = c << 1 | next();
            if (c >= 0x30 && c <= 0xBF) {
                symbol = c - 0x30;
            } else if (c >= 0xC0 && c <= 0xC7) {
                symbol = 280 + c - 0xC0;
            } else {
                symbol = 144 + (c << 1 | next()) - 0x190;
            }
        }
        if (symbol < 256) {
            tokens.push_back(lit(uint8_t(symbol)));
            continue;
        }
        if (symbol == 256) break;
        uint32_t length = length_base[symbol - 257] + field(length_extra[symbol - 257]);
        uint32_t d = code(5), extra = d < 4 ? 0 : d / 2 - 1;
        uint32_t base = d < 4 ? d + 1 : (2 + d % 2) << extra | 1;
        tokens.push_back(match(length, base + field(extra)));
    }
    while (bit % 8) {
        if (next()) throw std::runtime_error("fill bits are not zero");
    }
    if (bit != stream.size() * 8) throw std::runtime_error("bytes after the block");
    return tokens;
}

Bytes deflate(const Bytes& input) {
    Outcome o = sized(deflate_encode, input, input.size() + 32);
    EXPECT_EQ(o.status, CODEC_DONE);
    return o.bytes;
}

TEST(DeflateEncoder, WritesTheBitsOfOneFixedBlock) {
    struct Case {
        std::string input, bits;
    } cases[] = {
        // header (last block, fixed codes), then the end-of-block code and the fill bits
        {"", "1 10  0000000 000000"},
        // literals of 8 bits (0x30 + byte) until three bytes precede; the run then matches at distance 1:
        // length 3 is code 257 (7 bits), distance 1 is distance code 0 (5 bits)
        {"aaaaaa", "1 10  10010001 10010001 10010001  0000001 00000  0000000 0"},
        // a repeat three back: length 6 is code 260, distance 3 is distance code 2
        {"abcabcabc", "1 10  10010001 10010010 10010011  0000100 00010  0000000 00"},
        // bytes from 144 take 9-bit codes (0x190 + byte - 144)
        {"\x90\xFF", "1 10  110010000 111111111  0000000 0000"},
    };
    for (const Case& c : cases) EXPECT_EQ(deflate(bytes_of(c.input)), pack(c.bits)) << "input '" << c.input << "'";
}

TEST(DeflateEncoder, ChoosesItsMatchesByTheHashAndSlotRules) {
    struct Case {
        const char* what;
        Bytes input;
        std::vector<Token> tokens;
    };
    // A window's reach: a three-byte prefix seen 32,767 bytes back matches, one 32,768 bytes back does not.
    Bytes near_input(32764, 'z'), far_input(32765, 'z');
    for (Bytes* b : {&near_input, &far_input}) {
        b->insert(b->begin(), {'Q', 'R', 'S'});
        b->insert(b->end(), {'Q', 'R', 'S'});
    }
    auto tail_tokens = [](const Bytes& input) {
        std::vector<Token> all = fixed_block_tokens(deflate(input));
        size_t covered = 0, i = all.size();
        while (covered < 3) covered += all[--i].length ? all[i].length : 1;
        return std::vector<Token>(all.begin() + i, all.end());
    };
    EXPECT_EQ(tail_tokens(near_input), std::vector<Token>{match(3, 32767)});
    EXPECT_EQ(tail_tokens(far_input), (std::vector<Token>{lit('Q'), lit('R'), lit('S')}));

    Case cases[] = {
        // Each match's start takes the slot of the one before it: the next match reaches back to it.
        {"a run: three literals, then matches of at most 258 bytes, the first at distance 1",
         Bytes(1000, 'a'),
         {lit('a'), lit('a'), lit('a'), match(258, 1), match(258, 258), match(258, 258), match(223, 258)}},
        {"a repeat five back, up to the input's end",
         bytes_of("abcdeabcde"),
         {lit('a'), lit('b'), lit('c'), lit('d'), lit('e'), match(5, 5)}},
        {"the last two bytes are literals, even when they repeat",
         bytes_of("abcdab"),
         {lit('a'), lit('b'), lit('c'), lit('d'), lit('a'), lit('b')}},
        {"a match ends where the input does", bytes_of("xyzxyzxy"), {lit('x'), lit('y'), lit('z'), match(5, 3)}},
        {"positions inside a match are not entered: the later 'bcd' finds the first one",
         bytes_of("abcdabcdXbcd"),
         {lit('a'), lit('b'), lit('c'), lit('d'), match(4, 4), lit('X'), match(3, 8)}},
        {"nothing before the fourth byte is matched, even a repeat", bytes_of("aaa"), {lit('a'), lit('a'), lit('a')}},
    };
    for (const Case& c : cases) EXPECT_EQ(fixed_block_tokens(deflate(c.input)), c.tokens) << c.what;
}

TEST(DeflateEncoder, FramesEmptyInputInTheSmallestStreams) {
    EXPECT_EQ(sized(deflate_encode, {}, 32).bytes, (Bytes{0x03, 0x00}));
    EXPECT_EQ(sized(zlib_encode, {}, 32).bytes, (Bytes{0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(sized(gzip_encode, {}, 32).bytes, (Bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04, 0x03, 0x00,
                                                       0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DeflateEncoder, GzipEncodesInputThatLooksLikeGzipAlready) {
    // Passing such input through would give back something else than the input on decompression.
    Bytes input = sized(gzip_encode, bytes_of("hello"), 64).bytes;
    Bytes twice = sized(gzip_encode, input, 64).bytes;
    EXPECT_NE(twice, input);
    EXPECT_EQ(sized(gzip_decode, twice).bytes, input);
}

TEST(Deflate, ReportsTheFullSizeWhenTheBufferIsShort) {
    struct Case {
        const char* name;
        Codec encode, decode;
        size_t framing;  // the least capacity an encoder takes
    } codecs_[] = {
        {"deflate", deflate_encode, inflate_decode, 0},
        {"zlib", zlib_encode, zlib_decode, 6},
        {"gzip", gzip_encode, gzip_decode, 18},
    };
    Bytes input = text_input(3000, 5);
    for (const Case& c : codecs_) {
        Bytes packed = sized(c.encode, input, input.size() + 32).bytes;
        for (uint64_t capacity : {uint64_t(c.framing), uint64_t(packed.size() / 2), uint64_t(packed.size() - 1)}) {
            Outcome o = call(c.encode, input, capacity);
            EXPECT_EQ(o.status, CODEC_TOO_SMALL) << c.name << " encoding into " << capacity;
            EXPECT_EQ(o.size, packed.size()) << c.name << " encoding into " << capacity;
        }
        for (uint64_t capacity : {uint64_t(0), uint64_t(1), uint64_t(input.size() - 1)}) {
            Outcome o = call(c.decode, packed, capacity);
            EXPECT_EQ(o.status, CODEC_TOO_SMALL) << c.name << " decoding into " << capacity;
            EXPECT_EQ(o.size, input.size()) << c.name << " decoding into " << capacity;
            if (c.decode != gzip_decode) {
                // What fits is stored: matches copied across the capacity keep their first bytes.
                EXPECT_TRUE(std::equal(o.bytes.begin(), o.bytes.end(), input.begin())) << c.name << " into " << capacity;
            }
        }
        Outcome exact = call(c.decode, packed, input.size());
        EXPECT_EQ(exact.status, CODEC_DONE) << c.name;
        EXPECT_EQ(exact.bytes, input) << c.name;
    }
    // A capacity below the framing itself.
    for (const Case& c : codecs_) {
        if (c.framing == 0) continue;
        Outcome o = call(c.encode, input, c.framing - 1);
        EXPECT_EQ(o.status, CODEC_MALFORMED) << c.name;
        EXPECT_EQ(o.size, input.size() + c.framing) << c.name;
    }
}

std::filesystem::path reference_dir() { return repository_root() / "tests" / "io" / "deflate"; }

TEST(Deflate, DecodesWhatTheSystemZlibMakesAtEveryLevel) {
    int streams = 0;
    for (const NamedInput& in : deflate_inputs()) {
        for (const char* format : {"z0", "z1", "z6", "z9", "zf", "zh", "raw", "gz", "gzn"}) {
            std::filesystem::path file = reference_dir() / (std::string(in.name) + "." + format);
            if (!std::filesystem::exists(file)) {
                EXPECT_STREQ(in.name, "large") << file << " is missing: run tools/gen_deflate_refs.py";
                continue;
            }
            std::string content = read_whole(file);
            Bytes packed(content.begin(), content.end());
            Codec decode = format[0] == 'g' ? gzip_decode : format[0] == 'r' ? inflate_decode : zlib_decode;
            Outcome o = sized(decode, packed);
            EXPECT_EQ(o.status, CODEC_DONE) << file;
            EXPECT_TRUE(o.bytes == in.bytes) << file << " does not decode to its input";
            streams++;
        }
    }
    EXPECT_EQ(streams, 6 * 9 + 2);
}

TEST(Deflate, WhatItEncodesTheSystemZlibDecodes) {
    namespace fs = std::filesystem;
    if (std::system("python3 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not installed";
    fs::path dir = unique_temporary_path("deflate-oracle");
    fs::create_directories(dir);
    auto write = [&](const std::string& name, const Bytes& b) {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    };
    for (const NamedInput& in : deflate_inputs()) {
        write(std::string(in.name) + ".in", in.bytes);
        struct {
            const char* extension;
            Codec encode, decode;
        } forms[] = {{"raw", deflate_encode, inflate_decode}, {"z", zlib_encode, zlib_decode}, {"gz", gzip_encode, gzip_decode}};
        for (const auto& f : forms) {
            Outcome packed = sized(f.encode, in.bytes, in.bytes.size() + 32);
            ASSERT_EQ(packed.status, CODEC_DONE) << in.name << "." << f.extension;
            write(std::string(in.name) + "." + f.extension, packed.bytes);
            // Our own decoder agrees too.
            EXPECT_TRUE(sized(f.decode, packed.bytes).bytes == in.bytes) << in.name << "." << f.extension;
        }
    }
    const char* check = R"py(
import gzip, os, sys, zlib
d = sys.argv[1]
bad = []
for name in sorted(f[:-3] for f in os.listdir(d) if f.endswith(".in")):
    data = open(os.path.join(d, name + ".in"), "rb").read()
    for ext, unpack in (("raw", lambda b: zlib.decompress(b, -15)), ("z", zlib.decompress), ("gz", gzip.decompress)):
        try:
            if unpack(open(os.path.join(d, name + "." + ext), "rb").read()) != data:
                bad.append(name + "." + ext)
        except Exception as e:
            bad.append(name + "." + ext + " (" + str(e) + ")")
print(" ".join(bad))
sys.exit(1 if bad else 0)
)py";
    write("check.py", bytes_of(check));
    fs::path report = dir / "report";
    std::string command = "python3 \"" + (dir / "check.py").string() + "\" \"" + dir.string() + "\" >\"" +
                          report.string() + "\" 2>&1";
    int status = std::system(command.c_str());
    std::string said = read_whole(report);
    fs::remove_all(dir);
    EXPECT_EQ(status, 0) << "python3's zlib refused: " << said;
}

// ---- Malformed input

// A small valid stream of each framing, to damage.
Bytes zlib_of(const std::string& s) { return sized(zlib_encode, bytes_of(s), 64).bytes; }
Bytes gzip_of(const std::string& s) { return sized(gzip_encode, bytes_of(s), 64).bytes; }

Bytes with_zlib_header(uint8_t cmf, uint8_t flags, Bytes stream) {
    stream[0] = cmf;
    stream[1] = uint8_t(flags | (31 - (cmf * 256 + flags) % 31) % 31);
    return stream;
}

// A gzip stream of "hello" whose header carries the given flags and fields before the body.
Bytes gzip_with_header(uint8_t flags, const Bytes& fields) {
    Bytes out = gzip_of("hello");
    out[3] = flags;
    out.insert(out.begin() + 10, fields.begin(), fields.end());
    return out;
}

// A gzip header whose name or comment has no terminating zero before the trailer, which is all zeros.
Bytes unterminated_field(uint8_t flag) {
    Bytes out = {0x1F, 0x8B, 0x08, flag, 0, 0, 0, 0, 4, 4};
    out.insert(out.end(), 12, 'n');
    out.insert(out.end(), 8, 0);
    return out;
}

Bytes first_bytes(Bytes b, size_t n) {
    b.resize(n);
    return b;
}

Bytes patched(Bytes b, size_t at, uint8_t value) {
    b[at] = value;
    return b;
}

// A dynamic block's header (last block, HLIT 257, HDIST 1) whose code-length code gives the listed 3-bit
// lengths in the standard order 16, 17, 18, 0, ..., followed by the given bits.
Bytes dynamic_block(const std::vector<unsigned>& code_lengths, const std::string& then) {
    std::string bits = "1 01 " + low_first(0, 5) + low_first(0, 5) + low_first(unsigned(code_lengths.size()) - 4, 4);
    for (unsigned l : code_lengths) bits += low_first(l, 3);
    return pack(bits + then);
}

TEST(Inflate, GivesEachMalformedInputItsStatus) {
    const std::string a = "10010001", end = "0000000";
    struct Case {
        const char* what;
        Codec decode;
        Bytes input;
        CodecStatus status;
    } cases[] = {
        {"no bytes at all", inflate_decode, {}, CODEC_MALFORMED},
        {"a block of the reserved type", inflate_decode, {0x07}, CODEC_RESERVED_BLOCK},
        {"a stored block longer than the input", inflate_decode, {0x01, 10, 0, 0xF5, 0xFF, 'a', 'b', 'c'}, CODEC_STORED_OVERRUN},
        {"a stored block cut in its lengths", inflate_decode, {0x01, 10}, CODEC_MALFORMED},
        {"a stream without its final block", inflate_decode, {0x00, 1, 0, 0xFE, 0xFF, 'a'}, CODEC_MALFORMED},
        {"a fixed block cut after a literal", inflate_decode, pack("110" + a), CODEC_MALFORMED},
        {"a fixed block cut before its end code", inflate_decode, pack("110" + a + a + a + "0000001 00000"), CODEC_MALFORMED},
        {"a match before the output's start", inflate_decode, pack("110 0000001 00000" + end), CODEC_TOO_FAR_BACK},
        {"a match reaching one byte too far", inflate_decode, pack("110" + a + "0000001 00001" + end), CODEC_TOO_FAR_BACK},
        {"length symbol 286", inflate_decode, pack("110" + a + "11000110 00000" + end), CODEC_MALFORMED},
        {"length symbol 287", inflate_decode, pack("110" + a + "11000111 00000" + end), CODEC_MALFORMED},
        {"distance symbol 30", inflate_decode, pack("110" + a + "0000001 11110" + end), CODEC_MALFORMED},
        {"distance symbol 31", inflate_decode, pack("110" + a + "0000001 11111" + end), CODEC_MALFORMED},
        // Dynamic blocks; a code-length code of symbols 0 and 16 (codes 0 and 1), or of 0 and 18.
        {"more literal/length codes than 286", inflate_decode, pack("101 11111 00000 0000"), CODEC_MALFORMED},
        {"more distance codes than 30", inflate_decode, pack("101 00000 11111 0000 000000000000"), CODEC_MALFORMED},
        {"a repeat of the previous length first", inflate_decode, dynamic_block({1, 0, 0, 1}, "1 00"), CODEC_MALFORMED},
        {"zeros past the lengths' count", inflate_decode, dynamic_block({0, 0, 1, 1}, "1 1111111 1 1111111"), CODEC_MALFORMED},
        {"no end-of-block code", inflate_decode, dynamic_block({0, 0, 1, 1}, "1 1111111 1" + low_first(109, 7)), CODEC_MALFORMED},
        {"an over-subscribed code-length code", inflate_decode, dynamic_block({1, 1, 1, 0}, "0"), CODEC_MALFORMED},
        {"an incomplete code-length code", inflate_decode, dynamic_block({1, 0, 0, 0}, "0"), CODEC_MALFORMED},
        // zlib framing
        {"zlib: shorter than header and trailer", zlib_decode, {0x78, 0x01, 0x03, 0x00}, CODEC_MALFORMED},
        {"zlib: a check not divisible by 31", zlib_decode, patched(zlib_of("abc"), 1, 0x02), CODEC_MALFORMED},
        {"zlib: compression method 7", zlib_decode, with_zlib_header(0x77, 0, zlib_of("abc")), CODEC_MALFORMED},
        {"zlib: a window beyond 32 KB", zlib_decode, with_zlib_header(0x88, 0, zlib_of("abc")), CODEC_MALFORMED},
        {"zlib: a preset dictionary", zlib_decode, with_zlib_header(0x78, 0x20, zlib_of("abc")), CODEC_MALFORMED},
        {"zlib: a wrong Adler-32", zlib_decode, patched(zlib_of("abc"), 8, 0), CODEC_MALFORMED},
        {"zlib: the body's own status", zlib_decode, {0x78, 0x01, 0x07, 0, 0, 0, 1}, CODEC_RESERVED_BLOCK},
        // gzip framing
        {"gzip: 17 bytes", gzip_decode, first_bytes(gzip_of(""), 17), CODEC_MALFORMED},
        {"gzip: a wrong magic number", gzip_decode, patched(gzip_of("hello"), 1, 0x8C), CODEC_MALFORMED},
        {"gzip: compression method 7", gzip_decode, patched(gzip_of("hello"), 2, 7), CODEC_MALFORMED},
        {"gzip: a reserved flag", gzip_decode, patched(gzip_of("hello"), 3, 0x20), CODEC_MALFORMED},
        {"gzip: extra field longer than the input", gzip_decode, gzip_with_header(4, {0xFF, 0x00, 1, 2}), CODEC_MALFORMED},
        {"gzip: a name that runs into the trailer", gzip_decode, unterminated_field(8), CODEC_MALFORMED},
        {"gzip: a comment that runs into the trailer", gzip_decode, unterminated_field(0x10), CODEC_MALFORMED},
        {"gzip: a wrong header CRC", gzip_decode, gzip_with_header(2, {0x12, 0x34}), CODEC_MALFORMED},
        {"gzip: a wrong CRC-32", gzip_decode, patched(gzip_of("hello"), 18, 0), CODEC_MALFORMED},
        {"gzip: a length one short", gzip_decode, patched(gzip_of("hello"), 21, 4), CODEC_MALFORMED},
        {"gzip: a length one long", gzip_decode, patched(gzip_of("hello"), 21, 6), CODEC_MALFORMED},
        {"gzip: the body's own status", gzip_decode, patched(gzip_of("hello"), 10, 0x07), CODEC_RESERVED_BLOCK},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(call(c.decode, c.input, 64).status, c.status) << c.what;
    }
}

TEST(Inflate, GzipHeaderFieldsAreSkipped) {
    Bytes header = {0x1F, 0x8B, 0x08, 0x1E, 0, 0, 0, 0, 4, 4};  // FEXTRA, FNAME, FCOMMENT, FHCRC
    Bytes fields = {3, 0, 'x', 'y', 'z', 'n', 'a', 'm', 'e', 0, 'c', 0};
    Bytes before = header;
    before.insert(before.end(), fields.begin(), fields.end());
    uint32_t check = crc32_sum(before.data(), before.size());
    fields.push_back(uint8_t(check));
    fields.push_back(uint8_t(check >> 8));
    Outcome o = sized(gzip_decode, gzip_with_header(0x1E, fields));
    EXPECT_EQ(o.status, CODEC_DONE);
    EXPECT_EQ(o.bytes, bytes_of("hello"));
}

TEST(Inflate, GzipLengthIsAHintTheBodyMustBearOut) {
    // The smallest gzip stream claiming 4 GB: no buffer is ever asked for it.
    Bytes bomb = gzip_of("");
    for (int i = 16; i < 20; i++) bomb[i] = 0xFF;
    Outcome o = call(gzip_decode, bomb, 0);
    EXPECT_EQ(o.status, CODEC_MALFORMED);
    // A length the body could produce is reported before inflating.
    Bytes packed = gzip_of(std::string(5000, 'q'));
    o = call(gzip_decode, packed, 10);
    EXPECT_EQ(o.status, CODEC_TOO_SMALL);
    EXPECT_EQ(o.size, 5000u);
}

TEST(Inflate, IgnoresBytesAfterTheFinalBlock) {
    Bytes stream = deflate(bytes_of("abc"));
    stream.insert(stream.end(), {1, 2, 3});
    Outcome o = sized(inflate_decode, stream);
    EXPECT_EQ(o.status, CODEC_DONE);
    EXPECT_EQ(o.bytes, bytes_of("abc"));
}

}  // namespace
}  // namespace zol::test
