// Speed of the data set file on a large example set: 1,000,000 rows of 16
// inputs and 2 expected outputs (random values, 15 significant digits each),
// written to a temporary file and read back whole. The peak resident memory
// of the process is reported as a counter.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "FileHandler/Filer.h"

namespace {

constexpr int32_t kRows = 1000000;
constexpr int32_t kInputs = 16;
constexpr int32_t kOutputs = 2;

std::string FileName() {
  static const std::string name =
      (std::filesystem::temp_directory_path() / ("filer-bench-" + std::to_string(::getpid()) + ".dat")).string();
  return name;
}

std::unique_ptr<Data> MakeSet() {
  auto set = std::make_unique<Data>(kRows, kInputs, kOutputs, false);
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> value(-1000.0, 1000.0);
  double in[kInputs], out[kOutputs];
  for (int32_t r = 0; r < kRows; ++r) {
    for (double& v : in) v = value(random);
    for (double& v : out) v = value(random);
    set->AddRow(in, out, nullptr);
  }
  return set;
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in kilobytes
}

void BM_WriteDataSetFile(benchmark::State& state) {
  const auto set = MakeSet();
  FileTools tools;
  for (auto _ : state) {
    if (WriteDataSetFile(tools, FileName(), set.get(), nullptr) != SUCCESS) state.SkipWithError("write failed");
  }
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(FileName())) / (1 << 20);
  state.counters["peak_rss_MB"] = PeakMegabytes();
}
BENCHMARK(BM_WriteDataSetFile)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadDataSetFile(benchmark::State& state) {
  FileTools tools;
  if (!std::filesystem::exists(FileName())) {
    const auto set = MakeSet();
    WriteDataSetFile(tools, FileName(), set.get(), nullptr);
  }
  for (auto _ : state) {
    std::unique_ptr<Data> example, result;
    if (ReadDataSetFile(tools, FileName(), example, result) != SUCCESS || example == nullptr ||
        example->MbrNdxDataRows != kRows)
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(example.get());
  }
  state.counters["peak_rss_MB"] = PeakMegabytes();
  std::filesystem::remove(FileName());
}
BENCHMARK(BM_ReadDataSetFile)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
