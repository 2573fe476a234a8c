// Reading plain text files fast: a line reader over a stream through one
// large buffer, the number conversion that CSV and SOM_PAK files share, and
// what the readers of the tools' files share in their messages.
//
// LineReader hands out each line as a view into its buffer, valid until the
// next call. A '\n' ends a line; a '\r' right before it (or at the very end
// of the input) is dropped, so LF and CRLF files read alike. The last line
// needs no line end. A read error of the stream (the C++ library reports it
// as std::ios_base::failure) passes through to the caller.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace mapsmith {

class LineReader {
 public:
  explicit LineReader(std::istream& in);

  // The next line, without its line end. False at the end of input.
  bool Next(std::string_view& line);
  // Whether the line last returned ended in "\r\n" (rather than "\n" or the
  // end of the input).
  bool EndedInCrLf() const { return crlf_; }
  // The number of the line last returned, from 1.
  std::int64_t LineNumber() const { return line_; }
  // Bytes handed out so far, line ends included (for size estimates).
  std::int64_t BytesRead() const { return consumed_; }

 private:
  std::istream& in_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;    // start of the unread text
  std::size_t end_ = 0;      // end of the text in the buffer
  std::size_t scanned_ = 0;  // text after begin_ known to hold no '\n'
  std::size_t total_ = 0;    // bytes read from the stream
  bool eof_ = false;
  bool crlf_ = false;
  std::int64_t line_ = 0;
  std::int64_t consumed_ = 0;
};

// Rows of `columns` values kept in blocks of whole rows while the number of
// rows is unknown, so that growing never copies what was read.
class RowStore {
 public:
  explicit RowStore(std::size_t columns);
  // Starts one more row; its values follow with Push.
  void BeginRow();
  // Forgets the rows held; the rows that follow reuse the first block's
  // memory.
  void Reset();
  void Push(double value) { blocks_.back().push_back(value); }
  // The values of `row` (nullptr when there are no columns).
  const double* Row(std::size_t row) const;
  std::int64_t Rows() const { return static_cast<std::int64_t>(rows_); }

 private:
  std::size_t columns_;
  std::size_t rowsPerBlock_;
  std::size_t rows_ = 0;
  std::vector<std::vector<double>> blocks_;
};

// What became of a text that should be a number.
enum class NumberText { Ok, Empty, NotANumber, NotFinite, OutOfRange };

// Converts a whole text to a double, correctly rounded: blanks (' ', '\t')
// around it are allowed, so is a leading '+'; "nan", "inf" and their kin are
// NotFinite; a magnitude beyond the double range is OutOfRange, one below the
// smallest subnormal becomes 0 (as the C library reads it).
NumberText ParseNumberText(std::string_view text, double& value);

// The number at `first`, for hot loops: on success `value` is set and the end
// of the number is returned; nullptr when the text there is not a plain finite
// number (callers then find the cell's end and ask ParseNumberText why).
const char* ParseNumberFast(const char* first, const char* last, double& value);

// A text quoted for a message: at most 40 characters, control characters
// shown as '?', in single quotes.
std::string QuoteForMessage(std::string_view text);

// The most rows, columns or neurons a file may have: Data and the networks
// count them in 32 bits.
constexpr std::int64_t kMaxCount = std::numeric_limits<std::int32_t>::max();

// Throws the error of a file's content, FileTools::Error, with `message`
// (WithFile makes it a RunError naming the file).
[[noreturn]] void ThrowFileError(const std::string& message);

// "1 row", "2 rows": `n` with the word `one` or `many`.
std::string Counted(std::int64_t n, const char* one, const char* many);

// The name a column that the file leaves unnamed is given: x1, x2, ...
// for `column` 0, 1, ...
std::string MadeUpColumnName(std::int32_t column);

}  // namespace mapsmith
