#include "odefit/intervals.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "api/recordings.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

// splitmix64: the same numbers on every platform, unlike the standard distributions.
std::uint64_t NextRandom(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

CoefficientIntervals FitIntervals(const Series& series, const FitSettings& settings, const Model& model,
                                  const IntervalSettings& intervals) {
  if (!api::IsPlain(series)) {
    throw InvalidArgument("coefficient intervals need one uniformly sampled recording without time stamps");
  }
  if (intervals.replicates < 2) throw InvalidArgument("coefficient intervals need at least 2 replicates");
  ValidateModel(model);
  const int D = series.dimension;
  if (model.Dimension() != D) throw InvalidArgument("the model and the series have different dimensions");
  const std::size_t n = settings.train ? static_cast<std::size_t>(*settings.train) : series.size();
  const std::size_t length = std::max<std::size_t>(n / 15, 4 * static_cast<std::size_t>(settings.points));
  const std::size_t blocks = n / length;
  if (blocks < 2 || n > series.size()) {
    throw InvalidArgument("coefficient intervals need at least " + std::to_string(2 * length) + " training vectors");
  }
  // The slopes' bias by extrapolation over the sampling interval: every
  // error of a window's line fit of fixed points grows as dt^2, so the same
  // fit on every other vector has about 4 times the bias, whatever the
  // window's own mix of slope and state errors.
  Series coarse;
  coarse.dimension = D;
  for (std::size_t k = 0; k < n; k += 2) {
    const auto first = series.values.begin() + static_cast<std::ptrdiff_t>(k * D);
    coarse.values.insert(coarse.values.end(), first, first + D);
  }
  FitSettings coarser = settings;
  coarser.dt = 2.0 * settings.dt;
  coarser.train.reset();
  const Model coarseModel = FitModel(coarse, coarser);

  // Sums and sums of squares of every coefficient over the replicates.
  std::vector<std::vector<double>> sum(static_cast<std::size_t>(D)), squares(static_cast<std::size_t>(D));
  for (int i = 0; i < D; ++i) {
    sum[i].assign(model.equations[i].coef.size(), 0.0);
    squares[i].assign(model.equations[i].coef.size(), 0.0);
  }
  std::uint64_t state = intervals.seed;
  FitSettings resampled = settings;
  resampled.train.reset();
  for (int r = 0; r < intervals.replicates; ++r) {
    Series blocksSeries;
    blocksSeries.dimension = D;
    for (std::size_t b = 0; b < blocks; ++b) {
      const std::size_t start = NextRandom(state) % (n - length + 1);
      if (b > 0) blocksSeries.breaks.push_back(b * length);
      const auto first = series.values.begin() + static_cast<std::ptrdiff_t>(start * D);
      blocksSeries.values.insert(blocksSeries.values.end(), first, first + static_cast<std::ptrdiff_t>(length * D));
    }
    const Model refit = FitModel(blocksSeries, resampled);
    for (int i = 0; i < D; ++i) {
      for (std::size_t k = 0; k < sum[i].size(); ++k) {
        const double c = refit.equations[i].coef[k];
        sum[i][k] += c;
        squares[i][k] += c * c;
      }
    }
  }
  CoefficientIntervals result;
  const double R = intervals.replicates;
  const double z = 1.959963984540054;  // the normal quantile of kIntervalLevel
  const double biasShare = 1.0 / 3.0;
  for (int i = 0; i < D; ++i) {
    const ModelEquation& eq = model.equations[i];
    std::vector<double> lower(eq.coef.size()), upper(eq.coef.size());
    for (std::size_t k = 0; k < eq.coef.size(); ++k) {
      const double se = eq.standardErrors.size() == eq.coef.size() && std::isfinite(eq.standardErrors[k])
                            ? eq.standardErrors[k]
                            : 0.0;
      const bool dropped = eq.coef[k] == 0.0 && se == 0.0;
      const double mean = sum[i][k] / R;
      const double variance = std::max(0.0, (squares[i][k] - R * mean * mean) / (R - 1));
      const double bias = (coarseModel.equations[i].coef[k] - eq.coef[k]) * biasShare;
      const double half = z * std::sqrt(se * se + variance) + 3.0 * std::fabs(bias);
      lower[k] = dropped ? std::numeric_limits<double>::quiet_NaN() : eq.coef[k] - half;
      upper[k] = dropped ? std::numeric_limits<double>::quiet_NaN() : eq.coef[k] + half;
    }
    result.lower.push_back(std::move(lower));
    result.upper.push_back(std::move(upper));
  }
  return result;
}

void SetIntervals(Model& model, const CoefficientIntervals& intervals) {
  const std::size_t D = model.equations.size();
  if (intervals.lower.size() != D || intervals.upper.size() != D) {
    throw InvalidArgument("the intervals are not those of the model's " + std::to_string(D) + " equations");
  }
  for (std::size_t i = 0; i < D; ++i) {
    if (intervals.lower[i].size() != model.equations[i].coef.size() ||
        intervals.upper[i].size() != model.equations[i].coef.size()) {
      throw InvalidArgument("the intervals of equation " + std::to_string(i + 1) + " are not one per coefficient");
    }
  }
  model.intervalLevel = intervals.level;
  for (std::size_t i = 0; i < D; ++i) {
    model.equations[i].intervalLower = intervals.lower[i];
    model.equations[i].intervalUpper = intervals.upper[i];
  }
}

}  // namespace odefit
