// Speed of the two hot paths of the network model: randomising a large fully
// connected set and the Kohonen winner search, the latter beside a plain
// one-neuron-at-a-time loop over the same rows for comparison.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "NeuralNets/Random.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

// 100 inputs, 300 x 300 map: 9,000,000 weights. Items are weights.
void BM_RandomizeWeights(benchmark::State& state) {
  const int dims[] = {300, 300};
  TKohonenNetwork net(100, 2, dims);
  SeedRandom(1);
  for (auto _ : state) {
    net.Randomize(-0.5, 0.5);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 9000000LL);
}
BENCHMARK(BM_RandomizeWeights)->Unit(benchmark::kMillisecond);

// The generator and the draw alone, for reference.
void BM_BareDrawLoop(benchmark::State& state) {
  std::vector<double> out(9000000);
  SeedRandom(1);
  for (auto _ : state) {
    std::uint32_t s = RandomState();
    const long double lmin = -0.5L, range = 1.0L;
    for (double& w : out) w = RandomWeightFromValue(RandomStep(s), lmin, range);
    RandomState() = s;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 9000000LL);
}
BENCHMARK(BM_BareDrawLoop)->Unit(benchmark::kMillisecond);

struct MapFixture {
  static constexpr int kInputs = 64;
  const int dims[2] = {50, 50};
  TKohonenNetwork net{kInputs, 2, dims};
  std::vector<std::vector<double>> inputs;
  MapFixture() {
    SeedRandom(7);
    net.Randomize(-1, 1);
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> uni(-1, 1);
    inputs.assign(64, std::vector<double>(kInputs));
    for (auto& v : inputs)
      for (double& x : v) x = uni(gen);
  }
};

// 64 inputs, 50 x 50 map. Items are (input vector x map neuron) pairs.
void BM_FindWinner(benchmark::State& state) {
  MapFixture f;
  std::vector<double> out(MapFixture::kInputs);
  std::size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.net.FindWinner(f.inputs[k++ % f.inputs.size()].data(), out.data()));
  }
  state.SetItemsProcessed(state.iterations() * 2500LL);
}
BENCHMARK(BM_FindWinner);

void BM_FindWinnerPlainLoop(benchmark::State& state) {
  MapFixture f;
  auto* c = static_cast<TConnectedConnections*>(f.net.GetConnections(1, 2));
  const int n = MapFixture::kInputs, m = 2500;
  std::size_t k = 0;
  for (auto _ : state) {
    const double* x = f.inputs[k++ % f.inputs.size()].data();
    int win = -1;
    double best = 0.0;
    for (int i = 0; i < m; ++i) {
      const double* row = c->index_weights[i];
      double d = 0.0;
      for (int j = 0; j < n; ++j) {
        const double e = x[j] - row[j];
        d += e * e;
      }
      if (win < 0 || !(d >= best)) {
        best = d;
        win = i;
      }
    }
    benchmark::DoNotOptimize(win);
  }
  state.SetItemsProcessed(state.iterations() * 2500LL);
}
BENCHMARK(BM_FindWinnerPlainLoop);

}  // namespace
