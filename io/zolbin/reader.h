// The Zolbin reader's shared part: the cursor over the body with its bounds checks, the symbol table, the
// slots that decoded values go into, and the builders both encodings use to make values, contexts and
// references. read_compact.cpp and read_standard.cpp parse the records of their encoding with these.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "runtime/datatypes/context.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "io/zolbin/zolbin.h"

namespace zol::zolbin {

// Where a decoded value goes: cell `index` of the series `node`. The cell is read again through the node
// each time, so a slot stays good across allocations (a block that grows gets a new buffer, not a new node).
// An appended slot is the last cell of its block, added for this record: only there may a record remove
// itself (a "set" record) or add a cell after it (a native's spec in boot mode).
struct Slot {
    uint32_t node;
    uint32_t index;
    bool appended;
    Cell* cell() const { return node_series(node)->cells() + index; }
};

// Appends an unset cell to a block's series and returns its slot. Allocates.
Slot slot_append(uint32_t node);
// A new block series of count unset cells (room for one at least), which records then fill in place.
uint32_t new_filled_cells(uint32_t count);
inline Slot slot_at(uint32_t node, uint32_t index) { return Slot{node, index, false}; }

struct Reader {
    const uint8_t* data = nullptr;  // the bytes handed to the loader: error offsets count from here
    const uint8_t* body = nullptr;  // the body's first byte (in the data, or in the decompressed buffer)
    size_t body_offset = 8;         // the body's offset in the numbering of error offsets
    const uint8_t* p = nullptr;     // the next byte to read
    const uint8_t* end = nullptr;   // the end of the body
    bool codec = true;
    const Cell* payload = nullptr;  // what invalid-data names
    uint32_t root = 0;       // the destination block, where reference paths start
    uint32_t root_base = 0;  // its cell index of this load's first root value
    uint32_t depth = 0;
    // Cells the containers may still ask for: the records' size at the start. Each cell a container holds
    // is filled by a record of its own, at least a byte long, so a sound image never runs out; nested
    // containers that each claim what is left of the input do, long before they add up to gigabytes.
    uint64_t cell_budget = 0;

    // The symbol table: count offsets (32-bit little-endian) into the strings area.
    bool has_symbols = false;
    uint32_t symbol_count = 0;
    const uint8_t* offsets = nullptr;
    const uint8_t* strings = nullptr;
    uint32_t strings_size = 0;
    bool offsets_padded = false;       // standard encoding: names padded with zeros after their NUL
    std::vector<uint32_t> symbols;      // symbol ids, made on first use (0 until then)
    std::vector<uint32_t> global_slots; // global slot of each symbol index + 1 (0 until known)

    // Takes the symbol table's count (its offsets and strings already taken) and readies the per-symbol
    // tables; a boot image's symbols nearly all become global words, so room for them is made at once.
    void start_symbols(uint32_t count);
    // Raises zb-invalid-record naming the 1-based offset of the position.
    [[noreturn]] void fail(const uint8_t* at) const;
    size_t remaining() const { return size_t(end - p); }
    uint8_t byte() {
        if (p >= end) fail(p);
        return *p++;
    }
    // Whole fields: their bytes must lie before the end.
    const uint8_t* take(size_t n) {
        if (n > remaining()) fail(p);
        const uint8_t* at = p;
        p += n;
        return at;
    }
    uint32_t u32() {
        const uint8_t* b = take(4);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    // Unsigned LEB128 of at most 32 bits: five bytes at most, the fifth below 0x10.
    uint32_t varint() {
        const uint8_t* at = p;
        uint32_t value = 0;
        for (uint32_t shift = 0;; shift += 7) {
            uint8_t b = byte();
            if (shift == 28 && b > 0x0F) fail(at);
            value |= uint32_t(b & 0x7F) << shift;
            if (!(b & 0x80)) return value;
        }
    }
    int32_t svarint() {
        uint32_t u = varint();
        return int32_t((u >> 1) ^ (0u - (u & 1)));
    }
    // A count of things that each take at least `least` bytes: larger than what is left cannot be right,
    // and is refused before anything is allocated for it.
    uint32_t check_count(uint64_t count, const uint8_t* at, uint32_t least = 1) const {
        if (count > remaining() / least) fail(at);
        return uint32_t(count);
    }

    // A count of cells a container is made with: checked as above, and taken from the cell budget.
    uint32_t claim_cells(uint64_t count, const uint8_t* at, uint32_t least = 1) {
        check_count(count, at, least);
        if (count > cell_budget) fail(at);
        cell_budget -= count;
        return uint32_t(count);
    }

    // The symbol of a symbol index (made from its name on first use).
    uint32_t symbol(uint32_t index, const uint8_t* at) {
        if (index < symbols.size() && symbols[index]) return symbols[index];
        return make_symbol(index, at);
    }
    uint32_t make_symbol(uint32_t index, const uint8_t* at);
    // Nesting guard: each record read counts one level while it is read.
    void enter(const uint8_t* at) {
        if (++depth > ZOLBIN_MAX_DEPTH) too_deep(at);
        stack_check_native();
    }
    [[noreturn]] void too_deep(const uint8_t* at);
    void leave() { depth--; }
};

struct Depth {
    Reader& r;
    Depth(Reader& reader, const uint8_t* at) : r(reader) { r.enter(at); }
    ~Depth() { r.leave(); }
};

// Records and their parsers per encoding.
void read_compact_body(Reader& r);
void read_standard_body(Reader& r);
void read_compact(Reader& r, Slot slot);
void read_standard(Reader& r, Slot slot);

// --- builders shared by both encodings (each may allocate)

// What a datatype id is in a record: whether it has one (or raises no-codec), and which marks it may carry.
struct IdInfo {
    bool record;      // a record of this id can be read
    bool no_codec;    // a datatype without a record: reading one raises no-codec
    bool referable;   // may stand behind a reference mark (a series, a context's owner, a bound word)
    bool settable;    // may stand behind a "set" mark (word kinds and issue!)
    bool flag;        // the compact lead byte's bit 6 means something for it
};
constexpr IdInfo id_info(uint32_t id) {
    IdInfo i{};
    if (id == TYPE_ROUTINE || id == TYPE_TRIPLE || id == TYPE_HANDLE || id == TYPE_PORT || id == TYPE_EVENT) {
        i.no_codec = true;
        return i;
    }
    i.record = id >= 1 && id <= TYPE_MAX && id != TYPE_SYMBOL && id != TYPE_SERIES;
    bool word = id >= TYPE_WORD && id <= TYPE_REFINEMENT;
    i.referable = type_in(FAMILY_ANY_BLOCK | FAMILY_ANY_STRING, id) || word || id == TYPE_MAP || id == TYPE_BINARY ||
                  id == TYPE_VECTOR || id == TYPE_BITSET || id == TYPE_IMAGE || id == TYPE_OBJECT || id == TYPE_FUNCTION;
    i.settable = word || id == TYPE_ISSUE;
    i.flag = type_in(FAMILY_ANY_BLOCK | FAMILY_ANY_STRING, id) || word || id == TYPE_FLOAT || id == TYPE_TIME ||
             id == TYPE_PERCENT || id == TYPE_DATE || id == TYPE_TUPLE || id == TYPE_MONEY || id == TYPE_BINARY ||
             id == TYPE_VECTOR || id == TYPE_BITSET || id == TYPE_IMAGE || id == TYPE_OBJECT;
    return i;
}
struct IdTable {
    IdInfo ids[64];
    constexpr IdTable() : ids() {
        for (uint32_t id = 0; id < 64; id++) ids[id] = id_info(id);
    }
};
inline constexpr IdTable kIds{};
inline IdInfo ids(uint32_t id) { return id < 64 ? kIds.ids[id] : IdInfo{}; }
// Raises no-codec for the datatypes that have no record.
[[noreturn]] void fire_no_codec(uint32_t id);

// A head index no series of units of this size can reach is refused.
void check_head(Reader& r, uint64_t head, uint32_t unit, const uint8_t* at);
// A new cell series with room for count cells (at least one).
uint32_t new_cells(uint32_t count);
// The slot becomes a value of the byte series type made from count units of unit bytes (validated by the
// caller). vector! takes its element type in word 3.
void make_bytes(Slot slot, uint32_t type, uint32_t head, uint32_t unit, const uint8_t* bytes, uint32_t count, uint32_t w3);
void make_bitset(Slot slot, bool negated, const uint8_t* bytes, uint32_t count);
// Whether a vector's element type and unit size go together.
bool vector_shape_valid(uint32_t element_type, uint32_t unit);
// After a hash!'s cells are read: its index.
void finish_hash(Slot slot);
// A map! with an empty index and room for count cells; once its cells are read, its keys must be of key
// types (word kinds become set-words as a map stores them) and distinct, and are indexed.
void begin_map(Slot slot, uint32_t count);
void finish_map(Reader& r, Slot slot, const uint8_t* at);
// Scalars with invariants of their own.
void make_date(Reader& r, Slot slot, uint32_t packed, uint32_t time_low, uint32_t time_high, const uint8_t* at);
void make_money(Reader& r, Slot slot, bool negative, const uint8_t* payload, const uint8_t* at);
void make_datatype(Reader& r, Slot slot, uint32_t id, const uint8_t* at);

// Words: the slot becomes a word of the type and symbol bound to the global context (an issue! is never
// bound). Most words of an image are global and met many times: their slot is looked up once per symbol.
void make_issue(Reader& r, Slot slot, uint32_t symbol_index, const uint8_t* at);
uint32_t global_slot(Reader& r, uint32_t symbol_index, const uint8_t* at);
inline void make_global_word(Reader& r, Slot slot, uint32_t type, uint32_t symbol_index, const uint8_t* at) {
    if (type == TYPE_ISSUE) return make_issue(r, slot, symbol_index, at);
    uint32_t known = symbol_index < r.global_slots.size() ? r.global_slots[symbol_index] : 0;
    if (!known) known = global_slot(r, symbol_index, at);
    set_word(slot.cell(), TypeId(type), g_global_context, r.symbols[symbol_index], known - 1);
}
// A word bound to a context at an index (-1: unresolved); the index must name one of its words.
void make_bound_word(Reader& r, Slot slot, uint32_t type, uint32_t symbol, uint32_t context, int32_t index,
                     const uint8_t* at);
// Boot mode: the context of the root value at a root index (an object).
uint32_t root_context(Reader& r, uint32_t root_index, const uint8_t* at);
// Boot mode "set" record: the word in the slot is set to the value in the slot after it, and both (with
// anything the value added) are removed again.
void finish_set(Slot word_slot);

// Contexts: made from their words before their values are read. The words are added through `next_symbol`,
// which reads one symbol reference each call; holder (a rooted cell) keeps the context alive meanwhile.
struct ContextHeader {
    uint32_t kind;
    bool stack;
    bool flag;
    bool values;
    uint32_t count;
};
template <typename NextSymbol>
uint32_t make_context(Reader& r, const ContextHeader& h, const uint8_t* at, Cell* holder, NextSymbol next_symbol);
uint32_t context_begin(const ContextHeader& h);
void context_add(Reader& r, uint32_t context, uint32_t symbol, uint32_t position, const uint8_t* at);

// What a context-owning record is read for: a value of its own (the slot receives the object or function),
// or the owner of a word that came first (the slot receives that word, bound to the new context).
struct OwnerOf {
    bool word = false;
    uint32_t type = 0;    // the word's datatype
    uint32_t symbol = 0;
    int32_t index = -1;
};
// The slot receives the object over the context, or the word bound to it.
void attach_object(Reader& r, Slot slot, const OwnerOf& owner, uint32_t context, uint32_t class_id, const uint8_t* at);
// Once its values are read: an object that had change handlers gets them back.
void finish_object(Reader& r, Slot slot, const OwnerOf& owner, bool events, const uint8_t* at);
// A function over a (stack) context: its spec and body blocks are made empty with the given capacities;
// the slot receives the function or the bound word. Returns the function cell's spec and body nodes.
void attach_function(Reader& r, Slot slot, const OwnerOf& owner, uint32_t context, uint32_t spec_capacity,
                     uint32_t body_capacity, uint32_t* spec_node, uint32_t* body_node, const uint8_t* at);
// A function's spec or body given by a reference takes that block's buffer.
void function_take_block(Slot slot, const OwnerOf& owner, uint32_t context, bool body, const Cell* block);
// Once the spec is read: the context's words must be those of the spec.
void check_function_words(Reader& r, uint32_t context, uint32_t spec_node, const uint8_t* at);
// The function (or op!) value a word's or function's context belongs to.
Cell function_of_context(uint32_t context);

// native!, action!: the index must name an entry; the spec was read into the cell given.
void make_native(Reader& r, Slot slot, uint32_t type, uint32_t index, const Cell* spec, const uint8_t* at);
// Where a native's spec is read: after it in the root block in boot mode, else a temporary block.
Slot native_spec_slot(Reader& r, Slot native_slot, Cell* holder);
// op!: the slot holds the wrapped value, read; it becomes the operator.
void make_op(Reader& r, Slot slot, const uint8_t* at);
// error!: a new error of the code in the slot; its fields 3 to 8 are then read into the slots this gives.
void make_error(Reader& r, Slot slot, uint32_t code, const uint8_t* at);
Slot error_field_slot(Slot error_slot, uint32_t field);
// A context value's slot (in place: the values series already holds one cell per word).
Slot context_value_slot(uint32_t context, uint32_t index);

// --- references: a path of indices from the destination block
// Follows the path (count indices read through `next`) and returns a copy of the cell reached.
template <typename Next>
Cell resolve_path(Reader& r, uint32_t count, const uint8_t* at, Next next);
Cell path_step(Reader& r, const Cell& current, uint32_t index, bool first, const uint8_t* at);
// The slot becomes what a reference record of the type (and head index, for series) stands for.
void take_reference(Reader& r, Slot slot, uint32_t type, uint32_t head, const Cell& reached, const uint8_t* at);
// A block! over the cells a reference for a function's spec or body reaches.
Cell reference_block(Reader& r, const Cell& reached, const uint8_t* at);
// The context a reference for a bound word reaches.
uint32_t reference_context(Reader& r, const Cell& reached, const uint8_t* at);

template <typename NextSymbol>
uint32_t make_context(Reader& r, const ContextHeader& h, const uint8_t* at, Cell* holder, NextSymbol next_symbol) {
    uint32_t context = context_begin(h);
    *holder = context_holder(context);
    for (uint32_t i = 0; i < h.count; i++) context_add(r, context, next_symbol(), i, at);
    return context;
}

template <typename Next>
Cell resolve_path(Reader& r, uint32_t count, const uint8_t* at, Next next) {
    if (count < 1 || count > 65536) r.fail(at);
    Cell current{};
    for (uint32_t k = 0; k < count; k++) current = path_step(r, current, next(), k == 0, at);
    return current;
}

}  // namespace zol::zolbin
