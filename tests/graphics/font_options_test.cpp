#include "graphics/font_options.h"

#include <gtest/gtest.h>

#include <string>

namespace odefit {
namespace {

TEST(FontOptions, PlotFontMeansArialFourteenHighSevenWideItalic) {
  const auto r = ParseFontOptions(PlotFont);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->typeface, "Arial");
  EXPECT_EQ(r->height, 14);
  EXPECT_EQ(r->width, 7);
  EXPECT_TRUE(r->italic);
  EXPECT_FALSE(r->underline || r->bold || r->bestFit);
  EXPECT_EQ(r->pitch, FontPitch::Any);
  EXPECT_EQ(r->technology, FontTechnology::Any);
  EXPECT_EQ(r->number, 0);
}

TEST(FontOptions, LettersComeInAnyOrderAndCaseAndOtherCharactersAreSkipped) {
  const auto r = ParseFontOptions("I, H14 ;W7 T'Arial' x?");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->typeface, "Arial");
  EXPECT_EQ(r->height, 14);
  EXPECT_EQ(r->width, 7);
  EXPECT_TRUE(r->italic);
}

TEST(FontOptions, EveryFlagLetterIsRead) {
  struct Case {
    const char* options;
    bool underline, bold, bestFit;
    FontPitch pitch;
    FontTechnology technology;
    int number;
  };
  const Case cases[] = {
      {"u", true, false, false, FontPitch::Any, FontTechnology::Any, 0},
      {"e", false, true, false, FontPitch::Any, FontTechnology::Any, 0},
      {"b", false, false, true, FontPitch::Any, FontTechnology::Any, 0},
      {"f", false, false, false, FontPitch::Fixed, FontTechnology::Any, 0},
      {"fp", false, false, false, FontPitch::Proportional, FontTechnology::Any, 0},
      {"pf", false, false, false, FontPitch::Fixed, FontTechnology::Any, 0},
      {"vr", false, false, false, FontPitch::Any, FontTechnology::Raster, 0},
      {"rv", false, false, false, FontPitch::Any, FontTechnology::Vector, 0},
      {"n12", false, false, false, FontPitch::Any, FontTechnology::Any, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const auto r = ParseFontOptions(c.options);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->underline, c.underline);
    EXPECT_EQ(r->bold, c.bold);
    EXPECT_EQ(r->bestFit, c.bestFit);
    EXPECT_EQ(r->pitch, c.pitch);
    EXPECT_EQ(r->technology, c.technology);
    EXPECT_EQ(r->number, c.number);
  }
}

TEST(FontOptions, ANameOfThirtyOneCharactersIsTheLongestAccepted) {
  const std::string name31(31, 'a');
  const auto ok = ParseFontOptions("t'" + name31 + "'");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->typeface, name31);
  EXPECT_FALSE(ParseFontOptions("t'" + std::string(32, 'a') + "'"));
}

TEST(FontOptions, AnUnclosedNameMakesTheStringInvalid) {
  EXPECT_FALSE(ParseFontOptions("t'Arial h14"));
  EXPECT_FALSE(ParseFontOptions("h14t'"));
}

TEST(FontOptions, ABareTAndALetterWithoutDigitsNameNothing) {
  const auto r = ParseFontOptions("th");
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->typeface.empty());
  EXPECT_EQ(r->height, 0);
}

}  // namespace
}  // namespace odefit
