// checksum, compress and decompress: they take a value's bytes (a binary from its index, any string's text
// as UTF-8, or for checksum a file's content), pick the codec by the method word and make the result.
#include "io/natives/codecs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "interpreter/natives/natives.h"
#include "io/codecs/checksum.h"
#include "io/codecs/deflate.h"
#include "io/files.h"
#include "io/natives.h"
#include "platform/platform.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/predefined.h"

namespace zol::io {

namespace {

using natives::arg;
using natives::ref_arg;
using codecs::CodecStatus;
using Codec = CodecStatus (*)(uint8_t*, uint64_t*, const uint8_t*, size_t);

// Method words, in this order; each kept as its canonical symbol id, so they match without regard to case.
enum ChecksumMethod { CK_TCP, CK_MD5, CK_SHA1, CK_CRC32, CK_ADLER32, CK_SHA256, CK_SHA384, CK_SHA512, CK_HASH, CK_COUNT };
const char* const kChecksumWords[CK_COUNT] = {"tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash"};
enum CompressMethod { CM_ZLIB, CM_DEFLATE, CM_GZIP, CM_COUNT };
const char* const kCompressWords[CM_COUNT] = {"zlib", "deflate", "gzip"};

uint32_t g_checksum_symbols[CK_COUNT];
uint32_t g_compress_symbols[CM_COUNT];

// The method's position in a list of symbols; an unknown word raises invalid-arg.
int method_of(const Cell* word, const uint32_t* symbols, int count) {
    uint32_t symbol = symbol_resolve(word_symbol(word));
    for (int i = 0; i < count; i++) {
        if (symbols[i] == symbol) return i;
    }
    fire(ERR_SCRIPT_INVALID_ARG, word);
}

// A value's bytes. A binary's, and an ASCII string's (which are its UTF-8), are read from the cell when
// asked, since a buffer is only good until the next allocation; other text (a string's UTF-8) is held
// here.
class Input {
public:
    explicit Input(const Cell* value) : value_(value), in_place_(cell_is(value, TYPE_BINARY) || string_is_ascii(value)) {
        if (!in_place_) text_ = string_to_utf8(value);
    }
    // Valid until the next allocation.
    const uint8_t* data(size_t* length) const {
        if (in_place_) {
            uint32_t n;
            const uint8_t* bytes = cell_is(value_, TYPE_BINARY) ? binary_head(value_, &n) : string_units(value_, &n);
            *length = n;
            return bytes;
        }
        *length = text_.size();
        return reinterpret_cast<const uint8_t*>(text_.data());
    }

private:
    const Cell* value_;
    bool in_place_;
    std::string text_;
};

platform::Digest digest_of(ChecksumMethod m) {
    switch (m) {
        case CK_MD5: return platform::Digest::md5;
        case CK_SHA1: return platform::Digest::sha1;
        case CK_SHA256: return platform::Digest::sha256;
        case CK_SHA384: return platform::Digest::sha384;
        default: return platform::Digest::sha512;
    }
}

// Makes the call's result a new binary of the given bytes.
void result_binary(const uint8_t* bytes, size_t length) {
    GcRoot result;
    std::memcpy(binary_make_at(result.get(), uint32_t(length)), bytes, length);
    binary_set_length(result.get(), uint32_t(length));
    stack_set_only_result(result.get());
}

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

// Runs a decoder over the input into a new binary of the given capacity (0 only learns the size), which
// becomes the call's result when it holds the output. Returns the decoder's status, its size in size.
CodecStatus decode_into_result(Codec decode, const Input& input, uint64_t capacity, uint64_t* size) {
    GcRoot result;
    // A size past what a buffer can hold raises no-memory here.
    uint8_t* out = binary_make_at(result.get(), capacity > UINT32_MAX ? UINT32_MAX : uint32_t(capacity));
    size_t length;
    const uint8_t* in = input.data(&length);
    *size = capacity;
    CodecStatus status = decode(out, size, in, length);
    if (status == codecs::CODEC_DONE) {
        binary_set_length(result.get(), uint32_t(*size));
        stack_set_only_result(result.get());
    }
    return status;
}

}  // namespace

void codec_words_init() {
    for (int i = 0; i < CK_COUNT; i++) g_checksum_symbols[i] = symbol_resolve(symbol_make(kChecksumWords[i]));
    for (int i = 0; i < CM_COUNT; i++) g_compress_symbols[i] = symbol_resolve(symbol_make(kCompressWords[i]));
}

// checksum data method /with spec
uint32_t native_checksum(const int32_t* refs) {
    Cell* data = arg(0);
    Cell* method = arg(1);
    Cell* spec = ref_arg(refs, 0);
    int m = method_of(method, g_checksum_symbols, CK_COUNT);
    // A file's content is read whole by the file services, into a binary held here.
    GcRoot content;
    if (cell_is(data, TYPE_FILE)) read_file_bytes(data, content.get());
    Input input(cell_is(data, TYPE_FILE) ? content.get() : data);
    size_t length;
    if (m == CK_CRC32 || m == CK_TCP || m == CK_ADLER32) {
        if (spec) fire(ERR_SCRIPT_INVALID_REFINE_ARG, &g_refinement[R_WITH], method);
        const uint8_t* bytes = input.data(&length);
        uint32_t sum = m == CK_CRC32 ? codecs::crc32_sum(bytes, length)
                     : m == CK_TCP   ? codecs::tcp_sum(bytes, length)
                                     : codecs::adler32_sum(bytes, length);
        set_integer(g_args.base, int32_t(sum));
        stack_keep_result();
        return 0;
    }
    if (spec) {
        // An integer asks for the hash-table checksum, which the system does not have.
        if (cell_is(spec, TYPE_INTEGER)) fire(ERR_INTERNAL_NOT_DONE);
        if (!cell_is(spec, TYPE_STRING) && !cell_is(spec, TYPE_BINARY)) fire(ERR_SCRIPT_INVALID_ARG, spec);
    }
    if (m == CK_HASH) fire(ERR_SCRIPT_INVALID_REFINE_ARG, &g_refinement[R_WITH], method);
    platform::Digest digest = digest_of(ChecksumMethod(m));
    uint8_t out[platform::DIGEST_MAX_SIZE];
    const uint8_t* bytes = input.data(&length);
    bool done;
    if (spec) {
        Input key(spec);
        size_t key_length;
        const uint8_t* key_bytes = key.data(&key_length);
        done = codecs::hmac(digest, key_bytes, key_length, bytes, length, out);
    } else {
        done = codecs::digest(digest, bytes, length, out);
    }
    // libcrypto refuses a digest its configuration forbids (MD5 under FIPS, for one).
    if (!done) fire(ERR_INTERNAL_NOT_HERE, method);
    result_binary(out, platform::digest_size(digest));
    return 0;
}

// compress data method
uint32_t native_compress(const int32_t*) {
    static const Codec encoders[CM_COUNT] = {codecs::zlib_encode, codecs::deflate_encode, codecs::gzip_encode};
    Cell* method = arg(1);
    int m = method_of(method, g_compress_symbols, CM_COUNT);
    Input input(arg(0));
    size_t length;
    const uint8_t* in = input.data(&length);
    // Fixed codes spend at most 9 bits on a byte: with the framing this always suffices. The output goes to
    // a scratch buffer first, so that the result's buffer is exactly as long as it.
    uint64_t size = length + length / 8 + 32;
    std::unique_ptr<uint8_t, FreeDeleter> scratch(static_cast<uint8_t*>(std::malloc(size)));
    if (!scratch) fire(ERR_INTERNAL_NO_MEMORY);
    if (encoders[m](scratch.get(), &size, in, length) != codecs::CODEC_DONE) fire(ERR_SCRIPT_INVALID_DATA, method);
    result_binary(scratch.get(), size);
    return 0;
}

// decompress data method /size sz
uint32_t native_decompress(const int32_t* refs) {
    static const Codec decoders[CM_COUNT] = {codecs::zlib_decode, codecs::inflate_decode, codecs::gzip_decode};
    Cell* method = arg(1);
    int m = method_of(method, g_compress_symbols, CM_COUNT);
    Input input(arg(0));
    size_t length;
    input.data(&length);
    // The decoder learns the size first, without a buffer (gzip from its trailer; zlib and deflate by
    // counting what they would write), unless /size expects more than the input's length, which then sizes
    // the first buffer: zlib or deflate output cannot exceed the bound, so it is never asked beyond it.
    uint64_t first = 0;
    const Cell* size = ref_arg(refs, 0);
    if (m != CM_GZIP && size && cell_int(size) > 0 && uint64_t(cell_int(size)) > length) {
        first = std::min<uint64_t>(uint64_t(cell_int(size)), codecs::inflate_bound(length));
    }
    uint64_t needed;
    CodecStatus status = decode_into_result(decoders[m], input, first, &needed);
    if (status == codecs::CODEC_TOO_SMALL) {
        uint64_t capacity = needed;
        status = decode_into_result(decoders[m], input, capacity, &needed);
        if (needed != capacity) status = codecs::CODEC_MALFORMED;
    }
    if (status != codecs::CODEC_DONE) fire(ERR_SCRIPT_INVALID_DATA, method);
    return 0;
}

}  // namespace zol::io
