// Pictures of a fit and of a test as PNG bytes, and the calls that cannot
// make one.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

#include "graphics/figure.h"
#include "graphics/palette.h"
#include "graphics/png_file.h"
#include "odefit/odefit.h"

namespace odefit {
namespace {

const std::string kLorenz = std::string(ODEFIT_EXAMPLES_DIR) + "/lorenz.txt";

bool IsPng(const PngImage& png) {
  const PngImage signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return png.size() > signature.size() && std::equal(signature.begin(), signature.end(), png.begin());
}

Series Tail(const Series& series, std::size_t first) {
  Series tail = series;
  tail.values.erase(tail.values.begin(), tail.values.begin() + static_cast<std::ptrdiff_t>(first * 3));
  return tail;
}

TEST(Plots, AFitAndATestGivePngImages) {
  const Series lorenz = ReadClassicSeries(kLorenz, 3);
  FitSettings fit;
  fit.dt = 0.01;
  fit.train = 3000;
  Derivatives training;
  const Model model = FitModel(lorenz, fit, &training);
  EXPECT_TRUE(IsPng(DifferentiationPlot(lorenz, model)));
  EXPECT_TRUE(IsPng(FitPlot(lorenz, model)));
  // From the fit's own derivatives: the same pictures without differentiating again.
  EXPECT_EQ(DifferentiationPlot(lorenz, model, training), DifferentiationPlot(lorenz, model));
  EXPECT_EQ(FitPlot(lorenz, model, training), FitPlot(lorenz, model));
  EfficiencySettings test;
  test.pieces = 2;
  test.length = 100;
  const Series held = Tail(lorenz, 3000);
  const EfficiencyResult result = TestModel(model, held, test);
  EXPECT_TRUE(IsPng(EfficiencyPlot(model, held, test, result)));
}

TEST(Plots, ModelsThatDoNotSayHowTheyWereFittedOrOtherDataAreRefused) {
  const Series lorenz = ReadClassicSeries(kLorenz, 3);
  FitSettings fit;
  fit.dt = 0.01;
  fit.train = 3000;
  const Model model = FitModel(lorenz, fit);
  Model unknown = model;
  unknown.train = 0;  // as FitModel on derivatives leaves it
  EXPECT_THROW(FitPlot(lorenz, unknown), InvalidArgument);
  EXPECT_THROW(DifferentiationPlot(Tail(lorenz, 2000), model), InvalidArgument);  // 2000 < 3000 vectors
  Series other = lorenz;
  other.dimension = 1;
  EXPECT_THROW(FitPlot(other, model), InvalidArgument);
  Derivatives training;
  FitModel(lorenz, fit, &training);
  training.slopes.pop_back();  // not rows x dimension
  EXPECT_THROW(FitPlot(lorenz, model, training), InvalidArgument);
  EfficiencySettings test;
  test.pieces = 2;
  test.length = 100;
  const Series held = Tail(lorenz, 3000);
  EfficiencyResult result = TestModel(model, held, test);
  EfficiencySettings longer = test;
  longer.length = 200;  // not the settings of the result
  EXPECT_THROW(EfficiencyPlot(model, held, longer, result), InvalidArgument);
  result.predictionError.pop_back();
  EXPECT_THROW(EfficiencyPlot(model, held, test, result), InvalidArgument);
}

std::string Text(const Picture& svg) { return std::string(svg.begin(), svg.end()); }

// The Lorenz fit with the variables named as a header line would name them.
struct LorenzPictures : ::testing::Test {
  void SetUp() override {
    lorenz = ReadClassicSeries(kLorenz, 3);
    lorenz.names = {"u", "v", "w"};
    FitSettings fit;
    fit.dt = 0.01;
    fit.train = 3000;
    model = FitModel(lorenz, fit);
    held = Tail(lorenz, 3000);
    test.pieces = 2;
    test.length = 100;
    result = TestModel(model, held, test);
  }
  Series lorenz, held;
  Model model;
  EfficiencySettings test;
  EfficiencyResult result;
};

TEST_F(LorenzPictures, EverySvgNamesItsAxesAfterTheVariablesAndDrawsItsReferences) {
  struct Case {
    const char* picture;
    Picture svg;
    std::vector<std::string> texts;
  };
  const std::vector<Case> cases = {
      {"differentiation", DifferentiationPlot(lorenz, model, PictureFormat::Svg),
       {">u</text>", ">w</text>", ">dv/dt</text>", ">t</text>", ">observed</text>", ">smoothed</text>",
        "the first 1000 of 2998 rows of the 3-point window: t = 0.01 to 10"}},
      {"fit", FitPlot(lorenz, model, PictureFormat::Svg),
       {">du/dt</text>", ">dw/dt</text>", ">residual</text>", ">estimates</text>", ">model</text>",
        "error of approximation 0.139 %"}},
      {"efficiency", EfficiencyPlot(model, held, test, result, PictureFormat::Svg),
       {">criterion 0.05</text>", ">prediction time</text>", ">lead time</text>", ">normalised error</text>",
        ">u over piece 1</text>", ">predicted</text>", ">w: prediction time ",
        "stroke-dasharray"}},
  };
  for (const Case& c : cases) {
    const std::string svg = Text(c.svg);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u) << c.picture;
    for (const std::string& text : c.texts) EXPECT_NE(svg.find(text), std::string::npos) << c.picture << ": " << text;
    EXPECT_EQ(svg.find(">x1</text>"), std::string::npos) << c.picture;  // the names replace x1..x3
  }
}

TEST(Plots, EveryVariableOfALargerSystemGetsItsPanels) {
  Series five;
  five.dimension = 5;
  for (int n = 0; n < 400; ++n) {
    for (int i = 1; i <= 5; ++i) five.values.push_back(std::sin(0.01 * i * n) + 0.1 * i);
  }
  FitSettings fit;
  fit.dt = 0.05;
  fit.train = 300;
  fit.equations = {ParseEquationSpec("poly:1")};
  const Model model = FitModel(five, fit);
  const std::string svg = Text(FitPlot(five, model, PictureFormat::Svg));
  for (int i = 1; i <= 5; ++i) EXPECT_NE(svg.find(">dx" + std::to_string(i) + "/dt</text>"), std::string::npos) << i;
  EXPECT_NE(svg.find("all 298 rows"), std::string::npos);
}

// Candidates over four decades of score; the chosen one has the best score and
// the most terms, the corner where a picture without margins would hide it.
SearchResult Candidates() {
  SearchResult result;
  result.horizon = 50;
  result.starts = 20;
  const std::vector<std::tuple<int, int, double>> rows = {{5, 12, 1e-5}, {3, 4, 1e-1}, {3, 6, 1e-2}, {5, 8, 1e-3}, {7, 9, 2e-4}};
  for (const auto& [points, terms, score] : rows) {
    SearchCandidate c;
    c.points = points;
    c.terms = terms;
    c.score = score;
    c.threshold = 0.01;
    c.criterion = 20 * std::log(score) + 2 * terms;
    result.candidates.push_back(c);
  }
  return result;
}

TEST(Plots, TheSearchPictureLabelsDecadesTellsWindowsApartAndRingsTheChosenCandidate) {
  const std::string svg = Text(SearchPlot(Candidates(), PictureFormat::Svg));
  for (const std::string text : {">terms</text>", ">normalised squared prediction error</text>", ">criterion</text>",
                                 ">3 points</text>", ">5 points</text>", ">7 points</text>", ">chosen</text>",
                                 "chosen: 12 terms, 5 points, threshold 0.01", ">1e-5</text>", ">1e-4</text>",
                                 ">1e-3</text>", ">1e-2</text>", ">1e-1</text>", ">10</text>"}) {
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  }
  // On the raster the chosen candidate's red lies inside the score panel, none on its frame.
  const Picture png = SearchPlot(Candidates());
  const std::string path = ::testing::TempDir() + "/search-plot-test.png";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  const std::optional<DrawingSurface> picture = ReadPng(path);
  ASSERT_TRUE(picture);
  const PanelBox box = GridPanel(picture->Width(), picture->Height(), 56, 1, 2, 0, 0);
  int inside = 0, onFrame = 0;
  for (int y = static_cast<int>(box.top); y <= static_cast<int>(box.bottom); ++y) {
    for (int x = static_cast<int>(box.left); x <= static_cast<int>(box.right); ++x) {
      if (picture->At(x, y) != kBrightRed) continue;
      const bool frame = x == static_cast<int>(box.left) || x == static_cast<int>(box.right) ||
                         y == static_cast<int>(box.top) || y == static_cast<int>(box.bottom);
      ++(frame ? onFrame : inside);
    }
  }
  EXPECT_GT(inside, 30);
  EXPECT_EQ(onFrame, 0);
  EXPECT_THROW(SearchPlot(SearchResult{}), InvalidArgument);
}

}  // namespace
}  // namespace odefit
