#pragma once
// Integrating a model.

#include <span>
#include <string_view>
#include <vector>

#include "odefit/cancellation.h"
#include "odefit/model.h"

namespace odefit {

enum class IntegrationMethod { Euler = 1, RungeKutta4 = 2, RungeKuttaVerner = 3 };

// The names every front end reads and writes: "euler", "rk4", "rk56" (also
// read as "rkv", the command line's first spelling).
inline constexpr const char* kIntegrationMethodNames = "euler, rk4 or rk56 (also rkv)";

// The method named `name` (exactly, lower case). Throws InvalidArgument
// naming the accepted names.
IntegrationMethod ParseIntegrationMethod(std::string_view name);

// The method's name: "euler", "rk4" or "rk56". Throws InvalidArgument for a
// value outside the enumeration.
std::string_view IntegrationMethodName(IntegrationMethod method);

// Evaluates f(t, x) of every equation of `model` into dxdt. Throws
// InvalidArgument unless x and dxdt hold model.Dimension() values.
void EvaluateModel(const Model& model, double t, std::span<const double> x, std::span<double> dxdt);

struct SimulationSettings {
  IntegrationMethod method = IntegrationMethod::RungeKutta4;
  double step = 0.0;  // integration step; 0 means the model's dt (Euler and RK-4 only)
  double t0 = 0.0;    // time of x0 (the driven family's phase is the sample index nint(t / dt))
  const CancellationToken* cancel = nullptr;
};

// Checks the arguments of Simulate as it does before it integrates, with the
// same messages. Throws InvalidArgument.
void CheckSimulation(const Model& model, std::span<const double> x0, int steps, const SimulationSettings& settings = {});

// Integrates the model from x0 over `steps` sampling intervals and returns
// the (steps + 1) x D states, row after row, x0 first. A state whose L1 norm
// reaches 1e6 stops the integration: it and every later row are NaN.
// Throws InvalidArgument (x0 of the wrong size, steps < 0, step < 0, times
// that overflow or that a step cannot advance: t + h == t), NumericalError
// (the RK-5,6 solver could not keep its tolerance), Cancelled (polled inside
// every interval too).
std::vector<double> Simulate(const Model& model, std::span<const double> x0, int steps,
                             const SimulationSettings& settings = {});

}  // namespace odefit
