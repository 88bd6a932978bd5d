// Datatype ids, the 62 actions with the typed signature of each action slot, and the small argument
// records that several actions share. Everything here is generated from types.def and actions.def.
#pragma once
#include <cstdint>

namespace zol {

struct Cell;

enum TypeId : uint32_t {
    NO_TYPE = 0,
#define ZOL_TYPE(name, id, text, parent) TYPE_##name = id,
#include "types.def"
#undef ZOL_TYPE
};

// Highest id any datatype has; the type tables have room for a few more (ids 0 to 56).
constexpr uint32_t TYPE_MAX = TYPE_EVENT;
constexpr uint32_t TYPE_TABLE_ROWS = 57;

// The datatype's name ("block!") and its parent (NO_TYPE when it has none), by id.
const char* type_name(uint32_t id);
TypeId type_parent(uint32_t id);

enum Action : uint32_t {
    ACT_NONE = 0,
#define ZOL_ACTION(name, word, result, params) ACT_##name,
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
#define ZOL_ACTION(name, word, result, params) \
    template <>                                \
    struct ActionSig<ACT_##name> {             \
        using type = result params;            \
    };
#include "actions.def"
#undef ZOL_ACTION

template <Action A>
using ActionFn = typename ActionSig<A>::type*;

}  // namespace zol
