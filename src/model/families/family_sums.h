#pragma once
// Sums the families' right-hand sides share. Each sum runs in term order from
// 0.0, which fixes its rounding (the integrations' recorded bits).

#include <array>
#include <climits>
#include <cmath>
#include <span>

namespace odefit::family_sums {

inline double Dot(std::span<const double> coef, const double* terms, int count) {
  double sum = 0.0;
  for (int k = 0; k < count; ++k) sum += coef[static_cast<std::size_t>(k)] * terms[k];
  return sum;
}

// The sums of M coefficient rows with the same terms, each in term order as
// Dot forms it; the M sums run in one loop so they overlap in time.
template <int M>
void Dots(const std::array<const double*, 4>& coef, const double* terms, int count, std::span<double> sums) {
  double s[M] = {};
  for (int k = 0; k < count; ++k) {
    for (int m = 0; m < M; ++m) s[m] += coef[m][k] * terms[k];
  }
  for (int m = 0; m < M; ++m) sums[static_cast<std::size_t>(m)] = s[m];
}

// Returns nint(x): the nearest integer, halves away from zero, kept within int.
inline int NearestSample(double x) {
  if (!(x > INT_MIN) || !(x < INT_MAX)) return x > 0 ? INT_MAX : INT_MIN;
  return static_cast<int>(std::round(x));
}

}  // namespace odefit::family_sums
