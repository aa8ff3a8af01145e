#include "model/equation_shape.h"

#include "model/model_family.h"

namespace odefit {
ModelEquation EquationShape(const EquationSpec& spec, int D, double dt) {
  ModelEquation eq;
  eq.family = spec.family;
  eq.nu = spec.order;
  FamilyOf(spec.family).Shape(spec, D, dt, eq);
  return eq;
}

}  // namespace odefit
