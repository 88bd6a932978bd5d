// Unicode code points and their encodings: every conversion between string buffers (1-, 2- or 4-byte units)
// and UTF-8 or UTF-16LE bytes, and the in-place widening of a string buffer when a wider code point arrives.
// string! decides when to widen; the routines here do it. Units are little-endian whatever the host.
#pragma once
#include <cstdint>

#include "cell.h"
#include "memory.h"

namespace zol {

// --- Units of string buffers: 1, 2 or 4 bytes, little-endian whatever the host

// The code point stored at a unit of the given size.
inline uint32_t string_get_char(const uint8_t* at, uint32_t unit) {
    switch (unit) {
        case 1: return *at;
        case 2: return uint32_t(at[0]) | uint32_t(at[1]) << 8;
        default: {
            uint32_t cp;
            __builtin_memcpy(&cp, at, 4);
            return cp;
        }
    }
}
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
// Word 3 of a string cell: the node of its cache buffer, where the encoders leave their output; 0 until made.
inline uint32_t string_cache_node(const Cell* str) { return str->w3; }
inline void string_set_cache_node(Cell* str, uint32_t node) { str->w3 = node; }

// Marks "no complete sequence yet" where a code point is expected.
constexpr int32_t UTF8_INCOMPLETE = -1;

// --- UTF-8 scanning of source bytes (the lexer's decoder)

// Decodes one sequence with the UTF-8 automaton. On success *cp gets the code point and the result points after
// the sequence. A refused byte gives -1 and the result points at it (a refused first byte is consumed, so a
// scan always moves on). Reaching end inside a sequence counts as a refusal, so nothing past end is read.
const uint8_t* utf8_decode_char(const uint8_t* p, const uint8_t* end, int32_t* cp);
// Code points between start and end, counting each refused byte as one.
uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end);
// The position after n code points from p, never past end.
const uint8_t* utf8_skip_chars(const uint8_t* p, const uint8_t* end, uint32_t n);
// 4, 3 or 2 when the byte's top four, three or two bits are set; 0 for ASCII and continuation bytes.
int utf8_lead_length(uint8_t byte);

// --- UTF-8 sizing and encoding. Code points above U+10FFFF raise script error invalid-char.

int utf8_char_length(uint32_t cp);
// Total UTF-8 bytes of the units between start and end.
uint64_t utf8_string_length(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Writes the sequence of cp (room for 4 bytes); returns its length.
int utf8_encode_char(uint32_t cp, uint8_t* out);
// As utf8_encode_char, but writes byte k of the sequence only when room >= k, so a sequence that does not fit
// is cut; returns the bytes written.
int utf8_encode_char_bounded(uint32_t cp, uint8_t* out, int room);
// Never raises: a code point UTF-8 cannot carry is written as U+FFFD. For writers that must not fail (the
// console, error reports).
int utf8_encode_char_replacing(uint32_t cp, uint8_t* out);

// --- Strings to UTF-8. The cell must be the one the caller keeps rooted: its cache buffer (word 3) receives the
// text, which stays there until the next conversion of that cell. These allocate.

// The zero-terminated UTF-8 text of the string from its head. *length in: -1 for all, or a character count
// used when smaller than the length; out: the bytes written without the terminator. With crlf a CR is written
// before every LF.
const uint8_t* string_encode_utf8(Cell* str, int32_t* length, bool crlf);
// (string.h's string_to_utf8(const Cell*) gives a std::string for C++ callers instead.)
const uint8_t* string_to_utf8(Cell* str, int32_t* length);
const uint8_t* string_to_utf8_eol(Cell* str, int32_t* length, bool crlf);
// Into the caller's buffer, which must hold 4 bytes per character (and the terminator with terminate set);
// max_chars bounds the count unless it is -1. Returns the bytes written without the terminator.
uint32_t unicode_to_utf8(const Cell* str, uint8_t* dest, int32_t max_chars, bool terminate);
// Into the caller's buffer of room bytes, never past it (the terminator, when asked for, goes after them: the
// caller reserves that byte). A max_chars of 0 or less, or not below the length, means all.
uint32_t unicode_to_utf8_sized(const Cell* str, uint8_t* dest, uint32_t room, int32_t max_chars, bool terminate);

// --- Widening a string buffer in place, from the tail backwards. Each may grow (and so move) the buffer and
// returns it; the node must stay reachable by the collector across the call. They never narrow.

Series* unicode_latin1_to_ucs2(uint32_t node);
Series* unicode_latin1_to_ucs4(uint32_t node);
Series* unicode_ucs2_to_ucs4(uint32_t node);

// --- UTF-8 into strings

// Decodes the sequence at p with *count bytes available; *count receives its length. Returns -1 when the
// bytes end inside the sequence. Over-long forms are accepted. An invalid sequence (a stray continuation
// byte, a lead byte F8-FF, a bad continuation byte, a result in DC00-DCFF, the internal U+FFFE or above
// U+10FFFF) raises access error invalid-utf8 with a binary! of the four bytes at p (fewer when fewer remain).
int32_t unicode_decode_utf8_char(const uint8_t* p, uint32_t* count);
// Decodes length bytes into the target string buffer (its head onwards, replacing its content, its unit kept
// and widened as needed) or, with target 0, into a new one; returns the buffer's node, which the caller must
// root before its next allocation. A leading byte order mark is skipped. A sequence cut by the end stops the
// load and *undecoded (when given) receives the bytes left, for a stream reader to complete later. With cr, a
// CR before an LF is dropped and a lone CR becomes LF. src must not lie in the target buffer.
uint32_t unicode_load_utf8(const uint8_t* src, uint32_t length, uint32_t target, uint32_t* undecoded, bool cr);
uint32_t unicode_load_utf8_into(const uint8_t* src, uint32_t length, Cell* str, uint32_t* undecoded);
uint32_t unicode_load_utf8_new(const uint8_t* src, uint32_t length);

// --- UTF-16LE

// 1 when every high byte is 0, 2 when some is not, 4 as soon as a surrogate unit (D800-DFFF) is seen.
uint32_t utf16_scan_unit(const uint8_t* src, uint32_t count);
// Loads count UTF-16LE units into the target string's buffer (grown when needed, its unit set to the scanned
// one) or, without a target, into a new buffer; a null src reads the target's cache buffer. Surrogate pairs are
// joined; a high surrogate with no low one after it becomes U+FFFD. With drop_cr every CR unit is dropped.
// Returns the buffer's node (root it before the next allocation).
uint32_t unicode_load_utf16(const uint8_t* src, uint32_t count, Cell* target, bool drop_cr);
// 2 bytes for every LF or code point from U+10000 on between start and end: room for CR LF and surrogate pairs.
uint32_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit);
// The zero-terminated UTF-16LE text of the string from its head, in the cell's cache buffer. *count in: -1 for
// all, or a character count; out: the 16-bit units written without the terminator. With crlf every LF is
// preceded by CR. A code point above U+10FFFF gives null (no text). Allocates.
const uint16_t* unicode_to_utf16_sized(Cell* str, int32_t* count, bool crlf);
// The whole string with LF written as CR LF.
const uint16_t* unicode_to_utf16(Cell* str);
// Widens each byte of the zero-terminated text to a 16-bit unit and adds a 16-bit zero.
void unicode_ascii_to_utf16(const char* text, uint16_t* dest);

// The data of the string cell's cache buffer with at least size bytes: made (and stored in the cell) when the
// cell has none, grown when too small. Allocates; the address is good until the cache is grown again.
uint8_t* unicode_cache_buffer(Cell* str, uint64_t size);

}  // namespace zol
