// Checksums and digests over byte buffers.
#include "io/codecs/checksum.h"

#include <array>
#include <cstring>

namespace zol::codecs {

namespace {

// Eight CRC tables, made at compile time: table 0 is the classic byte-at-a-time table, table k advances a
// byte's CRC over k more zero bytes, which lets the loop take eight bytes per step.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables make_crc_tables() {
    CrcTables t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; n++) {
        for (int k = 1; k < 8; k++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
    return t;
}

constexpr CrcTables kCrc = make_crc_tables();

uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t crc32_sum(const uint8_t* bytes, size_t length, uint32_t running) {
    uint32_t c = ~running;
    while (length >= 8) {
        uint32_t lo = load_le32(bytes) ^ c, hi = load_le32(bytes + 4);
        c = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
            kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^ kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
        bytes += 8;
        length -= 8;
    }
    while (length--) c = kCrc[0][(c ^ *bytes++) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t adler32_sum(const uint8_t* bytes, size_t length) {
    constexpr uint32_t MOD = 65521;
    // The most bytes after which b still fits 32 bits before it is reduced.
    constexpr size_t CHUNK = 5552;
    uint32_t a = 1, b = 0;
    while (length > 0) {
        size_t n = length < CHUNK ? length : CHUNK;
        length -= n;
        while (n--) {
            a += *bytes++;
            b += a;
        }
        a %= MOD;
        b %= MOD;
    }
    return b << 16 | a;
}

uint32_t tcp_sum(const uint8_t* bytes, size_t length) {
    // A 64-bit sum cannot carry out for any input a series holds; folding until nothing is left above
    // 16 bits keeps the ones'-complement end-around carries.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (i < length) sum += uint32_t(bytes[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return ~uint32_t(sum) & 0xFFFF;
}

bool digest(platform::Digest method, const uint8_t* bytes, size_t length, uint8_t* out) {
    platform::ByteRun run{bytes, length};
    return platform::digest(method, &run, 1, out);
}

bool hmac(platform::Digest method, const uint8_t* key, size_t key_length, const uint8_t* message,
          size_t message_length, uint8_t* out) {
    size_t block = platform::digest_block_size(method), size = platform::digest_size(method);
    uint8_t hashed_key[platform::DIGEST_MAX_SIZE];
    if (key_length > block) {
        if (!digest(method, key, key_length, hashed_key)) return false;
        key = hashed_key;
        key_length = size;
    }
    uint8_t inner_pad[128] = {}, outer_pad[128] = {};
    std::memcpy(inner_pad, key, key_length);
    std::memcpy(outer_pad, key, key_length);
    for (size_t i = 0; i < block; i++) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    uint8_t inner[platform::DIGEST_MAX_SIZE];
    platform::ByteRun inner_runs[] = {{inner_pad, block}, {message, message_length}};
    if (!platform::digest(method, inner_runs, 2, inner)) return false;
    platform::ByteRun outer_runs[] = {{outer_pad, block}, {inner, size}};
    return platform::digest(method, outer_runs, 2, out);
}

}  // namespace zol::codecs
