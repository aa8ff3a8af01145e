#pragma once
// Derivative estimates of a series by local straight-line fits.

#include <span>
#include <vector>

namespace odefit {

// The smoothed states and the derivative estimates of a series, row after
// row like Series::values: row r (0-based) belongs to sample r + offset of
// the series, where offset = (points - 1) / 2 (the window's centre for odd
// points; for even points the sample before the centre, which biases a fit
// made from them).
struct Derivatives {
  int dimension = 0;
  int rows = 0;    // n - points + 1
  int offset = 0;  // (points - 1) / 2
  std::vector<double> states;  // rows x dimension
  std::vector<double> slopes;  // rows x dimension, per unit time
};

// Fits a polynomial of `order` (1: a straight line, the classic estimate;
// 3: a cubic, whose bias on smooth data is far smaller, at the price of more
// noise for the same window) over every window of `points` consecutive
// samples of each component of `values` (n vectors of `dimension`
// components, row after row) and returns its value at the window's reference
// sample and its slope there divided by dt. Throws InvalidArgument unless
// 1 <= dimension, values holds n * dimension numbers with
// order + 1 <= points <= n, 1 <= order <= 5, and dt > 0.
Derivatives Differentiate(std::span<const double> values, int dimension, int points, double dt, int order = 1);

// As Differentiate with order 1, for vectors sampled at the given `times`
// (one per vector, strictly increasing): the straight line fitted over every
// window of `points` vectors on the actual times gives the smoothed value at
// the window's reference time and the slope there. On uniform times it
// agrees with Differentiate to rounding. Throws InvalidArgument unless
// times.size() * dimension == values.size(), 2 <= points <= n, and the
// times are finite and increasing.
Derivatives DifferentiateOnTimes(std::span<const double> values, std::span<const double> times, int dimension,
                                 int points);

}  // namespace odefit
