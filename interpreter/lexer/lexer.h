// The lexer: turns Zol source text (UTF-8 bytes) into values. A table-driven state machine delimits one token
// at a time (lexer_tables.h); each token's scanner validates it and its loader pushes the value on the lexer's
// own cell stack, where blocks, parens, maps and paths are built between open markers and copied into their
// series once they close. Callers may ask for the type of the first value only (scan), for a pre-scan that
// loads nothing (prescan), for one value (one), and may pass a callback that receives the lexer's events
// and can steer it. Lexers nest: a callback may start another one.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/values/language.h"

namespace zol {

// Start-up: the lexer's cell stack and scratch buffer, the token-name block and the marking of active lexers
// by the collector.
void lexer_init();

// Lexes `length` bytes of UTF-8 into dst as the options ask (see LexOptions and the modes above); input_series
// is the string! or binary! the bytes come from (the callback sees it), or null / none.
// Returns the datatype id of the last token (34, error!, for a malformed token in scan or prescan modes; 0
// for input of only blanks and comments). In load mode a malformed token raises a syntax error, after
// the values loaded before it were appended to the output block. dst, input_series and the options' cells
// must be cells the caller keeps rooted. The bytes are read in place: callers whose input may change during a
// callback go through load_source, which copies it.
int32_t lexer_scan(Cell* dst, const uint8_t* input, uint32_t length, const LexOptions& options,
                   const Cell* input_series = nullptr);

// Lexes a string! or binary! from its index: a string is converted to UTF-8 in the scratch buffer (length
// counts characters, -1 for all; a larger count is cut to what the string holds; consumed is counted in
// characters); a binary is copied (length and consumed in bytes; a byte-order mark is the caller's to
// skip). What `do` on text, `load` and `transcode` call, and the datatypes through the language door.
int32_t load_source(Cell* dst, const Cell* source, int32_t length, const LexOptions& options);

// Lexer events, as the bits of a callback's event mask.
enum LexerEvent : uint32_t {
    LEX_EVENT_PRESCAN = 1,
    LEX_EVENT_SCAN = 2,
    LEX_EVENT_LOAD = 4,
    LEX_EVENT_OPEN = 8,
    LEX_EVENT_CLOSE = 16,
    LEX_EVENT_ERROR = 32,
};

// Calls a lexer callback. args are the five argument cells, pushed on the argument stack: the event word,
// the input series positioned at the token, the type, the line (integer!) and the token (the value, or a
// pair! of 1-based character offsets). The callback may change the input argument's index: the lexer
// reads it back and continues from there. Returns whether the callback answered true.
using LexerCallbackInvoke = bool (*)(const Cell* callback, Cell* args);
// The invocation entry: the evaluator's callback entry (interp_call with the lexer's callback kind) unless
// replaced; tests install their own to play the callback.
extern LexerCallbackInvoke g_lexer_invoke;

// The block whose entries name the structural tokens in events (eof, error!, block!, ... see lexer.cpp);
// the system object will take it over as system/lexer/exit-states, which the user may replace.
extern Cell g_lexer_token_names;

}  // namespace zol
