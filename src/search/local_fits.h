#pragma once
// Smoothed states and slopes of every component by local polynomial fits,
// as the search uses them.

#include <span>

#include "odefit/differentiation.h"

namespace odefit::search {

// The straight-line fits of the classic estimate over windows of `points`
// samples (what Differentiate returns for order 1), without its checks: the
// search has made them.
Derivatives LineFits(std::span<const double> values, int D, int points, double dt);

}  // namespace odefit::search
