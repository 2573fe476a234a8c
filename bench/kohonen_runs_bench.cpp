// Speed of the Kohonen runs over a data set: 100,000 rows of 64 inputs on a
// 50 x 50 map, for winner coordinates and the quantisation error, and the
// prepared weights' winner search alone for each kernel width. Items are
// (row x map neuron) pairs; "pair_time" is the time per pair, "rows" rows per
// second (both per CPU second: the machine is shared).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TPreparedMap.h"
#include "bench/BenchData.h"

namespace {

constexpr int kInputs = 64;
constexpr int kRows = 100000;
constexpr long long kNeurons = 50 * 50;

struct RunFixture : benchdata::RandomMapAndRows {
  RunFixture() : RandomMapAndRows(kInputs, 50, kRows) {}
};

RunFixture& Fixture() {
  static RunFixture f;
  return f;
}

void Count(benchmark::State& state, long long rowsPerIteration) {
  const long long rows = state.iterations() * rowsPerIteration;
  state.SetItemsProcessed(rows * kNeurons);
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  state.counters["pair_time"] = benchmark::Counter(static_cast<double>(rows * kNeurons),
                                                   benchmark::Counter::kIsRate |
                                                       benchmark::Counter::kInvert);
}

void BM_WinnerCoordinates(benchmark::State& state) {
  RunFixture& f = Fixture();
  for (auto _ : state) {
    std::unique_ptr<Data> out = f.net.WinnerCoordinates(&f.rows);
    benchmark::DoNotOptimize(out.get());
  }
  Count(state, kRows);
}
BENCHMARK(BM_WinnerCoordinates)->Unit(benchmark::kMillisecond);

void BM_MeasureError(benchmark::State& state) {
  RunFixture& f = Fixture();
  for (auto _ : state) {
    TErrorRMSObj err(kInputs);
    benchmark::DoNotOptimize(f.net.MeasureError(&f.rows, &err));
  }
  Count(state, kRows);
}
BENCHMARK(BM_MeasureError)->Unit(benchmark::kMillisecond);

// The prepared winner search alone, per kernel width (1 is the plain loop),
// on the first 20,000 rows.
void BM_PreparedWinners(benchmark::State& state) {
  RunFixture& f = Fixture();
  const int lanes = static_cast<int>(state.range(0));
  if (!TPreparedMap::Supports(lanes)) {
    state.SkipWithError("the processor lacks this kernel");
    return;
  }
  constexpr int kSome = 20000;
  for (auto _ : state) {
    TPreparedMap map(f.net, lanes);
    int winners[TPreparedMap::kBlockRows];
    for (int r = 0; r < kSome; r += TPreparedMap::kBlockRows) {
      const double* xs[TPreparedMap::kBlockRows];
      for (int k = 0; k < TPreparedMap::kBlockRows; ++k) xs[k] = f.rows.MbrDyaRtpInputs[r + k];
      map.FindWinners(xs, TPreparedMap::kBlockRows, winners);
      benchmark::DoNotOptimize(winners);
    }
  }
  Count(state, kSome);
}
BENCHMARK(BM_PreparedWinners)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

// The network's own FindWinner per row, for comparison, on 20,000 rows.
void BM_FindWinnerPerRow(benchmark::State& state) {
  RunFixture& f = Fixture();
  constexpr int kSome = 20000;
  std::vector<double> y(kInputs);
  for (auto _ : state) {
    for (int r = 0; r < kSome; ++r) benchmark::DoNotOptimize(f.net.FindWinner(f.rows.MbrDyaRtpInputs[r], y.data()));
  }
  Count(state, kSome);
}
BENCHMARK(BM_FindWinnerPerRow)->Unit(benchmark::kMillisecond);

}  // namespace
