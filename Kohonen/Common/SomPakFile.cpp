#include "Kohonen/Common/SomPakFile.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <ostream>

#include "FileHandler/ParseTools.h"
#include "KQmessage/Assert.h"
#include "Kohonen/Common/TextInput.h"
#include "NeuralNets/TConnectedConnections.h"

namespace mapsmith {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The next blank-separated word of `line` from `pos` (empty at the end).
std::string_view NextWord(std::string_view line, std::size_t& pos) {
  while (pos < line.size() && IsSpace(line[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < line.size() && !IsSpace(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  for (std::string_view w = NextWord(line, pos); !w.empty(); w = NextWord(line, pos)) words.push_back(w);
  return words;
}

// A line that holds nothing (blank) or only a comment.
bool IsCommentOrEmpty(std::string_view line) {
  std::size_t pos = 0;
  while (pos < line.size() && IsSpace(line[pos])) ++pos;
  return pos == line.size() || line[pos] == '#';
}

// The words after "#n" when the line names the columns, else false.
bool ColumnNamesLine(std::string_view line, std::vector<std::string>& names) {
  std::size_t pos = 0;
  const std::string_view first = NextWord(line, pos);
  if (first != "#n") return false;
  names.clear();
  for (std::string_view w = NextWord(line, pos); !w.empty(); w = NextWord(line, pos)) names.emplace_back(w);
  return true;
}

bool ParseCount(std::string_view word, std::int64_t& value) {
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  return ec == std::errc() && end == word.data() + word.size();
}

// Reads `count` numbers of one line into `store`, refusing what is not a
// finite number; `pos` ends after them.
void ReadValues(std::string_view line, std::size_t& pos, std::int64_t count, std::int64_t lineNumber,
                RowStore& store) {
  for (std::int64_t c = 0; c < count; ++c) {
    const std::string_view word = NextWord(line, pos);
    if (word.empty())
      ThrowFileError("line " + std::to_string(lineNumber) + ": " + Counted(c, "value", "values") +
                     " where the file declares " + std::to_string(count));
    const std::string where = "line " + std::to_string(lineNumber) + ", column " + std::to_string(c + 1) + ": ";
    if (word == "x") ThrowFileError(where + "missing value 'x'; missing values are not supported");
    double value = 0.0;
    switch (ParseNumberText(word, value)) {
      case NumberText::Ok:
        break;
      case NumberText::NotFinite:
        ThrowFileError(where + QuoteForMessage(word) + " is not a finite number");
      case NumberText::OutOfRange:
        ThrowFileError(where + QuoteForMessage(word) + " is out of range");
      default:
        ThrowFileError(where + QuoteForMessage(word) + " is not a number");
    }
    store.Push(value);
  }
}

bool IsQualifier(std::string_view word) { return word.starts_with("weight=") || word.starts_with("fixed="); }

// A word that reads back as the same single label.
bool IsLabelWord(std::string_view word) {
  return !word.empty() && !IsQualifier(word) && std::none_of(word.begin(), word.end(), [](char c) {
    return IsSpace(c) || c == '\n';
  });
}

std::string FormatCount(std::int64_t n) { return std::to_string(n); }

}  // namespace

// ---------------------------------------------------------------- data file

DataTable ReadSomPakData(std::istream& in) {
  LineReader lines(in);
  std::string_view line;
  std::vector<std::string> names;
  bool named = false;
  std::int64_t columns = -1;
  while (lines.Next(line)) {
    if (IsCommentOrEmpty(line)) {
      named |= ColumnNamesLine(line, names);
      continue;
    }
    std::size_t pos = 0;
    const std::string_view first = NextWord(line, pos);
    if (!ParseCount(first, columns) || columns < 1 || columns > kMaxCount)
      ThrowFileError("line " + std::to_string(lines.LineNumber()) +
                     ": the first line must give the number of columns, not " + QuoteForMessage(first));
    break;
  }
  if (columns < 0) ThrowFileError("the file is empty: its first line must give the number of columns");

  RowStore store(static_cast<std::size_t>(columns));
  std::vector<TLabelList> labels;
  bool anyLabels = false;
  std::int64_t qualified = 0;
  while (lines.Next(line)) {
    if (IsCommentOrEmpty(line)) {
      named |= ColumnNamesLine(line, names);
      continue;
    }
    if (store.Rows() == kMaxCount) ThrowFileError("more than " + std::to_string(kMaxCount) + " rows");
    store.BeginRow();
    std::size_t pos = 0;
    ReadValues(line, pos, columns, lines.LineNumber(), store);
    TLabelList& list = labels.emplace_back();
    bool hasQualifier = false;
    for (std::string_view w = NextWord(line, pos); !w.empty(); w = NextWord(line, pos)) {
      if (IsQualifier(w)) {
        hasQualifier = true;
      } else {
        list.Add(w, 1.0);
        anyLabels = true;
      }
    }
    qualified += hasQualifier;
  }

  DataTable table;
  const auto rows = static_cast<std::int32_t>(store.Rows());
  table.data = std::make_unique<Data>(rows, static_cast<std::int32_t>(columns), 0, anyLabels);
  for (std::int32_t r = 0; r < rows; ++r)
    table.data->AddRow(store.Row(static_cast<std::size_t>(r)), nullptr, anyLabels ? &labels[r] : nullptr);
  table.data->Rewind();
  if (named) {
    if (static_cast<std::int64_t>(names.size()) == columns)
      table.columnNames = std::move(names);
    else
      table.warnings.push_back("the #n line names " + FormatCount(static_cast<std::int64_t>(names.size())) +
                               " columns, the data has " + FormatCount(columns) + "; the names are ignored");
  }
  if (qualified > 0)
    table.warnings.push_back(Counted(qualified, "row carries", "rows carry") +
                             " weight= or fixed= qualifiers, which are ignored");
  return table;
}

void WriteSomPakData(std::ostream& out, const DataTable& table, std::vector<std::string>* warnings) {
  const Data& data = *table.data;
  const std::int32_t inputs = std::max(data.MbrNdxInputs, 0);
  const std::int32_t outputs = std::max(data.MbrNdxOutputs, 0);
  const std::int32_t columns = inputs + outputs;
  if (columns == 0) ThrowFileError("a SOM_PAK data file needs at least one column of numbers; this data set has none");
  if (data.MbrHasLabels)
    for (std::int32_t r = 0; r < data.MbrNdxRows; ++r)
      for (const TLabel& label : data.MbrDyaLabels[static_cast<std::size_t>(r)].labels)
        if (!IsLabelWord(label.name))
          ThrowFileError("row " + std::to_string(r + 1) + ": the label " + QuoteForMessage(label.name) +
                         " cannot be written to a SOM_PAK file (a label is one word, not weight= or fixed=)");

  std::string buffer = std::to_string(columns) + '\n';
  if (!table.columnNames.empty()) {
    std::string line = "#n";
    bool words = true;
    for (std::int32_t c = 0; c < columns; ++c) {
      const std::size_t i = static_cast<std::size_t>(c);
      const std::string name = i < table.columnNames.size() ? table.columnNames[i] : MadeUpColumnName(c);
      words = words && !name.empty() && std::none_of(name.begin(), name.end(), [](char ch) {
                return IsSpace(ch) || ch == '\n';
              });
      line += ' ' + name;
    }
    if (words)
      buffer += line + '\n';
    else if (warnings != nullptr)
      warnings->push_back("the column names are left out: a #n line cannot hold names with blanks");
  }
  char number[FileTools::GeneralNumberSize];
  std::vector<const TLabel*> order;
  for (std::int32_t r = 0; r < data.MbrNdxRows; ++r) {
    for (std::int32_t c = 0; c < columns; ++c) {
      if (c > 0) buffer += ' ';
      const double value = c < inputs ? data.MbrDyaRtpInputs[r][c] : data.MbrDyaRtpOutputs[r][c - inputs];
      buffer.append(FileTools::FormatGeneral(value, number));
    }
    if (data.MbrHasLabels) {
      // Heaviest first (equal weights in the list's order): the weights are
      // not written, so the first label read back is the heaviest.
      const std::vector<TLabel>& list = data.MbrDyaLabels[static_cast<std::size_t>(r)].labels;
      order.clear();
      for (const TLabel& label : list) order.push_back(&label);
      std::stable_sort(order.begin(), order.end(),
                       [](const TLabel* a, const TLabel* b) { return a->value > b->value; });
      for (const TLabel* label : order) {
        buffer += ' ';
        buffer += label->name;
      }
    }
    buffer += '\n';
    if (buffer.size() >= (std::size_t{1} << 16)) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  if (warnings != nullptr && outputs > 0)
    warnings->push_back("the " + Counted(outputs, "expected output", "expected outputs") +
                        " are written as ordinary columns after the inputs");
}

// ----------------------------------------------------------------- codebook

std::unique_ptr<TKohonenNetwork> ReadCodebook(std::istream& in, std::vector<std::string>* warnings) {
  LineReader lines(in);
  std::string_view line;
  std::int64_t dim = 0, xdim = 0, ydim = 0;
  bool header = false;
  while (lines.Next(line)) {
    if (IsCommentOrEmpty(line)) continue;
    const std::string where = "line " + std::to_string(lines.LineNumber()) + ": ";
    const std::vector<std::string_view> words = Words(line);
    if (words.size() >= 2 && words[1] == "hexa")
      ThrowFileError(where + "hexagonal (hexa) codebooks are not supported; maps here are rectangular grids");
    if (words.size() < 4 || words[1] != "rect" || !ParseCount(words[0], dim) || !ParseCount(words[2], xdim) ||
        !ParseCount(words[3], ydim))
      ThrowFileError(where + "a codebook begins with '<dim> rect <xdim> <ydim> <neighbourhood>', not " +
                     QuoteForMessage(line));
    if (dim < 1 || xdim < 1 || ydim < 1) ThrowFileError(where + "the dimension and both sizes must be at least 1");
    if (dim > kMaxCount || xdim > kMaxCount || ydim > kMaxCount || xdim * ydim > kMaxCount ||
        xdim * ydim * dim > kMaxCount)
      ThrowFileError(where + "the map is too large: more than " + std::to_string(kMaxCount) + " weights");
    header = true;
    break;
  }
  if (!header) ThrowFileError("the file is empty: a codebook begins with '<dim> rect <xdim> <ydim> <neighbourhood>'");

  const std::int64_t units = xdim * ydim;
  RowStore store(static_cast<std::size_t>(dim));
  std::int64_t labelled = 0;
  while (lines.Next(line)) {
    if (IsCommentOrEmpty(line)) continue;
    if (store.Rows() == units)
      ThrowFileError("line " + std::to_string(lines.LineNumber()) + ": more units than the " + std::to_string(xdim) +
                     " x " + std::to_string(ydim) + " grid holds");
    store.BeginRow();
    std::size_t pos = 0;
    ReadValues(line, pos, dim, lines.LineNumber(), store);
    labelled += !NextWord(line, pos).empty();
  }
  if (store.Rows() < units)
    ThrowFileError("the file ends after " + Counted(store.Rows(), "unit", "units") + "; the " + std::to_string(xdim) +
                   " x " + std::to_string(ydim) + " grid has " + std::to_string(units));

  // ydim 1 is a one-dimensional map; otherwise y is our first dimension.
  const int sizes[2] = {static_cast<int>(ydim), static_cast<int>(xdim)};
  auto map = ydim == 1 ? std::make_unique<TKohonenNetwork>(static_cast<int>(dim), 1, sizes + 1)
                       : std::make_unique<TKohonenNetwork>(static_cast<int>(dim), 2, sizes);
  auto* set = dynamic_cast<TConnectedConnections*>(map->priv_conns_index[2][1].get());
  MAPSMITH_ASSERT(set != nullptr);
  for (std::int64_t i = 0; i < units; ++i)
    std::copy_n(store.Row(static_cast<std::size_t>(i)), dim, set->index_weights[static_cast<std::size_t>(i)]);
  if (labelled > 0 && warnings != nullptr)
    warnings->push_back(Counted(labelled, "unit carries", "units carry") + " labels, which are ignored");
  return map;
}

void WriteCodebook(std::ostream& out, TKohonenNetwork& map, std::vector<std::string>* warnings) {
  const int dimensions = map.numDimensions;
  if (dimensions < 1 || dimensions > 2)
    ThrowFileError("a SOM_PAK codebook holds maps of one or two dimensions; this map has " +
                   std::to_string(dimensions));
  MAPSMITH_ASSERT(map.numLayers == 3);
  const int inputs = map.layers[1]->numNeurons;
  const int neurons = map.layers[2]->numNeurons;
  const std::int64_t xdim = dimensions == 1 ? map.dimensions[0] : map.dimensions[1];
  const std::int64_t ydim = dimensions == 1 ? 1 : map.dimensions[0];
  if (xdim < 1 || ydim < 1 || xdim * ydim != neurons)
    ThrowFileError("the map's grid does not match its " + Counted(neurons, "neuron", "neurons"));
  if (inputs < 1) ThrowFileError("a map without inputs cannot be written as a codebook");
  TBasicConnections* set = map.priv_conns_index[2][1].get();
  if (!set->IsConnected()) ThrowFileError("the map has no weights from its inputs to its neurons");
  for (int i = 0; i < neurons; ++i)
    for (int j = 0; j < inputs; ++j)
      if (!set->WeightExists(j, i))
        ThrowFileError("the weight from input " + std::to_string(j) + " to neuron " + std::to_string(i) +
                       " is pruned; a codebook holds every weight");

  std::string buffer =
      std::to_string(inputs) + " rect " + std::to_string(xdim) + " " + std::to_string(ydim) + " gaussian\n";
  char number[FileTools::GeneralNumberSize];
  for (int i = 0; i < neurons; ++i) {
    for (int j = 0; j < inputs; ++j) {
      if (j > 0) buffer += ' ';
      buffer.append(FileTools::FormatGeneral(set->Weight(j, i), number));
    }
    buffer += '\n';
    if (buffer.size() >= (std::size_t{1} << 16)) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  if (warnings != nullptr && dimensions == 2 && ydim == 1)
    warnings->push_back("the 1 x " + std::to_string(xdim) + " map is written as xdim " + std::to_string(xdim) +
                        ", ydim 1, which reads back as a one-dimensional map of " +
                        Counted(xdim, "neuron", "neurons"));
}

}  // namespace mapsmith
