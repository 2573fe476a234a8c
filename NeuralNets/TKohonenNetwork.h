// The Kohonen self-organising map: an input layer fully connected to a map
// layer whose neurons form a grid; answers an input with the nearest map neuron.
#pragma once

#include <memory>

#include "NeuralNets/TBasicNetwork.h"

class TConnectedConnections;

// Layers: 0 (no neurons, "error"), 1 the input layer, 2 the map layer (both
// "linear"); one fully connected set from layer 1 to layer 2, whose weights
// from the inputs into map neuron i form neuron i's weight vector. Map neurons
// are numbered row-major in their grid coordinates (last coordinate fastest).
class TKohonenNetwork : public TConnectedNetwork {
 public:
  int numDimensions = 0;
  std::unique_ptr<int[]> dimensions;  // numDimensions sizes, or none

  // The complete map for numInputs inputs and a grid of numDimensions sizes
  // (the map layer has their product of neurons), all weights 0.0.
  TKohonenNetwork(int numInputs, int numDimensions, const int* dimensions);
  // Three empty layer entries and no dimensions, for the network file reader.
  TKohonenNetwork();
  TKohonenNetwork(const TKohonenNetwork& x);
  TKohonenNetwork& operator=(const TKohonenNetwork& x);
  ~TKohonenNetwork() override;

  // Randomises the one input-to-map set only (its storage order).
  void Randomize(double min, double max) override;
  // The winner search: outputs receives the winner's weight vector.
  void Propagate(const double* inputs, double* outputs) override;
  const char* GetNetworkType() override;

  // Returns the number of the map neuron nearest to inputs (squared Euclidean
  // distance, summed in input order; ties go to the lower number) and copies
  // its weight vector (one value per input) to outputs. Changes nothing.
  // Precondition: the map layer has neurons.
  int FindWinner(const double* inputs, double* outputs);

  void GetDimensions(int* parameters);
  // Stores a copy of the sizes; the map layer is not resized.
  void SetDimensions(int count, const int* parameters);
  // Neuron number of grid coordinates. Precondition: the map has dimensions.
  int CoordsToIndex(const int* coords);
  // Grid coordinates of a neuron number; the first coordinate is not reduced
  // modulo its size. Precondition: the map has dimensions.
  void IndexToCoords(int* coords, int index);
};

// Row-major neuron number of coords in a grid of count sizes (sizes[0] unused).
int CoordsToIndex(int count, const int* sizes, const int* coords);
