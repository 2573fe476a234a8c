// Batch training of one map with its rows spread over the processes of a
// group (MapsmithTrainMPI runs it over MPI). Every process holds the whole
// map and its own share of the rows (RowShare.h). Per epoch each process
// finds the winners of its rows and sums them per block; the block sums are
// added in block order as the running total passes from process to process
// (process 0 first), the last process hands the total to all, each updates
// its share of the neurons and the new weights are exchanged. Everything is
// summed in the order of MapsmithTrain's threaded batch training, so any
// number of processes, with any number of threads each, gives its bytes.
#pragma once

#include <iosfwd>
#include <vector>

#include "Kohonen/Train/MapsmithTrain.h"
#include "Kohonen/Train/ProcessGroup.h"
#include "NeuralNets/TrainingParts.h"

class TPreparedMap;

namespace mapsmith {

// Runs a training command line (MapsmithTrain's options; batch only) as
// process `group.Rank()` of the group: every process calls it with the same
// arguments. Process 0 prints on `out` and `err` (the progress line when
// `environment.terminal`); the others print nothing. Returns the exit
// status, the same on every process.
int RunDistributedTrain(ProcessGroup& group, const char* tool, int argc, const char* const* argv,
                        std::ostream& out, std::ostream& err, const TrainEnvironment& environment);

// The pieces, for the tests.

// The rows of all processes as TTrainingRows, from this process's share:
// passes run from process 0 to the last, rows are fetched from their holders.
class GroupTrainingRows final : public TTrainingRows {
 public:
  // `firsts` as RowShare gives them; `mine` this process's rows. Both must
  // outlive this object.
  GroupTrainingRows(ProcessGroup& group, const std::vector<long long>& firsts, const TRowSource& mine)
      : group_(group), firsts_(firsts), mine_(mine) {}
  int NumInputs() const override { return mine_.numInputs; }
  long long Count() const override { return firsts_.back(); }
  void Pass(std::vector<double>& state, const Adder& add) override;
  void Fetch(const std::vector<long long>& which, std::vector<double>& values) override;

 private:
  ProcessGroup& group_;
  const std::vector<long long>& firsts_;
  const TRowSource& mine_;
};

// Adds this process's block sums (its blocks, in order) into the running
// total that comes from the process before it, passes it on, and leaves the
// total of all blocks in `total` on every process. `total` must be sized for
// the map (TBatchSums::Resize); what it held is replaced.
void CombineBatchSums(ProcessGroup& group, TBatchSums& total, const std::vector<TCompactBatchSums>& blocks);

// Every process's share of the neurons (ShareOfPart), as it updated them,
// into every process's prepared map.
void ExchangeWeights(ProcessGroup& group, TPreparedMap& map);

// The quality sums of every process's blocks added in block order, on
// process 0 (the others get empty sums).
TQualitySums GatherQualitySums(ProcessGroup& group, const std::vector<TQualitySums>& blocks);

}  // namespace mapsmith
