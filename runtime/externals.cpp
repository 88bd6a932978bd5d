// The external-resource table.
#include "externals.h"

#include <cstring>

#include "memory.h"

namespace zol {

namespace {

struct TypeEntry {
    const char* name;
    ReleaseFn release;
};

struct Slot {
    uint32_t value;
    void* resource;
    uint32_t next;
};

TypeEntry g_types[EXT_MAX_TYPES];
uint32_t g_type_count = 0;
Slot* g_slots = nullptr;
uint32_t g_capacity = 0;
uint32_t g_free_head = 0;
uint32_t g_used_head = EXT_END;

constexpr uint32_t FIRST_CAPACITY = 1000;

void chain_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; i++) g_slots[i] = Slot{EXT_FREE, nullptr, i + 1 < to ? i + 1 : EXT_END};
}

void unlink_used(uint32_t slot) {
    if (g_used_head == slot) {
        g_used_head = g_slots[slot].next;
        return;
    }
    for (uint32_t i = g_used_head; i != EXT_END; i = g_slots[i].next) {
        if (g_slots[i].next == slot) {
            g_slots[i].next = g_slots[slot].next;
            return;
        }
    }
}

void make_free(uint32_t slot) {
    g_slots[slot] = Slot{EXT_FREE, nullptr, g_free_head};
    g_free_head = slot;
}

}  // namespace

void externals_init() {
    if (g_slots) tracked_free(g_slots);
    g_type_count = 0;
    g_capacity = FIRST_CAPACITY;
    g_slots = static_cast<Slot*>(tracked_alloc(sizeof(Slot) * g_capacity));
    chain_free(0, g_capacity);
    g_free_head = 0;
    g_used_head = EXT_END;
}

uint32_t externals_register_type(const char* name, ReleaseFn release) {
    g_types[g_type_count] = TypeEntry{name, release};
    return ++g_type_count;
}

uint32_t externals_store(void* resource, uint32_t value) {
    // The free chain is never left empty: the last free slot doubles the table before it is taken.
    if (g_slots[g_free_head].next == EXT_END) {
        uint32_t old = g_capacity;
        g_capacity *= 2;
        g_slots = static_cast<Slot*>(tracked_realloc(g_slots, sizeof(Slot) * g_capacity));
        chain_free(old, g_capacity);
        g_slots[g_free_head].next = old;
    }
    uint32_t slot = g_free_head;
    g_free_head = g_slots[slot].next;
    g_slots[slot] = Slot{value, resource, g_used_head};
    g_used_head = slot;
    return slot;
}

void externals_replace(uint32_t slot, void* resource) {
    void* old = g_slots[slot].resource;
    g_slots[slot].resource = resource;
    if (old != resource) externals_release(g_slots[slot].value, old);
}

uint32_t externals_remove(uint32_t slot, bool release) {
    if (release) externals_release_slot(slot);
    unlink_used(slot);
    make_free(slot);
    return EXT_END;
}

bool externals_mark(uint32_t slot, void* resource) {
    Slot& s = g_slots[slot];
    bool first = !(s.value & EXT_MARK);
    s.value |= EXT_MARK;
    if (resource) s.resource = resource;
    return first;
}

void externals_foreach(uint32_t type, void (*callback)(void*)) {
    for (uint32_t i = g_used_head; i != EXT_END; i = g_slots[i].next) {
        if ((g_slots[i].value & EXT_TYPE_MASK) == type) callback(g_slots[i].resource);
    }
}

void externals_release(uint32_t value, void* resource) {
    uint32_t type = value & EXT_TYPE_MASK;
    if (type >= 1 && type <= g_type_count && g_types[type - 1].release) g_types[type - 1].release(resource);
}

void externals_release_slot(uint32_t slot) { externals_release(g_slots[slot].value, g_slots[slot].resource); }

void externals_sweep() {
    uint32_t prev = EXT_END;
    uint32_t i = g_used_head;
    while (i != EXT_END) {
        uint32_t next = g_slots[i].next;
        if (g_slots[i].value & EXT_MARK) {
            g_slots[i].value &= ~EXT_MARK;
            prev = i;
        } else {
            externals_release_slot(i);
            if (prev == EXT_END) {
                g_used_head = next;
            } else {
                g_slots[prev].next = next;
            }
            make_free(i);
        }
        i = next;
    }
}

void* externals_get(uint32_t slot) { return g_slots[slot].resource; }
uint32_t externals_value(uint32_t slot) { return g_slots[slot].value; }
uint32_t externals_capacity() { return g_capacity; }

}  // namespace zol
