#include "odefit/integration.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>
#include <limits>
#include <string>

#include "api/numerical_errors.h"
#include "api/times.h"
#include "integration/interval_stepper.h"
#include "integration/model_rhs.h"
#include "numerics/rk_verner.h"

namespace odefit {
namespace {

void CheckState(const Model& model, std::span<const double> x, const char* what) {
  if (x.size() != static_cast<std::size_t>(model.Dimension())) {
    throw InvalidArgument(std::string(what) + " must hold " + std::to_string(model.Dimension()) + " values, not " +
                          std::to_string(x.size()));
  }
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

constexpr std::array<std::pair<std::string_view, IntegrationMethod>, 4> kMethodNames = {{
    {"euler", IntegrationMethod::Euler},
    {"rk4", IntegrationMethod::RungeKutta4},
    {"rk56", IntegrationMethod::RungeKuttaVerner},
    {"rkv", IntegrationMethod::RungeKuttaVerner},
}};

}  // namespace

IntegrationMethod ParseIntegrationMethod(std::string_view name) {
  for (const auto& [text, method] : kMethodNames) {
    if (name == text) return method;
  }
  throw InvalidArgument("unknown integration method \"" + std::string(name) + "\" (" + kIntegrationMethodNames + ")");
}

std::string_view IntegrationMethodName(IntegrationMethod method) {
  switch (method) {
    case IntegrationMethod::Euler: return "euler";
    case IntegrationMethod::RungeKutta4: return "rk4";
    case IntegrationMethod::RungeKuttaVerner: return "rk56";
  }
  throw InvalidArgument("unknown integration method");
}

void CheckTimes(double tFirst, double tLast, double dt, double h) {
  if (!std::isfinite(tLast)) {
    throw InvalidArgument("the time would overflow: from " + Number(tFirst) + " in sampling intervals of " +
                          Number(dt) + " it leaves the range of double precision");
  }
  if (!TimesAdvance(tFirst, tLast, dt, h)) {
    throw InvalidArgument("a step of " + Number(std::min(h, dt)) + " cannot advance the time " +
                          Number(std::fabs(tFirst) > std::fabs(tLast) ? tFirst : tLast) +
                          " in double precision (t + h == t): start nearer 0 or take longer steps");
  }
}

void EvaluateModel(const Model& model, double t, std::span<const double> x, std::span<double> dxdt) {
  ValidateModel(model);
  CheckState(model, x, "the state");
  CheckState(model, dxdt, "the derivative");
  ModelRhs(model, model.Dimension(), t, x, dxdt);
}

void CheckSimulation(const Model& model, std::span<const double> x0, int steps, const SimulationSettings& settings) {
  ValidateModel(model);
  CheckState(model, x0, "the initial state");
  if (steps < 0) throw InvalidArgument("the number of steps must not be negative");
  const double h = settings.step == 0.0 ? model.dt : settings.step;
  if (!(h > 0.0) || !std::isfinite(h)) throw InvalidArgument("the integration step must be positive and finite");
  if (model.dt / h > 100000.0) throw InvalidArgument("the step would take more than 100000 steps per interval");
  if (!std::isfinite(settings.t0)) throw InvalidArgument("the start time must be finite");
  const int method = static_cast<int>(settings.method);
  if (method < 1 || method > 3) throw InvalidArgument("unknown integration method");
  if (steps > 0) CheckTimes(settings.t0, settings.t0 + static_cast<double>(steps) * model.dt, model.dt, h);
}

std::vector<double> Simulate(const Model& model, std::span<const double> x0, int steps,
                             const SimulationSettings& settings) {
  CheckSimulation(model, x0, steps, settings);
  const std::size_t D = x0.size();
  std::vector<double> path((static_cast<std::size_t>(steps) + 1) * D, std::numeric_limits<double>::quiet_NaN());
  std::vector<double> Y(x0.begin(), x0.end());
  std::copy(Y.begin(), Y.end(), path.begin());
  const ModelRightHandSide rhs(model);
  StepperSettings stepping;
  stepping.D = static_cast<int>(D);
  stepping.method = static_cast<int>(settings.method);
  stepping.h = settings.step == 0.0 ? model.dt : settings.step;
  stepping.dt = model.dt;
  stepping.cancel = settings.cancel;
  double T = settings.t0;
  api::RunNumerical([&] {
    IntervalStepper stepper(stepping, rhs);
    for (int j = 1; j <= steps; ++j) {
      ThrowIfCancelled(settings.cancel);
      if (!(detail::L1Norm(Y) < BlowUpLimit)) break;
      // The solver's failure is the simulation's: its message becomes the NumericalError.
      if (!stepper.Advance(Y, T)) throw RunStopped();
      if (!(detail::L1Norm(Y) < BlowUpLimit)) break;
      std::copy(Y.begin(), Y.end(), path.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(j) * D));
    }
    stepper.Finish();
  });
  return path;
}

}  // namespace odefit
