#pragma once
// Series of several recordings or with time stamps, differentiated piece by
// piece so that no window spans a break or a gap.

#include "odefit/differentiation.h"
#include "odefit/series.h"

#include <optional>

namespace odefit::api {

// Whether the series is one uniformly sampled recording, read as the classic
// fits read it (no times, no breaks).
inline bool IsPlain(const Series& series) { return series.times.empty() && series.breaks.empty(); }

// The rows of every piece of `sampling` that holds at least `points`
// vectors, stacked in order: uniform pieces by the classic local line fits
// with dt, others by line fits on their time stamps. `rows` may be 0.
Derivatives DifferentiatePieces(const Series& series, const Sampling& sampling, int points);

// The rows of the whole series laid out as Differentiate lays out one
// recording's (row r belongs to vector r + (points - 1) / 2), for code that
// indexes rows by vector: a row whose window spans two pieces is a copy of
// the nearest row whose window lies within one (rows stay finite and near
// the data; they weigh a neighbour twice). Needs a uniform sampling and a
// piece of at least `points` vectors.
Derivatives DifferentiateJoined(const Series& series, int points, double dt);

// Whether the window of `points` vectors from vector `first` lies within one
// piece of `sampling`.
bool WithinOnePiece(const Sampling& sampling, std::size_t first, std::size_t count);

// The series a search scores: for several recordings, each recording's
// last vectors (in all the `held` vectors after the first n - held, shared in
// proportion to the recordings' lengths) moved behind all the recordings'
// first parts, every part a recording of its own, so that holding out the
// end of the series holds out the end of every recording. One recording is
// taken as it is, without a copy.
class HeldOutLast {
 public:
  HeldOutLast(const Series& series, std::size_t held);
  const Series& series() const { return reordered_ ? *reordered_ : given_; }

 private:
  const Series& given_;
  std::optional<Series> reordered_;
};

}  // namespace odefit::api
