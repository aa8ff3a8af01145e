#pragma once
// The observation-noise level of each component, from the high-frequency
// end of its spectrum.

#include <vector>

#include "odefit/series.h"

namespace odefit::search {

// The variance of white observation noise in each component. The second
// differences of the series, tapered (Hann), have a periodogram whose
// expected value is sigma^2 (2 sin(w / 2))^4 wherever the dynamics have no
// power left; the median over the top fifth of the frequencies, divided by
// that factor and by ln 2 (the median of an exponential variable), estimates
// sigma^2. A smooth (oversampled) signal has next to no power there, so clean
// data give about 0; differencing and the taper keep the leakage of the
// signal's large low-frequency power out of that band.
std::vector<double> NoiseVariances(const Series& series);

}  // namespace odefit::search
