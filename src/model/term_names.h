#pragma once
// Names of the terms of an equation, in the order of its coefficients
// (odefit/model.h), for messages and listings: "1" for the constant; a
// monomial as its variables in increasing index joined by "*", each with its
// exponent when above 1 ("x2", "x1*x2", "x1^2*x3"); "cos" and "sin" for the
// driving terms; the rational family's denominator terms with
// " (denominator)" after the monomial.

#include <string>
#include <vector>

#include "odefit/model.h"

namespace odefit {

// Returns the names of the MonomialCount(nu, D) monomials of degree 0..nu in
// D variables, in term order (monomials.h). 0 <= nu <= 34.
std::vector<std::string> MonomialNames(int D, int nu);

// Returns the name of every coefficient's term of an equation of `family`
// with orders nu and mu in D variables (the reduced family: D = 2).
std::vector<std::string> TermNames(ModelFamily family, int D, int nu, int mu);

}  // namespace odefit
