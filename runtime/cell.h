// The value cell: every value is four 32-bit words, a header (datatype id in the low byte, flags above)
// and three payload words whose meaning depends on the datatype. No word ever holds a machine address:
// series are reached through node ids, functions and OS objects through table indices.
// Code outside a datatype's own unit reads and writes cells only through these accessors.
#pragma once
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "assert.h"
#include "types.h"

namespace zol {

struct Cell {
    uint32_t header;
    uint32_t w1, w2, w3;
};
static_assert(sizeof(Cell) == 16, "a value cell is exactly 16 bytes");
static_assert(std::is_trivially_copyable_v<Cell>);
static_assert(std::is_standard_layout_v<Cell>);

// Header flags.
constexpr uint32_t HDR_TYPE_MASK = 0xFF;
constexpr uint32_t HDR_CONTEXT_KIND_MASK = 0x1800;  // context! cells: 0 plain, 2 object
constexpr uint32_t HDR_CONTEXT_KIND_SHIFT = 11;
constexpr uint32_t HDR_SET_THROUGH_WORD = 0x2000;  // object value slot set through a word
constexpr uint32_t HDR_MONEY_SIGN = 0x4000;
constexpr uint32_t HDR_OP_SOURCE_MASK = 0xFF0000;  // op!: datatype of the wrapped function
constexpr uint32_t HDR_OP_SOURCE_SHIFT = 16;
constexpr uint32_t HDR_STACK_CONTEXT = 0x400000;  // context whose values are a call's argument cells
constexpr uint32_t HDR_CONTEXT_FLAG = 0x1000000;
constexpr uint32_t HDR_NEW_LINE = 0x40000000;  // a line break is molded before this value in a block

inline TypeId cell_type(const Cell* c) { return TypeId(c->header & HDR_TYPE_MASK); }
inline bool cell_is(const Cell* c, TypeId t) { return (c->header & HDR_TYPE_MASK) == t; }

// Replaces the type byte and keeps every flag.
inline Cell* cell_set_type(Cell* c, TypeId t) {
    c->header = (c->header & ~HDR_TYPE_MASK) | t;
    return c;
}
inline void cell_clear_new_line(Cell* c) { c->header &= ~HDR_NEW_LINE; }
inline bool cell_new_line(const Cell* c) { return (c->header & HDR_NEW_LINE) != 0; }

inline Cell* cell_copy(Cell* target, const Cell* source) {
    *target = *source;
    return target;
}

// --- unset!, none!, logic!, datatype!
inline void set_unset(Cell* c) { c->header = TYPE_UNSET; }
inline void set_none(Cell* c) { c->header = TYPE_NONE; }
inline void set_logic(Cell* c, bool v) {
    c->header = TYPE_LOGIC;
    c->w1 = v ? 1 : 0;
}
inline uint32_t logic_get(const Cell* c) {
    ZOL_ASSERT(cell_is(c, TYPE_LOGIC));
    return c->w1;
}
inline void set_datatype(Cell* c, uint32_t id) {
    c->header = TYPE_DATATYPE;
    c->w1 = id;
    c->w2 = c->w3 = 0;  // whole cells compare bitwise (same?), so no stale words
}
inline uint32_t datatype_id(const Cell* c) {
    ZOL_ASSERT(cell_is(c, TYPE_DATATYPE));
    return c->w1;
}

// --- integer!, char! (32-bit value in word 2)
inline void set_integer(Cell* c, int32_t v) {
    c->header = TYPE_INTEGER;
    c->w2 = uint32_t(v);
}
inline int32_t cell_int(const Cell* c) {
    ZOL_ASSERT(cell_is(c, TYPE_INTEGER) || cell_is(c, TYPE_CHAR));
    return int32_t(c->w2);
}
inline void set_char(Cell* c, uint32_t cp) {
    c->header = TYPE_CHAR;
    c->w2 = cp;
}
inline uint32_t cell_char(const Cell* c) {
    ZOL_ASSERT(cell_is(c, TYPE_CHAR) || cell_is(c, TYPE_INTEGER));
    return c->w2;
}

// --- float!, percent!, time! (64-bit double in words 2 and 3, low half first; a date! keeps its time there)
inline double cell_float(const Cell* c) {
    ZOL_ASSERT(cell_is(c, TYPE_FLOAT) || cell_is(c, TYPE_PERCENT) || cell_is(c, TYPE_TIME) || cell_is(c, TYPE_DATE));
    uint64_t bits = (uint64_t(c->w3) << 32) | c->w2;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
inline void cell_set_float_payload(Cell* c, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    c->w2 = uint32_t(bits);
    c->w3 = uint32_t(bits >> 32);
}
inline void set_float(Cell* c, double d, TypeId t = TYPE_FLOAT) {
    c->header = t;
    cell_set_float_payload(c, d);
}

// --- series values: head index in units, buffer node, a datatype-specific word
inline void set_series(Cell* c, TypeId t, uint32_t node, uint32_t index = 0, uint32_t extra = 0) {
    c->header = t;
    c->w1 = index;
    c->w2 = node;
    c->w3 = extra;
}
// The datatypes whose cells hold a series payload.
constexpr TypeFamily SERIES_PAYLOAD = FAMILY_SERIES | uint64_t(1) << TYPE_BITSET | uint64_t(1) << TYPE_MAP;
inline uint32_t series_index(const Cell* c) {
    ZOL_ASSERT(type_in(SERIES_PAYLOAD, cell_type(c)));
    return c->w1;
}
inline uint32_t series_node(const Cell* c) {
    ZOL_ASSERT(type_in(SERIES_PAYLOAD, cell_type(c)));
    return c->w2;
}

// --- word family: context node, symbol id, index in that context (-1 when not resolved)
constexpr uint32_t WORD_UNRESOLVED = 0xFFFFFFFF;
inline void set_word(Cell* c, TypeId t, uint32_t context, uint32_t symbol, uint32_t index = WORD_UNRESOLVED) {
    c->header = t;
    c->w1 = context;
    c->w2 = symbol;
    c->w3 = index;
}
inline uint32_t word_context(const Cell* c) {
    ZOL_ASSERT(type_in(FAMILY_ALL_WORD, cell_type(c)));
    return c->w1;
}
inline uint32_t word_symbol(const Cell* c) {
    ZOL_ASSERT(type_in(FAMILY_ALL_WORD, cell_type(c)));
    return c->w2;
}
inline uint32_t word_index(const Cell* c) {
    ZOL_ASSERT(type_in(FAMILY_ALL_WORD, cell_type(c)));
    return c->w3;
}
inline bool is_any_word(const Cell* c) { return type_in(FAMILY_ALL_WORD, cell_type(c)); }

// --- context-based values (object!, error!, port!): context node in word 1
inline uint32_t object_context(const Cell* c) {
    ZOL_ASSERT(type_in(FAMILY_ANY_OBJECT, cell_type(c)));
    return c->w1;
}

// Shared constant cells; routines that answer none or true hand these out and the caller copies them.
inline constexpr Cell g_unset_value{TYPE_UNSET, 0, 0, 0};
inline constexpr Cell g_none_value{TYPE_NONE, 0, 0, 0};
inline constexpr Cell g_true_value{TYPE_LOGIC, 1, 0, 0};
inline constexpr Cell g_false_value{TYPE_LOGIC, 0, 0, 0};

// Truth: none and false are false; every other value (unset aside, checked by the callers) is true.
inline bool cell_true(const Cell* c) {
    uint32_t t = cell_type(c);
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && c->w1 != 1));
}

}  // namespace zol
