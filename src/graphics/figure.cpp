#include "graphics/figure.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "graphics/palette.h"
#include "graphics/png_file.h"

namespace odefit {
namespace {

constexpr int kGrey = 8;
constexpr int kTickSize = 12;    // tick labels, legends, notes
constexpr int kLabelSize = 12;   // axis titles and the subtitle (13 to 15 pixels hint the digit 0 badly)
constexpr int kTitleSize = 14;   // panel titles

// The exponent form without a plus sign or leading zeros: 1e6, 2.5e-5.
std::string ShortExponent(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 3);
  std::string s(text, result.ptr);
  const std::size_t e = s.find('e');
  std::string mantissa = s.substr(0, e), exponent = s.substr(e + 1);
  if (mantissa.find('.') != std::string::npos) {
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
  }
  const bool negative = exponent[0] == '-';
  exponent.erase(0, 1);
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return mantissa + "e" + (negative ? "-" : "") + exponent;
}

// Cuts the segment a-b to the box; false when nothing of it is inside.
bool ClipToBox(CanvasPoint& a, CanvasPoint& b, const PanelBox& box) {
  double t0 = 0.0, t1 = 1.0;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const std::array<double, 4> p = {-dx, dx, -dy, dy};
  const std::array<double, 4> q = {a.x - box.left, box.right - a.x, a.y - box.top, box.bottom - a.y};
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0.0) {
      if (q[k] < 0.0) return false;
      continue;
    }
    const double r = q[k] / p[k];
    if (p[k] < 0.0) t0 = std::max(t0, r);
    else t1 = std::min(t1, r);
  }
  if (t0 > t1) return false;
  const CanvasPoint start = a;
  a = {start.x + t0 * dx, start.y + t0 * dy};
  b = {start.x + t1 * dx, start.y + t1 * dy};
  return true;
}

DataRange Widened(double lo, double hi, bool log) {
  if (!(lo <= hi)) return log ? DataRange{-1.0, 1.0} : DataRange{0.0, 1.0};
  if (hi - lo <= 1e-12 * std::max(std::abs(lo), std::abs(hi))) {
    const double half = log ? 0.5 : (lo == 0.0 ? 1.0 : 0.1 * std::abs(lo));
    return {lo - half, hi + half};
  }
  const double margin = 0.05 * (hi - lo);  // no point lies on the frame
  return {lo - margin, hi + margin};
}

}  // namespace

std::string TickLabel(double value, int decimals) {
  const double magnitude = std::abs(value);
  if (magnitude == 0.0) value = 0.0;  // never "-0"
  else if (magnitude < 1e-4 || magnitude >= 1e6) return ShortExponent(value);
  char text[48];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, std::max(0, decimals));
  return std::string(text, result.ptr);
}

std::vector<Tick> LinearTicks(double lo, double hi, int target, double minimumStep) {
  std::vector<Tick> ticks;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return ticks;
  const double raw = (hi - lo) / std::max(1, target);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / power;
  const double step =
      std::max(minimumStep, (fraction < 1.5 ? 1.0 : fraction < 3.0 ? 2.0 : fraction < 7.0 ? 5.0 : 10.0) * power);
  const int decimals = static_cast<int>(std::max(0.0, -std::floor(std::log10(step) + 1e-9)));
  for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1.0) {
    const double value = std::abs(k) < 0.5 ? 0.0 : k * step;
    ticks.push_back({value, TickLabel(value, decimals)});
  }
  return ticks;
}

std::vector<Tick> LogTicks(double lo, double hi) {
  std::vector<Tick> ticks;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return ticks;
  const int first = static_cast<int>(std::floor(lo)), last = static_cast<int>(std::ceil(hi));
  int decades = 0;
  for (int k = first; k <= last; ++k) decades += k >= lo && k <= hi ? 1 : 0;
  const int stride = std::max(1, (decades + 6) / 7);  // at most about 7 labelled decades
  // One form for every label: decimals while they stay short, else exponents.
  const bool exponents = std::ceil(lo) < -4.0 || std::floor(hi) > 5.0;
  for (int k = first; k <= last; ++k) {
    for (int m = 1; m <= 9; ++m) {
      const double at = k + std::log10(static_cast<double>(m));
      if (at < lo - 1e-12 || at > hi + 1e-12) continue;
      const bool labelled = (m == 1 && k % stride == 0) || (decades < 2 && (m == 2 || m == 5));
      const double value = m * std::pow(10.0, k);
      const std::string label = exponents ? ShortExponent(value) : TickLabel(value, std::max(0, -k));
      ticks.push_back({at, labelled ? label : std::string()});
    }
  }
  return ticks;
}

// ---------------------------------------------------------------- Axes

void Axes::Line(std::span<const double> x, std::span<const double> y, Stroke stroke, std::string label) {
  Layer layer;
  layer.x.assign(x.begin(), x.end());
  layer.y.assign(y.begin(), y.end());
  layer.x.resize(std::min(x.size(), y.size()));
  layer.y.resize(layer.x.size());
  layer.stroke = stroke;
  layer.colour = stroke.colour;
  layer.label = std::move(label);
  layers_.push_back(std::move(layer));
}

void Axes::Points(std::span<const double> x, std::span<const double> y, MarkerShape shape, double size, int colour,
                  std::string label) {
  Layer layer;
  layer.x.assign(x.begin(), x.end());
  layer.y.assign(y.begin(), y.end());
  layer.x.resize(std::min(x.size(), y.size()));
  layer.y.resize(layer.x.size());
  layer.shape = shape;
  layer.size = size;
  layer.colour = colour;
  layer.label = std::move(label);
  layers_.push_back(std::move(layer));
}

void Axes::HorizontalLine(double y, Stroke stroke, std::string label) {
  Layer layer;
  layer.y = {y};
  layer.stroke = stroke;
  layer.colour = stroke.colour;
  layer.label = std::move(label);
  layer.kind = Layer::Kind::Horizontal;
  layers_.push_back(std::move(layer));
}

void Axes::VerticalLine(double x, Stroke stroke, std::string label) {
  Layer layer;
  layer.x = {x};
  layer.stroke = stroke;
  layer.colour = stroke.colour;
  layer.label = std::move(label);
  layer.kind = Layer::Kind::Vertical;
  layers_.push_back(std::move(layer));
}

void Axes::Note(double x, double y, std::string text, int colour) { notes_.push_back({x, y, std::move(text), colour}); }

void Axes::Ranges() const {
  const auto axis = [](bool log, const std::optional<DataRange>& fixed, auto&& values) {
    const auto scaled = [log](double v) { return log ? (v > 0.0 ? std::log10(v) : std::nan("")) : v; };
    if (fixed) return DataRange{scaled(fixed->lo), scaled(fixed->hi)};
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    values([&](double v) {
      const double s = scaled(v);
      if (std::isfinite(s)) {
        lo = std::min(lo, s);
        hi = std::max(hi, s);
      }
    });
    return Widened(lo, hi, log);
  };
  x_ = axis(xLog_, xFixed_, [&](auto&& take) {
    for (const Layer& l : layers_) {
      if (l.kind != Layer::Kind::Horizontal) for (const double v : l.x) take(v);
    }
    for (const Annotation& n : notes_) take(n.x);
  });
  y_ = axis(yLog_, yFixed_, [&](auto&& take) {
    for (const Layer& l : layers_) {
      if (l.kind != Layer::Kind::Vertical) for (const double v : l.y) take(v);
    }
    for (const Annotation& n : notes_) take(n.y);
    for (const double v : yExtra_) take(v);
  });
}

CanvasPoint Axes::Pixel(double x, double y) const {
  const double u = ((xLog_ ? (x > 0.0 ? std::log10(x) : std::nan("")) : x) - x_.lo) / (x_.hi - x_.lo);
  const double v = ((yLog_ ? (y > 0.0 ? std::log10(y) : std::nan("")) : y) - y_.lo) / (y_.hi - y_.lo);
  return {box_.left + u * (box_.right - box_.left), box_.bottom - v * (box_.bottom - box_.top)};
}

void Axes::DrawLayer(Canvas& canvas, const Layer& layer) const {
  const auto finite = [](CanvasPoint p) { return std::isfinite(p.x) && std::isfinite(p.y); };
  if (layer.kind != Layer::Kind::Data) {
    CanvasPoint a, b;
    if (layer.kind == Layer::Kind::Horizontal) {
      const double y = Pixel(1.0, layer.y[0]).y;
      a = {box_.left, y};
      b = {box_.right, y};
    } else {
      const double x = Pixel(layer.x[0], 1.0).x;
      a = {x, box_.top};
      b = {x, box_.bottom};
    }
    if (finite(a) && finite(b) && ClipToBox(a, b, box_)) canvas.Polyline(std::array{a, b}, *layer.stroke);
    return;
  }
  std::vector<CanvasPoint> pixels(layer.x.size());
  for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = Pixel(layer.x[k], layer.y[k]);
  if (layer.stroke) {
    std::vector<CanvasPoint> run;
    const auto flush = [&] {
      if (run.size() >= 2) canvas.Polyline(run, *layer.stroke);
      run.clear();
    };
    for (std::size_t k = 0; k + 1 < pixels.size(); ++k) {
      CanvasPoint a = pixels[k], b = pixels[k + 1];
      if (!finite(a) || !finite(b) || !ClipToBox(a, b, box_)) {
        flush();
        continue;
      }
      if (run.empty() || run.back().x != a.x || run.back().y != a.y) {
        flush();
        run.push_back(a);
      }
      run.push_back(b);
      if (b.x != pixels[k + 1].x || b.y != pixels[k + 1].y) flush();  // it left the panel
    }
    flush();
  }
  if (layer.size > 0.0) {
    for (const CanvasPoint& p : pixels) {
      if (finite(p) && p.x >= box_.left - 0.5 && p.x <= box_.right + 0.5 && p.y >= box_.top - 0.5 &&
          p.y <= box_.bottom + 0.5) {
        canvas.Marker(p, layer.shape, layer.size, layer.colour);
      }
    }
  }
}

void Axes::DrawAxes(Canvas& canvas, FigureFonts& fonts) const {
  const Stroke frame{kBlack, 1.0, false};
  canvas.Polyline(std::array<CanvasPoint, 5>{CanvasPoint{box_.left, box_.top}, {box_.right, box_.top},
                                             {box_.right, box_.bottom}, {box_.left, box_.bottom},
                                             {box_.left, box_.top}},
                  frame);
  TextStyle tick;
  tick.size = kTickSize;
  // Horizontal ticks; a label that would touch the one before is left out.
  double lastRight = -std::numeric_limits<double>::infinity();
  for (const Tick& t : xLog_ ? LogTicks(x_.lo, x_.hi) : LinearTicks(x_.lo, x_.hi, 6, xCounts_ ? 1.0 : 0.0)) {
    const double px = box_.left + (t.value - x_.lo) / (x_.hi - x_.lo) * (box_.right - box_.left);
    const double length = t.label.empty() && xLog_ ? 2.5 : 4.0;
    canvas.Polyline(std::array{CanvasPoint{px, box_.bottom}, CanvasPoint{px, box_.bottom + length}}, frame);
    if (t.label.empty()) continue;
    const double half = fonts.Width(t.label, kTickSize) / 2.0;
    if (px - half < lastRight + 6.0) continue;
    lastRight = px + half;
    tick.anchor = TextStyle::Anchor::Middle;
    tick.align = TextStyle::Align::Top;
    canvas.Text({px, box_.bottom + 6.0}, t.label, tick);
  }
  int widest = 0;
  double lastTop = std::numeric_limits<double>::infinity();
  for (const Tick& t : yLog_ ? LogTicks(y_.lo, y_.hi) : LinearTicks(y_.lo, y_.hi, 5)) {
    const double py = box_.bottom - (t.value - y_.lo) / (y_.hi - y_.lo) * (box_.bottom - box_.top);
    const double length = t.label.empty() && yLog_ ? 2.5 : 4.0;
    canvas.Polyline(std::array{CanvasPoint{box_.left - length, py}, CanvasPoint{box_.left, py}}, frame);
    if (t.label.empty() || py + kTickSize / 2.0 > lastTop) continue;
    lastTop = py - kTickSize / 2.0 - 2.0;
    widest = std::max(widest, fonts.Width(t.label, kTickSize));
    tick.anchor = TextStyle::Anchor::End;
    tick.align = TextStyle::Align::Middle;
    canvas.Text({box_.left - 6.0, py}, t.label, tick);
  }
  TextStyle label;
  label.size = kLabelSize;
  label.anchor = TextStyle::Anchor::Middle;
  if (!xLabel_.empty()) canvas.Text({(box_.left + box_.right) / 2.0, box_.bottom + 8.0 + kTickSize}, xLabel_, label);
  if (!yLabel_.empty()) {
    label.vertical = true;
    canvas.Text({box_.left - 10.0 - widest - kLabelSize / 2.0, (box_.top + box_.bottom) / 2.0}, yLabel_, label);
  }
  if (!title_.empty()) {
    TextStyle title;
    title.size = kTitleSize;
    title.bold = true;
    title.align = TextStyle::Align::Bottom;
    canvas.Text({box_.left, box_.top - 4.0}, title_, title);
  }
}

namespace {
constexpr double kLegendPad = 5.0, kLegendSample = 24.0, kLegendRow = 16.0;
}  // namespace

Axes::LegendPlace Axes::PlaceLegend(FigureFonts& fonts) const {
  int widest = 0, entries = 0;
  for (const Layer& l : layers_) {
    if (l.label.empty()) continue;
    ++entries;
    widest = std::max(widest, fonts.Width(l.label, kTickSize));
  }
  LegendPlace place;
  if (entries == 0) return place;
  place.width = 3 * kLegendPad + kLegendSample + widest;
  place.height = 2 * kLegendPad + kLegendRow * entries - 2;
  // The corner whose box covers the fewest data points.
  const std::array<CanvasPoint, 4> corners = {CanvasPoint{box_.right - 6 - place.width, box_.top + 6},
                                              {box_.left + 6, box_.top + 6},
                                              {box_.right - 6 - place.width, box_.bottom - 6 - place.height},
                                              {box_.left + 6, box_.bottom - 6 - place.height}};
  for (const CanvasPoint& corner : corners) {
    const std::size_t covered = Covered({corner.x, corner.y, corner.x + place.width, corner.y + place.height});
    if (covered < place.covered) {
      place.covered = covered;
      place.at = corner;
    }
  }
  return place;
}

void Axes::MakeRoomForLegend(FigureFonts& fonts) const {
  const LegendPlace place = PlaceLegend(fonts);
  if (place.covered == 0 || place.height <= 0.0) return;
  // Every corner holds data: raise the top of the vertical axis until the strip the legend needs is free.
  const double share = (place.height + 12.0) / (box_.bottom - box_.top);
  if (share < 0.5) y_.hi += (y_.hi - y_.lo) * share / (1.0 - share);
}

void Axes::DrawLegend(Canvas& canvas, FigureFonts& fonts) const {
  std::vector<const Layer*> entries;
  for (const Layer& l : layers_) {
    if (!l.label.empty()) entries.push_back(&l);
  }
  const LegendPlace place = PlaceLegend(fonts);
  if (entries.empty()) return;
  constexpr double pad = kLegendPad, sample = kLegendSample, row = kLegendRow;
  const double width = place.width, height = place.height;
  const CanvasPoint at = place.at;
  canvas.FillRect(at.x, at.y, at.x + width, at.y + height, kWhite);
  canvas.Polyline(std::array<CanvasPoint, 5>{at, CanvasPoint{at.x + width, at.y}, {at.x + width, at.y + height},
                                             {at.x, at.y + height}, at},
                  {kGrey, 1.0, false});
  TextStyle text;
  text.size = kTickSize;
  text.align = TextStyle::Align::Middle;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const Layer& l = *entries[k];
    const double y = at.y + pad + row * (static_cast<double>(k) + 0.5) - 1;
    if (l.stroke) canvas.Polyline(std::array{CanvasPoint{at.x + pad, y}, CanvasPoint{at.x + pad + sample, y}}, *l.stroke);
    if (l.size > 0.0) canvas.Marker({at.x + pad + sample / 2.0, y}, l.shape, std::min(l.size, 10.0), l.colour);
    canvas.Text({at.x + 2 * pad + sample, y}, l.label, text);
  }
}

std::size_t Axes::Covered(const PanelBox& rect) const {
  std::size_t covered = 0;
  for (const Layer& l : layers_) {
    for (std::size_t k = 0; k < l.x.size() && l.kind == Layer::Kind::Data; ++k) {
      const CanvasPoint p = Pixel(l.x[k], l.y[k]);
      covered += p.x >= rect.left && p.x <= rect.right && p.y >= rect.top && p.y <= rect.bottom;
    }
  }
  return covered;
}

// Of the places diagonally beside (x, y), the nearest one inside the frame
// where the text covers the fewest data points.
void Axes::DrawNote(Canvas& canvas, FigureFonts& fonts, const Annotation& note) const {
  const CanvasPoint p = Pixel(note.x, note.y);
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
  const double width = fonts.Width(note.text, kTickSize), height = kTickSize;
  TextStyle text;
  text.size = kTickSize;
  text.colour = note.colour;
  CanvasPoint at = p;
  double fewest = std::numeric_limits<double>::infinity();
  for (const double distance : {12.0, 28.0, 44.0}) {
    for (const bool left : {false, true}) {
      for (const bool below : {false, true}) {
        const double x = p.x + (left ? -12.0 : 12.0), y = p.y + (below ? distance : -distance);
        const PanelBox rect{left ? x - width : x, below ? y : y - height, left ? x : x + width, below ? y + height : y};
        const bool inside =
            rect.left > box_.left && rect.right < box_.right && rect.top > box_.top && rect.bottom < box_.bottom;
        const double cost = static_cast<double>(Covered(rect)) + (inside ? 0.0 : 1e9) + distance / 100.0;
        if (cost < fewest) {
          fewest = cost;
          text.anchor = left ? TextStyle::Anchor::End : TextStyle::Anchor::Start;
          text.align = below ? TextStyle::Align::Top : TextStyle::Align::Bottom;
          at = {x, y};
        }
      }
    }
  }
  canvas.Text(at, note.text, text);
}

void Axes::Draw(Canvas& canvas, FigureFonts& fonts) const {
  Ranges();
  if (legend_) MakeRoomForLegend(fonts);
  for (const Layer& layer : layers_) DrawLayer(canvas, layer);
  DrawAxes(canvas, fonts);
  if (legend_) DrawLegend(canvas, fonts);
  for (const Annotation& note : notes_) DrawNote(canvas, fonts, note);
}

// ---------------------------------------------------------------- Figure

void Figure::SetTitle(std::string title, std::string subtitle) {
  title_ = std::move(title);
  subtitle_ = std::move(subtitle);
}

Axes& Figure::Add(PanelBox box) { return axes_.emplace_back(box); }

void Figure::Draw(Canvas& canvas, FigureFonts& fonts) const {
  canvas.FillRect(0, 0, width_ - 1, height_ - 1, kWhite);
  TextStyle style;
  style.anchor = TextStyle::Anchor::Middle;
  if (!title_.empty()) {
    style.size = 17;
    style.bold = true;
    canvas.Text({width_ / 2.0, 8.0}, title_, style);
  }
  if (!subtitle_.empty()) {
    style.size = kLabelSize;
    style.bold = false;
    style.colour = kGrey;
    canvas.Text({width_ / 2.0, 30.0}, subtitle_, style);
  }
  for (const Axes& axes : axes_) axes.Draw(canvas, fonts);
}

std::vector<std::uint8_t> Figure::Png() const {
  DrawingSurface surface(width_, height_, kWhite);
  FigureFonts fonts;
  RasterCanvas canvas(surface, fonts);
  Draw(canvas, fonts);
  std::string error;
  std::optional<std::vector<std::uint8_t>> png = EncodePng(surface, PngColourType::Indexed, &error);
  if (!png) throw std::runtime_error("cannot encode the picture: " + error);
  return std::move(*png);
}

std::string Figure::Svg() const {
  FigureFonts fonts;
  SvgCanvas canvas(width_, height_);
  Draw(canvas, fonts);
  return canvas.Document();
}

PanelBox GridPanel(int width, int height, int top, int rows, int columns, int row, int column) {
  const double cellWidth = static_cast<double>(width) / columns;
  const double cellHeight = static_cast<double>(height - top) / rows;
  return {column * cellWidth + 82.0, top + row * cellHeight + 28.0, (column + 1) * cellWidth - 22.0,
          top + (row + 1) * cellHeight - 46.0};
}

}  // namespace odefit
