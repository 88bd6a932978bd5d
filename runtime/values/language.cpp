// The language door's entries. Until the interpreter fills them in at start-up, each raises not-done: a
// datatype that calls into the language that early is a fault of start-up's order, reported as an error.
#include "language.h"

#include "runtime/exits.h"

namespace zol {

namespace {

[[noreturn]] void not_open() { fire(ERR_INTERNAL_NOT_DONE); }

}  // namespace

LanguageEntries g_language{
    [](const Cell*) { not_open(); },
    [](const Cell*, uint32_t, const Cell*, uint32_t) { not_open(); },
    [](const Cell*, const Cell*, const Cell*) -> int { not_open(); },
    [](Cell*, const Cell*, int32_t, const LexOptions&) -> int32_t { not_open(); },
};

}  // namespace zol
