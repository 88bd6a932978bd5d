// Size-class pages: slots, their bitmaps, and the sweeps.
#include "pages.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace zol::pages {

namespace {

// Data sizes of the classes: steps of 16 bytes up to 128, then of 32, then of 64.
constexpr uint32_t CLASS_SIZES[] = {16, 32, 48, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512};
constexpr uint32_t CLASSES = sizeof CLASS_SIZES / sizeof CLASS_SIZES[0];
static_assert(CLASS_SIZES[CLASSES - 1] == MAX_SMALL);

constexpr uint32_t MAX_SLOTS = PAGE_BYTES / (sizeof(Series) + 16);
constexpr uint32_t WORDS = (MAX_SLOTS + 63) / 64;

struct Page {
    uint32_t slot;    // bytes per slot: the header and the class's data size
    uint32_t count;   // slots
    uint32_t klass;
    uint32_t fresh;   // slots handed out at least once, from the first
    uint32_t live;    // slots in use
    uint32_t recip;   // 2^32 / slot, rounded up: the slot of an offset without a division
    bool waiting;     // marked at the last collection and not swept since
    bool listed;      // on its class's list of pages with freed slots
    Series* free;     // freed slots of this page, chained through their first word
    Page* next;       // every page of the class
    Page* next_free;  // the class's pages with freed slots
    Page* next_sweep; // the class's pages waiting for their sweep
    uint64_t used[WORDS];
    uint64_t marks[WORDS];
};
constexpr uint32_t FIRST = (sizeof(Page) + 15) & ~15u;
static_assert((PAGE_BYTES - FIRST) / (sizeof(Series) + 16) <= MAX_SLOTS);

struct Class {
    Page* current = nullptr;  // where slots are taken from
    Page* all = nullptr;
    Page* with_free = nullptr;
    Page* to_sweep = nullptr;
};

Class g_classes[CLASSES];
uint8_t g_class_of[MAX_SMALL / 16 + 1];  // by data size / 16
uint64_t g_page_bytes = 0;
Release g_release = nullptr;

// Pages are cut from chunks the system may back with huge pages, so a process's first buffers cost one
// page fault rather than one for every 4 KiB they touch. A page given back waits on the spare list, its
// memory returned to the system, for the next page a class needs.
constexpr size_t CHUNK_BYTES = size_t(2) << 20;
uint8_t* g_chunk_next = nullptr;  // the newest chunk's first page never handed out
uint8_t* g_chunk_end = nullptr;
void** g_chunks = nullptr;  // every chunk, unmapped when the runtime ends
uint32_t g_chunk_count = 0;
uint32_t g_chunk_capacity = 0;
void* g_spare = nullptr;  // pages given back, chained through their first word

// A page of PAGE_BYTES aligned to its size; null when the system has no memory for one.
void* take_page() {
    if (void* p = g_spare) {
        g_spare = *static_cast<void**>(p);
        return p;
    }
    if (g_chunk_next == g_chunk_end) {
        if (g_chunk_count == g_chunk_capacity) {
            uint32_t capacity = g_chunk_capacity ? g_chunk_capacity * 2 : 16;
            auto* chunks = static_cast<void**>(std::realloc(g_chunks, sizeof(void*) * capacity));
            if (!chunks) return nullptr;
            g_chunks = chunks;
            g_chunk_capacity = capacity;
        }
        void* chunk = platform::map_huge_region(CHUNK_BYTES, CHUNK_BYTES);
        if (!chunk) return nullptr;
        g_chunks[g_chunk_count++] = chunk;
        g_chunk_next = static_cast<uint8_t*>(chunk);
        g_chunk_end = g_chunk_next + CHUNK_BYTES;
    }
    void* p = g_chunk_next;
    g_chunk_next += PAGE_BYTES;
    return p;
}

void give_page(void* p) {
    platform::discard_pages(p, PAGE_BYTES);
    *static_cast<void**>(p) = g_spare;
    g_spare = p;
}

inline Page* page_of(const Series* s) {
    return reinterpret_cast<Page*>(reinterpret_cast<uintptr_t>(s) & ~uintptr_t(PAGE_BYTES - 1));
}
inline uint8_t* first_slot(Page* p) { return reinterpret_cast<uint8_t*>(p) + FIRST; }
inline Series* slot_at(Page* p, uint32_t i) { return reinterpret_cast<Series*>(first_slot(p) + uint64_t(i) * p->slot); }
inline uint32_t index_of(Page* p, const Series* s) {
    uint32_t offset = uint32_t(reinterpret_cast<const uint8_t*>(s) - first_slot(p));
    uint32_t i = uint32_t((uint64_t(offset) * p->recip) >> 32);
    ZOL_ASSERT(i * p->slot == offset && i < p->count);
    return i;
}
inline Series*& chained(Series* s) { return *reinterpret_cast<Series**>(s); }

void list_free(Class& c, Page* p) {
    if (p->listed || p == c.current) return;
    p->listed = true;
    p->next_free = c.with_free;
    c.with_free = p;
}

Page* new_page(uint32_t klass) {
    void* memory = take_page();
    if (!memory) return nullptr;
    auto* p = static_cast<Page*>(memory);
    std::memset(p, 0, sizeof(Page));
    p->slot = uint32_t(sizeof(Series)) + CLASS_SIZES[klass];
    p->count = (PAGE_BYTES - FIRST) / p->slot;
    p->klass = klass;
    p->recip = uint32_t(((uint64_t(1) << 32) + p->slot - 1) / p->slot);
    Class& c = g_classes[klass];
    p->next = c.all;
    c.all = p;
    g_page_bytes += PAGE_BYTES;
    return p;
}

// Frees the page's dead slots (in use, unmarked) and clears its marks.
void sweep_page(Page* p) {
    p->waiting = false;
    uint32_t freed = 0;
    for (uint32_t w = 0; w < WORDS; w++) {
        uint64_t dead = p->used[w] & ~p->marks[w];
        p->marks[w] = 0;
        if (!dead) continue;
        p->used[w] &= ~dead;
        while (dead) {
            uint32_t i = w * 64 + uint32_t(__builtin_ctzll(dead));
            dead &= dead - 1;
            Series* s = slot_at(p, i);
            g_release(s);
            chained(s) = p->free;
            p->free = s;
            freed++;
        }
    }
    p->live -= freed;
    if (p->free) list_free(g_classes[p->klass], p);
}

// The slot taken from a page: in use, and marked when the page still waits for its sweep, so that the
// sweep does not take it for dead.
inline Series* take(Page* p, Series* s) {
    uint32_t i = index_of(p, s);
    p->used[i / 64] |= uint64_t(1) << (i % 64);
    if (p->waiting) p->marks[i / 64] |= uint64_t(1) << (i % 64);
    p->live++;
    return s;
}

// A page of the class with a free slot, made current: one freed before, one swept now, or a new one.
Page* refill(Class& c, uint32_t klass) {
    while (c.with_free) {
        Page* p = c.with_free;
        c.with_free = p->next_free;
        p->listed = false;
        if (p->free) return p;
    }
    while (c.to_sweep) {
        Page* p = c.to_sweep;
        c.to_sweep = p->next_sweep;
        if (!p->waiting) continue;
        sweep_page(p);
        if (p->free) return p;  // still on the list of pages with freed slots, which becoming current ends
    }
    return new_page(klass);
}

}  // namespace

void init(Release release) {
    g_release = release;
    uint32_t k = 0;
    for (uint32_t size = 0; size <= MAX_SMALL; size += 16) {
        while (CLASS_SIZES[k] < size) k++;
        g_class_of[size / 16] = uint8_t(k);
    }
}

Series* alloc(uint32_t size) {
    ZOL_ASSERT(size % 16 == 0 && size <= MAX_SMALL);
    uint32_t klass = g_class_of[size / 16];
    Class& c = g_classes[klass];
    Page* p = c.current;
    Series* s;
    if (p && p->free) {
        s = p->free;
        p->free = chained(s);
    } else if (p && p->fresh < p->count) {
        s = slot_at(p, p->fresh++);
    } else {
        p = refill(c, klass);
        if (!p) return nullptr;
        c.current = p;
        if (p->free) {
            s = p->free;
            p->free = chained(s);
        } else {
            s = slot_at(p, p->fresh++);
        }
    }
    take(p, s);
    s->flags = SER_PAGED;
    s->size = CLASS_SIZES[klass];
    return s;
}

void free(Series* s) {
    Page* p = page_of(s);
    uint32_t i = index_of(p, s);
    uint64_t bit = uint64_t(1) << (i % 64);
    ZOL_ASSERT(p->used[i / 64] & bit);
    p->used[i / 64] &= ~bit;
    p->marks[i / 64] &= ~bit;
    p->live--;
    chained(s) = p->free;
    p->free = s;
    list_free(g_classes[p->klass], p);
}

bool mark(Series* s) {
    Page* p = page_of(s);
    uint32_t i = index_of(p, s);
    uint64_t bit = uint64_t(1) << (i % 64);
    uint64_t& word = p->marks[i / 64];
    if (word & bit) return false;
    word |= bit;
    return true;
}

bool marked(const Series* s) {
    Page* p = page_of(s);
    uint32_t i = index_of(p, s);
    return (p->marks[i / 64] >> (i % 64)) & 1;
}

void finish_sweeps() {
    for (Class& c : g_classes) {
        while (c.to_sweep) {
            Page* p = c.to_sweep;
            c.to_sweep = p->next_sweep;
            if (p->waiting) sweep_page(p);
        }
    }
}

void sweep(bool lazy) {
    for (Class& c : g_classes) {
        for (Page* p = c.all; p; p = p->next) {
            if (lazy) {
                p->waiting = true;
                p->next_sweep = c.to_sweep;
                c.to_sweep = p;
            } else {
                sweep_page(p);
            }
        }
    }
}

bool release_empty() {
    bool any = false;
    for (Class& c : g_classes) {
        if (c.to_sweep) continue;  // a waiting page may hold dead slots still named by nodes
        c.with_free = nullptr;
        Page** at = &c.all;
        while (Page* p = *at) {
            p->listed = false;
            if (p->live == 0 && p != c.current) {
                *at = p->next;
                give_page(p);
                g_page_bytes -= PAGE_BYTES;
                any = true;
                continue;
            }
            if (p->free) list_free(c, p);
            at = &p->next;
        }
    }
    return any;
}

void release_all() {
    for (Class& c : g_classes) c = Class{};
    for (uint32_t i = 0; i < g_chunk_count; i++) platform::unmap_pages(g_chunks[i], CHUNK_BYTES);
    std::free(g_chunks);
    g_chunks = nullptr;
    g_chunk_count = g_chunk_capacity = 0;
    g_chunk_next = g_chunk_end = nullptr;
    g_spare = nullptr;
    g_page_bytes = 0;
}

uint64_t page_bytes() { return g_page_bytes; }

}  // namespace zol::pages
