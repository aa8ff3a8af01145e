#pragma once
// Figures for reports: panels (Axes) with data coordinates, ticks at 1-2-5
// steps or at decades, axis titles, legends and reference lines, laid out on
// a Figure that is drawn on any Canvas, so one drawing yields a PNG and an
// SVG file alike.
//
// An axis takes its range from what is drawn on it (with a margin, so that
// no point lies on the frame) unless a range is set. Lines are clipped to
// the panel; NaN values break a line.

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "graphics/canvas.h"

namespace odefit {

struct PanelBox {
  double left = 0, top = 0, right = 0, bottom = 0;  // the frame, in pixels
};

struct DataRange {
  double lo = 0.0, hi = 1.0;
};

// The ticks of an axis: positions and their labels (empty for minor ticks).
struct Tick {
  double value = 0.0;
  std::string label;
};

// About `target` ticks at a step of 1, 2 or 5 times a power of ten inside
// [lo, hi], labelled with the decimals the step needs; the step is at least
// `minimumStep` (1 for counts).
std::vector<Tick> LinearTicks(double lo, double hi, int target = 6, double minimumStep = 0.0);
// Ticks at the decades inside [10^lo, 10^hi] (lo, hi are exponents), minor
// ticks at 2..9 times them; when fewer than two decades lie inside, 2 and 5
// times them are labelled too.
std::vector<Tick> LogTicks(double lo, double hi);
// A number as a tick label: `decimals` after the point, or in exponent form
// for magnitudes below 1e-4 or from 1e6.
std::string TickLabel(double value, int decimals);

class Axes {
 public:
  explicit Axes(PanelBox box) : box_(box) {}

  void SetTitle(std::string title) { title_ = std::move(title); }
  void SetXLabel(std::string label) { xLabel_ = std::move(label); }
  void SetYLabel(std::string label) { yLabel_ = std::move(label); }
  void SetXLog(bool on) { xLog_ = on; }
  void SetYLog(bool on) { yLog_ = on; }
  // Ticks on whole numbers only, for counts.
  void SetXCounts(bool on) { xCounts_ = on; }
  void SetXRange(double lo, double hi) { xFixed_ = DataRange{lo, hi}; }
  void SetYRange(double lo, double hi) { yFixed_ = DataRange{lo, hi}; }
  // Widens the automatic vertical range to hold `y`.
  void IncludeY(double y) { yExtra_.push_back(y); }
  void ShowLegend(bool on = true) { legend_ = on; }

  // A line through (x[k], y[k]); `label` names it in the legend.
  void Line(std::span<const double> x, std::span<const double> y, Stroke stroke, std::string label = {});
  // A marker at every (x[k], y[k]).
  void Points(std::span<const double> x, std::span<const double> y, MarkerShape shape, double size, int colour,
              std::string label = {});
  // A line across the panel at height y or at abscissa x.
  void HorizontalLine(double y, Stroke stroke, std::string label = {});
  void VerticalLine(double x, Stroke stroke, std::string label = {});
  // A text beside the data point (x, y), on the side with more room.
  void Note(double x, double y, std::string text, int colour);

  // Draws the panel; `fonts` measures the texts.
  void Draw(Canvas& canvas, FigureFonts& fonts) const;

  // The pixel of a data point, once the ranges are known (after Draw or Ranges()).
  CanvasPoint Pixel(double x, double y) const;

 private:
  struct Layer {
    std::vector<double> x, y;
    std::optional<Stroke> stroke;
    MarkerShape shape = MarkerShape::Disk;
    double size = 0.0;  // > 0: markers
    int colour = 0;
    std::string label;
    enum class Kind { Data, Horizontal, Vertical } kind = Kind::Data;
  };
  struct Annotation {
    double x, y;
    std::string text;
    int colour;
  };
  void Ranges() const;
  void DrawAxes(Canvas& canvas, FigureFonts& fonts) const;
  void DrawLayer(Canvas& canvas, const Layer& layer) const;
  struct LegendPlace {
    CanvasPoint at;  // top-left corner
    double width = 0.0, height = 0.0;
    std::size_t covered = static_cast<std::size_t>(-1);  // data points under it
  };
  LegendPlace PlaceLegend(FigureFonts& fonts) const;
  void MakeRoomForLegend(FigureFonts& fonts) const;
  void DrawLegend(Canvas& canvas, FigureFonts& fonts) const;
  void DrawNote(Canvas& canvas, FigureFonts& fonts, const Annotation& note) const;
  // The number of data points drawn inside `rect` (pixels).
  std::size_t Covered(const PanelBox& rect) const;

  PanelBox box_;
  std::string title_, xLabel_, yLabel_;
  bool xLog_ = false, yLog_ = false, xCounts_ = false, legend_ = false;
  std::optional<DataRange> xFixed_, yFixed_;
  std::vector<double> yExtra_;
  std::vector<Layer> layers_;
  std::vector<Annotation> notes_;
  mutable DataRange x_, y_;  // in log10 units on a log axis
};

class Figure {
 public:
  Figure(int width, int height) : width_(width), height_(height) {}
  int Width() const { return width_; }
  int Height() const { return height_; }

  // A title over the figure and a smaller line under it.
  void SetTitle(std::string title, std::string subtitle = {});
  // Adds a panel whose frame is `box`; the reference stays valid.
  Axes& Add(PanelBox box);

  void Draw(Canvas& canvas, FigureFonts& fonts) const;
  // The figure as the bytes of a PNG file (16 colours) or as SVG text.
  std::vector<std::uint8_t> Png() const;
  std::string Svg() const;

 private:
  int width_, height_;
  std::string title_, subtitle_;
  std::deque<Axes> axes_;
};

// The frame of panel (row, column) of a grid of rows x columns panels that
// fills the figure below `top`, leaving room for tick labels and axis titles.
PanelBox GridPanel(int width, int height, int top, int rows, int columns, int row, int column);

}  // namespace odefit
