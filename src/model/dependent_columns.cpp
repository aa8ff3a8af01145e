#include "model/dependent_columns.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace odefit {
namespace {

// Returns the Euclidean norm of x(0..n-1), scaled so that no square overflows.
double Norm(const double* x, std::size_t n) {
  double scale = 0.0;
  for (std::size_t i = 0; i < n; ++i) scale = std::max(scale, std::fabs(x[i]));
  if (scale == 0.0 || !std::isfinite(scale)) return scale;
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += (x[i] / scale) * (x[i] / scale);
  return scale * std::sqrt(sum);
}

}  // namespace

DependentColumns FindDependentColumns(std::span<const double> A, int Nrows, int K, double tolerance) {
  const std::size_t rows = static_cast<std::size_t>(Nrows);
  std::vector<double> R(A.begin(), A.begin() + static_cast<std::ptrdiff_t>(rows * static_cast<std::size_t>(K)));
  DependentColumns found;
  std::size_t rank = 0;  // independent columns so far: the rows their reflections have taken
  for (int k = 0; k < K; ++k) {
    double* column = R.data() + static_cast<std::size_t>(k) * rows;
    const double norm = Norm(A.data() + static_cast<std::size_t>(k) * rows, rows);
    if (norm == 0.0) {
      found.zero.push_back(k + 1);
      continue;
    }
    // column(rank..) is what the independent columns before it leave.
    double* x = column + rank;
    const std::size_t n = rows - rank;
    const double left = rank < rows ? Norm(x, n) : 0.0;
    if (left <= tolerance * norm) {
      found.dependent.push_back(k + 1);
      continue;
    }
    // H = I - tau v v' maps x onto beta e1, with v(0) = 1 and the rest of v
    // overwriting x (as LAPACK's dlarfg forms it, so nothing overflows); H is
    // applied to the columns after k.
    const double beta = x[0] > 0.0 ? -left : left;
    const double tau = (beta - x[0]) / beta;
    const double scale = 1.0 / (x[0] - beta);
    x[0] = 1.0;
    for (std::size_t i = 1; i < n; ++i) x[i] *= scale;
    for (int j = k + 1; j < K; ++j) {
      double* c = R.data() + static_cast<std::size_t>(j) * rows + rank;
      double dot = 0.0;
      for (std::size_t i = 0; i < n; ++i) dot += x[i] * c[i];
      const double s = tau * dot;
      for (std::size_t i = 0; i < n; ++i) c[i] -= s * x[i];
    }
    ++rank;
  }
  return found;
}

}  // namespace odefit
