// hash! values: the index upkeep that the block and series actions call after changing a hash!'s cells,
// and the actions hash! has of its own (make, to, mold, copy); the rest are block!'s.
#include "hash.h"

#include "block.h"
#include "registry.h"
#include "series.h"
#include "string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/values/hashtable.h"

namespace zol {

void hash_upkeep(const Cell* series, HashEdit edit, uint32_t index, uint64_t count) {
    series_changed(cell_series(series));  // any block: its decoded form goes
    // Only a hash!'s own index: the symbol table's block is held as a hash! cell too, over a table of symbols.
    if (!cell_is(series, TYPE_HASH) || !series->w3 || hashtable_kind(series->w3) != HASH_BLOCK) return;
    GcRoot keep(*series);
    uint32_t table = series->w3;
    uint32_t n = uint32_t(count);
    switch (edit) {
        case HashEdit::inserted:
            hashtable_shift_range(table, index, int32_t(n));
            for (uint32_t p = index; p < index + n; p++) hashtable_put(table, p);
            break;
        case HashEdit::removed:
            if (series_buffer_length(keep.get()) == 0) {
                hashtable_clear(table);
                break;
            }
            hashtable_delete_range(table, index, n);
            hashtable_shift_range(table, index + n, -int32_t(n));
            break;
        case HashEdit::replaced:
            hashtable_delete_range(table, index, n);
            for (uint32_t p = index; p < index + n; p++) hashtable_put(table, p);
            break;
        case HashEdit::rebuilt: hashtable_rebuild(table, series_buffer_length(keep.get())); break;
    }
}

void hash_upkeep_change(const Cell* series, uint32_t index, uint32_t replaced, uint32_t written) {
    series_changed(cell_series(series));  // any block: its decoded form goes
    if (!cell_is(series, TYPE_HASH) || !series->w3 || hashtable_kind(series->w3) != HASH_BLOCK) return;
    GcRoot keep(*series);
    uint32_t table = series->w3;
    // Every old key of the changed range leaves first, so that no entry names a cell whose content changed
    // while the new keys are put.
    hashtable_delete_range(table, index, replaced);
    if (written != replaced) hashtable_shift_range(table, index + replaced, int32_t(written) - int32_t(replaced));
    for (uint32_t p = index; p < index + written; p++) hashtable_put(table, p);
}

void hash_upkeep_swap(const Cell* series, uint32_t i, uint32_t j) {
    series_changed(cell_series(series));  // any block: its decoded form goes
    if (!cell_is(series, TYPE_HASH) || !series->w3 || hashtable_kind(series->w3) != HASH_BLOCK) return;
    // Both keys leave before either comes back: a key is put by comparing it with the cells the index names.
    GcRoot keep(*series);
    hashtable_delete(series->w3, i);
    hashtable_delete(series->w3, j);
    hashtable_put(keep->w3, i);
    if (j != i) hashtable_put(keep->w3, j);
}

void hash_upkeep_move(const Cell* series, uint32_t to, uint32_t from, uint32_t count) {
    series_changed(cell_series(series));  // any block: its decoded form goes
    if (cell_is(series, TYPE_HASH) && series->w3 && hashtable_kind(series->w3) == HASH_BLOCK) {
        hashtable_move(series->w3, to, from, count);
    }
}

void hash_index(Cell* value) {
    value->w3 = 0;
    uint32_t table = hashtable_make(series_buffer_length(value), series_node(value), HASH_BLOCK, 1);
    value->w3 = table;
}

int32_t hash_find_position(const Cell* series, const Cell* value, CompareOp mode, uint32_t start, bool reverse) {
    return hashtable_get(series->w3, value, mode, start, reverse);
}

namespace {

// A block made by block!'s make or to (pushed on the argument stack) becomes a hash! with its index.
const Cell* indexed(Cell* block) {
    block->header = (block->header & HDR_NEW_LINE) | TYPE_HASH;
    hash_index(block);
    return block;
}

const Cell* hash_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* kind) {
    GcRoot source(*value), copy;
    g_types.get<ACT_COPY>(TYPE_BLOCK)(source.get(), copy.get(), part, deep, kind);
    copy->header = (copy->header & HDR_NEW_LINE) | TYPE_HASH;
    copy->w3 = 0;
    bool whole = series_index(source.get()) == 0 && !part && !deep && !kind && source->w3;
    if (whole) {
        copy->w3 = hashtable_copy(source->w3, series_node(copy.get()));
    } else {
        hash_index(copy.get());
    }
    *result = *copy;
    return result;
}

const Cell* hash_make(Cell* proto, Cell* spec, TypeId) {
    switch (cell_type(spec)) {
        case TYPE_HASH: {
            Cell* out = stack_push_cell();
            return hash_copy(spec, out, nullptr, false, nullptr);
        }
        case TYPE_INTEGER:
        case TYPE_FLOAT: return indexed(const_cast<Cell*>(g_types.get<ACT_MAKE>(TYPE_BLOCK)(proto, spec, TYPE_BLOCK)));
        default: return indexed(const_cast<Cell*>(g_types.get<ACT_TO>(TYPE_BLOCK)(proto, spec, TYPE_BLOCK)));
    }
}

const Cell* hash_to(Cell* proto, Cell* spec, TypeId type) {
    if (cell_is(spec, TYPE_INTEGER) || cell_is(spec, TYPE_FLOAT)) {
        return indexed(const_cast<Cell*>(g_types.get<ACT_TO>(TYPE_BLOCK)(proto, spec, TYPE_BLOCK)));
    }
    return hash_make(proto, spec, type);
}

int hash_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (!args.only) {
        string_append_ascii(out, "make hash! ");
        budget -= 11;
    }
    MoldArgs block = args;
    block.only = false;
    return g_types.get<ACT_MOLD>(TYPE_BLOCK)(value, out, block, budget);
}

}  // namespace

void hash_init(DatatypeRegistry& registry) {
    Registration r(TYPE_HASH, true);
    r.own<ACT_MAKE>(hash_make).own<ACT_TO>(hash_to).own<ACT_MOLD>(hash_mold).own<ACT_COPY>(hash_copy);
    for (Action a : {ACT_RANDOM, ACT_SET_PATH, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE, ACT_MULTIPLY, ACT_NEGATE, ACT_POWER,
                     ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q, ACT_AND_T, ACT_COMPLEMENT,
                     ACT_OR_T, ACT_XOR_T, ACT_CREATE, ACT_CLOSE, ACT_DELETE, ACT_OPEN, ACT_OPEN_Q, ACT_QUERY,
                     ACT_READ, ACT_RENAME, ACT_UPDATE, ACT_WRITE}) {
        r.unsupported(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
