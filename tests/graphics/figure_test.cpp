// The figure layer: ticks a reader can use, texts in the SVG, data kept
// inside the frame on the raster, and both canvases fed by one drawing.

#include "graphics/figure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "graphics/palette.h"

namespace odefit {
namespace {

constexpr int kBlue = 9;

std::vector<std::string> Labels(const std::vector<Tick>& ticks) {
  std::vector<std::string> labels;
  for (const Tick& t : ticks) {
    if (!t.label.empty()) labels.push_back(t.label);
  }
  return labels;
}

TEST(Ticks, LinearStepsAreOneTwoOrFiveTimesAPowerOfTenWithTheDecimalsTheyNeed) {
  struct Case {
    double lo, hi;
    double minimumStep;
    std::vector<std::string> labels;
  };
  const std::vector<Case> cases = {
      {0.0, 10.0, 0.0, {"0", "2", "4", "6", "8", "10"}},
      {-0.13, 0.31, 0.0, {"-0.1", "0.0", "0.1", "0.2", "0.3"}},
      {1.2e-5, 3.9e-5, 0.0, {"1.5e-5", "2e-5", "2.5e-5", "3e-5", "3.5e-5"}},
      {2.0e6, 9.0e6, 0.0, {"2e6", "3e6", "4e6", "5e6", "6e6", "7e6", "8e6", "9e6"}},
      {-117.0, 113.0, 0.0, {"-100", "-50", "0", "50", "100"}},
      {6.6, 9.4, 1.0, {"7", "8", "9"}},  // counts: no half terms
      {1.0, 1.0, 0.0, {}},                // nothing to divide
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Labels(LinearTicks(c.lo, c.hi, 6, c.minimumStep)), c.labels) << c.lo << " " << c.hi;
  }
}

TEST(Ticks, LogarithmicAxesAreLabelledAtDecadesAndAtTwoAndFiveWhenFewDecadesShow) {
  struct Case {
    double lo, hi;  // exponents
    std::vector<std::string> labels;
    std::size_t ticks;  // minor ticks included
  };
  const std::vector<Case> cases = {
      {-4.3, 0.3, {"0.0001", "0.001", "0.01", "0.1", "1"}, 41},  // 4.6 decades
      {-5.2, -0.8, {"1e-5", "1e-4", "1e-3", "1e-2", "1e-1"}, 40},  // one form for all labels
      {0.1, 0.9, {"2", "5"}, 6},                                    // no decade inside
      {-12.0, 4.0, {"1e-12", "1e-9", "1e-6", "1e-3", "1e0", "1e3"}, 145},  // 17 decades: every third
  };
  for (const Case& c : cases) {
    const std::vector<Tick> ticks = LogTicks(c.lo, c.hi);
    EXPECT_EQ(Labels(ticks), c.labels) << c.lo << " " << c.hi;
    EXPECT_EQ(ticks.size(), c.ticks) << c.lo << " " << c.hi;
  }
}

// A small figure with every kind of text; the tests read it back.
Figure Sample() {
  Figure figure(400, 300);
  figure.SetTitle("Sample <1 & 2>", "a subtitle");
  Axes& axes = figure.Add(GridPanel(400, 300, 40, 1, 1, 0, 0));
  axes.SetTitle("panel");
  axes.SetXLabel("time");
  axes.SetYLabel("velocity");
  axes.SetYLog(true);
  const std::vector<double> x = {0.0, 1.0, 2.0, 3.0}, y = {0.001, 0.01, 0.1, 1.0};
  axes.Line(x, y, {kBlack, 1.0, false}, "measured");
  axes.HorizontalLine(0.05, {kBlack, 1.0, true}, "criterion 0.05");
  axes.Points(std::vector<double>{3.0}, std::vector<double>{1.0}, MarkerShape::Ring, 14.0, kBrightRed, "chosen");
  axes.ShowLegend();
  return figure;
}

TEST(Figure, TheSvgHoldsTheTitlesTicksAndLegendAsText) {
  const std::string svg = Sample().Svg();
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  for (const std::string text : {">Sample &lt;1 &amp; 2&gt;</text>", ">a subtitle</text>", ">time</text>",
                                 ">velocity</text>", ">panel</text>", ">measured</text>", ">criterion 0.05</text>",
                                 ">chosen</text>", ">0.001</text>", ">0.1</text>", ">1</text>", ">0.0</text>", ">2.5</text>",
                                 "rotate(-90", "stroke-dasharray", "stroke=\"#ff0000\""}) {
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  }
}

TEST(Figure, PointsAtTheEndsOfTheDataLieInsideTheFrameOnTheRaster) {
  // The ringed point is the largest of both coordinates: red must show off the frame line.
  const std::vector<std::uint8_t> png = Sample().Png();
  ASSERT_GT(png.size(), 8u);
  DrawingSurface surface(400, 300, kWhite);
  FigureFonts fonts;
  RasterCanvas canvas(surface, fonts);
  Sample().Draw(canvas, fonts);
  const PanelBox box = GridPanel(400, 300, 40, 1, 1, 0, 0);
  int red = 0;
  for (int y = 0; y < surface.Height(); ++y) {
    for (int x = 0; x < surface.Width(); ++x) {
      const bool inside = x > box.left && x < box.right && y > box.top && y < box.bottom;
      if (surface.At(x, y) == kBrightRed) {
        ++red;
        EXPECT_TRUE(inside) << x << "," << y;
      }
    }
  }
  EXPECT_GT(red, 20);
}

TEST(Figure, LinesAreCutAtTheFrameAndBrokenAtNaN) {
  Figure figure(200, 200);
  Axes& axes = figure.Add({50, 50, 150, 150});
  axes.SetXRange(0.0, 1.0);
  axes.SetYRange(0.0, 1.0);
  const std::vector<double> x = {-1.0, 0.5, 2.0, NAN, 0.2, 0.8}, y = {0.5, 0.5, 0.5, 0.5, 0.2, 0.8};
  axes.Line(x, y, {kBlue, 1.0, false});
  DrawingSurface surface(200, 200, kWhite);
  FigureFonts fonts;
  RasterCanvas canvas(surface, fonts);
  figure.Draw(canvas, fonts);
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) {
      if (surface.At(x, y) == kBlue) {
        EXPECT_TRUE(x >= 50 && x <= 150 && y >= 50 && y <= 150) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(surface.At(60, 100), kBlue);   // the horizontal line, cut at both edges
  EXPECT_EQ(surface.At(140, 100), kBlue);
  EXPECT_EQ(surface.At(120, 80), kBlue);   // on the diagonal from (0.2, 0.2) to (0.8, 0.8)
  const std::string svg = figure.Svg();
  std::size_t lines = 0;
  for (std::size_t at = svg.find("stroke=\"#0000ff\""); at != std::string::npos; at = svg.find("stroke=\"#0000ff\"", at + 1)) ++lines;
  EXPECT_EQ(lines, 2u);  // the NaN splits the line in two
}

TEST(Svg, TextIsEscapedAndNamesInUtf8KeptWhileLatin1BytesBecomeReferences) {
  EXPECT_EQ(XmlEscaped("a<b & \"c\">"), "a&lt;b &amp; &quot;c&quot;&gt;");
  EXPECT_EQ(XmlEscaped("temp \xc2\xb0" "C"), "temp \xc2\xb0" "C");
  EXPECT_EQ(XmlEscaped("temp \xb0" "C"), "temp &#176;C");
  EXPECT_EQ(SvgColour(kBrightRed), "#ff0000");
}

}  // namespace
}  // namespace odefit
