// The command-line front-end: runs a script file, or reads code line by line from standard input and
// prints each result. A small stand-in that the console engine replaces.
#pragma once
#include <string>
#include <vector>

namespace zol {

// args: the command line after the program name. Returns the process status.
int front_end_run(const std::vector<std::string>& args);

}  // namespace zol
