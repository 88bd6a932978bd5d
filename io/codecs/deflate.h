// The deflate codec (RFC 1951) with its zlib (RFC 1950) and gzip (RFC 1952) framings, over plain byte
// buffers: it knows nothing of values, allocates nothing and raises nothing. compress and decompress turn
// its statuses into errors.
//
// Every entry takes the output buffer, a size word (on entry the output's capacity, on return the bytes the
// output holds or, with CODEC_TOO_SMALL, the full size it needs) and the input. Output past the capacity is
// counted, never stored, so a call with capacity 0 learns the size without a buffer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zol::codecs {

enum CodecStatus : int {
    CODEC_DONE = 0,
    CODEC_TOO_SMALL = 1,       // the size word holds the full size needed
    CODEC_MALFORMED = 2,       // bad header, check value or code, a truncated stream; or a capacity below
                               // the framing of zlib_encode and gzip_encode
    CODEC_STORED_OVERRUN = 3,  // a stored block claims more bytes than the input holds
    CODEC_RESERVED_BLOCK = 4,  // a block of the reserved type 3
    CODEC_TOO_FAR_BACK = 5,    // a back-reference before the start of the output
};

// The most bytes a deflate stream of n bytes can inflate to: a 258-byte match costs at least 2 bits.
constexpr uint64_t inflate_bound(uint64_t n) { return n * 1032; }

// One final block of fixed Huffman codes; matches are found through a four-way hash of three-byte prefixes,
// the first that fits winning. The output bytes are fixed by the input alone. Returns DONE or TOO_SMALL.
// The input is below 4 GB (a series' bytes always are).
CodecStatus deflate_encode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length);
// Inflates one raw deflate stream up to its final block (bytes after it are not read).
CodecStatus inflate_decode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length);

// The 2-byte header 78 01, the deflate stream and the Adler-32 of the input, big-endian.
CodecStatus zlib_encode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length);
CodecStatus zlib_decode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length);

// A 10-byte header without a name or time, the deflate stream, then the CRC-32 and the length of the input,
// little-endian.
CodecStatus gzip_encode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length);
// With a capacity below the trailer's length, reports that length without inflating; the length must be
// one the body can produce (at most inflate_bound of it) and the one it does produce.
CodecStatus gzip_decode(uint8_t* output, uint64_t* size, const uint8_t* input, size_t length);

}  // namespace zol::codecs
