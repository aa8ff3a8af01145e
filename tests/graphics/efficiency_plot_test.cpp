#include "integration/efficiency_plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fixture_series.h"
#include "graphics/palette.h"
#include "pixel_expectations.h"
#include "recording_observer.h"

namespace odefit {
namespace {

using namespace odefit::testing;

// D x n column-major data: row i is i * sin(k / 5) + k / 50 (derivatives cos).
struct Series {
  std::vector<double> values, derivatives;
};
Series MakeSeries(int D, int n) {
  Series s;
  for (int k = 1; k <= n; ++k) {
    for (int i = 1; i <= D; ++i) {
      s.values.push_back(i * std::sin(k / 5.0 + i) + k / 50.0);
      s.derivatives.push_back(i * std::cos(k / 5.0 + i));
    }
  }
  return s;
}

bool FrameDrawn(const DrawingSurface& s, int x1, int y1, int x2, int y2) {
  return s.At(x1, y1) == kBlack && s.At(x2, y2) == kBlack && s.At((x1 + x2) / 2, y1) == kBlack &&
         s.At(x2, (y1 + y2) / 2) == kBlack;
}

// Whether the region of a series or error panel, labels included, holds ink.
bool PanelInked(const DrawingSurface& s, int left, int bottom) {
  for (int y = bottom - 150 - 20; y <= bottom + 20 && y < s.Height(); ++y) {
    for (int x = left - 30; x <= left + 200; ++x) {
      if (s.At(x, y) != kWhite) return true;
    }
  }
  return false;
}

DrawingSurface Draw(int D, int Ntest, int Ltest, GraphicsLayer& layer) {
  const Series s = MakeSeries(D, Ntest);
  DrawEfficiencyWindow(layer, s.values, s.derivatives, D, Ntest, Ltest, 0.01);
  return *layer.CopySurface(EfficiencyWindow);
}

TEST(EfficiencyGeometry, SeriesPointsSpanThePanelOverOnePiece) {
  EXPECT_EQ(SeriesPanelX(1, 1), 275);
  EXPECT_EQ(SeriesPanelX(2, 1), 475);
  EXPECT_EQ(SeriesPanelX(1, 500), 275);
  EXPECT_EQ(SeriesPanelX(501, 500), 475);
  EXPECT_EQ(SeriesPanelX(4, 7), 275 + 85);
  EXPECT_EQ(SeriesPanelX(999999, 999999), 474);  // no overflow of (k - 1) * 200
}

TEST(EfficiencyGeometry, ErrorCurvePointsUseSinglePrecisionSteps) {
  EXPECT_EQ(ErrorCurveX(1, 1), 725);
  EXPECT_EQ(ErrorCurveX(5, 25), 564);   // 565 in double precision
  EXPECT_EQ(ErrorCurveX(41, 41), 724);  // 725 in double precision
  EXPECT_EQ(ErrorCurveX(49, 49), 725);  // 724 in double precision
  EXPECT_EQ(ErrorCurveX(250, 500), 625);
}

TEST(EfficiencyWindow, OneVariableShowsBothOrbitsAgainstTheDerivativeAndOneRowOfPanels) {
  GraphicsLayer layer;
  RecordingObserver observer;
  layer.AddObserver(&observer);
  const DrawingSurface s = Draw(1, 60, 50, layer);
  EXPECT_TRUE(FrameDrawn(s, 35, 50, 235, 250));
  EXPECT_TRUE(FrameDrawn(s, 35, 350, 235, 550));
  EXPECT_TRUE(FrameDrawn(s, 275, 25, 475, 175));
  EXPECT_TRUE(FrameDrawn(s, 525, 25, 725, 175));
  for (const int bottom : {375, 575}) {
    EXPECT_FALSE(PanelInked(s, 275, bottom)) << bottom;
    EXPECT_FALSE(PanelInked(s, 525, bottom)) << bottom;
  }
  std::vector<std::string> names;
  for (const DrawnText& t : observer.texts) names.push_back(t.text);
  ASSERT_EQ(names.size(), 4u * 7u);
  EXPECT_EQ(names[1], "x1        ");
  EXPECT_EQ(names[4], "dx1       ");
  EXPECT_EQ(names[6].substr(0, 20), "Original phase orbit");
  EXPECT_EQ(names[13].substr(0, 17), "Model phase orbit");
  EXPECT_EQ(names[18], "x1        ");
  EXPECT_EQ(names[20].substr(0, 30), "Prediction of the 1st variable");
  EXPECT_EQ(names[24], "0.0       ");
  EXPECT_EQ(names[25], "e1        ");
  EXPECT_EQ(names[26], "1.0       ");
  EXPECT_EQ(names[27].substr(0, 31), "Prediction error (1st variable)");
  EXPECT_EQ(names[16], "   0.500  ");  // Ltest dt
}

TEST(EfficiencyWindow, TwoVariablesLeaveTheBottomRowEmpty) {
  GraphicsLayer layer;
  const DrawingSurface s = Draw(2, 60, 50, layer);
  EXPECT_TRUE(FrameDrawn(s, 275, 225, 475, 375));
  EXPECT_TRUE(FrameDrawn(s, 525, 225, 725, 375));
  EXPECT_FALSE(PanelInked(s, 275, 575));
  EXPECT_FALSE(PanelInked(s, 525, 575));
}

TEST(EfficiencyWindow, TheFourthVariableAppearsNowhere) {
  const int n = 70;
  const Series four = MakeSeries(4, n);
  Series three;
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < 3; ++i) {
      three.values.push_back(four.values[static_cast<std::size_t>(4 * k + i)]);
      three.derivatives.push_back(four.derivatives[static_cast<std::size_t>(4 * k + i)]);
    }
  }
  GraphicsLayer a, b;
  DrawEfficiencyWindow(a, four.values, four.derivatives, 4, n, 40, 0.1);
  DrawEfficiencyWindow(b, three.values, three.derivatives, 3, n, 40, 0.1);
  const auto sa = a.CopySurface(EfficiencyWindow), sb = b.CopySurface(EfficiencyWindow);
  EXPECT_TRUE(FrameDrawn(*sa, 525, 425, 725, 575));
  EXPECT_TRUE(std::equal(sa->Pixels().begin(), sa->Pixels().end(), sb->Pixels().begin()));
}

TEST(EfficiencyWindow, LeavesTheWindowCurrentAndTheColourRedForTheModel) {
  GraphicsLayer layer;
  Draw(3, 30, 10, layer);
  EXPECT_EQ(layer.CurrentWindow(), EfficiencyWindow);
  EXPECT_EQ(layer.FocusedWindow(), EfficiencyWindow);
  EXPECT_EQ(layer.DrawColour(), kBrightRed);
  EXPECT_EQ(layer.State(EfficiencyWindow)->title, "Model efficiency");
}

TEST(EfficiencyWindow, ATestPieceOfOneIntervalHasItsTwoPointsOnTheEdges) {
  // Ltest = 1: points k = 1, 2 at x = 275 and 475, values at 1/12 and 11/12 of the range.
  GraphicsLayer layer;
  const std::vector<double> values{0.0, 1.0}, derivatives{0.0, 0.0};
  DrawEfficiencyWindow(layer, values, derivatives, 1, 2, 1, 0.5);
  const auto s = layer.CopySurface(EfficiencyWindow);
  const AxisRange r{-0.1, 1.1};
  const int y1 = 175 - static_cast<int>(150 * (0.0 - r.lo) / (r.hi - r.lo));
  const int y2 = 175 - static_cast<int>(150 * (1.0 - r.lo) / (r.hi - r.lo));
  EXPECT_EQ(y1, 163);
  EXPECT_EQ(y2, 38);
  EXPECT_EQ(s->At(275, y1), kBlack);
  EXPECT_EQ(s->At(475, y2), kBlack);
  // The model's error-curve point of Ltest = 1 goes to the error panel's right edge.
  std::vector<double> error{0.5};
  DrawPredictionErrorCurves(layer, error, 1, 1);
  EXPECT_EQ(layer.CopySurface(EfficiencyWindow)->At(725, 175 - 75), kBrightRed);
}

TEST(EfficiencyWindow, ObservedOrbitPointsAreDrawnOnlyStrictlyInsideTheBox) {
  // Two points at the range's 1/12 and 11/12, and a constant derivative: the
  // derivative's range is degenerate, which puts v in the middle of the box.
  GraphicsLayer layer;
  const std::vector<double> values{0.0, 1.0, 0.5}, derivatives{3.0, 3.0, 3.0};
  DrawEfficiencyWindow(layer, values, derivatives, 1, 3, 2, 1.0);
  const auto s = layer.CopySurface(EfficiencyWindow);
  const AxisRange r{-0.1, 1.1};
  for (const double a : {0.0, 1.0, 0.5}) {
    const int x = 35 + static_cast<int>(200 * ((a - r.lo) / (r.hi - r.lo)));
    EXPECT_EQ(s->At(x, 150), kBlack) << a;
  }
  // Nothing else inside the observed box, and nothing in the model box.
  int inside = 0, model = 0;
  for (int y = 60; y < 230; ++y) {
    for (int x = 39; x < 235; ++x) inside += s->At(x, y) != kWhite ? 1 : 0;
  }
  for (int y = 360; y < 530; ++y) {
    for (int x = 39; x < 235; ++x) model += s->At(x, y) != kWhite ? 1 : 0;
  }
  EXPECT_EQ(inside, 3);
  EXPECT_EQ(model, 0);
}

TEST(EfficiencyWindow, AConstantVariableDrawsNoSeriesPointsAndDoesNotFail) {
  GraphicsLayer layer;
  const std::vector<double> values{2.0, 2.0, 2.0, 2.0}, derivatives{0.0, 0.0, 0.0, 0.0};
  DrawEfficiencyWindow(layer, values, derivatives, 1, 4, 3, 1.0);
  const auto s = layer.CopySurface(EfficiencyWindow);
  for (int y = 26; y < 172; ++y) {
    for (int x = 290; x < 475; ++x) EXPECT_EQ(s->At(x, y), kWhite) << x << "," << y;
  }
  EXPECT_EQ(s->At(135, 150), kBlack);  // the orbit's one point, in the middle of the box
}

TEST(EfficiencyWindow, RepeatingTheTestRedrawsTheSamePicture) {
  GraphicsLayer layer;
  const DrawingSurface first = Draw(3, 120, 60, layer);
  layer.SetPixel(100, 100);  // a model point of the first test
  const DrawingSurface second = Draw(3, 120, 60, layer);
  EXPECT_TRUE(std::equal(first.Pixels().begin(), first.Pixels().end(), second.Pixels().begin()));
}

TEST(PredictionErrorCurves, DrawOnlyErrorsFromZeroToOneInTheCurrentColour) {
  GraphicsLayer layer;
  Draw(2, 30, 4, layer);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // D = 2, Ltest = 4, column-major: (e1, e2) per lead step.
  const std::vector<double> error{0.0, 1.0, 1.5, -0.1, nan, 0.5, 1.0, 0.999};
  DrawPredictionErrorCurves(layer, error, 2, 4);
  const auto s = layer.CopySurface(EfficiencyWindow);
  EXPECT_EQ(s->At(575, 175), kBrightRed);      // j = 1, e1 = 0: bottom edge
  EXPECT_EQ(s->At(575, 225), kBrightRed);      // j = 1, e2 = 1: top edge of panel 2
  EXPECT_EQ(s->At(625, 175 - 225 + 175), kWhite);
  EXPECT_EQ(s->At(675, 375 - 75), kBrightRed);  // j = 3, e2 = 0.5
  EXPECT_EQ(s->At(725, 25), kBrightRed);        // j = 4, e1 = 1
  EXPECT_EQ(s->At(725, 375 - 149), kBrightRed); // j = 4, e2 = 0.999
  int red = 0;
  for (const std::uint8_t p : s->Pixels()) red += p == kBrightRed ? 1 : 0;
  EXPECT_EQ(red, 5);
}

// The recorded runs: the test series of each run's last test, drawn anew,
// gives the run's frames and observed data. The model's red points belong to
// the efficiency test; here every black data pixel of the run must be drawn,
// and every pixel drawn must be one the run requires (a black one that the
// model covered later is listed red).
// Ntrain and m of the run's last test, from its answers.
struct RecordedTest {
  const char* fixture;
  int Ntrain, m;
};

class RecordedEfficiency : public ::testing::TestWithParam<RecordedTest> {};

TEST_P(RecordedEfficiency, RedrawsTheRunsFramesAndObservedData) {
  const RecordedTest run = GetParam();
  std::string error;
  const auto e = LoadPixelExpectations(FixturePath(run.fixture, "expected/model-efficiency.pixels.json"), &error);
  ASSERT_TRUE(e) << error;
  const nlohmann::json& meta = e->meta;
  const int Ntrain = run.Ntrain, m = run.m;
  const int D = static_cast<int>(meta.at("ranges").size());  // one range per variable
  const int Ltest = meta.at("Ltest").get<int>(), Ktest = meta.at("Ktest").get<int>();
  const int Stest = meta.at("Stest").get<int>(), Ntest = meta.at("Ntest").get<int>();
  const double dt = meta.at("dt").get<double>();
  ASSERT_EQ(Ntest, (Ktest - 1) * Stest + Ltest + 1);
  const int raw = Ntest + m - 1;
  const std::vector<double> series = ReadSeriesValues(FixturePath(run.fixture, "series.txt"),
                                                      static_cast<std::size_t>(D * Ntrain),
                                                      static_cast<std::size_t>(D * raw));
  ASSERT_FALSE(series.empty());
  const Differentiated test = DifferentiateRows(series, D, raw, m, dt);
  for (int i = 1; i <= D; ++i) {
    std::string name = "x";
    name += std::to_string(i);
    const nlohmann::json& recorded = meta.at("ranges").at(name);
    const AxisRange r = PlotRangeOfRow(test.values, D, Ntest, i);
    ASSERT_NEAR(r.lo, recorded[0].get<double>(), 1e-9 * (1 + std::fabs(r.lo))) << i;
    ASSERT_NEAR(r.hi, recorded[1].get<double>(), 1e-9 * (1 + std::fabs(r.hi))) << i;
  }

  GraphicsLayer layer;
  DrawEfficiencyWindow(layer, test.values, test.derivatives, D, Ntest, Ltest, dt);
  const auto s = layer.CopySurface(EfficiencyWindow);

  TextAllowance allowance;
  std::vector<PixelRect> boxes;
  for (const ExpectedText& t : e->texts) boxes.push_back(TextBox(t, allowance));
  const auto inText = [&](int x, int y) {
    for (const PixelRect& b : boxes) {
      if (x >= b.left && x <= b.right && y >= b.top && y <= b.bottom) return true;
    }
    return false;
  };
  std::set<std::pair<int, int>> required;
  int missing = 0, blackData = 0;
  for (const RequiredPixel& p : e->pixels) {
    required.insert({p.x, p.y});
    const bool black = std::find(p.colours.begin(), p.colours.end(), kBlack) != p.colours.end();
    if (!black) continue;
    if (p.kind == 'D') ++blackData;
    if (s->At(p.x, p.y) != kBlack && !(p.kind == 'D' && inText(p.x, p.y))) {
      ++missing;
      ADD_FAILURE() << p.kind << " pixel (" << p.x << ", " << p.y << ") of panel " << p.panel << " not drawn";
      if (missing > 10) return;
    }
  }
  EXPECT_GT(blackData, 0);
  int stray = 0;
  for (int y = 0; y < s->Height(); ++y) {
    for (int x = 0; x < s->Width(); ++x) {
      if (s->At(x, y) == kWhite || required.count({x, y}) || inText(x, y)) continue;
      if (++stray <= 10) ADD_FAILURE() << "stray pixel (" << x << ", " << y << ")";
    }
  }
  EXPECT_EQ(stray, 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RecordedEfficiency,
                         ::testing::Values(RecordedTest{"lorenz", 2000, 5}, RecordedTest{"loops", 800, 5},
                                           RecordedTest{"reduced", 800, 5}, RecordedTest{"wrong", 250, 3}),
                         [](const ::testing::TestParamInfo<RecordedTest>& info) { return info.param.fixture; });

}  // namespace
}  // namespace odefit
