#pragma once
// The fitted model's right-hand side, the one routine every integrator calls.

#include <span>

#include "odefit/model.h"

namespace odefit {

// Computes DY(1..N) = f(T, Y) of `model` (N equations): equation i by its
// family, the driven family at the sample index nint(T / dt), the rational
// family with its denominator kept at least DenominatorFloor away from zero.
// Reads the model only and allocates nothing, so any number of threads may
// evaluate one model at once.
void ModelRhs(const Model& model, int N, double T, std::span<const double> Y, std::span<double> DY);

// The right-hand side of one model as the integrators call it, F(N, T, Y, DY).
// Refers to the model, which must outlive it; cheap to copy.
class ModelRightHandSide {
 public:
  explicit ModelRightHandSide(const Model& model) : model_(&model) {}
  void operator()(int N, double T, std::span<const double> Y, std::span<double> DY) const {
    ModelRhs(*model_, N, T, Y, DY);
  }
  const Model& model() const { return *model_; }

 private:
  const Model* model_;
};

}  // namespace odefit
