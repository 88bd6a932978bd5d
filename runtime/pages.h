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

// Data sizes of the classes: none (empty blocks), then steps of 16 bytes up to 128, then of 32, then of 64.
constexpr uint32_t CLASS_SIZES[] = {0, 16, 32, 48, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512};
constexpr uint32_t CLASSES = sizeof CLASS_SIZES / sizeof CLASS_SIZES[0];
static_assert(CLASS_SIZES[CLASSES - 1] == MAX_SMALL);

constexpr uint32_t MAX_SLOTS = PAGE_BYTES / sizeof(Series);
constexpr uint32_t WORDS = (MAX_SLOTS + 63) / 64;

// The page's own record, at its start; its slots follow. Visible here so that taking a slot from the
// current page of a class is done in line by the allocator.
struct Page {
    uint32_t slot;    // bytes per slot: the header and the class's data size
    uint32_t count;   // slots
    uint32_t klass;
    uint32_t fresh;   // slots handed out at least once, from the first
    uint32_t live;    // slots in use
    uint32_t recip;   // 2^32 / slot, rounded up: the slot of an offset without a division
    bool waiting;     // marked at the last collection and not swept since
    bool listed;      // on its class's list of pages with freed slots
    Series* free;     // freed slots of this page (see chain)
    Page* next;       // every page of the class
    Page* next_free;  // the class's pages with freed slots
    Page* next_sweep; // the class's pages waiting for their sweep
    uint64_t used[WORDS];
    uint64_t marks[WORDS];
};
// The first slot starts on a cache line, so that a slot of 64 bytes (the header and two cells) is one line.
constexpr uint32_t FIRST = (sizeof(Page) + 63) & ~63u;
static_assert((PAGE_BYTES - FIRST) / sizeof(Series) <= MAX_SLOTS);

struct Class {
    Page* current = nullptr;  // where slots are taken from
    Page* all = nullptr;
    Page* with_free = nullptr;
    Page* to_sweep = nullptr;
};

extern Class g_classes[CLASSES];
extern uint8_t g_class_of[MAX_SMALL / 16 + 1];  // by data size / 16

inline Page* page_of(const Series* s) {
    return reinterpret_cast<Page*>(reinterpret_cast<uintptr_t>(s) & ~uintptr_t(PAGE_BYTES - 1));
}
inline uint32_t class_of(uint32_t size) { return g_class_of[size / 16]; }
inline uint8_t* first_slot(Page* p) { return reinterpret_cast<uint8_t*>(p) + FIRST; }
inline Series* slot_at(Page* p, uint32_t i) { return reinterpret_cast<Series*>(first_slot(p) + uint64_t(i) * p->slot); }
inline uint32_t index_of(Page* p, const Series* s) {
    uint32_t offset = uint32_t(reinterpret_cast<const uint8_t*>(s) - first_slot(p));
    uint32_t i = uint32_t((uint64_t(offset) * p->recip) >> 32);
    ZOL_ASSERT(i * p->slot == offset && i < p->count);
    return i;
}

// A slot of the class's current page (a freed one, else the next never used), its flags set to SER_PAGED
// and its size filled in; null when that page has none left, and nothing is changed then.
inline Series* take_current(uint32_t klass) {
    Page* p = g_classes[klass].current;
    if (!p) return nullptr;
    Series* s = p->free;
    uint32_t i;
    if (s) {
        // Freed slots chain through the word of the decoded form (see pages.cpp).
        p->free = static_cast<Series*>(s->code);
        // The next allocation of the class reads the next free slot's chain word: fetch it now, so that it
        // does not wait for memory then.
        __builtin_prefetch(p->free, 1);
        i = index_of(p, s);
    } else {
        if (p->fresh == p->count) return nullptr;
        i = p->fresh++;
        s = slot_at(p, i);
        s->node = 0;
        __builtin_prefetch(slot_at(p, p->fresh), 1);
    }
    // In use, and marked when the page still waits for its sweep, so that the sweep does not take it for
    // dead.
    uint64_t bit = uint64_t(1) << (i % 64);
    p->used[i / 64] |= bit;
    if (p->waiting) p->marks[i / 64] |= bit;
    p->live++;
    s->flags = SER_PAGED;
    s->size = CLASS_SIZES[klass];
    return s;
}

// A slot for a buffer of size data bytes (a multiple of 16, at most MAX_SMALL), its flags set to
// SER_PAGED and its size filled in; null when the system has no memory for a new page.
Series* alloc(uint32_t size);
// Gives a slot back (its buffer is done with).
void free(Series* s);

// The collector's mark of a slot; true when newly marked.
inline bool mark(Series* s) {
    Page* p = page_of(s);
    uint32_t i = index_of(p, s);
    uint64_t bit = uint64_t(1) << (i % 64);
    uint64_t& word = p->marks[i / 64];
    if (word & bit) return false;
    word |= bit;
    return true;
}
bool marked(const Series* s);

}  // namespace zol::pages

namespace zol {

inline bool series_mark(Series* s) {
    if (s->flags & SER_PAGED) return pages::mark(s);
    if (s->flags & SER_MARK) return false;
    s->flags |= SER_MARK;
    return true;
}

}  // namespace zol

namespace zol::pages {

// A sweep drops each dead slot's decoded form and takes its buffer out of use (the slot keeps its node for
// its next buffer), then tells the memory manager once per page what it freed: the footprints of the
// buffers and how many of them had a node. Freeing a page tells it of each slot it ever handed out (to give
// back the node the slot kept). Both are set once by the memory manager.
using Swept = void (*)(uint64_t bytes, uint32_t named);
using Forget = void (*)(Series* s);
void init(Swept swept, Forget forget);
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
