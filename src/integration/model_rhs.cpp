#include "integration/model_rhs.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "model/model_fit.h"
#include "model/monomials.h"

namespace odefit {
namespace {

// Room for the largest equation: kMaxCoefficients terms, plus the rational
// denominator's constant term.
using TermBuffer = std::array<double, kMaxCoefficients + 2>;

double Dot(std::span<const double> coef, const double* terms, int count) {
  double sum = 0.0;
  for (int k = 0; k < count; ++k) sum += coef[static_cast<std::size_t>(k)] * terms[k];
  return sum;
}

// Computes the sums of M coefficient rows with the same terms, each in term
// order as Dot forms it; the M sums run in one loop so they overlap in time.
template <int M>
void Dots(const std::array<const double*, 4>& coef, const double* terms, int count, std::array<double, 4>& sums) {
  double s[M] = {};
  for (int k = 0; k < count; ++k) {
    for (int m = 0; m < M; ++m) s[m] += coef[m][k] * terms[k];
  }
  for (int m = 0; m < M; ++m) sums[m] = s[m];
}

// Returns nint(x): the nearest integer, halves away from zero, kept within int.
int NearestSample(double x) {
  if (!(x > INT_MIN) || !(x < INT_MAX)) return x > 0 ? INT_MAX : INT_MIN;
  return static_cast<int>(std::round(x));
}

}  // namespace

// The monomials of every order are a prefix of those of a higher order, so
// one list up to the largest order any equation needs serves them all; the
// sums of standard polynomials of one order run together.
void ModelRhs(const Model& model, int N, double T, std::span<const double> Y, std::span<double> DY) {
  if (N < 0 || N > model.Dimension() || Y.size() < static_cast<std::size_t>(N) ||
      DY.size() < static_cast<std::size_t>(N)) {
    throw std::invalid_argument("ModelRhs: N must be at most the model's dimension and the sizes of Y and DY");
  }
  int order = -1;
  for (int i = 1; i <= N; ++i) {
    const ModelEquation& eq = model.Equation(i);
    switch (eq.family) {
      case ModelFamily::StandardPolynomial:
      case ModelFamily::DrivenPolynomial: order = std::max(order, eq.nu); break;
      case ModelFamily::Rational: order = std::max({order, eq.nu, eq.mu}); break;
      case ModelFamily::ReducedPolynomial: break;
    }
  }
  TermBuffer monomials;
  std::array<int, IndexTupleCursor::kMaxDegree + 1> counts;  // terms up to each order
  if (order >= 0) FillMonomialTerms(Y, N, order, monomials, counts);
  TermBuffer terms;
  std::uint64_t done = 0;  // standard polynomials already summed with an earlier one of their order
  for (int i = 1; i <= N; ++i) {
    const ModelEquation& eq = model.Equation(i);
    const std::span<const double> coef = eq.coef;
    double value = 0.0;
    switch (eq.family) {
      case ModelFamily::StandardPolynomial: {
        if (i <= 64 && (done >> (i - 1) & 1)) continue;
        // Up to four equations of this order summed together.
        std::array<int, 4> group{i};
        std::array<const double*, 4> rows{coef.data()};
        int size = 1;
        for (int j = i + 1; j <= std::min(N, 64) && size < 4; ++j) {
          const ModelEquation& other = model.Equation(j);
          if (other.family != ModelFamily::StandardPolynomial || other.nu != eq.nu) continue;
          group[static_cast<std::size_t>(size)] = j;
          rows[static_cast<std::size_t>(size++)] = other.coef.data();
          done |= std::uint64_t(1) << (j - 1);
        }
        std::array<double, 4> sums{};
        const int count = counts[static_cast<std::size_t>(eq.nu)];
        switch (size) {
          case 1: Dots<1>(rows, monomials.data(), count, sums); break;
          case 2: Dots<2>(rows, monomials.data(), count, sums); break;
          case 3: Dots<3>(rows, monomials.data(), count, sums); break;
          default: Dots<4>(rows, monomials.data(), count, sums); break;
        }
        for (int m = 1; m < size; ++m) DY[static_cast<std::size_t>(group[static_cast<std::size_t>(m)] - 1)] = sums[static_cast<std::size_t>(m)];
        value = sums[0];
        break;
      }
      case ModelFamily::DrivenPolynomial: {
        // The sum runs on over the cosine and sine after the monomials.
        const int n = NearestSample(T / model.dt);
        const int count = counts[static_cast<std::size_t>(eq.nu)];
        const double angle = static_cast<double>(n) * eq.wdt;
        value = Dot(coef, monomials.data(), count);
        value += coef[static_cast<std::size_t>(count)] * std::cos(angle);
        value += coef[static_cast<std::size_t>(count) + 1] * std::sin(angle);
        break;
      }
      case ModelFamily::Rational: {
        const double p = Dot(coef, monomials.data(), eq.nnum);
        const double q = 1.0 + Dot(coef.subspan(static_cast<std::size_t>(eq.nnum)), monomials.data() + 1, eq.nden);
        const double floor = q < 0.0 ? -DenominatorFloor : DenominatorFloor;
        value = p / (std::fabs(q) >= DenominatorFloor ? q : floor);
        break;
      }
      case ModelFamily::ReducedPolynomial: {
        const double x1 = Y[0], x2 = Y[1];
        double power = x1;
        for (int k = 0; k <= eq.nu; ++k, power *= x2) terms[static_cast<std::size_t>(k)] = power;
        power = 1.0;
        for (int k = 0; k <= eq.mu; ++k, power *= x2) terms[static_cast<std::size_t>(eq.nu + 1 + k)] = power;
        value = Dot(coef, terms.data(), eq.nterms);
        break;
      }
    }
    DY[static_cast<std::size_t>(i - 1)] = value;
  }
}

}  // namespace odefit
