// The doubts about a fitted model every front end reports as warnings: each
// raised by the case it names and by no other.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "odefit/odefit.h"

namespace odefit {
namespace {

// Training states of one variable spread evenly over [low, high], every slope `slope`.
Derivatives StatesOver(double low, double high, double slope = 1.0) {
  const int rows = 101;
  Derivatives d;
  d.dimension = 1;
  d.rows = rows;
  for (int r = 0; r < rows; ++r) {
    d.states.push_back(low + (high - low) * r / (rows - 1));
    d.slopes.push_back(slope);
  }
  return d;
}

struct DoubtCase {
  const char* name;
  const char* spec;
  std::vector<double> coefficients;
  int points;
  double condition;
  std::optional<Derivatives> training;
  std::vector<std::string> expected;  // a piece of every doubt, in order
};

TEST(FitDoubts, EachCaseRaisesItsOwnDoubtAndNoOther) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<DoubtCase> cases = {
      {"a sound fit", "poly:1", {0.5, -1.0}, 3, 10.0, StatesOver(0, 1), {}},
      {"even windows", "poly:1", {0.5, -1.0}, 4, 10.0, {}, {"even number of points (4)"}},
      {"ill-conditioned", "poly:1", {0.5, -1.0}, 3, 2e8, {}, {"equation 1 is ill-conditioned (condition 2e+08)"}},
      {"singular", "poly:1", {0.5, -1.0}, 3, inf, {}, {"equation 1 is ill-conditioned (condition inf)"}},
      {"at the limit", "poly:1", {0.5, -1.0}, 3, kIllConditioned, {}, {}},
      {"no term kept", "poly:1", {0.0, 0.0}, 3, 10.0, {}, {"equation 1 (dx1/dt) keeps no term: it says dx1/dt = 0"}},
      {"no term kept, slopes seen", "poly:1", {0.0, 0.0}, 3, 10.0, StatesOver(0, 1), {"keeps no term"}},
      {"no term for slopes all 0", "poly:1", {0.0, 0.0}, 3, 10.0, StatesOver(0, 1, 0.0), {}},
      {"zero numerator", "rational:1:1", {0.0, 0.0, 3.0}, 3, 10.0, StatesOver(0, 1), {"keeps no term"}},
      {"pole inside the data", "rational:1:1", {0.0, 1.0, -1.0}, 3, 10.0, StatesOver(0, 2), {"changes sign"}},
      {"pole at the data's edge", "rational:1:1", {0.0, 1.0, -0.95}, 3, 10.0, StatesOver(0, 1), {"falls to 0.05 "}},
      {"pole far away", "rational:1:1", {0.0, 1.0, 0.5}, 3, 10.0, StatesOver(0, 1), {}},
      {"pole unseen without states", "rational:1:1", {0.0, 1.0, -1.0}, 3, 10.0, {}, {}},
      {"all at once", "poly:1", {0.0, 0.0}, 2, inf, {}, {"even number of points (2)", "ill-conditioned", "keeps no term"}},
  };
  for (const DoubtCase& c : cases) {
    SCOPED_TRACE(c.name);
    Model model = ModelFromCoefficients(0.01, {ParseEquationSpec(c.spec)}, {c.coefficients});
    model.points = c.points;
    model.Equation(1).condition = c.condition;
    model.Equation(1).error = 0.5;  // derivative estimates that are not constant
    const std::vector<std::string> doubts = FitDoubts(model, c.training ? &*c.training : nullptr);
    ASSERT_EQ(doubts.size(), c.expected.size());
    for (std::size_t k = 0; k < doubts.size(); ++k) {
      EXPECT_NE(doubts[k].find(c.expected[k]), std::string::npos) << doubts[k];
      EXPECT_EQ(doubts[k].find("warning"), std::string::npos) << "the front end adds the prefix";
    }
  }
}

TEST(FitDoubts, AThresholdAboveEveryCoefficientIsDoubtedOnARealFit) {
  Series series;  // x = exp(-t): dx/dt = -x, a coefficient far below the threshold
  series.dimension = 1;
  for (int n = 0; n < 200; ++n) series.values.push_back(std::exp(-0.01 * n));
  FitSettings settings;
  settings.dt = 0.01;
  settings.equations = {ParseEquationSpec("poly:1")};
  Derivatives training;
  EXPECT_TRUE(FitDoubts(FitModel(series, settings, &training), &training).empty());
  settings.sparse = SparseOptions{100.0, false};
  const std::vector<std::string> doubts = FitDoubts(FitModel(series, settings, &training), &training);
  ASSERT_EQ(doubts.size(), 1u);
  EXPECT_NE(doubts[0].find("keeps no term"), std::string::npos) << doubts[0];
}

TEST(FitDoubts, StatesOfAnotherDimensionAreRefused) {
  const Model model = ModelFromCoefficients(0.01, {ParseEquationSpec("poly:1")}, {{0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}});
  Derivatives wrong = StatesOver(0, 1);
  EXPECT_THROW(FitDoubts(model, &wrong), InvalidArgument);
  wrong.dimension = 2;  // storage now half of what rows x 2 needs
  EXPECT_THROW(FitDoubts(model, &wrong), InvalidArgument);
  wrong.rows = 50;
  wrong.states.resize(100);  // the states fit, the slopes do not
  EXPECT_THROW(FitDoubts(model, &wrong), InvalidArgument);
}

}  // namespace
}  // namespace odefit
