#pragma once
// Intervals for a fitted model's coefficients that include what the
// derivative estimates contribute, unlike the standard errors of
// model.h, which are conditional on the estimates.

#include <cstdint>
#include <vector>

#include "odefit/fit.h"
#include "odefit/model.h"
#include "odefit/series.h"

namespace odefit {

// The level of the intervals CoefficientIntervals gives.
inline constexpr double kIntervalLevel = 0.95;

struct IntervalSettings {
  int replicates = 30;     // refits over the series resampled by blocks, >= 2
  std::uint64_t seed = 1;  // the same seed gives the same intervals
};

// Lower and upper ends per equation, aligned with model.Equation(i).coef;
// NaN for a term the fit dropped.
struct CoefficientIntervals {
  double level = kIntervalLevel;
  std::vector<std::vector<double>> lower;
  std::vector<std::vector<double>> upper;
};

// Returns intervals for the coefficients of `model`, fitted by FitModel to
// `series` with `settings`: half-width 1.96 sqrt(se^2 + sd^2) + 3 |b| with se
// the standard error, sd the spread of the coefficient over refits on the
// training vectors resampled in blocks of about train / 15 vectors (each block
// differentiated on its own), and b the bias the line fits give every
// coefficient, extrapolated over the sampling interval: a third of the change
// when the same fit is made on every other training vector (at 2 dt every
// error of a window of fixed points is 4 times as large). Measured on
// generated Lorenz, Van der Pol and Rossler series (README: How sure is the
// answer). Throws InvalidArgument for a series with time stamps or
// recordings, for too few training vectors for the blocks, and what FitModel
// throws (also for the fit on every other vector).
CoefficientIntervals FitIntervals(const Series& series, const FitSettings& settings, const Model& model,
                                  const IntervalSettings& intervals = {});

// Stores `intervals` in `model` (intervalLevel and every equation's ends).
// Throws InvalidArgument when their counts are not the model's.
void SetIntervals(Model& model, const CoefficientIntervals& intervals);

}  // namespace odefit
