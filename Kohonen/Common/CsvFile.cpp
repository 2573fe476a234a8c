#include "Kohonen/Common/CsvFile.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <sstream>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/TextInput.h"

namespace mapsmith {

namespace {

// A label column given as digits is a column number, else a name.
bool IsColumnNumber(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

class CsvReader {
 public:
  CsvReader(std::istream& in, const CsvOptions& options) : lines_(in), options_(options) {}
  DataTable Read();
  std::int64_t CountRecords();
  bool StreamToDataSet(std::int64_t records, std::ostream& out);
  // The cells of the first record (empty when there is none).
  std::vector<std::string> FirstRecord();

 private:
  bool NextRecord();
  bool StartRecords();
  void ReadRecord();
  char FindSeparator(std::string_view record) const;
  void Split(std::string_view record);
  void ResolveLabelColumn();
  bool FirstLineIsHeader() const;
  void ReadRecordFast(std::string_view record);
  void ReadCells();
  bool IsBlank(char c) const { return c == ' ' || (c == '\t' && separator_ != '\t'); }
  std::string_view Trim(std::string_view text) const;
  std::string Where(std::size_t offset, std::size_t column) const;
  [[noreturn]] void NumberError(NumberText status, std::string_view text, std::size_t offset,
                                std::size_t column) const;
  [[noreturn]] void CellCountError(std::size_t cells) const;
  void WriteStoredRows(std::ostream& out, std::vector<char>& text) const;

  LineReader lines_;
  const CsvOptions& options_;
  bool firstLine_ = true;
  std::string joined_;              // a record that spans lines
  std::string_view record_;         // the current record
  std::int64_t recordLine_ = 0;     // its first line
  std::int64_t firstRecordLine_ = 0;
  char separator_ = ',';
  std::vector<std::string> cells_;  // the current record's cells (general path)
  std::size_t columns_ = 0;         // cells of the first record
  std::ptrdiff_t labelColumn_ = -1; // 0-based, or -1
  bool header_ = false;
  std::vector<std::string> names_;  // header cells
  std::vector<std::string> labels_;
  std::int64_t emptyLabels_ = 0;
  std::unique_ptr<RowStore> store_;
};

// The next record that is not an empty line; a record whose quotes do not
// pair up on its line continues on the next lines (a quoted cell holding line
// ends, kept as LF or CRLF as the file has them). Counting quotes suffices:
// inside a quoted cell an escaped quote is a pair.
bool CsvReader::NextRecord() {
  std::string_view line;
  for (;;) {
    if (!lines_.Next(line)) return false;
    if (firstLine_) {
      firstLine_ = false;
      if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    }
    if (!line.empty()) break;
  }
  recordLine_ = lines_.LineNumber();
  if (std::memchr(line.data(), '"', line.size()) == nullptr) {
    record_ = line;
    return true;
  }
  std::size_t quotes = static_cast<std::size_t>(std::count(line.begin(), line.end(), '"'));
  if (quotes % 2 == 0) {
    record_ = line;
    return true;
  }
  joined_.assign(line);
  // A line end inside a quoted cell is kept as the file has it.
  bool crlf = lines_.EndedInCrLf();
  while (quotes % 2 == 1 && lines_.Next(line)) {
    joined_ += crlf ? "\r\n" : "\n";
    crlf = lines_.EndedInCrLf();
    joined_.append(line);
    quotes += static_cast<std::size_t>(std::count(line.begin(), line.end(), '"'));
  }
  record_ = joined_;
  return true;
}

char CsvReader::FindSeparator(std::string_view record) const {
  std::int64_t commas = 0, semicolons = 0, tabs = 0;
  bool quoted = false;
  for (char c : record) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    commas += c == ',';
    semicolons += c == ';';
    tabs += c == '\t';
  }
  if (semicolons > commas && semicolons >= tabs) return ';';
  if (tabs > commas && tabs > semicolons) return '\t';
  return ',';
}

std::string_view CsvReader::Trim(std::string_view text) const {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string CsvReader::Where(std::size_t offset, std::size_t column) const {
  const std::int64_t line =
      recordLine_ + std::count(record_.begin(), record_.begin() + static_cast<std::ptrdiff_t>(std::min(offset, record_.size())), '\n');
  std::string where = "line " + std::to_string(line) + ", column " + std::to_string(column);
  if (header_ && column >= 1 && column <= columns_) {
    const std::string& name = names_[column - 1];
    if (!name.empty()) where += " (" + name + ")";
  }
  return where + ": ";
}

void CsvReader::NumberError(NumberText status, std::string_view text, std::size_t offset, std::size_t column) const {
  std::string what;
  switch (status) {
    case NumberText::Empty:
      what = "empty cell";
      break;
    case NumberText::NotFinite:
      what = QuoteForMessage(text) + " is not a finite number";
      break;
    case NumberText::OutOfRange:
      what = QuoteForMessage(text) + " is out of range";
      break;
    default:
      what = QuoteForMessage(text) + " is not a number";
      break;
  }
  if (options_.header < 0 && recordLine_ == firstRecordLine_)
    what += " (give --header if line " + std::to_string(firstRecordLine_) + " holds column names)";
  ThrowFileError(Where(offset, column) + what);
}

void CsvReader::CellCountError(std::size_t cells) const {
  ThrowFileError("line " + std::to_string(recordLine_) + ": " +
                 Counted(static_cast<std::int64_t>(cells), "cell", "cells") + " where line " +
                 std::to_string(firstRecordLine_) + " has " + std::to_string(columns_));
}

// Splits a record into cells, undoing the quoting.
void CsvReader::Split(std::string_view record) {
  cells_.clear();
  const std::size_t n = record.size();
  std::size_t i = 0;
  for (;;) {
    const std::size_t column = cells_.size() + 1;
    std::size_t j = i;
    while (j < n && IsBlank(record[j])) ++j;
    std::string cell;
    if (j < n && record[j] == '"') {
      std::size_t k = j + 1;
      for (;;) {
        const std::size_t q = record.find('"', k);
        if (q == std::string_view::npos) ThrowFileError(Where(j, column) + "the quoted cell is not closed");
        cell.append(record.substr(k, q - k));
        if (q + 1 < n && record[q + 1] == '"') {
          cell += '"';
          k = q + 2;
          continue;
        }
        i = q + 1;
        break;
      }
      while (i < n && IsBlank(record[i])) ++i;
      if (i < n && record[i] != separator_) ThrowFileError(Where(i, column) + "text after the closing quote");
    } else {
      std::size_t stop = record.find(separator_, i);
      if (stop == std::string_view::npos) stop = n;
      const std::string_view raw = Trim(record.substr(i, stop - i));
      if (raw.find('"') != std::string_view::npos)
        ThrowFileError(Where(i, column) + "a quote inside an unquoted cell (quote the whole cell)");
      cell.assign(raw);
      i = stop;
    }
    cells_.push_back(std::move(cell));
    if (i >= n) break;
    ++i;  // the separator
  }
}

void CsvReader::ResolveLabelColumn() {
  const std::string& wanted = options_.labelColumn;
  if (wanted.empty()) return;
  if (IsColumnNumber(wanted)) {
    std::size_t number = 0;
    const auto [end, ec] = std::from_chars(wanted.data(), wanted.data() + wanted.size(), number);
    if (ec != std::errc() || number < 1 || number > columns_)
      ThrowFileError("there is no column " + wanted + ": line " + std::to_string(firstRecordLine_) + " has " +
                     Counted(static_cast<std::int64_t>(columns_), "cell", "cells"));
    labelColumn_ = static_cast<std::ptrdiff_t>(number - 1);
    return;
  }
  if (options_.header == 0)
    ThrowFileError("the label column " + QuoteForMessage(wanted) + " is a name, but there is no header row");
  for (std::size_t i = 0; i < cells_.size(); ++i)
    if (cells_[i] == wanted) {
      labelColumn_ = static_cast<std::ptrdiff_t>(i);
      return;
    }
  ThrowFileError("no column of line " + std::to_string(firstRecordLine_) + " is named " + QuoteForMessage(wanted));
}

bool CsvReader::FirstLineIsHeader() const {
  if (options_.header >= 0) return options_.header == 1;
  if (labelColumn_ >= 0 && !IsColumnNumber(options_.labelColumn)) return true;
  bool anyOther = false;
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    if (static_cast<std::ptrdiff_t>(i) == labelColumn_) continue;
    anyOther = true;
    double value;
    if (ParseNumberText(cells_[i], value) == NumberText::Ok) return false;
  }
  return anyOther;  // a file of labels alone: nothing tells, so no header
}

// A record without quotes: numbers straight from the text.
void CsvReader::ReadRecordFast(std::string_view record) {
  const char* const begin = record.data();
  const char* const end = begin + record.size();
  const char* p = begin;
  store_->BeginRow();
  for (std::size_t c = 0; c < columns_; ++c) {
    if (static_cast<std::ptrdiff_t>(c) == labelColumn_) {
      const void* sep = std::memchr(p, separator_, static_cast<std::size_t>(end - p));
      const char* stop = sep != nullptr ? static_cast<const char*>(sep) : end;
      const std::string_view label = Trim(std::string_view(p, static_cast<std::size_t>(stop - p)));
      emptyLabels_ += label.empty();
      labels_.emplace_back(label);
      p = stop;
    } else {
      double value;
      const char* q = ParseNumberFast(p, end, value);
      if (q == nullptr || (q != end && *q != separator_)) {
        const void* sep = std::memchr(p, separator_, static_cast<std::size_t>(end - p));
        const char* stop = sep != nullptr ? static_cast<const char*>(sep) : end;
        const std::string_view cell(p, static_cast<std::size_t>(stop - p));
        const NumberText status = ParseNumberText(cell, value);
        if (status != NumberText::Ok) NumberError(status, Trim(cell), static_cast<std::size_t>(p - begin), c + 1);
        q = stop;
      }
      store_->Push(value);
      p = q;
    }
    if (c + 1 < columns_) {
      if (p == end) CellCountError(c + 1);
      ++p;  // the separator
    }
  }
  if (p != end) CellCountError(columns_ + 1 + static_cast<std::size_t>(std::count(p + 1, end, separator_)));
}

// A record split into cells_ (quoted cells, or the first line).
void CsvReader::ReadCells() {
  if (cells_.size() != columns_) CellCountError(cells_.size());
  store_->BeginRow();
  for (std::size_t c = 0; c < columns_; ++c) {
    if (static_cast<std::ptrdiff_t>(c) == labelColumn_) {
      emptyLabels_ += cells_[c].empty();
      labels_.push_back(cells_[c]);
      continue;
    }
    double value;
    const NumberText status = ParseNumberText(cells_[c], value);
    if (status != NumberText::Ok) {
      // Find the cell again for its line.
      std::size_t offset = 0;
      for (std::size_t k = 0; k < c; ++k) {
        bool quoted = false;
        while (offset < record_.size() && (quoted || record_[offset] != separator_)) {
          if (record_[offset] == '"') quoted = !quoted;
          ++offset;
        }
        ++offset;
      }
      NumberError(status, cells_[c], offset, c + 1);
    }
    store_->Push(value);
  }
}

std::vector<std::string> CsvReader::FirstRecord() {
  if (!NextRecord()) return {};
  separator_ = options_.separator != 0 ? options_.separator : FindSeparator(record_);
  Split(record_);
  return cells_;
}

DataTable CsvReader::Read() {
  DataTable table;
  if (!StartRecords()) ThrowFileError("the file holds no data, not even a header line");
  const std::size_t inputs = columns_ - (labelColumn_ >= 0 ? 1 : 0);
  if (inputs > static_cast<std::size_t>(kMaxCount))
    ThrowFileError("more than " + std::to_string(kMaxCount) + " columns");
  store_ = std::make_unique<RowStore>(inputs);
  if (header_) {
    names_ = cells_;
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (static_cast<std::ptrdiff_t>(i) == labelColumn_)
        table.labelName = names_[i];
      else
        table.columnNames.push_back(names_[i]);
    }
  } else {
    ReadCells();
  }
  while (NextRecord()) {
    if (store_->Rows() == kMaxCount) ThrowFileError("more than " + std::to_string(kMaxCount) + " rows");
    ReadRecord();
  }

  const auto rows = static_cast<std::int32_t>(store_->Rows());
  const bool hasLabels = labelColumn_ >= 0;
  table.data = std::make_unique<Data>(rows, static_cast<std::int32_t>(inputs), 0, hasLabels);
  TLabelList list;
  for (std::int32_t r = 0; r < rows; ++r) {
    if (hasLabels) {
      list.labels.clear();
      if (!labels_[r].empty()) list.Add(labels_[r], 1.0);
    }
    table.data->AddRow(store_->Row(static_cast<std::size_t>(r)), nullptr, hasLabels ? &list : nullptr);
  }
  table.data->Rewind();
  if (emptyLabels_ > 0)
    table.warnings.push_back(Counted(emptyLabels_, "row has", "rows have") + " an empty label cell and no label");
  return table;
}

// Reads the first record and takes from it what the rest is read by: the
// separator, the number of cells, the label column, whether it is a header.
// False when the text holds no record.
bool CsvReader::StartRecords() {
  if (!NextRecord()) return false;
  firstRecordLine_ = recordLine_;
  separator_ = options_.separator != 0 ? options_.separator : FindSeparator(record_);
  Split(record_);
  columns_ = cells_.size();
  ResolveLabelColumn();
  header_ = FirstLineIsHeader();
  return true;
}

// A record after the first into the store: straight from the text when it
// holds no quotes.
void CsvReader::ReadRecord() {
  if (std::memchr(record_.data(), '"', record_.size()) == nullptr) {
    ReadRecordFast(record_);
  } else {
    Split(record_);
    ReadCells();
  }
}

std::int64_t CsvReader::CountRecords() {
  std::int64_t records = 0;
  while (NextRecord()) ++records;
  return records;
}

// The rows held, as the data set writer writes rows of inputs alone: each
// number and a blank, two blanks, the line end.
void CsvReader::WriteStoredRows(std::ostream& out, std::vector<char>& text) const {
  const std::size_t rows = static_cast<std::size_t>(store_->Rows());
  text.resize(rows * (columns_ * (FileTools::GeneralNumberSize + 1) + 3));
  char* p = text.data();
  for (std::size_t r = 0; r < rows; ++r) {
    const double* values = store_->Row(r);
    for (std::size_t c = 0; c < columns_; ++c) {
      p = FileTools::FormatGeneralTo(values[c], p);
      *p++ = ' ';
    }
    std::memcpy(p, "  \n", 3);
    p += 3;
  }
  out.write(text.data(), p - text.data());
}

// Read() with the rows written as they come: the first record is taken as
// Read takes it, and every record goes through Read's own checks, so a text
// Read refuses is refused here with the same message.
bool CsvReader::StreamToDataSet(std::int64_t records, std::ostream& out) {
  if (!options_.labelColumn.empty() || !StartRecords()) return false;
  const std::int64_t rows = records - (header_ ? 1 : 0);
  if (rows < 1 || rows > kMaxCount || columns_ > static_cast<std::size_t>(kMaxCount)) return false;
  FileTools tools;
  WriteDataSetHeader(tools, out, static_cast<std::int32_t>(columns_), 0, 0, 0, static_cast<std::int32_t>(rows));
  store_ = std::make_unique<RowStore>(columns_);
  // About 64K numbers at a time: one block of the store, reused.
  const std::int64_t flushAt = std::max<std::int64_t>(1, 65536 / static_cast<std::int64_t>(columns_));
  std::vector<char> text;
  std::int64_t read = 0;
  if (header_) {
    names_ = cells_;
  } else {
    ReadCells();
    read = 1;
  }
  while (NextRecord()) {
    if (++read > rows) return false;  // the text changed since it was counted
    ReadRecord();
    if (store_->Rows() == flushAt) {
      WriteStoredRows(out, text);
      store_->Reset();
    }
  }
  if (read != rows) return false;
  WriteStoredRows(out, text);
  WriteDataSetTrailer(tools, out);
  return true;
}

// ------------------------------------------------------------------ writing

bool NeedsQuotes(std::string_view text, char separator) {
  if (text.empty()) return false;
  if (text.starts_with("\xEF\xBB\xBF")) return true;  // would be taken for a byte order mark
  if (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' || text.back() == '\t') return true;
  for (char c : text)
    if (c == separator || c == '"' || c == '\n' || c == '\r') return true;
  return false;
}

void AppendCell(std::string& line, std::string_view text, char separator) {
  if (!NeedsQuotes(text, separator)) {
    line.append(text);
    return;
  }
  line += '"';
  for (char c : text) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

// The label a row's list is written as: the heaviest, the first of equals.
const TLabel* HeaviestLabel(const TLabelList& list) {
  const TLabel* best = nullptr;
  for (const TLabel& label : list.labels)
    if (best == nullptr || label.value > best->value) best = &label;
  return best;
}

}  // namespace

DataTable ReadCsv(std::istream& in, const CsvOptions& options) {
  CsvReader reader(in, options);
  return reader.Read();
}

std::int64_t CountCsvRecords(std::istream& in) {
  const CsvOptions options;
  return CsvReader(in, options).CountRecords();
}

bool StreamCsvToDataSet(std::istream& in, const CsvOptions& options, std::int64_t records, std::ostream& out) {
  return CsvReader(in, options).StreamToDataSet(records, out);
}

std::vector<std::string> CsvFirstRecord(std::string_view text, const CsvOptions& options) {
  std::istringstream in{std::string(text)};
  CsvReader reader(in, options);
  try {
    return reader.FirstRecord();
  } catch (const FileTools::Error&) {
    return {};  // a quoted cell not closed
  }
}

void WriteCsv(std::ostream& out, const DataTable& table, const CsvOptions& options,
              std::vector<std::string>* warnings) {
  const Data& data = *table.data;
  const char separator = options.separator != 0 ? options.separator : ',';
  const std::int32_t inputs = std::max(data.MbrNdxInputs, 0);
  const std::int32_t outputs = std::max(data.MbrNdxOutputs, 0);
  const bool labels = data.MbrHasLabels;
  std::string buffer;
  buffer.reserve(std::size_t{1} << 17);

  const bool header = options.header == 1 || (options.header < 0 && !table.columnNames.empty());
  if (header) {
    for (std::int32_t c = 0; c < inputs + outputs; ++c) {
      if (c > 0) buffer += separator;
      const std::size_t i = static_cast<std::size_t>(c);
      AppendCell(buffer, i < table.columnNames.size() ? table.columnNames[i] : MadeUpColumnName(c), separator);
    }
    if (labels) {
      if (inputs + outputs > 0) buffer += separator;
      const std::string name = table.labelName.empty() ? "label" : table.labelName;
      // An empty cell would read back as a missing name, so the made-up one stands in.
      AppendCell(buffer, name, separator);
    }
    if (buffer.empty()) buffer += "\"\"";  // one unnamed column: an empty line would be skipped
    buffer += '\n';
  }

  std::int64_t severalLabels = 0;
  char number[FileTools::GeneralNumberSize];
  for (std::int32_t r = 0; r < data.MbrNdxRows; ++r) {
    bool first = true;
    auto put = [&](double value) {
      if (!first) buffer += separator;
      first = false;
      buffer.append(FileTools::FormatGeneral(value, number));
    };
    if (inputs > 0)
      for (std::int32_t c = 0; c < inputs; ++c) put(data.MbrDyaRtpInputs[r][c]);
    if (outputs > 0)
      for (std::int32_t c = 0; c < outputs; ++c) put(data.MbrDyaRtpOutputs[r][c]);
    if (labels) {
      if (!first) buffer += separator;
      const TLabelList& list = data.MbrDyaLabels[static_cast<std::size_t>(r)];
      severalLabels += list.count() > 1;
      if (const TLabel* label = HeaviestLabel(list))
        AppendCell(buffer, label->name, separator);
      else if (first)
        buffer += "\"\"";  // a label column alone: an empty line would be skipped on reading
    }
    buffer += '\n';
    if (buffer.size() >= (std::size_t{1} << 16)) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));

  if (warnings != nullptr) {
    if (outputs > 0)
      warnings->push_back("the " + Counted(outputs, "expected output", "expected outputs") +
                          " are written as ordinary columns after the inputs");
    if (severalLabels > 0)
      warnings->push_back(Counted(severalLabels, "row has", "rows have") +
                          " several labels; the label column holds the heaviest of each");
  }
}

}  // namespace mapsmith
