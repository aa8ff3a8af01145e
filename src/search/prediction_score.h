#pragma once
// Scoring a whole model by how well it predicts the held-out observations.

#include <optional>
#include <vector>

#include "odefit/differentiation.h"
#include "odefit/model.h"
#include "odefit/search.h"

namespace odefit::search {

// The state a prediction starts from: a local polynomial (degree up to 3)
// over the samples ending at the start, at its last sample. It sees no sample
// after the start, so no prediction is helped by its own targets.
struct StartEstimate {
  std::vector<double> weights;  // on samples start - size + 1 .. start
  double noiseGain = 1.0;       // the estimate's noise variance over the samples'
};
// The weights of such a fit over `points` samples (1: the observation itself).
StartEstimate MakeStartEstimate(int points);
// The numbers of samples a start estimate may have, fewest first.
inline constexpr int kStartPoints[] = {1, 5, 7, 9, 13, 17, 25, 33, 49, 65};

struct Scoring {
  int D = 0;
  int horizon = 0;
  std::vector<int> starts;     // samples at which a prediction starts
  std::vector<double> scale;   // 1 / variance of each component over the held-out part
  std::vector<double> noise;   // each component's observation-noise variance times its scale
  StartEstimate start;         // one for every candidate, so scores compare models alone
};

// The prediction starts, scales, noise levels and start estimate of a plan
// on the held-out part of `series`: every start has a whole window of
// held-out samples at or before it (the widest of the plan's windows and the
// start estimate's), and its horizon after it. The start estimate's window
// is the one of least mean squared error on the training part: against the
// observation at its end, a fit's squared difference is its bias squared
// plus a known multiple of the noise variance, so the bias can be taken out
// and weighed against the noise the window removes.
// The plan's noise and startPoints, when they are set, take the place of the
// noise spectra and the start estimate's choice, the costly parts.
Scoring MakeScoring(const Series& series, const SearchPlan& plan, double fraction);
// Sets the plan's noise and startPoints as MakeScoring would work them out,
// so that the tasks, wherever they run, share them.
void ShareScoring(const Series& series, double fraction, SearchPlan& plan);

// The mean capped squared normalised error of the model's predictions from
// every start over the horizon against the raw observations. The model's
// time (its driving's phase) counts 1 at sample `offset` of the series, as in
// the fits on derivative rows whose first belongs to that sample.
double PredictionScore(const Model& model, const Series& series, const Scoring& scoring, int offset);
// The score of a (driven) polynomial model on a series without time stamps,
// several starts integrated together with each one's operations unchanged,
// so the same bits as one start at a time; nothing for other models and series.
std::optional<double> LanewisePredictionScore(const Model& model, const Series& series, const Scoring& scoring,
                                              int offset);
// The score one start at a time, for every model and series.
double OneStartAtATimePredictionScore(const Model& model, const Series& series, const Scoring& scoring, int offset);

// The share of the score the observation noise of the targets explains.
double NoiseFloor(const Scoring& scoring);


}  // namespace odefit::search
