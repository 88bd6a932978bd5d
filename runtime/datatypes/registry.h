// The datatype registry: the type-name table and the action table. Each datatype's init routine fills a
// Registration with its 62 action slots (its own function, inherit from the parent, or unsupported) and
// registers it once; inheritance is resolved then, by copying the parent's entry, so a lookup is one
// table read at (type id x ACTION_STRIDE + action - 1).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

using AnyFn = void (*)();

// Slots per datatype in the action table: the actions rounded up to a power of two, so that a row is 512
// bytes and the rows of the types a start-up registers touch a few pages, not one each.
constexpr uint32_t ACTION_STRIDE = 64;
static_assert(ACTION_COUNT <= ACTION_STRIDE);

class Registration {
public:
    enum class Slot : uint8_t { unsupported, own, inherit };

    // Every slot starts unsupported, or inherited when the type has a parent and `inherit_all` is set.
    explicit Registration(TypeId id, bool inherit_all = false);

    template <Action A>
    Registration& own(ActionFn<A> fn) {
        kind_[A - 1] = Slot::own;
        fn_[A - 1] = reinterpret_cast<AnyFn>(fn);
        return *this;
    }
    Registration& inherit(Action a);
    Registration& unsupported(Action a);

    TypeId id() const { return id_; }
    Slot kind(uint32_t action) const { return kind_[action - 1]; }
    AnyFn fn(uint32_t action) const { return fn_[action - 1]; }

private:
    TypeId id_;
    Slot kind_[ACTION_COUNT];
    AnyFn fn_[ACTION_COUNT];
};

struct TypeNameRow {
    const char* name;  // "block!"
    uint32_t length;   // without the final "!"
    Cell word;         // word! for the whole name in the global context; header 0 until made
};

class DatatypeRegistry {
public:
    // Empty: a global registry is zero from the program's load, with nothing to clear at start-up.
    constexpr DatatypeRegistry() = default;
    void register_datatype(const Registration& r);
    // Registers a datatype that has no actions yet: its name row is filled, every slot unsupported.
    void register_name_only(TypeId id);

    AnyFn action(uint32_t type, uint32_t action) const { return actions_[type * ACTION_STRIDE + action - 1]; }
    template <Action A>
    ActionFn<A> get(uint32_t type) const {
        return reinterpret_cast<ActionFn<A>>(actions_[type * ACTION_STRIDE + A - 1]);
    }
    const TypeNameRow& row(uint32_t type) const { return names_[type]; }
    TypeNameRow& row(uint32_t type) { return names_[type]; }
    uint32_t highest() const { return highest_; }
    bool registered(uint32_t type) const { return names_[type].name != nullptr; }

private:
    TypeNameRow names_[TYPE_TABLE_ROWS] = {};
    AnyFn actions_[TYPE_TABLE_ROWS * ACTION_STRIDE] = {};
    uint32_t highest_ = 0;
};

extern DatatypeRegistry g_types;

// A datatype's init routine.
using DatatypeInit = void (*)(DatatypeRegistry& registry);

// The datatypes in registration order (types.def), each with its init routine, or null while its unit is
// not built yet (such a type is registered by name only, with every action unsupported). A late type is
// registered by the layer that owns it, when that layer starts.
struct DatatypeEntry {
    TypeId id;
    DatatypeInit init;
    bool late;
};
extern const DatatypeEntry g_registration_order[];
extern const uint32_t g_registration_count;
// Registers every datatype of the runtime initialisation in registration order.
void register_all_datatypes(DatatypeRegistry& registry);

// datatype! values.
Cell* datatype_make_in(const Cell* block, uint32_t type);
Cell* datatype_push(uint32_t type);

}  // namespace zol
