// The bit-level LZ codec that keeps large read-only tables (the stack map, boot images, value payloads)
// small. A record is an 8-byte head (stream length, output size; little-endian 32-bit) and a stream of
// blocks, each a 32-bit block length followed by its tokens, bits taken from bit 0 of each byte up.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zol {

constexpr uint32_t BITLZ_HEAD_SIZE = 8;
constexpr uint32_t BITLZ_MAX_BLOCK = 1048576;  // bytes one block may yield; also the encoder's chunk size
constexpr uint32_t BITLZ_WINDOW = 262144;      // farthest a match may reach back (largest d, plus one)
constexpr uint32_t BITLZ_MIN_MATCH = 3;
constexpr uint32_t BITLZ_MAX_MATCH = 566;
constexpr size_t BITLZ_MIN_SOURCE = 128;       // shorter sources are not worth a record

// One direction of the codec. Each call keeps its own, so decoders and encoders may run side by side.
struct BitlzState {
    uint64_t bits;          // pending bits, the oldest in bit 0
    uint32_t count;         // how many of them are pending
    bool error;             // set when a read runs past in_end or a reservation exceeds the capacity
    const uint8_t* in;      // next input byte to load (decoding)
    const uint8_t* in_end;  // first byte the reader may not load
    uint8_t* out;
    size_t capacity;        // bytes of out that may be used
    size_t used;
};

// Clears the state and sets the input. With an input, allocates a tracked-heap output of capacity + 8
// bytes (capacity of them usable); without one the caller points out at its own area.
void bitlz_init(BitlzState* s, size_t capacity, const uint8_t* input, size_t input_length);
// The place for n more output bytes, or null (with the error flag set) when they would exceed the capacity.
uint8_t* bitlz_reserve(BitlzState* s, size_t n);
// Appends the low n bits of value (n <= 32), whole bytes going to the output as they fill.
void bitlz_put_bits(uint32_t n, uint32_t value, BitlzState* s);
// The next n bits (n <= 32); 0 with the error flag set when they run past the input.
uint32_t bitlz_get_bits(uint32_t n, BitlzState* s);

// Decodes the record of record_length bytes into a new tracked-heap buffer (output size + 8 bytes) and
// stores the bytes produced in *produced when given. Returns null, having freed the buffer, for any
// truncated or corrupt record; never reads past record_length nor writes past the output size.
uint8_t* bitlz_decompress(const uint8_t* record, size_t record_length, uint32_t* produced);
// Frees a buffer returned by bitlz_decompress (null is ignored).
void bitlz_free(uint8_t* buffer);
// Writes the record of source into output, which must hold length - 8 bytes, and returns the record's size,
// head included. Returns -1 when source is shorter than 128 bytes, longer than a record can describe, or
// when its record would not be at least 8 bytes smaller than it: the caller then keeps the data as it is.
int64_t bitlz_compress(const uint8_t* source, size_t length, uint8_t* output);

}  // namespace zol
