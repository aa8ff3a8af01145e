#pragma once
// The fitted model's right-hand side, the one routine every integrator calls.

#include <array>
#include <cstddef>
#include <span>

#include "model/model_family.h"
#include "odefit/model.h"

namespace odefit {

// Computes DY(1..N) = f(T, Y) of `model` (N equations): equation i by its
// family, the driven family at the sample index nint(T / dt), the rational
// family with its denominator kept at least DenominatorFloor away from zero.
// Reads the model only and allocates nothing, so any number of threads may
// evaluate one model at once.
void ModelRhs(const Model& model, int N, double T, std::span<const double> Y, std::span<double> DY);

// How ModelRhs evaluates the first N equations of a model: each equation's
// family looked up once, the equations of one design in groups of up to
// their family's group size, one family call per group. Refers to the
// model's equations.
struct RhsPlan {
  // Left uninitialised until planned: ModelRhs plans on every call.
  struct Group {
    const ModelFamilyDescription* family;
    std::size_t size;
    std::array<int, 4> equations;  // 1-based
    std::array<const ModelEquation*, 4> members;
  };
  int N = -1;      // equations planned; -1: none (more than kMaxModelDimension)
  int order = -1;  // order of the monomials the groups share, -1 for none
  std::size_t groups = 0;
  std::array<Group, kMaxModelDimension> group;
};

// Plans the first N equations of `model` (N <= its dimension), or sets
// plan.N = -1 when N is above kMaxModelDimension.
void PlanModelRhs(const Model& model, int N, RhsPlan& plan);

// The right-hand side of one model as the integrators call it, F(N, T, Y, DY),
// planned once (RhsPlan) for the model's dimension. Refers to the model,
// which must outlive it and keep its equations' families, orders and counts.
class ModelRightHandSide {
 public:
  explicit ModelRightHandSide(const Model& model);
  void operator()(int N, double T, std::span<const double> Y, std::span<double> DY) const;
  const Model& model() const { return *model_; }

 private:
  const Model* model_;
  RhsPlan plan_;
};

}  // namespace odefit
