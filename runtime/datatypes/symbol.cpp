// The symbol table and the symbol! datatype.
#include "symbol.h"

#include <cstring>

#include "registry.h"
#include "runtime/gc.h"
#include "runtime/values/hashtable.h"
#include "runtime/casefold.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zol {

Cell g_symbols;

namespace {
// Room for the predefined words and a small script; a boot image reserves room for its own symbols.
constexpr uint32_t FIRST_SYMBOLS = 1000;
}

void symbol_block_init() {
    g_symbols.header = TYPE_HASH;  // marked as a block with its index
    g_symbols.w1 = 0;
    g_symbols.w2 = series_alloc_cells(FIRST_SYMBOLS);
    g_symbols.w3 = 0;
    gc_register_root(&g_symbols);
    // The root block holds the symbol block too, as every runtime table starts there.
    Cell block;
    set_series(&block, TYPE_BLOCK, g_symbols.w2);
    *root_block_append() = block;
}

void symbol_index_init() { g_symbols.w3 = hashtable_make(FIRST_SYMBOLS, g_symbols.w2, HASH_SYMBOLS, 1); }

void symbol_reserve(uint32_t more) {
    hashtable_reserve(g_symbols.w3, more);
    series_reserve_cells(g_symbols.w2, more);
}

uint32_t symbol_make_len(const uint8_t* name, uint32_t length, bool exact) {
    return hashtable_put_symbol(g_symbols.w3, name, length, exact);
}

uint32_t symbol_make(const char* name) {
    return symbol_make_len(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), false);
}

uint32_t symbol_make_flagged(const char* name) {
    return symbol_make_len(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), true);
}

uint32_t symbol_from_string(Cell* string) {
    int32_t length = -1;
    const uint8_t* text = string_to_utf8(string, &length);
    return symbol_make_len(text, uint32_t(length), false);
}

Cell* symbol_get(uint32_t id) {
    if (!symbol_cell(id)->w2) {
        uint32_t length;
        symbol_bytes(id, &length);
        // Read the bytes again after allocating: the symbol block does not move, its name buffer neither.
        uint32_t name = unicode_load_utf8_new(symbol_bytes(id, &length), length);
        symbol_cell(id)->w2 = name;
    }
    return symbol_cell(id);
}


uint32_t symbol_count() { return node_series(g_symbols.w2)->used(); }


const char* symbol_c_string(uint32_t id) {
    uint32_t length;
    return reinterpret_cast<const char*>(symbol_bytes(id, &length));
}

int32_t symbol_alias(uint32_t id) { return int32_t(symbol_cell(id)->w1); }

namespace {

// Orders two UTF-8 names code point by code point.
int compare_text(const uint8_t* pa, uint32_t la, const uint8_t* pb, uint32_t lb, bool case_sensitive) {
    const uint8_t *ea = pa + la, *eb = pb + lb;
    while (pa < ea && pb < eb) {
        int32_t ca, cb;
        const uint8_t* na = utf8_decode_char(pa, ea, &ca);
        const uint8_t* nb = utf8_decode_char(pb, eb, &cb);
        pa = na > pa ? na : pa + 1;  // a refused byte still moves the walk on
        pb = nb > pb ? nb : pb + 1;
        if (!case_sensitive) {
            ca = int32_t(case_convert_char(uint32_t(ca), true));
            cb = int32_t(case_convert_char(uint32_t(cb), true));
        }
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return (pa < ea) - (pb < eb);
}

const uint8_t* name_of(const Cell* symbol, uint32_t* length) {
    Series* s = node_series(symbol->w3);
    *length = s->tail - s->head;
    return s->head_ptr();
}

// symbol! answers compare only: its names compared as text.
int symbol_compare(const Cell* value, const Cell* other, CompareOp op) {
    if (!cell_is(other, TYPE_SYMBOL)) return COMPARE_INCOMPARABLE;
    uint32_t la, lb;
    const uint8_t* a = name_of(value, &la);
    const uint8_t* b = name_of(other, &lb);
    bool strict = op == CMP_STRICT_EQUAL || op == CMP_CASE_SORT || op == CMP_SAME;
    return compare_text(a, la, b, lb, strict);
}

}  // namespace

int symbol_compare_names(uint32_t a, uint32_t b, bool case_sensitive) {
    uint32_t la, lb;
    const uint8_t* pa = symbol_bytes(a, &la);
    const uint8_t* pb = symbol_bytes(b, &lb);
    return compare_text(pa, la, pb, lb, case_sensitive);
}

void symbol_init(DatatypeRegistry& registry) {
    Registration r(TYPE_SYMBOL);
    r.own<ACT_COMPARE>(symbol_compare);
    registry.register_datatype(r);
}

}  // namespace zol
