#pragma once
// odefit: global models of dynamical systems from one observed time series.
// Read a series, estimate its derivatives, fit the right-hand sides of
// dx_i/dt = f_i(x, t), integrate the model and test how long it predicts well.

#include "odefit/cancellation.h"
#include "odefit/differentiation.h"
#include "odefit/efficiency.h"
#include "odefit/errors.h"
#include "odefit/fit.h"
#include "odefit/integration.h"
#include "odefit/model.h"
#include "odefit/model_file.h"
#include "odefit/model_text.h"
#include "odefit/number_text.h"
#include "odefit/plots.h"
#include "odefit/series.h"
#include "odefit/version.h"
