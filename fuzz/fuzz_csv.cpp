// Arbitrary bytes read as CSV, from memory. The first byte chooses the
// reading options (separator, header rule, label column); the rest is the
// text. Malformed text may only be refused with FileTools::Error. Whatever
// reads must write (never refused) and read back as the same table: shape,
// column names and labels equal, and the text written from the second
// reading equal to the first written text (numbers settle on their 15-digit
// form at the first write). The row-by-row conversion to a data set file
// must give the file the data set writer writes for the table read whole, or
// refuse the text with the same message, or leave it to the whole reading.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/CsvFile.h"

using namespace mapsmith;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Write(const DataTable& table, const CsvOptions& options) {
  std::ostringstream out;
  WriteCsv(out, table, options);
  return out.str();
}

void CheckSameTable(const DataTable& a, const DataTable& b) {
  Check(a.data->MbrNdxRows == b.data->MbrNdxRows && a.data->MbrNdxInputs == b.data->MbrNdxInputs &&
        a.data->MbrNdxOutputs == b.data->MbrNdxOutputs && a.data->MbrHasLabels == b.data->MbrHasLabels);
  Check(a.columnNames == b.columnNames);
  for (std::size_t r = 0; r < a.data->MbrDyaLabels.size(); ++r) {
    const auto& x = a.data->MbrDyaLabels[r].labels;
    const auto& y = b.data->MbrDyaLabels[r].labels;
    Check(x.size() == y.size());
    for (std::size_t i = 0; i < x.size(); ++i) Check(x[i].name == y[i].name && x[i].value == y[i].value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  CsvOptions options;
  const char separators[] = {0, ',', ';', '\t'};
  options.separator = separators[choice & 3];
  options.header = static_cast<int>((choice >> 2) % 3) - 1;
  const char* labelColumns[] = {"", "1", "4", "species"};
  options.labelColumn = labelColumns[(choice >> 4) & 3];
  if (options.labelColumn == "species" && options.header == 0) options.labelColumn.clear();

  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  DataTable first;
  std::string refusal;
  try {
    std::istringstream in(input);
    first = ReadCsv(in, options);
  } catch (const FileTools::Error& e) {
    refusal = e.message;
  }

  std::istringstream counted(input);
  const std::int64_t records = CountCsvRecords(counted);
  std::ostringstream streamed;
  bool written = false;
  std::string streamRefusal;
  try {
    std::istringstream in(input);
    written = StreamCsvToDataSet(in, options, records, streamed);
  } catch (const FileTools::Error& e) {
    streamRefusal = e.message;
  }
  if (!refusal.empty()) {
    Check(!written && (streamRefusal.empty() || streamRefusal == refusal));
    return 0;
  }
  Check(streamRefusal.empty());
  Check(written == (options.labelColumn.empty() && first.data->MbrNdxRows > 0));
  if (written) {
    std::ostringstream whole;
    FileTools tools;
    Check(WriteDataSetFile(tools, whole, first.data.get(), nullptr) == SUCCESS);
    Check(streamed.str() == whole.str());
  }

  CsvOptions writing;
  writing.separator = separators[1 + (choice >> 6) % 3];
  const std::string text = Write(first, writing);

  CsvOptions again;
  again.separator = writing.separator;
  again.header = first.columnNames.empty() ? 0 : 1;  // written when the names are known
  if (first.data->MbrHasLabels) again.labelColumn = std::to_string(first.data->MbrNdxInputs + 1);
  DataTable second;
  try {
    std::istringstream in(text);
    second = ReadCsv(in, again);
  } catch (const FileTools::Error&) {
    // Only a table of no rows and no names writes nothing to read.
    Check(text.empty());
    return 0;
  }
  CheckSameTable(first, second);
  Check(Write(second, writing) == text);
  return 0;
}
