#pragma once
// The upper triangular factor R of a tall matrix M = Q R (Q with orthonormal
// columns), built from blocks of M's rows one after the other: each block is
// folded into R by Householder reflections of the stacked [R; block], so the
// whole matrix is never held and memory is O(columns^2 + block) whatever the
// rows. Factors of disjoint row ranges merge into the factor of their union,
// so row ranges can be folded on different threads.
//
// The reflections of 8 columns at a time are formed column by column; those
// of 32 columns reach the columns to their right as one block reflector
// I - V T V' through the inner-product and update kernels of fold_kernels.h,
// so most of the work runs at the speed of the processor's vector units, and
// every result has the same bits whichever vector unit computes it, on any
// number of threads (R's rows may differ from another factorisation's in
// sign; R'R is M'M).
//
// Columns are reduced in groups of 32 from the first; a new group starts at
// `split` (the first target column beside a design): the first `split`
// columns of R, and the top `split` rows of every column, then get the same
// bits whatever columns follow the split, so several targets factored with
// one design give each target what it gets alone.

#include <cstddef>
#include <span>
#include <vector>

#include "numerics/fold_kernels.h"

namespace odefit {

class TriangularFold {
 public:
  // The factor of no rows (R = 0) of a matrix of `columns` columns; 1 <= split
  // <= columns. `kernels` (tests) replaces the processor's best kernels.
  TriangularFold(int columns, int split, const fold::Kernels* kernels = nullptr);
  // A copy holds the factor only: the work storage of a fold (some 25 KB,
  // far more than a small factor) is made again when the copy folds, so
  // that keeping and merging many small factors costs their size.
  TriangularFold(const TriangularFold& other);
  TriangularFold& operator=(const TriangularFold& other);
  TriangularFold(TriangularFold&&) noexcept = default;
  TriangularFold& operator=(TriangularFold&&) noexcept = default;
  ~TriangularFold() = default;

  // Rows of a block in storage: `rows` rounded up to a multiple of 8.
  static int PaddedRows(int rows) { return (rows + 7) / 8 * 8; }
  // A good leading dimension for blocks of `rows` rows: PaddedRows(rows), one
  // vector more when that is a multiple of 256. Columns 2 KiB apart share the
  // first-level cache's sets, and a tile's columns would evict each other.
  static int BlockLeadingDimension(int rows) {
    const int padded = PaddedRows(rows);
    return padded % 256 == 0 ? padded + 8 : padded;
  }

  // Folds the rows x Columns() block B (column-major, leading dimension ldb >=
  // PaddedRows(rows)); the places from `rows` to PaddedRows(rows) - 1 of every
  // column must be zero. B is overwritten.
  void Fold(double* B, int rows, std::ptrdiff_t ldb);

  // Folds in the factor of other rows of the same matrix (the same columns and
  // split), which is overwritten.
  void Merge(TriangularFold& other);

  int Columns() const { return n_; }
  // R(i, j), 0-based; zero below the diagonal.
  double R(int i, int j) const { return r_[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * ld_]; }
  // R column-major with leading dimension LeadingDimension().
  std::span<const double> Data() const { return r_; }
  int LeadingDimension() const { return static_cast<int>(ld_); }

 private:
  using Index = std::ptrdiff_t;
  double& At(int i, int j) { return r_[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * ld_]; }
  void FoldRows(double* B, int m, Index ldb, bool triangular);
  void FactorPanel(double* B, Index ldb, int p0, int pe, int active);
  void BuildT(const double* B, Index ldb, int p0, int pe, int active);
  void ApplyBlock(double* B, Index ldb, int p0, int pe, int c0, int c1, int active);

  int n_ = 0, split_ = 0;
  std::size_t ld_ = 0;
  std::vector<double> r_;
  const fold::Kernels* kernels_ = nullptr;
  // Work storage of one fold: the scalars of a block's reflections, T, the
  // inner products of its reflectors and the products with trailing columns;
  // empty until the first fold.
  std::vector<double> tau_, t_, gram_, w_, tw_;
  void MakeWorkStorage();
};

}  // namespace odefit
