#include "Kohonen/Label/MapsmithLabel.h"

#include <memory>
#include <ostream>
#include <string>

#include "DataObject/Data.h"
#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Common/MapInputs.h"
#include "NeuralNets/TKohonenNetwork.h"

using namespace mapsmith;

namespace {

ToolDescription MakeToolTable() {
  ToolDescription table{
      "MapsmithLabel",
      "--map MAP --data LABELLED [--rows ROWS] [--out OUT] [OPTION]...",
      "Labels the Kohonen map MAP from the labelled data LABELLED: every map neuron\n"
      "gets the first label of each row it wins, weights of equal names added up.\n"
      "Writes the labelled map (one row per neuron: its grid coordinates and its\n"
      "labels). With --rows, writes instead each row of ROWS with the labels of its\n"
      "winner. Without --out the result goes to standard output as a data set file.",
      {
          {"map", 'm', "MAP", "the map: a network file or a SOM_PAK codebook", nullptr, true},
          {"data", 'd', "LABELLED", "the labelled data that labels the map", nullptr, true},
          {"rows", 'r', "ROWS", "data whose rows are to be labelled", "none: write the labelled map"},
          {"rows-label-column", 0, "COLUMN", "CSV column of ROWS holding labels, which are replaced", "none"},
          {"out", 'o', "OUT", "the file to write", "standard output"},
      },
  };
  AddMapDataOptions(table.options, true);
  return table;
}

const ToolDescription& ToolTable() {
  static const ToolDescription table = MakeToolTable();
  return table;
}

int Run(const ParsedOptions& options, std::ostream& out, std::ostream& err) {
  const std::string mapPath = options.Text("map");
  const std::string labelledPath = options.Text("data");
  const std::string rowsPath = options.Text("rows");
  const std::string outPath = options.Text("out");
  const int selected = InputsFrom(options);
  const FileFormat outFormat = DataOutputFrom(options);
  const DataInputChoice input = DataInputFrom(options);
  const DataInputChoice rowsInput = DataInputFrom(options, "rows-label-column");
  std::vector<std::string> inputs{mapPath, labelledPath};
  if (!rowsPath.empty()) inputs.push_back(rowsPath);
  CheckDataOutput(outPath, outFormat, inputs);

  const char* tool = ToolTable().name;
  std::unique_ptr<TKohonenNetwork> map = ReadMapForRuns(mapPath, tool, err);
  const int mapInputs = map->NumInputs();
  DataTable labelled = ReadDataForMap(labelledPath, input, mapInputs, selected, mapPath, tool, err);
  if (!labelled.data->MbrHasLabels) throw RunError{labelledPath, "the rows carry no labels"};
  DataTable rows;
  if (!rowsPath.empty()) rows = ReadDataForMap(rowsPath, rowsInput, mapInputs, selected, mapPath, tool, err);

  std::unique_ptr<Data> labelledMap;
  WithFile(labelledPath, [&] { labelledMap = map->LabelMap(labelled.data.get()); });
  DataTable result;
  result.labelName = labelled.labelName;
  if (rowsPath.empty()) {
    result.data = std::move(labelledMap);
    for (std::size_t k = 1; k <= map->GridSizes().size(); ++k)
      result.columnNames.push_back("coord" + std::to_string(k));
  } else {
    WithFile(rowsPath, [&] {
      std::unique_ptr<Data> coords = map->WinnerCoordinates(rows.data.get());
      std::unique_ptr<Data> labels = LabelRows(coords.get(), labelledMap.get());
      // Each row keeps its inputs and gets its winner's labels.
      result.data = std::make_unique<Data>(coords->MbrNdxRows, coords->MbrNdxInputs, 0, true);
      for (std::int32_t r = 0; r < coords->MbrNdxRows; ++r)
        result.data->AddRow(coords->MbrDyaRtpInputs[r], nullptr, labels->GetLabels(r));
    });
    result.columnNames = rows.columnNames;
  }
  std::vector<std::string> warnings;
  WriteDataOutput(outPath, out, result, OutputFormat(outPath, outFormat), warnings);
  PrintWarnings(tool, warnings, err);
  return 0;
}

}  // namespace

int RunMapsmithLabel(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  return RunTool(ToolTable(), argc, argv, out, err, Run);
}
