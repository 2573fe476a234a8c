#include "Kohonen/Convert/MapsmithConvert.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "FileHandler/AtomicFile.h"
#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Common/Scaling.h"

using namespace mapsmith;

namespace {

std::vector<OptionSpec> ConvertOptions() {
  std::vector<OptionSpec> options = DataInputOptionSpecs();
  options.push_back({"to", 0, "FORMAT", "output format: dataset, csv, sompak, codebook or network",
                     "by the extension of OUT"});
  options.push_back({"output-separator", 0, "C", "separator of a CSV output: ',', ';' or 'tab'", ","});
  options.push_back({"output-header", 0, nullptr, "a CSV output gets a header row (x1, x2, ... where unnamed)",
                     "when the column names are known"});
  options.push_back({"output-no-header", 0, nullptr, "a CSV output gets no header row",
                     "when the column names are not known"});
  options.push_back(
      {"scale", 0, "METHOD", "rescale each input column (zscore or range); factors to OUT.scale", "none"});
  options.push_back({"scale-with", 0, "FILE", "rescale with the factors saved in FILE", "none"});
  return options;
}

const ToolSpec kConvert{
    "MapsmithConvert",
    "[OPTION]... IN OUT",
    "Converts IN to OUT: data sets between data set files, CSV and SOM_PAK data\n"
    "files; maps between network files and SOM_PAK codebooks. IN is recognised\n"
    "by its content, OUT's format by its extension (.csv CSV, .cod codebook,\n"
    ".net network file, anything else a data set file). OUT is written whole\n"
    "or not at all.",
    ConvertOptions(),
    0,
    2,
    "IN",
};

bool IsMapFormat(FileFormat format) {
  return format == FileFormat::Network || format == FileFormat::SomPakCodebook;
}

ScaleFactors ReadScaleFactors(const std::string& path) {
  ScaleFactors factors;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) throw RunError{path, "cannot open: " + std::string(std::strerror(errno))};
  WithFile(path, [&] { factors = ReadScaleFile(in); });
  return factors;
}

// Writes the data and its scale file so that both are replaced together:
// everything is written to temporary files first, and only then renamed.
void WriteScaledData(const std::string& path, const std::string& scalePath, const DataTable& table,
                     FileFormat format, const CsvOptions& csv, const ScaleFactors& factors,
                     std::vector<std::string>& warnings) {
  AtomicFile data;
  AtomicFile scale;
  if (!data.Open(path)) throw RunError{path, "cannot create: " + data.ErrorText()};
  if (!scale.Open(scalePath)) throw RunError{scalePath, "cannot create: " + scale.ErrorText()};
  WriteDataTo(data.Stream(), path, table, format, csv, &warnings);
  WithFile(scalePath, [&] { WriteScaleFile(scale.Stream(), factors); });
  if (!scale.Commit()) throw RunError{scalePath, "cannot write: " + scale.ErrorText()};
  if (!data.Commit()) throw RunError{path, "cannot write: " + data.ErrorText()};
}

int Convert(const ParsedOptions& options, std::ostream&, std::ostream& err) {
  const std::vector<std::string>& operands = options.Operands();
  if (operands.empty()) throw UsageError{"missing IN and OUT operands"};
  if (operands.size() == 1) throw UsageError{"missing OUT operand after '" + operands[0] + "'"};
  const std::string& inPath = operands[0];
  const std::string& outPath = operands[1];

  const DataInputChoice input = DataInputFrom(options);
  const FileFormat to = options.Has("to") ? ParseFormatName("to", options.Text("to")) : FormatFromExtension(outPath);
  CsvOptions outCsv;
  const std::string separator = options.Choice("output-separator", {",", ";", "tab", "\t"}, ",");
  outCsv.separator = separator == "," || separator == ";" ? separator[0] : '\t';
  if (options.Has("output-header") && options.Has("output-no-header"))
    throw UsageError{"options --output-header and --output-no-header exclude each other"};
  if (options.Has("output-header")) outCsv.header = 1;
  if (options.Has("output-no-header")) outCsv.header = 0;
  if (options.Has("scale") && options.Has("scale-with"))
    throw UsageError{"options --scale and --scale-with exclude each other"};
  const std::string method = options.Choice("scale", {"zscore", "range"}, "");
  const std::string scaleWith = options.Text("scale-with");
  const std::string scalePath = outPath + ".scale";

  std::vector<std::string> inputs{inPath};
  if (!scaleWith.empty()) inputs.push_back(scaleWith);
  CheckOutputIsNoInput("output", outPath, inputs);
  if (!method.empty()) CheckOutputIsNoInput("scale file", scalePath, inputs);

  InputFile in(inPath);  // opened once: IN may be a pipe
  const FileFormat from = input.format != FileFormat::Unknown ? input.format : in.Format();
  std::vector<std::string> warnings;
  if (IsMapFormat(from)) {
    if (!method.empty() || !scaleWith.empty())
      throw UsageError{"options --scale and --scale-with apply to data sets, and '" + inPath + "' holds a map"};
    if (!IsMapFormat(to)) throw RunError{outPath, "a map cannot be written as a data set"};
    std::unique_ptr<TKohonenNetwork> map = ReadMapFile(in, from, &warnings);
    PrintWarnings(kConvert.name, warnings, err);
    warnings.clear();
    WriteMapFile(outPath, *map, to, &warnings);
    PrintWarnings(kConvert.name, warnings, err);
    return 0;
  }
  if (IsMapFormat(to)) throw RunError{outPath, "a data set cannot be written as a map"};

  DataTable table = ReadDataFile(in, from, input.csv);
  PrintWarnings(kConvert.name, table.warnings, err);
  ScaleFactors factors;
  if (!scaleWith.empty()) {
    factors = ReadScaleFactors(scaleWith);
    WithFile(inPath, [&] { ApplyScaling(*table.data, factors); });
  } else if (!method.empty()) {
    WithFile(inPath, [&] {
      factors = ComputeScaling(*table.data, method == "zscore" ? ScaleMethod::ZScore : ScaleMethod::Range);
      ApplyScaling(*table.data, factors);
    });
    const std::string note = ConstantColumnsNote(factors);
    if (!note.empty()) PrintWarnings(kConvert.name, {inPath + ": " + note}, err);
  }

  if (!method.empty())
    WriteScaledData(outPath, scalePath, table, to, outCsv, factors, warnings);
  else
    WriteDataFile(outPath, table, to, outCsv, &warnings);
  PrintWarnings(kConvert.name, warnings, err);
  return 0;
}

}  // namespace

int RunMapsmithConvert(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  return RunTool(kConvert, argc, argv, out, err, Convert);
}
