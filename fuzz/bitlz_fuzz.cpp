// libFuzzer target for the bit-level LZ codec: arbitrary bytes as a compressed record must decode or be
// refused without reading or writing out of bounds, and any input the encoder accepts must decode back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/bitlz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t produced = 0;
    if (uint8_t* out = zol::bitlz_decompress(data, size, &produced)) {
        // The head's output size bounds what the blocks may produce.
        uint32_t output_size = uint32_t(data[4]) | uint32_t(data[5]) << 8 | uint32_t(data[6]) << 16 |
                               uint32_t(data[7]) << 24;
        if (produced > output_size) std::abort();
        zol::bitlz_free(out);
    }

    if (size < zol::BITLZ_MIN_SOURCE) return 0;
    std::vector<uint8_t> record(size - 8);
    int64_t length = zol::bitlz_compress(data, size, record.data());
    if (length < 0) return 0;
    if (length > int64_t(size - 8)) std::abort();
    uint8_t* back = zol::bitlz_decompress(record.data(), size_t(length), &produced);
    if (!back || produced != size || std::memcmp(back, data, size) != 0) std::abort();
    zol::bitlz_free(back);
    return 0;
}
