#include "model/streamed_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <sstream>
#include <vector>

#include "model/dependent_columns.h"
#include "model/model_fit.h"
#include "model/monomials.h"
#include "numerics/error_stack.h"
#include "numerics/householder.h"

namespace odefit {
namespace {

class StreamedFitTest : public ::testing::Test {
 protected:
  std::ostringstream errors_;
  ErrorReporter reporter_{&errors_};
  ErrorReporterScope bind_{reporter_};
};

// D x n states, uniform in [-1, 1].
std::vector<double> States(int D, int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> X(static_cast<std::size_t>(D) * n);
  for (double& v : X) v = dist(gen);
  return X;
}

// D x n targets: a smooth function of the states plus noise, one row per equation.
std::vector<double> Targets(const std::vector<double>& X, int D, int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<double> Y(static_cast<std::size_t>(D) * n);
  for (int r = 0; r < n; ++r) {
    for (int i = 0; i < D; ++i) {
      const double* x = &X[static_cast<std::size_t>(r) * D];
      Y[static_cast<std::size_t>(r) * D + i] = std::sin(x[i] + 0.5 * x[(i + 1) % D]) + x[0] * x[D - 1] + noise(gen);
    }
  }
  return Y;
}

std::vector<double> Row(const std::vector<double>& Y, int D, int n, int i) {
  std::vector<double> y(static_cast<std::size_t>(n));
  for (int r = 0; r < n; ++r) y[static_cast<std::size_t>(r)] = Y[static_cast<std::size_t>(r) * D + i];
  return y;
}

ModelEquation Equation(ModelFamily family, int D, int nu, int mu = 0, double wdt = 0.0) {
  ModelEquation e;
  e.family = family;
  e.nu = nu;
  e.mu = mu;
  e.wdt = wdt;
  switch (family) {
    case ModelFamily::StandardPolynomial: e.nterms = MonomialCount(nu, D); break;
    case ModelFamily::DrivenPolynomial: e.nterms = MonomialCount(nu, D) + 2; break;
    case ModelFamily::Rational:
      e.nnum = MonomialCount(nu, D);
      e.nden = MonomialCount(mu, D) - 1;
      e.nterms = e.nnum + e.nden;
      break;
    case ModelFamily::ReducedPolynomial:
      e.nnum = nu + 1;
      e.nden = mu + 1;
      e.nterms = e.nnum + e.nden;
      break;
  }
  return e;
}

// The fit by the unblocked factorisation of the whole design matrix.
struct Reference {
  std::vector<double> coef;
  double squares = 0.0;
  std::vector<double> standardErrors;
  double condition = 0.0;
};

Reference Unblocked(const ModelEquation& eq, const std::vector<double>& X, int D, int n, const std::vector<double>& y) {
  const int K = eq.nterms;
  std::vector<double> A = DesignMatrix(eq, X, D, n, y);
  std::vector<int> order(K, 0);
  std::vector<double> scalars(K), norms(K), work(K);
  dL2RRR(n, K, A, n, 0, order, A, n, scalars, norms, work);
  Reference ref;
  ref.coef.resize(K);
  std::vector<double> qty(n), residual(n), scratch(n);
  DLQRSL(n, K, A, n, scalars, y, SolveOutputs{false, false, true, true, false}, scratch, qty, ref.coef, residual,
         scratch);
  for (const double e : residual) ref.squares += e * e;
  // (R'R)^-1's diagonal and the 1-norm condition from R^-1, a column at a time.
  const auto R = [&](int i, int j) { return A[static_cast<std::size_t>(j) * n + i]; };
  std::vector<double> diagonal(K, 0.0), z(K);
  double norm = 0.0, inverseNorm = 0.0;
  for (int j = 0; j < K; ++j) {
    std::fill(z.begin(), z.end(), 0.0);
    z[j] = 1.0;
    for (int l = j; l >= 0; --l) {
      z[l] /= R(l, l);
      for (int i = 0; i < l; ++i) z[i] -= R(i, l) * z[l];
    }
    double column = 0.0, rColumn = 0.0;
    for (int i = 0; i <= j; ++i) {
      diagonal[i] += z[i] * z[i];
      column += std::fabs(z[i]);
      rColumn += std::fabs(R(i, j));
    }
    norm = std::max(norm, rColumn);
    inverseNorm = std::max(inverseNorm, column);
  }
  ref.condition = norm * inverseNorm;
  for (int k = 0; k < K; ++k) ref.standardErrors.push_back(std::sqrt(ref.squares / (n - K) * diagonal[k]));
  return ref;
}

double RelativeDifference(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0, scale = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    d = std::max(d, std::fabs(a[i] - b[i]));
    scale = std::max(scale, std::fabs(b[i]));
  }
  return d / scale;
}

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The families at sizes above the unblocked factorisation's.
std::vector<ModelEquation> LargeEquations(int D) {
  return {Equation(ModelFamily::StandardPolynomial, D, 6), Equation(ModelFamily::DrivenPolynomial, D, 6, 0, 0.07),
          Equation(ModelFamily::Rational, D, 5, 2)};
}

TEST_F(StreamedFitTest, LargeFitsAgreeWithTheUnblockedFactorisation) {
  const int D = 3, n = 6007;
  const std::vector<double> X = States(D, n, 1);
  const std::vector<double> Y = Targets(X, D, n, 2);
  for (const ModelEquation& shape : LargeEquations(D)) {
    ASSERT_TRUE(StreamedFitPays(n, shape.nterms)) << shape.nterms;
    const std::vector<double> y = Row(Y, D, n, 1);
    ModelEquation eq = shape;
    double err = 0.0;
    FitModelEquation(eq, X, D, n, y, err);
    const Reference ref = Unblocked(shape, X, D, n, y);
    EXPECT_LT(RelativeDifference(eq.coef, ref.coef), 1e-10) << eq.nterms;
    EXPECT_LT(RelativeDifference(eq.standardErrors, ref.standardErrors), 1e-10) << eq.nterms;
    EXPECT_NEAR(eq.condition, ref.condition, 1e-10 * ref.condition) << eq.nterms;
    if (shape.family != ModelFamily::Rational) {
      double mean = 0.0, spread = 0.0;
      for (const double v : y) mean += v;
      mean /= n;
      for (const double v : y) spread += (v - mean) * (v - mean);
      EXPECT_NEAR(err, std::sqrt(ref.squares / spread), 1e-10 * err) << eq.nterms;
    }
  }
  EXPECT_EQ(errors_.str(), "");
}

TEST_F(StreamedFitTest, ThreadsNeverChangeABitAndBlocksAndChunksOnlyRoundOff) {
  const int D = 3, n = 5003;  // a multiple of no block
  const std::vector<double> X = States(D, n, 3);
  const std::vector<double> Y = Targets(X, D, n, 4);
  const std::vector<TargetColumn> targets = {{Y.data(), 3}, {Y.data() + 1, 3}, {Y.data() + 2, 3}};
  for (const ModelEquation& eq : {Equation(ModelFamily::StandardPolynomial, D, 5),
                                  Equation(ModelFamily::DrivenPolynomial, D, 3, 0, 0.3),
                                  Equation(ModelFamily::ReducedPolynomial, D, 3, 4)}) {
    const Reference ref = Unblocked(eq, X, D, n, Row(Y, D, n, 0));
    for (const int blockRows : {0, 37, 100, 1000}) {
      for (const int chunks : {0, 1, 7}) {
        const StreamedSolution one = StreamedLeastSquares(eq, X, D, n, targets, StreamSettings{1, blockRows, chunks});
        const std::vector<double> first(one.coefficients.begin(), one.coefficients.begin() + eq.nterms);
        EXPECT_LT(RelativeDifference(first, ref.coef), 1e-10) << blockRows << " " << chunks;
        EXPECT_NEAR(one.squares[0], ref.squares, 1e-10 * ref.squares);
        for (const int threads : {2, 3, 0}) {
          const StreamedSolution many =
              StreamedLeastSquares(eq, X, D, n, targets, StreamSettings{threads, blockRows, chunks});
          ASSERT_EQ(many.coefficients, one.coefficients) << threads << " threads, " << blockRows << " " << chunks;
          ASSERT_EQ(many.squares, one.squares);
          ASSERT_EQ(many.R, one.R);
        }
      }
    }
  }
}

TEST_F(StreamedFitTest, SharedFitsOnSeveralThreadsGiveEachEquationTheBitsOfItsOwnFit) {
  const int D = 3, n = 4100;
  const std::vector<double> X = States(D, n, 5);
  const std::vector<double> Y = Targets(X, D, n, 6);
  std::vector<ModelEquation> model(3, Equation(ModelFamily::StandardPolynomial, D, 6));
  model[1] = Equation(ModelFamily::Rational, D, 5, 2);
  for (const int threads : {1, 2, 0}) {
    std::vector<ModelEquation> shared = model;
    ModelFitter fitter(shared, X, D, n, Y, FitOptions{nullptr, threads});
    for (int i = 1; i <= D; ++i) {
      const double err = fitter.Fit(i);
      ModelEquation alone = model[static_cast<std::size_t>(i - 1)];
      double expected = 0.0;
      FitModelEquation(alone, X, D, n, Row(Y, D, n, i - 1), expected);
      EXPECT_EQ(shared[static_cast<std::size_t>(i - 1)].coef, alone.coef) << i;
      EXPECT_EQ(shared[static_cast<std::size_t>(i - 1)].standardErrors, alone.standardErrors) << i;
      EXPECT_EQ(Bits(shared[static_cast<std::size_t>(i - 1)].condition), Bits(alone.condition)) << i;
      EXPECT_EQ(Bits(err), Bits(expected)) << i;
    }
  }
}

TEST_F(StreamedFitTest, ASingularDesignIsReportedAsTheUnblockedSolveReportsIt) {
  const int D = 3, n = 4000;
  std::vector<double> X = States(D, n, 7);
  for (int r = 0; r < n; ++r) X[static_cast<std::size_t>(r) * D + 1] = 0.0;  // every term with x2 is zero
  const std::vector<double> Y = Targets(X, D, n, 8);
  const ModelEquation eq = Equation(ModelFamily::StandardPolynomial, D, 6);
  const std::vector<double> y = Row(Y, D, n, 0);
  // The unblocked factorisation and solve of the whole matrix.
  std::ostringstream expected;
  {
    ErrorReporter reporter(&expected);
    ErrorReporterScope bind(reporter);
    std::vector<double> A = DesignMatrix(eq, X, D, n, y);
    const int K = eq.nterms;
    std::vector<int> order(K, 0);
    std::vector<double> scalars(K), norms(K), work(K), coef(K), scratch(n), qty(n), residual(n);
    dL2RRR(n, K, A, n, 0, order, A, n, scalars, norms, work);
    EXPECT_THROW(DLQRSL(n, K, A, n, scalars, y, SolveOutputs{false, false, true, true, false}, scratch, qty, coef,
                        residual, scratch),
                 RunStopped);
  }
  ASSERT_NE(expected.str().find("FATAL    ERROR 1 from DLQRSL"), std::string::npos) << expected.str();
  for (const int threads : {1, 2}) {
    errors_.str("");
    std::vector<ModelEquation> model(3, eq);
    ModelFitter fitter(model, X, D, n, Y, FitOptions{nullptr, threads});
    EXPECT_THROW(fitter.Fit(1), RunStopped);
    EXPECT_EQ(errors_.str(), expected.str());
  }
  // The terms behind it, named from the design's triangular factor as from the design itself.
  int rows = 0;
  const std::vector<double> factor = DependenceMatrix(eq, X, D, n, y, rows);
  EXPECT_EQ(rows, eq.nterms);
  const DependentColumns fromFactor = FindDependentColumns(factor, rows, eq.nterms);
  const DependentColumns fromDesign = FindDependentColumns(DesignMatrix(eq, X, D, n, y), n, eq.nterms);
  EXPECT_EQ(fromFactor.zero, fromDesign.zero);
  EXPECT_EQ(fromFactor.dependent, fromDesign.dependent);
  EXPECT_EQ(fromFactor.zero.size(), static_cast<std::size_t>(eq.nterms - MonomialCount(6, 2)));
}

TEST_F(StreamedFitTest, ACancelledFitStopsBetweenBlocks) {
  const int D = 3, n = 5000;
  const std::vector<double> X = States(D, n, 9);
  const std::vector<double> Y = Targets(X, D, n, 10);
  CancellationToken token;
  token.Cancel();
  const TargetColumn target{Y.data(), 3};
  EXPECT_THROW(StreamedLeastSquares(Equation(ModelFamily::StandardPolynomial, D, 6), X, D, n,
                                    std::span<const TargetColumn>(&target, 1), StreamSettings{2, 0, 0, &token}),
               Cancelled);
}

TEST_F(StreamedFitTest, ChunksDependOnTheRowsAndTermsOnly) {
  EXPECT_EQ(StreamedChunks(100, 364), 1);
  EXPECT_EQ(StreamedChunks(100000, 364), 16);
  EXPECT_EQ(StreamedChunks(30000, 364), 10);
  EXPECT_LE(StreamedChunks(10000000, 1000), 8);  // their factors stay within 64 MB
  EXPECT_GE(StreamedBlockRows(364), 64);
}

}  // namespace
}  // namespace odefit
