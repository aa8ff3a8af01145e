#pragma once
// Smoothed states and slopes of every component by local polynomial fits of
// degree 1 to 4, as the search uses them.
//
// A least-squares polynomial over a fixed window is a linear filter: its value
// and slope at a reference sample are fixed weighted sums of the window's
// samples. The weights are computed once per window and degree, and every
// window of the series is one weighted sum in a fixed order, so the result
// has the same bits on every machine. On smooth data the error of the slope
// falls from O(h^2) (degree 1 or 2) to O(h^4) (degree 3 or 4), which coarse
// sampling needs; the price is more noise for the same window, which is why
// the search tries degree and window together. The classic dialogue keeps
// its own line fits (src/derivatives).

#include <span>
#include <utility>
#include <vector>

#include "odefit/differentiation.h"
#include "odefit/series.h"

namespace odefit::search {

// The weights of a degree-`degree` least-squares polynomial over `points`
// samples at abscissae 0..points-1, for its value and its slope (per sample)
// at abscissa `at`. Requires 1 <= degree < points.
struct LocalFitWeights {
  std::vector<double> value;
  std::vector<double> slope;
};
LocalFitWeights FitWeights(int points, int degree, int at);

// The fits of `degree` over every window of `points` samples (odd), with the
// state and slope at the window's centre, as Differentiate arranges them.
Derivatives LocalFits(std::span<const double> values, int D, int points, int degree, double dt);

// LocalFits of a whole series laid out as for one recording (row r belongs to
// vector r + (points - 1) / 2); with several recordings or gaps, a row whose
// window spans two pieces is a copy of the nearest row whose window lies
// within one, as the fits of several recordings lay them out.
Derivatives SeriesFits(const Series& series, int points, int degree, double dt);
// The same into `into`, whose vectors are reused (no allocation once they have held as many rows).
void SeriesFits(const Series& series, int points, int degree, double dt, Derivatives& into);

// SeriesFits of one window for several degrees. Over a window of odd points
// the state at the centre is the same for degrees 2k and 2k + 1 and the slope
// for degrees 2k - 1 and 2k (the odd and even powers do not mix there), so
// each is computed once and shared (with the same bits).
// `pool` (none: its own) holds the arrays, so that a caller running window
// after window keeps their memory.
class WindowFits {
 public:
  WindowFits(const Series& series, int points, double dt, std::vector<std::vector<double>>* pool = nullptr)
      : series_(&series), points_(points), dt_(dt), pool_(pool != nullptr ? pool : &own_) {}
  WindowFits(const WindowFits&) = delete;
  WindowFits& operator=(const WindowFits&) = delete;
  // The fits of `degree` into `into`, whose vectors are reused.
  void Into(int degree, Derivatives& into);
  Derivatives Of(int degree) {
    Derivatives d;
    Into(degree, d);
    return d;
  }

 private:
  std::size_t Computed(int degree, bool slope);  // the pool's array of the states or slopes of `degree`
  const Series* series_;
  int points_;
  double dt_;
  std::vector<std::vector<double>> own_;
  std::vector<std::vector<double>>* pool_;
  std::size_t used_ = 0;                                // arrays of the pool in use
  std::vector<std::pair<int, std::size_t>> states_, slopes_;  // the pool's array by the degree that computed it
};

}  // namespace odefit::search
