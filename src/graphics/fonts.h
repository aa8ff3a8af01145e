#pragma once
// Fonts for graphic text: the list of installed outline fonts (found through
// fontconfig) and fonts opened from it at a pixel size (rendered by FreeType).
//
// Glyphs are rendered without grey levels, so text lands on an indexed
// surface in exactly one palette colour and every front end shows the same
// pixels. Nothing here is thread-safe: the layer uses fonts from the one
// thread that draws, under the lock of the window being drawn on.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/drawing_surface.h"
#include "graphics/font_options.h"

namespace odefit {

// One installed face: a family (with its other names) in one style.
struct FontEntry {
  std::vector<std::string> families;  // first one is the family's main name
  std::string style;
  std::string file;
  int faceIndex = 0;
  bool italic = false;
  int weight = 80;      // fontconfig scale: 80 regular, 200 bold
  int widthClass = 100; // fontconfig scale: 100 normal
  bool fixedPitch = false;
};

// A font opened at a pixel size. A default-constructed font is the null font
// used when nothing can be found: it draws nothing but still advances by its
// nominal width per character.
class Font {
 public:
  Font() = default;
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
  Font(Font&&) noexcept;
  Font& operator=(Font&&) noexcept;
  ~Font();

  bool IsNull() const { return face_ == nullptr; }
  // Returns the 1-based position in the font list; 0 for the null font.
  int Number() const { return number_; }
  // The family name of the face; empty for the null font.
  const std::string& Family() const { return family_; }
  const std::string& Style() const { return style_; }
  bool SyntheticItalic() const { return syntheticItalic_; }
  // The character cell's height (ascent plus descent) in pixels.
  int Height() const { return height_; }

  // Returns the advance of `text` in pixels: the sum of its characters' advances.
  int TextWidth(std::string_view text) const;
  // Draws `text` (bytes read as Latin-1) with the cell's top-left corner at (x, y)
  // in `colour`, clipped to the surface, leaving other pixels untouched.
  // Returns the rectangle of pixels set.
  PixelRect Draw(DrawingSurface& surface, int x, int y, std::string_view text, int colour) const;

 private:
  friend class FontCatalogue;
  struct Library;
  struct Glyph {
    int left = 0, top = 0, width = 0, rows = 0, advance = 0;
    std::vector<std::uint8_t> bits;  // width * rows, row-major, 1 where set
  };
  const Glyph& GlyphFor(unsigned char c) const;

  std::shared_ptr<Library> library_;
  void* face_ = nullptr;  // FT_Face, owned
  int number_ = 0;
  std::string family_, style_;
  int nominalWidth_ = 8;
  int height_ = 16;
  int ascent_ = 12;
  int underlineOffset_ = 0;     // pixels below the baseline
  int underlineThickness_ = 0;  // 0: no underline
  bool syntheticItalic_ = false;
  bool syntheticBold_ = false;
  mutable std::array<std::optional<Glyph>, 256> glyphs_;
};

// The list of fonts available for graphic text, built once, and the rule that
// picks a font of the list for a request.
class FontCatalogue {
 public:
  FontCatalogue();
  ~FontCatalogue();
  FontCatalogue(const FontCatalogue&) = delete;
  FontCatalogue& operator=(const FontCatalogue&) = delete;

  // Builds the list on the first call (later calls keep it); returns its size.
  int Build();
  // Lists one font file by hand on a catalogue not built (a caller that knows
  // the file it wants need not load fontconfig's configuration, most of a
  // small figure's time); returns its 0-based entry, or -1 once built.
  int AddFile(FontEntry entry);
  bool Built() const { return built_; }
  const std::vector<FontEntry>& Entries() const { return entries_; }

  // Returns the 0-based entry that `request` selects, or -1 when nothing matches.
  // A typeface that is not installed is looked up under its metric-compatible
  // substitutes (Arial: Liberation Sans, Courier New: Liberation Mono, Times
  // New Roman: Liberation Serif). Style is matched as closely as the family
  // allows; a missing italic or bold is made up when the font is opened.
  int Match(const FontRequest& request) const;

  // Opens entry `index` at the request's size and style; the null font (with
  // the request's nominal width) when the face cannot be loaded.
  Font Open(int index, const FontRequest& request) const;

  // Returns the window's default font: the console cell font (Courier New or
  // its substitute, 16 pixels high, 8 wide), else any font of the list, else
  // the null font with an 8 x 16 cell.
  Font OpenDefault() const;

 private:
  std::shared_ptr<Font::Library> library_;
  std::vector<FontEntry> entries_;
  bool built_ = false;
};

// The console's character cell: every window's text font is requested 8
// pixels wide and 16 high, and window placements count in these cells.
inline constexpr int kCellWidth = 8;
inline constexpr int kCellHeight = 16;

}  // namespace odefit
