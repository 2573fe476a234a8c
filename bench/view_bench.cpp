// Speed of MapsmithView on a 100 x 100 map of 64 inputs (64 component planes,
// the U-matrix with the hits of 10,000 rows): building the page and writing
// the SVG to memory, the U-matrix alone, and the whole tool from files
// (reading the map and the rows, measuring, writing the page atomically).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/View/MapPage.h"
#include "Kohonen/View/MapsmithView.h"
#include "Kohonen/View/SvgPage.h"
#include "NeuralNets/MapPictures.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "bench/BenchData.h"

namespace {

constexpr int kInputs = 64;
constexpr int kRows = 10000;

using benchdata::CountingBuffer;

struct ViewFixture {
  const int dims[2] = {100, 100};
  TKohonenNetwork map{kInputs, 2, dims};
  Data rows{kRows, kInputs, 0, false};
  benchdata::ScratchDir scratch{"view-bench"};
  const std::filesystem::path& dir = scratch.path;
  ViewFixture() {
    SeedRandom(11);
    map.Randomize(0, 1);
    std::uint32_t state = 5;
    std::vector<double> x(kInputs);
    for (int r = 0; r < kRows; ++r) {
      for (double& v : x) v = RandomStep(state) / 32767.0;
      rows.AddRow(x.data(), nullptr, nullptr);
    }
    FileTools tools;
    SaveNetworkFile(tools, (dir / "map.net").c_str(), &map);
    WriteDataSetFile(tools, (dir / "rows.dat").string(), &rows, nullptr);
  }
};

ViewFixture& Fixture() {
  static ViewFixture f;
  return f;
}

mapsmith::ViewRequest Request(bool hits) {
  mapsmith::ViewRequest request;
  request.hits = hits;
  request.mapName = "map.net";
  request.dataName = "rows.dat";
  return request;
}

void BM_UMatrix(benchmark::State& state) {
  ViewFixture& f = Fixture();
  for (auto _ : state) benchmark::DoNotOptimize(UMatrix(f.map, false));
}
BENCHMARK(BM_UMatrix)->Unit(benchmark::kMillisecond);

// The page without data: U-matrix and 64 planes, 650,000 cells.
void BM_PageToMemory(benchmark::State& state) {
  ViewFixture& f = Fixture();
  std::size_t bytes = 0;
  for (auto _ : state) {
    CountingBuffer buf;
    std::ostream out(&buf);
    mapsmith::WriteSvgPage(mapsmith::BuildMapPage(f.map, Request(false), nullptr, nullptr), out);
    bytes = buf.bytes;
  }
  state.counters["page_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_PageToMemory)->Unit(benchmark::kMillisecond);

// With the hits and the quality figures of 10,000 rows.
void BM_PageWithHitsToMemory(benchmark::State& state) {
  ViewFixture& f = Fixture();
  for (auto _ : state) {
    CountingBuffer buf;
    std::ostream out(&buf);
    mapsmith::WriteSvgPage(mapsmith::BuildMapPage(f.map, Request(true), &f.rows, nullptr), out);
  }
}
BENCHMARK(BM_PageWithHitsToMemory)->Unit(benchmark::kMillisecond);

void RunTool(benchmark::State& state, bool withData) {
  ViewFixture& f = Fixture();
  const std::string map = (f.dir / "map.net").string();
  const std::string out = (f.dir / "page.svg").string();
  const std::string rows = (f.dir / "rows.dat").string();
  std::vector<const char*> argv = {"MapsmithView", "--map", map.c_str(), "--out", out.c_str()};
  if (withData) argv.insert(argv.end(), {"--data", rows.c_str()});
  for (auto _ : state) {
    std::ostringstream o, e;
    if (RunMapsmithView(static_cast<int>(argv.size()), argv.data(), o, e) != 0) state.SkipWithError(e.str().c_str());
  }
  state.counters["page_MB"] = static_cast<double>(std::filesystem::file_size(out)) / 1e6;
}

void BM_WholeToolFromFiles(benchmark::State& state) { RunTool(state, false); }
BENCHMARK(BM_WholeToolFromFiles)->Unit(benchmark::kMillisecond);

void BM_WholeToolWithDataFromFiles(benchmark::State& state) { RunTool(state, true); }
BENCHMARK(BM_WholeToolWithDataFromFiles)->Unit(benchmark::kMillisecond);

}  // namespace
