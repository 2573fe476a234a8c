// Arbitrary bytes read as a SOM_PAK data file or codebook, from memory (the
// first byte chooses which). Malformed text may only be refused with
// FileTools::Error. Whatever reads must write (never refused) and read back
// the same: for data, shape, column names and each row's label names equal;
// for a codebook, the same grid; in both, the text written from the second
// reading equal to the first written text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/SomPakFile.h"

using namespace mapsmith;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void FuzzData(const std::string& input) {
  DataTable first;
  try {
    std::istringstream in(input);
    first = ReadSomPakData(in);
  } catch (const FileTools::Error&) {
    return;
  }
  std::ostringstream text;
  WriteSomPakData(text, first);
  std::istringstream in(text.str());
  DataTable second = ReadSomPakData(in);
  Check(first.data->MbrNdxRows == second.data->MbrNdxRows && first.data->MbrNdxInputs == second.data->MbrNdxInputs &&
        first.data->MbrHasLabels == second.data->MbrHasLabels && first.columnNames == second.columnNames);
  // The writer puts a row's heaviest label first and drops the weights, so
  // the names come back in another order: compare them sorted.
  for (std::size_t r = 0; r < first.data->MbrDyaLabels.size(); ++r) {
    std::vector<std::string> x, y;
    for (const TLabel& label : first.data->MbrDyaLabels[r].labels) x.push_back(label.name);
    for (const TLabel& label : second.data->MbrDyaLabels[r].labels) y.push_back(label.name);
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    Check(x == y);
  }
  std::ostringstream again;
  WriteSomPakData(again, second);
  Check(again.str() == text.str());
}

void FuzzCodebook(const std::string& input) {
  std::unique_ptr<TKohonenNetwork> first;
  try {
    std::istringstream in(input);
    first = ReadCodebook(in);
  } catch (const FileTools::Error&) {
    return;
  }
  std::ostringstream text;
  WriteCodebook(text, *first);
  std::istringstream in(text.str());
  std::unique_ptr<TKohonenNetwork> second = ReadCodebook(in);
  Check(first->numDimensions == second->numDimensions);
  for (int d = 0; d < first->numDimensions; ++d) Check(first->dimensions[d] == second->dimensions[d]);
  std::ostringstream again;
  WriteCodebook(again, *second);
  Check(again.str() == text.str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1)
    FuzzCodebook(input);
  else
    FuzzData(input);
  return 0;
}
