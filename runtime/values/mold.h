// Mold and form support: the dispatch to each datatype's form and mold actions, the guard against values
// that contain themselves (the visited-series stack), indentation, and the replication of /dup.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/cycles.h"

namespace zol {

// Forms or molds a value into the output string through its datatype; returns the remaining part budget.
int form_value(const Cell* value, Cell* out, const MoldArgs& args, int budget);
int mold_value(const Cell* value, Cell* out, const MoldArgs& args, int budget);

// When the value's series (an object's context) is already being walked, writes the cycle marker
// ("[...]", "(...)", "#[...]", "make object! [...]", or "..." when forming) and takes its length from the
// budget; true then.
bool cycles_detect(const Cell* value, Cell* out, int* budget, bool mold);

// Holds a node on the visited-series stack for the time of a walk; an error raised during the walk pops
// it too.
class VisitGuard {
public:
    explicit VisitGuard(uint32_t node) { cycles_push(node); }
    // The two nodes a comparison walks together, as one level.
    VisitGuard(uint32_t a, uint32_t b) { cycles_push_pair(a, b); }
    ~VisitGuard() { cycles_pop(); }
    VisitGuard(const VisitGuard&) = delete;
    VisitGuard& operator=(const VisitGuard&) = delete;
};

// Appends level x four spaces; returns the budget less what was written.
int mold_indent(Cell* out, int level, int budget);

// Repeats the first unit of the buffer until it holds count units, doubling the copied run each time.
// Returns the address after the last unit.
uint8_t* memory_replicate(uint8_t* buffer, uint32_t unit_bytes, uint32_t count);

// A value's mold (or form) as UTF-8, for C++ callers: reports, tests, the console.
std::string mold_text(const Cell* value, bool all = false);
std::string form_text(const Cell* value);

}  // namespace zol
