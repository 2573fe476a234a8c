#include "NeuralNets/TPreparedMap.h"

#include <cstdint>
#include <cstring>

#include "KQmessage/Assert.h"
#include "NeuralNets/TKohonenNetwork.h"

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

}  // namespace

void TPreparedMap::FindWinners(const double* const* inputs, int count, int* winners) {
  MAPSMITH_ASSERT(count >= 0 && count <= kBlockRows);
  const std::size_t stride = static_cast<std::size_t>(groups) * lanes;
  RunKernel(lanes, packed, groups, numInputs, inputs, count, scratch.data(), stride);
  for (int r = 0; r < count; ++r) {
    const double* d = scratch.data() + r * stride;
    // The winner search's rule: the first neuron holds until a later one is
    // strictly nearer; a distance is taken unless it is >= the best so far.
    int bestsofar = -1;
    double best = 0.0;
    for (int i = 0; i < numNeurons; ++i) {
      if (bestsofar < 0 || !(d[i] >= best)) {
        best = d[i];
        bestsofar = i;
      }
    }
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
  const double* column =
      packed + static_cast<std::size_t>(neuron / lanes) * lanes * numInputs + neuron % lanes;
  for (int j = 0; j < numInputs; ++j) out[j] = column[static_cast<std::size_t>(j) * lanes];
}
