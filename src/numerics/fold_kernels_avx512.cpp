// The fold kernels on AVX-512 (compiled for it; run only where the processor has it).
#include "numerics/fold_kernels_isa.h"

#if ODEFIT_FOLD_X86

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <utility>

namespace odefit::fold::avx512 {
namespace {

using Vec = __m512d;
inline Vec Load(const double* p) { return _mm512_loadu_pd(p); }
inline void Store(double* p, Vec v) { _mm512_storeu_pd(p, v); }
inline Vec Zero() { return _mm512_setzero_pd(); }
inline Vec Broadcast(double x) { return _mm512_set1_pd(x); }
inline Vec MulAdd(Vec a, Vec b, Vec c) { return _mm512_fmadd_pd(a, b, c); }
inline Vec NegMulAdd(Vec a, Vec b, Vec c) { return _mm512_fnmadd_pd(a, b, c); }
inline Vec Multiply(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
inline void Lanes(Vec v, double* out) { _mm512_storeu_pd(out, v); }

// 32 registers: 16 sums and 8 operands.
constexpr int kCrossP = 4, kCrossQ = 4;
constexpr int kUpdateV = 4, kUpdateQ = 4;

#include "numerics/fold_kernels.inc"

}  // namespace

const Kernels kKernels{&Cross, &Update, &Triangular, &Scale, "AVX-512"};

}  // namespace odefit::fold::avx512

#endif
