#include "model/design.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "model/monomials.h"

namespace odefit {
namespace {

// Rows per block: the block of a few hundred columns then stays within a few MB.
constexpr int kBlockRows = 2048;

}  // namespace

void FillDesignBlock(const ModelEquation& eq, std::span<const double> X, int D, int rows, int firstSample,
                     std::span<const double> y, std::span<double> A, int lda) {
  const std::size_t ld = static_cast<std::size_t>(lda);
  if (rows < 0 || lda < rows || A.size() < ld * static_cast<std::size_t>(std::max(eq.nterms, 1)) ||
      X.size() < static_cast<std::size_t>(D) * static_cast<std::size_t>(rows)) {
    throw std::invalid_argument("FillDesignBlock: arrays smaller than their sizes");
  }
  switch (eq.family) {
    case ModelFamily::StandardPolynomial: FillMonomialColumns(X, D, rows, eq.nu, A, lda); break;
    case ModelFamily::DrivenPolynomial: {
      FillMonomialColumns(X, D, rows, eq.nu, A, lda);
      double* cosine = A.data() + static_cast<std::size_t>(eq.nterms - 2) * ld;
      double* sine = cosine + ld;
      for (int r = 0; r < rows; ++r) {
        const double angle = static_cast<double>(firstSample + r) * eq.wdt;
        cosine[r] = std::cos(angle);
        sine[r] = std::sin(angle);
      }
      break;
    }
    case ModelFamily::Rational: {
      if (y.size() < static_cast<std::size_t>(rows)) throw std::invalid_argument("FillDesignBlock: no targets");
      FillMonomialColumns(X, D, rows, eq.nu, A, lda);
      std::vector<double> denominator(static_cast<std::size_t>(rows) * static_cast<std::size_t>(eq.nden + 1));
      FillMonomialColumns(X, D, rows, eq.mu, denominator, rows);
      for (int j = 0; j < eq.nden; ++j) {
        const double* u = denominator.data() + static_cast<std::size_t>(j + 1) * rows;
        double* column = A.data() + static_cast<std::size_t>(eq.nnum + j) * ld;
        for (int r = 0; r < rows; ++r) column[r] = -y[r] * u[r];
      }
      break;
    }
    case ModelFamily::ReducedPolynomial:
      for (int r = 0; r < rows; ++r) {
        const double x1 = X[static_cast<std::size_t>(r) * D], x2 = X[static_cast<std::size_t>(r) * D + 1];
        double power = x1;
        for (int k = 0; k < eq.nnum; ++k, power *= x2) A[static_cast<std::size_t>(k) * ld + r] = k == 0 ? x1 : power;
        power = 1.0;
        for (int k = 0; k < eq.nden; ++k, power *= x2) {
          A[static_cast<std::size_t>(eq.nnum + k) * ld + r] = k == 0 ? 1.0 : power;
        }
      }
      break;
  }
}

TriangularSummary SummariseDesign(const ModelEquation& eq, std::span<const double> X, int D, int rows,
                                  int firstSample, std::span<const double> Y, std::span<const int> targets) {
  const int K = eq.nterms;
  const int T = static_cast<int>(targets.size());
  if (T < 1 || (eq.family == ModelFamily::Rational && T != 1)) {
    throw std::invalid_argument("SummariseDesign: one target or more (exactly one for the rational family)");
  }
  TriangularSummary summary(K, T);
  const std::size_t d = static_cast<std::size_t>(D);
  std::vector<double> block(static_cast<std::size_t>(kBlockRows) * static_cast<std::size_t>(K + T));
  std::vector<double> y(static_cast<std::size_t>(kBlockRows));
  for (int r0 = 0; r0 < rows; r0 += kBlockRows) {
    const int count = std::min(kBlockRows, rows - r0);
    const std::span<const double> states = X.subspan(static_cast<std::size_t>(r0) * d, static_cast<std::size_t>(count) * d);
    for (int t = 0; t < T; ++t) {
      double* column = block.data() + static_cast<std::size_t>(K + t) * count;
      for (int r = 0; r < count; ++r) column[r] = Y[static_cast<std::size_t>(r0 + r) * d + static_cast<std::size_t>(targets[t])];
    }
    if (eq.family == ModelFamily::Rational) {
      std::copy_n(block.data() + static_cast<std::size_t>(K) * count, count, y.begin());
    }
    FillDesignBlock(eq, states, D, count, firstSample + r0, y, block, count);
    summary.AddRows(block, count, count);
  }
  return summary;
}

}  // namespace odefit
