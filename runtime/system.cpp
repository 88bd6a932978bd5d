// The system record, fatal runtime errors and the build stamp.
#include "system.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "assert.h"

#ifndef ZOL_BUILD_STAMP
#define ZOL_BUILD_STAMP "unknown"
#endif

namespace zol {

SystemRecord g_system;
bool g_root_building = false;

const char* runtime_error_text(int code) {
    static const char* const kTexts[] = {
        nullptr,
        "access violation",
        "invalid alignment",
        "breakpoint",
        "single step",
        "bounds exceeded",
        "float denormal operan",
        "float divide by zero",
        "float inexact result",
        "float invalid operation",
        "float overflow",
        "float stack check",
        "float underflow",
        "integer divide by zero",
        "integer overflow",
        "privileged instruction",
        "invalid virtual address",
        "illegal instruction",
        "non-continuable exception",
        "stack error or overflow",
        "invalid disposition",
        "guard page",
        "invalid handle",
        "illegal operand",
        "illegal addressing mode",
        "illegal trap",
        "coprocessor error",
        "non-existent physical address",
        "object specific hardware error",
        "hardware memory error consumed AR",
        "hardware memory error consumed AO",
        "privileged register",
        "segmentation fault",
        "FPU error",
        "Bus error",
    };
    if (code >= 1 && code <= 34) return kTexts[code];
    switch (code) {
        case 94: return "out of memory";
        case 95: return "no CATCH for THROW";
        case 98: return "assertion failed";
        case 99: return "unknown error";
        case 100: return "no value matched in CASE";
        case 101: return "no value matched in SWITCH";
        default: return "unknown error code!";
    }
}

void runtime_exit(int status) { platform::exit_process(status); }

void assert_failed(const char* condition, const char* file, int line) {
    char text[512];
    int n = std::snprintf(text, sizeof text, "*** Internal check failed: %s (%s:%d)\n", condition, file, line);
    platform::write_stderr(text, size_t(n) < sizeof text ? size_t(n) : sizeof text - 1);
    std::abort();  // a core or the sanitizer's report shows how it came to this
}

void runtime_error(int code, uintptr_t address) {
    if (code == 0) runtime_exit(0);
    char text[256];
    int n = std::snprintf(text, sizeof text, "*** Runtime Error %d: %s\n*** at: %08Xh\n", code,
                          runtime_error_text(code), unsigned(address));
    platform::write_stderr(text, size_t(n));
    platform::exit_process(code);
}

const char* build_stamp() { return ZOL_BUILD_STAMP; }

}  // namespace zol
