// Output hooks and the console writers.
#include "output.h"

#include <cstdio>
#include <cstring>

#include "memory.h"
#include "platform/platform.h"
#include "unicode.h"

namespace zol {

namespace {

// A growable list of callbacks: grows by five entries at a time.
template <typename Fn>
struct HookList {
    Fn* items = nullptr;
    int count = 0;
    int capacity = 0;

    void init() {
        capacity = 5;
        count = 0;
        items = static_cast<Fn*>(tracked_alloc(sizeof(Fn) * size_t(capacity)));
    }
    void add(Fn fn) {
        if (count == capacity) {
            Fn* bigger = static_cast<Fn*>(tracked_alloc(sizeof(Fn) * size_t(capacity + 5)));
            std::memcpy(bigger, items, sizeof(Fn) * size_t(count));
            tracked_free(items);
            items = bigger;
            capacity += 5;
        }
        items[count++] = fn;
    }
    void remove(Fn fn) {
        for (int i = 0; i < count; i++) {
            if (items[i] == fn) {
                std::memmove(items + i, items + i + 1, sizeof(Fn) * size_t(count - i - 1));
                count--;
                return;
            }
        }
    }
};

HookList<PrintHook> g_print_hooks;
HookList<WriteHook> g_write_hooks;
bool g_hooks_ready = false;

constexpr size_t OUTPUT_BUFFER = 1024;
OutputSink g_sink = platform::write_stdout;
OutputFailureHook g_failure_hook = nullptr;
bool g_closed = false;

// Every writer's way to the sink.
void sink_write(const char* bytes, size_t length) {
    platform::WriteStatus status = g_sink(bytes, length);
    if (status == platform::WriteStatus::ok) return;
    if (status == platform::WriteStatus::closed) g_closed = true;
    if (g_failure_hook) g_failure_hook(status);
}

}  // namespace

void output_hooks_init() {
    g_print_hooks.init();
    g_write_hooks.init();
    g_hooks_ready = true;
}

void output_hooks_register(PrintHook print, WriteHook write) {
    if (print) g_print_hooks.add(print);
    if (write) g_write_hooks.add(write);
}

void output_hooks_unregister(PrintHook print, WriteHook write) {
    if (print) g_print_hooks.remove(print);
    if (write) g_write_hooks.remove(write);
}

// Hooks may print again or change the lists; index-based loops stay valid when they do.
void output_hooks_fire_print(const Cell* text, bool newline) {
    if (!g_hooks_ready) return;
    for (int i = 0; i < g_print_hooks.count; i++) g_print_hooks.items[i](text, newline);
}

void output_hooks_fire_write(const char* text, int length, int flags) {
    if (!g_hooks_ready) return;
    for (int i = 0; i < g_write_hooks.count; i++) g_write_hooks.items[i](text, length, flags);
}

OutputSink console_set_sink(OutputSink sink) {
    OutputSink old = g_sink;
    g_sink = sink;
    return old;
}

void output_set_failure_hook(OutputFailureHook hook) { g_failure_hook = hook; }
bool output_closed() { return g_closed; }

int output_print_hook_count() { return g_print_hooks.count; }
int output_print_hook_capacity() { return g_print_hooks.capacity; }

void console_write(const void* units, size_t count, uint32_t unit, bool newline) {
    char buffer[OUTPUT_BUFFER];
    size_t used = 0;
    auto* bytes = static_cast<const uint8_t*>(units);
    for (size_t i = 0; i < count; i++) {
        uint32_t cp;
        switch (unit) {
            case 1: cp = bytes[i]; break;
            case 2: {
                uint16_t u;
                std::memcpy(&u, bytes + 2 * i, 2);
                cp = u;
                break;
            }
            default: std::memcpy(&cp, bytes + 4 * i, 4); break;
        }
        if (used > OUTPUT_BUFFER - 5) {
            sink_write(buffer, used);
            used = 0;
        }
        used += size_t(utf8_encode_char_replacing(cp, reinterpret_cast<uint8_t*>(buffer + used)));
    }
    if (newline) buffer[used++] = '\n';
    if (used) sink_write(buffer, used);
}

void console_write_utf8(const char* bytes, size_t length) {
    if (length) sink_write(bytes, length);
}

const char* console_write_cstr(const char* text) {
    size_t n = std::strlen(text);
    sink_write(text, n);
    output_hooks_fire_write(text, int(n), 0);
    return text;
}

namespace {

void write_scratch(const char* text, int n) {
    if (n <= 0) return;
    sink_write(text, size_t(n));
    output_hooks_fire_write(text, n, 0);
}

}  // namespace

void console_print_int(int32_t v) {
    char s[32];
    write_scratch(s, std::snprintf(s, sizeof s, "%i", v));
}

void console_print_hex2(uint32_t v) {
    char s[32];
    write_scratch(s, std::snprintf(s, sizeof s, "%02X", v));
}

void console_print_hex(uint32_t v) {
    char s[32];
    write_scratch(s, std::snprintf(s, sizeof s, "%08X", v));
}

void console_print_float(double v) {
    char s[64];
    write_scratch(s, std::snprintf(s, sizeof s, "%.16g", v));
}

void console_print_float32(float v) {
    char s[64];
    write_scratch(s, std::snprintf(s, sizeof s, "%.7g", double(v)));
}

}  // namespace zol
