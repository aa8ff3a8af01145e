#pragma once
// Fixed-step integrators over one sampling interval. Each advances Y from T to
// TEND in full steps of H while T + H <= TEND, then covers the rest of the
// interval (when it exceeds RemainderTolerance) with one closing Euler step,
// and returns with T = TEND. A state whose L1 norm reaches BlowUpLimit stops
// the integration silently: the state stays where it was reached (for RK-4
// possibly a stage state), and the caller sees the stop only through it.
//
// F is called as F(N, T, Y, DY) with spans of N doubles. The work spans are
// the caller's, so that integrating an interval allocates nothing:
// Euler needs N doubles, RK-4 needs 5*N.
//
// A step that cannot advance time (T + H == T, an H that is not positive) or
// an interval that does not end in finite time would loop forever: it is a
// terminal error of the integrator instead (printed through the error stack,
// then RunStopped).

#include <cmath>
#include <span>

#include "odefit/cancellation.h"

namespace odefit {

inline constexpr double BlowUpLimit = 1e6;
// Single-precision 1e-7 as a double.
inline constexpr double RemainderTolerance = 1.0000000116860974e-07;

namespace detail {

// Prints the integrator's terminal error about a step that cannot advance
// time from T towards TEND and throws RunStopped.
[[noreturn]] void StopStepThatCannotAdvance(bool rk4, double T, double H, double TEND);

// Stops unless the interval from T to TEND is finite and not empty (a
// sampling interval too short to advance T cannot be covered either).
inline void CheckInterval(bool rk4, double T, double TEND, double H) {
  if (!std::isfinite(T) || !std::isfinite(TEND) || !(TEND > T)) {
    StopStepThatCannotAdvance(rk4, T, H, TEND);
  }
}

inline double L1Norm(std::span<const double> y) {
  double sum = 0.0;
  for (const double v : y) sum += std::fabs(v);
  return sum;
}

// The closing step: one Euler step over what is left of the interval.
template <typename F>
void CloseInterval(F& f, int N, std::span<double> Y, double T, double TEND, std::span<double> K) {
  if (TEND - T > RemainderTolerance && L1Norm(Y) < BlowUpLimit) {
    f(N, T, std::span<const double>(Y), K);
    const double rest = TEND - T;
    for (std::size_t i = 0; i < Y.size(); ++i) Y[i] = Y[i] + rest * K[i];
  }
}

}  // namespace detail

// How the fixed-step integrators cover one interval from T to TEND with steps
// of H (no blow-up assumed): the full steps they take while T + H <= TEND,
// with T advanced by the same additions, and the length of the closing Euler
// step over the rest, 0 when the rest is within RemainderTolerance.
struct IntervalSteps {
  long long fullSteps = 0;
  double closingStep = 0.0;
};

inline IntervalSteps PlanInterval(double T, double TEND, double H) {
  IntervalSteps plan;
  // Where a step cannot advance T the integrators stop; the plan stops there too.
  while (T + H <= TEND && T + H > T) {
    T = T + H;
    ++plan.fullSteps;
  }
  if (TEND - T > RemainderTolerance) plan.closingStep = TEND - T;
  return plan;
}

// Integrates Y' = F(T, Y) from T to TEND by Euler steps of H; `work` holds N doubles.
template <typename F>
void EulerIntegrate(F&& f, int N, std::span<double> Y, double& T, double TEND, double H, std::span<double> work) {
  const std::span<double> K = work.first(static_cast<std::size_t>(N));
  detail::CheckInterval(false, T, TEND, H);
  bool stopped = false;
  while (T + H <= TEND) {
    if (!(T + H > T)) detail::StopStepThatCannotAdvance(false, T, H, TEND);
    if (detail::L1Norm(Y) >= BlowUpLimit) {
      stopped = true;
      break;
    }
    f(N, T, std::span<const double>(Y), K);
    for (std::size_t i = 0; i < Y.size(); ++i) Y[i] = Y[i] + H * K[i];
    T = T + H;
  }
  if (!stopped) detail::CloseInterval(f, N, Y, T, TEND, K);
  T = TEND;
}

// Integrates Y' = F(T, Y) from T to TEND by classical fourth-order Runge-Kutta
// steps of H; `work` holds 5*N doubles.
template <typename F>
void Rk4Integrate(F&& f, int N, std::span<double> Y, double& T, double TEND, double H, std::span<double> work) {
  const std::size_t n = static_cast<std::size_t>(N);
  const std::span<double> Z = work.subspan(0, n), K1 = work.subspan(n, n), K2 = work.subspan(2 * n, n),
                          K3 = work.subspan(3 * n, n), K4 = work.subspan(4 * n, n);
  // Z = Y + c*K; false (and Y := Z) when Z leaves the L1 limit.
  auto stage = [&](double c, std::span<const double> K) {
    for (std::size_t i = 0; i < n; ++i) Z[i] = Y[i] + c * K[i];
    if (detail::L1Norm(Z) < BlowUpLimit) return true;
    for (std::size_t i = 0; i < n; ++i) Y[i] = Z[i];
    return false;
  };
  detail::CheckInterval(true, T, TEND, H);
  bool stopped = false;
  while (T + H <= TEND) {
    if (!(T + H > T)) detail::StopStepThatCannotAdvance(true, T, H, TEND);
    if (detail::L1Norm(Y) >= BlowUpLimit) {
      stopped = true;
      break;
    }
    const double half = T + 0.5 * H, full = T + H;
    f(N, T, std::span<const double>(Y), K1);
    if (!stage(0.5 * H, K1)) {
      stopped = true;
      break;
    }
    f(N, half, std::span<const double>(Z), K2);
    if (!stage(0.5 * H, K2)) {
      stopped = true;
      break;
    }
    f(N, half, std::span<const double>(Z), K3);
    if (!stage(H, K3)) {
      stopped = true;
      break;
    }
    f(N, full, std::span<const double>(Z), K4);
    // y += h*(k1 + 2 k2 + 2 k3 + k4)*(1/6)
    for (std::size_t i = 0; i < n; ++i) {
      Y[i] = Y[i] + H * (K1[i] + 2.0 * K2[i] + 2.0 * K3[i] + K4[i]) * 0.16666666666666666;
    }
    T = full;
  }
  if (!stopped) detail::CloseInterval(f, N, Y, T, TEND, K1);
  T = TEND;
}

// A right-hand side that polls a cancellation token every 256 evaluations, so
// that a long interval (up to 100000 steps, or the RK-5,6 solver's whole run)
// ends within it when cancelled. Polling throws Cancelled; the integrators
// hold nothing that needs undoing.
template <typename F>
class PollingRhs {
 public:
  PollingRhs(F& f, const CancellationToken* cancel) : f_(f), cancel_(cancel) {}
  void operator()(int N, double T, std::span<const double> Y, std::span<double> DY) {
    if ((++calls_ & 255u) == 0) ThrowIfCancelled(cancel_);
    f_(N, T, Y, DY);
  }

 private:
  F& f_;
  const CancellationToken* cancel_;
  unsigned calls_ = 0;
};

}  // namespace odefit
