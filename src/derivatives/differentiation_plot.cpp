#include "derivatives/differentiation_plot.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "derivatives/differentiation.h"
#include "format/fixed_format.h"
#include "graphics/palette.h"
#include "graphics/plot_frame.h"

namespace odefit {
namespace {

constexpr int kPanelWidth = 300;
constexpr int kPanelHeight = 90;
constexpr int kDrawnVariables = 4;
constexpr const char* kValueLabels[] = {"v1", "v2", "v3", "v4"};
constexpr const char* kDerivativeLabels[] = {"dv1", "dv2", "dv3", "dv4"};

}  // namespace

PanelFrame DifferentiationPanel(int i, bool derivative) {
  const int left = i <= 2 ? 50 : 450;
  const int top = ((i - 1) % 2) * 300 + (derivative ? 180 : 30);
  return {left, top, left + kPanelWidth, top + kPanelHeight};
}

int DifferentiationTimeOffset(int k, int n) {
  const float r = 1.0f / static_cast<float>(n);
  return static_cast<int>(std::trunc(static_cast<double>(k) * static_cast<double>(r) * 300.0));
}

void DrawDifferentiationPlots(GraphicsLayer& layer, std::span<const double> TrainSeries,
                              std::span<const double> TrainDerivatives, int D, int Nfit, double dt) {
  const int drawn = std::min(D, kDrawnVariables);
  std::vector<AxisRange> valueRange, derivativeRange;
  for (int i = 1; i <= drawn; ++i) {
    valueRange.push_back(PlotRangeOfRow(TrainSeries, D, Nfit, i));
    derivativeRange.push_back(PlotRangeOfRow(TrainDerivatives, D, Nfit, i));
  }
  const int n = std::min(Nfit, kMaxPlottedPoints);

  PrepareGraphicsWindow(layer, DifferentiationWindow, kDifferentiationTitle);
  const std::string timeHigh = fixed::FormatF(n * dt, 8, 3);
  for (int i = 1; i <= drawn; ++i) {
    for (const bool derivative : {false, true}) {
      const PanelFrame f = DifferentiationPanel(i, derivative);
      const AxisRange& range = (derivative ? derivativeRange : valueRange)[static_cast<std::size_t>(i - 1)];
      const std::string low = fixed::FormatF(range.lo, 5, 1);
      const std::string high = fixed::FormatF(range.hi, 5, 1);
      DrawPlotFrame(layer, f.x1, f.y1, f.x2, f.y2, 10, 10,
                    {"0.0", "t", timeHigh, low, (derivative ? kDerivativeLabels : kValueLabels)[i - 1], high, ""});
    }
  }

  const std::size_t ld = static_cast<std::size_t>(D);
  for (int k = 1; k <= n; ++k) {
    const int t = DifferentiationTimeOffset(k, n);
    const std::size_t column = static_cast<std::size_t>(k - 1) * ld;
    for (int i = 1; i <= drawn; ++i) {
      for (const bool derivative : {false, true}) {
        const PanelFrame f = DifferentiationPanel(i, derivative);
        const AxisRange& range = (derivative ? derivativeRange : valueRange)[static_cast<std::size_t>(i - 1)];
        const double a = (derivative ? TrainDerivatives : TrainSeries)[column + static_cast<std::size_t>(i - 1)];
        layer.SetPixel(f.x1 + t, VerticalPixel(f.y2, kPanelHeight, PlotFraction(a, range)));
      }
    }
  }
}

void DifferentiateAndPlot(GraphicsLayer& layer, std::span<const double> TimeSeries, int D, int Ntrain, int m,
                          double dt, std::span<double> TrainSeries, std::span<double> TrainDerivatives) {
  const int Nfit = Ntrain - m + 1;
  const std::size_t ld = static_cast<std::size_t>(D);
  std::vector<double> component(static_cast<std::size_t>(Ntrain));
  std::vector<double> values(static_cast<std::size_t>(Nfit)), derivatives(static_cast<std::size_t>(Nfit));
  for (std::size_t i = 0; i < ld; ++i) {
    for (std::size_t n = 0; n < component.size(); ++n) component[n] = TimeSeries[i + n * ld];
    DifferentiateSeries(component, Ntrain, m, 1, dt, values, derivatives);
    for (std::size_t n = 0; n < values.size(); ++n) {
      TrainSeries[i + n * ld] = values[n];
      TrainDerivatives[i + n * ld] = derivatives[n];
    }
  }
  DrawDifferentiationPlots(layer, TrainSeries, TrainDerivatives, D, Nfit, dt);
}

}  // namespace odefit
