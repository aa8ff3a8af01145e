#pragma once
// Least squares on a fixed design plus a driving pair cos(w n), sin(w n) of
// the sample index n, as a function of the angle per sample w, at a small
// fraction of a new fit's cost per angle.
//
// The fixed columns' factor R (with the targets) is made once; the pair adds
// only its cross products with the fixed columns and the targets, the sums
// S_j(w) = sum_r f_rj e^{i w n_r} (real part: the cosine's, imaginary: the
// sine's), and its own, which have a closed form. Around a centre angle w0
// the rows are turned once by e^{i w0 n_r} and summed in blocks weighted by
// the powers of their offset u from the block's centre m, so an angle
// w0 + d needs only the blocks' sums:
//   e^{i d n} = e^{i d m} sum_k (i d u)^k / k!,
// the series cut where its remainder is below 1e-17 over the reach of d
// (blocks are as long as that allows), which keeps every sum exact to
// rounding. The pair's columns are then projected through R (a triangular
// solve), and each target's residual is its residual on the fixed columns
// less the share the projected pair explains (a 2 x 2 Cholesky).
//
// Storage: `block` holds the same values the summary was folded from,
// rows x (K + T) column-major with leading dimension rows (the K fixed
// columns, then the T targets); row r is sample index firstSample + r.

#include <complex>
#include <span>
#include <vector>

#include "model/sparse_regression.h"

namespace odefit {

// The sums S_j(w) = sum_r f_rj e^{i w n_r} of the columns of a block, n_r =
// firstSample + r, for angles w near a centre, exact to rounding (above).
class TurnedSums {
 public:
  // `block`: rows x count column-major, leading dimension rows (rows >= 1,
  // count >= 1); angles within `reach` (>= 0) of `centre` will be asked for.
  // Cost O(rows x count x 8); the block is not kept.
  void Centre(std::span<const double> block, int rows, int count, int firstSample, double centre, double reach);
  // The cosine (real) and sine (imaginary) parts of every column's sum at w.
  // Throws InvalidArgument when w is outside the reach.
  void Sums(double w, std::span<double> cosine, std::span<double> sine) const;

 private:
  int rows_ = 0, count_ = 0, firstSample_ = 0;
  double centre_ = 0.0, reach_ = -1.0;
  int blockRows_ = 1, blocks_ = 0;
  // moments_[((b * count + j) * 8 + k) * 2 + {0, 1}], k < 8 powers: re, im of
  // e^{i w0 m_b} sum_{r in b} f_rj e^{i w0 u_r} (u_r / h)^k, h = blockRows / 2.
  std::vector<double> moments_;
};

class DrivingScan {
 public:
  // The summary must have K design columns and T targets and
  // summary.Rows() == rows >= 1; block.size() >= rows * (K + T). The block
  // is not copied and must outlive the scan.
  DrivingScan(const TriangularSummary& summary, std::span<const double> block, int rows, int firstSample);

  // Prepares the sums for angles w with |w - centre| <= reach (0 < centre -
  // reach, centre + reach < pi, rad per sample). Cost O(rows x (K + T) x 8).
  void Centre(double centre, double reach);

  // The residual sum of squares, summed over the targets, of the fits on the
  // fixed columns and the pair at angle w; infinite when the pair depends on
  // the fixed columns (as FitSubset calls a column singular). Throws
  // InvalidArgument when w is outside the last Centre's reach. A difference
  // of the fixed columns' residual and the pair's share, its error is
  // rounding of the former: a nearly exact fit's residual far below it is
  // known only to that level (its minimiser over w is hardly moved: the
  // residual grows with the square of the angle's error).
  double Rss(double w) const;

  // Rss for a pair scaled and turned: row r's pair the real and imaginary
  // parts of scale e^{i w n_r}, except the rows listed, whose pair is their
  // own scale times e^{i w n_r} (a filter of the pair, as the integral form's
  // span integrals are, that differs at a few rows). The pair's span, and so
  // the residual, is that of Rss(w) when no row is listed and scale != 0.
  struct RowScale {
    int row = 0;
    std::complex<double> scale;
  };
  double Rss(double w, std::complex<double> scale, std::span<const RowScale> rows) const;

 private:
  TriangularSummary summary_;
  std::span<const double> block_;
  int rows_ = 0, K_ = 0, T_ = 0, firstSample_ = 0;
  TurnedSums sums_;
};

}  // namespace odefit
