// Inside the Parse engine: the keywords, the rule kinds, the matching primitives (match.cpp) and the loop's
// state (engine.cpp runs the rules; extract.cpp holds the keywords that take values out of the input or
// change it: copy, set, collect, keep, remove, insert and change).
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/gc.h"

namespace zol::parse {

// The keywords, recognised by the canonical symbol of a word!. pick, only and after are keywords only right
// after keep, insert or change, and collect.
enum Keyword : uint8_t {
    KW_NOT_KEYWORD,
    KW_BAR,
    KW_SKIP,
    KW_ANY,
    KW_SOME,
    KW_COPY,
    KW_TO,
    KW_THRU,
    KW_REMOVE,
    KW_BREAK,
    KW_OPT,
    KW_KEEP,
    KW_FAIL,
    KW_AHEAD,
    KW_WHILE,
    KW_INTO,
    KW_INSERT,
    KW_CHANGE,
    KW_END,
    KW_IF,
    KW_NOT,
    KW_QUOTE,
    KW_COLLECT,
    KW_CASE,
    KW_REJECT,
    KW_SET,
    KW_NONE,
    KW_PICK,  // the contextual ones
    KW_ONLY,
    KW_AFTER,
    KW_COUNT
};

// What a word! is to the rules: its keyword, or KW_NOT_KEYWORD (the contextual words answer as themselves;
// callers that do not expect them treat them as plain words).
Keyword keyword_of(const Cell* value);
// A word! naming the keyword, for errors.
const Cell* keyword_word(Keyword k);

// The rule kinds a rule entry records: what acts when its rule ends.
enum Kind : int32_t {
    K_REPEAT = -1,  // a plain sub-rule under any, some, opt or a count
    K_TO = -2,
    K_THRU = -3,
    K_COPY = -4,
    K_SET = -5,
    K_NOT = -6,
    K_INTO = -7,
    K_REMOVE = -9,
    K_WHILE = -11,
    K_COLLECT = -12,
    K_KEEP = -13,
    K_KEEP_PAREN = -14,
    K_AHEAD = -16,
    K_CHANGE = -17,
    K_CHANGE_ONLY = -18,
    K_CASE = -19,
};

// --- matching primitives over the input at a unit index (match.cpp). `end` is where matching stops: the
// input's tail, or the /part limit when that is nearer. None of them allocates but the binary! datatype
// match, which runs the lexer (its input stays rooted).

// A literal rule value at one position: the units it takes, or -1 when it does not match. On any-block!
// input one value is compared; on text a char!, bitset!, string-like value or tag!; on binary! bytes.
int64_t match_literal(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule, bool case_sensitive);
// The value matches the rule as a value of an any-block! input does (lit-words match words).
bool value_matches(const Cell* value, const Cell* rule, bool case_sensitive);
// A datatype! or typeset! rule at one position: the units taken, or -1. Raises parse-unsupported on text.
int64_t match_datatype(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule);

// Consecutive matches of a literal value from pos, at most max of them (-1: no maximum). Returns the count
// and the position after the last match; `always` is set for a value that matches without taking input (an
// empty text), which ends the count at once.
struct Repeated {
    uint32_t count;
    uint32_t pos;
    bool always;
};
Repeated repeat_literal(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule, bool case_sensitive,
                        int64_t max);

// The first place from pos where the literal value matches: its start and its length in units. False when
// there is none. A value that cannot be searched for in text or binary input raises parse-rule.
bool search_literal(const Cell* input, uint32_t pos, uint32_t end, const Cell* rule, bool case_sensitive,
                    uint32_t* at, uint32_t* length);

}  // namespace zol::parse
