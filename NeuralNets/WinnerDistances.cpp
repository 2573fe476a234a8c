// Squared distances of map neurons' weight rows to an input vector, several
// neurons at a time. Every distance is the plain sequential sum.
#include "NeuralNets/WinnerDistances.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define MAPSMITH_AVX_WINNER 1
#endif

namespace winnerdistances {

// Squared distances of the rows of `count` consecutive neurons (count <= 8)
// to x, each summed in ascending input order with each difference and each
// square rounded to double, so every distance equals the plain loop's.
// Neurons are worked on in pairs, one SIMD lane each; xx holds every input
// twice (x[j], x[j]).
void Narrow(const double* const* rows, int count, const double* x, const double* xx, int n,
            double* d) {
#if defined(__SSE2__)
  int p = 0;
  if (count == 8) {
    const double *a0 = rows[0], *b0 = rows[1], *a1 = rows[2], *b1 = rows[3];
    const double *a2 = rows[4], *b2 = rows[5], *a3 = rows[6], *b3 = rows[7];
    __m128d s0 = _mm_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
    int j = 0;
    for (; j + 1 < n; j += 2) {
      const __m128d x0 = _mm_loadu_pd(xx + 2 * j), x1 = _mm_loadu_pd(xx + 2 * j + 2);
      __m128d u, v, e;
      u = _mm_loadu_pd(a0 + j), v = _mm_loadu_pd(b0 + j);
      e = _mm_sub_pd(x0, _mm_unpacklo_pd(u, v)), s0 = _mm_add_pd(s0, _mm_mul_pd(e, e));
      e = _mm_sub_pd(x1, _mm_unpackhi_pd(u, v)), s0 = _mm_add_pd(s0, _mm_mul_pd(e, e));
      u = _mm_loadu_pd(a1 + j), v = _mm_loadu_pd(b1 + j);
      e = _mm_sub_pd(x0, _mm_unpacklo_pd(u, v)), s1 = _mm_add_pd(s1, _mm_mul_pd(e, e));
      e = _mm_sub_pd(x1, _mm_unpackhi_pd(u, v)), s1 = _mm_add_pd(s1, _mm_mul_pd(e, e));
      u = _mm_loadu_pd(a2 + j), v = _mm_loadu_pd(b2 + j);
      e = _mm_sub_pd(x0, _mm_unpacklo_pd(u, v)), s2 = _mm_add_pd(s2, _mm_mul_pd(e, e));
      e = _mm_sub_pd(x1, _mm_unpackhi_pd(u, v)), s2 = _mm_add_pd(s2, _mm_mul_pd(e, e));
      u = _mm_loadu_pd(a3 + j), v = _mm_loadu_pd(b3 + j);
      e = _mm_sub_pd(x0, _mm_unpacklo_pd(u, v)), s3 = _mm_add_pd(s3, _mm_mul_pd(e, e));
      e = _mm_sub_pd(x1, _mm_unpackhi_pd(u, v)), s3 = _mm_add_pd(s3, _mm_mul_pd(e, e));
    }
    if (j < n) {
      const __m128d x0 = _mm_loadu_pd(xx + 2 * j);
      __m128d e;
      e = _mm_sub_pd(x0, _mm_set_pd(b0[j], a0[j])), s0 = _mm_add_pd(s0, _mm_mul_pd(e, e));
      e = _mm_sub_pd(x0, _mm_set_pd(b1[j], a1[j])), s1 = _mm_add_pd(s1, _mm_mul_pd(e, e));
      e = _mm_sub_pd(x0, _mm_set_pd(b2[j], a2[j])), s2 = _mm_add_pd(s2, _mm_mul_pd(e, e));
      e = _mm_sub_pd(x0, _mm_set_pd(b3[j], a3[j])), s3 = _mm_add_pd(s3, _mm_mul_pd(e, e));
    }
    _mm_storeu_pd(d, s0);
    _mm_storeu_pd(d + 2, s1);
    _mm_storeu_pd(d + 4, s2);
    _mm_storeu_pd(d + 6, s3);
    return;
  }
  for (; p + 1 < count; p += 2) {
    const double *a = rows[p], *b = rows[p + 1];
    __m128d s = _mm_setzero_pd();
    for (int j = 0; j < n; ++j) {
      const __m128d e = _mm_sub_pd(_mm_loadu_pd(xx + 2 * j), _mm_set_pd(b[j], a[j]));
      s = _mm_add_pd(s, _mm_mul_pd(e, e));
    }
    _mm_storeu_pd(d + p, s);
  }
  for (; p < count; ++p) {
    double s = 0.0;
    for (int j = 0; j < n; ++j) {
      const double e = x[j] - rows[p][j];
      s += e * e;
    }
    d[p] = s;
  }
#else
  (void)xx;
  for (int p = 0; p < count; ++p) {
    double s = 0.0;
    for (int j = 0; j < n; ++j) {
      const double e = x[j] - rows[p][j];
      s += e * e;
    }
    d[p] = s;
  }
#endif
}

#if defined(MAPSMITH_AVX_WINNER)
// The same distances for exactly eight neurons with four lanes per register:
// each 4 x 4 block of weights (four rows, four inputs) is transposed so that
// one register holds the four neurons' weights for one input. Used only when
// the processor has the wider registers; the sums are the same bit for bit.
__attribute__((target("avx"))) void Wide8(const double* const* rows, const double* x, int n,
                                          double* d) {
  const double *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
  const double *r4 = rows[4], *r5 = rows[5], *r6 = rows[6], *r7 = rows[7];
  __m256d lo = _mm256_setzero_pd(), hi = _mm256_setzero_pd();
  int j = 0;
  for (; j + 3 < n; j += 4) {
    const __m256d x0 = _mm256_broadcast_sd(x + j), x1 = _mm256_broadcast_sd(x + j + 1);
    const __m256d x2 = _mm256_broadcast_sd(x + j + 2), x3 = _mm256_broadcast_sd(x + j + 3);
    __m256d a = _mm256_loadu_pd(r0 + j), b = _mm256_loadu_pd(r1 + j);
    __m256d c = _mm256_loadu_pd(r2 + j), e = _mm256_loadu_pd(r3 + j);
    __m256d t0 = _mm256_unpacklo_pd(a, b), t1 = _mm256_unpackhi_pd(a, b);
    __m256d t2 = _mm256_unpacklo_pd(c, e), t3 = _mm256_unpackhi_pd(c, e);
    __m256d k;
    k = _mm256_sub_pd(x0, _mm256_permute2f128_pd(t0, t2, 0x20)), lo = _mm256_add_pd(lo, _mm256_mul_pd(k, k));
    a = _mm256_loadu_pd(r4 + j), b = _mm256_loadu_pd(r5 + j);
    c = _mm256_loadu_pd(r6 + j), e = _mm256_loadu_pd(r7 + j);
    __m256d u0 = _mm256_unpacklo_pd(a, b), u1 = _mm256_unpackhi_pd(a, b);
    __m256d u2 = _mm256_unpacklo_pd(c, e), u3 = _mm256_unpackhi_pd(c, e);
    k = _mm256_sub_pd(x0, _mm256_permute2f128_pd(u0, u2, 0x20)), hi = _mm256_add_pd(hi, _mm256_mul_pd(k, k));
    k = _mm256_sub_pd(x1, _mm256_permute2f128_pd(t1, t3, 0x20)), lo = _mm256_add_pd(lo, _mm256_mul_pd(k, k));
    k = _mm256_sub_pd(x1, _mm256_permute2f128_pd(u1, u3, 0x20)), hi = _mm256_add_pd(hi, _mm256_mul_pd(k, k));
    k = _mm256_sub_pd(x2, _mm256_permute2f128_pd(t0, t2, 0x31)), lo = _mm256_add_pd(lo, _mm256_mul_pd(k, k));
    k = _mm256_sub_pd(x2, _mm256_permute2f128_pd(u0, u2, 0x31)), hi = _mm256_add_pd(hi, _mm256_mul_pd(k, k));
    k = _mm256_sub_pd(x3, _mm256_permute2f128_pd(t1, t3, 0x31)), lo = _mm256_add_pd(lo, _mm256_mul_pd(k, k));
    k = _mm256_sub_pd(x3, _mm256_permute2f128_pd(u1, u3, 0x31)), hi = _mm256_add_pd(hi, _mm256_mul_pd(k, k));
  }
  for (; j < n; ++j) {
    const __m256d xj = _mm256_broadcast_sd(x + j);
    __m256d k = _mm256_sub_pd(xj, _mm256_set_pd(r3[j], r2[j], r1[j], r0[j]));
    lo = _mm256_add_pd(lo, _mm256_mul_pd(k, k));
    k = _mm256_sub_pd(xj, _mm256_set_pd(r7[j], r6[j], r5[j], r4[j]));
    hi = _mm256_add_pd(hi, _mm256_mul_pd(k, k));
  }
  _mm256_storeu_pd(d, lo);
  _mm256_storeu_pd(d + 4, hi);
}

bool HasWideRegisters() {
  static const bool wide = __builtin_cpu_supports("avx");
  return wide;
}
#else
void Wide8(const double* const* rows, const double* x, int n, double* d) {
  for (int p = 0; p < 8; ++p) {
    double s = 0.0;
    for (int j = 0; j < n; ++j) {
      const double e = x[j] - rows[p][j];
      s += e * e;
    }
    d[p] = s;
  }
}

bool HasWideRegisters() { return false; }
#endif

}  // namespace winnerdistances
