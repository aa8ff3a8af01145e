#pragma once
// Pictures of a fit and of a test: 800 x 600 pixel PNG images in 16 colours,
// returned as the bytes of a .png file for the caller to store or show.

#include <cstdint>
#include <vector>

#include "odefit/differentiation.h"
#include "odefit/efficiency.h"
#include "odefit/model.h"
#include "odefit/search.h"
#include "odefit/series.h"

namespace odefit {

using PngImage = std::vector<std::uint8_t>;

// The differentiation window of a fit: for the first four variables the
// smoothed values and the derivative estimates of the model's training
// series (the first model.train vectors of `series`, differentiated with
// model.points points) against time, over the first 600 rows. Throws
// InvalidArgument when the model does not say its points and train or the
// series is shorter or of another dimension, NumericalError.
PngImage DifferentiationPlot(const Series& series, const Model& model);
// The same from the derivatives the model was fitted to (FitModel's
// `training`), without differentiating again.
PngImage DifferentiationPlot(const Derivatives& training, const Model& model);

// How well the right-hand sides fit: one panel per equation (up to 9) with
// the derivative estimates of the training series in black and the model's
// right-hand side at the smoothed states in red, against time, over the
// first 600 rows. Throws as DifferentiationPlot.
PngImage FitPlot(const Series& series, const Model& model);
PngImage FitPlot(const Derivatives& training, const Model& model);

// The efficiency window of a test made by TestModel with the same model,
// test series and settings: the observed and the model's phase orbit, the
// observed and the predicted course of the first three variables over the
// first piece, and the prediction errors of `result`. Throws as TestModel.
PngImage EfficiencyPlot(const Model& model, const Series& test, const EfficiencySettings& settings,
                        const EfficiencyResult& result);

// A search's candidates: their score (log scale) against their number of
// terms, the chosen one in red. Throws InvalidArgument when there is none.
PngImage SearchPlot(const SearchResult& result);

}  // namespace odefit
