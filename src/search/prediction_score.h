#pragma once
// Scoring a whole model by how well it predicts the held-out observations.

#include <vector>

#include "odefit/differentiation.h"
#include "odefit/model.h"
#include "odefit/search.h"

namespace odefit::search {

struct Scoring {
  int D = 0;
  int horizon = 0;
  std::vector<int> starts;     // samples whose smoothed state starts a prediction
  std::vector<double> scale;   // 1 / variance of each component over the held-out part
};

// The prediction starts and scales of a plan on the held-out part of `series`.
Scoring MakeScoring(const Series& series, const SearchPlan& plan, double fraction);

// The mean capped squared normalised error of the model's predictions from
// every start over the horizon against the raw observations.
double PredictionScore(const Model& model, const Series& series, const Derivatives& derivatives, int points,
                       const Scoring& scoring);

}  // namespace odefit::search
