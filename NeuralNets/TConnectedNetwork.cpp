// The fully connected network and its arc iterators.
#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"

TConnectedNetwork::TConnectedNetwork(int n_layers, const int* sizes) : TBasicNetwork(n_layers) {
  for (int i = 0; i < n_layers; ++i) {
    if (i == inLayer)
      layers[i] = std::make_unique<TSimpleInputLayer>(this, i, sizes[i]);
    else
      layers[i] = std::make_unique<TSimpleLayer>(this, i, sizes[i]);
  }
}

void TConnectedNetwork::Connect(int fromLayer, int toLayer) {
  ConnsPtr& cell = priv_conns_index[toLayer][fromLayer];
  if (cell->IsConnected()) return;
  cell.reset();
  cell = std::make_unique<TConnectedConnections>(this, fromLayer, toLayer);
}

const char* TConnectedNetwork::GetNetworkType() { return "Connected"; }

std::unique_ptr<TArcsIterator> TConnectedNetwork::NewArcsIterator() {
  return std::make_unique<TConnInAllArcsIterator>(this);
}

// ---------------------------------------------------------------- all source layers

TConnInAllArcsIterator::TConnInAllArcsIterator(TConnectedNetwork* network)
    : TInAllArcsIterator(network) {}

void TConnInAllArcsIterator::Start(int toLayer, int toNode) {
  s.toLayer = toLayer;
  s.toNode = toNode;
  s.toNeuron = network->layers[toLayer]->GetNeuron(toNode);
  s.fromLayer = -1;
  s.fromNode = -1;
  s.lastNode = -1;
  s.fromNeuron = nullptr;
  s.weight = nullptr;
  s.conns = nullptr;
}

void TConnInAllArcsIterator::StandOn(int fromNode) {
  s.fromNode = fromNode;
  s.fromNeuron = network->layers[s.fromLayer]->GetNeuron(fromNode);
  s.weight = &s.conns->Weight(fromNode, s.toNode);
}

double& TConnInAllArcsIterator::GetWeight() {
  MAPSMITH_ASSERT(s.weight != NULL);
  return *s.weight;
}

bool TConnInAllArcsIterator::Next() {
  if (s.conns != nullptr && s.fromNode < s.lastNode) {
    StandOn(s.fromNode + 1);
    return true;
  }
  s.fromNode = -1;
  s.conns = nullptr;
  s.weight = nullptr;
  while (s.fromLayer < network->numLayers - 1) {
    ++s.fromLayer;
    TBasicConnections* c = network->priv_conns_index[s.toLayer][s.fromLayer].get();
    const int count = network->layers[s.fromLayer]->numNeurons;
    if (c->IsConnected() && count > 0) {
      s.lastNode = count - 1;
      s.conns = c;
      StandOn(0);
      return true;
    }
  }
  return false;
}

bool TConnInAllArcsIterator::Prev() {
  if (s.conns != nullptr && s.fromNode > 0) {
    StandOn(s.fromNode - 1);
    return true;
  }
  s.fromNode = -1;
  s.conns = nullptr;
  s.weight = nullptr;
  while (s.fromLayer >= 1) {
    --s.fromLayer;
    TBasicConnections* c = network->priv_conns_index[s.toLayer][s.fromLayer].get();
    const int count = network->layers[s.fromLayer]->numNeurons;
    if (c->IsConnected() && count > 0) {
      s.lastNode = count - 1;
      s.conns = c;
      StandOn(s.lastNode);
      return true;
    }
  }
  // Back before the first arc, so that a following Next starts again at layer 0.
  s.fromLayer = -1;
  return false;
}

// ---------------------------------------------------------------- one source layer

TConnInLayerArcsIterator::TConnInLayerArcsIterator(TConnectedNetwork* network)
    : TInLayerArcsIterator(network) {}

void TConnInLayerArcsIterator::Start(int toLayer, int toNode, int fromLayer) {
  s.toLayer = toLayer;
  s.toNode = toNode;
  s.toNeuron = network->layers[toLayer]->GetNeuron(toNode);
  s.fromLayer = fromLayer;
  s.conns = network->priv_conns_index[toLayer][fromLayer].get();
  s.fromNode = -1;
  s.fromNeuron = nullptr;
  s.weight = nullptr;
  s.lastNode = network->layers[fromLayer]->numNeurons - 1;
}

void TConnInLayerArcsIterator::StandOn(int fromNode) {
  s.fromNode = fromNode;
  s.fromNeuron = network->layers[s.fromLayer]->GetNeuron(fromNode);
  s.weight = &s.conns->Weight(fromNode, s.toNode);
}

double& TConnInLayerArcsIterator::GetWeight() {
  MAPSMITH_ASSERT(s.weight != NULL);
  return *s.weight;
}

bool TConnInLayerArcsIterator::Next() {
  if (s.fromNode >= s.lastNode) return false;
  StandOn(s.fromNode + 1);
  return true;
}

bool TConnInLayerArcsIterator::Prev() {
  if (s.fromNode < 1) return false;
  StandOn(s.fromNode - 1);
  return true;
}
