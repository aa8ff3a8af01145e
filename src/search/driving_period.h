#pragma once
// A periodic driving, found in what a polynomial fit leaves unexplained.

#include "odefit/series.h"

namespace odefit::search {

// Fits a polynomial of `order` to every equation and returns the driving
// period (time units) the residuals show most strongly, or 0.
double DetectDrivingPeriod(const Series& series, double dt, int order);

}  // namespace odefit::search
