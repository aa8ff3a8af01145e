#include "derivatives/differentiation_plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fixture_series.h"
#include "graphics/palette.h"
#include "graphics/plot_frame.h"
#include "pixel_expectations.h"
#include "recording_observer.h"

namespace odefit {
namespace {

using namespace odefit::testing;

// D x n test data, column-major: row i of values is i * sin(k / 7) + i, of
// derivatives i * cos(k / 7) - i.
struct Rows {
  std::vector<double> values, derivatives;
};
Rows MakeRows(int D, int n) {
  Rows r;
  for (int k = 1; k <= n; ++k) {
    for (int i = 1; i <= D; ++i) {
      r.values.push_back(i * std::sin(k / 7.0) + i);
      r.derivatives.push_back(i * std::cos(k / 7.0) - i);
    }
  }
  return r;
}

DrawingSurface Draw(int D, int n, double dt = 0.01) {
  GraphicsLayer layer;
  const Rows r = MakeRows(D, n);
  DrawDifferentiationPlots(layer, r.values, r.derivatives, D, n, dt);
  return *layer.CopySurface(DifferentiationWindow);
}

// Whether a panel's area, labels included, holds any ink.
bool PanelInked(const DrawingSurface& s, const PanelFrame& f) {
  for (int y = f.y1 - 20; y <= f.y2 + 22; ++y) {
    for (int x = f.x1 - 30; x <= f.x2 + 5; ++x) {
      if (s.At(x, y) != kWhite) return true;
    }
  }
  return false;
}

bool FrameDrawn(const DrawingSurface& s, const PanelFrame& f) {
  return s.At(f.x1, f.y1) == kBlack && s.At(f.x2, f.y2) == kBlack && s.At(f.x1 + 150, f.y1) == kBlack;
}

TEST(DifferentiationPlots, OneVariableFillsTheTopTwoPanelsOfTheLeftColumnOnly) {
  const DrawingSurface s = Draw(1, 50);
  EXPECT_TRUE(FrameDrawn(s, DifferentiationPanel(1, false)));
  EXPECT_TRUE(FrameDrawn(s, DifferentiationPanel(1, true)));
  for (int i = 2; i <= 4; ++i) {
    EXPECT_FALSE(PanelInked(s, DifferentiationPanel(i, false))) << i;
    EXPECT_FALSE(PanelInked(s, DifferentiationPanel(i, true))) << i;
  }
}

TEST(DifferentiationPlots, ThreeVariablesLeaveTheBottomOfTheRightColumnEmpty) {
  const DrawingSurface s = Draw(3, 50);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_TRUE(FrameDrawn(s, DifferentiationPanel(i, false))) << i;
    EXPECT_TRUE(FrameDrawn(s, DifferentiationPanel(i, true))) << i;
  }
  EXPECT_FALSE(PanelInked(s, DifferentiationPanel(4, false)));
  EXPECT_FALSE(PanelInked(s, DifferentiationPanel(4, true)));
}

TEST(DifferentiationPlots, VariablesBeyondTheFourthAppearNowhere) {
  // Rows 1..4 of the five-variable data equal those of the four-variable data.
  const int n = 80;
  const Rows five = MakeRows(5, n);
  Rows four;
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < 4; ++i) {
      four.values.push_back(five.values[static_cast<std::size_t>(k * 5 + i)]);
      four.derivatives.push_back(five.derivatives[static_cast<std::size_t>(k * 5 + i)]);
    }
  }
  GraphicsLayer a, b;
  DrawDifferentiationPlots(a, five.values, five.derivatives, 5, n, 0.1);
  DrawDifferentiationPlots(b, four.values, four.derivatives, 4, n, 0.1);
  const auto sa = a.CopySurface(DifferentiationWindow), sb = b.CopySurface(DifferentiationWindow);
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(FrameDrawn(*sa, DifferentiationPanel(i, true))) << i;
  EXPECT_TRUE(std::equal(sa->Pixels().begin(), sa->Pixels().end(), sb->Pixels().begin()));
}

TEST(DifferentiationPlots, PointsLandWhereTheArithmeticPutsThem) {
  // Values 0, 1, 2, 3: range -0.3..3.3, so y = 120 - trunc((a + 0.3) / 3.6 * 90);
  // four points, r = 1/4, so x = 50 + 75 k (the last on the right edge).
  GraphicsLayer layer;
  const std::vector<double> values{0, 1, 2, 3}, derivatives{5, 5, 5, 5};
  DrawDifferentiationPlots(layer, values, derivatives, 1, 4, 1.0);
  const auto s = layer.CopySurface(DifferentiationWindow);
  for (const auto& [x, y] : {std::pair{125, 113}, {200, 88}, {275, 63}, {350, 38}}) {
    EXPECT_EQ(s->At(x, y), kBlack) << x << "," << y;
  }
  // Nothing else inside the value frame, away from its ticks and the labels beside it.
  int inside = 0;
  for (int y = 31; y < 117; ++y) {
    for (int x = 60; x < 350; ++x) inside += s->At(x, y) != kWhite ? 1 : 0;
  }
  EXPECT_EQ(inside, 3);
}

TEST(DifferentiationPlots, TheTimeAxisRoundsItsStepToSinglePrecision) {
  EXPECT_EQ(DifferentiationTimeOffset(5, 6), 250);   // 249 with a double step
  EXPECT_EQ(DifferentiationTimeOffset(7, 12), 175);  // 174 with a double step
  EXPECT_EQ(DifferentiationTimeOffset(25, 25), 299);
  for (int n = 1; n <= kMaxPlottedPoints; ++n) {
    const int last = DifferentiationTimeOffset(n, n);
    EXPECT_TRUE(last == 299 || last == 300) << n;
  }
}

TEST(DifferentiationPlots, OneFittedPointSitsOnTheRightEdgeWithADegenerateRange) {
  GraphicsLayer layer;
  RecordingObserver observer;
  layer.AddObserver(&observer);
  const Rows r = MakeRows(3, 1);
  DrawDifferentiationPlots(layer, r.values, r.derivatives, 3, 1, 0.05);
  EXPECT_EQ(DifferentiationTimeOffset(1, 1), 300);
  const auto s = layer.CopySurface(DifferentiationWindow);
  for (int i = 1; i <= 3; ++i) {
    const PanelFrame f = DifferentiationPanel(i, false);
    EXPECT_EQ(s->At(f.x2, f.y2), kBlack);  // the point: right edge, bottom edge
    for (int y = f.y1 + 1; y < f.y2; ++y) EXPECT_EQ(s->At(f.x2 - 1, y), kWhite) << i << "," << y;
  }
  ASSERT_GE(observer.texts.size(), 3u);
  EXPECT_EQ(observer.texts[2].text, "   0.050  ");
}

TEST(DifferentiationPlots, AThousandPointsDrawSixHundredButTakeTheRangesOfAll) {
  GraphicsLayer layer;
  RecordingObserver observer;
  layer.AddObserver(&observer);
  std::vector<double> values, derivatives(1000, 1.0);
  for (int k = 1; k <= 1000; ++k) values.push_back(k);
  derivatives[999] = 2.0;
  DrawDifferentiationPlots(layer, values, derivatives, 1, 1000, 0.01);
  ASSERT_GE(observer.texts.size(), 6u);
  EXPECT_EQ(observer.texts[2].text, "   6.000  ");       // 600 dt
  EXPECT_EQ(observer.texts[3].text, "-98.9     ");       // 1 - 99.9
  EXPECT_EQ(observer.texts[5].text, "1100.     ");       // 1099.9 keeps F5.1 without its decimal
  const auto s = layer.CopySurface(DifferentiationWindow);
  // Point k = 600 (value 600) is the last: at x = 349 or 350, far below the top.
  const AxisRange range{1 - 99.9, 1000 + 99.9};
  const int y600 = VerticalPixel(120, 90, PlotFraction(600, range));
  EXPECT_EQ(s->At(50 + DifferentiationTimeOffset(600, 600), y600), kBlack);
  EXPECT_GT(y600, 50);
  // The derivatives are 1 for all plotted points: their range reaches 2.1 from the
  // point never drawn, so they sit low, on one row.
  const int yd = VerticalPixel(270, 90, PlotFraction(1.0, AxisRange{0.9, 2.1}));
  EXPECT_EQ(s->At(200, yd), kBlack);
  EXPECT_EQ(yd, 270 - 7);
}

TEST(DifferentiationPlots, DrawingAgainLeavesOnlyTheSecondDrawing) {
  GraphicsLayer layer;
  const Rows first = MakeRows(3, 300), second = MakeRows(1, 40);
  DrawDifferentiationPlots(layer, first.values, first.derivatives, 3, 300, 0.01);
  DrawDifferentiationPlots(layer, second.values, second.derivatives, 1, 40, 0.02);
  const DrawingSurface fresh = Draw(1, 40, 0.02);
  const auto again = layer.CopySurface(DifferentiationWindow);
  EXPECT_TRUE(std::equal(fresh.Pixels().begin(), fresh.Pixels().end(), again->Pixels().begin()));
  EXPECT_EQ(layer.State(DifferentiationWindow)->title, "Differentiation");
  EXPECT_EQ(layer.CurrentWindow(), DifferentiationWindow);
  EXPECT_EQ(layer.DrawColour(), kBlack);
}

TEST(DifferentiateAndPlot, FillsTheArraysAndDrawsThem) {
  const int D = 2, Ntrain = 30, m = 5;
  std::vector<double> series;
  for (int k = 0; k < Ntrain; ++k) series.insert(series.end(), {std::sin(k * 0.2), k * 0.5});
  std::vector<double> values(static_cast<std::size_t>(D * (Ntrain - m + 1)));
  std::vector<double> derivatives(values.size());
  GraphicsLayer layer;
  DifferentiateAndPlot(layer, series, D, Ntrain, m, 0.1, values, derivatives);
  const Differentiated expected = DifferentiateRows(series, D, Ntrain, m, 0.1);
  EXPECT_EQ(values, expected.values);
  EXPECT_EQ(derivatives, expected.derivatives);
  const DrawingSurface direct = [&] {
    GraphicsLayer other;
    DrawDifferentiationPlots(other, expected.values, expected.derivatives, D, expected.columns, 0.1);
    return *other.CopySurface(DifferentiationWindow);
  }();
  const auto drawn = layer.CopySurface(DifferentiationWindow);
  EXPECT_TRUE(std::equal(direct.Pixels().begin(), direct.Pixels().end(), drawn->Pixels().begin()));
}

// The recorded runs: the training series of each run's last differentiation,
// drawn anew, must give the run's expected pixels.
class RecordedDifferentiation : public ::testing::TestWithParam<const char*> {};

TEST_P(RecordedDifferentiation, RedrawsTheRunsExpectedPixels) {
  std::string error;
  const auto e = LoadPixelExpectations(FixturePath(GetParam(), "expected/differentiation.pixels.json"), &error);
  ASSERT_TRUE(e) << error;
  const nlohmann::json& meta = e->meta;
  const int D = meta.at("D").get<int>(), Nfit = meta.at("Nfit").get<int>(), m = meta.at("m").get<int>();
  const double dt = meta.at("dt").get<double>();
  const int Ntrain = Nfit + m - 1;
  const std::vector<double> series =
      ReadSeriesValues(FixturePath(GetParam(), "series.txt"), 0, static_cast<std::size_t>(D * Ntrain));
  ASSERT_FALSE(series.empty());
  GraphicsLayer layer;
  std::vector<double> values(static_cast<std::size_t>(D * Nfit)), derivatives(values.size());
  DifferentiateAndPlot(layer, series, D, Ntrain, m, dt, values, derivatives);

  // The data are the run's: the ranges agree with the recorded ones.
  for (int i = 1; i <= std::min(D, 4); ++i) {
    for (const bool d : {false, true}) {
      const std::string name = (d ? "dv" : "v") + std::to_string(i);
      const nlohmann::json& recorded = meta.at("ranges").at(name);
      const AxisRange r = PlotRangeOfRow(d ? derivatives : values, D, Nfit, i);
      EXPECT_NEAR(r.lo, recorded[0].get<double>(), 1e-9 * (1 + std::fabs(r.lo))) << name;
      EXPECT_NEAR(r.hi, recorded[1].get<double>(), 1e-9 * (1 + std::fabs(r.hi))) << name;
    }
  }
  const PixelCheck check = CheckSurface(*e, *layer.CopySurface(DifferentiationWindow));
  EXPECT_TRUE(check.Ok()) << check.Summary();
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RecordedDifferentiation,
                         ::testing::Values("lorenz", "loops", "reduced", "singular", "wrong"));

}  // namespace
}  // namespace odefit
