// The natives table: one entry per native, in the fixed order of natives.def.
#include "eval.h"
#include "natives/natives.h"
#include "trace.h"
#include "interpreter/lexer/lexer.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol {

extern uint32_t g_native_count;

namespace {

// The entry of a native whose group is not built yet: calling it says so.
uint32_t native_not_built(bool, const int32_t*) { fire(ERR_INTERNAL_NOT_DONE); }

using namespace natives;

NativeEntry entry_of(NativeId id) {
    switch (id) {
        case NAT_IF: return native_if;
        case NAT_UNLESS: return native_unless;
        case NAT_EITHER: return native_either;
        case NAT_ANY: return native_any;
        case NAT_ALL: return native_all;
        case NAT_WHILE: return native_while;
        case NAT_UNTIL: return native_until;
        case NAT_LOOP: return native_loop;
        case NAT_REPEAT: return native_repeat;
        case NAT_FOREVER: return native_forever;
        case NAT_FOREACH: return native_foreach;
        case NAT_FORALL: return native_forall;
        case NAT_REMOVE_EACH: return native_remove_each;
        case NAT_FUNC: return native_func;
        case NAT_FUNCTION: return native_function;
        case NAT_DOES: return native_does;
        case NAT_HAS: return native_has;
        case NAT_SWITCH: return native_switch;
        case NAT_CASE: return native_case;
        case NAT_DO: return native_do;
        case NAT_GET: return native_get;
        case NAT_SET: return native_set;
        case NAT_BIND: return native_bind;
        case NAT_IN: return native_in;
        case NAT_VALUE_Q: return native_value_q;
        case NAT_CONSTRUCT: return native_construct;
        case NAT_TRY: return native_try;
        case NAT_BREAK: return native_break;
        case NAT_CONTINUE: return native_continue;
        case NAT_EXIT: return native_exit;
        case NAT_RETURN: return native_return;
        case NAT_THROW: return native_throw;
        case NAT_CATCH: return native_catch;
        case NAT_UNSET: return native_unset;
        case NAT_CONTEXT_Q: return native_context_q;
        case NAT_APPLY: return native_apply;
        case NAT_EQUAL_Q: return native_equal_q;
        case NAT_NOT_EQUAL_Q: return native_not_equal_q;
        case NAT_STRICT_EQUAL_Q: return native_strict_equal_q;
        case NAT_LESSER_Q: return native_lesser_q;
        case NAT_GREATER_Q: return native_greater_q;
        case NAT_LESSER_OR_EQUAL_Q: return native_lesser_or_equal_q;
        case NAT_GREATER_OR_EQUAL_Q: return native_greater_or_equal_q;
        case NAT_SAME_Q: return native_same_q;
        case NAT_NOT: return native_not;
        case NAT_TYPE_Q: return native_type_q;
        case NAT_REDUCE: return native_reduce;
        case NAT_COMPOSE: return native_compose;
        case NAT_UNIQUE: return native_unique;
        case NAT_UNION: return native_union;
        case NAT_INTERSECT: return native_intersect;
        case NAT_EXCLUDE: return native_exclude;
        case NAT_DIFFERENCE: return native_difference;
        case NAT_PRINT: return native_print;
        case NAT_PRIN: return native_prin;
        case NAT_NEW_LINE: return native_new_line;
        case NAT_NEW_LINE_Q: return native_new_line_q;
        case NAT_RECYCLE: return native_recycle;
        case NAT_STATS: return native_stats;
        default: return native_not_built;
    }
}

}  // namespace

void register_natives() {
    for (uint32_t i = 1; i <= NATIVE_COUNT; i++) g_natives[i - 1] = entry_of(NativeId(i));
    g_native_count = NATIVE_COUNT;
}

namespace {

void eval_block_pushed(const Cell* block) { eval_block(block, false); }

}  // namespace

void interp_init() {
    g_language = LanguageEntries{eval_block_pushed, interp_invoke, interp_sort_compare, load_source};
    set_unset(&g_current_block);
    gc_register_root(&g_current_block);
    trace_init();
}

}  // namespace zol
