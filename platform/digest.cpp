// Digests through libcrypto's EVP interface. Every call's result is checked: a failure gives false and the
// caller raises, so a digest is never a buffer left as it was.
#include "platform/digest.h"

#include <openssl/evp.h>

namespace zol::platform {

namespace {

const EVP_MD* evp_of(Digest method) {
    switch (method) {
        case Digest::md5: return EVP_md5();
        case Digest::sha1: return EVP_sha1();
        case Digest::sha256: return EVP_sha256();
        case Digest::sha384: return EVP_sha384();
        case Digest::sha512: return EVP_sha512();
    }
    return nullptr;
}

}  // namespace

size_t digest_size(Digest method) {
    switch (method) {
        case Digest::md5: return 16;
        case Digest::sha1: return 20;
        case Digest::sha256: return 32;
        case Digest::sha384: return 48;
        case Digest::sha512: return 64;
    }
    return 0;
}

size_t digest_block_size(Digest method) {
    return method == Digest::sha384 || method == Digest::sha512 ? 128 : 64;
}

bool digest(Digest method, const ByteRun* runs, size_t count, uint8_t* out) {
    const EVP_MD* md = evp_of(method);
    if (!md) return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!context) return false;
    bool ok = EVP_DigestInit_ex(context, md, nullptr) == 1;
    for (size_t i = 0; ok && i < count; i++) {
        ok = runs[i].length == 0 || EVP_DigestUpdate(context, runs[i].bytes, runs[i].length) == 1;
    }
    unsigned int written = 0;
    ok = ok && EVP_DigestFinal_ex(context, out, &written) == 1 && written == digest_size(method);
    EVP_MD_CTX_free(context);
    return ok;
}

}  // namespace zol::platform
