// Message digests (MD5, SHA-1 and SHA-2) through OpenSSL's libcrypto, which only platform/ may include.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zol::platform {

enum class Digest : uint8_t { md5, sha1, sha256, sha384, sha512 };

constexpr size_t DIGEST_MAX_SIZE = 64;
// The digest's length in bytes.
size_t digest_size(Digest method);
// The bytes the digest's compression function takes at a time (HMAC pads keys to it).
size_t digest_block_size(Digest method);

// A run of bytes to digest.
struct ByteRun {
    const uint8_t* bytes;
    size_t length;
};
// The digest of the runs one after the other into out (digest_size bytes); false when libcrypto failed.
bool digest(Digest method, const ByteRun* runs, size_t count, uint8_t* out);

}  // namespace zol::platform
