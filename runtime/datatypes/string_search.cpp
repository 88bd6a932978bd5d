// string! search: find and select, the string side of the set operations, and the match tests of the Parse
// engine. Searches read the buffer in place, unit by unit with a precomputed step; only a value that is not
// text of its own is formed into a temporary string first. binary! inherits find and select: it never folds case.
#include <climits>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "bitset.h"
#include "series.h"
#include "string.h"
#include "vector.h"
#include "runtime/casefold.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"

namespace zol {

namespace {

inline uint32_t fold_cp(uint32_t cp) { return case_convert_char(cp, true); }

// What a search looks for: a text (folded when the search folds), a bitset, or nothing that can match.
struct Needle {
    std::vector<uint32_t> cps;
    const Cell* bitset = nullptr;
    bool single = false;  // one code point, a bitset or a number: /tail steps once past it
    bool never = false;
};

void read_text(const Cell* text, bool fold, Needle* n) {
    Series* s = cell_series(text);
    uint32_t unit = s->unit();
    uint32_t head = series_clamped_head(text);
    const uint8_t* p = s->head_ptr() + uint64_t(head) * unit;
    n->cps.resize(s->used() - head);
    for (uint32_t& c : n->cps) {
        c = string_get_char(p, unit);
        if (fold) c = fold_cp(c);
        p += unit;
    }
}

// temp receives the formed text of a value that is not text of its own (it must stay rooted while used).
Needle build_needle(const Cell* series, const Cell* value, bool fold, Cell* temp) {
    Needle n;
    bool binary = cell_is(series, TYPE_BINARY);
    switch (cell_type(value)) {
        case TYPE_CHAR:
            n.cps.push_back(fold ? fold_cp(cell_char(value)) : cell_char(value));
            n.single = true;
            return n;
        case TYPE_BITSET:
            n.bitset = value;
            n.single = true;
            return n;
        case TYPE_BINARY:
            if (!binary) fire(ERR_SCRIPT_INVALID_ARG, value);
            read_text(value, false, &n);
            return n;
        case TYPE_INTEGER:
            if (!binary) break;
            n.single = true;
            n.never = cell_int(value) < 0;
            n.cps.push_back(uint32_t(cell_int(value)));
            return n;
        case TYPE_FLOAT:
            if (!binary) break;
            n.single = true;
            {
                double d = cell_float(value);
                n.never = !(d >= 0.0 && d < 4294967296.0) || d != double(uint32_t(d));
                n.cps.push_back(n.never ? 0 : uint32_t(d));
            }
            return n;
        default: break;
    }
    uint32_t t = cell_type(value);
    Cell text;
    if ((type_in(FAMILY_ANY_STRING, t) && t != TYPE_TAG) || t == TYPE_WORD) {
        string_text_view(value, &text);
    } else {
        string_make(temp, 16);
        MoldArgs args;
        form_value(value, temp, args, INT_MAX);
        text = *temp;
    }
    read_text(&text, fold, &n);
    return n;
}

template <uint32_t U>
inline uint32_t load(const uint8_t* p) {
    if constexpr (U == 1) {
        return *p;
    } else if constexpr (U == 2) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    } else {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
}

// The search range: units [lo, hi) of the buffer, walked by `step` units from the low end or from the high end.
// Records of `step` units start at the head: at lo going forward or with /last, and at hi (the head) with
// /reverse, so a backward walk still stops only where a record starts.
struct Range {
    int64_t lo, hi, step;
    bool backward, only_first;
    bool records_end_at_hi;
};

// The unit index of the first match in the range, or -1. No allocation happens here, so the buffer address
// holds for the whole scan.
template <uint32_t U>
int64_t scan(const uint8_t* base, const Range& r, const Needle& n, bool fold) {
    int64_t len = n.bitset ? 1 : int64_t(n.cps.size());
    if (r.hi - r.lo < len) return -1;
    // 1-byte units fold through a table made once per search.
    uint32_t table[256];
    if constexpr (U == 1) {
        for (uint32_t c = 0; c < 256; c++) table[c] = fold ? fold_cp(c) : c;
    }
    auto unit_at = [&](int64_t i) -> uint32_t {
        uint32_t c = load<U>(base + i * U);
        if constexpr (U == 1) {
            return table[c];
        } else {
            return fold ? fold_cp(c) : c;
        }
    };
    const uint32_t* want = n.cps.data();
    auto matches = [&](int64_t p) {
        if (n.bitset) return bitset_has(n.bitset, load<U>(base + p * U));
        for (int64_t k = 0; k < len; k++) {
            if (unit_at(p + k) != want[k]) return false;
        }
        return true;
    };
    if (r.backward) {
        // The last record start where the whole needle still fits below hi.
        int64_t start = r.records_end_at_hi ? r.hi - (len + r.step - 1) / r.step * r.step
                                            : r.lo + (r.hi - len - r.lo) / r.step * r.step;
        for (int64_t p = start; p >= r.lo; p -= r.step) {
            if (matches(p)) return p;
            if (r.only_first) break;
        }
        return -1;
    }
    if constexpr (U == 1) {
        // The common case of a case-sensitive text search: memchr finds each candidate for the first byte.
        if (!fold && !n.bitset && r.step == 1 && !r.only_first) {
            if (want[0] > 0xFF) return -1;
            const uint8_t* p = base + r.lo;
            const uint8_t* last = base + (r.hi - len);
            while (p <= last) {
                p = static_cast<const uint8_t*>(std::memchr(p, int(want[0]), size_t(last - p) + 1));
                if (!p) return -1;
                if (matches(p - base)) return p - base;
                p++;
            }
            return -1;
        }
    }
    for (int64_t p = r.lo; p + len <= r.hi; p += r.step) {
        if (matches(p)) return p;
        if (r.only_first) break;
    }
    return -1;
}

// Where find found the value: the unit index of the match and the units it covers.
struct Hit {
    int64_t at = -1;
    uint32_t length = 0;
    uint32_t step = 1;
    bool single = false;
};

Hit locate(Cell* series, const Cell* value, const FindArgs& args) {
    Hit miss;
    uint32_t used = cell_series(series)->used();
    if (used == 0) return miss;
    uint32_t head = series_index(series);
    if (head >= used && !args.reverse) return miss;
    if (head > used) head = used;
    if (args.any || args.wild) fire(ERR_INTERNAL_NOT_DONE);
    int64_t step = 1;
    if (args.skip) {
        if (!cell_is(args.skip, TYPE_INTEGER)) fire_bad_refinement("skip", args.skip);
        step = cell_int(args.skip);
        if (step < 1) fire(ERR_SCRIPT_OUT_OF_RANGE, args.skip);
    }
    int64_t limit = -1;
    if (args.part) {
        limit = series_part_count(series, args.part);
        if (limit < 1) return miss;
    }
    Range r;
    r.step = step;
    r.only_first = args.match;
    if (args.reverse) {
        if (head == 0 || args.match) return miss;
        r.hi = head;
        r.lo = limit >= 0 && limit < head ? head - limit : 0;
        r.backward = true;
        r.records_end_at_hi = true;
    } else {
        r.lo = head;
        r.hi = limit >= 0 && limit < used - head ? head + limit : used;
        r.backward = args.last;
        r.records_end_at_hi = false;
    }
    bool fold = type_in(FAMILY_ANY_STRING, cell_type(series)) && !args.case_sensitive && !args.same;
    GcRoot temp;
    Needle n = build_needle(series, value, fold, temp.get());
    if (n.never || (!n.bitset && n.cps.empty())) return miss;
    Series* s = cell_series(series);  // after build_needle, which may allocate
    int64_t at;
    switch (s->unit()) {
        case 1: at = scan<1>(s->head_ptr(), r, n, fold); break;
        case 2: at = scan<2>(s->head_ptr(), r, n, fold); break;
        default: at = scan<4>(s->head_ptr(), r, n, fold); break;
    }
    if (at < 0) return miss;
    Hit hit;
    hit.at = at;
    hit.length = n.bitset ? 1 : uint32_t(n.cps.size());
    hit.step = uint32_t(step);
    hit.single = n.single;
    return hit;
}

}  // namespace

const Cell* string_find(Cell* series, Cell* value, const FindArgs& args) {
    if (cell_is(series, TYPE_VECTOR)) return vector_find(series, value, args, false);
    Hit hit = locate(series, value, args);
    if (hit.at < 0) return &g_none_value;
    int64_t at = hit.at;
    if (args.tail) {
        at += hit.single ? hit.step : hit.length;
        int64_t used = cell_series(series)->used();
        if (at > used) at = used;
    }
    series->w1 = uint32_t(at);
    return series;
}

// The unit after the match: after the whole matched text, also for a value that find formed into text (its
// formed text is what matched).
const Cell* string_select(Cell* series, Cell* value, const FindArgs& args) {
    if (cell_is(series, TYPE_VECTOR)) return vector_find(series, value, args, true);
    FindArgs find = args;
    find.tail = false;
    find.match = false;
    Hit hit = locate(series, value, find);
    if (hit.at < 0) return &g_none_value;
    uint64_t after = uint64_t(hit.at) + hit.length;
    if (after >= cell_series(series)->used()) return &g_none_value;
    uint32_t cp = string_char_at(series, uint32_t(after));
    if (cell_is(series, TYPE_BINARY)) {
        set_integer(series, int32_t(cp));
    } else {
        set_char(series, cp);
    }
    return series;
}

// --- small searches for other units

int32_t string_find_char(const Cell* str, uint32_t cp) {
    Series* s = cell_series(str);
    uint32_t unit = s->unit(), head = series_clamped_head(str), used = s->used();
    for (uint32_t i = head; i < used; i++) {
        if (string_get_char(s->head_ptr() + uint64_t(i) * unit, unit) == cp) return int32_t(i - head);
    }
    return -1;
}

bool string_find_char_skip(const Cell* str, uint32_t cp, uint32_t skip, bool case_sensitive) {
    Series* s = cell_series(str);
    uint32_t unit = s->unit(), used = s->used();
    if (skip == 0) skip = 1;
    if (!case_sensitive) cp = fold_cp(cp);
    for (uint64_t i = series_clamped_head(str); i < used; i += skip) {
        uint32_t c = string_get_char(s->head_ptr() + i * unit, unit);
        if ((case_sensitive ? c : fold_cp(c)) == cp) return true;
    }
    return false;
}

bool string_starts_with(const Cell* str, const char* bytes) {
    Series* s = cell_series(str);
    uint32_t unit = s->unit(), used = s->used();
    uint64_t i = series_clamped_head(str);
    for (; *bytes; bytes++, i++) {
        if (i >= used || string_get_char(s->head_ptr() + i * unit, unit) != uint8_t(*bytes)) return false;
    }
    return true;
}

bool string_match_at(const Cell* str, const Cell* value, bool strict) {
    uint32_t head = series_clamped_head(str);
    uint32_t used = cell_series(str)->used();
    CompareOp op = strict ? CMP_STRICT_EQUAL : CMP_EQUAL;
    switch (cell_type(value)) {
        case TYPE_CHAR: {
            if (head >= used) return false;
            uint32_t a = string_char_at(str, head), b = cell_char(value);
            return strict ? a == b : fold_cp(a) == fold_cp(b);
        }
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_EMAIL:
        case TYPE_REF: return string_compare_op(str, value, op, true) == 0;
        case TYPE_TAG: {
            if (!string_tag_delims(str, value)) return false;
            Cell inside = *str;
            inside.w1 = head + 1;
            return string_compare_op(&inside, value, op, true) == 0;
        }
        default: return false;
    }
}

bool string_head_in_bitset(const Cell* str, const Cell* bitset) {
    uint32_t head = series_clamped_head(str);
    if (head >= cell_series(str)->used()) return false;
    return bitset_has(bitset, string_char_at(str, head));
}

bool string_tag_delims(const Cell* str, const Cell* tag) {
    uint64_t head = series_clamped_head(str);
    uint64_t close = head + 1 + string_length(tag);
    if (close >= cell_series(str)->used()) return false;
    return string_char_at(str, uint32_t(head)) == '<' && string_char_at(str, uint32_t(close)) == '>';
}

// --- set operations

namespace {

using RecordKeys = std::unordered_set<uint32_t>;

// The key of the record at a unit index: its first code point (folded unless case_sensitive). The rest of
// a record follows its key, as the cells of a block record follow theirs.
uint32_t record_key(const Cell* str, uint32_t at, bool case_sensitive) {
    uint32_t c = string_char_at(str, at);
    return case_sensitive ? c : fold_cp(c);
}

RecordKeys records_of(const Cell* str, uint32_t size, bool case_sensitive) {
    RecordKeys keys;
    uint32_t used = cell_series(str)->used();
    for (uint32_t at = series_clamped_head(str); at < used; at += size) keys.insert(record_key(str, at, case_sensitive));
    return keys;
}

// Walks the records of str; keeps each one that passes the membership test (when `other` is given: found in it
// exactly when `want_found`) and is not yet kept, appending its original text to out.
void keep_records(const Cell* str, uint32_t size, bool case_sensitive, const RecordKeys* other, bool want_found,
                  RecordKeys& kept, std::vector<uint32_t>& out) {
    uint32_t used = cell_series(str)->used();
    for (uint32_t at = series_clamped_head(str); at < used; at += size) {
        uint32_t key = record_key(str, at, case_sensitive);
        if (other && (other->count(key) != 0) != want_found) continue;
        if (!kept.insert(key).second) continue;
        uint32_t n = used - at < size ? used - at : size;
        for (uint32_t i = 0; i < n; i++) out.push_back(string_char_at(str, at + i));
    }
}

}  // namespace

void string_set_op(Cell* result, const Cell* first, const Cell* second, bool case_sensitive, const Cell* skip, SetOp op) {
    uint32_t size = 1;
    if (skip) {
        if (!cell_is(skip, TYPE_INTEGER) || cell_int(skip) < 1) fire_bad_refinement("skip", skip);
        size = uint32_t(cell_int(skip));
    }
    GcRoot a(*first), b(second ? *second : *first);
    RecordKeys kept;
    std::vector<uint32_t> out;
    switch (op) {
        case SET_UNIQUE: keep_records(a.get(), size, case_sensitive, nullptr, false, kept, out); break;
        case SET_UNION:
            keep_records(a.get(), size, case_sensitive, nullptr, false, kept, out);
            keep_records(b.get(), size, case_sensitive, nullptr, false, kept, out);
            break;
        case SET_INTERSECT: {
            RecordKeys other = records_of(b.get(), size, case_sensitive);
            keep_records(a.get(), size, case_sensitive, &other, true, kept, out);
            break;
        }
        case SET_EXCLUDE: {
            RecordKeys other = records_of(b.get(), size, case_sensitive);
            keep_records(a.get(), size, case_sensitive, &other, false, kept, out);
            break;
        }
        case SET_DIFFERENCE: {
            RecordKeys in_b = records_of(b.get(), size, case_sensitive);
            RecordKeys in_a = records_of(a.get(), size, case_sensitive);
            keep_records(a.get(), size, case_sensitive, &in_b, false, kept, out);
            keep_records(b.get(), size, case_sensitive, &in_a, false, kept, out);
            break;
        }
    }
    GcRoot made;
    string_make(made.get(), uint32_t(out.size()));
    string_append_code_points(made.get(), out.data(), out.size());
    cell_set_type(made.get(), cell_type(a.get()));
    *result = *made;
}

}  // namespace zol
