// Case folding. Lookups below U+10000 are two reads of a table made at compile time: the high byte picks a
// page of 256 entries (0: maps to itself), so the program starts with nothing to build or clear. The few
// hundred mappings above U+FFFF are found in their pair list.
#include "casefold.h"

#include <cstddef>

namespace zol {

namespace {

#include "casefold_tables.inc"

constexpr uint32_t BMP_SIZE = 0x10000;

template <size_t N>
constexpr CasePairList list_of(const CasePair (&pairs)[N]) {
    return {pairs, uint32_t(N)};
}

// Page 0 maps nothing; every high byte with a mapping has a page of its own.
template <size_t Pages>
struct BmpTable {
    uint8_t page_of[256];
    int32_t pages[Pages][256];
};

template <size_t N>
constexpr size_t pages_needed(const CasePair (&pairs)[N]) {
    bool used[256] = {};
    size_t n = 1;
    for (const CasePair& p : pairs) {
        if (!used[p.from >> 8]) n++;
        used[p.from >> 8] = true;
    }
    return n;
}

template <size_t Pages, size_t N>
constexpr BmpTable<Pages> make_table(const CasePair (&pairs)[N]) {
    BmpTable<Pages> t{};
    uint8_t next = 1;
    for (const CasePair& p : pairs) {
        uint32_t high = p.from >> 8;
        if (!t.page_of[high]) t.page_of[high] = next++;
        t.pages[t.page_of[high]][p.from & 0xFF] = int32_t(p.to);
    }
    return t;
}

constexpr auto kToUpper = make_table<pages_needed(kUpperBmp)>(kUpperBmp);
constexpr auto kToLower = make_table<pages_needed(kLowerBmp)>(kLowerBmp);
static_assert(pages_needed(kUpperBmp) < 256 && pages_needed(kLowerBmp) < 256);

}  // namespace

CasePairList case_pairs(bool upper, bool supplementary) {
    if (supplementary) return upper ? list_of(kUpperSupplementary) : list_of(kLowerSupplementary);
    return upper ? list_of(kUpperBmp) : list_of(kLowerBmp);
}

uint32_t case_convert_char(uint32_t cp, bool upper) {
    if (cp < BMP_SIZE) {
        int32_t mapped = upper ? kToUpper.pages[kToUpper.page_of[cp >> 8]][cp & 0xFF]
                               : kToLower.pages[kToLower.page_of[cp >> 8]][cp & 0xFF];
        return mapped ? uint32_t(mapped) : cp;
    }
    CasePairList list = case_pairs(upper, true);
    if (cp < list.pairs[0].from || cp > list.pairs[list.count - 1].from) return cp;
    // A linear scan: the list is short and its code points are rare in text.
    for (uint32_t i = 0; i < list.count; i++) {
        if (list.pairs[i].from > cp) break;
        if (list.pairs[i].from == cp) return list.pairs[i].to;
    }
    return cp;
}

}  // namespace zol
