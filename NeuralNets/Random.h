// The process-wide pseudo-random generator and the random weight draw built on it.
// One 32-bit state for the whole process (single-threaded by design); seeding sets it.
#pragma once

#include <cstdint>

// Sets the generator's state to seed.
void SeedRandom(std::uint32_t seed) noexcept;

// Advances the generator and returns its next value, 0 to 32767.
int NextRandom() noexcept;

// The generator's state, for loops that draw many values: load it into a local,
// step it with RandomStep and store it back.
std::uint32_t& RandomState() noexcept;

// One step of the generator on a given state: state = state * 22695477 + 1
// (modulo 2^32); the value is bits 16 to 30 of the new state.
inline int RandomStep(std::uint32_t& state) noexcept {
  state = state * 22695477u + 1u;
  return static_cast<int>((state >> 16) & 0x7FFFu);
}

// The weight for generator value r in [min, min + range): k = r mod 32767,
// min + (k * q) * range with q the extended-precision value nearest 1/32767,
// all in extended precision, rounded once to double. range is max - min,
// formed in extended precision; callers in loops compute it once.
inline double RandomWeightFromValue(int r, long double min, long double range) noexcept {
  constexpr long double q = 1.0L / 32767.0L;
  const int k = r == 32767 ? 0 : r;
  return static_cast<double>(min + (static_cast<long double>(k) * q) * range);
}

// Draws one random weight in [min, max] (max itself is never produced);
// consumes exactly one generator value.
double RandomWeightDraw(double min, double max) noexcept;
