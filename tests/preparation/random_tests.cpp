#include "preparation/random.h"

#include <gtest/gtest.h>

namespace pyokoran {
namespace {

TEST(RandomGenerator, FirstRawValuesOfSeedOne) {
  RandomGenerator random;
  SeedRandom(random, 1);
  for (int32_t expected : {41, 18467, 6334, 26500, 19169, 15724}) {
    EXPECT_EQ(RandomRaw(random), expected);
  }
}

TEST(RandomGenerator, StateWrapsModulo2To32) {
  // 0xFFFFFFFF * 214013 + 2531011 leaves 2316998, whose bits 16 ... 30 are 35.
  RandomGenerator random;
  SeedRandom(random, 0xFFFFFFFFu);
  EXPECT_EQ(RandomRaw(random), 35);
  EXPECT_EQ(random.random_state, 2316998u);
}

TEST(RandomGenerator, UnitAfterTwoDiscardedDrawsOfSeedOne) {
  RandomGenerator random;
  SeedRandom(random, 1);
  RandomRaw(random);
  RandomRaw(random);
  // (6334 * 32767.0 + 26500) * 2^-30
  EXPECT_DOUBLE_EQ(RandomUnit(random), 0.1933171208947897);
  EXPECT_EQ(int32_t(0.1933171208947897 * 12), 2);
}

}  // namespace
}  // namespace pyokoran
