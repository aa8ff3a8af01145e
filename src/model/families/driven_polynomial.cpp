// The standard polynomial with additive harmonic driving: the monomials up to
// order nu, then cos and sin of the driving angle at the sample index.

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "model/families/families.h"
#include "model/families/family_sums.h"
#include "model/monomials.h"
#include "model/term_names.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

class DrivenPolynomial final : public ModelFamilyDescription {
 public:
  DrivenPolynomial()
      : ModelFamilyDescription(ModelFamily::DrivenPolynomial, "driven",
                               "standard polynomial with additive harmonic driving",
                               {{FamilyParameter::Order, "NU", "order", "order", "   Order of the polynomial: ",
                                 "Polynomial order nu = "},
                                {FamilyParameter::Period, "PERIOD", "period", "period", "", "Driving frequency we = "}},
                               2, false) {}

  void Shape(const EquationSpec& spec, int D, double dt, ModelEquation& eq) const override {
    const long long terms = MonomialTermCount(spec.order, D) + 2;
    CheckCoefficientCount(terms);
    eq.nterms = static_cast<int>(terms);
    if (!(spec.period > 0.0) || !std::isfinite(spec.period)) {
      throw InvalidArgument("the driving period must be positive and finite");
    }
    eq.period = spec.period;
    eq.we = 4.0 * std::acos(0.0) / eq.period;
    eq.wdt = eq.we * dt;
  }
  void CheckOrders(const ModelEquation& eq, int D, const std::string& where) const override {
    MonomialTermCount(eq.nu, D, where);
  }
  int ExpectedTerms(const ModelEquation& eq, int D, const std::string& where) const override {
    const int terms = MonomialTermCount(eq.nu, D, where) + 2;
    if (!std::isfinite(eq.wdt)) throw InvalidArgument(where + ": the driving angle is not finite");
    return terms;
  }
  std::vector<std::string> TermNames(const ModelEquation& eq, int D) const override {
    std::vector<std::string> names = MonomialNames(D, eq.nu);
    names.push_back("cos");
    names.push_back("sin");
    return names;
  }
  void CheckTermCounts(const ModelEquation& eq, int D) const override { CheckMonomialCounts(D, eq.nu); }
  bool SameDesign(const ModelEquation& a, const ModelEquation& b) const override {
    return std::bit_cast<std::uint64_t>(a.wdt) == std::bit_cast<std::uint64_t>(b.wdt);
  }

  void FillDesign(const ModelEquation& eq, std::span<const double> X, int D, int rows, int firstSample,
                  std::span<const double>, std::span<double> A, int lda) const override {
    FillMonomialColumns(X, D, rows, eq.nu, A, lda);
    double* cosine = A.data() + static_cast<std::size_t>(eq.nterms - 2) * static_cast<std::size_t>(lda);
    double* sine = cosine + lda;
    for (int r = 0; r < rows; ++r) {
      const double angle = static_cast<double>(firstSample + r) * eq.wdt;
      cosine[r] = std::cos(angle);
      sine[r] = std::sin(angle);
    }
  }
  void Values(const ModelEquation& eq, std::span<const double> X, int D, int rows, int firstSample,
              std::span<double> values) const override {
    std::vector<double> terms(static_cast<std::size_t>(eq.nterms));
    for (int r = 0; r < rows; ++r) {
      FillDrivenTerms(X.subspan(static_cast<std::size_t>(r) * D, static_cast<std::size_t>(D)), D, eq.nu,
                      firstSample + r, eq.wdt, terms);
      double v = 0.0;
      for (int k = 0; k < eq.nterms; ++k) v += eq.coef[static_cast<std::size_t>(k)] * terms[static_cast<std::size_t>(k)];
      values[static_cast<std::size_t>(r)] = v;
    }
  }

  std::optional<EquationSpec> SimplerShape(const ModelEquation& eq, std::span<const int> support) const override {
    for (const int j : support) {
      if (j >= eq.nterms - 2) return std::nullopt;
    }
    return EquationSpec{ModelFamily::StandardPolynomial, eq.nu};
  }

  int SharedMonomialOrder(const ModelEquation& eq) const override { return eq.nu; }
  // The sum runs on over the cosine and sine after the monomials.
  void Rhs(std::span<const ModelEquation* const> group, const RhsPoint& point,
           std::span<double> values) const override {
    const ModelEquation& eq = *group[0];
    const std::span<const double> coef = eq.coef;
    const int n = family_sums::NearestSample(point.T / point.dt);
    const int count = point.counts[eq.nu];
    const double angle = static_cast<double>(n) * eq.wdt;
    double value = family_sums::Dot(coef, point.monomials, count);
    value += coef[static_cast<std::size_t>(count)] * std::cos(angle);
    value += coef[static_cast<std::size_t>(count) + 1] * std::sin(angle);
    values[0] = value;
  }
};

}  // namespace

const ModelFamilyDescription& DrivenPolynomialFamily() {
  static const DrivenPolynomial family;
  return family;
}

}  // namespace odefit
