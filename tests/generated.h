// Shared by the tests of committed generated files: runs the generator into a temporary file and compares
// its output with the committed one.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support.h"

namespace zol::test {

// The repository's root, from this header's place in it.
inline std::filesystem::path repository_root() { return std::filesystem::path(__FILE__).parent_path().parent_path(); }

// Runs `python3 tools/<tool> --output <temporary>` and expects the result to equal the committed file at
// `committed` (relative to the root). Skips when python3 is not installed.
inline void expect_fresh_generation(const std::string& tool, const std::string& committed) {
    if (std::system("python3 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not installed";
    namespace fs = std::filesystem;
    const fs::path root = repository_root();
    const fs::path fresh = unique_temporary_path(tool + ".out");
    std::string command = "python3 \"" + (root / "tools" / tool).string() + "\" --output \"" + fresh.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::string generated = read_whole(fresh);
    fs::remove(fresh);
    EXPECT_FALSE(generated.empty());
    EXPECT_TRUE(generated == read_whole(root / committed)) << committed << " is stale: run tools/" << tool;
}

}  // namespace zol::test
