// A first program on the Mapsmith library: reads a Kohonen map and a data set,
// prints the grid coordinates of each row's winning neuron and the map's
// error over the rows.
//
//   first_program MAP.net DATA.dat
//
// Exit status 0 on success, 1 on any failure (with a message on standard error).
#include <iostream>
#include <memory>

#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TKohonenNetwork.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: first_program MAP.net DATA.dat\n";
    return 1;
  }
  const char* file = argv[1];  // the file being read, for messages
  try {
    FileTools tools;
    // Throws FileTools::Error for a file that cannot be read, is malformed, or
    // holds another kind of network ("Not a Kohonen network").
    std::unique_ptr<TKohonenNetwork> map = LoadKohonenNetwork(tools, argv[1]);

    // A data set file that cannot be opened is a return code, not an error:
    // check it, and check that the file held an example set at all.
    file = argv[2];
    std::unique_ptr<Data> rows, results;
    if (ReadDataSetFile(tools, argv[2], rows, results) != SUCCESS) {
      std::cerr << argv[2] << ": cannot be opened\n";
      return 1;
    }
    if (!rows || rows->GetNumInputs() < map->NumInputs()) {
      std::cerr << argv[2] << ": needs " << map->NumInputs() << " input columns\n";
      return 1;
    }

    // One output row per data row: its inputs, then its winner's coordinates.
    std::unique_ptr<Data> winners = map->WinnerCoordinates(rows.get());
    const int dimensions = static_cast<int>(map->GridSizes().size());
    for (int row = 0; row < winners->GetNumRows(); ++row) {
      std::cout << "row " << row << " wins neuron (";
      for (int d = 0; d < dimensions; ++d) {
        double coordinate = 0.0;
        winners->GetOutputDatum(row, d, coordinate);
        std::cout << (d ? " " : "") << coordinate;
      }
      std::cout << ")\n";
    }

    // The measure takes one value per input; it adds to what it holds.
    TErrorRMSObj error(map->NumInputs());
    std::cout << "rms error " << map->MeasureError(rows.get(), &error) << '\n';
    return 0;
  } catch (const FileTools::Error& e) {  // FileHandler/ParseTools.h
    std::cerr << file << ": " << e.message << '\n';
  } catch (const TException& e) {  // KQmessage/TException.h
    std::cerr << e.message << " (" << e.origin << ")\n";
  }
  return 1;
}
