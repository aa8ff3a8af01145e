#include "search/spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

#include "model/driving_scan.h"

namespace odefit::search {
namespace {

// The textbook product, as std::complex's operator* forms it for finite
// values, without its call that mends infinite and NaN parts (which the
// compiler cannot leave out, and which costs more than the product).
inline std::complex<double> Times(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// e^{-2 pi i k / n} for k < count: each a coarse angle's pair times a fine
// one's (two roundings), not a running product.
std::vector<std::complex<double>> Twiddles(std::size_t n, std::size_t count) {
  constexpr std::size_t fine = 64;
  const auto turn = [n](std::size_t k) {
    const double angle = -2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n);
    return std::complex<double>(std::cos(angle), std::sin(angle));
  };
  std::vector<std::complex<double>> small(fine), out(count);
  for (std::size_t k = 0; k < fine; ++k) small[k] = turn(k);
  for (std::size_t coarse = 0; coarse < count; coarse += fine) {
    const std::complex<double> base = turn(coarse);
    for (std::size_t k = coarse; k < std::min(count, coarse + fine); ++k) {
      out[k] = k == coarse ? base : Times(base, small[k - coarse]);
    }
  }
  return out;
}

// |X_k|^2 for k < size / 2, X the transform of x zero-padded to `size` (a
// power of two >= 2, at least x.size()): one complex transform of half the
// size, the even samples as real parts and the odd ones as imaginary, then
// the two halves' spectra separated and joined.
std::vector<double> RealPowerSpectrum(const std::vector<double>& x, std::size_t size) {
  const std::size_t half = size / 2;
  std::vector<std::complex<double>> z(half);
  for (std::size_t k = 0; k < half; ++k) {
    z[k] = {2 * k < x.size() ? x[2 * k] : 0.0, 2 * k + 1 < x.size() ? x[2 * k + 1] : 0.0};
  }
  Fft(z);
  const std::vector<std::complex<double>> w = Twiddles(size, half);
  std::vector<double> power(half);
  for (std::size_t k = 0; k < half; ++k) {
    const std::complex<double> a = z[k], b = std::conj(z[(half - k) % half]);
    const std::complex<double> even = 0.5 * (a + b), odd = std::complex<double>(0.0, -0.5) * (a - b);
    power[k] = std::norm(even + Times(w[k], odd));
  }
  return power;
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
  // The twiddles once, so the butterflies of a pass do not wait on one another.
  const std::size_t halfSize = n / 2;
  const std::vector<std::complex<double>> twiddle = Twiddles(n, halfSize);
  std::vector<std::complex<double>> pass(halfSize);  // this pass's twiddles, side by side
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::size_t stride = n / len;
    for (std::size_t k = 0; k < len / 2; ++k) pass[k] = twiddle[k * stride];
    // Parts as plain doubles: std::complex's pair goes through memory as
    // halves and back as a whole, which stalls every butterfly.
    double* x = reinterpret_cast<double*>(a.data());
    const double* t = reinterpret_cast<const double*>(pass.data());
    for (std::size_t i = 0; i < n; i += len) {
      double* lo = x + 2 * i;
      double* hi = lo + len;
      for (std::size_t k = 0; k < len / 2; ++k) {
        const double hr = hi[2 * k], hm = hi[2 * k + 1], tr = t[2 * k], tm = t[2 * k + 1];
        const double vr = hr * tr - hm * tm, vm = hr * tm + hm * tr;
        const double ur = lo[2 * k], um = lo[2 * k + 1];
        lo[2 * k] = ur + vr;
        lo[2 * k + 1] = um + vm;
        hi[2 * k] = ur - vr;
        hi[2 * k + 1] = um - vm;
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
  double mean = 0.0;
  for (const double v : residual) mean += v / static_cast<double>(n);
  std::vector<double> r(n);
  for (std::size_t k = 0; k < n; ++k) r[k] = residual[k] - mean;
  const std::vector<double> power = RealPowerSpectrum(r, size);
  // Periods from 4 samples to a third of the series.
  const std::size_t lo = std::max<std::size_t>(1, 3 * size / n), hi = size / 4;
  if (lo + 4 >= hi) return 0.0;
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
  double a0 = 2.0 * M_PI * (static_cast<double>(peak) - 1.0) / static_cast<double>(size);
  double b0 = 2.0 * M_PI * (static_cast<double>(peak) + 1.0) / static_cast<double>(size);
  // The transform's sums at every trial frequency from the bin's sums turned
  // once (model/driving_scan.h), a small fraction of a pass over the series each.
  TurnedSums sums;
  sums.Centre(r, static_cast<int>(n), 1, 0, 0.5 * (a0 + b0), 0.5 * (b0 - a0) * (1.0 + 1e-9));
  const auto lineAt = [&](double w) {
    double re = 0.0, im = 0.0;
    sums.Sums(w, std::span<double>(&re, 1), std::span<double>(&im, 1));
    return re * re + im * im;
  };
  const double g = 0.5 * (std::sqrt(5.0) - 1.0);
  double c = b0 - g * (b0 - a0), d = a0 + g * (b0 - a0);
  double fc = lineAt(c), fd = lineAt(d);
  for (int it = 0; it < 40; ++it) {
    if (fc > fd) {
      b0 = d;
      d = c;
      fd = fc;
      c = b0 - g * (b0 - a0);
      fc = lineAt(c);
    } else {
      a0 = c;
      c = d;
      fc = fd;
      d = a0 + g * (b0 - a0);
      fd = lineAt(d);
    }
  }
  return 2.0 * M_PI / (0.5 * (a0 + b0));
}

}  // namespace odefit::search
