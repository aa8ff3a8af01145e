#include "derivatives/differentiation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "numerics/error_stack.h"

namespace odefit {
namespace {

constexpr double kDt = 0.25;

std::vector<double> RandomSeries(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-3.0, 3.0);
  std::vector<double> x(n);
  for (double& v : x) v = dist(gen);
  return x;
}

struct Estimates {
  std::vector<double> V;
  std::vector<double> G;
};

Estimates Differentiate(const std::vector<double>& x, int m, double dt = kDt) {
  const int n = static_cast<int>(x.size());
  Estimates e{std::vector<double>(n - m + 1), std::vector<double>(n - m + 1)};
  DifferentiateSeries(x, n, m, 1, dt, e.V, e.G);
  return e;
}

class DifferentiateSeriesTest : public ::testing::Test {
 protected:
  ErrorReporter reporter_;
  ErrorReporterScope bind_{reporter_};
};

// Closed forms of the window line: x points at the window's first sample.
struct ClosedForm {
  int m;
  std::function<double(const double*)> value;
  std::function<double(const double*)> slopePerSample;
};

TEST_F(DifferentiateSeriesTest, MatchesTheClosedFormsOfSmallWindows) {
  const std::vector<ClosedForm> cases = {
      {2, [](const double* x) { return x[0]; }, [](const double* x) { return x[1] - x[0]; }},
      {3, [](const double* x) { return (x[0] + x[1] + x[2]) / 3.0; },
       [](const double* x) { return (x[2] - x[0]) / 2.0; }},
      {4,
       [](const double* x) {
         const double s = (-3 * x[0] - x[1] + x[2] + 3 * x[3]) / 10.0;
         return (x[0] + x[1] + x[2] + x[3]) / 4.0 - s / 2.0;
       },
       [](const double* x) { return (-3 * x[0] - x[1] + x[2] + 3 * x[3]) / 10.0; }},
      {5, [](const double* x) { return (x[0] + x[1] + x[2] + x[3] + x[4]) / 5.0; },
       [](const double* x) { return (-2 * x[0] - x[1] + x[3] + 2 * x[4]) / 10.0; }},
  };
  const std::vector<double> x = RandomSeries(40, 7);
  for (const ClosedForm& c : cases) {
    SCOPED_TRACE("m = " + std::to_string(c.m));
    const Estimates e = Differentiate(x, c.m);
    ASSERT_EQ(e.V.size(), x.size() - c.m + 1);
    for (std::size_t i = 0; i < e.V.size(); ++i) {
      EXPECT_NEAR(e.V[i], c.value(&x[i]), 1e-13);
      EXPECT_NEAR(e.G[i], c.slopePerSample(&x[i]) / kDt, 1e-12);
    }
  }
}

TEST_F(DifferentiateSeriesTest, GivesOneOrdinaryLineFitWhenTheWindowCoversTheSeries) {
  for (int n : {2, 6, 9}) {
    SCOPED_TRACE("N = " + std::to_string(n));
    const std::vector<double> x = RandomSeries(n, 11 + n);
    const int p = (n - 1) / 2;
    double tMean = 0.0, yMean = 0.0;
    for (int r = 0; r < n; ++r) {
      tMean += r - p;
      yMean += x[r];
    }
    tMean /= n;
    yMean /= n;
    double sty = 0.0, stt = 0.0;
    for (int r = 0; r < n; ++r) {
      sty += (r - p - tMean) * (x[r] - yMean);
      stt += (r - p - tMean) * (r - p - tMean);
    }
    const double slope = sty / stt;
    const Estimates e = Differentiate(x, n);
    ASSERT_EQ(e.V.size(), 1u);
    EXPECT_NEAR(e.V[0], yMean - slope * tMean, 1e-13);
    EXPECT_NEAR(e.G[0], slope / kDt, 1e-12);
  }
}

TEST_F(DifferentiateSeriesTest, ReproducesAStraightLineAtTheReferenceSampleForEveryWindowLength) {
  // x(n) = a + b*n for sample numbers n = 1..N; window i (1-based) refers to
  // sample i + (m - 1)/2, which for even m lies one sample before the centre.
  const double a = 1.75, b = -0.625;
  std::vector<double> x(30);
  for (int n = 1; n <= 30; ++n) x[n - 1] = a + b * n;
  for (int m = 2; m <= 10; ++m) {
    SCOPED_TRACE("m = " + std::to_string(m));
    const int p = (m - 1) / 2;
    const Estimates e = Differentiate(x, m, 0.1);
    for (std::size_t k = 0; k < e.V.size(); ++k) {
      const int i = static_cast<int>(k) + 1;
      EXPECT_NEAR(e.V[k], a + b * (i + p), 1e-12);
      EXPECT_NEAR(e.G[k], b / 0.1, 1e-11);
    }
  }
}

TEST_F(DifferentiateSeriesTest, PlacesTheEvenWindowOnItsSecondSampleForM4) {
  // On a parabola the fitted line's value differs between the second sample
  // (t = 0) and the centre of the window (where it would be the mean 3.5).
  std::vector<double> x = {0.0, 1.0, 4.0, 9.0, 16.0};  // n^2 at n = 0..4
  const Estimates e = Differentiate(x, 4, 1.0);
  // Window 1 covers 0, 1, 4, 9 at t = -1, 0, 1, 2: slope 3, mean 3.5, value 2.
  EXPECT_NEAR(e.G[0], 3.0, 1e-13);
  EXPECT_NEAR(e.V[0], 2.0, 1e-13);
  EXPECT_NEAR(e.G[1], 5.0, 1e-13);
  EXPECT_NEAR(e.V[1], 5.0, 1e-13);
}

TEST_F(DifferentiateSeriesTest, GivesZeroSlopeAndTheValueOnAConstantSeries) {
  const std::vector<double> x(12, -4.5);
  for (int m : {2, 3, 4, 7, 12}) {
    const Estimates e = Differentiate(x, m, 0.01);
    for (std::size_t k = 0; k < e.V.size(); ++k) {
      EXPECT_NEAR(e.V[k], -4.5, 1e-14);
      EXPECT_NEAR(e.G[k], 0.0, 1e-11);
    }
  }
}

}  // namespace
}  // namespace odefit
