// url! values: a string! payload and buffer under type 9; file! (type 8) shares them. Only the loader that
// makes one from text, decoding its %XX escapes, is here so far; the actions come with the datatype.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Makes the cell a new string of the given type (url!, file!) from UTF-8 text in which each %XX escape is a
// byte: a run of escapes that forms one UTF-8 sequence gives one character, and a "%" that starts no valid
// escape, or a run that is no complete sequence, stays as it is. Returns false, leaving the cell
// untouched, when the text itself is not valid UTF-8. Allocates.
bool url_load_at(Cell* cell, const uint8_t* text, size_t length, TypeId type);

// Appends to out (a string!) the UTF-8 bytes of a string-family value from its head, percent-encoded: an
// ASCII character plain in the table is copied, every other byte written as %XX (upper-case digits). The
// URL table keeps the characters a URL may hold as they are (!#$&'()*+,-./ digits :=?@ letters _ ~); the
// strict one only - . digits letters _ ~. Allocates.
void url_enhex_string(const Cell* value, Cell* out, bool strict);

}  // namespace zol
