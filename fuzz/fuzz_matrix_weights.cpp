// Arbitrary bytes taken as the weights of a map with one input, written by the
// network file writer; every matrix cell must be the C library's "%20.15g "
// text of its weight, whatever the bit pattern (NaN included).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/NetworkFile.h"
#include "NeuralNets/TKohonenNetwork.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t count = size / sizeof(double);
  if (count == 0 || count > 4096) return 0;
  std::vector<double> weights(count);
  std::memcpy(weights.data(), data, count * sizeof(double));

  const int sizes[] = {static_cast<int>(count)};
  TKohonenNetwork map(1, 1, sizes);
  map.SetWeights(weights.data(), 1);
  FileTools tools;
  std::ostringstream out;
  WriteNetwork(tools, out, &map);
  const std::string text = out.str();

  const size_t header = text.find("  From */\n");
  if (header == std::string::npos) std::abort();
  std::string row;
  char cell[64];
  for (double w : weights) {
    std::snprintf(cell, sizeof cell, "%20.15g ", w);
    row += cell;
  }
  row += " /* 0 */\n[~Matrix]\n";
  if (text.compare(header + 10, row.size(), row) != 0) std::abort();
  return 0;
}
