#include "integration/model_rhs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/model_fit.h"
#include "model/model_table.h"

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

void SetModel(double dt, std::vector<ModelEquation> equations) {
  ModelTable& table = GlobalModelTable();
  table.dt = dt;
  table.equations = std::move(equations);
}

std::vector<double> Rhs(double T, std::vector<double> Y) {
  std::vector<double> DY(Y.size(), -99.0);
  ModelRhs(static_cast<int>(Y.size()), T, Y, DY);
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

}  // namespace
}  // namespace odefit
