// Deflate, inflate and the zlib and gzip framings. Input is untrusted: every read of the input is bounded
// by its length, a stream that runs out of bits before its final block ends is malformed, and output past
// the capacity is only counted (so a match copied in that region reads nothing either).
#include "io/codecs/deflate.h"

#include <bit>
#include <cstring>
#include <initializer_list>

#include "io/codecs/checksum.h"

namespace zol::codecs {

namespace {

// ---- Constant tables of RFC 1951 ----

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the lengths of the code-length code.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t reverse_bits(uint32_t code, unsigned length) {
    uint32_t r = 0;
    for (unsigned i = 0; i < length; i++, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

// The fixed code lengths of literal/length symbols (RFC 1951, 3.2.6).
constexpr unsigned fixed_length(unsigned symbol) {
    return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
}
constexpr uint32_t fixed_code(unsigned symbol) {
    return symbol < 144 ? 0x30 + symbol : symbol < 256 ? 0x190 + symbol - 144 : symbol < 280 ? symbol - 256
                                                                                             : 0xC0 + symbol - 280;
}

uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t load_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
uint64_t load_le64(const uint8_t* p) {
    static_assert(std::endian::native == std::endian::little);
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// ---- Encoder ----

// A code ready to write: its bits in stream order (Huffman code reversed, extra bits above) and their count.
struct BitCode {
    uint32_t bits;
    uint32_t count;
};

struct EncoderTables {
    BitCode literal[256];
    BitCode length[259];     // by match length 3..258: the length symbol's code and its extra bits
    BitCode distance[30];    // the 5-bit code of each distance symbol, without its extra bits
};

constexpr EncoderTables make_encoder_tables() {
    EncoderTables t{};
    for (unsigned s = 0; s < 256; s++) t.literal[s] = {reverse_bits(fixed_code(s), fixed_length(s)), fixed_length(s)};
    for (unsigned symbol = 0; symbol < 29; symbol++) {
        // Symbol 27's extra bits would reach 258, which has a symbol of its own.
        unsigned span = symbol == 27 ? 31 : 1u << kLengthExtra[symbol];
        unsigned code_length = fixed_length(257 + symbol);
        uint32_t code = reverse_bits(fixed_code(257 + symbol), code_length);
        for (unsigned extra = 0; extra < span; extra++) {
            t.length[kLengthBase[symbol] + extra] = {code | extra << code_length, code_length + kLengthExtra[symbol]};
        }
    }
    for (unsigned d = 0; d < 30; d++) t.distance[d] = {reverse_bits(d, 5), 5};
    return t;
}

constexpr EncoderTables kEncode = make_encoder_tables();

// The distance symbol of a distance of 1 to 32768.
inline unsigned distance_symbol(uint32_t distance) {
    uint32_t d = distance - 1;
    if (d < 4) return d;
    unsigned n = 31 - __builtin_clz(d);  // d has n + 1 bits; the symbol takes the bit below the top one
    return 2 * n + ((d >> (n - 1)) & 1);
}

// Writes bits least significant first. Bytes past the capacity are counted, not stored.
struct BitWriter {
    uint8_t* out;
    uint64_t capacity;
    uint64_t position = 0;
    uint64_t bits = 0;
    unsigned count = 0;

    // At most 32 bits at a time.
    void put(uint32_t value, unsigned n) {
        bits |= uint64_t(value) << count;
        count += n;
        if (count >= 32) {
            store(uint32_t(bits), 4);
            bits >>= 32;
            count -= 32;
        }
    }
    void store(uint32_t value, unsigned n) {
        if (position + n <= capacity) {
            for (unsigned i = 0; i < n; i++) out[position + i] = uint8_t(value >> (8 * i));
        } else {
            for (unsigned i = 0; i < n; i++) {
                if (position + i < capacity) out[position + i] = uint8_t(value >> (8 * i));
            }
        }
        position += n;
    }
    // Writes what is held, the last byte filled with zero bits.
    void finish() {
        while (count > 0) {
            store(uint32_t(bits), 1);
            bits >>= 8;
            count = count > 8 ? count - 8 : 0;
        }
    }
};

// The first hash of the encoder's match table: a bucket of four slots for the three bytes.
inline uint32_t prefix_bucket(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & 0x3FF;
}
inline uint32_t three_bytes(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

constexpr unsigned MAX_MATCH = 258;
constexpr uint32_t WINDOW = 32768;

// How many bytes from a and b agree, up to limit.
inline unsigned match_length(const uint8_t* a, const uint8_t* b, unsigned limit) {
    unsigned n = 0;
    while (n + 8 <= limit) {
        uint64_t x = load_le64(a + n) ^ load_le64(b + n);
        if (x) return n + (__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

// ---- Decoder ----

constexpr unsigned FAST_BITS = 10;

// A canonical Huffman code: codes of up to FAST_BITS bits are read with one look-up of that many stream
// bits; longer codes walk the code lengths (they are rare by construction).
struct HuffmanTable {
    uint16_t fast[1u << FAST_BITS];  // symbol << 4 | code length; 0 when the bits begin a longer or no code
    uint16_t count[16];              // codes per length
    uint16_t symbols[288];           // ordered by code length, then symbol
};

// Builds the table of n code lengths. As zlib does, a set that over-subscribes the code space is refused,
// and an incomplete one too unless it is a single code of length 1 (allowed but for the code-length code);
// a set of no codes is kept, and decoding with it fails.
bool build_table(HuffmanTable& t, const uint8_t* lengths, unsigned n, bool code_length_code) {
    std::memset(t.count, 0, sizeof t.count);
    for (unsigned i = 0; i < n; i++) t.count[lengths[i]]++;
    t.count[0] = 0;
    int left = 1;
    unsigned max = 0;
    for (unsigned len = 1; len <= 15; len++) {
        left = left * 2 - t.count[len];
        if (left < 0) return false;
        if (t.count[len]) max = len;
    }
    if (max > 0 && left > 0 && (code_length_code || max != 1)) return false;

    uint16_t offset[16];
    uint32_t next_code[16];
    offset[1] = 0;
    next_code[1] = 0;
    for (unsigned len = 1; len < 15; len++) {
        offset[len + 1] = offset[len] + t.count[len];
        next_code[len + 1] = (next_code[len] + t.count[len]) << 1;
    }
    std::memset(t.fast, 0, sizeof t.fast);
    for (unsigned symbol = 0; symbol < n; symbol++) {
        unsigned len = lengths[symbol];
        if (len == 0) continue;
        t.symbols[offset[len]++] = uint16_t(symbol);
        uint32_t code = next_code[len]++;
        if (len <= FAST_BITS) {
            uint16_t entry = uint16_t(symbol << 4 | len);
            for (uint32_t i = reverse_bits(code, len); i < (1u << FAST_BITS); i += 1u << len) t.fast[i] = entry;
        }
    }
    return true;
}

struct FixedTables {
    HuffmanTable literal, distance;
    FixedTables() {
        uint8_t lengths[288];
        for (unsigned s = 0; s < 288; s++) lengths[s] = uint8_t(fixed_length(s));
        build_table(literal, lengths, 288, false);
        // Distance symbols 30 and 31 have codes but no meaning: the decoder refuses them.
        std::memset(lengths, 5, 32);
        build_table(distance, lengths, 32, false);
    }
};

// Reads bits least significant first, eight bytes at a time where the input allows. Bits past the input's
// end do not exist: a read that needs them fails.
struct BitReader {
    const uint8_t* in;
    size_t length;
    size_t position = 0;  // next byte to load
    uint64_t bits = 0;    // held bits from bit 0; above count, the next input bits or zeros
    unsigned count = 0;

    void refill() {
        if (position + 8 <= length) {
            bits |= load_le64(in + position) << count;
            position += (63 - count) >> 3;
            count |= 56;
        } else {
            while (count <= 56 && position < length) {
                bits |= uint64_t(in[position++]) << count;
                count += 8;
            }
        }
    }
    bool need(unsigned n) {
        if (count < n) refill();
        return count >= n;
    }
    // The next n bits (n <= 32, need(n) true).
    uint32_t take(unsigned n) {
        uint32_t v = uint32_t(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    // Drops the bits up to the next byte boundary and gives back the whole bytes still held.
    void align_and_release() {
        take(count & 7);
        position -= count >> 3;
        bits = 0;
        count = 0;
    }
};

// The symbol at the reader, or -1 when the bits form no code of the table or run past the input.
inline int decode_symbol(BitReader& r, const HuffmanTable& t) {
    if (r.count < 15) r.refill();
    uint16_t entry = t.fast[r.bits & ((1u << FAST_BITS) - 1)];
    if (entry) {
        unsigned len = entry & 15;
        if (len > r.count) return -1;
        r.take(len);
        return entry >> 4;
    }
    // Canonical walk: codes of each length follow those of the length before, doubled.
    uint64_t bits = r.bits;
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= 15; len++) {
        code |= int(bits & 1);
        bits >>= 1;
        int count = t.count[len];
        if (code - first < count) {
            if (len > r.count) return -1;
            r.take(len);
            return t.symbols[index + code - first];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

struct Inflater {
    uint8_t* out;
    uint64_t capacity;
    uint64_t produced = 0;
    BitReader reader;

    void literal(uint8_t byte) {
        if (produced < capacity) out[produced] = byte;
        produced++;
    }

    // Copies length bytes from distance back (distance <= produced). Only bytes landing within the capacity
    // are stored; their sources lie before them, so within it too.
    void copy_match(uint32_t distance, uint32_t length) {
        if (produced + length + 8 <= capacity) {
            uint8_t* to = out + produced;
            const uint8_t* from = to - distance;
            if (distance >= 8) {
                // Whole words, possibly a few bytes past the match, which later output overwrites.
                for (uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
            } else if (distance == 1) {
                std::memset(to, *from, length);
            } else {
                for (uint32_t i = 0; i < length; i++) to[i] = from[i];
            }
        } else if (produced < capacity) {
            uint64_t stored = capacity - produced < length ? capacity - produced : length;
            for (uint64_t i = 0; i < stored; i++) out[produced + i] = out[produced + i - distance];
        }
        produced += length;
    }

    CodecStatus stored_block() {
        reader.align_and_release();
        BitReader& r = reader;
        if (r.length - r.position < 4) return CODEC_MALFORMED;
        uint32_t len = uint32_t(r.in[r.position]) | uint32_t(r.in[r.position + 1]) << 8;
        r.position += 4;  // LEN and NLEN; NLEN is not compared with LEN
        if (r.length - r.position < len) return CODEC_STORED_OVERRUN;
        if (produced < capacity) {
            uint64_t stored = capacity - produced < len ? capacity - produced : len;
            std::memcpy(out + produced, r.in + r.position, stored);
        }
        produced += len;
        r.position += len;
        return CODEC_DONE;
    }

    CodecStatus symbols(const HuffmanTable& literals, const HuffmanTable& distances) {
        BitReader& r = reader;
        for (;;) {
            int symbol = decode_symbol(r, literals);
            if (symbol < 0) return CODEC_MALFORMED;
            if (symbol < 256) {
                literal(uint8_t(symbol));
                continue;
            }
            if (symbol == 256) return CODEC_DONE;
            symbol -= 257;
            if (symbol >= 29) return CODEC_MALFORMED;  // 286 and 287 mean nothing
            if (!r.need(kLengthExtra[symbol])) return CODEC_MALFORMED;
            uint32_t length = kLengthBase[symbol] + r.take(kLengthExtra[symbol]);
            int d = decode_symbol(r, distances);
            if (d < 0 || d >= 30) return CODEC_MALFORMED;
            if (!r.need(kDistanceExtra[d])) return CODEC_MALFORMED;
            uint32_t distance = kDistanceBase[d] + r.take(kDistanceExtra[d]);
            if (distance > produced) return CODEC_TOO_FAR_BACK;
            copy_match(distance, length);
        }
    }

    CodecStatus dynamic_block() {
        BitReader& r = reader;
        if (!r.need(14)) return CODEC_MALFORMED;
        unsigned literal_count = r.take(5) + 257, distance_count = r.take(5) + 1, code_count = r.take(4) + 4;
        if (literal_count > 286 || distance_count > 30) return CODEC_MALFORMED;
        uint8_t lengths[320] = {};
        for (unsigned i = 0; i < code_count; i++) {
            if (!r.need(3)) return CODEC_MALFORMED;
            lengths[kCodeLengthOrder[i]] = uint8_t(r.take(3));
        }
        HuffmanTable table;
        if (!build_table(table, lengths, 19, true)) return CODEC_MALFORMED;

        unsigned total = literal_count + distance_count;
        std::memset(lengths, 0, sizeof lengths);
        for (unsigned n = 0; n < total;) {
            int symbol = decode_symbol(r, table);
            if (symbol < 0) return CODEC_MALFORMED;
            if (symbol < 16) {
                lengths[n++] = uint8_t(symbol);
                continue;
            }
            static constexpr uint8_t extra_bits[3] = {2, 3, 7}, least[3] = {3, 3, 11};
            if (!r.need(extra_bits[symbol - 16])) return CODEC_MALFORMED;
            unsigned repeat = least[symbol - 16] + r.take(extra_bits[symbol - 16]);
            uint8_t value = 0;
            if (symbol == 16) {
                if (n == 0) return CODEC_MALFORMED;  // nothing to repeat
                value = lengths[n - 1];
            }
            if (repeat > total - n) return CODEC_MALFORMED;
            std::memset(lengths + n, value, repeat);
            n += repeat;
        }
        if (lengths[256] == 0) return CODEC_MALFORMED;  // no end of block
        HuffmanTable distances;
        if (!build_table(table, lengths, literal_count, false) ||
            !build_table(distances, lengths + literal_count, distance_count, false)) {
            return CODEC_MALFORMED;
        }
        return symbols(table, distances);
    }

    CodecStatus run() {
        static const FixedTables fixed;
        for (bool last = false; !last;) {
            if (!reader.need(3)) return CODEC_MALFORMED;  // no final block
            last = reader.take(1);
            CodecStatus status;
            switch (reader.take(2)) {
                case 0: status = stored_block(); break;
                case 1: status = symbols(fixed.literal, fixed.distance); break;
                case 2: status = dynamic_block(); break;
                default: return CODEC_RESERVED_BLOCK;
            }
            if (status != CODEC_DONE) return status;
        }
        return CODEC_DONE;
    }
};

}  // namespace

CodecStatus deflate_encode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length) {
    BitWriter w{output, *size};
    w.put(1, 1);  // the last block
    w.put(1, 2);  // fixed codes
    // Slots hold a position plus one; 0 is empty.
    uint32_t slots[4096] = {};
    size_t at = 0;
    while (at < length) {
        size_t start = at;
        if (length - at < 3) {
            const BitCode& c = kEncode.literal[input[at++]];
            w.put(c.bits, c.count);
            continue;
        }
        uint32_t* bucket = slots + 4 * prefix_bucket(three_bytes(input + at));
        unsigned matched = 0;
        if (at >= 3) {
            for (int s = 0; s < 4; s++) {
                if (!bucket[s]) continue;
                size_t from = bucket[s] - 1;
                if (at - from >= WINDOW || std::memcmp(input + from, input + at, 3) != 0) continue;
                size_t limit = length - at < MAX_MATCH ? length - at : MAX_MATCH;
                matched = 3 + match_length(input + from + 3, input + at + 3, unsigned(limit - 3));
                uint32_t distance = uint32_t(at - from);
                const BitCode& len = kEncode.length[matched];
                w.put(len.bits, len.count);
                unsigned d = distance_symbol(distance);
                const BitCode& dist = kEncode.distance[d];
                w.put(dist.bits | (distance - kDistanceBase[d]) << 5, 5 + kDistanceExtra[d]);
                break;
            }
        }
        if (matched) {
            at += matched;
        } else {
            const BitCode& c = kEncode.literal[input[at++]];
            w.put(c.bits, c.count);
        }
        // With fewer than three bytes left no search follows, so the position need not be kept.
        if (length - at >= 3) {
            uint32_t next = three_bytes(input + at);
            bucket[((next >> 14) - next) & 3] = uint32_t(start + 1);
        }
    }
    w.put(0, 7);  // end of block
    w.finish();
    *size = w.position;
    return w.position > w.capacity ? CODEC_TOO_SMALL : CODEC_DONE;
}

CodecStatus inflate_decode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length) {
    Inflater z{output, *size, 0, BitReader{input, length}};
    CodecStatus status = z.run();
    *size = z.produced;
    if (status == CODEC_DONE && z.produced > z.capacity) status = CODEC_TOO_SMALL;
    return status;
}

CodecStatus zlib_encode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length) {
    uint64_t capacity = *size;
    if (capacity < 6) {
        *size = length + 6;
        return CODEC_MALFORMED;
    }
    output[0] = 0x78;  // deflate, 32 KB window
    output[1] = 0x01;  // lowest level, no dictionary; 0x7801 is a multiple of 31
    uint64_t body = capacity - 2;
    CodecStatus status = deflate_encode(output + 2, &body, input, length);
    *size = body + 6;
    if (status != CODEC_DONE || *size > capacity) return CODEC_TOO_SMALL;
    uint32_t check = adler32_sum(input, length);
    for (int i = 0; i < 4; i++) output[2 + body + i] = uint8_t(check >> (24 - 8 * i));
    return CODEC_DONE;
}

CodecStatus zlib_decode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length) {
    if (length < 6) return CODEC_MALFORMED;
    unsigned cmf = input[0], flg = input[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return CODEC_MALFORMED;
    CodecStatus status = inflate_decode(output, size, input + 2, length - 6);
    if (status != CODEC_DONE) return status;
    return adler32_sum(output, *size) == load_be32(input + length - 4) ? CODEC_DONE : CODEC_MALFORMED;
}

CodecStatus gzip_encode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length) {
    uint64_t capacity = *size;
    if (capacity < 18) {
        *size = length + 18;
        return CODEC_MALFORMED;
    }
    static constexpr uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    std::memcpy(output, header, 10);
    uint64_t body = capacity - 10;
    CodecStatus status = deflate_encode(output + 10, &body, input, length);
    *size = body + 18;
    if (status != CODEC_DONE || *size > capacity) return CODEC_TOO_SMALL;
    uint32_t check = crc32_sum(input, length), isize = uint32_t(length);
    for (int i = 0; i < 4; i++) {
        output[10 + body + i] = uint8_t(check >> (8 * i));
        output[14 + body + i] = uint8_t(isize >> (8 * i));
    }
    return CODEC_DONE;
}

CodecStatus gzip_decode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length) {
    enum : uint8_t { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 0x10 };
    if (length <= 17 || input[0] != 0x1F || input[1] != 0x8B || input[2] != 8 || input[3] >= 32) {
        return CODEC_MALFORMED;
    }
    uint8_t flags = input[3];
    // The header's fields must end before the 8-byte trailer.
    size_t end = length - 8, at = 10;
    if (flags & FEXTRA) {
        if (end - at < 2) return CODEC_MALFORMED;
        size_t extra = size_t(input[at]) | size_t(input[at + 1]) << 8;
        at += 2;
        if (end - at < extra) return CODEC_MALFORMED;
        at += extra;
    }
    for (uint8_t field : {FNAME, FCOMMENT}) {
        if (!(flags & field)) continue;
        const void* zero = std::memchr(input + at, 0, end - at);
        if (!zero) return CODEC_MALFORMED;
        at = size_t(static_cast<const uint8_t*>(zero) - input) + 1;
    }
    if (flags & FHCRC) {
        if (end - at < 2) return CODEC_MALFORMED;
        uint32_t check = uint32_t(input[at]) | uint32_t(input[at + 1]) << 8;
        if (check != (crc32_sum(input, at) & 0xFFFF)) return CODEC_MALFORMED;
        at += 2;
    }
    uint32_t crc = load_le32(input + end), isize = load_le32(input + end + 4);
    // The trailer's length is only a hint: one the body cannot produce is wrong already, so it never sizes
    // an allocation beyond what the input could fill.
    if (isize > inflate_bound(end - at)) return CODEC_MALFORMED;
    if (*size < isize) {
        *size = isize;
        return CODEC_TOO_SMALL;
    }
    CodecStatus status = inflate_decode(output, size, input + at, end - at);
    if (status == CODEC_TOO_SMALL) {
        // More than the trailer's length: only a length of 4 GB or more (kept modulo 2^32) can be right.
        return uint32_t(*size) == isize ? CODEC_TOO_SMALL : CODEC_MALFORMED;
    }
    if (status != CODEC_DONE) return status;
    if (*size != isize || crc32_sum(output, *size) != crc) return CODEC_MALFORMED;
    return CODEC_DONE;
}

}  // namespace zol::codecs
