// The random generator against the published MT19937 outputs, ranges and the angle reduction.
#include <cmath>
#include <random>

#include "runtime/random.h"
#include "tests/support.h"

namespace zol::test {
namespace {

TEST(Random, MatchesTheReferenceMersenneTwister) {
    for (uint32_t seed : {5489u, 19650218u, 0u, 0xFFFFFFFFu}) {
        init_genrand(seed);
        std::mt19937 reference(seed);
        for (int i = 0; i < 2000; i++) ASSERT_EQ(genrand(), reference()) << "seed " << seed << " output " << i;
    }
    init_genrand(5489u);
    EXPECT_EQ(genrand(), 3499211612u) << "the first output for the reference's default seed";
}

TEST(Random, RangeLimits) {
    init_genrand(1);
    for (int i = 0; i < 100; i++) {
        EXPECT_EQ(random_range(false, 1), 1);
        EXPECT_EQ(random_range(false, -1), -1);
        EXPECT_EQ(random_range(false, 0), 0);
        int32_t r = random_range(false, 6);
        EXPECT_TRUE(r >= 1 && r <= 6) << r;
        r = random_range(false, -6);
        EXPECT_TRUE(r >= -6 && r <= -1) << r;
        r = random_range(false, INT32_MIN);
        EXPECT_LT(r, 0);
        r = random_range(true, 1000);
        EXPECT_TRUE(r >= 1 && r <= 1000) << r;
    }
    EXPECT_LE(secure_rand(), 0x7FFFFFFFu);
}

TEST(Random, AngleReduction) {
    constexpr double deg = 3.141592653589793 / 180.0;
    struct Case {
        double angle;
        AngleMode mode;
        double expected_degrees;
    } cases[] = {
        {200, ANGLE_TANGENT, 20}, {200, ANGLE_SINE, -20}, {200, ANGLE_COSINE, -160},
        {270, ANGLE_TANGENT, -90}, {270, ANGLE_SINE, -90}, {270, ANGLE_COSINE, -90},
        {450, ANGLE_TANGENT, 90},  {-30, ANGLE_SINE, -30}, {135, ANGLE_SINE, 45},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(angle_to_radians(c.angle, c.mode), c.expected_degrees * deg, 1e-12) << c.angle << " mode " << c.mode;
    }
}

}  // namespace
}  // namespace zol::test
