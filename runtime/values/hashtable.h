// Hash tables: one open-addressing engine for five kinds of index.
//
// A table is one byte series: a header, a flags array (2 bits per bucket: bit 1 empty, bit 0 deleted) and a
// bucket array (one 32-bit word per bucket). The keys are never copied into the table: a cell-keyed table
// stores positions into its block (hash! keys, map! key/value pairs, symbols, the words of a context); a
// node-keyed table stores the byte offset of an entry (a key cell and `width` value cells) in its entry
// series. Bucket counts are powers of two; probing is triangular (i, i+1, i+3, i+6 ...).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/types.h"

namespace zol {

enum HashKind : uint32_t {
    HASH_BLOCK = 0,      // hash! keys: duplicates allowed, each key's bucket recorded by position
    HASH_MAP = 1,        // map! keys at even positions of a key/value block
    HASH_SYMBOLS = 2,    // the symbol table (width 1) and the word tables of contexts (width 2)
    HASH_NODES = 3,      // temporary table keyed by node
    HASH_OWNERSHIP = 4,  // the ownership table, keyed by node
};

// Makes a table for about `size` keys. With a block (kinds 0 to 2) every key of the block is indexed;
// without one a new block (or entry series) is made. Returns the table's node.
uint32_t hashtable_make(uint32_t size, uint32_t block, HashKind kind, uint32_t width);
// Marks the table's buffers and what it keeps alive (the collector calls it for cells that hold a table).
void hashtable_mark(uint32_t table);
uint32_t hashtable_block(uint32_t table);
uint32_t hashtable_count(uint32_t table);
uint32_t hashtable_bucket_count(uint32_t table);
uint32_t hashtable_upper_bound(uint32_t table);
HashKind hashtable_kind(uint32_t table);

// --- cell-keyed tables (kinds 0 and 1): keys live in the table's block
// Indexes the key at a position of the block. Kind 0 keeps equal keys (duplicate chains); kind 1 keeps
// the first. Returns false when an equal key was already indexed (kind 1).
bool hashtable_put(uint32_t table, uint32_t position, CompareOp mode = CMP_FIND);
// Indexes a map! key known to have no equal key indexed (a lookup just missed it), without comparing keys.
void hashtable_put_absent(uint32_t table, uint32_t position);
// Indexes the keys of the block from a position on, every step cells (1 for hash!, 2 for map!). For a
// word or symbol table, indexes the entries already in its block.
void hashtable_index_block(uint32_t table, uint32_t start, uint32_t step);
// Position of a key equal to `key` (of the same datatype, equal under mode), or -1. For kind 0 with
// equal keys, the lowest position at or after `start` (the highest at or before it when reverse).
int32_t hashtable_get(uint32_t table, const Cell* key, CompareOp mode = CMP_FIND, uint32_t start = 0, bool reverse = false);
// Removes the key at a position from the index.
void hashtable_delete(uint32_t table, uint32_t position);
void hashtable_clear(uint32_t table);
// Rebuilds the index of the whole block with room for `size` keys.
void hashtable_rebuild(uint32_t table, uint32_t size);
// Grows the table at once to take `more` new keys without growing again (a loader that knows how many
// keys are coming).
void hashtable_reserve(uint32_t table, uint32_t more);

// map!: a removed pair keeps its key indexed, so that setting the key again revives the pair; the table
// counts such keys apart (the map's length is the count less them).
uint32_t hashtable_removed(uint32_t table);
void hashtable_count_removed(uint32_t table, int32_t delta);

// Index upkeep of a hash! block (kind 0) whose cells moved. The block has already changed; keys are known by
// their positions, so no key is read or hashed again.
// Drops the keys at positions [position, position + count).
void hashtable_delete_range(uint32_t table, uint32_t position, uint32_t count);
// Moves the keys at positions from `start` on by `shift` (the positions they leave, or land over, hold no
// indexed key).
void hashtable_shift_range(uint32_t table, uint32_t start, int32_t shift);
// The keys of a run of count positions moved from `from` to `to` (where the run starts once moved), and the
// keys between slid the other way.
void hashtable_move(uint32_t table, uint32_t to, uint32_t from, uint32_t count);
// A copy of the table over another block holding the same keys at the same positions; returns its node.
uint32_t hashtable_copy(uint32_t table, uint32_t block);

// --- node-keyed tables (kinds 3 and 4)
// The entry's first value cell, adding the entry (values unset) when the node has none. The returned
// pointer is good until the next put.
Cell* hashtable_put_node(uint32_t table, uint32_t node);
Cell* hashtable_get_node(uint32_t table, uint32_t node);
void hashtable_delete_node(uint32_t table, uint32_t node);
// After marking: deletes every entry whose key (or, in the ownership table, whose owner) died.
void hashtable_sweep_nodes(uint32_t table);

// --- symbol and word tables (kind 2)
// The id of the symbol named by the UTF-8 bytes, entering it in the symbol block when absent. Names match
// without regard to ASCII case, or byte for byte with exact; a new spelling's alias is the canonical id
// of the name it matches without case.
uint32_t hashtable_put_symbol(uint32_t table, const uint8_t* name, uint32_t length, bool exact);
// The slot index of the word with this symbol in a context's word table (matched by canonical symbol
// when case_insensitive, else by symbol id), or -1. When absent and a context is given, a word cell bound
// to that context with the slot index new_index is appended to the word block (still answering -1).
int32_t hashtable_put_word(uint32_t table, uint32_t symbol, bool case_insensitive, uint32_t context, uint32_t new_index);
// The word cell at a position of a word table's block.
Cell* hashtable_word_at(uint32_t table, uint32_t position);

// Debug listing on standard output: the deleted buckets, then the live ones, one line each (bucket and
// stored value).
void hashtable_dump(uint32_t table);

// --- hash functions
uint32_t hash_murmur3(const uint8_t* bytes, size_t length);
uint32_t hash_mix(uint32_t value);
// Over the code points from the head: the same text hashes alike in 1-, 2- and 4-byte units; without
// case_sensitive each code point is first folded to upper case, as comparison folds it.
uint32_t hash_string(const Cell* string, bool case_sensitive);
uint32_t hash_cell(const Cell* cell, bool case_sensitive);

// --- word map: 32-bit keys to 32-bit values, on the tracked heap
struct WordMap;
WordMap* wordmap_make(uint32_t size);
void wordmap_put(WordMap* map, uint32_t key, uint32_t value);
uint32_t* wordmap_get(WordMap* map, uint32_t key);
void wordmap_delete(WordMap* map, uint32_t key);
void wordmap_clear(WordMap* map);
// Walks the live pairs: pass null first, then the previous answer; null at the end.
uint32_t* wordmap_next(WordMap* map, uint32_t* previous);
uint32_t wordmap_count(const WordMap* map);
uint32_t wordmap_bucket_count(const WordMap* map);
void wordmap_free(WordMap* map);

}  // namespace zol
