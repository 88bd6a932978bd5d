// handle! values and the registries of the kinds whose OS objects are machine words.
#include "handle.h"

#include <cstring>
#include <vector>

#include "registry.h"
#include "string.h"
#include "runtime/stack.h"

namespace zol {

namespace {

struct KindRegistry {
    std::vector<uintptr_t> words{0};  // index 0 is the null handle's
    std::vector<int32_t> free;
};
KindRegistry g_registries[HANDLE_KIND_COUNT];

const char* const kKindNames[HANDLE_KIND_COUNT] = {"null", "fd", "monitor", "window", "font", "rich-text"};

// Eight upper-case hexadecimal digits and "h": the value's two's complement for a negative one.
int handle_form(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    string_append_ascii(out, string_int_to_hex(handle_value(value), false));
    string_append_ascii(out, "h");
    return budget - 9;
}

int handle_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (!args.all) {
        string_append_ascii(out, "handle!");
        return budget - 7;
    }
    string_append_ascii(out, "#[handle! ");
    budget = handle_form(value, out, args, budget - 10);
    uint32_t kind = handle_kind(value);
    if (kind > 0 && kind < HANDLE_KIND_COUNT) {
        string_append_ascii(out, " ");
        string_append_ascii(out, kKindNames[kind]);
        budget -= 1 + int(std::strlen(kKindNames[kind]));
    }
    string_append_ascii(out, "]");
    return budget - 1;
}

// Handles order by value; a handle is never equal to a value of another type.
int handle_compare(const Cell* value, const Cell* other, CompareOp) {
    if (!cell_is(other, TYPE_HANDLE)) return 1;
    int32_t a = handle_value(value), b = handle_value(other);
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

Cell* handle_make_at(Cell* cell, int32_t value, HandleKind kind) {
    cell->header = TYPE_HANDLE;
    cell->w1 = kind;
    cell->w2 = uint32_t(value);
    cell->w3 = 0xFFFFFFFF;  // no external resource: the owner of the OS object releases it
    return cell;
}

Cell* handle_push(int32_t value, HandleKind kind) { return handle_make_at(stack_push_cell(), value, kind); }

int32_t handle_register(HandleKind kind, uintptr_t native) {
    KindRegistry& r = g_registries[kind];
    if (!r.free.empty()) {
        int32_t index = r.free.back();
        r.free.pop_back();
        r.words[size_t(index)] = native;
        return index;
    }
    r.words.push_back(native);
    return int32_t(r.words.size() - 1);
}

uintptr_t handle_lookup(HandleKind kind, int32_t index) {
    const KindRegistry& r = g_registries[kind];
    return index > 0 && size_t(index) < r.words.size() ? r.words[size_t(index)] : 0;
}

void handle_release(HandleKind kind, int32_t index) {
    KindRegistry& r = g_registries[kind];
    if (index <= 0 || size_t(index) >= r.words.size() || r.words[size_t(index)] == 0) return;
    r.words[size_t(index)] = 0;
    r.free.push_back(index);
}

void handle_init(DatatypeRegistry& registry) {
    Registration r(TYPE_HANDLE);
    r.own<ACT_FORM>(handle_form).own<ACT_MOLD>(handle_mold).own<ACT_COMPARE>(handle_compare);
    registry.register_datatype(r);
}

}  // namespace zol
