// Case folding. Lookups below U+10000 are one read of a direct table of 65,536 entries (0: maps to itself);
// the few hundred mappings above it are found in their pair list.
#include "casefold.h"

#include <cstring>

#include "memory.h"

namespace zol {

namespace {

#include "casefold_tables.inc"

constexpr uint32_t BMP_SIZE = 0x10000;

int32_t* g_to_upper = nullptr;
int32_t* g_to_lower = nullptr;

template <size_t N>
constexpr CasePairList list_of(const CasePair (&pairs)[N]) {
    return {pairs, uint32_t(N)};
}

void fill(int32_t* table, CasePairList list) {
    for (uint32_t i = 0; i < list.count; i++) table[list.pairs[i].from] = int32_t(list.pairs[i].to);
}

}  // namespace

CasePairList case_pairs(bool upper, bool supplementary) {
    if (supplementary) return upper ? list_of(kUpperSupplementary) : list_of(kLowerSupplementary);
    return upper ? list_of(kUpperBmp) : list_of(kLowerBmp);
}

void case_tables_init() {
    // The tables live for the whole process; a second start-up (tests) refills the same ones.
    if (!g_to_upper) {
        g_to_upper = static_cast<int32_t*>(tracked_alloc(BMP_SIZE * sizeof(int32_t)));
        g_to_lower = static_cast<int32_t*>(tracked_alloc(BMP_SIZE * sizeof(int32_t)));
    }
    std::memset(g_to_upper, 0, BMP_SIZE * sizeof(int32_t));
    std::memset(g_to_lower, 0, BMP_SIZE * sizeof(int32_t));
    fill(g_to_upper, case_pairs(true, false));
    fill(g_to_lower, case_pairs(false, false));
}

uint32_t case_convert_char(uint32_t cp, bool upper) {
    if (cp < BMP_SIZE) {
        int32_t mapped = (upper ? g_to_upper : g_to_lower)[cp];
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
