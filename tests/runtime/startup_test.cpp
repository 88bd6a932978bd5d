// Start-up: the steps of the runtime initialisation, in their order, and what start-up leaves behind.
#include "runtime/datatypes/registry.h"
#include "runtime/gc.h"
#include "boot/startup.h"
#include "runtime/valuestore.h"
#include "tests/support.h"

namespace zol::test {
namespace {

TEST(Startup, StepsRunInTheirFixedOrder) {
    size_t count = 0;
    const InitStep* steps = init_steps(&count);
    const char* order[] = {"root-building flag", "output hooks", "platform", "random", "memory manager",
                           "external-resource table", "datatypes", "actions table", "root block",
                           "global context", "case-folding", "symbol hash table", "datatype-name words",
                           "predefined words", "natives table", "Parse", "ownership table", "checksum",
                           "argument stack", "lexer tables", "boot image load", "interpreter", "value store",
                           "compression state"};
    ASSERT_EQ(count, sizeof order / sizeof order[0]);
    for (size_t i = 0; i < count; i++) {
        EXPECT_EQ(std::string(steps[i].name).find(order[i]), 0u) << "step " << i << " is " << steps[i].name;
    }
}

TEST(Startup, StartUpLeavesTheRuntimeReady) {
    EXPECT_TRUE(g_root_building);
    EXPECT_NE(g_root_block, 0u);
    EXPECT_TRUE(g_types.registered(TYPE_LOGIC));
    EXPECT_EQ(valuestore_capacity(), 100u);
    EXPECT_TRUE(g_gc_enabled) << "the global code switches collection on";
}

}  // namespace
}  // namespace zol::test
