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
// Storage: R is (K + T) x (K + T), upper triangular, held by a
// TriangularFold split after the design's K columns (so a target's column
// does not change the design's part); rows are passed as column-major blocks
// of `rows` x (K + T) with a leading dimension.
//
// Kernels: the generic fold kernels by default, so a summary has the same
// bits on every machine; the search passes fold::FusedKernels (the same bits
// everywhere too, at the vector unit's speed), a fit the processor's fastest
// (StreamedFactor folds the rows on the caller's threads).

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "numerics/fold_kernels.h"
#include "numerics/triangular_fold.h"
#include "odefit/model.h"

namespace odefit {

class TriangularSummary {
 public:
  TriangularSummary() = default;
  // An empty summary of K design columns and T targets (K >= 1, T >= 1),
  // folded with `kernels` (null: the generic kernels).
  TriangularSummary(int K, int T, const fold::Kernels* kernels = nullptr);
  // The summary held by `factor`, the factor of `rows` rows of [A | Y] with
  // K design columns split from the targets (Columns() > K >= 1).
  TriangularSummary(TriangularFold factor, int K, std::int64_t rows);

  // Folds `rows` rows into the factor: block(r, j) at block[r + j * ld],
  // j = 0 .. K + T - 1, ld >= rows.
  void AddRows(std::span<const double> block, int rows, int ld);
  // Folds another summary of the same shape (other rows of the same problem).
  void Merge(const TriangularSummary& other);

  int DesignColumns() const { return K_; }
  int Targets() const { return T_; }
  std::int64_t Rows() const { return rows_; }
  // R(i, j), 0-based.
  double R(int i, int j) const { return fold_.R(i, j); }
  // ||A(:, j)||, from column j of R.
  double ColumnNorm(int j) const;
  // ||y_t||.
  double TargetNorm(int t) const;

 private:
  int K_ = 0, T_ = 0;
  std::int64_t rows_ = 0;
  TriangularFold fold_{1, 1};
};

// The least-squares fit of one target on a subset of the design's columns.
struct SubsetFit {
  std::vector<int> columns;          // increasing design column indices
  std::vector<double> coefficients;  // one per column
  std::vector<double> standardErrors;  // sigma * sqrt(diag((R_S' R_S)^-1)), sigma^2 = rss / (rows - k); NaN when rows <= k
  double rss = 0.0;                  // sum of squared residuals
  // ||R_S||_1 ||R_S^-1||_1 (as a full fit's condition); 1 for no column;
  // infinite when a column depends on others.
  double condition = 1.0;
  bool singular = false;             // a column of the subset is zero or depends on earlier ones
};

// Fits target t on `columns` (increasing, within 0..K-1) from the summary.
SubsetFit FitSubset(const TriangularSummary& summary, int t, std::span<const int> columns);

// Sets eq's coefficients and standard errors to eq.nterms zeros with the
// fit's at its columns (a dropped term has 0 for both) and its condition to
// the fit's. The columns must be below eq.nterms.
void ScatterSubsetFit(const SubsetFit& fit, ModelEquation& eq);

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
// The same over `columns` (increasing, within 0..K-1) only: the sparse fit of
// a narrower design whose columns are among the summary's, so that one
// summary serves every shape it contains.
SubsetFit ThresholdedFit(const TriangularSummary& summary, int t, const ThresholdSettings& settings,
                         std::span<const int> columns);

// The subset fits made so far on one summary, by target and columns. A fit
// is a function of those alone, and a path of thresholds over a summary's
// shapes meets the same supports again and again (each threshold starts from
// its shape's columns; most end at the same few). The summary must outlive
// the memo and stay unchanged while it is used.
class SubsetFitMemo {
 public:
  explicit SubsetFitMemo(const TriangularSummary& summary) : summary_(&summary) {}
  const TriangularSummary& Summary() const { return *summary_; }
  // FitSubset(Summary(), t, columns), made once.
  const SubsetFit& Fit(int t, std::span<const int> columns);

 private:
  const TriangularSummary* summary_;
  std::map<std::pair<int, std::vector<int>>, SubsetFit> fits_;
};
// ThresholdedFit on the memo's summary, its fits through the memo.
SubsetFit ThresholdedFit(SubsetFitMemo& memo, int t, const ThresholdSettings& settings, std::span<const int> columns);

}  // namespace odefit
