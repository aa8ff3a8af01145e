#pragma once
// One equation's candidates within a task, and which of them a whole model takes.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "odefit/fit.h"
#include "odefit/model.h"
#include "search/search_common.h"

namespace odefit::search {

struct EquationCandidate {
  EquationSpec spec;
  ModelEquation equation;  // coefficients fitted on the training rows (0 for dropped terms)
  std::vector<int> support;
  double error = kInfinity;  // on the held-out slopes
};

// Gives a sparse equation the shape it really has: a driven polynomial that
// kept neither driving term is a standard polynomial, a rational function
// that kept no denominator term a polynomial of its numerator's order.
// (The family says which: ModelFamilyDescription::SimplerShape.) D is the
// candidate's dimension.
void Simplify(EquationCandidate& c, int D);

// Whether a rational candidate's numerator is (to a relative 1e-2, with
// each monomial weighed by its size on the data, `scale` being each
// variable's root mean square) its denominator times a polynomial: then it is
// that polynomial, P (1 + d.x) / (1 + d.x), whose extra terms fit nothing but
// the derivative estimates' own bias, and the polynomial shapes stand for it.
bool HasCommonFactor(const EquationCandidate& c, int D, std::span<const double> scale);

// Picks an equation's candidate: the smallest held-out error, unless a
// candidate with fewer terms (or as many, of a simpler shape) comes close to it.
// With `family`, only candidates of that family are considered.
// The pick is one of the pointers.
const EquationCandidate* PickEquation(const std::vector<const EquationCandidate*>& options,
                                      std::optional<ModelFamily> family = std::nullopt);

// A text naming the shapes and supports of `picks`, equal for equal models.
std::string CandidateKey(const std::vector<const EquationCandidate*>& picks);

}  // namespace odefit::search
