#include "numerics/rk_verner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "numerics/error_stack.h"

namespace odefit {
namespace {

using Span = std::span<const double>;
using Out = std::span<double>;

// The settings the efficiency test integrates with.
constexpr double kSystemTol = 0.10000000149011612;

void Zero(int n, double, Span, Out dy) { std::fill_n(dy.begin(), n, 0.0); }
void One(int n, double, Span, Out dy) { std::fill_n(dy.begin(), n, 1.0); }
void Decay(int n, double, Span y, Out dy) {
  for (int i = 0; i < n; ++i) dy[i] = -y[i];
}
void Growth(int n, double, Span y, Out dy) {
  for (int i = 0; i < n; ++i) dy[i] = y[i];
}
// y0' = y1, y1' = -y0: from (1, 0) the solution is (cos x, -sin x).
void Oscillator(int, double, Span y, Out dy) {
  dy[0] = y[1];
  dy[1] = -y[0];
}

// One solver run with its arguments.
struct SolverRun {
  explicit SolverRun(std::vector<double> y0, double x0 = 0.0) : y(std::move(y0)), x(x0) {}
  void Call(OdeFunctionRef f, double xend, double tol = 1e-6) {
    solver.DIVPRK(ido, int(y.size()), f, x, xend, tol, options, y);
  }
  VernerStatistics Stats() const { return solver.Statistics(); }
  bool AfterStep() const { return ido == VernerRequest::AcceptStep || ido == VernerRequest::RejectStep; }
  // Integrates to xend with post-step returns and gives the accepted steps.
  std::vector<double> AcceptedSteps(OdeFunctionRef f, double xend, double tol = 1e-6) {
    options.postStepReturn = true;
    std::vector<double> steps;
    for (Call(f, xend, tol); AfterStep(); Call(f, xend, tol)) {
      if (ido == VernerRequest::AcceptStep) steps.push_back(Stats().lastTrialStep);
    }
    return steps;
  }

  RungeKuttaVerner solver;
  VernerOptions options;
  std::vector<double> y;
  double x;
  VernerRequest ido = VernerRequest::Start;
};

class RkVernerTest : public ::testing::Test {
 protected:
  // The printed message with its line layout undone: the " *** " prefixes
  // dropped and every run of blanks and line breaks reduced to one blank.
  std::string Message() const {
    std::istringstream in(out_.str());
    std::string line, joined;
    while (std::getline(in, line)) {
      if (line.rfind(" *** ", 0) == 0) joined += " " + line.substr(5);
    }
    return Collapsed(joined);
  }
  static std::string Collapsed(const std::string& text) {
    std::string result;
    for (const char c : text) {
      if (c == ' ' && (result.empty() || result.back() == ' ')) continue;
      result += c;
    }
    if (!result.empty() && result.back() == ' ') result.pop_back();
    return result;
  }
  void ExpectMessage(const std::string& header, const std::string& text) const {
    EXPECT_EQ(Message(), Collapsed(header + ".  " + text)) << out_.str();
  }

  std::ostringstream out_;
  ErrorReporter reporter_{&out_};
  ErrorReporterScope bind_{reporter_};
};

// ---------------------------------------------------------------------------
// Step-size selection

struct SplitCase {
  double h0, xend;
};
class RkVernerSplitTest : public RkVernerTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(RkVernerSplitTest, OneAndAHalfStepsLeftAreCoveredByTwoEqualStepsEndingExactlyAtXend) {
  const auto [h0, xend] = GetParam();
  SolverRun run({0.0});
  run.options.initialStep = h0;
  const auto steps = run.AcceptedSteps(One, xend);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_DOUBLE_EQ(steps[0], 0.75 * std::copysign(h0, xend));
  EXPECT_EQ(steps[1], steps[0]);
  EXPECT_EQ(run.x, xend);
  EXPECT_EQ(run.ido, VernerRequest::Continue);
  EXPECT_DOUBLE_EQ(run.y[0], xend);
}

INSTANTIATE_TEST_SUITE_P(Distances, RkVernerSplitTest,
                         ::testing::Values(SplitCase{0.5, 0.75}, SplitCase{0.1, 0.15},
                                           SplitCase{2.0, 3.0}, SplitCase{0.5, -0.75}));

struct LimitCase {
  double h0, hmax, scale;  // initial step, HMAX, estimate scale
  double firstStep, largestStep;
};
class RkVernerLimitTest : public RkVernerTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(RkVernerLimitTest, FirstAndLargestStepsFollowTheInitialStepHmaxAndEstimateScale) {
  const LimitCase c = GetParam();
  SolverRun run({0.0});
  run.options.initialStep = c.h0;
  run.options.maximumStep = c.hmax;
  run.options.estimateScale = c.scale;
  const auto steps = run.AcceptedSteps(One, 40.0);
  ASSERT_FALSE(steps.empty());
  EXPECT_DOUBLE_EQ(steps.front(), c.firstStep);
  EXPECT_EQ(*std::max_element(steps.begin(), steps.end()), c.largestStep);
  EXPECT_EQ(run.Stats().maximumStep, c.largestStep);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RkVernerLimitTest,
    ::testing::Values(LimitCase{1.0, 0.5, 0.0, 0.5, 0.5},    // HMAX bounds the first step
                      LimitCase{0.25, 0.0, 0.0, 0.25, 2.0},  // default HMAX 2
                      LimitCase{0.0, 0.0, 0.0, 2.0 * std::pow(1e-6, 1.0 / 6.0), 2.0},
                      LimitCase{1.0, 0.0, 4.0, 0.5, 0.5},     // HMAX = 2/S
                      LimitCase{1.0, 0.25, 4.0, 0.25, 0.25},  // unless HMAX is smaller
                      LimitCase{1.0, 0.0, 0.5, 1.0, 2.0}));   // 2/S above 2 changes nothing

TEST_F(RkVernerTest, ZeroErrorEstimateDoublesTheStepUpToHmax) {
  SolverRun run({3.0, -1.0});
  run.options.initialStep = 1.0 / 64.0;
  run.options.maximumStep = 0.2;
  const auto steps = run.AcceptedSteps(Zero, 10.0);
  ASSERT_GE(steps.size(), 6u);
  const std::vector<double> expected = {1.0 / 64, 1.0 / 32, 1.0 / 16, 1.0 / 8, 0.2, 0.2};
  EXPECT_EQ(std::vector<double>(steps.begin(), steps.begin() + 6), expected);
  EXPECT_EQ(run.y, (std::vector<double>{3.0, -1.0}));
}

// ---------------------------------------------------------------------------
// The calling protocol

struct SystemCase {
  double dt, h;
  int intervals;
  double bound;  // on |y - exp(-x)| at every interval end
  int steps;     // accepted, none rejected
};
class RkVernerSystemTest : public RkVernerTest, public ::testing::WithParamInterface<SystemCase> {};

TEST_P(RkVernerSystemTest, IntervalByIntervalRunWithTheSystemSettingsReproducesExpDecay) {
  const SystemCase c = GetParam();
  SolverRun run({1.0});
  run.options.initialStep = c.h;
  run.options.stepLimit = 100000;
  double largestX = -1.0;
  const auto decay = [&](int n, double x, Span y, Out dy) {
    largestX = std::max(largestX, x);
    Decay(n, x, y, dy);
  };
  double error = 0.0;
  for (int k = 1; k <= c.intervals; ++k) {
    const double xend = run.x + c.dt;
    run.Call(decay, xend, kSystemTol);
    ASSERT_EQ(run.ido, VernerRequest::Continue);
    ASSERT_EQ(run.x, xend);
    EXPECT_LE(largestX, xend);  // no stage looks beyond the interval
    error = std::max(error, std::fabs(run.y[0] - std::exp(-run.x)));
  }
  EXPECT_LT(error, c.bound);
  EXPECT_EQ(run.Stats().acceptedSteps, c.steps);
  EXPECT_EQ(run.Stats().evaluations, 8 * c.steps);
  // HMIN was fixed at the first step from max(|X|, |XEND|) = dt.
  EXPECT_EQ(run.Stats().minimumStep, 10.0 * (std::numeric_limits<double>::epsilon() * c.dt));
  const double x = run.x, y = run.y[0];
  run.ido = VernerRequest::End;
  run.Call(decay, x + c.dt, kSystemTol);
  EXPECT_FALSE(run.solver.IsOpen());
  EXPECT_EQ(run.x, x);
  EXPECT_EQ(run.y[0], y);
  EXPECT_EQ(out_.str(), "");
}

INSTANTIATE_TEST_SUITE_P(Intervals, RkVernerSystemTest,
                         ::testing::Values(SystemCase{0.01, 0.01, 1000, 1e-14, 1000},
                                           SystemCase{0.05, 0.01, 400, 1e-12, 404},
                                           SystemCase{1.0, 1.0, 20, 1e-4, 20}));

struct ReturnCase {
  bool preStep, postStep;
};
class RkVernerReturnTest : public RkVernerTest, public ::testing::WithParamInterface<ReturnCase> {};

TEST_P(RkVernerReturnTest, PreAndPostStepReturnsResumeWithoutChangingTheSolution) {
  SolverRun plain({1.0, 0.0});
  plain.Call(Oscillator, 7.0);
  SolverRun run({1.0, 0.0});
  run.options.preStepReturn = GetParam().preStep;
  run.options.postStepReturn = GetParam().postStep;
  int pre = 0, post = 0;
  for (run.Call(Oscillator, 7.0); run.ido != VernerRequest::Continue; run.Call(Oscillator, 7.0)) {
    ASSERT_TRUE(run.ido == VernerRequest::ResumeAfterPreStep || run.AfterStep());
    (run.ido == VernerRequest::ResumeAfterPreStep ? pre : post) += 1;
  }
  EXPECT_EQ(run.x, 7.0);
  EXPECT_EQ(run.y, plain.y);
  EXPECT_EQ(run.Stats().evaluations, plain.Stats().evaluations);
  const int steps = int(plain.Stats().acceptedSteps);  // no rejections on this problem
  EXPECT_EQ(pre, GetParam().preStep ? steps : 0);
  EXPECT_EQ(post, GetParam().postStep ? steps : 0);
}

INSTANTIATE_TEST_SUITE_P(Returns, RkVernerReturnTest,
                         ::testing::Values(ReturnCase{true, false}, ReturnCase{false, true},
                                           ReturnCase{true, true}));

TEST_F(RkVernerTest, TwoOpenRunsInSeparateContextsDoNotInterfere) {
  SolverRun alone({1.0});
  for (int k = 1; k <= 10; ++k) alone.Call(Growth, 0.3 * k);
  SolverRun a({1.0}), b({1.0, 0.0});
  for (int k = 1; k <= 10; ++k) {
    a.Call(Growth, 0.3 * k);
    b.Call(Oscillator, 0.5 * k, 1e-9);
  }
  EXPECT_EQ(a.y, alone.y);
  EXPECT_EQ(a.Stats().evaluations, alone.Stats().evaluations);
  EXPECT_NEAR(b.y[0], std::cos(5.0), 1e-8);
}

TEST_F(RkVernerTest, RightHandSideRaisingAnErrorEndsTheCallAtOnce) {
  int calls = 0;
  const auto f = [&](int n, double x, Span y, Out dy) {
    if (++calls == 11) {  // the third stage of the second step
      E1PSH("MODEL ");
      E1MES(ErrorType::ImmediateWarning, 4, "The model is unreliable here.");
      E1POP("MODEL ");
    }
    Decay(n, x, y, dy);
  };
  SolverRun run({1.0});
  run.Call(f, 1.0);
  EXPECT_EQ(run.Stats().evaluations, 11);
  EXPECT_EQ(run.Stats().acceptedSteps, 1);
  EXPECT_GT(run.x, 0.0);
  EXPECT_NEAR(run.y[0], std::exp(-run.x), 1e-9);
  EXPECT_EQ(reporter_.Level(), 1);
  // The routine F called reports to the user; the solver's core does not.
  const std::string printed = out_.str();
  EXPECT_NE(printed.find("WARNING  ERROR 4 from MODEL.  The model is unreliable here."),
            std::string::npos);
  const auto row = [&](const std::string& name) {
    const auto at = printed.find("     " + name + " ");
    return printed.substr(at, printed.find('\n', at) - at);
  };
  EXPECT_EQ(row("MODEL").find("(Called internally)"), std::string::npos) << printed;
  EXPECT_NE(row("DI2PRK").find("(Called internally)"), std::string::npos) << printed;

  run.Call(f, 1.0);  // IDO is passed back as returned: the run goes on
  EXPECT_EQ(run.ido, VernerRequest::Continue);
  EXPECT_EQ(run.x, 1.0);
}

TEST_F(RkVernerTest, RightHandSideThrowingLeavesNoTraceInTheReporter) {
  int calls = 0;
  const auto f = [&](int n, double x, Span y, Out dy) {
    if (++calls == 5) throw std::runtime_error("model failure");
    Decay(n, x, y, dy);
  };
  SolverRun run({1.0});
  EXPECT_THROW(run.Call(f, 1.0), std::runtime_error);
  EXPECT_EQ(reporter_.Level(), 1);
  // The level F was called at is internal again: a terminal error there is marked so.
  E1PSH("OUTER");
  E1PSH("MIDDLE");
  E1PSH("INNER");
  E1MES(ErrorType::Terminal, 1, "Inner failure.");
  EXPECT_NE(out_.str().find("     INNER                                5           1    (Called internally)\n"),
            std::string::npos)
      << out_.str();
}

// ---------------------------------------------------------------------------
// Refused calls: terminal errors, printed at once

struct RefusalCase {
  const char* name;
  std::function<void(SolverRun&)> calls;  // the last call is the refused one
  const char* header;
  const char* text;
};
class RkVernerRefusalTest : public RkVernerTest,
                            public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RkVernerRefusalTest, IsReportedAndStopsTheRun) {
  SolverRun run({1.0});
  EXPECT_THROW(GetParam().calls(run), RunStopped);
  ExpectMessage(GetParam().header, GetParam().text);
}

// clang-format off
const RefusalCase kRefusals[] = {
    {"ZeroTolerance", [](SolverRun& r) { r.Call(Decay, 1.0, 0.0); },
     "TERMINAL ERROR 3 from DI2PRK",
     "The tolerance TOL = 0.000000000000000D+00.  It must be greater than 0.0."},
    {"NegativeTolerance", [](SolverRun& r) { r.Call(Decay, 1.0, -0.5); },
     "TERMINAL ERROR 3 from DI2PRK",
     "The tolerance TOL = -5.000000000000000D-01.  It must be greater than 0.0."},
    {"NormAboveThree", [](SolverRun& r) { r.options.norm = static_cast<VernerNorm>(4); r.Call(Decay, 1.0); },
     "TERMINAL ERROR 10 from DI2PRK",
     "The argument PARAM(10) = INORM = 4.000000000000000D+00.  It must be less than four."},
    {"NegativeNorm", [](SolverRun& r) { r.options.norm = static_cast<VernerNorm>(-1); r.Call(Decay, 1.0); },
     "TERMINAL ERROR 4 from DI2PRK",
     "Argument PARAM(10) = -1.000000000000000D+00.  It cannot be negative."},
    {"NegativeEvaluationLimit", [](SolverRun& r) { r.options.evaluationLimit = -2; r.Call(Decay, 1.0); },
     "TERMINAL ERROR 4 from DI2PRK",
     "Argument PARAM(5) = -2.000000000000000D+00.  It cannot be negative."},
    {"NegativeFloor", [](SolverRun& r) { r.options.normFloor = -0.5; r.Call(Decay, 1.0); },
     "TERMINAL ERROR 4 from DI2PRK",
     "Argument PARAM(11) = -5.000000000000000D-01.  It cannot be negative."},
    {"NoEquations", [](SolverRun& r) { r.solver.DIVPRK(r.ido, 0, Decay, r.x, 1.0, 1e-6, r.options, r.y); },
     "TERMINAL ERROR 1 from DIVPRK",
     "The number of equations NEQ = 0.  It must be at least 1."},
    {"ShortY", [](SolverRun& r) { r.solver.DIVPRK(r.ido, 2, Decay, r.x, 1.0, 1e-6, r.options, r.y); },
     "TERMINAL ERROR 3 from DIVPRK",
     "The storage given for Y holds 1 values while 2 are needed."},
    {"EmptyYInAnOpenRun",
     [](SolverRun& r) {
       r.Call(Decay, 1.0);
       r.solver.DIVPRK(r.ido, 1, Decay, r.x, 2.0, 1e-6, r.options, {});
     },
     "TERMINAL ERROR 3 from DIVPRK",
     "The storage given for Y holds 0 values while 1 are needed."},
    {"IdoOutOfRange", [](SolverRun& r) { r.ido = static_cast<VernerRequest>(7); r.Call(Decay, 1.0); },
     "TERMINAL ERROR 2 from DIVPRK",
     "The status indicator IDO = 7.  It must be in the range 1 to 6."},
    {"ContinueBeforeStart", [](SolverRun& r) { r.ido = VernerRequest::Continue; r.Call(Decay, 1.0); },
     "TERMINAL ERROR 9 from DI2PRK",
     "IDO has been set to 2, but the routine has not been initialized in a call with IDO = 1."},
    {"EndBeforeStart", [](SolverRun& r) { r.ido = VernerRequest::End; r.Call(Decay, 1.0); },
     "TERMINAL ERROR 9 from DI2PRK",
     "IDO has been set to 3, but the routine has not been initialized in a call with IDO = 1."},
    {"SecondStart", [](SolverRun& r) { r.Call(Decay, 1.0); r.ido = VernerRequest::Start; r.Call(Decay, 2.0); },
     "TERMINAL ERROR 8 from DI2PRK",
     "IDO = 1.  IDO can only be set to 1 in the initial call to the routine, or if the previous "
     "call was made with IDO = 3."},
    {"UnchangedXend", [](SolverRun& r) { r.Call(Decay, 1.0); r.Call(Decay, 1.0); },
     "TERMINAL ERROR 6 from DI2PRK",
     "Final point XEND = 1.000000000000000D+00 is not changed from the previous call."},
    {"ChangedX", [](SolverRun& r) { r.Call(Decay, 1.0); r.x = 0.5; r.Call(Decay, 2.0); },
     "TERMINAL ERROR 5 from DI2PRK",
     "Independent variable X = 5.000000000000000D-01 is changed from the previous call."},
    {"HminAboveHmax", [](SolverRun& r) { r.options.minimumStep = 1.0; r.options.maximumStep = 0.5; r.Call(Decay, 4.0); },
     "TERMINAL ERROR 7 from DI2PRK",
     "HMIN = 1.000000000000000D+00 is greater than HMAX = 5.000000000000000D-01."},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Calls, RkVernerRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RkVernerTest, RefusalInTheCoreIsPrintedWithATracebackMarkingItInternal) {
  SolverRun run({1.0});
  EXPECT_THROW(run.Call(Decay, 1.0, 0.0), RunStopped);
  EXPECT_EQ(out_.str(),
            "\n"
            " *** TERMINAL ERROR 3 from DI2PRK.  The tolerance TOL =\n"
            " ***          0.000000000000000D+00.  It must be greater than 0.0.\n"
            "     Here is a traceback of subprogram calls in reverse order:\n"
            "     Routine name                    Error type  Error code\n"
            "     ------------                    ----------  ----------\n"
            "     DI2PRK                               5           3    (Called internally)\n"
            "     DIVPRK                               0           0\n"
            "     USER                                 0           0\n");
}

// ---------------------------------------------------------------------------
// Failed steps: fatal errors, printed when the solver returns

TEST_F(RkVernerTest, StepLimitStopsAtTheLastAcceptedStepAndCloseAllowsANewRun) {
  SolverRun run({1.0});
  run.options.initialStep = 0.125;
  run.options.maximumStep = 0.125;
  run.options.stepLimit = 3;
  EXPECT_THROW(run.Call(Decay, 10.0), RunStopped);
  EXPECT_EQ(out_.str(),
            "\n"
            " *** FATAL    ERROR 3 from DIVPRK.  Maximum number of steps allowed, 3, used.\n"
            " ***           The problem may be stiff.\n");
  EXPECT_EQ(run.x, 0.375);
  EXPECT_NEAR(run.y[0], std::exp(-0.375), 1e-10);
  EXPECT_EQ(run.Stats().acceptedSteps, 3);

  EXPECT_EQ(reporter_.Level(), 1);
  run.solver.Close();
  EXPECT_FALSE(run.solver.IsOpen());
  run.ido = VernerRequest::Start;
  run.options.stepLimit = 0;
  run.Call(Decay, 10.0);
  EXPECT_EQ(run.ido, VernerRequest::Continue);
  EXPECT_EQ(run.x, 10.0);
}

struct EvaluationLimitCase {
  const char* name;
  void (*f)(int, double, Span, Out);
  double h0, hmax, tol, mf;
  const char* text;
  double x, nf;  // where the run stops
};
class RkVernerEvaluationLimitTest : public RkVernerTest,
                                    public ::testing::WithParamInterface<EvaluationLimitCase> {};

TEST_P(RkVernerEvaluationLimitTest, IsCheckedBeforeEachStepCountingSevenForARetry) {
  const EvaluationLimitCase c = GetParam();
  SolverRun run({1.0});
  run.options.initialStep = c.h0;
  run.options.maximumStep = c.hmax;
  run.options.evaluationLimit = c.mf;
  EXPECT_THROW(run.Call(c.f, 3.0, c.tol), RunStopped);
  ExpectMessage("FATAL ERROR 2 from DIVPRK", c.text);
  EXPECT_EQ(run.x, c.x);
  EXPECT_EQ(run.Stats().evaluations, c.nf);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RkVernerEvaluationLimitTest,
    ::testing::Values(
        EvaluationLimitCase{
            "AcceptedSteps", Decay, 0.125, 0.125, 1e-6, 20,
            "Completion of the next step would make the number of function evaluations 24, "
            "but only 20 evaluations are allowed.",
            0.25, 16},
        // A first step of 2 on y' = y at TOL 1e-10 is rejected five times.
        EvaluationLimitCase{
            "RejectedSteps", Growth, 2.0, 0.0, 1e-10, 22,
            "Completion of the next step would make the number of function evaluations 29, "
            "but only 22 evaluations are allowed.",
            0.0, 22}),
    [](const auto& info) { return std::string(info.param.name); });

struct BlowUpCase {
  double value;   // returned by F beyond the limit
  int component;  // the component that goes bad
};
class RkVernerBlowUpTest : public RkVernerTest, public ::testing::WithParamInterface<BlowUpCase> {};

TEST_P(RkVernerBlowUpTest, StepsIntoNonFiniteDerivativesAreRejectedUntilTheToleranceCannotBeMet) {
  const BlowUpCase c = GetParam();
  // Both components grow like exp(x); the bad one's derivative stops being
  // finite beyond 1.5, so no accepted state may pass it.
  const auto f = [&](int n, double, Span y, Out dy) {
    for (int i = 0; i < n; ++i) dy[i] = y[i];
    if (y[c.component] > 1.5) dy[c.component] = c.value;
  };
  SolverRun run({1.0, 1.0});
  EXPECT_THROW(run.Call(f, 2.0, 1e-6), RunStopped);
  ExpectMessage(
      "FATAL ERROR 1 from DIVPRK",
      "Unable to satisfy the error requirement.  TOL = 1.000000000000000D-06 may be too small.");
  EXPECT_TRUE(std::isfinite(run.y[0]) && std::isfinite(run.y[1]));
  EXPECT_LE(run.y[c.component], 1.5);
  EXPECT_GT(run.x, std::log(1.5) - 0.05);
  EXPECT_NEAR(run.y[1 - c.component], std::exp(run.x), 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Values, RkVernerBlowUpTest,
                         ::testing::Values(BlowUpCase{std::numeric_limits<double>::quiet_NaN(), 0},
                                           BlowUpCase{std::numeric_limits<double>::quiet_NaN(), 1},
                                           BlowUpCase{std::numeric_limits<double>::infinity(), 1},
                                           BlowUpCase{-std::numeric_limits<double>::infinity(),
                                                      0}));

TEST_F(RkVernerTest, AfterANonFiniteRejectionTheStepGrowsOnceAndThenHalves) {
  // A NaN estimate fails every comparison: the first retry doubles the step,
  // and from the second consecutive rejection on the step is halved.
  const auto f = [](int, double, Span y, Out dy) {
    dy[0] = y[0] > 1.5 ? std::numeric_limits<double>::quiet_NaN() : y[0];
  };
  SolverRun run({1.4});
  run.options.initialStep = 0.5;
  run.options.postStepReturn = true;
  std::vector<double> steps;
  std::vector<VernerRequest> verdicts;
  for (int attempt = 0; attempt < 6; ++attempt) {
    run.Call(f, 2.0);
    steps.push_back(run.Stats().lastTrialStep);
    verdicts.push_back(run.ido);
  }
  EXPECT_EQ(steps, (std::vector<double>{0.5, 1.0, 0.5, 0.25, 0.125, 0.0625}));
  constexpr VernerRequest kRejected = VernerRequest::RejectStep, kAccepted = VernerRequest::AcceptStep;
  EXPECT_EQ(verdicts, (std::vector<VernerRequest>{kRejected, kRejected, kRejected, kRejected, kRejected, kAccepted}));
}

// ---------------------------------------------------------------------------
// Accuracy

// Integrates the oscillator over [0, 2] with the fixed step h and returns the
// global error at the end.
double FixedStepError(double h) {
  SolverRun run({1.0, 0.0});
  run.options.minimumStep = h;
  run.options.maximumStep = h;
  run.Call(Oscillator, 2.0, 1e10);
  return std::hypot(run.y[0] - std::cos(2.0), run.y[1] + std::sin(2.0));
}

TEST_F(RkVernerTest, HalvingAFixedStepDividesTheGlobalErrorBySixtyFour) {
  for (const double h : {0.25, 0.125}) {
    const double ratio = FixedStepError(h) / FixedStepError(h / 2);
    EXPECT_GT(ratio, 0.85 * 64) << "h = " << h;
    EXPECT_LT(ratio, 1.15 * 64) << "h = " << h;
  }
}

TEST_F(RkVernerTest, ToleranceSmallerBySixtyFourDoublesTheNumberOfSteps) {
  // The estimate scales like the sixth power of the step, so TOL / 2^6
  // should halve the steps the controller settles on.
  const auto steps = [](double tol) {
    SolverRun run({1.0, 0.0});
    run.options.stepLimit = 100000;
    run.Call(Oscillator, 50.0, tol);
    return run.Stats().acceptedSteps;
  };
  const double coarse = steps(1e-8), fine = steps(1e-8 / 64);
  EXPECT_GT(fine / coarse, 1.8);
  EXPECT_LT(fine / coarse, 2.2);
  // Reference counts of this controller (0.9 safety factor, sixth root).
  EXPECT_EQ(coarse, 328);
  EXPECT_EQ(fine, 655);
}

TEST_F(RkVernerTest, NormChoicesWeighTheErrorAsDocumented) {
  // Accepted steps to integrate f from y0 over [0, 12] with PARAM(10), PARAM(11).
  const auto steps = [](OdeFunctionRef f, double y0, VernerNorm norm, double floor) {
    SolverRun r({y0});
    r.options.stepLimit = 100000;
    r.options.norm = norm;
    r.options.normFloor = floor;
    r.Call(f, 12.0, 1e-8);
    EXPECT_EQ(r.x, 12.0);
    return r.Stats().acceptedSteps;
  };
  // y grows to 1.6e5: relative to max(|y|, 1) unless the norm is absolute.
  const double relative = steps(Growth, 1.0, VernerNorm::RelativeToSolution, 0);
  EXPECT_EQ(steps(Growth, 1.0, VernerNorm::RelativeToFloor, 1.0), relative);
  EXPECT_GT(steps(Growth, 1.0, VernerNorm::Absolute, 0), 2 * relative);
  EXPECT_LT(steps(Growth, 1.0, VernerNorm::RelativeToFloor, 1e3), relative);
  // y decays from 100: the largest |y| met keeps weighing 100.
  EXPECT_LT(steps(Decay, 100.0, VernerNorm::RelativeToLargest, 0), steps(Decay, 100.0, VernerNorm::RelativeToSolution, 0));
}

}  // namespace
}  // namespace odefit
