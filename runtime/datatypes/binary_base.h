// The base-2, base-16, base-58 and base-64 encodings of bytes as text, both ways: what enbase and debase
// run, and what other codecs reuse.
//
// Encoders write ASCII into memory the caller reserved (binary_base_encoded_size bytes) and return the
// address after the last character written. Decoders read code points from units of 1, 2 or 4 bytes (a
// string's buffer from its head) and make a new binary! in the out cell, which the caller keeps rooted;
// they answer false, leaving the cell alone, when the text is not valid in that base. Every decoder skips
// blanks and treats ";" as the start of a comment that runs to the next line feed.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Whether a base is one of 2, 16, 58 and 64.
bool binary_base_supported(int base);
// Characters the encoding of length bytes takes at most.
uint64_t binary_base_encoded_size(int base, size_t length);

uint8_t* binary_encode_base2(uint8_t* out, const uint8_t* bytes, size_t length);
uint8_t* binary_encode_base16(uint8_t* out, const uint8_t* bytes, size_t length);
uint8_t* binary_encode_base58(uint8_t* out, const uint8_t* bytes, size_t length);
uint8_t* binary_encode_base64(uint8_t* out, const uint8_t* bytes, size_t length);
// One of the four by base (which must be supported).
uint8_t* binary_encode_base(int base, uint8_t* out, const uint8_t* bytes, size_t length);

// base 2: "0" and "1", most significant bit first, whole bytes only; code points up to 32 are skipped.
bool binary_decode_base2(const uint8_t* units, uint32_t count, uint32_t unit, Cell* out);
// base 16: pairs of hexadecimal digits in either case; code points up to 32 are skipped; a final odd digit is
// dropped.
bool binary_decode_base16(const uint8_t* units, uint32_t count, uint32_t unit, Cell* out);
// base 58: the Bitcoin alphabet; each leading "1" is a leading zero byte.
bool binary_decode_base58(const uint8_t* units, uint32_t count, uint32_t unit, Cell* out);
// base 64: the standard alphabet; "=" ends the text (after two or three characters of a group); backspace,
// tab, line feed, form feed, carriage return, space and the apostrophe are skipped. An incomplete last group
// without "=" and whatever follows the "=" are ignored.
bool binary_decode_base64(const uint8_t* units, uint32_t count, uint32_t unit, Cell* out);
// One of the four by base (which must be supported).
bool binary_decode_base(int base, const uint8_t* units, uint32_t count, uint32_t unit, Cell* out);

// Conveniences over a value: the encoding of a binary's bytes from its head as a new string! in out, and the
// decoding of a string-family value's text from its head into a new binary! in out (false when invalid).
// Both cells must be rooted; both allocate.
void binary_enbase_string(Cell* out, int base, const Cell* binary);
bool binary_debase_string(Cell* out, int base, const Cell* text);

}  // namespace zol
