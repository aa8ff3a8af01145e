#include "integration/model_rhs.h"

#include <array>
#include <climits>
#include <cmath>

#include "model/model_fit.h"
#include "model/model_table.h"
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

// Returns nint(x): the nearest integer, halves away from zero, kept within int.
int NearestSample(double x) {
  if (!(x > INT_MIN) || !(x < INT_MAX)) return x > 0 ? INT_MAX : INT_MIN;
  return static_cast<int>(std::round(x));
}

}  // namespace

void ModelRhs(int N, double T, std::span<const double> Y, std::span<double> DY) {
  const ModelTable& model = GlobalModelTable();
  TermBuffer terms;
  for (int i = 1; i <= N; ++i) {
    const ModelEquation& eq = model.Equation(i);
    const std::span<const double> coef = eq.coef;
    double value = 0.0;
    switch (eq.family) {
      case ModelFamily::StandardPolynomial: {
        const int count = FillMonomialTerms(Y, N, eq.nu, terms);
        value = Dot(coef, terms.data(), count);
        break;
      }
      case ModelFamily::DrivenPolynomial: {
        const int n = NearestSample(T / model.dt);
        const int count = FillDrivenTerms(Y, N, eq.nu, n, eq.wdt, terms);
        value = Dot(coef, terms.data(), count);
        break;
      }
      case ModelFamily::Rational: {
        FillMonomialTerms(Y, N, eq.nu, terms);
        const double p = Dot(coef, terms.data(), eq.nnum);
        FillMonomialTerms(Y, N, eq.mu, terms);
        const double q = 1.0 + Dot(coef.subspan(static_cast<std::size_t>(eq.nnum)), terms.data() + 1, eq.nden);
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
