#include "graphics/plot_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "graphics/palette.h"
#include "recording_observer.h"

namespace odefit {
namespace {

using testing::RecordingObserver;
using Points = std::set<std::pair<int, int>>;

// A window without fonts: the texts draw nothing, so the frame's pixels are
// exactly its outline and ticks; the texts' places come through the observer.
class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    layer_.AddObserver(&observer_);
    layer_.OpenGraphicsWindow(11, "Differentiation");
    layer_.SetActiveWindow(11);
  }
  Points Inked() const {
    Points inked;
    const auto s = layer_.CopySurface(11);
    for (int y = 0; y < s->Height(); ++y) {
      for (int x = 0; x < s->Width(); ++x) {
        if (s->At(x, y) != kWhite) inked.insert({x, y});
      }
    }
    return inked;
  }
  std::vector<std::pair<int, int>> TextPoints() const {
    std::vector<std::pair<int, int>> points;
    for (const auto& t : observer_.texts) points.push_back({t.x, t.y});
    return points;
  }
  GraphicsLayer layer_;
  RecordingObserver observer_;
};

Points Outline(int x1, int y1, int x2, int y2) {
  Points p;
  for (int x = x1; x <= x2; ++x) p.insert({x, y1}), p.insert({x, y2});
  for (int y = y1; y <= y2; ++y) p.insert({x1, y}), p.insert({x2, y});
  return p;
}

void AddBottomTick(Points& p, int x, int y2) {
  for (int y = y2 - 3; y <= y2 + 3; ++y) p.insert({x, y});
}
void AddLeftTick(Points& p, int x1, int y) {
  for (int x = x1 - 3; x <= x1 + 3; ++x) p.insert({x, y});
}

const PlotFrameTexts kTexts{"0.0", "t", "   6.000", "-19.6", "v1", " 20.2", ""};

TEST_F(FrameTest, AThreeHundredByNinetyFrameHasNineTicksPerAxisAndItsSevenTexts) {
  DrawPlotFrame(layer_, 50, 30, 350, 120, 10, 10, kTexts);
  Points expected = Outline(50, 30, 350, 120);
  for (int x = 80; x <= 320; x += 30) AddBottomTick(expected, x, 120);
  for (const int y : {39, 48, 57, 66, 75, 84, 93, 102, 111}) AddLeftTick(expected, 50, y);
  EXPECT_EQ(Inked(), expected);
  EXPECT_EQ(TextPoints(), (std::vector<std::pair<int, int>>{
                              {50, 125}, {188, 125}, {326, 125}, {20, 104}, {20, 67}, {20, 30}, {60, 10}}));
}

TEST_F(FrameTest, ATwoHundredByOneHundredFiftyFrameTicksEveryTwentyAndFifteenPixels) {
  DrawPlotFrame(layer_, 275, 25, 475, 175, 10, 10, kTexts);
  Points expected = Outline(275, 25, 475, 175);
  for (int x = 295; x <= 455; x += 20) AddBottomTick(expected, x, 175);
  for (int y = 40; y <= 160; y += 15) AddLeftTick(expected, 275, y);
  EXPECT_EQ(Inked(), expected);
  ASSERT_EQ(observer_.texts.size(), 7u);
  EXPECT_EQ(TextPoints().back(), (std::pair{285, 5}));
}

TEST_F(FrameTest, OneDivisionDrawsTheOutlineAndTheTextsWithoutTicks) {
  DrawPlotFrame(layer_, 50, 30, 350, 120, 1, 1, kTexts);
  EXPECT_EQ(Inked(), Outline(50, 30, 350, 120));
  EXPECT_EQ(observer_.texts.size(), 7u);
}

TEST_F(FrameTest, AxisTextsAreTenCharactersOfTheirFieldAndTheTitleAHundred) {
  DrawPlotFrame(layer_, 50, 30, 350, 120, 10, 10,
                {"0.0", "a name longer than ten", "", "-19.6", "v1", " 20.2", "Original phase orbit"});
  ASSERT_EQ(observer_.texts.size(), 7u);
  EXPECT_EQ(observer_.texts[0].text, "0.0       ");
  EXPECT_EQ(observer_.texts[1].text, "a name lon");
  EXPECT_EQ(observer_.texts[2].text, std::string(10, ' '));
  EXPECT_EQ(observer_.texts[6].text, "Original phase orbit" + std::string(80, ' '));
}

TEST(PlotRange, WidensTheDataByATenthOfTheirSpreadAtEachEnd) {
  const std::vector<double> v{1, 3, 2};
  const AxisRange r = PlotRange(v);
  EXPECT_DOUBLE_EQ(r.lo, 0.8);
  EXPECT_DOUBLE_EQ(r.hi, 3.2);
}

TEST(PlotRange, EqualValuesGiveADegenerateRangeAndNoValuesGiveZero) {
  const std::vector<double> same{2.5, 2.5};
  EXPECT_EQ(PlotRange(same), (AxisRange{2.5, 2.5}));
  EXPECT_TRUE(PlotRange(same).Degenerate());
  EXPECT_EQ(PlotRange(std::vector<double>{}), (AxisRange{0.0, 0.0}));
}

TEST(PlotRange, NaNsArePassedOver) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> v{nan, 1.0, nan, 3.0};
  const AxisRange r = PlotRange(v);
  EXPECT_DOUBLE_EQ(r.lo, 0.8);
  EXPECT_DOUBLE_EQ(r.hi, 3.2);
}

TEST(PlotRange, ARowIsTakenAcrossTheColumnsOfAColumnMajorArray) {
  // 2 x 3, column-major: row 1 = 1, 3, 2; row 2 = 10, 10, 10.
  const std::vector<double> a{1, 10, 3, 10, 2, 10};
  EXPECT_EQ(PlotRangeOfRow(a, 2, 3, 1), PlotRange(std::vector<double>{1, 3, 2}));
  EXPECT_TRUE(PlotRangeOfRow(a, 2, 3, 2).Degenerate());
}

TEST(ValueToPixel, MapsLoToTheStartAndHiToTheFarEdge) {
  const AxisRange r{0.0, 10.0};
  EXPECT_EQ(HorizontalPixel(50, 300, PlotFraction(0.0, r)), 50);
  EXPECT_EQ(HorizontalPixel(50, 300, PlotFraction(10.0, r)), 350);
  EXPECT_EQ(VerticalPixel(120, 90, PlotFraction(0.0, r)), 120);
  EXPECT_EQ(VerticalPixel(120, 90, PlotFraction(10.0, r)), 30);
  EXPECT_EQ(VerticalPixel(120, 90, PlotFraction(5.0, r)), 75);
}

TEST(ValueToPixel, TruncatesTowardZero) {
  EXPECT_EQ(AxisPixelOffset(90, 0.999), 89);
  EXPECT_EQ(AxisPixelOffset(90, -0.005), 0);
  EXPECT_EQ(AxisPixelOffset(90, -0.02), -1);
}

TEST(ValueToPixel, ADegenerateRangeGivesTheChosenFractionInsteadOfDividingByZero) {
  const AxisRange r{4.0, 4.0};
  EXPECT_EQ(PlotFraction(4.0, r), 0.0);
  EXPECT_EQ(PlotFraction(4.0, r, 0.5), 0.5);
}

TEST(ValueToPixel, NonFiniteOrHugeResultsLandOffTheSurface) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const double f : {std::nan(""), inf, -inf, 1e12, -1e12}) {
    const int x = HorizontalPixel(50, 300, f);
    const int y = VerticalPixel(120, 90, f);
    EXPECT_TRUE(x < 0 || x >= 800) << f;
    EXPECT_TRUE(y < 0 || y >= 600) << f;
  }
}

}  // namespace
}  // namespace odefit
