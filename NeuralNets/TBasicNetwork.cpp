// The network core and the fully connected network.
#include "NeuralNets/TBasicNetwork.h"

#include "KQmessage/Assert.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

// ---------------------------------------------------------------- lifetime

TBasicNetwork::TBasicNetwork() = default;

TBasicNetwork::TBasicNetwork(int n_layers) { Init(n_layers); }

void TBasicNetwork::MakeIndex() {
  priv_conns_index.resize(static_cast<std::size_t>(numLayers));
  for (int to = 0; to < numLayers; ++to)
    priv_conns_index[to] = priv_conns.data() + static_cast<std::size_t>(to) * numLayers;
}

void TBasicNetwork::Init(int n_layers) {
  ReleaseAll();
  numLayers = n_layers;
  inLayer = 1;
  outLayer = n_layers - 1;
  priv_conns.resize(static_cast<std::size_t>(n_layers) * static_cast<std::size_t>(n_layers));
  MakeIndex();
  layers.resize(static_cast<std::size_t>(n_layers));
  for (int toLayer = 0; toLayer < n_layers; ++toLayer)
    for (int fromLayer = 0; fromLayer < n_layers; ++fromLayer)
      priv_conns_index[toLayer][fromLayer] =
          std::make_unique<TEmptyConnections>(this, fromLayer, toLayer);
  registry = std::make_unique<TFnRegistry>();
  registry->RegisterStandardFunctions();
}

// Sets first (matrix order), then layers, then the registry.
void TBasicNetwork::ReleaseAll() {
  for (ConnsPtr& c : priv_conns) c.reset();
  priv_conns.clear();
  priv_conns_index.clear();
  for (LayerPtr& l : layers) l.reset();
  layers.clear();
  registry.reset();
}

void TBasicNetwork::CopyFrom(const TBasicNetwork& x) {
  numLayers = x.numLayers;
  inLayer = x.inLayer;
  outLayer = x.outLayer;
  layers.resize(static_cast<std::size_t>(numLayers));
  for (int i = 0; i < numLayers; ++i) {
    MAPSMITH_ASSERT(x.layers[i] != NULL);
    layers[i] = x.layers[i]->Clone(this);
  }
  const std::size_t cells = static_cast<std::size_t>(numLayers) * static_cast<std::size_t>(numLayers);
  priv_conns.resize(cells);
  for (std::size_t i = 0; i < cells; ++i) {
    MAPSMITH_ASSERT(x.priv_conns[i] != NULL);
    priv_conns[i] = x.priv_conns[i]->Clone(this);
  }
  MakeIndex();
  registry = std::make_unique<TFnRegistry>();
  registry->RegisterStandardFunctions();
}

TBasicNetwork::TBasicNetwork(const TBasicNetwork& x) { CopyFrom(x); }

TBasicNetwork& TBasicNetwork::operator=(const TBasicNetwork& x) {
  if (&x == this) return *this;
  ReleaseAll();
  CopyFrom(x);
  return *this;
}

TBasicNetwork::~TBasicNetwork() { ReleaseAll(); }

// ---------------------------------------------------------------- whole-network operations
// Walk order: source layer outer, target layer inner.

int TBasicNetwork::GetNumWeights(int mode) {
  int total = 0;
  for (int fromLayer = 0; fromLayer < numLayers; ++fromLayer)
    for (int toLayer = 0; toLayer < numLayers; ++toLayer)
      total += priv_conns_index[toLayer][fromLayer]->GetNumWeights(mode);
  return total;
}

int TBasicNetwork::GetWeights(double* buffer, int mode) {
  int total = 0;
  for (int fromLayer = 0; fromLayer < numLayers; ++fromLayer)
    for (int toLayer = 0; toLayer < numLayers; ++toLayer)
      total += priv_conns_index[toLayer][fromLayer]->GetWeights(buffer + total, mode);
  return total;
}

int TBasicNetwork::SetWeights(const double* buffer, int mode) {
  int total = 0;
  for (int fromLayer = 0; fromLayer < numLayers; ++fromLayer)
    for (int toLayer = 0; toLayer < numLayers; ++toLayer)
      total += priv_conns_index[toLayer][fromLayer]->SetWeights(buffer + total, mode);
  return total;
}

void TBasicNetwork::Randomize(double min, double max) {
  for (int fromLayer = 0; fromLayer < numLayers; ++fromLayer)
    for (int toLayer = 0; toLayer < numLayers; ++toLayer)
      priv_conns_index[toLayer][fromLayer]->Randomize(min, max);
}

void TBasicNetwork::Connect(int fromLayer, int toLayer) {
  ConnsPtr& cell = priv_conns_index[toLayer][fromLayer];
  if (cell->IsConnected()) return;
  cell.reset();
  cell = std::make_unique<TPrunedConnections>(this, fromLayer, toLayer);
}

void TBasicNetwork::Disconnect(int fromLayer, int toLayer) {
  ConnsPtr& cell = priv_conns_index[toLayer][fromLayer];
  cell.reset();
  cell = std::make_unique<TEmptyConnections>(this, fromLayer, toLayer);
}

void TBasicNetwork::Propagate(const double* inputs, double* outputs) {
  for (int i = 0; i < numLayers; ++i) layers[i]->Propagate(inputs);
  const TBasicLayer& out = *layers[outLayer];
  for (int i = 0; i < out.numNeurons; ++i) outputs[i] = out.values[i];
}

const char* TBasicNetwork::GetNetworkType() { return "Basic"; }

bool CanPropagate(TBasicNetwork& net) {
  for (int l = 0; l < net.numLayers; ++l) {
    TBasicLayer* layer = net.GetLayer(l);
    if (layer == nullptr) return false;
    if (dynamic_cast<TSimpleInputLayer*>(layer) != nullptr) continue;  // copies its inputs, evaluates nothing
    for (int i = 0; i < layer->numNeurons; ++i) {
      const TActFunction fn = layer->actFunction != nullptr ? layer->actFunction : layer->GetNeuron(i)->actFunction;
      if (fn == ActError || fn == ActNull) return false;
    }
  }
  return true;
}

std::unique_ptr<TArcsIterator> TBasicNetwork::NewArcsIterator() { MAPSMITH_ASSERT(false); }

// ---------------------------------------------------------------- neurons

int TBasicNetwork::GetNumNeurons() {
  int total = 0;
  for (int i = 0; i < numLayers; ++i) total += layers[i]->numNeurons;
  return total;
}

TBasicNeuron* TBasicNetwork::GetNeuron(int index) {
  MAPSMITH_ASSERT(index>=0);
  MAPSMITH_ASSERT(index<GetNumNeurons());
  int layer = 0;
  while (index >= layers[layer]->numNeurons) index -= layers[layer++]->numNeurons;
  return layers[layer]->GetNeuron(index);
}

void TBasicNetwork::AddNode(int LayerNum, int node, double min, double max, bool attached) {
  MAPSMITH_ASSERT(LayerNum>=0);
  MAPSMITH_ASSERT(LayerNum<numLayers);
  MAPSMITH_ASSERT(LayerNum!=inLayer);
  MAPSMITH_ASSERT(LayerNum!=outLayer);
  MAPSMITH_ASSERT(node>=0);
  TBasicLayer* layer = layers[LayerNum].get();
  MAPSMITH_ASSERT(node<=layer->numNeurons);
  layer->InsertNeuron(node);
  ++layer->numNeurons;
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->InsertFromNode(node, min, max, attached);
    priv_conns_index[LayerNum][i]->InsertToNode(node, min, max, attached);
  }
}

void TBasicNetwork::RemoveNode(int LayerNum, int node) {
  MAPSMITH_ASSERT(LayerNum>=0);
  MAPSMITH_ASSERT(LayerNum<numLayers);
  MAPSMITH_ASSERT(LayerNum!=inLayer);
  MAPSMITH_ASSERT(LayerNum!=outLayer);
  MAPSMITH_ASSERT(node>=0);
  TBasicLayer* layer = layers[LayerNum].get();
  MAPSMITH_ASSERT(node<layer->numNeurons);
  layer->RemoveNeuron(node);
  --layer->numNeurons;
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->RemoveFromNode(node);
    priv_conns_index[LayerNum][i]->RemoveToNode(node);
  }
}

int TBasicNetwork::PruneNodes() {
  TIterateObjPruneNode visitor;
  int removed = 0;
  for (int L = outLayer - 1; L >= 0; --L) {
    if (L == inLayer || L == outLayer) continue;
    for (int k = layers[L]->numNeurons - 1; k >= 0; --k) {
      visitor.count = 0;
      IterateOutArcs(visitor, L, k, 1);
      if (visitor.count == 0) {
        RemoveNode(L, k);
        ++removed;
      }
    }
  }
  return removed;
}

void TBasicNetwork::IterateInArcs(TIterateObj& visitor, int LayerNum, int node, int mode) {
  for (int i = 0; i < numLayers; ++i) priv_conns_index[LayerNum][i]->IterateIn(visitor, node, mode);
}

void TBasicNetwork::IterateOutArcs(TIterateObj& visitor, int LayerNum, int node, int mode) {
  for (int i = 0; i < numLayers; ++i) priv_conns_index[i][LayerNum]->IterateOut(visitor, node, mode);
}

// ---------------------------------------------------------------- layers

void TBasicNetwork::InsertLayer(int LayerNum, LayerPtr layer) {
  MAPSMITH_ASSERT(LayerNum>=0);
  MAPSMITH_ASSERT(LayerNum<=numLayers);
  const int old = numLayers;
  const int n = old + 1;
  std::vector<ConnsPtr> conns(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    conns[static_cast<std::size_t>(i) * n + LayerNum] =
        std::make_unique<TEmptyConnections>(this, LayerNum, i);
    if (i != LayerNum)
      conns[static_cast<std::size_t>(LayerNum) * n + i] =
          std::make_unique<TEmptyConnections>(this, i, LayerNum);
  }
  for (int i = 0; i < old; ++i)
    for (int j = 0; j < old; ++j) {
      const int ni = i >= LayerNum ? i + 1 : i;
      const int nj = j >= LayerNum ? j + 1 : j;
      conns[static_cast<std::size_t>(ni) * n + nj] =
          std::move(priv_conns[static_cast<std::size_t>(i) * old + j]);
    }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      TBasicConnections* c = conns[static_cast<std::size_t>(i) * n + j].get();
      c->fromLayer = j;
      c->toLayer = i;
    }
  layers.insert(layers.begin() + LayerNum, std::move(layer));
  numLayers = n;
  priv_conns = std::move(conns);
  MakeIndex();
  for (int i = 0; i < n; ++i) {
    if (layers[i] == nullptr) continue;
    layers[i]->layerNum = i;
    layers[i]->network = this;
    for (int k = 0; k < layers[i]->numNeurons; ++k) layers[i]->GetNeuron(k)->layerNum = i;
  }
  if (inLayer >= LayerNum) ++inLayer;
  if (outLayer >= LayerNum) ++outLayer;
}

void TBasicNetwork::RemoveLayer(int LayerNum) {
  MAPSMITH_ASSERT(LayerNum>=0);
  MAPSMITH_ASSERT(LayerNum<numLayers);
  MAPSMITH_ASSERT(LayerNum!=inLayer);
  MAPSMITH_ASSERT(LayerNum!=outLayer);
  const int old = numLayers;
  for (int i = 0; i < old; ++i) {
    priv_conns_index[i][LayerNum].reset();
    if (i != LayerNum) priv_conns_index[LayerNum][i].reset();
  }
  const int n = old - 1;
  std::vector<ConnsPtr> conns(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const int oi = i >= LayerNum ? i + 1 : i;
      const int oj = j >= LayerNum ? j + 1 : j;
      ConnsPtr& cell = conns[static_cast<std::size_t>(i) * n + j];
      cell = std::move(priv_conns[static_cast<std::size_t>(oi) * old + oj]);
      cell->fromLayer = j;
      cell->toLayer = i;
    }
  layers.erase(layers.begin() + LayerNum);
  numLayers = n;
  priv_conns = std::move(conns);
  MakeIndex();
  for (int i = 0; i < n; ++i) {
    if (layers[i] == nullptr) continue;
    layers[i]->layerNum = i;
    for (int k = 0; k < layers[i]->numNeurons; ++k) layers[i]->GetNeuron(k)->layerNum = i;
  }
  if (inLayer >= LayerNum) --inLayer;
  if (outLayer >= LayerNum) --outLayer;
}

// ---------------------------------------------------------------- installing parts

void TBasicNetwork::SetLayer(int LayerNum, LayerPtr layer) {
  MAPSMITH_ASSERT(LayerNum>=0);
  MAPSMITH_ASSERT(LayerNum<numLayers);
  if (layer != nullptr) {
    layer->layerNum = LayerNum;
    layer->network = this;
  }
  layers[LayerNum] = std::move(layer);
}

void TBasicNetwork::SetConnections(ConnsPtr conns) {
  MAPSMITH_ASSERT(conns != NULL);
  MAPSMITH_ASSERT(conns->network == this);
  ConnsPtr& cell = priv_conns_index[conns->toLayer][conns->fromLayer];
  cell.reset();
  cell = std::move(conns);
}
