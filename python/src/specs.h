#pragma once
// Equation specs as text: "poly:NU", "driven:NU:PERIOD", "rational:NU:MU",
// "reduced:NU:MU".

#include <string>
#include <string_view>

#include "odefit/fit.h"
#include "odefit/model.h"

namespace odefit::python {

// Reads a spec; throws odefit::InvalidArgument saying what is wrong.
EquationSpec ParseSpec(std::string_view text);

// The binding's own reader, used while the library has no ParseEquationSpec.
EquationSpec ParseSpecHere(std::string_view text);

// The text ParseSpec reads back as `spec` (the period in the fewest digits
// that read back as the same double).
std::string FormatSpec(const EquationSpec& spec);

// The spec of a fitted equation.
EquationSpec SpecOf(const ModelEquation& equation);

}  // namespace odefit::python
