// Source text into code.
#include "load.h"

#include <cstring>

#include "interpreter/lexer/lexer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/exits.h"
#include "runtime/gc.h"

namespace zol {

namespace {

bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Where the header starts: the first "Zol", optionally followed by "/System", then blanks, then "[".
const uint8_t* find_header(const uint8_t* text, size_t length) {
    for (size_t i = 0; i + 3 < length; i++) {
        if (std::memcmp(text + i, "Zol", 3) != 0) continue;
        size_t j = i + 3;
        if (j + 7 <= length && std::memcmp(text + j, "/System", 7) == 0) j += 7;
        while (j < length && is_space(text[j])) j++;
        if (j < length && text[j] == '[') return text + i;
    }
    return nullptr;
}

}  // namespace

void load_global(const uint8_t* text, size_t length, Cell* out) {
    if (length > UINT32_MAX) fire(ERR_SCRIPT_TOO_LONG);
    lexer_scan(out, text, uint32_t(length), LexOptions{.wrap = true});
}

void load_script(const uint8_t* text, size_t length, Cell* out, Cell* header, const Cell* source) {
    const uint8_t* start = find_header(text, length);
    if (!start) fire(ERR_SYNTAX_NO_HEADER, source ? source : &g_none_value);
    load_global(start, length - size_t(start - text), out);
    // The header found above always loads as the word and its block: step over both.
    Series* s = cell_series(out);
    if (header) *header = s->cells()[series_index(out) + 1];
    out->w1 = series_index(out) + 2;
}

}  // namespace zol
