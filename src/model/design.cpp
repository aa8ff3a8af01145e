#include "model/design.h"

#include <algorithm>
#include <stdexcept>

#include "model/model_family.h"
#include "model/streamed_fit.h"

namespace odefit {
void FillDesignBlock(const ModelEquation& eq, std::span<const double> X, int D, int rows, int firstSample,
                     std::span<const double> y, std::span<double> A, int lda) {
  const std::size_t ld = static_cast<std::size_t>(lda);
  if (rows < 0 || lda < rows || A.size() < ld * static_cast<std::size_t>(std::max(eq.nterms, 1)) ||
      X.size() < static_cast<std::size_t>(D) * static_cast<std::size_t>(rows)) {
    throw std::invalid_argument("FillDesignBlock: arrays smaller than their sizes");
  }
  FamilyOf(eq.family).FillDesign(eq, X, D, rows, firstSample, y, A, lda);
}

TriangularSummary SummariseDesign(const ModelEquation& eq, std::span<const double> X, int D, int rows,
                                  int firstSample, std::span<const double> Y, std::span<const int> targets,
                                  const SummaryOptions& options) {
  const int K = eq.nterms;
  const int T = static_cast<int>(targets.size());
  if (T < 1 || (FamilyOf(eq.family).quotient && T != 1)) {
    throw std::invalid_argument("SummariseDesign: one target or more (exactly one for a quotient family)");
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
