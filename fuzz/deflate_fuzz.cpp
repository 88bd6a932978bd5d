// libFuzzer target for the deflate codec: arbitrary bytes go to the raw, zlib and gzip decoders, first to
// learn the size and then into a buffer of that size, which must agree; and any input must come back
// whole through each encoder and its decoder.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/codecs/deflate.h"

using namespace zol::codecs;

namespace {

using Codec = CodecStatus (*)(uint8_t*, uint64_t*, const uint8_t*, size_t);

// Output sizes past this are only sized, not decoded again (a deflate stream inflates 1032-fold at most).
constexpr uint64_t SECOND_PASS_LIMIT = 1 << 24;

void decode_twice(Codec decode, const uint8_t* data, size_t size) {
    uint64_t needed = 0;
    CodecStatus first = decode(nullptr, &needed, data, size);
    if (first != CODEC_TOO_SMALL) return;
    if (needed > inflate_bound(size)) std::abort();
    if (needed > SECOND_PASS_LIMIT) return;
    std::vector<uint8_t> out(needed);
    uint64_t got = needed;
    CodecStatus second = decode(out.data(), &got, data, size);
    if (decode == inflate_decode && (second != CODEC_DONE || got != needed)) std::abort();
    // zlib and gzip check the output against their trailers only once it is all there.
    if (second == CODEC_DONE && got != needed) std::abort();
    if (second == CODEC_TOO_SMALL && decode != gzip_decode) std::abort();
}

void round_trip(Codec encode, Codec decode, const uint8_t* data, size_t size) {
    std::vector<uint8_t> packed(size + 32);
    uint64_t packed_size = packed.size();
    CodecStatus status = encode(packed.data(), &packed_size, data, size);
    if (status == CODEC_TOO_SMALL) {
        packed.resize(packed_size);
        status = encode(packed.data(), &packed_size, data, size);
    }
    if (status != CODEC_DONE) std::abort();
    std::vector<uint8_t> back(size + 1);
    uint64_t back_size = back.size();
    if (decode(back.data(), &back_size, packed.data(), packed_size) != CODEC_DONE || back_size != size ||
        (size && std::memcmp(back.data(), data, size) != 0)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode_twice(inflate_decode, data, size);
    decode_twice(zlib_decode, data, size);
    decode_twice(gzip_decode, data, size);
    round_trip(deflate_encode, inflate_decode, data, size);
    round_trip(zlib_encode, zlib_decode, data, size);
    round_trip(gzip_encode, gzip_decode, data, size);
    return 0;
}
