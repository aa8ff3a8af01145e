#pragma once
// Least squares from a triangular summary, and sparse fits by sequentially
// thresholded least squares.
//
// A problem min ||A c - y_t|| with an Nrows x K design A and T targets y_t is
// summarised by the upper triangular factor R of the Nrows x (K + T) matrix
// [A | Y]: for any subset S of the design's columns,
//   ||A_S c - y_t||^2 = ||R(0:K+t, S) c - R(0:K+t, K+t)||^2,
// so every subset fit, its residual and its standard errors come from R
// alone, without touching the rows again. Rows may be folded in block by
// block (memory O((K + T)^2 + block)), and summaries of disjoint row blocks
// merged, which is what blocked cross-validation in time needs.
//
// Storage: R is (K + T) x (K + T), column-major, upper triangular; rows are
// passed as column-major blocks of `rows` x (K + T) with a leading dimension.

#include <cstdint>
#include <span>
#include <vector>

namespace odefit {

class TriangularSummary {
 public:
  TriangularSummary() = default;
  // An empty summary of K design columns and T targets (K >= 1, T >= 1).
  TriangularSummary(int K, int T);

  // Folds `rows` rows into the factor: block(r, j) at block[r + j * ld],
  // j = 0 .. K + T - 1, ld >= rows.
  void AddRows(std::span<const double> block, int rows, int ld);
  // Folds another summary of the same shape (other rows of the same problem).
  void Merge(const TriangularSummary& other);

  int DesignColumns() const { return K_; }
  int Targets() const { return T_; }
  std::int64_t Rows() const { return rows_; }
  // R(i, j), 0-based.
  double R(int i, int j) const { return R_[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * n_]; }
  // ||A(:, j)||, from column j of R.
  double ColumnNorm(int j) const;
  // ||y_t||.
  double TargetNorm(int t) const;

 private:
  void Fold(double* rows, int count, int ld);

  int K_ = 0, T_ = 0;
  std::size_t n_ = 0;
  std::int64_t rows_ = 0;
  std::vector<double> R_;
};

// The least-squares fit of one target on a subset of the design's columns.
struct SubsetFit {
  std::vector<int> columns;          // increasing design column indices
  std::vector<double> coefficients;  // one per column
  std::vector<double> standardErrors;  // sigma * sqrt(diag((R_S' R_S)^-1)), sigma^2 = rss / (rows - k); NaN when rows <= k
  double rss = 0.0;                  // sum of squared residuals
  double condition = 1.0;            // max |diag R_S| / min |diag R_S|; infinite when a column depends on others
  bool singular = false;             // a column of the subset is zero or depends on earlier ones
};

// Fits target t on `columns` (increasing, within 0..K-1) from the summary.
SubsetFit FitSubset(const TriangularSummary& summary, int t, std::span<const int> columns);

struct ThresholdSettings {
  double threshold = 0.0;
  // Compare |c_j| * ||A(:, j)|| / ||y_t|| with the threshold (the share of the
  // target one term would carry) instead of |c_j|: one threshold then suits
  // columns of very different sizes.
  bool scaled = false;
  int maxIterations = 50;
  // Columns always kept (e.g. those with no other column to explain them); may be empty.
  std::vector<int> keep;
};

// Sequentially thresholded least squares: fits all columns, drops those whose
// coefficient is below the threshold, refits on the rest, until the support
// stops changing. Returns the last fit (an empty support when nothing stays).
SubsetFit ThresholdedFit(const TriangularSummary& summary, int t, const ThresholdSettings& settings);

}  // namespace odefit
