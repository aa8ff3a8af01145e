#include "integration/efficiency_test.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/plot_frame.h"
#include "integration/efficiency_plot.h"
#include "integration/interval_stepper.h"
#include "numerics/error_stack.h"
#include "numerics/rk_verner.h"
#include "numerics/worker_pool.h"

namespace odefit {
namespace {

constexpr double kOutOfBoundsPenalty = 1e6;

std::size_t Index(int i, int n, int D) {
  return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(n - 1) * static_cast<std::size_t>(D);
}

// Per-variable extremes of a D x count array and the bound of a prediction, 100 * max(|min|, |max|).
struct Extremes {
  std::vector<double> min, max, bound;

  Extremes(std::span<const double> values, int D, int count)
      : min(static_cast<std::size_t>(D)), max(static_cast<std::size_t>(D)), bound(static_cast<std::size_t>(D)) {
    for (int i = 1; i <= D; ++i) {
      double lo = values[Index(i, 1, D)], hi = lo;
      for (int n = 2; n <= count; ++n) {
        lo = std::min(lo, values[Index(i, n, D)]);
        hi = std::max(hi, values[Index(i, n, D)]);
      }
      const std::size_t k = static_cast<std::size_t>(i - 1);
      min[k] = lo;
      max[k] = hi;
      bound[k] = 100.0 * std::max(std::fabs(lo), std::fabs(hi));
    }
  }

  // Whether |Y(i)| <= bound(i) for every i (a NaN is out of bounds).
  bool Holds(std::span<const double> Y) const {
    for (std::size_t i = 0; i < Y.size(); ++i) {
      if (!(std::fabs(Y[i]) <= bound[i])) return false;
    }
    return true;
  }
};

// The stepper's settings for a test run.
StepperSettings Stepping(const TestRunSettings& run) {
  StepperSettings stepping;
  stepping.D = run.D;
  stepping.method = run.method;
  stepping.h = run.h;
  stepping.dt = run.dt;
  stepping.cancel = run.cancel;
  return stepping;
}

bool InUnitInterval(double u) { return u >= 0.0 && u <= 1.0; }

// Fewer intervals than this in a test are integrated on the calling thread:
// starting the workers would cost more than it saves.
constexpr long long kSmallestParallelTest = 512;
// Most squared errors (doubles) the pieces of one batch may hold at once.
constexpr std::size_t kBatchErrorBudget = std::size_t(1) << 22;

// Integrates test piece k (1-based) and writes its squared prediction errors
// (D x Ltest, column-major) into `errors`; returns whether the piece ended out
// of bounds or with a failed solver run.
bool RunPiece(int k, std::span<const double> TestSeries, const TestRunSettings& run, ModelFunction F,
              const Extremes& extremes, std::span<double> errors) {
  const int D = run.D;
  const int s = (k - 1) * run.Stest;
  std::vector<double> Y(static_cast<std::size_t>(D));
  for (int i = 1; i <= D; ++i) Y[static_cast<std::size_t>(i - 1)] = TestSeries[Index(i, s + 1, D)];
  double T = run.t0 + s * run.dt;
  IntervalStepper stepper(Stepping(run), F);
  bool failed = false;
  for (int j = 1; j <= run.Ltest; ++j) {
    ThrowIfCancelled(run.cancel);
    // A state out of bounds is not integrated; a failed solver run ends the piece's predictions.
    bool predicted = false;
    if (!failed && extremes.Holds(Y)) {
      predicted = stepper.Advance(Y, T);
      failed = !predicted;
    }
    for (int i = 1; i <= D; ++i) {
      double e = kOutOfBoundsPenalty;
      if (predicted) {
        e = Y[static_cast<std::size_t>(i - 1)] - TestSeries[Index(i, s + j + 1, D)];
        e = e * e;
      }
      errors[Index(i, j, D)] = e;
    }
  }
  const bool infinite = failed || !extremes.Holds(Y);
  stepper.Finish();
  return infinite;
}

// Adds one piece's squared errors to the sums (in piece order, as one loop would).
void AddPiece(std::span<const double> errors, std::span<double> PredictionError) {
  for (std::size_t q = 0; q < errors.size(); ++q) PredictionError[q] += errors[q];
}

// What a piece computed on a worker leaves for the calling thread.
struct PieceOutcome {
  bool infinite = false;
  std::string messages;        // what the piece printed, written later in piece order
  ErrorReporter endState{nullptr};  // the piece's reporter after the piece
  bool stateChanged = false;   // whether the piece left the reporter other than it found it
  std::exception_ptr failure;  // an error that ends the run
};

// The result is the same with any count of threads.
int TestThreads(const TestRunSettings& run) { return WorkerCount(run.threads); }

// Runs pieces first..last on `threads` workers, each piece with its own
// reporter, a copy of `entry` (the caller's), its messages kept.
void RunBatch(int first, int last, int threads, std::span<const double> TestSeries, const TestRunSettings& run,
              ModelFunction F, const Extremes& extremes, const ErrorReporter& entry,
              std::vector<double>& errors, std::vector<PieceOutcome>& outcomes) {
  const std::size_t size = static_cast<std::size_t>(run.D) * static_cast<std::size_t>(run.Ltest);
  std::atomic<int> next{first};
  RunWorkers(threads, [&](int) {
    for (int k = next++; k <= last; k = next++) {
      PieceOutcome& outcome = outcomes[static_cast<std::size_t>(k - first)];
      std::ostringstream messages;
      ErrorReporter reporter(entry);
      reporter.SetOutput(&messages);
      {
        ErrorReporterScope bind(reporter);
        try {
          const std::span<double> pieceErrors(errors.data() + static_cast<std::size_t>(k - first) * size, size);
          outcome.infinite = RunPiece(k, TestSeries, run, F, extremes, pieceErrors);
        } catch (...) {
          outcome.failure = std::current_exception();
        }
      }
      reporter.SetOutput(nullptr);
      outcome.messages = messages.str();
      outcome.stateChanged = !reporter.SameVisibleState(entry);
      outcome.endState = std::move(reporter);
    }
  });  // the workers take pieces from one counter, so a thread the system refuses leaves its share to the others
}

}  // namespace

void EfficiencyTest(std::span<const double> TestSeries, int Ntest, const TestRunSettings& run,
                    ModelFunction F, std::span<double> PredictionError, std::span<int> PredictionTime,
                    int& InfiniteCount) {
  const int D = run.D;
  std::fill(PredictionError.begin(), PredictionError.end(), 0.0);
  InfiniteCount = 0;

  std::vector<double> mean(static_cast<std::size_t>(D), 0.0), var(static_cast<std::size_t>(D), 0.0);
  for (int i = 1; i <= D; ++i) {
    double sum = 0.0;
    for (int n = 1; n <= Ntest; ++n) sum += TestSeries[Index(i, n, D)];
    const double m = sum / Ntest;
    double squares = 0.0;
    for (int n = 1; n <= Ntest; ++n) {
      const double d = TestSeries[Index(i, n, D)] - m;
      squares += d * d;
    }
    mean[static_cast<std::size_t>(i - 1)] = m;
    var[static_cast<std::size_t>(i - 1)] = squares / Ntest;
  }
  const Extremes extremes(TestSeries, D, Ntest);

  // The pieces are independent: on workers, each piece keeps its own squared
  // errors and messages, and both are added and written in piece order, so
  // the sums and the text are those of the loop below. A piece that leaves
  // its reporter changed (a failed solver run marks the program's level)
  // would change what later pieces print, so the pieces after it are run
  // again from the state it left. The caller's reporter ends as after the loop.
  const std::size_t size = static_cast<std::size_t>(D) * static_cast<std::size_t>(run.Ltest);
  std::vector<double> errors(size);
  int k = 1;
  const int threads = std::min(TestThreads(run), run.Ktest);
  if (threads > 1 && static_cast<long long>(run.Ktest) * run.Ltest >= kSmallestParallelTest) {
    ErrorReporter& caller = CurrentErrorReporter();
    ErrorReporter entry(caller);
    const int batch = static_cast<int>(std::clamp<std::size_t>(kBatchErrorBudget / std::max<std::size_t>(size, 1),
                                                               static_cast<std::size_t>(threads),
                                                               static_cast<std::size_t>(run.Ktest)));
    std::vector<double> batchErrors(static_cast<std::size_t>(batch) * size);
    std::vector<PieceOutcome> outcomes(static_cast<std::size_t>(batch));
    while (k <= run.Ktest) {
      const int first = k;
      const int last = std::min(run.Ktest, first + batch - 1);
      RunBatch(first, last, std::min(threads, last - first + 1), TestSeries, run, F, extremes, entry, batchErrors,
               outcomes);
      for (int piece = first; piece <= last; ++piece) {
        const PieceOutcome& outcome = outcomes[static_cast<std::size_t>(piece - first)];
        caller.Replay(outcome.messages, outcome.endState.LastMessage());
        k = piece + 1;
        if (outcome.failure) {
          caller.RestoreState(outcome.endState);
          if (caller.Output() != nullptr) caller.Output()->flush();
          std::rethrow_exception(outcome.failure);
        }
        AddPiece(std::span<const double>(batchErrors).subspan(static_cast<std::size_t>(piece - first) * size, size),
                 PredictionError);
        if (outcome.infinite) ++InfiniteCount;
        if (outcome.stateChanged || piece == run.Ktest) caller.RestoreState(outcome.endState);
        if (outcome.stateChanged) {
          entry.RestoreState(outcome.endState);
          break;
        }
      }
    }
    if (caller.Output() != nullptr) caller.Output()->flush();
  }
  for (; k <= run.Ktest; ++k) {
    if (RunPiece(k, TestSeries, run, F, extremes, errors)) ++InfiniteCount;
    AddPiece(errors, PredictionError);
  }

  for (int i = 1; i <= D; ++i) {
    const double v = var[static_cast<std::size_t>(i - 1)];
    for (int j = 1; j <= run.Ltest; ++j) {
      double& e = PredictionError[Index(i, j, D)];
      if (v == 0.0) {
        // A constant variable: exact predictions count as perfect, any error as unbounded.
        e = e == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
      } else {
        e = std::sqrt((e / run.Ktest) / v);
      }
    }
    int j0 = 0;
    while (j0 < run.Ltest && std::fabs(PredictionError[Index(i, j0 + 1, D)]) <= PredictionThreshold) ++j0;
    PredictionTime[static_cast<std::size_t>(i - 1)] = j0;
  }
}

void ModelOrbitRun(std::span<const double> TestSeries, std::span<const double> TestDerivatives, int Ntest,
                   const TestRunSettings& run, ModelFunction F, const PlotPoint& plot) {
  const int D = run.D;
  const Extremes extremes(TestSeries, D, Ntest);
  std::vector<AxisRange> range(static_cast<std::size_t>(D));
  for (int i = 1; i <= D; ++i) range[static_cast<std::size_t>(i - 1)] = PlotRangeOfRow(TestSeries, D, Ntest, i);
  const AxisRange derivativeRange = D == 1 ? PlotRangeOfRow(TestDerivatives, 1, Ntest, 1) : AxisRange{};

  std::vector<double> Y(static_cast<std::size_t>(D)), F1(1);
  for (int i = 1; i <= D; ++i) Y[static_cast<std::size_t>(i - 1)] = TestSeries[Index(i, 1, D)];
  double T = run.t0;

  // The orbit point of the current state: Y(2) against Y(1), or the model's derivative when D = 1.
  double u = 0.0, v = 0.0;
  int x = 0, y = 0;
  auto orbit = [&] {
    u = OrbitFraction(Y[0], range[0]);
    if (D >= 2) {
      v = OrbitFraction(Y[1], range[1]);
    } else {
      F(1, T, Y, F1);
      v = OrbitFraction(F1[0], derivativeRange);
    }
    x = HorizontalPixel(kOrbitLeft, kOrbitSize, u);
    y = VerticalPixel(kModelOrbitBottom, kOrbitSize, v);
  };

  orbit();
  if (y > kModelOrbitBottom - kOrbitSize && y < kModelOrbitBottom && x > kOrbitLeft && x < kOrbitLeft + kOrbitSize) {
    plot(x, y);
  }

  IntervalStepper stepper(Stepping(run), F);
  for (int j = 2; j <= Ntest; ++j) {
    ThrowIfCancelled(run.cancel);
    if (!extremes.Holds(Y)) continue;
    if (!stepper.Advance(Y, T)) break;
    orbit();
    if (InUnitInterval(u) && InUnitInterval(v)) plot(x, y);
    if (j <= run.Ltest + 1) {
      const int px = SeriesPanelX(j, run.Ltest);
      for (int i = 1; i <= std::min(D, 3); ++i) {
        const std::size_t k = static_cast<std::size_t>(i - 1);
        const double ui = PlotFraction(Y[k], range[k]);
        if (InUnitInterval(ui)) plot(px, PanelY(kPanelBottom[k], ui));
      }
    }
  }
  stepper.Finish();
}

}  // namespace odefit
