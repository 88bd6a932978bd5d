// Start-up: what the runtime initialisation and the global code leave behind.
#include "runtime/datatypes/registry.h"
#include "runtime/gc.h"
#include "boot/startup.h"
#include "runtime/valuestore.h"
#include "tests/support.h"

namespace zol::test {
namespace {

TEST(Startup, StartUpLeavesTheRuntimeReady) {
    EXPECT_TRUE(g_root_building);
    EXPECT_NE(g_root_block, 0u);
    EXPECT_TRUE(g_types.registered(TYPE_LOGIC));
    EXPECT_EQ(valuestore_capacity(), 100u);
    EXPECT_TRUE(g_gc_enabled) << "the global code switches collection on";
}

}  // namespace
}  // namespace zol::test
