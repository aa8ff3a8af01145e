#pragma once
// An indexed drawing surface: one palette index (0..15) per pixel, rows top
// to bottom, origin (0, 0) at the top-left corner, x to the right.
//
// Storage contract: Pixels() holds Width() * Height() bytes, row-major, pixel
// (x, y) at y * Width() + x. The surface has no lock of its own; the layer
// guards every surface it owns with its window's lock.

#include <cstdint>
#include <span>
#include <vector>

namespace odefit {

// A rectangle of pixels, both corners included; empty when right < left.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = -1;
  int bottom = -1;

  bool Empty() const { return right < left || bottom < top; }
  // Grows the rectangle to hold the pixel (x, y).
  void Include(int x, int y);
  // Grows the rectangle to hold `other`.
  void Include(const PixelRect& other);
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

class DrawingSurface {
 public:
  DrawingSurface() = default;
  // Makes a width x height surface filled with `colour`.
  DrawingSurface(int width, int height, int colour);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

  // Returns the index at (x, y); requires Contains(x, y).
  int At(int x, int y) const { return pixels_[Offset(x, y)]; }
  // Sets (x, y) to `colour`; requires Contains(x, y).
  void Set(int x, int y, int colour) { pixels_[Offset(x, y)] = static_cast<std::uint8_t>(colour); }
  // Sets every pixel to `colour`.
  void Fill(int colour);

  std::span<const std::uint8_t> Pixels() const { return pixels_; }
  std::span<std::uint8_t> Pixels() { return pixels_; }

 private:
  std::size_t Offset(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
  }

  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace odefit
