// Start-up: the entry sequence and the runtime initialisation, one table of steps in a fixed order.
// A step whose owner is not built yet stands in the table without a routine and is skipped visibly
// (init_steps lists it as such).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace zol {

struct InitStep {
    const char* name;
    void (*run)();  // null while the step's owner is not built
};

// The runtime initialisation's steps in their order.
const InitStep* init_steps(size_t* count);

// Brings the process and the runtime into a known state: the entry sequence up to and including the
// runtime initialisation. Runs on the interpreter thread.
void runtime_start(int argc, char** argv);
// Hands over to the global code; when it returns, collection is on and the built-in scripts have run.
void run_global_code();

// The front end the program hands over to once start-up is done: it gets the command-line arguments after
// the program name and answers the exit status.
using FrontEnd = int (*)(const std::vector<std::string>& args);

// The program's entry: starts the interpreter thread, which runs start-up and the global code, then the
// front end, and ends the process with the front end's status.
[[noreturn]] void zol_main(int argc, char** argv, FrontEnd front_end);

// Machine-stack size of the interpreter thread: deep enough that the call-frame limit is always reached
// before the machine stack runs out.
constexpr size_t INTERPRETER_STACK_BYTES = size_t(512) << 20;

}  // namespace zol
