#include "model/model_fit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

#include "model/monomials.h"
#include "numerics/householder.h"

namespace odefit {
namespace {

std::span<const double> State(std::span<const double> X, int D, int r) {
  return X.subspan(static_cast<std::size_t>(r) * D, static_cast<std::size_t>(D));
}

// Returns sqrt(sum e^2 / sum (y - mean y)^2), or NaN when every target is the
// same value (0/0; the rounded mean could otherwise leave a spurious tiny
// denominator).
double RelativeError(std::span<const double> residual, std::span<const double> y) {
  if (std::adjacent_find(y.begin(), y.end(), std::not_equal_to<>()) == y.end()) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  double sum = 0.0;
  for (double v : y) sum += v;
  const double mean = sum / static_cast<double>(y.size());
  double spread = 0.0;
  for (double v : y) spread += (v - mean) * (v - mean);
  double squares = 0.0;
  for (double e : residual) squares += e * e;
  return std::sqrt(squares / spread);
}

// Solves the least-squares problem A*coef ~ y for the Nrows x K design matrix A
// (column-major, leading dimension Nrows; overwritten by its factorisation)
// and returns the error of approximation.
double SolveDesign(std::vector<double>& A, int Nrows, int K, std::span<const double> y,
                   std::span<double> coef) {
  std::vector<int> columnOrder(K, 0);  // untouched without pivoting
  std::vector<double> reflectorScalars(K);
  std::vector<double> columnNorms(K);
  DLQRRR(Nrows, K, A, Nrows, 0, columnOrder, A, Nrows, reflectorScalars, columnNorms);
  // IPATH = 110: Q'y (into the scratch vector), the solution and the residual.
  std::vector<double> residual(Nrows);
  std::vector<double> scratch(Nrows);
  DLQRSL(Nrows, K, A, Nrows, reflectorScalars, y, 110, scratch, scratch, coef.first(K), residual,
         scratch);
  return RelativeError(residual, y);
}

// Stores a row buffer as row r of the column-major Nrows-row matrix A.
void PutRow(std::span<const double> row, std::vector<double>& A, int Nrows, int r) {
  for (std::size_t k = 0; k < row.size(); ++k) A[r + k * Nrows] = row[k];
}

}  // namespace

void FitEquation(std::span<const double> X, int D, int Nrows, std::span<const double> y,
                 std::span<double> coef, int K, const TermRoutine& termRoutine, int nu,
                 double& err) {
  CheckMonomialCounts(D, nu);  // once for all rows: the checks do not depend on the row
  std::vector<double> A(static_cast<std::size_t>(Nrows) * K);
  std::vector<double> row(K);
  for (int r = 0; r < Nrows; ++r) {
    if (termRoutine.kind == TermRoutine::Kind::Driven) {
      FillDrivenTerms(State(X, D, r), D, nu, r + 1, termRoutine.wdt, row);
    } else {
      FillMonomialTerms(State(X, D, r), D, nu, row);
    }
    PutRow(row, A, Nrows, r);
  }
  err = SolveDesign(A, Nrows, K, y.first(Nrows), coef);
}

void FitRational(std::span<const double> X, int D, int Nrows, std::span<const double> y,
                 std::span<double> coef, int nnum, int nu, int nden, int mu, double& err) {
  CheckMonomialCounts(D, nu);
  CheckMonomialCounts(D, mu);
  const int K = nnum + nden;
  std::vector<double> A(static_cast<std::size_t>(Nrows) * K);
  std::vector<double> row(K);
  std::vector<double> denominator(nden + 1);
  for (int r = 0; r < Nrows; ++r) {
    const auto x = State(X, D, r);
    FillMonomialTerms(x, D, nu, std::span<double>(row).first(nnum));
    FillMonomialTerms(x, D, mu, denominator);
    const double minusY = -y[r];
    for (int j = 0; j < nden; ++j) row[nnum + j] = minusY * denominator[j + 1];
    PutRow(row, A, Nrows, r);
  }
  err = SolveDesign(A, Nrows, K, y.first(Nrows), coef);
}

void FitReduced(std::span<const double> X, int D, int Nrows, std::span<const double> y,
                std::span<double> coef, int nnum, int nu, int nden, int mu, double& err) {
  (void)nu;  // nnum = nu + 1 and nden = mu + 1 carry the orders
  (void)mu;
  const int K = nnum + nden;
  std::vector<double> A(static_cast<std::size_t>(Nrows) * K);
  std::vector<double> row(K);
  for (int r = 0; r < Nrows; ++r) {
    const auto x = State(X, D, r);
    double power = x[0];
    row[0] = power;
    for (int k = 1; k < nnum; ++k) row[k] = power *= x[1];
    power = 1.0;
    row[nnum] = power;
    for (int k = 1; k < nden; ++k) row[nnum + k] = power *= x[1];
    PutRow(row, A, Nrows, r);
  }
  err = SolveDesign(A, Nrows, K, y.first(Nrows), coef);
}

void ApproximationError(std::span<const double> X, int D, int Nrows, int nfirst,
                        std::span<const double> y, const ModelEquation& equation, double& err) {
  const std::vector<double>& c = equation.coef;
  const int nterms = equation.nterms;
  const int nnum = equation.nnum;
  const int nden = equation.nden;
  std::vector<double> terms;
  std::vector<double> denominator;
  switch (equation.family) {
    case ModelFamily::StandardPolynomial:
    case ModelFamily::DrivenPolynomial:
      CheckMonomialCounts(D, equation.nu);
      terms.resize(nterms);
      break;
    case ModelFamily::Rational:
      CheckMonomialCounts(D, equation.nu);
      CheckMonomialCounts(D, equation.mu);
      terms.resize(nnum);
      denominator.resize(nden + 1);
      break;
    case ModelFamily::ReducedPolynomial:
      break;
  }

  std::vector<double> residual(Nrows);
  for (int r = 0; r < Nrows; ++r) {
    const auto x = State(X, D, r);
    const int n = nfirst + r;
    double v = 0.0;
    switch (equation.family) {
      case ModelFamily::StandardPolynomial:
        FillMonomialTerms(x, D, equation.nu, terms);
        for (int k = 0; k < nterms; ++k) v += c[k] * terms[k];
        break;
      case ModelFamily::DrivenPolynomial:
        FillDrivenTerms(x, D, equation.nu, n, equation.wdt, terms);
        for (int k = 0; k < nterms; ++k) v += c[k] * terms[k];
        break;
      case ModelFamily::Rational: {
        FillMonomialTerms(x, D, equation.nu, terms);
        FillMonomialTerms(x, D, equation.mu, denominator);
        double p = 0.0;
        for (int k = 0; k < nnum; ++k) p += c[k] * terms[k];
        double q = 1.0;  // the constant term's fixed coefficient, then the fitted ones
        for (int j = 0; j < nden; ++j) q += c[nnum + j] * denominator[j + 1];
        if (std::abs(q) >= DenominatorFloor) {
          v = p / q;
        } else {
          v = q < 0.0 ? p / -DenominatorFloor : p / DenominatorFloor;
        }
        break;
      }
      case ModelFamily::ReducedPolynomial: {
        double power = x[0];
        v += c[0] * power;
        for (int k = 1; k < nnum; ++k) v += c[k] * (power *= x[1]);
        power = 1.0;
        v += c[nnum] * power;
        for (int k = 1; k < nden; ++k) v += c[nnum + k] * (power *= x[1]);
        break;
      }
    }
    residual[r] = y[r] - v;
  }
  err = RelativeError(residual, y.first(Nrows));
}

void FitModelEquation(ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                      std::span<const double> y, double& err) {
  equation.coef.assign(static_cast<std::size_t>(equation.nterms), 0.0);
  std::span<double> coef(equation.coef);
  switch (equation.family) {
    case ModelFamily::StandardPolynomial:
      FitEquation(X, D, Nrows, y, coef, equation.nterms, MonomialRoutine(), equation.nu, err);
      break;
    case ModelFamily::DrivenPolynomial:
      FitEquation(X, D, Nrows, y, coef, equation.nterms, DrivenRoutine(equation.wdt),
                  equation.nu, err);
      break;
    case ModelFamily::Rational:
      FitRational(X, D, Nrows, y, coef, equation.nnum, equation.nu, equation.nden, equation.mu,
                  err);
      ApproximationError(X, D, Nrows, 1, y, equation, err);
      break;
    case ModelFamily::ReducedPolynomial:
      FitReduced(X, D, Nrows, y, coef, equation.nnum, equation.nu, equation.nden, equation.mu,
                 err);
      break;
  }
}

}  // namespace odefit
