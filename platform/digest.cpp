// Digests through libcrypto's EVP interface. Every call's result is checked: a failure gives false and the
// caller raises, so a digest is never a buffer left as it was. libcrypto is loaded on the first digest, not at
// start-up: binding its tens of thousands of relocations would cost every run of the program.
#include "platform/digest.h"

#include <dlfcn.h>
#include <openssl/evp.h>

namespace zol::platform {

namespace {

// The entries of libcrypto the digests use, found once; all null when the library cannot be loaded.
struct Crypto {
    const EVP_MD* (*md5)();
    const EVP_MD* (*sha1)();
    const EVP_MD* (*sha256)();
    const EVP_MD* (*sha384)();
    const EVP_MD* (*sha512)();
    EVP_MD_CTX* (*ctx_new)();
    int (*init)(EVP_MD_CTX*, const EVP_MD*, ENGINE*);
    int (*update)(EVP_MD_CTX*, const void*, size_t);
    int (*final)(EVP_MD_CTX*, unsigned char*, unsigned int*);
    void (*ctx_free)(EVP_MD_CTX*);
    bool loaded;
};

template <typename Fn>
bool find(void* library, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(dlsym(library, name));
    return *out != nullptr;
}

const Crypto& crypto() {
    static const Crypto c = [] {
        Crypto k{};
        void* library = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        if (!library) return k;
        k.loaded = find(library, "EVP_md5", &k.md5) && find(library, "EVP_sha1", &k.sha1) &&
                   find(library, "EVP_sha256", &k.sha256) && find(library, "EVP_sha384", &k.sha384) &&
                   find(library, "EVP_sha512", &k.sha512) && find(library, "EVP_MD_CTX_new", &k.ctx_new) &&
                   find(library, "EVP_DigestInit_ex", &k.init) && find(library, "EVP_DigestUpdate", &k.update) &&
                   find(library, "EVP_DigestFinal_ex", &k.final) && find(library, "EVP_MD_CTX_free", &k.ctx_free);
        return k;
    }();
    return c;
}

const EVP_MD* evp_of(const Crypto& c, Digest method) {
    switch (method) {
        case Digest::md5: return c.md5();
        case Digest::sha1: return c.sha1();
        case Digest::sha256: return c.sha256();
        case Digest::sha384: return c.sha384();
        case Digest::sha512: return c.sha512();
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
    const Crypto& c = crypto();
    if (!c.loaded) return false;
    const EVP_MD* md = evp_of(c, method);
    if (!md) return false;
    EVP_MD_CTX* context = c.ctx_new();
    if (!context) return false;
    bool ok = c.init(context, md, nullptr) == 1;
    for (size_t i = 0; ok && i < count; i++) {
        ok = runs[i].length == 0 || c.update(context, runs[i].bytes, runs[i].length) == 1;
    }
    unsigned int written = 0;
    ok = ok && c.final(context, out, &written) == 1 && written == digest_size(method);
    c.ctx_free(context);
    return ok;
}

}  // namespace zol::platform
