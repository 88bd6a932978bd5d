// The system object's readers: a walk over object fields by symbol, for the paths the runtime reads.
#include "system_object.h"

#include <cstring>
#include <initializer_list>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/gc.h"
#include "runtime/memory.h"

namespace zol {

namespace {

constexpr const char* kPaths[SYS_PATH_COUNT] = {
    "locale/months",  "locale/days",         "locale/currencies/list", "options/money-digits",
    "options/decimal-digits", "options/binary-base", "catalog/errors", "state/stack-trace",
    "state/source-files", "state/callbacks/bits", "lexer/exit-states", "schemes", "standard/port",
    "standard/port-spec",
};
constexpr uint32_t MAX_STEPS = 4;

struct PathSymbols {
    uint32_t count;
    uint32_t symbol[MAX_STEPS];
};

bool g_attached = false;
Cell g_object;  // the system object once attached
PathSymbols g_paths[SYS_PATH_COUNT];
// The settings errors read before the object is attached (and tests set through the same cells).
Cell g_own_stack_trace;
Cell g_own_source_files;
bool g_roots_registered = false;

void register_roots() {
    if (g_roots_registered) return;
    for (Cell* c : {&g_object, &g_own_stack_trace, &g_own_source_files}) {
        set_none(c);
        gc_register_root(c);
    }
    g_roots_registered = true;
}

// Splits a path at its slashes into symbols (made when new: allocates).
PathSymbols make_path(const char* path) {
    PathSymbols out{};
    const char* p = path;
    while (*p && out.count < MAX_STEPS) {
        const char* end = std::strchr(p, '/');
        size_t n = end ? size_t(end - p) : std::strlen(p);
        out.symbol[out.count++] = symbol_make_len(reinterpret_cast<const uint8_t*>(p), uint32_t(n));
        p += n;
        if (*p == '/') p++;
    }
    return out;
}

Cell* walk(const PathSymbols& path) {
    if (!g_attached) return nullptr;
    const Cell* at = &g_object;
    Cell* value = nullptr;
    for (uint32_t i = 0; i < path.count; i++) {
        if (!cell_is(at, TYPE_OBJECT)) return nullptr;
        uint32_t context = object_context(at);
        int32_t index = context_find_word(context, path.symbol[i], true);
        if (index < 0) return nullptr;
        value = context_values_at(context, uint32_t(index));
        at = value;
    }
    return value;
}

const Cell* block_at(SystemPath path) {
    const Cell* v = system_get(path);
    return v && cell_is(v, TYPE_BLOCK) ? v : nullptr;
}

inline uint8_t ascii_upper(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

}  // namespace

void system_object_set(const Cell* object) {
    register_roots();
    for (uint32_t i = 0; i < SYS_PATH_COUNT; i++) g_paths[i] = make_path(kPaths[i]);
    g_object = *object;
    g_attached = true;
}

const Cell* system_object() { return g_attached ? &g_object : nullptr; }

const Cell* system_get(SystemPath path) { return walk(g_paths[path]); }

Cell* system_field(const char* path) { return walk(make_path(path)); }

const Cell* system_locale_months() { return block_at(SYS_LOCALE_MONTHS); }
const Cell* system_locale_days() { return block_at(SYS_LOCALE_DAYS); }
const Cell* system_currencies() { return block_at(SYS_CURRENCY_LIST); }

int32_t system_currency_index(const uint8_t* code, size_t length) {
    const Cell* list = system_currencies();
    if (!list || length != 3) return -1;
    Series* s = cell_series(list);
    for (uint32_t i = series_index(list); i < s->used(); i++) {
        const Cell* c = s->cells() + i;
        if (!cell_is(c, TYPE_WORD)) continue;
        uint32_t n;
        const uint8_t* name = symbol_bytes(word_symbol(c), &n);
        if (n == 3 && ascii_upper(name[0]) == ascii_upper(code[0]) && ascii_upper(name[1]) == ascii_upper(code[1]) &&
            ascii_upper(name[2]) == ascii_upper(code[2])) {
            return int32_t(i - series_index(list) + 1);
        }
    }
    return -1;
}

bool system_currency_code(uint32_t index, char code[4]) {
    const Cell* list = system_currencies();
    if (!list || index == 0) return false;
    Series* s = cell_series(list);
    uint64_t at = uint64_t(series_index(list)) + index - 1;
    if (at >= s->used() || !cell_is(s->cells() + at, TYPE_WORD)) return false;
    uint32_t n;
    const uint8_t* name = symbol_bytes(word_symbol(s->cells() + at), &n);
    if (n != 3) return false;
    std::memcpy(code, name, 3);
    code[3] = 0;
    return true;
}

int32_t system_integer(SystemPath path, int32_t fallback) {
    const Cell* v = system_get(path);
    return v && cell_is(v, TYPE_INTEGER) ? cell_int(v) : fallback;
}

const Cell* system_error_catalog() {
    const Cell* v = system_get(SYS_CATALOG_ERRORS);
    return v && cell_is(v, TYPE_OBJECT) ? v : nullptr;
}

Cell* system_stack_trace_cell() {
    register_roots();
    Cell* v = walk(g_paths[SYS_STACK_TRACE]);
    return v ? v : &g_own_stack_trace;
}

Cell* system_source_files_cell() {
    register_roots();
    Cell* v = walk(g_paths[SYS_SOURCE_FILES]);
    return v ? v : &g_own_source_files;
}

}  // namespace zol
