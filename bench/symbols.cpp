// Symbol interning, context words and hash lookups on the runtime's own tables, beside bench/symbols.py
// doing the same work with python3's dict. Both print the same checksum lines on stdout (compare them with
// diff); the timings go to stderr.
#include <cstdio>
#include <string>
#include <vector>

#include "bench.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/gc.h"
#include "runtime/values/hashtable.h"

namespace zol::bench {
namespace {

constexpr uint32_t NAMES = 200000;
constexpr uint32_t ROUNDS = 5;

std::vector<std::string> names(const char* prefix) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < NAMES; i++) out.push_back(prefix + std::to_string(i * 7919u % 1000003u));
    return out;
}

uint32_t intern(const std::string& name, bool exact) {
    return symbol_make_len(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), exact);
}

// New names, then the same names again (hits), then their upper-case spellings (hits without case).
void symbols() {
    std::vector<std::string> lower = names("word-"), upper = names("WORD-");
    std::vector<uint32_t> ids(NAMES);
    uint32_t before = symbol_count();
    auto start = Clock::now();
    for (uint32_t i = 0; i < NAMES; i++) ids[i] = intern(lower[i], false);
    report("intern-new", start);
    uint32_t hits = 0;
    start = Clock::now();
    for (uint32_t r = 0; r < ROUNDS; r++)
        for (uint32_t i = 0; i < NAMES; i++) hits += intern(lower[i], false) == ids[i];
    report("intern-hit", start);
    uint32_t folded = 0;
    start = Clock::now();
    for (uint32_t i = 0; i < NAMES; i++) folded += intern(upper[i], false) == ids[i];
    report("intern-case", start);
    std::printf("symbols %u %u %u\n", symbol_count() - before, hits, folded);
}

// Words added to one context, then found by symbol.
void context_words() {
    std::vector<std::string> list = names("field-");
    std::vector<uint32_t> syms(NAMES);
    for (uint32_t i = 0; i < NAMES; i++) syms[i] = intern(list[i], false);
    GcRoot keep;
    uint32_t context = context_make(8, false, false, 0, CONTEXT_KIND_PLAIN);
    keep->header = TYPE_OBJECT;  // an object cell over the context keeps it alive
    keep->w1 = context;
    keep->w3 = 0;
    auto start = Clock::now();
    for (uint32_t i = 0; i < NAMES; i++) context_add_word(context, syms[i]);
    report("bind-add", start);
    uint64_t sum = 0;
    start = Clock::now();
    for (uint32_t r = 0; r < ROUNDS; r++)
        for (uint32_t i = 0; i < NAMES; i++) sum += uint32_t(context_find_word(context, syms[i], true));
    report("bind-find", start);
    std::printf("context %u %llu\n", NAMES, static_cast<unsigned long long>(sum % 1000003u));
}

// Appends a new string! per name to a block.
void append_strings(Cell* block, const std::vector<std::string>& list, bool with_values) {
    for (uint32_t i = 0; i < list.size(); i++) {
        Cell* key = block_alloc_tail(block);
        set_none(key);  // marked from here on, and string_make allocates
        string_make(key);
        string_append_ascii(key, list[i].c_str());
        if (with_values) set_integer(block_alloc_tail(block), int32_t(i));
    }
}

// A map-kind index over string keys, probed with other strings of the same text (hits) and of other text
// (misses).
void string_keys() {
    GcRoot block, probes;
    block_make_at(block.get(), NAMES * 2);
    append_strings(block.get(), names("key-"), true);
    block_make_at(probes.get(), NAMES * 2);
    append_strings(probes.get(), names("key-"), false);
    append_strings(probes.get(), names("nokey-"), false);
    auto start = Clock::now();
    uint32_t table = hashtable_make(NAMES, series_node(block.get()), HASH_MAP, 0);
    report("map-build", start);
    GcRoot keep;
    set_series(keep.get(), TYPE_BINARY, table);
    uint64_t sum = 0;
    uint32_t missed = 0;
    start = Clock::now();
    for (uint32_t r = 0; r < ROUNDS; r++) {
        for (uint32_t i = 0; i < NAMES; i++) {
            int32_t at = hashtable_get(table, cell_series(probes.get())->cells() + (r % 2 ? NAMES : 0) + i);
            if (at < 0) {
                missed++;
            } else {
                sum += uint32_t(cell_int(cell_series(block.get())->cells() + at + 1));
            }
        }
    }
    report("map-get", start);
    std::printf("map %u %llu\n", missed, static_cast<unsigned long long>(sum % 1000003u));
}

void workloads() {
    symbols();
    context_words();
    string_keys();
}

}  // namespace
}  // namespace zol::bench

int main() { return zol::bench::run_in_runtime<zol::bench::workloads>(); }
