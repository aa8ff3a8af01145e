#include "odefit/model.h"

#include <cmath>
#include <string>

#include "model/monomials.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

// Largest n + D whose term count the factorial can form.
constexpr int kLargestCountArgument = 34;

int Count(int order, int D, const std::string& where) {
  if (order < 0 || order + D > kLargestCountArgument) {
    throw InvalidArgument(where + ": order " + std::to_string(order) + " is out of range");
  }
  return MonomialCount(order, D);
}

}  // namespace

void ValidateModel(const Model& model) {
  const int D = model.Dimension();
  if (D < 1 || D > kMaxModelDimension) {
    throw InvalidArgument("a model has 1 to 9 equations, not " + std::to_string(D));
  }
  if (!(model.dt > 0.0) || !std::isfinite(model.dt)) {
    throw InvalidArgument("the model's sampling interval must be positive and finite");
  }
  if (!model.names.empty() && model.names.size() != static_cast<std::size_t>(D)) {
    throw InvalidArgument("a model names all of its " + std::to_string(D) + " variables or none, not " +
                          std::to_string(model.names.size()));
  }
  for (int i = 1; i <= D; ++i) {
    const ModelEquation& eq = model.Equation(i);
    const std::string where = "equation " + std::to_string(i);
    int expected = 0;
    switch (eq.family) {
      case ModelFamily::StandardPolynomial: expected = Count(eq.nu, D, where); break;
      case ModelFamily::DrivenPolynomial:
        expected = Count(eq.nu, D, where) + 2;
        if (!std::isfinite(eq.wdt)) throw InvalidArgument(where + ": the driving angle is not finite");
        break;
      case ModelFamily::Rational:
        if (eq.nnum != Count(eq.nu, D, where) || eq.nden != Count(eq.mu, D, where) - 1) {
          throw InvalidArgument(where + ": numerator and denominator terms do not match their orders");
        }
        expected = eq.nnum + eq.nden;
        break;
      case ModelFamily::ReducedPolynomial:
        if (D != 2) throw InvalidArgument(where + ": the reduced polynomial needs two variables");
        if (eq.nu < 0 || eq.mu < 0 || eq.nu >= kMaxCoefficients || eq.mu >= kMaxCoefficients ||
            eq.nnum != eq.nu + 1 || eq.nden != eq.mu + 1) {
          throw InvalidArgument(where + ": the terms of the reduced polynomial do not match its orders");
        }
        expected = eq.nnum + eq.nden;
        break;
      default: throw InvalidArgument(where + ": unknown model family");
    }
    if (expected > kMaxCoefficients || eq.nterms != expected) {
      throw InvalidArgument(where + ": " + std::to_string(eq.nterms) + " terms where its family and orders give " +
                            std::to_string(expected) + " (at most 1000)");
    }
    if (eq.coef.size() != static_cast<std::size_t>(eq.nterms)) {
      throw InvalidArgument(where + ": " + std::to_string(eq.coef.size()) + " coefficients for " +
                            std::to_string(eq.nterms) + " terms");
    }
    for (const double c : eq.coef) {
      if (!std::isfinite(c)) throw InvalidArgument(where + ": a coefficient is not finite");
    }
    if (!eq.standardErrors.empty() && eq.standardErrors.size() != eq.coef.size()) {
      throw InvalidArgument(where + ": " + std::to_string(eq.standardErrors.size()) + " standard errors for " +
                            std::to_string(eq.nterms) + " terms");
    }
  }
}

}  // namespace odefit
