#include "model/design.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "model/monomials.h"
#include "model/streamed_fit.h"

namespace odefit {
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
      // The denominator's monomials are the numerator's first ones (the same
      // bits) when its order is not higher: no second block to form.
      std::vector<double> denominator;
      if (eq.mu > eq.nu) {
        denominator.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(eq.nden + 1));
        FillMonomialColumns(X, D, rows, eq.mu, denominator, rows);
      }
      for (int j = 0; j < eq.nden; ++j) {
        const double* u = eq.mu > eq.nu ? denominator.data() + static_cast<std::size_t>(j + 1) * rows
                                        : A.data() + static_cast<std::size_t>(j + 1) * ld;
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
                                  int firstSample, std::span<const double> Y, std::span<const int> targets,
                                  const SummaryOptions& options) {
  const int K = eq.nterms;
  const int T = static_cast<int>(targets.size());
  if (T < 1 || (eq.family == ModelFamily::Rational && T != 1)) {
    throw std::invalid_argument("SummariseDesign: one target or more (exactly one for the rational family)");
  }
  const std::size_t d = static_cast<std::size_t>(D);
  if (rows < 1) return TriangularSummary(K, T, options.kernels);
  if (Y.size() < d * static_cast<std::size_t>(rows)) throw std::invalid_argument("SummariseDesign: Y smaller than D x rows");
  std::vector<TargetColumn> columns;
  for (const int t : targets) {
    if (t < 0 || t >= D) throw std::invalid_argument("SummariseDesign: no such target");
    columns.push_back(TargetColumn{Y.data() + t, d});
  }
  StreamSettings settings;
  settings.threads = options.threads;
  settings.cancel = options.cancel;
  settings.kernels = options.kernels != nullptr ? options.kernels : fold::KernelsFor("generic");
  settings.firstSample = firstSample;
  return TriangularSummary(StreamedFactor(eq, X, D, rows, columns, settings), K, rows);
}

}  // namespace odefit
