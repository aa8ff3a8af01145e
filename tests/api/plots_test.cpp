// Pictures of a fit and of a test as PNG bytes, and the calls that cannot
// make one.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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
  EXPECT_EQ(DifferentiationPlot(training, model), DifferentiationPlot(lorenz, model));
  EXPECT_EQ(FitPlot(training, model), FitPlot(lorenz, model));
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
  EXPECT_THROW(FitPlot(training, model), InvalidArgument);
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

}  // namespace
}  // namespace odefit
