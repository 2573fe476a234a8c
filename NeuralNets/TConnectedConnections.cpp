#include "NeuralNets/TConnectedConnections.h"

#include "KQmessage/Assert.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/WeightLayout.h"

TConnectedConnections::TConnectedConnections(TBasicNetwork* network, int fromLayer, int toLayer)
    : TBasicConnections(network, fromLayer, toLayer),
      nFrom(FromLayerPtr()->numNeurons),
      nTo(ToLayerPtr()->numNeurons) {
  weightlayout::Build(array_weights, index_weights, nFrom, nTo, 0.0);
}

TConnectedConnections::TConnectedConnections(TBasicNetwork* network, int fromLayer, int toLayer,
                                             int nFrom, int nTo)
    : TBasicConnections(network, fromLayer, toLayer), nFrom(nFrom), nTo(nTo) {}

int TConnectedConnections::GetNumWeights(int) { return nFrom * nTo; }

int TConnectedConnections::GetWeights(double* out, int) {
  for (int f = 0; f < nFrom; ++f)
    for (int t = 0; t < nTo; ++t) *out++ = index_weights[t][f];
  return nFrom * nTo;
}

int TConnectedConnections::SetWeights(const double* in, int) {
  for (int f = 0; f < nFrom; ++f)
    for (int t = 0; t < nTo; ++t) index_weights[t][f] = *in++;
  return nFrom * nTo;
}

void TConnectedConnections::Randomize(double min, double max) {
  if (min == max) {
    for (double& w : array_weights) w = min;
    return;
  }
  const long double lmin = min;
  const long double range = static_cast<long double>(max) - lmin;
  std::uint32_t state = RandomState();
  for (double& w : array_weights) w = RandomWeightFromValue(RandomStep(state), lmin, range);
  RandomState() = state;
}

void TConnectedConnections::Aggregate(double* net) {
  const double* out = network->layers[fromLayer]->values.data();
  for (int t = 0; t < nTo; ++t) {
    const double* row = index_weights[t];
    double sum = 0.0;
    for (int f = 0; f < nFrom; ++f) sum = row[f] * out[f] + sum;
    net[t] += sum;
  }
}

void TConnectedConnections::IterateIn(TIterateObj& v, int to, int) {
  v.Init(FromLayerPtr(), ToLayerPtr());
  v.toNode = to;
  v.trainable = 1;
  for (int f = 0; f < nFrom; ++f) {
    v.fromNode = f;
    v.weight = &index_weights[to][f];
    v.Visit();
  }
}

void TConnectedConnections::IterateOut(TIterateObj& v, int from, int) {
  v.Init(FromLayerPtr(), ToLayerPtr());
  v.fromNode = from;
  v.trainable = 1;
  for (int t = 0; t < nTo; ++t) {
    v.toNode = t;
    v.weight = &index_weights[t][from];
    v.Visit();
  }
}

void TConnectedConnections::Iterate(TIterateObj& v, int) {
  v.Init(FromLayerPtr(), ToLayerPtr());
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      v.fromNode = f;
      v.toNode = t;
      v.weight = &index_weights[t][f];
      v.trainable = 1;
      v.Visit();
    }
}

void TConnectedConnections::Iterate2(TIterateObj2& v, TBasicNetwork* other, int) {
  v.Init(network, other, fromLayer, toLayer);
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      v.fromNode = f;
      v.toNode = t;
      v.weight1 = &index_weights[t][f];
      v.weight2 = &v.conns2->Weight(f, t);
      v.trainable = 1;
      v.Visit();
    }
}

void TConnectedConnections::Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third,
                                     int) {
  v.Init(network, second, third, fromLayer, toLayer);
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      v.fromNode = f;
      v.toNode = t;
      v.weight1 = &index_weights[t][f];
      v.weight2 = &v.conns2->Weight(f, t);
      v.weight3 = &v.conns3->Weight(f, t);
      v.trainable = 1;
      v.Visit();
    }
}

const char* TConnectedConnections::GetConnectionsNType() {
  static const char* const type = "FullyConnected";
  return type;
}

std::unique_ptr<TBasicConnections> TConnectedConnections::Clone(TBasicNetwork* network) {
  std::unique_ptr<TConnectedConnections> x(
      new TConnectedConnections(network, fromLayer, toLayer, nFrom, nTo));
  x->array_weights = array_weights;
  weightlayout::Reindex(x->array_weights, x->index_weights, nFrom, nTo);
  return x;
}

void TConnectedConnections::RemoveFromNode(int node) {
  weightlayout::RemoveColumn(array_weights, index_weights, nFrom, nTo, node);
  --nFrom;
}

void TConnectedConnections::RemoveToNode(int node) {
  weightlayout::RemoveRow(array_weights, index_weights, nFrom, nTo, node);
  --nTo;
}

void TConnectedConnections::InsertFromNode(int node, double min, double max, bool attached) {
  MAPSMITH_ASSERT(attached);
  weightlayout::InsertColumn(array_weights, index_weights, nFrom, nTo, node, 0.0);
  ++nFrom;
  for (int t = 0; t < nTo; ++t) index_weights[t][node] = RandomWeightDraw(min, max);
}

void TConnectedConnections::InsertToNode(int node, double min, double max, bool attached) {
  MAPSMITH_ASSERT(attached);
  weightlayout::InsertRow(array_weights, index_weights, nFrom, nTo, node, 0.0);
  ++nTo;
  for (int f = 0; f < nFrom; ++f) index_weights[node][f] = RandomWeightDraw(min, max);
}
