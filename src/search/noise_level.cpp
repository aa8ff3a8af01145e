#include "search/noise_level.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "api/recordings.h"
#include "search/search_common.h"
#include "search/spectrum.h"

namespace odefit::search {

std::vector<double> NoiseVariances(const Series& series) {
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  std::vector<double> variances(Size(D), 0.0);
  const int count = n - 2;
  if (count < 16) return variances;
  std::size_t size = 1;
  while (size < Size(count)) size <<= 1;
  std::vector<double> taper(Size(count));
  double energy = 0.0;
  for (int k = 0; k < count; ++k) {
    taper[Size(k)] = 0.5 - 0.5 * std::cos(2.0 * M_PI * (k + 0.5) / count);
    energy += taper[Size(k)] * taper[Size(k)];
  }
  // Several recordings or gaps: differences across a join are no noise.
  std::vector<char> inside(Size(count), 1);
  if (!api::IsPlain(series)) {
    const Sampling sampling = SeriesSampling(series, series.times.empty() ? 1.0 : 0.0);
    for (int k = 0; k < count; ++k) inside[Size(k)] = api::WithinOnePiece(sampling, Size(k), 3);
  }
  std::vector<std::complex<double>> a(size);
  std::vector<double> band;
  for (int i = 0; i < D; ++i) {
    std::fill(a.begin(), a.end(), std::complex<double>(0.0));
    for (int k = 0; k < count; ++k) {
      if (!inside[Size(k)]) continue;
      const double x0 = series.values[Size(k) * Size(D) + Size(i)];
      const double x1 = series.values[Size(k + 1) * Size(D) + Size(i)];
      const double x2 = series.values[Size(k + 2) * Size(D) + Size(i)];
      a[Size(k)] = taper[Size(k)] * ((x2 - x1) - (x1 - x0));
    }
    Fft(a);
    band.clear();
    // Frequencies from 0.4 to 0.5 cycles per sample.
    for (std::size_t f = (4 * size) / 10; f <= size / 2; ++f) {
      const double s = 2.0 * std::sin(M_PI * static_cast<double>(f) / static_cast<double>(size));
      band.push_back(std::norm(a[f]) / (energy * s * s * s * s));
    }
    std::nth_element(band.begin(), band.begin() + static_cast<std::ptrdiff_t>(band.size() / 2), band.end());
    variances[Size(i)] = band[band.size() / 2] / std::log(2.0);
  }
  return variances;
}

}  // namespace odefit::search
