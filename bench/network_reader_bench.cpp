// Speed of reading a large network file: a 100-input Kohonen map of 300 x 300
// neurons, 9,000,000 weights in the matrix form. The file is made once in the
// temporary folder (kept for later runs) and then loaded with LoadNetworkFile.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "FileHandler/NetworkFile.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace {

constexpr int kInputs = 100;
constexpr int kSide = 300;

// Writes a randomised map with the network file writer.
void MakeFile(const std::string& path) {
  const int sizes[] = {kSide, kSide};
  TKohonenNetwork map(kInputs, 2, sizes);
  SeedRandom(7);
  map.Randomize(-1.0, 1.0);
  FileTools tools;
  SaveNetworkFile(tools, path.c_str(), &map);
}

const std::string& FilePath() {
  static const std::string path = [] {
    const std::string p = (std::filesystem::temp_directory_path() / "mapsmith_reader_bench_100x300x300.net").string();
    if (!std::filesystem::exists(p)) MakeFile(p);
    return p;
  }();
  return path;
}

void BM_LoadNetworkFile(benchmark::State& state) {
  const std::string& path = FilePath();
  for (auto _ : state) {
    FileTools tools;
    auto net = LoadNetworkFile(tools, path.c_str());
    benchmark::DoNotOptimize(net->GetConnections(1, 2));
  }
  state.SetItemsProcessed(state.iterations() * int64_t{kInputs} * kSide * kSide);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_LoadNetworkFile)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
