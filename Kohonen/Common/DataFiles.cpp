#include "Kohonen/Common/DataFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <charconv>
#include <fstream>
#include <ios>
#include <ostream>
#include <sstream>
#include <sys/stat.h>

#include "FileHandler/AtomicFile.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/CsvFile.h"
#include "Kohonen/Common/SomPakFile.h"
#include "Kohonen/Common/TextInput.h"

namespace mapsmith {

namespace {

// Enough of the start of a file to recognise it.
constexpr std::size_t kProbeBytes = 64 * 1024;
// The file stream's buffer: reads of this size cost little per byte, and a
// file only recognised (which fills the buffer once) touches few pages.
constexpr std::size_t kReadBuffer = std::size_t{1} << 17;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// A whole number as the SOM_PAK readers read counts and sizes.
bool IsCount(std::string_view text) {
  std::int64_t value = 0;
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

// Whether `line` holds a CSV row of numbers: cells separated by ',', ';' or
// tab, each a number.
bool IsCsvRowOfNumbers(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  for (char separator : {',', ';', '\t'}) {
    if (line.find(separator) == std::string_view::npos) continue;
    bool numbers = true;
    for (std::size_t start = 0; numbers;) {
      const std::size_t end = line.find(separator, start);
      double value = 0.0;
      numbers = ParseNumberText(line.substr(start, end - start), value) == NumberText::Ok;
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    if (numbers) return true;
  }
  return false;
}

// The format of a file whose first line (not a comment) is `line`, made of
// `words`: a SOM_PAK codebook when it begins "<dim> rect|hexa <xdim> <ydim>"
// (the codebook reader ignores what follows); a SOM_PAK data file when it
// begins with a column count (the data reader ignores what follows), unless
// the line is a row of CSV numbers; CSV otherwise.
FileFormat SomPakFormat(std::string_view line, const std::vector<std::string_view>& words) {
  if (!IsCount(words[0])) return FileFormat::Csv;
  if (words.size() >= 4 && (words[1] == "rect" || words[1] == "hexa") && IsCount(words[2]) && IsCount(words[3]))
    return FileFormat::SomPakCodebook;
  if (words.size() > 1 && IsCsvRowOfNumbers(line)) return FileFormat::Csv;
  return FileFormat::SomPakData;
}

// Runs `read` on the file's stream, turning the library's errors and read
// failures into RunErrors naming the file.
void ReadFile(InputFile& file, const std::function<void(std::istream&)>& read) {
  const std::string& path = file.Path();
  std::istream& in = file.Stream();
  try {
    WithFile(path, [&] { read(in); });
  } catch (const std::ios_base::failure& e) {
    throw RunError{path, "cannot read: " + e.code().message()};
  }
}

// A stream buffer that gives `start` (bytes already read from `source`)
// first and then the rest of `source`, for files that cannot be rewound.
class ReplayBuffer : public std::streambuf {
 public:
  ReplayBuffer(std::string start, std::streambuf* source) : buffer_(std::move(start)), source_(source) {
    setg(buffer_.data(), buffer_.data(), buffer_.data() + buffer_.size());
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    buffer_.resize(kProbeBytes);
    const std::streamsize got = source_->sgetn(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    if (got <= 0) {
      setg(buffer_.data(), buffer_.data(), buffer_.data());
      return traits_type::eof();
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::string buffer_;
  std::streambuf* source_;
};

// Bare warnings of a reader or writer as "<file>: warning: <what>".
void AddWarnings(const std::string& path, const std::vector<std::string>& bare, std::vector<std::string>& to) {
  for (const std::string& what : bare) to.push_back(path + ": warning: " + what);
}

// Whether `name` reads back from a data set file as the same one label: the
// file has no quoting, so a label is one token of the tagged text.
bool IsDataSetLabel(std::string_view name) {
  if (name.empty()) return false;
  for (char ch : name) {
    const auto c = static_cast<signed char>(ch);
    if (c < 33 || c > 126 || ch == ',' || std::strchr("[]/*=<>", ch) != nullptr) return false;
  }
  return true;
}

// The rows of `data` with a label whose weight is not 1: CSV and SOM_PAK data
// files hold label names only.
std::int64_t RowsWithLabelWeights(const Data& data) {
  std::int64_t rows = 0;
  if (!data.MbrHasLabels) return rows;
  for (std::int32_t r = 0; r < data.MbrNdxRows; ++r) {
    const std::vector<TLabel>& labels = data.MbrDyaLabels[static_cast<std::size_t>(r)].labels;
    rows += std::any_of(labels.begin(), labels.end(), [](const TLabel& label) { return label.value != 1.0; });
  }
  return rows;
}

// What a file of `format` is called in messages.
const char* FormatDescription(FileFormat format) {
  switch (format) {
    case FileFormat::DataSet:
      return "a data set file";
    case FileFormat::Network:
      return "a network file";
    case FileFormat::Csv:
      return "CSV";
    case FileFormat::SomPakData:
      return "a SOM_PAK data file";
    case FileFormat::SomPakCodebook:
      return "a SOM_PAK codebook";
    case FileFormat::Unknown:
      break;
  }
  return "an unknown format";
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

InputFile::InputFile(std::string path)
    : path_(std::move(path)), buffer_(kReadBuffer), file_(std::make_unique<std::ifstream>()) {
  // A large buffer: the readers take their text straight from it.
  file_->rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  file_->open(path_, std::ios::binary);
  if (!file_->is_open()) throw RunError{path_, "cannot open: " + std::string(std::strerror(errno))};
  // A directory opens but fails at the first read (which the C++ library
  // reports by throwing), so it is refused here by name.
  struct stat info;
  if (::stat(path_.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) throw RunError{path_, "is a directory"};
}

InputFile::~InputFile() = default;

const std::string& InputFile::Start() {
  if (started_) return start_;
  started_ = true;
  start_.resize(kProbeBytes);
  file_->read(start_.data(), static_cast<std::streamsize>(start_.size()));
  if (file_->bad()) throw RunError{path_, "cannot read"};
  start_.resize(static_cast<std::size_t>(file_->gcount()));
  file_->clear();
  if (file_->seekg(0)) return start_;
  // A pipe or FIFO: the bytes read come first, then the rest of the file.
  file_->clear();
  replay_ = std::make_unique<ReplayBuffer>(start_, file_->rdbuf());
  replayStream_ = std::make_unique<std::istream>(replay_.get());
  return start_;
}

FileFormat InputFile::Format() { return DetectFormatOf(Start()); }

std::istream& InputFile::Stream() { return replayStream_ != nullptr ? *replayStream_ : *file_; }

FileFormat DetectFormat(const std::string& path) { return InputFile(path).Format(); }

FileFormat DetectFormatOf(std::string_view text) {
  std::size_t i = 0;
  for (;;) {  // blanks and comments before a tagged file's first tag
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (text.compare(i, 2, "/*") != 0) break;
    const std::size_t end = text.find("*/", i + 2);
    if (end == std::string_view::npos) break;
    i = end + 2;
  }
  if (i < text.size() && text[i] == '[') return TaggedFormat(text.substr(i));

  // SOM_PAK files: the first line that is not a comment.
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0].starts_with('#')) continue;
    return SomPakFormat(line, words);
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

std::vector<OptionEntry> DataInputOptions() {
  return {
      {"from", 0, "FORMAT", "input format: dataset, csv, sompak, codebook or network", "by content"},
      {"separator", 0, "C", "CSV separator: ',', ';' or 'tab'", "found from the first line"},
      {"header", 0, nullptr, "the CSV's first row holds column names", "detected"},
      {"no-header", 0, nullptr, "the CSV's first row holds data", "detected"},
      {"label-column", 0, "COLUMN", "CSV column (name or number from 1) holding each row's label", "none"},
  };
}

DataInputChoice DataInputFrom(const ParsedOptions& options, std::string_view labelOption) {
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
  choice.csv.labelColumn = options.Text(labelOption);
  if (options.Has(labelOption)) {
    const std::string option = "option --" + std::string(labelOption);
    const std::string& column = choice.csv.labelColumn;
    const bool number = !column.empty() && column.find_first_not_of("0123456789") == std::string::npos;
    if (column.empty() || (number && column.find_first_not_of('0') == std::string::npos))
      throw UsageError{option + " expects a column name or a number from 1, not '" + column + "'"};
    if (!number && choice.csv.header == 0)
      throw UsageError{option + " names a column, but --no-header says there are no names"};
  }
  return choice;
}

void PrintWarnings(const char* tool, const std::vector<std::string>& warnings, std::ostream& err) {
  for (const std::string& warning : warnings) err << tool << ": " << warning << '\n';
  err.flush();
}

DataTable ReadDataFile(const std::string& path, FileFormat format, const CsvOptions& csv) {
  InputFile in(path);
  return ReadDataFile(in, format, csv);
}

DataTable ReadDataFile(InputFile& file, FileFormat format, const CsvOptions& csv) {
  const std::string& path = file.Path();
  if (format == FileFormat::Unknown) format = file.Format();
  DataTable table;
  switch (format) {
    case FileFormat::DataSet:
      ReadFile(file, [&](std::istream& in) {
        FileTools tools;
        std::unique_ptr<Data> result;
        ReadDataSetFile(tools, in, table.data, result);
      });
      if (!table.data) throw RunError{path, "holds no data set"};
      return table;
    case FileFormat::Csv:
      ReadFile(file, [&](std::istream& in) { table = ReadCsv(in, csv); });
      break;
    case FileFormat::SomPakData:
      ReadFile(file, [&](std::istream& in) { table = ReadSomPakData(in); });
      break;
    default:
      throw RunError{path, "is a map, not a data set"};
  }
  std::vector<std::string> bare;
  bare.swap(table.warnings);
  AddWarnings(path, bare, table.warnings);
  return table;
}

void WriteAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
  AtomicFile file;
  if (!file.Open(path)) throw RunError{path, "cannot create: " + file.ErrorText()};
  write(file.Stream());  // an exception abandons the file (destructor)
  if (!file.Commit()) throw RunError{path, "cannot write: " + file.ErrorText()};
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool ConvertCsvFileAsRead(const std::string& inPath, const CsvOptions& csv, const std::string& outPath) {
  if (!IsRegularFile(inPath)) return false;
  std::int64_t records = 0;
  {
    InputFile counted(inPath);
    ReadFile(counted, [&](std::istream& in) { records = CountCsvRecords(in); });
  }
  struct GiveUp {};  // thrown inside the write to abandon it
  try {
    WriteAtomically(outPath, [&](std::ostream& out) {
      InputFile rows(inPath);
      bool written = false;
      ReadFile(rows, [&](std::istream& in) { written = StreamCsvToDataSet(in, csv, records, out); });
      if (!written) throw GiveUp{};
    });
  } catch (const GiveUp&) {
    return false;
  }
  return true;
}

void WriteDataTo(std::ostream& out, const std::string& path, const DataTable& table, FileFormat format,
                 const CsvOptions& csv, std::vector<std::string>* warnings) {
  if (format == FileFormat::Unknown) format = FormatFromExtension(path);
  if (format == FileFormat::Network || format == FileFormat::SomPakCodebook)
    throw RunError{path, "a data set cannot be written as a map"};
  std::vector<std::string> bare;
  WithFile(path, [&] {
    switch (format) {
      case FileFormat::Csv:
      case FileFormat::SomPakData: {
        if (format == FileFormat::Csv)
          WriteCsv(out, table, csv, &bare);
        else
          WriteSomPakData(out, table, &bare);
        const std::int64_t weighted = RowsWithLabelWeights(*table.data);
        if (weighted > 0)
          bare.push_back(Counted(weighted, "row has", "rows have") +
                         " label weights other than 1; the weights are not written");
        break;
      }
      default: {
        const Data& data = *table.data;
        if (data.MbrHasLabels)
          for (std::int32_t r = 0; r < data.MbrNdxRows; ++r)
            for (const TLabel& label : data.MbrDyaLabels[static_cast<std::size_t>(r)].labels)
              if (!IsDataSetLabel(label.name))
                throw RunError{path, "row " + std::to_string(r + 1) + ": the label '" + label.name +
                                         "' cannot be written to a data set file (a label is one word without "
                                         "blanks, commas or any of []/*=<>)"};
        FileTools tools;
        const int32_t status = WriteDataSetFile(tools, out, &data, nullptr);
        if (status == ERR_FORMAT) throw RunError{path, "the data cannot be written as a data set file"};
        if (status == ERR_ROWS) throw RunError{path, "no rows to write"};
      }
    }
  });
  if (warnings != nullptr) AddWarnings(path, bare, *warnings);
}

void WriteDataFile(const std::string& path, const DataTable& table, FileFormat format, const CsvOptions& csv,
                   std::vector<std::string>* warnings) {
  if (format == FileFormat::Unknown) format = FormatFromExtension(path);
  if (format == FileFormat::Network || format == FileFormat::SomPakCodebook)
    throw RunError{path, "a data set cannot be written as a map"};
  WriteAtomically(path, [&](std::ostream& out) { WriteDataTo(out, path, table, format, csv, warnings); });
}

std::unique_ptr<TKohonenNetwork> ReadMapFile(const std::string& path, FileFormat format,
                                             std::vector<std::string>* warnings) {
  InputFile in(path);
  return ReadMapFile(in, format, warnings);
}

std::unique_ptr<TKohonenNetwork> ReadMapFile(InputFile& file, FileFormat format, std::vector<std::string>* warnings) {
  const std::string& path = file.Path();
  const bool detected = format == FileFormat::Unknown;
  if (detected) format = file.Format();
  std::unique_ptr<TKohonenNetwork> map;
  std::vector<std::string> bare;
  switch (format) {
    case FileFormat::Network:
      ReadFile(file, [&](std::istream& in) {
        FileTools tools;
        std::unique_ptr<TBasicNetwork> network = ReadNetwork(tools, in);
        auto* kohonen = dynamic_cast<TKohonenNetwork*>(network.get());
        if (kohonen == nullptr) throw RunError{path, "Not a Kohonen network"};
        network.release();
        map.reset(kohonen);
      });
      break;
    case FileFormat::SomPakCodebook:
      ReadFile(file, [&](std::istream& in) { map = ReadCodebook(in, &bare); });
      break;
    default:
      throw RunError{path, std::string("not a map (a network file or SOM_PAK codebook); ") +
                               (detected ? "its content reads as " : "it was given as ") + FormatDescription(format)};
  }
  if (warnings != nullptr) AddWarnings(path, bare, *warnings);
  return map;
}

void WriteMapTo(std::ostream& out, const std::string& path, TKohonenNetwork& map, FileFormat format,
                std::vector<std::string>* warnings) {
  if (format == FileFormat::Unknown) format = FormatFromExtension(path);
  std::vector<std::string> bare;
  WithFile(path, [&] {
    switch (format) {
      case FileFormat::Network: {
        FileTools tools;
        WriteNetwork(tools, out, &map);
        break;
      }
      case FileFormat::SomPakCodebook:
        WriteCodebook(out, map, &bare);
        break;
      default:
        throw RunError{path, "a map cannot be written as a data set"};
    }
  });
  if (warnings != nullptr) AddWarnings(path, bare, *warnings);
}

void WriteMapFile(const std::string& path, TKohonenNetwork& map, FileFormat format,
                  std::vector<std::string>* warnings) {
  if (format == FileFormat::Unknown) format = FormatFromExtension(path);
  if (format != FileFormat::Network && format != FileFormat::SomPakCodebook)
    throw RunError{path, "a map cannot be written as a data set"};
  WriteAtomically(path, [&](std::ostream& out) { WriteMapTo(out, path, map, format, warnings); });
}

}  // namespace mapsmith
