#pragma once
// The efficiency test: the fitted model integrated from the start of every
// test piece and compared with the observations, giving the normalised
// prediction error per lead time, the prediction time per variable and the
// number of pieces that ran out of bounds; and the model orbit run along the
// whole test series, whose points are plotted.
//
// Arrays are column-major with D rows: TestSeries(i, n) is at
// (i - 1) + (n - 1) * D, PredictionError(i, j) at (i - 1) + (j - 1) * D.

#include <functional>
#include <span>

#include "numerics/rk_verner.h"
#include "odefit/cancellation.h"

namespace odefit {

// The right-hand side f(N, T, Y, DY) of the model (ModelRhs in the program),
// referenced, not owned: it must outlive the call it is passed to.
using ModelFunction = OdeFunctionRef;

// Receives one plotted pixel.
using PlotPoint = std::function<void(int x, int y)>;

struct TestRunSettings {
  int D = 0;
  int Ltest = 0;
  int Ktest = 0;
  int Stest = 0;
  int method = 2;    // 1 Euler, 2 RK-4, 3 RK-5,6; any other integrates nothing
  double h = 0.0;    // integration step
  double t0 = 0.0;   // time of the first test point, (Ntrain + 1) * dt
  double dt = 0.0;   // sampling interval
  // Threads for the test pieces: 1 the calling thread alone, 0 one per
  // hardware thread. Any count gives the same numbers and messages.
  int threads = 1;
  // Polled between sampling intervals and every 256 evaluations of F inside
  // them (IntervalStepper); cancelling throws Cancelled.
  const CancellationToken* cancel = nullptr;
};

// Single-precision 0.05 as a double: the largest normalised error that still counts as a prediction.
inline constexpr double PredictionThreshold = 0.05000000074505806;

// Runs the prediction test over Ktest pieces of Ltest intervals, Stest points
// apart, from TestSeries (D x Ntest). Fills PredictionError (D x Ltest),
// PredictionTime (D) and InfiniteCount. With more than one thread the pieces
// run on worker threads (F is then called from several threads at once and
// must allow it; ModelRhs does); the results, the messages and their order
// are those of one thread.
void EfficiencyTest(std::span<const double> TestSeries, int Ntest, const TestRunSettings& run,
                    ModelFunction F, std::span<double> PredictionError, std::span<int> PredictionTime,
                    int& InfiniteCount);

// Integrates the model along the whole test series from its first point and
// passes the model's phase-orbit points and the first Ltest + 1 points of its
// time series (variables 1 to 3) to `plot`, at the pixels of the efficiency
// window.
void ModelOrbitRun(std::span<const double> TestSeries, std::span<const double> TestDerivatives, int Ntest,
                   const TestRunSettings& run, ModelFunction F, const PlotPoint& plot);

}  // namespace odefit
