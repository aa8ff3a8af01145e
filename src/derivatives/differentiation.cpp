#include "derivatives/differentiation.h"

#include <cstddef>
#include <vector>

#include "numerics/householder.h"

namespace odefit {
namespace {

// Each window needs the solution alone (Q'y is formed on the way). A constant,
// so the request is no object rebuilt for every window.
constexpr SolveOutputs kWindowOutputs{.solution = true};

}  // namespace

void DifferentiateSeries(std::span<const double> X, int N, int m, int K, double dt,
                         std::span<double> V, std::span<double> G) {
  const int ncol = K + 1;
  const int p = (m - 1) / 2;

  // Design matrix m x (K + 1), column-major with leading dimension m, columns
  // 1, t, t^2, ... It does not depend on the data, so it is factored once and
  // the factorisation serves every window.
  std::vector<double> qr(static_cast<std::size_t>(m) * ncol);
  for (int r = 0; r < m; ++r) {
    const double t = static_cast<double>(r - p);
    qr[r] = 1.0;
    for (int j = 1; j < ncol; ++j) {
      qr[r + static_cast<std::size_t>(j) * m] = qr[r + static_cast<std::size_t>(j - 1) * m] * t;
    }
  }
  std::vector<int> columnOrder(ncol, 0);  // all columns free to pivot
  std::vector<double> reflectorScalars(ncol);
  std::vector<double> columnNorms(ncol);
  DLQRRR(m, ncol, qr, m, 1, columnOrder, qr, m, reflectorScalars, columnNorms);

  std::vector<double> qty(m);
  std::vector<double> solution(ncol);
  const int nout = N - m + 1;
  for (int i = 0; i < nout; ++i) {
    DLQRSL(m, ncol, qr, m, reflectorScalars, X.subspan(i, m), kWindowOutputs, {}, qty, solution, {}, {});
    // Pivoting reordered the columns: place j holds design column ColumnOrder(j).
    for (int j = 0; j < ncol; ++j) {
      if (columnOrder[j] == 1) {
        V[i] = solution[j];
      } else if (columnOrder[j] == 2) {
        G[i] = solution[j];
      }
    }
  }

  // The slope is per sample; one factor converts all of them to per unit time.
  const double r = 1.0 / dt;
  for (int i = 0; i < nout; ++i) G[i] *= r;
}

}  // namespace odefit
