#pragma once
// The one rule that makes an equation of a family in D variables sampled at
// dt: its term counts (nterms, and nnum and nden where the family has two
// parts) and the driven family's frequency and angle per sampling interval.
// Everything that makes an equation (the fits, the dialogue's model
// selection, the model file's reader, the search) takes the counts from
// here; nobody else assigns them.

#include "odefit/fit.h"
#include "odefit/model.h"

namespace odefit {

// Returns the coefficient-less equation of `spec` in D variables sampled at
// dt. Throws InvalidArgument for orders no model may have (negative, more
// than kMaxCoefficients terms, the reduced family with D != 2) and for a
// driving period that is not positive and finite.
ModelEquation EquationShape(const EquationSpec& spec, int D, double dt);

}  // namespace odefit
