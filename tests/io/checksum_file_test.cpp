// checksum of a file! reads the whole file: the case tables cannot make one, so this test writes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "interpreter/eval.h"
#include "interpreter/load.h"
#include "runtime/gc.h"
#include "tests/support.h"

namespace zol::test {
namespace {

class ChecksumFileTest : public RuntimeTest {
protected:
    // The value of Zol code, or the error it raised (ERR_COUNT when none).
    ErrorId run(const std::string& code, Cell* result) {
        stack_reset();
        GcRoot block;
        ErrorId id = catch_error([&] {
            load_global(reinterpret_cast<const uint8_t*>(code.data()), code.size(), block.get());
            eval_block(block.get(), false);
            *result = *stack_top();
        });
        g_system.pending = UNWIND_NONE;
        stack_reset();
        return id;
    }
};

TEST_F(ChecksumFileTest, SumsTheBytesOfTheFile) {
    std::filesystem::path file = unique_temporary_path("checksum-file");
    // Bytes no string holds as they stand: a zero and a byte that is not UTF-8.
    std::ofstream(file, std::ios::binary) << std::string("123456789\0\xFF", 11);
    Cell result;
    ASSERT_EQ(run("checksum %" + file.string() + " 'crc32", &result), ERR_COUNT);
    std::filesystem::remove(file);
    ASSERT_TRUE(cell_is(&result, TYPE_INTEGER));
    EXPECT_EQ(uint32_t(cell_int(&result)), 0xF0003DAAu);  // computed with python3's zlib.crc32
    EXPECT_EQ(run("checksum %" + file.string() + " 'crc32", &result), ERR_ACCESS_CANNOT_OPEN);
}

}  // namespace
}  // namespace zol::test
