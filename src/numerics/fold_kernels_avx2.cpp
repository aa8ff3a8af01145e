// The fold kernels on AVX2 with FMA (compiled for them; run only where the processor has them).
// Eight lanes are two 4-wide registers, so the sums are those of the AVX-512 kernels.
#include "numerics/fold_kernels_isa.h"

#if ODEFIT_FOLD_X86

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <utility>

namespace odefit::fold::avx2 {
namespace {

struct Vec {
  __m256d lo, hi;
};
inline Vec Load(const double* p) { return {_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)}; }
inline void Store(double* p, Vec v) {
  _mm256_storeu_pd(p, v.lo);
  _mm256_storeu_pd(p + 4, v.hi);
}
inline Vec Zero() { return {_mm256_setzero_pd(), _mm256_setzero_pd()}; }
inline Vec Broadcast(double x) { return {_mm256_set1_pd(x), _mm256_set1_pd(x)}; }
inline Vec MulAdd(Vec a, Vec b, Vec c) { return {_mm256_fmadd_pd(a.lo, b.lo, c.lo), _mm256_fmadd_pd(a.hi, b.hi, c.hi)}; }
inline Vec NegMulAdd(Vec a, Vec b, Vec c) {
  return {_mm256_fnmadd_pd(a.lo, b.lo, c.lo), _mm256_fnmadd_pd(a.hi, b.hi, c.hi)};
}
inline Vec Multiply(Vec a, Vec b) { return {_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
inline void Lanes(Vec v, double* out) { Store(out, v); }

// 16 registers: 8 for the sums.
constexpr int kCrossP = 2, kCrossQ = 2;
constexpr int kUpdateV = 2, kUpdateQ = 2;

#include "numerics/fold_kernels.inc"

}  // namespace

const Kernels kKernels{&Cross, &Update, &Triangular, &Scale, "AVX2"};

}  // namespace odefit::fold::avx2

#endif
