#pragma once
// The winner's window, shapes and terms, fitted again on the whole series.

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
};

// With driven equations, the period is refined first: the sum of their
// squared residuals is minimised over the period (golden section within a
// spectral bin of the plan's period), since the spectrum places a line only
// to a fraction of a bin and a period off by 1e-4 costs a prediction over
// many periods most of its accuracy.
WinnerFit FitWinner(const Series& series, const SearchSettings& settings, const SearchCandidate& best);

}  // namespace odefit::search
