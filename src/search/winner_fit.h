#pragma once
// The winner's window, shapes and terms, fitted again on the whole series.

#include <span>
#include <vector>

#include "odefit/differentiation.h"
#include "odefit/search.h"

namespace odefit::search {

struct WinnerFit {
  Model model;
  // The driving period of its driven equations, refined by least squares on
  // the whole series; 0 when it has none.
  double period = 0.0;
  // The derivative rows it was fitted to (row 0 at sample index 1).
  Derivatives rows;
  // Whether some equation's coefficients come from the integral form, which
  // ones, and the smoothed states, span and smoothing weights it used.
  bool integral = false;
  std::vector<bool> integralEquations;
  Derivatives smooth;
  int span = 0;
  std::vector<double> smoothing;
  // Per equation fitted in the integral form: the columns and its rows
  // (IntegralRows), for refits on resampled spans; else empty.
  std::vector<std::vector<int>> integralColumns;
  std::vector<std::vector<double>> integralRows;
};

// With driven equations, the period is refined first: the sum of their
// squared residuals is minimised over the period (golden section within a
// spectral bin of the plan's period), since the spectrum places a line only
// to a fraction of a bin and a period off by 1e-4 costs a prediction over
// many periods most of its accuracy.
// Moves to the front of `ranked` (ranked, best first; `starts` and `horizon`
// those of its scores) a candidate that the prediction criterion cannot tell
// from the best (it predicts no worse, within the ranking's resolution, but
// not by the price of its terms) and that keeps the best's terms and more,
// when every added term is linear in the state and clearly significant in
// the integral form over the whole series (standard errors from
// block-resampled stretches). Over a horizon of the series' correlation time
// a weak true term (a damping of 0.1 beside a rotation of 2) changes the
// score by less than the price of a term, while the whole series' integral
// form sees it at 20 standard errors and a term that only fits noise at one
// or two. Nonlinear terms are left to the criterion: the mean of a product of
// noisy states is not the product of their means, so the noise biases their
// integrals and a term absorbing that bias is significant too. Only on noisy
// plain series: on clean ones the slopes' own bias would be significant.
// `noise`: the series' noise variances when worked out already (the plan's;
// D of them), else empty. Without `errors` the equations' approximation
// errors are left 0 (refits that want only the coefficients).
void PreferSignificantTerms(const Series& series, const SearchSettings& settings,
                            std::vector<SearchCandidate>& ranked, int starts, int horizon,
                            std::span<const double> noise = {});

WinnerFit FitWinner(const Series& series, const SearchSettings& settings, const SearchCandidate& best,
                    std::span<const double> noise = {}, bool errors = true);

}  // namespace odefit::search
