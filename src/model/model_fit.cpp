#include "model/model_fit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "model/design.h"
#include "model/model_family.h"
#include "model/monomials.h"
#include "model/streamed_fit.h"
#include "numerics/error_stack.h"
#include "numerics/householder.h"

namespace odefit {
namespace {

// Reports that the storage of a fit of Nrows rows and K terms cannot be
// allocated: a terminal error, so the run ends with a message rather than the
// program with a signal.
[[noreturn]] void ReportFitStorage(int Nrows, int K) {
  {
    RoutineScope routine("FitModel ");
    SetErrorInteger(1, Nrows);
    SetErrorInteger(2, K);
    E1MES(ErrorType::Terminal, 1,
          "The required storage cannot be allocated.  The design matrix has NROWS = %(I1) rows and "
          "K = %(I2) columns.");
  }
  throw RunStopped();  // not reached: the terminal error stops the run as its routine ends
}

// Returns `size` zeros: storage for the Nrows x K design matrix of a fit or for
// an array as large; a request the machine cannot grant is reported.
std::vector<double> FitStorage(std::size_t size, int Nrows, int K) {
  try {
    return std::vector<double>(size);
  } catch (const std::bad_alloc&) {
  }
  ReportFitStorage(Nrows, K);
}

}  // namespace

// NaN when every target is the same value (0/0; the rounded mean could
// otherwise leave a spurious tiny denominator).
double ErrorOfSquares(double squares, const double* y, std::size_t stride, std::size_t n) {
  bool equal = true;
  for (std::size_t r = 1; r < n && equal; ++r) equal = y[r * stride] == y[(r - 1) * stride];
  if (equal) return std::numeric_limits<double>::quiet_NaN();
  double sum = 0.0;
  for (std::size_t r = 0; r < n; ++r) sum += y[r * stride];
  const double mean = sum / static_cast<double>(n);
  double spread = 0.0;
  for (std::size_t r = 0; r < n; ++r) spread += (y[r * stride] - mean) * (y[r * stride] - mean);
  return std::sqrt(squares / spread);
}

namespace {

double SumOfSquares(std::span<const double> residual) {
  double squares = 0.0;
  for (double e : residual) squares += e * e;
  return squares;
}

// Returns sqrt(sum e^2 / sum (y - mean y)^2), or NaN when every target is the same value.
double RelativeError(std::span<const double> residual, std::span<const double> y) {
  return ErrorOfSquares(SumOfSquares(residual), y.data(), 1, y.size());
}

// Computes the diagonal of (R'R)^-1 (the squared row norms of R^-1) and the
// 1-norm condition ||R||_1 * ||R^-1||_1 of the K x K upper triangle R of QR
// (leading dimension ld). R^-1 is formed a column at a time by column-oriented
// back substitution, K^3/6 operations, small beside the factorisation.
void InverseGramDiagonal(std::span<const double> QR, int ld, int K, std::vector<double>& diagonal,
                         double& condition) {
  const std::size_t k = static_cast<std::size_t>(K);
  const auto R = [&](std::size_t i, std::size_t j) { return QR[i + j * static_cast<std::size_t>(ld)]; };
  diagonal.assign(k, 0.0);
  std::vector<double> z(k);
  double inverseNorm = 0.0;
  double norm = 0.0;
  for (std::size_t j = 0; j < k; ++j) {
    // z = R^-1 e_j, nonzero in places 0..j only.
    std::fill(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(j + 1), 0.0);
    z[j] = 1.0;
    for (std::size_t l = j + 1; l-- > 0;) {
      z[l] /= R(l, l);
      for (std::size_t i = 0; i < l; ++i) z[i] -= R(i, l) * z[l];
    }
    double columnSum = 0.0;
    double rColumnSum = 0.0;
    for (std::size_t i = 0; i <= j; ++i) {
      diagonal[i] += z[i] * z[i];
      columnSum += std::fabs(z[i]);
      rColumnSum += std::fabs(R(i, j));
    }
    inverseNorm = std::max(inverseNorm, columnSum);
    norm = std::max(norm, rColumnSum);
    if (std::isnan(columnSum)) inverseNorm = std::numeric_limits<double>::infinity();
  }
  condition = norm * inverseNorm;
}

// Sets the standard errors and the condition of the fits whose design has the
// K x K triangular factor R (leading dimension ld), from their sums of squared residuals.
void SetStatistics(std::span<const double> R, int ld, int K, int Nrows, std::span<const double> squares,
                   std::span<FitStatistics> statistics) {
  std::vector<double> diagonal;
  double condition = 0.0;
  InverseGramDiagonal(R, ld, K, diagonal, condition);
  const int freedom = Nrows - K;
  for (std::size_t c = 0; c < statistics.size(); ++c) {
    const double variance = freedom > 0 ? squares[c] / freedom : std::numeric_limits<double>::quiet_NaN();
    FitStatistics& s = statistics[c];
    s.condition = condition;
    s.standardErrors.resize(static_cast<std::size_t>(K));
    for (std::size_t k = 0; k < s.standardErrors.size(); ++k) s.standardErrors[k] = std::sqrt(variance * diagonal[k]);
  }
}

// Fits the targets to the design of `equation` by the streamed factorisation:
// coef(1..K, c) at coef[c * K], the error of approximation of target c in
// err[c] and, when `statistics` is not empty, its standard errors and condition.
void SolveStreamed(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                   std::span<const TargetColumn> targets, const FitOptions& options, std::span<double> coef,
                   std::span<double> err, std::span<FitStatistics> statistics = {}) {
  const int K = equation.nterms;
  StreamedSolution s;
  try {
    s = StreamedLeastSquares(equation, X, D, Nrows, targets, StreamSettings{options.threads, 0, 0, options.cancel});
  } catch (const std::bad_alloc&) {
    ReportFitStorage(Nrows, K);
  }
  std::copy(s.coefficients.begin(), s.coefficients.end(), coef.begin());
  for (std::size_t c = 0; c < targets.size(); ++c) {
    err[c] = ErrorOfSquares(s.squares[c], targets[c].base, targets[c].stride, static_cast<std::size_t>(Nrows));
  }
  if (!statistics.empty()) SetStatistics(s.R, s.ldr, K, Nrows, s.squares, statistics);
}

// One contiguous target column.
double SolveStreamed(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                     std::span<const double> y, const FitOptions& options, std::span<double> coef,
                     FitStatistics* statistics) {
  const TargetColumn target{y.data(), 1};
  double err = 0.0;
  SolveStreamed(equation, X, D, Nrows, std::span<const TargetColumn>(&target, 1), options, coef.first(equation.nterms),
                std::span<double>(&err, 1),
                statistics != nullptr ? std::span<FitStatistics>(statistics, 1) : std::span<FitStatistics>());
  return err;
}

// Solves the least-squares problems A*coef_c ~ y_c for the nrhs target
// columns of Y (leading dimension Nrows) with the Nrows x K design matrix A
// (column-major, leading dimension Nrows; overwritten by its factorisation):
// coef(1..K, c) at coef[c * K] and the error of approximation of column c in
// err[c]. Each column gets the bits of a fit of it alone. `statistics`, when
// not empty, receives the nrhs columns' standard errors and condition.
void SolveDesign(std::vector<double>& A, int Nrows, int K, int nrhs, std::span<const double> Y,
                 std::span<double> coef, std::span<double> err, std::span<FitStatistics> statistics = {}) {
  std::vector<int> columnOrder(K, 0);  // untouched without pivoting
  std::vector<double> reflectorScalars(K);
  std::vector<double> columnNorms(K);
  DLQRRR(Nrows, K, A, Nrows, 0, columnOrder, A, Nrows, reflectorScalars, columnNorms);
  // What DLQRSL gives with the solution and the residual requested.
  std::vector<double> residual = FitStorage(static_cast<std::size_t>(Nrows) * nrhs, Nrows, K);
  DLQRSL(Nrows, K, A, Nrows, reflectorScalars, nrhs, Y, Nrows, coef, residual);
  for (int c = 0; c < nrhs; ++c) {
    const std::size_t at = static_cast<std::size_t>(c) * Nrows;
    err[c] = RelativeError(std::span<const double>(residual).subspan(at, Nrows), Y.subspan(at, Nrows));
  }
  if (statistics.empty()) return;
  std::vector<double> squares(static_cast<std::size_t>(nrhs));
  for (int c = 0; c < nrhs; ++c) {
    squares[static_cast<std::size_t>(c)] =
        SumOfSquares(std::span<const double>(residual).subspan(static_cast<std::size_t>(c) * Nrows, Nrows));
  }
  SetStatistics(A, Nrows, K, Nrows, squares, statistics);
}

// Solves A*coef ~ y for one target column; returns the error of approximation.
double SolveDesign(std::vector<double>& A, int Nrows, int K, std::span<const double> y, std::span<double> coef,
                   FitStatistics* statistics) {
  double err = 0.0;
  SolveDesign(A, Nrows, K, 1, y, coef.first(K), std::span<double>(&err, 1),
              statistics != nullptr ? std::span<FitStatistics>(statistics, 1) : std::span<FitStatistics>());
  return err;
}

// Returns the Nrows x K design matrix of `equation` (column-major, leading
// dimension Nrows; row r at sample index r + 1), built by the one design
// builder (FillDesignBlock); y is read by the rational family only. Storage
// the machine cannot grant is reported.
std::vector<double> Design(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                           std::span<const double> y) {
  const int K = equation.nterms;
  std::vector<double> A = FitStorage(static_cast<std::size_t>(Nrows) * K, Nrows, K);
  try {
    FillDesignBlock(equation, X, D, Nrows, 1, y, A, Nrows);
  } catch (const std::bad_alloc&) {
    ReportFitStorage(Nrows, K);
  }
  return A;
}

}  // namespace

void FitEquation(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                 std::span<const double> y, std::span<double> coef, double& err, FitStatistics* statistics,
                 const FitOptions& options) {
  FamilyOf(equation.family).CheckTermCounts(equation, D);  // once for all rows: the checks do not depend on the row
  if (StreamedFitPays(Nrows, equation.nterms)) {
    err = SolveStreamed(equation, X, D, Nrows, y.first(Nrows), options, coef, statistics);
    return;
  }
  std::vector<double> A = Design(equation, X, D, Nrows, y);
  err = SolveDesign(A, Nrows, equation.nterms, y.first(Nrows), coef, statistics);
}

void FitRational(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                 std::span<const double> y, std::span<double> coef, double& err, FitStatistics* statistics,
                 const FitOptions& options) {
  FitEquation(equation, X, D, Nrows, y, coef, err, statistics, options);
}

void FitReduced(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                std::span<const double> y, std::span<double> coef, double& err, FitStatistics* statistics,
                const FitOptions& options) {
  FitEquation(equation, X, D, Nrows, y, coef, err, statistics, options);
}

void ApproximationError(std::span<const double> X, int D, int Nrows, int nfirst,
                        std::span<const double> y, const ModelEquation& equation, double& err) {
  const ModelFamilyDescription& family = FamilyOf(equation.family);
  family.CheckTermCounts(equation, D);
  std::vector<double> residual(Nrows);
  family.Values(equation, X, D, Nrows, nfirst, residual);
  for (int r = 0; r < Nrows; ++r) residual[r] = y[r] - residual[r];
  err = RelativeError(residual, y.first(Nrows));
}

void FitModelEquation(ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                      std::span<const double> y, double& err, const FitOptions& options) {
  equation.coef.assign(static_cast<std::size_t>(equation.nterms), 0.0);
  std::span<double> coef(equation.coef);
  FitStatistics statistics;
  FitEquation(equation, X, D, Nrows, y, coef, err, &statistics, options);
  // The linearised fit's residual is not the quotient's.
  if (FamilyOf(equation.family).quotient) ApproximationError(X, D, Nrows, 1, y, equation, err);
  equation.standardErrors = std::move(statistics.standardErrors);
  equation.condition = statistics.condition;
}

std::vector<double> DesignMatrix(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                                 std::span<const double> y) {
  return Design(equation, X, D, Nrows, y);
}

std::vector<double> DependenceMatrix(const ModelEquation& equation, std::span<const double> X, int D, int Nrows,
                                     std::span<const double> y, int& rows) {
  if (!StreamedFitPays(Nrows, equation.nterms)) {
    rows = Nrows;
    return DesignMatrix(equation, X, D, Nrows, y);
  }
  rows = equation.nterms;
  try {
    return StreamedDesignFactor(equation, X, D, Nrows, TargetColumn{y.data(), 1}, StreamSettings{0});
  } catch (const std::bad_alloc&) {
  }
  ReportFitStorage(Nrows, equation.nterms);
}

bool SameDesign(const ModelEquation& a, const ModelEquation& b) {
  if (a.family != b.family || a.nu != b.nu || a.nterms != b.nterms) return false;
  return FamilyOf(a.family).SameDesign(a, b);
}

ModelFitter::ModelFitter(std::span<ModelEquation> equations, std::span<const double> X, int D, int Nrows,
                         std::span<const double> derivatives, const FitOptions& options)
    : equations_(equations),
      X_(X),
      D_(D),
      Nrows_(Nrows),
      derivatives_(derivatives),
      options_(options),
      done_(equations.size(), false),
      errors_(equations.size(), 0.0) {
  const std::size_t rows = static_cast<std::size_t>(std::max(Nrows, 0));
  const std::size_t d = static_cast<std::size_t>(std::max(D, 0));
  if (D < 1 || Nrows < 1 || equations.size() > d || X.size() < d * rows || derivatives.size() < d * rows) {
    throw std::invalid_argument("ModelFitter: D and Nrows must be positive, with at most D equations and D x Nrows "
                                "states and derivatives");
  }
  for (const ModelEquation& eq : equations) {
    if (eq.nterms < 1 || eq.nterms > kMaxCoefficients || eq.nterms > Nrows) {
      throw std::invalid_argument("ModelFitter: every equation needs 1 to min(Nrows, 1000) terms");
    }
  }
}

std::vector<double> ModelFitter::Targets(int i) const {
  std::vector<double> y(static_cast<std::size_t>(Nrows_));
  for (std::size_t r = 0; r < y.size(); ++r) {
    y[r] = derivatives_[static_cast<std::size_t>(i - 1) + r * static_cast<std::size_t>(D_)];
  }
  return y;
}

double ModelFitter::Fit(int i) {
  const std::size_t at = static_cast<std::size_t>(i - 1);
  if (done_[at]) return errors_[at];
  ThrowIfCancelled(options_.cancel);
  ModelEquation& first = equations_[at];
  const ModelFamilyDescription& family = FamilyOf(first.family);
  if (family.quotient) {
    const std::vector<double> y = Targets(i);
    FitModelEquation(first, X_, D_, Nrows_, y, errors_[at], options_);
    first.error = errors_[at];
    done_[at] = true;
    return errors_[at];
  }

  std::vector<int> group;  // 1-based equation numbers, in order
  for (int j = i; j <= static_cast<int>(equations_.size()); ++j) {
    if (!done_[static_cast<std::size_t>(j - 1)] && SameDesign(first, equations_[static_cast<std::size_t>(j - 1)])) {
      group.push_back(j);
    }
  }
  const int K = first.nterms;
  const int nrhs = static_cast<int>(group.size());
  std::vector<double> coef(static_cast<std::size_t>(K) * nrhs);
  std::vector<double> err(static_cast<std::size_t>(nrhs));
  std::vector<FitStatistics> statistics(static_cast<std::size_t>(nrhs));
  family.CheckTermCounts(first, D_);
  if (StreamedFitPays(Nrows_, K)) {
    // The targets are read in place: row r of equation i is derivatives(i, r).
    std::vector<TargetColumn> targets;
    for (const int j : group) targets.push_back(TargetColumn{derivatives_.data() + (j - 1), static_cast<std::size_t>(D_)});
    ThrowIfCancelled(options_.cancel);
    SolveStreamed(first, X_, D_, Nrows_, targets, options_, coef, err, statistics);
  } else {
    const std::size_t rows = static_cast<std::size_t>(Nrows_);
    std::vector<double> Y = FitStorage(rows * nrhs, Nrows_, K);
    for (int c = 0; c < nrhs; ++c) {
      const std::vector<double> y = Targets(group[static_cast<std::size_t>(c)]);
      std::copy(y.begin(), y.end(), Y.begin() + static_cast<std::ptrdiff_t>(c * rows));
    }
    std::vector<double> A = Design(first, X_, D_, Nrows_, {});  // no rational design: it holds its own targets
    ThrowIfCancelled(options_.cancel);
    SolveDesign(A, Nrows_, K, nrhs, Y, coef, err, statistics);
  }
  for (int c = 0; c < nrhs; ++c) {
    const std::size_t e = static_cast<std::size_t>(group[static_cast<std::size_t>(c)] - 1);
    const auto from = coef.begin() + static_cast<std::ptrdiff_t>(c * K);
    equations_[e].coef.assign(from, from + K);
    equations_[e].standardErrors = std::move(statistics[static_cast<std::size_t>(c)].standardErrors);
    equations_[e].condition = statistics[static_cast<std::size_t>(c)].condition;
    errors_[e] = err[static_cast<std::size_t>(c)];
    equations_[e].error = errors_[e];
    done_[e] = true;
  }
  return errors_[at];
}

}  // namespace odefit
