// Reading a data set file at speed, for tools that map a file as they read
// it instead of holding it: a file as the writers write it (a header of input
// columns only, then rows of numbers separated by blanks and line ends, then
// the end tags) is read once, front to back, through one buffer, and each row
// is handed out with its values and its text as a data set writer would write
// the numbers again.
//
// Anything else a data set file may hold makes the reader give up: comments
// or label lists among the rows, output columns or labels in the header,
// tokens that are not plain numbers, a malformed, short or unreadable file, a
// file that is not a regular file. The caller then reads the file with the
// general reader (ReadDataSetFile), which accepts or refuses it with its own
// messages. Whatever this reader hands out for a file that it reads to the
// end (Finish returns true) is what the general reader reads from it: the
// same row count, the same values bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mapsmith {

class PlainDataSetReader {
 public:
  // The longest number text taken; NextRow writes at most this many
  // characters plus a blank per number.
  static constexpr std::size_t kLongestNumber = 64;

  PlainDataSetReader();
  ~PlainDataSetReader();  // closes the file
  PlainDataSetReader(const PlainDataSetReader&) = delete;
  PlainDataSetReader& operator=(const PlainDataSetReader&) = delete;

  // Opens `path` and reads the header. False (give up) unless the file is a
  // regular file whose header declares input columns only: Inputs at least 1,
  // no expected or generated outputs, no error columns, no labels.
  bool Open(const std::string& path);
  std::int32_t Rows() const { return rows_; }
  std::int32_t Inputs() const { return inputs_; }

  // Reads the next row: its Inputs() values into `values`, and at `out` each
  // number's text followed by a blank, as FileTools::FormatGeneralTo writes
  // it (a text that is already in that form is copied). `out` must have room
  // for Inputs() * (kLongestNumber + 1) characters. Returns the end of what
  // was written, or nullptr to give up. Precondition: Open returned true and
  // fewer than Rows() rows were read.
  char* NextRow(double* values, char* out);

  // After Rows() rows: whether the file ends as a data set file must (the
  // Data and DataSet end tags, then nothing but blanks and comments).
  bool Finish();

 private:
  // Makes at least `want` bytes available from p_ unless the file ends
  // first. False when reading fails.
  bool Fill(std::size_t want);
  // The number at p_ (a token the fast path does not take): converted as the
  // general reader converts a token. False to give up.
  bool SlowNumber(double& value, char*& out);

  int fd_ = -1;
  std::string path_;
  std::int32_t rows_ = 0;
  std::int32_t inputs_ = 0;
  std::string setName_, dataName_;  // the block names as the file writes them
  std::vector<char> buffer_;
  // A row's values as the signed m and 10^k, divided when the row is read.
  std::vector<double> magnitudes_, scales_;
  const char* p_ = nullptr;    // the next unread byte
  const char* end_ = nullptr;  // the end of the bytes read; zeros follow
  std::int64_t bufferStart_ = 0;  // the file offset of buffer_[0]
  bool eof_ = false;
};

// Whether `text`, a plain decimal "[-]digits[.digits]", is exactly what
// FileTools::FormatGeneralTo writes for the value it reads as: at most 15
// significant digits, no leading zeros, no trailing zeros after the point,
// and a magnitude written without an exponent (1e-4 <= |x| < 1e15, or 0).
bool IsGeneralFormText(std::string_view text);

}  // namespace mapsmith
