#pragma once
// Least-squares fits of one equation of the model and its error of
// approximation.
//
// Storage contract shared by every routine here: X is the D x Nrows state
// array, column-major with leading dimension D (column r holds the state of
// row r); y holds the Nrows targets (the derivative estimates of the
// equation's component) and is never modified. Row r (1-based) is at sample
// index r in a fit; ApproximationError places it at nfirst + r - 1.
//
// Every fit builds its Nrows x K design matrix, factors it by Householder
// reflections without pivoting and solves for the K coefficients (a large fit,
// StreamedFitPays, builds and folds the design a block of rows at a time
// instead and builds the rows again for the residuals); the error
// of approximation is sqrt(sum of squared residuals / sum of (y - mean y)^2),
// and NaN when all targets are equal (the quotient is then 0/0). An exactly
// singular design matrix ends the run through the least-squares solver's
// fatal error (RunStopped propagates), and so does a design matrix too large
// to allocate, with a terminal error under the name FitModel. Callers guarantee K <= Nrows and
// K <= kMaxCoefficients.

#include <span>
#include <vector>

#include "odefit/cancellation.h"
#include "odefit/model.h"

namespace odefit {

// How a fit may use the machine. Large fits (streamed_fit.h) fold their rows
// on `threads` threads, with the same bits on any number of them; nothing
// here changes a process-wide setting.
struct FitOptions {
  const CancellationToken* cancel = nullptr;  // polled between factorisations and between blocks of rows
  int threads = 1;                            // 0: one per hardware thread
};

// Single-precision 1e-9 as a double: the smallest denominator magnitude a
// rational equation is evaluated with.
inline constexpr double DenominatorFloor = 9.999999717180685e-10;

// What a least-squares solve tells about its coefficients besides their
// values (see ModelEquation::standardErrors and ::condition).
struct FitStatistics {
  std::vector<double> standardErrors;  // one per coefficient; NaN when Nrows == K
  double condition = 0.0;              // ||R||_1 * ||R^-1||_1
};

// The fitters take the equation as EquationShape (equation_shape.h) makes
// it: family, orders, counts and driving angle set; its coefficients are
// neither read nor written (coef receives them).

// Fits the K = equation.nterms coefficients of an equation of any family to
// y at X through its design rows (a quotient family's linearised problem). The terms of row r are those at sample index r;
// coef(1..K) receives the coefficients in term order and err the error of
// approximation; `statistics`, when given, the coefficients' standard errors
// and the condition of the design.
void FitEquation(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                 std::span<const double> y, std::span<double> coef, double& err,
                 FitStatistics* statistics = nullptr, const FitOptions& options = {});

// Fits the rational equation P/Q to y at X through the linear problem y = P - y*(Q - 1).
// coef(1..nnum + nden) receives the numerator then the denominator
// coefficients, err the error of the linear problem (the one reported is
// ApproximationError's); `statistics` as for FitEquation, of the linear problem.
// FitRational and FitReduced are FitEquation under the names callers know.
void FitRational(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                 std::span<const double> y, std::span<double> coef, double& err,
                 FitStatistics* statistics = nullptr, const FitOptions& options = {});

// Fits the reduced polynomial x1*(powers of x2 to nu) + (powers of x2 to mu) to y at X.
// Only x1 and x2 enter (D >= 2). coef(1..nnum + nden) receives the
// coefficients and err the error of approximation; `statistics` as for FitEquation.
void FitReduced(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                std::span<const double> y, std::span<double> coef, double& err,
                FitStatistics* statistics = nullptr, const FitOptions& options = {});

// Returns the error of approximation sqrt(squares / sum (y - mean y)^2) for
// the sum of squared residuals `squares` of the n targets y(r) = y[r *
// stride]; NaN when every target is the same value.
double ErrorOfSquares(double squares, const double* y, std::size_t stride, std::size_t n);

// Computes into err the error of approximation of a fitted equation against y at X.
// Row r is evaluated at sample index nfirst + r - 1. A rational denominator
// nearer zero than DenominatorFloor is replaced by -DenominatorFloor when
// negative and by +DenominatorFloor otherwise.
void ApproximationError(std::span<const double> X, int D, int Nrows, int nfirst,
                        std::span<const double> y, const ModelEquation& equation, double& err);

// Fits one equation by its family and returns in err the error to report.
// family, orders, counts and wdt are set by the caller; coef is resized to
// nterms and filled, and so are standardErrors and condition. For the
// rational family err is ApproximationError's on the same rows (nfirst = 1).
void FitModelEquation(ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                      std::span<const double> y, double& err, const FitOptions& options = {});

// Returns the Nrows x nterms design matrix whose least-squares problem fits
// `equation` to y at X (column-major, leading dimension Nrows), as the fits
// build it; the rational family's denominator columns hold -y times their
// monomials. No FAC checks: the counts were checked when the orders were set.
std::vector<double> DesignMatrix(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                                 std::span<const double> y);

// Returns a matrix whose zero and dependent columns are those of the design
// matrix of `equation` (DesignMatrix), with its row count in `rows`: the
// design matrix itself, or for a large fit (StreamedFitPays) its K x K
// triangular factor, built a block of rows at a time, as the fit's memory is.
std::vector<double> DependenceMatrix(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                                     std::span<const double> y, int& rows);

// Whether two equations have the same design matrix on the same rows:
// families 1, 2 and 4 with the same family and orders, and for family 2 the
// same driving angle (a rational design holds its own targets).
bool SameDesign(const ModelEquation& a, const ModelEquation& b);

// Fits the equations of one model selection in their order, factoring each
// distinct design matrix once: when the first equation of a group of equal
// designs (SameDesign) is fitted, the whole group is solved from one
// factorisation. Every equation gets the bits FitModelEquation gives it
// alone, and a singular design is reported when the first equation of its
// group is fitted, as fitting one by one would.
class ModelFitter {
 public:
  // X: the D x Nrows states; derivatives: D x Nrows targets, row i for
  // equation i (both column-major, leading dimension D). All four must
  // outlive the fitter; families, orders and counts are set (1 <= nterms <=
  // min(Nrows, kMaxCoefficients); std::invalid_argument otherwise).
  ModelFitter(std::span<ModelEquation> equations, std::span<const double> X, int D, int Nrows,
              std::span<const double> derivatives, const FitOptions& options = {});

  // Fits equation i (1-based), stores its coefficients, error, standard
  // errors and condition in the equation and returns the error to report. Throws Cancelled when the
  // options' token is cancelled before a factorisation.
  double Fit(int i);

 private:
  std::vector<double> Targets(int i) const;

  std::span<ModelEquation> equations_;
  std::span<const double> X_;
  int D_;
  int Nrows_;
  std::span<const double> derivatives_;
  FitOptions options_;
  std::vector<bool> done_;
  std::vector<double> errors_;
};

}  // namespace odefit
