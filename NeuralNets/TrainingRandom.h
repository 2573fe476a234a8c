// The pseudo-random generator of map training: seeded explicitly, made of
// 64-bit integer operations only, with bounded and real draws of its own, so
// that a seed gives the same sequence on every platform and compiler. It is
// separate from the process-wide generator of the network model, which it
// neither reads nor changes.
#pragma once

#include <cstdint>

// xoshiro256** whose state is filled from the seed by splitmix64.
class TTrainingRandom {
 public:
  explicit TTrainingRandom(std::uint64_t seed);

  // The next 64 random bits.
  std::uint64_t Next();
  // A number from 0 to bound - 1, every value equally likely (draws that
  // would favour low values are rejected and drawn again). bound >= 1.
  std::uint64_t Below(std::uint64_t bound);
  // A real number from [0, 1): a multiple of 2^-53.
  double Unit();

 private:
  std::uint64_t s[4];
};
