#include "NeuralNets/TKohonenNetwork.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "NeuralNets/Random.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace {

// The winner search written plainly: one neuron after another, the first
// neuron winning until a later one is strictly nearer.
int PlainWinner(TKohonenNetwork& net, const double* x, double* out) {
  TBasicConnections* c = net.GetConnections(1, 2);
  const int n = net.layers[1]->numNeurons, m = net.layers[2]->numNeurons;
  int win = -1;
  double best = 0.0;
  for (int i = 0; i < m; ++i) {
    double d = 0.0;
    for (int j = 0; j < n; ++j) {
      const double e = x[j] - c->Weight(j, i);
      d += e * e;
    }
    if (win < 0 || !(d >= best)) {
      best = d;
      win = i;
    }
  }
  for (int j = 0; j < n; ++j) out[j] = c->Weight(j, win);
  return win;
}

void SetVector(TKohonenNetwork& net, int neuron, std::vector<double> w) {
  for (int j = 0; j < static_cast<int>(w.size()); ++j) net.GetConnections(1, 2)->Weight(j, neuron) = w[j];
}

TEST(TKohonenNetworkTest, BuildsThreeLayersAndOneFullyConnectedSet) {
  const int dims[] = {2, 2};
  TKohonenNetwork net(2, 2, dims);
  EXPECT_EQ(net.numLayers, 3);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 2);
  EXPECT_EQ(net.layers[0]->numNeurons, 0);
  EXPECT_EQ(net.layers[1]->numNeurons, 2);
  EXPECT_EQ(net.layers[2]->numNeurons, 4);
  EXPECT_STREQ(net.layers[0]->GetLayerType(), "Simple");
  EXPECT_STREQ(net.layers[1]->GetLayerType(), "Input");
  EXPECT_STREQ(net.layers[2]->GetLayerType(), "Simple");
  EXPECT_EQ(net.layers[0]->GetActFunction(), &ActError);
  EXPECT_EQ(net.layers[1]->GetActFunction(), &ActLinear);
  EXPECT_EQ(net.layers[2]->GetActFunction(), &ActLinear);
  EXPECT_EQ(net.GetNumWeights(1), 8);
  EXPECT_STREQ(net.GetNetworkType(), "Kohonen");
  for (int to = 0; to < 3; ++to)
    for (int from = 0; from < 3; ++from)
      EXPECT_EQ(net.GetConnections(from, to)->IsConnected(), from == 1 && to == 2);
  EXPECT_STREQ(net.GetConnections(1, 2)->GetConnectionsNType(), "FullyConnected");
  int got[2] = {0, 0};
  net.GetDimensions(got);
  EXPECT_EQ(got[0], 2);
  EXPECT_EQ(got[1], 2);

  const int five[] = {5};
  TKohonenNetwork line(3, 1, five);
  EXPECT_EQ(line.layers[2]->numNeurons, 5);
  EXPECT_EQ(line.GetNumWeights(0), 15);
}

TEST(TKohonenNetworkTest, ShapeAccessorsNameInputsNeuronsAndGrid) {
  const int dims[] = {4, 1, 5};
  const TKohonenNetwork net(3, 3, dims);
  EXPECT_EQ(net.NumInputs(), 3);
  EXPECT_EQ(net.NumMapNeurons(), 20);
  EXPECT_EQ(net.GridSizes(), (std::vector<int>{4, 1, 5}));

  // Before the reader has supplied layers and dimensions.
  const TKohonenNetwork empty;
  EXPECT_EQ(empty.NumInputs(), 0);
  EXPECT_EQ(empty.NumMapNeurons(), 0);
  EXPECT_TRUE(empty.GridSizes().empty());
}

TEST(TKohonenNetworkTest, DefaultConstructorLeavesLayersToTheReader) {
  TKohonenNetwork net;
  EXPECT_EQ(net.numLayers, 3);
  EXPECT_EQ(net.numDimensions, 0);
  EXPECT_EQ(net.dimensions, nullptr);
  for (auto& l : net.layers) EXPECT_EQ(l, nullptr);
  net.GetDimensions(nullptr);
  const int dims[] = {3, 4};
  net.SetDimensions(2, dims);
  EXPECT_EQ(net.numDimensions, 2);
  EXPECT_EQ(net.dimensions[1], 4);
}

TEST(TKohonenNetworkTest, RandomizeDrawsPerMapNeuronThenInput) {
  const int dims[] = {3};
  TKohonenNetwork net(2, 1, dims);
  SeedRandom(2026);
  net.Randomize(-0.5, 0.5);
  SeedRandom(2026);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 2; ++j)
      EXPECT_EQ(net.GetConnections(1, 2)->Weight(j, i), RandomWeightDraw(-0.5, 0.5));
  const std::uint32_t before = RandomState();
  net.Randomize(0.5, 0.5);
  EXPECT_EQ(RandomState(), before);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 2; ++j) EXPECT_EQ(net.GetConnections(1, 2)->Weight(j, i), 0.5);
}

TEST(TKohonenNetworkTest, WinnerIsNearestAndTiesGoToTheLowerNumber) {
  const int dims[] = {4};
  TKohonenNetwork net(2, 1, dims);
  const double x[] = {1.0, 1.0};
  double out[2];
  EXPECT_EQ(net.FindWinner(x, out), 0);  // all weights 0: every distance ties
  SetVector(net, 0, {0, 0});
  SetVector(net, 1, {1, 1});
  SetVector(net, 2, {1, 1});
  SetVector(net, 3, {3, 3});
  EXPECT_EQ(net.FindWinner(x, out), 1);
  EXPECT_EQ(out[0], 1.0);
  const double y[] = {2.9, 3.5};
  net.Propagate(y, out);
  EXPECT_EQ(out[0], 3.0);
  EXPECT_EQ(out[1], 3.0);
}

TEST(TKohonenNetworkTest, FarInputsStillFindTheNearestNeuron) {
  const int dims[] = {2, 2};
  TKohonenNetwork net(3, 2, dims);
  SetVector(net, 0, {0, 0, 0});
  SetVector(net, 1, {1, 1, 1});
  SetVector(net, 2, {1e19, 1e19, 1e19});
  SetVector(net, 3, {5, 5, 5});
  double out[3];
  // Every squared distance is far above 1e30, yet neuron 2 is the nearest.
  const double far[] = {1e20, 1e20, 1e20};
  EXPECT_EQ(net.FindWinner(far, out), 2);
  EXPECT_EQ(out[0], 1e19);
  // Every distance overflows to infinity: neuron 0 is kept.
  const double huge[] = {1e200, 1e200, 1e200};
  EXPECT_EQ(net.FindWinner(huge, out), 0);
  EXPECT_EQ(out[0], 0.0);
}

TEST(TKohonenNetworkTest, WinnerSearchMatchesThePlainLoopBitForBit) {
  std::mt19937 gen(42);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  const int shapes[][2] = {{1, 1}, {3, 7}, {7, 9}, {64, 2500}, {5, 17}, {2, 8}, {33, 15}};
  for (const auto& shape : shapes) {
    const int n = shape[0], m = shape[1];
    const int dims[] = {m};
    TKohonenNetwork net(n, 1, dims);
    TConnectedConnections* c = static_cast<TConnectedConnections*>(net.GetConnections(1, 2));
    for (double& w : c->array_weights) w = uni(gen);
    // Exact ties: a copy of neuron 0's vector further on.
    if (m > 5)
      for (int j = 0; j < n; ++j) c->Weight(j, m - 2) = c->Weight(j, 1);
    std::vector<double> x(n), out1(n), out2(n);
    for (int trial = 0; trial < 20; ++trial) {
      for (double& v : x) v = uni(gen) * (trial % 5 == 4 ? 1e160 : 1.0);
      if (trial == 3 && m > 5)
        for (int j = 0; j < n; ++j) x[j] = c->Weight(j, 1);
      if (trial == 7) x[0] = std::numeric_limits<double>::quiet_NaN();
      ASSERT_EQ(net.FindWinner(x.data(), out1.data()), PlainWinner(net, x.data(), out2.data()))
          << "n=" << n << " m=" << m << " trial=" << trial;
      EXPECT_EQ(out1, out2);
    }
  }
}

TEST(TKohonenNetworkTest, WinnerSearchReadsAnyKindOfSet) {
  const int dims[] = {3};
  TKohonenNetwork net(2, 1, dims);
  net.SetConnections(std::make_unique<TPrunedConnections>(&net, 1, 2));
  SetVector(net, 0, {5, 5});
  SetVector(net, 1, {1, 2});
  SetVector(net, 2, {0, 0});
  net.GetConnections(1, 2)->PruneWeight(0, 2);
  const double x[] = {1.0, 2.0};
  double out[2];
  EXPECT_EQ(net.FindWinner(x, out), 1);
  EXPECT_EQ(out[1], 2.0);
}

TEST(TKohonenNetworkTest, CoordinateConversions) {
  const int dims[] = {3, 4};
  TKohonenNetwork net(1, 2, dims);
  const int c21[] = {2, 1};
  EXPECT_EQ(net.CoordsToIndex(c21), 9);
  int coords[2];
  net.IndexToCoords(coords, 9);
  EXPECT_EQ(coords[0], 2);
  EXPECT_EQ(coords[1], 1);
  net.IndexToCoords(coords, 13);  // the first coordinate is not reduced
  EXPECT_EQ(coords[0], 3);
  EXPECT_EQ(coords[1], 1);
  const int sizes[] = {99, 4, 5};
  const int c[] = {1, 2, 3};
  EXPECT_EQ(CoordsToIndex(3, sizes, c), (1 * 4 + 2) * 5 + 3);
  EXPECT_EQ(CoordsToIndex(1, sizes, c), 1);
}

TEST(TKohonenNetworkTest, CopyAndAssignmentCarryDimensionsAndWeights) {
  const int dims[] = {2, 3};
  TKohonenNetwork net(2, 2, dims);
  SeedRandom(3);
  net.Randomize(-1, 1);
  TKohonenNetwork copy(net);
  EXPECT_EQ(copy.numDimensions, 2);
  EXPECT_EQ(copy.dimensions[1], 3);
  EXPECT_EQ(copy.GetConnections(1, 2)->Weight(1, 5), net.GetConnections(1, 2)->Weight(1, 5));
  const int one[] = {4};
  TKohonenNetwork other(1, 1, one);
  other = net;
  EXPECT_EQ(other.layers[2]->numNeurons, 6);
  EXPECT_EQ(other.dimensions[0], 2);
  const TKohonenNetwork& self = other;  // self-assignment, without the compiler's warning
  other = self;
  EXPECT_EQ(other.numDimensions, 2);
}

TEST(TKohonenNetworkDeathTest, InternalConditions) {
  TKohonenNetwork plain;
  int coords[1];
  EXPECT_DEATH(plain.IndexToCoords(coords, 0), "Assertion failed: dims != 0");
  EXPECT_DEATH(plain.CoordsToIndex(coords), "Assertion failed: dims != 0");
  const int empty[] = {0};
  TKohonenNetwork none(2, 1, empty);
  const double x[] = {0, 0};
  double out[2];
  EXPECT_DEATH(none.FindWinner(x, out), "Assertion failed: bestsofar >= 0");
  EXPECT_DEATH(none.SetDimensions(1, nullptr), "Assertion failed: parameters != NULL");
}

}  // namespace
