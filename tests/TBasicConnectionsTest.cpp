#include <gtest/gtest.h>

#include <vector>

#include "NeuralNets/Random.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TPrunedConnections.h"

namespace {

struct Counter : TIterateObj {
  int visits = 0;
  void Visit() override { ++visits; }
};

TEST(TEmptyConnectionsTest, HasNoArcs) {
  TBasicNetwork net(3);
  for (int i = 0; i < 3; ++i) net.layers[i] = std::make_unique<TSimpleLayer>(&net, i, 2);
  TBasicConnections* c = net.GetConnections(0, 2);
  EXPECT_FALSE(c->IsConnected());
  EXPECT_FALSE(c->WeightExists(0, 0));
  EXPECT_FALSE(c->IsTrainable(0, 0));
  EXPECT_EQ(c->GetNumWeights(1), 0);
  EXPECT_EQ(c->GetWeights(nullptr, 1), 0);
  EXPECT_EQ(c->SetWeights(nullptr, 1), 0);
  EXPECT_TRUE(c->GetFlags().empty());
  Counter v;
  c->Iterate(v, 1);
  c->IterateIn(v, 0, 1);
  c->IterateOut(v, 0, 1);
  EXPECT_EQ(v.visits, 0);
  const std::uint32_t state = (SeedRandom(3), RandomState());
  c->Randomize(-1, 1);
  EXPECT_EQ(RandomState(), state);
  double sums[2] = {1.0, 2.0};
  c->Aggregate(sums);
  EXPECT_EQ(sums[1], 2.0);
  c->InsertFromNode(0, 0, 1, true);
  c->RemoveToNode(0);
  std::unique_ptr<TBasicConnections> x = c->Clone(&net);
  EXPECT_EQ(x->GetConnectionsNType(), c->GetConnectionsNType());
  EXPECT_EQ(x->fromLayer, 0);
  EXPECT_EQ(x->toLayer, 2);
}

TEST(TEmptyConnectionsDeathTest, HasNoWeightsOrFlagsToChange) {
  TBasicNetwork net(2);
  TBasicConnections* c = net.GetConnections(0, 1);
  EXPECT_DEATH(c->Weight(0, 0), "Assertion failed: false");
  EXPECT_DEATH(c->PruneWeight(0, 0), "Assertion failed: false");
  EXPECT_DEATH(c->RestoreWeight(0, 0), "Assertion failed: false");
}

// Visitors driven by a pruneable set: what they see and what they change.
struct VisitorFixture : ::testing::Test {
  TBasicNetwork net{3};
  TBasicConnections* c = nullptr;
  void SetUp() override {
    net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 0);
    net.layers[1] = std::make_unique<TSimpleInputLayer>(&net, 1, 2);
    net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, 2);
    net.Connect(1, 2);
    c = net.GetConnections(1, 2);
  }
};

using TIterateObjTest = VisitorFixture;

TEST_F(TIterateObjTest, VisitorSeesItsLayersAndSet) {
  struct Check : TIterateObj {
    TBasicNetwork* net = nullptr;
    int visits = 0;
    void Visit() override {
      ++visits;
      EXPECT_EQ(fromLayer, 1);
      EXPECT_EQ(toLayer, 2);
      EXPECT_EQ(conns, net->GetConnections(1, 2));
      EXPECT_EQ(pFromLayer, net->layers[1].get());
      EXPECT_EQ(toOutputs, net->layers[2]->values.data());
      EXPECT_EQ(weight, &conns->Weight(fromNode, toNode));
    }
  } v;
  v.net = &net;
  c->Iterate(v, 1);
  EXPECT_EQ(v.visits, 4);
}

TEST_F(TIterateObjTest, RandomizeVisitorDrawsOrSetsMin) {
  c->MakeUntrainable(0, 0);
  SeedRandom(21);
  TIterateObjRandomize r(-2, 2);
  c->Iterate(r, 0);
  SeedRandom(21);
  EXPECT_EQ(c->Weight(1, 0), RandomWeightDraw(-2, 2));
  EXPECT_EQ(c->Weight(0, 1), RandomWeightDraw(-2, 2));
  TIterateObjRandomize same(0.75, 0.75);
  c->Iterate(same, 1);
  EXPECT_EQ(c->Weight(0, 0), 0.75);
}

TEST_F(TIterateObjTest, BaseAggregateMatchesTheDirectSum) {
  // The base class's visitor-driven Aggregate gives the same sums.
  net.layers[1]->values = {0.5, 3.0};
  c->Weight(0, 0) = 2.0;
  c->Weight(1, 0) = -1.0;
  c->Weight(0, 1) = 4.0;
  c->Weight(1, 1) = 8.0;
  c->PruneWeight(1, 1);
  double direct[2] = {1.0, 1.0}, visited[2] = {1.0, 1.0};
  c->Aggregate(direct);
  c->TBasicConnections::Aggregate(visited);
  EXPECT_EQ(direct[0], visited[0]);
  EXPECT_EQ(direct[1], visited[1]);
  EXPECT_EQ(direct[0], 1.0 + 1.0 - 3.0);
  EXPECT_EQ(direct[1], 1.0 + 2.0);
}

TEST(TIterateObjDeathTest, SetsOfDifferentKindsCannotBeWalkedTogether) {
  const int sizes[] = {0, 1, 1};
  TConnectedNetwork a(3, sizes);
  TBasicNetwork b(a);
  a.Connect(1, 2);
  b.Connect(1, 2);
  EXPECT_DEATH(TIterateObj2(&a, &b, 1, 2, 0, 0),
               "Assertion failed: conn1 -> GetConnectionsNType\\(\\) == conn2 -> "
               "GetConnectionsNType\\(\\)");
  TConnectedNetwork c(a);
  EXPECT_DEATH(TIterateObj3(&a, &c, &b, 1, 2, 0, 0),
               "Assertion failed: conn1 -> GetConnectionsNType\\(\\) == conn3 -> "
               "GetConnectionsNType\\(\\)");
}

}  // namespace
