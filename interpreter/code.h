// Decoded forms of blocks: what the evaluator learns about a block it runs again and again (function
// bodies, loop bodies, branches), kept so that the next run need not learn it again.
//
// Per expression the decoded form records what it is: a literal, a word read from a local or global slot, a
// paren, an assignment, a call with the arity and argument expressions of the function the word held, the
// infix operators after it, and the control natives (if, either, loop, while ...) whose blocks it decodes as
// well. Every run checks each call and operator word's current value against the value it was decoded with;
// on a difference, or anything else unexpected, it hands the expression to the plain evaluator at the same
// position and carries on from wherever that ends. A block whose cells change (any modifying action, bind,
// a set-path into it) drops its decoded form through series_changed; a run in progress notices and
// continues plainly. Tracing runs everything plainly.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace zol {

// When blocks are decoded: on their second evaluation, on their first, or never (the tests run the case
// tables all three ways).
enum class CodePolicy : uint8_t { automatic, always, never };
extern CodePolicy g_code_policy;

// Runs a block through its decoded form when it has one or gets one now: its result is then pushed (and with
// to_slot copied into the result slot), or an exit is pending, and the answer is true. False when the block
// is to be evaluated plainly; nothing has been done then.
bool code_run_block(const Cell* block, bool to_slot);

// Start-up: the memory manager's and collector's hooks.
void code_init();

struct CodeStats {
    uint64_t decoded;  // blocks decoded
    uint64_t dropped;  // decoded forms dropped because their block changed
};
const CodeStats& code_stats();

}  // namespace zol
