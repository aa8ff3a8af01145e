// Equations for people and scripts: specs as text, term names, the printed
// equations, and the standard errors and condition of every fit checked
// against closed forms.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "odefit/odefit.h"

namespace odefit {
namespace {

TEST(EquationSpecText, EveryFamilyReadsAndWritesBack) {
  const EquationSpec poly = ParseEquationSpec("poly:2");
  EXPECT_EQ(poly.family, ModelFamily::StandardPolynomial);
  EXPECT_EQ(poly.order, 2);
  const EquationSpec driven = ParseEquationSpec("driven:3:5");
  EXPECT_EQ(driven.family, ModelFamily::DrivenPolynomial);
  EXPECT_EQ(driven.period, 5.0);
  const EquationSpec rational = ParseEquationSpec("rational:2:1");
  EXPECT_EQ(rational.secondOrder, 1);
  const EquationSpec reduced = ParseEquationSpec("reduced:1:0");
  EXPECT_EQ(reduced.family, ModelFamily::ReducedPolynomial);
  for (const char* text : {"poly:0", "driven:3:0.1", "driven:1:2.5e-07", "rational:2:1", "reduced:1:0"}) {
    EXPECT_EQ(FormatEquationSpec(ParseEquationSpec(text)), text);
  }
  EXPECT_EQ(FormatEquationSpec(ParseEquationSpec("driven:1:+1e2")), "driven:1:100");
}

TEST(EquationSpecText, MalformedSpecsSayWhatIsWrong) {
  const auto message = [](const char* text) {
    try {
      ParseEquationSpec(text);
    } catch (const InvalidArgument& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(message("spline:2"),
            "unknown model family \"spline\" in \"spline:2\": use poly:NU, driven:NU:PERIOD, rational:NU:MU or "
            "reduced:NU:MU");
  EXPECT_EQ(message("poly"), "model \"poly\" is not of the form poly:NU");
  EXPECT_EQ(message("poly:2:3"), "model \"poly:2:3\" is not of the form poly:NU");
  EXPECT_EQ(message("rational:2"), "model \"rational:2\" is not of the form rational:NU:MU");
  EXPECT_EQ(message("poly:-1"), "the order in model \"poly:-1\" must be a whole number from 0 to 1000, not \"-1\"");
  EXPECT_EQ(message("poly:1.5"), "the order in model \"poly:1.5\" must be a whole number from 0 to 1000, not \"1.5\"");
  EXPECT_EQ(message("poly:99999999999"),
            "the order in model \"poly:99999999999\" must be a whole number from 0 to 1000, not \"99999999999\"");
  EXPECT_EQ(message("driven:2:0"),
            "the driving period in model \"driven:2:0\" must be a positive number of time units, not \"0\"");
  EXPECT_EQ(message("driven:2:inf"),
            "the driving period in model \"driven:2:inf\" must be a positive number of time units, not \"inf\"");
  EXPECT_EQ(message(""), "unknown model family \"\" in \"\": use poly:NU, driven:NU:PERIOD, rational:NU:MU or "
                         "reduced:NU:MU");
}

// A straight line y = a + b x fitted to points with known residuals.
Model LineFit(const std::vector<double>& x, const std::vector<double>& y) {
  Derivatives d;
  d.dimension = 1;
  d.rows = static_cast<int>(x.size());
  d.states = x;
  d.slopes = y;
  return FitModel(d, 1.0, {EquationSpec{ModelFamily::StandardPolynomial, 1}});
}

TEST(FitStatistics, StandardErrorsOfALineAreTheTextbookOnes) {
  const std::vector<double> x = {0, 1, 2, 3, 4, 5, 6, 7};
  const std::vector<double> noise = {0.3, -0.2, 0.1, -0.4, 0.25, 0.05, -0.15, 0.2};
  std::vector<double> y;
  for (std::size_t k = 0; k < x.size(); ++k) y.push_back(2.0 + 3.0 * x[k] + noise[k]);
  const ModelEquation eq = LineFit(x, y).Equation(1);
  // sigma^2 = RSS / (n - 2); se(b) = sigma / sqrt(Sxx); se(a) = sigma sqrt(1/n + xbar^2 / Sxx).
  const double n = 8, xbar = 3.5;
  double sxx = 0, rss = 0;
  for (std::size_t k = 0; k < x.size(); ++k) {
    sxx += (x[k] - xbar) * (x[k] - xbar);
    const double r = y[k] - eq.coef[0] - eq.coef[1] * x[k];
    rss += r * r;
  }
  const double sigma = std::sqrt(rss / (n - 2));
  ASSERT_EQ(eq.standardErrors.size(), 2u);
  EXPECT_NEAR(eq.standardErrors[1], sigma / std::sqrt(sxx), 1e-14);
  EXPECT_NEAR(eq.standardErrors[0], sigma * std::sqrt(1 / n + xbar * xbar / sxx), 1e-14);
  // R of [1 x] has the 1-norm condition of a well-posed 2-column problem.
  EXPECT_GT(eq.condition, 1.0);
  EXPECT_LT(eq.condition, 100.0);
}

TEST(FitStatistics, NoFreedomLeftGivesUndefinedErrorsAndNearlyEqualColumnsAHugeCondition) {
  const ModelEquation exact = LineFit({1, 2}, {5, 7}).Equation(1);  // two rows, two coefficients
  EXPECT_TRUE(std::isnan(exact.standardErrors[0]));
  EXPECT_TRUE(std::isnan(exact.standardErrors[1]));
  // x nearly constant: the columns 1 and x nearly dependent.
  const ModelEquation flat = LineFit({1, 1 + 1e-9, 1 + 2e-9, 1 + 3e-9}, {1, 2, 3, 5}).Equation(1);
  EXPECT_GT(flat.condition, kIllConditioned);
  EXPECT_TRUE(IsIllConditioned(flat));
  EXPECT_FALSE(IsIllConditioned(LineFit({0, 1, 2, 3}, {1, 2, 3, 5}).Equation(1)));
}

TEST(FitStatistics, EquationsSharingADesignGetTheirOwnErrors) {
  // Two equations on one factorisation: the noisier target has the larger errors.
  Derivatives d;
  d.dimension = 2;
  d.rows = 6;
  const std::vector<double> wobble = {0.1, -0.1, 0.05, -0.05, 0.1, -0.1};
  for (int r = 0; r < 6; ++r) {
    d.states.insert(d.states.end(), {double(r), double(r * r % 5)});
    d.slopes.insert(d.slopes.end(), {1.0 + r + wobble[r], 2.0 - r + 10 * wobble[r]});
  }
  const Model model = FitModel(d, 1.0, {EquationSpec{ModelFamily::StandardPolynomial, 1}});
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_NEAR(model.Equation(2).standardErrors[k], 10 * model.Equation(1).standardErrors[k],
                1e-12 * model.Equation(2).standardErrors[k]);
  }
  EXPECT_EQ(model.Equation(1).condition, model.Equation(2).condition);
}

TEST(ModelText, WritesAFormulaAndATableOfEveryTerm) {
  Model model;
  model.dt = 0.1;
  model.Resize(2);
  model.Equation(1).nu = 1;
  model.Equation(1).nterms = 3;
  model.Equation(1).coef = {0.0, -9.8824946336, 1234567.0};
  model.Equation(1).standardErrors = {0.5, 0.00123456, std::nan("")};
  model.Equation(1).condition = 2e9;
  model.Equation(1).error = 0.0013926;
  ModelEquation& rational = model.Equation(2);
  rational.family = ModelFamily::Rational;
  rational.nu = 1;
  rational.mu = 1;
  rational.nnum = 3;
  rational.nden = 2;
  rational.nterms = 5;
  rational.coef = {1.0, -2.0, 0.5, 0.25, -0.125};
  rational.error = std::nan("");
  model.names = {"prey", "predator"};
  const std::string text = FormatModel(model);
  EXPECT_NE(text.find("Model of 2 equations: dt = 0.1\nVariables: x1 = prey, x2 = predator\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Equation 1: poly:1, 3 terms, error of approximation 0.13926 %, condition 2e+09 "
                      "(ill-conditioned)\n"),
            std::string::npos)
      << text;
  // The variables' names stand in the formulas and the tables.
  EXPECT_NE(text.find("  term           coefficient   standard error\n"
                      "  1                        0              0.5\n"
                      "  prey          -9.882494634          0.00123\n"
                      "  predator           1234567        undefined\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  dprey/dt = -9.88249 prey + 1.23457e+06 predator\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  dpredator/dt = (1 - 2 prey + 0.5 predator) / (1 + 0.25 prey - 0.125 predator)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Equation 2: rational:1:1, 5 terms, error of approximation undefined"), std::string::npos);
  EXPECT_NE(text.find("  predator (denominator)            -0.125\n"), std::string::npos) << text;
  model.names.clear();
  EXPECT_NE(FormatModel(model).find("  dx2/dt = (1 - 2 x1 + 0.5 x2) / (1 + 0.25 x1 - 0.125 x2)\n"), std::string::npos);
  model.Equation(1).coef[1] = std::nan("");
  EXPECT_THROW(FormatModel(model), InvalidArgument);
}

TEST(ModelText, LongFormulasBreakBeforeAnOperatorAlignedAfterTheEqualsSign) {
  Model model;
  model.dt = 0.01;
  model.Resize(3);
  for (ModelEquation& eq : model.equations) {
    eq.nu = 3;
    eq.nterms = 20;
    eq.coef.assign(20, -1.23456789);
  }
  const std::string text = FormatModel(model);
  const std::size_t first = text.find("  dx2/dt = -1.23457 - 1.23457 x1");
  ASSERT_NE(first, std::string::npos) << text;
  const std::size_t end = text.find("\n\n", first);
  std::istringstream lines(text.substr(first, end - first));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_LE(line.size(), 100u) << line;
    if (count > 0) {
      EXPECT_EQ(line.rfind("           - 1.23457 ", 0), 0u) << line;
    }
  }
  EXPECT_EQ(count, 4);  // 20 terms of 10 to 17 characters
}

}  // namespace
}  // namespace odefit
