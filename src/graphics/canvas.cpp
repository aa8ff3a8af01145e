#include "graphics/canvas.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

#include "graphics/palette.h"

namespace odefit {
namespace {

// Liberation Sans (or Arial where installed): the cell of a `size`-pixel
// font is its ascent plus descent, 1.117 em, of which 0.905 em is ascent.
constexpr double kEmPerCell = 0.895;
constexpr double kAscentPerCell = 0.81;

int Rounded(double v) { return static_cast<int>(std::lround(v)); }

std::string Number(double v) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, std::round(v * 100.0) / 100.0, std::chars_format::fixed);
  return std::string(text, result.ptr);
}

// The outline of a marker around the origin, `r` its half-size.
std::vector<CanvasPoint> Outline(MarkerShape shape, double r) {
  switch (shape) {
    case MarkerShape::Square: return {{-r, -r}, {r, -r}, {r, r}, {-r, r}};
    case MarkerShape::Diamond: return {{0, -r}, {r, 0}, {0, r}, {-r, 0}};
    case MarkerShape::Triangle: return {{0, -r}, {r, 0.8 * r}, {-r, 0.8 * r}};
    default: return {};
  }
}

bool ValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) >> 6) != 2) return false;
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- fonts

FigureFonts::FigureFonts() {
#if defined(ODEFIT_FIGURE_FONT_REGULAR) && defined(ODEFIT_FIGURE_FONT_BOLD)
  // Arial's substitute at the place the build found it, while it is there:
  // what fontconfig picks where no Arial is installed, without loading its
  // configuration.
  std::error_code error;
  if (std::filesystem::is_regular_file(ODEFIT_FIGURE_FONT_REGULAR, error) &&
      std::filesystem::is_regular_file(ODEFIT_FIGURE_FONT_BOLD, error)) {
    const auto entry = [](const char* file, const char* style, int weight) {
      FontEntry e;
      e.families = {"Liberation Sans"};
      e.style = style;
      e.file = file;
      e.weight = weight;
      return e;
    };
    regular_ = catalogue_.AddFile(entry(ODEFIT_FIGURE_FONT_REGULAR, "Regular", 80));
    bold_ = catalogue_.AddFile(entry(ODEFIT_FIGURE_FONT_BOLD, "Bold", 200));
    return;
  }
#endif
  catalogue_.Build();
  FontRequest request;
  request.typeface = "Arial";
  request.pitch = FontPitch::Proportional;
  request.bestFit = true;
  regular_ = catalogue_.Match(request);
  request.bold = true;
  bold_ = catalogue_.Match(request);
}

const Font& FigureFonts::Get(int size, bool bold) {
  const auto key = std::pair{size, bold};
  auto found = open_.find(key);
  if (found == open_.end()) {
    FontRequest request;
    request.typeface = "Arial";
    request.height = size;
    request.bold = bold;
    found = open_.emplace(key, catalogue_.Open(bold ? bold_ : regular_, request)).first;
  }
  return found->second;
}

int FigureFonts::Width(std::string_view text, int size, bool bold) { return Get(size, bold).TextWidth(text); }

// ---------------------------------------------------------------- raster

void RasterCanvas::Dot(int x, int y, int width, int colour) {
  const int from = -(width - 1) / 2;
  for (int dy = from; dy < from + width; ++dy) {
    for (int dx = from; dx < from + width; ++dx) {
      if (surface_.Contains(x + dx, y + dy)) surface_.Set(x + dx, y + dy, colour);
    }
  }
}

void RasterCanvas::Polyline(std::span<const CanvasPoint> points, const Stroke& stroke) {
  const int width = std::max(1, Rounded(stroke.width));
  double travelled = 0.0;  // along the line, for the dashes: 6 pixels drawn, 4 left out
  for (std::size_t k = 0; k + 1 < points.size() || (k == 0 && points.size() == 1); ++k) {
    const CanvasPoint a = points[k], b = points.size() == 1 ? a : points[k + 1];
    int x = Rounded(a.x), y = Rounded(a.y);
    const int x2 = Rounded(b.x), y2 = Rounded(b.y);
    const int dx = std::abs(x2 - x), dy = -std::abs(y2 - y), sx = x < x2 ? 1 : -1, sy = y < y2 ? 1 : -1;
    int error = dx + dy;
    while (true) {
      if (!stroke.dashed || std::fmod(travelled, 10.0) < 6.0) Dot(x, y, width, stroke.colour);
      if (x == x2 && y == y2) break;
      const int twice = 2 * error;
      int moved = 0;
      if (twice >= dy) {
        error += dy;
        x += sx;
        ++moved;
      }
      if (twice <= dx) {
        error += dx;
        y += sy;
        ++moved;
      }
      travelled += moved == 2 ? 1.414 : 1.0;
    }
  }
}

void RasterCanvas::FillRect(double left, double top, double right, double bottom, int colour) {
  // The corners rounded once and clipped to the surface (a figure's
  // background is most of its pixels).
  const int x0 = std::max(Rounded(left), 0), x1 = std::min(Rounded(right), surface_.Width() - 1);
  const int y0 = std::max(Rounded(top), 0), y1 = std::min(Rounded(bottom), surface_.Height() - 1);
  if (x0 > x1) return;
  const std::span<std::uint8_t> pixels = surface_.Pixels();
  for (int y = y0; y <= y1; ++y) {
    std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(y) * surface_.Width() + x0, x1 - x0 + 1,
                static_cast<std::uint8_t>(colour));
  }
}

void Canvas::StrokedMarker(CanvasPoint at, MarkerShape shape, double size, int colour) {
  const double r = size / 2.0;
  const bool plus = shape == MarkerShape::Plus;
  const double s = plus ? r : r * 0.75;
  const std::array<CanvasPoint, 2> one = {CanvasPoint{at.x - s, at.y - (plus ? 0 : s)},
                                          CanvasPoint{at.x + s, at.y + (plus ? 0 : s)}};
  const std::array<CanvasPoint, 2> two = {CanvasPoint{at.x - (plus ? 0 : s), at.y + s},
                                          CanvasPoint{at.x + (plus ? 0 : s), at.y - s}};
  Polyline(one, {colour, size >= 8 ? 2.0 : 1.0});
  Polyline(two, {colour, size >= 8 ? 2.0 : 1.0});
}

void RasterCanvas::Marker(CanvasPoint at, MarkerShape shape, double size, int colour) {
  const double r = size / 2.0;
  const int cx = Rounded(at.x), cy = Rounded(at.y), reach = static_cast<int>(std::ceil(r));
  switch (shape) {
    case MarkerShape::Cross:
    case MarkerShape::Plus:
      StrokedMarker(at, shape, size, colour);
      return;
    case MarkerShape::Disk:
    case MarkerShape::Ring:
      for (int y = -reach; y <= reach; ++y) {
        for (int x = -reach; x <= reach; ++x) {
          const double d = std::hypot(x, y);
          const bool in = shape == MarkerShape::Disk ? d <= r + 0.25 : (d <= r + 0.5 && d >= r - 1.5);
          if (in && surface_.Contains(cx + x, cy + y)) surface_.Set(cx + x, cy + y, colour);
        }
      }
      return;
    default: {
      // Filled polygons: a pixel is in when its centre is inside every edge.
      const std::vector<CanvasPoint> outline = Outline(shape, r);
      for (int y = -reach; y <= reach; ++y) {
        for (int x = -reach; x <= reach; ++x) {
          bool in = true;
          for (std::size_t k = 0; k < outline.size() && in; ++k) {
            const CanvasPoint p = outline[k], q = outline[(k + 1) % outline.size()];
            in = (q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x) >= -0.5 * std::hypot(q.x - p.x, q.y - p.y);
          }
          if (in && surface_.Contains(cx + x, cy + y)) surface_.Set(cx + x, cy + y, colour);
        }
      }
    }
  }
}

void RasterCanvas::Text(CanvasPoint at, std::string_view text, const TextStyle& style) {
  const Font& font = fonts_.Get(style.size, style.bold);
  const int width = font.TextWidth(text), height = font.Height();
  const double along = style.anchor == TextStyle::Anchor::Start ? 0.0
                       : style.anchor == TextStyle::Anchor::Middle ? width / 2.0 : width;
  if (!style.vertical) {
    const double across = style.align == TextStyle::Align::Top ? 0.0
                          : style.align == TextStyle::Align::Middle ? height / 2.0 : height;
    font.Draw(surface_, Rounded(at.x - along), Rounded(at.y - across), text, style.colour);
    return;
  }
  // Drawn level on a scratch surface, then turned a quarter to the left.
  DrawingSurface level(width, height, kWhite);
  font.Draw(level, 0, 0, text, kBlack);
  const int left = Rounded(at.x - height / 2.0), bottom = Rounded(at.y + along);
  for (int v = 0; v < height; ++v) {
    for (int u = 0; u < width; ++u) {
      if (level.At(u, v) == kBlack && surface_.Contains(left + v, bottom - u)) surface_.Set(left + v, bottom - u, style.colour);
    }
  }
}

// ---------------------------------------------------------------- SVG

std::string SvgColour(int colour) {
  const Rgb rgb = Palette16[static_cast<std::size_t>(ClampColourIndex(colour))];
  char text[8];
  const char* digits = "0123456789abcdef";
  text[0] = '#';
  const std::uint8_t parts[3] = {rgb.red, rgb.green, rgb.blue};
  for (int k = 0; k < 3; ++k) {
    text[1 + 2 * k] = digits[parts[k] >> 4];
    text[2 + 2 * k] = digits[parts[k] & 15];
  }
  return std::string(text, 7);
}

std::string XmlEscaped(std::string_view text) {
  const bool utf8 = ValidUtf8(text);
  std::string out;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else if (byte < 0x20) out += ' ';  // control characters are not XML
    else if (byte >= 0x80 && !utf8) out += "&#" + std::to_string(byte) + ';';
    else out += c;
  }
  return out;
}

SvgCanvas::SvgCanvas(int width, int height) {
  body_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
          std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
          std::to_string(width) + " " + std::to_string(height) +
          "\" font-family=\"Liberation Sans, Arial, Helvetica, sans-serif\">\n";
}

void SvgCanvas::Polyline(std::span<const CanvasPoint> points, const Stroke& stroke) {
  if (points.empty()) return;
  body_ += "<polyline fill=\"none\" stroke=\"" + SvgColour(stroke.colour) + "\" stroke-width=\"" +
           Number(stroke.width) + "\"";
  if (stroke.dashed) body_ += " stroke-dasharray=\"6,4\"";
  body_ += " stroke-linejoin=\"round\" points=\"";
  for (std::size_t k = 0; k < points.size(); ++k) {
    if (k > 0) body_ += ' ';
    body_ += Number(points[k].x) + ',' + Number(points[k].y);
  }
  body_ += "\"/>\n";
}

void SvgCanvas::FillRect(double left, double top, double right, double bottom, int colour) {
  body_ += "<rect x=\"" + Number(left) + "\" y=\"" + Number(top) + "\" width=\"" + Number(right - left + 1) +
           "\" height=\"" + Number(bottom - top + 1) + "\" fill=\"" + SvgColour(colour) + "\"/>\n";
}

void SvgCanvas::Marker(CanvasPoint at, MarkerShape shape, double size, int colour) {
  const double r = size / 2.0;
  const std::string c = SvgColour(colour);
  switch (shape) {
    case MarkerShape::Disk:
      body_ += "<circle cx=\"" + Number(at.x) + "\" cy=\"" + Number(at.y) + "\" r=\"" + Number(r) + "\" fill=\"" + c +
               "\"/>\n";
      return;
    case MarkerShape::Ring:
      body_ += "<circle cx=\"" + Number(at.x) + "\" cy=\"" + Number(at.y) + "\" r=\"" + Number(r - 0.75) +
               "\" fill=\"none\" stroke=\"" + c + "\" stroke-width=\"2\"/>\n";
      return;
    case MarkerShape::Cross:
    case MarkerShape::Plus:
      StrokedMarker(at, shape, size, colour);
      return;
    default: {
      body_ += "<polygon fill=\"" + c + "\" points=\"";
      for (const CanvasPoint& p : Outline(shape, r)) body_ += Number(at.x + p.x) + ',' + Number(at.y + p.y) + ' ';
      body_.back() = '"';
      body_ += "/>\n";
    }
  }
}

void SvgCanvas::Text(CanvasPoint at, std::string_view text, const TextStyle& style) {
  const char* anchor = style.anchor == TextStyle::Anchor::Start ? "start"
                       : style.anchor == TextStyle::Anchor::Middle ? "middle" : "end";
  // Baselines from the cell's top, middle or bottom, as the raster fonts place them.
  const TextStyle::Align align = style.vertical ? TextStyle::Align::Middle : style.align;
  const double shift = align == TextStyle::Align::Top      ? kAscentPerCell * style.size
                       : align == TextStyle::Align::Middle ? (kAscentPerCell - 0.5) * style.size
                                                           : (kAscentPerCell - 1.0) * style.size;
  body_ += "<text x=\"" + Number(at.x) + "\" y=\"" + Number(at.y + shift) + "\" font-size=\"" +
           Number(kEmPerCell * style.size) + "\" text-anchor=\"" + anchor + "\" fill=\"" + SvgColour(style.colour) + "\"";
  if (style.bold) body_ += " font-weight=\"bold\"";
  // Appended piece by piece: GCC 12 takes "literal" + std::string&& for an overlapping copy (-Wrestrict).
  if (style.vertical) {
    body_ += " transform=\"rotate(-90 ";
    body_ += Number(at.x);
    body_ += ' ';
    body_ += Number(at.y);
    body_ += ")\"";
  }
  body_ += '>';
  body_ += XmlEscaped(text);
  body_ += "</text>\n";
}

}  // namespace odefit
