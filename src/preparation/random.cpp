#include "preparation/random.h"

namespace pyokoran {

void SeedRandom(RandomGenerator& random, uint32_t seed) { random.random_state = seed; }
int32_t RandomRaw(RandomGenerator&) { return 0; }
double RandomUnit(RandomGenerator&) { return 0.0; }

}  // namespace pyokoran
