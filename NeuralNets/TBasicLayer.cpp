// Neurons and layers.
#include <iostream>

#include "KQmessage/Assert.h"
#include "NeuralNets/GridDimensions.h"
#include "NeuralNets/TBasicNetwork.h"

// ---------------------------------------------------------------- neurons

void TBasicNeuron::Activate(double net) { actFunction(*this, net); }
int TBasicNeuron::GetNumParams() { return 0; }
void TBasicNeuron::GetParams(double*) {}
void TBasicNeuron::SetParams(const double*) {}
const char* TBasicNeuron::GetParamName(int) { MAPSMITH_ASSERT(false); }
void TBasicNeuron::CopyExtra(const TBasicNeuron&) {}

void TBasicNeuron::SetActFunction(TActFunction fn) {
  actFunction = fn;
  if (layer != nullptr) layer->actFunction = nullptr;
}

int TGainNeuron::GetNumParams() { return 1; }
void TGainNeuron::GetParams(double* out) { out[0] = gain; }
void TGainNeuron::SetParams(const double* in) { gain = in[0]; }
const char* TGainNeuron::GetParamName(int i) {
  MAPSMITH_ASSERT(i==0);
  return "Gain";
}

// ---------------------------------------------------------------- TBasicLayer

TBasicLayer::TBasicLayer(TBasicNetwork* network, int layerNum, int count)
    : network(network),
      actFunction(nullptr),
      numNeurons(count),
      layerNum(layerNum),
      values(static_cast<std::size_t>(count), 0.0),
      numDimensions(0) {}

TBasicLayer::~TBasicLayer() = default;

void TBasicLayer::Activate(double* net) {
  if (actFunction != nullptr) {
    for (int i = 0; i < numNeurons; ++i) actFunction(*GetNeuron(i), net[i]);
  } else {
    for (int i = 0; i < numNeurons; ++i) {
      TBasicNeuron* n = GetNeuron(i);
      n->actFunction(*n, net[i]);
    }
  }
}

void TBasicLayer::Propagate(const double* inputs) {
  if (layerNum == network->inLayer) {
    std::cerr << "!Warning: changed input layer (TSimpleLayer)" << '\n';
    for (int i = 0; i < numNeurons; ++i) values[i] = inputs[i];
  } else {
    for (int i = 0; i < numNeurons; ++i) values[i] = 0.0;
  }
  for (int i = 0; i < layerNum; ++i) network->priv_conns_index[layerNum][i]->Aggregate(values.data());
  Activate(values.data());
}

void TBasicLayer::Destroy() { delete this; }

void TBasicLayer::InsertNeuron(int) { MAPSMITH_ASSERT(false); }

void TBasicLayer::SetActFunction(TActFunction fn) {
  actFunction = fn;
  for (int i = 0; i < numNeurons; ++i) GetNeuron(i)->actFunction = fn;
}

TActFunction TBasicLayer::GetActFunction() {
  if (actFunction != nullptr) return actFunction;
  if (numNeurons == 0) return actFunction = ActNull;
  const TActFunction first = GetNeuron(0)->actFunction;
  for (int i = 1; i < numNeurons; ++i)
    if (GetNeuron(i)->actFunction != first) return nullptr;
  return actFunction = first;
}

void TBasicLayer::GetDimensions(int* parameters) {
  GetGridDimensions(numDimensions, dimensions.get(), parameters);
}

void TBasicLayer::SetDimensions(int count, const int* parameters) {
  SetGridDimensions(numDimensions, dimensions, count, parameters);
}

void TBasicLayer::CopyStateTo(TBasicLayer& other) {
  other.values.assign(static_cast<std::size_t>(numNeurons), 0.0);
  other.numDimensions = numDimensions;
  other.dimensions.reset();
  if (dimensions != nullptr) {
    other.dimensions = std::make_unique<int[]>(static_cast<std::size_t>(numDimensions));
    for (int i = 0; i < numDimensions; ++i) other.dimensions[i] = dimensions[i];
  }
  other.actFunction = actFunction;
}

template <class N>
void TBasicLayer::AttachNodes(std::vector<N>& nodes) {
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    nodes[i].layer = this;
    nodes[i].value = &values[i];
    nodes[i].layerNum = layerNum;
    nodes[i].index = static_cast<int>(i);
  }
}

template <class N>
void TBasicLayer::CloneNodesInto(const std::vector<N>& from, std::vector<N>& to,
                                 TBasicLayer& newLayer) {
  for (std::size_t i = 0; i < to.size(); ++i) {
    to[i] = from[i];
    to[i].CopyExtra(from[i]);
    to[i].layer = &newLayer;
    to[i].value = &newLayer.values[i];
  }
}

// Neurons keep every field of their old selves, except that they now belong
// to this layer at their new position (layerNum and index follow).
template <class N>
void TBasicLayer::RemoveNodeFrom(std::vector<N>& nodes, int pos) {
  std::vector<N> fresh(nodes.size() - 1);
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    const N& old = nodes[i < static_cast<std::size_t>(pos) ? i : i + 1];
    fresh[i] = old;
    fresh[i].CopyExtra(old);
  }
  nodes = std::move(fresh);
  AttachNodes(nodes);
}

template <class N>
void TBasicLayer::InsertNodeInto(std::vector<N>& nodes, int pos, const N& added) {
  // The new values array starts at zero until the next pass.
  values.assign(nodes.size() + 1, 0.0);
  std::vector<N> fresh(nodes.size() + 1);
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    N& moved = fresh[i < static_cast<std::size_t>(pos) ? i : i + 1];
    moved = nodes[i];
    moved.CopyExtra(nodes[i]);
  }
  fresh[pos] = added;
  fresh[pos].actFunction = actFunction != nullptr ? actFunction : ActError;
  nodes = std::move(fresh);
  AttachNodes(nodes);
}

// ---------------------------------------------------------------- TSimpleLayer

TSimpleLayer::TSimpleLayer(TBasicNetwork* network, int layerNum, int count)
    : TBasicLayer(network, layerNum, count), nodes(static_cast<std::size_t>(count)) {
  AttachNodes(nodes);
  dimensions = std::make_unique<int[]>(0);
}

const char* TSimpleLayer::GetLayerType() { return "Simple"; }

std::unique_ptr<TBasicLayer> TSimpleLayer::Clone(TBasicNetwork* network) {
  auto x = std::make_unique<TSimpleLayer>(network, layerNum, numNeurons);
  CopyStateTo(*x);
  CloneNodesInto(nodes, x->nodes, *x);
  return x;
}

void TSimpleLayer::RemoveNeuron(int pos) { RemoveNodeFrom(nodes, pos); }

void TSimpleLayer::InsertNeuron(int pos) { InsertNodeInto(nodes, pos, TBasicNeuron()); }

// ---------------------------------------------------------------- TSimpleInputLayer

TSimpleInputLayer::TSimpleInputLayer(TBasicNetwork* network, int layerNum, int count)
    : TSimpleLayer(network, layerNum, count) {
  SetActFunction(ActLinear);
}

void TSimpleInputLayer::Propagate(const double* inputs) {
  if (layerNum == network->inLayer) {
    for (int i = 0; i < numNeurons; ++i) values[i] = inputs[i];
  } else {
    std::cerr << "!Warning: changed input layer (TSimpleInputLayer)" << '\n';
    for (int i = 0; i < numNeurons; ++i) values[i] = 0.0;
  }
}

const char* TSimpleInputLayer::GetLayerType() { return "Input"; }

std::unique_ptr<TBasicLayer> TSimpleInputLayer::Clone(TBasicNetwork* network) {
  auto x = std::make_unique<TSimpleInputLayer>(network, layerNum, numNeurons);
  CopyStateTo(*x);
  CloneNodesInto(nodes, x->nodes, *x);
  return x;
}

// ---------------------------------------------------------------- TGainLayer

TGainLayer::TGainLayer(TBasicNetwork* network, int layerNum, int count, double gain)
    : TBasicLayer(network, layerNum, count), nodes(static_cast<std::size_t>(count)) {
  AttachNodes(nodes);
  for (TGainNeuron& n : nodes) n.gain = gain;
  dimensions = std::make_unique<int[]>(0);
}

const char* TGainLayer::GetLayerType() { return "Gain"; }

std::unique_ptr<TBasicLayer> TGainLayer::Clone(TBasicNetwork* network) {
  auto x = std::make_unique<TGainLayer>(network, layerNum, numNeurons, 1.0);
  CopyStateTo(*x);
  CloneNodesInto(nodes, x->nodes, *x);
  return x;
}

void TGainLayer::RemoveNeuron(int pos) { RemoveNodeFrom(nodes, pos); }

void TGainLayer::InsertNeuron(int pos) {
  TGainNeuron added;
  added.gain = nodes.empty() ? 1.0 : nodes[0].gain;
  InsertNodeInto(nodes, pos, added);
}

void TGainLayer::SetGains(double gain) {
  for (TGainNeuron& n : nodes) n.gain = gain;
}
