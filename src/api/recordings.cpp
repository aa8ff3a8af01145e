#include "api/recordings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "odefit/errors.h"
#include "odefit/model.h"

namespace odefit {
namespace {

// Time steps within this share of the sampling interval count as equal: far
// above the rounding of stamps written to 15 digits, far below real jitter.
constexpr double kUniformTolerance = 1e-6;

// A step beyond this many sampling intervals is a gap: the recording
// continues as a new piece after it.
constexpr double kGapFactor = 1.5;

std::string Shortest(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// Stamps written in decimals give steps a few units in the last place off
// the interval meant (0.0020000000000000018 for 0.002): the shortest decimal
// within 1e-12 of the step is taken for it.
double RoundInterval(double step) {
  for (int digits = 1; digits <= 17; ++digits) {
    char text[40];
    const auto written = std::to_chars(text, text + sizeof text, step, std::chars_format::general, digits);
    double value = 0.0;
    std::from_chars(text, written.ptr, value);
    if (std::fabs(value - step) <= 1e-12 * step) return value;
  }
  return step;
}

}  // namespace

Series JoinRecordings(std::span<const Series> recordings) {
  if (recordings.empty()) throw InvalidArgument("no recording to join");
  Series joined;
  joined.dimension = recordings.front().dimension;
  joined.names = recordings.front().names;
  const bool timed = !recordings.front().times.empty();
  for (std::size_t k = 0; k < recordings.size(); ++k) {
    const Series& r = recordings[k];
    const std::string which = "recording " + std::to_string(k + 1);
    if (r.dimension != joined.dimension) {
      throw InvalidArgument(which + " has " + std::to_string(r.dimension) + " variables, the first " +
                            std::to_string(joined.dimension));
    }
    if (!r.names.empty() && !joined.names.empty() && r.names != joined.names) {
      throw InvalidArgument(which + " names its variables otherwise than the first");
    }
    if (joined.names.empty()) joined.names = r.names;
    if (r.times.empty() == timed) throw InvalidArgument(which + (timed ? " has no time stamps" : " has time stamps") + " where the first " + (timed ? "has" : "has none"));
    if (r.size() == 0) throw InvalidArgument(which + " holds no vector");
    if (k > 0) joined.breaks.push_back(joined.size());
    for (const std::size_t b : r.breaks) joined.breaks.push_back(joined.size() + b);
    joined.values.insert(joined.values.end(), r.values.begin(), r.values.end());
    joined.times.insert(joined.times.end(), r.times.begin(), r.times.end());
  }
  return joined;
}

Sampling SeriesSampling(const Series& series, double dt, std::size_t vectors) {
  const std::size_t n = vectors == 0 ? series.size() : std::min(vectors, series.size());
  if (!series.times.empty() && series.times.size() != series.size()) {
    throw InvalidArgument("the series has " + std::to_string(series.times.size()) + " times for " +
                          std::to_string(series.size()) + " vectors");
  }
  std::size_t previous = 0;
  for (const std::size_t b : series.breaks) {
    if (b <= previous || b >= series.size()) throw InvalidArgument("the recordings' breaks must increase within the series");
    previous = b;
  }
  Sampling sampling;
  std::vector<std::size_t> starts = {0};
  for (const std::size_t b : series.breaks) {
    if (b < n) starts.push_back(b);
  }
  sampling.recordings = static_cast<int>(starts.size());
  starts.push_back(n);
  if (series.times.empty()) {
    if (!(dt > 0.0) || !std::isfinite(dt)) throw InvalidArgument("the sampling interval must be positive and finite");
    sampling.dt = dt;
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) sampling.pieces.push_back({starts[k], starts[k + 1], true});
    return sampling;
  }
  std::vector<double> steps;
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    for (std::size_t v = starts[k] + 1; v < starts[k + 1]; ++v) {
      const double step = series.times[v] - series.times[v - 1];
      if (!std::isfinite(series.times[v]) || !std::isfinite(series.times[v - 1])) {
        throw InvalidArgument("the time of vector " + std::to_string(v + 1) + " is not finite");
      }
      if (!(step > 0.0)) {
        throw InvalidArgument("the time " + Shortest(series.times[v]) + " of vector " + std::to_string(v + 1) +
                              " does not follow " + Shortest(series.times[v - 1]) + " (times must increase)");
      }
      steps.push_back(step);
    }
  }
  if (steps.empty()) throw InvalidArgument("the time stamps give no sampling interval: every recording has one vector");
  std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
  const double median = RoundInterval(steps[steps.size() / 2]);
  if (dt > 0.0 && std::fabs(dt - median) > kUniformTolerance * median) {
    throw InvalidArgument("dt " + Shortest(dt) + " disagrees with the time stamps, " + Shortest(median) +
                          " apart (leave dt out to take it from them)");
  }
  sampling.dt = dt > 0.0 ? dt : median;
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    SeriesPiece piece{starts[k], starts[k], true};
    for (std::size_t v = starts[k] + 1; v <= starts[k + 1]; ++v) {
      const double step = v < starts[k + 1] ? series.times[v] - series.times[v - 1] : 0.0;
      if (v == starts[k + 1] || step > kGapFactor * sampling.dt) {
        piece.end = v;
        sampling.pieces.push_back(piece);
        if (v < starts[k + 1]) ++sampling.gaps;
        piece = SeriesPiece{v, v, true};
        continue;
      }
      piece.uniform = piece.uniform && std::fabs(step - sampling.dt) <= kUniformTolerance * sampling.dt;
    }
  }
  for (const SeriesPiece& piece : sampling.pieces) sampling.uniform = sampling.uniform && piece.uniform;
  return sampling;
}

std::optional<int> SuggestDimension(const Series& series) {
  if (series.dimension != 1) return std::nullopt;
  const std::vector<double>& x = series.values;
  const std::size_t n = x.size();
  // The mean squared step of the values taken every `stride`-th.
  const auto roughness = [&](std::size_t stride) {
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t k = stride; k < n; ++k, ++count) sum += (x[k] - x[k - stride]) * (x[k] - x[k - stride]);
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
  };
  const double plain = roughness(1);
  if (!(plain > 0.0)) return std::nullopt;
  for (int D = 2; D <= kMaxModelDimension; ++D) {
    const std::size_t d = static_cast<std::size_t>(D);
    if (n % d != 0 || n / d < 10) continue;
    // Interleaved components jump at every step; each on its own is smooth.
    if (roughness(d) < 0.01 * plain) return D;
  }
  return std::nullopt;
}

Derivatives DifferentiateOnTimes(std::span<const double> values, std::span<const double> times, int dimension,
                                 int points) {
  if (dimension < 1) throw InvalidArgument("the dimension must be positive");
  const std::size_t d = static_cast<std::size_t>(dimension);
  const std::size_t n = times.size();
  if (values.size() != n * d) {
    throw InvalidArgument("the series holds " + std::to_string(values.size()) + " numbers for " + std::to_string(n) +
                          " times of " + std::to_string(dimension) + " components");
  }
  if (points < 2 || static_cast<std::size_t>(points) > n) {
    throw InvalidArgument("the points per window must be from 2 to the " + std::to_string(n) +
                          " vectors of the series, not " + std::to_string(points));
  }
  if (n > static_cast<std::size_t>(INT32_MAX)) throw InvalidArgument("the series has more than 2^31 - 1 vectors");
  for (std::size_t k = 0; k < n; ++k) {
    if (!std::isfinite(times[k]) || (k > 0 && !(times[k] > times[k - 1]))) {
      throw InvalidArgument("the times must be finite and increasing (vector " + std::to_string(k + 1) + ")");
    }
  }
  Derivatives result;
  result.dimension = dimension;
  result.rows = static_cast<int>(n) - points + 1;
  result.offset = (points - 1) / 2;
  const std::size_t m = static_cast<std::size_t>(points);
  const std::size_t rows = static_cast<std::size_t>(result.rows);
  result.states.resize(rows * d);
  result.slopes.resize(rows * d);
  for (std::size_t r = 0; r < rows; ++r) {
    // Times relative to the reference sample keep the sums free of cancellation.
    const double reference = times[r + static_cast<std::size_t>(result.offset)];
    double mean = 0.0;
    for (std::size_t j = 0; j < m; ++j) mean += (times[r + j] - reference) / static_cast<double>(m);
    double stt = 0.0;
    for (std::size_t j = 0; j < m; ++j) stt += (times[r + j] - reference - mean) * (times[r + j] - reference - mean);
    for (std::size_t i = 0; i < d; ++i) {
      double xm = 0.0;
      for (std::size_t j = 0; j < m; ++j) xm += values[(r + j) * d + i] / static_cast<double>(m);
      double stx = 0.0;
      for (std::size_t j = 0; j < m; ++j) stx += (times[r + j] - reference - mean) * (values[(r + j) * d + i] - xm);
      const double slope = stx / stt;
      result.states[r * d + i] = xm - slope * mean;
      result.slopes[r * d + i] = slope;
    }
  }
  return result;
}

namespace api {

Derivatives DifferentiatePieces(const Series& series, const Sampling& sampling, int points) {
  const int D = series.dimension;
  const std::size_t d = static_cast<std::size_t>(D);
  Derivatives stacked;
  stacked.dimension = D;
  stacked.offset = (points - 1) / 2;
  for (const SeriesPiece& piece : sampling.pieces) {
    const std::size_t length = piece.end - piece.begin;
    if (length < static_cast<std::size_t>(points)) continue;
    const std::span<const double> values =
        std::span<const double>(series.values).subspan(piece.begin * d, length * d);
    const Derivatives part =
        piece.uniform ? Differentiate(values, D, points, sampling.dt)
                      : DifferentiateOnTimes(values, std::span<const double>(series.times).subspan(piece.begin, length),
                                             D, points);
    stacked.states.insert(stacked.states.end(), part.states.begin(), part.states.end());
    stacked.slopes.insert(stacked.slopes.end(), part.slopes.begin(), part.slopes.end());
    stacked.rows += part.rows;
  }
  return stacked;
}

bool WithinOnePiece(const Sampling& sampling, std::size_t first, std::size_t count) {
  for (const SeriesPiece& piece : sampling.pieces) {
    if (first >= piece.begin && first < piece.end) return first + count <= piece.end;
  }
  return false;
}

Derivatives DifferentiateJoined(const Series& series, int points, double dt) {
  const Sampling sampling = SeriesSampling(series, series.times.empty() ? dt : 0.0);
  if (!sampling.uniform) throw InvalidArgument("the search needs uniformly sampled recordings (gaps are allowed)");
  const int D = series.dimension;
  const std::size_t d = static_cast<std::size_t>(D);
  // A window within one piece gives the same row as that piece alone would.
  Derivatives all = Differentiate(series.values, D, points, sampling.dt);
  if (sampling.pieces.size() == 1) return all;
  const std::size_t rows = static_cast<std::size_t>(all.rows);
  std::vector<char> valid(rows, 0);
  for (std::size_t r = 0; r < rows; ++r) valid[r] = WithinOnePiece(sampling, r, static_cast<std::size_t>(points));
  if (std::find(valid.begin(), valid.end(), 1) == valid.end()) {
    throw InvalidArgument("no piece of the series has the " + std::to_string(points) + " vectors of a window");
  }
  // Nearest valid row on either side.
  std::vector<std::ptrdiff_t> nearest(rows, -1);
  std::ptrdiff_t last = -1;
  for (std::size_t r = 0; r < rows; ++r) {
    if (valid[r]) last = static_cast<std::ptrdiff_t>(r);
    nearest[r] = last;
  }
  last = -1;
  for (std::size_t r = rows; r-- > 0;) {
    if (valid[r]) last = static_cast<std::ptrdiff_t>(r);
    if (last >= 0 && (nearest[r] < 0 || last - static_cast<std::ptrdiff_t>(r) < static_cast<std::ptrdiff_t>(r) - nearest[r])) {
      nearest[r] = last;
    }
  }
  for (std::size_t r = 0; r < rows; ++r) {
    if (valid[r]) continue;
    const std::size_t from = static_cast<std::size_t>(nearest[r]);
    std::copy_n(all.states.begin() + static_cast<std::ptrdiff_t>(from * d), d, all.states.begin() + static_cast<std::ptrdiff_t>(r * d));
    std::copy_n(all.slopes.begin() + static_cast<std::ptrdiff_t>(from * d), d, all.slopes.begin() + static_cast<std::ptrdiff_t>(r * d));
  }
  return all;
}

HeldOutLast::HeldOutLast(const Series& series, std::size_t held) : given_(series) {
  if (series.breaks.empty() || held == 0 || held >= series.size()) return;
  const std::size_t n = series.size();
  const std::size_t d = static_cast<std::size_t>(series.dimension);
  std::vector<std::size_t> starts = {0};
  starts.insert(starts.end(), series.breaks.begin(), series.breaks.end());
  starts.push_back(n);
  // Each recording's share of the held-out vectors, the rounding left to the last.
  std::vector<std::size_t> share;
  std::size_t given = 0;
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    const std::size_t length = starts[k + 1] - starts[k];
    const std::size_t part = k + 2 == starts.size() ? held - given
                                                    : std::min(length, (held * length + n / 2) / n);
    share.push_back(std::min(part, length));
    given += share.back();
  }
  if (given != held) return;  // the last recording too short for the rest: keep the series as it is
  Series reordered;
  reordered.dimension = series.dimension;
  reordered.names = series.names;
  const auto append = [&](std::size_t begin, std::size_t end) {
    if (end <= begin) return;
    if (reordered.size() > 0) reordered.breaks.push_back(reordered.size());
    reordered.values.insert(reordered.values.end(), series.values.begin() + static_cast<std::ptrdiff_t>(begin * d),
                            series.values.begin() + static_cast<std::ptrdiff_t>(end * d));
    if (!series.times.empty()) {
      reordered.times.insert(reordered.times.end(), series.times.begin() + static_cast<std::ptrdiff_t>(begin),
                             series.times.begin() + static_cast<std::ptrdiff_t>(end));
    }
  };
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) append(starts[k], starts[k + 1] - share[k]);
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) append(starts[k + 1] - share[k], starts[k + 1]);
  reordered_ = std::move(reordered);
}

}  // namespace api
}  // namespace odefit
