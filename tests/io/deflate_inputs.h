// The inputs of the deflate tests, made as tools/gen_deflate_refs.py makes them: its reference streams in
// tests/io/deflate/ are these inputs compressed by the system zlib.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zol::test {

using Bytes = std::vector<uint8_t>;

struct XorShift {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

inline Bytes text_input(size_t length, uint32_t seed) {
    static const char* const words[] = {
        "the",   "quick", "brown",  "fox",    "jumps",  "over",   "lazy", "dog",   "lorem",   "ipsum", "dolor",
        "sit",   "amet",  "zlib",   "deflate", "stream", "block", "code", "length", "distance", "window",
        "match", "literal", "huffman", "tree", "bit",    "byte",   "value", "a",    "of",      "and",   "to"};
    XorShift r{seed};
    Bytes out;
    for (size_t n = 1; out.size() < length; n++) {
        std::string w = words[r.next() % 32];
        out.insert(out.end(), w.begin(), w.end());
        out.push_back(n % 12 == 0 ? '\n' : ' ');
    }
    out.resize(length);
    return out;
}

inline Bytes random_input(size_t length, uint32_t seed) {
    XorShift r{seed};
    Bytes out(length);
    for (uint8_t& b : out) b = uint8_t(r.next());
    return out;
}

inline Bytes fibonacci_input(uint32_t seed) {
    std::vector<size_t> counts = {1, 2};
    while (counts.size() < 18) counts.push_back(counts[counts.size() - 1] + counts[counts.size() - 2]);
    Bytes out;
    for (size_t symbol = 0; symbol < counts.size(); symbol++) out.insert(out.end(), counts[symbol], uint8_t(symbol * 11));
    XorShift r{seed};
    for (size_t i = out.size() - 1; i > 0; i--) std::swap(out[i], out[r.next() % (i + 1)]);
    return out;
}

struct NamedInput {
    const char* name;
    Bytes bytes;
};

inline const std::vector<NamedInput>& deflate_inputs() {
    static const std::vector<NamedInput> inputs = {
        {"empty", {}},
        {"one", {'a'}},
        {"run", Bytes(100000, 'x')},
        {"text", text_input(50000, 1)},
        {"random", random_input(4096, 2)},
        {"fibonacci", fibonacci_input(3)},
        {"large", text_input(1 << 20, 4)},
    };
    return inputs;
}

}  // namespace zol::test
