#pragma once
// How far ahead a prediction is scored: the series' correlation time.

#include "odefit/series.h"

namespace odefit::search {

// The lag (samples) at which the mean autocorrelation of the components
// falls to 0.8, at most a quarter of the held-out part after `split`.
int CorrelationHorizon(const Series& series, int split);

}  // namespace odefit::search
