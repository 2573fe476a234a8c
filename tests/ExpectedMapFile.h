// Builds the network file that a Kohonen map of the tool must produce, with
// the C library's own formatting and an independent run of the generator, so
// tests can compare the writer's output byte for byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace expected {

// One matrix cell: the weight right-aligned in 20 characters, then a blank.
inline std::string Cell(double weight) {
  char text[64];
  std::snprintf(text, sizeof text, "%20.15g ", weight);
  return text;
}

// The weights that Randomize(min, max) gives after seeding with `seed`,
// indexed [to * inputs + from] (the order of the draws).
inline std::vector<double> Draws(std::uint32_t seed, int inputs, int neurons, double min, double max) {
  std::vector<double> weights;
  std::uint32_t state = seed;
  const long double range = static_cast<long double>(max) - static_cast<long double>(min);
  for (int i = 0; i < inputs * neurons; ++i) {
    if (min == max) {
      weights.push_back(min);
      continue;
    }
    state = state * 22695477u + 1u;
    const int r = static_cast<int>((state >> 16) & 0x7FFF) % 32767;
    weights.push_back(static_cast<double>(min + (r * (1.0L / 32767.0L)) * range));
  }
  return weights;
}

// The whole file of a map with `inputs` inputs, grid `sizes` and `weights`
// as Draws returns them.
inline std::string MapFile(int inputs, const std::vector<int>& sizes, const std::vector<double>& weights) {
  int neurons = 1;
  for (int s : sizes) neurons *= s;
  const std::string n = std::to_string(neurons);
  std::string f = "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n[NetworkType = Kohonen]\n\n";
  f += "[NetworkInformation]\n[NumberOfLayers = 3]\n[InputLayer = 1]\n[OutputLayer = 2]\n";
  f += "[NumberOfInputs = " + std::to_string(inputs) + "]\n[NumberOfOutputs = " + n + "]\n";
  f += "[~NetworkInformation]\n\n[Dimensions = " + std::to_string(sizes.size()) + "]\n";
  for (size_t j = 0; j < sizes.size(); ++j)
    f += "[Dimension=" + std::to_string(j) + " Size=" + std::to_string(sizes[j]) + " ]\n";
  f += "[~Dimensions]\n\n";
  f += "[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = 0]\n[All ActivationFunction=error ]\n[~Layer]\n\n";
  f += "[Layer = 1]\n[LayerType = Input]\n[NumberOfNeurons = " + std::to_string(inputs) +
       "]\n[All ActivationFunction=linear ]\n[~Layer]\n\n";
  f += "[Layer = 2]\n[LayerType = Simple]\n[NumberOfNeurons = " + n +
       "]\n[All ActivationFunction=linear ]\n[~Layer]\n\n";
  f += "[ConnectionLayer]\n[LayerFrom = 1]\n[LayerTo = 2]\n[ConnectionType = FullyConnected]\n";
  f += "[Attributes UnPrunable UnFreezable ]\n[Matrix Weights ]\n/* To->";
  char text[64];
  for (int s = 0; s < neurons; ++s) {
    std::snprintf(text, sizeof text, s == 0 ? "%13d" : "%21d", s);
    f += text;
  }
  f += "  From */\n";
  for (int r = 0; r < inputs; ++r) {
    for (int s = 0; s < neurons; ++s) f += Cell(weights[static_cast<size_t>(s) * inputs + r]);
    f += " /* " + std::to_string(r) + " */\n";
  }
  f += "[~Matrix]\n[~ConnectionLayer]\n\n[~NeuralNetwork]\n";
  return f;
}

}  // namespace expected
