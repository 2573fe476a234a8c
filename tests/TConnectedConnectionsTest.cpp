#include "NeuralNets/TConnectedConnections.h"

#include <gtest/gtest.h>

#include <vector>

#include "NeuralNets/Random.h"

namespace {

// Layer 1 with 3 neurons, layer 2 with 2, a fully connected set 1 -> 2.
struct Fixture : ::testing::Test {
  TConnectedNetwork net{3};
  TBasicConnections* c = nullptr;
  void SetUp() override {
    net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 0);
    net.layers[1] = std::make_unique<TSimpleInputLayer>(&net, 1, 3);
    net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, 2);
    net.Connect(1, 2);
    c = net.GetConnections(1, 2);
  }
  TConnectedConnections& Full() { return *static_cast<TConnectedConnections*>(c); }
  void Tag() {  // w(f -> t) = 10 t + f
    for (int f = 0; f < 3; ++f)
      for (int t = 0; t < 2; ++t) c->Weight(f, t) = 10 * t + f;
  }
};

struct Pairs : TIterateObj {
  std::vector<double> seen;
  std::vector<int> from, to;
  int notTrainable = 0;
  void Visit() override {
    seen.push_back(*weight);
    from.push_back(fromNode);
    to.push_back(toNode);
    if (!trainable) ++notTrainable;
  }
};

using TConnectedConnectionsTest = Fixture;

TEST_F(TConnectedConnectionsTest, LayoutIsToNeuronMajor) {
  EXPECT_EQ(c->GetNumWeights(0), 6);
  EXPECT_EQ(c->GetNumWeights(1), 6);
  for (double w : Full().array_weights) EXPECT_EQ(w, 0.0);
  EXPECT_EQ(&c->Weight(2, 1), &Full().array_weights[5]);
  EXPECT_EQ(Full().index_weights[1], Full().array_weights.data() + 3);
  EXPECT_TRUE(c->IsConnected());
  EXPECT_TRUE(c->WeightExists(2, 1));
  EXPECT_TRUE(c->IsTrainable(2, 1));
  EXPECT_EQ(c->GetWeightFlags(0, 0), FMaskAll);
  EXPECT_EQ(c->GetFlags(), std::vector<char>(6, 3));
}

TEST_F(TConnectedConnectionsTest, WeightBufferIsFromOuterButIterationIsToOuter) {
  Tag();
  std::vector<double> buf(6);
  EXPECT_EQ(c->GetWeights(buf.data(), 0), 6);
  EXPECT_EQ(buf, (std::vector<double>{0, 10, 1, 11, 2, 12}));
  Pairs v;
  c->Iterate(v, 0);
  EXPECT_EQ(v.seen, (std::vector<double>{0, 1, 2, 10, 11, 12}));
  EXPECT_EQ(v.notTrainable, 0);
  for (double& b : buf) b = -b;
  EXPECT_EQ(c->SetWeights(buf.data(), 1), 6);
  EXPECT_EQ(c->Weight(1, 1), -11.0);
  EXPECT_EQ(c->Weight(2, 0), -2.0);
}

TEST_F(TConnectedConnectionsTest, IterateInAndOut) {
  Tag();
  Pairs out;
  c->IterateOut(out, 2, 1);
  EXPECT_EQ(out.to, (std::vector<int>{0, 1}));
  EXPECT_EQ(out.seen, (std::vector<double>{2, 12}));
  Pairs in;
  c->IterateIn(in, 1, 0);
  EXPECT_EQ(in.from, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(in.seen, (std::vector<double>{10, 11, 12}));
}

TEST_F(TConnectedConnectionsTest, RandomizeDrawsInStorageOrder) {
  SeedRandom(11);
  c->Randomize(-1, 1);
  SeedRandom(11);
  for (double w : Full().array_weights) EXPECT_EQ(w, RandomWeightDraw(-1, 1));
  const std::uint32_t state = RandomState();
  c->Randomize(0.5, 0.5);
  EXPECT_EQ(RandomState(), state);
  for (double w : Full().array_weights) EXPECT_EQ(w, 0.5);
}

TEST_F(TConnectedConnectionsTest, AggregateAddsToNet) {
  Tag();
  net.layers[1]->values = {1.0, 2.0, 3.0};
  double net2[2] = {100.0, 0.5};
  c->Aggregate(net2);
  EXPECT_EQ(net2[0], 100.0 + 0 + 2 + 6);
  EXPECT_EQ(net2[1], 0.5 + 10 + 22 + 36);
}

TEST_F(TConnectedConnectionsTest, CloneCopiesWeightsForAnotherNetwork) {
  Tag();
  TConnectedNetwork other(net);
  TBasicConnections* x = other.GetConnections(1, 2);
  EXPECT_NE(x, c);
  EXPECT_EQ(x->network, &other);
  EXPECT_STREQ(x->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(x->GetConnectionsNType(), c->GetConnectionsNType());  // one static text per kind
  EXPECT_EQ(x->Weight(2, 1), 12.0);
  x->Weight(2, 1) = 0;
  EXPECT_EQ(c->Weight(2, 1), 12.0);
}

TEST_F(TConnectedConnectionsTest, RemovingColumnsAndRows) {
  Tag();
  net.layers[1]->numNeurons = 2;
  c->RemoveFromNode(0);
  EXPECT_EQ(c->GetNumWeights(1), 4);
  EXPECT_EQ(c->Weight(0, 0), 1.0);
  EXPECT_EQ(c->Weight(1, 0), 2.0);
  EXPECT_EQ(c->Weight(0, 1), 11.0);
  EXPECT_EQ(c->Weight(1, 1), 12.0);
  net.layers[2]->numNeurons = 1;
  c->RemoveToNode(0);
  EXPECT_EQ(c->GetNumWeights(1), 2);
  EXPECT_EQ(c->Weight(0, 0), 11.0);
  EXPECT_EQ(c->Weight(1, 0), 12.0);
  EXPECT_EQ(Full().index_weights.size(), 1u);
}

TEST_F(TConnectedConnectionsTest, InsertingARowDrawsItsWeightsInFromOrder) {
  Tag();
  net.layers[2]->numNeurons = 3;
  SeedRandom(8);
  c->InsertToNode(1, -1, 1, true);
  SeedRandom(8);
  EXPECT_EQ(c->Weight(2, 0), 2.0);
  EXPECT_EQ(c->Weight(2, 2), 12.0);
  for (int f = 0; f < 3; ++f) EXPECT_EQ(c->Weight(f, 1), RandomWeightDraw(-1, 1));
  net.layers[1]->numNeurons = 4;
  SeedRandom(9);
  c->InsertFromNode(3, 0.25, 0.25, true);  // no equality test: still one draw per weight
  for (int t = 0; t < 3; ++t) EXPECT_EQ(c->Weight(3, t), 0.25);
  EXPECT_EQ(c->Weight(2, 2), 12.0);
  EXPECT_EQ(c->GetNumWeights(0), 12);
}

TEST_F(TConnectedConnectionsTest, DrawsConsumedByInsertionAreCounted) {
  net.layers[1]->numNeurons = 4;
  SeedRandom(9);
  c->InsertFromNode(0, 0.25, 0.25, true);
  const std::uint32_t after = RandomState();
  SeedRandom(9);
  NextRandom();
  NextRandom();  // one per to neuron
  EXPECT_EQ(RandomState(), after);
}

TEST_F(TConnectedConnectionsTest, FlagChangesThatChangeNothingAreAccepted) {
  c->RestoreWeight(0, 0);
  c->MakeTrainable(0, 0);
  c->SetWeightFlags(0, 0, FMaskAll);
  c->SetWeightFlags(0, 0, FMaskExists);
  EXPECT_EQ(c->GetWeightFlags(0, 0), FMaskAll);
  c->SetFlags(std::vector<char>(6, 3).data());
}

using TConnectedConnectionsDeathTest = Fixture;

TEST_F(TConnectedConnectionsDeathTest, UnsupportedChanges) {
  EXPECT_DEATH(c->PruneWeight(0, 0), "Assertion failed: false");
  EXPECT_DEATH(c->MakeUntrainable(0, 0), "Assertion failed: false");
  EXPECT_DEATH(c->MakeAllUntrainable(), "Assertion failed: false");
  EXPECT_DEATH(c->SetWeightFlags(0, 0, 2),
               "Assertion failed: \\(val==FMaskAll\\) \\|\\| \\(val==FMaskExists\\)");
  EXPECT_DEATH(c->InsertFromNode(0, 0, 1, false), "Assertion failed: attached");
}

}  // namespace
