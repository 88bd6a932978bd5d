// Parse's matching primitives: one literal rule value against the input at a position, counted repetitions
// of it in one pass, searches for it, and matching by datatype. They read the buffers in place, unit by unit,
// which is where a parse spends most of its time on text.
#include <cstring>
#include <string>

#include "interpreter/lexer/lexer.h"
#include "interpreter/parse/parse_internal.h"
#include "runtime/casefold.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/values/compare.h"

namespace zol::parse {

namespace {

// Both sides of a comparison that ignores case are folded to upper case; ASCII without a table read.
inline uint32_t fold(uint32_t cp) {
    if (cp < 128) return cp - 'a' < 26u ? cp - 32 : cp;
    return case_convert_char(cp, true);
}

// Units of a text or binary buffer, addressed from its first used unit. Good until the next allocation.
struct Units {
    const uint8_t* data;
    uint32_t unit;
    uint32_t count;  // units from data
    uint32_t at(uint32_t i) const { return string_get_char(data + uint64_t(i) * unit, unit); }
};

// The whole buffer of the input (positions are absolute indexes).
Units buffer_units(const Cell* series) {
    Series* s = cell_series(series);
    return {s->head_ptr(), s->unit(), s->used()};
}
// A rule value's text from its head (clamped to its tail).
Units value_units(const Cell* series) {
    Series* s = cell_series(series);
    uint32_t head = series_clamped_head(series);
    return {s->head_ptr() + uint64_t(head) * s->unit(), s->unit(), s->used() - head};
}

// A bitset! read in place, its buffer fetched once for a loop over many units.
struct Bits {
    const uint8_t* bytes;
    uint32_t size;
    bool complement;
    explicit Bits(const Cell* bitset)
        : bytes(bitset_data(bitset)), size(bitset_size(bitset)), complement(bitset_not(bitset)) {}
    bool has(uint32_t cp) const { return (cp >> 3) < size ? (bytes[cp >> 3] & (0x80u >> (cp & 7))) != 0 : complement; }
};

bool is_text_rule(uint32_t type) {
    switch (type) {
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_EMAIL:
        case TYPE_REF: return true;
        default: return false;
    }
}

// The needle's units equal the input's from pos (the caller has checked that they fit).
bool units_equal(const Units& in, uint32_t pos, const Units& needle, bool fold_case) {
    if (in.unit == 1 && needle.unit == 1 && !fold_case) {
        return std::memcmp(in.data + pos, needle.data, needle.count) == 0;
    }
    for (uint32_t i = 0; i < needle.count; i++) {
        uint32_t a = in.at(pos + i), b = needle.at(i);
        if (a != b && (!fold_case || fold(a) != fold(b))) return false;
    }
    return true;
}

// A tag's "<", text and ">" at pos, within end.
bool tag_at(const Units& in, uint32_t pos, uint32_t end, const Units& tag, bool fold_case) {
    if (uint64_t(pos) + tag.count + 2 > end) return false;
    return in.at(pos) == '<' && in.at(pos + 1 + tag.count) == '>' && units_equal(in, pos + 1, tag, fold_case);
}

// The bytes a string-like rule value stands for in binary input: its UTF-8 text (a tag with its "<" and
// ">"), or a binary's own bytes.
std::string rule_bytes(const Cell* rule) {
    if (cell_is(rule, TYPE_BINARY)) {
        Units u = value_units(rule);
        return std::string(reinterpret_cast<const char*>(u.data), u.count);
    }
    std::string text = string_to_utf8(rule);
    return cell_is(rule, TYPE_TAG) ? "<" + text + ">" : text;
}

bool is_bytes_rule(uint32_t type) { return type == TYPE_BINARY || type == TYPE_TAG || is_text_rule(type); }

int64_t match_binary(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule) {
    Units in = buffer_units(input);
    switch (cell_type(rule)) {
        case TYPE_CHAR: return pos < end && in.data[pos] == cell_char(rule) ? 1 : -1;
        case TYPE_BITSET: return pos < end && Bits(rule).has(in.data[pos]) ? 1 : -1;
        default: {
            if (!is_bytes_rule(cell_type(rule))) return -1;
            std::string bytes = rule_bytes(rule);
            if (uint64_t(pos) + bytes.size() > end) return -1;
            return std::memcmp(in.data + pos, bytes.data(), bytes.size()) == 0 ? int64_t(bytes.size()) : -1;
        }
    }
}

int64_t match_text(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule, bool case_sensitive) {
    Units in = buffer_units(input);
    uint32_t type = cell_type(rule);
    if (is_text_rule(type)) {
        Units needle = value_units(rule);
        if (uint64_t(pos) + needle.count > end) return -1;
        return units_equal(in, pos, needle, !case_sensitive) ? int64_t(needle.count) : -1;
    }
    if (pos >= end) return -1;
    switch (type) {
        case TYPE_CHAR: {
            uint32_t a = in.at(pos), b = cell_char(rule);
            return a == b || (!case_sensitive && fold(a) == fold(b)) ? 1 : -1;
        }
        case TYPE_BITSET: return Bits(rule).has(in.at(pos)) ? 1 : -1;
        case TYPE_TAG: {
            Units tag = value_units(rule);
            return tag_at(in, pos, end, tag, !case_sensitive) ? int64_t(tag.count) + 2 : -1;
        }
        default: return -1;
    }
}

// Counts units from pos while the predicate holds, at most max of them.
template <typename Pred>
uint32_t count_units(const Units& in, uint32_t pos, uint32_t stop, Pred pred) {
    uint32_t i = pos;
    switch (in.unit) {
        case 1:
            for (const uint8_t* p = in.data; i < stop && pred(uint32_t(p[i]));) i++;
            break;
        case 2:
            for (const auto* p = reinterpret_cast<const uint16_t*>(in.data); i < stop && pred(uint32_t(p[i]));) i++;
            break;
        default:
            for (const auto* p = reinterpret_cast<const uint32_t*>(in.data); i < stop && pred(p[i]);) i++;
            break;
    }
    return i - pos;
}

// The first unit from pos before stop for which the predicate holds, or stop.
template <typename Pred>
uint32_t find_unit(const Units& in, uint32_t pos, uint32_t stop, Pred pred) {
    return pos + count_units(in, pos, stop, [&](uint32_t c) { return !pred(c); });
}

}  // namespace

bool value_matches(const Cell* value, const Cell* rule, bool case_sensitive) {
    switch (cell_type(rule)) {
        case TYPE_LIT_WORD: {
            if (!cell_is(value, TYPE_WORD) && !cell_is(value, TYPE_LIT_WORD)) return false;
            uint32_t a = word_symbol(value), b = word_symbol(rule);
            return case_sensitive ? a == b : symbol_resolve(a) == symbol_resolve(b);
        }
        case TYPE_LIT_PATH:
            return compare_values(value, rule, case_sensitive ? CMP_FIND_WORD : CMP_FIND_WORD_STRICT);
        default: return compare_values(value, rule, case_sensitive ? CMP_STRICT_EQUAL : CMP_EQUAL);
    }
}

int64_t match_literal(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule, bool case_sensitive) {
    if (type_in(FAMILY_ANY_BLOCK, cell_type(input))) {
        if (pos >= end) return -1;
        Cell value = cell_series(input)->cells()[pos];  // a copy: comparing may allocate
        return value_matches(&value, rule, case_sensitive) ? 1 : -1;
    }
    if (cell_is(input, TYPE_BINARY)) return match_binary(input, pos, end, rule);
    return match_text(input, pos, end, rule, case_sensitive);
}

int64_t match_datatype(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule) {
    if (type_in(FAMILY_ANY_BLOCK, cell_type(input))) {
        if (pos >= end) return -1;
        return typeset_or_datatype_has(rule, cell_type(cell_series(input)->cells() + pos)) ? 1 : -1;
    }
    if (!cell_is(input, TYPE_BINARY)) fire(ERR_SCRIPT_PARSE_UNSUPPORTED);
    if (pos >= end) return -1;
    // One token scanned from the position: its datatype decides, and the input moves past what it took. The
    // bytes are read in place: the scan runs no code that could change them.
    GcRoot scanned;
    uint32_t consumed = 0;
    LexOptions options{.one = true, .scan = true, .consumed = &consumed};
    int32_t type = lexer_scan(scanned.get(), cell_series(input)->head_ptr() + pos, end - pos, options);
    if (type <= 0 || !typeset_or_datatype_has(rule, uint32_t(type))) return -1;
    return consumed;
}

Repeated repeat_literal(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule, bool case_sensitive,
                        int64_t max) {
    uint32_t stop = max >= 0 && uint64_t(max) < uint64_t(end - pos) ? pos + uint32_t(max) : end;
    if (pos >= end) return {0, pos, false};
    uint32_t type = cell_type(rule);
    bool text = type_in(FAMILY_ANY_STRING, cell_type(input));
    bool binary = cell_is(input, TYPE_BINARY);
    if ((text || binary) && (type == TYPE_CHAR || type == TYPE_BITSET)) {
        // One unit per match: counted in a tight loop.
        Units in = buffer_units(input);
        uint32_t n;
        if (type == TYPE_BITSET) {
            Bits bits(rule);
            n = count_units(in, pos, stop, [&](uint32_t c) { return bits.has(c); });
        } else if (case_sensitive || binary) {
            uint32_t want = cell_char(rule);
            n = count_units(in, pos, stop, [&](uint32_t c) { return c == want; });
        } else {
            uint32_t want = fold(cell_char(rule));
            n = count_units(in, pos, stop, [&](uint32_t c) { return c == want || fold(c) == want; });
        }
        return {n, pos + n, false};
    }
    if ((text || binary) && (is_bytes_rule(type))) {
        // An empty text matches at once without taking input.
        if (series_clamped_head(rule) >= cell_series(rule)->used()) return {0, pos, true};
    }
    uint32_t count = 0;
    while ((max < 0 || count < max) && pos < end) {
        int64_t n = match_literal(input, pos, end, rule, case_sensitive);
        if (n <= 0) break;
        pos += uint32_t(n);
        count++;
    }
    return {count, pos, false};
}

bool search_literal(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule, bool case_sensitive,
                    uint32_t* at, uint32_t* length) {
    uint32_t type = cell_type(rule);
    if (type_in(FAMILY_ANY_BLOCK, cell_type(input))) {
        for (uint32_t i = pos; i < end && i < cell_series(input)->used(); i++) {
            Cell value = cell_series(input)->cells()[i];
            if (value_matches(&value, rule, case_sensitive)) {
                *at = i;
                *length = 1;
                return true;
            }
        }
        return false;
    }
    bool binary = cell_is(input, TYPE_BINARY);
    Units in = buffer_units(input);
    if (pos > end) return false;
    switch (type) {
        case TYPE_CHAR: {
            uint32_t want = cell_char(rule);
            uint32_t i;
            if (binary || case_sensitive) {
                // A code point wider than the input's units cannot occur in it.
                if (in.unit < 4 && want >> (8 * in.unit)) return false;
                i = find_unit(in, pos, end, [&](uint32_t c) { return c == want; });
            } else {
                want = fold(want);
                i = find_unit(in, pos, end, [&](uint32_t c) { return c == want || fold(c) == want; });
            }
            if (i >= end) return false;
            *at = i;
            *length = 1;
            return true;
        }
        case TYPE_BITSET: {
            Bits bits(rule);
            uint32_t i = find_unit(in, pos, end, [&](uint32_t c) { return bits.has(c); });
            if (i >= end) return false;
            *at = i;
            *length = 1;
            return true;
        }
        default: break;
    }
    if (!is_bytes_rule(type) || (!binary && type == TYPE_BINARY)) fire(ERR_SCRIPT_PARSE_RULE, rule);
    if (binary) {
        std::string bytes = rule_bytes(rule);
        for (uint64_t i = pos; i + bytes.size() <= end; i++) {
            if (std::memcmp(in.data + i, bytes.data(), bytes.size()) == 0) {
                *at = uint32_t(i);
                *length = uint32_t(bytes.size());
                return true;
            }
        }
        return false;
    }
    Units needle = value_units(rule);
    bool tag = type == TYPE_TAG;
    uint32_t size = needle.count + (tag ? 2 : 0);
    for (uint64_t i = pos; i + size <= end; i++) {
        bool hit = tag ? tag_at(in, uint32_t(i), end, needle, !case_sensitive)
                       : units_equal(in, uint32_t(i), needle, !case_sensitive);
        if (hit) {
            *at = uint32_t(i);
            *length = size;
            return true;
        }
    }
    return false;
}

}  // namespace zol::parse
