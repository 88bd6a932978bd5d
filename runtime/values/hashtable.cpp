// Hash tables.
#include "hashtable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime/casefold.h"
#include "compare.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/gc.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/random.h"

namespace zol {

namespace {

struct Header {
    uint32_t block;     // keys block (kinds 0-2) or entry series (kinds 3, 4)
    uint32_t count;     // live keys
    uint32_t occupied;  // live and deleted buckets
    uint32_t bucket_count;
    uint32_t upper;  // occupied count at which the table grows
    uint32_t kind;
    uint32_t width;
    uint32_t positions;   // kind 0: bucket + 1 of the key at each block position, 0xFFFFFFFF when none
    uint32_t chains;      // kind 0: nodes of the duplicate chains (word arrays of positions)
    uint32_t entry_size;  // kinds 3, 4: bytes of one entry (key cell and values)
    uint32_t removed;     // kind 1: keys whose pair was removed (still indexed, so setting them revives the pair)
    uint32_t reserved;
};
static_assert(sizeof(Header) == 48);

constexpr uint32_t NO_BUCKET = 0xFFFFFFFF;
constexpr double LOAD = 0.77;

inline uint32_t flag_words(uint32_t buckets) { return (buckets + 15) / 16; }
// Cell-keyed tables keep each bucket's hash beside its value (one 8-byte slot, so a probe reads both from one
// cache line): a probe compares keys only when their hashes agree, and resizing never hashes a key again.
inline bool keeps_hashes(uint32_t kind) { return kind == HASH_BLOCK || kind == HASH_MAP; }
inline uint64_t table_bytes(uint32_t buckets, uint32_t kind) {
    return sizeof(Header) + uint64_t(flag_words(buckets)) * 4 + uint64_t(buckets) * (keeps_hashes(kind) ? 8 : 4);
}

// Bucket states, two bits per bucket in an array of flag words (bit 1 empty, bit 0 deleted, neither: live).
// Tables and word maps share them and the probe.
inline uint32_t bucket_state(const uint32_t* flags, uint32_t i) { return (flags[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_bucket_state(uint32_t* flags, uint32_t i, uint32_t s) {
    uint32_t shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (s << shift);
}
// Marks every bucket empty.
inline void clear_flags(uint32_t* flags, uint32_t buckets) { std::memset(flags, 0xAA, size_t(flag_words(buckets)) * 4); }

// Probes for a bucket: `match(i)` decides whether live bucket i holds the key. Returns the matching bucket,
// or NO_BUCKET with *slot the first deleted bucket met or else the empty bucket that ended the probe.
template <typename Match>
uint32_t probe_buckets(const uint32_t* flags, uint32_t bucket_count, uint32_t hash, Match match, uint32_t* slot) {
    uint32_t mask = bucket_count - 1;
    uint32_t i = hash & mask;
    uint32_t first = i;
    uint32_t free_slot = NO_BUCKET;
    for (uint32_t k = 1;; k++) {
        uint32_t state = bucket_state(flags, i);
        if (state & 2) {
            if (free_slot == NO_BUCKET) free_slot = i;
            break;
        }
        if (state & 1) {
            if (free_slot == NO_BUCKET) free_slot = i;
        } else if (match(i)) {
            return i;
        }
        i = (i + k) & mask;
        if (i == first) break;
    }
    if (slot) *slot = free_slot;
    return NO_BUCKET;
}

// A view of a table's buffer; good until the next allocation that may grow the table.
struct View {
    Header* h;
    uint32_t* flags;
    uint32_t* buckets;
    uint32_t stride;  // words per bucket: 2 when each value is followed by its key's hash

    explicit View(uint32_t table) {
        h = reinterpret_cast<Header*>(node_series(table)->head_ptr());
        flags = reinterpret_cast<uint32_t*>(h + 1);
        buckets = flags + flag_words(h->bucket_count);
        stride = keeps_hashes(h->kind) ? 2 : 1;
    }
    bool has_hashes() const { return stride == 2; }
    uint32_t& value(uint32_t i) const { return buckets[i * stride]; }
    uint32_t& hash(uint32_t i) const { return buckets[i * 2 + 1]; }
    bool empty(uint32_t i) const { return bucket_state(flags, i) & 2; }
    bool deleted(uint32_t i) const { return bucket_state(flags, i) & 1; }
    bool live(uint32_t i) const { return bucket_state(flags, i) == 0; }
    void set_state(uint32_t i, uint32_t s) { set_bucket_state(flags, i, s); }
};

uint32_t next_pow2(uint64_t v) {
    uint64_t p = 4;
    while (p < v) p <<= 1;
    return p > 0x80000000u ? 0x80000000u : uint32_t(p);
}

uint32_t upper_bound_of(uint32_t buckets) { return uint32_t(double(buckets) * LOAD); }

Cell* block_cells(uint32_t block) { return node_series(block)->cells(); }

// --- hashing of the keys a table holds

inline uint8_t ascii_lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c; }

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t fmix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

constexpr uint32_t MURMUR_C1 = 0xCC9E2D51, MURMUR_C2 = 0x1B873593;

// One whole 32-bit block of MurmurHash3 x86 32-bit mixed into h.
inline uint32_t murmur_block(uint32_t h, uint32_t k) {
    k *= MURMUR_C1;
    k = rotl(k, 15);
    k *= MURMUR_C2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xE6546B64;
}

// MurmurHash3 x86 32-bit over bytes passed through a byte mapping (identity or ASCII lowering).
template <typename Map>
uint32_t murmur(const uint8_t* data, size_t len, Map map) {
    uint32_t h = g_hash_seed;
    size_t blocks = len / 4;
    for (size_t i = 0; i < blocks; i++) {
        const uint8_t* p = data + i * 4;
        h = murmur_block(h, uint32_t(map(p[0])) | uint32_t(map(p[1])) << 8 | uint32_t(map(p[2])) << 16 | uint32_t(map(p[3])) << 24);
    }
    const uint8_t* tail = data + blocks * 4;
    uint32_t k = 0;
    switch (len & 3) {
        case 3: k ^= uint32_t(map(tail[2])) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(map(tail[1])) << 8; [[fallthrough]];
        case 1:
            k ^= map(tail[0]);
            k *= MURMUR_C1;
            k = rotl(k, 15);
            k *= MURMUR_C2;
            h ^= k;
    }
    h ^= uint32_t(len);
    return fmix(h);
}

uint32_t hash_name(const uint8_t* name, uint32_t length) { return murmur(name, length, ascii_lower); }

// The hash under which the key stored in bucket value `v` was indexed.
uint32_t stored_hash(const Header* h, uint32_t v) {
    switch (h->kind) {
        case HASH_SYMBOLS: {
            Cell* c = block_cells(h->block) + v;
            if (h->width == 1) {
                uint32_t len;
                const uint8_t* name = symbol_bytes(v + 1, &len);
                return hash_name(name, len);
            }
            return hash_mix(symbol_resolve(word_symbol(c)));
        }
        case HASH_NODES:
        case HASH_OWNERSHIP: {
            auto* key = reinterpret_cast<Cell*>(node_series(h->block)->head_ptr() + v);
            return hash_mix(key->w1);
        }
        default: return hash_cell(block_cells(h->block) + v, false);
    }
}

// --- probing

// The table's probe: `match(value)` decides whether a live bucket holds the key, by its stored value. In a
// table that keeps hashes, only buckets of the same hash are asked.
template <typename Match>
uint32_t probe(const View& v, uint32_t hash, Match match, uint32_t* slot) {
    if (v.has_hashes()) {
        return probe_buckets(
            v.flags, v.h->bucket_count, hash, [&](uint32_t i) { return v.hash(i) == hash && match(v.value(i)); }, slot);
    }
    return probe_buckets(v.flags, v.h->bucket_count, hash, [&](uint32_t i) { return match(v.value(i)); }, slot);
}

void occupy(View& v, uint32_t bucket, uint32_t value, uint32_t hash) {
    if (v.empty(bucket)) v.h->occupied++;
    v.set_state(bucket, 0);
    v.value(bucket) = value;
    if (v.has_hashes()) v.hash(bucket) = hash;
    v.h->count++;
}

// Places a key known to be absent (rehashing) in the first free bucket of its probe; returns that bucket.
inline uint32_t place(View& v, uint32_t hash, uint32_t value) {
    uint32_t slot = NO_BUCKET;
    probe(v, hash, [](uint32_t) { return false; }, &slot);
    occupy(v, slot, value, hash);
    return slot;
}

void init_buffer(uint32_t table, uint32_t buckets, uint32_t kind) {
    Series* s = node_series(table);
    clear_flags(View(table).flags, buckets);
    s->tail = s->head + uint32_t(table_bytes(buckets, kind));
}

void set_position(Header* h, uint32_t position, uint32_t bucket);
uint32_t* words_of(uint32_t node);
uint32_t word_count(uint32_t node);

// Re-indexes every live key into a table of `buckets` buckets, in place. Does nothing when the live keys
// would not stay below the new upper bound.
void resize(uint32_t table, uint32_t buckets) {
    View old(table);  // keeps pointing at the old buffer, which stays readable until the next collection
    if (old.h->count >= upper_bound_of(buckets)) return;
    Header saved = *old.h;
    series_grow_buffer(table, table_bytes(buckets, saved.kind));
    View fresh(table);
    *fresh.h = saved;
    fresh.h->bucket_count = buckets;
    fresh.h->upper = uint32_t(double(buckets) * LOAD + 0.5);
    fresh.h->count = 0;
    fresh.h->occupied = 0;
    fresh = View(table);  // the flags and buckets follow the new bucket count
    init_buffer(table, buckets, saved.kind);
    for (uint32_t i = 0; i < saved.bucket_count; i++) {
        if (!old.live(i)) continue;
        uint32_t value = old.value(i);
        const uint32_t* chain = nullptr;
        uint32_t chain_length = 0;
        if (saved.kind == HASH_BLOCK && int32_t(value) < 0) {
            uint32_t node = words_of(saved.chains)[-int32_t(value) - 1];
            chain = words_of(node);
            chain_length = word_count(node);
        }
        uint32_t hash = old.has_hashes() ? old.hash(i) : stored_hash(&saved, chain ? chain[0] : value);
        uint32_t slot = place(fresh, hash, value);
        if (chain) fresh.h->count += chain_length - 1;  // every position of a chain counts as a key
        if (saved.kind == HASH_BLOCK) {
            if (chain) {
                for (uint32_t k = 0; k < chain_length; k++) set_position(fresh.h, chain[k], slot);
            } else {
                set_position(fresh.h, value, slot);
            }
        }
    }
}

// Grows the table when its occupied count has reached the upper bound.
void make_room(uint32_t table) {
    View v(table);
    if (v.h->occupied < v.h->upper) return;
    uint32_t bc = v.h->bucket_count;
    if (v.h->kind == HASH_SYMBOLS) {
        resize(table, next_pow2(uint64_t(bc) * 16));
    } else if (v.h->kind == HASH_MAP || bc <= 2 * v.h->count) {
        resize(table, next_pow2(uint64_t(bc) + 1));
    } else {
        resize(table, bc);  // many deleted buckets: rehash at the same size
    }
}

// --- word arrays (kind 0 bookkeeping)

uint32_t* words_of(uint32_t node) { return reinterpret_cast<uint32_t*>(node_series(node)->head_ptr()); }
uint32_t word_count(uint32_t node) {
    Series* s = node_series(node);
    return (s->tail - s->head) / 4;
}
void word_append(uint32_t node, uint32_t value) {
    uint8_t* at = series_reserve_tail(node, 4);
    std::memcpy(at, &value, 4);
}

void set_position(Header* h, uint32_t position, uint32_t bucket) {
    Series* s = node_series(h->positions);
    uint64_t need = (uint64_t(position) + 1) * 4;
    if (s->head + need > s->size) return;  // grown by the caller before indexing
    words_of(h->positions)[position] = bucket + 1;
    if (s->tail - s->head < need) s->tail = s->head + uint32_t(need);
}

void ensure_positions(uint32_t table, uint32_t position) {
    uint32_t positions = View(table).h->positions;
    Series* s = node_series(positions);
    uint64_t need = (uint64_t(position) + 1) * 4;
    if (s->size - s->head >= need) return;
    uint64_t size = s->size;
    while (size < need) size *= 2;
    series_expand_filled(positions, size, 0xFF);
}

uint32_t position_bucket(uint32_t table, uint32_t position) {
    View v(table);
    Series* s = node_series(v.h->positions);
    if (uint64_t(position) * 4 >= s->tail - s->head) return NO_BUCKET;
    uint32_t b = words_of(v.h->positions)[position];
    return b == 0xFFFFFFFF ? NO_BUCKET : b - 1;
}

}  // namespace

// --- making

uint32_t hashtable_make(uint32_t size, uint32_t block, HashKind kind, uint32_t width) {
    g_mark_hashtable = hashtable_mark;  // the collector reaches tables only through cells of the layers above it
    if (size < 4) size = 4;
    if (kind == HASH_SYMBOLS && size >= 4000) size *= 2;
    uint32_t buckets = next_pow2(uint64_t(std::ceil(double(size) / LOAD)));
    GcRoot keep_block;
    if (block) set_series(keep_block.get(), TYPE_BLOCK, block);
    uint32_t table = series_alloc_bytes(table_bytes(buckets, kind));
    // Held as a map! cell so that marking reaches the table's own series (positions, chains, entries).
    GcRoot keep_table;
    keep_table->header = TYPE_MAP;
    keep_table->w1 = keep_table->w2 = 0;
    keep_table->w3 = table;
    init_buffer(table, buckets, kind);
    {
        View v(table);
        *v.h = Header{};
        v.h->bucket_count = buckets;
        v.h->upper = upper_bound_of(buckets);
        v.h->kind = kind;
        v.h->width = width;
    }
    if (kind == HASH_NODES || kind == HASH_OWNERSHIP) {
        uint32_t entry = (width + 1) * 16;
        uint32_t entries = series_alloc(uint64_t(size) * (width + 1), 16);
        View v(table);
        v.h->entry_size = entry;
        v.h->block = entries;
        return table;
    }
    if (!block) {
        block = series_alloc_cells(size);
        set_series(keep_block.get(), TYPE_BLOCK, block);
    }
    View(table).h->block = block;
    if (kind == HASH_BLOCK) {
        uint32_t positions = series_alloc_bytes_filled(uint64_t(size) * 4, 0xFF);
        View(table).h->positions = positions;
        uint32_t chains = series_alloc_bytes(16);
        View(table).h->chains = chains;
    }
    if (kind != HASH_SYMBOLS) hashtable_index_block(table, 0, kind == HASH_MAP ? 2 : 1);
    return table;
}

uint32_t hashtable_block(uint32_t table) { return View(table).h->block; }
uint32_t hashtable_count(uint32_t table) { return View(table).h->count; }
uint32_t hashtable_bucket_count(uint32_t table) { return View(table).h->bucket_count; }
uint32_t hashtable_upper_bound(uint32_t table) { return View(table).h->upper; }
HashKind hashtable_kind(uint32_t table) { return HashKind(View(table).h->kind); }

// --- cell-keyed tables

namespace {

// Whether two keys may be equal: the same datatype, or in a hash! block two words of the kinds that find takes
// for the same word (word!, set-word!, lit-word!, get-word!, refinement!).
inline bool word_kind(uint32_t t) { return type_in(FAMILY_ANY_WORD, t) || t == TYPE_REFINEMENT; }
inline bool keys_equal(uint32_t kind, const Cell* key, const Cell* other, CompareOp mode) {
    uint32_t a = cell_type(key), b = cell_type(other);
    if (a != b && !(kind == HASH_BLOCK && word_kind(a) && word_kind(b))) return false;
    return compare_values(key, other, mode);
}

}  // namespace

bool hashtable_put(uint32_t table, uint32_t position, CompareOp mode) {
    if (View(table).h->kind == HASH_BLOCK) ensure_positions(table, position);
    make_room(table);
    View v(table);
    const Cell* key = block_cells(v.h->block) + position;
    uint32_t hash = hash_cell(key, false);
    uint32_t chains = v.h->chains;
    uint32_t block = v.h->block;
    uint32_t kind = v.h->kind;
    auto first_position = [&](uint32_t value) {
        if (int32_t(value) >= 0) return value;
        return words_of(words_of(chains)[-int32_t(value) - 1])[0];
    };
    uint32_t slot = NO_BUCKET;
    uint32_t found = probe(
        v, hash, [&](uint32_t value) { return keys_equal(kind, key, block_cells(block) + first_position(value), mode); },
        &slot);
    if (found == NO_BUCKET) {
        occupy(v, slot, position, hash);
        if (kind == HASH_BLOCK) set_position(v.h, position, slot);
        return true;
    }
    if (kind != HASH_BLOCK) return false;
    // An equal key in a hash! block: keep both positions in the bucket's duplicate chain.
    uint32_t value = v.value(found);
    if (int32_t(value) >= 0) {
        uint32_t chain = series_alloc_bytes(16);
        GcRoot keep;
        set_series(keep.get(), TYPE_BINARY, chain);
        word_append(chain, value);
        word_append(chains, chain);
        View(table).value(found) = uint32_t(-int32_t(word_count(chains)));
        value = View(table).value(found);
    }
    word_append(words_of(chains)[-int32_t(value) - 1], position);
    set_position(View(table).h, position, found);
    View(table).h->count++;
    return true;
}

void hashtable_put_absent(uint32_t table, uint32_t position) {
    make_room(table);
    View v(table);
    place(v, hash_cell(block_cells(v.h->block) + position, false), position);
}

void hashtable_index_block(uint32_t table, uint32_t start, uint32_t step) {
    uint32_t block = View(table).h->block;
    if (View(table).h->kind == HASH_SYMBOLS) {
        // Entries of a symbol or word block, all distinct: each goes into the first free bucket.
        for (uint32_t p = start; p < node_series(block)->used(); p += step) {
            make_room(table);
            View v(table);
            place(v, stored_hash(v.h, p), p);
        }
        return;
    }
    for (uint32_t p = start; p < node_series(block)->used(); p += step) hashtable_put(table, p);
}

int32_t hashtable_get(uint32_t table, const Cell* key, CompareOp mode, uint32_t start, bool reverse) {
    View v(table);
    uint32_t block = v.h->block;
    uint32_t chains = v.h->chains;
    uint32_t kind = v.h->kind;
    int32_t answer = -1;
    auto nearer = [&](uint32_t p) {
        if (!reverse && p >= start && (answer < 0 || p < uint32_t(answer))) answer = int32_t(p);
        if (reverse && p <= start && (answer < 0 || p > uint32_t(answer))) answer = int32_t(p);
    };
    probe(
        v, hash_cell(key, false),
        [&](uint32_t value) {
            if (kind == HASH_BLOCK && int32_t(value) < 0) {
                uint32_t chain = words_of(chains)[-int32_t(value) - 1];
                uint32_t* pos = words_of(chain);
                uint32_t n = word_count(chain);
                if (n == 0) return false;
                if (mode == CMP_FIND) {
                    // The chain holds keys equal under find: its first tells for all of them.
                    if (!keys_equal(kind, key, block_cells(block) + pos[0], mode)) return false;
                    for (uint32_t k = 0; k < n; k++) nearer(pos[k]);
                    return true;
                }
                // A stricter lookup (case, sameness) picks among the chain's keys.
                bool any = false;
                for (uint32_t k = 0; k < n; k++) {
                    if (!keys_equal(kind, key, block_cells(block) + pos[k], mode)) continue;
                    any = true;
                    nearer(pos[k]);
                }
                return any;
            }
            if (!keys_equal(kind, key, block_cells(block) + value, mode)) return false;
            if (kind == HASH_BLOCK && (reverse ? value > start : value < start)) return false;
            answer = int32_t(value);
            return true;
        },
        nullptr);
    return answer;
}

void hashtable_delete(uint32_t table, uint32_t position) {
    View v(table);
    uint32_t bucket;
    if (v.h->kind == HASH_BLOCK) {
        bucket = position_bucket(table, position);
        if (bucket == NO_BUCKET) return;
        v = View(table);
        words_of(v.h->positions)[position] = 0xFFFFFFFF;
        uint32_t value = v.value(bucket);
        if (int32_t(value) < 0) {
            uint32_t chain = words_of(v.h->chains)[-int32_t(value) - 1];
            Series* cs = node_series(chain);
            uint32_t* pos = words_of(chain);
            uint32_t n = word_count(chain);
            for (uint32_t k = 0; k < n; k++) {
                if (pos[k] == position) {
                    std::memmove(pos + k, pos + k + 1, (n - k - 1) * 4);
                    cs->tail -= 4;
                    n--;
                    break;
                }
            }
            v.h->count--;
            if (n > 0) return;
            v.set_state(bucket, 1);
            return;
        }
    } else {
        const Cell* key = block_cells(v.h->block) + position;
        bucket = probe(v, hash_cell(key, false), [&](uint32_t value) { return value == position; }, nullptr);
        if (bucket == NO_BUCKET) return;
    }
    v.set_state(bucket, 1);
    v.h->count--;
}

void hashtable_clear(uint32_t table) {
    View v(table);
    clear_flags(v.flags, v.h->bucket_count);
    v.h->count = 0;
    v.h->occupied = 0;
    v.h->removed = 0;
    if (v.h->kind == HASH_BLOCK) {
        Series* p = node_series(v.h->positions);
        std::memset(p->head_ptr(), 0xFF, p->size - p->head);
        p->tail = p->head;
        Series* c = node_series(v.h->chains);
        c->tail = c->head;
    }
}

void hashtable_rebuild(uint32_t table, uint32_t size) {
    uint32_t buckets = next_pow2(uint64_t(double(size) * 1.5));
    hashtable_clear(table);
    // Emptied first, so the resize has no key to carry over.
    if (buckets != View(table).h->bucket_count) resize(table, buckets);
    hashtable_index_block(table, 0, View(table).h->kind == HASH_MAP ? 2 : 1);
}

void hashtable_reserve(uint32_t table, uint32_t more) {
    View v(table);
    uint64_t want = uint64_t(v.h->occupied) + more;
    if (want < v.h->upper) return;
    resize(table, next_pow2(uint64_t(std::ceil(double(want) / LOAD)) + 1));
}

uint32_t hashtable_removed(uint32_t table) { return View(table).h->removed; }
void hashtable_count_removed(uint32_t table, int32_t delta) { View(table).h->removed += uint32_t(delta); }

// --- index upkeep of hash! blocks (kind 0): keys are known by their positions in the block

namespace {

// Moves the keys at positions [lo, hi) to the positions `to(q)` gives (an injection whose targets are
// outside [lo, hi) only where no key is indexed): the buckets of single keys, the duplicate chains and the
// position array follow. Positions left behind are unindexed.
template <typename To>
void remap_positions(uint32_t table, uint32_t lo, uint32_t hi, To to) {
    {
        Series* p = node_series(View(table).h->positions);
        uint32_t indexed = (p->tail - p->head) / 4;
        if (hi > indexed) hi = indexed;
        if (lo >= hi) return;
    }
    uint32_t highest = 0;
    for (uint32_t q = lo; q < hi; q++) highest = std::max(highest, to(q));
    ensure_positions(table, highest);  // may allocate: every address is read after it
    View v(table);
    uint32_t* pos = words_of(v.h->positions);
    std::vector<uint32_t> moved(pos + lo, pos + hi);
    for (uint32_t q = lo; q < hi; q++) {
        uint32_t b = moved[q - lo];
        if (b != 0xFFFFFFFF && int32_t(v.value(b - 1)) >= 0) v.value(b - 1) = to(q);
    }
    for (uint32_t c = 0, n = word_count(v.h->chains); c < n; c++) {
        uint32_t chain = words_of(v.h->chains)[c];
        uint32_t* entry = words_of(chain);
        for (uint32_t k = 0, m = word_count(chain); k < m; k++) {
            if (entry[k] >= lo && entry[k] < hi) entry[k] = to(entry[k]);
        }
    }
    std::memset(pos + lo, 0xFF, size_t(hi - lo) * 4);
    for (uint32_t q = lo; q < hi; q++) {
        if (moved[q - lo] != 0xFFFFFFFF) set_position(v.h, to(q), moved[q - lo] - 1);
    }
}

}  // namespace

void hashtable_delete_range(uint32_t table, uint32_t position, uint32_t count) {
    for (uint64_t p = position; p < uint64_t(position) + count; p++) hashtable_delete(table, uint32_t(p));
}

void hashtable_shift_range(uint32_t table, uint32_t start, int32_t shift) {
    remap_positions(table, start, 0xFFFFFFFF, [&](uint32_t q) { return uint32_t(int64_t(q) + shift); });
}

void hashtable_move(uint32_t table, uint32_t to, uint32_t from, uint32_t count) {
    if (count == 0 || to == from) return;
    if (to < from) {
        // The run goes down to `to`; the keys between move up by its length.
        remap_positions(table, to, from + count, [&](uint32_t q) { return q >= from ? to + (q - from) : q + count; });
    } else {
        // The run ends up starting at `to` (counted once it has left); the keys between move down.
        remap_positions(table, from, to + count, [&](uint32_t q) { return q < from + count ? to + (q - from) : q - count; });
    }
}

uint32_t hashtable_copy(uint32_t table, uint32_t block) {
    GcRoot keep_block;
    set_series(keep_block.get(), TYPE_BLOCK, block);
    uint32_t copy = series_copy_buffer(table);
    GcRoot keep;
    keep->header = TYPE_MAP;  // marks the copy's own series as they are made
    keep->w1 = keep->w2 = 0;
    keep->w3 = copy;
    View(copy).h->block = block;
    if (View(copy).h->kind == HASH_BLOCK) {
        View(copy).h->positions = 0;
        View(copy).h->chains = 0;
        uint32_t positions = series_copy_buffer(View(table).h->positions);
        Series* p = node_series(positions);
        std::memset(p->tail_ptr(), 0xFF, size_t(p->end_ptr() - p->tail_ptr()));  // no position beyond is indexed
        View(copy).h->positions = positions;
        uint32_t chains = series_copy_buffer(View(table).h->chains);
        View(copy).h->chains = chains;
        for (uint32_t c = 0, n = word_count(chains); c < n; c++) {
            uint32_t chain = series_copy_buffer(words_of(View(table).h->chains)[c]);
            words_of(View(copy).h->chains)[c] = chain;
        }
    }
    return copy;
}

// --- node-keyed tables

namespace {

Cell* entry_at(const Header* h, uint32_t offset) {
    return reinterpret_cast<Cell*>(node_series(h->block)->head_ptr() + offset);
}

uint32_t find_node(const View& v, uint32_t node, uint32_t* slot) {
    const Header* h = v.h;
    return probe(v, hash_mix(node), [&](uint32_t off) { return entry_at(h, off)->w1 == node; }, slot);
}

}  // namespace

Cell* hashtable_put_node(uint32_t table, uint32_t node) {
    {
        View v(table);
        uint32_t found = find_node(v, node, nullptr);
        if (found != NO_BUCKET) return entry_at(v.h, v.value(found)) + 1;
    }
    make_room(table);
    View v(table);
    uint32_t slot = NO_BUCKET;
    find_node(v, node, &slot);
    uint32_t offset;
    if (v.deleted(slot)) {
        offset = v.value(slot);  // reuse the entry of the deleted key
    } else {
        Series* entries = node_series(v.h->block);
        offset = entries->tail - entries->head;
        series_reserve_tail(v.h->block, v.h->entry_size);  // no collection can change this table's buckets
        v = View(table);
    }
    occupy(v, slot, offset, 0);
    Cell* e = entry_at(v.h, offset);
    for (uint32_t i = 0; i <= v.h->width; i++) set_unset(e + i);
    e->w1 = node;
    return e + 1;
}

Cell* hashtable_get_node(uint32_t table, uint32_t node) {
    View v(table);
    uint32_t found = find_node(v, node, nullptr);
    return found == NO_BUCKET ? nullptr : entry_at(v.h, v.value(found)) + 1;
}

void hashtable_delete_node(uint32_t table, uint32_t node) {
    View v(table);
    uint32_t found = find_node(v, node, nullptr);
    if (found == NO_BUCKET) return;
    entry_at(v.h, v.value(found))->header = 0;  // marking and sweeping skip it
    v.set_state(found, 1);
    v.h->count--;
}

void hashtable_sweep_nodes(uint32_t table) {
    View v(table);
    for (uint32_t i = 0; i < v.h->bucket_count; i++) {
        if (!v.live(i)) continue;
        Cell* e = entry_at(v.h, v.value(i));
        bool dead = !node_in_use(e->w1) || !series_marked(node_series(e->w1));
        if (!dead && v.h->kind == HASH_OWNERSHIP) {
            uint32_t owner = object_context(e + 1);
            dead = owner && (!node_in_use(owner) || !series_marked(node_series(owner)));
        }
        if (dead) {
            e->header = 0;
            v.set_state(i, 1);
            v.h->count--;
        }
    }
}

// --- symbol and word tables

uint32_t hashtable_put_symbol(uint32_t table, const uint8_t* name, uint32_t length, bool exact) {
    make_room(table);
    View v(table);
    uint32_t block = v.h->block;
    uint32_t hash = hash_name(name, length);
    uint32_t alias = 0;
    uint32_t slot = NO_BUCKET;
    uint32_t found = probe(
        v, hash,
        [&](uint32_t position) {
            uint32_t len;
            const uint8_t* other = symbol_bytes(position + 1, &len);
            if (len != length) return false;
            if (std::memcmp(other, name, length) == 0) return true;
            for (uint32_t i = 0; i < length; i++) {
                if (ascii_lower(other[i]) != ascii_lower(name[i])) return false;
            }
            // The same name in another case: without exact, that symbol is the answer.
            if (!alias) alias = symbol_resolve(position + 1);
            return !exact;
        },
        &slot);
    if (found != NO_BUCKET) {
        uint32_t id = v.value(found) + 1;
        return exact ? id : symbol_resolve(id);
    }
    // A new spelling: its name bytes, then its cell at the end of the symbol block.
    uint32_t bytes = series_alloc_bytes(uint64_t(length) + 1);
    Series* s = node_series(bytes);
    std::memcpy(s->data(), name, length);
    s->data()[length] = 0;
    s->tail = length;
    GcRoot keep;
    set_series(keep.get(), TYPE_BINARY, bytes);
    GcRoot keep_block;
    set_series(keep_block.get(), TYPE_BLOCK, block);
    Cell* cell = series_alloc_tail(block);
    cell->header = TYPE_SYMBOL;
    cell->w1 = alias ? alias : WORD_UNRESOLVED;
    cell->w2 = 0;
    cell->w3 = bytes;
    uint32_t position = node_series(block)->used() - 1;
    View w(table);
    occupy(w, slot, position, hash);
    return position + 1;
}

int32_t hashtable_put_word(uint32_t table, uint32_t symbol, bool case_insensitive, uint32_t context, uint32_t new_index) {
    // A word may be entered: the table makes room first, so the free bucket the probe ends at stays free
    // for it (appending the word to the block does not touch the table).
    if (context) make_room(table);
    View v(table);
    uint32_t block = v.h->block;
    uint32_t canonical = symbol_resolve(symbol);
    uint32_t hash = hash_mix(canonical);
    const Cell* words = block_cells(block);
    uint32_t slot = NO_BUCKET;
    uint32_t found = probe(
        v, hash,
        [&](uint32_t position) {
            uint32_t s = word_symbol(words + position);
            return case_insensitive ? symbol_resolve(s) == canonical : s == symbol;
        },
        &slot);
    if (found != NO_BUCKET) return int32_t(word_index(words + v.value(found)));
    if (!context) return -1;
    GcRoot keep_block;
    set_series(keep_block.get(), TYPE_BLOCK, block);
    uint32_t position = node_series(block)->used();
    Cell* w = series_alloc_tail(block);
    set_word(w, TYPE_WORD, context, symbol, new_index);
    View nv(table);
    occupy(nv, slot, position, hash);
    return -1;
}

Cell* hashtable_word_at(uint32_t table, uint32_t position) { return block_cells(View(table).h->block) + position; }

// --- marking

void hashtable_mark(uint32_t table) {
    if (!table || !gc_mark_series(table)) return;
    View v(table);
    auto buffer = [](uint32_t node) { return node && gc_mark_series(node); };
    switch (v.h->kind) {
        case HASH_BLOCK:
            buffer(v.h->positions);
            if (buffer(v.h->chains)) {
                for (uint32_t i = 0, n = word_count(v.h->chains); i < n; i++) buffer(words_of(v.h->chains)[i]);
            }
            if (v.h->block) gc_mark_block(v.h->block);
            break;
        case HASH_MAP:
        case HASH_SYMBOLS:
            if (v.h->block) gc_mark_block(v.h->block);
            break;
        case HASH_NODES:
        case HASH_OWNERSHIP:
            // The binary writer's reference table and the ownership table keep their keys and values
            // alive; owned series stay until they are unbound.
            if (!buffer(v.h->block)) break;
            for (uint32_t i = 0; i < v.h->bucket_count; i++) {
                if (!v.live(i)) continue;
                Cell* e = entry_at(v.h, v.value(i));
                gc_mark_node(e->w1);
                gc_mark_cells(e + 1, e + 1 + v.h->width);
            }
            break;
    }
}

void hashtable_dump(uint32_t table) {
    View v(table);
    char line[48];
    for (int pass = 0; pass < 2; pass++) {
        console_write_cstr(pass == 0 ? "\n== Deleted keys ==\n" : "== Alive keys ==\n");
        for (uint32_t i = 0; i < v.h->bucket_count; i++) {
            if (pass == 0 ? !v.deleted(i) : !v.live(i)) continue;
            std::snprintf(line, sizeof line, "%u %d\n", i, int32_t(v.value(i)));
            console_write_cstr(line);
        }
    }
}

// --- hash functions

uint32_t hash_murmur3(const uint8_t* bytes, size_t length) {
    return murmur(bytes, length, [](uint8_t b) { return b; });
}

uint32_t hash_mix(uint32_t value) { return fmix(value); }

uint32_t hash_string(const Cell* string, bool case_sensitive) {
    Series* s = cell_series(string);
    uint32_t unit = s->unit();
    const uint8_t* p = s->head_ptr() + uint64_t(series_index(string)) * unit;
    const uint8_t* end = s->tail_ptr();
    uint32_t h = g_hash_seed;
    uint32_t count = 0;
    for (; p < end; p += unit, count++) {
        uint32_t cp = unit == 1 ? *p : unit == 2 ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
        if (!case_sensitive) cp = case_convert_char(cp, true);
        h = murmur_block(h, cp);
    }
    h ^= count * 4;
    return fmix(h);
}

uint32_t hash_cell(const Cell* c, bool case_sensitive) {
    auto words = [c](int first, int n) {
        uint32_t w[3] = {c->w1, c->w2, c->w3};
        return hash_murmur3(reinterpret_cast<const uint8_t*>(w + first - 1), size_t(n) * 4);
    };
    uint32_t t = cell_type(c);
    // Words by their name, whatever their kind; text by its characters; blocks by position and buffer.
    if (type_in(FAMILY_ALL_WORD, t)) return hash_mix(symbol_resolve(word_symbol(c)));
    if (type_in(FAMILY_ANY_STRING, t)) return hash_string(c, case_sensitive);
    if (type_in(FAMILY_ANY_BLOCK, t)) return words(1, 2);
    switch (t) {
        case TYPE_UNSET: return uint32_t(-2);
        case TYPE_NONE: return uint32_t(-1);
        case TYPE_DATATYPE:
        case TYPE_LOGIC:
        case TYPE_OBJECT:
        case TYPE_ERROR:
        case TYPE_PORT: return hash_mix(c->w1);
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_MAP:
        case TYPE_HANDLE:
        case TYPE_EVENT: return hash_mix(c->w2);
        case TYPE_NATIVE:
        case TYPE_ACTION: return hash_mix(c->w3);
        case TYPE_SYMBOL: {
            Series* s = node_series(c->w3);
            return hash_name(s->head_ptr(), s->tail - s->head);
        }
        case TYPE_POINT2D:
        case TYPE_IMAGE: return words(1, 2);
        case TYPE_FLOAT:
        case TYPE_PAIR:
        case TYPE_PERCENT:
        case TYPE_TIME: return words(2, 2);
        case TYPE_OP:
        case TYPE_FUNCTION:
        case TYPE_TRIPLE:
        case TYPE_TYPESET:
        case TYPE_DATE:
        case TYPE_POINT3D:
        case TYPE_MONEY: return words(1, 3);
        case TYPE_TUPLE: {
            uint32_t n = (c->header >> 19) & 0x0F;
            uint32_t w[3] = {c->w1, c->w2, c->w3};
            return hash_murmur3(reinterpret_cast<const uint8_t*>(w), n > 12 ? 12 : n);
        }
        case TYPE_BINARY: {
            Series* s = cell_series(c);
            uint32_t at = series_index(c);
            uint32_t used = s->tail - s->head;
            return hash_murmur3(s->head_ptr() + (at < used ? at : used), at < used ? used - at : 0);
        }
        default: return 0;
    }
}

// --- word map

struct WordMap {
    uint32_t count;
    uint32_t occupied;
    uint32_t bucket_count;
    uint32_t upper;
    uint32_t* flags;
    uint32_t* pairs;  // key, value per bucket
};

namespace {

void wordmap_alloc(WordMap* m, uint32_t buckets) {
    m->bucket_count = buckets;
    m->upper = upper_bound_of(buckets);
    m->count = m->occupied = 0;
    m->flags = static_cast<uint32_t*>(tracked_alloc(size_t(flag_words(buckets)) * 4));
    clear_flags(m->flags, buckets);
    m->pairs = static_cast<uint32_t*>(tracked_alloc(size_t(buckets) * 8));
}

inline uint32_t wm_state(const WordMap* m, uint32_t i) { return bucket_state(m->flags, i); }
inline void wm_set(WordMap* m, uint32_t i, uint32_t s) { set_bucket_state(m->flags, i, s); }

// The bucket holding key, or NO_BUCKET with *slot where it would go.
uint32_t wm_find(const WordMap* m, uint32_t key, uint32_t* slot) {
    return probe_buckets(m->flags, m->bucket_count, hash_mix(key), [&](uint32_t i) { return m->pairs[2 * i] == key; }, slot);
}

void wm_resize(WordMap* m, uint32_t buckets) {
    WordMap old = *m;
    wordmap_alloc(m, buckets);
    for (uint32_t i = 0; i < old.bucket_count; i++) {
        if (wm_state(&old, i) != 0) continue;
        uint32_t slot = NO_BUCKET;
        wm_find(m, old.pairs[2 * i], &slot);
        wm_set(m, slot, 0);
        m->pairs[2 * slot] = old.pairs[2 * i];
        m->pairs[2 * slot + 1] = old.pairs[2 * i + 1];
        m->count++;
        m->occupied++;
    }
    tracked_free(old.flags);
    tracked_free(old.pairs);
}

}  // namespace

WordMap* wordmap_make(uint32_t size) {
    auto* m = static_cast<WordMap*>(tracked_alloc(sizeof(WordMap)));
    wordmap_alloc(m, next_pow2(uint64_t(std::ceil(double(size < 4 ? 4 : size) / LOAD))));
    return m;
}

void wordmap_put(WordMap* m, uint32_t key, uint32_t value) {
    uint32_t found = wm_find(m, key, nullptr);
    if (found != NO_BUCKET) {
        m->pairs[2 * found + 1] = value;
        return;
    }
    if (m->occupied >= m->upper) {
        wm_resize(m, m->bucket_count > 2 * m->count ? m->bucket_count : next_pow2(uint64_t(m->bucket_count) + 1));
    }
    uint32_t slot = NO_BUCKET;
    wm_find(m, key, &slot);
    if (wm_state(m, slot) & 2) m->occupied++;
    wm_set(m, slot, 0);
    m->pairs[2 * slot] = key;
    m->pairs[2 * slot + 1] = value;
    m->count++;
}

uint32_t* wordmap_get(WordMap* m, uint32_t key) {
    uint32_t found = wm_find(m, key, nullptr);
    return found == NO_BUCKET ? nullptr : &m->pairs[2 * found + 1];
}

void wordmap_delete(WordMap* m, uint32_t key) {
    uint32_t found = wm_find(m, key, nullptr);
    if (found == NO_BUCKET) return;
    wm_set(m, found, 1);
    m->count--;
}

void wordmap_clear(WordMap* m) {
    clear_flags(m->flags, m->bucket_count);
    m->count = m->occupied = 0;
}

uint32_t* wordmap_next(WordMap* m, uint32_t* previous) {
    uint32_t i = previous ? uint32_t((previous - m->pairs) / 2) + 1 : 0;
    for (; i < m->bucket_count; i++) {
        if (wm_state(m, i) == 0) return &m->pairs[2 * i + 1];
    }
    return nullptr;
}

uint32_t wordmap_count(const WordMap* m) { return m->count; }
uint32_t wordmap_bucket_count(const WordMap* m) { return m->bucket_count; }

void wordmap_free(WordMap* m) {
    tracked_free(m->flags);
    tracked_free(m->pairs);
    tracked_free(m);
}

}  // namespace zol
