#include "Kohonen/Common/TextInput.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>

#include "FileHandler/ParseTools.h"

namespace mapsmith {

namespace {

// The buffer starts small, so that small files cost little, and grows to its
// full size while a large file is read.
constexpr std::size_t kFirstBufferSize = std::size_t{1} << 14;
constexpr std::size_t kBufferSize = std::size_t{1} << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

LineReader::LineReader(std::istream& in) : in_(in), buffer_(kFirstBufferSize) {}

bool LineReader::Next(std::string_view& line) {
  for (;;) {
    const char* base = buffer_.data();
    const void* nl = std::memchr(base + scanned_, '\n', end_ - scanned_);
    if (nl != nullptr || (eof_ && begin_ < end_)) {
      const std::size_t stop = nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - base) : end_;
      std::size_t length = stop - begin_;
      crlf_ = false;
      if (length > 0 && base[begin_ + length - 1] == '\r') {
        --length;
        crlf_ = nl != nullptr;
      }
      line = std::string_view(base + begin_, length);
      const std::size_t next = nl != nullptr ? stop + 1 : stop;
      consumed_ += static_cast<std::int64_t>(next - begin_);
      begin_ = scanned_ = next;
      ++line_;
      return true;
    }
    if (eof_) return false;
    // Keep the unfinished line, make room and read more.
    const std::size_t kept = end_ - begin_;
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
      begin_ = 0;
      end_ = kept;
    }
    scanned_ = end_;
    if (end_ == buffer_.size() || (buffer_.size() < kBufferSize && total_ >= buffer_.size()))
      buffer_.resize(buffer_.size() * 2);
    std::streambuf* source = in_.rdbuf();
    const std::streamsize got =
        source == nullptr ? 0
                          : source->sgetn(buffer_.data() + end_, static_cast<std::streamsize>(buffer_.size() - end_));
    if (got <= 0)
      eof_ = true;
    else
      end_ += static_cast<std::size_t>(got);
    total_ += static_cast<std::size_t>(std::max<std::streamsize>(got, 0));
  }
}

RowStore::RowStore(std::size_t columns)
    : columns_(columns),
      rowsPerBlock_(std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(columns, 1))) {}

void RowStore::BeginRow() {
  if (rows_ % rowsPerBlock_ == 0 && columns_ > 0 && rows_ / rowsPerBlock_ >= blocks_.size()) {
    // The first block grows with what the rows really hold (a declared width
    // is not trusted with memory, and small files stay small); later blocks
    // are reserved whole, since the data is large.
    const bool reserve = !blocks_.empty();
    blocks_.emplace_back();
    if (reserve) blocks_.back().reserve(std::min(rowsPerBlock_ * columns_, std::size_t{1} << 20));
  }
  ++rows_;
}

void RowStore::Reset() {
  if (blocks_.size() > 1) blocks_.resize(1);
  if (!blocks_.empty()) blocks_.front().clear();
  rows_ = 0;
}

const double* RowStore::Row(std::size_t row) const {
  if (columns_ == 0) return nullptr;
  return blocks_[row / rowsPerBlock_].data() + (row % rowsPerBlock_) * columns_;
}

NumberText ParseNumberText(std::string_view text, double& value) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  if (first == last) return NumberText::Empty;
  std::string_view number = text.substr(first, last - first);
  if (number.size() > 1 && number[0] == '+' && number[1] != '-' && number[1] != '+') number.remove_prefix(1);
  const char* begin = number.data();
  const char* end = begin + number.size();
  double result = 0.0;
  auto [stop, ec] = std::from_chars(begin, end, result, std::chars_format::general);
  if (stop != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) return NumberText::NotANumber;
  if (ec == std::errc::result_out_of_range) {
    // from_chars refuses both overflow and underflow; the C library tells
    // them apart (underflow gives a value no larger than the least normal).
    const std::string copy(number);
    result = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(result)) return NumberText::OutOfRange;
  }
  if (!std::isfinite(result)) return NumberText::NotFinite;
  value = result;
  return NumberText::Ok;
}

const char* ParseNumberFast(const char* first, const char* last, double& value) {
  double result;
  auto [stop, ec] = std::from_chars(first, last, result, std::chars_format::general);
  if (ec != std::errc() || !std::isfinite(result)) return nullptr;
  value = result;
  return stop;
}

std::string QuoteForMessage(std::string_view text) {
  constexpr std::size_t kLongest = 40;
  std::string quoted = "'";
  for (std::size_t i = 0; i < text.size() && i < kLongest; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    quoted += c < 32 || c == 127 ? '?' : static_cast<char>(c);
  }
  if (text.size() > kLongest) quoted += "...";
  return quoted + "'";
}

void ThrowFileError(const std::string& message) { throw FileTools::Error(message, nullptr); }

std::string Counted(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string MadeUpColumnName(std::int32_t column) {
  // Appended rather than "x" + ..., which g++ 12 wrongly warns about (-Wrestrict).
  std::string name = "x";
  name += std::to_string(column + 1);
  return name;
}

}  // namespace mapsmith
