// Lexer throughput: a generated source file of about 5 MB, with every common kind of token in the
// proportions of ordinary code, loaded whole several times; prints MB/s for text given as a string! (with its
// conversion to UTF-8) and as bytes, and a checksum line (the number of values read) that lexer.py prints
// for its own parse of the same structure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "interpreter/lexer/lexer.h"
#include "platform/platform.h"
#include "runtime/datatypes/string.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/startup.h"

namespace {

using namespace zol;

// The same generator as lexer.py's: one definition per line, nested blocks every few lines.
std::string generate(size_t target) {
    std::string out;
    out.reserve(target + 256);
    for (unsigned i = 0; out.size() < target; i++) {
        std::string n = std::to_string(i);
        out += "item-" + n + ": make object! [\n";
        out += "    id: " + n + " ratio: " + std::to_string(i % 1000) + ".25 name: \"name " + n + "\"\n";
        out += "    tags: [alpha beta/gamma 'delta #epsilon] when: 12:30 day: 1-Jan-2000 cost: $1.50\n";
        out += "    path: %dir/file-" + n + ".txt link: http://example.com/" + n + " ; a comment\n";
        out += "    calc: (x + y * 2) ok?: true\n]\n";
    }
    return out;
}

// Counts every value, nested ones included.
uint64_t count_values(const Cell* block) {
    uint64_t n = 0;
    Series* s = cell_series(block);
    for (uint32_t i = 0; i < s->used(); i++) {
        const Cell* c = s->cells() + i;
        n++;
        uint32_t t = cell_type(c);
        if (t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH)) n += count_values(c);
    }
    return n;
}

template <typename Run>
double seconds(Run run) {
    auto t0 = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void bench(void*) {
    char name[] = "bench_lexer";
    char* argv[] = {name, nullptr};
    runtime_start(1, argv);
    run_global_code();

    std::string text = generate(5u << 20);
    double mb = double(text.size()) / (1u << 20);
    GcRoot source, result;
    string_make(source.get(), uint32_t(text.size()) + 1);
    string_append_utf8(source.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size());

    auto from_string = [&] {
        load_source(result.get(), source.get(), -1, false, true, true, false, nullptr, nullptr, nullptr);
    };
    auto from_bytes = [&] {
        lexer_scan(result.get(), reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), false, true, true,
                   false, nullptr, nullptr, nullptr, nullptr);
    };
    auto scan = [&] {
        lexer_scan(result.get(), reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), false, true, false,
                   false, nullptr, nullptr, nullptr, nullptr);
    };
    // A first load makes the symbols and grows the tables; then the three runs alternate and the best of
    // each counts, so that collections fall on all of them alike.
    from_string();
    uint64_t values = count_values(result.get());
    double best[3] = {1e9, 1e9, 1e9};
    for (int round = 0; round < 8; round++) {
        best[0] = std::min(best[0], seconds(from_string));
        best[1] = std::min(best[1], seconds(from_bytes));
        best[2] = std::min(best[2], seconds(scan));
    }
    std::printf("source: %.2f MB, %llu values\n", mb, static_cast<unsigned long long>(values));
    std::printf("load from string!: %7.1f MB/s\n", mb / best[0]);
    std::printf("load from bytes:   %7.1f MB/s\n", mb / best[1]);
    std::printf("scan (no values):  %7.1f MB/s\n", mb / best[2]);
    std::printf("collections: %u\n", gc_stats().collections);
}

}  // namespace

int main() {
    platform::run_with_stack(INTERPRETER_STACK_BYTES, bench, nullptr);
    return 0;
}
