#pragma once
// The 16-colour table shared by every window. Colours are always named by
// their index into this table; surfaces store one index per pixel.

#include <array>
#include <cstdint>

namespace odefit {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr std::array<Rgb, 16> Palette16 = {{
    {0, 0, 0},       {0, 0, 128},   {0, 128, 0},   {0, 128, 128},
    {128, 0, 0},     {128, 0, 128}, {128, 128, 0}, {192, 192, 192},
    {128, 128, 128}, {0, 0, 255},   {0, 255, 0},   {0, 255, 255},
    {255, 0, 0},     {255, 0, 255}, {255, 255, 0}, {255, 255, 255},
}};

// The three colours the program draws with.
inline constexpr int kBlack = 0;
inline constexpr int kBrightRed = 12;
inline constexpr int kWhite = 15;

// Returns `index` moved into 0..15 (the nearest end of the range when outside).
constexpr int ClampColourIndex(int index) { return index < 0 ? 0 : (index > 15 ? 15 : index); }

}  // namespace odefit
