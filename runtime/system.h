// Process-wide state of the runtime: the system record, the root-building flag, the fatal error
// handler and the build stamp.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zol {

struct SystemRecord {
    uint32_t pending;     // unwind code of the non-local exit in progress; 0 when none
    uint32_t boot_image;  // 0 until a boot image is present
    std::vector<std::string> args;  // command-line arguments, UTF-8, program name first
};
extern SystemRecord g_system;

// While set, values the runtime makes by name go into the root block instead of the argument stack.
extern bool g_root_building;

// Ends the process. Code 0 ends quietly with status 0; any other code prints
// "*** Runtime Error <code>: <text>" and "*** at: <address>" to stderr and exits with the code.
[[noreturn]] void runtime_error(int code, uintptr_t address);
// The text of a runtime error code ("unknown error code!" for codes outside the table).
const char* runtime_error_text(int code);

// Ends the process with a status, flushing printed output first.
[[noreturn]] void runtime_exit(int status);

// The time the program was built, as "10-Nov-2026/19:42:09".
const char* build_stamp();

}  // namespace zol
