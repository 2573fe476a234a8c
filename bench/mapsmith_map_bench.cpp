// Speed of MapsmithMap against the library run it wraps: 100,000 rows of 64
// inputs (random values with 15 significant digits) on a 50 x 50 map. The
// tool reads the network file and the data set file and writes the rows with
// their winners' coordinates as a data set file (mapping the rows as it reads
// them); the goal is at most 1.3 times the library's WinnerCoordinates on the
// same rows in memory. --quality (the tool reading the data and measuring) is
// set against the winner search alone in map_quality_bench. The tool runs
// in-process (CPU time) and as its binary (wall time, the child's CPU time as
// a counter), replacing its previous output or writing a new one;
// BM_ToolOverLibrary sets the two against each other run by run. The files
// live in the temporary folder (TMPDIR): replacing a 113 MB output also
// costs what the file system takes to free the old one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "Kohonen/Map/MapsmithMap.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "bench/BenchData.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kInputs = 64;
constexpr int kRows = 100000;

struct Files {
  benchdata::ScratchDir scratch{"mapsmith-map-bench"};
  const fs::path& dir = scratch.path;
  std::string map = (dir / "map.net").string();
  std::string data = (dir / "data.dat").string();
  std::string out = (dir / "out.dat").string();
  std::unique_ptr<TKohonenNetwork> net;
  std::unique_ptr<Data> rows;  // the data file as read, for the library run

  Files() {
    benchdata::RandomMapAndRows made(kInputs, 50, kRows);
    FileTools tools;
    SaveNetworkFile(tools, map.c_str(), &made.net, nullptr);
    WriteDataSetFile(tools, data, &made.rows, nullptr);

    net = LoadKohonenNetwork(tools, map.c_str());
    std::unique_ptr<Data> result;
    ReadDataSetFile(tools, data, rows, result);
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

void BM_LibraryWinnerCoordinates(benchmark::State& state) {
  Files& f = TheFiles();
  for (auto _ : state) {
    std::unique_ptr<Data> coords = f.net->WinnerCoordinates(f.rows.get());
    benchmark::DoNotOptimize(coords.get());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_LibraryWinnerCoordinates)->Unit(benchmark::kMillisecond);

int RunInProcess(std::vector<std::string> args) {
  args.insert(args.begin(), "MapsmithMap");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  return RunMapsmithMap(static_cast<int>(argv.size()), argv.data(), out, err);
}

void BM_ToolInProcess(benchmark::State& state) {
  Files& f = TheFiles();
  for (auto _ : state)
    if (RunInProcess({"--map", f.map, "--data", f.data, "--out", f.out}) != 0) state.SkipWithError("tool failed");
  state.counters["out_MB"] = static_cast<double>(fs::file_size(f.out)) / (1 << 20);
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ToolInProcess)->Unit(benchmark::kMillisecond);

void BM_ToolQualityInProcess(benchmark::State& state) {
  Files& f = TheFiles();
  for (auto _ : state)
    if (RunInProcess({"--map", f.map, "--data", f.data, "--quality"}) != 0) state.SkipWithError("tool failed");
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ToolQualityInProcess)->Unit(benchmark::kMillisecond);

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// MapsmithMap's binary run on `args` with its standard output discarded, the
// way a user runs it: whether it ran and exited with status 0.
class ToolBinary {
 public:
  explicit ToolBinary(std::vector<std::string> args)
      : binary_(std::string(MAPSMITH_TOOL_DIR) + "/MapsmithMap"), args_(std::move(args)) {
    args_.insert(args_.begin(), binary_);
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  ~ToolBinary() { posix_spawn_file_actions_destroy(&actions_); }
  ToolBinary(const ToolBinary&) = delete;
  ToolBinary& operator=(const ToolBinary&) = delete;

  bool Run() {
    pid_t pid = 0;
    int status = 0;
    return posix_spawn(&pid, binary_.c_str(), &actions_, nullptr, argv_.data(), environ) == 0 &&
           waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  std::string binary_;
  std::vector<std::string> args_;
  std::vector<char*> argv_;
  posix_spawn_file_actions_t actions_;
};

void BM_ToolBinary(benchmark::State& state) {
  Files& f = TheFiles();
  // 0: the output replaces the previous run's; 1: --quality; 2: a new output
  // (the previous one is removed untimed: freeing a large file's blocks is
  // part of replacing it, not of mapping).
  ToolBinary tool(state.range(0) == 1 ? std::vector<std::string>{"--map", f.map, "--data", f.data, "--quality"}
                                      : std::vector<std::string>{"--map", f.map, "--data", f.data, "--out", f.out});
  const double cpuBefore = ChildrenCpuSeconds();
  for (auto _ : state) {
    if (state.range(0) == 2) {
      state.PauseTiming();
      fs::remove(f.out);
      state.ResumeTiming();
    }
    if (!tool.Run()) state.SkipWithError("tool failed");
  }
  state.counters["child_cpu_ms"] =
      benchmark::Counter((ChildrenCpuSeconds() - cpuBefore) * 1000.0 / static_cast<double>(state.iterations()));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ToolBinary)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The goal itself, measured so that a machine whose speed drifts (a shared
// host) does not decide it: each iteration times the library run and then
// the tool's binary (argument as BM_ToolBinary's: 0 replacing the previous
// output, 2 a new one), and the counters are the medians of the library's
// and the tool's wall times and of their ratios, iteration by iteration.
void BM_ToolOverLibrary(benchmark::State& state) {
  Files& f = TheFiles();
  ToolBinary binary({"--map", f.map, "--data", f.data, "--out", f.out});
  using Clock = std::chrono::steady_clock;
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  std::vector<double> library, tool, ratio;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    {
      std::unique_ptr<Data> coords = f.net->WinnerCoordinates(f.rows.get());
      benchmark::DoNotOptimize(coords.get());
    }
    const Clock::time_point libraryDone = Clock::now();
    if (state.range(0) == 2) fs::remove(f.out);
    const Clock::time_point toolStart = Clock::now();
    if (!binary.Run()) state.SkipWithError("tool failed");
    const Clock::time_point toolDone = Clock::now();
    library.push_back(ms(libraryDone - start));
    tool.push_back(ms(toolDone - toolStart));
    ratio.push_back(tool.back() / library.back());
  }
  state.counters["library_ms"] = Median(library);
  state.counters["tool_ms"] = Median(tool);
  state.counters["ratio"] = Median(ratio);
}
BENCHMARK(BM_ToolOverLibrary)->Arg(0)->Arg(2)->Iterations(15)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
