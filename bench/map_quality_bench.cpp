// Speed of the quality measures against the winner search they build on:
// 100,000 rows of 64 inputs on a 50 x 50 map. MeasureMapQuality (data set
// walk, best two neurons of every row, grid test) should take at most twice
// the time of the prepared winner search alone over the same rows.
#include <benchmark/benchmark.h>

#include "NeuralNets/MapQuality.h"
#include "NeuralNets/TPreparedMap.h"
#include "bench/BenchData.h"

namespace {

constexpr int kInputs = 64;
constexpr int kRows = 100000;

struct QualityFixture : benchdata::RandomMapAndRows {
  QualityFixture() : RandomMapAndRows(kInputs, 50, kRows) {}
};

QualityFixture& Fixture() {
  static QualityFixture f;
  return f;
}

void BM_MeasureMapQuality(benchmark::State& state) {
  QualityFixture& f = Fixture();
  for (auto _ : state) {
    const TMapQuality q = MeasureMapQuality(f.net, f.rows, state.range(0) != 0);
    benchmark::DoNotOptimize(q.quantizationError);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_MeasureMapQuality)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The winner search alone: the map prepared once, then the winners of every
// row a block at a time with the widest kernel the processor has.
void BM_WinnerSearchAlone(benchmark::State& state) {
  QualityFixture& f = Fixture();
  for (auto _ : state) {
    TPreparedMap map(f.net);
    int winners[TPreparedMap::kBlockRows];
    for (int r = 0; r < kRows; r += TPreparedMap::kBlockRows) {
      const double* xs[TPreparedMap::kBlockRows];
      for (int k = 0; k < TPreparedMap::kBlockRows; ++k) xs[k] = f.rows.MbrDyaRtpInputs[r + k];
      map.FindWinners(xs, TPreparedMap::kBlockRows, winners);
      benchmark::DoNotOptimize(winners);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_WinnerSearchAlone)->Unit(benchmark::kMillisecond);

}  // namespace
