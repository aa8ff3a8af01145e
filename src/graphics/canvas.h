#pragma once
// Where figures are drawn: a canvas takes lines, markers, rectangles and
// text in pixel coordinates (origin top-left, y down, fractions allowed) and
// puts them either on an indexed DrawingSurface (for PNG files) or into an
// SVG document. Figure code draws once against Canvas and gets both.
//
// Colours are indices into Palette16 on both canvases, so a PNG and an SVG
// of one figure show the same colours. Text is measured with the same fonts
// on both (FigureFonts), so the layout does not depend on the canvas.

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "graphics/drawing_surface.h"
#include "graphics/fonts.h"

namespace odefit {

struct CanvasPoint {
  double x = 0.0;
  double y = 0.0;
};

struct Stroke {
  int colour = 0;
  double width = 1.0;
  bool dashed = false;
};

enum class MarkerShape { Disk, Ring, Square, Diamond, Triangle, Cross, Plus };

struct TextStyle {
  enum class Anchor { Start, Middle, End };  // where (x, y) lies along the text
  enum class Align { Top, Middle, Bottom };  // where (x, y) lies across it
  int size = 13;  // the character cell's height in pixels
  int colour = 0;
  bool bold = false;
  Anchor anchor = Anchor::Start;
  Align align = Align::Top;
  bool vertical = false;  // read from bottom to top, centred on (x, y) across the text
};

// The fonts of figure text (a sans-serif typeface, regular and bold, at
// any cell height), opened on first use. Not thread-safe: one per figure
// being drawn.
class FigureFonts {
 public:
  FigureFonts();
  // The advance of `text` in pixels at `size`.
  int Width(std::string_view text, int size, bool bold = false);
  const Font& Get(int size, bool bold);

 private:
  FontCatalogue catalogue_;
  int regular_ = -1, bold_ = -1;  // entries of the catalogue; -1: none installed
  std::map<std::pair<int, bool>, Font> open_;
};

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void Polyline(std::span<const CanvasPoint> points, const Stroke& stroke) = 0;
  virtual void FillRect(double left, double top, double right, double bottom, int colour) = 0;
  // A marker of `size` pixels across, centred on `at`.
  virtual void Marker(CanvasPoint at, MarkerShape shape, double size, int colour) = 0;
  virtual void Text(CanvasPoint at, std::string_view text, const TextStyle& style) = 0;

 protected:
  // A cross or plus marker as two strokes, the same on every canvas.
  void StrokedMarker(CanvasPoint at, MarkerShape shape, double size, int colour);
};

// Draws on an indexed surface: lines without smoothing, text as the fonts
// render it in one colour.
class RasterCanvas final : public Canvas {
 public:
  RasterCanvas(DrawingSurface& surface, FigureFonts& fonts) : surface_(surface), fonts_(fonts) {}
  void Polyline(std::span<const CanvasPoint> points, const Stroke& stroke) override;
  void FillRect(double left, double top, double right, double bottom, int colour) override;
  void Marker(CanvasPoint at, MarkerShape shape, double size, int colour) override;
  void Text(CanvasPoint at, std::string_view text, const TextStyle& style) override;

 private:
  void Dot(int x, int y, int width, int colour);
  DrawingSurface& surface_;
  FigureFonts& fonts_;
};

// Writes an SVG 1.1 document; Document() returns it whole.
class SvgCanvas final : public Canvas {
 public:
  SvgCanvas(int width, int height);
  void Polyline(std::span<const CanvasPoint> points, const Stroke& stroke) override;
  void FillRect(double left, double top, double right, double bottom, int colour) override;
  void Marker(CanvasPoint at, MarkerShape shape, double size, int colour) override;
  void Text(CanvasPoint at, std::string_view text, const TextStyle& style) override;
  std::string Document() const { return body_ + "</svg>\n"; }

 private:
  std::string body_;
};

// The SVG colour of palette index `colour`: "#rrggbb".
std::string SvgColour(int colour);
// `text` (bytes read as Latin-1, as the fonts read them) as XML character data.
std::string XmlEscaped(std::string_view text);

}  // namespace odefit
