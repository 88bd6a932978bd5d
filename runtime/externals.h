// The external-resource table: OS resources that values refer to by slot index (a handle! holds the
// slot in its word 3). The collector marks the slots that live values reach and, after marking, releases
// every other in-use resource through the release callback registered for its type.
#pragma once
#include <cstdint>

namespace zol {

using ReleaseFn = void (*)(void* resource);

constexpr uint32_t EXT_TYPE_MASK = 0xFF;
constexpr uint32_t EXT_MARK = 0x80000000;
constexpr uint32_t EXT_FREE = 0x40000000;
constexpr uint32_t EXT_END = 0xFFFFFFFF;  // end of a chain
constexpr uint32_t EXT_MAX_TYPES = 20;

void externals_init();
// Returns the new type's index, from 1.
uint32_t externals_register_type(const char* name, ReleaseFn release);
// Stores a resource with its value word (type index and owner flags); returns its slot, from 0.
uint32_t externals_store(void* resource, uint32_t value);
// Replaces a slot's resource; the old one is released when it differs.
void externals_replace(uint32_t slot, void* resource);
// Frees a slot, releasing its resource first when asked. Returns EXT_END.
uint32_t externals_remove(uint32_t slot, bool release);
// Marks a slot (and stores the resource when one is given); true on the first mark of a collection.
bool externals_mark(uint32_t slot, void* resource);
void externals_foreach(uint32_t type, void (*callback)(void* resource));
void externals_release(uint32_t value, void* resource);
void externals_release_slot(uint32_t slot);
// After marking: releases and frees every in-use slot that was not marked, clears the other marks.
void externals_sweep();

// Read access for the owners of resources and for tests.
void* externals_get(uint32_t slot);
uint32_t externals_value(uint32_t slot);
uint32_t externals_capacity();

}  // namespace zol
