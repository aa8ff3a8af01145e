#include "model/sparse_regression.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>


namespace odefit {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::size_t Size(int n) { return static_cast<std::size_t>(n); }

// The sum of x(i) y(i) in eight interleaved partial sums added in a fixed
// order: the compiler may run the lanes side by side in vector registers,
// and the result is the same bits on every machine and thread count, which
// the search's promise of one result wherever its tasks run depends on.
double Dot(const double* x, const double* y, int n) {
  double lane[8] = {};
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    for (int l = 0; l < 8; ++l) lane[l] += x[i + l] * y[i + l];
  }
  for (int l = 0; i < n; ++i, ++l) lane[l] += x[i] * y[i];
  return ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
}

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

}  // namespace

TriangularSummary::TriangularSummary(int K, int T) : K_(K), T_(T) {
  if (K < 1 || T < 1) throw std::invalid_argument("TriangularSummary: K and T must be positive");
  n_ = static_cast<std::size_t>(K + T);
  R_.assign(n_ * n_, 0.0);
}

// The rows are reduced against R column by column: the reflector of column j
// acts on R's row j and the block's rows only, so a block of b rows costs
// about 2 b n^2 flops and R stays triangular.
void TriangularSummary::Fold(double* rows, int count, int ld) {
  const int n = static_cast<int>(n_);
  std::vector<double> w(n_);
  for (int j = 0; j < n; ++j) {
    double* v = rows + static_cast<std::size_t>(j) * ld;
    double& rjj = R_[static_cast<std::size_t>(j) * (n_ + 1)];
    const double tau = Reflector(rjj, v, count);
    const int rest = n - j - 1;
    if (tau == 0.0 || rest == 0) continue;
    // w = tau * (R(j, j+1:) + v' C(:, j+1:)); R(j, j+1:) -= w; C -= v w'.
    double* c = rows + static_cast<std::size_t>(j + 1) * ld;
    for (int k = 0; k < rest; ++k) w[Size(k)] = R_[static_cast<std::size_t>(j) + static_cast<std::size_t>(j + 1 + k) * n_];
    for (int k = 0; k < rest; ++k) w[Size(k)] += Dot(v, c + static_cast<std::size_t>(k) * ld, count);
    for (int k = 0; k < rest; ++k) {
      w[Size(k)] *= tau;
      R_[static_cast<std::size_t>(j) + static_cast<std::size_t>(j + 1 + k) * n_] -= w[Size(k)];
    }
    for (int k = 0; k < rest; ++k) {
      double* column = c + static_cast<std::size_t>(k) * ld;
      const double wk = w[Size(k)];
      for (int i = 0; i < count; ++i) column[i] -= v[i] * wk;
    }
  }
}

void TriangularSummary::AddRows(std::span<const double> block, int rows, int ld) {
  if (rows <= 0) return;
  if (ld < rows || block.size() < static_cast<std::size_t>(ld) * (n_ - 1) + static_cast<std::size_t>(rows)) {
    throw std::invalid_argument("TriangularSummary::AddRows: the block is smaller than rows x (K + T)");
  }
  std::vector<double> copy(static_cast<std::size_t>(rows) * n_);
  for (std::size_t j = 0; j < n_; ++j) {
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(j * static_cast<std::size_t>(ld)), rows,
                copy.begin() + static_cast<std::ptrdiff_t>(j * static_cast<std::size_t>(rows)));
  }
  Fold(copy.data(), rows, rows);
  rows_ += rows;
}

void TriangularSummary::Merge(const TriangularSummary& other) {
  if (other.K_ != K_ || other.T_ != T_) throw std::invalid_argument("TriangularSummary::Merge: other shape");
  std::vector<double> copy = other.R_;
  Fold(copy.data(), static_cast<int>(n_), static_cast<int>(n_));
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
  // The reduced problem: rows 0..m-1 of R's chosen columns and of the target
  // column, m = K + t + 1 (the target's column ends at its diagonal).
  const int m = K + t + 1;
  std::vector<double> B(static_cast<std::size_t>(m) * (k + 1), 0.0);
  for (int c = 0; c < k; ++c) {
    for (int i = 0; i <= std::min(columns[c], m - 1); ++i) B[i + static_cast<std::size_t>(c) * m] = summary.R(i, columns[c]);
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
  const double* z = &B[static_cast<std::size_t>(k) * m];
  double rss = 0.0;
  for (int i = k; i < m; ++i) rss += z[i] * z[i];
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
  const double tiny = largest * 1e-13 * std::sqrt(static_cast<double>(m));
  fit.condition = smallest > 0.0 ? largest / smallest : std::numeric_limits<double>::infinity();
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
  // Standard errors: the row norms of R_S^-1, formed column by column.
  const double dof = static_cast<double>(summary.Rows() - k);
  if (dof > 0) {
    const double sigma = std::sqrt(rss / dof);
    std::vector<double> inverse(static_cast<std::size_t>(k) * k, 0.0);  // upper triangular R_S^-1
    for (int c = 0; c < k; ++c) {
      for (int j = c; j >= 0; --j) {
        double s = j == c ? 1.0 : 0.0;
        for (int l = j + 1; l <= c; ++l) s -= B[j + static_cast<std::size_t>(l) * m] * inverse[l + static_cast<std::size_t>(c) * k];
        inverse[j + static_cast<std::size_t>(c) * k] = s / B[j + static_cast<std::size_t>(j) * m];
      }
    }
    for (int j = 0; j < k; ++j) {
      double s = 0.0;
      for (int c = j; c < k; ++c) s += inverse[j + static_cast<std::size_t>(c) * k] * inverse[j + static_cast<std::size_t>(c) * k];
      fit.standardErrors[j] = sigma * std::sqrt(s);
    }
  }
  return fit;
}

SubsetFit ThresholdedFit(const TriangularSummary& summary, int t, const ThresholdSettings& settings) {
  const int K = summary.DesignColumns();
  if (!(settings.threshold >= 0.0)) throw std::invalid_argument("ThresholdedFit: the threshold must not be negative");
  std::vector<double> weight(static_cast<std::size_t>(K), 1.0);
  if (settings.scaled) {
    const double target = summary.TargetNorm(t);
    for (int j = 0; j < K; ++j) weight[j] = target > 0.0 ? summary.ColumnNorm(j) / target : 0.0;
  }
  std::vector<bool> keep(static_cast<std::size_t>(K), false);
  for (const int j : settings.keep) {
    if (j >= 0 && j < K) keep[j] = true;
  }
  std::vector<int> support(static_cast<std::size_t>(K));
  for (int j = 0; j < K; ++j) support[j] = j;
  SubsetFit fit = FitSubset(summary, t, support);
  for (int iteration = 0; iteration < settings.maxIterations; ++iteration) {
    std::vector<int> next;
    if (fit.singular) {
      // A column that depends on the others has no coefficient of its own:
      // keep the columns, in order, that each add rank.
      for (const int j : support) {
        next.push_back(j);
        if (FitSubset(summary, t, next).singular) next.pop_back();
      }
    } else {
      for (std::size_t k = 0; k < support.size(); ++k) {
        const int j = support[k];
        if (keep[j] || std::fabs(fit.coefficients[k]) * weight[j] >= settings.threshold) next.push_back(j);
      }
    }
    if (next == support) break;
    support = std::move(next);
    fit = FitSubset(summary, t, support);
  }
  return fit;
}

}  // namespace odefit
