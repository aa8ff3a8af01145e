#pragma once
// Which columns of a design matrix make its least-squares problem singular.
// The fits factor without pivoting and stop at an exactly zero diagonal
// element of R; this names the columns behind it, so that a message can say
// which terms to drop.

#include <span>
#include <vector>

namespace odefit {

struct DependentColumns {
  std::vector<int> zero;       // 1-based columns that are zero on every row
  std::vector<int> dependent;  // 1-based columns in the span of the columns before them
};

// Finds the zero and dependent columns of the Nrows x K column-major matrix A
// (leading dimension Nrows), in column order: Householder reflections of the
// independent columns found so far are applied to each column, and a column
// whose part left below them is at most `tolerance` times its norm depends
// on the columns before it (and gets no reflection). A is not changed.
DependentColumns FindDependentColumns(std::span<const double> A, int Nrows, int K, double tolerance = 1e-10);

}  // namespace odefit
