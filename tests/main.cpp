// Test entry: starts the runtime on an interpreter-sized thread, switches collection on as the global
// code does, and runs the tests there.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "boot/startup.h"

namespace {

struct Run {
    int argc;
    char** argv;
    int status;
};

void run_tests(void* raw) {
    auto* run = static_cast<Run*>(raw);
    zol::runtime_start(run->argc, run->argv);
    zol::run_global_code();
    run->status = RUN_ALL_TESTS();
    // ctest names some tests by a filter (the case files): one that selects nothing must not pass silently.
    if (run->status == 0 && !GTEST_FLAG_GET(list_tests) && ::testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        run->status = 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests fork: the child must re-run from main, not clone this process's threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Run run{argc, argv, 1};
    zol::platform::run_with_stack(zol::INTERPRETER_STACK_BYTES, run_tests, &run);
    return run.status;
}
