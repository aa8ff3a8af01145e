#include "pixel_expectations.h"

#include <gtest/gtest.h>

#include "fixture_series.h"
#include "graphics/palette.h"

namespace odefit {
namespace {

using namespace odefit::testing;

// A 20 x 10 expectation: two required pixels, one unchecked, one text.
PixelExpectations Small() {
  PixelExpectations e;
  e.drawn = true;
  e.minWidth = 20;
  e.minHeight = 10;
  e.pixels = {{1, 1, 'F', {0}, 0}, {5, 5, 'D', {0, 12}, 0}, {12, 1, 'D', {12}, 0}};
  e.unchecked = {{8, 8, {0}}};
  e.texts = {{10, 0, "vname", "  x", 0}};
  return e;
}

DrawingSurface Faithful() {
  DrawingSurface s(20, 10, kWhite);
  s.Set(1, 1, kBlack);
  s.Set(5, 5, kBrightRed);
  s.Set(12, 1, kBrightRed);
  return s;
}

TEST(CheckPixels, AFaithfulSurfacePasses) {
  EXPECT_TRUE(CheckSurface(Small(), Faithful()).Ok()) << CheckSurface(Small(), Faithful()).Summary();
}

TEST(CheckPixels, AMissingRequiredPixelIsFound) {
  DrawingSurface s = Faithful();
  s.Set(1, 1, kWhite);
  const PixelCheck c = CheckSurface(Small(), s);
  EXPECT_EQ(c.missing, 1);
  EXPECT_FALSE(c.Ok());
}

TEST(CheckPixels, ARequiredPixelInAColourNotAllowedIsFound) {
  DrawingSurface s = Faithful();
  s.Set(1, 1, kBrightRed);
  EXPECT_EQ(CheckSurface(Small(), s).wrongColour, 1);
}

TEST(CheckPixels, AStrayPixelIsFoundButUncheckedPixelsAndGlyphBoxesAreFree) {
  DrawingSurface s = Faithful();
  s.Set(8, 8, kBlack);   // unchecked, in its colour
  s.Set(13, 3, kBlack);  // inside the text's box
  EXPECT_TRUE(CheckSurface(Small(), s).Ok());
  s.Set(8, 8, kBrightRed);  // unchecked, but not in this colour
  s.Set(2, 8, kBlack);
  EXPECT_EQ(CheckSurface(Small(), s).stray, 2);
}

TEST(CheckPixels, ADataPointUnderALabelMayHaveAnyColour) {
  DrawingSurface s = Faithful();
  s.Set(12, 1, kBlack);  // D pixel inside the text box
  EXPECT_TRUE(CheckSurface(Small(), s).Ok());
}

TEST(CheckPixels, ATooSmallSurfaceFails) {
  const DrawingSurface s(19, 10, kWhite);
  EXPECT_FALSE(CheckSurface(Small(), s).Ok());
}

TEST(PixelExpectationsFiles, EveryRecordedRunsFilesLoad) {
  for (const char* fixture : {"lorenz", "loops", "wrong", "singular", "reduced"}) {
    for (const char* window : {"differentiation", "model-efficiency"}) {
      std::string error;
      const auto e = LoadPixelExpectations(FixturePath(fixture, std::string("expected/") + window + ".pixels.json"),
                                           &error);
      ASSERT_TRUE(e) << error;
      EXPECT_EQ(e->unit, std::string(window) == "differentiation" ? 11 : 12);
      if (e->drawn) {
        EXPECT_GE(e->minWidth, 800);
        EXPECT_FALSE(e->pixels.empty());
        EXPECT_FALSE(e->texts.empty());
      }
    }
  }
  const auto never = LoadPixelExpectations(FixturePath("singular", "expected/model-efficiency.pixels.json"));
  ASSERT_TRUE(never);
  EXPECT_FALSE(never->drawn);
}

TEST(PixelExpectationsFiles, ABrokenOrForeignFileIsReportedNotRead) {
  std::string error;
  EXPECT_FALSE(LoadPixelExpectations(FixturePath("lorenz", "series.txt"), &error));
  EXPECT_NE(error.find("series.txt: "), std::string::npos) << error;
  EXPECT_FALSE(LoadPixelExpectations(FixturePath("lorenz", "missing.json"), &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
}  // namespace odefit
