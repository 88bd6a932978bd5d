// String workloads on the runtime's own string! actions, beside bench/strings.py doing the same work in
// python3. Both print the same checksum lines on stdout (compare them with diff); the timings go to stderr.
// Until the interpreter exists the Zol side is driven from C++ through the action functions, the way the
// evaluator will call them.
#include <cstdio>
#include <string>

#include "bench.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc.h"

namespace zol::bench {
namespace {

constexpr uint32_t APPENDS = 1000000;
constexpr uint32_t INSERTS = 100000;
constexpr uint32_t HAYSTACK = 1000000;
constexpr uint32_t FINDS = 100;
constexpr uint32_t RECORDS = 1000000;

// FNV-1a over the code points from the head, the checksum both programs print.
uint32_t fnv(const Cell* str) {
    uint32_t h = 2166136261u;
    for (uint32_t i = series_index(str), n = cell_series(str)->used(); i < n; i++) {
        h = (h ^ string_char_at(str, i)) * 16777619u;
    }
    return h;
}

// The letters of the sort input: a linear congruential sequence that bench/strings.py repeats exactly.
char letter(uint32_t& state) {
    state = state * 1103515245u + 12345u;
    uint32_t r = (state >> 16) % 52;
    return char(r < 26 ? 'a' + r : 'A' + r - 26);
}

void append_items() {
    GcRoot out, items[4];
    string_make(out.get());
    *items[0] = word_load("alpha");
    set_char(items[1].get(), 'x');
    *items[2] = g_true_value;
    string_make(items[3].get());
    string_append_ascii(items[3].get(), "text");
    auto start = Clock::now();
    for (uint32_t i = 0; i < APPENDS; i++) string_append(out.get(), items[i % 4].get(), -1, false, 1, true);
    report("append", start);
    std::printf("append %u %u\n", string_length(out.get()), fnv(out.get()));
}

void insert_at_head() {
    GcRoot out, c;
    string_make(out.get());
    auto start = Clock::now();
    for (uint32_t i = 0; i < INSERTS; i++) {
        set_char(c.get(), 'a' + i % 26);
        out->w1 = 0;
        string_append(out.get(), c.get(), -1, false, 1, false);
    }
    report("insert", start);
    out->w1 = 0;
    std::printf("insert %u %u\n", string_length(out.get()), fnv(out.get()));
}

void find_text() {
    GcRoot hay, needle, upper, probe;
    string_make(hay.get());
    const char* phrase = "the quick brown fox jumps over the lazy dog ";
    while (string_length(hay.get()) < HAYSTACK) string_append_ascii(hay.get(), phrase);
    string_append_ascii(hay.get(), "Needle");
    string_make(needle.get());
    string_append_ascii(needle.get(), "Needle");
    string_make(upper.get());
    string_append_ascii(upper.get(), "NEEDLE");
    FindArgs exact, folded;
    exact.case_sensitive = true;
    uint32_t found_exact = 0, found_folded = 0;
    auto start = Clock::now();
    for (uint32_t i = 0; i < FINDS; i++) {
        *probe = *hay;
        found_exact = series_index(string_find(probe.get(), needle.get(), exact));
    }
    report("find/case", start);
    start = Clock::now();
    for (uint32_t i = 0; i < FINDS; i++) {
        *probe = *hay;
        found_folded = series_index(string_find(probe.get(), upper.get(), folded));
    }
    report("find", start);
    std::printf("find %u %u\n", found_exact, found_folded);
}

void sort_records() {
    GcRoot text;
    string_make(text.get(), RECORDS);
    std::string letters;
    uint32_t state = 1;
    for (uint32_t i = 0; i < RECORDS; i++) letters += letter(state);
    for (bool stable : {false, true}) {
        string_reset(text.get());
        string_append_ascii(text.get(), letters.data(), letters.size());
        SortArgs args;
        args.case_sensitive = !stable;
        args.stable = stable;
        auto start = Clock::now();
        string_sort(text.get(), args);
        report(stable ? "sort/stable" : "sort/case", start);
        std::printf("%s %u\n", stable ? "sort-fold" : "sort-case", fnv(text.get()));
    }
}

void workloads() {
    append_items();
    insert_at_head();
    find_text();
    sort_records();
}

}  // namespace
}  // namespace zol::bench

int main() { return zol::bench::run_in_runtime<zol::bench::workloads>(); }
