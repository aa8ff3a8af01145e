#pragma once
// Models as text for people: the fitted equations with their coefficients,
// standard errors, errors of approximation and conditions. The term names
// and the one-line formula of an equation are in odefit/model.h.

#include <string>
#include <vector>

#include "odefit/model.h"

namespace odefit {

// Condition number above which an equation's coefficients are poorly
// determined by its data (about half of the digits of a double are lost).
inline constexpr double kIllConditioned = 1e8;

// Whether the equation's design was so ill-conditioned that its
// coefficients mean little (condition above kIllConditioned or infinite).
bool IsIllConditioned(const ModelEquation& equation);

// Returns the listing of a whole model: its settings, the variables' names
// when the series named them, and for every equation its spec, its error of
// approximation and condition, the formula (EquationText with 6 significant
// digits, wrapped before 100 columns), and a table of the terms (TermNames,
// a rational equation's denominator terms marked "(denominator)") with their
// coefficients (10 significant digits) and standard errors (3), then, when
// `inclusion` has one share per coefficient of every equation (a search's
// SearchResult::inclusion), a "kept" column (2 decimals, blank for NaN, "?"
// below kDoubtfulInclusion), then the intervals when the model has them.
// Throws InvalidArgument when ValidateModel does.
std::string FormatModel(const Model& model, const std::vector<std::vector<double>>& inclusion = {});

}  // namespace odefit
