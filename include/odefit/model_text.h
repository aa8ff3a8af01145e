#pragma once
// Models as text for people: the names of the terms and the fitted
// equations with their coefficients, standard errors and errors of
// approximation.

#include <string>
#include <vector>

#include "odefit/model.h"

namespace odefit {

// Condition number above which an equation's coefficients are poorly
// determined by its data (about half of the digits of a double are lost).
inline constexpr double kIllConditioned = 1e8;

// Returns the name of every coefficient's term of `equation` in a model of
// D variables, in coefficient order: "1" for the constant; a monomial as its
// variables in increasing index joined by "*", each with its exponent when
// above 1 ("x2", "x1*x3", "x1^2*x2"); "cos" and "sin" for the driving terms;
// a rational equation's denominator terms as the monomial followed by
// " (denominator)". Variables are x1..xD whatever the series called them.
// Throws InvalidArgument when the family and orders give no equation of at
// most kMaxCoefficients terms in D variables.
std::vector<std::string> TermNames(const ModelEquation& equation, int D);

// Whether the equation's design was so ill-conditioned that its
// coefficients mean little (condition above kIllConditioned or infinite).
bool IsIllConditioned(const ModelEquation& equation);

// Returns equation i (1-based) of `model` as one formula,
// "dx1/dt = -0.0714521 - 9.88249 x1 + 9.92197 x2 + ...", coefficients with 6
// significant digits, wrapped before `width` columns with continuation lines
// aligned after the "=". A rational equation reads "(numerator) / (1 +
// denominator)"; the driving terms "cos(2 pi t/PERIOD)" and "sin(...)".
// Throws InvalidArgument when ValidateModel does.
std::string FormatEquation(const Model& model, int i, int width = 100);

// Returns the listing of a whole model: its settings, the variables' names
// when the series named them, and for every equation its spec, its error of
// approximation and condition, the formula, and a table of the terms with
// their coefficients (10 significant digits) and standard errors (3).
// Throws InvalidArgument when ValidateModel does.
std::string FormatModel(const Model& model);

}  // namespace odefit
