#include "preparation/random.h"

namespace pyokoran {

void SeedRandom(RandomGenerator& random, uint32_t seed) { random.random_state = seed; }

int32_t RandomRaw(RandomGenerator& random) {
  random.random_state = random.random_state * 214013u + 2531011u;  // wraps modulo 2^32
  return int32_t((random.random_state >> 16) & 0x7FFF);
}

double RandomUnit(RandomGenerator& random) {
  const int32_t r1 = RandomRaw(random);
  const int32_t r2 = RandomRaw(random);
  // 32767, not 32768: the largest result is 0.999969482421875.
  return (r1 * 32767.0 + r2) * 9.313225746154785e-10;  // 2^-30
}

}  // namespace pyokoran
