// libFuzzer target for the binary value format's reader: arbitrary bytes as an image in codec mode and in
// boot mode (into a block of its own), as they are and with the compressed flag set over a compressed copy of
// their body, in both encodings. Each run must end in values or an error (zb-invalid-record, invalid-data,
// no-codec, or stack-overflow from the machine stack's guard) without reading out of bounds; what was
// decoded must survive a collection, and what decodes must encode and decode again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "boot/startup.h"
#include "io/zolbin/zolbin.h"
#include "runtime/bitlz.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"

namespace {

using namespace zol;

void check(bool ok) {
    if (!ok) std::abort();
}

// Runs the body inside a try frame, as the try native does; true when it raised.
template <typename Body>
bool attempt(Body body) {
    stack_init();
    g_system.pending = UNWIND_NONE;
    stack_mark_try(&g_word[W_TRY]);
    bool raised = false;
    try {
        body();
    } catch (const ErrorUnwind&) {
        raised = true;
    } catch (const PendingUnwind&) {
        raised = true;
    }
    g_system.pending = UNWIND_NONE;
    stack_init();
    return raised;
}

// A compressed body may stand for hundreds of times its size, all of it sound records: the fuzzer keeps to
// bodies of a few megabytes at most, so that what it decodes fits the memory it is given.
constexpr uint32_t MAX_UNPACKED = 4u << 20;

bool unpacks_too_large(const std::vector<uint8_t>& image) {
    if (image.size() < 8 + BITLZ_HEAD_SIZE || !(image[7] & ZOLBIN_COMPRESSED)) return false;
    const uint8_t* size = image.data() + 8 + 4;  // the bit-LZ head: stream length, then output size
    uint32_t unpacked = uint32_t(size[0]) | uint32_t(size[1]) << 8 | uint32_t(size[2]) << 16 | uint32_t(size[3]) << 24;
    return unpacked > MAX_UNPACKED;
}

void decode_both_ways(const std::vector<uint8_t>& image, bool collect) {
    if (unpacks_too_large(image)) return;
    GcRoot payload, out, block;
    binary_load_at(payload.get(), image.data(), image.size());
    if (!attempt([&] { zolbin_decode_value(payload.get(), out.get()); })) {
        if (collect) gc_collect();
        // A decoded value encodes, and its image decodes again.
        GcRoot again, back;
        for (bool compact : {true, false}) {
            attempt([&] {
                if (compact) {
                    zolbin_encode_compact(out.get(), again.get());
                } else {
                    zolbin_encode(out.get(), again.get());
                }
                zolbin_decode_value(again.get(), back.get());
            });
        }
    }
    block_make_at(block.get(), 4);
    attempt([&] { zolbin_decode_boot(image.data(), image.size(), block.get()); });
    if (collect) gc_collect();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    runtime_start(*argc, *argv);
    run_global_code();
    stack_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint32_t runs = 0;
    bool collect = (runs++ & 15) == 0;
    // The bytes after a header of the input's first byte's choosing: compact or standard, with symbols or not.
    std::vector<uint8_t> image = {'Z', 'O', 'L', 'B', 'I', 'N', 2, uint8_t(size ? data[0] & 5 : 1)};
    if (size) image.insert(image.end(), data + 1, data + size);
    decode_both_ways(image, collect);
    // The input as a whole image, magic and all.
    decode_both_ways(std::vector<uint8_t>(data, data + size), false);
    // The body compressed, under the compressed flag.
    if (image.size() - 8 >= BITLZ_MIN_SOURCE) {
        std::vector<uint8_t> packed(image.size() - 8);
        int64_t n = bitlz_compress(image.data() + 8, image.size() - 8, packed.data());
        if (n > 0) {
            std::vector<uint8_t> compressed(image.begin(), image.begin() + 8);
            compressed[7] |= ZOLBIN_COMPRESSED;
            compressed.insert(compressed.end(), packed.begin(), packed.begin() + n);
            decode_both_ways(compressed, false);
        }
    }
    check(g_system.pending == UNWIND_NONE);
    return 0;
}
