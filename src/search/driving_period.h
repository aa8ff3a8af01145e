#pragma once
// A periodic driving, found in what a polynomial fit leaves unexplained.

#include "odefit/series.h"

namespace odefit::search {

// Fits a polynomial of `order` to every equation and returns the driving
// period (time units) the residuals show most strongly, or 0.
double DetectDrivingPeriod(const Series& series, double dt, int order);

// The period within a spectral bin of `period` that minimises the squared
// residuals of driven polynomials of `order` fitted to every equation: the
// spectrum places a line only to a fraction of its bin, and a period off by
// 1e-4 turns the driving's phase by a tenth of a radian over the series.
double RefinePeriod(const Series& series, double dt, int order, double period);

}  // namespace odefit::search
