// The reduced polynomial (two variables): x1 times the powers of x2 up to
// nu, then the powers of x2 up to mu.

#include <string>
#include <vector>

#include "model/families/families.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

std::string PowerOfX2(int power) { return power > 1 ? "x2^" + std::to_string(power) : std::string("x2"); }

class ReducedPolynomial final : public ModelFamilyDescription {
 public:
  ReducedPolynomial()
      : ModelFamilyDescription(ModelFamily::ReducedPolynomial, "reduced", "reduced polynomial",
                               {{FamilyParameter::Order, "NU", "order of the x1 part", "order",
                                 "   Order of the first polynomial: ", "First polynomial order: nu = "},
                                {FamilyParameter::SecondOrder, "MU", "order of the free x2 part", "second_order",
                                 "   Order of the second polynomial: ", "Second polynomial order: mu = "}},
                               1, false) {}

  void Shape(const EquationSpec& spec, int D, double, ModelEquation& eq) const override {
    if (D != 2) throw InvalidArgument("the reduced polynomial needs two variables, not " + std::to_string(D));
    if (spec.order < 0 || spec.secondOrder < 0) throw InvalidArgument("an order must not be negative");
    CheckCoefficientCount(static_cast<long long>(spec.order) + spec.secondOrder + 2);
    eq.mu = spec.secondOrder;
    eq.nnum = spec.order + 1;
    eq.nden = spec.secondOrder + 1;
    eq.nterms = eq.nnum + eq.nden;
  }
  void CheckOrders(const ModelEquation& eq, int D, const std::string& where) const override {
    if (D != 2) throw InvalidArgument(where + ": the reduced polynomial needs two variables");
    if (eq.nu < 0 || eq.mu < 0 || eq.nu >= kMaxCoefficients || eq.mu >= kMaxCoefficients) {
      throw InvalidArgument(where + ": the orders of the reduced polynomial must be from 0 to 999");
    }
  }
  int ExpectedTerms(const ModelEquation& eq, int D, const std::string& where) const override {
    CheckOrders(eq, D, where);
    if (eq.nnum != eq.nu + 1 || eq.nden != eq.mu + 1) {
      throw InvalidArgument(where + ": the terms of the reduced polynomial do not match its orders");
    }
    return eq.nnum + eq.nden;
  }
  std::vector<std::string> TermNames(const ModelEquation& eq, int) const override {
    std::vector<std::string> names;
    for (int k = 0; k <= eq.nu; ++k) names.push_back(k == 0 ? "x1" : "x1*" + PowerOfX2(k));
    for (int k = 0; k <= eq.mu; ++k) names.push_back(k == 0 ? "1" : PowerOfX2(k));
    return names;
  }
  bool SameDesign(const ModelEquation& a, const ModelEquation& b) const override {
    return a.nnum == b.nnum && a.nden == b.nden;
  }

  void FillDesign(const ModelEquation& eq, std::span<const double> X, int D, int rows, int, std::span<const double>,
                  std::span<double> A, int lda) const override {
    const std::size_t ld = static_cast<std::size_t>(lda);
    for (int r = 0; r < rows; ++r) {
      const double x1 = X[static_cast<std::size_t>(r) * D], x2 = X[static_cast<std::size_t>(r) * D + 1];
      double power = x1;
      for (int k = 0; k < eq.nnum; ++k, power *= x2) A[static_cast<std::size_t>(k) * ld + r] = k == 0 ? x1 : power;
      power = 1.0;
      for (int k = 0; k < eq.nden; ++k, power *= x2) {
        A[static_cast<std::size_t>(eq.nnum + k) * ld + r] = k == 0 ? 1.0 : power;
      }
    }
  }
  void Values(const ModelEquation& eq, std::span<const double> X, int D, int rows, int,
              std::span<double> values) const override {
    const std::vector<double>& c = eq.coef;
    for (int r = 0; r < rows; ++r) {
      const double x1 = X[static_cast<std::size_t>(r) * D], x2 = X[static_cast<std::size_t>(r) * D + 1];
      double v = 0.0;
      double power = x1;
      v += c[0] * power;
      for (int k = 1; k < eq.nnum; ++k) v += c[static_cast<std::size_t>(k)] * (power *= x2);
      power = 1.0;
      v += c[static_cast<std::size_t>(eq.nnum)] * power;
      for (int k = 1; k < eq.nden; ++k) v += c[static_cast<std::size_t>(eq.nnum + k)] * (power *= x2);
      values[static_cast<std::size_t>(r)] = v;
    }
  }

  // The terms formed as they are summed, in coefficient order from 0.0.
  void Rhs(std::span<const ModelEquation* const> group, const RhsPoint& point,
           std::span<double> values) const override {
    const ModelEquation& eq = *group[0];
    const double x1 = point.Y[0], x2 = point.Y[1];
    double value = 0.0;
    double power = x1;
    for (int k = 0; k <= eq.nu; ++k, power *= x2) value += eq.coef[static_cast<std::size_t>(k)] * power;
    power = 1.0;
    for (int k = 0; k <= eq.mu; ++k, power *= x2) value += eq.coef[static_cast<std::size_t>(eq.nu + 1 + k)] * power;
    values[0] = value;
  }
};

}  // namespace

const ModelFamilyDescription& ReducedPolynomialFamily() {
  static const ReducedPolynomial family;
  return family;
}

}  // namespace odefit
