// tag! values (<a href="x">): a string! payload molded and formed between angle brackets, unescaped.
#include "registry.h"
#include "string.h"

namespace zol {

namespace {

// The limit counts the brackets too: one before the text, one after it.
int tag_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    string_append_ascii(out, "<");
    budget = string_form(value, out, args, budget - 1);
    string_append_ascii(out, ">");
    return budget - 1;
}

}  // namespace

void tag_init(DatatypeRegistry& registry) {
    Registration r(TYPE_TAG);
    r.own<ACT_FORM>(tag_mold).own<ACT_MOLD>(tag_mold);
    for (Action a : {ACT_MAKE, ACT_REFLECT, ACT_TO, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE,
                     ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE,
                     ACT_NEXT, ACT_PICK, ACT_POKE, ACT_PUT, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP,
                     ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY}) {
        r.inherit(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
