// The platform layer: zone packing, sleep lengths, environment, current directory and time.
#include "platform/platform.h"
#include "runtime/system.h"
#include "tests/support.h"

#include <cmath>
#include <regex>

namespace zol::test {
namespace {

TEST(Platform, ZonePacking) {
    struct Case {
        int minutes;
        uint32_t zone;
    } cases[] = {
        {0, 0},
        {330, (5 << 2) | 2},             // +5:30
        {-210, ((0x10 | 3) << 2) | 2},   // -3:30
        {-30, (0x10 << 2) | 2},          // -0:30 keeps its sign
        {-59, (0x10 << 2) | 3},
        {-1, 0x10 << 2},
        {60, 1 << 2},
        {-720, (0x10 | 12) << 2},
        {840, 14 << 2},                  // +14:00
    };
    for (const Case& c : cases) EXPECT_EQ(platform::zone_pack(c.minutes), c.zone) << c.minutes;
}

TEST(Platform, SleepLengths) {
    EXPECT_EQ(platform::sleep_milliseconds(0), 1u);
    EXPECT_EQ(platform::sleep_milliseconds(0.0004), 1u);
    EXPECT_EQ(platform::sleep_milliseconds(1.5), 1500u);
    EXPECT_EQ(platform::sleep_milliseconds(-3), 1u);
}

TEST(Platform, EnvironmentAndDirectory) {
    EXPECT_FALSE(platform::get_env("ZOL_TEST_SURELY_MISSING").has_value());
    std::string v = "42 and more";
    EXPECT_TRUE(platform::set_env("ZOL_TEST_VAR", &v));
    EXPECT_EQ(platform::get_env("ZOL_TEST_VAR").value_or(""), v);
    EXPECT_TRUE(platform::set_env("ZOL_TEST_VAR", nullptr));
    EXPECT_FALSE(platform::get_env("ZOL_TEST_VAR").has_value());
    EXPECT_FALSE(platform::set_env("BAD=NAME", &v));

    std::string here = platform::get_current_dir();
    ASSERT_FALSE(here.empty());
    EXPECT_TRUE(platform::set_current_dir("/"));
    EXPECT_EQ(platform::get_current_dir(), "/");
    EXPECT_TRUE(platform::set_current_dir(here));
    EXPECT_FALSE(platform::set_current_dir("/surely/not/a/directory"));
}

TEST(Platform, TimeAndDate) {
    double t = platform::get_time(true);
    EXPECT_GE(t, 0.0);
    EXPECT_LT(t, 86400.0);
    EXPECT_EQ(platform::get_time(false), std::floor(platform::get_time(false)));
    uint32_t d = platform::get_date(true);
    EXPECT_GE(d >> 17, 2024u);
    uint32_t month = (d >> 12) & 0x1F, day = (d >> 7) & 0x1F;
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_TRUE(day >= 1 && day <= 31);
    EXPECT_EQ(d & 0x7F, 0u) << "a UTC date has zone 0";
}

TEST(Platform, BuildStamp) {
    EXPECT_TRUE(std::regex_match(build_stamp(), std::regex("\\d{2}-[A-Z][a-z]{2}-\\d{4}/\\d{2}:\\d{2}:\\d{2}")))
        << build_stamp();
}

}  // namespace
}  // namespace zol::test
