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

const char* const kActionWords[ACTION_COUNT + 1] = {
    nullptr,
#define ZOL_ACTION(name, word, entry, result, params) word,
#include "runtime/actions.def"
#undef ZOL_ACTION
};

}  // namespace

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
            case Registration::Slot::inherit: fn = parent ? actions_[parent * ACTION_STRIDE + a - 1] : nullptr; break;
            case Registration::Slot::unsupported: break;
        }
        actions_[t * ACTION_STRIDE + a - 1] = fn;
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

}  // namespace

void datatype_init(DatatypeRegistry& registry) {
    Registration r(TYPE_DATATYPE);
    r.own<ACT_FORM>(datatype_form).own<ACT_MOLD>(datatype_mold).own<ACT_COMPARE>(datatype_compare);
    registry.register_datatype(r);
}

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

#define INIT(unit) void unit##_init(DatatypeRegistry&);
#define NO_INIT
#define LATE
#define ZOL_TYPE(name, id, text, parent, init, mark, families) init
#include "runtime/types.def"
#undef ZOL_TYPE
#undef INIT
#undef NO_INIT
#undef LATE

const DatatypeEntry g_registration_order[] = {
#define INIT(unit) unit##_init, false
#define NO_INIT nullptr, false
#define LATE nullptr, true
#define ZOL_TYPE(name, id, text, parent, init, mark, families) {TYPE_##name, init},
#include "runtime/types.def"
#undef ZOL_TYPE
#undef INIT
#undef NO_INIT
#undef LATE
};
const uint32_t g_registration_count = sizeof g_registration_order / sizeof g_registration_order[0];

void register_all_datatypes(DatatypeRegistry& registry) {
    for (const DatatypeEntry& e : g_registration_order) {
        if (e.late) continue;
        if (e.init) {
            e.init(registry);
        } else {
            registry.register_name_only(e.id);
        }
    }
}

}  // namespace zol
