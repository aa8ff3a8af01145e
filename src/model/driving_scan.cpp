#include "model/driving_scan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <complex>
#include <cstddef>
#include <limits>

#include "numerics/vector_clones.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

// Powers of the offset kept per block, and the largest |d u| for which the
// series' remainder stays below 1e-17: x^8 / 8! <= 1e-17 for x <= 0.0282.
constexpr int kPowers = 8;
// Eight doubles a vector (one AVX-512 register, or four SSE2 ones).
constexpr int kLanes = 8;
constexpr int kLaneGroups = kPowers * 2 / kLanes;
typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));

// sum[k] = the sum over q < rows of f[q] turns[q * 2 kPowers + k], each in the
// rows' order, the 2 kPowers sums side by side in vectors (written out: the
// compiler would rather reduce along the rows, one addition at a time to keep
// that order). Only this loop has copies for wider vector units: in a copy
// for one with fused multiply-adds the compiler fuses a complex product's
// multiply-subtract despite -ffp-contract=off.
ODEFIT_VECTOR_CLONES("avx512f", "avx2", "default") void TurnedBlockSums(const double* f, int rows, const double* turns,
                                                                         double* sum) {
  Lanes lanes[kLaneGroups] = {};
  for (int q = 0; q < rows; ++q) {
    const double* turn = turns + static_cast<std::size_t>(q) * kPowers * 2;
    Lanes value;
    for (int l = 0; l < kLanes; ++l) value[l] = f[q];
    for (int g = 0; g < kLaneGroups; ++g) {
      Lanes t;
      std::memcpy(&t, turn + g * kLanes, sizeof t);
      lanes[g] += value * t;
    }
  }
  std::memcpy(sum, lanes, sizeof lanes);
}
constexpr double kLargestTurn = 0.028;

std::size_t At(int b, int j, int k, int columns) {
  return ((static_cast<std::size_t>(b) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(j)) * kPowers +
          static_cast<std::size_t>(k)) * 2;
}

}  // namespace

DrivingScan::DrivingScan(const TriangularSummary& summary, std::span<const double> block, int rows, int firstSample)
    : summary_(summary), block_(block), rows_(rows), K_(summary.DesignColumns()), T_(summary.Targets()),
      firstSample_(firstSample) {
  if (rows < 1 || summary.Rows() != rows || K_ < 1 || T_ < 1 ||
      block.size() < static_cast<std::size_t>(rows) * static_cast<std::size_t>(K_ + T_)) {
    throw InvalidArgument("DrivingScan: the block does not hold the summary's rows and columns");
  }
}

void TurnedSums::Centre(std::span<const double> block, int rows, int count, int firstSample, double centre,
                        double reach) {
  if (rows < 1 || count < 1 || block.size() < static_cast<std::size_t>(rows) * static_cast<std::size_t>(count) ||
      !(reach >= 0.0) || !std::isfinite(centre + reach)) {
    throw InvalidArgument("TurnedSums: no rows, or an angle that is not a finite number");
  }
  rows_ = rows;
  count_ = count;
  firstSample_ = firstSample;
  centre_ = centre;
  reach_ = reach;
  const double longest = reach > 0.0 ? 2.0 * kLargestTurn / reach : static_cast<double>(rows_);
  blockRows_ = static_cast<int>(std::clamp(std::floor(longest), 1.0, static_cast<double>(rows_)));
  blocks_ = (rows_ + blockRows_ - 1) / blockRows_;
  const double half = 0.5 * static_cast<double>(blockRows_);
  const double middle = 0.5 * static_cast<double>(blockRows_ - 1);
  // e^{i w0 u} (u / h)^k for every offset in a block: the same for all blocks,
  // each centred at its first row + (blockRows - 1) / 2.
  std::vector<double> turns(static_cast<std::size_t>(blockRows_) * kPowers * 2);
  for (int q = 0; q < blockRows_; ++q) {
    const double u = static_cast<double>(q) - middle;
    const double c = std::cos(centre * u), s = std::sin(centre * u), v = u / half;
    double power = 1.0;
    for (int k = 0; k < kPowers; ++k) {
      turns[(static_cast<std::size_t>(q) * kPowers + static_cast<std::size_t>(k)) * 2] = c * power;
      turns[(static_cast<std::size_t>(q) * kPowers + static_cast<std::size_t>(k)) * 2 + 1] = s * power;
      power *= v;
    }
  }
  moments_.assign(static_cast<std::size_t>(blocks_) * static_cast<std::size_t>(count_) * kPowers * 2, 0.0);
  for (int b = 0; b < blocks_; ++b) {
    const int first = b * blockRows_, inBlock = std::min(blockRows_, rows_ - first);
    const double m = static_cast<double>(firstSample_) + static_cast<double>(first) + middle;
    const double cm = std::cos(centre * m), sm = std::sin(centre * m);
    for (int j = 0; j < count_; ++j) {
      const double* f = block.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(rows_) +
                        static_cast<std::size_t>(first);
      std::array<double, kPowers * 2> sum;
      TurnedBlockSums(f, inBlock, turns.data(), sum.data());
      double* out = &moments_[At(b, j, 0, count_)];
      for (int k = 0; k < kPowers; ++k) {
        const double re = sum[static_cast<std::size_t>(2 * k)], im = sum[static_cast<std::size_t>(2 * k + 1)];
        out[2 * k] = cm * re - sm * im;
        out[2 * k + 1] = cm * im + sm * re;
      }
    }
  }
}

void TurnedSums::Sums(double w, std::span<double> cosine, std::span<double> sine) const {
  const double d = w - centre_;
  if (!(std::fabs(d) <= reach_)) throw InvalidArgument("TurnedSums: the angle is outside the prepared reach");
  const double middle = 0.5 * static_cast<double>(blockRows_ - 1);
  // sum_b e^{i d m_b} moments(b, j, k), then the series in (i d h)^k / k!.
  std::vector<double> turned(static_cast<std::size_t>(count_) * kPowers * 2, 0.0);
  for (int b = 0; b < blocks_; ++b) {
    const double m = static_cast<double>(firstSample_) + static_cast<double>(b) * blockRows_ + middle;
    const double c = std::cos(d * m), s = std::sin(d * m);
    const double* in = &moments_[At(b, 0, 0, count_)];
    for (std::size_t k = 0; k < turned.size(); k += 2) {
      turned[k] += c * in[k] - s * in[k + 1];
      turned[k + 1] += c * in[k + 1] + s * in[k];
    }
  }
  std::array<double, kPowers * 2> series{};  // (i d h)^k / k!
  {
    const double x = d * 0.5 * static_cast<double>(blockRows_);
    double re = 1.0, im = 0.0;
    for (int k = 0; k < kPowers; ++k) {
      series[static_cast<std::size_t>(2 * k)] = re;
      series[static_cast<std::size_t>(2 * k + 1)] = im;
      const double nextRe = -im * x / (k + 1), nextIm = re * x / (k + 1);
      re = nextRe;
      im = nextIm;
    }
  }
  for (int j = 0; j < count_; ++j) {
    double re = 0.0, im = 0.0;
    for (int k = kPowers - 1; k >= 0; --k) {
      const double a = series[static_cast<std::size_t>(2 * k)], b = series[static_cast<std::size_t>(2 * k + 1)];
      const std::size_t at = (static_cast<std::size_t>(j) * kPowers + static_cast<std::size_t>(k)) * 2;
      re += a * turned[at] - b * turned[at + 1];
      im += a * turned[at + 1] + b * turned[at];
    }
    cosine[static_cast<std::size_t>(j)] = re;
    sine[static_cast<std::size_t>(j)] = im;
  }
}

void DrivingScan::Centre(double centre, double reach) {
  if (!(reach >= 0.0) || !(centre - reach > 0.0) || !(centre + reach < M_PI)) {
    throw InvalidArgument("DrivingScan: the angles must lie between 0 and pi");
  }
  sums_.Centre(block_, rows_, K_ + T_, firstSample_, centre, reach);
}

double DrivingScan::Rss(double w) const { return Rss(w, 1.0, {}); }

double DrivingScan::Rss(double w, std::complex<double> scale, std::span<const RowScale> rows) const {
  const int columns = K_ + T_;
  // Cosine and sine sums of every column: the real and imaginary parts of
  // scale * S_j(w), then the rows whose pair is scaled otherwise mended.
  std::vector<double> cosine(static_cast<std::size_t>(columns)), sine(static_cast<std::size_t>(columns));
  sums_.Sums(w, cosine, sine);
  for (int j = 0; j < columns; ++j) {
    const std::complex<double> sum = scale * std::complex<double>(cosine[static_cast<std::size_t>(j)], sine[static_cast<std::size_t>(j)]);
    cosine[static_cast<std::size_t>(j)] = sum.real();
    sine[static_cast<std::size_t>(j)] = sum.imag();
  }
  // The pair's own products: sum over n of e^{2 i w n}, n = n0 .. n0 + N - 1,
  // is e^{i w (2 n0 + N - 1)} sin(N w) / sin(w); with e = scale e^{i w n},
  // sum Re(e)^2 = (|scale|^2 N + Re(scale^2 E2)) / 2 and so on.
  const double N = static_cast<double>(rows_);
  const double ratio = std::sin(N * w) / std::sin(w);
  const double mid = w * (2.0 * static_cast<double>(firstSample_) + N - 1.0);
  const std::complex<double> twice = scale * scale * std::polar(ratio, mid);
  const double size = std::norm(scale) * N;
  double gcc = 0.5 * (size + twice.real()), gss = 0.5 * (size - twice.real()), gcs = 0.5 * twice.imag();
  for (const RowScale& row : rows) {
    if (row.row < 0 || row.row >= rows_) throw InvalidArgument("DrivingScan: no such row");
    const std::complex<double> turn = std::polar(1.0, w * static_cast<double>(firstSample_ + row.row));
    const std::complex<double> was = scale * turn, is = row.scale * turn;
    for (int j = 0; j < columns; ++j) {
      const double f = block_[static_cast<std::size_t>(j) * static_cast<std::size_t>(rows_) + static_cast<std::size_t>(row.row)];
      cosine[static_cast<std::size_t>(j)] += f * (is.real() - was.real());
      sine[static_cast<std::size_t>(j)] += f * (is.imag() - was.imag());
    }
    gcc += is.real() * is.real() - was.real() * was.real();
    gss += is.imag() * is.imag() - was.imag() * was.imag();
    gcs += is.real() * is.imag() - was.real() * was.imag();
  }
  // Project the pair on the fixed columns: R' z = A' pair.
  std::vector<double> zc(static_cast<std::size_t>(K_)), zs(static_cast<std::size_t>(K_));
  double largest = 0.0, smallest = std::numeric_limits<double>::infinity();
  for (int i = 0; i < K_; ++i) {
    double a = cosine[static_cast<std::size_t>(i)], b = sine[static_cast<std::size_t>(i)];
    for (int l = 0; l < i; ++l) {
      a -= summary_.R(l, i) * zc[static_cast<std::size_t>(l)];
      b -= summary_.R(l, i) * zs[static_cast<std::size_t>(l)];
    }
    const double diagonal = summary_.R(i, i);
    largest = std::max(largest, std::fabs(diagonal));
    smallest = std::min(smallest, std::fabs(diagonal));
    zc[static_cast<std::size_t>(i)] = a / diagonal;
    zs[static_cast<std::size_t>(i)] = b / diagonal;
  }
  for (int i = 0; i < K_; ++i) {
    gcc -= zc[static_cast<std::size_t>(i)] * zc[static_cast<std::size_t>(i)];
    gss -= zs[static_cast<std::size_t>(i)] * zs[static_cast<std::size_t>(i)];
    gcs -= zc[static_cast<std::size_t>(i)] * zs[static_cast<std::size_t>(i)];
  }
  // The pair's part of R: its 2 x 2 Cholesky factor.
  const double r11 = gcc > 0.0 ? std::sqrt(gcc) : 0.0;
  const double r12 = r11 > 0.0 ? gcs / r11 : 0.0;
  const double rest = gss - r12 * r12;
  const double r22 = rest > 0.0 ? std::sqrt(rest) : 0.0;
  largest = std::max({largest, r11, r22});
  smallest = std::min({smallest, r11, r22});
  double total = 0.0;
  for (int t = 0; t < T_; ++t) {
    // As FitSubset: a diagonal this small against the largest makes a column dependent.
    const double tiny = largest * 1e-13 * std::sqrt(static_cast<double>(K_ + 2 + t + 1));
    if (!(smallest > tiny)) return std::numeric_limits<double>::infinity();
    double bc = cosine[static_cast<std::size_t>(K_ + t)], bs = sine[static_cast<std::size_t>(K_ + t)], own = 0.0;
    for (int i = 0; i < K_; ++i) {
      const double r = summary_.R(i, K_ + t);
      bc -= zc[static_cast<std::size_t>(i)] * r;
      bs -= zs[static_cast<std::size_t>(i)] * r;
    }
    for (int i = K_; i <= K_ + t; ++i) own += summary_.R(i, K_ + t) * summary_.R(i, K_ + t);
    const double q1 = bc / r11, q2 = (bs - r12 * q1) / r22;
    total += std::max(0.0, own - q1 * q1 - q2 * q2);
  }
  return total;
}

}  // namespace odefit
