#include "NeuralNets/TrainingBlocks.h"
#include "NeuralNets/WinnerWalk.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <typeinfo>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/Assert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TKohonenNetwork.h"

void RefuseRun(const std::string& message, const char* origin) {
  throw TException(message.c_str(), "Bad Parameter", origin, nullptr);
}

void CheckMapForRuns(TKohonenNetwork& map, const char* origin) {
  if (map.numLayers < 3 || !map.layers[1] || !map.layers[2])
    RefuseRun("The map has no input or map layer", origin);
  const long long neurons = map.layers[2]->numNeurons;
  if (neurons <= 0) RefuseRun("The map has no neurons", origin);
  if (map.numDimensions < 1 || !map.dimensions) RefuseRun("The map has no grid dimensions", origin);
  long long product = 1;
  std::string sizes;
  bool valid = true;
  for (int k = 0; k < map.numDimensions; ++k) {
    const int size = map.dimensions[k];
    sizes += (k > 0 ? " x " : "") + std::to_string(size);
    if (size < 1 || product > neurons) valid = false;
    else product *= size;
  }
  if (!valid || product != neurons)
    RefuseRun("The map's grid sizes " + sizes + " do not multiply to its " + std::to_string(neurons) +
                  " neurons",
              origin);
  TBasicConnections* conns = map.GetConnections(1, 2);
  if (conns == nullptr || mapsmith::strcasecmp(conns->GetConnectionsNType(), "Empty") == 0)
    RefuseRun("The map has no weights from its inputs to its neurons", origin);
}

TMapGrid::TMapGrid(TKohonenNetwork& map, bool wrap)
    : dims(map.numDimensions), neurons(map.layers[2]->numNeurons), torus(wrap),
      sizes(map.dimensions.get(), map.dimensions.get() + map.numDimensions),
      coords(static_cast<std::size_t>(neurons) * dims) {
  for (int i = 0; i < neurons; ++i) map.IndexToCoords(coords.data() + static_cast<std::size_t>(i) * dims, i);
}

bool TMapGrid::Neighbours(int a, int b) const {
  if (a == b) return false;
  const int* ca = Coords(a);
  const int* cb = Coords(b);
  for (int k = 0; k < dims; ++k)
    if (Difference(k, ca[k], cb[k]) > 1) return false;
  return true;
}

long long TMapGrid::Distance2(int a, int b) const {
  const int* ca = Coords(a);
  const int* cb = Coords(b);
  long long d2 = 0;
  for (int k = 0; k < dims; ++k) {
    const long long d = Difference(k, ca[k], cb[k]);
    d2 += d * d;
  }
  return d2;
}

long long TMapGrid::MaxDistance2() const {
  long long d2 = 0;
  for (int k = 0; k < dims; ++k) {
    const long long d = torus ? sizes[k] / 2 : sizes[k] - 1;
    d2 += d * d;
  }
  return d2;
}

namespace {

// Whether the first n values of row are all finite.
bool Finite(const double* row, int n) {
  for (int j = 0; j < n; ++j)
    if (!std::isfinite(row[j])) return false;
  return true;
}

[[noreturn]] void RefuseRow(long long row, const char* origin) {
  RefuseRun("Row " + std::to_string(row + 1) + " of the data set holds NaN or infinity", origin);
}

}  // namespace

TRowSource CollectRows(Data& data, int numInputs, const char* origin, long long rowsBefore) {
  const bool selected = !data.MbrDyaInputSelection.empty();
  const int columns = selected ? static_cast<int>(data.MbrDyaInputSelection.size()) : data.MbrNdxInputs;
  if (columns < numInputs)
    RefuseRun("The data set has " + std::to_string(columns) + " input columns, the map has " +
                  std::to_string(numInputs) + " inputs",
              origin);
  TRowSource source;
  source.numInputs = numInputs;
  const long long count = std::max<std::int32_t>(data.MbrNdxRows, 0);
  source.rows.resize(static_cast<std::size_t>(count));
  // A plain data set without a selection is read in place: the cursor names
  // the row each GetNextRow returns. Anything else is copied as GetNextRow
  // delivers it.
  const bool direct = typeid(data) == typeid(Data) && !selected;
  const std::size_t room = static_cast<std::size_t>(std::max(columns, 1));
  if (!direct) source.copy.assign(static_cast<std::size_t>(count) * room, 0.0);
  data.Rewind();
  for (long long r = 0; r < count; ++r) {
    const double* row;
    if (direct) {
      data.GetNextRow(nullptr, nullptr, nullptr);
      row = numInputs > 0 ? data.MbrDyaRtpInputs[data.MbrNdxCurrentRow] : source.copy.data();
    } else {
      double* x = source.copy.data() + static_cast<std::size_t>(r) * room;
      data.GetNextRow(x, nullptr, nullptr);
      row = x;
    }
    if (!Finite(row, numInputs)) RefuseRow(rowsBefore + r, origin);
    source.rows[static_cast<std::size_t>(r)] = row;
  }
  return source;
}

TRowSource CollectRows(const double* rows, long long count, int numInputs, const char* origin,
                       long long rowsBefore) {
  TRowSource source;
  source.numInputs = numInputs;
  source.rows.resize(static_cast<std::size_t>(std::max(count, 0LL)));
  for (long long r = 0; r < count; ++r) {
    const double* row = rows + static_cast<std::size_t>(r) * numInputs;
    if (!Finite(row, numInputs)) RefuseRow(rowsBefore + r, origin);
    source.rows[static_cast<std::size_t>(r)] = row;
  }
  return source;
}

TWinnerScreen::TWinnerScreen(const TPreparedMap& m, const double* s)
    : map(m), lanes(TPreparedMap::ScreenLanes()), groups((m.NumNeurons() + lanes - 1) / lanes),
      shift(s, s + m.NumInputs()) {
  const int n = m.NumInputs();
  const std::size_t size = static_cast<std::size_t>(groups) * lanes * n;
  storage.assign(size + 16, 0.0f);  // padding lanes stay 0 and are never looked at
  const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
  packed = storage.data() + ((64 - address % 64) % 64) / sizeof(float);
  bias.assign(static_cast<std::size_t>(groups) * lanes, 0.0f);
  std::vector<double> w(static_cast<std::size_t>(std::max(n, 1)));
  double most = 0.0;
  for (int i = 0; i < m.NumNeurons(); ++i) {
    m.CopyWeights(i, w.data());
    float* column = packed + static_cast<std::size_t>(i / lanes) * lanes * n + i % lanes;
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      const float v = static_cast<float>(w[j] - shift[j]);
      column[static_cast<std::size_t>(j) * lanes] = v;
      sum += static_cast<double>(v) * v;
    }
    bias[static_cast<std::size_t>(i)] = static_cast<float>(-0.5 * sum);
    most = std::max(most, sum);
  }
  largestNorm = std::sqrt(most);
}

void TWinnerScreen::Search(const double* const* rows, int count, bool second, TPreparedMap::Nearest* out,
                           TScreenScratch& s) const {
  constexpr int kLimit = 64;
  constexpr int kRows = TPreparedMap::kScreenRows;
  const int n = map.NumInputs();
  const int u = map.NumNeurons();
  const std::size_t stride = static_cast<std::size_t>(groups) * lanes;
  const std::size_t nn = static_cast<std::size_t>(std::max(n, 1));
  s.rows.resize(nn * kRows);
  s.dots.resize(stride * kRows);
  s.exact.resize(std::max<std::size_t>(map.Stride(), kLimit));
  s.candidates.resize(kLimit);
  const float* shiftedRows[kRows];
  double norm[kRows];
  for (int r = 0; r < count; ++r) {
    float* x = s.rows.data() + r * nn;
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      x[j] = static_cast<float>(rows[r][j] - shift[j]);
      sum += static_cast<double>(x[j]) * x[j];
    }
    norm[r] = std::sqrt(sum);
    shiftedRows[r] = x;
  }
  // v_i = x.w_i - |w_i|^2 / 2 on the shifted vectors, so the exact distance
  // is |x|^2 - 2 v_i within the error bound: the nearest neurons have the
  // largest v.
  TPreparedMap::ScreenDots(packed, groups, n, shiftedRows, count, bias.data(), s.dots.data(), stride);
  const double k = 8.0 * (n + 8) * 0x1.0p-24;
  for (int r = 0; r < count; ++r) {
    const float* v = s.dots.data() + r * stride;
    const double reach = norm[r] + largestNorm;
    const double e = k * reach * reach + 1e-30;
    float largest = 0.0f, next = 0.0f;
    const bool finite = TPreparedMap::ScreenTop(v, u, largest, next);
    const double bound = static_cast<double>(second && u > 1 ? next : largest) - e;
    float floatBound = static_cast<float>(bound);
    if (static_cast<double>(floatBound) > bound) floatBound = std::nextafter(floatBound, -HUGE_VALF);
    const int found =
        finite ? TPreparedMap::ScreenCandidates(v, u, floatBound, s.candidates.data(), kLimit) : kLimit + 1;
    TPreparedMap::Nearest nearest;
    if (found > kLimit) {
      map.BlockDistances(rows + r, 1, s.exact.data());
      for (int i = 0; i < u; ++i) nearest.Offer(i, s.exact[i]);
    } else {
      map.Distances(s.candidates.data(), found, rows[r], s.exact.data());
      for (int c = 0; c < found; ++c) nearest.Offer(s.candidates[c], s.exact[c]);
    }
    out[r] = nearest;
  }
}

std::vector<double> WeightMean(const TPreparedMap& map) {
  const int n = map.NumInputs();
  std::vector<double> mean(static_cast<std::size_t>(std::max(n, 1)), 0.0), w(mean.size());
  for (int i = 0; i < map.NumNeurons(); ++i) {
    map.CopyWeights(i, w.data());
    for (int j = 0; j < n; ++j) mean[j] += w[j];
  }
  for (double& m : mean) m /= std::max(map.NumNeurons(), 1);
  return mean;
}

TWinnerFinder::TWinnerFinder(const TPreparedMap& map) : screen(map, WeightMean(map).data()) {}

void TWinnerFinder::Find(const double* const* rows, int count, int* winners) {
  MAPSMITH_ASSERT(count >= 0 && count <= kBlock);
  screen.Search(rows, count, false, found, scratch);
  for (int r = 0; r < count; ++r) winners[r] = found[r].best;
}

std::vector<double> RowMean(const TRowSource& rows) {
  std::vector<double> mean(static_cast<std::size_t>(rows.numInputs), 0.0);
  for (const double* x : rows.rows)
    for (int j = 0; j < rows.numInputs; ++j) mean[j] += x[j];
  if (rows.Count() > 0)
    for (double& m : mean) m /= static_cast<double>(rows.Count());
  return mean;
}

TQualitySums BlockQuality(const TPreparedMap& map, const TMapGrid& grid, const double* const* rows,
                          long long count, std::vector<double>& scratch, const TWinnerScreen* screen,
                          TScreenScratch* screenScratch) {
  const int kRows = screen != nullptr ? TPreparedMap::kScreenRows : TPreparedMap::kBlockRows;
  const std::size_t stride = map.Stride();
  if (screen == nullptr && scratch.size() < stride * kRows) scratch.resize(stride * kRows);
  const int u = map.NumNeurons();
  TQualitySums sums;
  TPreparedMap::Nearest found[TPreparedMap::kScreenRows];
  for (long long first = 0; first < count; first += kRows) {
    const int k = static_cast<int>(std::min<long long>(kRows, count - first));
    if (screen != nullptr) {
      screen->Search(rows + first, k, true, found, *screenScratch);
    } else {
      map.BlockDistances(rows + first, k, scratch.data());
      for (int r = 0; r < k; ++r) {
        const double* d = scratch.data() + r * stride;
        found[r] = TPreparedMap::Nearest();
        for (int i = 0; i < u; ++i) found[r].Offer(i, d[i]);
      }
    }
    for (int r = 0; r < k; ++r) {
      sums.distanceSum += std::sqrt(found[r].bestDistance);
      if (found[r].second >= 0 && !grid.Neighbours(found[r].best, found[r].second)) ++sums.topographicErrors;
    }
  }
  sums.rows = count;
  return sums;
}

void AddQualitySums(TQualitySums& total, const TQualitySums& block) {
  total.rows += block.rows;
  total.distanceSum += block.distanceSum;
  total.topographicErrors += block.topographicErrors;
}

TMapQuality QualityOf(const TQualitySums& total) {
  TMapQuality quality;
  quality.rows = total.rows;
  if (total.rows > 0) {
    quality.quantizationError = total.distanceSum / static_cast<double>(total.rows);
    quality.topographicError =
        static_cast<double>(total.topographicErrors) / static_cast<double>(total.rows);
  }
  return quality;
}

// ----------------------------------------------------------------------------
// Training.

namespace {

// 2^e for -1022 <= e <= 1023, from its bits.
double TwoTo(int e) { return std::bit_cast<double>(static_cast<std::uint64_t>(e + 1023) << 52); }

}  // namespace

double TrainingExp(double x) {
  if (x == 0.0) return 1.0;
  if (!(x >= -745.2)) return 0.0;  // below half the smallest subnormal
  // x = k ln2 + r with |r| <= ln2 / 2; k rounded to the nearest integer by
  // the 1.5 * 2^52 shift. ln2 is split into a high part with trailing zero
  // bits (k * high is exact) and the low rest.
  const double k = (x * 1.4426950408889634 + 0x1.8p52) - 0x1.8p52;
  const double r = (x - k * 6.93147180369123816490e-01) - k * 1.90821492927058770002e-10;
  // e^r by its series to r^13 (the rest is below 2^-60 of the sum).
  static constexpr double kInverseFactorials[] = {
      1.0,
      1.0,
      1.0 / 2,
      1.0 / 6,
      1.0 / 24,
      1.0 / 120,
      1.0 / 720,
      1.0 / 5040,
      1.0 / 40320,
      1.0 / 362880,
      1.0 / 3628800,
      1.0 / 39916800,
      1.0 / 479001600,
      1.0 / 6227020800.0,
  };
  double p = kInverseFactorials[13];
  for (int i = 12; i >= 0; --i) p = p * r + kInverseFactorials[i];
  // p * 2^k: exact while the result is normal; a subnormal result is rounded
  // once, in the last multiplication.
  const int e = static_cast<int>(k);
  if (e >= -1022) return p * TwoTo(e);
  return (p * TwoTo(e + 1022)) * TwoTo(-1022);
}

double NeighbourhoodValue(TNeighbourhood kind, long long d2, double sigma, bool cut) {
  if (d2 == 0) return 1.0;
  const double dd = static_cast<double>(d2);
  if (kind == TNeighbourhood::Bubble) return std::sqrt(dd) <= sigma ? 1.0 : 0.0;
  if (cut && dd > kGaussianCutSquared * (sigma * sigma)) return 0.0;
  return TrainingExp(-dd / (2.0 * sigma * sigma));
}

TNeighbourhoodTable::TNeighbourhoodTable(const TMapGrid& grid, TNeighbourhood k, bool c)
    : kind(k), cut(c) {
  const long long most = grid.MaxDistance2();
  direct = most < 16LL * grid.Neurons() + 4096;  // a table no larger than a few values per neuron
  if (!direct) return;
  // Every combination of coordinate differences, counted like an odometer:
  // at most as many as the grid has neurons.
  const int dims = grid.Dimensions();
  std::vector<int> largest(static_cast<std::size_t>(dims)), diff(static_cast<std::size_t>(dims), 0);
  for (int q = 0; q < dims; ++q)
    largest[q] = grid.Torus() ? grid.Sizes()[q] / 2 : grid.Sizes()[q] - 1;
  std::vector<char> occurs(static_cast<std::size_t>(most) + 1, 0);
  for (;;) {
    long long d2 = 0;
    for (int q = 0; q < dims; ++q) d2 += static_cast<long long>(diff[q]) * diff[q];
    occurs[static_cast<std::size_t>(d2)] = 1;
    int q = dims - 1;
    while (q >= 0 && diff[q] == largest[q]) diff[q--] = 0;
    if (q < 0) break;
    ++diff[q];
  }
  for (long long d2 = 0; d2 <= most; ++d2)
    if (occurs[static_cast<std::size_t>(d2)]) values.push_back(d2);
  table.assign(static_cast<std::size_t>(most) + 1, 0.0);
  exponents.resize(values.size());
  results.resize(values.size());
}

void TNeighbourhoodTable::SetRadius(double s, long long limit) {
  sigma = s;
  if (!direct) return;
  // h falls with the distance: the values stop at the first 0.
  reach = -1;
  const std::size_t count =
      static_cast<std::size_t>(std::upper_bound(values.begin(), values.end(), limit) - values.begin());
  if (kind == TNeighbourhood::Bubble) {
    for (std::size_t k = 0; k < count; ++k) {
      const double h = NeighbourhoodValue(kind, values[k], sigma, cut);
      if (h == 0.0) break;
      table[static_cast<std::size_t>(values[k])] = h;
      reach = values[k];
    }
    return;
  }
  // The gaussian: the exponents of every distance inside the cut, then their
  // exponentials all at once (the same bits as NeighbourhoodValue's).
  std::size_t inside = 0;
  for (; inside < count; ++inside) {
    const double dd = static_cast<double>(values[inside]);
    if (cut && dd > kGaussianCutSquared * (sigma * sigma)) break;
    exponents[inside] = -dd / (2.0 * sigma * sigma);
  }
  TPreparedMap::ExpMany(exponents.data(), results.data(), static_cast<int>(inside));
  for (std::size_t k = 0; k < inside; ++k) {
    const double h = values[k] == 0 ? 1.0 : results[k];
    if (h == 0.0) break;
    table[static_cast<std::size_t>(values[k])] = h;
    reach = values[k];
  }
}

void TBatchSums::Resize(int neurons, int inputs) {
  numInputs = inputs;
  sums.assign(static_cast<std::size_t>(neurons) * inputs, 0.0);
  counts.assign(static_cast<std::size_t>(neurons), 0);
  touched.clear();
  touched.reserve(static_cast<std::size_t>(neurons));
}

void TBatchSums::Clear() {
  for (int j : touched) {
    std::fill_n(sums.begin() + static_cast<std::ptrdiff_t>(j) * numInputs, numInputs, 0.0);
    counts[j] = 0;
  }
  touched.clear();
}

void BatchBlockSums(const TPreparedMap& map, const double* const* rows, long long count,
                    TBatchSums& block, std::vector<double>& scratch, const TWinnerScreen* screen,
                    TScreenScratch* screenScratch) {
  const int kRows = screen != nullptr ? TPreparedMap::kScreenRows : TPreparedMap::kBlockRows;
  block.Clear();
  const std::size_t stride = map.Stride();
  if (screen == nullptr && scratch.size() < stride * kRows) scratch.resize(stride * kRows);
  const int n = block.numInputs;
  TPreparedMap::Nearest found[TPreparedMap::kScreenRows];
  for (long long first = 0; first < count; first += kRows) {
    const int k = static_cast<int>(std::min<long long>(kRows, count - first));
    int winners[TPreparedMap::kScreenRows];
    if (screen != nullptr) {
      screen->Search(rows + first, k, false, found, *screenScratch);
      for (int r = 0; r < k; ++r) winners[r] = found[r].best;
    } else {
      map.BlockDistances(rows + first, k, scratch.data());
      for (int r = 0; r < k; ++r) winners[r] = map.Winner(scratch.data() + r * stride);
    }
    for (int r = 0; r < k; ++r) {
      const int winner = winners[r];
      if (block.counts[winner]++ == 0) block.touched.push_back(winner);
      double* s = block.sums.data() + static_cast<std::size_t>(winner) * n;
      const double* x = rows[first + r];
      for (int j = 0; j < n; ++j) s[j] += x[j];
    }
  }
}

void AddBatchSums(TBatchSums& total, const TBatchSums& block) {
  const int n = total.numInputs;
  for (int j : block.touched) {
    if (total.counts[j] == 0) total.touched.push_back(j);
    total.counts[j] += block.counts[j];
    double* s = total.sums.data() + static_cast<std::size_t>(j) * n;
    const double* b = block.sums.data() + static_cast<std::size_t>(j) * n;
    for (int k = 0; k < n; ++k) s[k] += b[k];
  }
}

void BatchUpdate(TPreparedMap& map, const TBatchSums& total, const TMapGrid& grid,
                 const TNeighbourhoodTable& h, int firstNeuron, int endNeuron,
                 std::vector<double>& work) {
  const int n = total.numInputs;
  const int u = grid.Neurons();
  work.resize(static_cast<std::size_t>(std::max(n, 1)));
  double* num = work.data();
  for (int i = firstNeuron; i < endNeuron; ++i) {
    std::fill_n(num, n, 0.0);
    double den = 0.0;
    for (int j = 0; j < u; ++j) {
      if (total.counts[j] == 0) continue;
      const double hij = h(grid.Distance2(i, j));
      if (hij == 0.0) continue;
      den += hij * static_cast<double>(total.counts[j]);
      map.AddScaled(num, hij, total.sums.data() + static_cast<std::size_t>(j) * n, n);
    }
    if (den == 0.0) continue;
    for (int k = 0; k < n; ++k) num[k] = num[k] / den;
    map.SetWeights(i, num);
  }
}
