// The fully connected connection set: every neuron of the from layer has an
// arc to every neuron of the to layer; every weight exists and is trainable.
#pragma once

#include <vector>

#include "NeuralNets/TBasicNetwork.h"

// Weights lie in one contiguous to-neuron-major array: the weight of the arc
// from f to t is index_weights[t][f], element t * nFrom + f of array_weights.
// GetWeights/SetWeights run from neuron outer, to neuron inner; iteration and
// Randomize run in storage order (to neuron outer).
class TConnectedConnections : public TBasicConnections {
 public:
  std::vector<double> array_weights;
  std::vector<double*> index_weights;

  // Sized from the two layers' current neuron counts (both layers must be
  // installed in the network); every weight 0.0.
  TConnectedConnections(TBasicNetwork* network, int fromLayer, int toLayer);

  int GetNumWeights(int mode) override;
  int GetWeights(double* out, int mode) override;
  int SetWeights(const double* in, int mode) override;
  // One draw per weight in storage order, or every weight min when min == max.
  void Randomize(double min, double max) override;
  double& Weight(int from, int to) override { return index_weights[to][from]; }
  void Aggregate(double* net) override;
  bool WeightExists(int, int) override { return true; }
  void RestoreWeight(int, int) override {}
  void MakeTrainable(int, int) override {}
  void IterateIn(TIterateObj& v, int to, int mode) override;
  void IterateOut(TIterateObj& v, int from, int mode) override;
  void Iterate(TIterateObj& v, int mode) override;
  void Iterate2(TIterateObj2& v, TBasicNetwork* other, int mode) override;
  void Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third, int mode) override;
  const char* GetConnectionsNType() override;
  ~TConnectedConnections() override = default;
  std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* network) override;
  void RemoveFromNode(int node) override;
  void RemoveToNode(int node) override;
  // attached must be true: a new neuron of a fully connected set is always connected.
  void InsertFromNode(int node, double min, double max, bool attached) override;
  void InsertToNode(int node, double min, double max, bool attached) override;

  // Shape of the stored arrays (the layers' neuron counts outside a resizing step).
  int NumFrom() const { return nFrom; }
  int NumTo() const { return nTo; }

 private:
  TConnectedConnections(TBasicNetwork* network, int fromLayer, int toLayer, int nFrom, int nTo);

  // Kept so that a set whose from and to layer are the same layer, told of a
  // neuron change twice, resizes one dimension each time.
  int nFrom = 0;
  int nTo = 0;
};
