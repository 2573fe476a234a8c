// Walking a data set and naming each row's winner, for the runs over data
// sets and the hits of a map's pictures. Internal to the library (not
// installed).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/TPreparedMap.h"
#include "NeuralNets/TrainingBlocks.h"

// The mean of the map's weight vectors: the winner screen's shift when the
// rows are not at hand. It keeps the screen's single-precision numbers small
// where a trained map's rows lie; any shift gives the same winners.
std::vector<double> WeightMean(const TPreparedMap& map);

// The winners of rows handed over a few at a time, found as WalkWinners
// finds them: through the winner screen shifted by the weights' mean, so they
// are FindWinner's winners. For callers that hold their rows elsewhere (a
// tool mapping a file as it reads it). `map` must outlive the finder.
class TWinnerFinder {
 public:
  static constexpr int kBlock = TPreparedMap::kScreenRows;

  explicit TWinnerFinder(const TPreparedMap& map);
  TWinnerFinder(const TWinnerFinder&) = delete;
  TWinnerFinder& operator=(const TWinnerFinder&) = delete;

  // winners[r] = the winner of rows[r], for count (<= kBlock) rows of at
  // least map.NumInputs() values each.
  void Find(const double* const* rows, int count, int* winners);

 private:
  TWinnerScreen screen;
  TScreenScratch scratch;
  TPreparedMap::Nearest found[kBlock];
};

// Walks `in` (Rewind, then GetNextRow MbrNdxRows times) a few rows at a
// time: the rows are read, their winners found through a TWinnerFinder, and
// then visit(inputs, labels, winner) is called for each row in walking order.
// `labels` is the row's list when withLabels is set, else null. The input
// buffers hold every column GetNextRow may write, and at least `least`
// values (0.0 beyond the set's columns).
template <class Visit>
void WalkWinners(const TPreparedMap& map, Data& in, bool withLabels, int least, Visit&& visit) {
  constexpr int kBlock = TWinnerFinder::kBlock;
  const std::size_t room = static_cast<std::size_t>(
      std::max({least, map.NumInputs(), in.MbrNdxInputs, in.MbrNdxInputSelection, 1}));
  std::vector<double> buffer(room * kBlock, 0.0);
  const double* xs[kBlock];
  const TLabelList* labels[kBlock] = {};
  int winners[kBlock];
  TWinnerFinder finder(map);
  in.Rewind();
  for (std::int32_t done = 0; done < in.MbrNdxRows;) {
    const int count = static_cast<int>(std::min<std::int32_t>(kBlock, in.MbrNdxRows - done));
    for (int r = 0; r < count; ++r) {
      double* x = buffer.data() + r * room;
      in.GetNextRow(x, nullptr, withLabels ? &labels[r] : nullptr);
      xs[r] = x;
    }
    finder.Find(xs, count, winners);
    for (int r = 0; r < count; ++r) visit(xs[r], labels[r], winners[r]);
    done += count;
  }
}
