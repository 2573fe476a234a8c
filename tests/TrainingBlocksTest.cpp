// The pieces training and the quality measures share: the exponential, the
// neighbourhood and its table, and the screened winner search.
#include "NeuralNets/TrainingBlocks.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "NeuralNets/TKohonenNetwork.h"

namespace {

TEST(TrainingExpTest, AgreesWithTheMathLibraryWithinTwoUnitsInTheLastPlace) {
  EXPECT_EQ(TrainingExp(0.0), 1.0);
  EXPECT_EQ(TrainingExp(-0.0), 1.0);
  EXPECT_EQ(TrainingExp(-std::numeric_limits<double>::infinity()), 0.0);
  EXPECT_EQ(TrainingExp(-746.0), 0.0);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> small(-2, 0), wide(-708, 0), tiny(-745, -708);
  for (int k = 0; k < 30000; ++k) {
    for (double x : {small(rng), wide(rng)}) {
      const double got = TrainingExp(x), want = std::exp(x);
      ASSERT_LE(std::abs(got - want), 2 * (std::nextafter(want, 1e300) - want)) << x;
    }
    // Subnormal results: within two of the smallest steps.
    const double x = tiny(rng);
    ASSERT_LE(std::abs(TrainingExp(x) - std::exp(x)), 1e-323) << x;
  }
  // The vector form gives the scalar form's bits, edge cases included.
  std::vector<double> xs = {0.0, -0.0, -1e-300, -708.0, -708.5, -745.5, -1e308,
                            -std::numeric_limits<double>::infinity()};
  for (int k = 0; k < 1000; ++k) xs.push_back(k % 2 ? small(rng) : wide(rng));
  std::vector<double> ys(xs.size());
  TPreparedMap::ExpMany(xs.data(), ys.data(), static_cast<int>(xs.size()));
  for (std::size_t k = 0; k < xs.size(); ++k)
    ASSERT_EQ(std::bit_cast<std::uint64_t>(ys[k]), std::bit_cast<std::uint64_t>(TrainingExp(xs[k]))) << xs[k];
}

TEST(NeighbourhoodTest, GaussianBubbleAndTheCut) {
  using enum TNeighbourhood;
  EXPECT_EQ(NeighbourhoodValue(Gaussian, 0, 0.0, true), 1.0);
  EXPECT_EQ(NeighbourhoodValue(Gaussian, 1, 0.0, false), 0.0);
  EXPECT_DOUBLE_EQ(NeighbourhoodValue(Gaussian, 2, 1.0, true), std::exp(-1.0));
  EXPECT_DOUBLE_EQ(NeighbourhoodValue(Gaussian, 8, 2.0, true), std::exp(-1.0));
  // Cut where d^2 > 73.68 s^2 (the gaussian is below 1e-16 there).
  EXPECT_GT(NeighbourhoodValue(Gaussian, 73, 1.0, true), 1e-16);
  EXPECT_EQ(NeighbourhoodValue(Gaussian, 74, 1.0, true), 0.0);
  EXPECT_LT(NeighbourhoodValue(Gaussian, 74, 1.0, false), 1e-16);
  EXPECT_GT(NeighbourhoodValue(Gaussian, 74, 1.0, false), 0.0);
  EXPECT_EQ(NeighbourhoodValue(Bubble, 4, 2.0, true), 1.0);
  EXPECT_EQ(NeighbourhoodValue(Bubble, 5, 2.0, true), 0.0);
  EXPECT_EQ(NeighbourhoodValue(Bubble, 0, 0.0, true), 1.0);

  // The table gives the function's values for every distance between two
  // neurons, on a torus too, for a grid it tabulates and a long thin one it
  // computes value by value.
  for (std::vector<int> dims : {std::vector<int>{5, 7}, std::vector<int>{2, 1500}}) {
    TKohonenNetwork net(1, 2, dims.data());
    for (bool torus : {false, true}) {
      const TMapGrid grid(net, torus);
      TNeighbourhoodTable table(grid, Gaussian, true);
      for (double s : {0.0, 0.5, 1.0, 3.0, 50.0}) {
        table.SetRadius(s);
        for (int a = 0; a < grid.Neurons(); a += 17)
          for (int b = 0; b < grid.Neurons(); b += a % 3 + 1) {
            const long long d2 = grid.Distance2(a, b);
            ASSERT_EQ(table(d2), NeighbourhoodValue(Gaussian, d2, s, true)) << d2;
          }
      }
    }
  }
}

// The screened search against the full one: winners and runners-up, on
// random maps and on the cases that stress the bounds.
void ExpectScreenAgrees(TKohonenNetwork& net, const std::vector<std::vector<double>>& rows,
                        const std::vector<double>& shift) {
  const TPreparedMap map(net);
  const TWinnerScreen screen(map, shift.data());
  TScreenScratch scratch;
  std::vector<double> d(map.Stride());
  for (std::size_t first = 0; first < rows.size(); first += TPreparedMap::kScreenRows) {
    const int count = static_cast<int>(std::min<std::size_t>(TPreparedMap::kScreenRows, rows.size() - first));
    const double* xs[TPreparedMap::kScreenRows];
    for (int r = 0; r < count; ++r) xs[r] = rows[first + r].data();
    for (bool second : {false, true}) {
      TPreparedMap::Nearest found[TPreparedMap::kScreenRows];
      screen.Search(xs, count, second, found, scratch);
      for (int r = 0; r < count; ++r) {
        map.BlockDistances(xs + r, 1, d.data());
        TPreparedMap::Nearest all;
        for (int i = 0; i < map.NumNeurons(); ++i) all.Offer(i, d[i]);
        ASSERT_EQ(found[r].best, all.best) << "row " << first + r;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(found[r].bestDistance), std::bit_cast<std::uint64_t>(all.bestDistance));
        if (second) {
          ASSERT_EQ(found[r].second, all.second) << "row " << first + r;
        }
      }
    }
  }
}

TKohonenNetwork RandomNet(std::mt19937_64& rng, int n, int u, double lo, double hi) {
  TKohonenNetwork net(n, 1, &u);
  std::uniform_real_distribution<double> uni(lo, hi);
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < n; ++j) net.GetConnections(1, 2)->Weight(j, i) = uni(rng);
  return net;
}

std::vector<std::vector<double>> RandomRowsOf(std::mt19937_64& rng, int count, int n, double lo, double hi) {
  std::uniform_real_distribution<double> uni(lo, hi);
  std::vector<std::vector<double>> rows(count, std::vector<double>(n));
  for (auto& r : rows)
    for (double& v : r) v = uni(rng);
  return rows;
}

TEST(WinnerScreenTest, FindsWhatTheFullSearchFinds) {
  std::mt19937_64 rng(31);
  for (int u : {1, 2, 7, 33, 300}) {
    for (int n : {0, 1, 5, 64}) {
      SCOPED_TRACE(testing::Message() << u << " neurons, " << n << " inputs");
      TKohonenNetwork net = RandomNet(rng, n, u, -1, 1);
      ExpectScreenAgrees(net, RandomRowsOf(rng, 21, n, -1.2, 1.2), std::vector<double>(n, 0.1));
    }
  }
  // Ties and near ties: duplicated neurons, neurons one unit in the last
  // place apart, rows on the neurons and halfway between two.
  TKohonenNetwork net = RandomNet(rng, 6, 80, 0, 1);
  TBasicConnections* c = net.GetConnections(1, 2);
  for (int j = 0; j < 6; ++j) {
    c->Weight(j, 50) = c->Weight(j, 10);
    c->Weight(j, 51) = std::nextafter(c->Weight(j, 11), 2.0);
  }
  std::vector<std::vector<double>> rows;
  for (int i : {10, 11, 50, 51, 3}) {
    std::vector<double> on(6), half(6);
    for (int j = 0; j < 6; ++j) on[j] = c->Weight(j, i), half[j] = (c->Weight(j, i) + c->Weight(j, i + 1)) / 2;
    rows.push_back(on);
    rows.push_back(half);
  }
  ExpectScreenAgrees(net, rows, std::vector<double>(6, 0.5));
  // Far from the shift (loose bounds: many candidates, then the full
  // search), huge values (beyond single precision) and tiny ones.
  TKohonenNetwork far = RandomNet(rng, 4, 100, 1e6, 1e6 + 1);
  ExpectScreenAgrees(far, RandomRowsOf(rng, 10, 4, 1e6, 1e6 + 1), std::vector<double>(4, 0.0));
  TKohonenNetwork huge = RandomNet(rng, 4, 40, -1e30, 1e30);
  ExpectScreenAgrees(huge, RandomRowsOf(rng, 10, 4, -1e30, 1e30), std::vector<double>(4, 0.0));
  TKohonenNetwork tiny = RandomNet(rng, 4, 40, -1e-30, 1e-30);
  ExpectScreenAgrees(tiny, RandomRowsOf(rng, 10, 4, -1e-30, 1e-30), std::vector<double>(4, 0.0));
}

}  // namespace
