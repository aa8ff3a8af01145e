// The fold kernels on AVX2 with FMA (compiled for them; run only where the processor has them).
//
// With 16 registers of 4 lanes, a tile of 8-lane sums (two registers each)
// leaves too few registers for operands, and the loads then bound the rate.
// Every lane's sum is a chain of its own, so the kernels run the lanes 0-3
// and the lanes 4-7 of the inner products as two passes over the rows, and
// the updates on tiles of 12 rows x 4 columns: 12 accumulators, 3 or 4
// operands. Each lane and each element still sees the operations of
// fold_kernels.h in their order, so the bits are those of the AVX-512 kernels.
#include "numerics/fold_kernels_isa.h"

#if ODEFIT_FOLD_X86

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <utility>

namespace odefit::fold::avx2 {
namespace {

// Inner products: tiles of kCrossP columns of Y by kCrossQ columns of C.
constexpr int kCrossP = 3, kCrossQ = 4;
// Updates: tiles of kUpdateV registers of 4 rows by kUpdateQ columns.
constexpr int kUpdateV = 3, kUpdateQ = 4;

// Adds to the running sums `acc` (P x Q registers, row-major) of the lanes
// `half * 4` .. `half * 4 + 3` the rows r0 .. r1 - 1 (r0 a multiple of 8).
template <int P, int Q>
void CrossHalf(int r0, int r1, int half, const double* Y, Index ldy, const double* C, Index ldc, __m256d* acc) {
  for (int r = r0 + 4 * half; r < r1; r += 8) {
    __m256d y[P];
    for (int i = 0; i < P; ++i) y[i] = _mm256_loadu_pd(Y + i * ldy + r);
    for (int c = 0; c < Q; ++c) {
      const __m256d x = _mm256_loadu_pd(C + c * ldc + r);
      for (int i = 0; i < P; ++i) acc[i * Q + c] = _mm256_fmadd_pd(y[i], x, acc[i * Q + c]);
    }
  }
}

// Rows a tile's two passes take at a time: both passes then find them in the
// first-level cache.
constexpr int kCrossRows = 128;

template <int P, int Q>
void CrossTile(int m, const double* Y, Index ldy, const double* C, Index ldc, double* W, Index ldw) {
  __m256d low[P * Q], high[P * Q];
  for (int t = 0; t < P * Q; ++t) low[t] = high[t] = _mm256_setzero_pd();
  for (int r0 = 0; r0 < m; r0 += kCrossRows) {
    const int r1 = std::min(m, r0 + kCrossRows);
    CrossHalf<P, Q>(r0, r1, 0, Y, ldy, C, ldc, low);
    CrossHalf<P, Q>(r0, r1, 1, Y, ldy, C, ldc, high);
  }
  for (int i = 0; i < P; ++i) {
    for (int c = 0; c < Q; ++c) {
      alignas(32) double l[8];
      _mm256_store_pd(l, low[i * Q + c]);
      _mm256_store_pd(l + 4, high[i * Q + c]);
      W[i + c * ldw] = ((l[0] + l[1]) + (l[2] + l[3])) + ((l[4] + l[5]) + (l[6] + l[7]));
    }
  }
}

// C -= Y W, or C += Y W when Add, on V registers of 4 rows by Q columns.
template <int V, int Q, bool Add>
void UpdateTile(int k, const double* Y, Index ldy, const double* W, Index ldw, double* C, Index ldc) {
  __m256d acc[V][Q];
  for (int c = 0; c < Q; ++c)
    for (int v = 0; v < V; ++v) acc[v][c] = _mm256_loadu_pd(C + c * ldc + 4 * v);
  for (int i = 0; i < k; ++i) {
    __m256d y[V];
    for (int v = 0; v < V; ++v) y[v] = _mm256_loadu_pd(Y + i * ldy + 4 * v);
    for (int c = 0; c < Q; ++c) {
      const __m256d w = _mm256_broadcast_sd(W + i + c * ldw);
      for (int v = 0; v < V; ++v) {
        acc[v][c] = Add ? _mm256_fmadd_pd(y[v], w, acc[v][c]) : _mm256_fnmadd_pd(y[v], w, acc[v][c]);
      }
    }
  }
  for (int c = 0; c < Q; ++c)
    for (int v = 0; v < V; ++v) _mm256_storeu_pd(C + c * ldc + 4 * v, acc[v][c]);
}

// The full tiles written out: the compiler then keeps all 12 sums in
// registers (with arrays of them it stores every sum back on each step).
template <>
void CrossHalf<kCrossP, kCrossQ>(int r0, int r1, int half, const double* Y, Index ldy, const double* C, Index ldc,
                                 __m256d* acc) {
  __m256d s00 = acc[0], s01 = acc[1], s02 = acc[2], s03 = acc[3];
  __m256d s10 = acc[4], s11 = acc[5], s12 = acc[6], s13 = acc[7];
  __m256d s20 = acc[8], s21 = acc[9], s22 = acc[10], s23 = acc[11];
  const double *y0 = Y, *y1 = Y + ldy, *y2 = Y + 2 * ldy;
  const double *x0 = C, *x1 = C + ldc, *x2 = C + 2 * ldc, *x3 = C + 3 * ldc;
  for (int r = r0 + 4 * half; r < r1; r += 8) {
    const __m256d a = _mm256_loadu_pd(y0 + r), b = _mm256_loadu_pd(y1 + r), c = _mm256_loadu_pd(y2 + r);
    __m256d x = _mm256_loadu_pd(x0 + r);
    s00 = _mm256_fmadd_pd(a, x, s00);
    s10 = _mm256_fmadd_pd(b, x, s10);
    s20 = _mm256_fmadd_pd(c, x, s20);
    x = _mm256_loadu_pd(x1 + r);
    s01 = _mm256_fmadd_pd(a, x, s01);
    s11 = _mm256_fmadd_pd(b, x, s11);
    s21 = _mm256_fmadd_pd(c, x, s21);
    x = _mm256_loadu_pd(x2 + r);
    s02 = _mm256_fmadd_pd(a, x, s02);
    s12 = _mm256_fmadd_pd(b, x, s12);
    s22 = _mm256_fmadd_pd(c, x, s22);
    x = _mm256_loadu_pd(x3 + r);
    s03 = _mm256_fmadd_pd(a, x, s03);
    s13 = _mm256_fmadd_pd(b, x, s13);
    s23 = _mm256_fmadd_pd(c, x, s23);
  }
  acc[0] = s00, acc[1] = s01, acc[2] = s02, acc[3] = s03;
  acc[4] = s10, acc[5] = s11, acc[6] = s12, acc[7] = s13;
  acc[8] = s20, acc[9] = s21, acc[10] = s22, acc[11] = s23;
}

template <bool Add>
inline __m256d Step(__m256d y, __m256d w, __m256d acc) {
  return Add ? _mm256_fmadd_pd(y, w, acc) : _mm256_fnmadd_pd(y, w, acc);
}

template <bool Add>
void FullUpdateTile(int k, const double* Y, Index ldy, const double* W, Index ldw, double* C, Index ldc) {
  double *c0 = C, *c1 = C + ldc, *c2 = C + 2 * ldc, *c3 = C + 3 * ldc;
  __m256d a00 = _mm256_loadu_pd(c0), a10 = _mm256_loadu_pd(c0 + 4), a20 = _mm256_loadu_pd(c0 + 8);
  __m256d a01 = _mm256_loadu_pd(c1), a11 = _mm256_loadu_pd(c1 + 4), a21 = _mm256_loadu_pd(c1 + 8);
  __m256d a02 = _mm256_loadu_pd(c2), a12 = _mm256_loadu_pd(c2 + 4), a22 = _mm256_loadu_pd(c2 + 8);
  __m256d a03 = _mm256_loadu_pd(c3), a13 = _mm256_loadu_pd(c3 + 4), a23 = _mm256_loadu_pd(c3 + 8);
  const double *w0 = W, *w1 = W + ldw, *w2 = W + 2 * ldw, *w3 = W + 3 * ldw;
  for (int i = 0; i < k; ++i) {
    const double* y = Y + i * ldy;
    const __m256d y0 = _mm256_loadu_pd(y), y1 = _mm256_loadu_pd(y + 4), y2 = _mm256_loadu_pd(y + 8);
    __m256d w = _mm256_broadcast_sd(w0 + i);
    a00 = Step<Add>(y0, w, a00);
    a10 = Step<Add>(y1, w, a10);
    a20 = Step<Add>(y2, w, a20);
    w = _mm256_broadcast_sd(w1 + i);
    a01 = Step<Add>(y0, w, a01);
    a11 = Step<Add>(y1, w, a11);
    a21 = Step<Add>(y2, w, a21);
    w = _mm256_broadcast_sd(w2 + i);
    a02 = Step<Add>(y0, w, a02);
    a12 = Step<Add>(y1, w, a12);
    a22 = Step<Add>(y2, w, a22);
    w = _mm256_broadcast_sd(w3 + i);
    a03 = Step<Add>(y0, w, a03);
    a13 = Step<Add>(y1, w, a13);
    a23 = Step<Add>(y2, w, a23);
  }
  _mm256_storeu_pd(c0, a00), _mm256_storeu_pd(c0 + 4, a10), _mm256_storeu_pd(c0 + 8, a20);
  _mm256_storeu_pd(c1, a01), _mm256_storeu_pd(c1 + 4, a11), _mm256_storeu_pd(c1 + 8, a21);
  _mm256_storeu_pd(c2, a02), _mm256_storeu_pd(c2 + 4, a12), _mm256_storeu_pd(c2 + 8, a22);
  _mm256_storeu_pd(c3, a03), _mm256_storeu_pd(c3 + 4, a13), _mm256_storeu_pd(c3 + 8, a23);
}
template <>
void UpdateTile<kUpdateV, kUpdateQ, false>(int k, const double* Y, Index ldy, const double* W, Index ldw, double* C,
                                           Index ldc) {
  FullUpdateTile<false>(k, Y, ldy, W, ldw, C, ldc);
}
template <>
void UpdateTile<kUpdateV, kUpdateQ, true>(int k, const double* Y, Index ldy, const double* W, Index ldw, double* C,
                                          Index ldc) {
  FullUpdateTile<true>(k, Y, ldy, W, ldw, C, ldc);
}

using CrossFn = void (*)(int, const double*, Index, const double*, Index, double*, Index);
using UpdateFn = void (*)(int, const double*, Index, const double*, Index, double*, Index);

// Tiles of every size up to the full one, for the edges.
template <int P>
constexpr std::array<CrossFn, kCrossQ> CrossRow() {
  return []<int... Qs>(std::integer_sequence<int, Qs...>) {
    return std::array<CrossFn, kCrossQ>{&CrossTile<P, Qs + 1>...};
  }(std::make_integer_sequence<int, kCrossQ>{});
}
template <std::size_t... Ps>
constexpr auto MakeCrossTable(std::index_sequence<Ps...>) {
  return std::array<std::array<CrossFn, kCrossQ>, kCrossP>{CrossRow<int(Ps) + 1>()...};
}
constexpr auto kCrossTiles = MakeCrossTable(std::make_index_sequence<kCrossP>{});

template <int V, bool Add>
constexpr std::array<UpdateFn, kUpdateQ> UpdateRow() {
  return []<int... Qs>(std::integer_sequence<int, Qs...>) {
    return std::array<UpdateFn, kUpdateQ>{&UpdateTile<V, Qs + 1, Add>...};
  }(std::make_integer_sequence<int, kUpdateQ>{});
}
template <bool Add, std::size_t... Vs>
constexpr auto MakeUpdateTable(std::index_sequence<Vs...>) {
  return std::array<std::array<UpdateFn, kUpdateQ>, kUpdateV>{UpdateRow<int(Vs) + 1, Add>()...};
}
constexpr auto kUpdateTiles = MakeUpdateTable<false>(std::make_index_sequence<kUpdateV>{});
constexpr auto kAddTiles = MakeUpdateTable<true>(std::make_index_sequence<kUpdateV>{});

void Cross(int m, int p, int q, const double* Y, Index ldy, const double* C, Index ldc, double* W, Index ldw) {
  for (int c = 0; c < q; c += kCrossQ) {
    const int qc = std::min(kCrossQ, q - c);
    for (int i = 0; i < p; i += kCrossP) {
      const int pi = std::min(kCrossP, p - i);
      kCrossTiles[pi - 1][qc - 1](m, Y + i * ldy, ldy, C + c * ldc, ldc, W + i + c * ldw, ldw);
    }
  }
}

template <bool Add>
void UpdateOrAdd(int m, int k, int q, const double* Y, Index ldy, const double* W, Index ldw, double* C, Index ldc) {
  if (k <= 0) return;
  const int registers = m / 4;
  for (int c = 0; c < q; c += kUpdateQ) {
    const int qc = std::min(kUpdateQ, q - c);
    for (int v = 0; v < registers; v += kUpdateV) {
      const int vv = std::min(kUpdateV, registers - v);
      (Add ? kAddTiles : kUpdateTiles)[vv - 1][qc - 1](k, Y + 4 * v, ldy, W + c * ldw, ldw, C + 4 * v + c * ldc, ldc);
    }
  }
}

void Update(int m, int k, int q, const double* Y, Index ldy, const double* W, Index ldw, double* C, Index ldc) {
  UpdateOrAdd<false>(m, k, q, Y, ldy, W, ldw, C, ldc);
}

// As in fold_kernels.inc: Out = T' W on the rows of k rounded up to 8.
void Triangular(int k, int q, const double* Tt, Index ldt, const double* W, Index ldw, double* Out, Index ldo) {
  const int rows = (k + 7) / 8 * 8;
  for (int c = 0; c < q; ++c) std::fill_n(Out + c * ldo, rows, 0.0);
  UpdateOrAdd<true>(rows, k, q, Tt, ldt, W, ldw, Out, ldo);
}

void Scale(int m, double s, double* x) {
  const __m256d f = _mm256_set1_pd(s);
  for (int r = 0; r < m; r += 4) _mm256_storeu_pd(x + r, _mm256_mul_pd(_mm256_loadu_pd(x + r), f));
}

}  // namespace

const Kernels kKernels{&Cross, &Update, &Triangular, &Scale, "AVX2"};

}  // namespace odefit::fold::avx2

#endif
