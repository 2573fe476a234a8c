#include "NeuralNets/Random.h"
#include "NeuralNets/Training.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/NetworkFile.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TrainingBlocks.h"
#include "NeuralNets/TrainingRandom.h"

namespace {

using Rows = std::vector<std::vector<double>>;

std::unique_ptr<Data> MakeData(const Rows& rows) {
  const int n = rows.empty() ? 0 : static_cast<int>(rows[0].size());
  auto data = std::make_unique<Data>(static_cast<std::int32_t>(rows.size()), n, 0, false);
  for (const auto& r : rows) data->AddRow(r.data(), nullptr, nullptr);
  return data;
}

TKohonenNetwork MakeMap(int inputs, std::vector<int> dims, const Rows& weights) {
  TKohonenNetwork net(inputs, static_cast<int>(dims.size()), dims.data());
  for (std::size_t i = 0; i < weights.size(); ++i)
    for (int j = 0; j < inputs; ++j) net.GetConnections(1, 2)->Weight(j, static_cast<int>(i)) = weights[i][j];
  return net;
}

std::vector<double> Weights(TKohonenNetwork& net, int neuron) {
  std::vector<double> w(net.layers[1]->numNeurons);
  for (int j = 0; j < static_cast<int>(w.size()); ++j) w[j] = net.GetConnections(1, 2)->Weight(j, neuron);
  return w;
}

// Every weight's bits, neuron by neuron.
std::vector<std::uint64_t> Bits(TKohonenNetwork& net) {
  std::vector<std::uint64_t> bits;
  for (int i = 0; i < net.layers[2]->numNeurons; ++i)
    for (double w : Weights(net, i)) bits.push_back(std::bit_cast<std::uint64_t>(w));
  return bits;
}

std::string FileText(TKohonenNetwork& net) {
  FileTools tools;
  std::ostringstream out;
  WriteNetwork(tools, out, &net);
  return out.str();
}

Rows RandomRows(std::mt19937_64& rng, int count, int n, double lo, double hi) {
  std::uniform_real_distribution<double> uni(lo, hi);
  Rows rows(static_cast<std::size_t>(count), std::vector<double>(static_cast<std::size_t>(n)));
  for (auto& r : rows)
    for (double& v : r) v = uni(rng);
  return rows;
}

TTrainingOptions Online(long long steps, double rate, double radius, double finalRadius) {
  TTrainingOptions o;
  o.mode = TTrainingMode::Online;
  o.steps = steps;
  o.rate = rate;
  o.radius = radius;
  o.finalRadius = finalRadius;
  return o;
}

TTrainingOptions Batch(long long epochs, double radius, double finalRadius) {
  TTrainingOptions o;
  o.mode = TTrainingMode::Batch;
  o.epochs = epochs;
  o.radius = radius;
  o.finalRadius = finalRadius;
  return o;
}

// ---------------------------------------------------------------------------

TEST(TrainingRandomTest, FixedSequencesAndBoundedDraws) {
  // Values of an independent implementation of splitmix64 seeding and
  // xoshiro256**.
  TTrainingRandom one(1);
  EXPECT_EQ(one.Next(), 0xb3f2af6d0fc710c5ULL);
  EXPECT_EQ(one.Next(), 0x853b559647364ceaULL);
  EXPECT_EQ(TTrainingRandom(0).Next(), 0x99ec5f36cb75f2b4ULL);
  TTrainingRandom ten(12345);
  EXPECT_EQ(ten.Below(10), 3u);
  EXPECT_EQ(ten.Below(10), 8u);
  EXPECT_EQ(ten.Below(10), 6u);

  TTrainingRandom r(99);
  std::vector<int> seen(7, 0);
  for (int k = 0; k < 7000; ++k) {
    EXPECT_EQ(r.Below(1), 0u);
    ++seen[r.Below(7)];
    const double u = r.Unit();
    ASSERT_TRUE(u >= 0.0 && u < 1.0);
  }
  for (int count : seen) EXPECT_NEAR(count, 1000, 150);
  // A bound above 2^63: draws from the upper half are mostly rejected, and
  // every result is below the bound.
  const std::uint64_t big = (1ULL << 63) + 12345;
  for (int k = 0; k < 100; ++k) EXPECT_LT(r.Below(big), big);
}

// ---------------------------------------------------------------------------
// By hand: a 1 x 2 map of two inputs, neurons at (0, 0) and (1, 1), rows
// a = (0.2, 0.4) and b = (0.9, 0.6); a is nearer neuron 0 and b neuron 1.

const Rows kTwoRows = {{0.2, 0.4}, {0.9, 0.6}};
const Rows kTwoNeurons = {{0, 0}, {1, 1}};

TEST(TrainingByHandTest, TwoOnlineSteps) {
  // Seed 3 puts b first: the shuffle of two rows swaps them when its one
  // draw, Below(2), is 0.
  ASSERT_EQ(TTrainingRandom(3).Below(2), 0u);
  const double g = std::exp(-0.5);  // h at grid distance 1 for radius 1
  for (TNeighbourhood kind : {TNeighbourhood::Gaussian, TNeighbourhood::Bubble}) {
    const double h1 = kind == TNeighbourhood::Gaussian ? g : 1.0;
    TKohonenNetwork net = MakeMap(2, {1, 2}, kTwoNeurons);
    auto data = MakeData(kTwoRows);
    TTrainingOptions o = Online(2, 0.5, 1.0, 1.0);
    o.seed = 3;
    o.neighbourhood = kind;
    const TTrainingReport report = TrainMap(net, *data, o);
    // Step 0: b, won by neuron 1, rate 0.5. Step 1: a, rate 0.25, won by
    // neuron 0 (which has moved towards b by 0.5 h1).
    double w0[2], w1[2];
    for (int j = 0; j < 2; ++j) {
      w1[j] = 1 + 0.5 * (kTwoRows[1][j] - 1);
      w0[j] = 0 + 0.5 * h1 * (kTwoRows[1][j] - 0);
    }
    for (int j = 0; j < 2; ++j) {
      w0[j] = w0[j] + 0.25 * (kTwoRows[0][j] - w0[j]);
      w1[j] = w1[j] + 0.25 * h1 * (kTwoRows[0][j] - w1[j]);
    }
    for (int j = 0; j < 2; ++j) {
      EXPECT_DOUBLE_EQ(Weights(net, 0)[j], w0[j]) << j;
      EXPECT_DOUBLE_EQ(Weights(net, 1)[j], w1[j]) << j;
    }
    EXPECT_EQ(report.steps, 2);
    EXPECT_EQ(report.finalRate, 0.25);
    EXPECT_EQ(report.finalRadius, 1.0);
  }
}

TEST(TrainingByHandTest, OneBatchEpoch) {
  const double g = std::exp(-0.5);
  // Gaussian, radius 1: each neuron averages both rows, its own with weight 1
  // and the other's with weight g.
  TKohonenNetwork net = MakeMap(2, {1, 2}, kTwoNeurons);
  auto data = MakeData(kTwoRows);
  TTrainingReport report = TrainMap(net, *data, Batch(1, 1.0, 1.0));
  for (int j = 0; j < 2; ++j) {
    EXPECT_DOUBLE_EQ(Weights(net, 0)[j], (kTwoRows[0][j] + g * kTwoRows[1][j]) / (1 + g));
    EXPECT_DOUBLE_EQ(Weights(net, 1)[j], (g * kTwoRows[0][j] + kTwoRows[1][j]) / (g + 1));
  }
  EXPECT_EQ(report.epochs, 1);
  EXPECT_EQ(report.finalRadius, 1.0);
  EXPECT_EQ(report.quality.rows, 2);

  // Bubble of radius 0.5: each neuron becomes the mean of its own rows.
  TKohonenNetwork bubble = MakeMap(2, {1, 2}, kTwoNeurons);
  TTrainingOptions o = Batch(1, 0.5, 0.5);
  o.neighbourhood = TNeighbourhood::Bubble;
  TrainMap(bubble, *data, o);
  EXPECT_EQ(Weights(bubble, 0), kTwoRows[0]);
  EXPECT_EQ(Weights(bubble, 1), kTwoRows[1]);

  // A neuron that wins nothing and has no winning neighbour keeps its weights.
  TKohonenNetwork three = MakeMap(2, {3}, {{0, 0}, {1, 1}, {50, -7}});
  o.radius = 0.0, o.finalRadius = 0.0;
  TrainMap(three, *data, o);
  EXPECT_EQ(Weights(three, 2), (std::vector<double>{50, -7}));
}

TEST(TrainingByHandTest, TheTorusWrapsGridDistances) {
  // A 1 x 3 map; the row at 0 is won by neuron 0. With a bubble of radius 1
  // neuron 2 moves only on the torus, where it is neuron 0's neighbour.
  const Rows row = {{0.0}};
  for (bool torus : {false, true}) {
    TKohonenNetwork online = MakeMap(1, {1, 3}, {{0.5}, {2}, {4}});
    auto data = MakeData(row);
    TTrainingOptions o = Online(1, 0.5, 1.0, 1.0);
    o.neighbourhood = TNeighbourhood::Bubble;
    o.torus = torus;
    TrainMap(online, *data, o);
    EXPECT_EQ(Weights(online, 0)[0], 0.25);
    EXPECT_EQ(Weights(online, 1)[0], 1.0);
    EXPECT_EQ(Weights(online, 2)[0], torus ? 2.0 : 4.0);

    // Batch: neuron 2's numerator takes neuron 0's rows only on the torus.
    TKohonenNetwork batch = MakeMap(1, {1, 3}, {{0.5}, {2}, {4}});
    TTrainingOptions b = Batch(1, 1.0, 1.0);
    b.neighbourhood = TNeighbourhood::Bubble;
    b.torus = torus;
    TrainMap(batch, *data, b);
    EXPECT_EQ(Weights(batch, 2)[0], torus ? 0.0 : 4.0);
  }
}

// ---------------------------------------------------------------------------
// The definitions written plainly, one neuron and one weight at a time, for
// maps of any grid; training must give the same bits.

struct Reference {
  std::vector<int> sizes;
  bool torus;
  int n;
  Rows w;

  std::vector<int> Coords(int i) const {
    std::vector<int> c(sizes.size());
    for (int k = static_cast<int>(sizes.size()) - 1; k >= 0; --k) {
      c[k] = i % sizes[k];
      i /= sizes[k];
    }
    return c;
  }
  long long Distance2(int a, int b) const {
    const auto ca = Coords(a), cb = Coords(b);
    long long d2 = 0;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      long long d = std::abs(ca[k] - cb[k]);
      if (torus) d = std::min<long long>(d, sizes[k] - d);
      d2 += d * d;
    }
    return d2;
  }
  int Winner(const std::vector<double>& x) const {
    int best = 0;
    double bestDistance = 0.0;
    for (std::size_t i = 0; i < w.size(); ++i) {
      double d = 0.0;
      for (int j = 0; j < n; ++j) {
        const double e = x[j] - w[i][j];
        d += e * e;
      }
      if (i == 0 || d < bestDistance) best = static_cast<int>(i), bestDistance = d;
    }
    return best;
  }

  void Online(const Rows& rows, const TTrainingOptions& o) {
    TTrainingRandom random(o.seed);
    const long long R = static_cast<long long>(rows.size());
    const long long T = o.steps > 0 ? o.steps : o.epochs * R;
    const double s0 = *o.radius, s1 = o.finalRadius;
    std::vector<int> order(rows.size());
    for (long long t = 0; t < T; ++t) {
      if (t % R == 0) {
        for (long long i = 0; i < R; ++i) order[i] = static_cast<int>(i);
        for (long long i = R - 1; i > 0; --i) std::swap(order[i], order[random.Below(i + 1)]);
      }
      const auto& x = rows[order[t % R]];
      const int c = Winner(x);
      const double dt = static_cast<double>(t), dT = static_cast<double>(T);
      const double alpha = o.rateSchedule == TRateSchedule::Linear
                               ? o.rate * (1.0 - dt / dT)
                               : (o.rate * (dT / 100.0)) / (dT / 100.0 + dt);
      const double sigma = s1 + (s0 - s1) * (1.0 - dt / dT);
      for (std::size_t i = 0; i < w.size(); ++i) {
        const double h = NeighbourhoodValue(o.neighbourhood, Distance2(c, static_cast<int>(i)), sigma,
                                            o.cutGaussian);
        const double f = alpha * h;
        if (h > 0 && f != 0)
          for (int j = 0; j < n; ++j) w[i][j] = w[i][j] + f * (x[j] - w[i][j]);
      }
    }
  }

  void Batch(const Rows& rows, const TTrainingOptions& o) {
    const double s0 = *o.radius, s1 = o.finalRadius;
    const long long E = o.epochs;
    const std::size_t u = w.size();
    for (long long e = 0; e < E; ++e) {
      // Sums per block of 1024 rows, the blocks added in order.
      Rows S(u, std::vector<double>(n, 0.0));
      std::vector<long long> count(u, 0);
      for (std::size_t first = 0; first < rows.size(); first += 1024) {
        Rows P(u, std::vector<double>(n, 0.0));
        std::vector<long long> m(u, 0);
        for (std::size_t r = first; r < std::min(rows.size(), first + 1024); ++r) {
          const int c = Winner(rows[r]);
          ++m[c];
          for (int j = 0; j < n; ++j) P[c][j] += rows[r][j];
        }
        for (std::size_t j = 0; j < u; ++j) {
          count[j] += m[j];
          for (int k = 0; k < n; ++k) S[j][k] += P[j][k];
        }
      }
      const double sigma = s1 + (s0 - s1) * (1.0 - (E > 1 ? static_cast<double>(e) / (E - 1) : 0.0));
      Rows next = w;
      for (std::size_t i = 0; i < u; ++i) {
        std::vector<double> num(n, 0.0);
        double den = 0.0;
        for (std::size_t j = 0; j < u; ++j) {
          if (count[j] == 0) continue;
          const double h = NeighbourhoodValue(o.neighbourhood, Distance2(static_cast<int>(i), static_cast<int>(j)),
                                              sigma, o.cutGaussian);
          if (h == 0) continue;
          den += h * static_cast<double>(count[j]);
          for (int k = 0; k < n; ++k) num[k] = num[k] + h * S[j][k];
        }
        if (den != 0)
          for (int k = 0; k < n; ++k) next[i][k] = num[k] / den;
      }
      w = next;
    }
  }
};

void ExpectReference(std::vector<int> dims, bool torus, int rowCount, TTrainingOptions o) {
  SCOPED_TRACE(testing::Message() << dims.size() << "-D, torus " << torus << ", rows " << rowCount);
  std::mt19937_64 rng(dims.size() * 100 + rowCount);
  const int n = 3;
  int u = 1;
  for (int s : dims) u *= s;
  const Rows start = RandomRows(rng, u, n, -1, 1);
  const Rows rows = RandomRows(rng, rowCount, n, -1.5, 1.5);
  Reference ref{dims, torus, n, start};
  o.torus = torus;
  if (o.mode == TTrainingMode::Online)
    ref.Online(rows, o);
  else
    ref.Batch(rows, o);
  auto data = MakeData(rows);
  for (int threads : {1, 2, 3}) {
    TKohonenNetwork net = MakeMap(n, dims, start);
    o.threads = threads;
    TrainMap(net, *data, o);
    for (int i = 0; i < u; ++i)
      for (int j = 0; j < n; ++j)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(Weights(net, i)[j]), std::bit_cast<std::uint64_t>(ref.w[i][j]))
            << "threads " << threads << ", neuron " << i << ", input " << j;
  }
}

TEST(TrainingReferenceTest, OnlineMatchesThePlainDefinitionBitForBit) {
  TTrainingOptions o = Online(0, 0.4, 3.0, 0.5);
  o.epochs = 3;
  ExpectReference({13}, false, 40, o);
  ExpectReference({13}, true, 40, o);
  ExpectReference({80}, false, 40, o);  // too long for the table: values computed one by one
  ExpectReference({4, 6}, false, 50, o);
  ExpectReference({4, 6}, true, 30, o);
  ExpectReference({3, 4, 2}, true, 30, o);
  o.rateSchedule = TRateSchedule::Inverse;
  o.neighbourhood = TNeighbourhood::Bubble;
  o.seed = 77;
  ExpectReference({5, 5}, false, 60, o);
  ExpectReference({2, 3, 4}, true, 30, o);
  o.neighbourhood = TNeighbourhood::Gaussian;
  o.cutGaussian = false;
  o.radius = 0.4, o.finalRadius = 0.2;
  ExpectReference({9, 3}, false, 25, o);
}

TEST(TrainingReferenceTest, BatchMatchesThePlainDefinitionBitForBit) {
  TTrainingOptions o = Batch(4, 4.0, 0.7);
  ExpectReference({17}, false, 60, o);
  ExpectReference({80}, true, 60, o);
  ExpectReference({5, 6}, true, 90, o);
  ExpectReference({3, 3, 3}, false, 60, o);
  // More than one block of rows: the block sums are added in block order.
  ExpectReference({6, 5}, false, 2500, o);
  o.neighbourhood = TNeighbourhood::Bubble;
  ExpectReference({4, 7}, true, 80, o);
  o.neighbourhood = TNeighbourhood::Gaussian;
  o.cutGaussian = false;
  o.radius = 0.3, o.finalRadius = 0.3;
  ExpectReference({8, 8}, false, 40, o);
}

// ---------------------------------------------------------------------------
// Self-organisation.

TEST(TrainingOrganisationTest, ALineMapOrdersItselfAlongALine) {
  std::mt19937_64 rng(4);
  std::uniform_real_distribution<double> uni(0, 1);
  Rows rows;
  for (int k = 0; k < 300; ++k) {
    const double s = uni(rng);
    rows.push_back({s, 2 * s - 1});
  }
  auto data = MakeData(rows);
  for (TTrainingMode mode : {TTrainingMode::Online, TTrainingMode::Batch}) {
    TKohonenNetwork net = MakeMap(2, {12}, {});
    TTrainingOptions o;
    o.mode = mode;
    o.init = TInitialisation::Sample;  // rows in random order: not ordered
    o.seed = 11;
    TrainMap(net, *data, o);
    std::vector<double> along;
    for (int i = 0; i < 12; ++i) along.push_back(Weights(net, i)[0]);
    const bool rising = along[1] > along[0];
    for (int i = 1; i < 12; ++i) EXPECT_EQ(along[i] > along[i - 1], rising) << i;
  }
}

TEST(TrainingOrganisationTest, ClustersOnATenByTenMap) {
  // Four clusters, each uniform in a unit square around a corner of a square
  // of side 10. A map no better than one neuron at each cluster's centre has
  // a quantization error of 0.3826 (the mean distance of a point uniform in a
  // unit square from its centre); a trained map of 100 neurons must do
  // better, and keep neighbouring data on neighbouring neurons.
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> uni(-0.5, 0.5);
  Rows rows;
  for (int k = 0; k < 800; ++k) rows.push_back({10.0 * (k % 2) + uni(rng), 10.0 * (k / 2 % 2) + uni(rng)});
  auto data = MakeData(rows);
  for (TTrainingMode mode : {TTrainingMode::Online, TTrainingMode::Batch}) {
    TKohonenNetwork net = MakeMap(2, {10, 10}, {});
    TTrainingOptions o;
    o.mode = mode;
    o.init = TInitialisation::Linear;
    const TTrainingReport report = TrainMap(net, *data, o);
    EXPECT_LT(report.quality.quantizationError, 0.3826);
    EXPECT_LT(report.quality.topographicError, 0.05);
    const TMapQuality measured = MeasureMapQuality(net, *data);
    EXPECT_EQ(measured.quantizationError, report.quality.quantizationError);
    EXPECT_EQ(measured.topographicError, report.quality.topographicError);
  }
  // On a torus the report measures with the torus's neighbours, as the
  // measuring function does when asked for them.
  TKohonenNetwork ring = MakeMap(2, {10, 10}, {});
  TTrainingOptions o;
  o.torus = true;
  o.init = TInitialisation::Sample;
  const TTrainingReport report = TrainMap(ring, *data, o);
  const TMapQuality measured = MeasureMapQuality(ring, *data, true);
  EXPECT_EQ(measured.quantizationError, report.quality.quantizationError);
  EXPECT_EQ(measured.topographicError, report.quality.topographicError);
  EXPECT_NE(MeasureMapQuality(ring, *data, false).topographicError, report.quality.topographicError);
}

TEST(TrainingOrganisationTest, LinearInitialisationLiesInTheDataPlane) {
  // Points on the plane z = 0.5 x + 0.25 y + 1, spread four times as far in
  // x as in y; a 6 x 3 map.
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> ux(-4, 4), uy(-1, 1);
  Rows rows;
  for (int k = 0; k < 400; ++k) {
    const double x = ux(rng), y = uy(rng);
    rows.push_back({x, y, 0.5 * x + 0.25 * y + 1});
  }
  auto data = MakeData(rows);
  TKohonenNetwork net = MakeMap(3, {3, 6}, {});
  // One online step at rate 1e-300 and radius 0 leaves the initial map as
  // it is (the winner moves by 1e-300 of its distance to the row).
  TTrainingOptions o = Online(1, 1e-300, 0, 0);
  o.init = TInitialisation::Linear;
  TrainMap(net, *data, o);
  for (int i = 0; i < 18; ++i) {
    const auto w = Weights(net, i);
    EXPECT_NEAR(w[2], 0.5 * w[0] + 0.25 * w[1] + 1, 1e-9) << i;
  }
  // The longer dimension (6, the second) spans x by one standard deviation
  // (8 / sqrt(12)) each way; the shorter spans y (2 / sqrt(12) each way).
  const auto first = Weights(net, 0), alongLong = Weights(net, 5), alongShort = Weights(net, 12);
  EXPECT_NEAR(std::abs(alongLong[0] - first[0]), 2 * 8 / std::sqrt(12.0), 0.2);
  EXPECT_LT(std::abs(alongLong[1] - first[1]), 0.1);
  EXPECT_LT(std::abs(alongShort[0] - first[0]), 0.2);
  EXPECT_NEAR(std::abs(alongShort[1] - first[1]), 2 * 2 / std::sqrt(12.0), 0.1);
  // It does not depend on the seed.
  TKohonenNetwork other = MakeMap(3, {3, 6}, {});
  o.seed = 999;
  TrainMap(other, *data, o);
  EXPECT_EQ(Bits(net), Bits(other));

  // More inputs than the covariance is kept for (here 1100 inputs for 6
  // neurons): products straight from the rows give the same plane. The rows
  // vary in inputs 0 (spread 4) and 7 (spread 1) only.
  Rows wide;
  for (int k = 0; k < 40; ++k) {
    std::vector<double> x(1100, 0.5);
    x[0] = ux(rng), x[7] = uy(rng);
    wide.push_back(x);
  }
  auto wideData = MakeData(wide);
  TKohonenNetwork big = MakeMap(1100, {2, 3}, {});
  TrainMap(big, *wideData, o);
  const auto corner = Weights(big, 0), far = Weights(big, 5);
  for (int j = 0; j < 1100; ++j) {
    if (j != 0 && j != 7) {
      ASSERT_NEAR(far[j], 0.5, 1e-9) << j;
    }
  }
  EXPECT_GT(std::abs(far[0] - corner[0]), 3.0);  // the longer dimension along input 0
  EXPECT_GT(std::abs(far[7] - corner[7]), 0.6);
}

TEST(TrainingOrganisationTest, AThreeDimensionalMapTrainsAndIsMeasured) {
  std::mt19937_64 rng(6);
  const Rows rows = RandomRows(rng, 500, 3, 0, 1);
  auto data = MakeData(rows);
  for (TTrainingMode mode : {TTrainingMode::Online, TTrainingMode::Batch}) {
    TKohonenNetwork net = MakeMap(3, {4, 4, 4}, {});
    TTrainingOptions o;
    o.mode = mode;
    o.init = TInitialisation::Sample;
    const TTrainingReport report = TrainMap(net, *data, o);
    EXPECT_EQ(report.quality.rows, 500);
    // With every neuron at the centre the error would be 0.48 (the mean
    // distance of a point in the unit cube from its centre); 64 neurons
    // spread over the cube must at least halve it.
    EXPECT_LT(report.quality.quantizationError, 0.24);
    EXPECT_LT(report.quality.topographicError, 0.2);
    EXPECT_NEAR(report.finalRadius, 1.0, 1e-3);
  }
}

// ---------------------------------------------------------------------------
// Reproducibility.

TEST(TrainingReproducibilityTest, SeedsThreadsAndTheCut) {
  std::mt19937_64 rng(12);
  const Rows rows = RandomRows(rng, 1500, 5, -1, 1);
  auto data = MakeData(rows);
  TKohonenNetwork start(5, 2, std::vector<int>{7, 9}.data());
  for (TTrainingMode mode : {TTrainingMode::Online, TTrainingMode::Batch}) {
    SCOPED_TRACE(mode == TTrainingMode::Online ? "online" : "batch");
    TTrainingOptions o;
    o.mode = mode;
    o.epochs = 3;
    o.init = TInitialisation::Sample;
    o.seed = 5;
    std::string text;
    std::vector<std::uint64_t> bits;
    TTrainingReport first;
    for (int threads : {1, 2, 3, 1}) {
      TKohonenNetwork net(start);
      o.threads = threads;
      // Training draws from its own generator: the network model's
      // process-wide one goes on where it was.
      SeedRandom(77);
      const int next = NextRandom();
      SeedRandom(77);
      const TTrainingReport report = TrainMap(net, *data, o);
      EXPECT_EQ(NextRandom(), next);
      if (text.empty()) {
        text = FileText(net), bits = Bits(net), first = report;
        continue;
      }
      EXPECT_EQ(FileText(net), text) << threads << " threads";
      EXPECT_EQ(Bits(net), bits) << threads << " threads";
      EXPECT_EQ(report.quality.quantizationError, first.quality.quantizationError);
      EXPECT_EQ(report.quality.topographicError, first.quality.topographicError);
    }
    TKohonenNetwork other(start);
    o.seed = 6;
    TrainMap(other, *data, o);
    EXPECT_NE(FileText(other), text);

    // Without the cut of the gaussian: the same map to 1e-12, the same
    // quality to 1e-12.
    TKohonenNetwork uncut(start);
    o.seed = 5;
    o.cutGaussian = false;
    const TTrainingReport full = TrainMap(uncut, *data, o);
    const auto cutBits = bits;
    TKohonenNetwork cut(start);
    o.cutGaussian = true;
    TrainMap(cut, *data, o);
    for (int i = 0; i < 63; ++i)
      for (int j = 0; j < 5; ++j) EXPECT_NEAR(Weights(cut, i)[j], Weights(uncut, i)[j], 1e-12);
    EXPECT_NEAR(full.quality.quantizationError, first.quality.quantizationError, 1e-12);
    EXPECT_EQ(full.quality.topographicError, first.quality.topographicError);
  }
}

// ---------------------------------------------------------------------------
// Refusals and progress.

std::string Refusal(TKohonenNetwork& net, Data& data, const TTrainingOptions& o) {
  const auto before = Bits(net);
  try {
    TrainMap(net, data, o);
  } catch (const TException& e) {
    EXPECT_EQ(e.kind, "Bad Parameter");
    EXPECT_EQ(e.origin, "TrainMap");
    EXPECT_EQ(Bits(net), before) << "refused training changed the map";
    return e.message;
  }
  return "no refusal";
}

TEST(TrainingRefusalTest, OptionsDataAndMapsAreRefusedBeforeAnyWeightChanges) {
  TKohonenNetwork net = MakeMap(2, {2, 3}, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}});
  auto data = MakeData(kTwoRows);
  auto refuse = [&](auto change) {
    TTrainingOptions o;
    change(o);
    return Refusal(net, *data, o);
  };
  EXPECT_EQ(refuse([](auto& o) { o.threads = 0; }), "The number of threads must be from 1 to 256");
  EXPECT_EQ(refuse([](auto& o) { o.threads = 257; }), "The number of threads must be from 1 to 256");
  EXPECT_EQ(refuse([](auto& o) { o.steps = -1; }), "The number of steps must be positive");
  EXPECT_EQ(refuse([](auto& o) { o.epochs = -3; }), "The number of epochs must be positive");
  EXPECT_EQ(refuse([](auto& o) { o.mode = TTrainingMode::Online, o.steps = 5, o.epochs = 5; }),
            "Give the number of steps or of epochs, not both");
  EXPECT_EQ(refuse([](auto& o) { o.steps = 5; }), "Batch training counts epochs, not steps");
  for (double rate : {0.0, -0.5, 1.5, std::nan("")})
    EXPECT_EQ(refuse([&](auto& o) { o.rate = rate; }), "The rate must be greater than 0 and at most 1");
  EXPECT_EQ(refuse([](auto& o) { o.radius = -1.0; }), "The radius must be a finite number of at least 0");
  EXPECT_EQ(refuse([](auto& o) { o.radius = std::numeric_limits<double>::infinity(); }),
            "The radius must be a finite number of at least 0");
  EXPECT_EQ(refuse([](auto& o) { o.finalRadius = std::nan(""); }),
            "The final radius must be a finite number of at least 0");
  EXPECT_EQ(refuse([](auto& o) { o.radius = 0.5; }), "The final radius 1 is larger than the radius 0.5");
  // Without a radius the default (half the largest size, 1.5) is raised to
  // the final radius, so no refusal.
  TKohonenNetwork copy(net);
  TTrainingOptions wide;
  wide.finalRadius = 2.5;
  EXPECT_EQ(TrainMap(copy, *data, wide).finalRadius, 2.5);

  TTrainingOptions o;
  Data empty(0, 2, 0, false), unfilled(3, 2, 0, false), narrow(2, 1, 0, false);
  EXPECT_EQ(Refusal(net, empty, o), "The data set has no rows");
  EXPECT_EQ(Refusal(net, unfilled, o), "The data set has no rows");
  const double one = 1.0;
  narrow.AddRow(&one, nullptr, nullptr);
  EXPECT_EQ(Refusal(net, narrow, o), "The data set has 1 input columns, the map has 2 inputs");
  auto bad = MakeData({{1, 2}, {3, std::numeric_limits<double>::infinity()}});
  EXPECT_EQ(Refusal(net, *bad, o), "Row 2 of the data set holds NaN or infinity");

  TKohonenNetwork nanWeight(net);
  nanWeight.GetConnections(1, 2)->Weight(1, 4) = std::nan("");
  EXPECT_EQ(Refusal(nanWeight, *data, o), "The map's weight from input 1 to neuron 4 is not finite");
  o.init = TInitialisation::Sample;  // the weights are replaced: no refusal
  EXPECT_NO_THROW(TrainMap(nanWeight, *data, o));
  TKohonenNetwork flat(2, 0, nullptr);
  EXPECT_EQ(Refusal(flat, *data, o), "The map has no grid dimensions");
}

TEST(TrainingProgressTest, ReportsOnTheCallingThreadAndStopsWhenTheCallbackThrows) {
  std::mt19937_64 rng(3);
  auto data = MakeData(RandomRows(rng, 300, 2, 0, 1));
  TKohonenNetwork net(2, 2, std::vector<int>{5, 5}.data());
  for (TTrainingMode mode : {TTrainingMode::Online, TTrainingMode::Batch}) {
    std::vector<TTrainingProgress> seen;
    TTrainingOptions o;
    o.mode = mode;
    o.epochs = 4;
    o.threads = 2;
    const auto caller = std::this_thread::get_id();
    o.progress = [&](const TTrainingProgress& p) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      seen.push_back(p);
    };
    TKohonenNetwork trained(net);
    TrainMap(trained, *data, o);
    const long long total = mode == TTrainingMode::Online ? 1200 : 4;
    ASSERT_EQ(seen.size(), mode == TTrainingMode::Online ? 5u : 4u);
    EXPECT_EQ(seen.back().done, total);
    EXPECT_EQ(seen.back().total, total);
    // Online, the last step's radius is s1 + (s0 - s1) / T (s0 = 2.5).
    EXPECT_DOUBLE_EQ(seen.back().radius, mode == TTrainingMode::Online ? 1 + 1.5 / 1200 : 1.0);
    for (std::size_t k = 1; k < seen.size(); ++k) EXPECT_GT(seen[k].done, seen[k - 1].done);

    // A callback that throws stops the training; the map is left as it was.
    TKohonenNetwork stopped(net);
    o.progress = [](const TTrainingProgress& p) {
      if (p.done >= 2) throw std::runtime_error("stop");
    };
    const auto before = Bits(stopped);
    EXPECT_THROW(TrainMap(stopped, *data, o), std::runtime_error);
    EXPECT_EQ(Bits(stopped), before);
  }
}

}  // namespace
