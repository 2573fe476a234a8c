#include "FileHandler/Filer.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <istream>
#include <new>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string_view>
#include <vector>

#include "FileHandler/AtomicFile.h"

using mapsmith::strcasecmp;

namespace {

using Traits = std::char_traits<char>;
constexpr int kEof = Traits::eof();

[[noreturn]] void Fail(std::string message, std::ios& stream) {
  throw FileTools::Error(std::move(message), &stream);
}

// Separators as the tokenizer takes them: bytes below 33 or above 126 as
// signed 8-bit values, and the comma.
inline bool IsSeparator(int c) {
  const auto s = static_cast<signed char>(c);
  return s < 33 || s > 126 || c == ',';
}

// The stream's position. Meeting the end of input right after the last
// element read is no failure, but would make tellg refuse to answer.
std::streampos Position(std::istream& in) {
  if (in.eof() && !in.fail()) in.clear();
  return in.tellg();
}

// What the header says about the columns of a row.
struct Layout {
  int32_t inputs = 0;     // example set: inputs
  int32_t expected = 0;   // example set: expected outputs (0 with labels)
  int32_t generated = 0;  // result set: generated outputs (0 with labels)
  int32_t errors = 0;     // result set: error values
  bool exampleLabels = false;
  bool resultLabels = false;

  bool HasExample() const { return inputs > 0 || expected > 0 || exampleLabels; }
  bool HasResult() const { return generated > 0 || errors > 0 || resultLabels; }
};

Layout LayoutOf(int32_t inputs, int32_t expected, int32_t generated, int32_t errors) {
  Layout layout;
  layout.inputs = inputs;
  layout.errors = errors;
  layout.exampleLabels = expected == -1;
  layout.resultLabels = generated == -1;
  layout.expected = expected < 0 ? 0 : expected;
  layout.generated = generated < 0 ? 0 : generated;
  return layout;
}

// The bytes left in the stream, or -1 when the stream cannot tell. Asked of
// the stream's buffer, so the stream's state flags do not matter (after the
// end of input was met, the answer is 0).
double RemainingBytes(std::istream& in) {
  std::streambuf* buf = in.rdbuf();
  if (buf == nullptr) return -1;
  const std::streampos here = buf->pubseekoff(0, std::ios::cur, std::ios::in);
  if (here == std::streampos(-1)) return -1;
  const std::streampos end = buf->pubseekoff(0, std::ios::end, std::ios::in);
  buf->pubseekpos(here, std::ios::in);
  if (end == std::streampos(-1)) return -1;
  return static_cast<double>(end - here);
}

// Storage that a header may ask for without further checks.
constexpr double kCheckAbove = 1 << 20;

// Reads the rows of a data set file into the sets that the layout asks for,
// creating them on the way.
//
// A declared size is not trusted blindly. When the storage for the declared
// rows is large and the stream can tell how much input is left, the rest must
// be able to hold that many rows (every number needs at least one character,
// every label list two), else the file is refused before anything is
// allocated. When the stream cannot tell (a pipe), the sets start small and
// grow as rows arrive, and are first created once the first row has been read.
// Every row buffer grows as its numbers arrive too. A failed allocation is
// refused as an error of the file.
class RowReader {
 public:
  RowReader(FileTools& tools, std::istream& in, const std::string& dataName, const Layout& layout,
            std::unique_ptr<Data>& exampleSet, std::unique_ptr<Data>& resultSet)
      : tools_(tools), in_(in), dataName_(dataName), layout_(layout), exampleSet_(exampleSet),
        resultSet_(resultSet) {}

  // Reads `rows` rows: inputs, then the example set's label list or expected
  // outputs, then the result set's label list or generated outputs, then the
  // error values (where the writer puts them).
  void Read(int32_t rows) {
    const bool example = layout_.HasExample();
    const bool result = layout_.HasResult();
    if (!example && !result) return;  // nothing to read into
    const double numbers = (example ? double(layout_.inputs) + layout_.expected : 0.0) +
                           (result ? double(layout_.generated) + layout_.errors : 0.0);
    const double lists = (example && layout_.exampleLabels ? 1 : 0) + (result && layout_.resultLabels ? 1 : 0);
    const double rowBytes = numbers * sizeof(double) + lists * sizeof(TLabelList);
    int32_t capacity = rows < 0 ? 0 : rows;
    bool deferred = false;
    if (double(capacity) * rowBytes > kCheckAbove) {
      const double remaining = RemainingBytes(in_);
      if (remaining < 0) {
        deferred = true;
        capacity = static_cast<int32_t>(std::clamp(kCheckAbove / rowBytes, 1.0, double(capacity)));
      } else if (double(capacity) * (numbers + 2 * lists) > remaining) {
        Fail("Data set larger than the file", in_);
      }
    }
    if (!deferred) Create(capacity);

    for (int32_t r = 0; r < rows; ++r) {
      if (example) {
        ReadNumbers(inputs_, layout_.inputs);
        if (layout_.exampleLabels)
          exampleLabels_ = ReadLabelList(tools_, in_);
        else
          ReadNumbers(expected_, layout_.expected);
      }
      if (result) {
        if (layout_.resultLabels)
          resultLabels_ = ReadLabelList(tools_, in_);
        else
          ReadNumbers(generated_, layout_.generated);
        ReadNumbers(errors_, layout_.errors);
      }
      if (deferred && r == 0) {
        Create(capacity);  // the first row has arrived
      } else if (r == capacity) {
        capacity = static_cast<int32_t>(std::min<int64_t>(2 * int64_t{capacity}, rows));
        Grow(exampleSet_, capacity);
        Grow(resultSet_, capacity);
      }
      if (example) exampleSet_->AddRow(inputs_.data(), expected_.data(), exampleLabels_.get());
      if (result) resultSet_->AddRow(generated_.data(), errors_.data(), resultLabels_.get());
    }
  }

 private:
  void ReadNumbers(std::vector<double>& values, int32_t count) {
    values.clear();
    for (int32_t i = 0; i < count; ++i) values.push_back(tools_.ReadNumberElement(dataName_, in_, tag_));
  }

  void Create(int32_t capacity) {
    Allocate([&] {
      if (layout_.HasExample()) {
        exampleSet_ = std::make_unique<Data>(capacity, layout_.inputs, layout_.expected, layout_.exampleLabels);
        exampleSet_->Rewind();
      }
      if (layout_.HasResult()) {
        resultSet_ = std::make_unique<Data>(capacity, layout_.generated, layout_.errors, layout_.resultLabels);
        resultSet_->Rewind();
      }
    });
  }

  // Moves the rows of `set` (added in order, none overwritten) into a new set
  // of `capacity` rows, which replaces it.
  void Grow(std::unique_ptr<Data>& set, int32_t capacity) {
    if (set == nullptr) return;
    Allocate([&] {
      auto larger = std::make_unique<Data>(capacity, set->MbrNdxInputs, set->MbrNdxOutputs, set->MbrHasLabels);
      larger->Rewind();
      for (int32_t r = 0; r < set->MbrNdxDataRows; ++r) {
        larger->AddRow(set->MbrNdxInputs > 0 ? set->MbrDyaRtpInputs[r] : nullptr,
                       set->MbrNdxOutputs > 0 ? set->MbrDyaRtpOutputs[r] : nullptr, nullptr);
        if (set->MbrHasLabels) larger->MbrDyaLabels[r] = std::move(set->MbrDyaLabels[r]);
      }
      set = std::move(larger);
    });
  }

  template <class Action>
  void Allocate(Action action) {
    try {
      action();
    } catch (const std::bad_alloc&) {
      Fail("Data set too large", in_);
    } catch (const std::length_error&) {
      Fail("Data set too large", in_);
    }
  }

  FileTools& tools_;
  std::istream& in_;
  const std::string& dataName_;
  const Layout& layout_;
  std::unique_ptr<Data>& exampleSet_;
  std::unique_ptr<Data>& resultSet_;
  FileTools::Tag tag_;
  std::vector<double> inputs_, expected_, generated_, errors_;
  std::unique_ptr<TLabelList> exampleLabels_, resultLabels_;
};

// Takes the "DataSet" block start, the header and the "Data" block start.
// Returns the row count; `dataName` receives the Data block's name as written.
int32_t ReadFileStart(FileTools& tools, std::istream& in, Layout& layout, std::string* setName,
                      std::string& dataName) {
  FileTools::Tag tag;
  tools.ReadTag({}, in, false, tag);
  std::string name = FileTools::ExpectBlock(tag, in, "DATASET");
  if (setName != nullptr) *setName = std::move(name);
  int32_t inputs, expected, generated, errors, rows;
  ReadDataSetHeader(tools, in, inputs, expected, generated, errors, rows, tag);  // a bad header fails below
  dataName = FileTools::ExpectBlock(tag, in, "DATA");
  if (rows < 0) Fail("[Rows = <integer>] expected", in);
  layout = LayoutOf(inputs, expected, generated, errors);
  return rows;
}

// ---- Writing ----

// Checks what is to be written and works out the header's counts.
int32_t PlanWrite(const Data* exampleSet, const Data* resultSet, int32_t& inputs, int32_t& expected,
                  int32_t& generated, int32_t& errors, int32_t& rows) {
  rows = -1;
  inputs = expected = generated = errors = 0;
  if (exampleSet != nullptr) {
    rows = exampleSet->MbrNdxRows;
    inputs = exampleSet->MbrNdxInputs;
    expected = exampleSet->MbrNdxOutputs;
    if (exampleSet->MbrHasLabels) {
      if (expected != 0) return ERR_FORMAT;  // labels stand in the place of the expected outputs
      expected = -1;
    }
  }
  if (resultSet != nullptr) {
    if (exampleSet == nullptr)
      rows = resultSet->MbrNdxRows;
    else if (resultSet->MbrNdxRows != rows)
      return ERR_ROWS;
    generated = resultSet->MbrNdxInputs;
    errors = resultSet->MbrNdxOutputs;
    if (resultSet->MbrHasLabels) {
      if (generated != 0) return ERR_FORMAT;  // labels stand in the place of the generated outputs
      generated = -1;
    }
  }
  if (rows < 0) return ERR_ROWS;
  // Names the label list syntax cannot carry would read back as other labels
  // or make the file unreadable.
  for (const Data* set : {exampleSet, resultSet}) {
    if (set == nullptr || !set->MbrHasLabels) continue;
    for (const TLabelList& list : set->MbrDyaLabels)
      for (const TLabel& label : list.labels)
        if (!IsWritableLabelName(label.name)) return ERR_FORMAT;
  }
  return SUCCESS;
}

// Rows are composed in this buffer and handed to the stream in large writes.
// Numbers are formatted straight into it.
class RowWriter {
 public:
  explicit RowWriter(std::ostream& out) : out_(out), buffer_(kFlushAt + kSlack), p_(buffer_.data()) {}

  void Numbers(const double* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      Ensure(FileTools::GeneralNumberSize + 1);
      p_ = FileTools::FormatGeneralTo(values[i], p_);
      *p_++ = ' ';
    }
  }
  void Text(std::string_view text) {
    Ensure(text.size());
    std::memcpy(p_, text.data(), text.size());
    p_ += text.size();
  }
  void Labels(const TLabelList& labels) {
    Text("[");
    for (const TLabel& label : labels.labels) {
      Text(label.name);
      if (label.value != 1.0) {
        // The largest double has 309 integer digits; with a sign, the point
        // and 9 decimals it fits.
        char number[330];
        const auto result = std::to_chars(number, number + sizeof number, label.value, std::chars_format::fixed, 9);
        Text("=");
        Text(std::string_view(number, static_cast<size_t>(result.ptr - number)));
      }
      Text(" ");
    }
    Text("] ");
  }
  void EndLine() {
    Text("\n");
    if (Used() >= kFlushAt) Flush();
  }
  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(Used()));
    p_ = buffer_.data();
  }

 private:
  static constexpr size_t kFlushAt = size_t{1} << 20;
  static constexpr size_t kSlack = 4096;

  size_t Used() const { return static_cast<size_t>(p_ - buffer_.data()); }
  // Room for `n` more characters: what is there goes out first when needed,
  // and a piece larger than the buffer gets a buffer of its size.
  void Ensure(size_t n) {
    if (buffer_.size() - Used() >= n) return;
    Flush();
    if (buffer_.size() < n) {
      buffer_.resize(n);
      p_ = buffer_.data();
    }
  }

  std::ostream& out_;
  std::vector<char> buffer_;
  char* p_;
};

// Writes into `file` (an AtomicFile or an AppendingFile) with `write` and
// commits; anything but a complete write leaves the file as it was.
template <typename File, typename Write>
int32_t WriteFile(File& file, const std::string& fileName, Write write) {
  if (!file.Open(fileName)) return ERR_WRITE;
  const int32_t err = write(file.Stream());
  if (err != SUCCESS) {
    file.Abandon();
    return err;
  }
  return file.Commit() ? SUCCESS : ERR_WRITE;
}

// The tokenizers read the stream's buffer directly, so a failing read (a
// file stream's buffer throws std::ios_base::failure on an I/O error, or when
// the file is a directory) arrives as an exception. The readers report it as
// a file that cannot be read, ERR_OPEN, and hand out no sets. Memory that
// runs out on the way is an error of the file, like a storage that cannot be
// made.
template <class Read>
int32_t UnlessReadFails(std::istream& in, std::unique_ptr<Data>& exampleSet, std::unique_ptr<Data>& resultSet,
                        Read read) {
  try {
    return read();
  } catch (const std::ios_base::failure&) {
    exampleSet.reset();
    resultSet.reset();
    return ERR_OPEN;
  } catch (const std::bad_alloc&) {
    Fail("Data set too large", in);
  }
}

int32_t ReadWholeFile(FileTools& tools, std::istream& in, std::unique_ptr<Data>& exampleSet,
                      std::unique_ptr<Data>& resultSet);
int32_t ReadChunk(FileTools& tools, std::istream& in, int64_t& offset, int32_t rows,
                  std::unique_ptr<Data>& exampleSet, std::unique_ptr<Data>& resultSet);
std::unique_ptr<TKQstructure> Probe(FileTools& tools, std::istream& in);

}  // namespace

bool IsWritableLabelName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (c < 33 || c > 126) return false;
    if (std::string_view(",[]/*=<>").find(c) != std::string_view::npos) return false;
  }
  return true;
}

// ---- Reading ----

int32_t ReadDataSetHeader(FileTools& tools, std::istream& in, int32_t& inputs, int32_t& expectedOutputs,
                          int32_t& generatedOutputs, int32_t& errors, int32_t& rows, FileTools::Tag& next) {
  inputs = expectedOutputs = generatedOutputs = errors = 0;
  rows = -1;
  int state = 0;  // the column keywords must come in order, each at most once
  for (tools.ReadTag({}, in, false, next); next.kind == FileTools::TagValue; tools.ReadTag({}, in, false, next)) {
    if (next.open) return ERR_FORMAT;
    // The value is converted before the keyword is looked at.
    const int32_t n = strcasecmp(next.value, "LABELS") == 0 ? -1 : FileTools::ParseInteger(in, next.value);
    const std::string& name = next.name;
    if (state < 1 && strcasecmp(name, "INPUTS") == 0) {
      if (n < 0) Fail("No labels in inputs", in);
      inputs = n;
      state = 1;
    } else if (state < 2 && strcasecmp(name, "EXPECTEDOUTPUTS") == 0) {
      expectedOutputs = n;
      state = 2;
    } else if (state < 3 && strcasecmp(name, "GENERATEDOUTPUTS") == 0) {
      generatedOutputs = n;
      state = 3;
    } else if (state < 4 && strcasecmp(name, "ERROR") == 0) {
      if (n < 0) Fail("No labels in inputs", in);
      errors = n;
      state = 4;
    } else if (strcasecmp(name, "ROWS") == 0) {
      if (n < 0) Fail("No labels in inputs", in);
      rows = n;
    } else {
      return ERR_FORMAT;
    }
  }
  return SUCCESS;
}

std::unique_ptr<TLabelList> ReadLabelList(FileTools& tools, std::istream& in) {
  auto list = std::make_unique<TLabelList>();
  std::streambuf* buf = in.good() ? in.rdbuf() : nullptr;
  auto peek = [&]() -> int {
    if (buf == nullptr) return kEof;
    const int c = buf->sgetc();
    if (c == kEof) {
      buf = nullptr;
      in.setstate(std::ios::eofbit);
    }
    return c;
  };
  // Skips separators and comments; returns the first other character, not taken.
  auto skip = [&]() -> int {
    for (;;) {
      const int c = peek();
      if (c == kEof) Fail("Unexpected end of file", in);
      if (IsSeparator(c)) {
        buf->sbumpc();
        continue;
      }
      if (c != '/') return c;
      buf->sbumpc();
      if (peek() != '*') Fail("Unexpected special character", in);
      buf->sbumpc();
      FileTools::SkipComment(in);
      if (!in.good()) buf = nullptr;
    }
  };

  if (skip() != '[') Fail("Label list expected", in);
  buf->sbumpc();
  if (skip() == ']') {
    buf->sbumpc();
    return list;
  }
  FileTools::Tag tag;
  do {
    tools.ReadTag({}, in, true, tag);
    if (tag.kind == FileTools::TagStart)
      list->Add(tag.name, 1.0);
    else if (tag.kind == FileTools::TagValue)
      list->Add(tag.name, FileTools::ParseNumber(in, tag.value));
    else if (tag.kind == FileTools::TagEnd)
      Fail("Unexpected end of file", in);  // with the in-bracket flag only the end of input reads as an end
    else
      Fail("Label expected", in);
  } while (tag.open);
  return list;
}

int32_t ReadDataSetFile(FileTools& tools, std::istream& in, std::unique_ptr<Data>& exampleSet,
                        std::unique_ptr<Data>& resultSet) {
  return UnlessReadFails(in, exampleSet, resultSet, [&] { return ReadWholeFile(tools, in, exampleSet, resultSet); });
}

namespace {

int32_t ReadWholeFile(FileTools& tools, std::istream& in, std::unique_ptr<Data>& exampleSet,
                      std::unique_ptr<Data>& resultSet) {
  exampleSet.reset();
  resultSet.reset();
  Layout layout;
  std::string setName, dataName;
  const int32_t rows = ReadFileStart(tools, in, layout, &setName, dataName);
  RowReader(tools, in, dataName, layout, exampleSet, resultSet).Read(rows);
  ReadDataSetFileEnd(tools, in, setName, dataName);
  return SUCCESS;
}

}  // namespace

void ReadDataSetFileEnd(FileTools& tools, std::istream& in, const std::string& setName, const std::string& dataName) {
  FileTools::Tag tag;
  tools.ReadTag(dataName, in, false, tag);
  FileTools::ExpectEnd(tag, in);
  tools.ReadTag(setName, in, false, tag);
  FileTools::ExpectEnd(tag, in);
  tools.ReadTag({}, in, false, tag);  // only comments may follow
  FileTools::ExpectEnd(tag, in);
}

int32_t ReadDataSetFile(FileTools& tools, const std::string& fileName, std::unique_ptr<Data>& exampleSet,
                        std::unique_ptr<Data>& resultSet, std::unique_ptr<TKQstructure> message) {
  message.reset();
  // A large buffer: the rows make up almost all of a big file. It is made
  // inside the guard, so that memory running out for it is refused like
  // memory running out for the rows.
  std::vector<char> buffer;
  std::ifstream in;
  return UnlessReadFails(in, exampleSet, resultSet, [&] {
    buffer.resize(size_t{1} << 20);
    in.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    in.open(fileName, std::ios::in | std::ios::binary);
    if (!in.is_open()) return ERR_OPEN;
    return ReadWholeFile(tools, in, exampleSet, resultSet);
  });
}

int32_t ReadExampleSetFile(FileTools& tools, const std::string& fileName, std::unique_ptr<Data>& exampleSet) {
  std::unique_ptr<Data> resultSet;
  const int32_t err = ReadDataSetFile(tools, fileName, exampleSet, resultSet, nullptr);
  if (err != SUCCESS) return err;
  return resultSet != nullptr ? ERR_FORMAT : SUCCESS;
}

int32_t ReadDataSetChunk(FileTools& tools, std::istream& in, int64_t& offset, int32_t rows,
                         std::unique_ptr<Data>& exampleSet, std::unique_ptr<Data>& resultSet) {
  return UnlessReadFails(in, exampleSet, resultSet,
                         [&] { return ReadChunk(tools, in, offset, rows, exampleSet, resultSet); });
}

namespace {

int32_t ReadChunk(FileTools& tools, std::istream& in, int64_t& offset, int32_t rows,
                  std::unique_ptr<Data>& exampleSet, std::unique_ptr<Data>& resultSet) {
  exampleSet.reset();
  resultSet.reset();
  Layout layout;
  std::string dataName;
  ReadFileStart(tools, in, layout, nullptr, dataName);

  // Offsets count from the character after the Data block start. The reader
  // never reads ahead, so the stream's position is exact.
  const std::streampos start = Position(in);
  if (start == std::streampos(-1) || offset < 0) Fail("Chunk offset outside the data", in);
  if (offset > 0 && !in.seekg(static_cast<std::streamoff>(offset), std::ios::cur))
    Fail("Chunk offset outside the data", in);

  RowReader(tools, in, dataName, layout, exampleSet, resultSet).Read(rows);
  const std::streampos end = Position(in);
  if (end == std::streampos(-1)) Fail("Chunk offset outside the data", in);
  offset = static_cast<int64_t>(end - start);
  return SUCCESS;
}

}  // namespace

int32_t ReadDataSetChunk(FileTools& tools, const std::string& fileName, int64_t& offset, int32_t rows,
                         std::unique_ptr<Data>& exampleSet, std::unique_ptr<Data>& resultSet) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in.is_open()) return ERR_OPEN;
  return ReadDataSetChunk(tools, in, offset, rows, exampleSet, resultSet);
}

int32_t ReadExampleSetChunk(FileTools& tools, const std::string& fileName, int64_t& offset, int32_t rows,
                            std::unique_ptr<Data>& exampleSet) {
  std::unique_ptr<Data> resultSet;
  return ReadDataSetChunk(tools, fileName, offset, rows, exampleSet, resultSet);
}

// ---- Writing ----

void WriteLabels(FileTools& tools, std::ostream& out, const TLabelList& labels) {
  (void)tools;
  RowWriter writer(out);
  writer.Labels(labels);
  writer.Flush();
}

int32_t WriteDataSetHeader(FileTools& tools, std::ostream& out, int32_t inputs, int32_t expectedOutputs,
                           int32_t generatedOutputs, int32_t errors, int32_t rows) {
  if (rows < 0) return ERR_ROWS;
  FileTools::WriteFormatVersion(out);
  tools.WriteName(out, "DataSet", true);
  tools.WriteInteger(out, "Rows", rows, true);
  tools.WriteInteger(out, "Inputs", inputs, true);
  if (expectedOutputs == -1)
    tools.WriteString(out, "ExpectedOutputs", "Labels", true);
  else
    tools.WriteInteger(out, "ExpectedOutputs", expectedOutputs, true);
  if (generatedOutputs == -1)
    tools.WriteString(out, "GeneratedOutputs", "Labels", true);
  else
    tools.WriteInteger(out, "GeneratedOutputs", generatedOutputs, true);
  tools.WriteInteger(out, "Error", errors, true);
  FileTools::NewLine(out);
  tools.WriteName(out, "Data", true);
  return out.good() ? SUCCESS : ERR_WRITE;
}

int32_t WriteDataSetHeader(FileTools& tools, const std::string& fileName, int32_t inputs, int32_t expectedOutputs,
                           int32_t generatedOutputs, int32_t errors, int32_t rows) {
  if (rows < 0) return ERR_ROWS;
  mapsmith::AtomicFile file;
  return WriteFile(file, fileName, [&](std::ostream& out) {
    return WriteDataSetHeader(tools, out, inputs, expectedOutputs, generatedOutputs, errors, rows);
  });
}

int32_t WriteDataSetRows(FileTools& tools, std::ostream& out, const Data* exampleSet, const Data* resultSet) {
  (void)tools;
  int32_t inputs, expected, generated, errors, rows;
  const int32_t err = PlanWrite(exampleSet, resultSet, inputs, expected, generated, errors, rows);
  if (err != SUCCESS) return err;

  RowWriter writer(out);
  for (int32_t r = 0; r < rows; ++r) {
    if (exampleSet != nullptr) {
      if (inputs > 0) writer.Numbers(exampleSet->MbrDyaRtpInputs[r], inputs);
      writer.Text("  ");
      if (exampleSet->MbrHasLabels)
        writer.Labels(exampleSet->MbrDyaLabels[r]);
      else if (expected > 0)
        writer.Numbers(exampleSet->MbrDyaRtpOutputs[r], expected);
    }
    if (resultSet != nullptr) {
      writer.Text("  ");
      if (resultSet->MbrHasLabels)
        writer.Labels(resultSet->MbrDyaLabels[r]);
      else if (generated > 0)
        writer.Numbers(resultSet->MbrDyaRtpInputs[r], generated);
      writer.Text("  ");
      if (errors > 0) writer.Numbers(resultSet->MbrDyaRtpOutputs[r], errors);
    }
    writer.EndLine();
  }
  writer.Flush();
  return out.good() ? SUCCESS : ERR_WRITE;
}

int32_t WriteDataSetRows(FileTools& tools, const std::string& fileName, const Data* exampleSet,
                         const Data* resultSet, std::unique_ptr<TKQstructure> message) {
  message.reset();
  int32_t inputs, expected, generated, errors, rows;
  const int32_t planned = PlanWrite(exampleSet, resultSet, inputs, expected, generated, errors, rows);
  if (planned != SUCCESS) return planned;
  mapsmith::AppendingFile file;
  return WriteFile(file, fileName,
                   [&](std::ostream& out) { return WriteDataSetRows(tools, out, exampleSet, resultSet); });
}

int32_t WriteDataSetTrailer(FileTools& tools, std::ostream& out) {
  tools.WriteEndTag(out, "Data");
  FileTools::NewLine(out);
  tools.WriteEndTag(out, "DataSet");
  return out.good() ? SUCCESS : ERR_WRITE;
}

int32_t WriteDataSetTrailer(FileTools& tools, const std::string& fileName) {
  mapsmith::AppendingFile file;
  return WriteFile(file, fileName, [&](std::ostream& out) { return WriteDataSetTrailer(tools, out); });
}

int32_t WriteDataSetFile(FileTools& tools, std::ostream& out, const Data* exampleSet, const Data* resultSet) {
  int32_t inputs, expected, generated, errors, rows;
  int32_t err = PlanWrite(exampleSet, resultSet, inputs, expected, generated, errors, rows);
  if (err == SUCCESS) err = WriteDataSetHeader(tools, out, inputs, expected, generated, errors, rows);
  if (err == SUCCESS) err = WriteDataSetRows(tools, out, exampleSet, resultSet);
  if (err == SUCCESS) err = WriteDataSetTrailer(tools, out);
  return err;
}

int32_t WriteDataSetFile(FileTools& tools, const std::string& fileName, const Data* exampleSet,
                         const Data* resultSet, std::unique_ptr<TKQstructure> message) {
  message.reset();
  int32_t inputs, expected, generated, errors, rows;
  // Checked before the file is created, so a refused write leaves no file.
  const int32_t planned = PlanWrite(exampleSet, resultSet, inputs, expected, generated, errors, rows);
  if (planned != SUCCESS) return planned;
  // The whole file is written once and replaces the old one only when complete.
  mapsmith::AtomicFile file;
  return WriteFile(file, fileName,
                   [&](std::ostream& out) { return WriteDataSetFile(tools, out, exampleSet, resultSet); });
}

// ---- Probing ----

std::unique_ptr<TKQstructure> ProbeFile(FileTools& tools, std::istream& in) {
  try {
    return Probe(tools, in);
  } catch (const std::ios_base::failure&) {
    return TKQstructure::MakeError("file-read-error");  // as for a file that cannot be opened
  }
}

namespace {

std::unique_ptr<TKQstructure> Probe(FileTools& tools, std::istream& in) {
  FileTools::Tag tag;
  tools.ReadTag({}, in, false, tag);
  const std::string name = FileTools::ExpectBlock(tag, in, {});
  if (strcasecmp(name, "DATASET") == 0) {
    int32_t inputs, expected, generated, errors, rows;
    if (ReadDataSetHeader(tools, in, inputs, expected, generated, errors, rows, tag) != SUCCESS)
      return TKQstructure::MakeError("bad-header");
    auto reply = std::make_unique<TKQstructure>("data");
    reply->SetInteger("rows", rows);
    reply->SetInteger("inputs", inputs);
    reply->SetInteger("actual-outputs", expected);
    reply->SetInteger("calc-outputs", generated);
    reply->SetInteger("errors", errors);
    return reply;
  }
  if (strcasecmp(name, "NETWORK") == 0) return std::make_unique<TKQstructure>("network");
  auto reply = TKQstructure::MakeError("unknown-header");
  reply->SetString("header", name);
  return reply;
}

}  // namespace

std::unique_ptr<TKQstructure> ProbeFile(FileTools& tools, const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in.is_open()) return TKQstructure::MakeError("file-read-error");
  return ProbeFile(tools, in);
}
