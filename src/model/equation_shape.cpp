#include "model/equation_shape.h"

#include <cmath>
#include <string>

#include "model/monomials.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

// Largest n + D whose term count the factorial can form.
constexpr int kLargestCountArgument = 34;

long long Monomials(int order, int D) {
  if (order < 0) throw InvalidArgument("an order must not be negative, not " + std::to_string(order));
  if (order + D > kLargestCountArgument) {
    throw InvalidArgument("order " + std::to_string(order) + " in " + std::to_string(D) +
                          " variables has more than 1000 terms");
  }
  return MonomialCount(order, D);
}

void TooMany(long long terms) {
  if (terms > kMaxCoefficients) {
    throw InvalidArgument("an equation may have at most 1000 coefficients, not " + std::to_string(terms));
  }
}

}  // namespace

ModelEquation EquationShape(const EquationSpec& spec, int D, double dt) {
  ModelEquation eq;
  eq.family = spec.family;
  eq.nu = spec.order;
  switch (spec.family) {
    case ModelFamily::StandardPolynomial:
    case ModelFamily::DrivenPolynomial: {
      const bool driven = spec.family == ModelFamily::DrivenPolynomial;
      const long long terms = Monomials(spec.order, D) + (driven ? 2 : 0);
      TooMany(terms);
      eq.nterms = static_cast<int>(terms);
      if (driven) {
        if (!(spec.period > 0.0) || !std::isfinite(spec.period)) {
          throw InvalidArgument("the driving period must be positive and finite");
        }
        eq.period = spec.period;
        eq.we = 4.0 * std::acos(0.0) / eq.period;
        eq.wdt = eq.we * dt;
      }
      break;
    }
    case ModelFamily::Rational: {
      eq.mu = spec.secondOrder;
      const long long numerator = Monomials(spec.order, D);
      TooMany(numerator);
      const long long denominator = Monomials(spec.secondOrder, D) - 1;
      TooMany(numerator + denominator);
      eq.nnum = static_cast<int>(numerator);
      eq.nden = static_cast<int>(denominator);
      eq.nterms = eq.nnum + eq.nden;
      break;
    }
    case ModelFamily::ReducedPolynomial:
      if (D != 2) throw InvalidArgument("the reduced polynomial needs two variables, not " + std::to_string(D));
      if (spec.order < 0 || spec.secondOrder < 0) throw InvalidArgument("an order must not be negative");
      TooMany(static_cast<long long>(spec.order) + spec.secondOrder + 2);
      eq.mu = spec.secondOrder;
      eq.nnum = spec.order + 1;
      eq.nden = spec.secondOrder + 1;
      eq.nterms = eq.nnum + eq.nden;
      break;
    default: throw InvalidArgument("unknown model family");
  }
  return eq;
}

}  // namespace odefit
