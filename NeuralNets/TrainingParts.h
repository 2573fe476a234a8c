// The pieces of map training that a driver needs when it holds the rows in
// parts, each part (a process, say) a contiguous run of blocks: the schedule
// the options give, worker threads, the initialisations over rows reached
// through TTrainingRows, the dealing of blocks to parts, and block sums kept
// compactly until they can be added in block order. TrainMap is made of the
// same pieces, so a driver that combines them as documented here and in
// TrainingBlocks.h gets TrainMap's bits.
// Internal to the library and its tools (not installed).
#pragma once

#include <functional>
#include <vector>

#include "NeuralNets/Training.h"
#include "NeuralNets/TrainingBlocks.h"

class TKohonenNetwork;
class TPreparedMap;
class TTrainingRandom;

// The schedule that the options give for a map (Training.h has the
// definitions).
struct TTrainingPlan {
  bool online = false;
  long long total = 0;  // online: steps T (0 until CountSteps when given as epochs); batch: epochs E
  long long epochs = 0;
  double rate = 0.0;
  bool inverse = false;
  double radius = 0.0;
  double finalRadius = 0.0;

  double RateAt(long long t) const;      // a(t)
  double RadiusAt(long long t) const;    // s(t), online
  double EpochRadius(long long e) const; // s_e, batch
};

// Checks `options` for `map` and gives the schedule. Throws TException (as
// TrainMap) for options out of range. The map's grid must have been checked
// (CheckMapForRuns).
TTrainingPlan PlanTraining(const TTrainingOptions& options, const TKohonenNetwork& map);
// Online training given in epochs: the steps for `rows` rows. Throws
// TException when they are too many to count.
void CountSteps(TTrainingPlan& plan, long long rows);

// Runs body(worker) for workers 0 .. count - 1, worker 0 on the calling
// thread, and returns when all have finished. `body` must not throw. Throws
// TException when the threads cannot be started (nothing has run then).
void RunTrainingWorkers(int count, const std::function<void(int worker)>& body);

// The rows of a training run as one part sees them: all of them may be held
// here, or a contiguous run of them, with the rest in the other parts.
// Every part makes the same calls in the same order.
class TTrainingRows {
 public:
  virtual ~TTrainingRows() = default;
  virtual int NumInputs() const = 0;
  // The rows of all parts.
  virtual long long Count() const = 0;
  // Adds runs of rows into `state`: add(rows, count, state) for the rows in
  // walking order (a part's rows in one or more calls), `state` passing from
  // part to part in row order, so that every sum comes out as one pass over
  // all rows in order gives it. Every part ends with the final state.
  using Adder = std::function<void(const double* const* rows, long long count, double* state)>;
  virtual void Pass(std::vector<double>& state, const Adder& add) = 0;
  // The values of the rows numbered `which` (from 0, in walking order), one
  // row after another, into `values` on every part.
  virtual void Fetch(const std::vector<long long>& which, std::vector<double>& values) = 0;
};

// All rows held here.
class TLocalTrainingRows final : public TTrainingRows {
 public:
  // `rows` must outlive this object.
  explicit TLocalTrainingRows(const TRowSource& rows) : rows_(rows) {}
  int NumInputs() const override { return rows_.numInputs; }
  long long Count() const override { return rows_.Count(); }
  void Pass(std::vector<double>& state, const Adder& add) override;
  void Fetch(const std::vector<long long>& which, std::vector<double>& values) override;

 private:
  const TRowSource& rows_;
};

// The initialisations of Training.h on the prepared weights: sample draws a
// row for each neuron in ascending order from `random`; linear spreads the
// weights over the rows' largest principal components.
void InitSample(TPreparedMap& map, TTrainingRows& rows, TTrainingRandom& random);
void InitLinear(TPreparedMap& map, TTrainingRows& rows, const TMapGrid& grid);

// Blocks of kTrainingBlockRows rows for `rows` rows (the last may be short).
long long BlockCount(long long rows);
// The blocks [first, end) of part `part` of `parts`: contiguous runs in part
// order, as even as can be, earlier parts taking one more block where the
// blocks do not divide evenly. A part may get none.
struct TBlockRange {
  long long first = 0;
  long long end = 0;
};
TBlockRange BlocksOfPart(long long blocks, int parts, int part);
// The same dealing for `count` items (neurons, say) instead of blocks.
inline TBlockRange ShareOfPart(long long count, int parts, int part) { return BlocksOfPart(count, parts, part); }

// A block's batch sums holding only the neurons that won rows (in the order
// they first won), so that many blocks can wait for their turn to be added.
struct TCompactBatchSums {
  std::vector<int> neurons;
  std::vector<long long> counts;
  std::vector<double> sums;  // neurons.size() x numInputs
  void From(const TBatchSums& block);
};
// Adds a block's sums to the total exactly as AddBatchSums adds the block it
// was made from (call in block order).
void AddBatchSums(TBatchSums& total, const TCompactBatchSums& block);
