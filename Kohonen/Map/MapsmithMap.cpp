#include "Kohonen/Map/MapsmithMap.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Common/MapInputs.h"
#include "Kohonen/Map/StreamedMapping.h"
#include "NeuralNets/MapQuality.h"
#include "NeuralNets/TKohonenNetwork.h"

using namespace mapsmith;

namespace {

ToolDescription MakeToolTable() {
  ToolDescription table{
      "MapsmithMap",
      "--map MAP --data DATA [--out OUT] [OPTION]...",
      "Runs every row of DATA through the Kohonen map MAP and writes the row with\n"
      "its winner, the map neuron nearest to it: its grid coordinates, its neuron\n"
      "number or its weight vector. Without --out the rows go to standard output as\n"
      "a data set file. --quality prints the map's quality measures on DATA.",
      {
          {"map", 'm', "MAP", "the map: a network file or a SOM_PAK codebook", nullptr, true},
          {"data", 'd', "DATA", "the data to map", nullptr, true},
          {"out", 'o', "OUT", "the file to write", "standard output"},
          {"output", 0, "WHAT", "what each row gets: coords, index or reconstruction", "coords"},
          {"quality", 'q', nullptr,
           "print rows, quantization-error and topographic-error (alone when --out is not given)", "off"},
      },
  };
  AddMapDataOptions(table.options, true);
  return table;
}

const ToolDescription& ToolTable() {
  static const ToolDescription table = MakeToolTable();
  return table;
}

// Each row with its winner's neuron number as its one output.
std::unique_ptr<Data> WinnerIndexes(TKohonenNetwork& map, Data& data) {
  std::unique_ptr<Data> coords = map.WinnerCoordinates(&data);
  const int n = coords->MbrNdxInputs;
  const int d = coords->MbrNdxOutputs;
  auto result = std::make_unique<Data>(coords->MbrNdxRows, n, 1, false);
  std::vector<int> grid(static_cast<std::size_t>(d));
  for (std::int32_t r = 0; r < coords->MbrNdxRows; ++r) {
    const double* c = coords->MbrDyaRtpOutputs[r];
    for (int k = 0; k < d; ++k) grid[k] = static_cast<int>(c[k]);
    const double index = map.CoordsToIndex(grid.data());
    result->AddRow(n > 0 ? coords->MbrDyaRtpInputs[r] : nullptr, &index, nullptr);
  }
  return result;
}

// Maps a data set file as it is read when it can (see MapRowsAsRead): the
// rows go to a data set file and the input is a data set file that the
// general way would read as one. False when the general way is to be taken.
bool MapsAsRead(TKohonenNetwork& map, const std::string& dataPath, const DataInputChoice& input, int selected,
                const std::string& what, const std::string& outPath, FileFormat outFormat) {
  if (outPath.empty() || OutputFormat(outPath, outFormat) != FileFormat::DataSet) return false;
  if (selected != 0 && selected != map.NumInputs()) return false;
  // Only a regular file: recognising a pipe's format would consume what the
  // general way must then read.
  if (!IsRegularFile(dataPath)) return false;
  FileFormat format = input.format;
  if (format == FileFormat::Unknown) {
    try {
      format = DetectFormat(dataPath);
    } catch (const RunError&) {
      return false;  // the general way reports it
    }
  }
  if (format != FileFormat::DataSet) return false;
  const WinnerColumns columns = what == "coords"  ? WinnerColumns::Coordinates
                                : what == "index" ? WinnerColumns::Index
                                                  : WinnerColumns::Weights;
  return MapRowsAsRead(map, dataPath, columns, outPath);
}

int Run(const ParsedOptions& options, std::ostream& out, std::ostream& err) {
  const std::string mapPath = options.Text("map");
  const std::string dataPath = options.Text("data");
  const std::string outPath = options.Text("out");
  const std::string what = options.Choice("output", {"coords", "index", "reconstruction"}, "coords");
  const bool quality = options.Has("quality");
  const int selected = InputsFrom(options);
  const FileFormat outFormat = DataOutputFrom(options);
  const DataInputChoice input = DataInputFrom(options);
  // With --quality and no --out, standard output carries the measures alone.
  const bool writeRows = !outPath.empty() || !quality;
  if (!writeRows && options.Has("output")) throw UsageError{"option --output needs --out when --quality is given"};
  if (!writeRows && options.Has("to")) throw UsageError{"option --to needs --out when --quality is given"};
  CheckDataOutput(outPath, outFormat, {mapPath, dataPath});

  const char* tool = ToolTable().name;
  std::unique_ptr<TKohonenNetwork> map = ReadMapForRuns(mapPath, tool, err);
  if (writeRows && !quality && MapsAsRead(*map, dataPath, input, selected, what, outPath, outFormat)) return 0;
  DataTable table = ReadDataForMap(dataPath, input, map->NumInputs(), selected, mapPath, tool, err);

  if (writeRows) {
    std::unique_ptr<Data> rows;
    std::vector<std::string> names;  // of the outputs, for formats that name columns
    WithFile(dataPath, [&] {
      if (what == "coords") {
        rows = map->WinnerCoordinates(table.data.get());
        for (std::size_t k = 1; k <= map->GridSizes().size(); ++k) names.push_back("coord" + std::to_string(k));
      } else if (what == "index") {
        rows = WinnerIndexes(*map, *table.data);
        names.push_back("neuron");
      } else {
        rows = map->ReconstructData(table.data.get());
        for (const std::string& name : table.columnNames) names.push_back("winner_" + name);
      }
    });
    const FileFormat format = OutputFormat(outPath, outFormat);
    const DataTable result = OutputTable(std::move(rows), table.columnNames, names, format);
    std::vector<std::string> warnings;
    WriteDataOutput(outPath, out, result, format, warnings);
    PrintWarnings(tool, warnings, err);
  }
  if (quality) {
    // Measured after the rows are written, so a failed write prints nothing.
    TMapQuality measures;
    WithFile(dataPath, [&] { measures = MeasureMapQuality(*map, *table.data); });
    char number[FileTools::GeneralNumberSize];
    out << "rows " << measures.rows << '\n';
    out << "quantization-error " << FileTools::FormatGeneral(measures.quantizationError, number) << '\n';
    out << "topographic-error " << FileTools::FormatGeneral(measures.topographicError, number) << '\n';
    out.flush();
    if (!out) throw RunError{"standard output", "cannot write"};
  }
  return 0;
}

}  // namespace

int RunMapsmithMap(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  return RunTool(ToolTable(), argc, argv, out, err, Run);
}
