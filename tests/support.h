// Shared by the C++ tests: a fixture that starts every test with empty stacks and nothing pending, makers of
// scalar cells, temporary paths and whole-file reads, and helpers to run code that raises errors.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "runtime/cell.h"
#include "runtime/datatypes/error.h"
#include "runtime/exits.h"
#include "runtime/values/predefined.h"
#include "runtime/stack.h"

namespace zol::test {

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        stack_init();
        g_system.pending = UNWIND_NONE;
    }
    void TearDown() override { g_system.pending = UNWIND_NONE; }
};

inline Cell integer(int32_t v) {
    Cell c{};
    set_integer(&c, v);
    return c;
}
// A float!, or a percent! or time! value, which share its payload.
inline Cell real(double v, TypeId t = TYPE_FLOAT) {
    Cell c{};
    set_float(&c, v, t);
    return c;
}
inline Cell chr(uint32_t cp) {
    Cell c{};
    set_char(&c, cp);
    return c;
}
// A cell of a type that has no values of its own yet: only its header is looked at.
inline Cell bare(TypeId t) {
    Cell c{};
    c.header = t;
    return c;
}

// A path in the temporary folder that no other test run uses: test binaries of several build trees may run at
// once on one machine.
inline std::filesystem::path unique_temporary_path(const std::string& stem) {
    return std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(std::random_device{}()));
}

// The whole content of a file, as bytes (empty when it cannot be read).
inline std::string read_whole(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs body inside a try frame, as the try native does. Returns the catalog entry of the error it raised
// (ERR_COUNT when it raised none) and leaves the stacks as the try site finds them: the error stops at the
// nearest try or try/all frame, which may lie inside body.
inline ErrorId catch_error(const std::function<void()>& body, Cell* error_out = nullptr) {
    stack_mark_try(&g_word[W_TRY]);
    try {
        body();
    } catch (const ErrorUnwind&) {
        Cell error = *stack_top();
        try_set_error_result();
        g_system.pending = UNWIND_NONE;
        if (error_out) *error_out = error;
        return cell_is(&error, TYPE_ERROR) ? error_id(&error) : ERR_COUNT;
    }
    unwind_frame_drop();
    return ERR_COUNT;
}

}  // namespace zol::test
