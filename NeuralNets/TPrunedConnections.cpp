#include "NeuralNets/TPrunedConnections.h"

#include "KQmessage/Assert.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/WeightLayout.h"

TPrunedConnections::TPrunedConnections(TBasicNetwork* network, int fromLayer, int toLayer)
    : TBasicConnections(network, fromLayer, toLayer),
      nFrom(FromLayerPtr()->numNeurons),
      nTo(ToLayerPtr()->numNeurons) {
  weightlayout::Build(array_weights, index_weights, nFrom, nTo, 0.0);
  weightlayout::Build(array_masks, index_masks, nFrom, nTo, FMaskAll);
}

TPrunedConnections::TPrunedConnections(TBasicNetwork* network, int fromLayer, int toLayer,
                                       int nFrom, int nTo)
    : TBasicConnections(network, fromLayer, toLayer), nFrom(nFrom), nTo(nTo) {}

void TPrunedConnections::Randomize(double min, double max) {
  const std::size_t n = array_weights.size();
  if (min == max) {
    for (std::size_t i = 0; i < n; ++i)
      if (array_masks[i] & FMaskTrainable) array_weights[i] = min;
    return;
  }
  const long double lmin = min;
  const long double range = static_cast<long double>(max) - lmin;
  std::uint32_t state = RandomState();
  for (std::size_t i = 0; i < n; ++i)
    if (array_masks[i] & FMaskTrainable)
      array_weights[i] = RandomWeightFromValue(RandomStep(state), lmin, range);
  RandomState() = state;
}

void TPrunedConnections::Aggregate(double* net) {
  const double* out = network->layers[fromLayer]->values.data();
  for (int t = 0; t < nTo; ++t) {
    const double* row = index_weights[t];
    const char* mask = index_masks[t];
    double sum = 0.0;
    for (int f = 0; f < nFrom; ++f)
      if (mask[f] & FMaskExists) sum = row[f] * out[f] + sum;
    net[t] += sum;
  }
}

void TPrunedConnections::PruneWeight(int from, int to) {
  index_masks[to][from] = 0;
  index_weights[to][from] = 0.0;
}

void TPrunedConnections::RestoreWeight(int from, int to) {
  if (index_masks[to][from] & FMaskExists) return;
  index_masks[to][from] = FMaskAll;
  index_weights[to][from] = 0.0;
}

void TPrunedConnections::MakeTrainable(int from, int to) {
  if (index_masks[to][from] & FMaskExists) index_masks[to][from] |= FMaskTrainable;
}

void TPrunedConnections::MakeUntrainable(int from, int to) {
  index_masks[to][from] &= static_cast<char>(~FMaskTrainable);
}

void TPrunedConnections::IterateIn(TIterateObj& v, int to, int mode) {
  v.Init(FromLayerPtr(), ToLayerPtr());
  v.toNode = to;
  for (int f = 0; f < nFrom; ++f) {
    const char m = index_masks[to][f];
    if (!Admits(m, mode)) continue;
    v.fromNode = f;
    v.weight = &index_weights[to][f];
    v.trainable = (m & FMaskTrainable) ? 1 : 0;
    v.Visit();
  }
}

void TPrunedConnections::IterateOut(TIterateObj& v, int from, int mode) {
  v.Init(FromLayerPtr(), ToLayerPtr());
  v.fromNode = from;
  for (int t = 0; t < nTo; ++t) {
    const char m = index_masks[t][from];
    if (!Admits(m, mode)) continue;
    v.toNode = t;
    v.weight = &index_weights[t][from];
    v.trainable = (m & FMaskTrainable) ? 1 : 0;
    v.Visit();
  }
}

void TPrunedConnections::Iterate(TIterateObj& v, int mode) {
  v.Init(FromLayerPtr(), ToLayerPtr());
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      const char m = index_masks[t][f];
      if (!Admits(m, mode)) continue;
      v.fromNode = f;
      v.toNode = t;
      v.weight = &index_weights[t][f];
      v.trainable = (m & FMaskTrainable) ? 1 : 0;
      v.Visit();
    }
}

void TPrunedConnections::Iterate2(TIterateObj2& v, TBasicNetwork* other, int mode) {
  v.Init(network, other, fromLayer, toLayer);
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      const char m = index_masks[t][f];
      if (!Admits(m, mode)) continue;
      v.fromNode = f;
      v.toNode = t;
      v.weight1 = &index_weights[t][f];
      v.weight2 = &v.conns2->Weight(f, t);
      v.trainable = (m & FMaskTrainable) ? 1 : 0;
      v.Visit();
    }
}

void TPrunedConnections::Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third,
                                  int mode) {
  v.Init(network, second, third, fromLayer, toLayer);
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      const char m = index_masks[t][f];
      if (!Admits(m, mode)) continue;
      v.fromNode = f;
      v.toNode = t;
      v.weight1 = &index_weights[t][f];
      v.weight2 = &v.conns2->Weight(f, t);
      v.weight3 = &v.conns3->Weight(f, t);
      v.trainable = (m & FMaskTrainable) ? 1 : 0;
      v.Visit();
    }
}

const char* TPrunedConnections::GetConnectionsNType() {
  static const char* const type = "Pruneable";
  return type;
}

std::unique_ptr<TBasicConnections> TPrunedConnections::Clone(TBasicNetwork* network) {
  std::unique_ptr<TPrunedConnections> x(
      new TPrunedConnections(network, fromLayer, toLayer, nFrom, nTo));
  x->array_weights = array_weights;
  x->array_masks = array_masks;
  weightlayout::Reindex(x->array_weights, x->index_weights, nFrom, nTo);
  weightlayout::Reindex(x->array_masks, x->index_masks, nFrom, nTo);
  return x;
}

void TPrunedConnections::RemoveFromNode(int node) {
  weightlayout::RemoveColumn(array_weights, index_weights, nFrom, nTo, node);
  weightlayout::RemoveColumn(array_masks, index_masks, nFrom, nTo, node);
  --nFrom;
}

void TPrunedConnections::RemoveToNode(int node) {
  weightlayout::RemoveRow(array_weights, index_weights, nFrom, nTo, node);
  weightlayout::RemoveRow(array_masks, index_masks, nFrom, nTo, node);
  --nTo;
}

void TPrunedConnections::InsertFromNode(int node, double min, double max, bool attached) {
  weightlayout::InsertColumn(array_weights, index_weights, nFrom, nTo, node, 0.0);
  weightlayout::InsertColumn(array_masks, index_masks, nFrom, nTo, node, char{0});
  ++nFrom;
  if (!attached) return;
  for (int t = 0; t < nTo; ++t) {
    index_weights[t][node] = RandomWeightDraw(min, max);
    index_masks[t][node] = FMaskAll;
  }
}

void TPrunedConnections::InsertToNode(int node, double min, double max, bool attached) {
  weightlayout::InsertRow(array_weights, index_weights, nFrom, nTo, node, 0.0);
  weightlayout::InsertRow(array_masks, index_masks, nFrom, nTo, node, char{0});
  ++nTo;
  if (!attached) return;
  for (int f = 0; f < nFrom; ++f) {
    index_weights[node][f] = RandomWeightDraw(min, max);
    index_masks[node][f] = FMaskAll;
  }
}
