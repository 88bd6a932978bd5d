// What the C++ benchmarks share: the runtime started as the program starts it, on a machine stack of the
// interpreter's size, and the timing line on stderr that the python3 twins print in the same shape.
#pragma once
#include <chrono>
#include <cstdio>

#include "platform/platform.h"
#include "boot/startup.h"

namespace zol::bench {

using Clock = std::chrono::steady_clock;

// One timing line: the step's name and the seconds since start.
inline void report(const char* name, Clock::time_point start) {
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    std::fprintf(stderr, "%-12s %8.3f s\n", name, s);
}

// Runs the workloads once the runtime and its built-in scripts are up, on the interpreter's own thread;
// returns main's status.
template <void (*Workloads)()>
int run_in_runtime() {
    platform::run_with_stack(
        INTERPRETER_STACK_BYTES,
        [](void*) {
            char name[] = "bench";
            char* argv[] = {name, nullptr};
            runtime_start(1, argv);
            run_global_code();
            Workloads();
        },
        nullptr);
    return 0;
}

}  // namespace zol::bench
