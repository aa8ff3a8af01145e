#pragma once
// Test support: the series of a recorded run, read and differentiated the
// way the program does, so that its windows can be redrawn and compared with
// the run's expected pixels.

#include <cstddef>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "derivatives/differentiation.h"
#include "format/fixed_format.h"

namespace odefit::testing {

inline std::string FixturePath(std::string_view fixture, std::string_view file) {
  return std::string(ODEFIT_FIXTURES_DIR) + "/" + std::string(fixture) + "/" + std::string(file);
}

// Reads `count` numbers from the series file, after skipping `skip`; empty
// when the file holds fewer or one is unreadable.
inline std::vector<double> ReadSeriesValues(const std::string& path, std::size_t skip, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  std::vector<double> values;
  std::string line;
  std::size_t seen = 0;
  while (values.size() < count && fixed::ReadRecord(in, line)) {
    if (seen++ < skip) continue;
    const std::optional<double> v = fixed::ReadF(line, 20, 10);
    if (!v) return {};
    values.push_back(*v);
  }
  if (values.size() < count) values.clear();
  return values;
}

// The smoothed values and derivatives of a D x n series, D x (n - m + 1) each.
struct Differentiated {
  std::vector<double> values, derivatives;
  int columns = 0;
};

inline Differentiated DifferentiateRows(const std::vector<double>& series, int D, int n, int m, double dt) {
  Differentiated out;
  out.columns = n - m + 1;
  const std::size_t d = static_cast<std::size_t>(D), cols = static_cast<std::size_t>(out.columns);
  out.values.resize(d * cols);
  out.derivatives.resize(d * cols);
  std::vector<double> row(static_cast<std::size_t>(n)), v(cols), g(cols);
  for (std::size_t i = 0; i < d; ++i) {
    for (std::size_t k = 0; k < row.size(); ++k) row[k] = series[i + k * d];
    DifferentiateSeries(row, n, m, 1, dt, v, g);
    for (std::size_t k = 0; k < cols; ++k) {
      out.values[i + k * d] = v[k];
      out.derivatives[i + k * d] = g[k];
    }
  }
  return out;
}

}  // namespace odefit::testing
