// Labels a Kohonen map from a labelled data set and writes, for every row of
// the data set, the grid coordinates of the map neuron that wins it.
//
//   label_map MAP.net LABELLED.dat WINNERS.dat
//
// Prints the labelled map (each neuron's coordinates and labels) on standard
// output. Exit status 0 on success, 1 on any failure.
#include <iostream>
#include <memory>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TKohonenNetwork.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: label_map MAP.net LABELLED.dat WINNERS.dat\n";
    return 1;
  }
  const char* file = argv[1];  // the file being read, for messages
  try {
    FileTools tools;
    // "Not a Kohonen network" (a FileTools::Error) for a network of another type.
    std::unique_ptr<TKohonenNetwork> map = LoadKohonenNetwork(tools, argv[1]);

    file = argv[2];
    std::unique_ptr<Data> examples, results;
    if (ReadDataSetFile(tools, argv[2], examples, results, nullptr) != SUCCESS) {
      std::cerr << argv[2] << ": cannot be opened\n";
      return 1;
    }
    if (!examples || !examples->MbrHasLabels) {
      std::cerr << argv[2] << ": holds no labelled example set\n";
      return 1;
    }

    // Which labels each neuron attracts: one row per neuron, its grid
    // coordinates as inputs and the labels of the rows it wins.
    std::unique_ptr<Data> labelled = map->LabelMap(examples.get());
    labelled->Rewind();
    for (int row = 0; row < labelled->MbrNdxRows; ++row) {
      std::cout << '(';
      for (int d = 0; d < labelled->MbrNdxInputs; ++d) {
        double coordinate = 0.0;
        labelled->GetInputDatum(row, d, coordinate);
        std::cout << (d ? " " : "") << coordinate;
      }
      std::cout << ')';
      for (const TLabel& label : labelled->GetLabels(row)->labels)
        std::cout << ' ' << label.name << '=' << label.value;
      std::cout << '\n';
    }

    // The winner of every row, as a data set of inputs and grid coordinates.
    std::unique_ptr<Data> winners = map->WinnerCoordinates(examples.get());
    if (WriteDataSetFile(tools, argv[3], winners.get(), nullptr) != SUCCESS) {
      std::cerr << "cannot write " << argv[3] << '\n';
      return 1;
    }
    return 0;
  } catch (const FileTools::Error& e) {
    std::cerr << file << ": " << e.message << '\n';
  } catch (const TException& e) {
    std::cerr << e.message << '\n' << e.kind << '\n' << e.origin << '\n';
  }
  return 1;
}
