#pragma once
// Spectral lines of a residual series: where a periodic driving shows.

#include <complex>
#include <vector>

namespace odefit::search {

// In-place radix-2 transform; a.size() is a power of two.
void Fft(std::vector<std::complex<double>>& a);
// |sum r_k e^{-i w k}|^2 at angular frequency w (radians per sample).
double Power(const std::vector<double>& r, double w);
// The period in samples of a line standing far above the residual's
// broadband spectrum (between 4 samples and a third of the series), refined
// between the bins; 0 when there is none.
double StrongestLine(const std::vector<double>& residual);

}  // namespace odefit::search
