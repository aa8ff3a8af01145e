#include "integration/model_rhs.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "model/model_family.h"
#include "model/monomials.h"

namespace odefit {

namespace {

void CheckSizes(const Model& model, int N, std::span<const double> Y, std::span<double> DY) {
  if (N < 0 || N > model.Dimension() || Y.size() < static_cast<std::size_t>(N) ||
      DY.size() < static_cast<std::size_t>(N)) {
    throw std::invalid_argument("ModelRhs: N must be at most the model's dimension and the sizes of Y and DY");
  }
}

// Room for the largest equation: kMaxCoefficients terms, plus the rational
// denominator's constant term.
using MonomialBuffer = std::array<double, kMaxCoefficients + 2>;
using OrderCounts = std::array<int, IndexTupleCursor::kMaxDegree + 1>;  // terms up to each order

// The monomials of every order are a prefix of those of a higher order, so
// one list up to the largest order any equation needs serves them all.
void Evaluate(const Model& model, const RhsPlan& plan, double T, std::span<const double> Y, std::span<double> DY) {
  MonomialBuffer monomials;
  OrderCounts counts;
  if (plan.order >= 0) FillMonomialTerms(Y, plan.N, plan.order, monomials, counts);
  const RhsPoint point{T, model.dt, Y, monomials.data(), counts.data()};
  std::array<double, 4> values{};
  for (std::size_t g = 0; g < plan.groups; ++g) {
    const RhsPlan::Group& group = plan.group[g];
    group.family->Rhs(std::span<const ModelEquation* const>(group.members.data(), group.size), point,
                      std::span<double>(values.data(), group.size));
    for (std::size_t m = 0; m < group.size; ++m) DY[static_cast<std::size_t>(group.equations[m] - 1)] = values[m];
  }
}

// A model too large to plan: every equation alone, the same values.
void EvaluateUnplanned(const Model& model, int N, double T, std::span<const double> Y, std::span<double> DY) {
  int order = -1;
  for (int i = 1; i <= N; ++i) {
    const ModelEquation& eq = model.Equation(i);
    order = std::max(order, FamilyOf(eq.family).SharedMonomialOrder(eq));
  }
  MonomialBuffer monomials;
  OrderCounts counts;
  if (order >= 0) FillMonomialTerms(Y, N, order, monomials, counts);
  const RhsPoint point{T, model.dt, Y, monomials.data(), counts.data()};
  for (int i = 1; i <= N; ++i) {
    const ModelEquation* eq = &model.Equation(i);
    FamilyOf(eq->family).Rhs(std::span<const ModelEquation* const>(&eq, 1), point, DY.subspan(static_cast<std::size_t>(i - 1), 1));
  }
}

}  // namespace

void PlanModelRhs(const Model& model, int N, RhsPlan& plan) {
  plan.N = -1;
  plan.order = -1;
  plan.groups = 0;
  if (N > kMaxModelDimension) return;
  std::array<bool, kMaxModelDimension + 1> done{};
  for (int i = 1; i <= N; ++i) {
    const ModelEquation& eq = model.Equation(i);
    const ModelFamilyDescription& family = FamilyOf(eq.family);
    plan.order = std::max(plan.order, family.SharedMonomialOrder(eq));
    if (done[static_cast<std::size_t>(i)]) continue;
    RhsPlan::Group& group = plan.group[plan.groups++];
    group.family = &family;
    group.size = 1;
    group.equations[0] = i;
    group.members[0] = &eq;
    const std::size_t most = static_cast<std::size_t>(std::clamp(family.RhsGroupSize(), 1, 4));
    for (int j = i + 1; j <= N && group.size < most; ++j) {
      const ModelEquation& other = model.Equation(j);
      if (done[static_cast<std::size_t>(j)] || other.family != eq.family || other.nu != eq.nu ||
          other.nterms != eq.nterms || !family.SameDesign(eq, other)) {
        continue;
      }
      group.equations[group.size] = j;
      group.members[group.size++] = &other;
      done[static_cast<std::size_t>(j)] = true;
    }
  }
  plan.N = N;
}

void ModelRhs(const Model& model, int N, double T, std::span<const double> Y, std::span<double> DY) {
  CheckSizes(model, N, Y, DY);
  RhsPlan plan;
  PlanModelRhs(model, N, plan);
  if (plan.N < 0) {
    EvaluateUnplanned(model, N, T, Y, DY);
    return;
  }
  Evaluate(model, plan, T, Y, DY);
}

ModelRightHandSide::ModelRightHandSide(const Model& model) : model_(&model) {
  PlanModelRhs(model, model.Dimension(), plan_);
}

void ModelRightHandSide::operator()(int N, double T, std::span<const double> Y, std::span<double> DY) const {
  if (N != plan_.N) {
    ModelRhs(*model_, N, T, Y, DY);
    return;
  }
  CheckSizes(*model_, N, Y, DY);
  Evaluate(*model_, plan_, T, Y, DY);
}

}  // namespace odefit
