#pragma once
// Reasons to doubt a fitted model's answer, decided once for every front end
// (the command line prints each as a warning, Python raises it as one).

#include <string>
#include <vector>

#include "odefit/differentiation.h"
#include "odefit/model.h"

namespace odefit {

// Smallest |1 + denominator| on the training states, relative to its median
// there, below which a rational equation's pole is taken to be on or near
// the data (its values there are then huge and meaningless).
inline constexpr double kNearPole = 0.1;

// Returns one sentence per doubt about `model` as fitted, in this order:
// windows of an even number of points (model.points even: the slopes belong
// half a sample after their states, which biases every coefficient); then
// per equation: ill-conditioned (IsIllConditioned of model_text.h); no term
// kept (every coefficient, or a rational's every numerator coefficient, is
// 0: the equation says dx_i/dt = 0) where the derivative estimates are not
// all 0 (a training slope of x_i not 0; without `training`, a defined error
// of approximation); a rational whose 1 + denominator,
// evaluated at the states of `training`, changes sign or comes below
// kNearPole times its median magnitude. Without `training` the last check
// is skipped. The sentences name the equation by its variable and carry no
// "warning:" prefix. Throws InvalidArgument when ValidateModel does or when
// training's dimension or storage disagrees with the model.
std::vector<std::string> FitDoubts(const Model& model, const Derivatives* training = nullptr);

}  // namespace odefit
