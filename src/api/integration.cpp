#include "odefit/integration.h"

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "api/numerical_errors.h"
#include "integration/integrators.h"
#include "integration/model_rhs.h"
#include "numerics/rk_verner.h"

namespace odefit {
namespace {

// The efficiency test's solver settings: the same model integrates alike
// whether simulated or tested.
constexpr double kSolverTolerance = 0.10000000149011612;
constexpr long long kSolverStepLimit = 100000;

void CheckState(const Model& model, std::span<const double> x, const char* what) {
  if (x.size() != static_cast<std::size_t>(model.Dimension())) {
    throw InvalidArgument(std::string(what) + " must hold " + std::to_string(model.Dimension()) + " values, not " +
                          std::to_string(x.size()));
  }
}

}  // namespace

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
}

std::vector<double> Simulate(const Model& model, std::span<const double> x0, int steps,
                             const SimulationSettings& settings) {
  CheckSimulation(model, x0, steps, settings);
  const double h = settings.step == 0.0 ? model.dt : settings.step;
  const std::size_t D = x0.size();
  std::vector<double> path((static_cast<std::size_t>(steps) + 1) * D, std::numeric_limits<double>::quiet_NaN());
  std::vector<double> Y(x0.begin(), x0.end()), work(5 * D);
  std::copy(Y.begin(), Y.end(), path.begin());
  const ModelRightHandSide rhs(model);
  const int N = static_cast<int>(D);
  double T = settings.t0;
  api::RunNumerical([&] {
    RungeKuttaVerner solver;
    VernerOptions options;
    options.initialStep = h;
    options.stepLimit = kSolverStepLimit;
    VernerRequest ido = VernerRequest::Start;
    for (int j = 1; j <= steps; ++j) {
      ThrowIfCancelled(settings.cancel);
      double L1 = 0.0;
      for (const double v : Y) L1 += std::fabs(v);
      if (!(L1 < BlowUpLimit)) break;
      const double TEND = T + model.dt;
      switch (settings.method) {
        case IntegrationMethod::Euler: EulerIntegrate(rhs, N, Y, T, TEND, h, work); break;
        case IntegrationMethod::RungeKutta4: Rk4Integrate(rhs, N, Y, T, TEND, h, work); break;
        case IntegrationMethod::RungeKuttaVerner: solver.DIVPRK(ido, N, rhs, T, TEND, kSolverTolerance, options, Y); break;
      }
      L1 = 0.0;
      for (const double v : Y) L1 += std::fabs(v);
      if (!(L1 < BlowUpLimit)) break;
      std::copy(Y.begin(), Y.end(), path.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(j) * D));
    }
    if (solver.IsOpen()) {
      ido = VernerRequest::End;
      solver.DIVPRK(ido, N, rhs, T, T + model.dt, kSolverTolerance, options, Y);
    }
  });
  return path;
}

}  // namespace odefit
