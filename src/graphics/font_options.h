#pragma once
// The option strings of SelectFont, such as "t'Arial'h14w7i": letters in any
// order and either case, some followed by a number or a quoted name.
//
//   t'name'  typeface, at most 31 characters, compared without regard to case
//   hN wN    character height and average character width in pixels
//   i u e    italic, underlined, bold
//   b        best fit when nothing matches exactly
//   f / p    fixed pitch / proportional (the later one wins)
//   r / v    raster / vector font (the later one wins)
//   nN       the N-th font of the list built by InitFonts
// Other characters are skipped. A quoted name whose closing quote is not
// within the 32 characters after the opening one makes the string invalid.

#include <optional>
#include <string>
#include <string_view>

namespace odefit {

enum class FontPitch { Any, Fixed, Proportional };
enum class FontTechnology { Any, Raster, Vector };

struct FontRequest {
  std::string typeface;  // empty: any typeface
  int height = 0;        // pixels; 0: not given
  int width = 0;         // pixels; 0: not given
  bool italic = false;
  bool underline = false;
  bool bold = false;
  bool bestFit = false;
  FontPitch pitch = FontPitch::Any;
  FontTechnology technology = FontTechnology::Any;
  int number = 0;        // 1-based list position; 0: not given
};

// Parses an option string; nullopt when it is invalid.
std::optional<FontRequest> ParseFontOptions(std::string_view options);

// The option string of every plot label: Arial, 14 pixels high, 7 wide, italic.
inline constexpr std::string_view PlotFont = "t'Arial'h14w7i";

}  // namespace odefit
