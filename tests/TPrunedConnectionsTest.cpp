#include "NeuralNets/TPrunedConnections.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "NeuralNets/Random.h"

namespace {

// A basic network with layers of 0, nFrom and nTo neurons and a pruneable set 1 -> 2.
struct Fixture : ::testing::Test {
  TBasicNetwork net{3};
  TBasicConnections* c = nullptr;
  void Make(int nFrom, int nTo) {
    net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 0);
    net.layers[1] = std::make_unique<TSimpleInputLayer>(&net, 1, nFrom);
    net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, nTo);
    net.Connect(1, 2);
    c = net.GetConnections(1, 2);
  }
  void Tag() {
    for (int f = 0; f < net.layers[1]->numNeurons; ++f)
      for (int t = 0; t < net.layers[2]->numNeurons; ++t) c->Weight(f, t) = 10 * t + f;
  }
  TPrunedConnections& P() { return *static_cast<TPrunedConnections*>(c); }
};

struct Arcs : TIterateObj {
  std::vector<std::pair<int, int>> arcs;
  std::vector<int> trainables;
  void Visit() override {
    arcs.emplace_back(fromNode, toNode);
    trainables.push_back(trainable);
  }
};

using TPrunedConnectionsTest = Fixture;

TEST_F(TPrunedConnectionsTest, NewSetIsFullAndTrainable) {
  Make(2, 2);
  EXPECT_STREQ(c->GetConnectionsNType(), "Pruneable");
  EXPECT_EQ(c->GetNumWeights(0), 4);
  EXPECT_EQ(c->GetNumWeights(1), 4);
  EXPECT_EQ(c->GetFlags(), std::vector<char>(4, FMaskAll));
  EXPECT_EQ(P().index_masks[1], P().array_masks.data() + 2);
}

TEST_F(TPrunedConnectionsTest, PrunedArcIsSkippedEverywhere) {
  Make(2, 2);
  c->Weight(1, 0) = 5.0;
  c->Weight(0, 0) = 2.0;
  c->PruneWeight(1, 0);
  EXPECT_FALSE(c->WeightExists(1, 0));
  EXPECT_FALSE(c->IsTrainable(1, 0));
  EXPECT_EQ(c->Weight(1, 0), 0.0);
  EXPECT_EQ(c->GetNumWeights(1), 3);
  Arcs v;
  c->Iterate(v, 1);
  EXPECT_EQ(v.arcs, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 1}}));
  net.layers[1]->values = {3.0, 1000.0};
  c->Weight(1, 0) = 7.0;  // a pruned arc contributes nothing whatever its weight
  double sums[2] = {0.0, 0.0};
  c->Aggregate(sums);
  EXPECT_EQ(sums[0], 6.0);
}

TEST_F(TPrunedConnectionsTest, FrozenWeightsAreVisitedOnlyInModeOneAndNotDrawn) {
  Make(2, 2);
  c->MakeUntrainable(0, 1);
  EXPECT_EQ(c->GetNumWeights(1), 4);
  EXPECT_EQ(c->GetNumWeights(0), 3);
  EXPECT_EQ(c->GetNumWeights(7), 3);
  Arcs all;
  c->Iterate(all, 1);
  EXPECT_EQ(all.trainables, (std::vector<int>{1, 1, 0, 1}));
  c->Weight(0, 1) = 9.0;
  SeedRandom(4);
  c->Randomize(-1, 1);
  SeedRandom(4);
  EXPECT_EQ(c->Weight(0, 0), RandomWeightDraw(-1, 1));
  EXPECT_EQ(c->Weight(1, 0), RandomWeightDraw(-1, 1));
  EXPECT_EQ(c->Weight(1, 1), RandomWeightDraw(-1, 1));
  EXPECT_EQ(c->Weight(0, 1), 9.0);
  const std::uint32_t state = RandomState();
  SeedRandom(4);
  for (int i = 0; i < 3; ++i) NextRandom();
  EXPECT_EQ(RandomState(), state);
  c->Randomize(0.5, 0.5);
  EXPECT_EQ(c->Weight(0, 1), 9.0);
  EXPECT_EQ(c->Weight(1, 1), 0.5);
}

TEST_F(TPrunedConnectionsTest, FlagTransitions) {
  Make(2, 2);
  c->PruneWeight(0, 0);
  c->MakeTrainable(0, 0);
  EXPECT_EQ(c->GetWeightFlags(0, 0), 0);
  c->Weight(0, 1) = 4.0;
  c->RestoreWeight(0, 1);
  EXPECT_EQ(c->Weight(0, 1), 4.0);
  EXPECT_EQ(c->GetWeightFlags(0, 1), FMaskAll);
  c->RestoreWeight(0, 0);
  EXPECT_EQ(c->GetWeightFlags(0, 0), FMaskAll);
  EXPECT_EQ(c->Weight(0, 0), 0.0);
  c->MakeUntrainable(1, 1);
  EXPECT_EQ(c->GetWeightFlags(1, 1), FMaskExists);
  c->MakeTrainable(1, 1);
  EXPECT_EQ(c->GetWeightFlags(1, 1), FMaskAll);
  c->SetWeightFlags(1, 0, 2);  // unchecked
  EXPECT_EQ(c->GetWeightFlags(1, 0), 2);
}

TEST_F(TPrunedConnectionsTest, FlagsRoundTripAndMakeAllUntrainable) {
  Make(2, 2);
  c->PruneWeight(1, 0);
  c->MakeUntrainable(0, 1);
  const std::vector<char> flags = c->GetFlags();
  EXPECT_EQ(flags, (std::vector<char>{3, 1, 3}));
  c->MakeAllUntrainable();
  EXPECT_EQ(c->GetFlags(), (std::vector<char>{1, 1, 1}));
  EXPECT_EQ(c->GetNumWeights(0), 0);
  c->SetFlags(flags.data());
  EXPECT_EQ(c->GetFlags(), flags);
}

TEST_F(TPrunedConnectionsTest, WeightBufferFollowsIterationOrder) {
  Make(3, 2);
  Tag();
  std::vector<double> buf(6);
  EXPECT_EQ(c->GetWeights(buf.data(), 1), 6);
  EXPECT_EQ(buf, (std::vector<double>{0, 1, 2, 10, 11, 12}));
  c->MakeUntrainable(1, 0);
  std::vector<double> in{-1, -2, -3, -4, -5};
  EXPECT_EQ(c->SetWeights(in.data(), 0), 5);
  EXPECT_EQ(c->Weight(1, 0), 1.0);
  EXPECT_EQ(c->Weight(2, 0), -2.0);
  EXPECT_EQ(c->Weight(2, 1), -5.0);
}

TEST_F(TPrunedConnectionsTest, UnattachedInsertionIsPrunedAndDrawsNothing) {
  Make(2, 2);
  Tag();
  c->MakeUntrainable(1, 1);
  net.layers[1]->numNeurons = 3;
  SeedRandom(6);
  c->InsertFromNode(0, -1, 1, false);
  EXPECT_EQ(RandomState(), 6u);
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(c->GetWeightFlags(0, t), 0);
    EXPECT_EQ(c->Weight(0, t), 0.0);
  }
  EXPECT_EQ(c->Weight(2, 1), 11.0);
  EXPECT_EQ(c->GetWeightFlags(2, 1), FMaskExists);  // flags move with their weights
  net.layers[2]->numNeurons = 3;
  c->InsertToNode(2, -1, 1, true);
  SeedRandom(6);
  for (int f = 0; f < 3; ++f) {
    EXPECT_EQ(c->Weight(f, 2), RandomWeightDraw(-1, 1));
    EXPECT_EQ(c->GetWeightFlags(f, 2), FMaskAll);
  }
}

TEST_F(TPrunedConnectionsTest, RemovalMovesFlagsWithWeights) {
  Make(3, 2);
  Tag();
  c->PruneWeight(2, 1);
  c->MakeUntrainable(1, 0);
  net.layers[1]->numNeurons = 2;
  c->RemoveFromNode(0);
  EXPECT_EQ(c->GetWeightFlags(0, 0), FMaskExists);
  EXPECT_EQ(c->Weight(0, 0), 1.0);
  EXPECT_EQ(c->GetWeightFlags(1, 1), 0);
  net.layers[2]->numNeurons = 1;
  c->RemoveToNode(0);
  EXPECT_EQ(c->GetFlags(), (std::vector<char>{3}));
  EXPECT_EQ(c->Weight(0, 0), 11.0);
}

TEST_F(TPrunedConnectionsTest, IterateTwoAndThreeNetworksUseThisSetsFlags) {
  Make(2, 1);
  Tag();
  TBasicNetwork second(net), third(net);
  second.GetConnections(1, 2)->Weight(1, 0) = 100.0;
  c->PruneWeight(0, 0);
  struct Sum2 : TIterateObj2 {
    double sum = 0;
    void Visit() override { sum += *weight1 + *weight2; }
  } v2;
  c->Iterate2(v2, &second, 1);
  EXPECT_EQ(v2.sum, 1.0 + 100.0);
  EXPECT_EQ(v2.conns2, second.GetConnections(1, 2));
  struct Sum3 : TIterateObj3 {
    int n = 0;
    double sum = 0;
    void Visit() override {
      ++n;
      sum += *weight3;
    }
  } v3;
  c->Iterate3(v3, &second, &third, 0);
  EXPECT_EQ(v3.n, 1);
  EXPECT_EQ(v3.sum, 1.0);
}

}  // namespace
