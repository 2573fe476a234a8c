#include "Kohonen/Common/MapInputs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <vector>

#include "Kohonen/Common/TextInput.h"

namespace mapsmith {

namespace {

// A copy of `data` (as a file reader makes it: every row added, in storage
// order) with only its first `columns` input columns and its labels.
std::unique_ptr<Data> FirstColumns(const Data& data, int columns) {
  auto copy = std::make_unique<Data>(data.MbrNdxRows, columns, 0, data.MbrHasLabels);
  for (std::int32_t r = 0; r < data.MbrNdxRows; ++r)
    copy->AddRow(data.MbrDyaRtpInputs[r], nullptr, data.MbrHasLabels ? &data.MbrDyaLabels[r] : nullptr);
  copy->Rewind();
  return copy;
}

}  // namespace

void AddMapDataOptions(std::vector<OptionEntry>& options, bool dataOutput) {
  options.push_back(
      {"inputs", 0, "N", "use the first N input columns (N: the map's inputs)", "all, as many as the map has"});
  if (dataOutput)
    options.push_back({"to", 0, "FORMAT", "output format: dataset, csv or sompak", "by the name of --out"});
  for (OptionEntry& o : DataInputOptions()) options.push_back(o);
}

std::unique_ptr<TKohonenNetwork> ReadMapForRuns(const std::string& path, const char* tool, std::ostream& err) {
  // The readers refuse maps without neurons, grids that do not number the
  // neurons and maps without weights; a map without inputs reads but maps
  // nothing.
  std::vector<std::string> warnings;
  std::unique_ptr<TKohonenNetwork> map = ReadMapFile(path, FileFormat::Unknown, &warnings);
  if (map->NumInputs() < 1) throw RunError{path, "the map has no inputs"};
  PrintWarnings(tool, warnings, err);
  return map;
}

int InputsFrom(const ParsedOptions& options) {
  return static_cast<int>(options.Integer("inputs", 0, 1, std::numeric_limits<std::int32_t>::max()));
}

DataTable ReadDataForMap(const std::string& path, const DataInputChoice& input, int mapInputs, int selected,
                         const std::string& mapPath, const char* tool, std::ostream& err) {
  CheckSelectedInputs(mapInputs, selected, mapPath);
  return FitDataToMap(ReadDataFile(path, input.format, input.csv), path, mapInputs, selected, mapPath, tool, err);
}

void CheckSelectedInputs(int mapInputs, int selected, const std::string& mapPath) {
  if (selected != 0 && selected != mapInputs)
    throw RunError{mapPath, "the map has " + Counted(mapInputs, "input", "inputs") + ", not " + std::to_string(selected) +
                                " as --inputs says"};
}

DataTable FitDataToMap(DataTable table, const std::string& path, int mapInputs, int selected,
                       const std::string& mapPath, const char* tool, std::ostream& err) {
  CheckSelectedInputs(mapInputs, selected, mapPath);
  const int columns = table.data->MbrNdxInputs;
  if (columns < mapInputs)
    throw RunError{path, Counted(columns, "input column", "input columns") + ", fewer than the map's " +
                             Counted(mapInputs, "input", "inputs")};
  if (columns > mapInputs && selected == 0)
    throw RunError{path, Counted(columns, "input column", "input columns") + ", more than the map's " +
                             Counted(mapInputs, "input", "inputs") + " (--inputs " + std::to_string(mapInputs) +
                             " uses the first " + std::to_string(mapInputs) + ")"};
  if (columns > mapInputs) {
    table.data = FirstColumns(*table.data, mapInputs);
    if (table.columnNames.size() > static_cast<std::size_t>(mapInputs)) table.columnNames.resize(mapInputs);
  }

  // The map's distances of NaN or infinite values find no meaningful winner.
  const Data& data = *table.data;
  for (std::int32_t r = 0; r < data.MbrNdxRows && mapInputs > 0; ++r) {
    const double* row = data.MbrDyaRtpInputs[r];
    for (int c = 0; c < mapInputs; ++c)
      if (!std::isfinite(row[c]))
        throw RunError{path,
                       "row " + std::to_string(r + 1) + ", column " + std::to_string(c + 1) + ": not a finite number"};
  }
  PrintWarnings(tool, table.warnings, err);
  table.warnings.clear();
  return table;
}

FileFormat DataOutputFrom(const ParsedOptions& options) {
  if (!options.Has("to")) return FileFormat::Unknown;
  return ParseFormatName("to", options.Choice("to", {"dataset", "csv", "sompak"}, "dataset"));
}

void CheckDataOutput(const std::string& out, FileFormat format, const std::vector<std::string>& inputs) {
  if (out.empty()) return;
  if (format == FileFormat::Unknown) {
    const FileFormat byName = FormatFromExtension(out);
    if (byName == FileFormat::Network || byName == FileFormat::SomPakCodebook)
      throw UsageError{"option --out '" + out + "' names a map file; give --to for a data file"};
  }
  CheckOutputIsNoInput("option --out", out, inputs);
}

FileFormat OutputFormat(const std::string& out, FileFormat format) {
  if (format != FileFormat::Unknown) return format;
  return out.empty() ? FileFormat::DataSet : FormatFromExtension(out);
}

DataTable OutputTable(std::unique_ptr<Data> result, const std::vector<std::string>& inputNames,
                      const std::vector<std::string>& outputNames, FileFormat format) {
  DataTable table;
  const Data& data = *result;
  if (format == FileFormat::DataSet || data.MbrNdxOutputs == 0) {
    table.data = std::move(result);
    table.columnNames = inputNames;
    return table;
  }
  const int inputs = data.MbrNdxInputs;
  const int outputs = data.MbrNdxOutputs;
  table.data = std::make_unique<Data>(data.MbrNdxRows, inputs + outputs, 0, data.MbrHasLabels);
  std::vector<double> row(static_cast<std::size_t>(inputs + outputs));
  for (std::int32_t r = 0; r < data.MbrNdxRows; ++r) {
    if (inputs > 0) std::copy_n(data.MbrDyaRtpInputs[r], inputs, row.begin());
    std::copy_n(data.MbrDyaRtpOutputs[r], outputs, row.begin() + inputs);
    table.data->AddRow(row.data(), nullptr, data.MbrHasLabels ? &data.MbrDyaLabels[r] : nullptr);
  }
  if (!inputNames.empty()) {
    table.columnNames = inputNames;
    table.columnNames.insert(table.columnNames.end(), outputNames.begin(), outputNames.end());
  }
  return table;
}

void WriteDataOutput(const std::string& out, std::ostream& stdoutStream, const DataTable& table, FileFormat format,
                     std::vector<std::string>& warnings) {
  if (!out.empty()) {
    WriteDataFile(out, table, format, {}, &warnings);
    return;
  }
  const std::string name = "standard output";
  WriteDataTo(stdoutStream, name, table, format == FileFormat::Unknown ? FileFormat::DataSet : format, {}, &warnings);
  stdoutStream.flush();
  if (!stdoutStream) throw RunError{name, "cannot write"};
}

}  // namespace mapsmith
