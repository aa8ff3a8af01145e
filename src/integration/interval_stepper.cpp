#include "integration/interval_stepper.h"

#include "numerics/error_stack.h"

namespace odefit {

IntervalStepper::IntervalStepper(const StepperSettings& settings, OdeFunctionRef F)
    : settings_(settings), F_(F), polled_(F_, settings.cancel), work_(5 * static_cast<std::size_t>(settings.D)) {
  options_.initialStep = settings.h;
  options_.stepLimit = kStepperSolverStepLimit;
}

IntervalStepper::~IntervalStepper() {
  if (open_) solver_.Close();
}

bool IntervalStepper::Advance(std::span<double> Y, double& T) {
  const double TEND = T + settings_.dt;
  switch (settings_.method) {
    case 1: EulerIntegrate(polled_, settings_.D, Y, T, TEND, settings_.h, work_); return true;
    case 2: Rk4Integrate(polled_, settings_.D, Y, T, TEND, settings_.h, work_); return true;
    case 3: return AdvanceVerner(Y, T, TEND);
    default: return true;
  }
}

void IntervalStepper::Finish() {
  if (!open_) return;
  double T = lastT_;
  ido_ = VernerRequest::End;
  solver_.DIVPRK(ido_, settings_.D, polled_, T, T + settings_.dt, kStepperSolverTolerance, options_, lastY_);
  open_ = false;
}

bool IntervalStepper::AdvanceVerner(std::span<double> Y, double& T, double TEND) {
  if (!open_) {
    ido_ = VernerRequest::Start;
    open_ = true;
  }
  try {
    solver_.DIVPRK(ido_, settings_.D, polled_, T, TEND, kStepperSolverTolerance, options_, Y);
  } catch (const RunStopped&) {
    // A diverging prediction is no error of the run: the message stands.
    solver_.Close();
    open_ = false;
    return false;
  }
  lastT_ = T;
  lastY_ = Y;
  return true;
}

}  // namespace odefit
