#include "graphics/graphics_layer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <utility>

#include "graphics/palette.h"
#include "recording_observer.h"

namespace odefit {
namespace {

using testing::RecordingObserver;

// Every non-white pixel of a window, as a set of points.
std::set<std::pair<int, int>> Inked(const GraphicsLayer& layer, int unit) {
  std::set<std::pair<int, int>> inked;
  const auto surface = layer.CopySurface(unit);
  for (int y = 0; y < surface->Height(); ++y) {
    for (int x = 0; x < surface->Width(); ++x) {
      if (surface->At(x, y) != kWhite) inked.insert({x, y});
    }
  }
  return inked;
}

class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    layer_.AddObserver(&observer_);
    layer_.OpenGraphicsWindow(11, "Differentiation");
    layer_.SetActiveWindow(11);
  }
  int Pixel(int x, int y) const { return layer_.CopySurface(11)->At(x, y); }
  GraphicsLayer layer_;
  RecordingObserver observer_;
};

TEST_F(LayerTest, ARectangleOutlineSetsItsFourEdgesCornersIncludedAndNothingInside) {
  layer_.DrawRectangleOutline(50, 30, 350, 120);
  std::set<std::pair<int, int>> expected;
  for (int y = 30; y <= 120; ++y) expected.insert({50, y}), expected.insert({350, y});
  for (int x = 50; x <= 350; ++x) expected.insert({x, 30}), expected.insert({x, 120});
  EXPECT_EQ(Inked(layer_, 11), expected);
}

TEST_F(LayerTest, SwappedRectangleCornersGiveTheSameOutline) {
  layer_.DrawRectangleOutline(350, 120, 50, 30);
  const auto swapped = Inked(layer_, 11);
  GraphicsLayer other;
  other.OpenGraphicsWindow(11, "x");
  other.SetActiveWindow(11);
  other.DrawRectangleOutline(50, 30, 350, 120);
  EXPECT_EQ(swapped, Inked(other, 11));
}

TEST_F(LayerTest, ALineIncludesBothEndsAndMovesTheCurrentPosition) {
  layer_.MoveTo(47, 60);
  layer_.LineTo(53, 60);
  std::set<std::pair<int, int>> expected;
  for (int x = 47; x <= 53; ++x) expected.insert({x, 60});
  EXPECT_EQ(Inked(layer_, 11), expected);
  EXPECT_EQ(layer_.CurrentPosition(), (PixelPoint{53, 60}));
}

TEST_F(LayerTest, VerticalAndDiagonalLinesAreOnePixelWideWithBothEnds) {
  layer_.MoveTo(10, 20);
  layer_.LineTo(10, 14);
  EXPECT_EQ(Inked(layer_, 11).size(), 7u);
  layer_.MoveTo(100, 100);
  layer_.LineTo(104, 96);
  const auto inked = Inked(layer_, 11);
  EXPECT_EQ(inked.size(), 12u);
  for (int k = 0; k <= 4; ++k) EXPECT_TRUE(inked.count({100 + k, 100 - k})) << k;
}

TEST_F(LayerTest, LinesAndRectanglesAreClippedToTheSurface) {
  layer_.MoveTo(-100000, 5);
  layer_.LineTo(100000, 5);
  layer_.DrawRectangleOutline(-10, -10, 900, 700);
  layer_.MoveTo(-50, -50);
  layer_.LineTo(2000, 2000);
  const auto inked = Inked(layer_, 11);
  EXPECT_TRUE(inked.count({0, 5}) && inked.count({799, 5}));
  EXPECT_TRUE(inked.count({0, 0}));  // on the diagonal, not on the clipped-off rectangle
  EXPECT_FALSE(inked.count({0, 599}));
}

TEST_F(LayerTest, SetPixelReturnsThePreviousColourOrMinusOneOffTheSurface) {
  layer_.SetDrawColour(kBrightRed);
  EXPECT_EQ(layer_.SetPixel(10, 10), kWhite);
  layer_.SetDrawColour(kBlack);
  EXPECT_EQ(layer_.SetPixel(10, 10), kBrightRed);
  EXPECT_EQ(Pixel(10, 10), kBlack);
  for (const auto& [x, y] : {std::pair{-1, 0}, {0, -1}, {800, 0}, {0, 600}, {-32768, 32767}}) {
    EXPECT_EQ(layer_.SetPixel(x, y), -1) << x << "," << y;
  }
  EXPECT_EQ(Inked(layer_, 11).size(), 1u);
}

TEST_F(LayerTest, ColourIndicesOutsideTheTableTakeTheNearestEnd) {
  EXPECT_EQ(layer_.SetDrawColour(20), kBlack);
  EXPECT_EQ(layer_.SetDrawColour(-3), 15);
  EXPECT_EQ(layer_.DrawColour(), 0);
  layer_.SetBackgroundColour(99);
  layer_.SetPixel(1, 1);
  layer_.ClearWindow();
  EXPECT_TRUE(Inked(layer_, 11).empty());
}

TEST_F(LayerTest, TextAdvancesByTheWidthOfAllItsCharactersTrailingBlanksIncluded) {
  layer_.InitFonts();
  ASSERT_GT(layer_.SelectFont(PlotFont), 0);
  layer_.MoveTo(40, 50);
  const int advance = layer_.DrawText("0.0       ");
  EXPECT_EQ(layer_.CurrentPosition(), (PixelPoint{40 + advance, 50}));
  EXPECT_EQ(advance, layer_.TextWidth("0.0") + layer_.TextWidth("       "));
  EXPECT_GT(layer_.TextWidth("       "), 0);
  // Only "0.0" leaves ink, right of the anchor and inside the cell.
  const auto inked = Inked(layer_, 11);
  ASSERT_FALSE(inked.empty());
  for (const auto& [x, y] : inked) {
    EXPECT_GE(x, 40);
    EXPECT_LT(x, 40 + layer_.TextWidth("0.0") + 3);
    EXPECT_GE(y, 50);
    EXPECT_LT(y, 50 + 14);
  }
}

TEST_F(LayerTest, TextWithoutFontsDrawsNothingAndAdvancesByTheCell) {
  layer_.MoveTo(0, 0);
  EXPECT_EQ(layer_.DrawText("abc"), 3 * kCellWidth);
  EXPECT_TRUE(Inked(layer_, 11).empty());
}

TEST_F(LayerTest, AFontThatMatchesNothingLeavesTheDefaultFont) {
  layer_.InitFonts();
  const int defaultFont = layer_.CurrentFont().Number();
  EXPECT_EQ(layer_.SelectFont("t'No Such Face At All'h14"), -1);
  EXPECT_EQ(layer_.SelectFont("t'unclosed"), -1);
  EXPECT_EQ(layer_.CurrentFont().Number(), defaultFont);
}

TEST_F(LayerTest, SelectFontBeforeInitFontsFails) { EXPECT_EQ(layer_.SelectFont(PlotFont), -1); }

TEST_F(LayerTest, ReopeningAUnitKeepsItsOneWindow) {
  layer_.SetPixel(3, 3);
  EXPECT_TRUE(layer_.OpenGraphicsWindow(11, "Other title"));
  EXPECT_EQ(observer_.opened, (std::vector<int>{11}));
  EXPECT_EQ(layer_.State(11)->title, "Differentiation");
  EXPECT_EQ(Pixel(3, 3), kBlack);
}

TEST_F(LayerTest, OnlyFocusRaisesAWindowButBothMakeItCurrent) {
  layer_.OpenGraphicsWindow(12, "Model efficiency");
  layer_.SetActiveWindow(12);
  EXPECT_EQ(layer_.CurrentWindow(), 12);
  EXPECT_TRUE(observer_.focused.empty());
  layer_.FocusWindow(11);
  EXPECT_EQ(layer_.CurrentWindow(), 11);
  EXPECT_EQ(layer_.FocusedWindow(), 11);
  EXPECT_EQ(observer_.focused, (std::vector<int>{11}));
}

TEST_F(LayerTest, OperationsOnUnitsNeverOpenedFail) {
  EXPECT_FALSE(layer_.SetActiveWindow(13));
  EXPECT_FALSE(layer_.FocusWindow(13));
  EXPECT_FALSE(layer_.SetWindowPlacement(13, kGraphicsPlacement));
  EXPECT_EQ(layer_.CurrentWindow(), 11);
  EXPECT_FALSE(layer_.State(13));
  EXPECT_FALSE(layer_.CopySurface(13));
}

TEST_F(LayerTest, SurfaceChangesAreAnnouncedOnceUntilTheFrontEndTakesThem) {
  layer_.SetPixel(5, 6);
  layer_.SetPixel(20, 2);
  layer_.MoveTo(1, 1);
  layer_.LineTo(1, 3);
  EXPECT_EQ(observer_.surfaceChanges, (std::vector<int>{11}));
  EXPECT_EQ(layer_.ChangeCount(11), 3u);
  EXPECT_EQ(layer_.TakeChanges(11), (PixelRect{1, 1, 20, 6}));
  EXPECT_TRUE(layer_.TakeChanges(11).Empty());
  layer_.SetPixel(7, 7);
  EXPECT_EQ(observer_.surfaceChanges.size(), 2u);
  EXPECT_EQ(layer_.SetPixel(900, 7), -1);  // off the surface: no change
  EXPECT_EQ(layer_.ChangeCount(11), 4u);
}

TEST_F(LayerTest, DrawingCompleteReachesTheObservers) {
  layer_.DrawingComplete(11);
  EXPECT_EQ(observer_.completed, (std::vector<int>{11}));
}

TEST(Placement, TheConsoleAndTheGraphicsWindowsSitSideBySide) {
  EXPECT_EQ(PlacementClientArea(kConsolePlacement), (ClientArea{0, 0, 376, 496}));
  EXPECT_EQ(PlacementClientArea(kGraphicsPlacement), (ClientArea{400, 0, 376, 496}));
}

TEST(Placement, TheEfficiencyWindowCoversTheDifferentiationWindowExactly) {
  GraphicsLayer layer;
  PrepareConsoleWindow(layer);
  PrepareGraphicsWindow(layer, DifferentiationWindow, kDifferentiationTitle);
  PrepareGraphicsWindow(layer, EfficiencyWindow, kEfficiencyTitle);
  EXPECT_EQ(layer.State(DifferentiationWindow)->placement, layer.State(EfficiencyWindow)->placement);
  EXPECT_EQ(layer.State(ConsoleWindow)->placement, kConsolePlacement);
  EXPECT_EQ(layer.FocusedWindow(), EfficiencyWindow);
}

TEST(Placement, TheFramePlacementIsRememberedBeforeAnyWindowExists) {
  GraphicsLayer layer;
  EXPECT_TRUE(InitialSettings(layer));
  ASSERT_TRUE(layer.FramePlacement());
  EXPECT_EQ(layer.FramePlacement()->kind, static_cast<std::int16_t>(PlacementKind::Maximise));
}

TEST(Console, PreparingTheConsoleRecordsItsColoursAndCursor) {
  GraphicsLayer layer;
  RecordingObserver observer;
  layer.AddObserver(&observer);
  PrepareConsoleWindow(layer);
  const auto state = layer.State(ConsoleWindow);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->kind, WindowKind::Console);
  EXPECT_EQ(state->title, "Input Window");
  EXPECT_EQ(state->backgroundColour, kWhite);
  EXPECT_EQ(state->textColour, kBlack);
  EXPECT_TRUE(state->cursorShown);
  EXPECT_EQ(observer.cleared, (std::vector<int>{ConsoleWindow}));
  EXPECT_EQ(layer.CurrentWindow(), ConsoleWindow);
}

TEST(Console, TheConsoleHasNoSurfaceToDrawOn) {
  GraphicsLayer layer;
  PrepareConsoleWindow(layer);
  EXPECT_EQ(layer.SetPixel(1, 1), -1);
  layer.DrawRectangleOutline(0, 0, 5, 5);
  EXPECT_FALSE(layer.CopySurface(ConsoleWindow));
  EXPECT_FALSE(layer.OpenGraphicsWindow(ConsoleWindow, "x"));
  EXPECT_EQ(layer.SetConsoleTextColour(40), kBlack);
  EXPECT_EQ(layer.State(ConsoleWindow)->textColour, 31);
}

TEST(Locking, AReaderNeverSeesHalfARectangle) {
  GraphicsLayer layer;
  layer.OpenGraphicsWindow(11, "t");
  layer.SetActiveWindow(11);
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      layer.VisitSurface(11, [&](const DrawingSurface& s) {
        const int corner = s.At(0, 0);
        if (s.At(799, 599) != corner || s.At(799, 0) != corner || s.At(0, 599) != corner) ++torn;
      });
    }
  });
  for (int k = 0; k < 3000; ++k) {
    layer.SetDrawColour(k % 2 == 0 ? 1 : 2);
    layer.DrawRectangleOutline(0, 0, 799, 599);
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace odefit
