// bitset! values: reading bit specifications (numbers, code points of strings, blocks with ranges), the
// actions, and the combination of two bitsets for the bitwise actions and the set natives.
#include "bitset.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "binary.h"
#include "error.h"
#include "logic.h"
#include "registry.h"
#include "series.h"
#include "string.h"
#include "symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/values/mold.h"
#include "runtime/values/ownership.h"
#include "runtime/values/predefined.h"

namespace zol {

namespace {

// The highest bit a buffer of the largest size holds.
constexpr int64_t MAX_BIT = int64_t(MAX_BUFFER_SIZE) * 8 - 1;

inline uint8_t fill_byte(const Cell* bitset) { return bitset_not(bitset) ? 0xFF : 0x00; }

// Makes at least `bytes` bytes stored, the new ones filled as the bits beyond the end read (0xFF when
// complemented), so the set does not change. Capacity at least doubles, so growing bit by bit stays linear.
// Allocates.
void store_at_least(Cell* bitset, uint64_t bytes) {
    Series* s = cell_series(bitset);
    uint32_t have = s->tail - s->head;
    if (bytes <= have) return;
    if (bytes > MAX_BUFFER_SIZE) fire(ERR_INTERNAL_NO_MEMORY);
    if (s->head + bytes > s->size) {
        uint64_t size = std::max<uint64_t>(bytes, 2 * uint64_t(s->size - s->head));
        s = series_expand(series_node(bitset), std::min<uint64_t>(size, MAX_BUFFER_SIZE));
    }
    std::memset(s->head_ptr() + have, fill_byte(bitset), bytes - have);
    s->tail = s->head + uint32_t(bytes);
}

void grow_to(Cell* bitset, int64_t n) {
    if (n > MAX_BIT) fire(ERR_INTERNAL_NO_MEMORY);
    store_at_least(bitset, uint64_t(n >> 3) + 1);
}

// Sets or clears the stored bits from lo to hi (both within the stored bytes), whole bytes at a time
// in the middle.
void write_bits(Cell* bitset, int64_t lo, int64_t hi, bool on) {
    if (lo > hi) return;
    uint8_t* p = cell_series(bitset)->head_ptr();
    auto bit = [&](int64_t n) {
        uint8_t mask = uint8_t(0x80 >> (n & 7));
        p[n >> 3] = on ? uint8_t(p[n >> 3] | mask) : uint8_t(p[n >> 3] & ~mask);
    };
    while (lo <= hi && (lo & 7)) bit(lo++);
    while (hi >= lo && (hi & 7) != 7) bit(hi--);
    if (lo <= hi) std::memset(p + (lo >> 3), on ? 0xFF : 0x00, size_t((hi - lo + 1) >> 3));
}

// The last stored bit.
inline int64_t last_bit(const Cell* bitset) { return int64_t(bitset_size(bitset)) * 8 - 1; }

enum class BitOp { measure, set, test, clear };
enum class Caller { make, to, other };

[[noreturn]] void bad_spec(const Cell* value, Caller caller) {
    switch (caller) {
        case Caller::make: fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, TYPE_BITSET, value);
        case Caller::to: fire_with_type(ERR_SCRIPT_BAD_TO_ARG, TYPE_BITSET, value);
        default: fire(ERR_SCRIPT_INVALID_ARG, value);
    }
}

// One reading of a bit specification: measuring (the largest index), or setting, testing or clearing the
// bits it names in a bitset (a rooted cell). Every index is handled on its own: on a plain bitset an index
// beyond the stored bits is not a member, on a complemented one it is, so setting (plain) or clearing
// (complemented) such an index grows the bitset and the opposite needs nothing.
class SpecReader {
public:
    SpecReader(Cell* bitset, BitOp op, Caller caller) : bitset_(bitset), op_(op), caller_(caller) {}

    // Handles the spec; for testing, whether every index it names is a member.
    bool read(const Cell* spec) {
        switch (cell_type(spec)) {
            case TYPE_CHAR:
            case TYPE_INTEGER:
            case TYPE_FLOAT: return range(index_of(spec), index_of(spec), spec);
            case TYPE_STRING: return string(spec);
            case TYPE_BLOCK: return block(spec);
            default: bad_spec(spec, caller_);
        }
    }
    int64_t largest() const { return largest_; }

private:
    // The index of a char!, integer! or float! (truncated toward zero); a negative one raises out-of-range
    // unless testing. An index no buffer can reach is kept as one past the largest, which no bitset stores.
    int64_t index_of(const Cell* value) {
        int64_t n;
        if (cell_is(value, TYPE_FLOAT)) {
            double d = cell_float(value);
            if (std::isnan(d)) fire(ERR_SCRIPT_OUT_OF_RANGE, value);
            n = d >= double(MAX_BIT) ? MAX_BIT + 1 : d <= -1.0 ? -1 : int64_t(d);
        } else {
            n = cell_is(value, TYPE_CHAR) ? int64_t(cell_char(value)) : int64_t(cell_int(value));
        }
        if (n < 0 && op_ != BitOp::test) fire(ERR_SCRIPT_OUT_OF_RANGE, value);
        return n;
    }

    // The indexes lo to hi, by the operation.
    bool range(int64_t lo, int64_t hi, const Cell* value) {
        switch (op_) {
            case BitOp::measure: break;
            case BitOp::test: {
                int64_t last = last_bit(bitset_);
                for (int64_t n = lo; n <= hi && n <= last; n++) {
                    if (!bitset_has(bitset_, n)) return false;
                }
                return hi <= last || bitset_not(bitset_);
            }
            case BitOp::set:
            case BitOp::clear: {
                bool on = op_ == BitOp::set;
                if (on != bitset_not(bitset_)) grow_to(bitset_, hi);
                write_bits(bitset_, lo, std::min(hi, last_bit(bitset_)), on);
                break;
            }
        }
        (void)value;
        largest_ = std::max(largest_, hi);
        return true;
    }

    bool string(const Cell* text) {
        uint32_t head = series_clamped_head(text), used = series_buffer_length(text);
        if (op_ == BitOp::set || op_ == BitOp::clear) {
            // Grow once for the largest code point instead of once per larger one.
            int64_t top = -1;
            for (uint32_t i = head; i < used; i++) top = std::max<int64_t>(top, string_char_at(text, i));
            if (top >= 0 && (op_ == BitOp::set) != bitset_not(bitset_)) grow_to(bitset_, top);
        }
        for (uint32_t i = head; i < used; i++) {
            int64_t cp = string_char_at(text, i);
            if (!range(cp, cp, text)) return false;
        }
        return true;
    }

    bool block(const Cell* spec) {
        stack_check_native();
        uint32_t node = series_node(spec);
        if (cycles_find(node)) fire(ERR_INTERNAL_NO_CYCLE);
        VisitGuard guard(node);
        uint32_t used = series_buffer_length(spec);
        for (uint32_t i = series_clamped_head(spec); i < used; i++) {
            // Read through the node each time: growing the bitset allocates (the block itself never grows).
            Cell item = node_series(node)->cells()[i];
            if (cell_is(&item, TYPE_BINARY)) fire(ERR_INTERNAL_NOT_DONE);
            bool bound = cell_is(&item, TYPE_CHAR) || cell_is(&item, TYPE_INTEGER);
            if (bound && i + 1 < used && is_dash(node_series(node)->cells() + i + 1)) {
                if (i + 2 >= used) fire(ERR_SCRIPT_PAST_END);
                Cell upper = node_series(node)->cells()[i + 2];
                if (cell_type(&upper) != cell_type(&item)) fire(ERR_SCRIPT_INVALID_ARG, &upper);
                int64_t lo = index_of(&item), hi = index_of(&upper);
                if (hi < lo) fire(ERR_SCRIPT_PAST_END);
                if (!range(lo, hi, &item)) return false;
                i += 2;
                continue;
            }
            if (!read(&item)) return false;
        }
        return true;
    }

    static bool is_dash(const Cell* c) {
        return cell_is(c, TYPE_WORD) && symbol_resolve(word_symbol(c)) == symbol_resolve(g_sym[SYM_DASH]);
    }

    Cell* bitset_;
    BitOp op_;
    Caller caller_;
    int64_t largest_ = -1;
};

// Bytes that a top-level spec needs: (largest + 8) >> 3, at least 1.
uint64_t bytes_needed(int64_t largest) { return largest < 0 ? 1 : uint64_t(largest >> 3) + 1; }

// Applies a spec to a bitset (rooted); returns the bytes the spec needs, the stored size covering them.
uint64_t apply(Cell* bitset, const Cell* spec, BitOp op, Caller caller) {
    SpecReader reader(bitset, op, caller);
    reader.read(spec);
    uint64_t bytes = bytes_needed(reader.largest());
    // A complemented bitset already holds what lies beyond its stored bits: storing them would only cost.
    if (op == BitOp::set && !bitset_not(bitset)) store_at_least(bitset, bytes);
    return bytes;
}

bool test(Cell* bitset, const Cell* spec) { return SpecReader(bitset, BitOp::test, Caller::other).read(spec); }

// The size in bits a number gives to make, rounded up to whole bytes.
uint64_t size_of(const Cell* spec) {
    double d = cell_is(spec, TYPE_INTEGER) ? double(cell_int(spec)) : cell_float(spec);
    if (!(d >= 0.0)) fire(ERR_SCRIPT_OUT_OF_RANGE, spec);
    if (d > double(MAX_BIT)) fire(ERR_INTERNAL_NO_MEMORY);
    return (uint64_t(d) + 7) >> 3;
}

Cell* make_from_bytes(Cell* out, const uint8_t* bytes, uint32_t n, bool complemented) {
    GcRoot made;
    bitset_make_at(made.get(), n, false);
    uint8_t* p = cell_series(made.get())->head_ptr();
    for (uint32_t i = 0; i < n; i++) p[i] = complemented ? uint8_t(~bytes[i]) : bytes[i];
    if (complemented) series_set_flags(series_node(made.get()), SER_BITSET_NOT);
    *out = *made;
    return out;
}

Cell* copy_of(Cell* out, const Cell* bitset) {
    uint32_t node = series_copy_buffer(series_node(bitset));
    set_series(out, TYPE_BITSET, node);
    return out;
}

const Cell* make_from_spec(Cell* proto, Cell* spec, Caller caller) {
    GcRoot result;
    uint32_t t = cell_type(spec);
    if (t == TYPE_BITSET) {
        copy_of(result.get(), spec);
    } else if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        if (caller == Caller::to) bad_spec(spec, caller);
        bitset_make_at(result.get(), uint32_t(size_of(spec)));
    } else if (t == TYPE_BINARY) {
        uint32_t n;
        const uint8_t* bytes = binary_head(spec, &n);
        GcRoot keep(*spec);
        make_from_bytes(result.get(), bytes, n, false);
    } else {
        // A block starting with the word not makes the complement of the rest.
        GcRoot rest(*spec);
        bool complemented = false;
        if (t == TYPE_BLOCK && series_clamped_head(spec) < series_buffer_length(spec)) {
            const Cell* first = cell_series(spec)->cells() + series_clamped_head(spec);
            if (cell_is(first, TYPE_WORD) && symbol_resolve(word_symbol(first)) == symbol_resolve(g_sym[SYM_NOT])) {
                complemented = true;
                rest->w1 = series_clamped_head(spec) + 1;
                uint32_t at = series_index(rest.get());
                if (at < series_buffer_length(spec) && cell_is(cell_series(spec)->cells() + at, TYPE_BINARY)) {
                    Cell bin = cell_series(spec)->cells()[at];
                    uint32_t n;
                    const uint8_t* bytes = binary_head(&bin, &n);
                    make_from_bytes(result.get(), bytes, n, true);
                    *proto = *result;
                    return proto;
                }
            }
        }
        SpecReader measure(nullptr, BitOp::measure, caller);
        measure.read(rest.get());
        bitset_make_at(result.get(), uint32_t(bytes_needed(measure.largest())), complemented);
        apply(result.get(), rest.get(), complemented ? BitOp::clear : BitOp::set, caller);
    }
    *proto = *result;
    return proto;
}

// --- actions

const Cell* bitset_make(Cell* proto, Cell* spec, TypeId) { return make_from_spec(proto, spec, Caller::make); }
const Cell* bitset_to(Cell* proto, Cell* spec, TypeId) { return make_from_spec(proto, spec, Caller::to); }

int bitset_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    bool complemented = bitset_not(value);
    std::string text = complemented ? "make bitset! [not #{" : "make bitset! #{";
    budget -= int(text.size());
    const uint8_t* p = bitset_data(value);
    uint32_t n = bitset_size(value);
    bool cut = false;
    for (uint32_t i = 0; i < n; i++) {
        if (args.part && budget <= 0) {
            cut = true;
            break;
        }
        text += string_byte_to_hex(complemented ? uint8_t(~p[i]) : p[i]);
        budget -= 2;
    }
    if (!cut) {
        text += complemented ? "}]" : "}";
        budget -= complemented ? 2 : 1;
    }
    string_append_ascii(out, text.data(), text.size());
    return budget;
}

int bitset_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_BITSET)) return COMPARE_INCOMPARABLE;
    if (op == CMP_SAME) return series_node(value) == series_node(other) ? 0 : 1;
    uint32_t a = bitset_size(value), b = bitset_size(other);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
    bool na = bitset_not(value), nb = bitset_not(other);
    if (na != nb) return na ? 1 : -1;
    const uint8_t* pa = bitset_data(value);
    const uint8_t* pb = bitset_data(other);
    for (uint32_t i = a; i > 0; i--) {
        if (pa[i - 1] != pb[i - 1]) return pa[i - 1] < pb[i - 1] ? -1 : 1;
    }
    return 0;
}

const Cell* bitset_complement(Cell* value) {
    GcRoot result;
    copy_of(result.get(), value);
    Series* s = cell_series(result.get());
    s->flags ^= SER_BITSET_NOT;
    for (uint8_t* p = s->head_ptr(); p < s->tail_ptr(); p++) *p = uint8_t(~*p);
    *value = *result;
    return value;
}

void bitset_negate(Cell* value) {
    bitset_complement(value);
    stack_keep_result();
}

void bitset_and() { bitset_combine(6); }
void bitset_or() { bitset_combine(5); }
void bitset_xor() { bitset_combine(7); }

void bitset_insert(Cell* series, Cell* value, int, bool, int, bool) {
    GcRoot bits(*series), spec(*value);
    OwnershipReport report(bits.get(), W_INSERT, W_INSERTED, -1, 1);
    apply(bits.get(), spec.get(), BitOp::set, Caller::other);
    report.done();
    stack_set_only_result(bits.get());
}

void bitset_clear(Cell* series) {
    OwnershipReport report(series, W_CLEAR, W_CLEARED, 0, int32_t(bitset_size(series)));
    Series* s = cell_series(series);  // after the report, whose handler may have run
    std::memset(s->head_ptr(), fill_byte(series), s->tail - s->head);
    report.done();
    stack_keep_result();
}

const Cell* bitset_copy(Cell* value, Cell* result, Cell*, bool, Cell*) { return copy_of(result, value); }

const Cell* bitset_pick(Cell* series, int, Cell* index_cell) {
    return test(series, index_cell) ? &g_true_value : &g_false_value;
}

const Cell* bitset_find(Cell* series, Cell* value, const FindArgs&) {
    return test(series, value) ? &g_true_value : &g_none_value;
}

// Values that poke and remove take for "clear these bits".
bool clears(const Cell* value) {
    switch (cell_type(value)) {
        case TYPE_NONE: return true;
        case TYPE_LOGIC: return !logic_get(value);
        case TYPE_INTEGER: return cell_int(value) == 0;
        case TYPE_FLOAT: return cell_float(value) == 0.0;
        default: return false;
    }
}

const Cell* bitset_poke(Cell* series, int, Cell* value, Cell* index_cell) {
    GcRoot bits(*series), spec(*index_cell), v(*value);
    OwnershipReport report(bits.get(), W_POKE, W_POKED, -1, 1);
    apply(bits.get(), spec.get(), clears(v.get()) ? BitOp::clear : BitOp::set, Caller::other);
    report.done();
    *value = *v;
    return value;
}

const Cell* bitset_eval_path(Cell* value, const PathStep& step) {
    const Cell* e = step.element;
    if (!cell_is(e, TYPE_INTEGER) && !cell_is(e, TYPE_CHAR)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(e));
    if (step.set_value) return bitset_poke(value, 0, step.set_value, step.element);
    return bitset_pick(value, 0, step.element);
}

// The members the part names stop being members: their bits are cleared, whether the bitset is plain or
// complemented, since the stored bits say membership directly either way.
void bitset_remove(Cell* series, Cell* part, Cell*) {
    if (!part) fire(ERR_SCRIPT_MISSING_ARG);
    GcRoot bits(*series), spec(*part);
    OwnershipReport report(bits.get(), W_REMOVE, W_REMOVED, -1, 1);
    apply(bits.get(), spec.get(), BitOp::clear, Caller::other);
    report.done();
    stack_set_only_result(bits.get());
}

int bitset_length_q(const Cell* series) { return int(std::min<uint64_t>(uint64_t(bitset_size(series)) * 8, INT_MAX)); }

void bitset_reflect(Cell* value, uint32_t field) {
    if (symbol_resolve(field) != symbol_resolve(g_sym[SYM_OWNED])) fire(ERR_INTERNAL_NOT_DONE);
    const Cell* owner = ownership_get(series_node(value));
    stack_set_only_result(owner ? owner : &g_none_value);
}

const Cell* bitset_modify(Cell* value, Cell* field, Cell* change, bool case_sensitive) {
    return g_types.get<ACT_MODIFY>(TYPE_SERIES)(value, field, change, case_sensitive);
}

}  // namespace

Cell* bitset_make_at(Cell* cell, uint32_t bytes, bool complemented) {
    uint32_t node = series_alloc_bytes_filled(bytes, complemented ? 0xFF : 0x00);
    Series* s = node_series(node);
    s->tail = s->head + bytes;
    if (complemented) series_set_flags(node, SER_BITSET_NOT);
    set_series(cell, TYPE_BITSET, node);
    return cell;
}

void bitset_combine(int op) {
    Cell* first = g_args.base;
    const Cell* second = first + 1;
    if (op == 8) return (void)stack_keep_result();
    if (!cell_is(second, TYPE_BITSET)) fire_with_type(ERR_SCRIPT_INVALID_TYPE, cell_type(second));
    bool na = bitset_not(first), nb = bitset_not(second);
    uint32_t la = bitset_size(first), lb = bitset_size(second);
    auto apply_op = [op](uint32_t x, uint32_t y) -> uint32_t {
        switch (op) {
            case 5:
            case 9: return x | y;
            case 6:
            case 10: return x & y;
            case 11: return x & ~y;
            default: return x ^ y;
        }
    };
    // Each operand reads as its flag beyond its stored bits; the result's flag is the operation on the flags.
    bool result_not = apply_op(na, nb) & 1;
    uint32_t n = std::max(la, lb);
    // and~ stops at the shorter length, which keeps the set when the shorter one is plain (its bits beyond
    // that are none) and its flag is what the result's flag says beyond it.
    if (op == 6) {
        bool shorter_not = la <= lb ? na : nb;
        if (!shorter_not) n = std::min(la, lb);
    }
    GcRoot result;
    bitset_make_at(result.get(), n, result_not);
    const uint8_t* pa = bitset_data(first);
    const uint8_t* pb = bitset_data(second);
    uint8_t* r = cell_series(result.get())->head_ptr();
    uint8_t fa = na ? 0xFF : 0, fb = nb ? 0xFF : 0;
    for (uint32_t i = 0; i < n; i++) r[i] = uint8_t(apply_op(i < la ? pa[i] : fa, i < lb ? pb[i] : fb));
    stack_set_only_result(result.get());
}

void bitset_init(DatatypeRegistry& registry) {
    Registration r(TYPE_BITSET);
    r.own<ACT_MAKE>(bitset_make).own<ACT_TO>(bitset_to).own<ACT_FORM>(bitset_mold).own<ACT_MOLD>(bitset_mold);
    r.own<ACT_REFLECT>(bitset_reflect).own<ACT_EVAL_PATH>(bitset_eval_path).own<ACT_COMPARE>(bitset_compare);
    r.own<ACT_NEGATE>(bitset_negate).own<ACT_AND_T>(bitset_and).own<ACT_COMPLEMENT>(bitset_complement);
    r.own<ACT_OR_T>(bitset_or).own<ACT_XOR_T>(bitset_xor).own<ACT_APPEND>(bitset_insert).own<ACT_INSERT>(bitset_insert);
    r.own<ACT_CLEAR>(bitset_clear).own<ACT_COPY>(bitset_copy).own<ACT_FIND>(bitset_find);
    r.own<ACT_LENGTH_Q>(bitset_length_q).own<ACT_PICK>(bitset_pick).own<ACT_POKE>(bitset_poke);
    r.own<ACT_REMOVE>(bitset_remove).own<ACT_MODIFY>(bitset_modify);
    registry.register_datatype(r);
}

}  // namespace zol
