#include "search/winner_fit.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "model/equation_shape.h"
#include "api/numerical_errors.h"
#include "api/recordings.h"
#include "model/design.h"
#include "model/driving_scan.h"
#include "model/monomials.h"
#include "model/model_fit.h"
#include "model/sparse_regression.h"
#include "search/driving_period.h"
#include "search/horizon.h"
#include "search/integral_refit.h"
#include "search/local_fits.h"
#include "search/noise_level.h"
#include "search/ranking.h"
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

// The driving angle per sample of a period, as the driven family makes it.
double DrivingAngle(double period, double dt) { return 4.0 * std::acos(0.0) / period * dt; }

// A fit of one equation at any driving period: its terms other than the
// driving pair, with the target, summarised once (model/driving_scan.h).
struct PairScan {
  PairScan(std::vector<double> values, const TriangularSummary& summary, int rows)
      : block(std::move(values)), scan(summary, block, rows, 1) {}
  std::vector<double> block;  // rows x (terms + 1): the other terms, then the target
  DrivingScan scan;           // row r at sample index 1 + r, as slope fits and span starts lie
};

std::unique_ptr<PairScan> ScanOf(std::vector<double> block, int rows, int terms) {
  TriangularSummary summary(terms, 1);
  summary.AddRows(block, rows, rows);
  return std::make_unique<PairScan>(std::move(block), summary, rows);
}

// Equation i of `best` (driven) at `period`, and the columns of its support
// other than the driving pair; none when the support does not hold both of
// the pair or holds nothing else.
std::vector<int> OtherTerms(int D, double dt, const SearchCandidate& best, int i, double period, ModelEquation& eq) {
  EquationSpec spec = best.equations[Size(i)];
  spec.period = period;
  eq = EquationShape(spec, D, dt);
  std::vector<int> others;
  int pair = 0;
  for (const int j : best.supports[Size(i)]) {
    if (j >= eq.nterms - 2) {
      ++pair;
    } else {
      others.push_back(j);
    }
  }
  return pair == 2 ? others : std::vector<int>{};
}

// The slope fit's scan of equation i over the rows of `all`.
std::unique_ptr<PairScan> ScanSlopes(const Derivatives& all, int D, const ModelEquation& eq, int i,
                                     const std::vector<int>& others) {
  const int rows = all.rows, K = eq.nterms - 2, k = static_cast<int>(others.size());
  std::vector<double> monomials(Size(rows) * Size(K));
  FillMonomialColumns(all.states, D, rows, eq.nu, monomials, rows);
  std::vector<double> block(Size(rows) * Size(k + 1));
  for (int c = 0; c < k; ++c) {
    std::copy_n(monomials.begin() + static_cast<std::ptrdiff_t>(Size(others[Size(c)]) * Size(rows)), rows,
                block.begin() + static_cast<std::ptrdiff_t>(Size(c) * Size(rows)));
  }
  for (int r = 0; r < rows; ++r) block[Size(k) * Size(rows) + Size(r)] = all.slopes[Size(r) * Size(D) + Size(i)];
  return ScanOf(std::move(block), rows, k);
}

// The integral form's scan of equation i over the span starts of `smooth`.
std::unique_ptr<PairScan> ScanIntegrals(const Derivatives& smooth, const ModelEquation& eq, int i,
                                        const std::vector<int>& others, int span, double dt,
                                        std::span<const double> smoothing) {
  const std::vector<double> rows = IntegralRows(smooth, eq, i, others, span, dt, smoothing);
  const int k = static_cast<int>(others.size()), starts = smooth.rows - span;
  std::vector<double> block(Size(starts) * Size(k + 1));
  for (int s = 0; s < starts; ++s) {
    for (int c = 0; c <= k; ++c) block[Size(c) * Size(starts) + Size(s)] = rows[Size(s) * Size(k + 1) + Size(c)];
  }
  return ScanOf(std::move(block), starts, k);
}

// The degree of the integral form's smoothed states: the winner's window, at
// least quadratic (its value at the centre is then exact to third order; a
// line fit's value is a moving average, biased at every bend).
int IntegralDegree(const SearchCandidate& best) { return best.points >= 3 ? std::max(best.degree, 2) : best.degree; }

// Whether some variable's noise level is above 1e-4 of its standard
// deviation; `known` holds the noise variances when they are worked out
// already (D of them; else empty).
bool Noisy(const Series& series, std::span<const double> known) {
  const int D = series.dimension;
  const std::size_t n = series.size();
  const std::vector<double> noise =
      known.size() == Size(D) ? std::vector<double>(known.begin(), known.end()) : NoiseVariances(series);
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

// The winner's states smoothed for the integral form, and its span.
struct IntegralSetup {
  Derivatives smooth;
  std::vector<double> smoothing;
  int span = 0;
};

IntegralSetup SetUpIntegral(const Series& series, const SearchSettings& settings, const SearchCandidate& best,
                            const Derivatives* fits) {
  IntegralSetup out;
  const int degree = IntegralDegree(best);
  out.smooth = fits != nullptr && degree == best.degree
                   ? *fits
                   : LocalFits(series.values, series.dimension, best.points, degree, settings.dt);
  out.smoothing = FitWeights(best.points, degree, (best.points - 1) / 2).value;
  out.span = std::min(CorrelationHorizon(series, 0), out.smooth.rows - 4);
  return out;
}

// Stretches of span starts for the batch means of the integral form, each at
// least this many spans long; with fewer than the least the spread is too
// uncertain to judge a term by.
constexpr int kMostStretches = 16, kLeastStretches = 8, kSpansPerStretch = 4;
// |coefficient| / standard error beyond which a term is clearly there: the
// 0.1 % two-sided point of Student's t with 7 to 15 degrees of freedom is 4.1 to 5.4.
constexpr double kClearlySignificant = 5.0;
// Most distinct candidates judged.
constexpr int kMostJudged = 8;

// The kept terms of `c` by equation and name.
std::set<std::pair<int, std::string>> NamedTerms(const SearchCandidate& c, int D, double dt) {
  std::set<std::pair<int, std::string>> named;
  for (int i = 0; i < D; ++i) {
    const std::vector<std::string> names = TermNames(EquationShape(c.equations[Size(i)], D, dt), D);
    for (const int t : c.supports[Size(i)]) named.emplace(i, names[Size(t)]);
  }
  return named;
}

// Whether a term is linear in the state (a variable alone).
bool Linear(const std::string& name) {
  return name.size() > 1 && name[0] == 'x' && name.find_first_of("*^") == std::string::npos;
}

// Whether the terms `extra` of `c` are all clearly significant in the
// integral form over the whole series; false when some equation has no
// integral form or the series is too short for the batch means.
bool SignificantTerms(const Series& series, const SearchSettings& settings, const SearchCandidate& c,
                      const std::set<std::pair<int, std::string>>& extra) {
  const int D = series.dimension;
  for (const EquationSpec& spec : c.equations) {
    if (!HasIntegralForm(spec.family)) return false;
  }
  const IntegralSetup setup = SetUpIntegral(series, settings, c, nullptr);
  if (setup.span < 1) return false;
  const int stretches = std::min(kMostStretches, (setup.smooth.rows - setup.span) / (kSpansPerStretch * setup.span));
  if (stretches < kLeastStretches) return false;
  for (int i = 0; i < D; ++i) {
    const ModelEquation eq = EquationShape(c.equations[Size(i)], D, settings.dt);
    const std::vector<std::string> names = TermNames(eq, D);
    const SubsetFit fit = BlockedIntegralFit(setup.smooth, eq, i, c.supports[Size(i)], setup.span, settings.dt,
                                             setup.smoothing, stretches);
    if (fit.singular) return false;
    for (std::size_t k = 0; k < fit.columns.size(); ++k) {
      if (!extra.count({i, names[Size(fit.columns[k])]})) continue;
      if (!(std::fabs(fit.coefficients[k]) > kClearlySignificant * fit.standardErrors[k])) return false;
    }
  }
  return true;
}

}  // namespace

void PreferSignificantTerms(const Series& series, const SearchSettings& settings,
                            std::vector<SearchCandidate>& ranked, int starts, int horizon,
                            std::span<const double> noise) {
  if (ranked.empty() || !api::IsPlain(series) || !Noisy(series, noise)) return;
  const int D = series.dimension;
  const double resolution = TieResolution(starts, horizon, D);
  std::set<std::set<std::pair<int, std::string>>> judged;
  for (std::size_t k = 1; k < ranked.size() && static_cast<int>(judged.size()) < kMostJudged; ++k) {
    const SearchCandidate& best = ranked.front();
    const SearchCandidate& c = ranked[k];
    if (c.terms <= best.terms || !(c.score <= best.score + best.noiseFloor * resolution)) continue;
    const std::set<std::pair<int, std::string>> own = NamedTerms(best, D, settings.dt);
    const std::set<std::pair<int, std::string>> larger = NamedTerms(c, D, settings.dt);
    if (!std::includes(larger.begin(), larger.end(), own.begin(), own.end())) continue;
    std::set<std::pair<int, std::string>> extra;
    std::set_difference(larger.begin(), larger.end(), own.begin(), own.end(), std::inserter(extra, extra.end()));
    if (!std::all_of(extra.begin(), extra.end(), [](const auto& term) { return Linear(term.second); })) continue;
    if (!judged.insert(larger).second || !SignificantTerms(series, settings, c, extra)) continue;
    std::rotate(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(k),
                ranked.begin() + static_cast<std::ptrdiff_t>(k + 1));
  }
}

WinnerFit FitWinner(const Series& series, const SearchSettings& settings, const SearchCandidate& best,
                    std::span<const double> noise, bool errors) {
  const int D = series.dimension;
  // Several recordings: each differentiated on its own by line fits, the rows stacked.
  const Sampling sampling = SeriesSampling(series, series.times.empty() ? settings.dt : 0.0);
  Derivatives all = api::IsPlain(series) ? LocalFits(series.values, D, best.points, best.degree, settings.dt)
                                               : api::DifferentiatePieces(series, sampling, best.points);
  // The coefficients, and the driving period, from the integral form over
  // the series' correlation time (integral_refit.h); the standard errors and
  // condition stay those of the slope fit, which the overlapping spans would
  // understate.
  // On clean data (noise below 0.01 % of every variable's spread) the slope
  // fit is the more accurate: its bias is far below the integral form's
  // smoothing of nonlinear terms (1e-6 on clean Lorenz at dt 0.002).
  IntegralSetup setup;
  if (api::IsPlain(series) && Noisy(series, noise)) setup = SetUpIntegral(series, settings, best, &all);
  const Derivatives& smooth = setup.smooth;
  const int span = setup.span;
  const std::vector<double>& smoothing = setup.smoothing;
  const auto integral = [&](const ModelEquation& eq, const SubsetFit& fit) {
    return span >= 1 && HasIntegralForm(eq.family) && !fit.columns.empty() && !fit.singular;
  };
  WinnerFit out;
  out.model.recordings = sampling.recordings;
  for (int i = 0; i < D; ++i) {
    if (best.equations[Size(i)].family == ModelFamily::DrivenPolynomial) out.period = best.equations[Size(i)].period;
  }
  if (out.period > 0.0) {
    // One bin of the spectrum the period came from, either side.
    const double length = series.size() * settings.dt;
    const double shortest = DrivingAngle(out.period * (1.0 + out.period / length), settings.dt);
    const double longest = DrivingAngle(out.period * (1.0 - out.period / length), settings.dt);
    // Driven equations that keep the whole driving pair and some other term
    // get their residual from scans (model/driving_scan.h): the other terms'
    // factor once, the pair added per trial period; the integral form's
    // starts have the pair filtered alike but at the first and the last.
    std::vector<std::unique_ptr<PairScan>> slopes(Size(D)), integrals(Size(D));
    const bool scanned = out.period < length && longest < 3.0;  // below pi, with room for the widened reach
    for (int i = 0; i < D && scanned; ++i) {
      if (best.equations[Size(i)].family != ModelFamily::DrivenPolynomial) continue;
      ModelEquation eq;
      const std::vector<int> others = OtherTerms(D, settings.dt, best, i, out.period, eq);
      if (others.empty()) continue;
      const double centre = 0.5 * (shortest + longest), reach = 0.5 * (longest - shortest) * (1.0 + 1e-6) + 1e-15;
      slopes[Size(i)] = ScanSlopes(all, D, eq, i, others);
      slopes[Size(i)]->scan.Centre(centre, reach);
      if (span >= 1 && smooth.rows - span > 3) {
        integrals[Size(i)] = ScanIntegrals(smooth, eq, i, others, span, settings.dt, smoothing);
        integrals[Size(i)]->scan.Centre(centre, reach);
      }
    }
    const auto rss = [&](double period) {
      double sum = 0.0;
      ModelEquation eq;
      const double w = DrivingAngle(period, settings.dt);
      for (int i = 0; i < D; ++i) {
        if (best.equations[Size(i)].family != ModelFamily::DrivenPolynomial) continue;
        if (slopes[Size(i)]) {
          // Infinite when the pair depends on the other terms: the slope fit is singular.
          const double slope = slopes[Size(i)]->scan.Rss(w);
          if (!integrals[Size(i)] || !std::isfinite(slope)) {
            sum += slope;
            continue;
          }
          const DrivingSpanScales pair = DrivingSpanIntegrals(w, smooth.rows, span, settings.dt, smoothing);
          const int last = smooth.rows - span - 1;
          const DrivingScan::RowScale ends[] = {{0, pair.first}, {last, pair.last}};
          sum += integrals[Size(i)]->scan.Rss(w, pair.inner, ends);
          continue;
        }
        SubsetFit fit = FitOne(all, D, settings.dt, best, i, period, eq);
        if (integral(eq, fit)) fit = IntegralFit(smooth, eq, i, fit.columns, span, settings.dt, smoothing);
        sum += fit.singular ? kInfinity : fit.rss;
      }
      return sum;
    };
    out.period = RefineWithinOneBin(rss, out.period, length);
  }
  Model& model = out.model;
  model.dt = settings.dt;
  model.points = best.points;
  model.train = static_cast<int>(series.size());
  std::vector<double> y(errors ? Size(all.rows) : 0);
  out.integralEquations.assign(Size(D), false);
  out.integralColumns.resize(Size(D));
  out.integralRows.resize(Size(D));
  // Equations of one polynomial shape share its summary, as in the search's
  // tasks (a rational's design holds its own target; a driven one is fitted
  // at the refined period).
  std::map<std::string, TriangularSummary> shared;
  std::vector<int> targets(Size(D));
  std::iota(targets.begin(), targets.end(), 0);
  SummaryOptions options;
  options.kernels = &fold::FusedKernels();
  for (int i = 0; i < D; ++i) {
    ModelEquation eq;
    const EquationSpec& spec = best.equations[Size(i)];
    SubsetFit fit;
    if (spec.family == ModelFamily::StandardPolynomial || spec.family == ModelFamily::ReducedPolynomial) {
      eq = EquationShape(spec, D, settings.dt);
      const std::string key = FormatEquationSpec(spec);
      auto found = shared.find(key);
      if (found == shared.end()) {
        found = shared.emplace(key, SummariseDesign(eq, all.states, D, all.rows, 1, all.slopes, targets, options)).first;
      }
      fit = FitSubset(found->second, i, best.supports[Size(i)]);
    } else {
      fit = FitOne(all, D, settings.dt, best, i, out.period, eq);
    }
    if (fit.singular) throw NumericalError("the chosen terms of equation " + std::to_string(i + 1) + " are dependent on the whole series");
    if (integral(eq, fit)) {
      std::vector<double> rows = IntegralRows(smooth, eq, i, fit.columns, span, settings.dt, smoothing);
      const SubsetFit weak = FitIntegralRows(rows, fit.columns);
      if (!weak.singular) {
        fit.coefficients = weak.coefficients;
        out.integralColumns[Size(i)] = fit.columns;
        out.integralRows[Size(i)] = std::move(rows);
      }
      out.integral = out.integral || !weak.singular;
      out.integralEquations[Size(i)] = !weak.singular;
    }
    ScatterSubsetFit(fit, eq);
    if (errors) {
      for (int r = 0; r < all.rows; ++r) y[Size(r)] = all.slopes[Size(r) * Size(D) + Size(i)];
      api::RunNumerical([&] { ApproximationError(all.states, D, all.rows, 1, y, eq, eq.error); });
    }
    model.equations.push_back(std::move(eq));
  }
  out.rows = std::move(all);
  if (out.integral) {
    out.smooth = std::move(smooth);
    out.span = span;
    out.smoothing = std::move(smoothing);
  }
  return out;
}

}  // namespace odefit::search
