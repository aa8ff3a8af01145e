#pragma once
// The equation shape now lives with the fits (model/equation_shape.h).
#include "model/equation_shape.h"
