// The datatype registry and the datatype! datatype.
#include "registry.h"

#include <cstring>

#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "context.h"
#include "string.h"
#include "word.h"

namespace zol {

DatatypeRegistry g_types;

namespace {

// types.def lists the types in id order with no gaps; the tables below rely on it.
constexpr uint32_t kIds[] = {
    0,
#define ZOL_TYPE(name, id, text, parent) id,
#include "runtime/types.def"
#undef ZOL_TYPE
};
constexpr bool ids_in_order() {
    for (uint32_t i = 0; i < sizeof kIds / sizeof kIds[0]; i++) {
        if (kIds[i] != i) return false;
    }
    return true;
}
static_assert(ids_in_order(), "types.def must list ids 1, 2, 3 ... in order");
static_assert(sizeof kIds / sizeof kIds[0] == TYPE_MAX + 1);

const char* const kTypeNames[TYPE_TABLE_ROWS] = {
    nullptr,
#define ZOL_TYPE(name, id, text, parent) text,
#include "runtime/types.def"
#undef ZOL_TYPE
};

const TypeId kParents[TYPE_TABLE_ROWS] = {
    NO_TYPE,
#define ZOL_TYPE(name, id, text, parent) parent,
#include "runtime/types.def"
#undef ZOL_TYPE
};

const char* const kActionWords[ACTION_COUNT + 1] = {
    nullptr,
#define ZOL_ACTION(name, word, result, params) word,
#include "runtime/actions.def"
#undef ZOL_ACTION
};

}  // namespace

const char* type_name(uint32_t id) { return id < TYPE_TABLE_ROWS ? kTypeNames[id] : nullptr; }
TypeId type_parent(uint32_t id) { return id < TYPE_TABLE_ROWS ? kParents[id] : NO_TYPE; }
const char* action_word(Action a) { return a <= ACTION_COUNT ? kActionWords[a] : nullptr; }

Registration::Registration(TypeId id, bool inherit_all) : id_(id) {
    Slot fill = inherit_all && type_parent(id) != NO_TYPE ? Slot::inherit : Slot::unsupported;
    for (uint32_t i = 0; i < ACTION_COUNT; i++) {
        kind_[i] = fill;
        fn_[i] = nullptr;
    }
}

Registration& Registration::inherit(Action a) {
    kind_[a - 1] = Slot::inherit;
    fn_[a - 1] = nullptr;
    return *this;
}

Registration& Registration::unsupported(Action a) {
    kind_[a - 1] = Slot::unsupported;
    fn_[a - 1] = nullptr;
    return *this;
}

DatatypeRegistry::DatatypeRegistry() {
    std::memset(names_, 0, sizeof names_);
    std::memset(actions_, 0, sizeof actions_);
}

void DatatypeRegistry::register_datatype(const Registration& r) {
    uint32_t t = r.id();
    if (t == NO_TYPE || t >= TYPE_TABLE_ROWS) runtime_error(98, t);  // a build fault, not a user error
    if (t > highest_) highest_ = t;
    TypeNameRow& row = names_[t];
    row.name = type_name(t);
    row.length = uint32_t(std::strlen(row.name)) - 1;
    // A type registered once the global context exists gets its name's word at once.
    if (g_global_context && this == &g_types) row.word = word_load(row.name);
    // A parent is registered before its children, so its entries are final when they are copied: an
    // inherited slot is a snapshot of the parent's function.
    uint32_t parent = type_parent(t);
    for (uint32_t a = 1; a <= ACTION_COUNT; a++) {
        AnyFn fn = nullptr;
        switch (r.kind(a)) {
            case Registration::Slot::own: fn = r.fn(a); break;
            case Registration::Slot::inherit: fn = parent ? actions_[parent * 256 + a - 1] : nullptr; break;
            case Registration::Slot::unsupported: break;
        }
        actions_[t * 256 + a - 1] = fn;
    }
}

void DatatypeRegistry::register_name_only(TypeId id) { register_datatype(Registration(id)); }

// --- datatype!

namespace {

int datatype_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    const TypeNameRow& row = g_types.row(datatype_id(value));
    string_append_ascii(out, row.name, row.length);
    return budget - int(row.length);
}

int datatype_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    const TypeNameRow& row = g_types.row(datatype_id(value));
    uint32_t n = row.length + 1;
    if (args.all) {
        string_append_ascii(out, "#(");
        string_append_ascii(out, row.name, n);
        string_append_ascii(out, ")");
        return budget - int(n) - 3;
    }
    string_append_ascii(out, row.name, n);
    return budget - int(n);
}

int datatype_compare(const Cell* value, const Cell* other, CompareOp op) {
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_STRICT_EQUAL:
        case CMP_SAME:
        case CMP_FIND:
            return cell_is(other, TYPE_DATATYPE) && datatype_id(other) == datatype_id(value) ? 0 : 1;
        default:
            return COMPARE_INCOMPARABLE;
    }
}

void datatype_init(DatatypeRegistry& registry) {
    Registration r(TYPE_DATATYPE);
    r.own<ACT_FORM>(datatype_form).own<ACT_MOLD>(datatype_mold).own<ACT_COMPARE>(datatype_compare);
    registry.register_datatype(r);
}

}  // namespace

Cell* datatype_make_in(const Cell* block, uint32_t type) {
    Cell* c = block_alloc_tail(block);
    set_datatype(c, type);
    return c;
}

Cell* datatype_push(uint32_t type) {
    Cell* c = stack_push_cell();
    set_datatype(c, type);
    return c;
}

// --- registration order

void unset_init(DatatypeRegistry&);
void none_init(DatatypeRegistry&);
void logic_init(DatatypeRegistry&);
void series_init(DatatypeRegistry&);
void block_init(DatatypeRegistry&);
void paren_init(DatatypeRegistry&);
void symbol_init(DatatypeRegistry&);
void path_init(DatatypeRegistry&);
void lit_path_init(DatatypeRegistry&);
void set_path_init(DatatypeRegistry&);
void get_path_init(DatatypeRegistry&);
void native_init(DatatypeRegistry&);
void action_init(DatatypeRegistry&);
void op_init(DatatypeRegistry&);
void function_init(DatatypeRegistry&);
void routine_init(DatatypeRegistry&);
void typeset_init(DatatypeRegistry&);
void context_init(DatatypeRegistry&);
void word_init(DatatypeRegistry&);
void set_word_init(DatatypeRegistry&);
void lit_word_init(DatatypeRegistry&);
void get_word_init(DatatypeRegistry&);
void refinement_init(DatatypeRegistry&);
void char_init(DatatypeRegistry&);
void integer_init(DatatypeRegistry&);
void float_init(DatatypeRegistry&);
void string_init(DatatypeRegistry&);
void object_init(DatatypeRegistry&);
void error_init(DatatypeRegistry&);

const DatatypeEntry g_registration_order[] = {
    {TYPE_DATATYPE, datatype_init},
    {TYPE_UNSET, unset_init},
    {TYPE_NONE, none_init},
    {TYPE_LOGIC, logic_init},
    {TYPE_SERIES, series_init},
    {TYPE_BLOCK, block_init},
    {TYPE_STRING, string_init},
    {TYPE_BINARY, nullptr},
    {TYPE_INTEGER, integer_init},
    {TYPE_SYMBOL, symbol_init},
    {TYPE_CONTEXT, context_init},
    {TYPE_WORD, word_init},
    {TYPE_LIT_WORD, lit_word_init},
    {TYPE_SET_WORD, set_word_init},
    {TYPE_GET_WORD, get_word_init},
    {TYPE_REFINEMENT, refinement_init},
    {TYPE_CHAR, char_init},
    {TYPE_NATIVE, native_init},
    {TYPE_ACTION, action_init},
    {TYPE_OP, op_init},
    {TYPE_PATH, path_init},
    {TYPE_LIT_PATH, lit_path_init},
    {TYPE_SET_PATH, set_path_init},
    {TYPE_GET_PATH, get_path_init},
    {TYPE_FUNCTION, function_init},
    {TYPE_ROUTINE, routine_init},
    {TYPE_PAREN, paren_init},
    {TYPE_ISSUE, nullptr},
    {TYPE_URL, nullptr},
    {TYPE_FILE, nullptr},
    {TYPE_OBJECT, object_init},
    {TYPE_BITSET, nullptr},
    {TYPE_TRIPLE, nullptr},
    {TYPE_FLOAT, float_init},
    {TYPE_TYPESET, typeset_init},
    {TYPE_ERROR, error_init},
    {TYPE_VECTOR, nullptr},
    {TYPE_MAP, nullptr},
    {TYPE_HASH, nullptr},
    {TYPE_PAIR, nullptr},
    {TYPE_PERCENT, nullptr},
    {TYPE_TUPLE, nullptr},
    {TYPE_TIME, nullptr},
    {TYPE_TAG, nullptr},
    {TYPE_EMAIL, nullptr},
    {TYPE_HANDLE, nullptr},
    {TYPE_DATE, nullptr},
    {TYPE_PORT, nullptr},
    {TYPE_MONEY, nullptr},
    {TYPE_REF, nullptr},
    {TYPE_POINT2D, nullptr},
    {TYPE_POINT3D, nullptr},
    {TYPE_IMAGE, nullptr},  // after the image codecs are set up
};
const uint32_t g_registration_count = sizeof g_registration_order / sizeof g_registration_order[0];

void register_all_datatypes(DatatypeRegistry& registry) {
    for (const DatatypeEntry& e : g_registration_order) {
        if (e.init) {
            e.init(registry);
        } else {
            registry.register_name_only(e.id);
        }
    }
}

}  // namespace zol
