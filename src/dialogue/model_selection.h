#pragma once
// Question 6: the choice of a model family and its orders for every equation,
// the fits, and the coefficient report.

#include <span>

#include "dialogue/console.h"
#include "dialogue/report_file.h"
#include "odefit/cancellation.h"
#include "odefit/model.h"

namespace odefit {

// Asks family and orders for equations 1..D into `model`, fits every
// equation to the Nfit training rows (TrainSeries, TrainDerivatives: D x Nfit,
// column-major), writes each equation's block to the report and its error of
// approximation to the console.
void SelectModel(Console& console, ReportFile& report, int D, double dt, int Nfit,
                 std::span<const double> TrainSeries, std::span<const double> TrainDerivatives, Model& model,
                 const CancellationToken* cancel = nullptr);

}  // namespace odefit
