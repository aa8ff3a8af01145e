#include "search/winner_fit.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "model/equation_shape.h"
#include "api/numerical_errors.h"
#include "api/recordings.h"
#include "model/design.h"
#include "model/model_fit.h"
#include "model/sparse_regression.h"
#include "search/driving_period.h"
#include "search/horizon.h"
#include "search/integral_refit.h"
#include "search/local_fits.h"
#include "search/noise_level.h"
#include "search/search_common.h"

namespace odefit::search {
namespace {

// Equation i of `best` at driving period `period` (for driven shapes), fitted
// on all rows of `all`.
SubsetFit FitOne(const Derivatives& all, int D, double dt, const SearchCandidate& best, int i, double period,
                 ModelEquation& eq) {
  EquationSpec spec = best.equations[Size(i)];
  if (spec.family == ModelFamily::DrivenPolynomial) spec.period = period;
  eq = EquationShape(spec, D, dt);
  const int one[] = {i};
  const TriangularSummary summary = SummariseDesign(eq, all.states, D, all.rows, 1, all.slopes, one);
  return FitSubset(summary, 0, best.supports[Size(i)]);
}

// The degree of the integral form's smoothed states: the winner's window, at
// least quadratic (its value at the centre is then exact to third order; a
// line fit's value is a moving average, biased at every bend).
int IntegralDegree(const SearchCandidate& best) { return best.points >= 3 ? std::max(best.degree, 2) : best.degree; }

// Whether some variable's noise level is above 1e-4 of its standard deviation.
bool Noisy(const Series& series) {
  const int D = series.dimension;
  const std::size_t n = series.size();
  const std::vector<double> noise = NoiseVariances(series);
  for (int i = 0; i < D; ++i) {
    double mean = 0.0, spread = 0.0;
    for (std::size_t k = 0; k < n; ++k) mean += series.values[k * Size(D) + Size(i)];
    mean /= static_cast<double>(n);
    for (std::size_t k = 0; k < n; ++k) {
      const double v = series.values[k * Size(D) + Size(i)] - mean;
      spread += v * v;
    }
    spread /= static_cast<double>(n);
    if (noise[Size(i)] > 1e-8 * spread) return true;
  }
  return false;
}

}  // namespace

WinnerFit FitWinner(const Series& series, const SearchSettings& settings, const SearchCandidate& best) {
  const int D = series.dimension;
  // Several recordings: each differentiated on its own by line fits, the rows stacked.
  const Sampling sampling = SeriesSampling(series, series.times.empty() ? settings.dt : 0.0);
  const Derivatives all = api::IsPlain(series) ? LocalFits(series.values, D, best.points, best.degree, settings.dt)
                                               : api::DifferentiatePieces(series, sampling, best.points);
  // The coefficients, and the driving period, from the integral form over
  // the series' correlation time (integral_refit.h); the standard errors and
  // condition stay those of the slope fit, which the overlapping spans would
  // understate.
  // On clean data (noise below 0.01 % of every variable's spread) the slope
  // fit is the more accurate: its bias is far below the integral form's
  // smoothing of nonlinear terms (1e-6 on clean Lorenz at dt 0.002).
  Derivatives smooth;
  int span = 0;
  std::vector<double> smoothing;
  if (api::IsPlain(series) && Noisy(series)) {
    const int degree = IntegralDegree(best);
    smooth = degree == best.degree ? all : LocalFits(series.values, D, best.points, degree, settings.dt);
    smoothing = FitWeights(best.points, degree, (best.points - 1) / 2).value;
    span = std::min(CorrelationHorizon(series, 0), smooth.rows - 4);
  }
  const auto integral = [&](const ModelEquation& eq, const SubsetFit& fit) {
    return span >= 1 && HasIntegralForm(eq.family) && !fit.columns.empty() && !fit.singular;
  };
  WinnerFit out;
  out.model.recordings = sampling.recordings;
  for (int i = 0; i < D; ++i) {
    if (best.equations[Size(i)].family == ModelFamily::DrivenPolynomial) out.period = best.equations[Size(i)].period;
  }
  if (out.period > 0.0) {
    const auto rss = [&](double period) {
      double sum = 0.0;
      ModelEquation eq;
      for (int i = 0; i < D; ++i) {
        if (best.equations[Size(i)].family != ModelFamily::DrivenPolynomial) continue;
        SubsetFit fit = FitOne(all, D, settings.dt, best, i, period, eq);
        if (integral(eq, fit)) fit = IntegralFit(smooth, eq, i, fit.columns, span, settings.dt, smoothing);
        sum += fit.singular ? kInfinity : fit.rss;
      }
      return sum;
    };
    // One bin of the spectrum the period came from, either side.
    const double length = series.size() * settings.dt;
    out.period = RefineWithinOneBin(rss, out.period, length);
  }
  Model& model = out.model;
  model.dt = settings.dt;
  model.points = best.points;
  model.train = static_cast<int>(series.size());
  std::vector<double> y(Size(all.rows));
  for (int i = 0; i < D; ++i) {
    ModelEquation eq;
    SubsetFit fit = FitOne(all, D, settings.dt, best, i, out.period, eq);
    if (fit.singular) throw NumericalError("the chosen terms of equation " + std::to_string(i + 1) + " are dependent on the whole series");
    if (integral(eq, fit)) {
      const SubsetFit weak = IntegralFit(smooth, eq, i, fit.columns, span, settings.dt, smoothing);
      if (!weak.singular) fit.coefficients = weak.coefficients;
    }
    ScatterSubsetFit(fit, eq);
    for (int r = 0; r < all.rows; ++r) y[Size(r)] = all.slopes[Size(r) * Size(D) + Size(i)];
    api::RunNumerical([&] { ApproximationError(all.states, D, all.rows, 1, y, eq, eq.error); });
    model.equations.push_back(std::move(eq));
  }
  return out;
}

}  // namespace odefit::search
