// The error catalog: boot/errors.zol is the one source; the runtime's table (runtime/errors.def) must say the
// same thing, class by class and id by id.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interpreter/load.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/values/mold.h"
#include "tests/generated.h"
#include "tests/support.h"

namespace zol::test {
namespace {

TEST(ErrorCatalog, CommittedTableMatchesAFreshGeneration) {
    expect_fresh_generation("gen_errors.py", "runtime/errors.def");
}

class ErrorCatalogSource : public RuntimeTest {};

// Read by the lexer, the catalog gives every class its code base and type text and every id its template,
// in the table's order.
TEST_F(ErrorCatalogSource, SaysWhatTheRuntimeRaises) {
    std::string text = read_whole(repository_root() / "boot" / "errors.zol");
    GcRoot code;
    load_script(reinterpret_cast<const uint8_t*>(text.data()), text.size(), code.get(), nullptr);
    Series* s = cell_series(code.get());
    uint32_t at = series_index(code.get());
    ASSERT_EQ(s->used() - at, 2u * ERRC_COUNT) << "one set-word and one block per class";
    uint32_t id = 0;
    for (uint32_t c = 0; c < ERRC_COUNT; c++) {
        const Cell* name = s->cells() + at + 2 * c;
        const Cell* body = name + 1;
        const ErrorClassInfo& info = error_class_info(ErrorClass(c));
        ASSERT_TRUE(cell_is(name, TYPE_SET_WORD));
        EXPECT_EQ(mold_text(name), std::string(info.word) + ":");
        ASSERT_TRUE(cell_is(body, TYPE_BLOCK));
        Series* b = cell_series(body);
        ASSERT_GE(b->used(), 4u);
        EXPECT_EQ(mold_text(b->cells() + 1), std::to_string(c * 100)) << info.word;
        EXPECT_EQ(mold_text(b->cells() + 3), "\"" + std::string(info.text) + "\"") << info.word;
        for (uint32_t i = 4; i + 1 < b->used(); i += 2, id++) {
            ASSERT_LT(id, uint32_t(ERR_COUNT));
            const ErrorInfo& e = error_info(ErrorId(id));
            EXPECT_EQ(uint32_t(e.cls), c);
            EXPECT_EQ(mold_text(b->cells() + i), std::string(e.word) + ":");
            // The template as the table holds it, read back by the same lexer, molds the same.
            GcRoot from_table;
            load_global(reinterpret_cast<const uint8_t*>(e.message), std::strlen(e.message), from_table.get());
            EXPECT_EQ(mold_text(b->cells() + i + 1), mold_text(cell_series(from_table.get())->cells())) << e.word;
        }
    }
    EXPECT_EQ(id, uint32_t(ERR_COUNT));
}

}  // namespace
}  // namespace zol::test
