// Source text held as UTF-8 bytes in C++ into code: the built-in scripts at start-up and the command line's
// scripts and input load through here (do on a string! loads through the lexer's load_source).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// Loads UTF-8 source into a new block (its words bound to the global context, as the lexer binds them).
// A malformed token raises its syntax error. out must be a rooted cell.
void load_global(const uint8_t* text, size_t length, Cell* out);

// The code of a script: the values after its header, the word Zol followed by a block, which may come
// after other text such as a shebang line. Raises syntax error no-header naming the script (source: a
// file! or other value, or null for none) when there is no header. out must be a rooted cell; header
// receives the header block when not null.
void load_script(const uint8_t* text, size_t length, Cell* out, Cell* header, const Cell* source = nullptr);

}  // namespace zol
