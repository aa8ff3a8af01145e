#pragma once
// How sure a search's answer is: whether the winner predicts the held-out
// observations better than a model that knows no dynamics, how far each
// variable's error stays above its noise, and how often each kept term
// survives the winner's own selection on resampled series.

#include <span>
#include <string>
#include <vector>

#include "odefit/differentiation.h"
#include "odefit/intervals.h"
#include "odefit/search.h"
#include "search/winner_fit.h"

namespace odefit::search {

// Normalised squared prediction errors on the held-out part (as ranked):
// the whole model's and per variable.
struct PredictionCheck {
  double score = 0.0;    // the winner's, on the held-out part it never saw
  double floor = 0.0;    // what the observation noise explains
  double trivial = 0.0;  // the better of: holding the start state, predicting the training mean
  std::vector<double> variableScore;  // the model fitted on the whole series
  std::vector<double> variableFloor;
  std::vector<double> variableTrivial;
  std::size_t vectors = 0;  // in the series
};

// `series` is laid out with its held-out part last (api::HeldOutLast);
// `model` is the winner fitted on the whole series and `offset` the sample of
// its first derivative row.
PredictionCheck CheckPredictions(const Series& series, const SearchSettings& settings, const SearchPlan& plan,
                                 const SearchCandidate& best, const Model& model, int offset);

// A winner whose held-out error is not clearly below a trivial model's
// (above the noise) predicts nothing: its explainable error must shrink by at
// least this share.
inline constexpr double kTrivialGain = 0.5;
// A variable whose held-out error exceeds kNoiseMargin times its noise
// floor by more than kUnexplainedError (about a 1 % root mean square
// error, relative to the variable's spread) is not explained by the
// families tried: its noise, amplified by the dynamics from the noisy start
// states, stays within the margin (measured: at most about the floor at 1 %
// and 5 % noise on Lorenz, Van der Pol and Rossler).
inline constexpr double kNoiseMargin = 3.0;
inline constexpr double kUnexplainedError = 1e-4;
// A variable whose noise exceeds this share of its spread (standard
// deviations), or kNoisePerVector times the root of the number of vectors
// (a coefficient's standard error grows as noise / sqrt(vectors)), hides weak
// terms. Measured on Lorenz: the search keeps all seven terms, each within
// 5 %, with 1e5 vectors up to 10 % noise (3.2e-4 per root vector) and with
// 10 000 vectors at 5 % (5e-4); it loses -x2 of dx2/dt in some draws at 20 %
// with 1e5 vectors (6.3e-4) and in most at 5 % with 4000 (7.9e-4), where the
// coefficients also stay biased toward zero beyond their intervals.
inline constexpr double kHeavyNoise = 0.15;
inline constexpr double kNoisePerVector = 6e-4;

// Whether the winner's held-out error is not clearly below the trivial
// model's: its error above the noise must shrink by kTrivialGain of what the
// trivial model leaves above the noise (at least 5 % of the trivial error).
bool PredictsNothing(const PredictionCheck& check);

// One sentence per doubt (no "warning:" prefix): the winner predicts no
// better than a trivial model (PredictsNothing); else the variables whose
// error stays well above their noise, and those whose noise is heavy
// (kHeavyNoise). `model` names the variables.
std::vector<std::string> PredictionDoubts(const PredictionCheck& check, const Model& model);

// The winner's terms over series resampled in blocks of derivative rows.
struct TermEnsemble {
  // Per equation and coefficient: the share of the resampled fits that keep
  // the term; NaN for a term the winner dropped or an equation with a
  // driving (whose phase a block moved in time would change).
  std::vector<std::vector<double>> inclusion;
  CoefficientIntervals intervals;  // as FitIntervals gives them, NaN where inclusion is
  int replicates = 0;              // 0: too few rows for two blocks, nothing was resampled
};

// Resamples the rows of winner.rows (the winner's derivative rows on the
// whole series) in blocks of about rows / 15, `replicates` times with a fixed seed,
// and repeats the winner's thresholded fit of every equation of its shape on
// each (the inclusion), and the fit of the winner's own terms (the spread);
// the intervals have the half-width 1.96 sd + 3 |b|, sd the coefficient's
// spread over the refits of the winner's terms (intervals given the
// structure; the inclusion says how sure the structure is), b the bias
// extrapolated from FitWinner on every other vector of `series` (the whole
// series in its given order; one recording without time stamps, else no bias
// is added). Where the winner's coefficients came from the integral form,
// each refit takes them from it too, over the spans that start in its blocks.
// The standard error is left out (see the code). `noise` (the series' noise
// variances, or empty) lets the bias refit choose slopes or the integral form
// as the winner's fit did.
TermEnsemble ResampleWinner(const Series& series, const SearchSettings& settings, const SearchCandidate& best,
                            const Model& model, const WinnerFit& winner, std::span<const double> noise = {},
                            int replicates = 30);

}  // namespace odefit::search
