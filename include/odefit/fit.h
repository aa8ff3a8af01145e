#pragma once
// Fitting a model: the right-hand side of every equation by linear least
// squares on the derivative estimates.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "odefit/cancellation.h"
#include "odefit/differentiation.h"
#include "odefit/model.h"
#include "odefit/series.h"

namespace odefit {

// The family and orders of one equation.
struct EquationSpec {
  ModelFamily family = ModelFamily::StandardPolynomial;
  int order = 2;        // polynomial order (numerator; x1-polynomial of the reduced family)
  int secondOrder = 0;  // rational: denominator order; reduced: order of the free x2-polynomial
  double period = 0.0;  // driven: driving period in time units (> 0)
};

// A sparse fit: sequentially thresholded least squares per equation.
struct SparseOptions {
  double threshold = 0.0;  // >= 0
  // Compare |c_j| * ||column j|| / ||slopes|| (the share of the slopes one
  // term carries) with the threshold instead of |c_j|.
  bool scaled = false;
};

// Reads an equation spec written as "poly:NU", "driven:NU:PERIOD" (the period
// in time units), "rational:NU:MU" (MU the denominator's order) or
// "reduced:NU:MU" (MU the order of the free x2-polynomial). Orders are
// integers from 0 to 1000; whether a dimension allows them is checked by the
// fit. Throws InvalidArgument saying what is wrong.
EquationSpec ParseEquationSpec(std::string_view text);

// Returns the text ParseEquationSpec reads back as `spec`; the period is
// written in the fewest digits that read back as the same double.
std::string FormatEquationSpec(const EquationSpec& spec);

// Returns the family and orders of a model's equation.
EquationSpec EquationSpecOf(const ModelEquation& equation);

struct FitSettings {
  double dt = 0.0;  // sampling interval, > 0
  int points = 3;   // points per differentiation window, 2 <= points <= train
  std::optional<int> train;  // vectors fitted (from the first); all when empty
  // One spec for every equation, or one per equation in order.
  std::vector<EquationSpec> equations{EquationSpec{}};
  std::optional<SparseOptions> sparse;  // the full least-squares fit when empty
  const CancellationToken* cancel = nullptr;
  // Threads of a large fit (0: one per hardware thread); any count gives the same result.
  int threads = 1;
};

// Returns the number of coefficients of an equation of `spec` in D variables.
// Throws InvalidArgument for orders no model may have (negative, or more than
// kMaxCoefficients terms, or the reduced family with D != 2).
int CoefficientCount(const EquationSpec& spec, int D);

// Checks `settings` against `series` as FitModel does before it computes
// anything, with the same messages, so that a caller can refuse impossible
// settings before long work. Throws InvalidArgument.
void CheckFitSettings(const Series& series, const FitSettings& settings);

// Differentiates the first `train` vectors of `series` and fits every
// equation. The model's names are the series'. Throws InvalidArgument for
// impossible settings (too few vectors for the points or the terms, a
// negative threshold), NumericalError when a design matrix is singular,
// Cancelled. `training`, when given, receives the derivatives the model was
// fitted to (the pictures of plots.h take them, so a fit differentiates once).
Model FitModel(const Series& series, const FitSettings& settings, Derivatives* training = nullptr);

// Fits every equation to given states and slopes (rows x D, row after row).
// The model's dt is `dt`; its points and train are left 0.
// With `sparse`, dropped terms get coefficient 0; kept ones their standard
// errors; a term whose column depends on others is dropped.
Model FitModel(const Derivatives& derivatives, double dt, const std::vector<EquationSpec>& equations,
               const std::optional<SparseOptions>& sparse = {}, const CancellationToken* cancel = nullptr,
               int threads = 1);

// A model made from coefficients the caller gives (from a paper, another
// fit, a hand-made test): equation i has the shape of equations[i - 1] (or of
// the one spec given for all) and the coefficients coefficients[i - 1], in the
// order of TermNames; names label the variables (none or one each). Its
// points and train are 0, its errors, standard errors and condition undefined
// (NaN, none, 0). Throws InvalidArgument when a count or a value does not fit
// (naming the equation), when dt is not positive and finite or a coefficient
// not finite.
Model ModelFromCoefficients(double dt, const std::vector<EquationSpec>& equations,
                            const std::vector<std::vector<double>>& coefficients,
                            const std::vector<std::string>& names = {});

// Returns the error of approximation of every equation of `model` on the
// given states and slopes: sqrt(sum of squared residuals / sum of squared
// deviations of the slopes from their mean), NaN when all slopes are equal.
// firstSample is the sample index (1-based, counted from the model's first
// training vector) of row 0, which the driven family's phase depends on.
// The rows are spread over `threads` (0: one per hardware thread); the
// result does not depend on them.
std::vector<double> ApproximationErrors(const Model& model, const Derivatives& derivatives, int firstSample,
                                        int threads = 1);

}  // namespace odefit
