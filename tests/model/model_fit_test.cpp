#include "model/model_fit.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cmath>
#include <iostream>
#include <numbers>
#include <random>
#include <sstream>
#include <vector>

#include "derivatives/differentiation.h"
#include "model/equation_shape.h"
#include "model/monomials.h"
#include "numerics/error_stack.h"
#include "numerics/householder.h"

namespace odefit {
namespace {

class ModelFitTest : public ::testing::Test {
 protected:
  std::ostringstream errors_;
  ErrorReporter reporter_{&errors_};
  ErrorReporterScope bind_{reporter_};
};

// D x n states, column-major, uniform in [lo, hi].
std::vector<double> RandomStates(int D, int n, unsigned seed, double lo = -2.0, double hi = 2.0) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(lo, hi);
  std::vector<double> X(static_cast<std::size_t>(D) * n);
  for (double& v : X) v = dist(gen);
  return X;
}

// Targets sum c_k T_k(x_r) of the monomials up to order nu.
std::vector<double> PolynomialTargets(const std::vector<double>& X, int D, int nu,
                                      const std::vector<double>& c) {
  const int n = static_cast<int>(X.size()) / D;
  std::vector<double> y(n), T(c.size());
  for (int r = 0; r < n; ++r) {
    MonomialTerms(std::span<const double>(X).subspan(r * D, D), D, nu, T);
    for (std::size_t k = 0; k < c.size(); ++k) y[r] += c[k] * T[k];
  }
  return y;
}

ModelEquation Equation(ModelFamily family, int nu, int mu, int nterms, int nnum = 0,
                       int nden = 0, double wdt = 0.0) {
  ModelEquation e;
  e.family = family;
  e.nu = nu;
  e.mu = mu;
  e.nterms = nterms;
  e.nnum = nnum;
  e.nden = nden;
  e.wdt = wdt;
  return e;
}

TEST_F(ModelFitTest, OrderZeroFitsTheMeanWithErrorOne) {
  const std::vector<double> X = RandomStates(2, 50, 1);
  const std::vector<double> y = RandomStates(1, 50, 2);
  std::vector<double> coef(1);
  double err = 0.0;
  FitEquation(EquationShape(EquationSpec{ModelFamily::StandardPolynomial, 0}, 2, 1.0), X, 2, 50, y, coef, err);
  double mean = 0.0;
  for (double v : y) mean += v;
  mean /= 50;
  EXPECT_NEAR(coef[0], mean, 1e-14);
  EXPECT_NEAR(err, 1.0, 1e-14);
}

TEST_F(ModelFitTest, PolynomialFitReproducesExactPolynomialCoefficients) {
  const int D = 3, nu = 3, K = 20, n = 300;
  const std::vector<double> X = RandomStates(D, n, 3);
  std::vector<double> c(K);
  for (int k = 0; k < K; ++k) c[k] = 0.5 * k - 3.0 + (k % 3 == 0 ? 0.0 : 0.25);
  const std::vector<double> y = PolynomialTargets(X, D, nu, c);
  std::vector<double> coef(K);
  double err = 1.0;
  FitEquation(EquationShape(EquationSpec{ModelFamily::StandardPolynomial, nu}, D, 1.0), X, D, n, y, coef, err);
  for (int k = 0; k < K; ++k) EXPECT_NEAR(coef[k], c[k], 1e-10) << "k = " << k;
  EXPECT_LT(err, 1e-12);

  ModelEquation e = Equation(ModelFamily::StandardPolynomial, nu, 0, K);
  e.coef = coef;
  double evaluated = 1.0;
  ApproximationError(X, D, n, 1, y, e, evaluated);
  EXPECT_LT(evaluated, 1e-12);
}

TEST_F(ModelFitTest, RationalWithDenominatorOrderZeroEqualsTheStandardPolynomial) {
  const int D = 2, nu = 2, K = 6, n = 80;
  const std::vector<double> X = RandomStates(D, n, 4);
  const std::vector<double> y = RandomStates(1, n, 5);
  std::vector<double> standard(K), rational(K);
  double standardErr = 0.0, rationalErr = 0.0;
  FitEquation(EquationShape(EquationSpec{ModelFamily::StandardPolynomial, nu}, D, 1.0), X, D, n, y, standard, standardErr);
  FitRational(EquationShape(EquationSpec{ModelFamily::Rational, nu, 0}, D, 1.0), X, D, n, y, rational, rationalErr);
  EXPECT_EQ(rational, standard);
  EXPECT_EQ(rationalErr, standardErr);

  ModelEquation e = Equation(ModelFamily::Rational, nu, 0, K, K, 0);
  double reported = 0.0;
  FitModelEquation(e, X, D, n, y, reported);
  EXPECT_EQ(e.coef, standard);
  EXPECT_NEAR(reported, standardErr, 1e-12);
}

TEST_F(ModelFitTest, RationalFitRecoversAnExactQuotient) {
  // y = (1 + 2 x1) / (1 + 0.5 x2): numerator 1, x1, x2; denominator x1, x2.
  const int D = 2, n = 40;
  const std::vector<double> X = RandomStates(D, n, 6, 0.0, 1.0);
  std::vector<double> y(n);
  for (int r = 0; r < n; ++r) y[r] = (1.0 + 2.0 * X[2 * r]) / (1.0 + 0.5 * X[2 * r + 1]);
  ModelEquation e = Equation(ModelFamily::Rational, 1, 1, 5, 3, 2);
  double err = 1.0;
  FitModelEquation(e, X, D, n, y, err);
  const std::vector<double> expected = {1.0, 2.0, 0.0, 0.0, 0.5};
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(e.coef[k], expected[k], 1e-12) << "k = " << k;
  EXPECT_LT(err, 1e-12);
}

TEST_F(ModelFitTest, RationalEvaluationFloorsANearZeroDenominatorKeepingItsSign) {
  EXPECT_EQ(DenominatorFloor, static_cast<double>(1e-9f));
  // One variable, numerator 2 (order 0), denominator 1 + c x (order 1).
  ModelEquation e = Equation(ModelFamily::Rational, 0, 1, 2, 1, 1);
  e.coef = {2.0, -1.0};
  struct Case {
    double x;
    double value;  // the evaluated right-hand side
  };
  for (const Case& c : std::vector<Case>{{1.0, 2.0 / DenominatorFloor},  // q = 0 exactly
                                         {1.0 + 1e-12, 2.0 / -DenominatorFloor},
                                         {1.0 - 1e-12, 2.0 / DenominatorFloor},
                                         {3.0, -1.0}}) {
    // Two rows: the case and a row fitted exactly (x = 0, value 2), so that
    // err = |y1 - v1| / spread with the targets chosen as 0 and 2.
    const std::vector<double> X = {c.x, 0.0};
    const std::vector<double> y = {0.0, 2.0};
    double err = 0.0;
    ApproximationError(X, 1, 2, 1, y, e, err);
    EXPECT_DOUBLE_EQ(err, std::sqrt(c.value * c.value / 2.0)) << "x = " << c.x;
  }
}

TEST_F(ModelFitTest, DrivenPolynomialStartsTheDrivingAtRowOneAndUsesEachEquationsAngle) {
  const int D = 1, n = 120;
  const std::vector<double> X = RandomStates(D, n, 7);
  const std::array<double, 2> periods = {10.0, 20.0};
  for (double period : periods) {
    const double wdt = 2.0 * std::numbers::pi / period;
    std::vector<double> y(n);
    for (int r = 1; r <= n; ++r) {
      y[r - 1] = 0.5 + 1.5 * X[r - 1] + 2.0 * std::cos(r * wdt) - 3.0 * std::sin(r * wdt);
    }
    ModelEquation e = Equation(ModelFamily::DrivenPolynomial, 1, 0, 4, 0, 0, wdt);
    double err = 1.0;
    FitModelEquation(e, X, D, n, y, err);
    const std::vector<double> expected = {0.5, 1.5, 2.0, -3.0};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(e.coef[k], expected[k], 1e-12) << "period " << period;
    EXPECT_LT(err, 1e-12);
  }
}

TEST_F(ModelFitTest, ApproximationErrorContinuesTheDrivingPhaseFromNfirst) {
  const int D = 2, ntrain = 60, ntest = 40;
  const double wdt = 2.0 * std::numbers::pi / 13.0;
  const std::vector<double> X = RandomStates(D, ntrain + ntest, 8);
  std::vector<double> y(ntrain + ntest);
  for (int r = 1; r <= ntrain + ntest; ++r) {
    const double x1 = X[2 * (r - 1)], x2 = X[2 * (r - 1) + 1];
    y[r - 1] = x1 * x2 - x2 + std::sin(r * wdt);
  }
  ModelEquation e = Equation(ModelFamily::DrivenPolynomial, 2, 0, 8, 0, 0, wdt);
  double err = 1.0;
  FitModelEquation(e, std::span<const double>(X).first(D * ntrain), D, ntrain,
                   std::span<const double>(y).first(ntrain), err);
  EXPECT_LT(err, 1e-12);

  const auto testStates = std::span<const double>(X).subspan(D * ntrain);
  const auto testTargets = std::span<const double>(y).subspan(ntrain);
  double continued = 1.0, restarted = 0.0;
  ApproximationError(testStates, D, ntest, ntrain + 1, testTargets, e, continued);
  ApproximationError(testStates, D, ntest, 1, testTargets, e, restarted);
  EXPECT_LT(continued, 1e-12);
  EXPECT_GT(restarted, 0.1);
}

// One equation of each family (and two of one order, which share the
// monomials), rows beyond one block: every equation gets ApproximationError's
// bits on any number of threads.
TEST_F(ModelFitTest, ErrorsOfAllEquationsAtOnceAreEachEquationsOwnOnAnyThreads) {
  const int D = 2, rows = 5000;
  const std::vector<double> X = RandomStates(D, rows, 11, 0.5, 2.0);
  std::vector<ModelEquation> equations = {Equation(ModelFamily::StandardPolynomial, 3, 0, 10),
                                          Equation(ModelFamily::DrivenPolynomial, 2, 0, 8, 0, 0, 0.37),
                                          Equation(ModelFamily::Rational, 2, 1, 8, 6, 2),
                                          Equation(ModelFamily::ReducedPolynomial, 2, 1, 5, 3, 2),
                                          Equation(ModelFamily::StandardPolynomial, 3, 0, 10)};
  std::mt19937 gen(12);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (ModelEquation& e : equations) {
    e.coef.resize(static_cast<std::size_t>(e.nterms));
    for (double& c : e.coef) c = dist(gen);
  }
  const std::size_t E = equations.size();
  std::vector<double> Y(rows * E);
  for (double& y : Y) y = dist(gen);
  for (const int threads : {1, 3}) {
    std::vector<double> all(E);
    ApproximationErrors(X, D, rows, 7, Y, equations, all, threads);
    for (std::size_t e = 0; e < E; ++e) {
      std::vector<double> y(rows);
      for (int r = 0; r < rows; ++r) y[static_cast<std::size_t>(r)] = Y[static_cast<std::size_t>(r) * E + e];
      double own = 0.0;
      ApproximationError(X, D, rows, 7, y, equations[e], own);
      EXPECT_EQ(all[e], own) << "equation " << e << ", " << threads << " threads";
    }
  }
}

TEST_F(ModelFitTest, ReducedPolynomialOfOrdersZeroFitsTheColumnsX1AndOne) {
  const int D = 2, n = 30;
  const std::vector<double> X = RandomStates(D, n, 9);
  std::vector<double> y(n);
  for (int r = 0; r < n; ++r) y[r] = 2.0 * X[2 * r] + 3.0;
  ModelEquation e = Equation(ModelFamily::ReducedPolynomial, 0, 0, 2, 1, 1);
  double err = 1.0;
  FitModelEquation(e, X, D, n, y, err);
  EXPECT_NEAR(e.coef[0], 2.0, 1e-13);
  EXPECT_NEAR(e.coef[1], 3.0, 1e-13);
  EXPECT_LT(err, 1e-13);
}

TEST_F(ModelFitTest, ReducedPolynomialEvaluationAgreesWithItsFit) {
  const int D = 2, n = 50;
  const std::vector<double> X = RandomStates(D, n, 10);
  const std::vector<double> y = RandomStates(1, n, 11);
  ModelEquation e = Equation(ModelFamily::ReducedPolynomial, 2, 1, 5, 3, 2);
  double fitted = 0.0, evaluated = 0.0;
  FitModelEquation(e, X, D, n, y, fitted);
  ApproximationError(X, D, n, 1, y, e, evaluated);
  EXPECT_GT(fitted, 0.1);
  EXPECT_NEAR(evaluated, fitted, 1e-12);
}

TEST_F(ModelFitTest, AllEqualTargetsGiveANotANumberError) {
  const int D = 2, n = 20;
  const std::vector<double> X = RandomStates(D, n, 12);
  const std::vector<double> y(n, 0.1);  // the rounded mean differs from 0.1
  for (ModelEquation e : {Equation(ModelFamily::StandardPolynomial, 1, 0, 3),
                          Equation(ModelFamily::Rational, 1, 0, 3, 3, 0),
                          Equation(ModelFamily::ReducedPolynomial, 1, 1, 4, 2, 2)}) {
    double err = 0.0;
    FitModelEquation(e, X, D, n, y, err);
    EXPECT_TRUE(std::isnan(err)) << "family " << static_cast<int>(e.family);
    double evaluated = 0.0;
    ApproximationError(X, D, n, 1, y, e, evaluated);
    EXPECT_TRUE(std::isnan(evaluated)) << "family " << static_cast<int>(e.family);
  }
}

TEST_F(ModelFitTest, ReducedPolynomialStopsTheRunWhenTheFirstComponentIsZeroThroughout) {
  const int D = 2, n = 25;
  std::vector<double> X = RandomStates(D, n, 13);
  for (int r = 0; r < n; ++r) X[2 * r] = 0.0;
  const std::vector<double> y = RandomStates(1, n, 14);
  ModelEquation e = Equation(ModelFamily::ReducedPolynomial, 0, 0, 2, 1, 1);
  double err = 0.0;
  EXPECT_THROW(FitModelEquation(e, X, D, n, y, err), RunStopped);
  EXPECT_EQ(errors_.str(),
            "\n"
            " *** FATAL    ERROR 1 from DLQRSL.  Computation of the least squares solution\n"
            " ***          has been requested but the upper triangular matrix R is exactly \n"
            " ***          singular; the index of the first zero diagonal element of R is \n"
            " ***          1.\n");
}

// Lorenz system dx/dt = s(y - x), dy/dt = x(r - z) - y, dz/dt = xy - bz.
std::array<double, 3> Lorenz(const std::array<double, 3>& v) {
  constexpr double s = 10.0, r = 28.0, b = 8.0 / 3.0;
  return {s * (v[1] - v[0]), v[0] * (r - v[2]) - v[1], v[0] * v[1] - b * v[2]};
}

std::array<double, 3> Rk4Step(const std::array<double, 3>& v, double h) {
  auto add = [](const std::array<double, 3>& a, const std::array<double, 3>& d, double f) {
    return std::array<double, 3>{a[0] + f * d[0], a[1] + f * d[1], a[2] + f * d[2]};
  };
  const auto k1 = Lorenz(v);
  const auto k2 = Lorenz(add(v, k1, h / 2));
  const auto k3 = Lorenz(add(v, k2, h / 2));
  const auto k4 = Lorenz(add(v, k3, h));
  std::array<double, 3> out{};
  for (int i = 0; i < 3; ++i) out[i] = v[i] + h / 6 * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
  return out;
}

TEST_F(ModelFitTest, OrderTwoFitOfALorenzSeriesRecoversItsParameters) {
  const int D = 3, n = 3000, m = 3, substeps = 20;
  const double dt = 0.01;
  std::array<double, 3> v = {1.0, 1.0, 1.0};
  for (int k = 0; k < 2000 * substeps; ++k) v = Rk4Step(v, dt / substeps);  // leave the transient
  std::vector<std::vector<double>> series(D, std::vector<double>(n));
  for (int i = 0; i < n; ++i) {
    for (int e = 0; e < D; ++e) series[e][i] = v[e];
    for (int k = 0; k < substeps; ++k) v = Rk4Step(v, dt / substeps);
  }

  const int nfit = n - m + 1;
  std::vector<double> states(static_cast<std::size_t>(D) * nfit);
  std::vector<std::vector<double>> derivatives(D, std::vector<double>(nfit));
  std::vector<double> smoothed(nfit);
  for (int e = 0; e < D; ++e) {
    DifferentiateSeries(series[e], n, m, 1, dt, smoothed, derivatives[e]);
    for (int r = 0; r < nfit; ++r) states[r * D + e] = smoothed[r];
  }

  // Terms: 1, x, y, z, x^2, xy, xz, y^2, yz, z^2.
  std::array<std::vector<double>, 3> coef;
  for (int e = 0; e < D; ++e) {
    coef[e].resize(10);
    double err = 1.0;
    FitEquation(EquationShape(EquationSpec{ModelFamily::StandardPolynomial, 2}, D, 1.0), states, D, nfit, derivatives[e], coef[e], err);
    EXPECT_LT(err, 0.005) << "equation " << e + 1;
  }
  auto expectWithin = [](double value, double expected, double fraction) {
    EXPECT_NEAR(value, expected, std::abs(expected) * fraction);
  };
  expectWithin(-coef[0][1], 10.0, 0.03);  // sigma
  expectWithin(coef[0][2], 10.0, 0.03);
  expectWithin(coef[1][1], 28.0, 0.03);  // rho
  expectWithin(-coef[2][3], 8.0 / 3.0, 0.03);  // beta
  expectWithin(coef[1][2], -1.0, 0.10);
  expectWithin(coef[1][6], -1.0, 0.10);  // x*z
  expectWithin(coef[2][5], 1.0, 0.10);   // x*y
}

// --- Design matrices by columns, shared factorisations ------------------------------------------

// Fits y by a design matrix built row by row from the term routines (every
// term from scratch), with the same factorisation and solve as the fits.
std::vector<double> FitFromRows(const std::vector<double>& X, int D, int n, const std::vector<double>& y, int K,
                                bool driven, double wdt, int nu) {
  std::vector<double> A(static_cast<std::size_t>(n) * K), row(K);
  for (int r = 0; r < n; ++r) {
    const auto x = std::span<const double>(X).subspan(static_cast<std::size_t>(r) * D, D);
    if (driven) {
      DrivenTerms(x, D, nu, r + 1, wdt, row);
    } else {
      MonomialTerms(x, D, nu, row);
    }
    for (int k = 0; k < K; ++k) A[r + static_cast<std::size_t>(k) * n] = row[k];
  }
  std::vector<int> order(K, 0);
  std::vector<double> scalars(K), norms(K), coef(K), residual(n), scratch(n);
  DLQRRR(n, K, A, n, 0, order, A, n, scalars, norms);
  DLQRSL(n, K, A, n, scalars, y, SolveOutputs{.solution = true, .residual = true}, scratch, scratch, coef, residual,
         scratch);
  return coef;
}

TEST_F(ModelFitTest, DesignColumnsFromParentTermsGiveTheCoefficientsOfFromScratchRows) {
  const int D = 3, n = 500;
  const std::vector<double> X = RandomStates(D, n, 31, -1.5, 1.5);
  const std::vector<double> y = RandomStates(1, n, 32);
  for (const bool driven : {false, true}) {
    const int nu = 4, K = 35 + (driven ? 2 : 0);
    const double wdt = 0.3;
    std::vector<double> coef(K);
    double err = 0.0;
    ModelEquation shape = EquationShape(
        EquationSpec{driven ? ModelFamily::DrivenPolynomial : ModelFamily::StandardPolynomial, nu, 0, 1.0}, D, 1.0);
    shape.wdt = driven ? wdt : 0.0;
    FitEquation(shape, X, D, n, y, coef, err);
    EXPECT_EQ(coef, FitFromRows(X, D, n, y, K, driven, wdt, nu)) << driven;
  }
}

// Fits `equation` alone by its family from row i of the D x n derivatives.
double FitAlone(ModelEquation& equation, const std::vector<double>& X, int D, int n,
                const std::vector<double>& derivatives, int i) {
  std::vector<double> y(n);
  for (int r = 0; r < n; ++r) y[r] = derivatives[static_cast<std::size_t>(r) * D + (i - 1)];
  double err = 0.0;
  FitModelEquation(equation, X, D, n, y, err);
  return err;
}

// Fits the model with the ModelFitter and every equation alone; expects the same bits.
void ExpectSharedFitsMatchSingleFits(const std::vector<ModelEquation>& model, const std::vector<double>& X, int n,
                                     const std::vector<double>& derivatives) {
  const int D = static_cast<int>(model.size());
  std::vector<ModelEquation> shared = model;
  ModelFitter fitter(shared, X, D, n, derivatives);
  for (int i = 1; i <= D; ++i) {
    const double err = fitter.Fit(i);
    ModelEquation alone = model[i - 1];
    const double expected = FitAlone(alone, X, D, n, derivatives, i);
    EXPECT_EQ(shared[i - 1].coef, alone.coef) << "equation " << i;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(err), std::bit_cast<std::uint64_t>(expected)) << "equation " << i;
  }
}

TEST_F(ModelFitTest, SharedFactorisationsGiveEveryEquationTheBitsOfItsOwnFit) {
  const int D = 6, n = 300;
  const double angle = 2.0 * std::numbers::pi / 25.0;
  // Two standard, three driven (two at one angle), one rational between them.
  const std::vector<ModelEquation> model = {
      Equation(ModelFamily::StandardPolynomial, 2, 0, 28),
      Equation(ModelFamily::DrivenPolynomial, 1, 0, 9, 0, 0, angle),
      Equation(ModelFamily::Rational, 1, 1, 13, 7, 6),
      Equation(ModelFamily::StandardPolynomial, 2, 0, 28),
      Equation(ModelFamily::DrivenPolynomial, 1, 0, 9, 0, 0, angle / 2.0),
      Equation(ModelFamily::DrivenPolynomial, 1, 0, 9, 0, 0, angle),
  };
  ExpectSharedFitsMatchSingleFits(model, RandomStates(D, n, 41, -1.0, 1.0), n, RandomStates(D, n, 42));
}

TEST_F(ModelFitTest, SharedReducedFitsAndLargeBlockedFitsMatchSingleFits) {
  const std::vector<ModelEquation> reduced = {Equation(ModelFamily::ReducedPolynomial, 2, 1, 5, 3, 2),
                                              Equation(ModelFamily::ReducedPolynomial, 2, 1, 5, 3, 2)};
  ExpectSharedFitsMatchSingleFits(reduced, RandomStates(2, 200, 43), 200, RandomStates(2, 200, 44));
  // A design large enough for the blocked factorisation, shared by three equations.
  const int n = 4000;
  ASSERT_TRUE(BlockedFactorisationPays(n, 84));
  const std::vector<ModelEquation> wide(3, Equation(ModelFamily::StandardPolynomial, 6, 0, 84));
  ExpectSharedFitsMatchSingleFits(wide, RandomStates(3, n, 45, -1.0, 1.0), n, RandomStates(3, n, 46));
}

TEST_F(ModelFitTest, SingularSharedDesignStopsAtTheFirstEquationOfItsGroup) {
  // x2 is zero throughout, so the column x1*x2 of the reduced design with nu = 1 is zero. Equation 1
  // (nu = 0) fits; equation 2 is the first of the singular group and stops the run there.
  const int D = 3, n = 100;
  std::vector<double> X = RandomStates(D, n, 47);
  for (int r = 0; r < n; ++r) X[r * D + 1] = 0.0;
  std::vector<ModelEquation> model = {Equation(ModelFamily::ReducedPolynomial, 0, 0, 2, 1, 1),
                                      Equation(ModelFamily::ReducedPolynomial, 1, 0, 3, 2, 1),
                                      Equation(ModelFamily::ReducedPolynomial, 1, 0, 3, 2, 1)};
  const std::vector<double> derivatives = RandomStates(D, n, 48);
  ModelFitter fitter(model, X, D, n, derivatives);
  EXPECT_NO_THROW(fitter.Fit(1));
  EXPECT_EQ(errors_.str(), "");
  EXPECT_THROW(fitter.Fit(2), RunStopped);
  EXPECT_NE(errors_.str().find("FATAL    ERROR 1 from DLQRSL"), std::string::npos) << errors_.str();
  EXPECT_NE(errors_.str().find("element of R is \n ***          2."), std::string::npos) << errors_.str();
}

TEST_F(ModelFitTest, SameDesignSeparatesFamiliesOrdersAndAngles) {
  const ModelEquation standard = Equation(ModelFamily::StandardPolynomial, 2, 0, 10);
  EXPECT_TRUE(SameDesign(standard, standard));
  EXPECT_FALSE(SameDesign(standard, Equation(ModelFamily::StandardPolynomial, 3, 0, 20)));
  const ModelEquation driven = Equation(ModelFamily::DrivenPolynomial, 2, 0, 12, 0, 0, 0.1);
  EXPECT_FALSE(SameDesign(standard, driven));
  EXPECT_TRUE(SameDesign(driven, Equation(ModelFamily::DrivenPolynomial, 2, 0, 12, 0, 0, 0.1)));
  EXPECT_FALSE(SameDesign(driven, Equation(ModelFamily::DrivenPolynomial, 2, 0, 12, 0, 0, 0.1 + 1e-17 + 1e-15)));
  const ModelEquation rational = Equation(ModelFamily::Rational, 1, 1, 5, 3, 2);
  EXPECT_FALSE(SameDesign(rational, rational));  // its design holds its own targets
  EXPECT_FALSE(SameDesign(Equation(ModelFamily::ReducedPolynomial, 2, 1, 5, 3, 2),
                          Equation(ModelFamily::ReducedPolynomial, 1, 2, 5, 2, 3)));
}

}  // namespace
}  // namespace odefit
