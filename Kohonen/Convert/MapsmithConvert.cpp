#include "Kohonen/Convert/MapsmithConvert.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "FileHandler/AtomicFile.h"
#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Common/Scaling.h"

using namespace mapsmith;
namespace fs = std::filesystem;

namespace {

std::vector<OptionEntry> ConvertOptions() {
  std::vector<OptionEntry> options = DataInputOptions();
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

const ToolDescription kConvert{
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

// The file a path names, symbolic links followed as AtomicFile follows them,
// kept under a second name (a hard link, else a copy) beside it, so that it
// can be put back once it has been replaced. A path that names no file is
// put back by removing what was created there. Targets that are not regular
// files (written directly) are not kept.
class KeptFile {
 public:
  explicit KeptFile(const std::string& path) {
    std::error_code error;
    target_ = fs::weakly_canonical(path, error).string();
    if (error) target_ = path;
    const fs::file_status status = fs::status(target_, error);
    if (!fs::exists(status)) {
      kept_ = true;  // nothing to keep: putting back removes the new file
      return;
    }
    if (!fs::is_regular_file(status)) return;
    const fs::path name(target_);
    std::string file = ".";  // appended piecewise: g++ 12 warns falsely (-Wrestrict) on "." + ...
    file += name.filename().string();
    file += ".kept-";
    file += std::to_string(::getpid());
    const std::string copy = (name.parent_path() / file).string();
    ::unlink(copy.c_str());  // left by an earlier run of the same number
    if (::link(target_.c_str(), copy.c_str()) != 0 && !fs::copy_file(target_, copy, error)) {
      ::unlink(copy.c_str());
      throw RunError{path, "cannot keep the old file to put back if the run fails: " + error.message()};
    }
    copy_ = copy;
    kept_ = true;
  }
  ~KeptFile() {
    if (!copy_.empty()) ::unlink(copy_.c_str());
  }
  KeptFile(const KeptFile&) = delete;
  KeptFile& operator=(const KeptFile&) = delete;

  // Puts the old file back (or removes the new one where there was none).
  void PutBack() {
    if (!kept_) return;
    if (copy_.empty()) {
      ::unlink(target_.c_str());
    } else if (::rename(copy_.c_str(), target_.c_str()) == 0) {
      copy_.clear();
    }
  }

 private:
  std::string target_;
  std::string copy_;   // the old file's second name; empty when none was made
  bool kept_ = false;  // PutBack can restore the target
};

// Writes the data and its scale file so that both are replaced together, or
// neither: both go to temporary files first; the scale file replaces the old
// one, then the data replaces the old data, and when that last step fails,
// the old scale file is put back.
void WriteScaledData(const std::string& path, const std::string& scalePath, const DataTable& table,
                     FileFormat format, const CsvOptions& csv, const ScaleFactors& factors,
                     std::vector<std::string>& warnings) {
  AtomicFile data;
  AtomicFile scale;
  if (!data.Open(path)) throw RunError{path, "cannot create: " + data.ErrorText()};
  if (!scale.Open(scalePath)) throw RunError{scalePath, "cannot create: " + scale.ErrorText()};
  WriteDataTo(data.Stream(), path, table, format, csv, &warnings);
  WithFile(scalePath, [&] { WriteScaleFile(scale.Stream(), factors); });
  KeptFile oldScale(scalePath);
  if (!scale.Commit()) throw RunError{scalePath, "cannot write: " + scale.ErrorText()};
  if (!data.Commit()) {
    oldScale.PutBack();
    throw RunError{path, "cannot write: " + data.ErrorText()};
  }
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

  // The common large case, CSV to a data set file as it is, goes row by row.
  if (from == FileFormat::Csv && (to == FileFormat::DataSet || to == FileFormat::Unknown) && method.empty() &&
      scaleWith.empty() && input.csv.labelColumn.empty() && ConvertCsvFileAsRead(inPath, input.csv, outPath))
    return 0;
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
