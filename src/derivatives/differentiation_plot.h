#pragma once
// The differentiation window (unit 11, "Differentiation"): for each of the
// first four variables one plot of the smoothed values and one of the
// derivative estimates against time, 300 x 90 pixels each.
//
// Arrays are D x Nfit, stored by columns with leading dimension D: element
// (i, k) (1-based) at (i - 1) + (k - 1) * D.

#include <span>

#include "graphics/graphics_layer.h"

namespace odefit {

// Points drawn per plot at most; the ranges still cover every point.
inline constexpr int kMaxPlottedPoints = 600;

// A plot's frame corners.
struct PanelFrame {
  int x1, y1, x2, y2;
};

// Returns the frame of the value plot (derivative = false) or the derivative
// plot of variable i = 1..4.
PanelFrame DifferentiationPanel(int i, bool derivative);

// Returns the horizontal offset of point k of n from the frame's left edge:
// trunc(k * r * 300), r = 1/n rounded to single precision and the products
// formed in double from it.
int DifferentiationTimeOffset(int k, int n);

// Draws the whole differentiation window from TrainSeries and
// TrainDerivatives (D x Nfit each): prepares unit 11 (clearing any earlier
// drawing), draws the frames of variables 1..min(D, 4) with their labels and
// the first min(Nfit, 600) points of each in black. Ranges of constant rows
// put their points on the frame's bottom edge.
void DrawDifferentiationPlots(GraphicsLayer& layer, std::span<const double> TrainSeries,
                              std::span<const double> TrainDerivatives, int D, int Nfit, double dt);

// Smooths and differentiates every variable of TimeSeries (D x Ntrain) with
// windows of m points into TrainSeries and TrainDerivatives (D x
// (Ntrain - m + 1), allocated by the caller; overwritten), then draws them
// with DrawDifferentiationPlots.
void DifferentiateAndPlot(GraphicsLayer& layer, std::span<const double> TimeSeries, int D, int Ntrain, int m,
                          double dt, std::span<double> TrainSeries, std::span<double> TrainDerivatives);

}  // namespace odefit
