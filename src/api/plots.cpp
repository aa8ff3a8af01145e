#include "odefit/plots.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <span>
#include <string>
#include <utility>

#include "api/numerical_errors.h"
#include "api/recordings.h"
#include "graphics/figure.h"
#include "graphics/palette.h"
#include "odefit/differentiation.h"
#include "odefit/errors.h"
#include "odefit/number_text.h"
#include "odefit/integration.h"

namespace odefit {
namespace {

// The rows of a training series drawn: enough to read single oscillations.
constexpr int kShownRows = 1000;
constexpr double kCriterion = 0.05;  // the prediction error that ends the prediction time

constexpr int kNavy = 1, kGreen = 2, kTeal = 3, kMaroon = 4, kPurple = 5, kOlive = 6, kGrey = 8, kBlue = 9,
              kMagenta = 13;

std::string Derivative(const std::string& name) { return "d" + name + "/dt"; }

Picture Encoded(const Figure& figure, PictureFormat format) {
  try {
    if (format == PictureFormat::Png) return figure.Png();
    const std::string svg = figure.Svg();
    return Picture(svg.begin(), svg.end());
  } catch (const std::runtime_error& error) {
    throw NumericalError(error.what());
  }
}

// The derivatives of the model's training series of `series`: `given`
// (checked to be of that shape) or differentiated here into `own`.
const Derivatives& TrainingDerivatives(const Series& series, const Model& model, const Derivatives* given,
                                       Derivatives& own) {
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
  if (!api::IsPlain(series)) {
    // The rows the fit used: every recording and piece between gaps on its own.
    const Sampling sampling =
        SeriesSampling(series, series.times.empty() ? model.dt : 0.0, static_cast<std::size_t>(model.train));
    own = api::DifferentiatePieces(series, sampling, model.points);
    return own;
  }
  const std::size_t cells = static_cast<std::size_t>(model.train) * static_cast<std::size_t>(series.dimension);
  if (given != nullptr) {
    const int rows = model.train - model.points + 1;
    const std::size_t size = static_cast<std::size_t>(rows) * static_cast<std::size_t>(series.dimension);
    if (given->dimension != series.dimension || given->rows != rows || given->offset != (model.points - 1) / 2 ||
        given->states.size() != size || given->slopes.size() != size) {
      throw InvalidArgument("the derivatives are not those of the model's " + std::to_string(model.train) +
                            " training vectors with " + std::to_string(model.points) + " points");
    }
    return *given;
  }
  own = Differentiate(std::span<const double>(series.values).first(cells), series.dimension, model.points, model.dt);
  return own;
}

// Column `i` (0-based) of the first `rows` rows of a row-major table of `D` columns.
std::vector<double> Column(std::span<const double> table, int D, int rows, int i, std::size_t firstRow = 0) {
  std::vector<double> column(static_cast<std::size_t>(rows));
  for (std::size_t r = 0; r < column.size(); ++r) {
    column[r] = table[(firstRow + r) * static_cast<std::size_t>(D) + static_cast<std::size_t>(i)];
  }
  return column;
}

// One figure of a tall panel over a short one for each of D variables, in
// up to three columns: the layout of the differentiation and fit pictures.
struct PairedPanels {
  int width = 0, height = 0;
  std::vector<std::pair<PanelBox, PanelBox>> boxes;
};

PairedPanels PairedLayout(int D) {
  constexpr int kTop = 56, kCellWidth = 440, kCellHeight = 450;
  const int columns = std::min(D, 3), groups = (D + 2) / 3;
  PairedPanels layout;
  layout.width = std::max(800, columns * kCellWidth);
  layout.height = kTop + groups * kCellHeight;
  const double cellWidth = static_cast<double>(layout.width) / columns;
  for (int i = 0; i < D; ++i) {
    const double left = (i % columns) * cellWidth + 82.0, right = (i % columns + 1) * cellWidth - 22.0;
    const double top = kTop + (i / columns) * kCellHeight + 28.0;
    layout.boxes.push_back({{left, top, right, top + 250.0}, {left, top + 296.0, right, top + 380.0}});
  }
  return layout;
}

// The times of the rows drawn and the subtitle that states the span.
std::vector<double> ShownTimes(const Derivatives& d, const Model& model, int n) {
  std::vector<double> t(static_cast<std::size_t>(n));
  for (int r = 0; r < n; ++r) t[static_cast<std::size_t>(r)] = (r + d.offset) * model.dt;
  return t;
}

std::string ShownSpan(const Derivatives& d, const Model& model, int n) {
  const std::string what = n == d.rows ? "all " + std::to_string(d.rows) + " rows"
                                       : "the first " + std::to_string(n) + " of " + std::to_string(d.rows) + " rows";
  return "Training series, " + what + " of the " + std::to_string(model.points) + "-point window: t = " +
         SignificantText(d.offset * model.dt, 6) + " to " + SignificantText((n - 1 + d.offset) * model.dt, 6);
}

// Scales an axis to the observed values and as much of the model's as lies
// within half their spread beyond them, so that a model far off leaves the
// panel instead of flattening the data.
DataRange ObservedRange(std::span<const double> observed, std::span<const double> model) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (const double v : observed) {
    if (std::isfinite(v)) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  if (!(lo < hi)) return {std::nan(""), std::nan("")};
  const double reach = 0.5 * (hi - lo);
  double top = hi, bottom = lo;
  for (const double v : model) {
    if (std::isfinite(v)) {
      bottom = std::min(bottom, std::max(v, lo - reach));
      top = std::max(top, std::min(v, hi + reach));
    }
  }
  const double margin = 0.05 * (top - bottom);
  return {bottom - margin, top + margin};
}

void SetYRange(Axes& axes, std::span<const double> observed, std::span<const double> model) {
  const DataRange range = ObservedRange(observed, model);
  if (std::isfinite(range.lo)) axes.SetYRange(range.lo, range.hi);
}

void SetXRange(Axes& axes, std::span<const double> observed, std::span<const double> model) {
  const DataRange range = ObservedRange(observed, model);
  if (std::isfinite(range.lo)) axes.SetXRange(range.lo, range.hi);
}

// The colours and markers that tell the differentiation windows apart.
constexpr int kWindowColours[] = {kBlue, kGreen, kMagenta, kTeal, kOlive, kPurple, kMaroon, kNavy, kGrey, kBlack};
constexpr MarkerShape kWindowMarkers[] = {MarkerShape::Disk, MarkerShape::Square, MarkerShape::Diamond,
                                          MarkerShape::Triangle};

}  // namespace

std::string_view PictureExtension(PictureFormat format) { return format == PictureFormat::Svg ? "svg" : "png"; }

namespace {

Picture DifferentiationPicture(const Series& series, const Model& model, const Derivatives* given,
                               PictureFormat format) {
  Derivatives own;
  const Derivatives& d = TrainingDerivatives(series, model, given, own);
  const int D = d.dimension, n = std::min(d.rows, kShownRows);
  const PairedPanels layout = PairedLayout(D);
  Figure figure(layout.width, layout.height);
  figure.SetTitle("Differentiation", ShownSpan(d, model, n));
  const std::vector<double> t = ShownTimes(d, model, n);
  for (int i = 0; i < D; ++i) {
    const std::string name = VariableName(model, i + 1);
    Axes& values = figure.Add(layout.boxes[static_cast<std::size_t>(i)].first);
    values.SetTitle(name);
    values.SetYLabel(name);
    values.Points(t, Column(series.values, D, n, i, static_cast<std::size_t>(d.offset)), MarkerShape::Disk, 3.0, kGrey,
                  "observed");
    values.Line(t, Column(d.states, D, n, i), {kBlack, 1.0, false}, "smoothed");
    values.ShowLegend();
    Axes& slopes = figure.Add(layout.boxes[static_cast<std::size_t>(i)].second);
    slopes.SetXLabel("t");
    slopes.SetYLabel(Derivative(name));
    slopes.Line(t, Column(d.slopes, D, n, i), {kBlue, 1.0, false});
  }
  return Encoded(figure, format);
}

Picture FitPicture(const Series& series, const Model& model, const Derivatives* given, PictureFormat format) {
  Derivatives own;
  const Derivatives& d = TrainingDerivatives(series, model, given, own);
  const int D = d.dimension, n = std::min(d.rows, kShownRows);
  const std::size_t ld = static_cast<std::size_t>(D);
  // Row r is sample r + 1 of the fit: its driving phase is that of time (r + 1) * dt.
  std::vector<double> fitted(static_cast<std::size_t>(n) * ld);
  for (std::size_t r = 0; r < static_cast<std::size_t>(n); ++r) {
    EvaluateModel(model, static_cast<double>(r + 1) * model.dt, std::span<const double>(d.states).subspan(r * ld, ld),
                  std::span<double>(fitted).subspan(r * ld, ld));
  }
  const PairedPanels layout = PairedLayout(D);
  Figure figure(layout.width, layout.height);
  figure.SetTitle("Fit of the right-hand sides", ShownSpan(d, model, n));
  const std::vector<double> t = ShownTimes(d, model, n);
  for (int i = 0; i < D; ++i) {
    const std::string name = Derivative(VariableName(model, i + 1));
    const std::vector<double> estimates = Column(d.slopes, D, n, i), model_ = Column(fitted, D, n, i);
    std::vector<double> residuals(estimates.size());
    for (std::size_t k = 0; k < residuals.size(); ++k) residuals[k] = estimates[k] - model_[k];
    const double error = model.Equation(i + 1).error;
    Axes& fit = figure.Add(layout.boxes[static_cast<std::size_t>(i)].first);
    fit.SetTitle(name + (std::isfinite(error) ? ", error of approximation " + SignificantText(100.0 * error, 3) + " %" : ""));
    fit.SetYLabel(name);
    fit.Points(t, estimates, MarkerShape::Disk, 3.5, kBlack, "estimates");
    fit.Line(t, model_, {kBrightRed, 1.0, false}, "model");
    SetYRange(fit, estimates, model_);
    fit.ShowLegend();
    Axes& rest = figure.Add(layout.boxes[static_cast<std::size_t>(i)].second);
    rest.SetXLabel("t");
    rest.SetYLabel("residual");
    rest.HorizontalLine(0.0, {kGrey, 1.0, true});
    rest.Line(t, residuals, {kBlue, 1.0, false});
  }
  return Encoded(figure, format);
}

}  // namespace

Picture DifferentiationPlot(const Series& series, const Model& model, PictureFormat format) {
  return DifferentiationPicture(series, model, nullptr, format);
}

Picture DifferentiationPlot(const Series& series, const Model& model, const Derivatives& training,
                            PictureFormat format) {
  return DifferentiationPicture(series, model, &training, format);
}

Picture FitPlot(const Series& series, const Model& model, PictureFormat format) {
  return FitPicture(series, model, nullptr, format);
}

Picture FitPlot(const Series& series, const Model& model, const Derivatives& training, PictureFormat format) {
  return FitPicture(series, model, &training, format);
}

Picture EfficiencyPlot(const Model& model, const Series& test, const EfficiencySettings& settings,
                       const EfficiencyResult& result, PictureFormat format) {
  CheckEfficiencySettings(model, test, settings);
  const int D = model.Dimension(), L = settings.length;
  const long long needed = (static_cast<long long>(settings.pieces) - 1) * settings.shift + L + model.points;
  if (result.dimension != D || result.length != L ||
      result.predictionError.size() != static_cast<std::size_t>(D) * static_cast<std::size_t>(L) ||
      result.predictionTime.size() != static_cast<std::size_t>(D)) {
    throw InvalidArgument("the result is not that of a test of this model on this series with these settings");
  }
  const std::size_t cells = static_cast<std::size_t>(needed) * static_cast<std::size_t>(D);
  const Derivatives d = Differentiate(std::span<const double>(test.values).first(cells), D, model.points, model.dt);
  // The model's solution from the first smoothed test state over the whole test
  // series: its first L steps are the prediction of piece 1, the rest its orbit.
  SimulationSettings run;
  run.method = settings.method;
  run.step = settings.step;
  run.t0 = (model.train + 1) * model.dt;
  run.cancel = settings.cancel;
  std::vector<double> solution;
  try {
    solution = Simulate(model, std::span<const double>(d.states).first(static_cast<std::size_t>(D)), d.rows - 1, run);
  } catch (const NumericalError&) {
    solution.assign(d.states.size(), std::nan(""));  // the result says so; the picture shows none
  }

  constexpr int kTop = 56, kRowHeight = 290, kWidth = 1100;
  Figure figure(kWidth, kTop + (D + 1) * kRowHeight);
  figure.SetTitle("Model efficiency", std::to_string(settings.pieces) + " pieces of " + std::to_string(L) +
                                          " sampling intervals, " + std::to_string(settings.shift) +
                                          " apart; piece 1 and the orbit start at the first test vector");
  const auto box = [&](int row, int column) { return GridPanel(kWidth, figure.Height(), kTop, D + 1, 2, row, column); };
  const std::string x1 = VariableName(model, 1);
  const std::string y1 = D >= 2 ? VariableName(model, 2) : Derivative(x1);
  Axes& orbit = figure.Add(box(0, 0));
  orbit.SetTitle("Phase orbit over the test series");
  orbit.SetXLabel(x1);
  orbit.SetYLabel(y1);
  const std::vector<double> observedX = Column(d.states, D, d.rows, 0);
  const std::vector<double> observedY = D >= 2 ? Column(d.states, D, d.rows, 1) : Column(d.slopes, D, d.rows, 0);
  orbit.Line(observedX, observedY, {kBlack, 1.0, false}, "observed");
  std::vector<double> modelY(static_cast<std::size_t>(d.rows));
  const std::vector<double> modelX = Column(solution, D, d.rows, 0);
  for (std::size_t r = 0; r < modelY.size(); ++r) {
    if (D >= 2) {
      modelY[r] = solution[r * static_cast<std::size_t>(D) + 1];
    } else {
      double slope = std::nan("");
      if (std::isfinite(modelX[r])) EvaluateModel(model, run.t0 + static_cast<double>(r) * model.dt, {&modelX[r], 1}, {&slope, 1});
      modelY[r] = slope;
    }
  }
  orbit.Line(modelX, modelY, {kBrightRed, 1.0, false}, "model");
  SetXRange(orbit, observedX, modelX);
  SetYRange(orbit, observedY, modelY);
  orbit.ShowLegend();

  std::vector<double> lead(static_cast<std::size_t>(L));
  for (int j = 1; j <= L; ++j) lead[static_cast<std::size_t>(j - 1)] = j * model.dt;
  // Errors span decades from the first lead time on: a log axis unless they do not.
  double smallest = std::numeric_limits<double>::infinity(), largest = 0.0;
  for (const double e : result.predictionError) {
    if (e > 0.0 && std::isfinite(e)) {
      smallest = std::min(smallest, e);
      largest = std::max(largest, e);
    }
  }
  const bool logErrors = largest > 100.0 * smallest;
  const auto errorAxes = [&](Axes& axes) {
    axes.SetXLabel("lead time");
    axes.SetYLabel("normalised error");
    axes.SetYLog(logErrors);
    if (!logErrors) axes.IncludeY(0.0);
    axes.IncludeY(kCriterion);
    axes.HorizontalLine(kCriterion, {kBlack, 1.0, true}, "criterion 0.05");
  };
  Axes& all = figure.Add(box(0, 1));
  all.SetTitle("Prediction errors, mean over the pieces");
  errorAxes(all);
  for (int i = 0; i < D; ++i) {
    all.Line(lead, Column(result.predictionError, D, L, i), {kWindowColours[i], 1.5, false}, VariableName(model, i + 1));
  }
  all.ShowLegend();

  for (int i = 0; i < D; ++i) {
    const std::string name = VariableName(model, i + 1);
    Axes& course = figure.Add(box(i + 1, 0));
    course.SetTitle(name + " over piece 1");
    course.SetXLabel("lead time");
    course.SetYLabel(name);
    const int shown = std::min(L + 1, d.rows);
    std::vector<double> time(static_cast<std::size_t>(shown));
    for (int j = 0; j < shown; ++j) time[static_cast<std::size_t>(j)] = j * model.dt;
    const std::vector<double> observed = Column(d.states, D, shown, i), predicted = Column(solution, D, shown, i);
    course.Line(time, observed, {kBlack, 1.5, false}, "observed");
    course.Line(time, predicted, {kBrightRed, 1.5, true}, "predicted");
    SetYRange(course, observed, predicted);
    course.ShowLegend();

    Axes& error = figure.Add(box(i + 1, 1));
    const int steps = result.predictionTime[static_cast<std::size_t>(i)];
    const double at = steps * model.dt;
    error.SetTitle(name + ": prediction time " + SignificantText(at, 4) + " (" + std::to_string(steps) + " intervals" +
                   (steps >= L ? ", the whole piece" : "") + ")");
    errorAxes(error);
    error.Line(lead, Column(result.predictionError, D, L, i), {kWindowColours[i], 1.5, false}, "error of " + name);
    if (steps > 0) error.VerticalLine(at, {kBrightRed, 1.0, false}, "prediction time");
    error.ShowLegend();
  }
  return Encoded(figure, format);
}

Picture SearchPlot(const SearchResult& result, PictureFormat format) {
  if (result.candidates.empty()) throw InvalidArgument("the search has no candidates to plot");
  std::map<int, std::pair<std::vector<double>, std::vector<double>>> scores, criteria;  // by window
  for (const SearchCandidate& c : result.candidates) {
    scores[c.points].first.push_back(c.terms);
    scores[c.points].second.push_back(c.score);
    criteria[c.points].first.push_back(c.terms);
    criteria[c.points].second.push_back(c.criterion);
  }
  constexpr int kWidth = 1200, kHeight = 560, kTop = 56;
  Figure figure(kWidth, kHeight);
  figure.SetTitle("Model search: " + std::to_string(result.candidates.size()) + " candidates" +
                      (result.complete ? "" : " (cut short)"),
                  "scored on " + std::to_string(result.starts) + " predictions of " + std::to_string(result.horizon) +
                      " samples; colour and marker: the differentiation window; ringed: the chosen model");
  const SearchCandidate& chosen = result.candidates.front();
  const std::string choice = "chosen: " + std::to_string(chosen.terms) + " terms, " + std::to_string(chosen.points) +
                             " points, threshold " + SignificantText(chosen.threshold, 3);
  for (int panel = 0; panel < 2; ++panel) {
    Axes& axes = figure.Add(GridPanel(kWidth, kHeight, kTop, 1, 2, 0, panel));
    const bool score = panel == 0;
    axes.SetTitle(score ? "Prediction score (lower is better)" : "Ranking criterion (lower is better)");
    axes.SetXLabel("terms");
    axes.SetXCounts(true);
    axes.SetYLabel(score ? "normalised squared prediction error" : "criterion");
    axes.SetYLog(score);
    std::size_t k = 0;
    for (const auto& [points, xy] : score ? scores : criteria) {
      axes.Points(xy.first, xy.second, kWindowMarkers[k % 4], 6.0, kWindowColours[k % 10],
                  std::to_string(points) + " points");
      ++k;
    }
    const double x = chosen.terms, y = score ? chosen.score : chosen.criterion;
    axes.Points(std::span(&x, 1), std::span(&y, 1), MarkerShape::Ring, 16.0, kBrightRed, "chosen");
    axes.Note(x, y, choice, kBrightRed);
    axes.ShowLegend();
  }
  return Encoded(figure, format);
}

}  // namespace odefit
