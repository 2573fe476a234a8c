#include "NeuralNets/MapPictures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPreparedMap.h"
#include "NeuralNets/WinnerWalk.h"

namespace {

[[noreturn]] void Refuse(const std::string& message) {
  throw TException(message.c_str(), "Bad Parameter", "CheckMapGrid", nullptr);
}

}  // namespace

int CheckMapGrid(TKohonenNetwork& map) {
  if (map.numLayers < 3 || map.layers[1] == nullptr || map.layers[2] == nullptr)
    Refuse("Map has no input or map layer");
  const int neurons = map.NumMapNeurons();
  if (map.numDimensions < 1) Refuse("Map has no dimensions");
  long long product = 1;
  for (int d = 0; d < map.numDimensions; ++d) {
    const int size = map.dimensions[d];
    if (size < 1) Refuse("Map dimension " + std::to_string(d) + " has size " + std::to_string(size));
    product *= size;
    if (product > neurons) break;  // cannot match any more; also keeps the product small
  }
  if (product != neurons)
    Refuse("Map dimensions do not multiply to its " + std::to_string(neurons) + " neurons");
  if (std::string(map.GetConnections(1, 2)->GetConnectionsNType()) == "Empty")
    Refuse("Map has no weights from its inputs");
  return neurons;
}

std::vector<double> MapWeightVectors(TKohonenNetwork& map) {
  const std::size_t neurons = static_cast<std::size_t>(CheckMapGrid(map));
  const std::size_t n = static_cast<std::size_t>(map.NumInputs());
  std::vector<double> weights(neurons * n);
  TBasicConnections* set = map.GetConnections(1, 2);
  // The fully connected set already stores each neuron's weights side by side.
  if (auto* full = dynamic_cast<TConnectedConnections*>(set);
      full != nullptr && static_cast<std::size_t>(full->NumFrom()) == n &&
      static_cast<std::size_t>(full->NumTo()) == neurons) {
    std::copy(full->array_weights.begin(), full->array_weights.end(), weights.begin());
    return weights;
  }
  for (std::size_t i = 0; i < neurons; ++i)
    for (std::size_t j = 0; j < n; ++j)
      weights[i * n + j] = set->Weight(static_cast<int>(j), static_cast<int>(i));
  return weights;
}

std::vector<double> UMatrix(TKohonenNetwork& map, bool torus) {
  const std::vector<double> weights = MapWeightVectors(map);
  const std::size_t neurons = static_cast<std::size_t>(map.NumMapNeurons());
  const std::size_t n = static_cast<std::size_t>(map.NumInputs());
  std::vector<double> sums(neurons, 0.0);
  std::vector<int> counts(neurons, 0);
  auto link = [&](std::size_t a, std::size_t b) {
    const double* wa = weights.data() + a * n;
    const double* wb = weights.data() + b * n;
    double squares = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
      const double e = wa[j] - wb[j];
      squares += e * e;
    }
    const double distance = std::sqrt(squares);
    sums[a] += distance;
    sums[b] += distance;
    ++counts[a];
    ++counts[b];
  };
  // Each neighbour pair once: along every dimension each neuron is linked to
  // the next position, and on a torus the last position to the first (unless
  // that is the same pair again, in a dimension of size 2, or no pair at all).
  // The stride of dimension d is the product of the sizes after it.
  std::size_t stride = neurons;
  for (int d = 0; d < map.numDimensions; ++d) {
    const std::size_t size = static_cast<std::size_t>(map.dimensions[d]);
    stride /= size;
    for (std::size_t i = 0; i < neurons; ++i) {
      const std::size_t position = (i / stride) % size;
      if (position + 1 < size)
        link(i, i + stride);
      else if (torus && size > 2)
        link(i, i - position * stride);
    }
  }
  for (std::size_t i = 0; i < neurons; ++i)
    if (counts[i] > 0) sums[i] /= counts[i];
  return sums;
}

std::vector<std::int32_t> CountHits(TKohonenNetwork& map, Data& data) {
  const std::size_t neurons = static_cast<std::size_t>(CheckMapGrid(map));
  std::vector<std::int32_t> hits(neurons, 0);
  const TPreparedMap prepared(map);
  WalkWinners(prepared, data, false, 0,
              [&](const double*, const TLabelList*, int winner) { ++hits[static_cast<std::size_t>(winner)]; });
  return hits;
}
