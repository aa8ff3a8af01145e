#include "integration/integrators.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "integration/interval_stepper.h"
#include "numerics/error_stack.h"

namespace odefit {
namespace {

// y' = lambda * y, counting its evaluations.
struct Linear {
  double lambda = 1.0;
  int calls = 0;
  void operator()(int N, double, std::span<const double> Y, std::span<double> DY) {
    ++calls;
    for (int i = 0; i < N; ++i) DY[static_cast<std::size_t>(i)] = lambda * Y[static_cast<std::size_t>(i)];
  }
};

struct Interval {
  std::vector<double> Y;
  double T = 0.0;
  std::vector<double> work = std::vector<double>(5 * 4);
};

enum class Method { Euler, Rk4 };

int Integrate(Method method, Linear& f, Interval& s, double TEND, double H) {
  const int N = static_cast<int>(s.Y.size());
  if (method == Method::Euler) {
    EulerIntegrate(f, N, s.Y, s.T, TEND, H, s.work);
  } else {
    Rk4Integrate(f, N, s.Y, s.T, TEND, H, s.work);
  }
  return f.calls;
}

TEST(FixedStepIntegrators, OneStepMultipliesByTheMethodsPolynomial) {
  const double z = -0.3;
  Linear f{z};
  Interval euler{{2.0}};
  Integrate(Method::Euler, f, euler, 1.0, 1.0);
  EXPECT_DOUBLE_EQ(euler.Y[0], 2.0 * (1 + z));
  EXPECT_EQ(euler.T, 1.0);

  Interval rk4{{2.0}};
  Integrate(Method::Rk4, f, rk4, 1.0, 1.0);
  EXPECT_NEAR(rk4.Y[0], 2.0 * (1 + z + z * z / 2 + z * z * z / 6 + z * z * z * z / 24), 1e-15);
}

TEST(FixedStepIntegrators, StepCountsOverOneInterval) {
  struct Case {
    double dt, H;
    int eulerCalls, rk4Calls;
  };
  // 0.25: four full steps; 0.3: three full steps and a closing Euler step;
  // H = dt: one full step; H = 2 dt: one Euler step over the interval, whatever the method.
  const Case cases[] = {{1.0, 0.25, 4, 16}, {1.0, 0.3, 4, 13}, {0.01, 0.01, 1, 4}, {0.01, 0.02, 1, 1}};
  for (const Case& c : cases) {
    for (const Method method : {Method::Euler, Method::Rk4}) {
      Linear f{0.5};
      Interval s{{1.0}, 3.0};
      const int calls = Integrate(method, f, s, 3.0 + c.dt, c.H);
      EXPECT_EQ(calls, method == Method::Euler ? c.eulerCalls : c.rk4Calls) << c.H;
      EXPECT_EQ(s.T, 3.0 + c.dt);
    }
  }
}

TEST(FixedStepIntegrators, ClosingStepCoversTheRemainderAboveTheTolerance) {
  Linear f{1.0};
  Interval below{{1.0}};
  Integrate(Method::Euler, f, below, 1.0 + 0.5 * RemainderTolerance, 0.25);
  EXPECT_EQ(f.calls, 4);
  EXPECT_EQ(below.Y[0], std::pow(1.25, 4));

  Linear g{1.0};
  Interval above{{1.0}};
  Integrate(Method::Rk4, g, above, 1.0 + 2.0 * RemainderTolerance, 0.25);
  EXPECT_EQ(g.calls, 17);
}

TEST(FixedStepIntegrators, PlanIntervalPredictsTheStepsTaken) {
  // Consecutive intervals T, T + dt, ... as the efficiency test runs them,
  // among them steps that divide dt only up to rounding (0.0025 of 0.01).
  struct Case {
    double t0, dt, H;
  };
  const Case cases[] = {{20.01, 0.01, 0.0025}, {30.01, 0.01, 0.005}, {3.0, 1.0, 0.3},
                        {0.5, 0.01, 0.01},     {0.5, 0.01, 0.02},   {101.0, 0.1, 0.05}};
  for (const Case& c : cases) {
    bool closingSeen = false;
    double T = c.t0;
    for (int k = 0; k < 200; ++k) {
      const double TEND = T + c.dt;
      const IntervalSteps plan = PlanInterval(T, TEND, c.H);
      closingSeen = closingSeen || plan.closingStep > 0.0;
      const int closing = plan.closingStep > 0.0 ? 1 : 0;
      Linear euler{0.5}, rk4{0.5};
      Interval a{{1.0}, T}, b{{1.0}, T};
      ASSERT_EQ(Integrate(Method::Euler, euler, a, TEND, c.H), plan.fullSteps + closing) << c.H << " at " << T;
      ASSERT_EQ(Integrate(Method::Rk4, rk4, b, TEND, c.H), 4 * plan.fullSteps + closing) << c.H << " at " << T;
      T = TEND;
    }
    if (c.H == 0.0025 || c.H == 0.3) {
      EXPECT_TRUE(closingSeen) << c.H;
    }
    if (c.H == c.dt) {
      EXPECT_FALSE(closingSeen) << c.H;
    }
  }
  const IntervalSteps rest = PlanInterval(3.0, 4.0, 0.3);
  EXPECT_EQ(rest.fullSteps, 3);
  EXPECT_NEAR(rest.closingStep, 0.1, 1e-12);
}

TEST(FixedStepIntegrators, AStateAtTheBlowUpLimitIsNotIntegrated) {
  for (const Method method : {Method::Euler, Method::Rk4}) {
    Linear f{1.0};
    Interval s{{-4e5, 6e5}};
    Integrate(method, f, s, 1.0, 0.5);
    EXPECT_EQ(f.calls, 0);
    EXPECT_EQ(s.Y, (std::vector<double>{-4e5, 6e5}));
    EXPECT_EQ(s.T, 1.0);
  }
}

TEST(FixedStepIntegrators, RungeKuttaStopsAtTheStageStateThatLeavesTheLimit) {
  // The first stage state y + h/2 * k1 leaves the limit.
  Linear f{1e7};
  Interval first{{1.0}};
  Integrate(Method::Rk4, f, first, 1.0, 1.0);
  EXPECT_EQ(f.calls, 1);
  EXPECT_EQ(first.Y[0], 1.0 + 0.5 * 1e7);
  // The state stays frozen on later intervals.
  Integrate(Method::Rk4, f, first, 2.0, 1.0);
  EXPECT_EQ(f.calls, 1);
  EXPECT_EQ(first.T, 2.0);

  // The second stage state y + h/2 * k2 leaves it: k2 = lambda * (1 + h/2 * lambda).
  Linear g{2000.0};
  Interval second{{1.0}};
  Integrate(Method::Rk4, g, second, 1.0, 1.0);
  EXPECT_EQ(g.calls, 2);
  EXPECT_EQ(second.Y[0], 1.0 + 0.5 * (2000.0 * (1.0 + 0.5 * 2000.0)));
}

TEST(FixedStepIntegrators, RungeKuttaIsOfFourthOrder) {
  // Harmonic oscillator x'' = -x over [0, 1]: halving h divides the error by about 16.
  auto oscillator = [](int, double, std::span<const double> Y, std::span<double> DY) {
    DY[0] = Y[1];
    DY[1] = -Y[0];
  };
  std::vector<double> errors;
  for (const double h : {0.125, 0.0625, 0.03125}) {
    std::vector<double> Y = {0.0, 1.0}, work(10);
    double T = 0.0;
    for (int k = 0; k < 4; ++k) Rk4Integrate(oscillator, 2, std::span<double>(Y), T, 0.25 * (k + 1), h, work);
    errors.push_back(std::fabs(Y[0] - std::sin(1.0)));
  }
  EXPECT_NEAR(errors[0] / errors[1], 16.0, 1.5);
  EXPECT_NEAR(errors[1] / errors[2], 16.0, 1.5);
}

TEST(FixedStepIntegrators, AStepThatCannotAdvanceTimeStopsTheRun) {
  // Each of these would loop forever (or integrate nothing while time stands):
  // a terminal error of the integrator instead, with its message printed.
  struct Case {
    const char* what;
    double T, TEND, H;
  };
  const double big = 9007199254740992.0;  // 2^53: from here on T + 1 == T
  const Case cases[] = {
      {"far from 0 (T + dt == T)", 2e14, 2e14 + 0.01, 0.01},
      {"T + H == T within the interval", 1e15, 1e15 + 1.0, 0.01},
      {"end beyond the largest double", 1e308, 1e308 + 1e308, 1e308},
      {"H zero", 1.0, 2.0, 0.0},
      {"H negative", 1.0, 2.0, -1.0},
      {"T crossing a binade mid-interval", big - 8.0, big + 64.0, 1.0},
      {"T not finite", -INFINITY, 0.0, 1.0},
  };
  for (const Case& c : cases) {
    for (const Method method : {Method::Euler, Method::Rk4}) {
      std::ostringstream printed;
      ErrorReporter reporter(&printed);
      const ErrorReporterScope bind(reporter);
      Linear f{0.5};
      Interval s{{1.0}, c.T};
      EXPECT_THROW(Integrate(method, f, s, c.TEND, c.H), RunStopped) << c.what;
      EXPECT_NE(printed.str().find("cannot advance the time"), std::string::npos) << c.what << printed.str();
      EXPECT_NE(printed.str().find(method == Method::Euler ? "EulerIntegrate" : "Rk4Integrate"), std::string::npos);
    }
  }
}

TEST(IntervalStepperTest, PollsCancellationWithinALongInterval) {
  // 100000 steps in one interval (a stiff decay for the RK-5,6 solver, which
  // needs thousands): cancelled before it, the stepper stops after at most
  // 256 evaluations instead of covering the interval.
  Linear f{-1e4};
  for (const int method : {1, 2, 3}) {
    CancellationToken token;
    token.Cancel();
    StepperSettings settings;
    settings.D = 1;
    settings.method = method;
    settings.h = 1e-5;
    settings.dt = 1.0;
    settings.cancel = &token;
    IntervalStepper stepper(settings, f);
    std::vector<double> Y = {1.0};
    double T = 0.0;
    f.calls = 0;
    EXPECT_THROW(stepper.Advance(Y, T), Cancelled) << method;
    EXPECT_LE(f.calls, 256) << method;
  }
}

TEST(IntervalStepperTest, TimesAdvanceWhereEveryStepMovesTime) {
  struct Case {
    double first, last, dt, h;
    bool advance;
  };
  const Case cases[] = {{0.0, 100.0, 0.01, 0.001, true},   {2e14, 2e14 + 3, 0.01, 0.01, false},
                        {-1e300, 0.0, 0.01, 0.01, false},  {0.0, INFINITY, 1e308, 1e308, false},
                        {1e15, 1e15 + 10, 1.0, 0.01, false}, {1e15, 1e15 + 10, 1.0, 0.5, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(TimesAdvance(c.first, c.last, c.dt, c.h), c.advance) << c.first << " " << c.h;
  }
}

}  // namespace
}  // namespace odefit
