// Output hooks and the console writers. All printed text flows through two callback lists: print hooks
// receive the string value that print and prin formed; write hooks receive the raw UTF-8 text that the
// low-level writers put on standard output. The writers encode text units as UTF-8 (escape sequences pass
// through unchanged to the terminal) and end lines with LF.
#pragma once
#include <cstddef>
#include <cstdint>

#include "cell.h"
#include "platform/platform.h"

namespace zol {

using PrintHook = void (*)(const Cell* text, bool newline);
using WriteHook = void (*)(const char* text, int length, int flags);

void output_hooks_init();
void output_hooks_register(PrintHook print, WriteHook write);
void output_hooks_unregister(PrintHook print, WriteHook write);
void output_hooks_fire_print(const Cell* text, bool newline);
void output_hooks_fire_write(const char* text, int length, int flags);
int output_print_hook_count();
int output_print_hook_capacity();

// Where the writers send their bytes: standard output unless replaced (tests capture it here).
using OutputSink = platform::WriteStatus (*)(const char* bytes, size_t length);
OutputSink console_set_sink(OutputSink sink);  // returns the previous sink

// A write the sink refuses is never dropped in silence: the writers hand its status to the failure hook,
// which the front end that owns standard output sets to raise an error (the writer then does not return).
// Without a hook the text is lost. Once a write has found the reading end closed, output_closed says so.
using OutputFailureHook = void (*)(platform::WriteStatus status);
void output_set_failure_hook(OutputFailureHook hook);
bool output_closed();

// Writes text units (1, 2 or 4 bytes each) as UTF-8 to standard output, with LF after when asked.
void console_write(const void* units, size_t count, uint32_t unit, bool newline);
// Writes bytes that are UTF-8 already, as they are; fires no hooks.
void console_write_utf8(const char* bytes, size_t length);
// Writes a NUL-terminated UTF-8 text, then fires the write hooks with it.
const char* console_write_cstr(const char* text);
// The low-level typed printers: each writes its number to standard output and fires the write hooks.
void console_print_int(int32_t v);
void console_print_hex2(uint32_t v);
void console_print_hex(uint32_t v);
void console_print_float(double v);
void console_print_float32(float v);

}  // namespace zol
