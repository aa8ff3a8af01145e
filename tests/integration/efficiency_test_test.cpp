#include "integration/efficiency_test.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "numerics/error_stack.h"

namespace odefit {
namespace {

// A test series of one variable: y(n) = start + rate * (n - 1) * dt, exactly what Euler steps of dt give for
// y' = rate.
std::vector<double> Line(int count, double start, double rate, double dt) {
  std::vector<double> y(static_cast<std::size_t>(count));
  for (int n = 0; n < count; ++n) y[static_cast<std::size_t>(n)] = start + rate * n * dt;
  return y;
}

TestRunSettings Settings(int D, int Ltest, int Ktest, int Stest, int method, double dt) {
  TestRunSettings run;
  run.D = D;
  run.Ltest = Ltest;
  run.Ktest = Ktest;
  run.Stest = Stest;
  run.method = method;
  run.h = dt;
  run.dt = dt;
  run.t0 = 11 * dt;
  return run;
}

struct Result {
  std::vector<double> error;
  std::vector<int> time;
  int infinite = -1;
};

Result RunPieces(const std::vector<double>& series, const TestRunSettings& run, ModelFunction F) {
  Result r{std::vector<double>(static_cast<std::size_t>(run.D * run.Ltest), -1.0),
           std::vector<int>(static_cast<std::size_t>(run.D), -1)};
  const int ntest = static_cast<int>(series.size()) / run.D;
  EfficiencyTest(series, ntest, run, F, r.error, r.time, r.infinite);
  return r;
}

TEST(EfficiencyTest, PerfectModelPredictsForTheWholePiece) {
  auto rate = [](int, double, std::span<const double>, std::span<double> DY) { DY[0] = 2.0; };
  const TestRunSettings run = Settings(1, 5, 3, 2, 1, 0.5);
  const Result r = RunPieces(Line(2 * 2 + 5 + 1, 1.0, 2.0, 0.5), run, rate);
  EXPECT_EQ(r.error, std::vector<double>(5, 0.0));
  EXPECT_EQ(r.time, std::vector<int>{5});
  EXPECT_EQ(r.infinite, 0);
}

TEST(EfficiencyTest, WrongFirstIntervalGivesPredictionTimeZero) {
  auto wrong = [](int, double, std::span<const double>, std::span<double> DY) { DY[0] = -2.0; };
  const Result r = RunPieces(Line(8, 1.0, 2.0, 0.5), Settings(1, 7, 1, 1, 2, 0.5), wrong);
  EXPECT_GT(r.error[0], PredictionThreshold);
  EXPECT_EQ(r.time, std::vector<int>{0});
}

TEST(EfficiencyTest, PieceLeavingTheBoundsIsPenalisedAndCounted) {
  // Alternating +-1: mean 0, variance 1, bound 100. The model jumps by 60 per interval, so the state
  // leaves the bounds during the second interval and is not integrated at lead times 3 to 5.
  const std::vector<double> series = {1, -1, 1, -1, 1, -1};
  auto jump = [](int, double, std::span<const double>, std::span<double> DY) { DY[0] = 60.0; };
  const Result r = RunPieces(series, Settings(1, 5, 1, 1, 1, 1.0), jump);
  EXPECT_DOUBLE_EQ(r.error[0], 62.0);   // 61 against -1
  EXPECT_DOUBLE_EQ(r.error[1], 120.0);  // 121 against 1, now out of bounds
  EXPECT_DOUBLE_EQ(r.error[2], 1000.0);
  EXPECT_DOUBLE_EQ(r.error[3], 1000.0);
  EXPECT_DOUBLE_EQ(r.error[4], 1000.0);
  EXPECT_EQ(r.infinite, 1);
}

TEST(EfficiencyTest, ConstantVariableCountsOnlyExactPredictions) {
  // Variable 1 constant and predicted exactly; variable 2 constant and missed.
  const std::vector<double> series = {3, 4, 3, 4, 3, 4};
  auto model = [](int, double, std::span<const double>, std::span<double> DY) {
    DY[0] = 0.0;
    DY[1] = 0.001;
  };
  const Result r = RunPieces(series, Settings(2, 2, 1, 1, 2, 1.0), model);
  EXPECT_EQ(r.error[0], 0.0);
  EXPECT_TRUE(std::isinf(r.error[1]));
  EXPECT_EQ(r.time, (std::vector<int>{2, 0}));
}

TEST(EfficiencyTest, FailingSolverEndsOnlyItsPiece) {
  // y' = y^2 from y = 1 reaches infinity at t = 1: the adaptive solver cannot get past it.
  std::ostringstream errors;
  ErrorReporter reporter(&errors);
  ErrorReporterScope bind(reporter);
  const std::vector<double> series = {1.0, 1.0, 1.1, 1.2, 1.3, 1.4, 1.3, 1.2};
  auto blowUp = [](int, double, std::span<const double> Y, std::span<double> DY) { DY[0] = Y[0] * Y[0]; };
  TestRunSettings run = Settings(1, 3, 2, 1, 3, 0.45);
  Result r;
  EXPECT_NO_THROW(r = RunPieces(series, run, blowUp));
  EXPECT_EQ(reporter.Level(), 1);
  EXPECT_NE(errors.str().find("from DIVPRK"), std::string::npos) << errors.str();
  EXPECT_EQ(r.infinite, 2);
  // Both pieces fail in lead time 3 (from 0.9 to 1.35 after their start), which gets the penalty.
  EXPECT_LT(r.error[1], 1000.0);
  EXPECT_GT(r.error[2], 1000.0);
}

TEST(ModelOrbitRun, ShortestPieceDrawsItsPointsAtTheRightEdges) {
  // Ltest = 1: the series point at x = 475.
  std::vector<std::pair<int, int>> points;
  auto plot = [&](int x, int y) { points.emplace_back(x, y); };
  const std::vector<double> series = {0.0, 1.0};
  const std::vector<double> derivatives = {1.0, 1.0};
  auto rate = [](int, double, std::span<const double>, std::span<double> DY) { DY[0] = 1.0; };
  ModelOrbitRun(series, derivatives, 2, Settings(1, 1, 1, 1, 1, 1.0), rate, plot);
  // Range [-0.1, 1.1]; the derivative range is a single value, so v sits in the middle of the box.
  const int y0 = 550 - 100;
  ASSERT_EQ(points.size(), 3U);
  EXPECT_EQ(points[0], std::make_pair(35 + static_cast<int>(200 * (0.1 / 1.2)), y0));
  EXPECT_EQ(points[1], std::make_pair(35 + static_cast<int>(200 * (1.1 / 1.2)), y0));
  EXPECT_EQ(points[2], std::make_pair(475, 175 - static_cast<int>(150 * (1.1 / 1.2))));
}

// --- The pieces on several threads -------------------------------------------------------------

struct Printed {
  Result result;
  std::string messages;
  int levelAfter = 0;
  ErrorReporter after{nullptr};  // the caller's reporter at the end
};

// Runs the test with `threads` threads from `entry`'s state, its messages caught.
Printed RunWithThreads(const std::vector<double>& series, TestRunSettings run, ModelFunction F, int threads,
                       const ErrorReporter& entry = ErrorReporter(nullptr)) {
  std::ostringstream errors;
  ErrorReporter reporter(entry);
  reporter.SetOutput(&errors);
  ErrorReporterScope bind(reporter);
  run.threads = threads;
  Printed p;
  p.result = RunPieces(series, run, F);
  p.messages = errors.str();
  p.levelAfter = reporter.Level();
  p.after = reporter;
  return p;
}

void ExpectSameAsOneThread(const std::vector<double>& series, const TestRunSettings& run, ModelFunction F,
                           const ErrorReporter& entry = ErrorReporter(nullptr)) {
  const Printed serial = RunWithThreads(series, run, F, 1, entry);
  for (int threads : {2, 3}) {
    const Printed parallel = RunWithThreads(series, run, F, threads, entry);
    ASSERT_EQ(parallel.result.error.size(), serial.result.error.size());
    for (std::size_t q = 0; q < serial.result.error.size(); ++q) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(parallel.result.error[q]), std::bit_cast<std::uint64_t>(serial.result.error[q]))
          << "method " << run.method << ", threads " << threads << ", place " << q;
    }
    EXPECT_EQ(parallel.result.time, serial.result.time);
    EXPECT_EQ(parallel.result.infinite, serial.result.infinite);
    EXPECT_EQ(parallel.messages, serial.messages);
    EXPECT_EQ(parallel.levelAfter, serial.levelAfter);
    EXPECT_TRUE(parallel.after.SameVisibleState(serial.after)) << "threads " << threads;
    EXPECT_EQ(parallel.after.LastMessage(), serial.after.LastMessage()) << "threads " << threads;
  }
}

TEST(EfficiencyTestThreads, ParallelPiecesGiveTheNumbersOfOneThreadBitForBit) {
  // A damped oscillator with a cubic term, the series a sampled orbit of a slightly different one.
  const int D = 2, Ltest = 30, Ktest = 40, Stest = 3;
  const double dt = 0.1;
  std::vector<double> series;
  for (int n = 0; n < (Ktest - 1) * Stest + Ltest + 1; ++n) {
    series.push_back(std::exp(-0.01 * n) * std::cos(0.3 * n));
    series.push_back(std::exp(-0.01 * n) * std::sin(0.31 * n));
  }
  auto model = [](int, double, std::span<const double> Y, std::span<double> DY) {
    DY[0] = -0.1 * Y[0] - 3.0 * Y[1] + 0.2 * Y[0] * Y[0] * Y[0];
    DY[1] = 3.0 * Y[0] - 0.1 * Y[1];
  };
  for (int method : {1, 2, 3}) ExpectSameAsOneThread(series, Settings(D, Ltest, Ktest, Stest, method, dt), model);
}

TEST(EfficiencyTestThreads, FailingSolverPiecesPrintTheirMessagesInPieceOrder) {
  // y' = y^2: pieces starting at +1 blow up within the piece and the solver fails, pieces at -1 decay.
  const int Ltest = 4, Ktest = 150, Stest = 5;
  std::vector<double> series((Ktest - 1) * Stest + Ltest + 1, 0.5);
  for (int k = 0; k < Ktest; ++k) series[k * Stest] = (k % 3 == 1) ? 1.0 : -1.0;
  auto blowUp = [](int, double, std::span<const double> Y, std::span<double> DY) { DY[0] = Y[0] * Y[0]; };
  const TestRunSettings run = Settings(1, Ltest, Ktest, Stest, 3, 0.45);
  ExpectSameAsOneThread(series, run, blowUp);
  const Printed serial = RunWithThreads(series, run, blowUp, 1);
  EXPECT_EQ(serial.result.infinite, Ktest / 3);
  EXPECT_NE(serial.messages.find("from DIVPRK"), std::string::npos);
  EXPECT_EQ(serial.levelAfter, 1);
}

TEST(EfficiencyTestThreads, MessagesGoToTheStreamOfTheCallersReporter) {
  const int Ltest = 4, Ktest = 150, Stest = 5;
  std::vector<double> series((Ktest - 1) * Stest + Ltest + 1, 0.5);
  series[0] = 1.0;
  auto blowUp = [](int, double, std::span<const double> Y, std::span<double> DY) { DY[0] = Y[0] * Y[0]; };
  TestRunSettings run = Settings(1, Ltest, Ktest, Stest, 3, 0.45);
  run.threads = 2;
  std::ostringstream outer, own;
  ErrorReporter outerReporter(&outer);
  ErrorReporterScope bindOuter(outerReporter);
  {
    ErrorReporter ownReporter(&own);
    ErrorReporterScope bindOwn(ownReporter);
    RunPieces(series, run, blowUp);
    EXPECT_EQ(ownReporter.LastMessage().rfind("\n *** FATAL    ERROR 1 from DIVPRK.", 0), 0U)
        << ownReporter.LastMessage();
  }
  EXPECT_EQ(outer.str(), "");
  EXPECT_EQ(outerReporter.Level(), 1);
  EXPECT_NE(own.str().find("from DIVPRK"), std::string::npos);
}

TEST(EfficiencyTestThreads, PiecesStartFromTheCallersStateAndLeaveItAsOneThreadDoes) {
  // The caller runs the test inside a routine of its own whose inner routines
  // report to the user: the failing solver's messages then carry tracebacks.
  const int Ltest = 4, Ktest = 150, Stest = 5;
  std::vector<double> series((Ktest - 1) * Stest + Ltest + 1, 0.5);
  for (int k = 0; k < Ktest; ++k) series[k * Stest] = (k % 7 == 3) ? 1.0 : -1.0;
  auto blowUp = [](int, double, std::span<const double> Y, std::span<double> DY) { DY[0] = Y[0] * Y[0]; };
  ErrorReporter entry(nullptr);
  {
    ErrorReporterScope bind(entry);
    E1PSH("CALLER");
    E1USR("ON");
  }
  const TestRunSettings run = Settings(1, Ltest, Ktest, Stest, 3, 0.45);
  ExpectSameAsOneThread(series, run, blowUp, entry);
  const Printed serial = RunWithThreads(series, run, blowUp, 1, entry);
  EXPECT_NE(serial.messages.find("     CALLER "), std::string::npos) << serial.messages;
  EXPECT_EQ(serial.levelAfter, 2);
}

}  // namespace
}  // namespace odefit
