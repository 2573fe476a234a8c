// Speed of MapsmithConvert on CSV: 1,000,000 rows of 16 columns (random
// values written with 15 significant digits, a header row) converted to a
// data set file, the whole tool run in-process; and its parts: reading the
// CSV, writing the data set file to a stream that keeps nothing, and writing
// CSV the same way. The peak resident memory of the process is reported.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/CsvFile.h"
#include "Kohonen/Convert/MapsmithConvert.h"
#include "bench/BenchData.h"

using namespace mapsmith;

namespace {

constexpr int kRows = 1000000;
constexpr int kColumns = 16;

std::string TempName(const char* ext) {
  return (std::filesystem::temp_directory_path() / ("convert-bench-" + std::to_string(::getpid()) + ext)).string();
}

// The CSV file, made once per process with a small generator of its own.
const std::string& CsvFileName() {
  static const std::string name = [] {
    const std::string path = TempName(".csv");
    std::ofstream out(path, std::ios::binary);
    std::string line;
    for (int c = 0; c < kColumns; ++c) line += (c > 0 ? ",c" : "c") + std::to_string(c + 1);
    out << line << '\n';
    std::uint64_t state = 88172645463325252ull;
    char number[FileTools::GeneralNumberSize];
    for (int r = 0; r < kRows; ++r) {
      line.clear();
      for (int c = 0; c < kColumns; ++c) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const double value = (static_cast<double>(state >> 11) / 9007199254740992.0) * 2000.0 - 1000.0;
        if (c > 0) line += ',';
        line.append(FileTools::FormatGeneral(value, number));
      }
      line += '\n';
      out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
    return path;
  }();
  return name;
}

using benchdata::CountingBuffer;

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_ConvertCsvToDataSetFile(benchmark::State& state) {
  const std::string in = CsvFileName();
  const std::string out = TempName(".dat");
  for (auto _ : state) {
    const char* args[] = {"MapsmithConvert", in.c_str(), out.c_str()};
    std::ostringstream sout, serr;
    if (RunMapsmithConvert(3, args, sout, serr) != 0) state.SkipWithError(serr.str().c_str());
  }
  state.counters["csv_MB"] = static_cast<double>(std::filesystem::file_size(in)) / (1 << 20);
  state.counters["peak_rss_MB"] = PeakMegabytes();
  std::filesystem::remove(out);
}
BENCHMARK(BM_ConvertCsvToDataSetFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ReadCsv(benchmark::State& state) {
  const std::string in = CsvFileName();
  for (auto _ : state) {
    std::ifstream file(in, std::ios::binary);
    DataTable table = ReadCsv(file, {});
    benchmark::DoNotOptimize(table.data.get());
  }
}
BENCHMARK(BM_ReadCsv)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_WriteDataSetFileToNothing(benchmark::State& state) {
  std::ifstream file(CsvFileName(), std::ios::binary);
  const DataTable table = ReadCsv(file, {});
  for (auto _ : state) {
    CountingBuffer buf;
    std::ostream out(&buf);
    FileTools tools;
    WriteDataSetFile(tools, out, table.data.get(), nullptr);
    benchmark::DoNotOptimize(buf.bytes);
  }
}
BENCHMARK(BM_WriteDataSetFileToNothing)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_WriteCsvToNothing(benchmark::State& state) {
  std::ifstream file(CsvFileName(), std::ios::binary);
  const DataTable table = ReadCsv(file, {});
  for (auto _ : state) {
    CountingBuffer buf;
    std::ostream out(&buf);
    WriteCsv(out, table, {});
    benchmark::DoNotOptimize(buf.bytes);
  }
}
BENCHMARK(BM_WriteCsvToNothing)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Removes the CSV file when the program ends.
struct Cleanup {
  ~Cleanup() { std::filesystem::remove(TempName(".csv")); }
} cleanup;

}  // namespace
