// The path family: path!, lit-path!, set-path! and get-path!. Their values live in a cell series exactly as
// a block's do; what they add is their construction and their text (values joined by "/", decorated by
// the sister types).
#include "block.h"
#include "error.h"
#include "registry.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "runtime/stack.h"
#include "string.h"

namespace zol {

namespace {

const Cell* path_make(Cell* proto, Cell* spec, TypeId type) {
    uint32_t t = cell_type(spec);
    if (type_in(FAMILY_NUMBER, t)) {
        double n = t == TYPE_INTEGER ? cell_int(spec) : cell_float(spec);
        if (!(n < 2147483648.0)) fire(ERR_SCRIPT_OUT_OF_RANGE, spec);
        Cell* result = block_push_new(n >= 1 ? int64_t(n) : 1);
        cell_set_type(result, type);
        return result;
    }
    if (t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_HASH && !(t >= TYPE_PATH && t <= TYPE_GET_PATH)) {
        fire_with_type(ERR_SCRIPT_BAD_MAKE_ARG, type, spec);
    }
    Cell* result = const_cast<Cell*>(g_types.get<ACT_MAKE>(TYPE_BLOCK)(proto, spec, TYPE_BLOCK));
    cell_set_type(result, type);
    return result;
}

const Cell* path_to(Cell* proto, Cell* value, TypeId type) {
    uint32_t t = cell_type(value);
    Cell* result;
    if (t == TYPE_OBJECT || t == TYPE_TYPESET || t == TYPE_MAP) {
        GcRoot keep(*value);
        result = block_push_new(1);
        *block_alloc_tail(result) = *keep;
    } else {
        result = const_cast<Cell*>(g_types.get<ACT_TO>(TYPE_BLOCK)(proto, value, TYPE_BLOCK));
    }
    cell_set_type(result, type);
    return result;
}

// The values from the head, each formed or molded, with "/" between them.
int write_path(const Cell* path, Cell* out, const MoldArgs& args, int budget, bool mold) {
    if (cycles_detect(path, out, &budget, mold)) return budget;
    GcRoot keep(*path);
    VisitGuard guard(series_node(path));
    MoldArgs inner = args;
    inner.indent = 0;
    for (uint32_t i = series_index(keep.get()); i < cell_series(keep.get())->used(); i++) {
        if (args.part && budget < 1) break;
        if (i > series_index(keep.get())) {
            string_append_ascii(out, "/");
            budget--;
        }
        GcRoot v(cell_series(keep.get())->cells()[i]);
        budget = mold ? mold_value(v.get(), out, inner, budget) : form_value(v.get(), out, inner, budget);
    }
    return budget;
}

int path_form(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    return write_path(value, out, args, budget, false);
}

int path_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    switch (cell_type(value)) {
        case TYPE_LIT_PATH:
            string_append_ascii(out, "'");
            return write_path(value, out, args, budget - 1, true);
        case TYPE_GET_PATH:
            string_append_ascii(out, ":");
            return write_path(value, out, args, budget - 1, true);
        case TYPE_SET_PATH:
            budget = write_path(value, out, args, budget, true);
            string_append_ascii(out, ":");
            return budget - 1;
        default: return write_path(value, out, args, budget, true);
    }
}

constexpr Action kInherited[] = {ACT_REFLECT, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_AT,     ACT_BACK,   ACT_CHANGE,
                                 ACT_CLEAR,   ACT_FIND,      ACT_HEAD,    ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q,
                                 ACT_MOVE,    ACT_NEXT,      ACT_PICK,    ACT_POKE,   ACT_PUT,    ACT_REMOVE, ACT_REVERSE,
                                 ACT_SELECT,  ACT_SKIP,      ACT_SWAP,    ACT_TAIL,   ACT_TAIL_Q, ACT_TAKE,   ACT_MODIFY};

}  // namespace

void path_init(DatatypeRegistry& registry) {
    Registration r(TYPE_PATH);
    for (Action a : kInherited) r.inherit(a);
    r.own<ACT_MAKE>(path_make).own<ACT_TO>(path_to).own<ACT_FORM>(path_form).own<ACT_MOLD>(path_mold);
    r.inherit(ACT_COPY);
    registry.register_datatype(r);
}

// lit-path!, set-path! and get-path! differ from path! only in their mold.
void path_sister_init(DatatypeRegistry& registry, TypeId type) {
    Registration r(type);
    for (Action a : kInherited) r.inherit(a);
    for (Action a : {ACT_MAKE, ACT_TO, ACT_FORM, ACT_COPY}) r.inherit(a);
    r.own<ACT_MOLD>(path_mold);
    registry.register_datatype(r);
}

void lit_path_init(DatatypeRegistry& registry) { path_sister_init(registry, TYPE_LIT_PATH); }
void set_path_init(DatatypeRegistry& registry) { path_sister_init(registry, TYPE_SET_PATH); }
void get_path_init(DatatypeRegistry& registry) { path_sister_init(registry, TYPE_GET_PATH); }

}  // namespace zol
