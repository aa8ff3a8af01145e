#include "odefit/search.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "api/equation_shape.h"
#include "api/numerical_errors.h"
#include "api/recordings.h"
#include "integration/integrators.h"
#include "integration/model_rhs.h"
#include "model/design.h"
#include "model/model_fit.h"
#include "model/monomials.h"
#include "model/sparse_regression.h"
#include "odefit/differentiation.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// A squared normalised prediction error counts at most this much: a diverged
// prediction is as wrong as one four standard deviations off, no worse.
constexpr double kErrorCap = 4.0;
// Scores below this are rounding, not prediction error: candidates that
// predict this well are told apart by their terms alone.
constexpr double kScoreFloor = 1e-12;
// Most prediction starts per candidate.
constexpr int kMaxStarts = 100;
// An equation's simpler candidate stands in for a better one when its
// held-out error is at most this much larger.
constexpr double kEquationTolerance = 0.02;
// Largest number of terms a default shape may have.
constexpr int kMaxDefaultTerms = 40;
// More threads than this gain nothing; the result is the same with any count.
constexpr int kMostThreads = 256;

std::size_t Size(int n) { return static_cast<std::size_t>(n); }

// Limits beyond this many seconds (three years) are none: the clock could not add them.
constexpr double kLongestLimit = 1e8;

// Whether the search should stop: cancelled (throws) or out of time.
class Deadline {
 public:
  Deadline(const SearchSettings& settings, Clock::time_point start)
      : cancel_(settings.cancel),
        stop_(settings.stop),
        end_(settings.timeLimit > 0 && settings.timeLimit < kLongestLimit
                 ? start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(settings.timeLimit))
                 : Clock::time_point::max()) {}
  bool Passed() const {
    ThrowIfCancelled(cancel_);
    return Stopped() || Clock::now() >= end_;
  }
  bool Stopped() const { return stop_ != nullptr && stop_->IsCancelled(); }

 private:
  const CancellationToken* cancel_;
  const CancellationToken* stop_;
  Clock::time_point end_;
};

void CheckSettings(const Series& series, const SearchSettings& settings) {
  const int D = series.dimension;
  if (D < 1 || D > kMaxModelDimension) throw InvalidArgument("the dimension must be from 1 to 9");
  if (series.values.size() != series.size() * Size(D)) throw InvalidArgument("the series must hold whole vectors");
  if (!(settings.dt > 0.0) || !std::isfinite(settings.dt)) {
    throw InvalidArgument("the sampling interval must be positive and finite");
  }
  if (!(settings.validationFraction >= 0.05 && settings.validationFraction <= 0.5)) {
    throw InvalidArgument("the validation fraction must be from 0.05 to 0.5");
  }
  if (series.size() < 50) {
    throw InvalidArgument("a search needs at least 50 vectors, the series has " + std::to_string(series.size()));
  }
  for (const double v : series.values) {
    if (!std::isfinite(v)) throw InvalidArgument("the series holds a value that is not a finite number");
  }
  for (const int m : settings.points) {
    if (m < 2) throw InvalidArgument("differentiation windows need at least 2 points");
  }
  for (const double t : settings.thresholds) {
    if (!(t >= 0.0) || !std::isfinite(t)) throw InvalidArgument("thresholds must be finite numbers >= 0");
  }
  if (settings.horizon < 0) throw InvalidArgument("the horizon must not be negative");
  if (!(settings.timeLimit >= 0.0)) throw InvalidArgument("the time limit must be a number of seconds >= 0");
}

// The first sample of the held-out part.
int SplitSample(int n, double fraction) { return static_cast<int>(std::floor(n * (1.0 - fraction))); }

// The longest horizon PlanSearch gives a series split at `split` with windows up to `widest`.
int LongestHorizon(int n, int split, int widest) { return std::max(1, (n - split - widest) / 2); }

// A plan may come from another process: everything RunSearchTask indexes
// with must be what PlanSearch could have made for this series.
void CheckPlan(const Series& series, const SearchSettings& settings, const SearchPlan& plan) {
  const int n = static_cast<int>(series.size());
  const int split = SplitSample(n, settings.validationFraction);
  if (plan.points.empty()) throw InvalidArgument("the search plan has no window");
  for (const int m : plan.points) {
    if (m < 2 || m > split / 10) {
      throw InvalidArgument("the plan's window of " + std::to_string(m) + " points does not fit " +
                            std::to_string(n) + " vectors");
    }
  }
  const int widest = *std::max_element(plan.points.begin(), plan.points.end());
  if (plan.horizon < 1 || plan.horizon > LongestHorizon(n, split, widest)) {
    throw InvalidArgument("the plan's horizon of " + std::to_string(plan.horizon) + " samples does not fit the series");
  }
  for (const EquationSpec& spec : plan.shapes) EquationShape(spec, series.dimension, settings.dt);
  for (const double t : plan.thresholds) {
    if (!(t >= 0.0) || !std::isfinite(t)) throw InvalidArgument("the plan's thresholds must be finite numbers >= 0");
  }
  for (const double p : plan.period) {
    if (!(p > 0.0) || !std::isfinite(p)) throw InvalidArgument("the plan's driving periods must be positive and finite");
  }
}

// Task results may come from another process too: FinishSearch fits the
// winner's terms by their indices, so every candidate must be one a task of
// this plan could have scored.
void CheckTaskResults(const SearchPlan& plan, int D, double dt, const std::vector<SearchTaskResult>& results) {
  const auto fail = [](const std::string& what) { throw InvalidArgument("a search task result " + what); };
  for (const SearchTaskResult& r : results) {
    if (std::find(plan.points.begin(), plan.points.end(), r.points) == plan.points.end()) {
      fail("has a window of " + std::to_string(r.points) + " points that the plan does not try");
    }
    if (r.starts < 0 || r.starts > kMaxStarts) fail("has " + std::to_string(r.starts) + " prediction starts");
    for (const SearchCandidate& c : r.candidates) {
      if (c.points != r.points) fail("holds a candidate of another window");
      if (c.equations.size() != Size(D) || c.supports.size() != Size(D) || c.validationErrors.size() != Size(D)) {
        fail("holds a candidate without one shape, support and error for each of the " + std::to_string(D) +
             " equations");
      }
      long long terms = 0;
      for (int i = 0; i < D; ++i) {
        const int K = EquationShape(c.equations[Size(i)], D, dt).nterms;
        const std::vector<int>& support = c.supports[Size(i)];
        if (support.empty()) fail("holds an equation without terms");
        for (std::size_t k = 0; k < support.size(); ++k) {
          if (support[k] < 0 || support[k] >= K || (k > 0 && support[k] <= support[k - 1])) {
            fail("holds term indices that are not increasing within the " + std::to_string(K) + " terms of " +
                 FormatEquationSpec(c.equations[Size(i)]));
          }
        }
        terms += static_cast<long long>(support.size());
      }
      if (c.terms != terms) fail("counts " + std::to_string(c.terms) + " terms where its supports hold " + std::to_string(terms));
      if (!(c.threshold >= 0.0) || !std::isfinite(c.threshold)) fail("holds a threshold that is not a finite number >= 0");
      if (!(c.score >= 0.0)) fail("holds a score that is not a number >= 0");
    }
  }
}

// ---- The driving period: the strongest line in the spectrum of what a
// polynomial fit leaves unexplained.

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
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
}

// |sum r_k e^{-i w k}|^2 at angular frequency w (radians per sample).
double Power(const std::vector<double>& r, double w) {
  std::complex<double> sum = 0.0;
  const std::complex<double> step(std::cos(w), -std::sin(w));
  std::complex<double> phase = 1.0;
  for (std::size_t k = 0; k < r.size(); ++k) {
    sum += r[k] * phase;
    phase *= step;
    if ((k & 1023) == 1023) phase /= std::abs(phase);
  }
  return std::norm(sum);
}

// Returns the period in samples of a strong line in the residuals, or 0.
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
  const std::vector<double> centred(residual.begin(), residual.end());
  std::vector<double> r(n);
  for (std::size_t k = 0; k < n; ++k) r[k] = centred[k] - mean;
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

// Fits a polynomial of `order` to every equation and returns the driving
// period (time units) the residuals show most strongly, or 0.
double DetectDrivingPeriod(const Series& series, double dt, int order) {
  const int D = series.dimension;
  const int m = 3;
  const Derivatives d = api::DifferentiateJoined(series, m, dt);
  ModelEquation shape = EquationShape(EquationSpec{ModelFamily::StandardPolynomial, order}, D, dt);
  if (shape.nterms * 4 > d.rows) return 0.0;
  std::vector<int> targets(Size(D));
  std::iota(targets.begin(), targets.end(), 0);
  const TriangularSummary summary = SummariseDesign(shape, d.states, D, d.rows, 1, d.slopes, targets);
  std::vector<int> all(Size(shape.nterms));
  std::iota(all.begin(), all.end(), 0);
  std::vector<double> terms(Size(shape.nterms));
  double best = 0.0, bestPower = 0.0;
  for (int t = 0; t < D; ++t) {
    const SubsetFit fit = FitSubset(summary, t, all);
    if (fit.singular) continue;
    std::vector<double> residual(Size(d.rows));
    for (int r = 0; r < d.rows; ++r) {
      FillMonomialTerms(std::span<const double>(d.states).subspan(Size(r) * Size(D), Size(D)), D, order, terms);
      double v = 0.0;
      for (int k = 0; k < shape.nterms; ++k) v += fit.coefficients[Size(k)] * terms[Size(k)];
      residual[Size(r)] = d.slopes[Size(r) * Size(D) + Size(t)] - v;
    }
    const double samples = StrongestLine(residual);
    if (samples <= 0.0) continue;
    double mean = 0.0, energy = 0.0;
    for (const double v : residual) mean += v / static_cast<double>(residual.size());
    for (double& v : residual) {
      v -= mean;
      energy += v * v;
    }
    // The share of the residual's variance one sinusoid at that period
    // carries: a driving carries most of it, a chance line little.
    const double power = Power(residual, 2.0 * M_PI / samples);
    if (!(2.0 * power > 0.25 * static_cast<double>(residual.size()) * energy)) continue;
    if (power > bestPower) {
      bestPower = power;
      best = samples * dt;
    }
  }
  return best;
}

// ---- Scoring by prediction of the held-out observations.

struct Scoring {
  int D = 0;
  int horizon = 0;
  std::vector<int> starts;     // samples whose smoothed state starts a prediction
  std::vector<double> scale;   // 1 / variance of each component over the held-out part
};

int CorrelationHorizon(const Series& series, int split) {
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  const int held = n - split;
  // The lag at which the mean autocorrelation of the components falls to 0.8.
  const int maxLag = std::max(1, held / 4);
  std::vector<double> mean(Size(D), 0.0), var(Size(D), 0.0);
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < D; ++i) mean[Size(i)] += series.values[Size(k) * Size(D) + Size(i)] / n;
  }
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < D; ++i) {
      const double v = series.values[Size(k) * Size(D) + Size(i)] - mean[Size(i)];
      var[Size(i)] += v * v / n;
    }
  }
  for (int lag = 1; lag <= maxLag; lag = lag < 8 ? lag + 1 : lag + lag / 8) {
    double c = 0.0;
    int counted = 0;
    for (int i = 0; i < D; ++i) {
      if (!(var[Size(i)] > 0.0)) continue;
      double s = 0.0;
      for (int k = 0; k + lag < n; ++k) {
        s += (series.values[Size(k) * Size(D) + Size(i)] - mean[Size(i)]) *
             (series.values[Size(k + lag) * Size(D) + Size(i)] - mean[Size(i)]);
      }
      c += s / ((n - lag) * var[Size(i)]);
      ++counted;
    }
    if (counted > 0 && c / counted < 0.8) return lag;
  }
  return maxLag;
}

Scoring MakeScoring(const Series& series, const SearchPlan& plan, double fraction) {
  Scoring scoring;
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  const int split = SplitSample(n, fraction);
  const int widest = *std::max_element(plan.points.begin(), plan.points.end());
  scoring.D = D;
  scoring.horizon = plan.horizon;
  // The earliest start whose smoothed state comes from held-out samples only
  // for every window tried.
  const int first = split + (widest - 1) / 2;
  const int last = n - 1 - plan.horizon - (widest - 1) / 2;
  if (last >= first) {
    const int count = std::min(kMaxStarts, std::max(1, (last - first) / std::max(1, plan.horizon / 2) + 1));
    for (int k = 0; k < count; ++k) {
      scoring.starts.push_back(count == 1 ? first : first + static_cast<int>((static_cast<long long>(last - first) * k) / (count - 1)));
    }
  }
  if (!api::IsPlain(series)) {
    // A prediction starts from a state whose window lies within one piece and
    // compares with the observations of its own recording only (across gaps,
    // by their time stamps).
    // The narrowest window decides: with many gaps few states of the widest
    // lie within one piece, and a wider window's state copied from a
    // neighbouring row only costs its own candidates.
    const Sampling sampling = SeriesSampling(series, series.times.empty() ? 1.0 : 0.0);
    const int p = (*std::min_element(plan.points.begin(), plan.points.end()) - 1) / 2;
    std::erase_if(scoring.starts, [&](int start) {
      if (!api::WithinOnePiece(sampling, Size(start - p), Size(2 * p + 1))) return true;
      for (const std::size_t b : series.breaks) {
        if (b > Size(start) && b <= Size(start + plan.horizon)) return true;
      }
      return false;
    });
  }
  scoring.scale.assign(Size(D), 0.0);
  for (int i = 0; i < D; ++i) {
    double mean = 0.0, var = 0.0;
    for (int k = split; k < n; ++k) mean += series.values[Size(k) * Size(D) + Size(i)] / (n - split);
    for (int k = split; k < n; ++k) {
      const double v = series.values[Size(k) * Size(D) + Size(i)] - mean;
      var += v * v / (n - split);
    }
    scoring.scale[Size(i)] = var > 0.0 ? 1.0 / var : 0.0;
  }
  return scoring;
}

// The mean capped squared normalised error of the model's predictions from
// every start over the horizon against the raw observations.
double PredictionScore(const Model& model, const Series& series, const Derivatives& derivatives, int points,
                       const Scoring& scoring) {
  const int D = scoring.D;
  const int p = (points - 1) / 2;
  const ModelRightHandSide rhs(model);
  std::vector<double> Y(Size(D)), work(5 * Size(D));
  double total = 0.0;
  for (const int start : scoring.starts) {
    const int row = start - p;
    for (int i = 0; i < D; ++i) Y[Size(i)] = derivatives.states[Size(row) * Size(D) + Size(i)];
    double T = (row + 1) * model.dt;
    bool lost = false;
    for (int j = 1; j <= scoring.horizon; ++j) {
      // The sampling intervals to the next observation: one, or more across a gap.
      const int steps = series.times.empty()
                            ? 1
                            : std::max(1, static_cast<int>(std::lround((series.times[Size(start + j)] -
                                                                         series.times[Size(start + j - 1)]) /
                                                                        model.dt)));
      for (int s = 0; s < steps && !lost; ++s) {
        Rk4Integrate(rhs, D, Y, T, T + model.dt, model.dt, work);
        double L1 = 0.0;
        for (const double v : Y) L1 += std::fabs(v);
        lost = !(L1 < BlowUpLimit);
      }
      for (int i = 0; i < D; ++i) {
        double e = kErrorCap;
        if (!lost) {
          const double diff = Y[Size(i)] - series.values[Size(start + j) * Size(D) + Size(i)];
          e = std::min(kErrorCap, diff * diff * scoring.scale[Size(i)]);
          if (!(e >= 0.0)) e = kErrorCap;
        }
        total += e;
      }
    }
  }
  const double count = static_cast<double>(scoring.starts.size()) * scoring.horizon * D;
  return count > 0 ? total / count : kInfinity;
}

// ---- Candidate equations of one window.

struct EquationCandidate {
  EquationSpec spec;
  ModelEquation equation;  // coefficients fitted on the training rows (0 for dropped terms)
  std::vector<int> support;
  double error = kInfinity;  // on the held-out slopes
};

// Returns the shape a sparse equation really has: a driven polynomial that
// kept neither driving term is a standard polynomial, a rational function
// that kept no denominator term a polynomial of its numerator's order.
void Simplify(EquationCandidate& c, int D) {
  ModelEquation& eq = c.equation;
  const auto kept = [&](int from, int to) {
    return std::any_of(c.support.begin(), c.support.end(), [&](int j) { return j >= from && j < to; });
  };
  if (eq.family == ModelFamily::DrivenPolynomial && !kept(eq.nterms - 2, eq.nterms)) {
    c.spec = EquationSpec{ModelFamily::StandardPolynomial, eq.nu};
    eq.family = ModelFamily::StandardPolynomial;
    eq.nterms -= 2;
    eq.coef.resize(Size(eq.nterms));
    eq.standardErrors.resize(Size(eq.nterms));
    eq.period = eq.we = eq.wdt = 0.0;
  } else if (eq.family == ModelFamily::Rational && !kept(eq.nnum, eq.nterms)) {
    c.spec = EquationSpec{ModelFamily::StandardPolynomial, eq.nu};
    eq.family = ModelFamily::StandardPolynomial;
    eq.nterms = eq.nnum;
    eq.coef.resize(Size(eq.nterms));
    eq.standardErrors.resize(Size(eq.nterms));
    eq.mu = eq.nnum = eq.nden = 0;
  }
  (void)D;
}

// The simpler of two shapes with as many terms: polynomials before the
// special families, lower orders first.
int Simplicity(const EquationSpec& s) {
  int rank = 0;
  switch (s.family) {
    case ModelFamily::StandardPolynomial: rank = 0; break;
    case ModelFamily::ReducedPolynomial: rank = 1; break;
    case ModelFamily::DrivenPolynomial: rank = 2; break;
    case ModelFamily::Rational: rank = 3; break;
  }
  return (rank * 64 + s.order) * 64 + s.secondOrder;
}

// Picks equation i's candidate: the smallest held-out error, unless a
// candidate with fewer terms (or as many, of a simpler shape) comes within
// kEquationTolerance of it.
const EquationCandidate* PickEquation(const std::vector<EquationCandidate>& options) {
  const EquationCandidate* best = nullptr;
  for (const EquationCandidate& c : options) {
    if (std::isfinite(c.error) && (!best || c.error < best->error)) best = &c;
  }
  if (!best) return nullptr;
  const EquationCandidate* pick = best;
  for (const EquationCandidate& c : options) {
    if (!(c.error <= best->error * (1.0 + kEquationTolerance) + 1e-300)) continue;
    if (c.support.size() != pick->support.size()) {
      if (c.support.size() < pick->support.size()) pick = &c;
    } else if (Simplicity(c.spec) != Simplicity(pick->spec)) {
      if (Simplicity(c.spec) < Simplicity(pick->spec)) pick = &c;
    } else if (c.error < pick->error) {
      pick = &c;
    }
  }
  return pick;
}

std::string CandidateKey(const std::vector<const EquationCandidate*>& picks) {
  std::string key;
  for (const EquationCandidate* c : picks) {
    key += std::to_string(static_cast<int>(c->spec.family)) + ":" + std::to_string(c->spec.order) + ":" +
           std::to_string(c->spec.secondOrder) + ":" + std::to_string(c->spec.period) + "[";
    for (const int j : c->support) key += std::to_string(j) + ",";
    key += "]";
  }
  return key;
}

std::vector<int> DefaultPoints(int n) {
  std::vector<int> points;
  for (const int m : {3, 5, 7, 9, 11, 15, 21, 31, 41}) {
    if (m * 20 <= n) points.push_back(m);
  }
  if (points.empty()) points.push_back(3);
  return points;
}

std::vector<EquationSpec> DefaultShapes(int D, double period) {
  std::vector<EquationSpec> shapes;
  const int top = D <= 2 ? 5 : D == 3 ? 4 : 3;
  for (int order = 1; order <= top; ++order) {
    if (MonomialCount(order, D) <= kMaxDefaultTerms) shapes.push_back({ModelFamily::StandardPolynomial, order});
  }
  if (period > 0.0) {
    for (int order = 1; order <= top; ++order) {
      if (MonomialCount(order, D) + 2 <= kMaxDefaultTerms) {
        shapes.push_back({ModelFamily::DrivenPolynomial, order, 0, period});
      }
    }
  }
  for (int nu = 1; nu <= 3; ++nu) {
    for (int mu = 1; mu <= 2; ++mu) {
      if (MonomialCount(nu, D) + MonomialCount(mu, D) - 1 <= kMaxDefaultTerms) {
        shapes.push_back({ModelFamily::Rational, nu, mu});
      }
    }
  }
  if (D == 2) {
    for (int nu = 0; nu <= 3; ++nu) {
      for (int mu = 0; mu <= 3; ++mu) shapes.push_back({ModelFamily::ReducedPolynomial, nu, mu});
    }
  }
  return shapes;
}

std::vector<double> DefaultThresholds() { return {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2}; }

}  // namespace

void CheckSearchSettings(const Series& series, const SearchSettings& settings) {
  CheckSettings(series, settings);
  const int n = static_cast<int>(series.size());
  const int split = SplitSample(n, settings.validationFraction);
  for (const int m : settings.points.empty() ? DefaultPoints(n) : settings.points) {
    if (m > split / 10) throw InvalidArgument("the window of " + std::to_string(m) + " points is too wide for " + std::to_string(n) + " vectors");
  }
  for (const EquationSpec& spec : settings.shapes) EquationShape(spec, series.dimension, settings.dt);  // refuses impossible ones
}

SearchPlan PlanSearch(const Series& given, const SearchSettings& settings) {
  CheckSearchSettings(given, settings);
  const api::HeldOutLast ordered(given, given.size() - Size(SplitSample(static_cast<int>(given.size()), settings.validationFraction)));
  const Series& series = ordered.series();
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  SearchPlan plan;
  plan.points = settings.points.empty() ? DefaultPoints(n) : settings.points;
  std::sort(plan.points.begin(), plan.points.end());
  plan.points.erase(std::unique(plan.points.begin(), plan.points.end()), plan.points.end());
  const int split = SplitSample(n, settings.validationFraction);
  plan.thresholds = settings.thresholds.empty() ? DefaultThresholds() : settings.thresholds;
  if (settings.shapes.empty()) {
    const int order = D <= 2 ? 3 : 2;
    const double period = api::RunNumerical([&] { return DetectDrivingPeriod(series, settings.dt, order); });
    if (period > 0.0) plan.period.push_back(period);
    plan.shapes = DefaultShapes(D, period);
  } else {
    plan.shapes = settings.shapes;
  }
  const int widest = plan.points.back();
  plan.horizon = settings.horizon > 0 ? settings.horizon : CorrelationHorizon(series, split);
  plan.horizon = std::max(1, std::min(plan.horizon, LongestHorizon(n, split, widest)));
  return plan;
}

SearchTaskResult RunSearchTask(const Series& given, const SearchSettings& settings, const SearchPlan& plan,
                               int index) {
  CheckSettings(given, settings);
  // Several recordings: the end of each is held out.
  const api::HeldOutLast ordered(given, given.size() - Size(SplitSample(static_cast<int>(given.size()), settings.validationFraction)));
  const Series& series = ordered.series();
  CheckPlan(series, settings, plan);
  if (index < 0 || index >= static_cast<int>(plan.points.size())) throw InvalidArgument("no such search task");
  const Deadline deadline(settings, Clock::now());
  const int D = series.dimension;
  const int n = static_cast<int>(series.size());
  const int m = plan.points[Size(index)];
  SearchTaskResult result;
  result.points = m;
  const Scoring scoring = MakeScoring(series, plan, settings.validationFraction);
  result.starts = static_cast<int>(scoring.starts.size());
  if (scoring.starts.empty()) return result;

  const Derivatives all = api::DifferentiateJoined(series, m, settings.dt);
  const int split = SplitSample(n, settings.validationFraction);
  const int trainRows = split - m + 1;
  const int heldRow = split;  // the first row whose window lies in the held-out part
  const int heldRows = all.rows - heldRow;
  const std::span<const double> heldStates = std::span<const double>(all.states).subspan(Size(heldRow) * Size(D));
  std::vector<std::vector<double>> heldSlopes(Size(D), std::vector<double>(Size(heldRows)));
  for (int r = 0; r < heldRows; ++r) {
    for (int i = 0; i < D; ++i) heldSlopes[Size(i)][Size(r)] = all.slopes[Size(heldRow + r) * Size(D) + Size(i)];
  }

  // options[l][i]: the candidates of equation i at threshold l, one per shape.
  const std::size_t L = plan.thresholds.size();
  std::vector<std::vector<std::vector<EquationCandidate>>> options(L, std::vector<std::vector<EquationCandidate>>(Size(D)));
  std::map<std::string, double> errors;  // held-out error by equation, shape and support
  std::vector<int> targets(Size(D));
  std::iota(targets.begin(), targets.end(), 0);
  for (const EquationSpec& spec : plan.shapes) {
    if (deadline.Passed()) {
      result.complete = false;
      break;
    }
    const ModelEquation shape = EquationShape(spec, D, settings.dt);
    if (shape.nterms >= trainRows) continue;
    std::vector<TriangularSummary> summaries;
    if (shape.family == ModelFamily::Rational) {
      for (int i = 0; i < D; ++i) {
        const int one[] = {i};
        summaries.push_back(SummariseDesign(shape, all.states, D, trainRows, 1, all.slopes, one));
      }
    } else {
      summaries.push_back(SummariseDesign(shape, all.states, D, trainRows, 1, all.slopes, targets));
    }
    for (std::size_t l = 0; l < L; ++l) {
      ThresholdSettings threshold;
      threshold.threshold = plan.thresholds[l];
      threshold.scaled = true;
      for (int i = 0; i < D; ++i) {
        const bool own = shape.family == ModelFamily::Rational;
        const TriangularSummary& summary = summaries[own ? Size(i) : 0];
        const SubsetFit fit = ThresholdedFit(summary, own ? 0 : i, threshold);
        if (fit.singular || fit.columns.empty()) continue;
        EquationCandidate c;
        c.spec = spec;
        c.equation = shape;
        c.support = fit.columns;
        c.equation.coef.assign(Size(shape.nterms), 0.0);
        c.equation.standardErrors.assign(Size(shape.nterms), 0.0);
        for (std::size_t k = 0; k < fit.columns.size(); ++k) {
          c.equation.coef[Size(fit.columns[k])] = fit.coefficients[k];
          c.equation.standardErrors[Size(fit.columns[k])] = fit.standardErrors[k];
        }
        Simplify(c, D);
        std::string key = std::to_string(i) + "/" + CandidateKey({&c});
        auto found = errors.find(key);
        if (found == errors.end()) {
          double err = kInfinity;
          try {
            api::RunNumerical([&] {
              ApproximationError(heldStates, D, heldRows, heldRow + 1, heldSlopes[Size(i)], c.equation, err);
            });
          } catch (const NumericalError&) {
            err = kInfinity;
          }
          found = errors.emplace(std::move(key), std::isfinite(err) ? err : kInfinity).first;
        }
        c.error = found->second;
        options[l][Size(i)].push_back(std::move(c));
      }
    }
  }

  // One whole model per threshold: every equation's pick.
  std::map<std::string, bool> seen;
  for (std::size_t l = 0; l < L; ++l) {
    if (deadline.Passed()) {
      result.complete = false;
      break;
    }
    std::vector<const EquationCandidate*> picks;
    for (int i = 0; i < D; ++i) {
      const EquationCandidate* pick = PickEquation(options[l][Size(i)]);
      if (!pick) break;
      picks.push_back(pick);
    }
    if (picks.size() != Size(D)) continue;
    const std::string key = CandidateKey(picks);
    if (!seen.emplace(key, true).second) continue;
    Model model;
    model.dt = settings.dt;
    model.points = m;
    model.train = split;
    SearchCandidate candidate;
    candidate.points = m;
    candidate.threshold = plan.thresholds[l];
    for (const EquationCandidate* c : picks) {
      model.equations.push_back(c->equation);
      candidate.equations.push_back(c->spec);
      candidate.supports.push_back(c->support);
      candidate.validationErrors.push_back(c->error);
      candidate.terms += static_cast<int>(c->support.size());
    }
    candidate.score = PredictionScore(model, series, all, m, scoring);
    result.candidates.push_back(std::move(candidate));
  }
  return result;
}

SearchResult FinishSearch(const Series& given, const SearchSettings& settings, const SearchPlan& plan,
                          std::vector<SearchTaskResult> results) {
  CheckSettings(given, settings);
  const api::HeldOutLast ordered(given, given.size() - Size(SplitSample(static_cast<int>(given.size()), settings.validationFraction)));
  const Series& series = ordered.series();
  CheckPlan(series, settings, plan);
  const int D = series.dimension;
  CheckTaskResults(plan, D, settings.dt, results);
  SearchResult out;
  out.horizon = plan.horizon;
  out.period = plan.period;
  for (SearchTaskResult& r : results) {
    out.complete = out.complete && r.complete;
    out.starts = std::max(out.starts, r.starts);
    for (SearchCandidate& c : r.candidates) out.candidates.push_back(std::move(c));
  }
  if (results.size() < plan.points.size()) out.complete = false;
  const double starts = std::max(1, out.starts);
  for (SearchCandidate& c : out.candidates) {
    c.criterion = std::isfinite(c.score) ? starts * std::log(std::max(c.score, kScoreFloor)) + 2.0 * c.terms : kInfinity;
  }
  std::stable_sort(out.candidates.begin(), out.candidates.end(), [](const SearchCandidate& a, const SearchCandidate& b) {
    if (a.criterion != b.criterion) return a.criterion < b.criterion;
    if (a.terms != b.terms) return a.terms < b.terms;
    return a.points < b.points;
  });
  if (out.candidates.empty() || !std::isfinite(out.candidates.front().score)) {
    throw NumericalError("no candidate model could be fitted and scored");
  }

  // The winner's window, shapes and terms, fitted on the whole series.
  const SearchCandidate& best = out.candidates.front();
  // Several recordings: each differentiated on its own, the rows stacked.
  const Sampling sampling = SeriesSampling(given, given.times.empty() ? settings.dt : 0.0);
  const Derivatives all = api::IsPlain(given) ? api::DifferentiateJoined(given, best.points, settings.dt)
                                              : api::DifferentiatePieces(given, sampling, best.points);
  Model& model = out.best;
  model.recordings = sampling.recordings;
  model.dt = settings.dt;
  model.points = best.points;
  model.train = static_cast<int>(series.size());
  std::vector<double> y(Size(all.rows));
  for (int i = 0; i < D; ++i) {
    ModelEquation eq = EquationShape(best.equations[Size(i)], D, settings.dt);
    const int one[] = {i};
    const TriangularSummary summary = SummariseDesign(eq, all.states, D, all.rows, 1, all.slopes, one);
    const SubsetFit fit = FitSubset(summary, 0, best.supports[Size(i)]);
    if (fit.singular) throw NumericalError("the chosen terms of equation " + std::to_string(i + 1) + " are dependent on the whole series");
    eq.coef.assign(Size(eq.nterms), 0.0);
    eq.standardErrors.assign(Size(eq.nterms), 0.0);
    for (std::size_t k = 0; k < fit.columns.size(); ++k) {
      eq.coef[Size(fit.columns[k])] = fit.coefficients[k];
      eq.standardErrors[Size(fit.columns[k])] = fit.standardErrors[k];
    }
    eq.condition = fit.condition;
    for (int r = 0; r < all.rows; ++r) y[Size(r)] = all.slopes[Size(r) * Size(D) + Size(i)];
    api::RunNumerical([&] { ApproximationError(all.states, D, all.rows, 1, y, eq, eq.error); });
    model.equations.push_back(std::move(eq));
  }
  return out;
}

SearchResult SearchModels(const Series& series, const SearchSettings& settings) {
  const Clock::time_point start = Clock::now();
  const SearchPlan plan = PlanSearch(series, settings);
  const int tasks = static_cast<int>(plan.points.size());
  int threads = settings.threads > 0 ? settings.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min({threads, tasks, kMostThreads});
  const Deadline deadline(settings, start);

  std::vector<std::optional<SearchTaskResult>> results(Size(tasks));
  std::vector<std::exception_ptr> failures(Size(tasks));
  std::atomic<int> next{0};
  std::mutex mutex;
  std::condition_variable changed;
  int done = 0;
  // Tasks in a fixed order, each on one thread: the results do not depend on
  // the thread count. Later windows cost more, so they start first.
  const auto work = [&] {
    for (int k = next++; k < tasks; k = next++) {
      const int task = tasks - 1 - k;
      try {
        if (!deadline.Passed()) {
          SearchSettings remaining = settings;
          if (settings.timeLimit > 0) {
            remaining.timeLimit = std::max(1e-3, settings.timeLimit - std::chrono::duration<double>(Clock::now() - start).count());
          }
          results[Size(task)] = RunSearchTask(series, remaining, plan, task);
        }
      } catch (...) {
        failures[Size(task)] = std::current_exception();
      }
      {
        const std::lock_guard<std::mutex> lock(mutex);
        ++done;
      }
      changed.notify_all();
    }
  };
  // Workers take tasks from one counter, so when the system refuses a thread
  // the ones started do its share.
  std::vector<std::thread> workers;
  for (int w = 1; w < threads; ++w) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  std::thread own;
  if (settings.progress) {
    try {
      own = std::thread(work);
    } catch (const std::system_error&) {
      work();  // progress is then reported once, at the end
    }
    std::unique_lock<std::mutex> lock(mutex);
    int reported = -1;
    while (done < tasks) {
      if (done != reported) {
        reported = done;
        lock.unlock();
        settings.progress(reported, tasks);
        lock.lock();
      }
      changed.wait(lock, [&] { return done != reported; });
    }
    lock.unlock();
    if (own.joinable()) own.join();
    settings.progress(tasks, tasks);
  } else {
    work();
  }
  for (std::thread& w : workers) w.join();

  std::vector<SearchTaskResult> finished;
  bool cut = false;
  for (int t = 0; t < tasks; ++t) {
    if (failures[Size(t)]) {
      try {
        std::rethrow_exception(failures[Size(t)]);
      } catch (const Cancelled&) {
        throw;
      } catch (const NumericalError&) {
        cut = true;  // this window could not be fitted; the others stand
      }
    } else if (results[Size(t)]) {
      finished.push_back(std::move(*results[Size(t)]));
    } else {
      cut = true;
    }
  }
  if (deadline.Stopped() &&
      std::all_of(finished.begin(), finished.end(), [](const SearchTaskResult& r) { return r.candidates.empty(); })) {
    throw Cancelled();  // stopped before anything was scored: there is no best
  }
  SearchResult result = FinishSearch(series, settings, plan, std::move(finished));
  if (cut && deadline.Passed()) result.complete = false;
  return result;
}

}  // namespace odefit
