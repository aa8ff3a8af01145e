#include "search/winner_fit.h"

#include <string>
#include <vector>

#include "api/equation_shape.h"
#include "api/numerical_errors.h"
#include "model/design.h"
#include "model/model_fit.h"
#include "model/sparse_regression.h"
#include "search/local_fits.h"
#include "search/search_common.h"

namespace odefit::search {

Model FitWinner(const Series& series, const SearchSettings& settings, const SearchCandidate& best) {
  const int D = series.dimension;
  const Derivatives all = LocalFits(series.values, D, best.points, best.degree, settings.dt);
  Model model;
  model.dt = settings.dt;
  model.points = best.points;
  model.train = static_cast<int>(series.size());
  std::vector<double> y(Size(all.rows));
  for (int i = 0; i < D; ++i) {
    ModelEquation eq = EquationShape(best.equations[Size(i)], D, settings.dt);
    const int one[] = {i};
    const TriangularSummary summary = SummariseDesign(eq, all.states, D, all.rows, 1, all.slopes, one);
    const SubsetFit fit = FitSubset(summary, 0, best.supports[Size(i)]);
    if (fit.singular) throw NumericalError("the chosen terms of equation " + std::to_string(i + 1) + " are dependent on the whole series");
    eq.coef.assign(Size(eq.nterms), 0.0);
    eq.standardErrors.assign(Size(eq.nterms), 0.0);
    for (std::size_t k = 0; k < fit.columns.size(); ++k) {
      eq.coef[Size(fit.columns[k])] = fit.coefficients[k];
      eq.standardErrors[Size(fit.columns[k])] = fit.standardErrors[k];
    }
    eq.condition = fit.condition;
    for (int r = 0; r < all.rows; ++r) y[Size(r)] = all.slopes[Size(r) * Size(D) + Size(i)];
    api::RunNumerical([&] { ApproximationError(all.states, D, all.rows, 1, y, eq, eq.error); });
    model.equations.push_back(std::move(eq));
  }
  return model;
}

}  // namespace odefit::search
