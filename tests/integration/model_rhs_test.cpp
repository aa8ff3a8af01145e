#include "integration/model_rhs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/model_fit.h"
#include "odefit/model.h"
#include "model/monomials.h"

namespace odefit {
namespace {

ModelEquation Equation(ModelFamily family, int nu, int mu, std::vector<double> coef) {
  ModelEquation eq;
  eq.family = family;
  eq.nu = nu;
  eq.mu = mu;
  eq.nterms = static_cast<int>(coef.size());
  eq.coef = std::move(coef);
  return eq;
}

ModelEquation Rational(int nnum, int nden, std::vector<double> coef) {
  ModelEquation eq = Equation(ModelFamily::Rational, 1, 1, std::move(coef));
  eq.nnum = nnum;
  eq.nden = nden;
  return eq;
}

// The model the tests evaluate; each test sets it first.
Model testModel;

void SetModel(double dt, std::vector<ModelEquation> equations) {
  testModel.dt = dt;
  testModel.equations = std::move(equations);
}

std::vector<double> Rhs(double T, std::vector<double> Y) {
  std::vector<double> DY(Y.size(), -99.0);
  ModelRhs(testModel, static_cast<int>(Y.size()), T, Y, DY);
  return DY;
}

TEST(ModelRhs, StandardPolynomialInOneVariable) {
  SetModel(0.1, {Equation(ModelFamily::StandardPolynomial, 2, 0, {1.0, -2.0, 0.5})});
  EXPECT_EQ(Rhs(0.0, {3.0}), (std::vector<double>{1.0 - 6.0 + 4.5}));
}

TEST(ModelRhs, StandardPolynomialInTwoVariablesUsesTheTermOrder) {
  // 1, x1, x2, x1^2, x1 x2, x2^2
  SetModel(0.1, {Equation(ModelFamily::StandardPolynomial, 2, 0, {0, 0, 0, 0, 1, 0}),
                 Equation(ModelFamily::StandardPolynomial, 2, 0, {1, 0, 0, 0, 0, 2})});
  EXPECT_EQ(Rhs(0.0, {3.0, 5.0}), (std::vector<double>{15.0, 51.0}));
}

TEST(ModelRhs, RationalDenominatorIsKeptAwayFromZero) {
  // (P = 2 + x1 + x2) / (1 + a x1 + b x2) on x = (1, 1).
  struct Case {
    double a, b, expected;
  };
  const Case cases[] = {
      {0.0, 0.0, 4.0},                               // Q = 1: the numerator alone
      {-0.5, -0.5, 4.0 / DenominatorFloor},          // Q = 0 exactly: the positive floor
      {-0.5, -0.5 - 1e-12, 4.0 / -DenominatorFloor},  // Q = -1e-12: the negative floor
      {1.0, 1.0, 4.0 / 3.0},
  };
  for (const Case& c : cases) {
    SetModel(0.1, {Rational(3, 2, {2.0, 1.0, 1.0, c.a, c.b}), Rational(3, 2, {2.0, 1.0, 1.0, c.a, c.b})});
    const std::vector<double> dy = Rhs(0.0, {1.0, 1.0});
    EXPECT_DOUBLE_EQ(dy[0], c.expected) << c.a << " " << c.b;
  }
}

TEST(ModelRhs, DrivingIsEvaluatedAtTheNearestSampleWithEachEquationsAngle) {
  const double dt = 0.1;
  ModelEquation a = Equation(ModelFamily::DrivenPolynomial, 0, 0, {0.0, 1.0, 0.0});  // cos only
  a.wdt = 2 * M_PI / 10;
  ModelEquation b = Equation(ModelFamily::DrivenPolynomial, 0, 0, {0.0, 0.0, 1.0});  // sin only
  b.wdt = 2 * M_PI / 20;
  SetModel(dt, {a, b});
  // T = 7.5 dt rounds to sample 8 (halves away from zero); 7.49 dt to 7.
  std::vector<double> dy = Rhs(7.5 * dt, {0.0, 0.0});
  EXPECT_DOUBLE_EQ(dy[0], std::cos(8 * a.wdt));
  EXPECT_DOUBLE_EQ(dy[1], std::sin(8 * b.wdt));
  dy = Rhs(7.49 * dt, {0.0, 0.0});
  EXPECT_DOUBLE_EQ(dy[0], std::cos(7 * a.wdt));
  EXPECT_DOUBLE_EQ(dy[1], std::sin(7 * b.wdt));
}

TEST(ModelRhs, ReducedPolynomialUsesTheFirstTwoComponents) {
  SetModel(0.1, {Equation(ModelFamily::ReducedPolynomial, 0, 0, {3.0, 2.0}),
                 Equation(ModelFamily::ReducedPolynomial, 1, 2, {1.0, 2.0, 3.0, 4.0, 5.0})});
  // Second: x1 (1 + 2 x2) + 3 + 4 x2 + 5 x2^2 at (2, 3).
  EXPECT_EQ(Rhs(0.0, {2.0, 3.0}), (std::vector<double>{3.0 * 2.0 + 2.0, 2.0 * 7.0 + 3.0 + 12.0 + 45.0}));
}

// Evaluates equation i the way each equation was evaluated on its own: its
// terms from scratch (MonomialTerms, DrivenTerms), summed in term order.
double FromScratch(const ModelEquation& eq, double T, double dt, const std::vector<double>& Y) {
  const int N = static_cast<int>(Y.size());
  std::vector<double> terms(static_cast<std::size_t>(TermCount(std::max(eq.nu, eq.mu), N)) + 2);
  double sum = 0.0;
  switch (eq.family) {
    case ModelFamily::StandardPolynomial:
      MonomialTerms(Y, N, eq.nu, terms);
      for (int k = 0; k < eq.nterms; ++k) sum += eq.coef[k] * terms[k];
      return sum;
    case ModelFamily::DrivenPolynomial:
      DrivenTerms(Y, N, eq.nu, static_cast<int>(std::round(T / dt)), eq.wdt, terms);
      for (int k = 0; k < eq.nterms; ++k) sum += eq.coef[k] * terms[k];
      return sum;
    case ModelFamily::Rational: {
      MonomialTerms(Y, N, eq.nu, terms);
      double p = 0.0;
      for (int k = 0; k < eq.nnum; ++k) p += eq.coef[k] * terms[k];
      MonomialTerms(Y, N, eq.mu, terms);
      double q = 0.0;
      for (int j = 0; j < eq.nden; ++j) q += eq.coef[eq.nnum + j] * terms[j + 1];
      return p / (1.0 + q);
    }
    case ModelFamily::ReducedPolynomial: break;
  }
  return 0.0;
}

TEST(ModelRhs, SharedTermsGiveEachEquationTheBitsOfItsOwnTerms) {
  // Orders 5, 2 (driven), 3 over 4 (rational) and 0 in three variables: one term list up to order 5.
  const double dt = 0.05;
  std::vector<ModelEquation> model;
  auto coefficients = [](int count, int seed) {
    std::vector<double> c(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) c[k] = std::sin(0.7 * k + seed) / (1.0 + k);
    return c;
  };
  model.push_back(Equation(ModelFamily::StandardPolynomial, 5, 0, coefficients(56, 1)));
  ModelEquation driven = Equation(ModelFamily::DrivenPolynomial, 2, 0, coefficients(12, 2));
  driven.wdt = 2 * M_PI / 37;
  model.push_back(driven);
  ModelEquation rational = Rational(20, 34, coefficients(54, 3));
  rational.nu = 3;
  rational.mu = 4;
  model.push_back(rational);
  SetModel(dt, model);
  for (const std::vector<double>& Y : {std::vector<double>{0.3, -1.7, 2.9}, std::vector<double>{-11.0, 0.01, 5.5}}) {
    const std::vector<double> dy = Rhs(3.3, Y);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dy[i], FromScratch(model[i], 3.3, dt, Y)) << i;
  }
  // Five equations in five variables: standard polynomials of order 2 (summed together), 3 and a
  // driven one between them.
  std::vector<ModelEquation> five = {Equation(ModelFamily::StandardPolynomial, 2, 0, coefficients(21, 4)),
                                     Equation(ModelFamily::StandardPolynomial, 3, 0, coefficients(56, 5)),
                                     Equation(ModelFamily::StandardPolynomial, 2, 0, coefficients(21, 6)),
                                     Equation(ModelFamily::DrivenPolynomial, 2, 0, coefficients(23, 7)),
                                     Equation(ModelFamily::StandardPolynomial, 2, 0, coefficients(21, 8))};
  five[3].wdt = 0.1;
  SetModel(dt, five);
  const std::vector<double> Y5 = {0.9, -0.4, 1.6, -2.2, 0.05};
  const std::vector<double> dy5 = Rhs(1.0, Y5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(dy5[i], FromScratch(five[i], 1.0, dt, Y5)) << i;
  // Order 0 alone: the constant term.
  SetModel(dt, {Equation(ModelFamily::StandardPolynomial, 0, 0, {2.5}), Equation(ModelFamily::ReducedPolynomial, 0, 0, {1.0, 1.0})});
  EXPECT_EQ(Rhs(0.0, {4.0, 9.0}), (std::vector<double>{2.5, 5.0}));
}

}  // namespace
}  // namespace odefit
