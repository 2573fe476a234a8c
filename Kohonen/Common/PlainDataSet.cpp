#include "Kohonen/Common/PlainDataSet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <ios>
#include <sstream>
#include <utility>

#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/DataSetFileEnds.h"

namespace mapsmith {

namespace {

// Large enough that a read costs little per byte, small enough that its
// pages are few: a page's first touch can cost more than reading it.
constexpr std::size_t kBufferSize = std::size_t{1} << 18;
// Zeros after the bytes read: the digit scanner reads 8 bytes at a time and
// a number's text is copied 32 bytes at a time.
constexpr std::size_t kPadding = 64;

constexpr std::uint64_t kPow10[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
// Powers of ten that doubles hold exactly.
constexpr double kExactPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
// The characters of the number tokens the reader takes; a token holding any
// other character makes it give up.
inline bool IsNumberChar(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
}

inline bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

// The 8 characters at p as a word, the first one lowest.
inline std::uint64_t Word(const char* p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  return x;
}

// The number of decimal digits that the 8 characters of `x` start with. A
// byte is a digit when its high half is 3 and adding 6 keeps it so; a carry
// out of a byte only reaches bytes after the first non-digit.
inline int DigitRun(std::uint64_t x) {
  const std::uint64_t notDigit = ((x & 0xF0F0F0F0F0F0F0F0u) ^ 0x3030303030303030u) |
                                 (((x + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) ^ 0x3030303030303030u);
  return notDigit == 0 ? 8 : std::countr_zero(notDigit) / 8;
}

// The value of the first n (1 to 8) characters of `x`, which are digits.
inline std::uint64_t DigitsValue(std::uint64_t x, int n) {
  // The digits moved up to the last bytes with '0's before them read as an
  // eight-digit number of the same value.
  if (n < 8) x = (x << (8 * (8 - n))) | (0x3030303030303030u >> (8 * n));
  x -= 0x3030303030303030u;
  x = x * 10 + (x >> 8);
  return (((x & 0x000000FF000000FFu) * (100 + (std::uint64_t{1000000} << 32))) +
          (((x >> 16) & 0x000000FF000000FFu) * (1 + (std::uint64_t{10000} << 32)))) >>
         32;
}

// The run of decimal digits (at most 8) at p, whose 8 bytes must be readable:
// returns its length and puts its value in `value`.
inline int LeadingDigits(const char* p, std::uint64_t& value) {
  const std::uint64_t x = Word(p);
  const int n = DigitRun(x);
  value = n == 0 ? 0 : DigitsValue(x, n);
  return n;
}

}  // namespace

bool IsGeneralFormText(std::string_view text) {
  std::size_t i = text.starts_with('-') ? 1 : 0;
  const std::size_t first = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  const std::size_t whole = i - first;
  if (whole == 0 || whole > 15 || (whole > 1 && text[first] == '0')) return false;
  if (i == text.size()) return true;  // an integer: "0", "-0" and up to 15 digits
  if (text[i] != '.') return false;
  const std::size_t fraction = ++i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  const std::size_t after = i - fraction;
  if (i != text.size() || after == 0 || text.back() == '0') return false;
  if (text[first] != '0') return whole + after <= 15;
  // 0.000ddd: the exponent form starts below 1e-4.
  std::size_t zeros = 0;
  while (text[fraction + zeros] == '0') ++zeros;
  return zeros <= 3 && after - zeros <= 15;
}

PlainDataSetReader::PlainDataSetReader() : buffer_(kBufferSize + kPadding, 0) {}

PlainDataSetReader::~PlainDataSetReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool PlainDataSetReader::Open(const std::string& path) {
  path_ = path;
  // Without blocking: opening a FIFO to read would wait for a writer.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);

  // The header as the general reader takes it.
  DataSetFileStart header;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open() || !ReadDataSetFileStart(in, header)) return false;
  }
  if (header.inputs < 1 || header.expected != 0 || header.generated != 0 || header.errors != 0) return false;
  rows_ = header.rows;
  inputs_ = header.inputs;
  setName_ = std::move(header.setName);
  dataName_ = std::move(header.dataName);
  magnitudes_.assign(static_cast<std::size_t>(inputs_), 0.0);
  scales_ = magnitudes_;
  const off_t start = static_cast<off_t>(header.dataStart);
  if (::lseek(fd_, start, SEEK_SET) != start) return false;
  bufferStart_ = start;
  p_ = end_ = buffer_.data();
  return Fill(kLongestNumber + 1);
}

bool PlainDataSetReader::Fill(std::size_t want) {
  char* const base = buffer_.data();
  std::size_t have = static_cast<std::size_t>(end_ - p_);
  std::memmove(base, p_, have);
  bufferStart_ += p_ - base;
  while (have < want && !eof_) {
    const ssize_t got = ::read(fd_, base + have, kBufferSize - have);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) eof_ = true;
    have += static_cast<std::size_t>(got);
  }
  std::memset(base + have, 0, kPadding);
  p_ = base;
  end_ = base + have;
  return true;
}

char* PlainDataSetReader::NextRow(double* values, char* out) {
  // Locals, not members, in the loop: stores through `out` could change any
  // member for all the compiler knows, and it would read them again.
  double* const magnitudes = magnitudes_.data();
  double* const scales = scales_.data();
  const char* p = p_;
  const char* end = end_;
  for (std::int32_t column = 0; column < inputs_; ++column) {
    for (;;) {
      while (p != end && IsBlank(*p)) ++p;
      if (p != end) break;
      p_ = p;
      if (eof_ || !Fill(1) || p_ == end_) return nullptr;  // the file ends inside the rows
      p = p_;
      end = end_;
    }
    if (static_cast<std::size_t>(end - p) <= kLongestNumber && !eof_) {
      p_ = p;
      if (!Fill(kBufferSize)) return nullptr;
      p = p_;
      end = end_;
    }

    // "[-]digits[.digits]" with at most 19 digits whose value m is at most
    // 2^53: m and 10^k are exact doubles, so m / 10^k is the correctly rounded
    // value every correct conversion gives, the general reader's too.
    const char* const text = p;
    const bool negative = *p == '-';
    p += negative;
    std::uint64_t m = 0;
    int whole = 1;  // most numbers have one digit before the point
    if (IsDigit(p[0]) && !IsDigit(p[1]))
      m = static_cast<unsigned char>(p[0] - '0');
    else
      whole = LeadingDigits(p, m);
    p += whole;
    int after = 0;
    bool fast = whole < 8;
    const bool point = fast && *p == '.';
    int zeros = 0;  // after the point, before the first other digit
    if (point) {
      ++p;
      while (p[zeros] == '0') ++zeros;
      // Up to 15 digits after the point from two words; more eight at a time.
      const std::uint64_t first = Word(p);
      const int n1 = DigitRun(first);
      const int n2 = n1 == 8 ? DigitRun(Word(p + 8)) : 0;
      if (n1 < 8) {
        if (n1 > 0) m = m * kPow10[n1] + DigitsValue(first, n1);
        after = n1;
        p += n1;
      } else if (n2 < 8) {
        m = m * kPow10[8] + DigitsValue(first, 8);
        if (n2 > 0) m = m * kPow10[n2] + DigitsValue(Word(p + 8), n2);
        after = 8 + n2;
        p += after;
        fast = whole + after <= 19;
      } else {
        for (int n = 8; n == 8 && fast;) {
          std::uint64_t part = 0;
          n = LeadingDigits(p, part);
          p += n;
          fast = whole + after + n <= 19;
          if (fast) {
            m = m * kPow10[n] + part;
            after += n;
          }
        }
      }
    }
    fast = fast && whole + after > 0 && m <= (std::uint64_t{1} << 53) && p < end && IsBlank(*p);
    if (fast) {
      // The division waits for the end of the row, where the row's
      // divisions overlap instead of each holding up the scan.
      // The sign goes on the magnitude as its sign bit (-0 included): a
      // correctly rounded quotient has its dividend's sign and size.
      const double magnitude = static_cast<double>(static_cast<std::int64_t>(m));  // m <= 2^53
      magnitudes[column] =
          std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | (std::uint64_t{negative} << 63));
      scales[column] = kExactPow10[after];
      // The text is copied when the writer would write it so (as
      // IsGeneralFormText finds): at most 24 characters here, and 32 can be
      // read and written.
      const bool leadingZero = text[negative] == '0';
      const bool general = whole >= 1 && (whole == 1 || !leadingZero) && (!point || (after > 0 && p[-1] != '0')) &&
                           (leadingZero ? !point || (zeros <= 3 && after - zeros <= 15) : whole + after <= 15);
      if (general) {
        std::memcpy(out, text, 32);
        out += p - text;
      } else {
        out = FileTools::FormatGeneralTo(magnitudes[column] / scales[column], out);
      }
    } else {
      p_ = text;
      double value = 0.0;
      if (!SlowNumber(value, out)) return nullptr;
      p = p_;
      magnitudes[column] = value;
      scales[column] = 1.0;
    }
    *out++ = ' ';
  }
  p_ = p;
  // Exact: m and 10^k are exact doubles.
  for (std::int32_t column = 0; column < inputs_; ++column) values[column] = magnitudes[column] / scales[column];
  return out;
}

bool PlainDataSetReader::SlowNumber(double& value, char*& out) {
  const char* q = p_;
  while (q != end_ && IsNumberChar(*q)) ++q;
  // A token must end in a blank: anything else is for the general reader.
  if (q == p_ || q == end_ || !IsBlank(*q) || static_cast<std::size_t>(q - p_) > kLongestNumber) return false;
  const std::string_view token(p_, static_cast<std::size_t>(q - p_));
  // The general reader's conversion of a token: correctly rounded where the
  // whole token is a number (the result of any correct conversion), else
  // the C library's reading of its start.
  const auto [stop, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec != std::errc() || stop != q) {
    std::istringstream unused;
    try {
      value = FileTools::ParseNumber(unused, token);
    } catch (const FileTools::Error&) {
      return false;
    }
  }
  if (!std::isfinite(value)) return false;
  out = FileTools::FormatGeneralTo(value, out);
  p_ = q;
  return true;
}

bool PlainDataSetReader::Finish() {
  std::ifstream in(path_, std::ios::binary);
  return in.is_open() && EndsAsADataSetFile(in, bufferStart_ + (p_ - buffer_.data()), setName_, dataName_);
}

}  // namespace mapsmith
