#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/MapPictures.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

// A map of `inputs` inputs on the grid `sizes` whose weight vectors are
// `weights`, neuron after neuron.
TKohonenNetwork MakeMap(int inputs, std::vector<int> sizes, const std::vector<double>& weights) {
  TKohonenNetwork map(inputs, static_cast<int>(sizes.size()), sizes.data());
  TBasicConnections* set = map.GetConnections(1, 2);
  for (int i = 0; i < map.layers[2]->numNeurons; ++i)
    for (int j = 0; j < inputs; ++j) set->Weight(j, i) = weights.at(static_cast<std::size_t>(i * inputs + j));
  return map;
}

std::unique_ptr<Data> Rows(int inputs, const std::vector<double>& values) {
  auto data = std::make_unique<Data>(static_cast<int>(values.size()) / inputs, inputs, 0, false);
  for (std::size_t r = 0; r < values.size(); r += static_cast<std::size_t>(inputs))
    data->AddRow(values.data() + r, nullptr, nullptr);
  return data;
}

}  // namespace

// 2 x 2, one input: weights 0 1 / 3 7. Every neuron has two neighbours, and a
// torus adds none (both directions of a dimension of 2 reach the same neuron).
TEST(UMatrixTest, TwoByTwoByHand) {
  TKohonenNetwork map = MakeMap(1, {2, 2}, {0, 1, 3, 7});
  const std::vector<double> expected = {(1 + 3) / 2.0, (1 + 6) / 2.0, (4 + 3) / 2.0, (4 + 6) / 2.0};
  EXPECT_EQ(UMatrix(map, false), expected);
  EXPECT_EQ(UMatrix(map, true), expected);
}

// 1 x 3, two inputs: (0,0) (3,4) (0,8). Neighbour distances 5 and 5; on a
// torus the ends are neighbours too, at distance 8. The dimension of size 1
// adds nothing either way.
TEST(UMatrixTest, OneByThreeByHandWithAndWithoutTorus) {
  TKohonenNetwork map = MakeMap(2, {1, 3}, {0, 0, 3, 4, 0, 8});
  EXPECT_EQ(UMatrix(map, false), (std::vector<double>{5, 5, 5}));
  EXPECT_EQ(UMatrix(map, true), (std::vector<double>{6.5, 5, 6.5}));
  // The same map as a 1-D grid of 3 gives the same values.
  TKohonenNetwork line = MakeMap(2, {3}, {0, 0, 3, 4, 0, 8});
  EXPECT_EQ(UMatrix(line, true), (std::vector<double>{6.5, 5, 6.5}));
}

// 2 x 2 x 3, one input: the weight of (a, b, c) is 100a + 10b + c, so a step
// costs 100, 10 or 1 by dimension and the torus link of the last dimension 2.
// Neuron numbers are row-major: (a, b, c) is 6a + 3b + c.
TEST(UMatrixTest, ThreeDimensionsByHand) {
  std::vector<double> weights;
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b)
      for (int c = 0; c < 3; ++c) weights.push_back(100 * a + 10 * b + c);
  TKohonenNetwork map = MakeMap(1, {2, 2, 3}, weights);
  const std::vector<double> flat = UMatrix(map, false);
  ASSERT_EQ(flat.size(), 12u);
  EXPECT_EQ(flat[0], (100 + 10 + 1) / 3.0);         // (0,0,0)
  EXPECT_EQ(flat[1], (100 + 10 + 1 + 1) / 4.0);     // (0,0,1)
  EXPECT_EQ(flat[10], (100 + 10 + 1 + 1) / 4.0);    // (1,1,1)
  EXPECT_EQ(flat[11], (100 + 10 + 1) / 3.0);        // (1,1,2)
  const std::vector<double> torus = UMatrix(map, true);
  EXPECT_EQ(torus[0], (100 + 10 + 1 + 2) / 4.0);    // (0,0,0): (0,0,2) is a neighbour
  EXPECT_EQ(torus[10], (100 + 10 + 1 + 1) / 4.0);   // (1,1,1): no new neighbour
  EXPECT_EQ(torus[8], (100 + 10 + 1 + 2) / 4.0);    // (1,0,2): (1,0,0) is a neighbour
}

TEST(UMatrixTest, LonelyNeuronAndUniformMap) {
  TKohonenNetwork one = MakeMap(3, {1, 1}, {1, 2, 3});
  EXPECT_EQ(UMatrix(one, true), std::vector<double>{0.0});
  TKohonenNetwork flat = MakeMap(2, {3, 3}, std::vector<double>(18, 0.5));
  EXPECT_EQ(UMatrix(flat, false), std::vector<double>(9, 0.0));
}

// A map read from a file can carry sizes that do not fit its neurons; every
// picture function refuses it rather than read past the weights.
TEST(UMatrixTest, IncompleteGridsAreRefused) {
  auto message = [](TKohonenNetwork& map) {
    try {
      UMatrix(map, false);
    } catch (const TException& e) {
      EXPECT_EQ(e.kind, "Bad Parameter");
      EXPECT_EQ(e.origin, "CheckMapGrid");
      return e.message;
    }
    return std::string("accepted");
  };
  TKohonenNetwork wrong = MakeMap(1, {2, 2}, {0, 1, 2, 3});
  const int sizes[] = {2, 3};
  wrong.SetDimensions(2, sizes);
  EXPECT_EQ(message(wrong), "Map dimensions do not multiply to its 4 neurons");
  const int zero[] = {0, 2};
  wrong.SetDimensions(2, zero);
  EXPECT_EQ(message(wrong), "Map dimension 0 has size 0");
  wrong.SetDimensions(0, nullptr);
  EXPECT_EQ(message(wrong), "Map has no dimensions");
  const int huge[] = {65536, 65536, 65536};
  wrong.SetDimensions(3, huge);
  EXPECT_EQ(message(wrong), "Map dimensions do not multiply to its 4 neurons");
  EXPECT_THROW(CountHits(wrong, *Rows(1, {0.0})), TException);
  EXPECT_THROW(MapWeightVectors(wrong), TException);
}

TEST(MapWeightVectorsTest, NeuronAfterNeuron) {
  TKohonenNetwork map = MakeMap(2, {3}, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(MapWeightVectors(map), (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

// Winners of 2 x 2 weights 0 1 / 3 7: 0.2 and -5 go to 0; 0.9, 1.1 and 2
// (equally near 1 and 3: the lower number wins) to 1; 6 and 100 to 3.
TEST(CountHitsTest, TwoByTwoAndOneByThreeByHand) {
  TKohonenNetwork map = MakeMap(1, {2, 2}, {0, 1, 3, 7});
  EXPECT_EQ(CountHits(map, *Rows(1, {0.2, 0.9, 1.1, 6, 100, -5, 2})), (std::vector<std::int32_t>{2, 3, 0, 2}));

  // Extra columns are ignored.
  TKohonenNetwork line = MakeMap(2, {1, 3}, {0, 0, 3, 4, 0, 8});
  EXPECT_EQ(CountHits(line, *Rows(3, {0, 1, 99, 3, 3, 99, 0, 7, 99, 1, 9, 99, 3, 5, 99})), (std::vector<std::int32_t>{1, 2, 2}));
}

// A set of capacity 4 holding 2 rows is walked 4 times, as every run walks it.
TEST(CountHitsTest, WalksTheSetAsTheRunsDo) {
  TKohonenNetwork map = MakeMap(1, {3}, {0, 10, 20});
  Data data(4, 1, 0, false);
  const double a = 9, b = 21;
  data.AddRow(&a, nullptr, nullptr);
  data.AddRow(&b, nullptr, nullptr);
  EXPECT_EQ(CountHits(map, data), (std::vector<std::int32_t>{0, 2, 2}));
  Data empty(0, 1, 0, false);
  EXPECT_EQ(CountHits(map, empty), (std::vector<std::int32_t>{0, 0, 0}));
}
