// MT19937 as published by Matsumoto and Nishimura, and the helpers built on it.
#include "random.h"

#include <cmath>

#include "platform/platform.h"

namespace zol {

uint32_t g_hash_seed = 0;

namespace {
constexpr int N = 624;
constexpr int M = 397;
uint32_t g_state[N];
int g_index = N;
}  // namespace

void init_random() {
    init_genrand(19650218u);
    g_hash_seed = 0x5A6F6C21u;  // fixed, non-zero: hashes must agree between runs of the same build
}

void init_genrand(uint32_t seed) {
    g_state[0] = seed;
    for (int i = 1; i < N; i++) g_state[i] = 1812433253u * (g_state[i - 1] ^ (g_state[i - 1] >> 30)) + uint32_t(i);
    g_index = N;
}

uint32_t genrand() {
    if (g_index >= N) {
        for (int i = 0; i < N; i++) {
            uint32_t y = (g_state[i] & 0x80000000u) | (g_state[(i + 1) % N] & 0x7FFFFFFFu);
            g_state[i] = g_state[(i + M) % N] ^ (y >> 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
        }
        g_index = 0;
    }
    uint32_t y = g_state[g_index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}

uint32_t secure_rand() {
    uint32_t v;
    platform::secure_random_bytes(&v, sizeof v);
    return v & 0x7FFFFFFFu;
}

int32_t random_range(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - int32_t(random_draw(secure));
    bool negative = n < 0;
    uint32_t m = uint32_t(negative ? -n : n);
    // Rejection sampling keeps every result equally likely.
    uint32_t limit = (0x7FFFFFFFu / m) * m;
    uint32_t r;
    do {
        r = random_draw(secure);
    } while (r >= limit);
    int32_t result = int32_t(r % m) + 1;
    return negative ? -result : result;
}

double angle_to_radians(double a, AngleMode mode) {
    a = std::fmod(a, 360.0);
    if (a > 180.0 || a < -180.0) a += a < 0 ? 360.0 : -360.0;
    if (a > 90.0 || a < -90.0) {
        switch (mode) {
            case ANGLE_TANGENT: a += a < 0 ? 180.0 : -180.0; break;
            case ANGLE_SINE: a = a < 0 ? -180.0 - a : 180.0 - a; break;
            case ANGLE_COSINE: break;
        }
    }
    return a * 3.141592653589793 / 180.0;
}

}  // namespace zol
