// paren!: a block that the evaluator runs in place. It shares every block! action but mold, which writes
// parentheses instead of brackets.
#include "block.h"
#include "registry.h"
#include "runtime/values/mold.h"
#include "string.h"

namespace zol {

namespace {

int paren_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    if (cycles_detect(value, out, &budget, true)) return budget;
    if (!args.only) {
        string_append_ascii(out, "(");
        budget--;
    }
    budget = block_mold_items(value, out, args, budget, true);
    if (!args.only) {
        string_append_ascii(out, ")");
        budget--;
    }
    return budget;
}

}  // namespace

void paren_init(DatatypeRegistry& registry) {
    Registration r(TYPE_PAREN);
    r.own<ACT_MOLD>(paren_mold);
    for (Action a : {ACT_MAKE,   ACT_RANDOM, ACT_REFLECT, ACT_TO,     ACT_FORM,   ACT_EVAL_PATH, ACT_COMPARE,
                     ACT_APPEND, ACT_AT,     ACT_BACK,    ACT_CHANGE, ACT_CLEAR,  ACT_COPY,      ACT_FIND,
                     ACT_HEAD,   ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE,    ACT_NEXT,
                     ACT_PICK,   ACT_POKE,   ACT_PUT,     ACT_REMOVE, ACT_REVERSE, ACT_SELECT,   ACT_SORT,
                     ACT_SKIP,   ACT_SWAP,   ACT_TAIL,    ACT_TAIL_Q, ACT_TAKE,   ACT_MODIFY}) {
        r.inherit(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
