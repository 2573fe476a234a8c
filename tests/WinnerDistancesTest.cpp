#include "NeuralNets/WinnerDistances.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

double Plain(const double* row, const double* x, int n) {
  double s = 0.0;
  for (int j = 0; j < n; ++j) {
    const double e = x[j] - row[j];
    s += e * e;
  }
  return s;
}

// Bit equality, NaN included.
bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Both kernels against the plain loop, for every input count up to 13, every
// neuron count up to 8 and inputs of very different magnitudes.
TEST(WinnerDistancesTest, KernelsEqualThePlainLoopBitForBit) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> uni(-1, 1);
  for (int n = 0; n <= 13; ++n)
    for (int trial = 0; trial < 4; ++trial) {
      const double scale = trial == 1 ? 1e150 : trial == 2 ? 1e-150 : 1.0;
      std::vector<std::vector<double>> rows(8, std::vector<double>(n));
      for (auto& r : rows)
        for (double& w : r) w = uni(gen) * scale;
      std::vector<double> x(n), xx(2 * n);
      for (double& v : x) v = uni(gen) * scale;
      if (trial == 3 && n > 0) x[n / 2] = std::numeric_limits<double>::infinity();
      for (int j = 0; j < n; ++j) xx[2 * j] = xx[2 * j + 1] = x[j];
      const double* ptrs[8];
      for (int p = 0; p < 8; ++p) ptrs[p] = rows[p].data();
      for (int count = 1; count <= 8; ++count) {
        double d[8];
        winnerdistances::Narrow(ptrs, count, x.data(), xx.data(), n, d);
        for (int p = 0; p < count; ++p)
          EXPECT_TRUE(Same(d[p], Plain(ptrs[p], x.data(), n))) << n << " " << count << " " << p;
      }
      if (winnerdistances::HasWideRegisters()) {
        double d[8];
        winnerdistances::Wide8(ptrs, x.data(), n, d);
        for (int p = 0; p < 8; ++p) EXPECT_TRUE(Same(d[p], Plain(ptrs[p], x.data(), n)));
      }
    }
}

}  // namespace
