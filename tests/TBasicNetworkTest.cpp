#include "NeuralNets/TBasicNetwork.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace {

// A basic network with one TSimpleLayer per size (layer 1 a TSimpleInputLayer).
std::unique_ptr<TBasicNetwork> MakeNet(std::vector<int> sizes) {
  auto net = std::make_unique<TBasicNetwork>(static_cast<int>(sizes.size()));
  for (int i = 0; i < static_cast<int>(sizes.size()); ++i) {
    if (i == 1)
      net->layers[i] = std::make_unique<TSimpleInputLayer>(net.get(), i, sizes[i]);
    else
      net->layers[i] = std::make_unique<TSimpleLayer>(net.get(), i, sizes[i]);
  }
  return net;
}

// Every set sits in the cell of its own layer pair.
void ExpectCellsConsistent(TBasicNetwork& net) {
  ASSERT_EQ(net.priv_conns.size(), static_cast<std::size_t>(net.numLayers * net.numLayers));
  for (int to = 0; to < net.numLayers; ++to)
    for (int from = 0; from < net.numLayers; ++from) {
      TBasicConnections* c = net.priv_conns_index[to][from].get();
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c, net.priv_conns[to * net.numLayers + from].get());
      EXPECT_EQ(c->fromLayer, from);
      EXPECT_EQ(c->toLayer, to);
      EXPECT_EQ(c->network, &net);
    }
  for (int i = 0; i < net.numLayers; ++i) EXPECT_EQ(net.layers[i]->layerNum, i);
}

// Records the arcs shown to it as "f>t" texts.
struct Recorder : TIterateObj {
  std::vector<std::string> arcs;
  void Visit() override {
    arcs.push_back(std::to_string(fromLayer) + ":" + std::to_string(fromNode) + ">" +
                   std::to_string(toLayer) + ":" + std::to_string(toNode));
  }
};

TEST(TBasicNetworkTest, InitMakesEmptyCellsAndDefaults) {
  TBasicNetwork net(3);
  EXPECT_EQ(net.numLayers, 3);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 2);
  for (auto& l : net.layers) EXPECT_EQ(l, nullptr);
  for (int to = 0; to < 3; ++to)
    for (int from = 0; from < 3; ++from) {
      TBasicConnections* c = net.GetConnections(from, to);
      EXPECT_FALSE(c->IsConnected());
      EXPECT_STREQ(c->GetConnectionsNType(), "Empty");
      EXPECT_EQ(c->fromLayer, from);
      EXPECT_EQ(c->toLayer, to);
    }
  EXPECT_EQ(net.GetNumWeights(0), 0);
  EXPECT_EQ(net.GetNumWeights(1), 0);
  EXPECT_EQ(net.registry->count, 10);
  EXPECT_STREQ(net.GetNetworkType(), "Basic");
}

TEST(TBasicNetworkTest, ConnectMakesPruneableSetOnceAndDisconnectEmpties) {
  auto net = MakeNet({0, 2, 3});
  net->Connect(1, 2);
  TBasicConnections* first = net->GetConnections(1, 2);
  EXPECT_STREQ(first->GetConnectionsNType(), "Pruneable");
  first->Weight(1, 2) = 7.0;
  net->Connect(1, 2);
  EXPECT_EQ(net->GetConnections(1, 2), first);
  EXPECT_EQ(first->Weight(1, 2), 7.0);
  net->Disconnect(1, 2);
  EXPECT_STREQ(net->GetConnections(1, 2)->GetConnectionsNType(), "Empty");
  net->Connect(1, 2);
  EXPECT_EQ(net->GetConnections(1, 2)->Weight(1, 2), 0.0);
  EXPECT_EQ(net->GetNumWeights(1), 6);
}

TEST(TBasicNetworkTest, GetNeuronNumbersAcrossLayers) {
  auto net = MakeNet({0, 2, 3});
  EXPECT_EQ(net->GetNumNeurons(), 5);
  EXPECT_EQ(net->GetNeuron(0), net->layers[1]->GetNeuron(0));
  EXPECT_EQ(net->GetNeuron(1), net->layers[1]->GetNeuron(1));
  EXPECT_EQ(net->GetNeuron(2), net->layers[2]->GetNeuron(0));
  EXPECT_EQ(net->GetNeuron(4), net->layers[2]->GetNeuron(2));
}

TEST(TBasicNetworkDeathTest, NeuronNumberOutOfRange) {
  auto net = MakeNet({0, 2, 3});
  EXPECT_DEATH(net->GetNeuron(-1), "Assertion failed: index>=0");
  EXPECT_DEATH(net->GetNeuron(5), "Assertion failed: index<GetNumNeurons\\(\\)");
}

// Layers 0..3 with 1, 2, 2, 1 neurons and sets 0->2, 1->2, 1->3, 2->3.
std::unique_ptr<TBasicNetwork> MakeFourLayers() {
  auto net = MakeNet({1, 2, 2, 1});
  net->Connect(0, 2);
  net->Connect(1, 2);
  net->Connect(1, 3);
  net->Connect(2, 3);
  return net;
}

TEST(TBasicNetworkTest, WeightBufferIsSourceMajorAndRoundTrips) {
  auto net = MakeFourLayers();
  // Tag every weight with its set and arc.
  for (int from = 0; from < 4; ++from)
    for (int to = 0; to < 4; ++to) {
      TBasicConnections* c = net->GetConnections(from, to);
      if (!c->IsConnected()) continue;
      for (int f = 0; f < net->layers[from]->numNeurons; ++f)
        for (int t = 0; t < net->layers[to]->numNeurons; ++t)
          c->Weight(f, t) = 1000 * from + 100 * to + 10 * f + t;
    }
  ASSERT_EQ(net->GetNumWeights(1), 2 + 4 + 2 + 2);
  std::vector<double> buf(10);
  EXPECT_EQ(net->GetWeights(buf.data(), 1), 10);
  // from 0: (0->2); from 1: (1->2), (1->3); from 2: (2->3); each set in iteration order.
  EXPECT_EQ(buf, (std::vector<double>{200, 201, 1200, 1210, 1201, 1211, 1300, 1310, 2300, 2310}));
  std::vector<double> changed(buf);
  for (double& v : changed) v += 0.5;
  EXPECT_EQ(net->SetWeights(changed.data(), 1), 10);
  EXPECT_EQ(net->GetConnections(1, 2)->Weight(1, 0), 1210.5);
  EXPECT_EQ(net->SetWeights(buf.data(), 1), 10);
  std::vector<double> again(10);
  net->GetWeights(again.data(), 1);
  EXPECT_EQ(again, buf);
}

TEST(TBasicNetworkTest, RandomizeDrawsInSourceMajorOrder) {
  auto net = MakeFourLayers();
  SeedRandom(99);
  net->Randomize(-1, 1);
  std::vector<double> got(10);
  net->GetWeights(got.data(), 1);
  SeedRandom(99);
  for (double w : got) EXPECT_EQ(w, RandomWeightDraw(-1, 1));
  net->Randomize(0.25, 0.25);
  net->GetWeights(got.data(), 1);
  for (double w : got) EXPECT_EQ(w, 0.25);
}

TEST(TBasicNetworkTest, PropagateRunsLayersInOrder) {
  auto net = MakeNet({0, 2, 2});
  net->Connect(1, 2);
  net->layers[2]->SetActFunction(ActLinear);
  TBasicConnections* c = net->GetConnections(1, 2);
  c->Weight(0, 0) = 1.0;
  c->Weight(1, 0) = 2.0;
  c->Weight(0, 1) = -1.0;
  c->Weight(1, 1) = 0.5;
  const double in[] = {3.0, 4.0};
  double out[2] = {0, 0};
  net->Propagate(in, out);
  EXPECT_EQ(out[0], 11.0);
  EXPECT_EQ(out[1], -1.0);
}

TEST(TBasicNetworkTest, CanPropagateOnlyWhenNoEvaluatedNeuronHoldsErrorOrNull) {
  // Input layers evaluate nothing; layer 0 without neurons neither.
  auto net = MakeNet({0, 2, 2});
  EXPECT_FALSE(CanPropagate(*net));  // layer 2's neurons still hold "error"
  net->layers[2]->SetActFunction(ActLinear);
  EXPECT_TRUE(CanPropagate(*net));
  // A neuron-by-neuron layer: every neuron counts.
  net = MakeNet({0, 2, 2});
  net->layers[2]->GetNeuron(0)->SetActFunction(ActSigmoid);
  EXPECT_FALSE(CanPropagate(*net));
  net->layers[2]->GetNeuron(1)->SetActFunction(ActNull);
  EXPECT_FALSE(CanPropagate(*net));
  net->layers[2]->GetNeuron(1)->SetActFunction(ActTanh);
  EXPECT_TRUE(CanPropagate(*net));
  // A Simple layer with neurons in layer 0 is evaluated too.
  net = MakeNet({1, 2, 2});
  net->layers[2]->SetActFunction(ActLinear);
  EXPECT_FALSE(CanPropagate(*net));
  net->layers[0]->SetActFunction(ActBias);
  EXPECT_TRUE(CanPropagate(*net));
  const double in[] = {1.0, 2.0};
  double out[2];
  net->Propagate(in, out);
}

TEST(TBasicNetworkTest, CopyAndAssignmentCloneEverything) {
  auto net = MakeFourLayers();
  net->GetConnections(1, 2)->Weight(1, 1) = 4.5;
  net->GetConnections(2, 3)->PruneWeight(0, 0);
  net->registry->AddFunction(ActTanh, "later");
  TBasicNetwork copy(*net);
  ExpectCellsConsistent(copy);
  EXPECT_EQ(copy.GetConnections(1, 2)->Weight(1, 1), 4.5);
  EXPECT_FALSE(copy.GetConnections(2, 3)->WeightExists(0, 0));
  EXPECT_NE(copy.layers[1].get(), net->layers[1].get());
  EXPECT_EQ(copy.layers[1]->network, &copy);
  EXPECT_EQ(copy.registry->count, 10);  // functions added later are not carried over
  EXPECT_STREQ(copy.layers[1]->GetLayerType(), "Input");

  auto small = MakeNet({0, 1, 1});
  *small = *net;
  ExpectCellsConsistent(*small);
  EXPECT_EQ(small->numLayers, 4);
  EXPECT_EQ(small->GetNumWeights(1), net->GetNumWeights(1));

  TBasicNetwork& self = copy;
  copy = self;
  ExpectCellsConsistent(copy);
  EXPECT_EQ(copy.GetConnections(1, 2)->Weight(1, 1), 4.5);
}

TEST(TBasicNetworkTest, AddAndRemoveNodeResizeTheLayerAndItsSets) {
  auto net = MakeFourLayers();
  SeedRandom(5);
  net->AddNode(2, 1, -1, 1, true);
  EXPECT_EQ(net->layers[2]->numNeurons, 3);
  EXPECT_EQ(net->GetConnections(1, 2)->GetNumWeights(1), 6);
  EXPECT_EQ(net->GetConnections(2, 3)->GetNumWeights(1), 3);
  EXPECT_EQ(net->GetConnections(0, 2)->GetNumWeights(1), 3);
  // Draw order: for each layer i, the set from layer 2 to i, then from i to layer 2.
  SeedRandom(5);
  const double w0 = RandomWeightDraw(-1, 1);  // i=0: set 0->2, arc (0, 1)
  const double w1 = RandomWeightDraw(-1, 1);  // i=1: set 1->2, arcs (0, 1), (1, 1)
  const double w2 = RandomWeightDraw(-1, 1);
  const double w3 = RandomWeightDraw(-1, 1);  // i=3: set 2->3, arc (1, 0)
  EXPECT_EQ(net->GetConnections(0, 2)->Weight(0, 1), w0);
  EXPECT_EQ(net->GetConnections(1, 2)->Weight(0, 1), w1);
  EXPECT_EQ(net->GetConnections(1, 2)->Weight(1, 1), w2);
  EXPECT_EQ(net->GetConnections(2, 3)->Weight(1, 0), w3);
  net->RemoveNode(2, 1);
  EXPECT_EQ(net->layers[2]->numNeurons, 2);
  EXPECT_EQ(net->GetNumWeights(1), 10);
  ExpectCellsConsistent(*net);
}

TEST(TBasicNetworkDeathTest, NodeEditsOfInputOutputOrMissingLayers) {
  auto net = MakeFourLayers();
  EXPECT_DEATH(net->AddNode(1, 0, 0, 0, true), "Assertion failed: LayerNum!=inLayer");
  EXPECT_DEATH(net->RemoveNode(3, 0), "Assertion failed: LayerNum!=outLayer");
  EXPECT_DEATH(net->RemoveNode(4, 0), "Assertion failed: LayerNum<numLayers");
  EXPECT_DEATH(net->RemoveNode(-1, 0), "Assertion failed: LayerNum>=0");
  EXPECT_DEATH(net->RemoveNode(2, -1), "Assertion failed: node>=0");
}

TEST(TBasicNetworkTest, NodeInASelfConnectedLayerKeepsItsArcs) {
  auto net = MakeNet({0, 1, 3, 1});
  net->Connect(2, 2);
  TBasicConnections* c = net->GetConnections(2, 2);
  for (int f = 0; f < 3; ++f)
    for (int t = 0; t < 3; ++t) c->Weight(f, t) = 10 * f + t;
  net->RemoveNode(2, 1);
  EXPECT_EQ(c->GetNumWeights(1), 4);
  EXPECT_EQ(c->Weight(0, 0), 0.0);
  EXPECT_EQ(c->Weight(0, 1), 2.0);
  EXPECT_EQ(c->Weight(1, 0), 20.0);
  EXPECT_EQ(c->Weight(1, 1), 22.0);
  net->AddNode(2, 0, 0.5, 0.5, false);
  EXPECT_EQ(c->GetNumWeights(1), 4);  // unattached: the new row and column are pruned
  EXPECT_EQ(c->GetNumWeights(2), 4);
  EXPECT_EQ(c->Weight(1, 2), 2.0);
  EXPECT_EQ(c->Weight(2, 1), 20.0);
  EXPECT_FALSE(c->WeightExists(0, 0));
  EXPECT_FALSE(c->WeightExists(0, 2));
  EXPECT_FALSE(c->WeightExists(2, 0));
}

TEST(TBasicNetworkTest, PruneNodesRemovesHiddenNeuronsWithoutOutgoingArcs) {
  // Layers 0 (2 neurons), 1 input (1), 2 hidden (2), 3 output (1).
  auto net = MakeNet({2, 1, 2, 1});
  net->Connect(1, 2);
  net->Connect(2, 3);
  net->Connect(0, 3);
  EXPECT_EQ(net->PruneNodes(), 0);
  net->GetConnections(2, 3)->PruneWeight(0, 0);
  net->GetConnections(0, 3)->PruneWeight(1, 0);
  EXPECT_EQ(net->PruneNodes(), 2);
  EXPECT_EQ(net->layers[2]->numNeurons, 1);
  EXPECT_EQ(net->layers[0]->numNeurons, 1);
  // The removed hidden neuron's incoming arcs went with it.
  EXPECT_EQ(net->GetConnections(1, 2)->GetNumWeights(1), 1);
  EXPECT_EQ(net->GetConnections(2, 3)->GetNumWeights(1), 1);
  EXPECT_EQ(net->layers[1]->numNeurons, 1);
}

TEST(TBasicNetworkTest, PruneNodesLeavesLayersAboveTheOutputLayer) {
  auto net = MakeNet({0, 1, 1, 2});
  net->outLayer = 2;
  EXPECT_EQ(net->PruneNodes(), 0);
  EXPECT_EQ(net->layers[3]->numNeurons, 2);
}

TEST(TBasicNetworkTest, IterateInAndOutArcsWalkEverySet) {
  auto net = MakeFourLayers();
  Recorder in;
  net->IterateInArcs(in, 2, 1, 1);
  EXPECT_EQ(in.arcs, (std::vector<std::string>{"0:0>2:1", "1:0>2:1", "1:1>2:1"}));
  Recorder out;
  net->IterateOutArcs(out, 1, 1, 1);
  EXPECT_EQ(out.arcs, (std::vector<std::string>{"1:1>2:0", "1:1>2:1", "1:1>3:0"}));
}

TEST(TBasicNetworkTest, InsertLayerRenumbersSetsLayersAndInOut) {
  auto net = MakeFourLayers();
  net->GetConnections(1, 2)->Weight(1, 0) = 3.5;
  net->InsertLayer(0, std::make_unique<TSimpleLayer>(net.get(), 0, 4));
  EXPECT_EQ(net->numLayers, 5);
  EXPECT_EQ(net->inLayer, 2);
  EXPECT_EQ(net->outLayer, 4);
  ExpectCellsConsistent(*net);
  EXPECT_EQ(net->layers[0]->numNeurons, 4);
  EXPECT_EQ(net->layers[2]->GetNeuron(1)->layerNum, 2);
  EXPECT_EQ(net->GetConnections(2, 3)->Weight(1, 0), 3.5);
  EXPECT_TRUE(net->GetConnections(1, 3)->IsConnected());  // was 0 -> 2
  for (int i = 0; i < 5; ++i) {
    EXPECT_FALSE(net->GetConnections(0, i)->IsConnected());
    EXPECT_FALSE(net->GetConnections(i, 0)->IsConnected());
  }
  EXPECT_EQ(net->GetNumWeights(1), 10);

  net->InsertLayer(5, std::make_unique<TSimpleLayer>(net.get(), 5, 1));
  EXPECT_EQ(net->inLayer, 2);
  EXPECT_EQ(net->outLayer, 4);
  ExpectCellsConsistent(*net);

  net->InsertLayer(3, std::make_unique<TSimpleLayer>(net.get(), 3, 1));
  EXPECT_EQ(net->outLayer, 5);
  EXPECT_EQ(net->GetConnections(2, 4)->Weight(1, 0), 3.5);
  ExpectCellsConsistent(*net);
}

TEST(TBasicNetworkTest, RemoveLayerRenumbersAndDestroysItsSets) {
  auto net = MakeFourLayers();
  net->GetConnections(1, 2)->Weight(1, 0) = 3.5;
  net->InsertLayer(0, std::make_unique<TSimpleLayer>(net.get(), 0, 4));
  net->Connect(0, 3);
  net->RemoveLayer(0);
  EXPECT_EQ(net->numLayers, 4);
  EXPECT_EQ(net->inLayer, 1);
  EXPECT_EQ(net->outLayer, 3);
  ExpectCellsConsistent(*net);
  EXPECT_EQ(net->GetConnections(1, 2)->Weight(1, 0), 3.5);
  EXPECT_EQ(net->GetNumWeights(1), 10);

  net->RemoveLayer(2);
  EXPECT_EQ(net->outLayer, 2);
  ExpectCellsConsistent(*net);
  EXPECT_EQ(net->GetNumWeights(1), 2);  // only 1 -> 3, now 1 -> 2
  EXPECT_TRUE(net->GetConnections(1, 2)->IsConnected());
}

TEST(TBasicNetworkDeathTest, LayerEditsCheckTheirPreconditions) {
  auto net = MakeFourLayers();
  EXPECT_DEATH(net->RemoveLayer(4), "Assertion failed: LayerNum<numLayers");
  EXPECT_DEATH(net->RemoveLayer(1), "Assertion failed: LayerNum!=inLayer");
  EXPECT_DEATH(net->RemoveLayer(3), "Assertion failed: LayerNum!=outLayer");
  EXPECT_DEATH(net->InsertLayer(5, nullptr), "Assertion failed: LayerNum<=numLayers");
  EXPECT_DEATH(net->NewArcsIterator(), "Assertion failed: false");
}

TEST(TBasicNetworkTest, HalfBuiltNetworkDestroysSafelyAndHelpersInstall) {
  auto net = std::make_unique<TBasicNetwork>(3);
  net->SetLayer(2, std::make_unique<TSimpleLayer>(nullptr, 7, 2));
  EXPECT_EQ(net->layers[2]->layerNum, 2);
  EXPECT_EQ(net->layers[2]->network, net.get());
  net->SetLayer(1, std::make_unique<TSimpleInputLayer>(net.get(), 1, 3));
  net->SetConnections(std::make_unique<TConnectedConnections>(net.get(), 1, 2));
  EXPECT_STREQ(net->GetConnections(1, 2)->GetConnectionsNType(), "FullyConnected");
  net->SetConnections(std::make_unique<TPrunedConnections>(net.get(), 1, 2));
  EXPECT_STREQ(net->GetConnections(1, 2)->GetConnectionsNType(), "Pruneable");
  net.reset();  // layer 0 was never filled
}

}  // namespace
