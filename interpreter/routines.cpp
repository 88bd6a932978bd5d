// The table of routines.
#include "routines.h"

#include <cstring>
#include <vector>

#include "runtime/datatypes/function.h"
#include "runtime/exits.h"

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
    const Cell* code = function_info(routine, FN_INFO_CODE);
    uint32_t n = cell_is(code, TYPE_INTEGER) ? uint32_t(cell_int(code)) : 0;
    if (n == 0 || n > routines().size()) fire(ERR_INTERNAL_ROUTINES);
    routines()[n - 1].fn();
}

}  // namespace zol
