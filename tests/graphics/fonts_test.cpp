#include "graphics/fonts.h"

#include <gtest/gtest.h>

#include <set>

#include "graphics/font_options.h"
#include "graphics/palette.h"

namespace odefit {
namespace {

// The fonts come from the machine; the build installs fonts-liberation2, so
// the list is never empty where the tests run.
class FontsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(catalogue_.Build(), 0) << "no outline fonts installed"; }
  Font OpenByOptions(std::string_view options) {
    const auto request = ParseFontOptions(options);
    return catalogue_.Open(catalogue_.Match(*request), *request);
  }
  FontCatalogue catalogue_;
};

TEST_F(FontsTest, ThePlotFontIsArialOrItsMetricCompatibleSubstituteInItalic) {
  const Font font = OpenByOptions(PlotFont);
  ASSERT_FALSE(font.IsNull());
  EXPECT_TRUE(font.Family() == "Arial" || font.Family() == "Liberation Sans") << font.Family();
  EXPECT_NE(font.Style().find("Italic"), std::string::npos) << font.Style();
  EXPECT_FALSE(font.SyntheticItalic());
  EXPECT_EQ(font.Height(), 14);
}

// What figures do where they know their font's file: the entry listed by
// hand opens as the listed one does, and only on a catalogue not built.
TEST_F(FontsTest, AFileListedByHandOpensAsItsListedEntry) {
  FontRequest request;
  request.typeface = "Arial";
  request.height = 14;
  request.bestFit = true;
  const int listed = catalogue_.Match(request);
  ASSERT_GE(listed, 0);
  FontCatalogue byHand;
  ASSERT_EQ(byHand.AddFile(catalogue_.Entries()[static_cast<std::size_t>(listed)]), 0);
  const Font a = catalogue_.Open(listed, request), b = byHand.Open(0, request);
  ASSERT_FALSE(b.IsNull());
  EXPECT_EQ(a.Family(), b.Family());
  EXPECT_EQ(a.Height(), b.Height());
  EXPECT_EQ(a.TextWidth("Fit of x1, 0.25 s"), b.TextWidth("Fit of x1, 0.25 s"));
  EXPECT_EQ(catalogue_.AddFile(FontEntry{}), -1);
}

TEST_F(FontsTest, TheDefaultFontIsAFixedPitchCellEightPixelsWide) {
  const Font font = catalogue_.OpenDefault();
  ASSERT_FALSE(font.IsNull());
  EXPECT_TRUE(font.Family() == "Courier New" || font.Family() == "Liberation Mono") << font.Family();
  EXPECT_EQ(font.TextWidth("M"), kCellWidth);
  EXPECT_EQ(font.TextWidth("0123456789"), 10 * kCellWidth);
}

TEST_F(FontsTest, AnUnknownTypefaceMatchesOnlyWithBestFit) {
  EXPECT_EQ(catalogue_.Match(*ParseFontOptions("t'No Such Face At All'h14")), -1);
  EXPECT_GE(catalogue_.Match(*ParseFontOptions("t'No Such Face At All'h14b")), 0);
}

TEST_F(FontsTest, FontsAreNumberedFromOneInTheListOrder) {
  EXPECT_EQ(catalogue_.Match(*ParseFontOptions("n1")), 0);
  const int size = static_cast<int>(catalogue_.Entries().size());
  const auto numbered = [](int n) {
    std::string options = "n";
    options += std::to_string(n);
    return *ParseFontOptions(options);
  };
  EXPECT_EQ(catalogue_.Match(numbered(size)), size - 1);
  EXPECT_EQ(catalogue_.Match(numbered(size + 1)), -1);
}

TEST_F(FontsTest, ARasterFontIsHadOnlyByBestFitSinceOnlyOutlinesAreListed) {
  EXPECT_EQ(catalogue_.Match(*ParseFontOptions("t'Arial'r")), -1);
  EXPECT_GE(catalogue_.Match(*ParseFontOptions("t'Arial'rb")), 0);
}

TEST_F(FontsTest, GlyphsAreDrawnInTheOneColourWithoutGreyLevels) {
  const Font font = OpenByOptions(PlotFont);
  DrawingSurface surface(200, 40, kWhite);
  const PixelRect drawn = font.Draw(surface, 5, 5, "Prediction -12.5", kBrightRed);
  ASSERT_FALSE(drawn.Empty());
  std::set<int> colours(surface.Pixels().begin(), surface.Pixels().end());
  EXPECT_EQ(colours, (std::set<int>{kBrightRed, kWhite}));
  // The glyphs hang from the anchor: nothing above it, nothing below the cell.
  EXPECT_GE(drawn.top, 5);
  EXPECT_LE(drawn.bottom, 5 + font.Height());
}

TEST_F(FontsTest, BlanksAdvanceWithoutDrawing) {
  const Font font = OpenByOptions(PlotFont);
  DrawingSurface surface(100, 30, kWhite);
  EXPECT_TRUE(font.Draw(surface, 0, 0, "     ", kBlack).Empty());
  EXPECT_GT(font.TextWidth("     "), 0);
  EXPECT_EQ(font.TextWidth("0.0       "), font.TextWidth("0.0") + 7 * font.TextWidth(" "));
}

TEST_F(FontsTest, UnderlineDrawsARunUnderTheWholeAdvance) {
  const Font font = OpenByOptions("t'Arial'h14w7u");
  DrawingSurface surface(100, 30, kWhite);
  const PixelRect drawn = font.Draw(surface, 10, 0, "    ", kBlack);
  ASSERT_FALSE(drawn.Empty());
  EXPECT_EQ(drawn.left, 10);
  EXPECT_EQ(drawn.right, 10 + font.TextWidth("    ") - 1);
}

TEST_F(FontsTest, SizesBeyondAnySurfaceAreRenderedAtTheLargestSize) {
  // Found by fuzzing: "h7433" rendered glyphs of 55 million pixels each.
  const Font font = OpenByOptions("t'Arial'h7433w99999");
  EXPECT_EQ(font.Height(), 1000);
}

TEST(NullFont, DrawsNothingButAdvancesByItsNominalWidth) {
  const Font font;
  DrawingSurface surface(50, 20, kWhite);
  EXPECT_TRUE(font.Draw(surface, 0, 0, "abc", kBlack).Empty());
  EXPECT_EQ(font.TextWidth("abcd"), 4 * kCellWidth);
}

}  // namespace
}  // namespace odefit
