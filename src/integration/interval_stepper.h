#pragma once
// One integrator over sampling intervals, whatever the method: the efficiency
// test, the model orbit run and Simulate advance a state one sampling interval
// at a time through an IntervalStepper (the search's scoring loop can too).
//
// Methods are numbered as the dialogue's question: 1 Euler, 2 classical RK-4
// (both fixed steps of h, see integrators.h), 3 the adaptive RK-5,6 solver
// (its run is kept open from one interval to the next, as one DIVPRK run).
// Any other number integrates nothing.

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "integration/integrators.h"
#include "numerics/rk_verner.h"
#include "odefit/cancellation.h"

namespace odefit {

struct StepperSettings {
  int D = 0;          // equations
  int method = 2;     // 1 Euler, 2 RK-4, 3 RK-5,6
  double h = 0.0;     // integration step (Euler, RK-4) and the solver's first trial step
  double dt = 0.0;    // sampling interval
  // Polled every 256 evaluations of the right-hand side; cancelling throws Cancelled.
  const CancellationToken* cancel = nullptr;
};

// Single-precision 0.1 as a double: the RK-5,6 solver's tolerance, the same
// whether a model is tested or simulated.
inline constexpr double kStepperSolverTolerance = 0.10000000149011612;
inline constexpr long long kStepperSolverStepLimit = 100000;

class IntervalStepper {
 public:
  // F must outlive the stepper.
  IntervalStepper(const StepperSettings& settings, OdeFunctionRef F);
  IntervalStepper(const IntervalStepper&) = delete;
  IntervalStepper& operator=(const IntervalStepper&) = delete;
  ~IntervalStepper();

  // Advances Y (D values) from T to T + dt. Returns false when the RK-5,6
  // solver failed: its message is printed through the error stack and its run
  // closed (the next Advance starts a new run). A step that cannot advance
  // time is a terminal error (RunStopped), as in integrators.h.
  bool Advance(std::span<double> Y, double& T);

  // Ends the solver's run (the releasing call); nothing for Euler and RK-4.
  void Finish();

 private:
  bool AdvanceVerner(std::span<double> Y, double& T, double TEND);

  StepperSettings settings_;
  OdeFunctionRef F_;
  PollingRhs<OdeFunctionRef> polled_;
  std::vector<double> work_;
  RungeKuttaVerner solver_;
  VernerOptions options_;
  VernerRequest ido_ = VernerRequest::Start;
  bool open_ = false;
  double lastT_ = 0.0;
  std::span<double> lastY_;
};

}  // namespace odefit

namespace odefit {

// Whether every time from tFirst to tLast (either order) is finite and is
// advanced by a step of h and by a sampling interval of dt (t + h > t where
// |t| is largest). Where it is not, the integrators stop with a terminal error.
inline bool TimesAdvance(double tFirst, double tLast, double dt, double h) {
  const double t = std::max(std::fabs(tFirst), std::fabs(tLast));
  return std::isfinite(t) && t + h > t && t + dt > t;
}

}  // namespace odefit
