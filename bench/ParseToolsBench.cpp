// Speed of the tagged text layer on a weight matrix: every cell is one
// ReadTag and one ReadNumberToken when read, one FormatGeneral when written.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "FileHandler/ParseTools.h"

namespace {

// Rows of `columns` right-aligned weights with a row comment, as a network file holds them.
std::string MatrixText(int rows, int columns) {
  std::mt19937 random(1);
  std::uniform_real_distribution<double> weight(-1.0, 1.0);
  std::string text = "[Matrix Weights ]\n/* To->  0  1  From */\n";
  char number[FileTools::GeneralNumberSize];
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const std::string_view w = FileTools::FormatGeneral(weight(random), number);
      text.append(w.size() < 20 ? 20 - w.size() : 0, ' ').append(w).append(" ");
    }
    text.append(" /* ").append(std::to_string(r)).append(" */\n");
  }
  return text + "[~Matrix]\n";
}

void ReadCells(benchmark::State& state, std::istream& in, int cells) {
  FileTools tools;
  FileTools::Tag tag;
  tools.ReadTag({}, in, false, tag);  // [Matrix
  tools.ReadTag({}, in, true, tag);   // Weights ]
  double sum = 0.0;
  for (int i = 0; i < cells; ++i) {
    tools.ReadTag("Matrix", in, false, tag);
    sum += FileTools::ReadNumberToken(tag, in);
  }
  tools.ReadTag("Matrix", in, false, tag);
  if (tag.kind != FileTools::TagEnd) state.SkipWithError("matrix did not end");
  benchmark::DoNotOptimize(sum);
}

void BM_ReadMatrixFromString(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const std::string text = MatrixText(side, side);
  for (auto _ : state) {
    std::istringstream in(text);
    ReadCells(state, in, side * side);
  }
  state.SetItemsProcessed(state.iterations() * side * side);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadMatrixFromString)->Arg(300)->Arg(3000)->Unit(benchmark::kMillisecond);

void BM_ReadMatrixFromFile(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const std::string path = "ParseToolsBench.tmp";
  {
    std::ofstream out(path, std::ios::binary);
    out << MatrixText(side, side);
  }
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    ReadCells(state, in, side * side);
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_ReadMatrixFromFile)->Arg(3000)->Unit(benchmark::kMillisecond);

void BM_FormatGeneral(benchmark::State& state) {
  std::mt19937 random(2);
  std::uniform_real_distribution<double> weight(-1.0, 1.0);
  std::vector<double> values(4096);
  for (double& v : values) v = weight(random);
  char number[FileTools::GeneralNumberSize];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FileTools::FormatGeneral(values[i++ & 4095], number).size());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatGeneral);

void BM_WriteNumberItem(benchmark::State& state) {
  FileTools tools;
  std::ostringstream out;
  double w = 0.123456789012345;
  for (auto _ : state) {
    tools.WriteNumber(out, "Weight", w, 15, false);
    w += 1e-9;
    if (out.tellp() > (1 << 20)) out.str("");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteNumberItem);

}  // namespace
