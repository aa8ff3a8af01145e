#pragma once
// Time series: D-dimensional state vectors sampled at a fixed interval.

#include <cstddef>
#include <string>
#include <vector>

namespace odefit {

// A series of vectors, stored row after row: component i (0-based) of vector
// n (0-based) is values[n * dimension + i]. This is the layout of a C-ordered
// (n, D) array, and of the D x n column-major arrays the numerical routines
// take.
struct Series {
  int dimension = 0;
  std::vector<double> values;
  std::vector<std::string> names;  // one per component when the source named them, else empty

  // The number of whole vectors.
  std::size_t size() const { return dimension > 0 ? values.size() / static_cast<std::size_t>(dimension) : 0; }
};

// Reads the classic series file: one value per line in its first 20
// characters (a value without a decimal point has 10 implied decimals), the
// D components of each vector on consecutive lines; a last incomplete vector
// is dropped. Throws InputError naming the file and line of the first value
// that cannot be read, or when the file cannot be opened or holds no vector;
// InvalidArgument unless 1 <= dimension <= 9.
Series ReadClassicSeries(const std::string& path, int dimension);

}  // namespace odefit
