// Speed of reading a large network file: a 100-input Kohonen map of 300 x 300
// neurons, 9,000,000 weights in the matrix form. The file is made once in the
// temporary folder (kept for later runs) and then loaded with LoadNetworkFile.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "FileHandler/NetworkFile.h"
#include "NeuralNets/TConnectedConnections.h"

namespace {

constexpr int kInputs = 100;
constexpr int kSide = 300;

void Append(std::string& line, int value, int width) {
  const std::string text = std::to_string(value);
  line.append(text.size() < static_cast<size_t>(width) ? width - text.size() : 0, ' ').append(text);
}

// Writes the file exactly as the network file writer lays out such a map.
void MakeFile(const std::string& path) {
  const int mapNeurons = kSide * kSide;
  std::ofstream out(path, std::ios::binary);
  out << "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n[NetworkType = Kohonen]\n\n"
         "[NetworkInformation]\n[NumberOfLayers = 3]\n[InputLayer = 1]\n[OutputLayer = 2]\n"
         "[NumberOfInputs = " << kInputs << "]\n[NumberOfOutputs = " << mapNeurons << "]\n"
         "[~NetworkInformation]\n\n[Dimensions = 2]\n[Dimension=0 Size=" << kSide << " ]\n"
         "[Dimension=1 Size=" << kSide << " ]\n[~Dimensions]\n\n"
         "[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = 0]\n[All ActivationFunction=error ]\n[~Layer]\n\n"
         "[Layer = 1]\n[LayerType = Input]\n[NumberOfNeurons = " << kInputs << "]\n"
         "[All ActivationFunction=linear ]\n[~Layer]\n\n"
         "[Layer = 2]\n[LayerType = Simple]\n[NumberOfNeurons = " << mapNeurons << "]\n"
         "[All ActivationFunction=linear ]\n[~Layer]\n\n"
         "[ConnectionLayer]\n[LayerFrom = 1]\n[LayerTo = 2]\n[ConnectionType = FullyConnected]\n"
         "[Attributes UnPrunable UnFreezable ]\n[Matrix Weights ]\n";
  std::string line = "/* To->";
  for (int s = 0; s < mapNeurons; ++s) Append(line, s, s == 0 ? 13 : 21);
  line += "  From */\n";
  out << line;

  std::mt19937 random(7);
  std::uniform_real_distribution<double> weight(-1.0, 1.0);
  char number[FileTools::GeneralNumberSize];
  for (int r = 0; r < kInputs; ++r) {
    line.clear();
    for (int s = 0; s < mapNeurons; ++s) {
      const std::string_view w = FileTools::FormatGeneral(weight(random), number);
      line.append(w.size() < 20 ? 20 - w.size() : 0, ' ').append(w).append(" ");
    }
    line.append("/* ").append(std::to_string(r)).append(" */\n");
    out << line;
  }
  out << "[~Matrix]\n[~ConnectionLayer]\n\n[~NeuralNetwork]\n";
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
