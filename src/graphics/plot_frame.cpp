#include "graphics/plot_frame.h"

#include <cmath>
#include <limits>

namespace odefit {

std::string Field(std::string_view text, int width) {
  std::string field(text.substr(0, static_cast<std::size_t>(width)));
  field.resize(static_cast<std::size_t>(width), ' ');
  return field;
}

void DrawPlotFrame(GraphicsLayer& layer, int x1, int y1, int x2, int y2, int nx, int ny,
                   const PlotFrameTexts& texts) {
  layer.DrawRectangleOutline(x1, y1, x2, y2);
  if (nx >= 2) {
    const int W = x2 - x1;
    const int H = y2 - y1;
    for (int k = 1; k <= nx - 1; ++k) {
      const int xt = x1 + (k * W) / nx;
      layer.MoveTo(xt, y2 - 3);
      layer.LineTo(xt, y2 + 3);
      if (ny == 0) continue;
      const int yt = y1 + (k * H) / ny;
      layer.MoveTo(x1 - 3, yt);
      layer.LineTo(x1 + 3, yt);
    }
  }
  const auto axisText = [&](int x, int y, std::string_view text) {
    layer.MoveTo(x, y);
    layer.DrawText(Field(Field(text, kAxisFieldWidth), kAxisTextDrawn));
  };
  axisText(x1, y2 + 5, texts.horizontalLow);
  axisText((x1 + x2) / 2 - 12, y2 + 5, texts.horizontalName);
  axisText(x2 - 24, y2 + 5, texts.horizontalHigh);
  axisText(x1 - 30, y2 - 16, texts.verticalLow);
  axisText(x1 - 30, (y1 + y2) / 2 - 8, texts.verticalName);
  axisText(x1 - 30, y1, texts.verticalHigh);
  layer.MoveTo(x1 + 10, y1 - 20);
  layer.DrawText(Field(texts.title, kTitleFieldWidth));
}

namespace {

// The widened range of `count` values `stride` apart, starting at `first`.
AxisRange StridedRange(const double* first, std::size_t count, std::size_t stride) {
  double mn = std::numeric_limits<double>::infinity();
  double mx = -std::numeric_limits<double>::infinity();
  for (std::size_t n = 0; n < count; ++n) {
    const double v = first[n * stride];
    if (v < mn) mn = v;
    if (v > mx) mx = v;
  }
  if (mn > mx) return {};
  const double d = (mx - mn) * 0.1;
  return {mn - d, mx + d};
}

}  // namespace

AxisRange PlotRange(std::span<const double> values) { return StridedRange(values.data(), values.size(), 1); }

AxisRange PlotRangeOfRow(std::span<const double> array, int rows, int columns, int row) {
  if (rows < 1 || columns < 1 || row < 1 || row > rows) return {};
  const std::size_t ld = static_cast<std::size_t>(rows);
  const std::size_t count = static_cast<std::size_t>(columns);
  if (array.size() < (count - 1) * ld + static_cast<std::size_t>(row)) return {};
  return StridedRange(array.data() + (row - 1), count, ld);
}

double PlotFraction(double a, const AxisRange& range, double whenDegenerate) {
  const double span = range.hi - range.lo;
  if (span == 0.0) return whenDegenerate;
  return (a - range.lo) / span;
}

int AxisPixelOffset(int L, double f) {
  const double scaled = L * f;
  if (!(scaled > -32769.0)) return -kOffSurfaceOffset;  // also NaN
  if (!(scaled < 32768.0)) return kOffSurfaceOffset;
  return static_cast<int>(scaled);  // truncates toward zero
}

}  // namespace odefit
