// Size-class pages: slots, their bitmaps, and the sweeps.
#include "pages.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace zol::pages {

Class g_classes[CLASSES];
uint8_t g_class_of[MAX_SMALL / 16 + 1];

namespace {

uint64_t g_page_bytes = 0;

// Pages are cut from chunks of address space mapped straight from the system, aligned to their size and
// backed by large pages where it can: a page then costs no fault of its own when first touched. The first
// chunk too: start-up fills hundreds of pages of it, and a fault each cost more than the rest of start-up
// (a small program's resident size grows by the large page instead). A chunk is never given back while
// the runtime runs; a page freed when memory is short gives back its memory and waits, as a free frame,
// to be a page again.
constexpr size_t CHUNK_BYTES = size_t(2) << 20;
static_assert(CHUNK_BYTES % PAGE_BYTES == 0);

struct Chunk {
    uint8_t* base;
    size_t cut;  // bytes of it cut into pages so far
    Chunk* next;
};
Chunk* g_chunks = nullptr;  // the newest first: pages are cut from it

struct Frame {
    Frame* next;
};
Frame* g_free_frames = nullptr;

// Room for a page: a free frame, the next page of the newest chunk, or the first of a new chunk.
void* take_frame() {
    if (Frame* f = g_free_frames) {
        g_free_frames = f->next;
        return f;
    }
    if (!g_chunks || g_chunks->cut == CHUNK_BYTES) {
        auto* chunk = static_cast<Chunk*>(std::malloc(sizeof(Chunk)));
        if (!chunk) return nullptr;
        chunk->base = static_cast<uint8_t*>(platform::map_aligned_pages(CHUNK_BYTES, CHUNK_BYTES));
        if (!chunk->base) {
            std::free(chunk);
            return nullptr;
        }
        chunk->cut = 0;
        chunk->next = g_chunks;
        g_chunks = chunk;
    }
    void* page = g_chunks->base + g_chunks->cut;
    g_chunks->cut += PAGE_BYTES;
    return page;
}

// A page no longer used: its memory goes back to the system, its address space waits for the next page.
void give_frame(void* page) {
    platform::discard_pages(page, PAGE_BYTES);
    auto* f = static_cast<Frame*>(page);
    f->next = g_free_frames;
    g_free_frames = f;
}
Swept g_swept = nullptr;
Forget g_forget = nullptr;

// Freed slots are chained through the word of the decoded form, which a freed buffer no longer has; the
// header's node stays, for the slot's next buffer.
inline void chain(Page* p, Series* s) {
    s->code = p->free;
    p->free = s;
}

void list_free(Class& c, Page* p) {
    if (p->listed || p == c.current) return;
    p->listed = true;
    p->next_free = c.with_free;
    c.with_free = p;
}

Page* new_page(uint32_t klass) {
    void* memory = take_frame();
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
    uint32_t freed = 0, named = 0;
    for (uint32_t w = 0; w < WORDS; w++) {
        uint64_t dead = p->used[w] & ~p->marks[w];
        p->marks[w] = 0;
        if (!dead) continue;
        p->used[w] &= ~dead;
        // Every dead slot's header is read and written below: ask for them all first.
        for (uint64_t ahead = dead; ahead; ahead &= ahead - 1) {
            __builtin_prefetch(slot_at(p, w * 64 + uint32_t(__builtin_ctzll(ahead))), 1);
        }
        while (dead) {
            uint32_t i = w * 64 + uint32_t(__builtin_ctzll(dead));
            dead &= dead - 1;
            Series* s = slot_at(p, i);
            series_changed(s);
            s->flags &= ~SER_IN_USE;
            named += s->node != 0;
            chain(p, s);
            freed++;
        }
    }
    p->live -= freed;
    if (freed) g_swept(uint64_t(freed) * (CLASS_SIZES[p->klass] + BUFFER_OVERHEAD), named);
    if (p->free) list_free(g_classes[p->klass], p);
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

void init(Swept swept, Forget forget) {
    g_swept = swept;
    g_forget = forget;
    uint32_t k = 0;
    for (uint32_t size = 0; size <= MAX_SMALL; size += 16) {
        while (CLASS_SIZES[k] < size) k++;
        g_class_of[size / 16] = uint8_t(k);
    }
}

Series* alloc(uint32_t size) {
    ZOL_ASSERT(size % 16 == 0 && size <= MAX_SMALL);
    uint32_t klass = class_of(size);
    if (Series* s = take_current(klass)) return s;
    Class& c = g_classes[klass];
    Page* p = refill(c, klass);
    if (!p) return nullptr;
    c.current = p;
    return take_current(klass);
}

void free(Series* s) {
    Page* p = page_of(s);
    uint32_t i = index_of(p, s);
    uint64_t bit = uint64_t(1) << (i % 64);
    ZOL_ASSERT(p->used[i / 64] & bit);
    p->used[i / 64] &= ~bit;
    p->marks[i / 64] &= ~bit;
    p->live--;
    chain(p, s);
    list_free(g_classes[p->klass], p);
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
                for (uint32_t i = 0; i < p->fresh; i++) g_forget(slot_at(p, i));
                *at = p->next;
                give_frame(p);
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
    while (Chunk* chunk = g_chunks) {
        g_chunks = chunk->next;
        platform::unmap_pages(chunk->base, CHUNK_BYTES);
        std::free(chunk);
    }
    g_free_frames = nullptr;
    g_page_bytes = 0;
}

uint64_t page_bytes() { return g_page_bytes; }

}  // namespace zol::pages
