// The natives table: one entry per native, in the fixed order of natives.def, made from its rows.
#include "code.h"
#include "eval.h"
#include "eval_internal.h"
#include "natives/natives.h"
#include "trace.h"
#include "interpreter/lexer/lexer.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol {

extern uint32_t g_native_count;

namespace {

// The entry of a native whose group is not built yet: calling it says so.
uint32_t native_not_built(const int32_t*) { fire(ERR_INTERNAL_NOT_DONE); }

}  // namespace

void register_natives() {
    uint32_t i = 0;
#define ENTRY(name) natives::native_##name
#define IO_ENTRY(name) native_not_built
#define NOT_BUILT native_not_built
#define ZOL_NATIVE(name, word, entry) g_natives[i++] = entry;
#include "interpreter/natives.def"
#undef ZOL_NATIVE
#undef ENTRY
#undef IO_ENTRY
#undef NOT_BUILT
    g_native_count = i;
}

namespace {

void eval_block_pushed(const Cell* block) { eval_block(block, false); }

void mark_outer_blocks() { gc_mark_cells(g_outer_blocks, g_outer_blocks + g_block_depth); }

}  // namespace

void interp_init() {
    g_language = LanguageEntries{eval_block_pushed, interp_invoke, interp_sort_compare, load_source};
    set_unset(&g_current_block);
    gc_register_root(&g_current_block);
    g_block_depth = 0;
    gc_keep_push(mark_outer_blocks);
    code_init();
    trace_init();
}

}  // namespace zol
