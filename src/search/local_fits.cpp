#include "search/local_fits.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "api/recordings.h"
#include "numerics/vector_clones.h"

namespace odefit::search {

LocalFitWeights FitWeights(int points, int degree, int at) {
  const int m = points, q = degree + 1;
  // Abscissae centred and scaled to [-1, 1], so the normal matrix stays well
  // conditioned; long double for the small solve.
  const long double centre = 0.5L * (m - 1), half = m > 1 ? 0.5L * (m - 1) : 1.0L;
  std::vector<long double> V(static_cast<std::size_t>(m * q));
  for (int r = 0; r < m; ++r) {
    const long double t = (r - centre) / half;
    long double p = 1.0L;
    for (int j = 0; j < q; ++j, p *= t) V[static_cast<std::size_t>(r * q + j)] = p;
  }
  // The normal matrix with the identity beside it, inverted by Gauss-Jordan
  // with partial pivoting.
  std::vector<long double> A(static_cast<std::size_t>(q * 2 * q), 0.0L);
  const auto a = [&](int i, int j) -> long double& { return A[static_cast<std::size_t>(i * 2 * q + j)]; };
  for (int i = 0; i < q; ++i) {
    for (int j = 0; j < q; ++j) {
      long double s = 0.0L;
      for (int r = 0; r < m; ++r) s += V[static_cast<std::size_t>(r * q + i)] * V[static_cast<std::size_t>(r * q + j)];
      a(i, j) = s;
    }
    a(i, q + i) = 1.0L;
  }
  for (int c = 0; c < q; ++c) {
    int pivot = c;
    for (int i = c + 1; i < q; ++i) {
      if (std::fabs(a(i, c)) > std::fabs(a(pivot, c))) pivot = i;
    }
    for (int j = 0; j < 2 * q; ++j) std::swap(a(c, j), a(pivot, j));
    const long double d = a(c, c);
    for (int j = 0; j < 2 * q; ++j) a(c, j) /= d;
    for (int i = 0; i < q; ++i) {
      if (i == c) continue;
      const long double f = a(i, c);
      for (int j = 0; j < 2 * q; ++j) a(i, j) -= f * a(c, j);
    }
  }
  // Value and slope at `at`: rows of (V'V)^-1 V' combined with the powers of
  // the scaled abscissa there and their derivatives.
  const long double s = (at - centre) / half;
  std::vector<long double> powers(static_cast<std::size_t>(q)), slopes(static_cast<std::size_t>(q), 0.0L);
  long double p = 1.0L;
  for (int j = 0; j < q; ++j) {
    powers[static_cast<std::size_t>(j)] = p;
    if (j + 1 < q) slopes[static_cast<std::size_t>(j + 1)] = (j + 1) * p / half;
    p *= s;
  }
  LocalFitWeights w;
  w.value.resize(static_cast<std::size_t>(m));
  w.slope.resize(static_cast<std::size_t>(m));
  for (int r = 0; r < m; ++r) {
    long double v = 0.0L, g = 0.0L;
    for (int j = 0; j < q; ++j) {
      long double c = 0.0L;  // coefficient j's weight on sample r
      for (int k = 0; k < q; ++k) c += a(j, q + k) * V[static_cast<std::size_t>(r * q + k)];
      v += powers[static_cast<std::size_t>(j)] * c;
      g += slopes[static_cast<std::size_t>(j)] * c;
    }
    w.value[static_cast<std::size_t>(r)] = static_cast<double>(v);
    w.slope[static_cast<std::size_t>(r)] = static_cast<double>(g);
  }
  return w;
}

namespace {

// The states (or slopes) of every window of `points` samples by the weights
// `w`, into `out` (reused). One component and a chunk of windows at a time,
// the weights outermost, so the sums run along the rows in the vector unit;
// each sum still adds its terms in the weights' order (the same bits as one
// window after the other), and the same bits whichever vector unit runs them.
ODEFIT_VECTOR_CLONES("avx512f", "avx2", "default") void WindowSums(std::span<const double> values, int D, int points, const std::vector<double>& w, double factor,
                std::vector<double>& out) {
  const std::size_t d = static_cast<std::size_t>(D), m = static_cast<std::size_t>(points);
  const std::size_t rows = values.size() / d - m + 1;
  out.resize(rows * d);
  constexpr std::size_t kChunk = 1024;
  std::vector<double> x(kChunk + m - 1), sum(kChunk);
  for (std::size_t i = 0; i < d; ++i) {
    for (std::size_t r0 = 0; r0 < rows; r0 += kChunk) {
      const std::size_t len = std::min(kChunk, rows - r0);
      for (std::size_t j = 0; j < len + m - 1; ++j) x[j] = values[(r0 + j) * d + i];
      std::fill_n(sum.begin(), len, 0.0);
      // Four weights a pass: each sum is loaded and stored a quarter as often,
      // its terms still added one by one in the weights' order.
      std::size_t k = 0;
      for (; k + 4 <= m; k += 4) {
        const double w0 = w[k], w1 = w[k + 1], w2 = w[k + 2], w3 = w[k + 3];
        const double* from = x.data() + k;
        for (std::size_t r = 0; r < len; ++r) {
          double v = sum[r];
          v += w0 * from[r];
          v += w1 * from[r + 1];
          v += w2 * from[r + 2];
          v += w3 * from[r + 3];
          sum[r] = v;
        }
      }
      for (; k < m; ++k) {
        const double wk = w[k];
        const double* from = x.data() + k;
        for (std::size_t r = 0; r < len; ++r) sum[r] += wk * from[r];
      }
      for (std::size_t r = 0; r < len; ++r) out[(r0 + r) * d + i] = sum[r] * factor;
    }
  }
}

// Copies into each row whose window spans two pieces of `series` the nearest
// row whose window lies within one, as the fits of several recordings lay them out.
void FillAcrossBreaks(const Series& series, int points, double dt, Derivatives& d) {
  if (api::IsPlain(series)) return;
  const Sampling sampling = SeriesSampling(series, series.times.empty() ? dt : 0.0);
  const std::size_t D = static_cast<std::size_t>(series.dimension);
  std::vector<char> inside(static_cast<std::size_t>(d.rows));
  for (int r = 0; r < d.rows; ++r) {
    inside[static_cast<std::size_t>(r)] = api::WithinOnePiece(sampling, static_cast<std::size_t>(r), static_cast<std::size_t>(points));
  }
  for (int r = 0; r < d.rows; ++r) {
    if (inside[static_cast<std::size_t>(r)]) continue;
    int from = -1;
    for (int k = 1; k < d.rows && from < 0; ++k) {
      if (r - k >= 0 && inside[static_cast<std::size_t>(r - k)]) from = r - k;
      else if (r + k < d.rows && inside[static_cast<std::size_t>(r + k)]) from = r + k;
    }
    if (from < 0) continue;
    for (std::size_t i = 0; i < D; ++i) {
      d.states[static_cast<std::size_t>(r) * D + i] = d.states[static_cast<std::size_t>(from) * D + i];
      d.slopes[static_cast<std::size_t>(r) * D + i] = d.slopes[static_cast<std::size_t>(from) * D + i];
    }
  }
}

void LocalFitsInto(std::span<const double> values, int D, int points, int degree, double dt, Derivatives& result) {
  const std::size_t d = static_cast<std::size_t>(D), m = static_cast<std::size_t>(points);
  const std::size_t n = values.size() / d;
  std::vector<double> states = std::move(result.states), slopes = std::move(result.slopes);
  result = Derivatives{};
  result.states = std::move(states);
  result.slopes = std::move(slopes);
  result.dimension = D;
  result.rows = static_cast<int>(n) - points + 1;
  result.offset = (points - 1) / 2;
  const std::size_t rows = static_cast<std::size_t>(result.rows);
  result.states.resize(rows * d);
  result.slopes.resize(rows * d);
  const LocalFitWeights w = FitWeights(points, degree, result.offset);
  const double perTime = 1.0 / dt;
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t i = 0; i < d; ++i) {
      double v = 0.0, g = 0.0;
      for (std::size_t k = 0; k < m; ++k) {
        const double x = values[(r + k) * d + i];
        v += w.value[k] * x;
        g += w.slope[k] * x;
      }
      result.states[r * d + i] = v;
      result.slopes[r * d + i] = g * perTime;
    }
  }
}

}  // namespace

Derivatives LocalFits(std::span<const double> values, int D, int points, int degree, double dt) {
  Derivatives result;
  LocalFitsInto(values, D, points, degree, dt, result);
  return result;
}

Derivatives SeriesFits(const Series& series, int points, int degree, double dt) {
  Derivatives d;
  SeriesFits(series, points, degree, dt, d);
  return d;
}

void SeriesFits(const Series& series, int points, int degree, double dt, Derivatives& d) {
  LocalFitsInto(series.values, series.dimension, points, degree, dt, d);
  FillAcrossBreaks(series, points, dt, d);
}

std::size_t WindowFits::Computed(int degree, bool slope) {
  // The degree whose weights are those of `degree` at the centre of an odd window.
  const int same = points_ % 2 == 0 ? degree : slope ? degree - (degree + 1) % 2 : std::max(1, degree - degree % 2);
  auto& known = slope ? slopes_ : states_;
  for (const auto& [d, at] : known) {
    if (d == same) return at;
  }
  const std::size_t at = used_++;
  if (pool_->size() < used_) pool_->resize(used_);
  const LocalFitWeights w = FitWeights(points_, same, (points_ - 1) / 2);
  WindowSums(series_->values, series_->dimension, points_, slope ? w.slope : w.value, slope ? 1.0 / dt_ : 1.0, (*pool_)[at]);
  known.emplace_back(same, at);
  return at;
}

void WindowFits::Into(int degree, Derivatives& d) {
  d.dimension = series_->dimension;
  d.rows = static_cast<int>(series_->size()) - points_ + 1;
  d.offset = (points_ - 1) / 2;
  const std::size_t states = Computed(degree, false), slopes = Computed(degree, true);  // the pool may grow between
  d.states.assign((*pool_)[states].begin(), (*pool_)[states].end());
  d.slopes.assign((*pool_)[slopes].begin(), (*pool_)[slopes].end());
  FillAcrossBreaks(*series_, points_, dt_, d);
}

}  // namespace odefit::search
