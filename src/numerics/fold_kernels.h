#pragma once
// The products that carry the streamed factorisation (triangular_fold.h):
// inner products of tall columns and rank-k updates of tall columns, on
// column-major blocks whose row count is a multiple of 8.
//
// The arithmetic of every result is fixed whatever the vector unit runs it:
// an inner product is 8 partial sums (lane l takes the rows r = l mod 8, in
// row order, each step a fused multiply-add) added as
// ((l0 + l1) + (l2 + l3)) + ((l4 + l5) + (l6 + l7)); an update subtracts the
// products Y(r, i) W(i, c) from C(r, c) one i after the other, each a fused
// multiply-add. A result depends only on its own column's data, never on the
// other columns of the call, so a column gets the same bits in any company.
// The AVX-512, the AVX2 and the portable fused kernels give the same bits; the
// generic kernels (for processors without FMA) round each product separately. Rows are in
// storage as vectors of 8 (k rounded up for the triangular product).

#include <cstddef>
#include <string_view>

namespace odefit::fold {

using Index = std::ptrdiff_t;

struct Kernels {
  // W(i, c) = sum over r < m of Y(r, i) C(r, c), for i < p and c < q
  // (m a multiple of 8; W column-major with leading dimension ldw).
  void (*cross)(int m, int p, int q, const double* Y, Index ldy, const double* C, Index ldc, double* W, Index ldw);
  // C(r, c) -= Y(r, i) W(i, c) for i = 0 .. k - 1 in order, r < m, c < q (m a multiple of 8).
  void (*update)(int m, int k, int q, const double* Y, Index ldy, const double* W, Index ldw, double* C, Index ldc);
  // Out(i, c) = sum over a < k of T(a, i) W(a, c), in the order of a, for
  // c < q and i < k rounded up to a multiple of 8; Tt is T transposed
  // (Tt[a * ldt + i] = T(a, i)), zero below T's diagonal and up to that row count.
  void (*triangular)(int k, int q, const double* Tt, Index ldt, const double* W, Index ldw, double* Out, Index ldo);
  // x(r) *= s for r < m (m a multiple of 8).
  void (*scale)(int m, double s, double* x);
  const char* name;  // "AVX-512", "AVX2" or "generic"
};

// The fastest kernels this processor runs, or the set the environment
// variable ODEFIT_FOLD_KERNELS names when the processor runs it (read once).
const Kernels& BestKernels();

// The kernels of one instruction set ("avx512", "avx2", "generic"), or null
// when this processor (or this build) cannot run them; "fused", which every
// processor runs, computes the AVX-512 and AVX2 kernels' bits portably.
const Kernels* KernelsFor(std::string_view isa);

// The fastest kernels with the fused bits: BestKernels when they are AVX-512
// or AVX2, else the portable fused set. Results folded with them are the same
// on every machine (what the search needs), at the generic kernels' speed or
// below where the processor has no fused multiply-add.
const Kernels& FusedKernels();

}  // namespace odefit::fold
