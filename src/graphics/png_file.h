#pragma once
// PNG files of indexed drawing surfaces, in the colours of Palette16.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "graphics/drawing_surface.h"

namespace odefit {

enum class PngColourType {
  Indexed,  // 8-bit palette image holding the 16 colours (every index below 16, else an error)
  Rgb,      // 8-bit red, green, blue
};

// Writes `surface` to `path` (replacing it); false, with `error` set when
// given, on failure.
bool WritePng(const std::string& path, const DrawingSurface& surface, PngColourType type,
              std::string* error = nullptr);

// Returns the bytes of the PNG file of `surface` (packed for speed: the same
// pixels as WritePng's file, other bytes); nullopt, with `error` set when
// given, on failure.
std::optional<std::vector<std::uint8_t>> EncodePng(const DrawingSurface& surface, PngColourType type,
                                                   std::string* error = nullptr);

// Reads a PNG of any colour type into an indexed surface: every pixel becomes
// the palette index of its colour, or of the nearest palette colour when the
// colour is not one of the 16 (alpha is dropped). nullopt, with `error` set
// when given, on failure.
std::optional<DrawingSurface> ReadPng(const std::string& path, std::string* error = nullptr);

}  // namespace odefit
