#include "numerics/triangular_fold.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace odefit {
namespace {

// Reflections formed column by column, and the width of a block reflector.
constexpr int kPanel = 8;
constexpr int kBlock = 32;
// Trailing columns updated per pass of a block reflector: their products
// with the reflectors stay in the first-level cache until the update.
constexpr int kGroup = 16;

// Sums of squares outside these bounds lost digits to underflow or may have
// overflowed; the norm is then formed with scaling.
constexpr double kSmallSquares = 1e-280;
constexpr double kLargeSquares = 1e280;

// ||x|| for m values, each divided by the largest magnitude so far before it is squared.
double ScaledNorm(const double* x, int m) {
  double scale = 0.0, ssq = 1.0;
  for (int i = 0; i < m; ++i) {
    const double a = std::fabs(x[i]);
    if (a == 0.0) continue;
    if (scale < a) {
      ssq = 1.0 + ssq * (scale / a) * (scale / a);
      scale = a;
    } else {
      ssq += (a / scale) * (a / scale);
    }
  }
  return scale == 0.0 ? 0.0 : scale * std::sqrt(ssq);
}

}  // namespace

TriangularFold::TriangularFold(int columns, int split, const fold::Kernels* kernels)
    : n_(columns), split_(split), kernels_(kernels != nullptr ? kernels : &fold::BestKernels()) {
  if (columns < 1 || split < 1 || split > columns) {
    throw std::invalid_argument("TriangularFold: 1 <= split <= columns");
  }
  ld_ = static_cast<std::size_t>(PaddedRows(columns));
  r_.assign(ld_ * static_cast<std::size_t>(columns), 0.0);
}

TriangularFold::TriangularFold(const TriangularFold& other)
    : n_(other.n_), split_(other.split_), ld_(other.ld_), r_(other.r_), kernels_(other.kernels_) {}

TriangularFold& TriangularFold::operator=(const TriangularFold& other) {
  if (this != &other) {
    n_ = other.n_;
    split_ = other.split_;
    ld_ = other.ld_;
    r_ = other.r_;
    kernels_ = other.kernels_;
  }
  return *this;
}

void TriangularFold::MakeWorkStorage() {
  tau_.assign(static_cast<std::size_t>(n_), 0.0);
  t_.assign(kBlock * kBlock, 0.0);
  gram_.assign(kBlock * kBlock, 0.0);
  w_.assign(static_cast<std::size_t>(kBlock) * std::max(kGroup, kPanel), 0.0);
  tw_.assign(static_cast<std::size_t>(kBlock) * kGroup, 0.0);
}

void TriangularFold::Fold(double* B, int rows, Index ldb) {
  if (rows <= 0) return;
  if (ldb < PaddedRows(rows)) throw std::invalid_argument("TriangularFold::Fold: leading dimension below the padded rows");
  FoldRows(B, PaddedRows(rows), ldb, false);
}

void TriangularFold::Merge(TriangularFold& other) {
  if (other.n_ != n_ || other.split_ != split_) throw std::invalid_argument("TriangularFold::Merge: another shape");
  FoldRows(other.r_.data(), static_cast<int>(ld_), static_cast<Index>(ld_), true);
}

// Reduces [R; B] to [R'; 0] block by block. For a triangular B (a factor being
// merged) the rows below a block's last column are zero in the block's
// columns, and so are its reflectors there: only the rows above take part.
void TriangularFold::FoldRows(double* B, int m, Index ldb, bool triangular) {
  if (tau_.size() != static_cast<std::size_t>(n_)) MakeWorkStorage();
  for (int J = 0; J < n_;) {
    const int limit = J < split_ ? split_ : n_;
    const int end = std::min(J + kBlock, limit);
    const int blockRows = triangular ? std::min(m, PaddedRows(end)) : m;
    for (int p0 = J; p0 < end; p0 += kPanel) {
      const int pe = std::min(p0 + kPanel, end);
      const int active = triangular ? std::min(m, PaddedRows(pe)) : m;
      FactorPanel(B, ldb, p0, pe, active);
      if (pe < end) {
        BuildT(B, ldb, p0, pe, active);
        ApplyBlock(B, ldb, p0, pe, pe, end, active);
      }
    }
    if (end < n_) {
      BuildT(B, ldb, J, end, blockRows);
      ApplyBlock(B, ldb, J, end, end, n_, blockRows);
    }
    J = end;
  }
}

// Reflection j maps (R(j, j), B(:, j)) to (beta, 0): H = I - tau v v' with v =
// (1, B(:, j) / (alpha - beta)), stored over B(:, j); the panel's later
// columns follow at once.
void TriangularFold::FactorPanel(double* B, Index ldb, int p0, int pe, int active) {
  const fold::Kernels& k = *kernels_;
  for (int j = p0; j < pe; ++j) {
    double* x = B + j * ldb;
    double& alpha = At(j, j);
    double squares = 0.0;
    k.cross(active, 1, 1, x, ldb, x, ldb, &squares, 1);
    const double xnorm =
        squares >= kSmallSquares && squares <= kLargeSquares ? std::sqrt(squares) : ScaledNorm(x, active);
    double& tau = tau_[static_cast<std::size_t>(j)];
    if (xnorm == 0.0) {
      tau = 0.0;
      continue;
    }
    const double beta = -std::copysign(std::hypot(alpha, xnorm), alpha);
    tau = (beta - alpha) / beta;
    const double scale = 1.0 / (alpha - beta);
    k.scale(active, scale, x);
    alpha = beta;
    const int rest = pe - j - 1;
    if (rest == 0) continue;
    double* w = w_.data();
    k.cross(active, 1, rest, x, ldb, x + ldb, ldb, w, 1);
    for (int c = 0; c < rest; ++c) {
      double& rjc = At(j, j + 1 + c);
      w[c] = tau * (rjc + w[c]);
      rjc -= w[c];
    }
    k.update(active, 1, rest, x, ldb, w, 1, x + ldb, ldb);
  }
}

// T of H_p0 ... H_(pe-1) = I - V T V', kept transposed in t_ (row a holds
// T(a, :), leading dimension kBlock), from the reflectors' inner products: V's
// unit parts lie in distinct rows of R, so V(:, a)' V(:, b) = Y(:, a)' Y(:, b)
// for a != b.
void TriangularFold::BuildT(const double* B, Index ldb, int p0, int pe, int active) {
  const int k = pe - p0;
  const double* Y = B + p0 * ldb;
  double* G = gram_.data();
  double* Tt = t_.data();
  // The inner products on and above the diagonal, in tiles of 4 columns.
  for (int c = 0; c < k; c += 4) {
    kernels_->cross(active, std::min(c + 4, k), std::min(4, k - c), Y, ldb, Y + c * ldb, ldb, G + c * kBlock, kBlock);
  }
  std::fill(t_.begin(), t_.end(), 0.0);
  for (int i = 0; i < k; ++i) {
    const double tau = tau_[static_cast<std::size_t>(p0 + i)];
    Tt[i * kBlock + i] = tau;
    // T(0:i, i) = -tau T(0:i, 0:i) G(0:i, i).
    for (int a = 0; a < i; ++a) {
      double sum = 0.0;
      for (int b = a; b < i; ++b) sum += Tt[a * kBlock + b] * G[b + i * kBlock];
      Tt[a * kBlock + i] = -tau * sum;
    }
  }
}

// Applies H_(pe-1) ... H_p0 = (I - V T V')' to the columns c0..c1-1 of [R; B]:
// W = V' C = R(p0:pe, c) + Y' B(:, c); R(p0:pe, c) -= T' W; B(:, c) -= Y T' W.
void TriangularFold::ApplyBlock(double* B, Index ldb, int p0, int pe, int c0, int c1, int active) {
  const int k = pe - p0;
  const double* Y = B + p0 * ldb;
  double* W = w_.data();
  for (int g = c0; g < c1; g += kGroup) {
    const int q = std::min(kGroup, c1 - g);
    kernels_->cross(active, k, q, Y, ldb, B + g * ldb, ldb, W, kBlock);
    for (int c = 0; c < q; ++c) {
      const double* rc = &At(p0, g + c);
      double* wc = W + c * kBlock;
      for (int i = 0; i < k; ++i) wc[i] = rc[i] + wc[i];
    }
    double* TW = tw_.data();
    kernels_->triangular(k, q, t_.data(), kBlock, W, kBlock, TW, kBlock);
    for (int c = 0; c < q; ++c) {
      double* rc = &At(p0, g + c);
      const double* wc = TW + c * kBlock;
      for (int i = 0; i < k; ++i) rc[i] -= wc[i];
    }
    kernels_->update(active, k, q, Y, ldb, tw_.data(), kBlock, B + g * ldb, ldb);
  }
}

}  // namespace odefit
