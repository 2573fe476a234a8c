// The connection-set interface, the empty set and the weight visitors.
#include "KQmessage/Assert.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TBasicNetwork.h"

// ---------------------------------------------------------------- visitors

void TIterateObj::Init(TBasicLayer* from, TBasicLayer* to) {
  fromLayer = from->layerNum;
  toLayer = to->layerNum;
  pFromLayer = from;
  pToLayer = to;
  fromOutputs = from->values.data();
  toOutputs = to->values.data();
  conns = from->network->priv_conns_index[toLayer][fromLayer].get();
}

TIterateObj2::TIterateObj2(TBasicNetwork* first, TBasicNetwork* second, int fromLayer,
                           int toLayer, int fromNode, int toNode) {
  Init(first, second, fromLayer, toLayer);
  this->fromNode = fromNode;
  this->toNode = toNode;
}

void TIterateObj2::Init(TBasicNetwork* first, TBasicNetwork* second, int fromLayer, int toLayer) {
  this->fromLayer = fromLayer;
  this->toLayer = toLayer;
  TBasicConnections* conn1 = first->priv_conns_index[toLayer][fromLayer].get();
  TBasicConnections* conn2 = second->priv_conns_index[toLayer][fromLayer].get();
  MAPSMITH_ASSERT(conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType());
  conns1 = conn1;
  conns2 = conn2;
  pFromLayer1 = first->layers[fromLayer].get();
  pToLayer1 = first->layers[toLayer].get();
  pFromLayer2 = second->layers[fromLayer].get();
  pToLayer2 = second->layers[toLayer].get();
  fromOutputs1 = pFromLayer1->values.data();
  toOutputs1 = pToLayer1->values.data();
  fromOutputs2 = pFromLayer2->values.data();
  toOutputs2 = pToLayer2->values.data();
}

TIterateObj3::TIterateObj3(TBasicNetwork* first, TBasicNetwork* second, TBasicNetwork* third,
                           int fromLayer, int toLayer, int fromNode, int toNode) {
  Init(first, second, third, fromLayer, toLayer);
  this->fromNode = fromNode;
  this->toNode = toNode;
}

void TIterateObj3::Init(TBasicNetwork* first, TBasicNetwork* second, TBasicNetwork* third,
                        int fromLayer, int toLayer) {
  this->fromLayer = fromLayer;
  this->toLayer = toLayer;
  TBasicConnections* conn1 = first->priv_conns_index[toLayer][fromLayer].get();
  TBasicConnections* conn2 = second->priv_conns_index[toLayer][fromLayer].get();
  TBasicConnections* conn3 = third->priv_conns_index[toLayer][fromLayer].get();
  MAPSMITH_ASSERT(conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType());
  MAPSMITH_ASSERT(conn1 -> GetConnectionsNType() == conn3 -> GetConnectionsNType());
  conns1 = conn1;
  conns2 = conn2;
  conns3 = conn3;
  pFromLayer1 = first->layers[fromLayer].get();
  pToLayer1 = first->layers[toLayer].get();
  pFromLayer2 = second->layers[fromLayer].get();
  pToLayer2 = second->layers[toLayer].get();
  pFromLayer3 = third->layers[fromLayer].get();
  pToLayer3 = third->layers[toLayer].get();
  fromOutputs1 = pFromLayer1->values.data();
  toOutputs1 = pToLayer1->values.data();
  fromOutputs2 = pFromLayer2->values.data();
  toOutputs2 = pToLayer2->values.data();
  fromOutputs3 = pFromLayer3->values.data();
  toOutputs3 = pToLayer3->values.data();
}

void TIterateObjRandomize::Visit() { *weight = min == max ? min : RandomWeightDraw(min, max); }

void TIterateObjGetFlags::Visit() { flags[count++] = conns->GetWeightFlags(fromNode, toNode); }

void TIterateObjSetFlags::Visit() {
  conns->SetWeightFlags(fromNode, toNode, flags[count]);
  ++count;
}

void TIterateObjAllUntrainable::Visit() { conns->MakeUntrainable(fromNode, toNode); }

// ---------------------------------------------------------------- TBasicConnections

TBasicLayer* TBasicConnections::FromLayerPtr() const {
  MAPSMITH_ASSERT(fromLayer >= 0 && fromLayer < network->numLayers);
  TBasicLayer* layer = network->layers[fromLayer].get();
  MAPSMITH_ASSERT(layer != NULL);
  return layer;
}

TBasicLayer* TBasicConnections::ToLayerPtr() const {
  MAPSMITH_ASSERT(toLayer >= 0 && toLayer < network->numLayers);
  TBasicLayer* layer = network->layers[toLayer].get();
  MAPSMITH_ASSERT(layer != NULL);
  return layer;
}

bool TBasicConnections::IsConnected() { return true; }

int TBasicConnections::GetNumWeights(int mode) {
  TIterateObjGetNumWeights v;
  Iterate(v, mode);
  return v.count;
}

int TBasicConnections::GetWeights(double* out, int mode) {
  TIterateObjGetWeights v(out);
  Iterate(v, mode);
  return v.count;
}

int TBasicConnections::SetWeights(const double* in, int mode) {
  TIterateObjSetWeights v(in);
  Iterate(v, mode);
  return v.count;
}

void TBasicConnections::Randomize(double min, double max) {
  TIterateObjRandomize v(min, max);
  Iterate(v, 0);
}

void TBasicConnections::Aggregate(double* net) {
  const int count = ToLayerPtr()->numNeurons;
  for (int t = 0; t < count; ++t) {
    TIterateObjAggregate v;
    IterateIn(v, t, 1);
    net[t] += v.sum;
  }
}

bool TBasicConnections::IsTrainable(int from, int to) { return WeightExists(from, to); }
void TBasicConnections::PruneWeight(int, int) { MAPSMITH_ASSERT(false); }
void TBasicConnections::RestoreWeight(int, int) { MAPSMITH_ASSERT(false); }
void TBasicConnections::MakeTrainable(int, int) { MAPSMITH_ASSERT(false); }
void TBasicConnections::MakeUntrainable(int, int) { MAPSMITH_ASSERT(false); }
char TBasicConnections::GetWeightFlags(int, int) { return FMaskAll; }

void TBasicConnections::SetWeightFlags(int, int, char val) {
  MAPSMITH_ASSERT((val==FMaskAll) || (val==FMaskExists));
}

void TBasicConnections::InsertFromNode(int, double, double, bool) { MAPSMITH_ASSERT(false); }
void TBasicConnections::InsertToNode(int, double, double, bool) { MAPSMITH_ASSERT(false); }

std::vector<char> TBasicConnections::GetFlags() {
  std::vector<char> flags(static_cast<std::size_t>(GetNumWeights(1)));
  TIterateObjGetFlags v(flags.data());
  Iterate(v, 1);
  return flags;
}

void TBasicConnections::SetFlags(const char* flags) {
  TIterateObjSetFlags v(flags);
  Iterate(v, 1);
}

void TBasicConnections::MakeAllUntrainable() {
  TIterateObjAllUntrainable v;
  Iterate(v, 1);
}

// ---------------------------------------------------------------- TEmptyConnections

double& TEmptyConnections::Weight(int, int) {
  MAPSMITH_ASSERT(false);  // an empty set has no weights
}

const char* TEmptyConnections::GetConnectionsNType() {
  static const char* const type = "Empty";
  return type;
}

std::unique_ptr<TBasicConnections> TEmptyConnections::Clone(TBasicNetwork* network) {
  return std::make_unique<TEmptyConnections>(network, fromLayer, toLayer);
}
