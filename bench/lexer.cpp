// Lexer throughput: a generated source of about 5 MB, with the common kinds of token in the proportions of
// ordinary code, loaded whole again and again, beside bench/lexer.py, where python3 parses the same items
// written as Python source (ast.parse) and as JSON (json.loads). Both print the same checksum line on stdout
// (the number of items read); the timings, in MB/s, go to stderr.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "bench.h"
#include "interpreter/lexer/lexer.h"
#include "runtime/datatypes/string.h"
#include "runtime/gc.h"
#include "runtime/memory.h"

namespace zol::bench {
namespace {

constexpr unsigned ITEMS = 20500;  // about 5 MB of source
constexpr int ROUNDS = 8;

// The same items as lexer.py's: one definition each, over five lines.
std::string generate() {
    std::string out;
    for (unsigned i = 0; i < ITEMS; i++) {
        std::string n = std::to_string(i);
        out += "item-" + n + ": make object! [\n";
        out += "    id: " + n + " ratio: " + std::to_string(i % 1000) + ".25 name: \"name " + n + "\"\n";
        out += "    tags: [alpha beta/gamma 'delta #epsilon] when: 12:30 day: 1-Jan-2000 cost: $1.50\n";
        out += "    path: %dir/file-" + n + ".txt link: http://example.com/" + n + " ; a comment\n";
        out += "    calc: (x + y * 2) ok?: true\n]\n";
    }
    return out;
}

// The items read: the top-level set-words.
unsigned count_items(const Cell* block) {
    unsigned n = 0;
    Series* s = cell_series(block);
    for (uint32_t i = 0; i < s->used(); i++) n += cell_is(s->cells() + i, TYPE_SET_WORD);
    return n;
}

template <typename Run>
double seconds(Run run) {
    auto t0 = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void workloads() {
    std::string text = generate();
    double mb = double(text.size()) / (1u << 20);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    GcRoot source, result;
    string_make(source.get(), uint32_t(text.size()) + 1);
    string_append_utf8(source.get(), bytes, text.size());

    auto from_string = [&] { load_source(result.get(), source.get(), -1, LexOptions{}); };
    auto from_bytes = [&] {
        lexer_scan(result.get(), bytes, uint32_t(text.size()), LexOptions{});
    };
    auto scan_only = [&] {
        lexer_scan(result.get(), bytes, uint32_t(text.size()), LexOptions{.scan = true});
    };
    // A first load makes the symbols and grows the tables; then the three runs alternate, so that
    // collections fall on all of them alike, and the best of each counts.
    from_string();
    unsigned items = count_items(result.get());
    double best[3] = {1e9, 1e9, 1e9};
    for (int round = 0; round < ROUNDS; round++) {
        best[0] = std::min(best[0], seconds(from_string));
        best[1] = std::min(best[1], seconds(from_bytes));
        best[2] = std::min(best[2], seconds(scan_only));
    }
    std::printf("items %u\n", items);
    std::fprintf(stderr, "source           %7.2f MB\n", mb);
    std::fprintf(stderr, "load string!     %7.1f MB/s\n", mb / best[0]);
    std::fprintf(stderr, "load bytes       %7.1f MB/s\n", mb / best[1]);
    std::fprintf(stderr, "scan, no values  %7.1f MB/s\n", mb / best[2]);
}

}  // namespace
}  // namespace zol::bench

int main() { return zol::bench::run_in_runtime<zol::bench::workloads>(); }
