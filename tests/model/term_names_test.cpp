// Term names in coefficient order, checked against the order in which the
// fits form their terms, and the columns that make a design singular.
#include "model/term_names.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/dependent_columns.h"
#include "model/equation_shape.h"
#include "model/model_family.h"
#include "model/model_fit.h"
#include "model/monomials.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

using Names = std::vector<std::string>;

TEST(TermNames, FollowTheCoefficientOrderOfEveryFamily) {
  EXPECT_EQ(MonomialNames(2, 2), (Names{"1", "x1", "x2", "x1^2", "x1*x2", "x2^2"}));
  EXPECT_EQ(MonomialNames(3, 2),
            (Names{"1", "x1", "x2", "x3", "x1^2", "x1*x2", "x1*x3", "x2^2", "x2*x3", "x3^2"}));
  EXPECT_EQ(MonomialNames(2, 3),
            (Names{"1", "x1", "x2", "x1^2", "x1*x2", "x2^2", "x1^3", "x1^2*x2", "x1*x2^2", "x2^3"}));
  EXPECT_EQ(MonomialNames(1, 4), (Names{"1", "x1", "x1^2", "x1^3", "x1^4"}));
  EXPECT_EQ(MonomialNames(4, 0), (Names{"1"}));
  EXPECT_EQ(TermNames(ModelFamily::StandardPolynomial, 2, 1, 0), (Names{"1", "x1", "x2"}));
  EXPECT_EQ(TermNames(ModelFamily::DrivenPolynomial, 2, 1, 0), (Names{"1", "x1", "x2", "cos", "sin"}));
  EXPECT_EQ(TermNames(ModelFamily::Rational, 2, 1, 1),
            (Names{"1", "x1", "x2", "x1 (denominator)", "x2 (denominator)"}));
  EXPECT_EQ(TermNames(ModelFamily::Rational, 2, 1, 0), (Names{"1", "x1", "x2"}));
  EXPECT_EQ(TermNames(ModelFamily::ReducedPolynomial, 2, 2, 1), (Names{"x1", "x1*x2", "x1*x2^2", "1", "x2"}));
  EXPECT_EQ(TermNames(ModelFamily::ReducedPolynomial, 2, 0, 0), (Names{"x1", "1"}));
}

TEST(TermNames, NameEveryMonomialAsTheTermRoutineFormsIt) {
  // Each variable a distinct prime: a monomial's value tells its factors.
  const std::vector<double> x = {2.0, 3.0, 5.0, 7.0};
  for (int D = 1; D <= 4; ++D) {
    for (int nu = 0; nu <= 5; ++nu) {
      const Names names = MonomialNames(D, nu);
      ASSERT_EQ(names.size(), static_cast<std::size_t>(MonomialCount(nu, D)));
      std::vector<double> T(names.size());
      FillMonomialTerms(std::span<const double>(x).first(static_cast<std::size_t>(D)), D, nu, T);
      for (std::size_t k = 0; k < names.size(); ++k) {
        // Evaluate the name: factors "x<i>" or "x<i>^<p>" joined by '*'.
        double value = 1.0;
        if (names[k] != "1") {
          std::size_t at = 0;
          while (at < names[k].size()) {
            const std::size_t end = std::min(names[k].find('*', at), names[k].size());
            const std::string factor = names[k].substr(at, end - at);
            const std::size_t caret = factor.find('^');
            const int i = std::stoi(factor.substr(1, caret - 1));
            const int power = caret == std::string::npos ? 1 : std::stoi(factor.substr(caret + 1));
            EXPECT_GT(power, 1 * (caret != std::string::npos)) << names[k];
            value *= std::pow(x[static_cast<std::size_t>(i - 1)], power);
            at = end + 1;
          }
        }
        EXPECT_EQ(value, T[k]) << "D " << D << " nu " << nu << " term " << names[k];
      }
    }
  }
}

TEST(ModelFamilies, AreFoundByTagAndNameAndSaySimplerShapes) {
  struct Case {
    EquationSpec spec;
    std::vector<int> support;
    bool simpler;  // to the standard polynomial of the same order
  };
  const Case cases[] = {
      {{ModelFamily::StandardPolynomial, 2}, {0, 1}, false},
      {{ModelFamily::DrivenPolynomial, 2, 0, 5.0}, {0, 5}, true},    // no cos (6) or sin (7)
      {{ModelFamily::DrivenPolynomial, 2, 0, 5.0}, {0, 7}, false},   // keeps sin
      {{ModelFamily::Rational, 2, 1}, {0, 5}, true},                 // no denominator term (6, 7)
      {{ModelFamily::Rational, 2, 1}, {6}, false},
      {{ModelFamily::ReducedPolynomial, 1, 1}, {0}, false},
  };
  for (const Case& c : cases) {
    const ModelFamilyDescription& family = FamilyOf(c.spec.family);
    EXPECT_EQ(FamilyNamed(family.name), &family);
    const ModelEquation eq = EquationShape(c.spec, 2, 0.1);
    const std::optional<EquationSpec> simpler = family.SimplerShape(eq, c.support);
    ASSERT_EQ(simpler.has_value(), c.simpler) << family.name;
    if (simpler) {
      EXPECT_EQ(simpler->family, ModelFamily::StandardPolynomial);
      EXPECT_EQ(simpler->order, c.spec.order);
    }
  }
  EXPECT_EQ(FamilyNamed("spline"), nullptr);
  EXPECT_THROW(FamilyOf(static_cast<ModelFamily>(63)), InvalidArgument);
  EXPECT_THROW(RegisterModelFamily(FamilyOf(ModelFamily::Rational)), InvalidArgument);  // its tag and name are taken
}

TEST(DependentColumns, NamesZeroColumnsAndColumnsInTheSpanOfEarlierOnes) {
  constexpr int kRows = 7;
  // Columns: ones, t, 0, 3 t - 2 (dependent), t^2, 0, ones + t^2 (dependent).
  std::vector<double> A;
  for (int c = 0; c < 7; ++c) {
    for (int r = 0; r < kRows; ++r) {
      const double t = 0.37 * r - 1.1;
      const double column[] = {1.0, t, 0.0, 3.0 * t - 2.0, t * t, 0.0, 1.0 + t * t};
      A.push_back(column[c]);
    }
  }
  const DependentColumns found = FindDependentColumns(A, kRows, 7);
  EXPECT_EQ(found.zero, (std::vector<int>{3, 6}));
  EXPECT_EQ(found.dependent, (std::vector<int>{4, 7}));

  // Scale does not matter, and nothing overflows.
  for (double& a : A) a *= 1e200;
  const DependentColumns scaled = FindDependentColumns(A, kRows, 7);
  EXPECT_EQ(scaled.zero, found.zero);
  EXPECT_EQ(scaled.dependent, found.dependent);

  // More columns than rows: the columns after the first full rank depend on them.
  const std::vector<double> wide = {1.0, 2.0, 0.5, -1.0, 4.0, 4.0};
  const DependentColumns over = FindDependentColumns(wide, 2, 3);
  EXPECT_TRUE(over.zero.empty());
  EXPECT_EQ(over.dependent, (std::vector<int>{3}));
  EXPECT_TRUE(FindDependentColumns(std::vector<double>{1.0, 0.0, 0.0, 1.0}, 2, 2).dependent.empty());
}

TEST(DependentColumns, FindTheTermsBehindASingularFit) {
  // D = 2 with x1 = 0 throughout: the reduced family's x1 and every monomial
  // with x1 are zero columns of the design the fit builds.
  constexpr int kRows = 30;
  std::vector<double> X, y;
  for (int r = 0; r < kRows; ++r) {
    X.push_back(0.0);
    X.push_back(std::sin(0.2 * r));
    y.push_back(std::cos(0.2 * r));
  }
  ModelEquation reduced;
  reduced.family = ModelFamily::ReducedPolynomial;
  reduced.nu = 1;
  reduced.mu = 1;
  reduced.nnum = 2;
  reduced.nden = 2;
  reduced.nterms = 4;
  EXPECT_EQ(FindDependentColumns(DesignMatrix(reduced, X, 2, kRows, y), kRows, 4).zero, (std::vector<int>{1, 2}));

  ModelEquation quadratic;
  quadratic.nu = 2;
  quadratic.nterms = 6;
  const DependentColumns found = FindDependentColumns(DesignMatrix(quadratic, X, 2, kRows, y), kRows, 6);
  const Names names = TermNames(ModelFamily::StandardPolynomial, 2, 2, 0);
  Names zero;
  for (const int k : found.zero) zero.push_back(names[static_cast<std::size_t>(k - 1)]);
  EXPECT_EQ(zero, (Names{"x1", "x1^2", "x1*x2"}));
  EXPECT_TRUE(found.dependent.empty());

  // A rational denominator on targets that are zero: its columns -y*U vanish.
  ModelEquation rational;
  rational.family = ModelFamily::Rational;
  rational.nu = 0;
  rational.mu = 1;
  rational.nnum = 1;
  rational.nden = 2;
  rational.nterms = 3;
  const std::vector<double> zeros(kRows, 0.0);
  EXPECT_EQ(FindDependentColumns(DesignMatrix(rational, X, 2, kRows, zeros), kRows, 3).zero,
            (std::vector<int>{2, 3}));
}

}  // namespace
}  // namespace odefit
