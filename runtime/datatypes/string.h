// string! values: text in 1-, 2- or 4-byte units (Latin-1, UCS-2 or UCS-4 code points). A buffer keeps the
// narrowest unit its code points allow and is widened in place (runtime/unicode.h) when a wider one is stored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/memory.h"

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
// The text from the head index, as UTF-8 (never raises: a unit beyond U+10FFFF is written as U+FFFD).
std::string string_to_utf8(const Cell* str);

// The code point stored at a unit of the given size.
uint32_t string_get_char(const uint8_t* at, uint32_t unit);
// Stores a code point into a unit of the given size (little-endian whatever the host).
inline void string_put_unit(uint8_t* at, uint32_t unit, uint32_t cp) {
    switch (unit) {
        case 1: *at = uint8_t(cp); break;
        case 2:
            at[0] = uint8_t(cp);
            at[1] = uint8_t(cp >> 8);
            break;
        default: __builtin_memcpy(at, &cp, 4); break;
    }
}
// The code point at a unit index counted from the buffer's first used unit (not from the cell's head).
uint32_t string_char_at(const Cell* str, uint32_t index);
// Appends a code point at the tail. A unit-1 buffer widens to 2 for 128-65535 and to 4 above (writing into an
// existing position keeps unit 1 up to 255: appending is stricter); a unit-2 buffer widens to 4 above 65535.
// Allocates; returns the buffer.
Series* string_append_char(uint32_t node, uint32_t cp);

// Stores a code point over the unit at an index (counted from the buffer's first used unit), widening the
// buffer when the code point needs it (above 255 in 1-byte units, above 65535 in 2-byte units).
Series* string_put_char(uint32_t node, uint32_t index, uint32_t cp);
// Inserts a code point at a unit index, widening as appending does.
Series* string_insert_char(uint32_t node, uint32_t index, uint32_t cp);

// Appends UTF-8 text (an invalid sequence becomes U+FFFD); returns the number of code points appended.
// Allocates.
uint32_t string_append_utf8(Cell* str, const uint8_t* text, size_t length);

// Word 3 of a string cell: the node of its cache buffer, where the encoders leave their output; 0 until made.
inline uint32_t string_cache_node(const Cell* str) { return str->w3; }
inline void string_set_cache_node(Cell* str, uint32_t node) { str->w3 = node; }

}  // namespace zol
