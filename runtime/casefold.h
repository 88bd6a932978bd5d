// Case folding: upper- and lower-case mappings of code points (Unicode 11.0), for uppercase, lowercase and every
// comparison that ignores case. Comparing without case means mapping both code points to upper case.
#pragma once
#include <cstdint>

namespace zol {

// A code point and the first code point of its full mapping.
struct CasePair {
    uint32_t from;
    uint32_t to;
};

struct CasePairList {
    const CasePair* pairs;  // sorted by from
    uint32_t count;
};

// The constant pair lists behind the tables: to upper or to lower, for the Basic Multilingual Plane or above it.
CasePairList case_pairs(bool upper, bool supplementary);

// The code point mapped to upper (upper set) or lower case; a code point without a mapping, or beyond
// U+10FFFF, is returned unchanged.
uint32_t case_convert_char(uint32_t cp, bool upper);

}  // namespace zol
