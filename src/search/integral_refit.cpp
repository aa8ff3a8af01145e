#include "search/integral_refit.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <stdexcept>
#include <vector>

#include "model/design.h"
#include "search/search_common.h"

namespace odefit::search {

bool HasIntegralForm(ModelFamily family) { return family != ModelFamily::Rational; }

namespace {

// The integral of a column from row r to r + 1 (of `rows`): the cubic through
// its four nearest rows, the trapezoid at the two ends.
template <typename At>
auto IntegralStep(const At& at, int r, int rows, double dt) {
  return r >= 1 && r + 2 < rows ? dt / 24.0 * (13.0 * (at(r) + at(r + 1)) - (at(r - 1) + at(r + 2)))
                                : 0.5 * dt * (at(r) + at(r + 1));
}

// Running integrals of the chosen columns from row 0 (rows x q, row after row).
std::vector<double> RunningIntegrals(const Derivatives& smooth, const ModelEquation& eq, int target,
                                     std::span<const int> columns, int span, double dt,
                                     std::span<const double> smoothing) {
  const int D = smooth.dimension, rows = smooth.rows, q = static_cast<int>(columns.size());
  if (!HasIntegralForm(eq.family) || span < 1 || span >= rows - 3 || q < 1 || target < 0 || target >= D) {
    throw std::invalid_argument("IntegralFit: no integral form for these rows, span or columns");
  }
  // Running integrals of the chosen columns from row 0: each step by the
  // cubic through its four nearest rows (the trapezoid at the two ends).
  std::vector<double> running(Size(rows) * Size(q), 0.0);
  constexpr int kFillBlock = 512;
  std::vector<double> A(Size(kFillBlock + 1) * Size(eq.nterms));
  std::vector<double> f(Size(rows) * Size(q));
  for (int start = 0; start < rows; start += kFillBlock) {
    const int b = std::min(kFillBlock, rows - start);
    const std::span<const double> X(smooth.states.data() + Size(start) * Size(D), Size(b) * Size(D));
    FillDesignBlock(eq, X, D, b, 1 + start, {}, A, b);
    for (int r = 0; r < b; ++r) {
      for (int k = 0; k < q; ++k) f[Size(start + r) * Size(q) + Size(k)] = A[Size(columns[Size(k)]) * Size(b) + Size(r)];
    }
  }
  if (eq.family == ModelFamily::DrivenPolynomial && !smoothing.empty()) {
    double gain = 0.0;
    const double centre = 0.5 * static_cast<double>(smoothing.size() - 1);
    for (std::size_t k = 0; k < smoothing.size(); ++k) gain += smoothing[k] * std::cos(eq.wdt * (static_cast<double>(k) - centre));
    for (int k = 0; k < q; ++k) {
      if (columns[Size(k)] < eq.nterms - 2) continue;
      for (int r = 0; r < rows; ++r) f[Size(r) * Size(q) + Size(k)] *= gain;
    }
  }
  for (int k = 0; k < q; ++k) {
    const auto at = [&](int r) { return f[Size(r) * Size(q) + Size(k)]; };
    long double sum = 0.0L;
    for (int r = 0; r + 1 < rows; ++r) {
      const double step = IntegralStep(at, r, rows, dt);
      sum += step;
      running[Size(r + 1) * Size(q) + Size(k)] = static_cast<double>(sum);
    }
  }
  return running;
}

constexpr int kBlock = 512;

// The summaries of the integral form's rows, one per stretch of `blocks`
// contiguous stretches of span starts.
std::vector<TriangularSummary> SpanSummaries(const Derivatives& smooth, const ModelEquation& eq, int target,
                                             std::span<const int> columns, int span, double dt,
                                             std::span<const double> smoothing, int blocks) {
  const std::vector<double> rows = IntegralRows(smooth, eq, target, columns, span, dt, smoothing);
  const int q = static_cast<int>(columns.size());
  const int starts = smooth.rows - span;
  blocks = std::clamp(blocks, 1, starts);
  std::vector<TriangularSummary> summaries;
  summaries.reserve(Size(blocks));
  for (int stretch = 0; stretch < blocks; ++stretch) {
    const int from = static_cast<int>(static_cast<long long>(starts) * stretch / blocks);
    const int to = static_cast<int>(static_cast<long long>(starts) * (stretch + 1) / blocks);
    summaries.push_back(SummariseIntegralRows(rows, q, from, to));
  }
  return summaries;
}

std::vector<int> AllColumns(int q) {
  std::vector<int> all(Size(q));
  for (int k = 0; k < q; ++k) all[Size(k)] = k;
  return all;
}

}  // namespace

TriangularSummary SummariseIntegralRows(std::span<const double> rows, int q, int from, int to) {
  TriangularSummary summary(q, 1);
  std::vector<double> block(Size(kBlock) * Size(q + 1));
  for (int start = from; start < to; start += kBlock) {
    const int b = std::min(kBlock, to - start);
    for (int r = 0; r < b; ++r) {
      for (int k = 0; k <= q; ++k) block[Size(k) * Size(b) + Size(r)] = rows[Size(start + r) * Size(q + 1) + Size(k)];
    }
    summary.AddRows(block, b, b);
  }
  return summary;
}

SubsetFit IntegralFit(const Derivatives& smooth, const ModelEquation& eq, int target, std::span<const int> columns,
                      int span, double dt, std::span<const double> smoothing) {
  const std::vector<TriangularSummary> summaries = SpanSummaries(smooth, eq, target, columns, span, dt, smoothing, 1);
  SubsetFit fit = FitSubset(summaries.front(), 0, AllColumns(static_cast<int>(columns.size())));
  fit.columns.assign(columns.begin(), columns.end());
  return fit;
}

SubsetFit BlockedIntegralFit(const Derivatives& smooth, const ModelEquation& eq, int target,
                             std::span<const int> columns, int span, double dt, std::span<const double> smoothing,
                             int blocks) {
  if (blocks < 2) throw std::invalid_argument("BlockedIntegralFit: fewer than two stretches");
  const std::vector<TriangularSummary> summaries =
      SpanSummaries(smooth, eq, target, columns, span, dt, smoothing, blocks);
  const int q = static_cast<int>(columns.size());
  const std::vector<int> all = AllColumns(q);
  TriangularSummary whole = summaries.front();
  for (std::size_t b = 1; b < summaries.size(); ++b) whole.Merge(summaries[b]);
  SubsetFit fit = FitSubset(whole, 0, all);
  fit.columns.assign(columns.begin(), columns.end());
  if (fit.singular) return fit;
  // Batch means: the spread of the stretches' own fits over their number.
  std::vector<double> sum(Size(q), 0.0), squares(Size(q), 0.0);
  for (const TriangularSummary& s : summaries) {
    const SubsetFit part = FitSubset(s, 0, all);
    for (int k = 0; k < q; ++k) {
      const double c = part.singular ? kInfinity : part.coefficients[Size(k)];
      sum[Size(k)] += c;
      squares[Size(k)] += c * c;
    }
  }
  const double K = static_cast<double>(summaries.size());
  for (int k = 0; k < q; ++k) {
    const double mean = sum[Size(k)] / K;
    const double variance = std::max(0.0, (squares[Size(k)] - K * mean * mean) / (K - 1.0));
    fit.standardErrors[Size(k)] = std::isfinite(variance) ? std::sqrt(variance / K) : kInfinity;
  }
  return fit;
}

DrivingSpanScales DrivingSpanIntegrals(double wdt, int rows, int span, double dt, std::span<const double> smoothing) {
  if (span < 1 || span >= rows - 3) throw std::invalid_argument("DrivingSpanIntegrals: no integral form for these rows");
  double gain = 1.0;
  if (!smoothing.empty()) {
    gain = 0.0;
    const double centre = 0.5 * static_cast<double>(smoothing.size() - 1);
    for (std::size_t k = 0; k < smoothing.size(); ++k) gain += smoothing[k] * std::cos(wdt * (static_cast<double>(k) - centre));
  }
  // The span from start s, the pair at row r taken as gain e^{i w (r - s)}.
  const auto from = [&](int s) {
    std::complex<double> sum = 0.0;
    const auto at = [&](int r) { return gain * std::polar(1.0, wdt * static_cast<double>(r - s)); };
    for (int r = s; r < s + span; ++r) sum += IntegralStep(at, r, rows, dt);
    return sum;
  };
  return {from(1), from(0), from(rows - 1 - span)};
}

std::vector<double> IntegralRows(const Derivatives& smooth, const ModelEquation& eq, int target,
                                 std::span<const int> columns, int span, double dt, std::span<const double> smoothing) {
  const std::vector<double> running = RunningIntegrals(smooth, eq, target, columns, span, dt, smoothing);
  const int D = smooth.dimension, q = static_cast<int>(columns.size());
  const int last = smooth.rows - 1 - span;
  std::vector<double> out(Size(last + 1) * Size(q + 1));
  for (int s = 0; s <= last; ++s) {
    const int e = s + span;
    for (int k = 0; k < q; ++k) {
      out[Size(s) * Size(q + 1) + Size(k)] = running[Size(e) * Size(q) + Size(k)] - running[Size(s) * Size(q) + Size(k)];
    }
    out[Size(s) * Size(q + 1) + Size(q)] =
        smooth.states[Size(e) * Size(D) + Size(target)] - smooth.states[Size(s) * Size(D) + Size(target)];
  }
  return out;
}

SubsetFit FitIntegralRows(std::span<const double> rows, std::span<const int> columns) {
  const int q = static_cast<int>(columns.size());
  const int count = static_cast<int>(rows.size() / Size(q + 1));
  SubsetFit fit = FitSubset(SummariseIntegralRows(rows, q, 0, count), 0, AllColumns(q));
  fit.columns.assign(columns.begin(), columns.end());
  return fit;
}

}  // namespace odefit::search
