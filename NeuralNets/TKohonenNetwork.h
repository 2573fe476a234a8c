// The Kohonen self-organising map: an input layer fully connected to a map
// layer whose neurons form a grid; answers an input with the nearest map neuron.
#pragma once

#include <memory>
#include <vector>

#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TBasicNetwork.h"

class TConnectedConnections;
class Data;
class TErrorObj;

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

  // The map's shape: inputs per weight vector (input layer), map neurons
  // (map layer; the product of the grid sizes in a consistent map) and the
  // grid sizes, first dimension first. A layer that is not there counts 0.
  int NumInputs() const;
  int NumMapNeurons() const;
  std::vector<int> GridSizes() const;

  void GetDimensions(int* parameters);
  // Stores a copy of the sizes; the map layer is not resized.
  void SetDimensions(int count, const int* parameters);
  // Neuron number of grid coordinates. Precondition: the map has dimensions.
  int CoordsToIndex(const int* coords);
  // Grid coordinates of a neuron number; the first coordinate is not reduced
  // modulo its size. Precondition: the map has dimensions.
  void IndexToCoords(int* coords, int index);

  // ------------------------------------------------------------------------
  // Runs over data sets (KohonenRuns.cpp). Each run walks `in` as every walk
  // does: Rewind, then GetNextRow exactly MbrNdxRows times (so a set holding
  // fewer rows than its capacity counts rows more than once). `in` supplies at
  // least as many input columns as the map has inputs; columns beyond those
  // are ignored (missing ones would read as 0.0). New data sets are owned by
  // the caller. The weights are prepared once per run; winners are those of
  // FindWinner. A TException from a data set passes through, and the run's
  // buffers are released.

  // in's MbrNdxRows rows, n inputs, n outputs, no labels: each input row with
  // the winner's weight vector. Precondition: in is given ("in != nil").
  std::unique_ptr<Data> ReconstructData(Data* in);
  // Accumulates each input row (target) and its winner's weight vector
  // (output) into err, which is not reset first, and returns err->GetError().
  // Preconditions: "in != nil", "err != nil".
  double MeasureError(Data* in, TErrorObj* err);
  // The labelled map: one row per map neuron in neuron order, holding the
  // neuron's grid coordinates as inputs and, as labels, the first label of
  // every row the neuron wins (weights of equal names added up). Rows without
  // labels still take part in the walk and add nothing. The message, if any,
  // is released on entry.
  std::unique_ptr<Data> LabelMap(Data* in, std::unique_ptr<TKQstructure> message = nullptr);
  // in's MbrNdxRows rows, n inputs, numDimensions outputs, no labels: each
  // input row with its winner's grid coordinates. The message, if any, is
  // released on entry.
  std::unique_ptr<Data> WinnerCoordinates(Data* in, std::unique_ptr<TKQstructure> message = nullptr);
};

// Row-major neuron number of coords in a grid of count sizes (sizes[0] unused).
int CoordsToIndex(int count, const int* sizes, const int* coords);

// ----------------------------------------------------------------------------
// Runs over labelled maps (KohonenRuns.cpp).

// A new data set of rows' MbrNdxRows rows with labels only: row by row the
// label list of the map neuron at the row's output coordinates (truncated
// toward zero). Map is a labelled map (as LabelMap makes) whose input count
// equals rows' output count. Coordinates that name no row of Map are refused
// by Map with "Invalid Data Row" from "Data::GetLabels". Rewinds rows and Map.
std::unique_ptr<Data> LabelRows(Data* rows, Data* Map);

// The grid sizes of a labelled map, read back from its coordinates, into
// sizes (one entry per input column of Map). Dimensions of size 1 are found
// as well: a coordinate column that stays 0.0 over the whole map belongs to a
// dimension of size 1.
void GetMapSizes(const Data* Map, int* sizes);
