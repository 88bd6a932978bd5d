// email! values (user@host): a string! payload molded as its bare text; the paths user and host read and
// change the two halves around the first "@".
#include "registry.h"
#include "series.h"
#include "string.h"
#include "symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/values/predefined.h"

namespace zol {

namespace {

int email_mold(const Cell* value, Cell* out, const MoldArgs& args, int budget) {
    return string_form(value, out, args, budget);
}

// An integer selects a character as for string!; the words user and host the text before the first "@"
// and the text after it (all of it and nothing when there is no "@").
const Cell* email_eval_path(Cell* value, const PathStep& step) {
    Cell* key = step.element;
    if (cell_is(key, TYPE_INTEGER)) return string_eval_path(value, step);
    uint32_t field = is_any_word(key) ? symbol_resolve(word_symbol(key)) : 0;
    bool user = field == symbol_resolve(g_sym[SYM_USER]);
    if (!user && field != symbol_resolve(g_sym[SYM_HOST])) fire(ERR_SCRIPT_INVALID_PATH, step.path, key);
    uint32_t head = series_clamped_head(value);
    uint32_t length = string_length(value);
    int32_t at = string_find_char(value, '@');
    uint32_t split = at < 0 ? length : uint32_t(at);
    uint32_t start = user ? head : head + (split < length ? split + 1 : length);
    uint32_t count = user ? split : length - (start - head);
    if (step.set_value) {
        Cell* span = stack_push(value);
        span->w1 = start;
        string_change(span, step.set_value, int(count), false, 1);
        return step.set_value;
    }
    Cell* text = stack_push_cell();
    set_series(text, TYPE_STRING, series_copy_range(series_node(value), start, count));
    return text;
}

}  // namespace

void email_init(DatatypeRegistry& registry) {
    Registration r(TYPE_EMAIL);
    r.own<ACT_MOLD>(email_mold).own<ACT_EVAL_PATH>(email_eval_path);
    for (Action a : {ACT_MAKE, ACT_REFLECT, ACT_TO, ACT_FORM, ACT_COMPARE, ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE,
                     ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE,
                     ACT_NEXT, ACT_PICK, ACT_POKE, ACT_PUT, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP,
                     ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY}) {
        r.inherit(a);
    }
    registry.register_datatype(r);
}

}  // namespace zol
