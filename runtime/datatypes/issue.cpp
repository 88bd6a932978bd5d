// issue! values.
#include "issue.h"

#include <string>

#include "context.h"
#include "registry.h"
#include "string.h"
#include "symbol.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace zol {

Cell* issue_make_at(Cell* cell, uint32_t symbol) {
    set_word(cell, TYPE_ISSUE, g_global_context, symbol, WORD_UNRESOLVED);
    return cell;
}

namespace {

// make and to: the symbol of a text (from its index) or of a character; any word the same symbol; anything
// else as word! converts it. The result is never bound.
const Cell* issue_to(Cell* proto, Cell* spec, TypeId type) {
    uint32_t symbol;
    if (cell_is(spec, TYPE_STRING) || cell_is(spec, TYPE_CHAR)) {
        std::string text;
        if (cell_is(spec, TYPE_CHAR)) {
            uint8_t bytes[4];
            int n = utf8_encode_char_replacing(cell_char(spec), bytes);
            text.assign(reinterpret_cast<char*>(bytes), size_t(n));
        } else {
            text = string_to_utf8(spec);
        }
        // An empty name makes no issue: "#" alone reads as nothing.
        if (text.empty()) fire_with_type(ERR_SCRIPT_BAD_TO_ARG, type, spec);
        symbol = symbol_make_len(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), true);
    } else if (type_in(FAMILY_ALL_WORD, cell_type(spec))) {
        symbol = word_symbol(spec);
    } else {
        GcRoot keep(*spec);
        const Cell* word = g_types.get<ACT_TO>(TYPE_WORD)(proto, keep.get(), type);
        symbol = word_symbol(word);
    }
    issue_make_at(proto, symbol);
    cell_set_type(proto, type);
    return proto;
}

int issue_mold(const Cell* value, Cell* out, const MoldArgs&, int budget) {
    string_append_ascii(out, "#");
    uint32_t length;
    const uint8_t* name = symbol_bytes(word_symbol(value), &length);
    return budget - 1 - int(string_append_utf8(out, name, length));
}

}  // namespace

void issue_init(DatatypeRegistry& registry) {
    Registration r(TYPE_ISSUE);
    r.own<ACT_MAKE>(issue_to).own<ACT_TO>(issue_to).own<ACT_MOLD>(issue_mold);
    // word!'s compare already tells an issue from every other kind of word (not comparable).
    r.inherit(ACT_FORM).inherit(ACT_COMPARE);
    registry.register_datatype(r);
}

}  // namespace zol
