// The rational family: a numerator polynomial of order nu over 1 plus a
// denominator polynomial of order mu without its constant. Fitted linearised
// (the denominator's columns are -y times its monomials), so its design
// holds the targets and its error comes from the quotient.

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "model/families/families.h"
#include "model/families/family_sums.h"
#include "model/model_fit.h"
#include "model/monomials.h"
#include "model/term_names.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

class Rational final : public ModelFamilyDescription {
 public:
  Rational()
      : ModelFamilyDescription(ModelFamily::Rational, "rational", "rational",
                               {{FamilyParameter::Order, "NU", "numerator order", "order",
                                 "   Order of the numerator polynomial: ", "Numerator polynomial order: nu = "},
                                {FamilyParameter::SecondOrder, "MU", "denominator order", "denominator_order",
                                 "   Order of the denominator polynomial: ", "Denominator polynomial order: mu = "}},
                               3, true) {}

  void Shape(const EquationSpec& spec, int D, double, ModelEquation& eq) const override {
    eq.mu = spec.secondOrder;
    const long long numerator = MonomialTermCount(spec.order, D);
    CheckCoefficientCount(numerator);
    const long long denominator = MonomialTermCount(spec.secondOrder, D) - 1;
    CheckCoefficientCount(numerator + denominator);
    eq.nnum = static_cast<int>(numerator);
    eq.nden = static_cast<int>(denominator);
    eq.nterms = eq.nnum + eq.nden;
  }
  void CheckOrders(const ModelEquation& eq, int D, const std::string& where) const override {
    MonomialTermCount(eq.nu, D, where);
    MonomialTermCount(eq.mu, D, where);
  }
  int ExpectedTerms(const ModelEquation& eq, int D, const std::string& where) const override {
    if (eq.nnum != MonomialTermCount(eq.nu, D, where) || eq.nden != MonomialTermCount(eq.mu, D, where) - 1) {
      throw InvalidArgument(where + ": numerator and denominator terms do not match their orders");
    }
    return eq.nnum + eq.nden;
  }
  std::vector<std::string> TermNames(const ModelEquation& eq, int D) const override {
    std::vector<std::string> names = MonomialNames(D, eq.nu);
    const std::vector<std::string> denominator = MonomialNames(D, eq.mu);
    for (std::size_t j = 1; j < denominator.size(); ++j) names.push_back(denominator[j] + " (denominator)");
    return names;
  }
  void CheckTermCounts(const ModelEquation& eq, int D) const override {
    CheckMonomialCounts(D, eq.nu);
    CheckMonomialCounts(D, eq.mu);
  }
  bool SameDesign(const ModelEquation&, const ModelEquation&) const override { return false; }

  void FillDesign(const ModelEquation& eq, std::span<const double> X, int D, int rows, int, std::span<const double> y,
                  std::span<double> A, int lda) const override {
    if (y.size() < static_cast<std::size_t>(rows)) throw std::invalid_argument("FillDesignBlock: no targets");
    FillMonomialColumns(X, D, rows, eq.nu, A, lda);
    std::vector<double> denominator(static_cast<std::size_t>(rows) * static_cast<std::size_t>(eq.nden + 1));
    FillMonomialColumns(X, D, rows, eq.mu, denominator, rows);
    for (int j = 0; j < eq.nden; ++j) {
      const double* u = denominator.data() + static_cast<std::size_t>(j + 1) * rows;
      double* column = A.data() + static_cast<std::size_t>(eq.nnum + j) * static_cast<std::size_t>(lda);
      for (int r = 0; r < rows; ++r) column[r] = -y[static_cast<std::size_t>(r)] * u[r];
    }
  }
  void Values(const ModelEquation& eq, std::span<const double> X, int D, int rows, int,
              std::span<double> values) const override {
    const std::vector<double>& c = eq.coef;
    std::vector<double> terms(static_cast<std::size_t>(eq.nnum));
    std::vector<double> denominator(static_cast<std::size_t>(eq.nden + 1));
    for (int r = 0; r < rows; ++r) {
      const auto x = X.subspan(static_cast<std::size_t>(r) * D, static_cast<std::size_t>(D));
      FillMonomialTerms(x, D, eq.nu, terms);
      FillMonomialTerms(x, D, eq.mu, denominator);
      double p = 0.0;
      for (int k = 0; k < eq.nnum; ++k) p += c[static_cast<std::size_t>(k)] * terms[static_cast<std::size_t>(k)];
      double q = 1.0;  // the constant term's fixed coefficient, then the fitted ones
      for (int j = 0; j < eq.nden; ++j) {
        q += c[static_cast<std::size_t>(eq.nnum + j)] * denominator[static_cast<std::size_t>(j + 1)];
      }
      double v = 0.0;
      if (std::abs(q) >= DenominatorFloor) {
        v = p / q;
      } else {
        v = q < 0.0 ? p / -DenominatorFloor : p / DenominatorFloor;
      }
      values[static_cast<std::size_t>(r)] = v;
    }
  }

  std::optional<EquationSpec> SimplerShape(const ModelEquation& eq, std::span<const int> support) const override {
    for (const int j : support) {
      if (j >= eq.nnum) return std::nullopt;
    }
    return EquationSpec{ModelFamily::StandardPolynomial, eq.nu};
  }

  int SharedMonomialOrder(const ModelEquation& eq) const override { return std::max(eq.nu, eq.mu); }
  // The denominator kept at least DenominatorFloor away from zero.
  void Rhs(std::span<const ModelEquation* const> group, const RhsPoint& point,
           std::span<double> values) const override {
    const ModelEquation& eq = *group[0];
    const std::span<const double> coef = eq.coef;
    const double p = family_sums::Dot(coef, point.monomials, eq.nnum);
    const double q =
        1.0 + family_sums::Dot(coef.subspan(static_cast<std::size_t>(eq.nnum)), point.monomials + 1, eq.nden);
    const double floor = q < 0.0 ? -DenominatorFloor : DenominatorFloor;
    values[0] = p / (std::fabs(q) >= DenominatorFloor ? q : floor);
  }
};

}  // namespace

const ModelFamilyDescription& RationalFamily() {
  static const Rational family;
  return family;
}

}  // namespace odefit
