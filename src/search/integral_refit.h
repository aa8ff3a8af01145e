#pragma once
// The winner's coefficients from the integral form of its equations.
//
// A slope estimated from noisy samples is noisy, and a narrow window that
// keeps its bias small makes it noisier; on noisy series the least squares on
// slopes then misplace the small coefficients that are nearly collinear with
// large ones (Lorenz's -x2 beside 28 x1: 8 % off at 5 % noise). Integrated over
// a span of `span` samples, the equation reads
//   x_i(t + span) - x_i(t) = sum_j c_j * integral_t^{t+span} term_j(x(s)) ds,
// which needs no slope: the left side is a difference of smoothed states, whose
// noise does not grow as the window narrows, and the integrals average the
// states' remaining noise over the span, so the design carries little of it
// (the errors-in-variables bias that pulls coefficients toward zero). The
// integrals use a fourth-order rule on the smoothed states, so coarse clean
// sampling keeps its accuracy.
//
// Only for equations linear in their coefficients over functions of the state
// and the time (standard, driven and reduced polynomials); a rational's
// linearised design holds the slope itself.

#include <complex>
#include <span>
#include <vector>

#include "model/sparse_regression.h"
#include "odefit/differentiation.h"
#include "odefit/model.h"

namespace odefit::search {

// Whether IntegralFit applies to equations of `family`.
bool HasIntegralForm(ModelFamily family);

// Fits component `target` on the columns `columns` (increasing) of `eq`'s
// design from `smooth`'s states (its rows a plain series' consecutive
// samples dt apart; row 0 at the design's sample index 1, as the slope fits
// lay them out), over every span of `span` rows (1 <= span < smooth.rows - 3).
// `smoothing` holds the weights that smoothed the states (one per window
// sample, the window centred on its row; empty: none): a driving enters the
// smoothed states through the same filter, which scales its cosine and sine
// by the filter's gain at its frequency, so their columns are scaled alike.
// The result's standard errors are those of overlapping spans and understate
// the spread; callers take them from the slope fit.
SubsetFit IntegralFit(const Derivatives& smooth, const ModelEquation& eq, int target, std::span<const int> columns,
                      int span, double dt, std::span<const double> smoothing = {});

// IntegralFit with standard errors that hold for the overlapping spans: their
// residuals are correlated over a span, so the least squares' own errors
// understate the spread. The span starts are cut into `blocks` (>= 2)
// contiguous stretches, each much longer than a span and so nearly
// independent of the others; each coefficient's standard error is the spread
// of the stretches' own fits over the square root of their number (batch
// means). The coefficients are those of all stretches together.
SubsetFit BlockedIntegralFit(const Derivatives& smooth, const ModelEquation& eq, int target,
                             std::span<const int> columns, int span, double dt, std::span<const double> smoothing,
                             int blocks);

// The integral form's rows of a driving pair at wdt radians per sample, on
// `rows` smoothed rows (row r at sample index 1 + r) with spans of `span`
// rows: the span integrals of the smoothed e^{i wdt n} are e^{i wdt n_s}
// times `inner` for every span start s but the first and the last, whose
// spans hold the rule's trapezoid ends (their own factors). With IntegralRows
// of the other columns they give the driving pair's residual at any period
// without forming its rows (model/driving_scan.h). 1 <= span < rows - 3.
struct DrivingSpanScales {
  std::complex<double> inner, first, last;
};
DrivingSpanScales DrivingSpanIntegrals(double wdt, int rows, int span, double dt, std::span<const double> smoothing);

// The integral form in two steps, for fits on resampled rows: the regression
// rows, one per span start s (row s of smooth), each the integrals of the
// columns over the span and the change of the target (columns.size() + 1
// values, row after row); then the fit of any set of them.
std::vector<double> IntegralRows(const Derivatives& smooth, const ModelEquation& eq, int target,
                                 std::span<const int> columns, int span, double dt,
                                 std::span<const double> smoothing = {});
SubsetFit FitIntegralRows(std::span<const double> rows, std::span<const int> columns);
// The summary (q design columns, one target) of IntegralRows' rows from
// `from` to `to` - 1 (0 <= from <= to <= the number of rows; none: empty),
// of q columns each; summaries of disjoint stretches merge into the fit of
// their union.
TriangularSummary SummariseIntegralRows(std::span<const double> rows, int q, int from, int to);

}  // namespace odefit::search
