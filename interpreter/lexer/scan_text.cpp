// Scanners and loaders of the structural tokens and of text: strings in their three forms with their
// escapes, files, urls, emails, tags, refs, chars, issues, words, refinements, path heads, binaries in bases
// 2, 16 and 64, construction syntax, maps, commas and comments.
#include <cstring>

#include "lexer.h"
#include "lexer_internal.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zol::lex {

namespace {

inline uint8_t ascii_lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c; }

bool equal_no_case(const uint8_t* p, const uint8_t* end, const char* word) {
    size_t n = std::strlen(word);
    if (size_t(end - p) != n) return false;
    for (size_t i = 0; i < n; i++) {
        if (ascii_lower(p[i]) != ascii_lower(uint8_t(word[i]))) return false;
    }
    return true;
}

// The code point of the UTF-8 sequence at p, moving p past it; -1 when it is invalid.
inline int32_t plain_char(const uint8_t*& p, const uint8_t* end) {
    if (*p < 0x80) return *p++;
    int32_t cp;
    p = utf8_decode_char(p, end, &cp);
    return cp;
}

bool valid_utf8(const uint8_t* p, const uint8_t* end) {
    while (p < end) {
        if (plain_char(p, end) < 0) return false;
    }
    return true;
}

// --- escapes

// The code point of the escape whose '^' came just before p, moving p past it; -1 when it is invalid.
int32_t decode_escape(const uint8_t*& p, const uint8_t* end) {
    if (p >= end) return -1;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* open = p + 1;
        const uint8_t* close = open;
        while (close < end && *close != ')' && close - open <= 6) close++;
        if (close >= end || *close != ')' || close == open) return -1;
        static const struct {
            const char* name;
            int32_t cp;
        } kNamed[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127}};
        for (const auto& n : kNamed) {
            if (equal_no_case(open, close, n.name)) {
                p = close + 1;
                return n.cp;
            }
        }
        if (close - open > 6) return -1;
        int32_t value = 0;
        for (const uint8_t* q = open; q < close; q++) {
            uint8_t d = kHexDigit[*q];
            if (d > 15) return -1;
            value = value * 16 + d;
        }
        if (value > 0x10FFFF) return -1;
        p = close + 1;
        return value;
    }
    switch (c) {
        case '"': p++; return '"';
        case '-': p++; return '\t';
        case '/': p++; return '\n';
        case '@': p++; return 0;
        case '^': p++; return '^';
        case '{': p++; return '{';
        case '}': p++; return '}';
        case '~': p++; return 127;
        default: break;
    }
    if (c >= 'a' && c <= 'z') {
        p++;
        return c - 'a' + 1;
    }
    if (c >= 'A' && c <= '_') {
        p++;
        return c - 64;
    }
    return plain_char(p, end);
}

// The next code point of text at p (an escape when escapes are on), moving p past it; -1 when invalid.
inline int32_t next_char(const uint8_t*& p, const uint8_t* end, bool escapes) {
    if (*p == '^' && escapes) {
        p++;
        return decode_escape(p, end);
    }
    return plain_char(p, end);
}

// --- strings

// Reads text into a new string of the given type (or, without load, only checks it). The unit is the
// narrowest the class flags allow: 1 for ASCII, 2 after a 2- or 3-byte sequence, 4 after a 4-byte one; text
// with escapes is measured first. Returns false for an invalid sequence or escape.
bool read_text(const uint8_t* p, const uint8_t* end, uint32_t flags, bool escapes, bool load, TypeId type,
               Cell* out) {
    escapes = escapes && (flags & F_CARET);
    uint32_t unit = (flags & F_UTF8_LEAD4) ? 4 : (flags & F_UTF8_LEAD) ? 2 : 1;
    uint32_t count = 0;
    if (escapes || unit > 1 || !load) {
        // A measuring pass: validity, length and the widest code point. Escapes widen the unit only when
        // their code point needs it; Latin-1 code points fit 1-byte units.
        uint32_t widest = 0;
        for (const uint8_t* q = p; q < end; count++) {
            int32_t cp = next_char(q, end, escapes);
            if (cp < 0) return false;
            if (uint32_t(cp) > widest) widest = uint32_t(cp);
        }
        if (escapes) {
            uint32_t needed = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
            if (needed > unit) unit = needed;
        }
        if (!load) return true;
    } else {
        // ASCII only (no lead byte was seen): a stray continuation byte is the only thing to refuse.
        for (const uint8_t* q = p; q < end; q++) {
            if (*q >= 0x80) return false;
        }
        count = uint32_t(end - p);
    }
    uint32_t node = series_alloc_units(count ? count : 1, unit);
    Series* s = node_series(node);
    uint8_t* at = s->data();
    if (unit == 1 && !escapes) {
        std::memcpy(at, p, count);
    } else {
        for (const uint8_t* q = p; q < end; at += unit) string_put_unit(at, unit, uint32_t(next_char(q, end, escapes)));
    }
    s->tail = s->head + count * unit;
    set_series(out, type, node);
    return true;
}

// Loads [p, end) as a string of the target type (the type override, or string!) and pushes it; raises
// invalid with that type when the text does not decode.
void text_token(State& s, const uint8_t* p, const uint8_t* end, uint32_t flags, bool escapes, bool load,
                TypeId type, const uint8_t* report_from) {
    Cell value{};
    if (!read_text(p, end, flags, escapes, load, type, &value)) lexer_error(s, report_from, end, int32_t(type));
    if (load) push_value(s, value);
}

// The class flags of text that the machine did not delimit itself (the rest of a raw string).
uint32_t flags_of(const uint8_t* p, const uint8_t* end) {
    uint32_t flags = 0;
    for (; p < end; p++) flags |= kCharClass[*p];
    return flags & ~0xFFu;
}

// --- raw strings

// The runs of '%' that open and close a raw-string token as the machine delimited it.
void raw_string_runs(const uint8_t* start, const uint8_t* end, uint32_t* opened, uint32_t* closed) {
    *opened = *closed = 0;
    while (start[*opened] == '%') ++*opened;
    while (*closed < uint32_t(end - start) && end[-1 - int32_t(*closed)] == '%') ++*closed;
}

// Where a raw string whose token ended at a shorter run of '%' than opened it really ends: the first '}' from
// `from` followed by as many '%' as opened it; null when the input ends first.
const uint8_t* raw_string_close(const State& s, const uint8_t* from, uint32_t opened) {
    for (const uint8_t* q = from; q < s.end; q++) {
        if (*q != '}' || uint32_t(s.end - q - 1) < opened) continue;
        uint32_t i = 0;
        while (i < opened && q[1 + i] == '%') i++;
        if (i == opened) return q;
    }
    return nullptr;
}

// --- words

struct Spelling {
    TypeId kind;
    const uint8_t* name;
    const uint8_t* name_end;
};

// The kind of word a token spells and its name: ':word' a get-word, 'word' (after a quote) a lit-word,
// 'word:' a set-word; a ':' anywhere else, or a lit-word with a ':' after it, is invalid.
Spelling spell_word(State& s, const uint8_t* start, const uint8_t* end) {
    Spelling w{TYPE_WORD, start, end};
    if (*start == '\'' || *start == ':') {
        w.kind = *start == '\'' ? TYPE_LIT_WORD : TYPE_GET_WORD;
        w.name++;
    } else if (end - start > 1 && end[-1] == ':') {
        w.kind = TYPE_SET_WORD;
        w.name_end--;
    }
    if (w.name >= w.name_end) lexer_error(s, start, end, TYPE_WORD);
    if (std::memchr(w.name, ':', size_t(w.name_end - w.name))) {
        lexer_error(s, start, end, w.kind == TYPE_LIT_WORD ? TYPE_LIT_WORD : TYPE_WORD);
    }
    if (!valid_utf8(w.name, w.name_end)) lexer_error(s, start, end, w.kind);
    return w;
}

// Recently read spellings with their symbols and global slots. Source text repeats its words, and a hit
// here saves the symbol table's and the global context's lookups; symbols and global slots are never taken
// back, so an entry stays right for as long as its spelling matches.
struct WordCacheEntry {
    uint32_t symbol;
    uint32_t slot;
};
constexpr uint32_t WORD_CACHE_SIZE = 4096;
WordCacheEntry g_word_cache[WORD_CACHE_SIZE];  // symbol 0: empty

uint32_t spelling_hash(const uint8_t* p, const uint8_t* end) {
    uint32_t h = 2166136261u;
    for (; p < end; p++) h = (h ^ *p) * 16777619u;
    return h;
}

void push_word(State& s, TypeId kind, const uint8_t* name, const uint8_t* name_end) {
    uint32_t length = uint32_t(name_end - name);
    Cell w{};
    if (kind == TYPE_ISSUE) {
        // An issue is never bound: it takes no global slot.
        issue_make_at(&w, symbol_make_len(name, length, true));
        push_value(s, w);
        return;
    }
    WordCacheEntry& entry = g_word_cache[spelling_hash(name, name_end) & (WORD_CACHE_SIZE - 1)];
    uint32_t cached_length = 0;
    const uint8_t* cached = entry.symbol ? symbol_bytes(entry.symbol, &cached_length) : nullptr;
    if (cached && cached_length == length && std::memcmp(cached, name, length) == 0) {
        set_word(&w, TYPE_WORD, g_global_context, entry.symbol, entry.slot);
    } else {
        word_make_at(symbol_make_len(name, length, true), &w);
        entry = {word_symbol(&w), word_index(&w)};
    }
    cell_set_type(&w, kind);
    push_value(s, w);
}

// --- binaries

// Skips blanks, line breaks and ';' comments.
const uint8_t* skip_binary_blanks(const uint8_t* p, const uint8_t* end) {
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) p++;
        if (p < end && *p == ';') {
            while (p < end && *p != '\n') p++;
            continue;
        }
        return p;
    }
}

int64_t decode_base16(const uint8_t* p, const uint8_t* end, uint8_t* out) {
    int64_t n = 0;
    for (;;) {
        p = skip_binary_blanks(p, end);
        if (p == end) return n;
        uint8_t hi = kHexDigit[*p++];
        p = skip_binary_blanks(p, end);
        if (hi > 15 || p == end) return -1;
        uint8_t lo = kHexDigit[*p++];
        if (lo > 15) return -1;
        if (out) out[n] = uint8_t(hi << 4 | lo);
        n++;
    }
}

int64_t decode_base2(const uint8_t* p, const uint8_t* end, uint8_t* out) {
    int64_t n = 0;
    for (;;) {
        p = skip_binary_blanks(p, end);
        if (p == end) return n;
        uint32_t byte = 0;
        for (int bit = 0; bit < 8; bit++) {
            p = skip_binary_blanks(p, end);
            if (p == end || (*p != '0' && *p != '1')) return -1;
            byte = byte << 1 | uint32_t(*p++ - '0');
        }
        if (out) out[n] = uint8_t(byte);
        n++;
    }
}

int base64_digit(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Groups of four characters give three bytes; a last group of two or three characters (padded with '=' or
// not) gives one or two; nothing but blanks and comments may follow the padding.
int64_t decode_base64(const uint8_t* p, const uint8_t* end, uint8_t* out) {
    int64_t n = 0;
    for (;;) {
        uint32_t group = 0;
        int got = 0;
        while (got < 4) {
            p = skip_binary_blanks(p, end);
            if (p == end || *p == '=') break;
            int d = base64_digit(*p++);
            if (d < 0) return -1;
            group = group << 6 | uint32_t(d);
            got++;
        }
        if (got == 1) return -1;
        if (got < 4) {
            int padding = 0;
            while (p < end && (p = skip_binary_blanks(p, end)) < end && *p == '=') {
                p++;
                padding++;
            }
            if (skip_binary_blanks(p, end) != end || (padding && got + padding != 4)) return -1;
            if (got == 0) return padding ? -1 : n;
            group <<= 6 * (4 - got);
        }
        int bytes = got == 4 ? 3 : got - 1;
        for (int i = 0; i < bytes; i++) {
            if (out) out[n] = uint8_t(group >> (16 - 8 * i));
            n++;
        }
        if (got < 4) return n;
    }
}

}  // namespace

// --- point literals

bool paren_starts_point(const State& s, const uint8_t* paren) {
    const uint8_t* q = paren + 1;
    if (s.end - q < 3) return false;
    while (q < s.end && kPointStart[*q]) q++;
    return q < s.end && *q == ',';
}

// --- structural tokens

void scan_eof(State& s, const uint8_t*, const uint8_t* end, uint32_t, bool) {
    // The end-of-input column also serves NUL; a NUL byte inside the input is no end of it.
    if (end < s.end) {
        s.pos = end;
        lexer_error(s, end, end + 1, ERR_CODE_BAD_CHAR);
    }
    s.pos = s.end;
}

void scan_error_token(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    int32_t code = kStateType[s.prev_state];
    const uint8_t* from = start;
    if (s.brace_depth > 0) {
        code = TYPE_STRING;
        from = s.brace_start;
    } else if (s.prev_state == S_CONSTRUCT) {
        code = ERR_CODE_MALCONSTRUCT;
    } else if (s.prev_state == S_BINARY_COMMENT) {
        code = TYPE_BINARY;
    } else if (s.entry == S_PATH && s.prev_state >= S_PATH && s.prev_state <= S_PATH_LAST) {
        // A malformed path element: the report shows the path.
        const Cell* m = innermost_marker(s);
        code = TYPE_PATH;
        if (m) from = s.start + m->w3;
    } else if (code == 0) {
        code = ERR_CODE_BAD_CHAR;
    }
    s.pos = end;
    lexer_error(s, from, end < s.end ? end + 1 : end, code);
}

void scan_block_open(State& s, const uint8_t*, const uint8_t* end, uint32_t, bool) {
    s.pos = end + 1;
    open_series(s, TYPE_BLOCK, end);
}

void scan_block_close(State& s, const uint8_t*, const uint8_t* end, uint32_t, bool) {
    s.pos = end + 1;
    close_series(s, TYPE_BLOCK, end);
}

void scan_paren_open(State& s, const uint8_t*, const uint8_t* end, uint32_t, bool) {
    s.pos = end + 1;
    const Cell* inner = innermost_marker(s);
    if (inner && type_in(FAMILY_ANY_POINT, marker_type(inner))) lexer_error(s, end, end + 1, TYPE_POINT2D);
    if (paren_starts_point(s, end)) {
        s.entry = S_POINT;
        return;
    }
    open_series(s, TYPE_PAREN, end);
}

void scan_paren_close(State& s, const uint8_t*, const uint8_t* end, uint32_t, bool) {
    s.pos = end + 1;
    close_series(s, TYPE_PAREN, end);
}

void scan_map_open(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    if (*start != '#') lexer_error(s, start, end + 1, TYPE_MAP);
    s.pos = end + 1;
    open_series(s, TYPE_MAP, start);
}

void scan_brace_open(State& s, const uint8_t*, const uint8_t* end, uint32_t flags, bool) {
    s.pos = end + 1;
    if (s.brace_depth == 0) {
        s.brace_start = end;
        s.brace_flags = s.token_lines ? F_MULTILINE : 0;
        if (s.has_callback) {
            lexer_event(s, LEX_EVENT_OPEN, TYPE_STRING, nullptr, end, end + 1);
            if (s.moved) return;
        }
    }
    s.brace_depth++;
    s.brace_flags |= flags;
    s.entry = S_BRACED;
}

void scan_brace_close(State& s, const uint8_t*, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end + 1;
    s.brace_flags |= flags;
    if (s.brace_depth == 0) lexer_error(s, end, end + 1, ERR_CODE_BAD_CHAR);
    if (--s.brace_depth > 0) return;
    restore_entry(s);
    const uint8_t* open = s.brace_start;
    s.token_start = open;
    s.token_type = TYPE_STRING;
    s.token_lines = (s.brace_flags & F_MULTILINE) ? 1 : 0;
    if (s.has_callback) {
        lexer_event(s, LEX_EVENT_CLOSE, TYPE_STRING, nullptr, open, end);
        if (s.moved) return;
    }
    if (!load) {
        text_token(s, open + 1, end, s.brace_flags, true, false, TYPE_STRING, open);
        return;
    }
    if (s.has_callback && !lexer_event(s, LEX_EVENT_SCAN, TYPE_STRING, nullptr, open, end + 1)) return;
    if (s.moved) return;
    text_token(s, open + 1, end, s.brace_flags, true, true, TYPE_STRING, open);
    if (s.has_callback) {
        Cell copy = *cell_at(s.tail - 1);
        if (!lexer_event(s, LEX_EVENT_LOAD, TYPE_STRING, &copy, open, end + 1) && !s.moved) pop_cell(s);
    }
}

void scan_path_head(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    uint32_t type = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
    const uint8_t* name = type == TYPE_PATH ? start : start + 1;
    if (load) spell_word(s, name, end);  // the head must be a plain word
    uint32_t level = s.level;
    open_series(s, type, start);
    if (s.moved || s.level == level) return;  // the callback refused the path
    s.token_lines = 0;  // the marker has the new-line marker; the head inside the path has none
    s.pos = end + 1;
    s.entry = S_PATH;
    if (s.pos >= s.end) lexer_error(s, start, s.pos, TYPE_PATH);
    if (!load) return;
    if (s.has_callback) {
        bool answer = lexer_event(s, LEX_EVENT_SCAN, TYPE_WORD, nullptr, name, end);
        if (s.moved || !answer) return;
    }
    push_word(s, TYPE_WORD, name, end);
    if (s.has_callback) {
        Cell copy = *cell_at(s.tail - 1);
        if (!lexer_event(s, LEX_EVENT_LOAD, TYPE_WORD, &copy, name, end) && !s.moved) pop_cell(s);
    }
}

void scan_construct(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.pos = end + 1;
    const uint8_t* name = start + 2;  // after "#(" (or "#[" inside a path)
    Cell value{};
    if (equal_no_case(name, end, "true") || equal_no_case(name, end, "false")) {
        set_logic(&value, equal_no_case(name, end, "true"));
    } else if (equal_no_case(name, end, "none")) {
        set_none(&value);
    } else if (equal_no_case(name, end, "unset")) {
        set_unset(&value);
    } else {
        uint32_t found = 0;
        for (uint32_t t = 1; t <= TYPE_MAX && !found; t++) {
            if (type_name(t) && equal_no_case(name, end, type_name(t))) found = t;
        }
        if (!found) lexer_error(s, start, end + 1, ERR_CODE_MALCONSTRUCT);
        set_datatype(&value, found);
    }
    s.token_type = int32_t(cell_type(&value));
    if (load) push_value(s, value);
}

void scan_comment(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    if (s.has_callback) lexer_event(s, LEX_EVENT_SCAN, -int32_t(T_COMMENT), nullptr, start, end);
}

// A comma separates the coordinates of a point literal: after the first number of a paren it makes the
// paren a point2D!, after the second a point3D!; anywhere else it is an error.
void scan_comma(State& s, const uint8_t*, const uint8_t* end, uint32_t, bool) {
    s.pos = end + 1;
    Cell* m = innermost_marker(s);
    uint32_t type = m ? marker_type(m) : 0;
    uint32_t values = m ? s.tail - s.level : 0;
    if (type == TYPE_PAREN && (!s.load || (values == 1 && is_number(cell_at(s.level))))) {
        m->w2 = TYPE_POINT2D;
    } else if (type == TYPE_POINT2D && (!s.load || (values == 2 && is_number(cell_at(s.level + 1))))) {
        m->w2 = TYPE_POINT3D;
    } else {
        lexer_error(s, end, end + 1, type_in(FAMILY_ANY_POINT, type) ? int32_t(TYPE_POINT3D) : int32_t(TYPE_POINT2D));
    }
}

// --- text tokens

void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end + 1;
    TypeId type = s.type_override > 0 ? TypeId(s.type_override) : TYPE_STRING;
    text_token(s, start + 1, end, flags, true, load, type, start);
}

void load_raw_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint32_t opened, closed;
    raw_string_runs(start, end, &opened, &closed);
    if (closed > opened) lexer_error(s, start, end, TYPE_STRING);
    const uint8_t* body = start + opened + 1;
    const uint8_t* body_end = end - closed - 1;
    if (closed < opened) {
        const uint8_t* q = raw_string_close(s, end, opened);
        if (!q) lexer_error(s, start, s.end, TYPE_STRING);
        s.line += count_lines(end, q);
        body_end = q;
        s.pos = q + 1 + opened;
        flags = flags_of(body, body_end);
    } else {
        s.pos = end;
    }
    if (!load && s.has_callback) {
        lexer_event(s, LEX_EVENT_OPEN, TYPE_STRING, nullptr, start, body);
        lexer_event(s, LEX_EVENT_CLOSE, TYPE_STRING, nullptr, body_end, s.pos);
    }
    text_token(s, body, body_end, flags, false, load, TYPE_STRING, start);
}

void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (s.token == T_ISSUE) {
        if (end - start < 2) lexer_error(s, start, end, TYPE_ISSUE);
        if (!valid_utf8(start + 1, end)) lexer_error(s, start, end, TYPE_ISSUE);
        s.type_override = TYPE_ISSUE;
        if (load) push_word(s, TYPE_ISSUE, start + 1, end);
        return;
    }
    Spelling w = spell_word(s, start, end);
    s.token_type = w.kind;
    if (load) push_word(s, w.kind, w.name, w.name_end);
}

void load_refinement(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (*start != '/' || end - start < 2) lexer_error(s, start, end, TYPE_REFINEMENT);
    if (!valid_utf8(start + 1, end)) lexer_error(s, start, end, TYPE_REFINEMENT);
    if (load) push_word(s, TYPE_REFINEMENT, start + 1, end);
}

void load_char(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.pos = end + 1;
    const uint8_t* p = start + 2;  // after #"
    if (end - start < 2 || start[0] != '#' || start[1] != '"' || p >= end || end >= s.end || *end != '"') {
        lexer_error(s, start, end + 1, TYPE_CHAR);
    }
    int32_t cp = next_char(p, end, true);
    if (cp < 0 || cp > 0x10FFFF || p != end) lexer_error(s, start, end + 1, TYPE_CHAR);
    if (load) {
        Cell c{};
        set_char(&c, uint32_t(cp));
        push_value(s, c);
    }
}

void load_file(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (end - start >= 2 && start[1] == '"') {
        if (end >= s.end || *end != '"') lexer_error(s, start, end, TYPE_FILE);
        s.pos = end + 1;
        text_token(s, start + 2, end, flags, true, load, TYPE_FILE, start);
        return;
    }
    s.pos = end;
    if (!load) {
        if (!valid_utf8(start + 1, end)) lexer_error(s, start, end, TYPE_FILE);
        return;
    }
    Cell value{};
    if (!url_load_at(&value, start + 1, size_t(end - start - 1), TYPE_FILE)) lexer_error(s, start, end, TYPE_FILE);
    push_value(s, value);
}

void load_url(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (*start == ':') lexer_error(s, start, end, TYPE_GET_WORD);
    if (*start == '\'') lexer_error(s, start, end, TYPE_LIT_WORD);
    if (!load) {
        if (!valid_utf8(start, end)) lexer_error(s, start, end, TYPE_URL);
        return;
    }
    Cell value{};
    if (!url_load_at(&value, start, size_t(end - start), TYPE_URL)) lexer_error(s, start, end, TYPE_URL);
    push_value(s, value);
}

void load_email(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    text_token(s, start, end, flags, false, load, TYPE_EMAIL, start);
}

void load_tag(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end + 1;
    if (*start != '<' || end >= s.end || *end != '>') lexer_error(s, start, end, TYPE_TAG);
    text_token(s, start + 1, end, flags, false, load, TYPE_TAG, start);
}

void load_ref(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    text_token(s, start + 1, end, flags, false, load, TYPE_REF, start);
}

void load_binary(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    s.pos = end + 1;
    const uint8_t* hash = static_cast<const uint8_t*>(std::memchr(start, '#', size_t(end - start)));
    int32_t base = 16;
    if (hash != start && !read_int(start, hash, &base, false)) base = 0;
    if ((base != 2 && base != 16 && base != 64) || hash + 1 >= end || hash[1] != '{') {
        lexer_error(s, start, end + 1, TYPE_BINARY);
    }
    const uint8_t* body = hash + 2;
    auto decode = [&](uint8_t* out) {
        switch (base) {
            case 2: return decode_base2(body, end, out);
            case 64: return decode_base64(body, end, out);
            default: return decode_base16(body, end, out);
        }
    };
    int64_t size = decode(nullptr);
    if (size < 0) lexer_error(s, start, end + 1, TYPE_BINARY);
    if (!load) return;
    Cell value{};
    uint8_t* bytes = binary_make_at(&value, uint32_t(size));
    decode(bytes);
    binary_set_length(&value, uint32_t(size));
    push_value(s, value);
}

// --- tokens that are not processed

void skip_token(State& s) {
    const uint8_t* start = s.token_start;
    const uint8_t* end = s.token_end;
    auto closed_by = [&](uint8_t c) {
        if (end < s.end && *end == c) s.pos = end + 1;
    };
    switch (s.token) {
        case T_CHAR:
        case T_STRING: closed_by('"'); break;
        case T_FILE:
            if (end - start >= 2 && start[1] == '"') closed_by('"');
            break;
        case T_BINARY: closed_by('}'); break;
        case T_PERCENT: closed_by('%'); break;
        case T_TAG: closed_by('>'); break;
        case T_POINT:
            closed_by(')');
            restore_entry(s);
            break;
        case T_RAW_STRING: {
            uint32_t opened, closed;
            raw_string_runs(start, end, &opened, &closed);
            if (closed >= opened) break;
            const uint8_t* q = raw_string_close(s, end, opened);
            if (!q) {
                s.pos = s.end;
                break;
            }
            s.line += count_lines(end, q);
            s.pos = q + 1 + opened;
            break;
        }
        default: break;
    }
}

void word_cache_clear() { std::memset(g_word_cache, 0, sizeof g_word_cache); }

// --- the token table

const TokenHandlers kTokenHandlers[TOKEN_COUNT_PLUS_ONE] = {
    {nullptr, nullptr},                  // 0: no token
    {scan_eof, nullptr},                 // end of input
    {scan_error_token, nullptr},         // error
    {scan_block_open, nullptr},          // [
    {scan_block_close, nullptr},         // ]
    {scan_paren_open, nullptr},          // (
    {scan_paren_close, nullptr},         // )
    {scan_brace_open, nullptr},          // {
    {scan_brace_close, nullptr},         // }
    {scan_map_open, nullptr},            // #[
    {scan_path_head, nullptr},           // word/
    {scan_construct, nullptr},           // #(...)
    {scan_comment, nullptr},             // ;
    {scan_comma, nullptr},               // ,
    {load_string, load_string},          // "..." (a pre-scan runs it at once)
    {nullptr, load_word},                // word
    {nullptr, load_word},                // #issue
    {nullptr, load_integer},             // integer
    {nullptr, load_refinement},          // /refinement
    {nullptr, load_char},                // #"c"
    {nullptr, load_file},                // %file
    {nullptr, load_binary},              // #{...}
    {nullptr, load_percent},             // 12%
    {nullptr, load_float},               // 1.5
    {nullptr, load_special_float},       // 1.#INF
    {nullptr, load_tuple},               // 1.2.3
    {nullptr, load_date},                // 1-Jan-2000
    {nullptr, load_pair},                // 1x2
    {nullptr, load_point},               // (1, 2)
    {nullptr, load_time},                // 12:30
    {nullptr, load_money},               // $1.50
    {nullptr, load_tag},                 // <tag>
    {nullptr, load_url},                 // scheme:rest
    {nullptr, load_email},               // user@host
    {nullptr, load_hex},                 // FFh
    {nullptr, load_raw_string},          // %{...}%
    {nullptr, load_ref},                 // @ref
};

}  // namespace zol::lex
