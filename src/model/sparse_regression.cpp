#include "model/sparse_regression.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace odefit {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();


// Builds the Householder reflector that maps (alpha, x) to (beta, 0) and
// returns tau (0 when nothing is to be reflected); x becomes the tail of v,
// whose head is 1. H = I - tau v v'.
double Reflector(double& alpha, double* x, int n) {
  double scale = 0.0, ssq = 1.0;
  for (int i = 0; i < n; ++i) {
    const double a = std::fabs(x[i]);
    if (a == 0.0) continue;
    if (scale < a) {
      ssq = 1.0 + ssq * (scale / a) * (scale / a);
      scale = a;
    } else {
      ssq += (a / scale) * (a / scale);
    }
  }
  const double xnorm = scale == 0.0 ? 0.0 : scale * std::sqrt(ssq);
  if (xnorm == 0.0) return 0.0;
  const double beta = -std::copysign(std::hypot(alpha, xnorm), alpha);
  const double tau = (beta - alpha) / beta;
  const double inv = 1.0 / (alpha - beta);
  for (int i = 0; i < n; ++i) x[i] *= inv;
  alpha = beta;
  return tau;
}

const fold::Kernels* Generic() { return fold::KernelsFor("generic"); }

}  // namespace

TriangularSummary::TriangularSummary(int K, int T, const fold::Kernels* kernels)
    : K_(K), T_(T), fold_(std::max(K + T, 1), std::clamp(K, 1, std::max(K + T, 1)), kernels != nullptr ? kernels : Generic()) {
  if (K < 1 || T < 1) throw std::invalid_argument("TriangularSummary: K and T must be positive");
}

TriangularSummary::TriangularSummary(TriangularFold factor, int K, std::int64_t rows)
    : K_(K), T_(factor.Columns() - K), rows_(rows), fold_(std::move(factor)) {
  if (K < 1 || T_ < 1 || rows < 0) throw std::invalid_argument("TriangularSummary: K and T must be positive");
}

void TriangularSummary::AddRows(std::span<const double> block, int rows, int ld) {
  if (rows <= 0) return;
  const std::size_t n = static_cast<std::size_t>(K_ + T_);
  if (ld < rows || block.size() < static_cast<std::size_t>(ld) * (n - 1) + static_cast<std::size_t>(rows)) {
    throw std::invalid_argument("TriangularSummary::AddRows: the block is smaller than rows x (K + T)");
  }
  // The fold reads whole vectors of 8 rows: a padded copy, zero below the
  // rows, its columns apart as the fold reads them best.
  const std::size_t padded = static_cast<std::size_t>(TriangularFold::BlockLeadingDimension(rows));
  std::vector<double> copy(padded * n, 0.0);
  for (std::size_t j = 0; j < n; ++j) {
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(j * static_cast<std::size_t>(ld)), rows,
                copy.begin() + static_cast<std::ptrdiff_t>(j * padded));
  }
  fold_.Fold(copy.data(), rows, static_cast<std::ptrdiff_t>(padded));
  rows_ += rows;
}

void TriangularSummary::Merge(const TriangularSummary& other) {
  if (other.K_ != K_ || other.T_ != T_) throw std::invalid_argument("TriangularSummary::Merge: other shape");
  TriangularFold copy = other.fold_;
  fold_.Merge(copy);
  rows_ += other.rows_;
}

double TriangularSummary::ColumnNorm(int j) const {
  double s = 0.0;
  for (int i = 0; i <= j; ++i) s += R(i, j) * R(i, j);
  return std::sqrt(s);
}

double TriangularSummary::TargetNorm(int t) const {
  const int col = K_ + t;
  double s = 0.0;
  for (int i = 0; i <= col; ++i) s += R(i, col) * R(i, col);
  return std::sqrt(s);
}

void ScatterSubsetFit(const SubsetFit& fit, ModelEquation& eq) {
  const std::size_t terms = static_cast<std::size_t>(std::max(eq.nterms, 0));
  eq.coef.assign(terms, 0.0);
  eq.standardErrors.assign(terms, 0.0);
  for (std::size_t k = 0; k < fit.columns.size(); ++k) {
    const std::size_t at = static_cast<std::size_t>(fit.columns[k]);
    if (at >= terms) throw std::invalid_argument("ScatterSubsetFit: a column beyond the equation's terms");
    eq.coef[at] = fit.coefficients[k];
    eq.standardErrors[at] = fit.standardErrors[k];
  }
  eq.condition = fit.condition;
}

SubsetFit FitSubset(const TriangularSummary& summary, int t, std::span<const int> columns) {
  const int K = summary.DesignColumns();
  if (t < 0 || t >= summary.Targets()) throw std::invalid_argument("FitSubset: no such target");
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (columns[k] < 0 || columns[k] >= K || (k > 0 && columns[k] <= columns[k - 1])) {
      throw std::invalid_argument("FitSubset: columns must increase within the design");
    }
  }
  SubsetFit fit;
  fit.columns.assign(columns.begin(), columns.end());
  const int k = static_cast<int>(columns.size());
  // The reduced problem: rows 0..rows-1 of R's chosen columns and of the
  // target column, rows = K + t + 1 (the target's column ends at its
  // diagonal). The chosen columns are zero below row m - 1, m the last one's
  // index + 1, so the reflections touch rows 0..m-1 only and the target's
  // rows below stay R's: only those m rows are formed.
  const int rows = K + t + 1;
  const int m = k > 0 ? columns[k - 1] + 1 : 0;
  std::vector<double> B(static_cast<std::size_t>(m) * (k + 1), 0.0);
  for (int c = 0; c < k; ++c) {
    for (int i = 0; i <= columns[c]; ++i) B[i + static_cast<std::size_t>(c) * m] = summary.R(i, columns[c]);
  }
  for (int i = 0; i < m; ++i) B[i + static_cast<std::size_t>(k) * m] = summary.R(i, K + t);
  // QR of the reduced problem with unpivoted Householder reflections.
  std::vector<double> tau(static_cast<std::size_t>(k), 0.0);
  for (int j = 0; j < k; ++j) {
    double* col = &B[static_cast<std::size_t>(j) * m];
    tau[j] = Reflector(col[j], col + j + 1, m - j - 1);
    if (tau[j] == 0.0) continue;
    for (int c = j + 1; c <= k; ++c) {
      double* other = &B[static_cast<std::size_t>(c) * m];
      double w = other[j];
      for (int i = j + 1; i < m; ++i) w += col[i] * other[i];
      w *= tau[j];
      other[j] -= w;
      for (int i = j + 1; i < m; ++i) other[i] -= w * col[i];
    }
  }
  const double* z = B.data() + static_cast<std::size_t>(k) * m;  // no element at all when no column is kept
  double rss = 0.0;
  for (int i = k; i < m; ++i) rss += z[i] * z[i];
  for (int i = m; i < rows; ++i) rss += summary.R(i, K + t) * summary.R(i, K + t);
  fit.rss = rss;
  fit.coefficients.assign(static_cast<std::size_t>(k), 0.0);
  fit.standardErrors.assign(static_cast<std::size_t>(k), kNaN);
  if (k == 0) return fit;

  // A diagonal this small against the largest makes the column dependent.
  double largest = 0.0, smallest = std::numeric_limits<double>::infinity();
  for (int j = 0; j < k; ++j) {
    const double d = std::fabs(B[j + static_cast<std::size_t>(j) * m]);
    largest = std::max(largest, d);
    smallest = std::min(smallest, d);
  }
  const double tiny = largest * 1e-13 * std::sqrt(static_cast<double>(rows));
  if (!(smallest > tiny)) {
    fit.singular = true;
    fit.condition = std::numeric_limits<double>::infinity();
    return fit;
  }
  // Back substitution R_S c = z.
  for (int j = k - 1; j >= 0; --j) {
    double s = z[j];
    for (int c = j + 1; c < k; ++c) s -= B[j + static_cast<std::size_t>(c) * m] * fit.coefficients[c];
    fit.coefficients[j] = s / B[j + static_cast<std::size_t>(j) * m];
  }
  // R_S^-1 column by column: its row norms give the standard errors, its
  // column sums with R_S's the 1-norm condition a full fit reports.
  std::vector<double> inverse(static_cast<std::size_t>(k) * k, 0.0);  // upper triangular R_S^-1
  double norm = 0.0, inverseNorm = 0.0;
  for (int c = 0; c < k; ++c) {
    double columnSum = 0.0, rColumnSum = 0.0;
    for (int j = c; j >= 0; --j) {
      double s = j == c ? 1.0 : 0.0;
      for (int l = j + 1; l <= c; ++l) s -= B[j + static_cast<std::size_t>(l) * m] * inverse[l + static_cast<std::size_t>(c) * k];
      inverse[j + static_cast<std::size_t>(c) * k] = s / B[j + static_cast<std::size_t>(j) * m];
      columnSum += std::fabs(inverse[j + static_cast<std::size_t>(c) * k]);
      rColumnSum += std::fabs(B[j + static_cast<std::size_t>(c) * m]);
    }
    norm = std::max(norm, rColumnSum);
    inverseNorm = std::isnan(columnSum) ? std::numeric_limits<double>::infinity() : std::max(inverseNorm, columnSum);
  }
  fit.condition = norm * inverseNorm;
  const double dof = static_cast<double>(summary.Rows() - k);
  if (dof > 0) {
    const double sigma = std::sqrt(rss / dof);
    for (int j = 0; j < k; ++j) {
      double s = 0.0;
      for (int c = j; c < k; ++c) s += inverse[j + static_cast<std::size_t>(c) * k] * inverse[j + static_cast<std::size_t>(c) * k];
      fit.standardErrors[j] = sigma * std::sqrt(s);
    }
  }
  return fit;
}

SubsetFit ThresholdedFit(const TriangularSummary& summary, int t, const ThresholdSettings& settings) {
  std::vector<int> all(static_cast<std::size_t>(summary.DesignColumns()));
  for (std::size_t j = 0; j < all.size(); ++j) all[j] = static_cast<int>(j);
  return ThresholdedFit(summary, t, settings, all);
}

namespace {

// The thresholded path with `fit(columns)` the subset fit of target t.
template <class Fit>
SubsetFit ThresholdedPath(const TriangularSummary& summary, int t, const ThresholdSettings& settings,
                          std::span<const int> columns, Fit fitOf) {
  const int K = summary.DesignColumns();
  if (!(settings.threshold >= 0.0)) throw std::invalid_argument("ThresholdedFit: the threshold must not be negative");
  std::vector<double> weight(static_cast<std::size_t>(K), 1.0);
  if (settings.scaled) {
    const double target = summary.TargetNorm(t);
    for (const int j : columns) {
      if (j >= 0 && j < K) weight[j] = target > 0.0 ? summary.ColumnNorm(j) / target : 0.0;
    }
  }
  std::vector<bool> keep(static_cast<std::size_t>(K), false);
  for (const int j : settings.keep) {
    if (j >= 0 && j < K) keep[j] = true;
  }
  std::vector<int> support(columns.begin(), columns.end());
  SubsetFit fit = fitOf(support);
  for (int iteration = 0; iteration < settings.maxIterations; ++iteration) {
    std::vector<int> next;
    if (fit.singular) {
      // A column that depends on the others has no coefficient of its own:
      // keep the columns, in order, that each add rank.
      for (const int j : support) {
        next.push_back(j);
        if (fitOf(next).singular) next.pop_back();
      }
    } else {
      for (std::size_t k = 0; k < support.size(); ++k) {
        const int j = support[k];
        if (keep[j] || std::fabs(fit.coefficients[k]) * weight[j] >= settings.threshold) next.push_back(j);
      }
    }
    if (next == support) break;
    support = std::move(next);
    fit = fitOf(support);
  }
  return fit;
}

}  // namespace

SubsetFit ThresholdedFit(const TriangularSummary& summary, int t, const ThresholdSettings& settings,
                         std::span<const int> columns) {
  return ThresholdedPath(summary, t, settings, columns,
                         [&](std::span<const int> subset) { return FitSubset(summary, t, subset); });
}

const SubsetFit& SubsetFitMemo::Fit(int t, std::span<const int> columns) {
  std::pair<int, std::vector<int>> key(t, std::vector<int>(columns.begin(), columns.end()));
  auto known = fits_.find(key);
  if (known == fits_.end()) known = fits_.emplace(std::move(key), FitSubset(*summary_, t, columns)).first;
  return known->second;
}

SubsetFit ThresholdedFit(SubsetFitMemo& memo, int t, const ThresholdSettings& settings, std::span<const int> columns) {
  return ThresholdedPath(memo.Summary(), t, settings, columns,
                         [&](std::span<const int> subset) { return memo.Fit(t, subset); });
}

}  // namespace odefit
