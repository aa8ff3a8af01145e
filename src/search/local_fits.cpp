#include "search/local_fits.h"

#include <vector>

#include "api/numerical_errors.h"
#include "derivatives/differentiation.h"

namespace odefit::search {

Derivatives LineFits(std::span<const double> values, int D, int points, double dt) {
  const std::size_t d = static_cast<std::size_t>(D);
  const std::size_t n = values.size() / d;
  Derivatives result;
  result.dimension = D;
  result.rows = static_cast<int>(n) - points + 1;
  result.offset = (points - 1) / 2;
  const std::size_t rows = static_cast<std::size_t>(result.rows);
  result.states.resize(rows * d);
  result.slopes.resize(rows * d);
  std::vector<double> component(n), smoothed(rows), slope(rows);
  api::RunNumerical([&] {
    for (std::size_t i = 0; i < d; ++i) {
      for (std::size_t k = 0; k < n; ++k) component[k] = values[k * d + i];
      DifferentiateSeries(component, static_cast<int>(n), points, 1, dt, smoothed, slope);
      for (std::size_t r = 0; r < rows; ++r) {
        result.states[r * d + i] = smoothed[r];
        result.slopes[r * d + i] = slope[r];
      }
    }
  });
  return result;
}

}  // namespace odefit::search
