#include "search/prediction_score.h"

#include <algorithm>
#include <cmath>

#include "integration/integrators.h"
#include "integration/model_rhs.h"
#include "search/search_common.h"

namespace odefit::search {
namespace {

// A squared normalised prediction error counts at most this much: a diverged
// prediction is as wrong as one four standard deviations off, no worse.
constexpr double kErrorCap = 4.0;

}  // namespace

Scoring MakeScoring(const Series& series, const SearchPlan& plan, double fraction) {
  Scoring scoring;
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  const int split = SplitSample(n, fraction);
  const int widest = *std::max_element(plan.points.begin(), plan.points.end());
  scoring.D = D;
  scoring.horizon = plan.horizon;
  // The earliest start whose smoothed state comes from held-out samples only
  // for every window tried.
  const int first = split + (widest - 1) / 2;
  const int last = n - 1 - plan.horizon - (widest - 1) / 2;
  if (last >= first) {
    const int count = std::min(kMaxStarts, std::max(1, (last - first) / std::max(1, plan.horizon / 2) + 1));
    for (int k = 0; k < count; ++k) {
      scoring.starts.push_back(count == 1 ? first : first + static_cast<int>((static_cast<long long>(last - first) * k) / (count - 1)));
    }
  }
  scoring.scale.assign(Size(D), 0.0);
  for (int i = 0; i < D; ++i) {
    double mean = 0.0, var = 0.0;
    for (int k = split; k < n; ++k) mean += series.values[Size(k) * Size(D) + Size(i)] / (n - split);
    for (int k = split; k < n; ++k) {
      const double v = series.values[Size(k) * Size(D) + Size(i)] - mean;
      var += v * v / (n - split);
    }
    scoring.scale[Size(i)] = var > 0.0 ? 1.0 / var : 0.0;
  }
  return scoring;
}

double PredictionScore(const Model& model, const Series& series, const Derivatives& derivatives, int points,
                       const Scoring& scoring) {
  const int D = scoring.D;
  const int p = (points - 1) / 2;
  const ModelRightHandSide rhs(model);
  std::vector<double> Y(Size(D)), work(5 * Size(D));
  double total = 0.0;
  for (const int start : scoring.starts) {
    const int row = start - p;
    for (int i = 0; i < D; ++i) Y[Size(i)] = derivatives.states[Size(row) * Size(D) + Size(i)];
    double T = (row + 1) * model.dt;
    bool lost = false;
    for (int j = 1; j <= scoring.horizon; ++j) {
      if (!lost) {
        Rk4Integrate(rhs, D, Y, T, T + model.dt, model.dt, work);
        double L1 = 0.0;
        for (const double v : Y) L1 += std::fabs(v);
        lost = !(L1 < BlowUpLimit);
      }
      for (int i = 0; i < D; ++i) {
        double e = kErrorCap;
        if (!lost) {
          const double diff = Y[Size(i)] - series.values[Size(start + j) * Size(D) + Size(i)];
          e = std::min(kErrorCap, diff * diff * scoring.scale[Size(i)]);
          if (!(e >= 0.0)) e = kErrorCap;
        }
        total += e;
      }
    }
  }
  const double count = static_cast<double>(scoring.starts.size()) * scoring.horizon * D;
  return count > 0 ? total / count : kInfinity;
}

}  // namespace odefit::search
