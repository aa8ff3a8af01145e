#include "integration/efficiency_plot.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "format/fixed_format.h"
#include "graphics/palette.h"

namespace odefit {
namespace {

constexpr int kPanels = 3;
constexpr const char* kSeriesTitles[] = {"Prediction of the 1st variable", "Prediction of the 2nd variable",
                                         "Prediction of the 3rd variable"};
constexpr const char* kErrorTitles[] = {"Prediction error (1st variable)", "Prediction error (2nd variable)",
                                        "Prediction error (3rd variable)"};
constexpr const char* kValueNames[] = {"x1", "x2", "x3"};
constexpr const char* kErrorNames[] = {"e1", "e2", "e3"};

std::string ValueText(double v) { return fixed::FormatF(v, 5, 1); }

// The observed series' offset in a panel: trunc(150 * (a - lo) / (hi - lo)),
// the product first; 0 (the bottom edge, which is never drawn) for lo = hi.
int ObservedSeriesOffset(double a, const AxisRange& range) {
  const double span = range.hi - range.lo;
  if (span == 0.0) return 0;
  return AxisPixelOffset(1, kPanelHeight * (a - range.lo) / span);
}

}  // namespace

int SeriesPanelX(int k, int Ltest) {
  return kSeriesLeft + static_cast<int>((std::int64_t{k - 1} * kPanelWidth) / Ltest);
}

int ErrorCurveX(int j, int Ltest) {
  const float r = 1.0f / static_cast<float>(Ltest);
  const float p = static_cast<float>(j) * r;
  const float s = p * 200.0f;
  return kErrorLeft + static_cast<int>(s);
}

void DrawEfficiencyWindow(GraphicsLayer& layer, std::span<const double> TestSeries,
                          std::span<const double> TestDerivatives, int D, int Ntest, int Ltest, double dt) {
  if (D < 1 || Ntest < 1 || Ltest < 1) return;
  std::vector<AxisRange> range;
  for (int i = 1; i <= D; ++i) range.push_back(PlotRangeOfRow(TestSeries, D, Ntest, i));
  const AxisRange derivativeRange = PlotRangeOfRow(TestDerivatives, D, Ntest, 1);
  const int panels = std::min(D, kPanels);

  PrepareGraphicsWindow(layer, EfficiencyWindow, kEfficiencyTitle);

  // The orbits show x1 against x2, or x1 against its derivative when D = 1.
  const AxisRange& vertical = D >= 2 ? range[1] : derivativeRange;
  const std::string hLow = ValueText(range[0].lo), hHigh = ValueText(range[0].hi);
  const std::string vLow = ValueText(vertical.lo), vHigh = ValueText(vertical.hi);
  const char* vName = D >= 2 ? "x2" : "dx1";
  DrawPlotFrame(layer, kOrbitLeft, kObservedOrbitBottom - kOrbitSize, kOrbitLeft + kOrbitSize, kObservedOrbitBottom,
                10, 10, {hLow, "x1", hHigh, vLow, vName, vHigh, "Original phase orbit"});
  DrawPlotFrame(layer, kOrbitLeft, kModelOrbitBottom - kOrbitSize, kOrbitLeft + kOrbitSize, kModelOrbitBottom, 10,
                10, {hLow, "x1", hHigh, vLow, vName, vHigh, "Model phase orbit"});
  const std::string timeHigh = fixed::FormatF(Ltest * dt, 8, 3);
  for (int i = 0; i < panels; ++i) {
    const int bottom = kPanelBottom[static_cast<std::size_t>(i)];
    DrawPlotFrame(layer, kSeriesLeft, bottom - kPanelHeight, kSeriesLeft + kPanelWidth, bottom, 10, 10,
                  {"0.0", "t", timeHigh, ValueText(range[static_cast<std::size_t>(i)].lo), kValueNames[i],
                   ValueText(range[static_cast<std::size_t>(i)].hi), kSeriesTitles[i]});
  }
  for (int i = 0; i < panels; ++i) {
    const int bottom = kPanelBottom[static_cast<std::size_t>(i)];
    DrawPlotFrame(layer, kErrorLeft, bottom - kPanelHeight, kErrorLeft + kPanelWidth, bottom, 10, 10,
                  {"0.0", "t", timeHigh, "0.0", kErrorNames[i], "1.0", kErrorTitles[i]});
  }

  const std::size_t ld = static_cast<std::size_t>(D);
  for (int k = 1; k <= Ntest; ++k) {
    const std::size_t column = static_cast<std::size_t>(k - 1) * ld;
    const double u = OrbitFraction(TestSeries[column], range[0]);
    const double v = D >= 2 ? OrbitFraction(TestSeries[column + 1], range[1])
                            : OrbitFraction(TestDerivatives[column], derivativeRange);
    const int X = kOrbitLeft + AxisPixelOffset(kOrbitSize, u);
    const int Y = kObservedOrbitBottom - AxisPixelOffset(kOrbitSize, v);
    if (X > kOrbitLeft && X < kOrbitLeft + kOrbitSize && Y > kObservedOrbitBottom - kOrbitSize &&
        Y < kObservedOrbitBottom) {
      layer.SetPixel(X, Y);
    }
    if (k > Ltest + 1) continue;
    const int x = SeriesPanelX(k, Ltest);
    for (int i = 0; i < panels; ++i) {
      const int bottom = kPanelBottom[static_cast<std::size_t>(i)];
      const int y = bottom - ObservedSeriesOffset(TestSeries[column + static_cast<std::size_t>(i)],
                                                  range[static_cast<std::size_t>(i)]);
      if (y > bottom - kPanelHeight && y < bottom) layer.SetPixel(x, y);
    }
  }
  layer.SetDrawColour(kBrightRed);
}

void DrawPredictionErrorCurves(GraphicsLayer& layer, std::span<const double> PredictionError, int D, int Ltest) {
  const int panels = std::min(D, kPanels);
  const std::size_t ld = static_cast<std::size_t>(D);
  for (int j = 1; j <= Ltest; ++j) {
    const int x = ErrorCurveX(j, Ltest);
    for (int i = 0; i < panels; ++i) {
      const double e = PredictionError[static_cast<std::size_t>(i) + static_cast<std::size_t>(j - 1) * ld];
      if (e >= 0.0 && e <= 1.0) layer.SetPixel(x, PanelY(kPanelBottom[static_cast<std::size_t>(i)], e));
    }
  }
}

}  // namespace odefit
