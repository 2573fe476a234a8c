#include "FileHandler/NetworkFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <system_error>
#include <typeinfo>
#include <vector>

#include "FileHandler/AtomicFile.h"
#include "KQmessage/Assert.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPrunedConnections.h"

// ================================================================ writing

namespace {

// Digits after the point of parameters and listed weights, significant digits
// of matrix weights, and the base of the matrix column widths.
constexpr int kPrecision = 15;
constexpr std::size_t kWeightWidth = kPrecision + 5;

// Cells that the matrix walk fetches ahead of the one it formats.
constexpr std::size_t kAhead = 16;

// Below this share of the possible weights a set is written as a weight list.
constexpr double kListShare = 0.35;

// Collects matrix text and hands it to the stream in large pieces. After
// Ensure() at least kSlack characters fit at `p`.
class Chunk {
  std::ostream& out_;
  std::unique_ptr<char[]> data_;
  char* limit_;

 public:
  static constexpr std::size_t kSize = 64 * 1024;
  static constexpr std::size_t kSlack = 64;  // more than the longest cell or row comment

  char* p;  // where the next character goes

  explicit Chunk(std::ostream& out)
      : out_(out), data_(new char[kSize + kSlack]), limit_(data_.get() + kSize), p(data_.get()) {}

  void Ensure() {
    if (p >= limit_) Flush();
  }
  // Writes what was collected; a failed stream stops the writer at once, so a
  // full disk does not cost the formatting of the rest of the matrix.
  void Flush() {
    out_.write(data_.get(), p - data_.get());
    p = data_.get();
    if (!out_) throw FileTools::Error("Error on File Write", &out_);
  }
};

// ---- matrix weights in general notation with 15 significant digits ----
//
// The text must equal what FileTools::FormatGeneral gives (printf "%.15g").
// Weights whose 15-digit form is plain decimal notation (magnitudes from
// 0.0001 to below 1e15, and zero) are converted here exactly and about twice
// as fast: N = round(|value| * 10^k) is formed from the binary significand in
// 128-bit integers, rounding half to even as the C library does, and its 15
// digits are laid out with k of them after the point, trailing zeros dropped.
// Every other value (exponent form, subnormals, infinities, NaN) goes to
// FormatGeneral.

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

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The 15 digits of 10^14 <= n < 10^15 into out[0..14].
inline void Put15Digits(char* out, std::uint64_t n) {
  std::uint64_t high = n / 100000000u;  // 7 digits
  std::uint32_t low = static_cast<std::uint32_t>(n % 100000000u);
  for (int i = 13; i >= 7; i -= 2) {
    std::memcpy(out + i, kDigitPairs + 2 * (low % 100u), 2);
    low /= 100u;
  }
  for (int i = 5; i >= 1; i -= 2) {
    std::memcpy(out + i, kDigitPairs + 2 * (high % 100u), 2);
    high /= 100u;
  }
  out[0] = static_cast<char>('0' + high);
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

// Writes value in "%.15g" form at `out` (room for 32 characters) and returns
// the end, or nullptr when the value needs the general path.
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

  char digits[15];
  Put15Digits(digits, n);
  int last = 15;  // the digits after the point end before the trailing zeros
  if (k <= 14) {
    const int whole = 15 - k;
    std::memcpy(p, digits, static_cast<std::size_t>(whole));
    p += whole;
    while (last > whole && digits[last - 1] == '0') --last;
    if (last > whole) {
      *p++ = '.';
      std::memcpy(p, digits + whole, static_cast<std::size_t>(last - whole));
      p += last - whole;
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int z = 15; z < k; ++z) *p++ = '0';
    while (digits[last - 1] == '0') --last;
    std::memcpy(p, digits, static_cast<std::size_t>(last));
    p += last;
  }
  return p;
}

char* PutRight(char* p, std::string_view text, std::size_t width) {
  if (text.size() < width) {
    std::memset(p, ' ', width - text.size());
    p += width - text.size();
  }
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

char* PutInteger(char* p, long value) { return std::to_chars(p, p + 24, value).ptr; }

char* PutRightInteger(char* p, long value, std::size_t width) {
  char text[24];
  const char* end = std::to_chars(text, text + sizeof text, value).ptr;
  return PutRight(p, std::string_view(text, static_cast<std::size_t>(end - text)), width);
}

// The comment line over the matrix: the to-neuron numbers end where the
// weight fields (for freezable sets, the markers) of their columns end.
void WriteMatrixHeader(std::ostream& out, int nTo, bool freezable) {
  Chunk chunk(out);
  static constexpr std::string_view kStart = "/* To->";
  static constexpr std::string_view kEnd = "  From */\n";
  chunk.p = PutRight(chunk.p, kStart, 0);
  const std::size_t first = freezable ? kPrecision : kPrecision - 2;
  const std::size_t further = freezable ? kPrecision + 8 : kPrecision + 6;
  for (int s = 0; s < nTo; ++s) {
    chunk.Ensure();
    chunk.p = PutRightInteger(chunk.p, s, s == 0 ? first : further);
  }
  chunk.Ensure();
  chunk.p = PutRight(chunk.p, kEnd, 0);
  chunk.Flush();
}

// The matrix lines: one per from neuron r, a cell per to neuron s, then the
// row comment. `source(r, s, weight)` returns the weight's flags (0 for a
// missing weight) and stores an existing weight's value in `weight`.
template <bool Freezable, class Source>
void WriteMatrixRows(std::ostream& out, int nFrom, int nTo, Source source) {
  Chunk chunk(out);
  char text[FileTools::GeneralNumberSize];
  for (int r = 0; r < nFrom; ++r) {
    for (int s = 0; s < nTo; ++s) {
      chunk.Ensure();
      double weight = 0.0;
      const char flags = source(r, s, weight);
      char* p = chunk.p;
      if (flags & FMaskExists) {
        const char* end = FormatPlain15(weight, text);
        const std::string_view number =
            end != nullptr ? std::string_view(text, static_cast<std::size_t>(end - text))
                           : FileTools::FormatGeneral(weight, text);
        p = PutRight(p, number, kWeightWidth);
        *p++ = ' ';
        if constexpr (Freezable) {
          *p++ = (flags & FMaskTrainable) ? 'T' : 'F';
          *p++ = ' ';
        }
      } else {
        p = PutRight(p, "-", kWeightWidth);
        *p++ = ' ';
        if constexpr (Freezable) {
          *p++ = '-';
          *p++ = ' ';
        }
      }
      chunk.p = p;
    }
    chunk.Ensure();
    chunk.p = PutRight(chunk.p, " /* ", 0);
    chunk.p = PutInteger(chunk.p, r);
    chunk.p = PutRight(chunk.p, " */\n", 0);
  }
  chunk.Flush();
}

template <bool Freezable>
void WriteMatrixRowsOf(std::ostream& out, TBasicConnections* conns, int nFrom, int nTo) {
  // The library's own kinds are read straight from their arrays (to-neuron
  // major: the arc r -> s is element s * nFrom + r); any other kind through
  // its per-weight operations.
  if (typeid(*conns) == typeid(TConnectedConnections)) {
    auto* set = static_cast<TConnectedConnections*>(conns);
    if (set->NumFrom() == nFrom && set->NumTo() == nTo) {
      const double* weights = set->array_weights.data();
      const std::size_t size = set->array_weights.size();
      const std::size_t stride = static_cast<std::size_t>(nFrom);
      WriteMatrixRows<Freezable>(out, nFrom, nTo, [=](int r, int s, double& w) {
        const std::size_t k = static_cast<std::size_t>(s) * stride + static_cast<std::size_t>(r);
        // The walk strides through memory by a whole row of the storage:
        // fetch a few cells ahead so the loads overlap.
        if (k + kAhead * stride < size) __builtin_prefetch(weights + k + kAhead * stride);
        w = weights[k];
        return FMaskAll;
      });
      return;
    }
  }
  if (typeid(*conns) == typeid(TPrunedConnections)) {
    auto* set = static_cast<TPrunedConnections*>(conns);
    if (set->NumFrom() == nFrom && set->NumTo() == nTo) {
      const double* weights = set->array_weights.data();
      const char* masks = set->array_masks.data();
      const std::size_t size = set->array_weights.size();
      const std::size_t stride = static_cast<std::size_t>(nFrom);
      WriteMatrixRows<Freezable>(out, nFrom, nTo, [=](int r, int s, double& w) {
        const std::size_t k = static_cast<std::size_t>(s) * stride + static_cast<std::size_t>(r);
        if (k + kAhead * stride < size) {
          __builtin_prefetch(weights + k + kAhead * stride);
          __builtin_prefetch(masks + k + kAhead * stride);
        }
        w = weights[k];
        return static_cast<char>(masks[k] & FMaskAll);
      });
      return;
    }
  }
  WriteMatrixRows<Freezable>(out, nFrom, nTo, [=](int r, int s, double& w) -> char {
    if (!conns->WeightExists(r, s)) return 0;
    w = conns->Weight(r, s);
    return conns->IsTrainable(r, s) ? FMaskAll : FMaskExists;
  });
}

void WriteMatrix(FileTools& tools, std::ostream& out, TBasicConnections* conns, int nFrom, int nTo,
                 bool freezable) {
  FileTools::OpenBracket(out, true);
  tools.WriteName(out, "Matrix", false);
  tools.WriteName(out, "Weights", false);
  if (freezable) tools.WriteName(out, "TrainableInfo", false);
  FileTools::CloseBracket(out, true, true);
  WriteMatrixHeader(out, nTo, freezable);
  if (freezable)
    WriteMatrixRowsOf<true>(out, conns, nFrom, nTo);
  else
    WriteMatrixRowsOf<false>(out, conns, nFrom, nTo);
  tools.WriteEndTag(out, "Matrix");
}

void WriteConnections(FileTools& tools, std::ostream& out, TBasicNetwork* network,
                      TBasicConnections* conns, int fromLayer, int toLayer) {
  FileTools::NewLine(out);
  tools.WriteName(out, "ConnectionLayer", true);
  tools.WriteInteger(out, "LayerFrom", fromLayer, true);
  tools.WriteInteger(out, "LayerTo", toLayer, true);
  const char* type = conns->GetConnectionsNType();
  tools.WriteString(out, "ConnectionType", type, true);
  const bool freezable = mapsmith::strcasecmp(type, "FullyConnected") != 0;
  FileTools::OpenBracket(out, true);
  tools.WriteName(out, "Attributes", false);
  tools.WriteName(out, freezable ? "Pruneable" : "UnPrunable", false);
  tools.WriteName(out, freezable ? "Freezable" : "UnFreezable", false);
  FileTools::CloseBracket(out, true, true);

  const int nFrom = network->GetLayer(fromLayer)->numNeurons;
  const int nTo = network->GetLayer(toLayer)->numNeurons;
  long long count = 0;
  if (typeid(*conns) == typeid(TConnectedConnections)) {
    count = conns->GetNumWeights(1);  // every arc exists; no need to visit them
  } else {
    TIterateObjCount counter;
    conns->Iterate(counter, 1);
    count = counter.count;
  }
  const long long possible = static_cast<long long>(nTo) * nFrom;
  if (kListShare * static_cast<double>(possible) > static_cast<double>(count)) {
    tools.WriteName(out, "WeightList", true);
    TIterateObjSaveWeights saver(out, tools, freezable, kPrecision);
    conns->Iterate(saver, 1);
    tools.WriteEndTag(out, "WeightList");
  } else {
    WriteMatrix(tools, out, conns, nFrom, nTo, freezable);
  }
  tools.WriteEndTag(out, "ConnectionLayer");
}

// `[All name=value ]` for each parameter that every neuron shares, then the
// neuron list when the functions differ or some parameter is not shared.
// The parameter list (names, order) is taken from neuron 0.
void WriteNeuronParameters(FileTools& tools, std::ostream& out, TBasicNetwork* network,
                           TBasicLayer* layer, bool commonFunction) {
  const int n = layer->numNeurons;
  TBasicNeuron* first = layer->GetNeuron(0);
  const int numParams = first->GetNumParams();
  std::vector<double> reference(static_cast<std::size_t>(numParams));
  if (numParams > 0) first->GetParams(reference.data());
  std::vector<const char*> names(static_cast<std::size_t>(numParams));
  for (int j = 0; j < numParams; ++j) names[j] = first->GetParamName(j);

  std::vector<char> shared(static_cast<std::size_t>(numParams), 1);
  std::vector<double> values;
  bool allShared = true;
  if (numParams > 0) {
    for (int i = 1; i < n; ++i) {
      TBasicNeuron* neuron = layer->GetNeuron(i);
      const int own = neuron->GetNumParams();
      values.assign(static_cast<std::size_t>(own > 0 ? own : 1), 0.0);
      if (own > 0) neuron->GetParams(values.data());
      for (int j = 0; j < numParams; ++j) {
        if (!shared[j]) continue;
        if (j >= own || values[j] != reference[j] ||
            mapsmith::strcasecmp(neuron->GetParamName(j), names[j]) != 0)
          shared[j] = 0;
      }
    }
  }
  for (int j = 0; j < numParams; ++j) {
    if (!shared[j]) {
      allShared = false;
      continue;
    }
    FileTools::OpenBracket(out, true);
    tools.WriteName(out, "All", false);
    tools.WriteNumber(out, names[j], reference[j], kPrecision, false);
    FileTools::CloseBracket(out, true, true);
  }
  if (commonFunction && allShared) return;

  tools.WriteName(out, "Neurons", true);
  for (int i = 0; i < n; ++i) {
    TBasicNeuron* neuron = layer->GetNeuron(i);
    FileTools::OpenBracket(out, true);
    tools.WriteInteger(out, "Neuron", i, false);
    if (!commonFunction)
      tools.WriteString(out, "ActivationFunction",
                        network->registry->GetFunctionName(neuron->GetActFunction()), false);
    if (!allShared) {
      const int own = neuron->GetNumParams();
      values.assign(static_cast<std::size_t>(own > 0 ? own : 1), 0.0);
      if (own > 0) neuron->GetParams(values.data());
      for (int j = 0; j < numParams && j < own; ++j)
        if (!shared[j]) tools.WriteNumber(out, names[j], values[j], kPrecision, false);
    }
    FileTools::CloseBracket(out, true, true);
  }
  tools.WriteEndTag(out, "Neurons");
}

void WriteLayer(FileTools& tools, std::ostream& out, TBasicNetwork* network, int layerNum) {
  TBasicLayer* layer = network->GetLayer(layerNum);
  FileTools::NewLine(out);
  tools.WriteInteger(out, "Layer", layerNum, true);
  tools.WriteString(out, "LayerType", layer->GetLayerType(), true);
  tools.WriteInteger(out, "NumberOfNeurons", layer->numNeurons, true);
  const TActFunction common = layer->GetActFunction();
  if (common != nullptr) {
    FileTools::OpenBracket(out, true);
    tools.WriteName(out, "All", false);
    tools.WriteString(out, "ActivationFunction", network->registry->GetFunctionName(common), false);
    FileTools::CloseBracket(out, true, true);
  }
  if (layer->numNeurons > 0) WriteNeuronParameters(tools, out, network, layer, common != nullptr);
  tools.WriteEndTag(out, "Layer");
}

void WriteInformation(FileTools& tools, std::ostream& out, TBasicNetwork* network) {
  const int numLayers = network->numLayers;
  MAPSMITH_ASSERT(network->inLayer < numLayers && network->outLayer < numLayers);
  tools.WriteName(out, "NetworkInformation", true);
  tools.WriteInteger(out, "NumberOfLayers", numLayers, true);
  tools.WriteInteger(out, "InputLayer", network->inLayer, true);
  tools.WriteInteger(out, "OutputLayer", network->outLayer, true);
  tools.WriteInteger(out, "NumberOfInputs", network->GetLayer(network->inLayer)->numNeurons, true);
  tools.WriteInteger(out, "NumberOfOutputs", network->GetLayer(network->outLayer)->numNeurons, true);
  for (int L = 0; L < numLayers; ++L) {
    TBasicLayer* layer = network->GetLayer(L);
    if (layer->numNeurons < 1 || layer->GetActFunction() != ActBias) continue;
    // A bias layer stands for one constant input; more neurons cannot be stored.
    if (layer->numNeurons > 1) throw FileTools::Error("Illegal number of bias nodes", &out);
    tools.WriteInteger(out, "BiasLayer", L, true);
  }
  tools.WriteEndTag(out, "NetworkInformation");
}

void WriteDimensions(FileTools& tools, std::ostream& out, TBasicNetwork* network) {
  auto* map = dynamic_cast<TKohonenNetwork*>(network);
  MAPSMITH_ASSERT(map != NULL);
  std::vector<int> sizes(static_cast<std::size_t>(map->numDimensions > 0 ? map->numDimensions : 0));
  if (!sizes.empty()) map->GetDimensions(sizes.data());
  FileTools::NewLine(out);
  tools.WriteInteger(out, "Dimensions", map->numDimensions, true);
  for (std::size_t j = 0; j < sizes.size(); ++j) {
    FileTools::OpenBracket(out, true);
    tools.WriteInteger(out, "Dimension", static_cast<int>(j), false);
    tools.WriteInteger(out, "Size", sizes[j], false);
    FileTools::CloseBracket(out, true, true);
  }
  tools.WriteEndTag(out, "Dimensions");
}

}  // namespace

void TIterateObjSaveWeights::Visit() {
  FileTools::OpenBracket(out, true);
  tools.WriteInteger(out, "From", fromNode, false);
  tools.WriteInteger(out, "To", toNode, false);
  tools.WriteNumber(out, "Weight", *weight, precision, false);
  if (writeTrainable) tools.WriteName(out, trainable ? "Trainable" : "UnTrainable", false);
  FileTools::CloseBracket(out, true, true);
}

void WriteNetwork(FileTools& tools, std::ostream& out, TBasicNetwork* network,
                  std::unique_ptr<TKQstructure> message) {
  message.reset();
  MAPSMITH_ASSERT(network != NULL);
  out.precision(kPrecision);

  FileTools::WriteFormatVersion(out);
  tools.WriteName(out, "NeuralNetwork", true);
  const char* type = network->GetNetworkType();
  tools.WriteString(out, "NetworkType", type, true);
  FileTools::NewLine(out);
  WriteInformation(tools, out, network);
  if (mapsmith::strcasecmp(type, "KOHONEN") == 0) WriteDimensions(tools, out, network);

  const int numLayers = network->numLayers;
  for (int L = 0; L < numLayers; ++L) WriteLayer(tools, out, network, L);
  for (int from = 0; from < numLayers; ++from)
    for (int to = 0; to < numLayers; ++to) {
      TBasicConnections* conns = network->GetConnections(from, to);
      if (conns->IsConnected()) WriteConnections(tools, out, network, conns, from, to);
    }
  FileTools::NewLine(out);
  tools.WriteEndTag(out, "NeuralNetwork");

  out.flush();
  if (!out) throw FileTools::Error("Error on File Write", &out);
}

void SaveNetworkFile(FileTools& tools, const char* fileName, TBasicNetwork* network,
                     std::unique_ptr<TKQstructure> message) {
  message.reset();
  // The network goes to a temporary file that replaces the target only once
  // it is complete, so a failed write (a full disk) leaves the old file. On
  // every error the temporary file is removed by `file`.
  mapsmith::AtomicFile file;
  if (!file.Open(fileName)) throw FileTools::Error("Error on File Open", nullptr);
  try {
    WriteNetwork(tools, file.Stream(), network, nullptr);
  } catch (const FileTools::Error&) {
    // A network the format cannot hold ("Illegal number of bias nodes") ends
    // the file with the lines written before the refusal, as the writer is
    // defined; only a failed write keeps the old file.
    if (file.Stream().good()) file.Commit();
    throw;
  }
  if (!file.Commit()) throw FileTools::Error("Error on File Write", nullptr);
}

// ================================================================ reading

namespace {

using mapsmith::strcasecmp;

// Every layer pair gets a connection set object, so the layer count costs
// its square in allocations; no real network comes near this bound.
constexpr int kMaxLayers = 1024;

// A few bytes can declare a layer of millions of neurons or a set of
// billions of weights. The storage that layers and connection sets take is
// therefore limited by the size of the input: at most kFreeStorage plus
// kStoragePerByte bytes per byte of input. Every file the writer makes for a
// network fits easily (a matrix cell takes 21 bytes of text for 8 or 9 bytes
// of storage); a stream that cannot tell its size counts as empty.
constexpr double kFreeStorage = 64.0 * 1024 * 1024;
constexpr double kStoragePerByte = 16.0;

// The size of the whole input, asked of the stream's buffer so that the
// stream's state flags do not matter; 0 when the buffer cannot tell.
double InputSize(std::istream& in) {
  std::streambuf* buf = in.rdbuf();
  if (buf == nullptr) return 0.0;
  const std::streampos here = buf->pubseekoff(0, std::ios::cur, std::ios::in);
  if (here == std::streampos(-1)) return 0.0;
  const std::streampos end = buf->pubseekoff(0, std::ios::end, std::ios::in);
  buf->pubseekpos(here, std::ios::in);
  return end == std::streampos(-1) ? 0.0 : static_cast<double>(end);
}
// Matrix column attributes held at most.
constexpr int kMaxMatrixColumns = 9;

bool Is(std::string_view a, std::string_view b) { return strcasecmp(a, b) == 0; }

// Reads one network file. The network under construction is owned by
// `network_`, so every error thrown on the way releases it.
class NetworkReader {
 public:
  NetworkReader(FileTools& tools, std::istream& in)
      : tools_(tools), in_(in), storageLimit_(kFreeStorage + kStoragePerByte * InputSize(in)) {}

  std::unique_ptr<TBasicNetwork> Read();

 private:
  enum Column : char { kWeightColumn, kTrainableColumn };

  // The next element inside `block` (empty: outside any block).
  void Next(std::string_view block) { tools_.ReadTag(block, in_, false, tag_); }
  // The next item of an open tag.
  void Item() { tools_.ReadTag({}, in_, true, tag_); }
  [[noreturn]] void Fail(const std::string& message) { throw FileTools::Error(message, &in_); }

  bool IsValue() const { return tag_.kind == FileTools::TagValue; }
  bool IsValue(std::string_view name) const { return IsValue() && Is(tag_.name, name); }
  bool IsStart(std::string_view name) const {
    return tag_.kind == FileTools::TagStart && Is(tag_.name, name);
  }
  int Integer() { return FileTools::ParseInteger(in_, tag_.value); }
  double Number() { return FileTools::ParseNumber(in_, tag_.value); }
  // A matrix cell that cannot be taken: when the input ended right after
  // the cell, the file was cut off, and that is what is reported.
  [[noreturn]] void FailCell(const std::string& message) {
    Fail(in_.eof() ? "Unexpected end of file" : message);
  }
  // Books `bytes` of storage before it is allocated.
  void Reserve(double bytes) {
    storage_ += bytes;
    if (storage_ > storageLimit_) Fail("Network larger than the file");
  }

  void ReadInformation();
  void MakeNetwork();
  void ReadDimensions();
  void CheckMap();
  void ReadLayer(int layerNum);
  void ReadNeurons(TBasicLayer& layer, TActFunction layerFn, std::vector<double>& params);
  void ReadConnections();
  void ReadMatrix(TBasicConnections& conns);
  void ReadWeightList(TBasicConnections& conns);
  TActFunction Function(const std::string& name);
  void CheckFunction(TBasicLayer& layer, TActFunction fn);
  int ParamIndex(TBasicNeuron& neuron, const std::string& name);

  FileTools& tools_;
  std::istream& in_;
  FileTools::Tag tag_;
  std::unique_ptr<TBasicNetwork> network_;

  std::string typeText_;
  int numLayers_ = -1;
  int inLayer_ = 1;
  int outLayer_ = -1;
  int numInputs_ = -1;
  int numOutputs_ = -1;
  int biasLayer_ = -1;  // read and otherwise ignored
  int numDimensions_ = 0;
  std::vector<int> dimensions_;

  const double storageLimit_;  // bytes the network's layers and sets may take
  double storage_ = 0.0;       // bytes booked so far
};

std::unique_ptr<TBasicNetwork> NetworkReader::Read() {
  Next({});
  FileTools::ExpectBlock(tag_, in_, "NEURALNETWORK");
  Next("NeuralNetwork");
  typeText_ = FileTools::ReadString(tag_, in_, "NETWORKTYPE");
  Next("NeuralNetwork");
  FileTools::ExpectBlock(tag_, in_, "NETWORKINFORMATION");
  ReadInformation();
  MakeNetwork();

  const bool kohonen = Is(typeText_, "KOHONEN");
  if (kohonen) ReadDimensions();

  Next("NeuralNetwork");
  while (IsValue("Layer")) {
    const int layerNum = Integer();
    if (layerNum < 0 || layerNum >= network_->numLayers) Fail("Layer number out of range");
    ReadLayer(layerNum);
    Next("NeuralNetwork");
  }
  // Connection sets are sized from their layers, and an empty layer entry
  // would break every later use of the network.
  for (int l = 0; l < network_->numLayers; ++l)
    if (network_->GetLayer(l) == nullptr) Fail("Layer " + std::to_string(l) + " is not defined");

  if (kohonen) {
    CheckMap();
    static_cast<TKohonenNetwork&>(*network_).SetDimensions(numDimensions_, dimensions_.data());
  }

  while (IsStart("ConnectionLayer")) ReadConnections();

  FileTools::ExpectEnd(tag_, in_);
  Next({});
  FileTools::ExpectEnd(tag_, in_);
  // The winner search reads the map's weights from this set.
  if (kohonen && !network_->GetConnections(1, 2)->IsConnected())
    Fail("Kohonen map lacks connections from layer 1 to layer 2");
  return std::move(network_);
}

// The map's grid must number the map layer's neurons exactly: the winner's
// coordinates, the labelled map and the labelling of rows all convert
// between neuron numbers and grid coordinates.
void NetworkReader::CheckMap() {
  const int neurons = network_->GetLayer(2)->numNeurons;
  if (neurons == 0) Fail("Map layer has no neurons");
  int64_t product = 1;
  for (int size : dimensions_) product = std::min<int64_t>(product * size, int64_t{INT_MAX} + 1);
  if (product != neurons)
    Fail("Dimensions give " + std::to_string(product) + " neurons, the map layer has " + std::to_string(neurons));
}

void NetworkReader::ReadInformation() {
  for (;;) {
    Next("NetworkInformation");
    if (!IsValue()) break;
    if (tag_.open) Fail("Too complicated statement");
    const int value = Integer();
    if (Is(tag_.name, "NUMBEROFLAYERS"))
      numLayers_ = value;
    else if (Is(tag_.name, "INPUTLAYER"))
      inLayer_ = value;
    else if (Is(tag_.name, "OUTPUTLAYER"))
      outLayer_ = value;
    else if (Is(tag_.name, "NUMBEROFINPUTS"))
      numInputs_ = value;
    else if (Is(tag_.name, "NUMBEROFOUTPUTS"))
      numOutputs_ = value;
    else if (Is(tag_.name, "BIASLAYER"))
      biasLayer_ = value;
    else
      Fail("Unknown keyword");
  }
  FileTools::ExpectEnd(tag_, in_);
}

void NetworkReader::MakeNetwork() {
  if (numLayers_ < 0) Fail("Must specify number of layers");
  if (outLayer_ < 0) outLayer_ = numLayers_ - 1;

  if (Is(typeText_, "KOHONEN")) {
    network_ = std::make_unique<TKohonenNetwork>();
  } else {
    const bool basic = Is(typeText_, "BASIC");
    if (!basic && !Is(typeText_, "CONNECTED")) Fail("Unknown network type");
    if (numLayers_ > kMaxLayers) Fail("Too many layers");
    if (basic)
      network_ = std::make_unique<TBasicNetwork>(numLayers_);
    else
      network_ = std::make_unique<TConnectedNetwork>(numLayers_);
  }
  // A Kohonen network has three layers whatever the file says, so the layer
  // numbers are checked against the network actually built.
  if (inLayer_ < 0 || inLayer_ >= network_->numLayers) Fail("Input layer out of range");
  if (outLayer_ < 0 || outLayer_ >= network_->numLayers) Fail("Output layer out of range");
  network_->inLayer = inLayer_;
  network_->outLayer = outLayer_;
}

void NetworkReader::ReadDimensions() {
  Next("NeuralNetwork");
  if (!IsValue("Dimensions")) Fail("Missing dimensions in Kohonen");
  numDimensions_ = Integer();
  if (numDimensions_ < 1) Fail("Number of dimensions out of range");
  // Sizes are gathered by number first: the count alone must not decide an
  // allocation, since every dimension needs its own tag in the file.
  std::map<int, int> sizes;
  for (;;) {
    Next("Dimensions");
    if (!IsValue() || !tag_.open) break;
    if (!Is(tag_.name, "Dimension")) Fail("invalid dimension tag");
    const int j = Integer();
    if (j < 0 || j >= numDimensions_) Fail("Dimension number out of range");
    Item();
    if (!IsValue("Size") || tag_.open) Fail("'Size' tag required for dimension data");
    sizes[j] = Integer();
    if (sizes[j] < 1) Fail("Dimension " + std::to_string(j) + " size out of range");
  }
  FileTools::ExpectEnd(tag_, in_);
  dimensions_.clear();
  for (const auto& [j, size] : sizes) {
    // Keys come in ascending order: a gap is the first dimension never sized.
    const int expected = static_cast<int>(dimensions_.size());
    if (j != expected) Fail("Dimension " + std::to_string(expected) + " has no size");
    dimensions_.push_back(size);
  }
  if (static_cast<int>(dimensions_.size()) != numDimensions_)
    Fail("Dimension " + std::to_string(dimensions_.size()) + " has no size");
}

TActFunction NetworkReader::Function(const std::string& name) {
  // The registry answers an unknown name with the "error" function, which
  // would only fail once the network is evaluated; refuse it here instead.
  const TFnRegistry& registry = *network_->registry;
  for (int i = 0; i < registry.count; ++i)
    if (Is(registry.entries[i].name, name)) return registry.GetFunction(name.c_str());
  Fail("Unknown activation function " + name);
}

// The "-gain" functions read the neuron's gain, which only the neurons of a
// Gain layer have: on any other layer they would read past the neuron.
void NetworkReader::CheckFunction(TBasicLayer& layer, TActFunction fn) {
  if (fn != ActLinearGain && fn != ActSigmoidGain && fn != ActTanhGain) return;
  if (dynamic_cast<TGainLayer*>(&layer) != nullptr) return;
  Fail(std::string("Activation function ") + network_->registry->GetFunctionName(fn) + " needs a Gain layer");
}

int NetworkReader::ParamIndex(TBasicNeuron& neuron, const std::string& name) {
  const int n = neuron.GetNumParams();
  for (int j = 0; j < n; ++j)
    if (Is(neuron.GetParamName(j), name)) return j;
  Fail("Unknown neuron parameter " + name);
}

void NetworkReader::ReadLayer(int layerNum) {
  std::string layerType;
  int count = -1;
  TBasicLayer* layer = nullptr;
  TActFunction layerFn = nullptr;
  std::vector<double> params;     // one value per parameter position
  std::vector<char> layerValue;   // a layer-level value was given for the position

  for (;;) {
    Next("Layer");
    if (tag_.kind == FileTools::TagStart && Is(tag_.name, "ALL")) {
      if (!tag_.open) Fail("[ALL] is incomplete statment");
      Item();
      if (!IsValue()) Fail("Required syntax is [ALL <keyword>=<val>]");
    } else if (!IsValue()) {
      break;
    }
    if (tag_.open) Fail("Too complicated statement");

    if (Is(tag_.name, "LAYERTYPE")) {
      layerType = tag_.value;
    } else if (Is(tag_.name, "NUMBEROFNEURONS")) {
      count = Integer();
    } else if (Is(tag_.name, "ACTIVATIONFUNCTION")) {
      layerFn = Function(tag_.value);
    } else {
      if (layer == nullptr) Fail("Neuron parameter " + tag_.name + " before the layer is built");
      if (layer->numNeurons == 0) Fail("Unknown neuron parameter " + tag_.name);
      const int j = ParamIndex(*layer->GetNeuron(0), tag_.name);
      params[j] = Number();
      layerValue[j] = 1;
    }

    if (layer == nullptr && count >= 0 && !layerType.empty()) {
      if (layerNum == network_->inLayer && numInputs_ >= 0 && numInputs_ != count)
        Fail("wrong number inputs in header");
      if (layerNum == network_->outLayer && numOutputs_ >= 0 && numOutputs_ != count)
        Fail("wrong number outputs in header");
      Reserve(static_cast<double>(count) * (sizeof(TGainNeuron) + sizeof(double)));
      TBasicNetwork::LayerPtr built;
      if (Is(layerType, "SIMPLE"))
        built = std::make_unique<TSimpleLayer>(network_.get(), layerNum, count);
      else if (Is(layerType, "INPUT"))
        built = std::make_unique<TSimpleInputLayer>(network_.get(), layerNum, count);
      else if (Is(layerType, "GAIN"))
        built = std::make_unique<TGainLayer>(network_.get(), layerNum, count, 1.0);
      else
        Fail("Unknown layer type");
      layer = built.get();
      network_->SetLayer(layerNum, std::move(built));
      int numParams = 0;
      for (int i = 0; i < count; ++i) numParams = std::max(numParams, layer->GetNeuron(i)->GetNumParams());
      params.assign(static_cast<size_t>(numParams), 0.0);
      layerValue.assign(static_cast<size_t>(numParams), 0);
    }
  }

  if (layer == nullptr) Fail("Layer " + std::to_string(layerNum) + " lacks LayerType or NumberOfNeurons");
  if (layerFn != nullptr) {
    CheckFunction(*layer, layerFn);
    layer->SetActFunction(layerFn);
  }

  if (IsStart("Neurons")) {
    ReadNeurons(*layer, layerFn, params);
  } else {
    for (char given : layerValue)
      if (!given) Fail("Incomplete Layer information");
    for (int i = 0; i < layer->numNeurons; ++i) layer->GetNeuron(i)->SetParams(params.data());
  }
  FileTools::ExpectEnd(tag_, in_);
}

void NetworkReader::ReadNeurons(TBasicLayer& layer, TActFunction layerFn, std::vector<double>& params) {
  std::vector<char> defined(static_cast<size_t>(layer.numNeurons), 0);
  for (;;) {
    Next("Neurons");
    if (!IsValue("Neuron")) break;
    const int i = Integer();
    if (i < 0 || i >= layer.numNeurons) Fail("Neuron number out of range");
    if (defined[i]) Fail("repeated neuron");
    TBasicNeuron& neuron = *layer.GetNeuron(i);
    TActFunction neuronFn = nullptr;
    while (tag_.open) {
      Item();
      if (!IsValue()) Fail("Equals clause expected in neuron parameter");
      if (Is(tag_.name, "ACTIVATIONFUNCTION"))
        neuronFn = Function(tag_.value);
      else
        params[ParamIndex(neuron, tag_.name)] = Number();
    }
    // Positions this neuron does not name keep the value stored last, by an
    // All line or by an earlier neuron.
    neuron.SetParams(params.data());
    if (layerFn == nullptr) {
      if (neuronFn == nullptr) Fail("No activation function defined");
      CheckFunction(layer, neuronFn);
      neuron.SetActFunction(neuronFn);
    }
    defined[i] = 1;
  }
  FileTools::ExpectEnd(tag_, in_);
  Next("Layer");
  for (char d : defined)
    if (!d) Fail("Neuron not defined");
}

void NetworkReader::ReadConnections() {
  int from = -1;
  int to = -1;
  std::string type;
  for (;;) {
    Next("ConnectionLayer");
    if (IsStart("Attributes")) {
      // The attribute words describe the set's kind, which ConnectionType
      // already gives; they are skipped.
      while (tag_.open) Item();
      continue;
    }
    if (!IsValue()) break;
    if (tag_.open) Fail("Too complicated statement");
    if (Is(tag_.name, "LAYERFROM"))
      from = Integer();
    else if (Is(tag_.name, "LAYERTO"))
      to = Integer();
    else if (Is(tag_.name, "CONNECTIONTYPE"))
      type = tag_.value;
    else
      Fail("Unknown keyword in connections");
  }

  const bool full = Is(type, "FULLYCONNECTED");
  if (from < 0 || to < 0 || (!full && !Is(type, "PRUNEABLE")))
    Fail("Insufficient information to construct layer");
  if (from >= network_->numLayers || to >= network_->numLayers) Fail("Layer number out of range");
  // Whole-set operations count weights in 32 bits.
  const int64_t possible = int64_t{network_->GetLayer(from)->numNeurons} * network_->GetLayer(to)->numNeurons;
  if (possible > INT_MAX) Fail("Too many weights");
  if (network_->GetConnections(from, to)->IsConnected()) Fail("Connections already defined");
  const int64_t numTo = network_->GetLayer(to)->numNeurons;
  Reserve(static_cast<double>(possible) * (sizeof(double) + (full ? 0 : 1)) +
          static_cast<double>(numTo) * (full ? 1 : 2) * sizeof(void*));

  TBasicNetwork::ConnsPtr made;
  if (full) {
    made = std::make_unique<TConnectedConnections>(network_.get(), from, to);
  } else {
    auto pruned = std::make_unique<TPrunedConnections>(network_.get(), from, to);
    // Weights the file does not mention stay absent.
    std::fill(pruned->array_masks.begin(), pruned->array_masks.end(), char{0});
    std::fill(pruned->array_weights.begin(), pruned->array_weights.end(), 0.0);
    made = std::move(pruned);
  }
  TBasicConnections& conns = *made;
  network_->SetConnections(std::move(made));

  // Several weight blocks may follow one another; later values overwrite
  // earlier ones.
  for (;;) {
    if (IsStart("Matrix"))
      ReadMatrix(conns);
    else if (IsStart("WeightList"))
      ReadWeightList(conns);
    else
      break;
    Next("ConnectionLayer");
  }
  FileTools::ExpectEnd(tag_, in_);
  Next("NeuralNetwork");
}

void NetworkReader::ReadMatrix(TBasicConnections& conns) {
  std::array<Column, kMaxMatrixColumns> columns{};
  int numColumns = 0;
  while (tag_.open) {
    Item();
    if (tag_.kind != FileTools::TagStart) Fail("Keyword expected in matrix parameter");
    Column column;
    if (Is(tag_.name, "WEIGHTS"))
      column = kWeightColumn;
    else if (Is(tag_.name, "TRAINABLEINFO"))
      column = kTrainableColumn;
    else
      Fail("Unknown matrix attribute");
    if (numColumns == kMaxMatrixColumns) Fail("Too many matrix attributes");
    columns[numColumns++] = column;
  }

  const int nFrom = network_->GetLayer(conns.fromLayer)->numNeurons;
  const int nTo = network_->GetLayer(conns.toLayer)->numNeurons;
  // The cells go straight into the set's arrays (to-neuron-major): this is
  // the loop that reads almost all of a large file.
  auto* pruned = dynamic_cast<TPrunedConnections*>(&conns);
  double* const weights = pruned != nullptr ? pruned->array_weights.data()
                                            : static_cast<TConnectedConnections&>(conns).array_weights.data();
  char* const masks = pruned != nullptr ? pruned->array_masks.data() : nullptr;

  if (numColumns > 0) {
    for (int r = 0; r < nFrom; ++r) {
      for (int s = 0; s < nTo; ++s) {
        const size_t cell = static_cast<size_t>(s) * static_cast<size_t>(nFrom) + static_cast<size_t>(r);
        for (int c = 0; c < numColumns; ++c) {
          Next("Matrix");
          if (tag_.kind != FileTools::TagToken) Fail("Token Expected");
          const std::string& token = tag_.name;
          const bool dash = token.size() == 1 && token[0] == '-';
          if (columns[c] == kWeightColumn) {
            if (dash) {
              if (masks == nullptr) FailCell("FullyConnected weights cannot be pruned");
              masks[cell] = 0;
              weights[cell] = 0.0;
            } else {
              const double value = FileTools::ParseNumber(in_, token);
              if (masks != nullptr && (masks[cell] & FMaskExists) == 0) masks[cell] = FMaskAll;
              weights[cell] = value;
            }
          } else {
            const bool exists = masks == nullptr || (masks[cell] & FMaskExists) != 0;
            if (Is(token, "T")) {
              if (exists && masks != nullptr) masks[cell] |= FMaskTrainable;
            } else if (Is(token, "F")) {
              if (masks == nullptr) FailCell("FullyConnected weights cannot be frozen");
              masks[cell] &= static_cast<char>(~FMaskTrainable);
            } else if (exists) {
              FailCell("Trainable flag T or F expected");
            }
          }
        }
      }
    }
  }
  Next("Matrix");
  FileTools::ExpectEnd(tag_, in_);
}

void NetworkReader::ReadWeightList(TBasicConnections& conns) {
  const int nFrom = network_->GetLayer(conns.fromLayer)->numNeurons;
  const int nTo = network_->GetLayer(conns.toLayer)->numNeurons;
  const bool full = dynamic_cast<TPrunedConnections*>(&conns) == nullptr;
  for (;;) {
    Next("WeightList");
    if (tag_.kind != FileTools::TagValue && tag_.kind != FileTools::TagStart) break;
    int from = -1;
    int to = -1;
    bool haveFrom = false;
    bool haveTo = false;
    double weight = 0.0;
    bool trainable = true;
    for (bool first = true; first || tag_.open; first = false) {
      if (!first) Item();
      if (tag_.kind == FileTools::TagValue) {
        if (Is(tag_.name, "FROM")) {
          from = Integer();
          haveFrom = true;
        } else if (Is(tag_.name, "TO")) {
          to = Integer();
          haveTo = true;
        } else if (Is(tag_.name, "WEIGHT")) {
          weight = Number();
        } else {
          Fail("Unknown keyword in weights list");
        }
      } else if (tag_.kind == FileTools::TagStart) {
        if (Is(tag_.name, "TRAINABLE")) {
          trainable = true;
        } else if (Is(tag_.name, "UNTRAINABLE")) {
          trainable = false;
        } else {
          std::cout << tag_.name << std::endl;
          Fail("Unknown keyword in weights list");
        }
      } else {
        Fail("Unexpected end of file");
      }
    }
    if (!haveFrom || !haveTo) Fail("Insufficient information in weights list");
    if (from < 0 || from >= nFrom || to < 0 || to >= nTo) Fail("Weight index out of range");
    if (full && !trainable) Fail("FullyConnected weights cannot be frozen");
    conns.RestoreWeight(from, to);
    if (trainable)
      conns.MakeTrainable(from, to);
    else
      conns.MakeUntrainable(from, to);
    conns.Weight(from, to) = weight;
  }
  FileTools::ExpectEnd(tag_, in_);
}

}  // namespace

std::unique_ptr<TBasicNetwork> ReadNetwork(FileTools& tools, std::istream& in,
                                           std::unique_ptr<TKQstructure> message) {
  message.reset();
  // The tokenizer reads the stream's buffer directly, so a failing read
  // (an I/O error; a file stream's buffer throws then) reaches us as an
  // exception instead of a stream state. The network being built is freed
  // on the way out.
  try {
    NetworkReader reader(tools, in);
    return reader.Read();
  } catch (const std::ios_base::failure&) {
    throw FileTools::Error("Error on File Read", &in);
  } catch (const std::bad_alloc&) {
    throw FileTools::Error("Not enough memory for the network", &in);
  } catch (const std::length_error&) {
    throw FileTools::Error("Not enough memory for the network", &in);
  }
}

std::unique_ptr<TBasicNetwork> LoadNetworkFile(FileTools& tools, const char* fileName,
                                               std::unique_ptr<TKQstructure> message) {
  message.reset();
  // A directory opens but cannot be read.
  std::error_code ec;
  if (std::filesystem::is_directory(fileName, ec)) throw FileTools::Error("Error on File Open", nullptr);
  // A large buffer: the weight matrix makes up almost all of a big file.
  std::vector<char> buffer;
  try {
    buffer.resize(size_t{1} << 20);
  } catch (const std::bad_alloc&) {
    throw FileTools::Error("Not enough memory for the network", nullptr);
  }
  std::ifstream file;
  file.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  file.open(fileName, std::ios::in | std::ios::binary);
  if (!file.is_open()) throw FileTools::Error("Error on File Open", nullptr);
  return ReadNetwork(tools, file);
}

std::unique_ptr<TKohonenNetwork> LoadKohonenNetwork(FileTools& tools, const char* fileName) {
  std::unique_ptr<TBasicNetwork> network = LoadNetworkFile(tools, fileName);
  auto* map = dynamic_cast<TKohonenNetwork*>(network.get());
  if (map == nullptr) throw FileTools::Error("Not a Kohonen network", nullptr);
  network.release();
  return std::unique_ptr<TKohonenNetwork>(map);
}
