#include "search/driving_period.h"

#include <numeric>
#include <span>
#include <vector>

#include "api/equation_shape.h"
#include "model/design.h"
#include "model/monomials.h"
#include "model/sparse_regression.h"
#include "search/local_fits.h"
#include "search/search_common.h"
#include "search/spectrum.h"

namespace odefit::search {

double DetectDrivingPeriod(const Series& series, double dt, int order) {
  const int D = series.dimension;
  const int m = 3;
  const Derivatives d = LocalFits(series.values, D, m, 1, dt);
  ModelEquation shape = EquationShape(EquationSpec{ModelFamily::StandardPolynomial, order}, D, dt);
  if (shape.nterms * 4 > d.rows) return 0.0;
  std::vector<int> targets(Size(D));
  std::iota(targets.begin(), targets.end(), 0);
  const TriangularSummary summary = SummariseDesign(shape, d.states, D, d.rows, 1, d.slopes, targets);
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
  return best;
}

}  // namespace odefit::search
