// map! values: the maker.
#include "map.h"

#include "runtime/gc.h"
#include "runtime/values/hashtable.h"
#include "runtime/memory.h"
#include "series.h"

namespace zol {

bool map_key_type_q(uint32_t type) {
    // Scalars (but char! and the numbers: all of them), words of every kind, text and binaries.
    constexpr TypeFamily keys = FAMILY_SCALAR | FAMILY_ALL_WORD | FAMILY_ANY_STRING | (uint64_t(1) << TYPE_BINARY);
    return type_in(keys, type);
}

Cell* map_make_at(Cell* cell, const Cell* pairs, uint32_t count, bool fresh_keys) {
    uint32_t size = count / 2 ? count / 2 : 1;
    GcRoot block;
    set_series(block.get(), TYPE_BLOCK, series_alloc_cells(uint64_t(size) * 2));
    GcRoot map;
    map->header = TYPE_MAP;
    map->w1 = 0;
    map->w2 = series_node(block.get());
    map->w3 = 0;  // no table yet: marking must not follow the word while the table is made
    uint32_t table = hashtable_make(size, series_node(block.get()), HASH_MAP, 1);
    map->w3 = table;
    for (uint32_t i = 0; i + 1 < count; i += 2) {
        GcRoot key(pairs[i]);
        uint32_t t = cell_type(key.get());
        if (t >= TYPE_WORD && t <= TYPE_GET_WORD) cell_set_type(key.get(), TYPE_SET_WORD);
        cell_clear_new_line(key.get());
        if (!fresh_keys && (type_in(FAMILY_ANY_STRING, t) || t == TYPE_BINARY)) {
            Series* s = cell_series(key.get());
            uint32_t at = series_index(key.get()) < s->used() ? series_index(key.get()) : s->used();
            uint32_t copy = series_copy_range(series_node(key.get()), at, s->used() - at);
            set_series(key.get(), TypeId(t), copy);
        }
        int32_t found = hashtable_get(map->w3, key.get(), CMP_FIND);
        if (found >= 0) {
            node_series(map->w2)->cells()[found + 1] = pairs[i + 1];
            continue;
        }
        *series_alloc_tail(map->w2) = *key;
        *series_alloc_tail(map->w2) = pairs[i + 1];
        hashtable_put(map->w3, node_series(map->w2)->used() - 2, CMP_FIND);
    }
    *cell = *map;
    return cell;
}

}  // namespace zol
