#include "NeuralNets/TrainingRandom.h"

#include "KQmessage/Assert.h"

namespace {

std::uint64_t Rotate(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

TTrainingRandom::TTrainingRandom(std::uint64_t seed) {
  for (std::uint64_t& word : s) word = SplitMix(seed);
}

std::uint64_t TTrainingRandom::Next() {
  const std::uint64_t result = Rotate(s[1] * 5, 7) * 9;
  const std::uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = Rotate(s[3], 45);
  return result;
}

std::uint64_t TTrainingRandom::Below(std::uint64_t bound) {
  MAPSMITH_ASSERT(bound >= 1);
  // 2^64 mod bound: draws below it would make the low remainders likelier.
  const std::uint64_t threshold = (0 - bound) % bound;
  for (;;) {
    const std::uint64_t r = Next();
    if (r >= threshold) return r % bound;
  }
}

double TTrainingRandom::Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
