// The random number generator (MT19937), the secure source, and the angle reduction of the
// trigonometric natives. Also fixes the hash seed before any hash table exists.
#pragma once
#include <cstdint>

namespace zol {

extern uint32_t g_hash_seed;

void init_random();
void init_genrand(uint32_t seed);
uint32_t genrand();
// A non-negative 31-bit number from the operating system's secure source.
uint32_t secure_rand();
// A non-negative 31-bit draw: secure_rand, or genrand with its top bit cleared.
inline uint32_t random_draw(bool secure) { return secure ? secure_rand() : genrand() & 0x7FFFFFFF; }
// A uniformly drawn integer from 1 to n (from n to -1 for a negative n; 0 for 0).
int32_t random_range(bool secure, int32_t n);

enum AngleMode { ANGLE_TANGENT = 0, ANGLE_COSINE = 1, ANGLE_SINE = 2 };
double angle_to_radians(double degrees, AngleMode mode);

}  // namespace zol
