// string! values: text in 1-, 2- or 4-byte units (Latin-1, UCS-2 or UCS-4 code points). A buffer keeps the
// narrowest unit its code points allow and is widened in place (runtime/unicode.h) when a wider one is stored.
// string! is also the parent of file!, url!, tag!, email!, ref! and binary!: the routines and actions here
// serve every member of the family unless the member's own unit overrides them.
// string.cpp holds the representation, construction, form, mold and comparison; string_search.cpp find,
// select, the set operations and the match tests; string_edit.cpp append, insert, change, swap, trim, sort and
// case conversion.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/datatypes/series.h"
#include "runtime/unicode.h"

namespace zol {

// --- representation

// A new empty string! with room for the given number of 1-byte units.
void string_make(Cell* out, uint32_t capacity = 16);
// A new empty string! with room for capacity units of 1, 2 or 4 bytes (a capacity of 0 gives room for 1).
void string_make_unit(Cell* out, uint32_t capacity, uint32_t unit);
// Empties the string: tail at the buffer's first used unit, head index 0, and the unit back to 1 byte (the
// only time a buffer narrows). Returns the cell.
Cell* string_reset(Cell* str);
// Appends ASCII text (each byte one code point below 128) whatever the string's unit size.
void string_append_ascii(Cell* str, const char* text, size_t length);
inline void string_append_ascii(Cell* str, const char* text) { string_append_ascii(str, text, __builtin_strlen(text)); }
// Appends bytes, each as the code point of its value, widening as string_append_char does. Allocates.
void string_append_bytes(Cell* str, const uint8_t* bytes, size_t count);
// Number of code points from the string's head index to its tail.
uint32_t string_length(const Cell* str);
// Cuts the string to at most n code points after its head index.
void string_truncate(Cell* str, uint32_t n);
// The text from the head index, as UTF-8 (never raises: a unit beyond U+10FFFF is written as U+FFFD).
std::string string_to_utf8(const Cell* str);
// Whether the text from the head index is ASCII held in 1-byte units: its units are then its UTF-8, which
// string_units gives without a copy (good until the next allocation).
bool string_is_ascii(const Cell* str);
const uint8_t* string_units(const Cell* str, uint32_t* length);

// The code point at a unit index counted from the buffer's first used unit (not from the cell's head).
uint32_t string_char_at(const Cell* str, uint32_t index);

// Widens the buffer in place to the wanted unit size when it is narrower (never narrows). Allocates; returns
// the buffer.
Series* string_widen_to(uint32_t node, uint32_t unit);
// The unit size a stored code point needs. Appending is stricter than writing over a position: a unit-1
// buffer widens for 128-255 when appending, and keeps 1-byte units for them when writing.
inline uint32_t string_unit_for_append(uint32_t cp) { return cp > 0xFFFF ? 4 : cp > 0x7F ? 2 : 1; }
inline uint32_t string_unit_for_put(uint32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

// Appends a code point at the tail, widening by the append rule. Allocates; returns the buffer.
Series* string_append_char(uint32_t node, uint32_t cp);
// Stores a code point over the unit at an index (counted from the buffer's first used unit), widening the
// buffer when the code point needs it (above 255 in 1-byte units, above 65535 in 2-byte units).
Series* string_put_char(uint32_t node, uint32_t index, uint32_t cp);
// As string_put_char; an index at the tail appends the code point (by the same rule) instead.
Series* string_poke_char(uint32_t node, uint32_t index, uint32_t cp);
// Inserts a code point at a unit index, widening as appending does.
Series* string_insert_char(uint32_t node, uint32_t index, uint32_t cp);

// Appends UTF-8 text (an invalid sequence becomes U+FFFD); returns the number of code points appended.
// Allocates.
uint32_t string_append_utf8(Cell* str, const uint8_t* text, size_t length);
// Appends code points, widening once for the widest by the append rule. Allocates.
void string_append_code_points(Cell* str, const uint32_t* cps, size_t n);
// Makes out a string! cell over the text of a string-family value, a word (its name) or a symbol! entry (its
// name, built on first need; allocates then). False for any other value.
bool string_text_view(const Cell* value, Cell* out);


// --- joining text

enum class JoinMode : uint8_t {
    append,     // at the tail
    insert,     // at the offset from the target's head, moving the rest up
    overwrite,  // from the offset, moving the tail only when the text ends past it
};

// Writes the text of source from its head (a string-family value, or a word or symbol!, whose name is used)
// into the target string: count code points (-1 for all), repeated `times` times. The target first widens to
// the source's unit size or, with by_code_point, only to what the code points need (by the append rule).
// Source and target may share a buffer. Both cells must be rooted by the caller. Allocates; returns the
// number of code points written.
uint32_t string_concatenate(Cell* target, const Cell* source, int32_t count, uint32_t offset, bool by_code_point,
                            JoinMode mode, uint32_t times = 1);

// --- loading and converting

// Encodings understood by string_load.
constexpr int STRING_UTF8 = 0;
constexpr int STRING_UTF16LE = -1;
// Decodes input into the target string (its content replaced) or, with a null target, into a new string pushed
// on the argument stack; returns the string's cell. length counts the encoding's units (bytes for UTF-8,
// 16-bit units for UTF-16LE). Any other encoding ends the process with status 0 after a message, as an
// unsupported input cannot be read at all.
Cell* string_load(const uint8_t* source, uint32_t length, Cell* target, int encoding);
// The same into a new string at the block's tail, or into a new argument-stack cell.
Cell* string_load_in(const Cell* block, const uint8_t* source, uint32_t length, int encoding);
Cell* string_load_push(const uint8_t* source, uint32_t length, int encoding);
// Decodes UTF-8 bytes into a new string made in out (which must be rooted). At the first byte that is not
// valid UTF-8 the access error invalid-utf8 is raised with a binary! of the bytes from there to the end.
Cell* binary_to_string(const uint8_t* bytes, uint32_t length, Cell* out);

// Hexadecimal text in a static buffer that the next call overwrites: 8 digits (a negative number shows its
// two's complement), or with short_form no leading zeros ("00" for zero).
const char* string_int_to_hex(int32_t value, bool short_form);
// The two hexadecimal digits of a byte, in a static buffer.
const char* string_byte_to_hex(uint8_t byte);

// --- form, mold and comparison

// Appends the escaped form of one code point as mold writes it (char! shares it): ^(hex) for 30, 128-159 and,
// with all, anything above 127; ^ and the escape table's entry below 95; ^~ for 127; else the code point.
void string_mold_char(Cell* out, uint32_t cp, bool all);

// Compares two texts (string-family values, or symbol! or word values through their names) under a comparison
// operation: -1, 0 or 1. Case is folded to upper case unless the operation is strict-equal or the case-sensitive
// sort. With prefix, answers 0 when the left text begins with the right one (an empty right text answers 1 for
// CMP_FIND, 0 otherwise) and 1 when it does not.
int string_compare_op(const Cell* left, const Cell* right, CompareOp op, bool prefix);

// --- search and the match tests of Parse (string_search.cpp)

// Unit index, from the head, of the first occurrence of the code point; -1 when absent.
int32_t string_find_char(const Cell* str, uint32_t cp);
// Whether the code point occurs at the head or at a multiple of skip units after it, folding case unless
// case_sensitive.
bool string_find_char_skip(const Cell* str, uint32_t cp, uint32_t skip, bool case_sensitive);
// Whether the text from the head begins with the bytes, each read as a code point (never one above 255).
bool string_starts_with(const Cell* str, const char* bytes);
// Whether the value matches at the string's head: a char! one code point (folded unless strict), a text its
// text (string_compare_op in prefix mode), a tag! "<", its text and ">".
bool string_match_at(const Cell* str, const Cell* value, bool strict);
// Whether the code point at the head belongs to the bitset!; false at the tail.
bool string_head_in_bitset(const Cell* str, const Cell* bitset);
// Whether the string has "<" at its head and ">" right after the tag's length.
bool string_tag_delims(const Cell* str, const Cell* tag);

// The string side of unique, union, intersect, exclude and difference over records of skip units (a null skip
// means 1): a new string made in result (which may be the first argument's own cell). A record is known by
// its first code point (folded unless case_sensitive) and kept whole.
void string_set_op(Cell* result, const Cell* first, const Cell* second, bool case_sensitive, const Cell* skip, SetOp op);

// --- case conversion (string_edit.cpp)

// Maps a char!, or the code points of a string-family value from its head (part: null for all, an integer!
// count or a position in the same series), to upper or lower case in place, widening the buffer when a mapping
// needs it. Returns the value.
Cell* case_convert_value(Cell* value, const Cell* part, bool upper);

// --- actions, also called by the family members that extend them

// make: a number gives an empty value of that capacity, anything else converts as to does. Both write the new
// value (of the target type) into proto and return it.
const Cell* string_make_value(Cell* proto, Cell* source, TypeId type);
const Cell* string_to(Cell* proto, Cell* source, TypeId type);
int string_form(const Cell* value, Cell* out, const MoldArgs& args, int budget);
int string_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget);
int string_compare(const Cell* value, const Cell* other, CompareOp op);
const Cell* string_eval_path(Cell* value, const PathStep& step);
// find and select answer in the series cell they are given (find: the series at the match; select: the unit
// after it as a char!, or an integer! for a binary!) and return it, or return the shared none value.
const Cell* string_find(Cell* series, Cell* value, const FindArgs& args);
const Cell* string_select(Cell* series, Cell* value, const FindArgs& args);
// append (append set) and insert; part < 0 means all of the value, dup < 2 adds it once. The series cell
// becomes the result: at its head after append, just after the inserted text after insert.
void string_append(Cell* series, Cell* value, int part, bool only, int dup, bool append);
// change; part < 0 overwrites from the head, else that many units are replaced. The series cell ends just
// after the new text.
void string_change(Cell* series, Cell* value, int part, bool only, int dup);
void string_swap(Cell* series1, Cell* series2);
void string_trim(Cell* series, const TrimArgs& args);
const Cell* string_sort(Cell* series, const SortArgs& args);

}  // namespace zol
