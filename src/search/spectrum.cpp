#include "search/spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace odefit::search {
namespace {

// The textbook product, as std::complex's operator* forms it for finite
// values, without its call that mends infinite and NaN parts (which the
// compiler cannot leave out, and which costs more than the product).
inline std::complex<double> Times(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

}  // namespace

void Fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * M_PI / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0);
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k], v = Times(a[i + k + len / 2], w);
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w = Times(w, step);
      }
    }
  }
}

double Power(const std::vector<double>& r, double w) {
  std::complex<double> sum = 0.0;
  const std::complex<double> step(std::cos(w), -std::sin(w));
  std::complex<double> phase = 1.0;
  for (std::size_t k = 0; k < r.size(); ++k) {
    sum += r[k] * phase;
    phase = Times(phase, step);
    if ((k & 1023) == 1023) phase /= std::abs(phase);
  }
  return std::norm(sum);
}

double StrongestLine(const std::vector<double>& residual) {
  const std::size_t n = residual.size();
  std::size_t size = 1;
  while (size < 2 * n) size <<= 1;
  std::vector<std::complex<double>> a(size);
  double mean = 0.0;
  for (const double v : residual) mean += v / static_cast<double>(n);
  for (std::size_t k = 0; k < n; ++k) a[k] = residual[k] - mean;
  Fft(a);
  // Periods from 4 samples to a third of the series.
  const std::size_t lo = std::max<std::size_t>(1, 3 * size / n), hi = size / 4;
  if (lo + 4 >= hi) return 0.0;
  std::vector<double> power(size / 2);
  for (std::size_t k = 0; k < power.size(); ++k) power[k] = std::norm(a[k]);
  std::size_t peak = lo;
  for (std::size_t k = lo; k < hi; ++k) {
    if (power[k] > power[peak]) peak = k;
  }
  std::vector<double> band(power.begin() + static_cast<std::ptrdiff_t>(lo), power.begin() + static_cast<std::ptrdiff_t>(hi));
  std::nth_element(band.begin(), band.begin() + static_cast<std::ptrdiff_t>(band.size() / 2), band.end());
  const double median = band[band.size() / 2];
  // A forcing stands hundreds of times above the broadband residual.
  if (!(power[peak] > 400.0 * median)) return 0.0;
  // Refine the frequency between the neighbouring bins by golden section.
  std::vector<double> r(n);
  for (std::size_t k = 0; k < n; ++k) r[k] = residual[k] - mean;
  double a0 = 2.0 * M_PI * (static_cast<double>(peak) - 1.0) / static_cast<double>(size);
  double b0 = 2.0 * M_PI * (static_cast<double>(peak) + 1.0) / static_cast<double>(size);
  const double g = 0.5 * (std::sqrt(5.0) - 1.0);
  double c = b0 - g * (b0 - a0), d = a0 + g * (b0 - a0);
  double fc = Power(r, c), fd = Power(r, d);
  for (int it = 0; it < 40; ++it) {
    if (fc > fd) {
      b0 = d;
      d = c;
      fd = fc;
      c = b0 - g * (b0 - a0);
      fc = Power(r, c);
    } else {
      a0 = c;
      c = d;
      fc = fd;
      d = a0 + g * (b0 - a0);
      fd = Power(r, d);
    }
  }
  return 2.0 * M_PI / (0.5 * (a0 + b0));
}

}  // namespace odefit::search
