// Coefficient intervals that include the derivative estimates' error: their
// coverage of the true Lorenz coefficients, measured on generated series.

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

// 3000 vectors of the Lorenz system at dt = 0.01 after a transient, with
// Gaussian noise of `noise` times every component's spread.
Series LorenzSeries(unsigned seed, double noise) {
  const Model lorenz = ModelFromCoefficients(0.01, {ParseEquationSpec("poly:2")}, kLorenz);
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal;
  const std::vector<double> x0 = {1.0 + normal(random), 1.0 + normal(random), 20.0 + normal(random)};
  SimulationSettings settings;
  settings.step = 0.001;
  const std::vector<double> path = Simulate(lorenz, x0, 4000, settings);
  Series series;
  series.dimension = 3;
  series.values.assign(path.begin() + 3 * 1001, path.end());
  for (int i = 0; i < 3; ++i) {
    double sum = 0, squares = 0;
    for (std::size_t k = i; k < series.values.size(); k += 3) sum += series.values[k], squares += series.values[k] * series.values[k];
    const double n = series.values.size() / 3.0, spread = std::sqrt(squares / n - sum * sum / n / n);
    for (std::size_t k = i; k < series.values.size(); k += 3) series.values[k] += noise * spread * normal(random);
  }
  return series;
}

TEST(FitIntervals, CoverTheTrueLorenzCoefficientsAtAFewTimesTheActualError) {
  for (const double noise : {0.0, 0.01}) {
    int covered = 0, terms = 0;
    std::vector<double> widths;  // half-width / actual error
    for (unsigned seed = 0; seed < 3; ++seed) {
      const Series series = LorenzSeries(seed, noise);
      FitSettings settings;
      settings.dt = 0.01;
      settings.points = noise == 0.0 ? 3 : 5;
      const Model model = FitModel(series, settings);
      const CoefficientIntervals intervals = FitIntervals(series, settings, model);
      EXPECT_EQ(intervals.level, 0.95);
      for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t k = 0; k < 10; ++k) {
          if (kLorenz[i][k] == 0.0) continue;
          ++terms;
          covered += intervals.lower[i][k] <= kLorenz[i][k] && kLorenz[i][k] <= intervals.upper[i][k];
          const double half = (intervals.upper[i][k] - intervals.lower[i][k]) / 2;
          widths.push_back(half / std::fabs(model.equations[i].coef[k] - kLorenz[i][k]));
        }
      }
    }
    std::nth_element(widths.begin(), widths.begin() + widths.size() / 2, widths.end());
    SCOPED_TRACE(noise);
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
