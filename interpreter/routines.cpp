// The table of routines.
#include "routines.h"

#include <cstring>
#include <vector>

#include "runtime/datatypes/function.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/exits.h"
#include "runtime/memory.h"

namespace zol {

namespace {

struct Entry {
    const char* name;
    RoutineFn fn;
};
std::vector<Entry>& routines() {
    static auto* table = new std::vector<Entry>;
    return *table;
}

}  // namespace

uint32_t routine_register(const char* name, RoutineFn fn) {
    uint32_t existing = routine_lookup(name);
    if (existing) {
        routines()[existing - 1].fn = fn;
        return existing;
    }
    routines().push_back(Entry{name, fn});
    return uint32_t(routines().size());
}

uint32_t routine_lookup(const char* name) {
    for (size_t i = 0; i < routines().size(); i++) {
        if (std::strcmp(routines()[i].name, name) == 0) return uint32_t(i + 1);
    }
    return 0;
}

void routine_invoke(const Cell* routine) {
    Cell* code = function_info(routine, FN_INFO_CODE);
    uint32_t n = cell_is(code, TYPE_INTEGER) ? uint32_t(cell_int(code)) : 0;
    if (n == 0 && cell_is(routine, TYPE_ROUTINE)) {
        const Cell* body = function_info(routine, FN_INFO_BODY);
        if (cell_is(body, TYPE_BLOCK) && series_index(body) < cell_series(body)->used()) {
            const Cell* entry = cell_series(body)->cells() + series_index(body);
            if (cell_is(entry, TYPE_WORD)) n = routine_lookup(symbol_c_string(word_symbol(entry)));
        }
        if (n) set_integer(code, int32_t(n));
    }
    if (n == 0 || n > routines().size()) fire(ERR_INTERNAL_ROUTINES);
    routines()[n - 1].fn(routine);
}

}  // namespace zol
