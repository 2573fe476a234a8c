#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"

namespace {

using Arc = std::pair<int, int>;  // (from layer, from node)

Arc At(TArcsIterator& it) { return {it.GetFromLayer(), it.GetFromNode()}; }

TEST(TConnectedNetworkTest, BuildsLayersFromSizesWithoutConnections) {
  const int sizes[] = {0, 4, 2};
  TConnectedNetwork net(3, sizes);
  EXPECT_STREQ(net.GetNetworkType(), "Connected");
  EXPECT_STREQ(net.layers[0]->GetLayerType(), "Simple");
  EXPECT_STREQ(net.layers[1]->GetLayerType(), "Input");
  EXPECT_STREQ(net.layers[2]->GetLayerType(), "Simple");
  EXPECT_EQ(net.layers[1]->numNeurons, 4);
  EXPECT_EQ(net.GetNumWeights(1), 0);
  net.Connect(1, 2);
  TBasicConnections* c = net.GetConnections(1, 2);
  EXPECT_STREQ(c->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(c->GetNumWeights(1), 8);
  c->Weight(3, 1) = 2.0;
  net.Connect(1, 2);
  EXPECT_EQ(net.GetConnections(1, 2), c);
  EXPECT_EQ(c->Weight(3, 1), 2.0);
}

// Layers of 0, 2 and 3 neurons, only 1 -> 2 connected, w(f -> t) = 10 t + f.
struct ArcsFixture : ::testing::Test {
  const int sizes[3] = {0, 2, 3};
  TConnectedNetwork net{3, sizes};
  void SetUp() override {
    net.Connect(1, 2);
    for (int f = 0; f < 2; ++f)
      for (int t = 0; t < 3; ++t) net.GetConnections(1, 2)->Weight(f, t) = 10 * t + f;
  }
};

using TConnInAllArcsIteratorTest = ArcsFixture;

TEST_F(TConnInAllArcsIteratorTest, ForwardWalkAndEnd) {
  std::unique_ptr<TArcsIterator> owned = net.NewArcsIterator();
  auto& it = dynamic_cast<TConnInAllArcsIterator&>(*owned);
  it.Start(2, 0);
  EXPECT_FALSE(it.IsValid());
  EXPECT_EQ(it.GetToNeuron(), net.layers[2]->GetNeuron(0));
  ASSERT_TRUE(it.Next());
  EXPECT_TRUE(it.More());
  EXPECT_EQ(At(it), Arc(1, 0));
  EXPECT_EQ(it.GetFromNeuron(), net.layers[1]->GetNeuron(0));
  EXPECT_EQ(it.GetWeight(), 0.0);
  ASSERT_TRUE(it.Next());
  EXPECT_EQ(At(it), Arc(1, 1));
  EXPECT_EQ(it.GetWeight(), 1.0);
  EXPECT_FALSE(it.Next());
  EXPECT_FALSE(it.IsValid());
  EXPECT_FALSE(it.More());
}

TEST_F(TConnInAllArcsIteratorTest, BackwardWalkFromTheEnd) {
  TConnInAllArcsIterator it(&net);
  it.Start(2, 2);
  EXPECT_FALSE(it.Prev());  // nothing before the first arc
  while (it.Next()) {
  }
  ASSERT_TRUE(it.Prev());
  EXPECT_EQ(At(it), Arc(1, 1));
  EXPECT_EQ(it.GetWeight(), 21.0);
  ASSERT_TRUE(it.Prev());
  EXPECT_EQ(At(it), Arc(1, 0));
  EXPECT_FALSE(it.Prev());
  EXPECT_FALSE(it.IsValid());
  ASSERT_TRUE(it.Next());  // back at the start: the first arc again
  EXPECT_EQ(At(it), Arc(1, 0));
}

TEST_F(TConnInAllArcsIteratorTest, WalksEveryConnectedSourceLayerAndSkipsEmptyOnes) {
  const int sizes4[] = {1, 2, 2, 1};
  TConnectedNetwork big(4, sizes4);
  big.Connect(0, 2);
  big.Connect(2, 2);  // from the target layer itself
  big.Connect(3, 2);  // and from above it
  TConnInAllArcsIterator it(&big);
  it.Start(2, 1);
  std::vector<Arc> seen;
  while (it.Next()) seen.push_back(At(it));
  EXPECT_EQ(seen, (std::vector<Arc>{{0, 0}, {2, 0}, {2, 1}, {3, 0}}));
  std::vector<Arc> back;
  while (it.Prev()) back.push_back(At(it));
  // After the end the walk back starts below the last layer.
  EXPECT_EQ(back, (std::vector<Arc>{{2, 1}, {2, 0}, {0, 0}}));
}

TEST_F(TConnInAllArcsIteratorTest, WeightIsWritableInPlace) {
  TConnInAllArcsIterator it(&net);
  it.Start(2, 1);
  it.Next();
  it.Next();
  it.GetWeight() = -7.5;
  EXPECT_EQ(net.GetConnections(1, 2)->Weight(1, 1), -7.5);
}

using TConnInLayerArcsIteratorTest = ArcsFixture;

TEST_F(TConnInLayerArcsIteratorTest, WalksOneSourceLayer) {
  TConnInLayerArcsIterator it(&net);
  it.Start(2, 1, 1);
  EXPECT_TRUE(it.IsValid());  // true from Start on
  EXPECT_FALSE(it.Prev());
  ASSERT_TRUE(it.Next());
  EXPECT_EQ(it.GetWeight(), 10.0);
  EXPECT_EQ(it.GetFromNeuron(), net.layers[1]->GetNeuron(0));
  ASSERT_TRUE(it.Next());
  EXPECT_EQ(it.GetWeight(), 11.0);
  EXPECT_FALSE(it.Next());
  EXPECT_EQ(it.GetFromNode(), 1);  // stays on the last arc
  EXPECT_TRUE(it.Prev());
  EXPECT_EQ(it.GetFromNode(), 0);
  EXPECT_FALSE(it.Prev());
  EXPECT_EQ(it.GetFromNode(), 0);
  EXPECT_EQ(it.GetToLayer(), 2);
  EXPECT_EQ(it.GetToNode(), 1);
}

TEST(TConnectedNetworkDeathTest, WeightBeforeTheFirstArc) {
  const int sizes[] = {0, 1, 1};
  TConnectedNetwork net(3, sizes);
  TConnInAllArcsIterator it(&net);
  it.Start(2, 0);
  EXPECT_DEATH(it.GetWeight(), "Assertion failed: s.weight != NULL");
}

}  // namespace
