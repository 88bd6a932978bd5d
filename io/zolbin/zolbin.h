// Zolbin, the binary value format: values saved and loaded as bytes, and the boot image that start-up loads.
// An image is an 8-byte header ("ZOLBIN", a version byte, a flags byte) and a body: an optional symbol table
// and the root values' records, in the standard encoding (32-bit words) or the compact one (bytes and
// variable-length integers), possibly bit-LZ compressed. The reader runs in boot mode (the boot image: "set"
// records, words bound to root values) or codec mode (every other load and every save).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace zol {

// The reading mode: set by both writers and by every codec decode, cleared only by a boot load.
extern bool g_zolbin_codec;

// Bits of the header's flags byte.
constexpr uint8_t ZOLBIN_COMPACT = 1;
constexpr uint8_t ZOLBIN_COMPRESSED = 2;
constexpr uint8_t ZOLBIN_SYMBOLS = 4;

// Deepest nesting of containers the reader accepts, and the writer writes.
constexpr uint32_t ZOLBIN_MAX_DEPTH = 10000;

// --- encoders (codec mode)
// A new binary! holding the image of the value, in the standard or the compact encoding, made in out (which
// must be rooted). A routine!, triple!, handle!, port! or event! inside the value raises no-codec. Allocates.
void zolbin_encode(const Cell* value, Cell* out);
void zolbin_encode_compact(const Cell* value, Cell* out);

// --- decoder (codec mode)
// Appends the root values of the image to the block (rooted by the caller). A wrong magic or corrupt
// compressed data raise invalid-data with the payload (the value named in the error); a malformed record
// raises zb-invalid-record with its 1-based byte offset. What was appended before an error stays.
void zolbin_decode(const uint8_t* data, size_t length, const Cell* block, const Cell* payload);
// The codec's decode: a binary! (or a file! or url!, read as bytes) into its single root value, or a block!
// of all of them when there are several or none, in out (rooted). Allocates.
void zolbin_decode_value(const Cell* payload, Cell* out);

// --- the boot image (boot mode)
// Loads an image into the root block with the collector off: "set" records assign words, every other root
// value is appended. Unless keep_base, literal numbers start at the first value this image appended.
// Returns the root-block index of that first value. Malformed data ends the process (start-up cannot
// report errors yet); the caller checks the magic first.
uint32_t zolbin_load_boot(const uint8_t* image, size_t length, bool keep_base);
// What zolbin_load_boot does, into a given block and raising every fault as an error: for tests and fuzzing.
// Returns the block's index of the first value appended.
uint32_t zolbin_decode_boot(const uint8_t* data, size_t length, const Cell* block);
// Literal n of the boot image: the n-th root value it appended (valid until the root block grows).
Cell* literal_cell(uint32_t n);
// The root-block index of literal 0.
uint32_t literal_base();

// Writes a boot image: "set" records and root values in the compact encoding with a symbol table, words
// bound to the global context written unbound, and nothing shared (a series met twice is written twice).
// Reproducible: the same values give the same bytes.
class BootImageWriter {
public:
    BootImageWriter();
    ~BootImageWriter();
    BootImageWriter(const BootImageWriter&) = delete;
    BootImageWriter& operator=(const BootImageWriter&) = delete;
    // A record that sets the global word of the symbol to the value when the image loads.
    void add_set(uint32_t symbol, const Cell* value);
    // A root value: the next literal.
    void add_root(const Cell* value);
    // The image's bytes.
    std::vector<uint8_t> finish();

private:
    struct State;
    State* state_;
};

}  // namespace zol
