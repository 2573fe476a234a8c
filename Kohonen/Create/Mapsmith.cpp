#include "Kohonen/Create/Mapsmith.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <limits>
#include <new>
#include <ostream>
#include <streambuf>
#include <string_view>
#include <system_error>

#include "FileHandler/AtomicFile.h"
#include "FileHandler/ParseTools.h"

#ifndef MAPSMITH_VERSION
#define MAPSMITH_VERSION "unknown"
#endif

namespace {

// The longest token a parameter file may hold. Keys, numbers and file names
// never need more (a path is at most 4095 bytes); a longer token, such as the
// endless one of /dev/zero, is refused before it fills the memory.
constexpr std::size_t kMaxToken = 4096;

// Thrown by the reader at a token longer than kMaxToken.
struct TokenTooLong {};

// Reads the parameter text straight from the stream buffer. Every read that
// meets the end of the input sets `atEnd`, which ends the reading loop.
class ParameterReader {
 public:
  explicit ParameterReader(std::istream& in) : buf_(in.rdbuf()) {}

  bool AtEnd() const { return atEnd_; }

  // Skips white space and returns the next character without taking it, or
  // EOF (and marks the end).
  int PeekNonSpace() {
    if (buf_ == nullptr) return Eof();
    for (;;) {
      const int c = buf_->sgetc();
      if (c == std::char_traits<char>::eof()) return Eof();
      if (!IsSpace(c)) return c;
      buf_->sbumpc();
    }
  }

  // The next white-space-delimited token; empty at the end of the input.
  std::string Token() {
    std::string token;
    if (PeekNonSpace() == std::char_traits<char>::eof()) return token;
    for (;;) {
      const int c = buf_->sgetc();
      if (c == std::char_traits<char>::eof()) {
        atEnd_ = true;
        break;
      }
      if (IsSpace(c)) break;
      if (token.size() == kMaxToken) throw TokenTooLong{};
      token.push_back(static_cast<char>(c));
      buf_->sbumpc();
    }
    return token;
  }

  // Takes the separator: the next character that is not white space.
  bool Separator() {
    if (PeekNonSpace() == std::char_traits<char>::eof()) return false;
    buf_->sbumpc();
    return true;
  }

  enum class Number { kRead, kEnd, kNotANumber, kOutOfRange };

  // An integer with optional sign; 0x/0X selects base 16, a leading 0 base 8,
  // otherwise base 10. Reading stops at the first character that is not a
  // digit of the base; that character stays for the next token.
  Number Integer(int32_t& value) {
    int64_t wide = 0;
    const Number result = Integer(wide, INT32_MIN, INT32_MAX);
    if (result == Number::kRead) value = static_cast<int32_t>(wide);
    return result;
  }

  // The same reading for any range within [-2^32, 2^32 - 1].
  Number Integer(int64_t& value, int64_t min, int64_t max) {
    int c = PeekNonSpace();
    if (c == std::char_traits<char>::eof()) return Number::kEnd;
    std::size_t used = 0;  // characters of the token taken so far
    bool negative = false;
    if (c == '+' || c == '-') {
      negative = (c == '-');
      buf_->sbumpc();
      ++used;
      c = Peek();
    }
    if (!IsDigit(c, 10)) return Number::kNotANumber;
    int base = 10;
    if (c == '0') {
      buf_->sbumpc();
      ++used;
      c = Peek();
      if (c == 'x' || c == 'X') {
        // "0x" must be followed by a hexadecimal digit.
        buf_->sbumpc();
        ++used;
        c = Peek();
        if (!IsDigit(c, 16)) return Number::kNotANumber;
        base = 16;
      } else {
        base = 8;
      }
    }
    uint64_t magnitude = 0;
    bool overflow = false;
    const uint64_t limit = negative ? static_cast<uint64_t>(-min) : static_cast<uint64_t>(max);
    for (; IsDigit(c, base); ++used) {
      if (used == kMaxToken) throw TokenTooLong{};
      magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitValue(c));
      if (magnitude > limit) {
        overflow = true;
        magnitude = limit;  // keep consuming the digits without overflowing
      }
      buf_->sbumpc();
      c = Peek();
    }
    if (overflow) return Number::kOutOfRange;
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return Number::kRead;
  }

  // A decimal real: [sign] digits [. digits] [e|E [sign] digits], with at least
  // one digit before or after the point.
  Number Real(double& value) {
    int c = PeekNonSpace();
    if (c == std::char_traits<char>::eof()) return Number::kEnd;
    LimitedText text;
    if (c == '+' || c == '-') {
      if (c == '-') text.push_back('-');
      buf_->sbumpc();
      c = Peek();
    }
    bool digits = false;
    while (IsDigit(c, 10)) {
      text.push_back(static_cast<char>(c));
      digits = true;
      buf_->sbumpc();
      c = Peek();
    }
    if (c == '.') {
      text.push_back('.');
      buf_->sbumpc();
      c = Peek();
      while (IsDigit(c, 10)) {
        text.push_back(static_cast<char>(c));
        digits = true;
        buf_->sbumpc();
        c = Peek();
      }
    }
    if (!digits) return Number::kNotANumber;
    if (c == 'e' || c == 'E') {
      // An exponent mark must be followed by digits (after an optional sign).
      text.push_back('e');
      buf_->sbumpc();
      c = Peek();
      if (c == '+' || c == '-') {
        text.push_back(static_cast<char>(c));
        buf_->sbumpc();
        c = Peek();
      }
      if (!IsDigit(c, 10)) return Number::kNotANumber;
      while (IsDigit(c, 10)) {
        text.push_back(static_cast<char>(c));
        buf_->sbumpc();
        c = Peek();
      }
    }
    double parsed = 0.0;
    const auto result = std::from_chars(text.text.data(), text.text.data() + text.text.size(), parsed);
    if (result.ec == std::errc::result_out_of_range) return Number::kOutOfRange;
    if (result.ec != std::errc()) return Number::kNotANumber;
    value = parsed;
    return Number::kRead;
  }

 private:
  // The characters of a number, at most kMaxToken of them.
  struct LimitedText {
    std::string text;
    void push_back(char c) {
      if (text.size() == kMaxToken) throw TokenTooLong{};
      text.push_back(c);
    }
  };

  static bool IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }
  static int DigitValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
  }
  static bool IsDigit(int c, int base) {
    return c != std::char_traits<char>::eof() && DigitValue(c) < base;
  }
  int Peek() {
    const int c = buf_->sgetc();
    if (c == std::char_traits<char>::eof()) atEnd_ = true;
    return c;
  }
  int Eof() {
    atEnd_ = true;
    return std::char_traits<char>::eof();
  }

  std::streambuf* buf_;
  bool atEnd_ = false;
};

std::string NumberMessage(ParameterReader::Number result, std::string_view key) {
  if (result == ParameterReader::Number::kOutOfRange)
    return "Value of " + std::string(key) + " is out of range";
  return "Value of " + std::string(key) + " is not a number";
}

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

constexpr std::string_view kHelp =
    "Usage: Mapsmith ParameterFile\n"
    "       Mapsmith --help | --version\n"
    "Creates a new, untrained Kohonen self-organising map whose weights are\n"
    "pseudo-random values between two limits, and writes it as a network file.\n"
    "\n"
    "The parameter file holds entries \"Key = value\" (keys in any case):\n"
    "  Inputs = N              number of inputs (at least 1)\n"
    "  Dimensions = D          number of map dimensions (at least 1)\n"
    "  MapDim = S1 ... SD      size of each dimension (each at least 1)\n"
    "  MinWeight = X           lower weight limit (default: -1)\n"
    "  MaxWeight = Y           upper weight limit (default: 1)\n"
    "  FileName = NAME         the network file to write (required)\n"
    "  Seed = N                seed of the random weights, 0 to 4294967295\n"
    "                          (default: the clock, in seconds)\n"
    "The same parameter file with a Seed makes the same map, byte for byte.\n"
    "\n"
    "Exit status: 0 when the network file was written, 1 for every refusal.\n";

std::string ReadEntries(std::istream& in, MapParameters& params);

}  // namespace

std::string ReadParameters(std::istream& in, MapParameters& params) {
  try {
    return ReadEntries(in, params);
  } catch (const TokenTooLong&) {
    return "Parameter file token longer than " + std::to_string(kMaxToken) + " characters";
  }
}

namespace {

std::string ReadEntries(std::istream& in, MapParameters& params) {
  using Number = ParameterReader::Number;
  ParameterReader reader(in);

  auto readInteger = [&](std::string_view key, int32_t& target) -> std::string {
    int32_t value = 0;
    const Number result = reader.Integer(value);
    if (result == Number::kRead) target = value;
    if (result == Number::kNotANumber || result == Number::kOutOfRange)
      return NumberMessage(result, key);
    return {};
  };
  auto readReal = [&](std::string_view key, double& target) -> std::string {
    double value = 0.0;
    const Number result = reader.Real(value);
    if (result == Number::kRead) target = value;
    if (result == Number::kNotANumber || result == Number::kOutOfRange)
      return NumberMessage(result, key);
    return {};
  };

  while (!reader.AtEnd()) {
    const std::string token = reader.Token();
    if (token.empty()) break;
    std::string error;
    if (mapsmith::strcasecmp(token, "Inputs") == 0) {
      if (!reader.Separator()) break;
      error = readInteger("Inputs", params.inputs);
    } else if (mapsmith::strcasecmp(token, "Dimensions") == 0) {
      if (!reader.Separator()) break;
      error = readInteger("Dimensions", params.dimensions);
      // A new, empty size list replaces any earlier one.
      if (error.empty()) params.mapSizes.clear();
    } else if (mapsmith::strcasecmp(token, "MapDim") == 0) {
      if (!reader.Separator()) break;
      for (int32_t i = 0; i < params.dimensions && error.empty() && !reader.AtEnd(); ++i) {
        int32_t size = 0;
        const Number result = reader.Integer(size);
        if (result == Number::kEnd) break;
        if (result != Number::kRead) {
          error = NumberMessage(result, "MapDim");
          break;
        }
        if (static_cast<size_t>(i) < params.mapSizes.size())
          params.mapSizes[static_cast<size_t>(i)] = size;
        else
          params.mapSizes.push_back(size);
      }
    } else if (mapsmith::strcasecmp(token, "MinWeight") == 0) {
      if (!reader.Separator()) break;
      error = readReal("MinWeight", params.minWeight);
    } else if (mapsmith::strcasecmp(token, "MaxWeight") == 0) {
      if (!reader.Separator()) break;
      error = readReal("MaxWeight", params.maxWeight);
    } else if (mapsmith::strcasecmp(token, "FileName") == 0) {
      if (!reader.Separator()) break;
      std::string name = reader.Token();
      if (!name.empty()) params.fileName = std::move(name);
    } else if (mapsmith::strcasecmp(token, "Seed") == 0) {
      if (!reader.Separator()) break;
      int64_t seed = 0;
      const Number result = reader.Integer(seed, 0, UINT32_MAX);
      if (result == Number::kRead) params.seed = static_cast<uint32_t>(seed);
      if (result == Number::kNotANumber || result == Number::kOutOfRange) error = NumberMessage(result, "Seed");
    }
    if (!error.empty()) return error;
  }
  return {};
}

}  // namespace

std::string ValidateParameters(const MapParameters& params) {
  if (params.inputs < 1) return "Number of Inputs must be >= 1";
  if (params.dimensions < 1) return "Number of Dimensions must be >= 1";
  for (int32_t i = 0; i < params.dimensions; ++i) {
    const size_t k = static_cast<size_t>(i);
    const int32_t size = k < params.mapSizes.size() ? params.mapSizes[k] : 0;
    if (size < 1) return "MapDims must be >= 1";
  }
  if (params.minWeight > params.maxWeight) return "MinWeight must not be greater than MaxWeight";
  if (params.fileName.empty()) return "Filename not specified";

  // Neuron and weight counts are 32-bit in the network: refuse what cannot be
  // built before anything is allocated.
  int64_t neurons = 1;
  for (int32_t i = 0; i < params.dimensions; ++i) {
    neurons *= params.mapSizes[static_cast<size_t>(i)];
    if (neurons > kInt32Max) return "Map is too large: more than 2147483647 neurons";
  }
  const int64_t weights = neurons * params.inputs;
  if (weights > kInt32Max) return "Map is too large: " + std::to_string(weights) + " weights";
  return {};
}

int RunParameterText(std::istream& in, std::ostream& out, std::ostream& err,
                     const CreationRun& run) {
  MapParameters params;
  std::string message = ReadParameters(in, params);
  if (message.empty()) message = ValidateParameters(params);
  if (!message.empty()) {
    err << message << std::endl;
    return 1;
  }
  return run(params, out, err);
}

int RunMapsmith(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  if (argc == 2 && std::string_view(argv[1]) == "--help") {
    out << kHelp;
    out.flush();
    return 0;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    out << "Mapsmith " << MAPSMITH_VERSION << '\n';
    out.flush();
    return 0;
  }
  if (argc != 2) {
    err << "Usage Mapsmith ParameterFile" << std::endl;
    return 1;
  }
  const char* path = argv[1];
  try {
    std::error_code ec;
    std::ifstream in;
    // A directory opens but cannot be read: refuse it like a missing file.
    if (!std::filesystem::is_directory(path, ec)) in.open(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
      err << "Unable to open parameter file " << path << std::endl;
      return 1;
    }
    const CreationRun run = [path](const MapParameters& params, std::ostream& o, std::ostream& e) {
      // The map would replace the very file it was made from.
      if (mapsmith::IsSameFile(path, params.fileName.c_str())) {
        e << "FileName names the parameter file itself" << std::endl;
        return 1;
      }
      return CreateMap(params, o, e);
    };
    return RunParameterText(in, out, err, run);
  } catch (const std::ios_base::failure&) {
    // The reader takes characters from the file's buffer, which throws when
    // reading fails (an I/O error): the file cannot be read.
    err << "Unable to open parameter file " << path << std::endl;
    return 1;
  } catch (const std::bad_alloc&) {
    err << "Not enough memory to read the parameter file" << std::endl;
    return 1;
  }
}
