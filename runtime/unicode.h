// Unicode code points and their encodings.
#pragma once
#include <cstdint>

namespace zol {

// Encodes one code point as UTF-8 into out (room for 4 bytes); returns the number of bytes written.
// Code points that UTF-8 cannot carry (above U+10FFFF) are written as U+FFFD.
int utf8_encode_char(uint32_t cp, uint8_t* out);

}  // namespace zol
