#pragma once
// The equation entry (family, orders, term counts, driving angle) that a
// spec describes, shared by the fits and the search.

#include "odefit/fit.h"
#include "odefit/model.h"

namespace odefit {

// Returns the coefficient-less equation of `spec` in D variables sampled at
// dt. Throws InvalidArgument for orders no model may have.
ModelEquation EquationShape(const EquationSpec& spec, int D, double dt);

}  // namespace odefit
