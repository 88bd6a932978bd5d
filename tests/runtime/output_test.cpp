// Output hooks and the console writers.
#include <string>
#include <vector>

#include "runtime/output.h"
#include "tests/support.h"

namespace zol::test {
namespace {

std::string g_captured;
platform::WriteStatus capture(const char* bytes, size_t n) {
    g_captured.append(bytes, n);
    return platform::WriteStatus::ok;
}

class OutputTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        g_captured.clear();
        previous_ = console_set_sink(capture);
    }
    void TearDown() override {
        console_set_sink(previous_);
        RuntimeTest::TearDown();
    }
    OutputSink previous_ = nullptr;
};

std::vector<int> g_calls;
void print_a(const Cell*, bool) { g_calls.push_back(1); }
void print_b(const Cell*, bool newline) { g_calls.push_back(newline ? 20 : 2); }
void print_c(const Cell*, bool) { g_calls.push_back(3); }
void print_d(const Cell*, bool) { g_calls.push_back(4); }
void print_e(const Cell*, bool) { g_calls.push_back(5); }
void print_f(const Cell*, bool) { g_calls.push_back(6); }
std::string g_written;
void write_hook(const char* text, int n, int) { g_written.append(text, size_t(n)); }

TEST_F(OutputTest, PrintHooksGrowAndFireInOrder) {
    int base_count = output_print_hook_count();
    ASSERT_EQ(base_count, 0);
    for (PrintHook h : {print_a, print_b, print_c, print_d, print_e, print_f}) output_hooks_register(h, nullptr);
    EXPECT_EQ(output_print_hook_count(), 6);
    EXPECT_EQ(output_print_hook_capacity(), 10) << "a full list grows by five";
    output_hooks_unregister(print_c, nullptr);
    output_hooks_unregister(print_c, nullptr);  // not registered any more: nothing changes
    EXPECT_EQ(output_print_hook_count(), 5);
    g_calls.clear();
    output_hooks_fire_print(&g_none_value, true);
    EXPECT_EQ(g_calls, (std::vector<int>{1, 20, 4, 5, 6}));
    for (PrintHook h : {print_a, print_b, print_d, print_e, print_f}) output_hooks_unregister(h, nullptr);
    EXPECT_EQ(output_print_hook_count(), 0);
}

TEST_F(OutputTest, WritersEncodeUtf8AndEndLinesWithLf) {
    const uint16_t euro[] = {'a', 0x20AC};
    console_write(euro, 2, 2, true);
    EXPECT_EQ(g_captured, "a\xE2\x82\xAC\n");
    g_captured.clear();
    const uint32_t wide[] = {0x1F600};
    console_write(wide, 1, 4, false);
    EXPECT_EQ(g_captured, "\xF0\x9F\x98\x80");
    g_captured.clear();
    const char esc[] = "\x1b[31mred\x1b[0m";
    console_write(esc, sizeof esc - 1, 1, false);
    EXPECT_EQ(g_captured, esc) << "escape sequences pass through unchanged";
}

TEST_F(OutputTest, LongTextIsWrittenWhole) {
    std::u32string text(3000, U'\u00E9');
    console_write(text.data(), text.size(), 4, false);
    EXPECT_EQ(g_captured.size(), 6000u);
}

TEST_F(OutputTest, LowLevelPrintersFireTheWriteHooks) {
    output_hooks_register(nullptr, write_hook);
    g_written.clear();
    console_print_int(-42);
    console_print_hex2(10);
    console_print_hex(0xBEEF);
    console_print_float(0.1);
    console_print_float32(0.1f);
    console_write_cstr("!");
    output_hooks_unregister(nullptr, write_hook);
    const char* expected = "-420A0000BEEF0.10.1!";
    EXPECT_EQ(g_captured, expected);
    EXPECT_EQ(g_written, expected);
}

// A write the sink refuses goes to the failure hook with its status, from every writer; the closed state
// stays once the reader has gone. Without a hook the text is dropped and the writer returns.
std::vector<platform::WriteStatus> g_failures;
platform::WriteStatus g_refusal = platform::WriteStatus::ok;
platform::WriteStatus refuse(const char*, size_t) { return g_refusal; }
void note_failure(platform::WriteStatus status) { g_failures.push_back(status); }

TEST_F(OutputTest, RefusedWritesReachTheFailureHook) {
    console_set_sink(refuse);
    g_failures.clear();
    output_set_failure_hook(note_failure);
    g_refusal = platform::WriteStatus::failed;
    console_write("ab", 2, 1, true);
    console_write_utf8("c", 1);
    console_print_int(7);
    EXPECT_FALSE(output_closed()) << "a full disk is no closed reader";
    g_refusal = platform::WriteStatus::closed;
    console_write_cstr("d");
    EXPECT_TRUE(output_closed());
    g_refusal = platform::WriteStatus::ok;
    console_write_utf8("e", 1);
    using W = platform::WriteStatus;
    EXPECT_EQ(g_failures, (std::vector<W>{W::failed, W::failed, W::failed, W::closed}));
    output_set_failure_hook(nullptr);
    g_refusal = platform::WriteStatus::failed;
    console_write_utf8("f", 1);
    EXPECT_EQ(g_failures.size(), 4u);
}

}  // namespace
}  // namespace zol::test
