#pragma once
// The fitted model's right-hand side, the one routine every integrator calls.

#include <span>

namespace odefit {

// Computes DY(1..N) = f(T, Y) from the process-wide model table: equation i by
// its family, the driven family at the sample index nint(T / dt), the rational
// family with its denominator kept at least DenominatorFloor away from zero.
// Reads the table only; allocates nothing.
void ModelRhs(int N, double T, std::span<const double> Y, std::span<double> DY);

}  // namespace odefit
