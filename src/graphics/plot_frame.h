#pragma once
// The common look of every plot: a frame with nine ticks on its bottom and
// left edges and seven texts around it, the widened range of an axis, and
// the rule that turns a value into a pixel.

#include <span>
#include <string>
#include <string_view>

#include "graphics/graphics_layer.h"

namespace odefit {

// The texts around a frame. The six axis texts are 20-character fields of
// which the first 10 characters are drawn, blanks included; the title is a
// 100-character field, drawn whole. Shorter texts are padded with blanks.
struct PlotFrameTexts {
  std::string_view horizontalLow;   // left end of the horizontal axis
  std::string_view horizontalName;  // under the middle of the horizontal axis
  std::string_view horizontalHigh;  // right end of the horizontal axis
  std::string_view verticalLow;     // beside the bottom of the vertical axis
  std::string_view verticalName;    // beside the middle of the vertical axis
  std::string_view verticalHigh;    // beside the top of the vertical axis
  std::string_view title;           // above the frame
};

inline constexpr int kAxisFieldWidth = 20;
inline constexpr int kAxisTextDrawn = 10;
inline constexpr int kTitleFieldWidth = 100;

// Returns `text` blank-padded or cut to `width` characters.
std::string Field(std::string_view text, int width);

// Draws in the current window, colour and font: the outline (x1, y1)-(x2, y2);
// when nx >= 2, nx - 1 ticks of 7 pixels across the bottom edge at
// x1 + (k*W) div nx and across the left edge at y1 + (k*H) div ny; then the
// texts in the order of PlotFrameTexts, each with its top-left corner at:
//   horizontal low (x1, y2+5), name ((x1+x2) div 2 - 12, y2+5), high (x2-24, y2+5),
//   vertical low (x1-30, y2-16), name (x1-30, (y1+y2) div 2 - 8), high (x1-30, y1),
//   title (x1+10, y1-20).
void DrawPlotFrame(GraphicsLayer& layer, int x1, int y1, int x2, int y2, int nx, int ny,
                   const PlotFrameTexts& texts);

// The ends of a plot axis.
struct AxisRange {
  double lo = 0.0;
  double hi = 0.0;
  bool Degenerate() const { return hi - lo == 0.0; }
  friend bool operator==(const AxisRange&, const AxisRange&) = default;
};

// Returns the widened range of `values`: min - d and max + d with
// d = (max - min) * 0.1, so the data fill the middle five sixths of the axis.
// NaNs are passed over; no values give (0, 0).
AxisRange PlotRange(std::span<const double> values);

// Returns PlotRange of row `row` (1-based) of a rows x columns array stored by
// columns with leading dimension `rows`.
AxisRange PlotRangeOfRow(std::span<const double> array, int rows, int columns, int row);

// Returns (a - lo) / (hi - lo), or `whenDegenerate` when lo = hi: plots put
// such points on the bottom edge (0), orbit boxes in the middle (0.5).
double PlotFraction(double a, const AxisRange& range, double whenDegenerate = 0.0);

// An offset that lands off every surface, given for results that are not
// finite numbers or that no 16-bit coordinate can hold.
inline constexpr int kOffSurfaceOffset = 1 << 24;

// Returns trunc(L * f), truncation toward zero, computed in double; values
// outside the 16-bit range and non-finite values give +-kOffSurfaceOffset.
int AxisPixelOffset(int L, double f);

// Horizontal axis starting at pixel x1 and spanning L pixels: x1 + trunc(L * f).
inline int HorizontalPixel(int x1, int L, double f) { return x1 + AxisPixelOffset(L, f); }
// Vertical axis with its bottom at pixel y2, spanning L pixels: y2 - trunc(L * f).
inline int VerticalPixel(int y2, int L, double f) { return y2 - AxisPixelOffset(L, f); }

}  // namespace odefit
