#include "odefit/differentiation.h"

#include <string>

#include "api/numerical_errors.h"
#include "derivatives/differentiation.h"

namespace odefit {

Derivatives Differentiate(std::span<const double> values, int dimension, int points, double dt, int order) {
  if (order < 1 || order > 5) throw InvalidArgument("the order of the local fits must be from 1 to 5");
  if (dimension < 1) throw InvalidArgument("the dimension must be positive");
  const std::size_t d = static_cast<std::size_t>(dimension);
  if (values.size() % d != 0) {
    throw InvalidArgument("the series holds " + std::to_string(values.size()) + " numbers, not a multiple of " +
                          std::to_string(dimension));
  }
  const std::size_t n = values.size() / d;
  if (points < 2 || points < order + 1 || static_cast<std::size_t>(points) > n) {
    throw InvalidArgument("the points per window must be from 2 to the " + std::to_string(n) +
                          " vectors of the series, not " + std::to_string(points));
  }
  if (!(dt > 0.0)) throw InvalidArgument("the sampling interval must be positive");
  if (n > static_cast<std::size_t>(INT32_MAX)) throw InvalidArgument("the series has more than 2^31 - 1 vectors");
  Derivatives result;
  result.dimension = dimension;
  result.rows = static_cast<int>(n) - points + 1;
  result.offset = (points - 1) / 2;
  const std::size_t rows = static_cast<std::size_t>(result.rows);
  result.states.resize(rows * d);
  result.slopes.resize(rows * d);
  std::vector<double> component(n), smoothed(rows), slope(rows);
  api::RunNumerical([&] {
    for (std::size_t i = 0; i < d; ++i) {
      for (std::size_t k = 0; k < n; ++k) component[k] = values[k * d + i];
      DifferentiateSeries(component, static_cast<int>(n), points, order, dt, smoothed, slope);
      for (std::size_t r = 0; r < rows; ++r) {
        result.states[r * d + i] = smoothed[r];
        result.slopes[r * d + i] = slope[r];
      }
    }
  });
  return result;
}

}  // namespace odefit
