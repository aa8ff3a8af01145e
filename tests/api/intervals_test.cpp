// Coefficient intervals that include the derivative estimates' error: their
// coverage of the true Lorenz and Van der Pol coefficients, measured on
// generated series.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "odefit/odefit.h"

namespace odefit {
namespace {

const std::vector<std::vector<double>> kLorenz = {{0, -10, 10, 0, 0, 0, 0, 0, 0, 0},
                                                  {0, 28, -1, 0, 0, 0, -1, 0, 0, 0},
                                                  {0, 0, 0, -8.0 / 3.0, 0, 1, 0, 0, 0, 0}};
// dx1/dt = x2, dx2/dt = 1.5 (1 - x1^2) x2 - x1 as poly:3 (1, x1, x2, x1^2, x1*x2, x2^2, x1^3, x1^2*x2, ...).
const std::vector<std::vector<double>> kVanDerPol = {{0, 0, 1, 0, 0, 0, 0, 0, 0, 0},
                                                     {0, -1, 1.5, 0, 0, 0, 0, -1.5, 0, 0}};

// 3000 vectors of the system `truth` (standard polynomials of `spec`) after
// a transient, with Gaussian noise of `noise` times every component's spread.
Series Generated(const std::vector<std::vector<double>>& truth, const char* spec, double dt, std::vector<double> x0,
                 unsigned seed, double noise) {
  const Model model = ModelFromCoefficients(dt, {ParseEquationSpec(spec)}, truth);
  const std::size_t D = truth.size();
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal;
  for (double& x : x0) x += normal(random);
  SimulationSettings settings;
  settings.step = dt / 10;
  const std::vector<double> path = Simulate(model, x0, 4000, settings);
  Series series;
  series.dimension = static_cast<int>(D);
  series.values.assign(path.begin() + static_cast<std::ptrdiff_t>(D * 1001), path.end());
  for (std::size_t i = 0; i < D; ++i) {
    double sum = 0, squares = 0;
    for (std::size_t k = i; k < series.values.size(); k += D) sum += series.values[k], squares += series.values[k] * series.values[k];
    const double n = static_cast<double>(series.values.size() / D), spread = std::sqrt(squares / n - sum * sum / n / n);
    for (std::size_t k = i; k < series.values.size(); k += D) series.values[k] += noise * spread * normal(random);
  }
  return series;
}

Series LorenzSeries(unsigned seed, double noise) {
  return Generated(kLorenz, "poly:2", 0.01, {1.0, 1.0, 20.0}, seed, noise);
}

// Van der Pol at 3 points: a line fit's slope and state errors mix there, so
// the bias does not grow with the window as either alone does.
TEST(FitIntervals, CoverTheTrueCoefficientsAtAFewTimesTheActualError) {
  const struct {
    const char* name;
    const std::vector<std::vector<double>>& truth;
    const char* spec;
    double dt;
    std::vector<double> x0;
    double noise;
    int points;
  } cases[] = {
      {"Lorenz", kLorenz, "poly:2", 0.01, {1.0, 1.0, 20.0}, 0.0, 3},
      {"Lorenz at 1 % noise", kLorenz, "poly:2", 0.01, {1.0, 1.0, 20.0}, 0.01, 5},
      {"Van der Pol", kVanDerPol, "poly:3", 0.05, {2.0, 0.0}, 0.0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int covered = 0, terms = 0;
    std::vector<double> widths;  // half-width / actual error
    for (unsigned seed = 0; seed < 3; ++seed) {
      const Series series = Generated(c.truth, c.spec, c.dt, c.x0, seed, c.noise);
      FitSettings settings;
      settings.dt = c.dt;
      settings.points = c.points;
      settings.equations = {ParseEquationSpec(c.spec)};
      const Model model = FitModel(series, settings);
      const CoefficientIntervals intervals = FitIntervals(series, settings, model);
      EXPECT_EQ(intervals.level, 0.95);
      for (std::size_t i = 0; i < c.truth.size(); ++i) {
        for (std::size_t k = 0; k < c.truth[i].size(); ++k) {
          if (c.truth[i][k] == 0.0) continue;
          ++terms;
          covered += intervals.lower[i][k] <= c.truth[i][k] && c.truth[i][k] <= intervals.upper[i][k];
          const double half = (intervals.upper[i][k] - intervals.lower[i][k]) / 2;
          widths.push_back(half / std::fabs(model.equations[i].coef[k] - c.truth[i][k]));
        }
      }
    }
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2), widths.end());
    EXPECT_GE(covered, 0.9 * terms) << covered << " of " << terms;
    EXPECT_LT(widths[widths.size() / 2], 10.0);  // not wider than 10 times the error, typically
  }
}

TEST(FitIntervals, TheSameSeedGivesTheSameIntervalsAndADroppedTermNone) {
  const Series series = LorenzSeries(7, 0.0);
  FitSettings settings;
  settings.dt = 0.01;
  settings.sparse = SparseOptions{0.5, false};
  const Model model = FitModel(series, settings);
  const CoefficientIntervals a = FitIntervals(series, settings, model), b = FitIntervals(series, settings, model);
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t k = 0; k < 10; ++k) {
      const bool dropped = model.equations[i].coef[k] == 0.0;
      EXPECT_EQ(std::isnan(a.lower[i][k]), dropped);
      if (!dropped) {
        EXPECT_EQ(a.lower[i][k], b.lower[i][k]);
        EXPECT_EQ(a.upper[i][k], b.upper[i][k]);
      }
    }
  }
}

TEST(FitIntervals, RecordingsAndShortSeriesAreRefused) {
  Series series = LorenzSeries(1, 0.0);
  FitSettings settings;
  settings.dt = 0.01;
  const Model model = FitModel(series, settings);
  settings.train = 20;  // blocks of 12 vectors (4 windows): one only
  EXPECT_THROW(FitIntervals(series, settings, model), InvalidArgument);
  settings.train.reset();
  series.breaks = {1500};
  EXPECT_THROW(FitIntervals(series, settings, model), InvalidArgument);
}

}  // namespace
}  // namespace odefit
