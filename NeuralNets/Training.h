// Training a Kohonen map on a data set, online (one row at a time) or in
// batches (one update per pass over the data), on grids of any number of
// dimensions, optionally wrapped into a torus. For given options, seed and
// data the trained weights are the same bit for bit whatever the number of
// threads, and on every platform: the randomness is the training's own
// seeded generator and every sum runs in a fixed order.
//
// Definitions (t the step, T the steps; e the epoch, E the epochs):
// - Grid distance d(a, b): the Euclidean distance of two neurons' grid
//   coordinates; with torus each coordinate difference wraps around its
//   dimension the shorter way.
// - Neighbourhood h(d, s): 1 for d = 0; gaussian exp(-d^2 / (2 s^2)), taken
//   as 0 where d^2 > kGaussianCutSquared * s^2 (there it is below 1e-16: a
//   move smaller than one part in 10^16 of a weight's distance to the row,
//   which leaves the map the same to every measurable digit; see
//   TTrainingOptions::cutGaussian); bubble 1 when d <= s, else 0. exp is
//   computed by the library's own routine, the same bits everywhere.
// - Online: each pass over the rows visits them in a fresh random
//   permutation. At step t the winner c of row x is found as FindWinner finds
//   it (ties to the lower number), then every neuron i with h > 0 moves:
//   w_i = w_i + (a(t) * h(d(c, i), s(t))) * (x - w_i), weight by weight.
//   Rate a(t): linear a0 * (1 - t / T); inverse (a0 * C) / (C + t) with
//   C = T / 100. Radius s(t) = s1 + (s0 - s1) * (1 - t / T).
// - Batch: per epoch, every row's winner, then for each neuron j the sum S_j
//   of the rows it wins and their count n_j (sums made per block of rows in
//   row order, the blocks added in block order); then every neuron i with
//   den_i = sum over j of h(d(i, j), s_e) * n_j not 0 becomes
//   w_i = (sum over j of h(d(i, j), s_e) * S_j) / den_i, both sums running
//   over the neurons j that won rows, in ascending j, terms with h = 0 left
//   out; a neuron whose den_i is 0 keeps its weights. s_e = s1 + (s0 - s1) *
//   (1 - e / (E - 1)), s0 for a single epoch.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "NeuralNets/MapQuality.h"
#include "NeuralNets/TKohonenNetwork.h"

class Data;

enum class TTrainingMode { Online, Batch };
enum class TRateSchedule { Linear, Inverse };
enum class TNeighbourhood { Gaussian, Bubble };
// keep: the weights as they are. sample: each neuron takes a row drawn at
// random (neurons in ascending order). linear: the weights spread over the
// data's largest principal components (see TrainMap).
enum class TInitialisation { Keep, Sample, Linear };

// Where the gaussian is cut: d^2 > 2 ln(10^16) s^2, i.e. d > 8.58 s.
constexpr double kGaussianCutSquared = 73.68272297580947;

// Reported to the progress callback: online after every 256 steps and the
// last; batch after every epoch. `done` counts steps or epochs.
struct TTrainingProgress {
  long long done = 0;
  long long total = 0;
  double rate = 0.0;    // online: the rate of the last step; batch: 0
  double radius = 0.0;  // the radius of the last step or epoch
};

struct TTrainingOptions {
  TTrainingMode mode = TTrainingMode::Batch;
  // Online: `steps`, or `epochs` passes over the rows. Batch: `epochs`.
  // 0 means not given; when neither is, 20 epochs.
  long long steps = 0;
  long long epochs = 0;
  double rate = 0.5;  // a0, online only; 0 < rate <= 1
  TRateSchedule rateSchedule = TRateSchedule::Linear;
  // s0; when not given, half the map's largest size, but not below s1.
  std::optional<double> radius;
  double finalRadius = 1.0;  // s1; 0 <= s1 <= s0
  TNeighbourhood neighbourhood = TNeighbourhood::Gaussian;
  bool cutGaussian = true;  // false: the gaussian everywhere (slower, same map to 1e-16)
  bool torus = false;
  TInitialisation init = TInitialisation::Keep;
  std::uint64_t seed = 1;
  int threads = 1;  // 1 to kMaxTrainingThreads; never changes the result
  bool measureQuality = true;  // false: the report's quality stays empty
  // Called on the calling thread; the library prints nothing itself.
  std::function<void(const TTrainingProgress&)> progress;
};

constexpr int kMaxTrainingThreads = 256;

struct TTrainingReport {
  long long steps = 0;     // online steps done (0 in batch mode)
  long long epochs = 0;    // batch epochs done (0 in online mode)
  double finalRate = 0.0;  // online: the rate of the last step; batch: 0
  double finalRadius = 0.0;
  TMapQuality quality;  // measured on the data after training (torus as trained), if asked
};

// Trains `map` on `data` (its first numInputs input columns, or selected
// columns, walked as the runs walk it: Rewind, then GetNextRow MbrNdxRows
// times) and returns the report. The map's weights change only when training
// has finished; the data set is not changed (only its cursor).
//
// Linear initialisation: the data's mean m and covariance; its first D
// principal components (D the map's dimensions, at most its inputs) by power
// iteration with deflation, each with its variance l; the map dimensions in
// order of decreasing size (ties in dimension order) take the components in
// order of decreasing variance. Neuron i gets m + sum over those dimensions k
// of u_k * sqrt(l_k) * v_k, where u_k runs evenly from -1 to 1 along the
// dimension (0 for a dimension of size 1): the map spans one standard
// deviation each way along each component. It does not depend on the seed.
//
// Throws TException (kind "Bad Parameter", origin "TrainMap"), before any
// weight changes, for options out of range, for a map that is not a trainable
// Kohonen map (no neurons, no grid dimensions or sizes that do not multiply
// to its neurons, weights not fully connected, or, with init keep, a weight
// that is NaN or infinite), for a data set without rows or with fewer input
// columns than the map has inputs (naming both counts), and for a row
// holding NaN or infinity (naming the row, counted from 1).
TTrainingReport TrainMap(TKohonenNetwork& map, Data& data, const TTrainingOptions& options);

// The checks TrainMap makes before it starts, for callers that want to know
// which input a refusal concerns: the map and the options, and the data set
// for that map (which must pass CheckTrainingMap first). They throw what
// TrainMap would throw and change nothing but the data set's cursor.
void CheckTrainingMap(TKohonenNetwork& map, const TTrainingOptions& options);
void CheckTrainingData(TKohonenNetwork& map, Data& data);
