#include "graphics/drawing_surface.h"

#include <algorithm>

namespace odefit {

void PixelRect::Include(int x, int y) {
  if (Empty()) {
    left = right = x;
    top = bottom = y;
    return;
  }
  left = std::min(left, x);
  right = std::max(right, x);
  top = std::min(top, y);
  bottom = std::max(bottom, y);
}

void PixelRect::Include(const PixelRect& other) {
  if (other.Empty()) return;
  Include(other.left, other.top);
  Include(other.right, other.bottom);
}

DrawingSurface::DrawingSurface(int width, int height, int colour)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_),
              static_cast<std::uint8_t>(colour)) {}

void DrawingSurface::Fill(int colour) {
  std::fill(pixels_.begin(), pixels_.end(), static_cast<std::uint8_t>(colour));
}

}  // namespace odefit
