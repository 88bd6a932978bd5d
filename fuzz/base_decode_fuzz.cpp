// libFuzzer target for the base-2, 16, 58 and 64 decoders: arbitrary text in 1-, 2- and 4-byte units must
// decode or be refused without reading past the units given, and whatever decodes must encode back to text
// that decodes to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "boot/startup.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/binary_base.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace {

using namespace zol;

void check(bool ok) {
    if (!ok) std::abort();
}

std::vector<uint8_t> bytes_of(const Cell* binary) {
    uint32_t n;
    const uint8_t* p = binary_head(binary, &n);
    return std::vector<uint8_t>(p, p + n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    runtime_start(*argc, *argv);
    run_global_code();
    stack_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const int bases[] = {2, 16, 58, 64};
    int base = bases[data[0] & 3];
    uint32_t unit = (data[0] >> 2 & 3) == 0 ? 1 : (data[0] >> 2 & 3) == 1 ? 2 : 4;
    // The units exactly: any read past them is caught by the sanitizer.
    size_t count = (size - 1) / unit;
    std::vector<uint8_t> units(data + 1, data + 1 + count * unit);
    stack_init();
    g_system.pending = UNWIND_NONE;
    GcRoot decoded, text, again;
    if (!binary_decode_base(base, units.data(), uint32_t(count), unit, decoded.get())) return 0;
    check(cell_is(decoded.get(), TYPE_BINARY));
    std::vector<uint8_t> bytes = bytes_of(decoded.get());
    binary_enbase_string(text.get(), base, decoded.get());
    check(binary_debase_string(again.get(), base, text.get()));
    check(bytes_of(again.get()) == bytes);
    return 0;
}
