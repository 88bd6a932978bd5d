// The built-in scripts the program carries, in the order start-up runs them.
#pragma once
#include <cstddef>

namespace zol {

struct BootSource {
    const char* name;  // the script's path in the source tree
    const char* text;  // UTF-8 source text, NUL-terminated
};

extern const BootSource g_boot_sources[];
extern const size_t g_boot_source_count;

}  // namespace zol
