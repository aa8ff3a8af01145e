#pragma once
// Pictures of a fit, a test and a search for reports: panels with ticks at
// 1-2-5 steps (decades on logarithmic axes), axis titles with the
// variables' names (the series' header names carried by the model, x1..xD
// otherwise), legends, every variable. Each is returned as the bytes of a
// PNG file (16 colours) or of an SVG document, for the caller to store or
// show; both formats come from one drawing.

#include <cstdint>
#include <string_view>
#include <vector>

#include "odefit/differentiation.h"
#include "odefit/efficiency.h"
#include "odefit/model.h"
#include "odefit/search.h"
#include "odefit/series.h"

namespace odefit {

enum class PictureFormat { Png, Svg };

// The bytes of a picture file in the format asked for.
using Picture = std::vector<std::uint8_t>;
using PngImage = Picture;

// The file name extension of `format`, "png" or "svg".
std::string_view PictureExtension(PictureFormat format);

// How a fit's training series was differentiated: for every variable the
// observed values and the smoothed ones, and under them the derivative
// estimates, against time, over the first 1000 rows of the training series
// (the first model.train vectors of `series`, differentiated with
// model.points points); the subtitle states the span drawn. Throws
// InvalidArgument when the model does not say its points and train or the
// series is shorter or of another dimension, NumericalError.
Picture DifferentiationPlot(const Series& series, const Model& model, PictureFormat format = PictureFormat::Png);
// The same with the derivatives the model was fitted to (FitModel's
// `training`), so the series is not differentiated again; InvalidArgument
// when they cannot be those of the model's training series.
Picture DifferentiationPlot(const Series& series, const Model& model, const Derivatives& training,
                            PictureFormat format = PictureFormat::Png);

// How well the right-hand sides fit: for every equation the derivative
// estimates (black points) and the model's right-hand side at the smoothed
// states (red line) against time, and under them the residuals, over the
// same rows as DifferentiationPlot. Throws as DifferentiationPlot.
Picture FitPlot(const Series& series, const Model& model, PictureFormat format = PictureFormat::Png);
Picture FitPlot(const Series& series, const Model& model, const Derivatives& training,
                PictureFormat format = PictureFormat::Png);

// A test made by TestModel with the same model, test series and settings:
// the observed and the model's phase orbit (x2 against x1; dx1/dt against
// x1 for one variable), the prediction errors of every variable together,
// and per variable the observed and predicted course over the first piece
// beside its prediction error with the 0.05 criterion and the prediction
// time marked. Throws as TestModel, and InvalidArgument when `result` does
// not belong to these settings.
Picture EfficiencyPlot(const Model& model, const Series& test, const EfficiencySettings& settings,
                       const EfficiencyResult& result, PictureFormat format = PictureFormat::Png);

// A search's candidates: their score (log scale) and their criterion
// against their number of terms, coloured by differentiation window, the
// chosen one (the first) ringed and labelled. Throws InvalidArgument when
// there is none.
Picture SearchPlot(const SearchResult& result, PictureFormat format = PictureFormat::Png);

}  // namespace odefit
