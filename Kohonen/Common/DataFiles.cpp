#include "Kohonen/Common/DataFiles.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <charconv>
#include <fstream>
#include <ostream>
#include <sstream>

#include "FileHandler/AtomicFile.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/CommandLine.h"

namespace mapsmith {

namespace {

// Enough of the start of a file to recognise it.
constexpr std::size_t kProbeBytes = 64 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

bool IsWholeNumber(std::string_view text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The format of a tagged file from its first block name ("[FormatVersion ...]"
// skipped).
FileFormat TaggedFormat(std::string_view text) {
  std::size_t i = 0;
  for (;;) {
    i = text.find('[', i);
    if (i == std::string_view::npos) return FileFormat::DataSet;
    ++i;
    while (i < text.size() && IsBlank(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
    std::string_view name = text.substr(start, i - start);
    if (strcasecmp(name, "FormatVersion") == 0) continue;
    if (strcasecmp(name, "NeuralNetwork") == 0 || strcasecmp(name, "Network") == 0) return FileFormat::Network;
    return FileFormat::DataSet;
  }
}

// Refuses a file that cannot be opened for reading, with the system's reason.
void CheckReadable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) throw RunError{path, "cannot open: " + std::string(std::strerror(errno))};
}

}  // namespace

FileFormat ParseFormatName(std::string_view option, std::string_view name) {
  if (name == "dataset") return FileFormat::DataSet;
  if (name == "network") return FileFormat::Network;
  if (name == "csv") return FileFormat::Csv;
  if (name == "sompak") return FileFormat::SomPakData;
  if (name == "codebook") return FileFormat::SomPakCodebook;
  throw UsageError{"option --" + std::string(option) +
                   " expects one of dataset, network, csv, sompak, codebook, not '" + std::string(name) + "'"};
}

FileFormat DetectFormat(const std::string& path) {
  CheckReadable(path);
  std::ifstream in(path, std::ios::binary);
  std::string text(kProbeBytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) throw RunError{path, "cannot read"};
  text.resize(static_cast<std::size_t>(in.gcount()));

  std::size_t i = 0;
  for (;;) {  // blanks and comments before a tagged file's first tag
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (text.compare(i, 2, "/*") != 0) break;
    const std::size_t end = text.find("*/", i + 2);
    if (end == std::string::npos) break;
    i = end + 2;
  }
  if (i < text.size() && text[i] == '[') return TaggedFormat(std::string_view(text).substr(i));

  // SOM_PAK files: the first line that is not a comment.
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0].starts_with('#')) continue;
    if (words.size() == 1 && IsWholeNumber(words[0])) return FileFormat::SomPakData;
    if (words.size() == 5 && IsWholeNumber(words[0]) && (words[1] == "rect" || words[1] == "hexa") &&
        IsWholeNumber(words[2]) && IsWholeNumber(words[3]))
      return FileFormat::SomPakCodebook;
    break;
  }
  return FileFormat::Csv;
}

FileFormat FormatFromExtension(const std::string& path) {
  auto endsWith = [&path](std::string_view extension) {
    return path.size() > extension.size() &&
           strcasecmp(std::string_view(path).substr(path.size() - extension.size()), extension) == 0;
  };
  if (endsWith(".csv")) return FileFormat::Csv;
  if (endsWith(".cod")) return FileFormat::SomPakCodebook;
  if (endsWith(".net")) return FileFormat::Network;
  return FileFormat::DataSet;
}

std::vector<OptionSpec> DataInputOptionSpecs() {
  return {
      {"from", 0, "FORMAT", "input format: dataset, csv, sompak, codebook or network", "by content"},
      {"separator", 0, "C", "CSV separator: ',', ';' or 'tab'", "found from the first line"},
      {"header", 0, nullptr, "the CSV's first row holds column names", "detected"},
      {"no-header", 0, nullptr, "the CSV's first row holds data"},
      {"label-column", 0, "COLUMN", "CSV column (name or number from 1) holding each row's label", "none"},
  };
}

DataInputChoice DataInputFrom(const ParsedOptions& options) {
  DataInputChoice choice;
  if (options.Has("from")) choice.format = ParseFormatName("from", options.Text("from"));
  if (options.Has("separator")) {
    const std::string separator = options.Choice("separator", {",", ";", "tab", "\t"}, ",");
    choice.csv.separator = separator == "," || separator == ";" ? separator[0] : '\t';
  }
  if (options.Has("header") && options.Has("no-header"))
    throw UsageError{"options --header and --no-header exclude each other"};
  if (options.Has("header")) choice.csv.header = 1;
  if (options.Has("no-header")) choice.csv.header = 0;
  choice.csv.labelColumn = options.Text("label-column");
  return choice;
}

DataTable ReadDataFile(const std::string& path, FileFormat format, const CsvOptions& csv) {
  (void)csv;
  if (format == FileFormat::Unknown) format = DetectFormat(path);
  CheckReadable(path);
  DataTable table;
  switch (format) {
    case FileFormat::DataSet: {
      WithFile(path, [&] {
        FileTools tools;
        std::unique_ptr<Data> result;
        if (ReadDataSetFile(tools, path, table.data, result) != SUCCESS) throw RunError{path, "cannot open"};
      });
      if (!table.data) throw RunError{path, "holds no data set"};
      return table;
    }
    case FileFormat::Network:
    case FileFormat::SomPakCodebook:
      throw RunError{path, "is a map, not a data set"};
    default:
      throw RunError{path, "this format cannot be read yet"};
  }
}

void WriteAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
  AtomicFile file;
  if (!file.Open(path)) throw RunError{path, "cannot create: " + file.ErrorText()};
  write(file.Stream());  // an exception abandons the file (destructor)
  if (!file.Commit()) throw RunError{path, "cannot write: " + file.ErrorText()};
}

void WriteDataFile(const std::string& path, const DataTable& table, FileFormat format, const CsvOptions& csv) {
  (void)csv;
  if (format == FileFormat::Unknown) format = FormatFromExtension(path);
  switch (format) {
    case FileFormat::DataSet:
      WriteAtomically(path, [&](std::ostream& out) {
        FileTools tools;
        const int32_t status = WriteDataSetFile(tools, out, table.data.get(), nullptr);
        if (status == ERR_FORMAT) throw RunError{path, "the data cannot be written as a data set file"};
        if (status == ERR_ROWS) throw RunError{path, "no rows to write"};
      });
      return;
    case FileFormat::Network:
    case FileFormat::SomPakCodebook:
      throw RunError{path, "a data set cannot be written as a map"};
    default:
      throw RunError{path, "this format cannot be written yet"};
  }
}

std::unique_ptr<TKohonenNetwork> ReadMapFile(const std::string& path, FileFormat format) {
  if (format == FileFormat::Unknown) format = DetectFormat(path);
  if (format != FileFormat::Network) throw RunError{path, "this map format cannot be read yet"};
  CheckReadable(path);
  std::unique_ptr<TKohonenNetwork> map;
  WithFile(path, [&] {
    FileTools tools;
    map = LoadKohonenNetwork(tools, path.c_str());
  });
  return map;
}

void WriteMapFile(const std::string& path, TKohonenNetwork& map, FileFormat format) {
  if (format == FileFormat::Unknown) format = FormatFromExtension(path);
  if (format != FileFormat::Network) throw RunError{path, "this map format cannot be written yet"};
  WriteAtomically(path, [&](std::ostream& out) {
    WithFile(path, [&] {
      FileTools tools;
      WriteNetwork(tools, out, &map);
    });
  });
}

}  // namespace mapsmith
