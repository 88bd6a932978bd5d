// string! values: text in 1-, 2- or 4-byte units (Latin-1, UCS-2 or UCS-4 code points).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace zol {

// A new empty string! with room for the given number of 1-byte units.
void string_make(Cell* out, uint32_t capacity = 16);
// Appends ASCII text (each byte one code point below 128) whatever the string's unit size.
void string_append_ascii(Cell* str, const char* text, size_t length);
inline void string_append_ascii(Cell* str, const char* text) { string_append_ascii(str, text, __builtin_strlen(text)); }
// Number of code points from the string's head index to its tail.
uint32_t string_length(const Cell* str);
// Cuts the string to at most n code points after its head index.
void string_truncate(Cell* str, uint32_t n);
// The text from the head index, as UTF-8.
std::string string_to_utf8(const Cell* str);

}  // namespace zol
