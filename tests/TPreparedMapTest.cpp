#include "NeuralNets/TPreparedMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "NeuralNets/TKohonenNetwork.h"

namespace {

// The plain winner search, one neuron after another.
double PlainDistance(TKohonenNetwork& net, const double* x, int i) {
  TBasicConnections* c = net.GetConnections(1, 2);
  double d = 0.0;
  for (int j = 0; j < net.layers[1]->numNeurons; ++j) {
    const double e = x[j] - c->Weight(j, i);
    d += e * e;
  }
  return d;
}

int PlainWinner(TKohonenNetwork& net, const double* x) {
  int win = -1;
  double best = 0.0;
  for (int i = 0; i < net.layers[2]->numNeurons; ++i) {
    const double d = PlainDistance(net, x, i);
    if (win < 0 || !(d >= best)) {
      best = d;
      win = i;
    }
  }
  return win;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Checks every kernel the processor has against the plain search: each
// distance bit for bit, each winner, each copied weight vector, for blocks of
// 1 to 4 rows.
void ExpectPlain(TKohonenNetwork& net, const std::vector<std::vector<double>>& rows) {
  const int n = net.layers[1]->numNeurons, u = net.layers[2]->numNeurons;
  for (int lanes : {1, 2, 4, 8}) {
    if (!TPreparedMap::Supports(lanes)) continue;
    SCOPED_TRACE(lanes);
    TPreparedMap map(net, lanes);
    ASSERT_EQ(map.Lanes(), lanes);
    std::vector<double> d(u), w(n), y(n);
    for (const auto& x : rows) {
      map.Distances(x.data(), d.data());
      for (int i = 0; i < u; ++i)
        ASSERT_TRUE(SameBits(d[i], PlainDistance(net, x.data(), i))) << "neuron " << i;
    }
    for (std::size_t first = 0; first < rows.size(); first += 1) {
      for (int count = 1; count <= TPreparedMap::kBlockRows && first + count <= rows.size(); ++count) {
        const double* xs[TPreparedMap::kBlockRows];
        int winners[TPreparedMap::kBlockRows];
        for (int r = 0; r < count; ++r) xs[r] = rows[first + r].data();
        map.FindWinners(xs, count, winners);
        for (int r = 0; r < count; ++r) {
          const int plain = PlainWinner(net, xs[r]);
          ASSERT_EQ(winners[r], plain);
          ASSERT_EQ(net.FindWinner(xs[r], y.data()), plain);
          map.CopyWeights(winners[r], w.data());
          ASSERT_EQ(w, y);
        }
      }
    }
  }
}

TKohonenNetwork RandomMap(std::mt19937_64& rng, int n, int u, double scale) {
  const int dims[] = {u};
  TKohonenNetwork net(n, 1, dims);
  std::uniform_real_distribution<double> dist(-scale, scale);
  TBasicConnections* c = net.GetConnections(1, 2);
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < n; ++j) c->Weight(j, i) = dist(rng);
  return net;
}

std::vector<std::vector<double>> RandomRows(std::mt19937_64& rng, int n, int count, double scale) {
  std::uniform_real_distribution<double> dist(-scale, scale);
  std::vector<std::vector<double>> rows(count, std::vector<double>(n));
  for (auto& r : rows)
    for (double& v : r) v = dist(rng);
  return rows;
}

TEST(TPreparedMapTest, RandomMapsMatchThePlainSearchBitForBit) {
  std::mt19937_64 rng(7);
  // Sizes around the lane and block widths, and the input counts the wider
  // kernels unroll by.
  for (int u : {1, 3, 8, 9, 17, 33, 50}) {
    for (int n : {0, 1, 3, 4, 7, 64}) {
      SCOPED_TRACE(testing::Message() << u << " neurons, " << n << " inputs");
      TKohonenNetwork net = RandomMap(rng, n, u, 1.0);
      ExpectPlain(net, RandomRows(rng, n, 9, 1.5));
    }
  }
}

TEST(TPreparedMapTest, TiesGoToTheLowerNeuron) {
  // All weights equal: every neuron ties, and neuron 0 wins.
  const int dims[] = {4, 5};
  TKohonenNetwork zero(3, 2, dims);
  ExpectPlain(zero, {{1, 2, 3}, {0, 0, 0}, {-4, 5, 0.5}});
  int winner[1];
  const double x[] = {1, 2, 3};
  const double* xs[] = {x};
  TPreparedMap map(zero);
  map.FindWinners(xs, 1, winner);
  EXPECT_EQ(winner[0], 0);

  // Duplicated weight vectors at the ends of lanes and groups.
  std::mt19937_64 rng(3);
  TKohonenNetwork net = RandomMap(rng, 5, 40, 1.0);
  TBasicConnections* c = net.GetConnections(1, 2);
  for (int dup : {7, 8, 15, 16, 17, 39})
    for (int j = 0; j < 5; ++j) c->Weight(j, dup) = c->Weight(j, dup - 4);
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 40; ++i) {
    rows.emplace_back(5);
    for (int j = 0; j < 5; ++j) rows.back()[j] = c->Weight(j, i);
  }
  ExpectPlain(net, rows);
}

TEST(TPreparedMapTest, HugeAndNonFiniteValuesMatchThePlainSearch) {
  std::mt19937_64 rng(11);
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  TKohonenNetwork net = RandomMap(rng, 6, 21, 1e160);
  TBasicConnections* c = net.GetConnections(1, 2);
  c->Weight(2, 5) = inf;
  c->Weight(0, 9) = nan;
  c->Weight(4, 12) = -inf;
  c->Weight(1, 20) = 1e-300;
  auto rows = RandomRows(rng, 6, 6, 1e170);
  rows.push_back({0, 0, 0, 0, 0, 0});
  rows.push_back({nan, 0, 0, 0, 0, 0});
  rows.push_back({inf, -inf, 1, 2, 3, 4});
  rows.push_back({1e-310, 4e-320, 0, -0.0, 0, 1});
  ExpectPlain(net, rows);
}

}  // namespace

namespace {

bool SameBitsVector(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The training kernels of every width against the plain expressions: the
// online move (fused with the next row's distances or not), the winner rule
// over distances, and the scaled sums of the batch update.
TEST(TPreparedMapTest, TrainingKernelsMatchPlainArithmetic) {
  std::mt19937_64 rng(21);
  const int u = 37, n = 13;
  TKohonenNetwork net = RandomMap(rng, n, u, 1.0);
  net.GetConnections(1, 2)->Weight(3, 29) = -0.0;  // a still neuron keeps the zero's sign
  auto x = RandomRows(rng, n, 1, 2.0)[0];
  const auto y = RandomRows(rng, n, 1, 2.0)[0];
  x[3] = 1.5;  // 0 * (x - w) is +0.0, which would turn -0.0 into +0.0
  for (int lanes : {1, 2, 4, 8}) {
    if (!TPreparedMap::Supports(lanes)) continue;
    SCOPED_TRACE(lanes);
    for (bool fused : {false, true}) {
      TPreparedMap map(net, lanes);
      const int L = map.Lanes();
      // Coefficients: every sixth neuron (5, 11, ..., 29, ...) and every
      // neuron of the second group still, the others moving by varied amounts.
      std::vector<double> c(static_cast<std::size_t>(map.Groups()) * L, 0.0);
      for (int i = 0; i < u; ++i) c[i] = (i % 6 == 5 || i / L == 1) ? 0.0 : 0.01 * (i % 7 + 1);
      // The groups after the first, as a worker of a split map would.
      std::vector<double> d(c.size(), -1.0);
      map.UpdateAndDistances(1, map.Groups() - 1, x.data(), c.data() + L, fused ? y.data() : nullptr,
                             fused ? d.data() : nullptr);
      std::vector<double> w(n), plain(n);
      for (int i = 0; i < u; ++i) {
        map.CopyWeights(i, w.data());
        for (int j = 0; j < n; ++j) {
          const double old = net.GetConnections(1, 2)->Weight(j, i);
          plain[j] = (i < L || c[i] == 0.0) ? old : old + c[i] * (x[j] - old);
        }
        ASSERT_TRUE(SameBitsVector(w, plain)) << "neuron " << i;
        if (fused && i >= L) {
          double distance = 0.0;
          for (int j = 0; j < n; ++j) distance += (y[j] - plain[j]) * (y[j] - plain[j]);
          ASSERT_TRUE(SameBits(d[i - L], distance)) << "neuron " << i;
        }
      }
    }

    TPreparedMap map(net, lanes);
    std::vector<double> d(map.Stride());
    for (int trial = 0; trial < 40; ++trial) {
      for (int i = 0; i < u; ++i) d[i] = static_cast<double>(rng() % 5);
      if (trial % 4 == 1) d[rng() % u] = std::numeric_limits<double>::quiet_NaN();
      if (trial % 4 == 2) d[rng() % u] = std::numeric_limits<double>::infinity();
      int plain = 0;
      for (int i = 1; i < u; ++i)
        if (!(d[i] >= d[plain])) plain = i;
      ASSERT_EQ(map.Winner(d.data()), plain) << trial;
    }

    std::vector<double> acc = RandomRows(rng, n, 1, 1.0)[0], s = RandomRows(rng, n, 1, 1.0)[0];
    std::vector<double> want = acc;
    for (int k = 0; k < n; ++k) want[k] = want[k] + 0.3 * s[k];
    map.AddScaled(acc.data(), 0.3, s.data(), n);
    ASSERT_TRUE(SameBitsVector(acc, want));
  }
}

}  // namespace
