#include "odefit/plots.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>
#include <span>
#include <string>

#include "api/numerical_errors.h"
#include "derivatives/differentiation_plot.h"
#include "format/fixed_format.h"
#include "graphics/graphics_layer.h"
#include "graphics/palette.h"
#include "graphics/plot_frame.h"
#include "graphics/png_file.h"
#include "integration/efficiency_plot.h"
#include "integration/efficiency_test.h"
#include "integration/model_rhs.h"
#include "odefit/differentiation.h"
#include "odefit/errors.h"
#include "odefit/integration.h"
#include "odefit/number_text.h"

namespace odefit {
namespace {

// The window the fit picture is drawn in; no front end shows it.
constexpr int kFitWindow = 13;
constexpr std::string_view kFitTitle = "Fit";
constexpr int kSearchWindow = 14;
constexpr std::string_view kSearchTitle = "Model search";

PngImage Encoded(const GraphicsLayer& layer, int unit) {
  const std::optional<DrawingSurface> surface = layer.CopySurface(unit);
  std::string error;
  std::optional<PngImage> png = surface ? EncodePng(*surface, PngColourType::Indexed, &error) : std::nullopt;
  if (!png) throw NumericalError("cannot encode the picture: " + error);
  return std::move(*png);
}

// Differentiates the model's training series of `series`.
Derivatives TrainingDerivatives(const Series& series, const Model& model) {
  ValidateModel(model);
  if (series.dimension != model.Dimension()) {
    throw InvalidArgument("the series has " + std::to_string(series.dimension) + " components, the model " +
                          std::to_string(model.Dimension()));
  }
  if (model.points < 2 || model.train < model.points) {
    throw InvalidArgument("the model does not say which vectors and how many points its fit used");
  }
  if (static_cast<std::size_t>(model.train) > series.size()) {
    throw InvalidArgument("the series has " + std::to_string(series.size()) + " vectors, fewer than the model's " +
                          std::to_string(model.train) + " training vectors");
  }
  const std::size_t cells = static_cast<std::size_t>(model.train) * static_cast<std::size_t>(series.dimension);
  return Differentiate(std::span<const double>(series.values).first(cells), series.dimension, model.points,
                       model.dt);
}

// Where the panel of equation i (1-based) of D lies: up to three columns of
// up to three panels.
PanelFrame FitPanel(int i, int D) {
  const int columns = D <= 3 ? 1 : (D <= 6 ? 2 : 3);
  const int rows = (D + columns - 1) / columns;
  const int width = 800 / columns, height = 600 / rows;
  const int left = ((i - 1) / rows) * width, top = ((i - 1) % rows) * height;
  return {left + 60, top + 35, left + width - 30, top + height - 30};
}

// Returns the label of an axis end: 4 significant digits in any locale.
std::string AxisLabel(double value) { return SignificantText(value, 4); }

// Checks that `training` can be the derivatives `model` was fitted to.
const Derivatives& CheckedTraining(const Derivatives& training, const Model& model) {
  ValidateModel(model);
  const std::size_t cells = static_cast<std::size_t>(std::max(training.rows, 0)) *
                            static_cast<std::size_t>(std::max(training.dimension, 0));
  if (training.dimension != model.Dimension() || training.rows < 1 || training.states.size() != cells ||
      training.slopes.size() != cells) {
    throw InvalidArgument("the derivatives are not rows x the model's dimension of states and slopes");
  }
  return training;
}

}  // namespace

PngImage DifferentiationPlot(const Series& series, const Model& model) {
  return DifferentiationPlot(TrainingDerivatives(series, model), model);
}

PngImage FitPlot(const Series& series, const Model& model) { return FitPlot(TrainingDerivatives(series, model), model); }

PngImage DifferentiationPlot(const Derivatives& training, const Model& model) {
  const Derivatives& d = CheckedTraining(training, model);
  GraphicsLayer layer;
  DrawDifferentiationPlots(layer, d.states, d.slopes, d.dimension, d.rows, model.dt);
  return Encoded(layer, DifferentiationWindow);
}

PngImage FitPlot(const Derivatives& training, const Model& model) {
  const Derivatives& d = CheckedTraining(training, model);
  const int D = d.dimension;
  const std::size_t ld = static_cast<std::size_t>(D);
  const int n = std::min(d.rows, kMaxPlottedPoints);
  // Row r is sample r + 1 of the fit: its driving phase is that of time (r + 1) * dt.
  std::vector<double> fitted(static_cast<std::size_t>(n) * ld);
  for (std::size_t r = 0; r < static_cast<std::size_t>(n); ++r) {
    EvaluateModel(model, static_cast<double>(r + 1) * model.dt, std::span<const double>(d.states).subspan(r * ld, ld),
                  std::span<double>(fitted).subspan(r * ld, ld));
  }
  GraphicsLayer layer;
  PrepareGraphicsWindow(layer, kFitWindow, kFitTitle);
  const std::string timeHigh = fixed::FormatF(n * model.dt, 8, 3);
  for (int i = 1; i <= D; ++i) {
    const PanelFrame f = FitPanel(i, D);
    const AxisRange range = PlotRangeOfRow(std::span<const double>(d.slopes).first(static_cast<std::size_t>(n) * ld),
                                           D, n, i);
    const std::string name = "dx" + std::to_string(i);
    const std::string title = name + "/dt: estimates (black), model (red)";
    layer.SetDrawColour(kBlack);
    DrawPlotFrame(layer, f.x1, f.y1, f.x2, f.y2, 10, 10,
                  {"0.0", "t", timeHigh, AxisLabel(range.lo), name, AxisLabel(range.hi), title});
    const int width = f.x2 - f.x1, height = f.y2 - f.y1;
    for (const bool model : {false, true}) {
      layer.SetDrawColour(model ? kBrightRed : kBlack);
      for (int k = 0; k < n; ++k) {
        const std::size_t at = static_cast<std::size_t>(k) * ld + static_cast<std::size_t>(i - 1);
        const int x = f.x1 + static_cast<int>(static_cast<long long>(k) * width / n);
        const int y = VerticalPixel(f.y2, height, PlotFraction(model ? fitted[at] : d.slopes[at], range));
        if (y >= f.y1 && y <= f.y2) layer.SetPixel(x, y);  // a model far off leaves its panel
      }
    }
  }
  layer.SetDrawColour(kBlack);
  return Encoded(layer, kFitWindow);
}

PngImage EfficiencyPlot(const Model& model, const Series& test, const EfficiencySettings& settings,
                        const EfficiencyResult& result) {
  ValidateModel(model);
  const int D = model.Dimension();
  if (test.dimension != D || model.points < 2 || settings.length < 1 || settings.pieces < 1 || settings.shift < 1) {
    throw InvalidArgument("the test series, model and settings do not belong to one test");
  }
  const long long needed =
      (static_cast<long long>(settings.pieces) - 1) * settings.shift + settings.length + model.points;
  if (needed > static_cast<long long>(test.size()) || result.dimension != D || result.length != settings.length ||
      result.predictionError.size() != static_cast<std::size_t>(D) * static_cast<std::size_t>(settings.length)) {
    throw InvalidArgument("the result is not that of a test of this model on this series with these settings");
  }
  const std::size_t cells = static_cast<std::size_t>(needed) * static_cast<std::size_t>(D);
  const Derivatives d = Differentiate(std::span<const double>(test.values).first(cells), D, model.points, model.dt);
  TestRunSettings run;
  run.D = D;
  run.Ltest = settings.length;
  run.Ktest = settings.pieces;
  run.Stest = settings.shift;
  run.method = static_cast<int>(settings.method);
  run.h = settings.step == 0.0 ? model.dt : settings.step;
  run.dt = model.dt;
  run.t0 = (model.train + 1) * model.dt;
  run.cancel = settings.cancel;
  GraphicsLayer layer;
  DrawEfficiencyWindow(layer, d.states, d.slopes, D, d.rows, settings.length, model.dt);
  const ModelRightHandSide rhs(model);
  api::RunNumerical([&] {
    ModelOrbitRun(d.states, d.slopes, d.rows, run, rhs, [&](int x, int y) { layer.SetPixel(x, y); });
  });
  DrawPredictionErrorCurves(layer, result.predictionError, D, settings.length);
  layer.SetDrawColour(kBlack);
  return Encoded(layer, EfficiencyWindow);
}

PngImage SearchPlot(const SearchResult& result) {
  if (result.candidates.empty()) throw InvalidArgument("the search has no candidates to plot");
  int most = 1;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (const SearchCandidate& c : result.candidates) {
    most = std::max(most, c.terms);
    if (c.score > 0.0 && std::isfinite(c.score)) {
      lo = std::min(lo, std::log10(c.score));
      hi = std::max(hi, std::log10(c.score));
    }
  }
  if (!(lo <= hi)) lo = hi = 0.0;
  if (hi - lo < 1.0) {
    lo = std::floor(lo);
    hi = lo + 1.0;
  }
  const AxisRange range{lo, hi};
  constexpr int x1 = 90, y1 = 60, x2 = 760, y2 = 540;
  GraphicsLayer layer;
  PrepareGraphicsWindow(layer, kSearchWindow, kSearchTitle);
  layer.SetDrawColour(kBlack);
  DrawPlotFrame(layer, x1, y1, x2, y2, 10, 10,
                {"0", "terms", std::to_string(most), AxisLabel(std::pow(10.0, lo)), "score", AxisLabel(std::pow(10.0, hi)),
                 "Candidates: prediction score (log scale) against terms; the chosen one in red"});
  // A cross of half-width `size` at the candidate's place, kept inside the frame.
  const auto mark = [&](const SearchCandidate& c, int size) {
    const double score = c.score > 0.0 && std::isfinite(c.score) ? std::log10(c.score) : hi;
    const int x = HorizontalPixel(x1, x2 - x1, static_cast<double>(c.terms) / most);
    const int y = VerticalPixel(y2, y2 - y1, PlotFraction(score, range));
    for (int d = -size; d <= size; ++d) {
      for (const auto& [px, py] : {std::pair{x + d, y}, std::pair{x, y + d}}) {
        if (px > x1 && px < x2 && py > y1 && py < y2) layer.SetPixel(px, py);
      }
    }
  };
  for (auto c = result.candidates.rbegin(); c != result.candidates.rend(); ++c) mark(*c, 2);
  layer.SetDrawColour(kBrightRed);
  mark(result.candidates.front(), 4);
  layer.SetDrawColour(kBlack);
  return Encoded(layer, kSearchWindow);
}

}  // namespace odefit
