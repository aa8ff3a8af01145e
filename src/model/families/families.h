#pragma once
// The built-in model families, one file each; the registry (model_family.cpp)
// lists them.

#include "model/model_family.h"

namespace odefit {

const ModelFamilyDescription& StandardPolynomialFamily();
const ModelFamilyDescription& DrivenPolynomialFamily();
const ModelFamilyDescription& RationalFamily();
const ModelFamilyDescription& ReducedPolynomialFamily();

}  // namespace odefit
