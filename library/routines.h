// The routines of the base library: C++ entries that the library's scripts bind under Zol specs with
// make routine! (type predicates, quiet setters, the current directory, the system object's runtime
// switches).
#pragma once

namespace zol {

// Start-up: registers every entry by its name, before the built-in scripts run.
void library_routines_init();

}  // namespace zol
