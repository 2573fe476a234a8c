#include "NeuralNets/TKohonenNetwork.h"

#include <vector>

#include "KQmessage/Assert.h"
#include "NeuralNets/GridDimensions.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/WinnerDistances.h"


TKohonenNetwork::TKohonenNetwork(int numInputs, int numDimensions, const int* dimensions)
    : TConnectedNetwork(3) {
  int mapSize = 1;
  for (int i = 0; i < numDimensions; ++i) mapSize *= dimensions[i];
  layers[0] = std::make_unique<TSimpleLayer>(this, 0, 0);
  layers[1] = std::make_unique<TSimpleInputLayer>(this, 1, numInputs);
  layers[2] = std::make_unique<TSimpleLayer>(this, 2, mapSize);
  layers[0]->SetActFunction(ActError);
  layers[1]->SetActFunction(ActLinear);
  layers[2]->SetActFunction(ActLinear);
  Connect(1, 2);
  inLayer = 1;
  outLayer = 2;
  SetDimensions(numDimensions, dimensions);
}

TKohonenNetwork::TKohonenNetwork() : TConnectedNetwork(3) {}

TKohonenNetwork::TKohonenNetwork(const TKohonenNetwork& x) : TConnectedNetwork(x) {
  SetDimensions(x.numDimensions, x.dimensions.get());
}

TKohonenNetwork& TKohonenNetwork::operator=(const TKohonenNetwork& x) {
  if (&x == this) return *this;
  TConnectedNetwork::operator=(x);
  SetDimensions(x.numDimensions, x.dimensions.get());
  return *this;
}

TKohonenNetwork::~TKohonenNetwork() { dimensions.reset(); }

void TKohonenNetwork::Randomize(double min, double max) {
  priv_conns_index[2][1]->Randomize(min, max);
}

void TKohonenNetwork::Propagate(const double* inputs, double* outputs) {
  FindWinner(inputs, outputs);
}

const char* TKohonenNetwork::GetNetworkType() { return "Kohonen"; }

int TKohonenNetwork::NumInputs() const {
  return layers.size() > 1 && layers[1] ? layers[1]->numNeurons : 0;
}

int TKohonenNetwork::NumMapNeurons() const {
  return layers.size() > 2 && layers[2] ? layers[2]->numNeurons : 0;
}

std::vector<int> TKohonenNetwork::GridSizes() const {
  return std::vector<int>(dimensions.get(), dimensions.get() + numDimensions);
}

namespace {

// Keeps the nearest neuron so far. The first neuron offered holds until a later
// one is strictly nearer (a distance replaces the best unless it is >= the
// best), so ties keep the lower number and an input whose distances all
// overflow still gets neuron 0; there is no fixed upper bound on distances.
struct TWinner {
  int bestsofar = -1;
  double best = 0.0;
  void Offer(int i, double distance) {
    if (bestsofar < 0 || !(distance >= best)) {
      best = distance;
      bestsofar = i;
    }
  }
};

}  // namespace

int TKohonenNetwork::FindWinner(const double* inputs, double* outputs) {
  TBasicConnections* conns = priv_conns_index[2][1].get();
  const int numInputs = layers[1]->numNeurons;
  const int numMap = layers[2]->numNeurons;
  TWinner winner;
  auto* fc = dynamic_cast<TConnectedConnections*>(conns);
  if (fc != nullptr && fc->NumFrom() == numInputs && fc->NumTo() == numMap) {
    // Direct reads of the contiguous rows, eight neurons at a time.
    std::vector<double> xx(2 * static_cast<std::size_t>(numInputs));
    for (int j = 0; j < numInputs; ++j) xx[2 * j] = xx[2 * j + 1] = inputs[j];
    const double* const* rows = fc->index_weights.data();
    double d[8];
    const bool wide = winnerdistances::HasWideRegisters();
    for (int i = 0; i < numMap; i += 8) {
      const int count = numMap - i < 8 ? numMap - i : 8;
      if (wide && count == 8)
        winnerdistances::Wide8(rows + i, inputs, numInputs, d);
      else
        winnerdistances::Narrow(rows + i, count, inputs, xx.data(), numInputs, d);
      for (int k = 0; k < count; ++k) winner.Offer(i + k, d[k]);
    }
  } else {
    for (int i = 0; i < numMap; ++i) {
      double distance = 0.0;
      for (int j = 0; j < numInputs; ++j) {
        const double e = inputs[j] - conns->Weight(j, i);
        distance += e * e;
      }
      winner.Offer(i, distance);
    }
  }
  const int bestsofar = winner.bestsofar;
  MAPSMITH_ASSERT(bestsofar >= 0);
  for (int j = 0; j < numInputs; ++j) outputs[j] = conns->Weight(j, bestsofar);
  return bestsofar;
}

void TKohonenNetwork::GetDimensions(int* parameters) {
  GetGridDimensions(numDimensions, dimensions.get(), parameters);
}

void TKohonenNetwork::SetDimensions(int count, const int* parameters) {
  SetGridDimensions(numDimensions, dimensions, count, parameters);
}

int TKohonenNetwork::CoordsToIndex(const int* coords) {
  const int dims = numDimensions;
  MAPSMITH_ASSERT(dims != 0);
  return ::CoordsToIndex(dims, dimensions.get(), coords);
}

void TKohonenNetwork::IndexToCoords(int* coords, int index) {
  const int dims = numDimensions;
  MAPSMITH_ASSERT(dims != 0);
  for (int k = dims - 1; k >= 1; --k) {
    coords[k] = index % dimensions[k];
    index /= dimensions[k];
  }
  coords[0] = index;
}

int CoordsToIndex(int count, const int* sizes, const int* coords) {
  int index = coords[0];
  for (int k = 1; k < count; ++k) index = index * sizes[k] + coords[k];
  return index;
}
