// Checksums and message digests over byte buffers: CRC-32, Adler-32 and the internet checksum are computed
// here; MD5 and the SHA family come from the platform's digests, and HMAC (RFC 2104) is built on them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/digest.h"

namespace zol::codecs {

// CRC-32 of ISO-HDLC (reflected polynomial EDB88320, as zlib and gzip use it). A running CRC continues from
// the value of the bytes before.
uint32_t crc32_sum(const uint8_t* bytes, size_t length, uint32_t running = 0);
// Adler-32 (RFC 1950).
uint32_t adler32_sum(const uint8_t* bytes, size_t length);
// The internet checksum (RFC 1071): the complement of the ones'-complement sum of big-endian 16-bit words,
// an odd last byte padded with a zero byte.
uint32_t tcp_sum(const uint8_t* bytes, size_t length);

// The digest of the bytes into out (platform::digest_size bytes); false when the platform's digest failed.
bool digest(platform::Digest method, const uint8_t* bytes, size_t length, uint8_t* out);
// HMAC of the message under the key into out (the method's digest size); false when a digest failed.
bool hmac(platform::Digest method, const uint8_t* key, size_t key_length, const uint8_t* message,
          size_t message_length, uint8_t* out);

}  // namespace zol::codecs
