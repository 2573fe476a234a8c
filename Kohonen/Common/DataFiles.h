// The files the companion tools read and write: data set files, network
// files, CSV, and SOM_PAK data and codebook files. Inputs are recognised by
// their content, outputs by their extension; --from / --to override both.
// Every failure is a RunError naming the file; outputs are written whole or
// not at all (a temporary file renamed into place).
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DataObject/Data.h"
#include "Kohonen/Common/CommandLine.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace mapsmith {

enum class FileFormat {
  Unknown,         // recognise by content (inputs) or extension (outputs)
  DataSet,         // tagged data set file
  Network,         // tagged network file
  Csv,             // comma (or ; or tab) separated values
  SomPakData,      // SOM_PAK data file
  SomPakCodebook,  // SOM_PAK codebook file
};

// The format named on the command line: "dataset", "network", "csv",
// "sompak" (data file) or "codebook". Throws UsageError naming `option`.
FileFormat ParseFormatName(std::string_view option, std::string_view name);

// An input file opened once for reading. Its first bytes are looked at to
// recognise its format, and the readers then read it from its first byte on,
// through the same open file: a pipe or FIFO (/dev/stdin) cannot be opened a
// second time for what the first look consumed. A file that can seek is
// rewound; one that cannot gets the bytes looked at put in front of the rest.
class InputFile {
 public:
  // Opens `path`. Throws RunError when it cannot be opened or is a directory.
  explicit InputFile(std::string path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& Path() const { return path_; }
  // The first bytes of the file (at most 64 KiB), read on the first call.
  // Throws RunError when they cannot be read.
  const std::string& Start();
  // The format the first bytes show (see DetectFormat).
  FileFormat Format();
  // The whole file from its first byte; valid while this object lives, to be
  // read once.
  std::istream& Stream();

 private:
  std::string path_;
  std::vector<char> buffer_;  // the file stream's
  std::unique_ptr<std::ifstream> file_;
  std::string start_;
  bool started_ = false;
  std::unique_ptr<std::streambuf> replay_;  // a file that cannot seek
  std::unique_ptr<std::istream> replayStream_;
};

// Recognises a file by its first bytes: a tagged header or block ("[") is a
// data set or network file by its first block's name; a first line of a
// number, a topology ("rect" or "hexa") and two sizes (more words are the
// neighbourhood and what the reader ignores) a SOM_PAK codebook; a first line
// that begins with a number a SOM_PAK data file, unless it is a CSV row of
// numbers (separated by ',', ';' or tab); anything else is CSV. Comment lines ('#')
// before a SOM_PAK file's first line are skipped. Throws RunError when the
// file cannot be read.
FileFormat DetectFormat(const std::string& path);

// Whether `path` names a regular file (symbolic links followed), which can
// be opened and read again, unlike a pipe or FIFO that gives its bytes once.
bool IsRegularFile(const std::string& path);
// The same for the first bytes of a file.
FileFormat DetectFormatOf(std::string_view start);

// The format an output file gets from its name: ".csv" CSV, ".cod" codebook,
// ".net" network file, anything else a data set file.
FileFormat FormatFromExtension(const std::string& path);

// How CSV is read and written.
struct CsvOptions {
  char separator = 0;       // ',', ';' or '\t'; 0: found from the first line (',' when writing)
  int header = -1;          // -1: detected (reading) / written when names are known; 0 none; 1 present
  std::string labelColumn;  // a column name or 1-based number that holds labels; empty: none
};

// A data set as read from a file, with the names of its input columns where
// the file gives them (a CSV header row, a SOM_PAK "#n" line), else empty.
struct DataTable {
  std::unique_ptr<Data> data;
  std::vector<std::string> columnNames;
  // The name of the CSV column the labels came from ("" when unknown); a CSV
  // writer uses it for the label column's header.
  std::string labelName;
  // What the reader noticed and did not refuse, one message per kind, each
  // "<file>: warning: <what>"; tools print them on standard error (see
  // PrintWarnings).
  std::vector<std::string> warnings;
};

// Prints each warning as "<tool>: <warning>" on `err`.
void PrintWarnings(const char* tool, const std::vector<std::string>& warnings, std::ostream& err);

// Reads the data set in `path` (`format` Unknown: recognised by content).
// Only the example set of a data set file is read. The set has labels when
// the file carries them. Throws RunError.
DataTable ReadDataFile(const std::string& path, FileFormat format, const CsvOptions& csv = {});
// The same from a file already opened (`format` Unknown: in.Format()).
DataTable ReadDataFile(InputFile& in, FileFormat format, const CsvOptions& csv = {});

// The options of every tool that reads a data file, for its option table:
// --from FORMAT, --separator C, --header, --no-header, --label-column COLUMN.
std::vector<OptionEntry> DataInputOptions();

// What those options chose: the input format (Unknown: by content) and the
// CSV reading. Throws UsageError for a bad value (a label column of "0", a
// label column named while --no-header says there are no names).
struct DataInputChoice {
  FileFormat format = FileFormat::Unknown;
  CsvOptions csv;
};
// `labelOption` names the option that chooses the label column (a tool that
// reads two files may give each its own).
DataInputChoice DataInputFrom(const ParsedOptions& options, std::string_view labelOption = "label-column");

// Writes `table` to `path` in `format` (Unknown: by extension), atomically.
// What the format cannot hold exactly is said in `warnings` (as
// "<path>: warning: <what>"; dropped when null), or refused when it would
// not read back (e.g. a label with a blank in a data set file). Throws
// RunError.
void WriteDataFile(const std::string& path, const DataTable& table, FileFormat format,
                   const CsvOptions& csv = {}, std::vector<std::string>* warnings = nullptr);
// The same into a stream the caller commits (`path` names the file in
// messages and gives the format when `format` is Unknown).
void WriteDataTo(std::ostream& out, const std::string& path, const DataTable& table, FileFormat format,
                 const CsvOptions& csv = {}, std::vector<std::string>* warnings = nullptr);

// Reads a Kohonen map from a network file or a SOM_PAK codebook (`format`
// Unknown: recognised by content). Warnings (a codebook's labels) go to
// `warnings` as "<path>: warning: <what>" (dropped when null). Throws
// RunError ("Not a Kohonen network" for a network of another type; "not a
// map (...); its content reads as CSV" for a file of no map format).
std::unique_ptr<TKohonenNetwork> ReadMapFile(const std::string& path, FileFormat format = FileFormat::Unknown,
                                             std::vector<std::string>* warnings = nullptr);
// The same from a file already opened.
std::unique_ptr<TKohonenNetwork> ReadMapFile(InputFile& in, FileFormat format = FileFormat::Unknown,
                                             std::vector<std::string>* warnings = nullptr);

// Writes `map` as a network file or a SOM_PAK codebook (`format` Unknown: by
// extension), atomically. What the format cannot hold exactly (a 1 x n map
// reads back from a codebook one-dimensional) is said in `warnings` as
// "<path>: warning: <what>" (dropped when null). Throws RunError.
void WriteMapFile(const std::string& path, TKohonenNetwork& map, FileFormat format = FileFormat::Unknown,
                  std::vector<std::string>* warnings = nullptr);
// The same into a stream the caller commits.
void WriteMapTo(std::ostream& out, const std::string& path, TKohonenNetwork& map, FileFormat format,
                std::vector<std::string>* warnings = nullptr);

// Converts the CSV file `inPath` to the data set file `outPath` as
// ReadDataFile and WriteDataFile would, without holding its rows: the file is
// read twice, once to count its records and once to write them
// (StreamCsvToDataSet). Returns false, with `outPath` as it was, when
// `inPath` is not a regular file (a pipe cannot be read twice) or the
// streaming reader leaves the file to the whole-set way; the caller then
// converts it that way, which gives the same file or the same refusal. Throws
// RunError as those functions do.
bool ConvertCsvFileAsRead(const std::string& inPath, const CsvOptions& csv, const std::string& outPath);

// Runs `write` on a stream into a temporary file beside `path` and renames it
// over `path` when `write` returned and every byte reached the disk. On any
// failure (a thrown error included) the temporary file is removed and an
// existing `path` is left as it was. Throws RunError naming `path`; errors
// thrown by `write` pass through.
void WriteAtomically(const std::string& path, const std::function<void(std::ostream&)>& write);

}  // namespace mapsmith
