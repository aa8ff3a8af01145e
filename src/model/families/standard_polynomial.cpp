// The standard polynomial: the monomials of the state up to order nu.

#include <array>
#include <vector>

#include "model/families/families.h"
#include "model/families/family_sums.h"
#include "model/monomials.h"
#include "model/term_names.h"

namespace odefit {
namespace {

class StandardPolynomial final : public ModelFamilyDescription {
 public:
  StandardPolynomial()
      : ModelFamilyDescription(ModelFamily::StandardPolynomial, "poly", "standard polynomial",
                               {{FamilyParameter::Order, "NU", "order", "order", "   Order of the polynomial: ",
                                 "Polynomial order nu = "}},
                               0, false) {}

  void Shape(const EquationSpec& spec, int D, double, ModelEquation& eq) const override {
    const long long terms = MonomialTermCount(spec.order, D);
    CheckCoefficientCount(terms);
    eq.nterms = static_cast<int>(terms);
  }
  void CheckOrders(const ModelEquation& eq, int D, const std::string& where) const override {
    MonomialTermCount(eq.nu, D, where);
  }
  int ExpectedTerms(const ModelEquation& eq, int D, const std::string& where) const override {
    return MonomialTermCount(eq.nu, D, where);
  }
  std::vector<std::string> TermNames(const ModelEquation& eq, int D) const override { return MonomialNames(D, eq.nu); }
  void CheckTermCounts(const ModelEquation& eq, int D) const override { CheckMonomialCounts(D, eq.nu); }
  bool SameDesign(const ModelEquation&, const ModelEquation&) const override { return true; }

  void FillDesign(const ModelEquation& eq, std::span<const double> X, int D, int rows, int, std::span<const double>,
                  std::span<double> A, int lda) const override {
    FillMonomialColumns(X, D, rows, eq.nu, A, lda);
  }
  void Values(const ModelEquation& eq, std::span<const double> X, int D, int rows, int,
              std::span<double> values) const override {
    std::vector<double> terms(static_cast<std::size_t>(eq.nterms));
    for (int r = 0; r < rows; ++r) {
      FillMonomialTerms(X.subspan(static_cast<std::size_t>(r) * D, static_cast<std::size_t>(D)), D, eq.nu, terms);
      double v = 0.0;
      for (int k = 0; k < eq.nterms; ++k) v += eq.coef[static_cast<std::size_t>(k)] * terms[static_cast<std::size_t>(k)];
      values[static_cast<std::size_t>(r)] = v;
    }
  }

  int SharedMonomialOrder(const ModelEquation& eq) const override { return eq.nu; }
  int RhsGroupSize() const override { return 4; }
  void Rhs(std::span<const ModelEquation* const> group, const RhsPoint& point,
           std::span<double> values) const override {
    std::array<const double*, 4> rows{};
    for (std::size_t m = 0; m < group.size(); ++m) rows[m] = group[m]->coef.data();
    const int count = point.counts[group[0]->nu];
    switch (group.size()) {
      case 1: family_sums::Dots<1>(rows, point.monomials, count, values); break;
      case 2: family_sums::Dots<2>(rows, point.monomials, count, values); break;
      case 3: family_sums::Dots<3>(rows, point.monomials, count, values); break;
      default: family_sums::Dots<4>(rows, point.monomials, count, values); break;
    }
  }
};

}  // namespace

const ModelFamilyDescription& StandardPolynomialFamily() {
  static const StandardPolynomial family;
  return family;
}

}  // namespace odefit
