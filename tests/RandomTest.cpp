#include "NeuralNets/Random.h"

#include <gtest/gtest.h>

namespace {

TEST(RandomTest, GeneratorSequenceForKnownSeeds) {
  SeedRandom(12345);
  const int expected[] = {15301, 24996, 10921, 23577, 19316, 10386};
  for (int e : expected) EXPECT_EQ(NextRandom(), e);
  SeedRandom(1);
  EXPECT_EQ(NextRandom(), 346);
  EXPECT_EQ(NextRandom(), 130);
  EXPECT_EQ(NextRandom(), 10982);
}

TEST(RandomTest, SeedingRestartsTheSequenceAndStateIsShared) {
  SeedRandom(777);
  const int a = NextRandom(), b = NextRandom();
  SeedRandom(777);
  std::uint32_t state = RandomState();
  EXPECT_EQ(state, 777u);
  EXPECT_EQ(RandomStep(state), a);
  EXPECT_EQ(RandomStep(state), b);
  RandomState() = state;
  SeedRandom(777);
  NextRandom();
  NextRandom();
  EXPECT_EQ(RandomState(), state);
}

TEST(RandomTest, DrawEdgeValuesInExtendedPrecision) {
  const long double range = 2.0L;
  EXPECT_EQ(RandomWeightFromValue(0, -1.0L, range), -1.0);
  EXPECT_EQ(RandomWeightFromValue(32767, -1.0L, range), -1.0);  // 32767 mod 32767 is 0
  EXPECT_EQ(RandomWeightFromValue(32766, -1.0L, range), 0x1.fff7ffefffe00p-1);
  EXPECT_EQ(RandomWeightFromValue(1, -1.0L, range), -0x1.fff7ffefffe00p-1);
  // Here the extended-precision result differs from plain double arithmetic.
  EXPECT_EQ(RandomWeightFromValue(16383, -1.0L, range), -0x1.0002000400080p-15);
  EXPECT_NE(-1.0 + 16383 * (1.0 / 32767) * 2.0, -0x1.0002000400080p-15);
}

TEST(RandomTest, EachDrawConsumesOneValue) {
  SeedRandom(12345);
  EXPECT_EQ(RandomWeightDraw(-0.5, 0.5), -0x1.0ea21d443a887p-5);
  EXPECT_EQ(RandomWeightDraw(-0.5, 0.5), 0x1.0d261a4c34987p-2);
  EXPECT_EQ(RandomWeightDraw(-0.5, 0.5), -0x1.556aaad555aabp-3);
  EXPECT_EQ(NextRandom(), 23577);
}

}  // namespace
