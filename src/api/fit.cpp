#include "odefit/fit.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "api/numerical_errors.h"
#include "api/recordings.h"
#include "model/design.h"
#include "model/equation_shape.h"
#include "model/model_family.h"
#include "model/model_fit.h"
#include "model/sparse_regression.h"
#include "odefit/number_text.h"
#include "model/monomials.h"
#include "numerics/fold_kernels.h"

namespace odefit {
namespace {

// Largest order a spec may name; a dimension allows far less.
constexpr int kLargestSpecOrder = 1000;

std::vector<std::string_view> SplitAtColons(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos; text.remove_prefix(colon + 1)) {
    parts.push_back(text.substr(0, colon));
  }
  parts.push_back(text);
  return parts;
}

int SpecOrder(std::string_view field, std::string_view what, std::string_view spec) {
  int order = -1;
  const char* end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), end, order);
  if (field.empty() || stop != end || error != std::errc() || order < 0 || order > kLargestSpecOrder) {
    throw InvalidArgument("the " + std::string(what) + " in model \"" + std::string(spec) +
                          "\" must be a whole number from 0 to 1000, not \"" + std::string(field) + "\"");
  }
  return order;
}

double SpecPeriod(std::string_view field, std::string_view spec) {
  if (field.size() > 1 && field.front() == '+') field.remove_prefix(1);
  double period = 0.0;
  const char* end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), end, period, std::chars_format::general);
  if (field.empty() || stop != end || error != std::errc() || !(period > 0.0) || !std::isfinite(period)) {
    throw InvalidArgument("the driving period in model \"" + std::string(spec) +
                          "\" must be a positive number of time units, not \"" + std::string(field) + "\"");
  }
  return period;
}

// Fits every equation of `model` (shapes set) by thresholded least squares.
// Equations of one design share one summary, folded with the processor's
// fastest kernels on `threads` threads, as a full fit folds its rows.
void FitSparse(Model& model, const Derivatives& derivatives, const SparseOptions& sparse,
               const CancellationToken* cancel, int threads) {
  const int D = model.Dimension();
  ThresholdSettings settings;
  settings.threshold = sparse.threshold;
  settings.scaled = sparse.scaled;
  const SummaryOptions options{threads, &fold::BestKernels(), cancel};
  std::vector<bool> done(static_cast<std::size_t>(D), false);
  std::vector<double> y(static_cast<std::size_t>(derivatives.rows));
  for (int i = 1; i <= D; ++i) {
    if (done[static_cast<std::size_t>(i - 1)]) continue;
    ThrowIfCancelled(cancel);
    std::vector<int> group{i - 1};  // 0-based equations, in order
    for (int j = i + 1; j <= D; ++j) {
      if (SameDesign(model.Equation(i), model.Equation(j))) group.push_back(j - 1);
    }
    const TriangularSummary summary =
        SummariseDesign(model.Equation(i), derivatives.states, D, derivatives.rows, 1, derivatives.slopes, group, options);
    for (std::size_t t = 0; t < group.size(); ++t) {
      ModelEquation& eq = model.Equation(group[t] + 1);
      done[static_cast<std::size_t>(group[t])] = true;
      const SubsetFit fit = ThresholdedFit(summary, static_cast<int>(t), settings);
      ScatterSubsetFit(fit, eq);
      const double* slopes = derivatives.slopes.data() + group[t];
      if (!FamilyOf(eq.family).quotient) {
        // The residual's squares are the summary's: no second pass over the rows.
        eq.error = ErrorOfSquares(fit.rss, slopes, static_cast<std::size_t>(D), y.size());
        continue;
      }
      // A quotient family reports the error of P/Q, not of its linearised problem.
      for (std::size_t r = 0; r < y.size(); ++r) y[r] = slopes[r * static_cast<std::size_t>(D)];
      ApproximationError(derivatives.states, D, derivatives.rows, 1, y, eq, eq.error);
    }
  }
}

// "driven:NU:PERIOD"
std::string SpecForm(const ModelFamilyDescription& family) {
  std::string form = family.name;
  for (const ParameterForm& parameter : family.parameters) form.append(1, ':').append(parameter.placeholder);
  return form;
}

}  // namespace

EquationSpec ParseEquationSpec(std::string_view text) {
  const std::vector<std::string_view> parts = SplitAtColons(text);
  const ModelFamilyDescription* family = FamilyNamed(parts.front());
  if (family == nullptr) {
    std::string forms;
    const std::vector<const ModelFamilyDescription*> all = ModelFamilies();
    for (std::size_t k = 0; k < all.size(); ++k) {
      forms += k == 0 ? "" : k + 1 == all.size() ? " or " : ", ";
      forms += SpecForm(*all[k]);
    }
    throw InvalidArgument("unknown model family \"" + std::string(parts.front()) + "\" in \"" + std::string(text) +
                          "\": use " + forms);
  }
  if (parts.size() - 1 != family->parameters.size()) {
    throw InvalidArgument("model \"" + std::string(text) + "\" is not of the form " + SpecForm(*family));
  }
  EquationSpec spec;
  spec.family = family->tag;
  for (std::size_t k = 0; k < family->parameters.size(); ++k) {
    const ParameterForm& form = family->parameters[k];
    switch (form.parameter) {
      case FamilyParameter::Order: spec.order = SpecOrder(parts[k + 1], form.label, text); break;
      case FamilyParameter::SecondOrder: spec.secondOrder = SpecOrder(parts[k + 1], form.label, text); break;
      case FamilyParameter::Period: spec.period = SpecPeriod(parts[k + 1], text); break;
    }
  }
  return spec;
}

std::string FormatEquationSpec(const EquationSpec& spec) {
  const ModelFamilyDescription& family = FamilyOf(spec.family);
  std::string text = family.name;
  for (const ParameterForm& form : family.parameters) {
    text += ':';
    switch (form.parameter) {
      case FamilyParameter::Order: text += std::to_string(spec.order); break;
      case FamilyParameter::SecondOrder: text += std::to_string(spec.secondOrder); break;
      case FamilyParameter::Period: text += ShortestText(spec.period); break;
    }
  }
  return text;
}

EquationSpec EquationSpecOf(const ModelEquation& equation) {
  const ModelFamilyDescription& family = FamilyOf(equation.family);
  EquationSpec spec;
  spec.family = equation.family;
  spec.order = equation.nu;
  spec.secondOrder = family.Has(FamilyParameter::SecondOrder) ? equation.mu : 0;
  if (family.Has(FamilyParameter::Period)) spec.period = equation.period;
  return spec;
}

int CoefficientCount(const EquationSpec& spec, int D) {
  if (D < 1 || D > kMaxModelDimension) throw InvalidArgument("the dimension must be from 1 to 9");
  return EquationShape(spec, D, 1.0).nterms;
}

namespace {

// The checks of FitModel(derivatives, ...) on `rows` rows of D components.
void CheckEquations(int D, int rows, double dt, const std::vector<EquationSpec>& equations,
                    const std::optional<SparseOptions>& sparse) {
  if (equations.size() != 1 && equations.size() != static_cast<std::size_t>(D)) {
    throw InvalidArgument("give one model for every equation or one for each of the " + std::to_string(D) +
                          " equations, not " + std::to_string(equations.size()));
  }
  for (int i = 1; i <= D; ++i) {
    const EquationSpec& spec = equations.size() == 1 ? equations.front() : equations[static_cast<std::size_t>(i - 1)];
    const int nterms = EquationShape(spec, D, dt).nterms;
    if (nterms > rows) {
      throw InvalidArgument("equation " + std::to_string(i) + " has " + std::to_string(nterms) +
                            " coefficients but only " + std::to_string(rows) +
                            " rows to fit them to: use more vectors or a lower order");
    }
  }
  if (sparse && (!(sparse->threshold >= 0.0) || !std::isfinite(sparse->threshold))) {
    throw InvalidArgument("the threshold must be a finite number >= 0");
  }
}

}  // namespace

Model ModelFromCoefficients(double dt, const std::vector<EquationSpec>& equations,
                            const std::vector<std::vector<double>>& coefficients,
                            const std::vector<std::string>& names) {
  const int D = static_cast<int>(coefficients.size());
  if (D < 1 || D > kMaxModelDimension) {
    throw InvalidArgument("give the coefficients of 1 to 9 equations, not " + std::to_string(D));
  }
  if (!(dt > 0.0) || !std::isfinite(dt)) throw InvalidArgument("the sampling interval must be positive and finite");
  if (equations.size() != 1 && equations.size() != coefficients.size()) {
    throw InvalidArgument("give one model for every equation or one for each of the " + std::to_string(D) +
                          " equations, not " + std::to_string(equations.size()));
  }
  if (!names.empty() && names.size() != coefficients.size()) {
    throw InvalidArgument("give a name for each of the " + std::to_string(D) + " variables or none, not " +
                          std::to_string(names.size()));
  }
  CheckVariableNames(names);  // they stand in the equations
  Model model;
  model.dt = dt;
  model.names = names;
  model.Resize(D);
  for (int i = 1; i <= D; ++i) {
    const EquationSpec& spec = equations.size() == 1 ? equations.front() : equations[static_cast<std::size_t>(i - 1)];
    ModelEquation eq = EquationShape(spec, D, dt);
    const std::vector<double>& coef = coefficients[static_cast<std::size_t>(i - 1)];
    if (coef.size() != static_cast<std::size_t>(eq.nterms)) {
      throw InvalidArgument("equation " + std::to_string(i) + " (" + FormatEquationSpec(spec) + ") has " +
                            std::to_string(eq.nterms) + " terms, but " + std::to_string(coef.size()) +
                            " coefficients were given");
    }
    for (double c : coef) {
      if (!std::isfinite(c)) throw InvalidArgument("equation " + std::to_string(i) + " has a coefficient that is not finite");
    }
    eq.coef = coef;
    eq.error = std::numeric_limits<double>::quiet_NaN();
    model.Equation(i) = std::move(eq);
  }
  ValidateModel(model);
  return model;
}

Model FitModel(const Derivatives& derivatives, double dt, const std::vector<EquationSpec>& equations,
               const std::optional<SparseOptions>& sparse, const CancellationToken* cancel, int threads) {
  const int D = derivatives.dimension;
  if (D < 1 || D > kMaxModelDimension) throw InvalidArgument("the dimension must be from 1 to 9");
  if (!(dt > 0.0) || !std::isfinite(dt)) throw InvalidArgument("the sampling interval must be positive and finite");
  const std::size_t cells = static_cast<std::size_t>(D) * static_cast<std::size_t>(std::max(derivatives.rows, 0));
  if (derivatives.rows < 1 || derivatives.states.size() != cells || derivatives.slopes.size() != cells) {
    throw InvalidArgument("the states and slopes must hold rows x dimension values each");
  }
  CheckEquations(D, derivatives.rows, dt, equations, sparse);
  Model model;
  model.dt = dt;
  model.Resize(D);
  for (int i = 1; i <= D; ++i) {
    const EquationSpec& spec = equations.size() == 1 ? equations.front() : equations[static_cast<std::size_t>(i - 1)];
    model.Equation(i) = EquationShape(spec, D, dt);
  }
  if (sparse) {
    api::RunNumerical([&] { FitSparse(model, derivatives, *sparse, cancel, threads); });
  } else {
    api::RunNumerical([&] {
      ModelFitter fitter(model.equations, derivatives.states, D, derivatives.rows, derivatives.slopes,
                         FitOptions{cancel, threads});
      for (int i = 1; i <= D; ++i) fitter.Fit(i);
    });
  }
  api::RequireFiniteFit(model);
  return model;
}

namespace {

// The checks of a fit to several recordings or time stamps; returns how the
// training vectors are sampled.
Sampling CheckPieces(const Series& series, const FitSettings& settings) {
  const int D = series.dimension;
  const std::size_t n = series.size();
  const long long train = settings.train ? *settings.train : static_cast<long long>(n);
  if (train < 2 || static_cast<std::size_t>(train) > n) {
    throw InvalidArgument("the training series must have from 2 to the " + std::to_string(n) +
                          " vectors of the series, not " + std::to_string(train));
  }
  if (train > INT32_MAX) throw InvalidArgument("the series has more than 2^31 - 1 vectors");
  if (settings.dt < 0.0 || !std::isfinite(settings.dt)) {
    throw InvalidArgument("the sampling interval must be positive and finite");
  }
  const Sampling sampling = SeriesSampling(series, settings.dt, static_cast<std::size_t>(train));
  if (settings.points < 2) throw InvalidArgument("the points per window must be at least 2, not " + std::to_string(settings.points));
  long long rows = 0;
  for (const SeriesPiece& piece : sampling.pieces) {
    rows += std::max<long long>(0, static_cast<long long>(piece.end - piece.begin) - settings.points + 1);
  }
  if (rows == 0) {
    throw InvalidArgument("no recording or piece between gaps has the " + std::to_string(settings.points) +
                          " vectors of a window");
  }
  for (const EquationSpec& spec : settings.equations) {
    if (FamilyOf(spec.family).Has(FamilyParameter::Period) && (sampling.pieces.size() > 1 || !sampling.uniform)) {
      throw InvalidArgument("the driven family needs one uniformly sampled recording: its phase is counted in samples");
    }
  }
  CheckEquations(D, static_cast<int>(rows), sampling.dt, settings.equations, settings.sparse);
  return sampling;
}

}  // namespace

void CheckFitSettings(const Series& series, const FitSettings& settings) {
  const int D = series.dimension;
  if (D < 1 || D > kMaxModelDimension) throw InvalidArgument("the dimension must be from 1 to 9");
  if (series.values.size() % static_cast<std::size_t>(D) != 0) {
    throw InvalidArgument("the series must hold whole vectors");
  }
  CheckVariableNames(series.names);
  if (!api::IsPlain(series)) {
    CheckPieces(series, settings);
    return;
  }
  const std::size_t n = series.size();
  const long long train = settings.train ? *settings.train : static_cast<long long>(n);
  if (train < 2 || static_cast<std::size_t>(train) > n) {
    throw InvalidArgument("the training series must have from 2 to the " + std::to_string(n) +
                          " vectors of the series, not " + std::to_string(train));
  }
  if (settings.points < 2 || settings.points > train) {
    throw InvalidArgument("the points per window must be from 2 to the " + std::to_string(train) +
                          " training vectors, not " + std::to_string(settings.points));
  }
  if (!(settings.dt > 0.0)) throw InvalidArgument("the sampling interval must be positive");
  if (train > INT32_MAX) throw InvalidArgument("the series has more than 2^31 - 1 vectors");
  if (!std::isfinite(settings.dt)) throw InvalidArgument("the sampling interval must be positive and finite");
  // The model's times (its test and simulations go on from the series' end) must stay finite.
  if (!std::isfinite(static_cast<double>(n + 1) * settings.dt)) {
    throw InvalidArgument("the sampling interval is too large: the times of the series' vectors overflow");
  }
  CheckEquations(D, static_cast<int>(train) - settings.points + 1, settings.dt, settings.equations, settings.sparse);
}

Model FitModel(const Series& series, const FitSettings& settings, Derivatives* training) {
  CheckFitSettings(series, settings);
  const int D = series.dimension;
  if (!api::IsPlain(series)) {
    // Every recording (and piece between gaps) differentiated on its own, the rows stacked.
    const Sampling sampling = CheckPieces(series, settings);
    Derivatives derivatives = api::DifferentiatePieces(series, sampling, settings.points);
    Model model =
        FitModel(derivatives, sampling.dt, settings.equations, settings.sparse, settings.cancel, settings.threads);
    model.points = settings.points;
    model.train = static_cast<int>(sampling.pieces.back().end);
    model.recordings = sampling.recordings;
    if (series.names.size() == static_cast<std::size_t>(D)) model.names = series.names;
    if (training != nullptr) *training = std::move(derivatives);
    return model;
  }
  const long long train = settings.train ? *settings.train : static_cast<long long>(series.size());
  Derivatives derivatives =
      Differentiate(std::span<const double>(series.values).first(static_cast<std::size_t>(train) * D), D,
                    settings.points, settings.dt);
  Model model =
      FitModel(derivatives, settings.dt, settings.equations, settings.sparse, settings.cancel, settings.threads);
  model.points = settings.points;
  model.train = static_cast<int>(train);
  if (series.names.size() == static_cast<std::size_t>(D)) model.names = series.names;
  if (training != nullptr) *training = std::move(derivatives);
  return model;
}

std::vector<double> ApproximationErrors(const Model& model, const Derivatives& derivatives, int firstSample) {
  const int D = model.Dimension();
  if (derivatives.dimension != D) throw InvalidArgument("the derivatives' dimension differs from the model's");
  const std::size_t rows = static_cast<std::size_t>(std::max(derivatives.rows, 0));
  if (rows < 1 || derivatives.states.size() != rows * D || derivatives.slopes.size() != rows * D) {
    throw InvalidArgument("the states and slopes must hold rows x dimension values each");
  }
  std::vector<double> errors(static_cast<std::size_t>(D));
  std::vector<double> y(rows);
  api::RunNumerical([&] {
    for (int i = 1; i <= D; ++i) {
      for (std::size_t r = 0; r < rows; ++r) y[r] = derivatives.slopes[r * D + static_cast<std::size_t>(i - 1)];
      ApproximationError(derivatives.states, D, derivatives.rows, firstSample, y, model.Equation(i),
                         errors[static_cast<std::size_t>(i - 1)]);
    }
  });
  return errors;
}

}  // namespace odefit
