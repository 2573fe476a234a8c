#include "NeuralNets/Random.h"

namespace {
std::uint32_t randomState = 1;
}

void SeedRandom(std::uint32_t seed) noexcept { randomState = seed; }

int NextRandom() noexcept { return RandomStep(randomState); }

std::uint32_t& RandomState() noexcept { return randomState; }

double RandomWeightDraw(double min, double max) noexcept {
  const long double lmin = min;
  return RandomWeightFromValue(NextRandom(), lmin, static_cast<long double>(max) - lmin);
}
