#include "Kohonen/View/MapsmithView.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "DataObject/Data.h"
#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/CsvFile.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Common/MapInputs.h"
#include "Kohonen/View/MapPage.h"
#include "Kohonen/View/SvgPage.h"
#include "NeuralNets/MapPictures.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace mapsmith {

namespace {

ToolDescription MakeToolTable() {
  ToolDescription table{
      "MapsmithView",
      "--map MAP --out PAGE.svg [OPTION]...",
      "Draws a Kohonen map as one SVG page: the U-matrix (mean distance of each neuron's weights to\n"
      "those of its grid neighbours), one component plane per input, the hits of a data set, the\n"
      "labels of a labelled data set and, for maps of 3 inputs, the colours the weights give.\n"
      "Maps of more than two dimensions are drawn as the slice through dimensions 1 and 2.",
      {
          {"map", 'm', "MAP", "the map: a network file or a SOM_PAK codebook", nullptr, true},
          {"out", 'o', "PAGE", "the SVG page to write", nullptr, true},
          {"data", 'd', "DATA", "rows to count hits and measure the map's quality with", "none"},
          {"labels", 'l', "LABELLED",
           "a labelled data set, or the labelled map MapsmithLabel writes; each neuron shows its "
           "most frequent label",
           "none"},
          {"show", 's', "LIST",
           "panels, comma-separated: umatrix, planes, hits, labels, colours",
           "umatrix,planes, with hits for --data and labels for --labels"},
          {"names", 0, "A,B,...", "the inputs' names, comma-separated, for the component planes", "Input 1, ..."},
          {"names-from", 0, "FILE.csv", "take the inputs' names from the header row of a CSV file", "none"},
          {"slice", 0, "K=V,...",
           "for maps of more than two dimensions: draw dimension K (from 3) at coordinate V (from 0)", "all 0"},
          {"torus", 0, nullptr, "grid neighbours wrap around at the edges of the map", "off"},
          {"title", 't', "TEXT", "the page's heading", "the map's file name"},
      },
      0,
      0,
  };
  AddMapDataOptions(table.options, false);
  return table;
}

const ToolDescription& ToolTable() {
  static const ToolDescription table = MakeToolTable();
  return table;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

std::string BaseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

bool WholeNumber(std::string_view text, long long& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

void ReadShow(const ParsedOptions& options, ViewRequest& request) {
  if (!options.Has("show")) {
    request.hits = options.Has("data");
    request.labels = options.Has("labels");
    return;
  }
  request.umatrix = request.planes = false;
  const std::string text = options.Text("show");
  for (const std::string& item : SplitList(text)) {
    if (item == "umatrix")
      request.umatrix = true;
    else if (item == "planes")
      request.planes = true;
    else if (item == "hits")
      request.hits = true;
    else if (item == "labels")
      request.labels = true;
    else if (item == "colours" || item == "colors")
      request.colours = true;
    else
      throw UsageError{"option --show expects umatrix, planes, hits, labels or colours, not '" + item + "'"};
  }
  if (request.hits && !options.Has("data")) throw UsageError{"option --show: hits need --data"};
  if (request.labels && !options.Has("labels")) throw UsageError{"option --show: labels need --labels"};
}

// "K=V,..." into request.slice (dimension numbers from 1 on the command line,
// from 0 inside). The map checks the values later.
std::vector<std::pair<long long, long long>> ReadSlice(const ParsedOptions& options) {
  std::vector<std::pair<long long, long long>> slice;
  if (!options.Has("slice")) return slice;
  for (const std::string& item : SplitList(options.Text("slice"))) {
    const std::size_t equals = item.find('=');
    long long dimension = 0, at = 0;
    if (equals == std::string::npos || !WholeNumber(std::string_view(item).substr(0, equals), dimension) ||
        !WholeNumber(std::string_view(item).substr(equals + 1), at))
      throw UsageError{"option --slice expects DIMENSION=COORDINATE, not '" + item + "'"};
    if (dimension < 3)
      throw UsageError{"option --slice: dimensions 1 and 2 are drawn whole; '" + item + "' names dimension " +
                       std::to_string(dimension)};
    if (at < 0) throw UsageError{"option --slice: coordinates start at 0, not '" + item + "'"};
    for (const auto& [seen, value] : slice)
      if (seen == dimension) throw UsageError{"option --slice names dimension " + std::to_string(dimension) + " twice"};
    slice.emplace_back(dimension, at);
  }
  return slice;
}

// Whether `table` is the labelled map of `map`: one row per neuron holding
// the neuron's grid coordinates in neuron order, with labels.
bool IsLabelledMapOf(const Data& table, const TKohonenNetwork& map, int neurons) {
  const int d = map.numDimensions;
  if (!table.MbrHasLabels || table.MbrNdxInputs != d || table.MbrNdxRows != neurons) return false;
  std::vector<int> coords(static_cast<std::size_t>(d), 0);
  for (int k = 0; k < neurons; ++k) {
    for (int c = 0; c < d; ++c)
      if (table.MbrDyaRtpInputs[k][c] != coords[static_cast<std::size_t>(c)]) return false;
    for (int c = d - 1; c >= 0; --c) {  // the next coordinates, last one fastest
      if (++coords[static_cast<std::size_t>(c)] < map.dimensions[c]) break;
      coords[static_cast<std::size_t>(c)] = 0;
    }
  }
  return true;
}

// The label column of a labelled map as MapsmithLabel writes it in CSV: a
// header row of coord1 ... coordD (D: the map's dimension count), then one
// column of labels. Its number (from 1), or "" when `start`, the first bytes
// of the file, does not begin so.
std::string LabelledMapLabelColumn(std::string_view start, const CsvOptions& csv, int dimensions) {
  const std::vector<std::string> header = CsvFirstRecord(start, csv);
  if (header.size() != static_cast<std::size_t>(dimensions) + 1) return {};
  for (int k = 0; k < dimensions; ++k)
    if (header[static_cast<std::size_t>(k)] != "coord" + std::to_string(k + 1)) return {};
  return std::to_string(dimensions + 1);
}

int View(const ParsedOptions& options, std::ostream&, std::ostream& err) {
  const std::string mapPath = options.Text("map");
  const std::string outPath = options.Text("out");
  ViewRequest request;
  ReadShow(options, request);
  request.torus = options.Has("torus");
  request.title = options.Text("title");
  if (options.Has("names") && options.Has("names-from"))
    throw UsageError{"options --names and --names-from exclude each other"};
  const auto slice = ReadSlice(options);
  const DataInputChoice input = DataInputFrom(options);
  const int selected = InputsFrom(options);
  std::vector<std::string> inputs = {mapPath};
  for (const char* option : {"data", "labels", "names-from"})
    if (options.Has(option)) inputs.push_back(options.Text(option));
  CheckOutputIsNoInput("option --out", outPath, inputs);

  // The map and what the request asks of it.
  const char* tool = ToolTable().name;
  std::unique_ptr<TKohonenNetwork> map = ReadMapForRuns(mapPath, tool, err);
  int neurons = 0;
  WithFile(mapPath, [&] { neurons = CheckMapGrid(*map); });
  const int n = map->NumInputs();
  const int d = map->numDimensions;
  request.mapName = BaseName(mapPath);
  if (request.colours && n != 3)
    throw RunError{mapPath, "colours need a map of 3 inputs, this map has " + std::to_string(n)};
  request.slice.assign(static_cast<std::size_t>(d), 0);
  for (const auto& [dimension, at] : slice) {
    const std::string item = std::to_string(dimension) + "=" + std::to_string(at);
    if (dimension > d)
      throw RunError{mapPath, "--slice " + item + ": the map has " + std::to_string(d) + " dimensions"};
    const int size = map->dimensions[dimension - 1];
    if (at >= size)
      throw RunError{mapPath, "--slice " + item + ": dimension " + std::to_string(dimension) + " has size " +
                                  std::to_string(size)};
    request.slice[static_cast<std::size_t>(dimension - 1)] = static_cast<int>(at);
  }

  if (options.Has("names")) {
    request.names = SplitList(options.Text("names"));
    if (static_cast<int>(request.names.size()) != n)
      throw RunError{mapPath, "the map has " + std::to_string(n) + " inputs, --names gives " +
                                  std::to_string(request.names.size()) + " names"};
  }
  if (options.Has("names-from")) {
    const std::string path = options.Text("names-from");
    CsvOptions csv = input.csv;
    csv.header = 1;
    DataTable table = ReadDataFile(path, input.format, csv);
    if (table.columnNames.empty()) throw RunError{path, "has no header row of column names"};
    if (static_cast<int>(table.columnNames.size()) != n)
      throw RunError{path, "names " + std::to_string(table.columnNames.size()) + " columns, the map has " +
                               std::to_string(n) + " inputs"};
    request.names = table.columnNames;
  }

  DataTable data;
  if (options.Has("data")) {
    const std::string path = options.Text("data");
    data = ReadDataForMap(path, input, n, selected, mapPath, tool, err);
    request.dataName = BaseName(path);
  }

  std::unique_ptr<Data> labelledMap;
  if (request.labels) {
    const std::string path = options.Text("labels");
    InputFile file(path);
    const FileFormat format = input.format != FileFormat::Unknown ? input.format : file.Format();
    CsvOptions csv = input.csv;
    bool labelledMapLayout = false;
    if (format == FileFormat::Csv && csv.labelColumn.empty() && csv.header != 0) {
      csv.labelColumn = LabelledMapLabelColumn(file.Start(), csv, d);
      labelledMapLayout = !csv.labelColumn.empty();
    }
    DataTable table = ReadDataFile(file, format, csv);
    request.labelsName = BaseName(path);
    if (IsLabelledMapOf(*table.data, *map, neurons)) {
      // The CSV reader's one warning counts empty label cells: in a labelled
      // map, the neurons that won no labelled row.
      if (!labelledMapLayout) PrintWarnings(tool, table.warnings, err);
      labelledMap = std::move(table.data);
    } else {
      // Labelled rows, fitted to the map as every tool that maps data does.
      table = FitDataToMap(std::move(table), path, n, selected, mapPath, tool, err);
      if (!table.data->MbrHasLabels) throw RunError{path, "the rows carry no labels"};
      WithFile(path, [&] { labelledMap = map->LabelMap(table.data.get()); });
    }
  }

  Page page;
  WithFile(mapPath, [&] { page = BuildMapPage(*map, request, data.data.get(), labelledMap.get()); });
  WriteAtomically(outPath, [&](std::ostream& out) { WriteSvgPage(page, out); });
  return 0;
}

}  // namespace

}  // namespace mapsmith

int RunMapsmithView(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  return mapsmith::RunTool(mapsmith::ToolTable(), argc, argv, out, err, mapsmith::View);
}
