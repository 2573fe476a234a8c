// Builds a Kohonen map and a small labelled data set in code, labels the map
// from the data set, measures its error and saves the map.
//
//   map_in_code OUT.net
//
// Exit status 0 on success, 1 when the map cannot be saved.
#include <iostream>
#include <memory>

#include "DataObject/Data.h"
#include "FileHandler/NetworkFile.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TKohonenNetwork.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: map_in_code OUT.net\n";
    return 1;
  }

  // A map of 2 inputs on a grid of 3 x 2 neurons, all weights 0.0, then
  // random weights in [-1, 1): the same seed always gives the same map.
  const int sizes[] = {3, 2};
  TKohonenNetwork map(2, 2, sizes);
  SeedRandom(7);
  map.Randomize(-1.0, 1.0);
  std::cout << map.NumInputs() << " inputs, " << map.NumMapNeurons() << " neurons, grid";
  for (int size : map.GridSizes()) std::cout << ' ' << size;
  std::cout << '\n';

  // Neuron numbers run row-major over the grid, the last coordinate fastest.
  int coords[2];
  map.IndexToCoords(coords, 3);
  std::cout << "neuron 3 is at (" << coords[0] << ' ' << coords[1] << ")\n";

  // A data set of 4 rows of 2 inputs, no outputs, each with a label list.
  // AddRow copies the values and the list; a set holds exactly the number of
  // rows it was made with (the oldest row gives way once it is full).
  Data rows(4, 2, 0, true);
  const double points[4][2] = {{-0.9, -0.8}, {0.9, 0.7}, {-0.7, 0.9}, {0.8, -0.9}};
  const char* names[4] = {"south-west", "north-east", "north-west", "south-east"};
  for (int r = 0; r < 4; ++r) {
    const TLabelList labels(names[r], 1.0);
    rows.AddRow(points[r], nullptr, &labels);
  }

  // One row per neuron: its coordinates and the labels of the rows it wins.
  std::unique_ptr<Data> labelled = map.LabelMap(&rows);
  for (int neuron = 0; neuron < labelled->GetNumRows(); ++neuron) {
    double row = 0.0, column = 0.0;
    labelled->GetInputDatum(neuron, 0, row);
    labelled->GetInputDatum(neuron, 1, column);
    std::cout << '(' << row << ' ' << column << ')';
    for (const TLabel& label : labelled->GetLabels(neuron)->labels) std::cout << ' ' << label.name;
    std::cout << '\n';
  }

  // The root mean square over every input component of every row. The measure
  // keeps adding up: Reset it before measuring again.
  TErrorRMSObj error(map.NumInputs());
  std::cout << "rms error " << map.MeasureError(&rows, &error) << '\n';
  error.Reset();

  try {
    FileTools tools;
    SaveNetworkFile(tools, argv[1], &map);
  } catch (const FileTools::Error& e) {
    std::cerr << argv[1] << ": " << e.message << '\n';
    return 1;
  }
  return 0;
}
