// The bit-level LZ codec: a decoder that trusts nothing in its input, and the greedy hash-chain encoder
// that writes the same format.
//
// Tokens: 0 + 8 bits is a literal byte; 1 + length code + distance code is a match that copies n + 3 bytes
// from d + 1 bytes back in the current block. Length code: a prefix of k zeros ended by a one (k < 5) then
// LENGTH_EXTRA[k] bits added to LENGTH_BASE[k]; five zeros then 9 bits added to 52. Distance code: 4 bits
// give j = field + 2; j = 2 is followed by d in 3 bits, otherwise d = 2^j + a j-bit field.
#include "bitlz.h"

#include <bit>
#include <cstring>

#include "memory.h"

namespace zol {

namespace {

constexpr uint8_t LENGTH_EXTRA[6] = {2, 2, 2, 3, 5, 9};
constexpr uint16_t LENGTH_BASE[6] = {0, 4, 8, 12, 20, 52};
// The cheapest token for the most output: a match of 566 bytes at d < 8 costs 1 + 5 + 9 + 4 + 3 bits.
constexpr uint64_t MAX_MATCH_BITS_COST = 22;

inline uint32_t load_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void store_u32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint64_t low_bits(uint32_t n) { return n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1; }

// Decodes one block whose length word starts at stream + *pos, leaving *pos after its last token byte.
bool decode_block(BitlzState* s, const uint8_t* stream, size_t stream_length, size_t* pos) {
    if (stream_length - *pos < 4) return false;
    uint32_t length = load_u32(stream + *pos);
    if (length < 1 || length > BITLZ_MAX_BLOCK) return false;
    uint8_t* out = bitlz_reserve(s, length);
    if (!out) return false;
    s->in = stream + *pos + 4;
    s->bits = 0;
    s->count = 0;

    uint32_t i = 0;
    while (i < length) {
        if (bitlz_get_bits(1, s) == 0) {
            uint32_t byte = bitlz_get_bits(8, s);
            if (s->error) return false;
            out[i++] = uint8_t(byte);
            continue;
        }
        uint32_t row = 0;
        while (row < 5 && bitlz_get_bits(1, s) == 0) row++;
        uint32_t n = LENGTH_BASE[row] + bitlz_get_bits(LENGTH_EXTRA[row], s);
        uint32_t j = bitlz_get_bits(4, s) + 2;
        uint32_t d = j == 2 ? bitlz_get_bits(3, s) : (1u << j) + bitlz_get_bits(j, s);
        if (s->error) return false;
        // Matches stay inside the block: they neither start before it nor run past its end.
        if (d >= i || n + BITLZ_MIN_MATCH > length - i) return false;
        // Byte by byte: an overlapping copy repeats the bytes it has just written.
        const uint8_t* from = out + i - d - 1;
        for (uint32_t k = 0; k < n + BITLZ_MIN_MATCH; k++) out[i + k] = from[k];
        i += n + BITLZ_MIN_MATCH;
    }
    // Bits left in the accumulator are the padding of the block's last byte.
    *pos = size_t(s->in - stream);
    return true;
}

// The encoder's search tables, sized for the largest chunk (capped at the sizes worth having for a full
// block) so a short source does not pay for clearing megabytes. Entries hold a position in the current
// chunk plus one; 0 means none, and every table is cleared for each chunk so no match crosses a block.
struct MatchFinder {
    uint32_t* head3;  // latest position of each 3-byte hash: finds short, close matches
    uint32_t* head4;  // latest position of each 4-byte hash, start of its chain
    uint32_t* chain;  // for each position (modulo the chain size), the previous one with the same 4-byte hash
    uint32_t shift3, shift4;
    uint32_t size3, size4, chain_mask;
};

constexpr uint32_t MAX_HASH3_BITS = 19;
constexpr uint32_t MAX_HASH4_BITS = 20;
constexpr uint32_t MAX_CHAIN_STEPS = 48;  // bounds the search on data with many equal hashes

void finder_open(MatchFinder* f, size_t chunk) {
    uint32_t chunk_bits = uint32_t(std::bit_width(chunk - 1));
    uint32_t bits4 = chunk_bits + 1 < MAX_HASH4_BITS ? chunk_bits + 1 : MAX_HASH4_BITS;
    uint32_t bits3 = bits4 - 1 < MAX_HASH3_BITS ? bits4 - 1 : MAX_HASH3_BITS;
    uint32_t chain = chunk_bits < 18 ? 1u << chunk_bits : BITLZ_WINDOW;
    f->size3 = 1u << bits3;
    f->size4 = 1u << bits4;
    f->shift3 = 32 - bits3;
    f->shift4 = 32 - bits4;
    f->chain_mask = chain - 1;
    f->head3 = static_cast<uint32_t*>(tracked_alloc(size_t(f->size3) * 4));
    f->head4 = static_cast<uint32_t*>(tracked_alloc(size_t(f->size4) * 4));
    f->chain = static_cast<uint32_t*>(tracked_alloc(size_t(chain) * 4));
}

void finder_close(MatchFinder* f) {
    tracked_free(f->head3);
    tracked_free(f->head4);
    tracked_free(f->chain);
}

inline uint32_t hash3(const uint8_t* p, uint32_t shift) {
    return ((uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16) * 2654435761u) >> shift;
}
inline uint32_t hash4(const uint8_t* p, uint32_t shift) { return (load_u32(p) * 2654435761u) >> shift; }

inline void finder_insert(MatchFinder* f, const uint8_t* chunk, uint32_t length, uint32_t i) {
    if (length - i >= 3) f->head3[hash3(chunk + i, f->shift3)] = i + 1;
    if (length - i >= 4) {
        uint32_t& head = f->head4[hash4(chunk + i, f->shift4)];
        f->chain[i & f->chain_mask] = head;
        head = i + 1;
    }
}

inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

struct Match {
    uint32_t length;    // bytes; below BITLZ_MIN_MATCH means none
    uint32_t distance;  // d: the copy starts d + 1 bytes back
};

// The longest match for position i, searched before i itself is inserted: a candidate at most a window
// back still owns its chain slot then, so each chain only steps to older positions.
Match finder_search(const MatchFinder* f, const uint8_t* chunk, uint32_t length, uint32_t i) {
    Match best{0, 0};
    uint32_t limit = length - i < BITLZ_MAX_MATCH ? length - i : BITLZ_MAX_MATCH;
    if (limit < BITLZ_MIN_MATCH) return best;
    auto consider = [&](uint32_t c) {
        if (chunk[c + best.length] != chunk[i + best.length]) return;
        uint32_t n = common_length(chunk + c, chunk + i, limit);
        if (n > best.length) best = {n, i - c - 1};
    };
    uint32_t c3 = f->head3[hash3(chunk + i, f->shift3)];
    if (c3 && i - (c3 - 1) <= BITLZ_WINDOW) consider(c3 - 1);
    if (limit >= 4) {
        uint32_t c = f->head4[hash4(chunk + i, f->shift4)];
        for (uint32_t steps = 0; c && steps < MAX_CHAIN_STEPS && best.length < limit; steps++) {
            uint32_t at = c - 1;
            if (i - at > BITLZ_WINDOW) break;
            consider(at);
            c = f->chain[at & f->chain_mask];
        }
    }
    if (best.length < BITLZ_MIN_MATCH) best.length = 0;
    return best;
}

void put_match(BitlzState* s, uint32_t length, uint32_t d) {
    bitlz_put_bits(1, 1, s);
    uint32_t n = length - BITLZ_MIN_MATCH;
    uint32_t row = 0;
    while (row < 5 && n >= LENGTH_BASE[row + 1]) row++;
    if (row < 5) bitlz_put_bits(row + 1, 1u << row, s);  // row zeros, then a one
    else bitlz_put_bits(5, 0, s);
    bitlz_put_bits(LENGTH_EXTRA[row], n - LENGTH_BASE[row], s);
    if (d < 8) {
        bitlz_put_bits(4, 0, s);
        bitlz_put_bits(3, d, s);
    } else {
        uint32_t j = uint32_t(std::bit_width(d)) - 1;
        bitlz_put_bits(4, j - 2, s);
        bitlz_put_bits(j, d - (1u << j), s);
    }
}

void encode_chunk(BitlzState* s, MatchFinder* f, const uint8_t* chunk, uint32_t length) {
    std::memset(f->head3, 0, size_t(f->size3) * 4);
    std::memset(f->head4, 0, size_t(f->size4) * 4);
    uint32_t i = 0;
    while (i < length && !s->error) {
        Match m = finder_search(f, chunk, length, i);
        if (m.length == 0) {
            bitlz_put_bits(1, 0, s);
            bitlz_put_bits(8, chunk[i], s);
            finder_insert(f, chunk, length, i);
            i++;
            continue;
        }
        // Any match pays: at most 25 bits against 27 for three literals.
        put_match(s, m.length, m.distance);
        for (uint32_t k = 0; k < m.length; k++) finder_insert(f, chunk, length, i + k);
        i += m.length;
    }
    // Each block ends on a whole byte.
    bitlz_put_bits((8 - s->count) & 7, 0, s);
}

}  // namespace

void bitlz_init(BitlzState* s, size_t capacity, const uint8_t* input, size_t input_length) {
    *s = BitlzState{};
    s->capacity = capacity;
    s->in = input;
    s->in_end = input ? input + input_length : nullptr;
    if (input) s->out = static_cast<uint8_t*>(tracked_alloc(capacity + 8));
}

uint8_t* bitlz_reserve(BitlzState* s, size_t n) {
    if (s->error || n > s->capacity - s->used) {
        s->error = true;
        return nullptr;
    }
    uint8_t* place = s->out + s->used;
    s->used += n;
    return place;
}

void bitlz_put_bits(uint32_t n, uint32_t value, BitlzState* s) {
    s->bits |= (uint64_t(value) & low_bits(n)) << s->count;
    s->count += n;
    while (s->count >= 8) {
        uint8_t* place = bitlz_reserve(s, 1);
        if (!place) return;
        *place = uint8_t(s->bits);
        s->bits >>= 8;
        s->count -= 8;
    }
}

uint32_t bitlz_get_bits(uint32_t n, BitlzState* s) {
    while (s->count < n) {
        if (s->in >= s->in_end) {
            s->error = true;
            return 0;
        }
        s->bits |= uint64_t(*s->in++) << s->count;
        s->count += 8;
    }
    uint32_t value = uint32_t(s->bits & low_bits(n));
    s->bits >>= n;
    s->count -= n;
    return value;
}

uint8_t* bitlz_decompress(const uint8_t* record, size_t record_length, uint32_t* produced) {
    if (!record || record_length < BITLZ_HEAD_SIZE) return nullptr;
    uint32_t stream_length = load_u32(record);
    uint32_t output_size = load_u32(record + 4);
    if (stream_length > record_length - BITLZ_HEAD_SIZE) return nullptr;
    // No stream of this length can yield more than this; refusing a larger size keeps a damaged head
    // from asking the heap for gigabytes.
    if (uint64_t(output_size) * MAX_MATCH_BITS_COST > uint64_t(stream_length) * 8 * BITLZ_MAX_MATCH) return nullptr;

    const uint8_t* stream = record + BITLZ_HEAD_SIZE;
    BitlzState s;
    bitlz_init(&s, output_size, stream, stream_length);
    size_t pos = 0;
    while (pos < stream_length) {
        if (!decode_block(&s, stream, stream_length, &pos)) {
            tracked_free(s.out);
            return nullptr;
        }
    }
    if (produced) *produced = uint32_t(s.used);
    return s.out;
}

void bitlz_free(uint8_t* buffer) { tracked_free(buffer); }

int64_t bitlz_compress(const uint8_t* source, size_t length, uint8_t* output) {
    if (!source || length < BITLZ_MIN_SOURCE || length > UINT32_MAX) return -1;
    BitlzState s;
    bitlz_init(&s, length - BITLZ_HEAD_SIZE, nullptr, 0);
    s.out = output;
    s.used = BITLZ_HEAD_SIZE;

    MatchFinder f;
    finder_open(&f, length < BITLZ_MAX_BLOCK ? length : BITLZ_MAX_BLOCK);
    for (size_t start = 0; start < length && !s.error; start += BITLZ_MAX_BLOCK) {
        uint32_t chunk = uint32_t(length - start < BITLZ_MAX_BLOCK ? length - start : BITLZ_MAX_BLOCK);
        uint8_t* word = bitlz_reserve(&s, 4);
        if (!word) break;
        store_u32(word, chunk);
        encode_chunk(&s, &f, source + start, chunk);
    }
    finder_close(&f);
    if (s.error) return -1;

    store_u32(output, uint32_t(s.used - BITLZ_HEAD_SIZE));
    store_u32(output + 4, uint32_t(length));
    return int64_t(s.used);
}

}  // namespace zol
