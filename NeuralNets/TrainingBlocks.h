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
#include <limits>
#include <string>
#include <vector>

#include "NeuralNets/MapQuality.h"
#include "NeuralNets/TPreparedMap.h"
#include "NeuralNets/Training.h"

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
// naming the row (counted from 1, after `rowsBefore` rows held elsewhere).
TRowSource CollectRows(Data& data, int numInputs, const char* origin, long long rowsBefore = 0);
// The same for `count` rows stored one after another.
TRowSource CollectRows(const double* rows, long long count, int numInputs, const char* origin,
                       long long rowsBefore = 0);

// Winner searches made cheaper by a screen. On the weights and the row both
// shifted by `shift` (the data's mean keeps the numbers small) and rounded to
// single precision, the exact squared distance of the row x to neuron i is
// |x|^2 - 2 v_i with v_i = x.w_i - |w_i|^2 / 2, up to an error below
// E = 8 (n + 8) 2^-24 (|x| + max |w|)^2 + 1e-30, which covers the rounding to
// single precision, of the dot products and of the exact sum. v costs one
// single-precision multiplication and addition per weight, twice as many at
// a time as the exact distance's three double operations. Only the neurons
// whose v_i is at least the largest v (for the runner-up too, the second
// largest) less E can be the nearest; they get their exact distance and the
// winner rule decides among them in ascending order, so the result is the
// full search's. A row whose values are not finite or that leaves more than
// 64 candidates takes the full search. The screen copies the weights:
// rebuild it when they change.
struct TScreenScratch {
  std::vector<float> rows, dots;
  std::vector<double> exact;
  std::vector<int> candidates;
};

class TWinnerScreen {
 public:
  TWinnerScreen(const TPreparedMap& map, const double* shift);
  TWinnerScreen(const TWinnerScreen&) = delete;
  TWinnerScreen& operator=(const TWinnerScreen&) = delete;
  // The nearest neuron of each of `count` (<= TPreparedMap::kScreenRows)
  // rows, and with `second` its runner-up, into out[r]: what Nearest gives
  // when every neuron is offered in ascending order.
  void Search(const double* const* rows, int count, bool second, TPreparedMap::Nearest* out,
              TScreenScratch& scratch) const;

 private:
  const TPreparedMap& map;
  int lanes;   // neurons side by side in a group
  int groups;
  std::vector<double> shift;
  std::vector<float> storage;  // the shifted weights, in groups, plus room to align them
  float* packed = nullptr;     // 64-byte aligned start of the groups
  std::vector<float> bias;     // -|w_i|^2 / 2 per neuron
  double largestNorm = 0.0;
};

// The data's mean, input by input (rows added in order).
std::vector<double> RowMean(const TRowSource& rows);

// Quality sums of a block: the distances of its rows to their winners added
// in row order, and the rows whose best two neurons are not neighbours.
struct TQualitySums {
  long long rows = 0;
  double distanceSum = 0.0;
  long long topographicErrors = 0;
};

// The quality sums of rows[0 .. count-1] on the prepared map, searched through
// `screen` when given (the same result). `scratch` is the caller's (one per
// thread); it is resized as needed.
TQualitySums BlockQuality(const TPreparedMap& map, const TMapGrid& grid, const double* const* rows,
                          long long count, std::vector<double>& scratch,
                          const TWinnerScreen* screen = nullptr, TScreenScratch* screenScratch = nullptr);
// Adds a block's sums to the total (call in block order).
void AddQualitySums(TQualitySums& total, const TQualitySums& block);
// The measures from the sums of all blocks.
TMapQuality QualityOf(const TQualitySums& total);

// ----------------------------------------------------------------------------
// Training.

// e^x for x <= 0 (0 below the smallest subnormal result), from double
// additions, multiplications and an exact scaling only, so it gives the same
// bits on every platform (within 2 units in the last place of the true value).
double TrainingExp(double x);

// The neighbourhood h for two neurons at squared grid distance d2 and radius
// sigma, as Training.h defines it; `cut` cuts the gaussian at
// kGaussianCutSquared * sigma^2.
double NeighbourhoodValue(TNeighbourhood kind, long long d2, double sigma, bool cut);

// NeighbourhoodValue for one radius at a time, looked up by squared grid
// distance. The squared distances that occur on the grid are found once; for
// each radius only those up to the last non-zero value are computed. Grids
// whose largest squared distance exceeds 16 per neuron (plus 4096), such as
// long 1-D maps, compute each value when asked instead, so the table stays
// small next to the map.
class TNeighbourhoodTable {
 public:
  TNeighbourhoodTable(const TMapGrid& grid, TNeighbourhood kind, bool cut);
  // Computes the values for radius sigma, for squared distances up to limit
  // only (asking for more afterwards is a precondition violation).
  void SetRadius(double sigma, long long limit = std::numeric_limits<long long>::max());
  double Radius() const { return sigma; }
  double operator()(long long d2) const {
    if (!direct) return NeighbourhoodValue(kind, d2, sigma, cut);
    return d2 <= reach ? table[static_cast<std::size_t>(d2)] : 0.0;
  }
  // Direct access for loops over many neurons: when Direct(), h(d2) is
  // Table()[d2] for d2 <= Reach() and 0 beyond.
  bool Direct() const { return direct; }
  const double* Table() const { return table.data(); }
  long long Reach() const { return reach; }

 private:
  TNeighbourhood kind;
  bool cut;
  double sigma = 0.0;
  bool direct;
  std::vector<long long> values;  // squared distances that occur, ascending
  std::vector<double> table;      // h by squared distance, valid up to reach
  long long reach = -1;           // the largest squared distance with h > 0
  std::vector<double> exponents, results;  // per value, for SetRadius
};

// Per-neuron sums of the rows each neuron wins: the rows' values added in row
// order, and their number. `touched` lists the neurons with a count, in the
// order they first won.
struct TBatchSums {
  int numInputs = 0;
  std::vector<double> sums;       // neurons x numInputs, neuron-major
  std::vector<long long> counts;  // rows won, per neuron
  std::vector<int> touched;
  void Resize(int neurons, int inputs);
  void Clear();  // every sum and count back to 0
};

// The winners of rows[0 .. count-1] (as FindWinner; through `screen` when
// given, with the same result) and their per-neuron sums into `block`, which
// is cleared first. `scratch` is the caller's.
void BatchBlockSums(const TPreparedMap& map, const double* const* rows, long long count,
                    TBatchSums& block, std::vector<double>& scratch,
                    const TWinnerScreen* screen = nullptr, TScreenScratch* screenScratch = nullptr);
// Adds a block's sums to the total, neuron by neuron (call in block order).
void AddBatchSums(TBatchSums& total, const TBatchSums& block);
// The batch update (Training.h) of neurons firstNeuron .. endNeuron - 1 from
// the sums of all blocks, written into the prepared weights. Each neuron's new
// weights depend on the sums only, so neuron ranges may be updated by
// different threads at once. `work` is the caller's.
void BatchUpdate(TPreparedMap& map, const TBatchSums& total, const TMapGrid& grid,
                 const TNeighbourhoodTable& h, int firstNeuron, int endNeuron,
                 std::vector<double>& work);
