// file! values (%dir/name.txt): a string! payload holding a path in POSIX form, whose local form is the
// path itself. file! inherits url!'s actions, molds itself so that the text loads back, and hands its I/O
// actions (read, write, query, delete, rename) to the file services of the io layer, which fill in
// g_file_services when they start.
#pragma once
#include <string>

#include "runtime/cell.h"

namespace zol {

struct FileServices {
    const Cell* (*read)(Cell* file, const IoArgs& args);
    const Cell* (*write)(Cell* file, Cell* data, const IoArgs& args);
    const Cell* (*query)(Cell* file);
    bool (*remove)(const Cell* file);
    bool (*rename)(const Cell* from, const Cell* to);
};
extern FileServices g_file_services;

// The local form of a path (its text from the head, in UTF-8); with full, a relative path follows the
// current directory and a "/".
std::string file_local_path(const Cell* file, bool full = false);
// Whether a path names a directory by its form: it ends in "/", or is "." or "..", or ends in "/." or "/..".
bool file_dir_path_q(const Cell* file);

}  // namespace zol
