// Datatype ids, the 62 actions with the typed signature of each action slot, and the small argument
// records that several actions share. Everything here is generated from types.def and actions.def.
#pragma once
#include <cstdint>

namespace zol {

struct Cell;

enum TypeId : uint32_t {
    NO_TYPE = 0,
#define ZOL_TYPE(name, id, text, parent, init, mark, families) TYPE_##name = id,
#include "types.def"
#undef ZOL_TYPE
};

// Highest id any datatype has; the type tables have room for a few more (ids 0 to 56).
constexpr uint32_t TYPE_MAX = TYPE_EVENT;
constexpr uint32_t TYPE_TABLE_ROWS = 57;

// How the collector reaches the buffers a value holds (words 1 to 3 of its cell).
enum MarkKind : uint8_t {
    MARK_NONE,          // nothing: the value is all in the cell
    MARK_CELLS,         // word 2 is a block's node
    MARK_BYTES,         // word 2 is a buffer of bytes
    MARK_BYTES_CACHED,  // words 2 and 3: a buffer of text and its cache buffer (0 while there is none)
    MARK_WORD,          // word 1 is the node of the word's context
    MARK_CONTEXT,       // word 1 the table of words, word 2 the values (unless they live on the stack)
    MARK_NATIVE,        // words 2 and 3 the spec and its cache; an op! over a function, word 1 its context
    MARK_FUNCTION,      // words 1 to 3: context, spec and body blocks
    MARK_OBJECT,        // word 1 the context, word 3 the buffer of its change handlers' state
    MARK_HASHED,        // word 2 the block, word 3 its hash table (0 while there is none)
    MARK_HANDLE,        // word 3 the slot of an external resource (negative for none)
    MARK_EVENT,         // word 2 a block, when header bit 0x1000 says so
};

// The families of datatypes that the boot script names as typesets. A type's row lists the families that
// name it directly; the wider families are unions, built below in the order the script builds its typesets.
enum Family : uint32_t {
    F_NUMBER = 1u << 0,
    F_PLANAR = 1u << 1,
    F_ANY_POINT = 1u << 2,
    F_SCALAR = 1u << 3,
    F_ANY_WORD = 1u << 4,
    F_ALL_WORD = 1u << 5,
    F_ANY_LIST = 1u << 6,
    F_ANY_PATH = 1u << 7,
    F_ANY_FUNCTION = 1u << 8,
    F_ANY_OBJECT = 1u << 9,
    F_ANY_STRING = 1u << 10,
    F_SERIES = 1u << 11,
    F_IMMEDIATE = 1u << 12,
    F_DEFAULT = 1u << 13,
    F_INTERNAL = 1u << 14,
};

namespace type_table {

struct Row {
    uint32_t id;
    const char* name;
    TypeId parent;
    MarkKind mark;
    uint32_t families;
};

inline constexpr Row kRows[] = {
#define ZOL_TYPE(name, id, text, parent, init, mark, families) {id, text, parent, mark, families},
#include "types.def"
#undef ZOL_TYPE
};

// The set of ids whose rows name the family, as a mask of bits 1 << id.
constexpr uint64_t direct(uint32_t family) {
    uint64_t mask = 0;
    for (const Row& r : kRows) {
        if (r.families & family) mask |= uint64_t(1) << r.id;
    }
    return mask;
}

template <typename T, T Row::*field>
struct ById {
    T values[TYPE_TABLE_ROWS] = {};
    constexpr ById() {
        for (const Row& r : kRows) values[r.id] = r.*field;
    }
};
inline constexpr ById<const char*, &Row::name> kNames{};
inline constexpr ById<TypeId, &Row::parent> kParents{};
inline constexpr ById<MarkKind, &Row::mark> kMarks{};

constexpr bool ids_unique_and_in_range() {
    uint64_t seen = 0;
    for (const Row& r : kRows) {
        if (r.id == 0 || r.id > 63 || r.id >= TYPE_TABLE_ROWS || (seen >> r.id & 1)) return false;
        seen |= uint64_t(1) << r.id;
    }
    return true;
}
static_assert(ids_unique_and_in_range(), "types.def gives each datatype its own id, below 57");

}  // namespace type_table

// A family of datatypes: bit `id` set for each member.
using TypeFamily = uint64_t;
constexpr TypeFamily FAMILY_INTERNAL = type_table::direct(F_INTERNAL);
constexpr TypeFamily FAMILY_NUMBER = type_table::direct(F_NUMBER);
constexpr TypeFamily FAMILY_PLANAR = type_table::direct(F_PLANAR);
constexpr TypeFamily FAMILY_ANY_POINT = type_table::direct(F_ANY_POINT);
constexpr TypeFamily FAMILY_SCALAR = FAMILY_NUMBER | FAMILY_ANY_POINT | type_table::direct(F_SCALAR);
constexpr TypeFamily FAMILY_ANY_WORD = type_table::direct(F_ANY_WORD);
constexpr TypeFamily FAMILY_ALL_WORD = FAMILY_ANY_WORD | type_table::direct(F_ALL_WORD);
constexpr TypeFamily FAMILY_ANY_LIST = type_table::direct(F_ANY_LIST);
constexpr TypeFamily FAMILY_ANY_PATH = type_table::direct(F_ANY_PATH);
constexpr TypeFamily FAMILY_ANY_BLOCK = FAMILY_ANY_PATH | FAMILY_ANY_LIST;
constexpr TypeFamily FAMILY_ANY_FUNCTION = type_table::direct(F_ANY_FUNCTION);
constexpr TypeFamily FAMILY_ANY_OBJECT = type_table::direct(F_ANY_OBJECT);
constexpr TypeFamily FAMILY_ANY_STRING = type_table::direct(F_ANY_STRING);
constexpr TypeFamily FAMILY_SERIES = type_table::direct(F_SERIES) | FAMILY_ANY_BLOCK | FAMILY_ANY_STRING;
constexpr TypeFamily FAMILY_IMMEDIATE = FAMILY_SCALAR | FAMILY_ALL_WORD | type_table::direct(F_IMMEDIATE);
constexpr TypeFamily FAMILY_DEFAULT =
    FAMILY_SERIES | FAMILY_IMMEDIATE | FAMILY_ANY_OBJECT | FAMILY_ANY_FUNCTION | type_table::direct(F_DEFAULT);
constexpr TypeFamily FAMILY_ANY_TYPE = FAMILY_DEFAULT | FAMILY_INTERNAL;

// Whether a datatype id is a member of a family.
constexpr bool type_in(TypeFamily family, uint32_t type) { return type < 64 && (family >> type & 1) != 0; }

// For a switch that takes a whole family as one case: a member of the family switches as `as`, e.g.
//   switch (family_case(t, FAMILY_ANY_STRING, TYPE_STRING)) { case TYPE_STRING:  // any-string!
constexpr uint32_t family_case(uint32_t type, TypeFamily family, TypeId as) {
    return type_in(family, type) ? uint32_t(as) : type;
}

// The datatype's name ("block!") and its parent (NO_TYPE when it has none), by id; null and NO_TYPE for an
// id no datatype has.
constexpr const char* type_name(uint32_t id) { return id < TYPE_TABLE_ROWS ? type_table::kNames.values[id] : nullptr; }
constexpr TypeId type_parent(uint32_t id) { return id < TYPE_TABLE_ROWS ? type_table::kParents.values[id] : NO_TYPE; }
constexpr MarkKind type_mark(uint32_t id) { return id < TYPE_TABLE_ROWS ? type_table::kMarks.values[id] : MARK_NONE; }

enum Action : uint32_t {
    ACT_NONE = 0,
#define ZOL_ACTION(name, word, entry, result, params) ACT_##name,
#include "actions.def"
#undef ZOL_ACTION
    ACT_COUNT_PLUS_ONE
};
constexpr uint32_t ACTION_COUNT = ACT_COUNT_PLUS_ONE - 1;
static_assert(ACTION_COUNT == 62, "the action table has 62 slots");

const char* action_word(Action a);

// Comparison operations passed to every compare slot.
enum CompareOp : int {
    CMP_EQUAL = 0,
    CMP_NOT_EQUAL = 1,
    CMP_STRICT_EQUAL = 2,
    CMP_LESSER = 3,
    CMP_LESSER_OR_EQUAL = 4,
    CMP_GREATER = 5,
    CMP_GREATER_OR_EQUAL = 6,
    CMP_SORT = 7,
    CMP_CASE_SORT = 8,
    CMP_SAME = 9,
    CMP_FIND_WORD = 10,
    CMP_FIND_WORD_STRICT = 11,
    CMP_FIND = 12,
};
// What a compare slot answers when the two values cannot be compared under the operation.
constexpr int COMPARE_INCOMPARABLE = -2;
// The operations under which values that have no order of their own (unset, none, logic) still compare:
// the equalities, sameness and the two sort orders.
inline bool compare_op_equality_or_sort(CompareOp op) {
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_STRICT_EQUAL:
        case CMP_SORT:
        case CMP_CASE_SORT:
        case CMP_SAME:
        case CMP_FIND: return true;
        default: return false;
    }
}

// Arguments shared by form and mold: the remaining part budget travels separately.
struct MoldArgs {
    bool only = false;
    bool all = false;
    bool flat = false;
    bool part = false;
    int indent = 0;
};

// One step of a path: the selector and what the evaluator knows about where it stands.
struct PathStep {
    Cell* element = nullptr;
    Cell* set_value = nullptr;  // the value to store, or null when reading
    Cell* path = nullptr;
    Cell* parent = nullptr;
    Cell* previous = nullptr;
    int index = -1;
    bool case_sensitive = false;
    bool get = false;
    bool last = false;
    bool may_own = false;
};

struct RoundArgs {
    Cell* scale = nullptr;
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};

struct FindArgs {
    Cell* part = nullptr;
    Cell* wild = nullptr;
    Cell* skip = nullptr;
    bool only = false, case_sensitive = false, same = false, any = false;
    bool last = false, reverse = false, tail = false, match = false;
};

struct SortArgs {
    Cell* skip = nullptr;
    Cell* comparator = nullptr;
    Cell* part = nullptr;
    bool case_sensitive = false, all = false, reverse = false, stable = false;
};

struct TrimArgs {
    Cell* with = nullptr;
    bool head = false, tail = false, automatic = false, lines = false, all = false;
};

struct OpenArgs {
    Cell* allow = nullptr;
    bool create_new = false, read = false, write = false, seek = false;
};

struct IoArgs {
    Cell* part = nullptr;
    Cell* seek = nullptr;
    Cell* allow = nullptr;
    Cell* as = nullptr;
    bool binary = false, lines = false, info = false, append = false;
};

// The function type behind each action slot.
template <Action A>
struct ActionSig;
#define ZOL_ACTION(name, word, entry, result, params) \
    template <>                                \
    struct ActionSig<ACT_##name> {             \
        using type = result params;            \
    };
#include "actions.def"
#undef ZOL_ACTION

template <Action A>
using ActionFn = typename ActionSig<A>::type*;

}  // namespace zol
