#include "NeuralNets/TPreparedMap.h"

#include <cstdint>
#include <cstring>

#include "KQmessage/Assert.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TrainingBlocks.h"

// The kernels: the same source compiled for two (the x86-64 baseline, and
// plain vector code elsewhere), four and eight lanes. The wider ones are only
// called after the processor has been asked whether it has them.
namespace preparedkernels {

namespace lanes2 {
#define LANES 2
#include "NeuralNets/TPreparedMapKernel.inc"
#undef LANES
}  // namespace lanes2

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MAPSMITH_WIDE_KERNELS 1

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx")
#endif
namespace lanes4 {
#define LANES 4
#include "NeuralNets/TPreparedMapKernel.inc"
#undef LANES
}  // namespace lanes4
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f")
#endif
namespace lanes8 {
#define LANES 8
#include "NeuralNets/TPreparedMapKernel.inc"
#undef LANES
}  // namespace lanes8
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif

// One neuron at a time: the reference the others must match.
void Plain(const double* packed, int groups, int n, const double* const* xs, int rows, double* d,
           std::size_t rowStride) {
  for (int r = 0; r < rows; ++r) {
    for (int i = 0; i < groups; ++i) {
      const double* w = packed + static_cast<std::size_t>(i) * n;
      double distance = 0.0;
      for (int j = 0; j < n; ++j) {
        const double e = xs[r][j] - w[j];
        distance += e * e;
      }
      d[r * rowStride + i] = distance;
    }
  }
}

void PlainAddScaled(double* acc, double h, const double* s, int n) {
  for (int k = 0; k < n; ++k) acc[k] = acc[k] + h * s[k];
}

void PlainUpdate(double* w, int n, const double* x, const double* c) {
  if (c[0] == 0.0) return;
  for (int j = 0; j < n; ++j) w[j] = w[j] + c[0] * (x[j] - w[j]);
}

void PlainUpdateAndDistances(double* packed, int groups, int n, const double* x, const double* c,
                             const double* y, double* d) {
  for (int i = 0; i < groups; ++i) {
    double* w = packed + static_cast<std::size_t>(i) * n;
    PlainUpdate(w, n, x, c + i);
    if (y == nullptr) continue;
    double distance = 0.0;
    for (int j = 0; j < n; ++j) {
      const double e = y[j] - w[j];
      distance += e * e;
    }
    d[i] = distance;
  }
}

int PlainWinner(const double* d, int u) {
  int winner = 0;
  for (int k = 1; k < u; ++k)
    if (!(d[k] >= d[winner])) winner = k;
  return winner;
}

}  // namespace preparedkernels

bool TPreparedMap::Supports(int lanes) {
  switch (lanes) {
    case 1:
    case 2:
      return true;
#if defined(MAPSMITH_WIDE_KERNELS)
    case 4: {
      static const bool avx = __builtin_cpu_supports("avx");
      return avx;
    }
    case 8: {
      static const bool avx512 = __builtin_cpu_supports("avx512f");
      return avx512;
    }
#endif
    default:
      return false;
  }
}

TPreparedMap::TPreparedMap(TKohonenNetwork& net, int wanted)
    : numInputs(net.layers[1]->numNeurons), numNeurons(net.layers[2]->numNeurons) {
  lanes = wanted <= 0 ? 8 : wanted >= 8 ? 8 : wanted >= 4 ? 4 : wanted >= 2 ? 2 : 1;
  while (!Supports(lanes)) lanes /= 2;
  groups = (numNeurons + lanes - 1) / lanes;
  const std::size_t n = static_cast<std::size_t>(numInputs);
  const std::size_t size = static_cast<std::size_t>(groups) * lanes * n;
  storage.assign(size + 8, 0.0);  // padding lanes stay 0.0 and are never offered
  const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
  packed = storage.data() + ((64 - address % 64) % 64) / sizeof(double);
  TBasicConnections* conns = net.GetConnections(1, 2);
  for (int i = 0; i < numNeurons; ++i) {
    double* column = packed + static_cast<std::size_t>(i / lanes) * lanes * n + i % lanes;
    for (int j = 0; j < numInputs; ++j) column[static_cast<std::size_t>(j) * lanes] = conns->Weight(j, i);
  }
  scratch.assign(static_cast<std::size_t>(groups) * lanes * kBlockRows, 0.0);
}

namespace {

// The rows' distances into d (row r at d + r * stride), by the chosen kernel.
void RunKernel(int lanes, const double* packed, int groups, int n, const double* const* xs,
               int rows, double* d, std::size_t stride) {
  switch (lanes) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 8:
      preparedkernels::lanes8::Distances(packed, groups, n, xs, rows, d, stride);
      return;
    case 4:
      preparedkernels::lanes4::Distances(packed, groups, n, xs, rows, d, stride);
      return;
#endif
    case 2:
      preparedkernels::lanes2::Distances(packed, groups, n, xs, rows, d, stride);
      return;
    default:
      preparedkernels::Plain(packed, groups, n, xs, rows, d, stride);
      return;
  }
}

// The online update of one group, by the chosen kernel.
void RunUpdate(int lanes, double* group, int n, const double* x, const double* c) {
  switch (lanes) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 8:
      preparedkernels::lanes8::Update(group, n, x, c);
      return;
    case 4:
      preparedkernels::lanes4::Update(group, n, x, c);
      return;
#endif
    case 2:
      preparedkernels::lanes2::Update(group, n, x, c);
      return;
    default:
      preparedkernels::PlainUpdate(group, n, x, c);
      return;
  }
}

// Neuron i's first weight in the groups; its others follow `lanes` apart.
std::size_t Column(int neuron, int lanes, int n) {
  return static_cast<std::size_t>(neuron / lanes) * lanes * n + neuron % lanes;
}

}  // namespace

void TPreparedMap::FindWinners(const double* const* inputs, int count, int* winners) {
  MAPSMITH_ASSERT(count >= 0 && count <= kBlockRows);
  const std::size_t stride = static_cast<std::size_t>(groups) * lanes;
  RunKernel(lanes, packed, groups, numInputs, inputs, count, scratch.data(), stride);
  for (int r = 0; r < count; ++r) {
    // The winner search's rule: the first neuron holds until a later one is
    // strictly nearer; a map without neurons has no winner.
    const int bestsofar = numNeurons > 0 ? Winner(scratch.data() + r * stride) : -1;
    MAPSMITH_ASSERT(bestsofar >= 0);
    winners[r] = bestsofar;
  }
}

void TPreparedMap::BlockDistances(const double* const* inputs, int count, double* d) const {
  RunKernel(lanes, packed, groups, numInputs, inputs, count, d, Stride());
}

void TPreparedMap::Distances(const double* input, double* d) {
  RunKernel(lanes, packed, groups, numInputs, &input, 1, scratch.data(), 0);
  std::memcpy(d, scratch.data(), static_cast<std::size_t>(numNeurons) * sizeof(double));
}

void TPreparedMap::CopyWeights(int neuron, double* out) const {
  const double* column = packed + Column(neuron, lanes, numInputs);
  for (int j = 0; j < numInputs; ++j) out[j] = column[static_cast<std::size_t>(j) * lanes];
}

void TPreparedMap::GroupDistances(int firstGroup, int groupCount, const double* const* inputs,
                                  int count, double* d, std::size_t stride) const {
  const std::size_t groupSize = static_cast<std::size_t>(numInputs) * lanes;
  RunKernel(lanes, packed + firstGroup * groupSize, groupCount, numInputs, inputs, count, d, stride);
}

void TPreparedMap::UpdateGroup(int group, const double* x, const double* c) {
  RunUpdate(lanes, packed + static_cast<std::size_t>(group) * lanes * numInputs, numInputs, x, c);
}

int TPreparedMap::Winner(const double* d, int count) const {
  MAPSMITH_ASSERT(count > 0);
  switch (lanes) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 8:
      return preparedkernels::lanes8::Winner(d, count);
    case 4:
      return preparedkernels::lanes4::Winner(d, count);
#endif
    case 2:
      return preparedkernels::lanes2::Winner(d, count);
    default:
      return preparedkernels::PlainWinner(d, count);
  }
}

void TPreparedMap::AddScaled(double* acc, double h, const double* s, int n) const {
  switch (lanes) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 8:
      preparedkernels::lanes8::AddScaled(acc, h, s, n);
      return;
    case 4:
      preparedkernels::lanes4::AddScaled(acc, h, s, n);
      return;
#endif
    case 2:
      preparedkernels::lanes2::AddScaled(acc, h, s, n);
      return;
    default:
      preparedkernels::PlainAddScaled(acc, h, s, n);
      return;
  }
}

void TPreparedMap::UpdateAndDistances(int firstGroup, int groupCount, const double* x,
                                      const double* c, const double* y, double* d) {
  double* w = packed + static_cast<std::size_t>(firstGroup) * lanes * numInputs;
  switch (lanes) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 8:
      preparedkernels::lanes8::UpdateAndDistances(w, groupCount, numInputs, x, c, y, d);
      return;
    case 4:
      preparedkernels::lanes4::UpdateAndDistances(w, groupCount, numInputs, x, c, y, d);
      return;
#endif
    case 2:
      preparedkernels::lanes2::UpdateAndDistances(w, groupCount, numInputs, x, c, y, d);
      return;
    default:
      preparedkernels::PlainUpdateAndDistances(w, groupCount, numInputs, x, c, y, d);
      return;
  }
}

int TPreparedMap::ScreenLanes() { return Supports(8) ? 16 : Supports(4) ? 8 : 4; }

void TPreparedMap::ScreenDots(const float* packed, int groups, int n, const float* const* xs, int rows,
                              const float* bias, float* d, std::size_t stride) {
  MAPSMITH_ASSERT(rows >= 0 && rows <= kScreenRows);
  switch (ScreenLanes()) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 16:
      preparedkernels::lanes8::ScreenDots(packed, groups, n, xs, rows, bias, d, stride);
      return;
    case 8:
      preparedkernels::lanes4::ScreenDots(packed, groups, n, xs, rows, bias, d, stride);
      return;
#endif
    default:
      preparedkernels::lanes2::ScreenDots(packed, groups, n, xs, rows, bias, d, stride);
      return;
  }
}

bool TPreparedMap::ScreenTop(const float* v, int u, float& largest, float& next) {
  switch (ScreenLanes()) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 16:
      return preparedkernels::lanes8::ScreenTop(v, u, largest, next);
    case 8:
      return preparedkernels::lanes4::ScreenTop(v, u, largest, next);
#endif
    default:
      return preparedkernels::lanes2::ScreenTop(v, u, largest, next);
  }
}

int TPreparedMap::ScreenCandidates(const float* v, int u, float bound, int* out, int limit) {
  switch (ScreenLanes()) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 16:
      return preparedkernels::lanes8::ScreenCandidates(v, u, bound, out, limit);
    case 8:
      return preparedkernels::lanes4::ScreenCandidates(v, u, bound, out, limit);
#endif
    default:
      return preparedkernels::lanes2::ScreenCandidates(v, u, bound, out, limit);
  }
}

void TPreparedMap::Distances(const int* neurons, int count, const double* x, double* out) const {
  // Four neurons at a time: four independent sums, each in input order.
  int c = 0;
  for (; c + 4 <= count; c += 4) {
    const double* w[4];
    for (int k = 0; k < 4; ++k) w[k] = packed + Column(neurons[c + k], lanes, numInputs);
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int j = 0; j < numInputs; ++j) {
      const std::size_t at = static_cast<std::size_t>(j) * lanes;
      const double e0 = x[j] - w[0][at], e1 = x[j] - w[1][at], e2 = x[j] - w[2][at], e3 = x[j] - w[3][at];
      s0 += e0 * e0;
      s1 += e1 * e1;
      s2 += e2 * e2;
      s3 += e3 * e3;
    }
    out[c] = s0, out[c + 1] = s1, out[c + 2] = s2, out[c + 3] = s3;
  }
  for (; c < count; ++c) out[c] = Distance(neurons[c], x);
}

double TPreparedMap::Distance(int neuron, const double* x) const {
  const double* column = packed + Column(neuron, lanes, numInputs);
  double distance = 0.0;
  for (int j = 0; j < numInputs; ++j) {
    const double e = x[j] - column[static_cast<std::size_t>(j) * lanes];
    distance += e * e;
  }
  return distance;
}

void TPreparedMap::ExpMany(const double* x, double* y, int n) {
  const int widest = Supports(8) ? 8 : Supports(4) ? 4 : 2;
  switch (widest) {
#if defined(MAPSMITH_WIDE_KERNELS)
    case 8:
      preparedkernels::lanes8::ExpMany(x, y, n);
      return;
    case 4:
      preparedkernels::lanes4::ExpMany(x, y, n);
      return;
#endif
    default:
      preparedkernels::lanes2::ExpMany(x, y, n);
      return;
  }
}

void TPreparedMap::SetWeights(int neuron, const double* in) {
  double* column = packed + Column(neuron, lanes, numInputs);
  for (int j = 0; j < numInputs; ++j) column[static_cast<std::size_t>(j) * lanes] = in[j];
}

void TPreparedMap::WriteBack(TKohonenNetwork& net) const {
  TBasicConnections* conns = net.GetConnections(1, 2);
  for (int i = 0; i < numNeurons; ++i) {
    const double* column = packed + Column(i, lanes, numInputs);
    for (int j = 0; j < numInputs; ++j) conns->Weight(j, i) = column[static_cast<std::size_t>(j) * lanes];
  }
}
