#pragma once
// The efficiency window (unit 12, "Model efficiency"): the observed and the
// model phase orbit (200 x 200 boxes), the observed and predicted course of
// the first three variables over one test piece and their prediction errors
// (200 x 150 panels).
//
// Arrays are D x Ntest, stored by columns with leading dimension D: element
// (i, k) (1-based) at (i - 1) + (k - 1) * D. PredictionError is D x Ltest
// in the same layout.
//
// The model's points, drawn by the efficiency test in bright red, use the
// geometry and the pixel helpers below, which give the exact arithmetic:
//   model orbit:  x = kOrbitLeft + AxisPixelOffset(kOrbitSize, u),
//                 y = kModelOrbitBottom - AxisPixelOffset(kOrbitSize, v),
//                 u, v = OrbitFraction(...) of the state (or of the model
//                 derivative for v when D = 1);
//   model series: x = SeriesPanelX(j, Ltest),
//                 y = PanelY(kPanelBottom[i - 1], PlotFraction(Y(i), range(i)));
//   error curves: DrawPredictionErrorCurves.
// Ranges come from PlotRangeOfRow on the same arrays (plot_frame.h).

#include <array>
#include <span>

#include "graphics/graphics_layer.h"
#include "graphics/plot_frame.h"

namespace odefit {

inline constexpr int kOrbitLeft = 35;
inline constexpr int kOrbitSize = 200;           // width and height of an orbit box
inline constexpr int kObservedOrbitBottom = 250;
inline constexpr int kModelOrbitBottom = 550;
inline constexpr int kSeriesLeft = 275;          // left edge of the series panels
inline constexpr int kErrorLeft = 525;           // left edge of the error panels
inline constexpr int kPanelWidth = 200;
inline constexpr int kPanelHeight = 150;
inline constexpr std::array<int, 3> kPanelBottom = {175, 375, 575};  // variables 1, 2, 3

// Returns the orbit-box fraction of `a`: PlotFraction, with the middle of the
// box (0.5) for a range whose ends are equal.
inline double OrbitFraction(double a, const AxisRange& range) { return PlotFraction(a, range, 0.5); }

// Returns the x of test point k = 1..Ltest + 1 of a piece in the series
// panels: kSeriesLeft + ((k - 1) * 200) div Ltest.
int SeriesPanelX(int k, int Ltest);

// Returns the y of fraction f in a 150-pixel panel whose bottom edge is `bottom`.
inline int PanelY(int bottom, double f) { return VerticalPixel(bottom, kPanelHeight, f); }

// Returns the x of lead step j = 1..Ltest in the error panels: 525 + int(s)
// with r = 1/Ltest, p = j * r and s = p * 200, each rounded to single precision.
int ErrorCurveX(int j, int Ltest);

// Prepares unit 12 (clearing any earlier drawing), draws the frames and
// labels of every panel D allows, the observed orbit and the observed series
// of the first test piece in black, and leaves the window current with the
// drawing colour bright red (12) for the model's points. Requires D, Ntest
// and Ltest of at least 1 (else nothing is done).
void DrawEfficiencyWindow(GraphicsLayer& layer, std::span<const double> TestSeries,
                          std::span<const double> TestDerivatives, int D, int Ntest, int Ltest, double dt);

// Draws the prediction-error curve of variables 1..min(D, 3) into the error
// panels of the current window, in the current drawing colour: one pixel per
// lead step j at (ErrorCurveX(j), bottom - int(150 * e)), only where 0 <= e <= 1.
void DrawPredictionErrorCurves(GraphicsLayer& layer, std::span<const double> PredictionError, int D, int Ltest);

}  // namespace odefit
