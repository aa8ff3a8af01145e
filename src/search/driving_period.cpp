#include "search/driving_period.h"

#include <cmath>
#include <numeric>
#include <span>
#include <vector>

#include "model/equation_shape.h"
#include "model/design.h"
#include "model/driving_scan.h"
#include "model/monomials.h"
#include "model/sparse_regression.h"
#include "search/local_fits.h"
#include "search/search_common.h"
#include "search/spectrum.h"

namespace odefit::search {
namespace {

// The vector unit's kernels with the bits every machine gives (a plan is the same everywhere).
SummaryOptions Fused() {
  SummaryOptions options;
  options.kernels = &fold::FusedKernels();
  return options;
}

}  // namespace

double RefinePeriod(const Series& series, double dt, int order, double period) {
  const int D = series.dimension;
  const Derivatives d = SeriesFits(series, 5, 3, dt);
  if (MonomialCount(order, D) * 4 > d.rows) return period;
  // The driven design's monomials do not depend on the period: their factor
  // with the slopes, and their values, are made once, and each trial period
  // adds only the driving pair (model/driving_scan.h).
  const ModelEquation plain = EquationShape(EquationSpec{ModelFamily::StandardPolynomial, order}, D, dt);
  const int K = plain.nterms;
  std::vector<int> targets(Size(D));
  std::iota(targets.begin(), targets.end(), 0);
  const TriangularSummary summary = SummariseDesign(plain, d.states, D, d.rows, 1, d.slopes, targets, Fused());
  std::vector<double> block(Size(d.rows) * Size(K + D));
  FillMonomialColumns(d.states, D, d.rows, order, block, d.rows);
  for (int t = 0; t < D; ++t) {
    for (int r = 0; r < d.rows; ++r) block[Size(K + t) * Size(d.rows) + Size(r)] = d.slopes[Size(r) * Size(D) + Size(t)];
  }
  DrivingScan scan(summary, block, d.rows, 1);
  // The driving angle per sample of a period, as the driven family makes it.
  const auto angle = [&](double p) { return 4.0 * std::acos(0.0) / p * dt; };
  const auto rss = [&](double p) { return scan.Rss(angle(p)); };
  const double span = static_cast<double>(series.size()) * dt;
  // One bin of the spectrum either side of `line`: the line lies within it.
  // The scan is prepared for the angles of that bin (its ends a little
  // widened, so rounding cannot put a trial outside).
  const auto refine = [&](double line, double& value) {
    const double shortest = angle(line * (1.0 + line / span)), longest = angle(line * (1.0 - line / span));
    if (!(line < span) || !(longest < 3.0)) {  // below pi, with room for the widened reach
      value = kInfinity;
      return line;
    }
    scan.Centre(0.5 * (shortest + longest), 0.5 * (longest - shortest) * (1.0 + 1e-6) + 1e-15);
    const double refined = RefineWithinOneBin(rss, line, span);
    value = rss(refined);
    return refined;
  };
  double least = kInfinity;
  double best = refine(period, least);
  // A period-2 response puts its strongest line at twice the driving's
  // period, a strongly nonlinear one at its harmonics; one sinusoid at the
  // driving's own period fits the driving, at any other it does not. So the
  // harmonics and subharmonics of the line are tried too, and one replaces
  // it when its residuals are clearly (by a tenth) smaller.
  constexpr double kClearlyLess = 0.9;
  for (const double multiple : {1.0 / 3.0, 0.5, 2.0, 3.0}) {
    const double other = period * multiple;
    if (other < 4.0 * dt || other > 0.25 * span) continue;
    double value = kInfinity;
    const double refined = refine(other, value);
    if (value < kClearlyLess * least) {
      best = refined;
      least = value;
    }
  }
  return best;
}

double DetectDrivingPeriod(const Series& series, double dt, int order) {
  const int D = series.dimension;
  const int m = 3;
  const Derivatives d = SeriesFits(series, m, 1, dt);
  ModelEquation shape = EquationShape(EquationSpec{ModelFamily::StandardPolynomial, order}, D, dt);
  if (shape.nterms * 4 > d.rows) return 0.0;
  std::vector<int> targets(Size(D));
  std::iota(targets.begin(), targets.end(), 0);
  const TriangularSummary summary = SummariseDesign(shape, d.states, D, d.rows, 1, d.slopes, targets, Fused());
  std::vector<int> all(Size(shape.nterms));
  std::iota(all.begin(), all.end(), 0);
  std::vector<double> terms(Size(shape.nterms));
  double best = 0.0, bestPower = 0.0;
  for (int t = 0; t < D; ++t) {
    const SubsetFit fit = FitSubset(summary, t, all);
    if (fit.singular) continue;
    std::vector<double> residual(Size(d.rows));
    for (int r = 0; r < d.rows; ++r) {
      FillMonomialTerms(std::span<const double>(d.states).subspan(Size(r) * Size(D), Size(D)), D, order, terms);
      double v = 0.0;
      for (int k = 0; k < shape.nterms; ++k) v += fit.coefficients[Size(k)] * terms[Size(k)];
      residual[Size(r)] = d.slopes[Size(r) * Size(D) + Size(t)] - v;
    }
    const double samples = StrongestLine(residual);
    if (samples <= 0.0) continue;
    double mean = 0.0, energy = 0.0;
    for (const double v : residual) mean += v / static_cast<double>(residual.size());
    for (double& v : residual) {
      v -= mean;
      energy += v * v;
    }
    // The share of the residual's variance one sinusoid at that period
    // carries: a driving carries most of it, a chance line little.
    const double power = Power(residual, 2.0 * M_PI / samples);
    if (!(2.0 * power > 0.25 * static_cast<double>(residual.size()) * energy)) continue;
    if (power > bestPower) {
      bestPower = power;
      best = samples * dt;
    }
  }
  if (best > 0.0) return best;
  // A driving the polynomial has absorbed (a response locked to it is a
  // closed curve, on which the forcing is a function of the state) still
  // shows as the series' own strongest line. Such a line is only a
  // candidate: driven shapes at it must earn their terms on the held-out
  // predictions, and a period is reported only when the best model keeps one.
  for (int i = 0; i < D; ++i) {
    std::vector<double> component(series.size());
    for (std::size_t k = 0; k < component.size(); ++k) component[k] = series.values[k * Size(D) + Size(i)];
    const double samples = StrongestLine(component);
    if (samples > 0.0) {
      const double power = Power(component, 2.0 * M_PI / samples);
      if (power > bestPower) {
        bestPower = power;
        best = samples * dt;
      }
    }
  }
  return best;
}

}  // namespace odefit::search
