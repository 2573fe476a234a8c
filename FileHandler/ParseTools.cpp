#include "FileHandler/ParseTools.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>
#include <streambuf>
#include <system_error>

#include "KQmessage/Assert.h"

namespace mapsmith {

namespace {
inline unsigned char Upper(char c) noexcept {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}
}  // namespace

int strcasecmp(std::string_view a, std::string_view b) noexcept {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Upper(a[i]);
    const unsigned char y = Upper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace mapsmith

namespace {

using mapsmith::strcasecmp;
using Traits = std::char_traits<char>;
constexpr int kEof = Traits::eof();

// Character classes of the tokenizer. Separators are the bytes that are below
// 33 or above 126 as signed 8-bit values (controls, blank, DEL, 128-255) and
// the comma; the seven specials always stand alone as tokens.
enum : unsigned char { kTokenChar = 0, kSeparator = 1, kSpecial = 2 };

constexpr std::array<unsigned char, 256> MakeClasses() {
  std::array<unsigned char, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    if (c < 33 || c > 126 || c == ',') classes[c] = kSeparator;
  }
  for (char c : std::string_view("[]/*=<>")) classes[static_cast<unsigned char>(c)] = kSpecial;
  return classes;
}
constexpr std::array<unsigned char, 256> kClasses = MakeClasses();

inline unsigned char ClassOf(int c) { return kClasses[static_cast<unsigned char>(c)]; }

}  // namespace

// The stream buffer's get area is protected; a pointer to member formed
// through a derived class reaches it on any buffer, so runs of characters
// already buffered can be scanned in place instead of one call per character.
struct GetArea : std::streambuf {
  static constexpr auto Next = &GetArea::gptr;
  static constexpr auto End = &GetArea::egptr;
  static constexpr auto Bump = &GetArea::gbump;
};

// Characters straight from the stream's buffer. "Putting a character back" is
// done by peeking at it without taking it, so nothing is ever read ahead of
// what the syntax consumes. The end of input sets the stream's eofbit once;
// a stream that is not good() delivers nothing.
class FileTools::Input {
 public:
  explicit Input(std::istream& in) : in_(in), buf_(in.good() ? in.rdbuf() : nullptr) {}

  std::istream& stream() const { return in_; }

  int Peek() {
    if (buf_ == nullptr) return kEof;
    const int c = buf_->sgetc();
    if (c == kEof) End();
    return c;
  }
  // Takes the character the last Peek returned (which was not the end).
  void Skip() { buf_->sbumpc(); }
  int Take() {
    if (buf_ == nullptr) return kEof;
    const int c = buf_->sbumpc();
    if (c == kEof) End();
    return c;
  }
  // Takes the buffered characters of class `cls` that come next (possibly
  // none; more may follow once the buffer is refilled) and returns them.
  std::string_view TakeRun(unsigned char cls) {
    if (buf_ == nullptr) return {};
    const char* const first = (buf_->*GetArea::Next)();
    // gbump takes an int: a larger buffered run is taken in parts.
    const char* const last = first + std::min<std::ptrdiff_t>((buf_->*GetArea::End)() - first, INT_MAX);
    const char* p = first;
    while (p != last && kClasses[static_cast<unsigned char>(*p)] == cls) ++p;
    const std::string_view run(first, static_cast<size_t>(p - first));
    (buf_->*GetArea::Bump)(static_cast<int>(p - first));
    return run;
  }

 private:
  void End() {
    buf_ = nullptr;
    in_.setstate(std::ios::eofbit);
  }

  std::istream& in_;
  std::streambuf* buf_;
};

namespace {

[[noreturn]] void Fail(std::string message, std::istream& in) { throw FileTools::Error(std::move(message), &in); }

}  // namespace

void FileTools::SkipCommentBody(Input& src) {
  // Nesting is counted instead of recursing, so deep nesting cannot exhaust
  // the stack. After a nested comment closes, its '*' stands as the previous
  // character of the enclosing one.
  size_t depth = 1;
  int prev = ' ';
  for (;;) {
    const int c = src.Take();
    if (c == kEof) Fail("Unexpected end of file during comment", src.stream());
    if (prev == '*' && c == '/') {
      if (--depth == 0) return;
      prev = '*';
    } else if (prev == '/' && c == '*') {
      ++depth;
      prev = ' ';
    } else {
      prev = c;
    }
  }
}

namespace {

inline bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// ---- Reading ----

const std::string& FileTools::ReadToken(Input& src) {
  token_.clear();
  for (;;) {
    int c;
    do {
      src.TakeRun(kSeparator);
      c = src.Take();
    } while (c != kEof && ClassOf(c) == kSeparator);
    if (c == kEof) return token_;

    if (ClassOf(c) == kSpecial) {
      const int next = src.Peek();
      if (c == '/' && next == '*') {
        src.Skip();
        SkipCommentBody(src);
        continue;
      }
      token_.push_back(static_cast<char>(c));
      if (c == '[' && next == '~') {
        src.Skip();
        token_.push_back('~');
      }
      return token_;
    }

    token_.push_back(static_cast<char>(c));
    for (;;) {
      token_.append(src.TakeRun(kTokenChar));
      c = src.Peek();
      if (c == kEof) return token_;
      const unsigned char cls = ClassOf(c);
      if (cls == kSpecial) return token_;  // it starts the next token
      src.Skip();
      if (cls == kSeparator) return token_;
      token_.push_back(static_cast<char>(c));
    }
  }
}

std::string FileTools::NextToken(std::istream& in) {
  Input src(in);
  return ReadToken(src);
}

void FileTools::SkipComment(std::istream& in) {
  Input src(in);
  SkipCommentBody(src);
}

FileTools::Tag FileTools::ReadTag(std::string_view blockName, std::istream& in, bool inBracket) {
  Tag tag;
  ReadTag(blockName, in, inBracket, tag);
  return tag;
}

void FileTools::ReadTag(std::string_view blockName, std::istream& in, bool inBracket, Tag& tag) {
  Input src(in);
  // `tag` is written only when the element is complete, because `blockName`
  // may refer to its name.
  for (;;) {  // repeats after a skipped header
    const std::string& t = ReadToken(src);
    if (t.empty()) {
      if (!blockName.empty()) Fail("Unexpected end of file", in);
      tag.kind = TagEnd;
      tag.name.clear();
      tag.value.clear();
      tag.open = false;
      return;
    }
    if (t.size() == 1 && t[0] == ']') Fail("Unexpected ']'", in);

    if (inBracket || (t.size() == 1 && t[0] == '[')) {
      if (!inBracket) ReadToken(src);
      if (token_.empty()) Fail("Unexpected end of file", in);
      if (ClassOf(token_[0]) == kSpecial) Fail("Unexpected special character", in);
      name_.swap(token_);

      // Only separators may stand between the name and "]" or "="; comments
      // are not recognised here.
      int c = src.Peek();
      while (c != kEof && ClassOf(c) == kSeparator) {
        src.Skip();
        c = src.Peek();
      }
      if (c == ']' || c != '=') {
        const bool closed = c == ']';
        if (closed) src.Skip();
        tag.kind = TagStart;
        tag.name.assign(name_);
        tag.value.clear();
        tag.open = !closed;
        return;
      }
      src.Skip();  // the "="

      ReadToken(src);
      if (token_.empty()) Fail("Unexpected end of file", in);
      if (ClassOf(token_[0]) == kSpecial) Fail("Unexpected special character", in);
      // Exactly one character after the value decides whether the bracket closes.
      const bool closed = src.Peek() == ']';
      if (closed) src.Skip();

      if (!inBracket && strcasecmp(name_, "FORMATVERSION") == 0) {
        if (!closed) Fail("Illegal Format of FormatVersion", in);
        if (ParseNumber(in, token_) > 1.0) Fail("Illegal Format Version", in);
        continue;  // the header is dropped
      }
      tag.kind = TagValue;
      tag.name.assign(name_);
      tag.value.assign(token_);
      tag.open = !closed;
      return;
    }

    if (t.size() == 2 && t[0] == '[' && t[1] == '~') {
      if (blockName.empty()) Fail("Unexpected End Tag", in);
      if (strcasecmp(ReadToken(src), blockName) != 0) Fail("Unexpected End Tag", in);
      const std::string& close = ReadToken(src);
      if (close.size() != 1 || close[0] != ']') Fail("Expected ']'", in);
      tag.kind = TagEnd;
      tag.name.clear();
      tag.value.clear();
      tag.open = false;
      return;
    }

    tag.kind = TagToken;
    tag.name.assign(t);
    tag.value.clear();
    tag.open = false;
    return;
  }
}

std::string FileTools::ExpectBlock(const Tag& tag, std::istream& in, std::string_view expected) {
  if (expected.empty()) {
    if (tag.kind != TagStart) Fail("start of block expected", in);
  } else if (tag.kind != TagStart || strcasecmp(tag.name, expected) != 0) {
    Fail("[" + std::string(expected) + "] expected", in);
  }
  return tag.name;
}

void FileTools::ExpectEnd(const Tag& tag, std::istream& in) {
  if (tag.kind != TagEnd) Fail("End Tag expected", in);
}

std::string FileTools::ReadString(const Tag& tag, std::istream& in, std::string_view key,
                                  std::string_view required) {
  if (tag.kind != TagValue || strcasecmp(tag.name, key) != 0)
    Fail("[" + std::string(key) + " = <string>] expected" + tag.name, in);
  if (required.empty()) return tag.value;
  if (strcasecmp(tag.value, required) != 0)
    Fail("[" + std::string(key) + " = " + std::string(required) + "] expected", in);
  return std::string();
}

int32_t FileTools::ReadInteger(const Tag& tag, std::istream& in, std::string_view key) {
  if (tag.kind != TagValue || strcasecmp(tag.name, key) != 0)
    Fail("[" + std::string(key) + " = <integer>] expected", in);
  return ParseInteger(in, tag.value);
}

double FileTools::ReadNumber(const Tag& tag, std::istream& in, std::string_view key) {
  if (tag.kind != TagValue || strcasecmp(tag.name, key) != 0)
    Fail("[" + std::string(key) + " = <number>] expected", in);
  return ParseNumber(in, tag.value);
}

double FileTools::ReadNumberToken(const Tag& tag, std::istream& in) {
  if (tag.kind != TagToken) Fail("Token (number) expected", in);
  return ParseNumber(in, tag.name);
}

namespace {

constexpr double kExactPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Whether the 8 characters at p are all digits; then their value.
inline bool EightDigits(const char* p, std::uint64_t& value) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);  // first character lowest
  if (((x & 0xF0F0F0F0F0F0F0F0u) | (((x + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) >> 4)) !=
      0x3333333333333333u)
    return false;
  // Bytes to digits, then pairs, then fours, then the eight.
  x -= 0x3030303030303030u;
  x = x * 10 + (x >> 8);
  x = (((x & 0x000000FF000000FFu) * (100 + (std::uint64_t{1000000} << 32))) +
       (((x >> 16) & 0x000000FF000000FFu) * (1 + (std::uint64_t{10000} << 32)))) >>
      32;
  value = x;
  return true;
}

inline bool IsDecimalDigit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

// Reads a plain decimal "[-]digits[.digits]" at [p, end) up to the first other
// character, which `stop` receives. Succeeds when it has at most 19 digits
// whose value m, read as one integer, is at most 2^53, with at most 22 of them
// after the point: m and 10^k are then exact doubles, so m / 10^k is the
// correctly rounded value that every correct conversion gives.
bool ParseShortDecimal(const char* p, const char* end, const char*& stop, double& value) {
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  const char* const first = p;
  std::uint64_t m = 0;
  while (p != end && IsDecimalDigit(*p)) m = m * 10 + static_cast<unsigned>(*p++ - '0');
  int whole = static_cast<int>(p - first);
  int after = 0;
  if (whole > 19) return false;
  if (p != end && *p == '.') {
    const char* const fraction = ++p;
    std::uint64_t eight = 0;
    while (end - p >= 8 && whole + (p - fraction) <= 11 && EightDigits(p, eight)) {
      m = m * 100000000u + eight;
      p += 8;
    }
    while (p != end && IsDecimalDigit(*p) && whole + (p - fraction) < 19)
      m = m * 10 + static_cast<unsigned>(*p++ - '0');
    if (p != end && IsDecimalDigit(*p)) return false;  // more than 19 digits
    after = static_cast<int>(p - fraction);
  }
  stop = p;
  if (whole + after == 0 || after > 22 || m > (std::uint64_t{1} << 53)) return false;
  const double magnitude = after > 0 ? static_cast<double>(m) / kExactPow10[after] : static_cast<double>(m);
  value = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace

double FileTools::ReadNumberElement(std::string_view blockName, std::istream& in, Tag& tag) {
  std::streambuf* buf = in.good() ? in.rdbuf() : nullptr;
  if (buf != nullptr) {
    const char* const first = (buf->*GetArea::Next)();
    const char* const last = first + std::min<std::ptrdiff_t>((buf->*GetArea::End)() - first, INT_MAX - 1);
    const char* p = first;
    while (p != last && ClassOf(*p) == kSeparator) ++p;
    const char* const start = p;
    // A short plain decimal is converted as it is scanned; any other token is
    // scanned whole first.
    double value = 0.0;
    const char* stop = nullptr;
    const bool decimal = ParseShortDecimal(start, last, stop, value);
    p = decimal ? stop : start;
    while (p != last && ClassOf(*p) == kTokenChar) ++p;
    // A token followed by a buffered separator or special character ends
    // there, whatever the buffer refills with; the separator is taken with
    // it, a special character starts the next element.
    if (p != start && p != last) {
      const std::string_view token(start, static_cast<size_t>(p - start));
      const bool whole = decimal && stop == p;
      if (ClassOf(*p) == kSeparator) ++p;
      (buf->*GetArea::Bump)(static_cast<int>(p - first));
      return whole ? value : ParseNumber(in, token);
    }
  }
  ReadTag(blockName, in, false, tag);
  return ReadNumberToken(tag, in);
}

int32_t FileTools::ParseInteger(std::istream& in, std::string_view text) {
  // A decimal conversion: leading blanks, an optional sign, at least one digit;
  // what follows the digits is ignored. A value that does not fit 32 bits is
  // refused rather than cut.
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == n || !IsDigit(text[i])) Fail("integer-expected", in);
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
  for (; i < n && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) Fail("integer-expected", in);
  }
  if (negative) value = -value;
  if (value > INT32_MAX) Fail("integer-expected", in);
  return static_cast<int32_t>(value);
}

double FileTools::ParseNumber(std::istream& in, std::string_view text) {
  // Short plain decimals (as the writers write them) are converted exactly
  // here; other plain decimal tokens take the library's correctly rounded
  // conversion; everything else (leading blanks or '+', hex, numeric
  // prefixes, magnitudes beyond the range) goes through the C library's
  // conversion, which rounds the same.
  double value = 0.0;
  const char* const end = text.data() + text.size();
  const char* shortEnd = nullptr;
  if (ParseShortDecimal(text.data(), end, shortEnd, value) && shortEnd == end) return value;
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec == std::errc() && ptr == end && !text.empty()) return value;

  const std::string copy(text);  // the conversion needs a terminated text
  char* stop = nullptr;
  value = std::strtod(copy.c_str(), &stop);
  if (stop == copy.c_str()) Fail("number-expected", in);
  return value;
}

// ---- Writing ----

namespace {

void Compose(std::string& line, std::string_view a, std::string_view b, std::string_view c = {}) {
  line.clear();
  line.append(a).append(b).append(c);
}

}  // namespace

void FileTools::PutLine(std::ostream& out) { out.write(line_.data(), static_cast<std::streamsize>(line_.size())); }

void FileTools::WriteItem(std::ostream& out, std::string_view name, std::string_view value, bool bracket) {
  line_.clear();
  if (bracket) {
    line_ += '[';
    line_ += name;
    line_ += " = ";
    line_ += value;
    line_ += "]\n";
  } else {
    line_ += name;
    line_ += '=';
    line_ += value;
    line_ += ' ';
  }
  PutLine(out);
}

void FileTools::WriteTag(const Tag& tag, std::ostream& out, bool bracket) {
  switch (tag.kind) {
    case TagHeader:
      MAPSMITH_ASSERT(bracket);
      WriteFormatVersion(out);
      return;
    case TagEnd:
      if (tag.name.empty()) return;
      MAPSMITH_ASSERT(bracket);
      Compose(line_, "[~", tag.name, "]\n");
      PutLine(out);
      return;
    case TagToken:
      Compose(line_, tag.name, " ");
      PutLine(out);
      return;
    case TagStart:
      if (bracket)
        Compose(line_, "[", tag.name, "]\n");
      else
        Compose(line_, tag.name, " ");
      PutLine(out);
      return;
    case TagValue:
      WriteItem(out, tag.name, tag.value, bracket);
      return;
    default:
      MAPSMITH_ASSERT(0);
  }
}

void FileTools::OpenBracket(std::ostream& out, bool bracket) {
  if (bracket) out.write("[", 1);
}

void FileTools::CloseBracket(std::ostream& out, bool bracket, bool lineEnd) {
  if (bracket) out.write("]\n", lineEnd ? 2 : 1);
}

void FileTools::WriteFormatVersion(std::ostream& out) {
  static constexpr std::string_view kHeader = "[FormatVersion = 1.0]\n\n";
  out.write(kHeader.data(), static_cast<std::streamsize>(kHeader.size()));
}

void FileTools::NewLine(std::ostream& out) { out.write("\n", 1); }

void FileTools::WriteName(std::ostream& out, std::string_view name, bool bracket) {
  if (bracket)
    Compose(line_, "[", name, "]\n");
  else
    Compose(line_, name, " ");
  PutLine(out);
}

void FileTools::WriteEndTag(std::ostream& out, std::string_view name) {
  if (name.empty()) return;
  Compose(line_, "[~", name, "]\n");
  PutLine(out);
}

void FileTools::WriteString(std::ostream& out, std::string_view name, std::string_view value, bool bracket) {
  WriteItem(out, name, value, bracket);
}

void FileTools::WriteInteger(std::ostream& out, std::string_view name, int32_t value, bool bracket) {
  char text[16];
  const auto result = std::to_chars(text, text + sizeof text, value);
  WriteItem(out, name, std::string_view(text, static_cast<size_t>(result.ptr - text)), bracket);
}

void FileTools::WriteNumber(std::ostream& out, std::string_view name, double value, int precision, bool bracket) {
  if (precision < 0) precision = 6;  // as printf takes a negative precision
  // Room for a sign, the 309 integer digits of the largest double, the point
  // and the decimals.
  const size_t room = 312 + static_cast<size_t>(precision);
  if (number_.size() < room) number_.resize(room);
  char* const first = number_.data();
  const auto result = std::to_chars(first, first + number_.size(), value, std::chars_format::fixed, precision);
  WriteItem(out, name, std::string_view(first, static_cast<size_t>(result.ptr - first)), bracket);
}

namespace {

// ---- numbers in general notation with 15 significant digits ----
//
// The text must equal printf "%.15g". Values whose 15-digit form is plain
// decimal notation (magnitudes from 0.0001 to below 1e15, and zero) are
// converted here exactly and several times faster than the general
// conversion: N = round(|value| * 10^k) is formed from the binary significand
// in 128-bit integers, rounding half to even as the C library does, and its 15
// digits are laid out with k of them after the point, trailing zeros dropped.
// Every other value (exponent form, subnormals, infinities, NaN) takes the
// general conversion.

using U128 = unsigned __int128;

constexpr std::uint64_t kPow10[20] = {1ull,
                                      10ull,
                                      100ull,
                                      1000ull,
                                      10000ull,
                                      100000ull,
                                      1000000ull,
                                      10000000ull,
                                      100000000ull,
                                      1000000000ull,
                                      10000000000ull,
                                      100000000000ull,
                                      1000000000000ull,
                                      10000000000000ull,
                                      100000000000000ull,
                                      1000000000000000ull,
                                      10000000000000000ull,
                                      100000000000000000ull,
                                      1000000000000000000ull,
                                      10000000000000000000ull};

// The 8 ASCII digits of v < 10^8, the first in the lowest byte: v is split
// into two halves of four digits, each into two pairs, each pair into two
// digits, all lanes at once.
inline std::uint64_t EightDigitChars(std::uint32_t v) {
  const std::uint64_t x = (v / 10000) | (static_cast<std::uint64_t>(v % 10000) << 32);
  const std::uint64_t hundreds = ((x * 10486) >> 20) & 0x0000007F0000007Fu;
  const std::uint64_t y = hundreds | ((x - hundreds * 100) << 16);
  const std::uint64_t tens = ((y * 103) >> 10) & 0x000F000F000F000Fu;
  return (tens | ((y - tens * 10) << 8)) + 0x3030303030303030u;
}

// Stores the 16 bytes of v at `at`, its lowest byte first.
inline void Store16(char* at, U128 v) {
  std::uint64_t part[2] = {static_cast<std::uint64_t>(v), static_cast<std::uint64_t>(v >> 64)};
  if constexpr (std::endian::native == std::endian::big) {
    part[0] = __builtin_bswap64(part[0]);
    part[1] = __builtin_bswap64(part[1]);
  }
  std::memcpy(at, part, sizeof part);
}

// round(m * 10^k / 2^shift), ties to even.
inline std::uint64_t ScaleRound(std::uint64_t m, int k, int shift) {
  const U128 product = static_cast<U128>(m) * kPow10[k];
  std::uint64_t q = static_cast<std::uint64_t>(product >> shift);
  const U128 rest = product & ((static_cast<U128>(1) << shift) - 1);
  const U128 half = static_cast<U128>(1) << (shift - 1);
  if (rest > half || (rest == half && (q & 1u) != 0)) ++q;
  return q;
}

// Writes value in "%.15g" form at `out` and returns the end, or nullptr when
// the value needs the general conversion. Writes up to 32 characters.
char* FormatPlain15(double value, char* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  char* p = out;
  if (bits >> 63) *p++ = '-';
  if (biased == 0) {
    if (fraction != 0) return nullptr;  // subnormal
    *p++ = '0';
    return p;
  }
  // |value| = m / 2^shift; at 2^52 and above the 15-digit form has an exponent.
  const int shift = 1075 - biased;
  if (shift < 1 || shift > 100) return nullptr;
  const std::uint64_t m = fraction | (std::uint64_t{1} << 52);
  // floor(log10 |value|) is floor(log2 |value| * log10 2) or one more.
  int k = 14 - (((biased - 1023) * 78913) >> 18);
  if (k < 0 || k > 19) return nullptr;
  std::uint64_t n = ScaleRound(m, k, shift);
  if (n >= kPow10[15]) {
    if (--k < 0) return nullptr;
    n = ScaleRound(m, k, shift);
  } else if (n < kPow10[14]) {  // not expected from the estimate; kept exact anyway
    if (++k > 19) return nullptr;
    n = ScaleRound(m, k, shift);
  }
  if (k > 18) return nullptr;  // below 0.0001: exponent form

  // The 15 digits of n as one 16-character value (the first digit in the
  // lowest byte, then a zero byte), and where they end without trailing
  // zeros. The text is put together in registers and stored whole, never read
  // back from memory.
  const std::uint64_t high = EightDigitChars(static_cast<std::uint32_t>(n / 100000000u));  // '0' d0..d6
  const std::uint64_t low = EightDigitChars(static_cast<std::uint32_t>(n % 100000000u));   // d7..d14
  constexpr std::uint64_t kZeros = 0x3030303030303030u;
  const int last = low != kZeros ? 15 - (__builtin_clzll(low - kZeros) >> 3)
                                 : 8 - (__builtin_clzll((high - kZeros) >> 8) >> 3);
  const U128 digits = (high >> 8) | (static_cast<U128>(low) << 56);
  if (k <= 14) {
    const int whole = 15 - k;  // 1 to 15 digits before the point
    if (last > whole) {
      const int bits = 8 * whole;
      const U128 before = digits & ((static_cast<U128>(1) << bits) - 1);
      Store16(p, before | (static_cast<U128>('.') << bits) | ((digits >> bits) << (bits + 8)));
      p += last + 1;
    } else {
      Store16(p, digits);
      p += whole;
    }
  } else {
    std::memcpy(p, "0.000", 5);
    p += 2 + (k - 15);
    Store16(p, digits);
    p += last;
  }
  return p;
}

}  // namespace

char* FileTools::FormatGeneralTo(double value, char* out) {
  if (char* end = FormatPlain15(value, out)) return end;
  return std::to_chars(out, out + GeneralNumberSize, value, std::chars_format::general, 15).ptr;
}

std::string_view FileTools::FormatGeneral(double value, char (&buffer)[GeneralNumberSize]) {
  const char* const end = FormatGeneralTo(value, buffer);
  return std::string_view(buffer, static_cast<size_t>(end - buffer));
}
