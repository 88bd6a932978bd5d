// File and directory I/O: reading a file into a string!, binary! or block of lines, listing a directory,
// writing values to a file or to standard output, querying, deleting and renaming. file!'s actions reach
// these through g_file_services (runtime/datatypes/file.h), which io_files_init fills in at start-up.
// Text is UTF-8 with LF line ends; reading skips a byte order mark and turns CR LF and a lone CR into LF.
#pragma once
#include <string>

#include "runtime/cell.h"

namespace zol::io {

void io_files_init();

// The bytes that writing a value puts out: a string!'s text as UTF-8, a binary!'s bytes, any other value
// molded; with lines a block gives each element and an LF, any other value itself and an LF. part (-1 for
// all) counts characters of a text, bytes of a binary, elements of a block written as lines. Allocates.
std::string value_to_write_bytes(const Cell* value, int64_t part, bool lines);

// The whole content of a file into a new binary! in out (rooted); cannot-open naming the file when it cannot
// be read.
void read_file_bytes(const Cell* file, Cell* out);

// The size of a file, or -1 for a directory path or a file that cannot be opened.
int64_t file_size_of(const Cell* file);

}  // namespace zol::io
