// The pieces that measuring and training a Kohonen map share: checks of the
// map, the grid of its neurons, the rows of a data set, and the work done on
// one block of rows. Blocks are fixed runs of kTrainingBlockRows rows in
// walking order; every sum over rows is made per block (rows in order) and the
// block sums are then added in block order. Whoever computes a block (one
// thread, several, or another process) therefore gets the same bits, as long
// as the block sums are combined in block order with the functions here.
// Internal to the library and its tools (not installed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "NeuralNets/MapQuality.h"
#include "NeuralNets/TPreparedMap.h"

class Data;
class TKohonenNetwork;

// Rows per block. Fixed: results must not depend on how blocks are shared out.
constexpr long long kTrainingBlockRows = 1024;

// Throws TException(message, "Bad Parameter", origin).
[[noreturn]] void RefuseRun(const std::string& message, const char* origin);

// Refuses (as RefuseRun) a map that has no input or map layer, no neurons, no
// grid dimensions, grid sizes that do not multiply to its neuron count, or no
// weights from its inputs to its neurons.
void CheckMapForRuns(TKohonenNetwork& map, const char* origin);

// The grid positions of a map's neurons (the map must pass CheckMapForRuns).
// Differences between coordinates wrap around their dimension, the shorter
// way, when `torus` is set.
class TMapGrid {
 public:
  TMapGrid(TKohonenNetwork& map, bool torus);

  int Dimensions() const { return dims; }
  int Neurons() const { return neurons; }
  bool Torus() const { return torus; }
  const std::vector<int>& Sizes() const { return sizes; }
  const int* Coords(int neuron) const { return coords.data() + static_cast<std::size_t>(neuron) * dims; }
  // |a - b| for two coordinates of dimension k, wrapped with torus.
  int Difference(int k, int a, int b) const {
    int d = a > b ? a - b : b - a;
    if (torus && sizes[k] - d < d) d = sizes[k] - d;
    return d;
  }
  // Whether neurons a and b differ by at most 1 in every coordinate and are
  // not the same neuron.
  bool Neighbours(int a, int b) const;
  // The squared Euclidean distance of two neurons' grid coordinates.
  long long Distance2(int a, int b) const;
  // The largest squared distance between any two neurons.
  long long MaxDistance2() const;

 private:
  int dims;
  int neurons;
  bool torus;
  std::vector<int> sizes;
  std::vector<int> coords;  // neurons x dims
};

// The rows of a data set as pointers to numInputs values each, in walking
// order. They point into the data set itself where it can be read directly
// (a plain Data without a column selection), else into `copy`. Valid while
// the data set lives and is not changed.
struct TRowSource {
  int numInputs = 0;
  std::vector<const double*> rows;
  std::vector<double> copy;
  long long Count() const { return static_cast<long long>(rows.size()); }
};

// Walks `data` (Rewind, then GetNextRow MbrNdxRows times). Refuses (as
// RefuseRun) a data set with fewer input columns than numInputs, naming both
// counts, and a row holding NaN or infinity among its first numInputs values,
// naming the row (counted from 1).
TRowSource CollectRows(Data& data, int numInputs, const char* origin);
// The same for `count` rows stored one after another.
TRowSource CollectRows(const double* rows, long long count, int numInputs, const char* origin);

// Quality sums of a block: the distances of its rows to their winners added
// in row order, and the rows whose best two neurons are not neighbours.
struct TQualitySums {
  long long rows = 0;
  double distanceSum = 0.0;
  long long topographicErrors = 0;
};

// The quality sums of rows[0 .. count-1] on the prepared map. `scratch` is the
// caller's (one per thread); it is resized as needed.
TQualitySums BlockQuality(const TPreparedMap& map, const TMapGrid& grid, const double* const* rows,
                          long long count, std::vector<double>& scratch);
// Adds a block's sums to the total (call in block order).
void AddQualitySums(TQualitySums& total, const TQualitySums& block);
// The measures from the sums of all blocks.
TMapQuality QualityOf(const TQualitySums& total);
