#include "search/search_plan.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

#include "model/equation_shape.h"
#include "api/numerical_errors.h"
#include "model/monomials.h"
#include "search/driving_period.h"
#include "search/horizon.h"
#include "search/prediction_score.h"
#include "search/search_common.h"
#include "search/task_summaries.h"

namespace odefit::search {
namespace {

// Largest number of terms a default shape may have.
constexpr int kMaxDefaultTerms = 40;

std::vector<int> DefaultPoints(int n) {
  std::vector<int> points;
  for (const int m : {3, 5, 7, 9, 11, 15, 21, 31, 41}) {
    if (m * 20 <= n) points.push_back(m);
  }
  if (points.empty()) points.push_back(3);
  return points;
}

std::vector<EquationSpec> DefaultShapes(int D, double period) {
  std::vector<EquationSpec> shapes;
  const int top = D <= 2 ? 5 : D == 3 ? 4 : 3;
  for (int order = 1; order <= top; ++order) {
    if (MonomialCount(order, D) <= kMaxDefaultTerms) shapes.push_back({ModelFamily::StandardPolynomial, order});
  }
  if (period > 0.0) {
    for (int order = 1; order <= top; ++order) {
      if (MonomialCount(order, D) + 2 <= kMaxDefaultTerms) {
        shapes.push_back({ModelFamily::DrivenPolynomial, order, 0, period});
      }
    }
  }
  for (int nu = 1; nu <= 3; ++nu) {
    for (int mu = 1; mu <= 2; ++mu) {
      if (MonomialCount(nu, D) + MonomialCount(mu, D) - 1 <= kMaxDefaultTerms) {
        shapes.push_back({ModelFamily::Rational, nu, mu});
      }
    }
  }
  if (D == 2) {
    for (int nu = 0; nu <= 3; ++nu) {
      for (int mu = 0; mu <= 3; ++mu) shapes.push_back({ModelFamily::ReducedPolynomial, nu, mu});
    }
  }
  return shapes;
}

std::vector<double> DefaultThresholds() { return {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2}; }

}  // namespace

void CheckSettings(const Series& series, const SearchSettings& settings) {
  const int D = series.dimension;
  if (D < 1 || D > kMaxModelDimension) throw InvalidArgument("the dimension must be from 1 to 9");
  if (series.values.size() != series.size() * Size(D)) throw InvalidArgument("the series must hold whole vectors");
  if (!(settings.dt > 0.0) || !std::isfinite(settings.dt)) {
    throw InvalidArgument("the sampling interval must be positive and finite");
  }
  if (!(settings.validationFraction >= 0.05 && settings.validationFraction <= 0.5)) {
    throw InvalidArgument("the validation fraction must be from 0.05 to 0.5");
  }
  if (series.size() < 50) {
    throw InvalidArgument("a search needs at least 50 vectors, the series has " + std::to_string(series.size()));
  }
  for (const double v : series.values) {
    if (!std::isfinite(v)) throw InvalidArgument("the series holds a value that is not a finite number");
  }
  for (const int m : settings.points) {
    if (m < 2) throw InvalidArgument("differentiation windows need at least 2 points");
  }
  for (const int d : settings.degrees) {
    if (d < 1 || d > 4) throw InvalidArgument("the degrees of the local fits must be from 1 to 4");
  }
  for (const double t : settings.thresholds) {
    if (!(t >= 0.0) || !std::isfinite(t)) throw InvalidArgument("thresholds must be finite numbers >= 0");
  }
  if (settings.horizon < 0) throw InvalidArgument("the horizon must not be negative");
  if (!(settings.timeLimit >= 0.0)) throw InvalidArgument("the time limit must be a number of seconds >= 0");
}

void CheckSettingsAgainstSeries(const Series& series, const SearchSettings& settings) {
  CheckSettings(series, settings);
  const int n = static_cast<int>(series.size());
  const int split = SplitSample(n, settings.validationFraction);
  for (const int m : settings.points.empty() ? DefaultPoints(n) : settings.points) {
    if (m > split / 10) throw InvalidArgument("the window of " + std::to_string(m) + " points is too wide for " + std::to_string(n) + " vectors");
  }
  for (const EquationSpec& spec : settings.shapes) EquationShape(spec, series.dimension, settings.dt);  // refuses impossible ones
}

void CheckPlan(const Series& series, const SearchSettings& settings, const SearchPlan& plan) {
  const int n = static_cast<int>(series.size());
  const int split = SplitSample(n, settings.validationFraction);
  if (plan.points.empty()) throw InvalidArgument("the search plan has no window");
  for (const int m : plan.points) {
    if (m < 2 || m > split / 10) {
      throw InvalidArgument("the plan's window of " + std::to_string(m) + " points does not fit " +
                            std::to_string(n) + " vectors");
    }
  }
  if (plan.degrees.empty()) throw InvalidArgument("the search plan has no degree of the local fits");
  for (const int d : plan.degrees) {
    if (d < 1 || d > 4) throw InvalidArgument("the plan's degree " + std::to_string(d) + " of the local fits is not from 1 to 4");
  }
  const int widest = *std::max_element(plan.points.begin(), plan.points.end());
  if (plan.horizon < 1 || plan.horizon > LongestHorizon(n, split, widest)) {
    throw InvalidArgument("the plan's horizon of " + std::to_string(plan.horizon) + " samples does not fit the series");
  }
  for (const EquationSpec& spec : plan.shapes) EquationShape(spec, series.dimension, settings.dt);
  for (const double t : plan.thresholds) {
    if (!(t >= 0.0) || !std::isfinite(t)) throw InvalidArgument("the plan's thresholds must be finite numbers >= 0");
  }
  for (const double p : plan.period) {
    if (!(p > 0.0) || !std::isfinite(p)) throw InvalidArgument("the plan's driving periods must be positive and finite");
  }
  if (!plan.noise.empty() && plan.noise.size() != Size(series.dimension)) {
    throw InvalidArgument("the plan's noise has " + std::to_string(plan.noise.size()) + " variances for " +
                          std::to_string(series.dimension) + " variables");
  }
  for (const double v : plan.noise) {
    if (!(v >= 0.0) || !std::isfinite(v)) throw InvalidArgument("the plan's noise variances must be finite numbers >= 0");
  }
  if (plan.rowsPerSum < 0 || plan.rowsPerSum > RowsPerSum(n, settings.validationFraction, plan.points)) {
    throw InvalidArgument("the plan's sums of " + std::to_string(plan.rowsPerSum) + " rows leave too few of the " +
                          std::to_string(n) + " vectors' training rows to fit");
  }
  if (plan.startPoints != 0 &&
      (std::find(std::begin(kStartPoints), std::end(kStartPoints), plan.startPoints) == std::end(kStartPoints) ||
       (plan.startPoints > 1 && plan.startPoints * 4 > split))) {
    throw InvalidArgument("the plan's start estimate of " + std::to_string(plan.startPoints) +
                          " points is not one the search makes for " + std::to_string(n) + " vectors");
  }
}

void CheckTaskResults(const SearchPlan& plan, int D, double dt, const std::vector<SearchTaskResult>& results) {
  const auto fail = [](const std::string& what) { throw InvalidArgument("a search task result " + what); };
  for (const SearchTaskResult& r : results) {
    if (std::find(plan.points.begin(), plan.points.end(), r.points) == plan.points.end()) {
      fail("has a window of " + std::to_string(r.points) + " points that the plan does not try");
    }
    if (r.starts < 0 || r.starts > kMaxStarts) fail("has " + std::to_string(r.starts) + " prediction starts");
    for (const SearchCandidate& c : r.candidates) {
      if (c.points != r.points) fail("holds a candidate of another window");
      if (std::find(plan.degrees.begin(), plan.degrees.end(), c.degree) == plan.degrees.end()) {
        fail("holds local fits of degree " + std::to_string(c.degree) + ", which the plan does not try");
      }
      if (c.equations.size() != Size(D) || c.supports.size() != Size(D) || c.validationErrors.size() != Size(D)) {
        fail("holds a candidate without one shape, support and error for each of the " + std::to_string(D) +
             " equations");
      }
      long long terms = 0;
      for (int i = 0; i < D; ++i) {
        const int K = EquationShape(c.equations[Size(i)], D, dt).nterms;
        const std::vector<int>& support = c.supports[Size(i)];
        if (support.empty()) fail("holds an equation without terms");
        for (std::size_t k = 0; k < support.size(); ++k) {
          if (support[k] < 0 || support[k] >= K || (k > 0 && support[k] <= support[k - 1])) {
            fail("holds term indices that are not increasing within the " + std::to_string(K) + " terms of " +
                 FormatEquationSpec(c.equations[Size(i)]));
          }
        }
        terms += static_cast<long long>(support.size());
      }
      if (c.terms != terms) fail("counts " + std::to_string(c.terms) + " terms where its supports hold " + std::to_string(terms));
      if (!(c.threshold >= 0.0) || !std::isfinite(c.threshold)) fail("holds a threshold that is not a finite number >= 0");
      if (!(c.score >= 0.0)) fail("holds a score that is not a number >= 0");
      if (!(c.noiseFloor >= 0.0) || !std::isfinite(c.noiseFloor)) fail("holds a noise floor that is not a finite number >= 0");
    }
  }
}

int TaskCount(const SearchPlan& plan) { return static_cast<int>(plan.points.size()); }

SearchPlan MakePlan(const Series& series, const SearchSettings& settings) {
  CheckSettingsAgainstSeries(series, settings);
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  SearchPlan plan;
  plan.points = settings.points.empty() ? DefaultPoints(n) : settings.points;
  std::sort(plan.points.begin(), plan.points.end());
  plan.points.erase(std::unique(plan.points.begin(), plan.points.end()), plan.points.end());
  plan.degrees = settings.degrees.empty() ? std::vector<int>{1, 2, 3, 4} : settings.degrees;
  std::sort(plan.degrees.begin(), plan.degrees.end());
  plan.degrees.erase(std::unique(plan.degrees.begin(), plan.degrees.end()), plan.degrees.end());
  const int split = SplitSample(n, settings.validationFraction);
  plan.thresholds = settings.thresholds.empty() ? DefaultThresholds() : settings.thresholds;
  if (settings.shapes.empty()) {
    const int order = D <= 2 ? 3 : 2;
    const double period = api::RunNumerical([&] {
      const double found = DetectDrivingPeriod(series, settings.dt, order);
      return found > 0.0 ? RefinePeriod(series, settings.dt, D <= 2 ? 3 : 2, found) : 0.0;
    });
    if (period > 0.0) plan.period.push_back(period);
    plan.shapes = DefaultShapes(D, period);
  } else {
    plan.shapes = settings.shapes;
  }
  const int widest = plan.points.back();
  const int lag = CorrelationHorizon(series, split);
  plan.horizon = settings.horizon > 0 ? settings.horizon : lag;
  plan.horizon = std::max(1, std::min(plan.horizon, LongestHorizon(n, split, widest)));
  plan.rowsPerSum = RowsPerSum(n, settings.validationFraction, plan.points, lag);
  ShareScoring(series, settings.validationFraction, plan);
  return plan;
}

int RowsPerSum(int vectors, double validationFraction, const std::vector<int>& points, int lag) {
  const int split = SplitSample(vectors, validationFraction);
  return SummedGroup(split - *std::max_element(points.begin(), points.end()) + 1, lag);
}

}  // namespace odefit::search
