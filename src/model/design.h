#pragma once
// The design matrix of an equation's family, built a block of rows at a time,
// and its triangular summary with the targets (sparse_regression.h).
//
// Rows are fitted rows: row r (0-based) of a block starting at `firstSample`
// holds the terms of state X(:, r) at sample index firstSample + r, which the
// driven family's phase depends on (a fit's first row is sample index 1).
// Column order and values are those of the equation's coefficients
// (odefit/model.h); the rational family's denominator columns are -y times
// its denominator monomials, as in its linearised fit.

#include <span>
#include <vector>

#include "model/sparse_regression.h"
#include "numerics/fold_kernels.h"
#include "odefit/cancellation.h"
#include "odefit/model.h"

namespace odefit {

// Fills the rows x eq.nterms design block A (column-major, leading dimension
// lda >= rows) from the D x rows states X. y (rows targets) is read only by
// the rational family. The equation's family, orders and counts must be
// consistent (ValidateModel's rules).
void FillDesignBlock(const ModelEquation& eq, std::span<const double> X, int D, int rows, int firstSample,
                     std::span<const double> y, std::span<double> A, int lda);

// How a summary is folded. The result depends on neither the threads nor the
// order in which they run; the kernels decide its last bits.
struct SummaryOptions {
  int threads = 1;                          // 0: one per hardware thread
  const fold::Kernels* kernels = nullptr;   // null: the generic kernels, the same bits on every machine
  const CancellationToken* cancel = nullptr;
};

// Summarises the design of `eq` over rows 0..rows-1 of X (D x rows, first
// row at sample index firstSample) with the targets Y(t, :) for t in
// `targets` (Y is D x rows; for the rational family exactly one target, whose
// values also enter the design). Rows are folded in blocks by chunks on the
// options' threads as a streamed fit folds them (streamed_fit.h), so memory
// stays O(chunks x (K + T)^2 + block) whatever the rows.
TriangularSummary SummariseDesign(const ModelEquation& eq, std::span<const double> X, int D, int rows,
                                  int firstSample, std::span<const double> Y, std::span<const int> targets,
                                  const SummaryOptions& options = {});

}  // namespace odefit
