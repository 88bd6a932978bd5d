// ref! values (@name): a string! payload molded after an "@" and formed without it.
#include "registry.h"
#include "string.h"

namespace zol {

namespace {

int ref_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    string_append_ascii(out, "@");
    return string_form(value, out, args, budget - 1);
}

}  // namespace

void ref_init(DatatypeRegistry& registry) {
    Registration r(TYPE_REF);
    r.own<ACT_MOLD>(ref_mold);
    for (Action a : {ACT_MAKE, ACT_REFLECT, ACT_TO, ACT_FORM, ACT_COMPARE, ACT_AT, ACT_BACK, ACT_CHANGE, ACT_CLEAR,
                     ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT,
                     ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q,
                     ACT_TAKE, ACT_MODIFY}) {
        r.inherit(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
