#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NeuralNets/TBasicNetwork.h"

namespace {

// A network of three layers with the given sizes (layer 1 is the input layer).
std::unique_ptr<TBasicNetwork> MakeNet(int a, int b, int c) {
  auto net = std::make_unique<TBasicNetwork>(3);
  net->layers[0] = std::make_unique<TSimpleLayer>(net.get(), 0, a);
  net->layers[1] = std::make_unique<TSimpleInputLayer>(net.get(), 1, b);
  net->layers[2] = std::make_unique<TSimpleLayer>(net.get(), 2, c);
  return net;
}

void ExpectAttached(TBasicLayer& layer) {
  for (int i = 0; i < layer.numNeurons; ++i) {
    EXPECT_EQ(layer.GetNeuron(i)->layer, &layer);
    EXPECT_EQ(layer.GetNeuron(i)->value, &layer.values[i]);
  }
}

TEST(TBasicLayerTest, NewSimpleLayerAndItsNeurons) {
  TSimpleLayer layer(nullptr, 2, 3);
  EXPECT_EQ(layer.values, std::vector<double>(3, 0.0));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(layer.GetNeuron(i)->layerNum, 2);
    EXPECT_EQ(layer.GetNeuron(i)->index, i);
    EXPECT_EQ(layer.GetNeuron(i)->GetActFunction(), &ActError);
  }
  ExpectAttached(layer);
  EXPECT_EQ(layer.GetActFunction(), &ActError);
  EXPECT_STREQ(layer.GetLayerType(), "Simple");
  EXPECT_EQ(layer.numDimensions, 0);
}

TEST(TBasicLayerTest, CommonFunctionIsForgottenAndWorkedOutAgain) {
  TSimpleLayer layer(nullptr, 2, 3);
  layer.SetActFunction(ActLinear);
  EXPECT_EQ(layer.GetActFunction(), &ActLinear);
  layer.GetNeuron(1)->SetActFunction(ActSigmoid);
  EXPECT_EQ(layer.actFunction, nullptr);
  EXPECT_EQ(layer.GetActFunction(), nullptr);
  EXPECT_EQ(layer.actFunction, nullptr);
  layer.GetNeuron(1)->SetActFunction(ActLinear);
  EXPECT_EQ(layer.GetActFunction(), &ActLinear);
  EXPECT_EQ(layer.actFunction, &ActLinear);  // remembered

  TSimpleLayer empty(nullptr, 0, 0);
  EXPECT_EQ(empty.GetActFunction(), &ActNull);
  EXPECT_EQ(empty.actFunction, &ActNull);
}

TEST(TBasicLayerTest, InputLayerCopiesInputsWithoutItsFunction) {
  auto net = MakeNet(0, 2, 3);
  net->layers[1]->SetActFunction(ActBias);  // would give 1.0 if applied
  const double in[] = {0.25, -4.0};
  testing::internal::CaptureStderr();
  net->layers[1]->Propagate(in);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(net->layers[1]->values, (std::vector<double>{0.25, -4.0}));
}

TEST(TBasicLayerTest, InputLayerOutOfPlaceWarnsAndGivesZeros) {
  auto net = MakeNet(0, 2, 3);
  net->inLayer = 2;
  const double in[] = {0.25, -4.0};
  net->layers[1]->values = {9.0, 9.0};
  testing::internal::CaptureStderr();
  net->layers[1]->Propagate(in);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "!Warning: changed input layer (TSimpleInputLayer)\n");
  EXPECT_EQ(net->layers[1]->values, (std::vector<double>{0.0, 0.0}));
}

TEST(TBasicLayerTest, SimpleLayerAsInputLayerWarnsStartsFromInputsAndAggregates) {
  auto net = MakeNet(2, 1, 1);
  net->inLayer = 2;
  net->Connect(0, 2);
  net->layers[0]->SetActFunction(ActLinear);
  net->layers[0]->values = {1.0, 2.0};
  net->GetConnections(0, 2)->Weight(0, 0) = 10.0;
  net->GetConnections(0, 2)->Weight(1, 0) = 100.0;
  net->layers[2]->SetActFunction(ActLinear);
  const double in[] = {0.5};
  testing::internal::CaptureStderr();
  net->layers[2]->Propagate(in);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "!Warning: changed input layer (TSimpleLayer)\n");
  EXPECT_EQ(net->layers[2]->values[0], 0.5 + 10.0 + 200.0);
}

TEST(TBasicLayerTest, GainLayerWarnsWithTheSameText) {
  TBasicNetwork net(2);
  net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 0);
  net.layers[1] = std::make_unique<TGainLayer>(&net, 1, 1, 2.0);
  net.layers[1]->SetActFunction(ActLinearGain);
  const double in[] = {3.0};
  testing::internal::CaptureStderr();
  net.layers[1]->Propagate(in);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "!Warning: changed input layer (TSimpleLayer)\n");
  EXPECT_EQ(net.layers[1]->values[0], 6.0);
}

TEST(TBasicLayerTest, GainNeuronParameters) {
  TGainLayer layer(nullptr, 1, 2, 0.5);
  TBasicNeuron* n = layer.GetNeuron(1);
  EXPECT_EQ(n->GetNumParams(), 1);
  EXPECT_STREQ(n->GetParamName(0), "Gain");
  double p = 0;
  n->GetParams(&p);
  EXPECT_EQ(p, 0.5);
  const double q = 3.0;
  n->SetParams(&q);
  EXPECT_EQ(layer.nodes[1].gain, 3.0);
  layer.SetGains(1.5);
  EXPECT_EQ(layer.nodes[0].gain, 1.5);
  EXPECT_EQ(layer.nodes[1].gain, 1.5);
  TSimpleLayer simple(nullptr, 1, 1);
  EXPECT_EQ(simple.GetNeuron(0)->GetNumParams(), 0);
  EXPECT_STREQ(layer.GetLayerType(), "Gain");
}

TEST(TBasicLayerDeathTest, ParameterNamesAreChecked) {
  TGainLayer layer(nullptr, 1, 1, 1.0);
  EXPECT_DEATH(layer.GetNeuron(0)->GetParamName(1), "Assertion failed: i==0");
  TSimpleLayer simple(nullptr, 1, 1);
  EXPECT_DEATH(simple.GetNeuron(0)->GetParamName(0), "Assertion failed: false");
}

TEST(TBasicLayerTest, CloneCopiesNeuronsAndRepointsThem) {
  TBasicNetwork other;
  TGainLayer layer(nullptr, 2, 3, 1.0);
  layer.nodes[1].gain = 2.5;
  layer.GetNeuron(2)->SetActFunction(ActTanhGain);
  const int dims[] = {3, 1};
  layer.SetDimensions(2, dims);
  std::unique_ptr<TBasicLayer> copy = layer.Clone(&other);
  auto* g = dynamic_cast<TGainLayer*>(copy.get());
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->network, &other);
  EXPECT_EQ(g->numNeurons, 3);
  EXPECT_EQ(g->nodes[1].gain, 2.5);
  EXPECT_EQ(g->nodes[2].actFunction, &ActTanhGain);
  EXPECT_EQ(g->nodes[0].actFunction, &ActError);
  int got[2] = {0, 0};
  g->GetDimensions(got);
  EXPECT_EQ(got[0], 3);
  EXPECT_EQ(got[1], 1);
  ExpectAttached(*g);

  TSimpleInputLayer in(nullptr, 1, 2);
  EXPECT_STREQ(in.Clone(&other)->GetLayerType(), "Input");
  EXPECT_EQ(in.Clone(&other)->GetActFunction(), &ActLinear);
}

TEST(TBasicLayerTest, RemoveNeuronKeepsOthersAndValues) {
  TSimpleLayer layer(nullptr, 1, 3);
  layer.GetNeuron(0)->SetActFunction(ActLinear);
  layer.GetNeuron(2)->SetActFunction(ActTanh);
  layer.values = {1.0, 2.0, 3.0};
  ExpectAttached(layer);
  layer.RemoveNeuron(1);
  EXPECT_EQ(layer.nodes.size(), 2u);
  EXPECT_EQ(layer.values, (std::vector<double>{1.0, 2.0, 3.0}));
  EXPECT_EQ(layer.GetNeuron(1)->actFunction, &ActTanh);
  EXPECT_EQ(layer.GetNeuron(1)->value, &layer.values[1]);
  EXPECT_EQ(layer.GetNeuron(1)->index, 1);
}

TEST(TBasicLayerTest, InsertNeuronTakesCommonFunctionAndFirstGain) {
  TGainLayer layer(nullptr, 1, 2, 2.5);
  layer.SetActFunction(ActLinearGain);
  layer.InsertNeuron(0);
  ++layer.numNeurons;
  EXPECT_EQ(layer.nodes.size(), 3u);
  EXPECT_EQ(layer.values.size(), 3u);
  EXPECT_EQ(layer.nodes[0].gain, 2.5);
  EXPECT_EQ(layer.nodes[0].actFunction, &ActLinearGain);
  EXPECT_EQ(layer.nodes[0].index, 0);
  EXPECT_EQ(layer.nodes[2].index, 2);
  ExpectAttached(layer);

  TGainLayer empty(nullptr, 1, 0, 2.5);
  empty.InsertNeuron(0);
  EXPECT_EQ(empty.nodes[0].gain, 1.0);
  EXPECT_EQ(empty.nodes[0].actFunction, &ActError);  // no common function known

  TSimpleLayer mixed(nullptr, 1, 2);
  mixed.GetNeuron(0)->SetActFunction(ActTanh);
  mixed.InsertNeuron(2);
  EXPECT_EQ(mixed.nodes[2].actFunction, &ActError);
  EXPECT_EQ(mixed.nodes[0].actFunction, &ActTanh);
}

TEST(TBasicLayerTest, DimensionsAreCopiedAndCleared) {
  TSimpleLayer layer(nullptr, 1, 4);
  const int dims[] = {2, 2};
  layer.SetDimensions(2, dims);
  EXPECT_EQ(layer.numDimensions, 2);
  layer.SetDimensions(0, nullptr);
  EXPECT_EQ(layer.dimensions, nullptr);
  layer.GetDimensions(nullptr);  // nothing to copy
}

TEST(TBasicLayerTest, DestroyReleasesAnUnownedLayer) {
  TBasicLayer* layer = new TGainLayer(nullptr, 1, 3, 1.0);
  const int dims[] = {3};
  layer->SetDimensions(1, dims);
  layer->Destroy();  // the sanitizer build checks that nothing is left
}

TEST(TBasicLayerDeathTest, BaseLayerDoesNotInsertNeurons) {
  TSimpleLayer simple(nullptr, 1, 1);
  EXPECT_DEATH(simple.TBasicLayer::InsertNeuron(0), "Assertion failed: false");
  EXPECT_DEATH(simple.SetDimensions(1, nullptr), "Assertion failed: parameters != NULL");
}

TEST(TBasicLayerDeathTest, ActivatingAnUnsetFunctionStops) {
  TSimpleLayer simple(nullptr, 1, 1);
  EXPECT_DEATH(simple.Activate(simple.values.data()), "Assertion failed: false");
}

}  // namespace
