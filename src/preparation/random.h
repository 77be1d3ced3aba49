// The run's one pseudo-random generator. Every random number of a run comes from it, in a
// fixed order, so a run is reproduced exactly from its seed.
#pragma once

#include <cstdint>

namespace pyokoran {

struct RandomGenerator {
  uint32_t random_state = 0;
};

void SeedRandom(RandomGenerator& random, uint32_t seed);
// 0 ... 32767.
int32_t RandomRaw(RandomGenerator& random);
// [0, 1), from two raw draws.
double RandomUnit(RandomGenerator& random);

}  // namespace pyokoran
