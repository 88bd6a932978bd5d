// What the lexer engine (lexer.cpp) shares with its scanners and loaders (scan_text.cpp, load_number.cpp):
// the state of one active lexer, the cell stack, and the operations that scanners call back into.
#pragma once
#include <cstdint>

#include "lexer_tables.h"
#include "runtime/cell.h"

namespace zol::lex {

// The lexer's own unwind: a malformed token in scan or prescan mode ends that token as an error token, and a
// callback that answers false to an error stops the lexer quietly. Never leaves lexer_scan.
struct LexerStop {};

// Error codes that are not datatypes (lexer_error's type code).
constexpr int32_t ERR_CODE_BAD_CHAR = -1;
constexpr int32_t ERR_CODE_MALCONSTRUCT = -2;
constexpr int32_t ERR_CODE_NO_OPENING = -3;  // a closing bracket without its opening, or the wrong one
constexpr int32_t ERR_CODE_NO_CLOSING = -4;  // the input ended inside an open series

// Open markers are cells of this type on the lexer stack, standing for a series being built: word 1 the
// distance in cells from the previous open level to the marker, word 2 the type of the series, word 3 the
// byte offset of the opening character in the input.
constexpr TypeId MARKER_TYPE = TYPE_TRIPLE;

// One active lexer. States live in lexer_scan's frame and are chained from the outermost one; nested
// lexers (started from a callback) use the part of the cell stack above their parent's tail.
struct State {
    State* parent = nullptr;
    State* next = nullptr;
    // Cell stack indices: this lexer's first cell, the cell after the innermost open marker (== base at top
    // level), the next free cell.
    uint32_t base = 0, level = 0, tail = 0;

    const uint8_t* start = nullptr;  // the input
    const uint8_t* end = nullptr;
    const uint8_t* pos = nullptr;    // where the next token starts
    const uint8_t* token_start = nullptr;
    const uint8_t* token_end = nullptr;
    uint32_t line = 1;
    uint32_t token_lines = 0;  // line breaks before the current token: its values get the new-line marker
    uint32_t token = 0;        // token number, 1 to 36
    uint32_t flags = 0;        // class flags of the token's bytes
    int32_t token_type = 0;    // datatype of the current token (0 for structural ones)
    int32_t last_type = 0;
    int32_t type_override = -1;
    int32_t closing_type = 0;  // the series type an error about brackets names
    uint8_t entry = S_BETWEEN;  // the state the next token starts in
    uint8_t prev_state = 0;     // the last working state of the current token

    const uint8_t* brace_start = nullptr;  // the outermost '{' of an open braced string
    uint32_t brace_depth = 0;
    uint32_t brace_flags = 0;

    Cell callback;  // none without one
    Cell input;     // the string! or binary! read, or none
    Cell output;    // the block that receives the values, or none
    uint32_t mask = 0;  // events the callback wants
    bool has_callback = false;
    bool load = true, prescan = false, scan = false, one = false;
    bool string_input = false;
    uint32_t input_index = 0;  // the input series' index at the input start
    bool moved = false;        // a callback moved the position: the current token is abandoned

    // Character offsets of string input: the last position converted and its offset.
    const uint8_t* offset_pos = nullptr;
    uint32_t offset_chars = 0;
};

// The cell stack shared by all active lexers. A Cell* into it is good until the next push (by this lexer or
// a nested one, so also until the next event).
extern Cell* g_cells;
inline Cell* cell_at(uint32_t index) { return g_cells + index; }
// A new cell at the tail: unset, with the new-line marker when a line break came before the token.
Cell* push_cell(State& s);
// Stores a value into a stack cell without changing that cell's new-line marker (which came from the line
// breaks before the token, not from the value).
inline void store_keeping_new_line(Cell* at, const Cell& value) {
    at->header = (at->header & HDR_NEW_LINE) | (value.header & ~HDR_NEW_LINE);
    at->w1 = value.w1;
    at->w2 = value.w2;
    at->w3 = value.w3;
}
// Pushes a value built in a local cell, keeping the new-line marker of the pushed cell.
inline void push_value(State& s, const Cell& value) { store_keeping_new_line(push_cell(s), value); }
// Drops the cell at the tail.
inline void pop_cell(State& s) { s.tail--; }

inline bool is_marker(const Cell* c) { return cell_is(c, MARKER_TYPE); }
inline uint32_t marker_type(const Cell* c) { return c->w2 & 0xFFFF; }
// The innermost open marker, or null at top level.
inline Cell* innermost_marker(const State& s) { return s.level > s.base ? cell_at(s.level - 1) : nullptr; }
// The values a point literal's coordinates may be.
inline bool is_number(const Cell* c) { return cell_is(c, TYPE_INTEGER) || cell_is(c, TYPE_FLOAT); }

inline uint32_t count_lines(const uint8_t* p, const uint8_t* end) {
    uint32_t n = 0;
    for (; p < end; p++) n += *p == '\n';
    return n;
}

// Raises (or, in scan and prescan modes, reports) a syntax error about the text from start (null: the
// innermost open series, or the input start).
[[noreturn]] void lexer_error(State& s, const uint8_t* start, const uint8_t* end, int32_t code);
// Reports an event to the callback; true when it answered true (or wants no such event).
bool lexer_event(State& s, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                 const uint8_t* end);

// Series building.
void open_series(State& s, uint32_t type, const uint8_t* at);
// Closes the innermost series: expected is the type the closing token asks for, or -1 for whatever is open.
void close_series(State& s, int32_t expected, const uint8_t* at);
// The entry state after a series or literal closes: inside a path when the innermost open series is one.
void restore_entry(State& s);
// After each path element: closes the path at a delimiter, makes it a set-path at ':', or consumes '/'.
void path_end_check(State& s);

// Scanners and loaders: (state, token start, token end, class flags, load). A loader with load false only
// validates, so a value token needs a scanner of its own only where a pre-scan runs it; every one leaves the
// position after the token.
using TokenFn = void (*)(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
struct TokenHandlers {
    TokenFn scanner;
    TokenFn loader;
};
extern const TokenHandlers kTokenHandlers[TOKEN_COUNT_PLUS_ONE];

// Text tokens (scan_text.cpp).
void scan_eof(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_error_token(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_block_open(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_block_close(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_paren_open(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_paren_close(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_brace_open(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_brace_close(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_map_open(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_path_head(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_construct(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_comment(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_comma(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_string(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_word(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_refinement(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_char(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_file(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_binary(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_tag(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_url(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_email(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_raw_string(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_ref(State&, const uint8_t*, const uint8_t*, uint32_t, bool);

// Number, time and date tokens (load_number.cpp).
void load_integer(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_hex(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_float(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_percent(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_special_float(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_tuple(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_pair(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_point(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_time(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_date(State&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_money(State&, const uint8_t*, const uint8_t*, uint32_t, bool);

// Forgets the spellings the word loader remembers (start-up).
void word_cache_clear();

// Whether the '(' at paren starts a point literal: at least three bytes follow it and the first one that
// cannot belong to a coordinate is ','.
bool paren_starts_point(const State& s, const uint8_t* paren);

// Where a token that is not processed ends (its closing byte, or a raw string's real end), so that the
// machine goes on after it; also restores the entry state after a point literal.
void skip_token(State& s);

// A number read from a run of ASCII digits, with "'" separators when allowed; false when the run is empty,
// holds another character or does not fit 32 bits.
bool read_int(const uint8_t* p, const uint8_t* end, int32_t* out, bool separators);

}  // namespace zol::lex
