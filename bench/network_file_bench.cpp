// Speed of the network file writer on the tool's largest job: a 300 x 300 map
// with 100 inputs (9,000,000 weights, about 190 MB of text) written to a
// stream that only counts what it receives, so no disk time is measured.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <ostream>

#include "FileHandler/NetworkFile.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "bench/BenchData.h"

namespace {

using benchdata::CountingBuffer;

void BM_WriteMap300x300x100(benchmark::State& state) {
  const int dims[] = {300, 300};
  TKohonenNetwork net(100, 2, dims);
  SeedRandom(1);
  net.Randomize(-1.0, 1.0);
  FileTools tools;
  std::size_t bytes = 0;
  for (auto _ : state) {
    CountingBuffer buffer;
    std::ostream out(&buffer);
    WriteNetwork(tools, out, &net);
    bytes = buffer.bytes;
  }
  state.SetItemsProcessed(state.iterations() * 9000000LL);
  state.SetBytesProcessed(static_cast<long long>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteMap300x300x100)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Weights of one sign and magnitude class, as equal limits give them.
void BM_WriteMapEqualWeights(benchmark::State& state) {
  const int dims[] = {300, 300};
  TKohonenNetwork net(100, 2, dims);
  net.Randomize(0.25, 0.25);
  FileTools tools;
  for (auto _ : state) {
    CountingBuffer buffer;
    std::ostream out(&buffer);
    WriteNetwork(tools, out, &net);
  }
  state.SetItemsProcessed(state.iterations() * 9000000LL);
}
BENCHMARK(BM_WriteMapEqualWeights)->Unit(benchmark::kMillisecond);

}  // namespace
