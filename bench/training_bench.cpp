// Speed of map training on 100,000 rows of 64 inputs and a 50 x 50 map: one
// batch epoch at the default (largest) radius on 1 and 2 threads, and
// 100,000 online steps. The quality measure after training is left out.
// Times are wall clock (the threads' work); the machine is shared, so run it
// when it is quiet.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/Training.h"

namespace {

constexpr int kInputs = 64;
constexpr int kRows = 100000;

struct TrainingFixture {
  const int dims[2] = {50, 50};
  TKohonenNetwork net{kInputs, 2, dims};
  Data rows{kRows, kInputs, 0, false};
  TrainingFixture() {
    SeedRandom(7);
    net.Randomize(-1, 1);
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> uni(-1, 1);
    std::vector<double> x(kInputs);
    for (int r = 0; r < kRows; ++r) {
      for (double& v : x) v = uni(gen);
      rows.AddRow(x.data(), nullptr, nullptr);
    }
  }
};

TrainingFixture& Fixture() {
  static TrainingFixture f;
  return f;
}

void BM_BatchEpoch(benchmark::State& state) {
  TrainingFixture& f = Fixture();
  TTrainingOptions options;
  options.mode = TTrainingMode::Batch;
  options.epochs = 1;
  options.threads = static_cast<int>(state.range(0));
  options.measureQuality = false;
  for (auto _ : state) {
    TKohonenNetwork map(f.net);
    const TTrainingReport report = TrainMap(map, f.rows, options);
    benchmark::DoNotOptimize(report.finalRadius);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_BatchEpoch)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Online100000Steps(benchmark::State& state) {
  TrainingFixture& f = Fixture();
  TTrainingOptions options;
  options.mode = TTrainingMode::Online;
  options.steps = 100000;
  options.threads = static_cast<int>(state.range(0));
  options.measureQuality = false;
  for (auto _ : state) {
    TKohonenNetwork map(f.net);
    const TTrainingReport report = TrainMap(map, f.rows, options);
    benchmark::DoNotOptimize(report.finalRadius);
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_Online100000Steps)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
