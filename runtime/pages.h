// Size-class pages: the memory manager's home for small buffers.
//
// A page is 64 KiB, aligned to its size, holding slots of one size (a buffer header and up to MAX_SMALL data
// bytes). A buffer is placed by taking a freed slot of its page or the next never-used one, so allocation
// is a few stores and buffers made together lie together. Each page keeps two bitmaps over its slots: in use,
// and marked by the collector, so marking a buffer sets one bit and sweeping a page frees every slot in use
// but unmarked without visiting the live ones. After a collection that runs inside an allocation the pages
// are swept lazily, each when its size class next needs a slot (a page waiting for its sweep marks what is
// placed in it meanwhile); a collection asked for at once (recycle) sweeps them all.
#pragma once
#include <cstdint>

#include "memory.h"
#include "platform/sanitizer.h"

namespace zol::pages {

constexpr uint32_t PAGE_BYTES = 64 * 1024;
constexpr uint32_t MAX_SMALL = 512;  // data bytes of the largest slot

// Sanitizer builds leave every buffer to the C allocator so that a use after free is still caught.
#if defined(ZOL_ADDRESS_SANITIZER)
constexpr bool ENABLED = false;
#else
constexpr bool ENABLED = true;
#endif

inline bool small(uint64_t size) { return ENABLED && size <= MAX_SMALL; }

// A slot for a buffer of size data bytes (a multiple of 16, at most MAX_SMALL), its flags set to
// SER_PAGED and its size filled in; null when the system has no memory for a new page.
Series* alloc(uint32_t size);
// Gives a slot back (its buffer is done with).
void free(Series* s);

// The collector's mark of a slot.
bool mark(Series* s);  // true when newly marked
bool marked(const Series* s);

// What a sweep does with each dead slot before it reuses it (drop its decoded form; the slot keeps its
// node for its next buffer), and what freeing a page does with each slot it ever handed out (give back the
// node the slot kept): set once by the memory manager.
using Release = void (*)(Series* s);
void init(Release release, Release forget);
// Before marking: sweeps the pages still waiting since the last collection.
void finish_sweeps();
// After marking: every page waits for its sweep (lazy), or is swept now.
void sweep(bool lazy);

// Frees the pages that hold no buffer (when memory runs short). Answers whether it freed any.
bool release_empty();
// Frees every page (the runtime ends).
void release_all();

// Bytes taken from the system for pages.
uint64_t page_bytes();

}  // namespace zol::pages
