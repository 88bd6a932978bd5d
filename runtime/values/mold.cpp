// Mold and form support.
#include "mold.h"

#include <cstring>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol {

namespace {

int dispatch(Action act, const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    auto fn = reinterpret_cast<ActionFn<ACT_MOLD>>(g_types.action(cell_type(value), act));
    if (!fn) fire(ERR_INTERNAL_NOT_DONE);
    return fn(value, out, args, budget);
}

std::string text_of(const Cell* value, Action act, bool all) {
    GcRoot keep(*value), out;
    string_make(out.get());
    MoldArgs args;
    args.all = all;
    dispatch(act, keep.get(), out.get(), args, 0x7FFFFFFF);
    return string_to_utf8(out.get());
}

}  // namespace

int form_value(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    return dispatch(ACT_FORM, value, out, args, budget);
}

int mold_value(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    return dispatch(ACT_MOLD, value, out, args, budget);
}

bool cycles_detect(const Cell* value, Cell* out, int* budget, bool mold) {
    // Objects, errors and ports are found by their context.
    uint32_t node = type_in(FAMILY_ANY_OBJECT, cell_type(value)) ? object_context(value) : series_node(value);
    if (!cycles_find(node)) return false;
    const char* marker = "...";
    if (mold) {
        switch (cell_type(value)) {
            case TYPE_BLOCK:
            case TYPE_HASH: marker = "[...]"; break;
            case TYPE_PAREN: marker = "(...)"; break;
            case TYPE_MAP: marker = "#[...]"; break;
            case TYPE_OBJECT: marker = "make object! [...]"; break;
            default: break;
        }
    }
    string_append_ascii(out, marker);
    *budget -= int(std::strlen(marker));
    return true;
}

int mold_indent(Cell* out, int level, int budget) {
    for (int i = 0; i < level; i++) string_append_ascii(out, "    ", 4);
    return budget - 4 * (level > 0 ? level : 0);
}

uint8_t* memory_replicate(uint8_t* buffer, uint32_t unit_bytes, uint32_t count) {
    uint64_t total = uint64_t(unit_bytes) * count;
    if (count <= 1) return buffer + total;
    uint64_t run = unit_bytes;
    while (total - run >= run) {
        std::memcpy(buffer + run, buffer, run);
        run *= 2;
    }
    if (total > run) std::memcpy(buffer + run, buffer, total - run);
    return buffer + total;
}

std::string mold_text(const Cell* value, bool all) { return text_of(value, ACT_MOLD, all); }
std::string form_text(const Cell* value) { return text_of(value, ACT_FORM, false); }

}  // namespace zol
