#pragma once
// A periodic driving, found in what a polynomial fit leaves unexplained.

#include <cmath>

#include "odefit/series.h"

namespace odefit::search {

// Fits a polynomial of `order` to every equation and returns the driving
// period (time units) the residuals show most strongly, or 0.
double DetectDrivingPeriod(const Series& series, double dt, int order);

// The period within a spectral bin of `period` that minimises the squared
// residuals of driven polynomials of `order` fitted to every equation: the
// spectrum places a line only to a fraction of its bin, and a period off by
// 1e-4 turns the driving's phase by a tenth of a radian over the series.
// Its harmonics and subharmonics (a third to three times) are refined alike,
// and one of them is returned when its residuals are clearly smaller.
double RefinePeriod(const Series& series, double dt, int order, double period);

// The period within one spectral bin either side of `period` (a series
// spanning `span` time units) that minimises rss(period), by golden-section
// search; `period` itself when rss finds none better.
template <typename Rss>
double RefineWithinOneBin(const Rss& rss, double period, double span) {
  double a = period * (1.0 - period / span), b = period * (1.0 + period / span);
  const double g = 0.5 * (std::sqrt(5.0) - 1.0);
  double c = b - g * (b - a), e = a + g * (b - a);
  double fc = rss(c), fe = rss(e);
  for (int it = 0; it < 60 && (b - a) > 1e-12 * period; ++it) {
    if (fc < fe) {
      b = e;
      e = c;
      fe = fc;
      c = b - g * (b - a);
      fc = rss(c);
    } else {
      a = c;
      c = e;
      fc = fe;
      e = a + g * (b - a);
      fe = rss(e);
    }
  }
  const double refined = 0.5 * (a + b);
  return rss(refined) <= rss(period) ? refined : period;
}

}  // namespace odefit::search
