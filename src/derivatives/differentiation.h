#pragma once
// Local least-squares differentiation of one sampled component.
//
// Window i (1-based, i = 1..N - m + 1) covers samples i..i + m - 1 at local
// abscissae t = r - 1 - p, r = 1..m, p = (m - 1) / 2 (truncating): its
// reference sample t = 0 is sample i + p, the centre for odd m and one sample
// before the centre for even m. A polynomial of order K fitted over the
// window gives the smoothed value (its value at t = 0) and the derivative
// estimate (its slope divided by dt).

#include <span>

namespace odefit {

// Smooths and differentiates X(1..N) over every window of m points into V, G.
// Requires 2 <= m <= N and K >= 1. X is read only; V and G receive N - m + 1
// values each, V(i) and G(i) (per unit time) belonging to window i. Work
// storage depends on m and K only.
void DifferentiateSeries(std::span<const double> X, int N, int m, int K, double dt,
                         std::span<double> V, std::span<double> G);

}  // namespace odefit
