#include "integration/model_rhs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>

#include "model/model_family.h"
#include "model/monomials.h"

namespace odefit {

// The monomials of every order are a prefix of those of a higher order, so
// one list up to the largest order any equation needs serves them all;
// equations of one design run together (up to their family's group size),
// one family call per group.
void ModelRhs(const Model& model, int N, double T, std::span<const double> Y, std::span<double> DY) {
  if (N < 0 || N > model.Dimension() || Y.size() < static_cast<std::size_t>(N) ||
      DY.size() < static_cast<std::size_t>(N)) {
    throw std::invalid_argument("ModelRhs: N must be at most the model's dimension and the sizes of Y and DY");
  }
  int order = -1;
  for (int i = 1; i <= N; ++i) {
    const ModelEquation& eq = model.Equation(i);
    order = std::max(order, FamilyOf(eq.family).SharedMonomialOrder(eq));
  }
  // Room for the largest equation: kMaxCoefficients terms, plus the rational
  // denominator's constant term.
  std::array<double, kMaxCoefficients + 2> monomials;
  std::array<int, IndexTupleCursor::kMaxDegree + 1> counts;  // terms up to each order
  if (order >= 0) FillMonomialTerms(Y, N, order, monomials, counts);
  const RhsPoint point{T, model.dt, Y, monomials.data(), counts.data()};
  std::uint64_t done = 0;  // equations already evaluated with an earlier one of their design
  for (int i = 1; i <= N; ++i) {
    if (i <= 64 && (done >> (i - 1) & 1)) continue;
    const ModelEquation& eq = model.Equation(i);
    const ModelFamilyDescription& family = FamilyOf(eq.family);
    std::array<int, 4> group{i};
    std::array<const ModelEquation*, 4> members{&eq};
    std::size_t size = 1;
    const std::size_t most = static_cast<std::size_t>(std::clamp(family.RhsGroupSize(), 1, 4));
    for (int j = i + 1; j <= std::min(N, 64) && size < most; ++j) {
      const ModelEquation& other = model.Equation(j);
      if (other.family != eq.family || other.nu != eq.nu || other.nterms != eq.nterms ||
          !family.SameDesign(eq, other)) {
        continue;
      }
      group[size] = j;
      members[size++] = &other;
      done |= std::uint64_t(1) << (j - 1);
    }
    std::array<double, 4> values{};
    family.Rhs(std::span<const ModelEquation* const>(members.data(), size), point, std::span<double>(values.data(), size));
    for (std::size_t m = 0; m < size; ++m) DY[static_cast<std::size_t>(group[m] - 1)] = values[m];
  }
}

}  // namespace odefit
