// The pruneable connection set: arcs can be removed (pruned) and put back,
// weights can be frozen (made untrainable) and unfrozen.
#pragma once

#include <vector>

#include "NeuralNets/TBasicNetwork.h"

// Weights and flag bytes lie side by side in the same to-neuron-major layout:
// the arc from f to t has weight index_weights[t][f] and flags index_masks[t][f]
// (FMaskExists, FMaskTrainable). A pruned arc's weight is 0.0. Whole-set
// reads and writes take the admitted weights in iteration order.
class TPrunedConnections : public TBasicConnections {
 public:
  std::vector<double> array_weights;
  std::vector<double*> index_weights;
  std::vector<char> array_masks;
  std::vector<char*> index_masks;

  // Sized from the two layers' current neuron counts (both layers must be
  // installed); every weight 0.0 and every flag FMaskAll.
  TPrunedConnections(TBasicNetwork* network, int fromLayer, int toLayer);

  // Skips frozen and pruned weights without drawing.
  void Randomize(double min, double max) override;
  double& Weight(int from, int to) override { return index_weights[to][from]; }
  void Aggregate(double* net) override;
  bool WeightExists(int from, int to) override {
    return (index_masks[to][from] & FMaskExists) != 0;
  }
  bool IsTrainable(int from, int to) override {
    return (index_masks[to][from] & FMaskTrainable) != 0;
  }
  void PruneWeight(int from, int to) override;
  void RestoreWeight(int from, int to) override;
  void MakeTrainable(int from, int to) override;
  void MakeUntrainable(int from, int to) override;
  void IterateIn(TIterateObj& v, int to, int mode) override;
  void IterateOut(TIterateObj& v, int from, int mode) override;
  void Iterate(TIterateObj& v, int mode) override;
  void Iterate2(TIterateObj2& v, TBasicNetwork* other, int mode) override;
  void Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third, int mode) override;
  const char* GetConnectionsNType() override;
  char GetWeightFlags(int from, int to) override { return index_masks[to][from]; }
  // Sets the flags unchecked.
  void SetWeightFlags(int from, int to, char val) override { index_masks[to][from] = val; }
  ~TPrunedConnections() override = default;
  std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* network) override;
  void RemoveFromNode(int node) override;
  void RemoveToNode(int node) override;
  // New arcs get a draw and FMaskAll when attached, else weight 0.0 and flag 0 (no draw).
  void InsertFromNode(int node, double min, double max, bool attached) override;
  void InsertToNode(int node, double min, double max, bool attached) override;

  int NumFrom() const { return nFrom; }
  int NumTo() const { return nTo; }

 private:
  TPrunedConnections(TBasicNetwork* network, int fromLayer, int toLayer, int nFrom, int nTo);
  static bool Admits(char m, int mode) {
    return mode == 1 ? (m & FMaskExists) != 0 : (m & FMaskAll) == FMaskAll;
  }

  int nFrom = 0;
  int nTo = 0;
};
