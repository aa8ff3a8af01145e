#include "graphics/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace odefit {

struct Font::Library {
  FT_Library handle = nullptr;
  Library() {
    if (FT_Init_FreeType(&handle) != 0) handle = nullptr;
  }
  ~Library() {
    if (handle != nullptr) FT_Done_FreeType(handle);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
};

namespace {

constexpr int kDefaultHeight = 16;
// Shear of a made-up italic: tan(12 degrees) in 16.16 fixed point.
constexpr FT_Fixed kItalicShear = 0x366A;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Metric-compatible stand-ins for the typefaces a plot may ask for.
std::vector<std::string> Substitutes(const std::string& lowerName) {
  if (lowerName == "arial" || lowerName == "helvetica") return {"liberation sans", "arimo"};
  if (lowerName == "courier new" || lowerName == "courier") return {"liberation mono", "cousine"};
  if (lowerName == "times new roman" || lowerName == "times") return {"liberation serif", "tinos"};
  return {};
}

bool HasFamily(const FontEntry& entry, const std::string& lowerName) {
  return std::any_of(entry.families.begin(), entry.families.end(),
                     [&](const std::string& f) { return Lower(f) == lowerName; });
}

bool PitchMatches(const FontEntry& entry, FontPitch pitch) {
  switch (pitch) {
    case FontPitch::Fixed: return entry.fixedPitch;
    case FontPitch::Proportional: return !entry.fixedPitch;
    case FontPitch::Any: return true;
  }
  return true;
}

// Smaller is closer: a wrong slant outweighs any weight or width difference.
int StyleDistance(const FontEntry& entry, const FontRequest& request) {
  const int targetWeight = request.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR;
  return (entry.italic != request.italic ? 100000 : 0) + std::abs(entry.weight - targetWeight) * 10 +
         std::abs(entry.widthClass - 100);
}

// Returns the closest-styled entry among those `accept` admits, or -1.
template <typename Accept>
int ClosestEntry(const std::vector<FontEntry>& entries, const FontRequest& request, Accept accept) {
  int best = -1;
  int bestDistance = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!accept(entries[i])) continue;
    const int distance = StyleDistance(entries[i], request);
    if (best < 0 || distance < bestDistance) {
      best = static_cast<int>(i);
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace

// ---------------------------------------------------------------------------
// Font

Font::Font(Font&& other) noexcept { *this = std::move(other); }

Font& Font::operator=(Font&& other) noexcept {
  if (this == &other) return *this;
  if (face_ != nullptr) FT_Done_Face(static_cast<FT_Face>(face_));
  library_ = std::move(other.library_);
  face_ = std::exchange(other.face_, nullptr);
  number_ = other.number_;
  family_ = std::move(other.family_);
  style_ = std::move(other.style_);
  nominalWidth_ = other.nominalWidth_;
  height_ = other.height_;
  ascent_ = other.ascent_;
  underlineOffset_ = other.underlineOffset_;
  underlineThickness_ = other.underlineThickness_;
  syntheticItalic_ = other.syntheticItalic_;
  syntheticBold_ = other.syntheticBold_;
  glyphs_ = std::move(other.glyphs_);
  return *this;
}

Font::~Font() {
  // The face goes before the library that made it (library_ is released after this body).
  if (face_ != nullptr) FT_Done_Face(static_cast<FT_Face>(face_));
}

const Font::Glyph& Font::GlyphFor(unsigned char c) const {
  std::optional<Glyph>& cached = glyphs_[c];
  if (cached) return *cached;
  cached = Glyph{};
  Glyph& glyph = *cached;
  const FT_Face face = static_cast<FT_Face>(face_);
  const FT_UInt index = FT_Get_Char_Index(face, c);
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0) {
    glyph.advance = nominalWidth_;
    return glyph;
  }
  FT_GlyphSlot slot = face->glyph;
  glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
  if (syntheticBold_ && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    FT_Outline_EmboldenXY(&slot->outline, 64, 0);
    glyph.advance += 1;
  }
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  glyph.left = slot->bitmap_left;
  glyph.top = slot->bitmap_top;
  glyph.width = static_cast<int>(bitmap.width);
  glyph.rows = static_cast<int>(bitmap.rows);
  glyph.bits.assign(static_cast<std::size_t>(glyph.width) * static_cast<std::size_t>(glyph.rows), 0);
  for (int r = 0; r < glyph.rows; ++r) {
    const unsigned char* row = bitmap.buffer + static_cast<std::ptrdiff_t>(r) * bitmap.pitch;
    for (int col = 0; col < glyph.width; ++col) {
      bool on = false;
      if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
        on = (row[col >> 3] & (0x80 >> (col & 7))) != 0;
      } else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
        on = row[col] >= 128;  // never expected with the mono target; no grey ever reaches a surface
      }
      glyph.bits[static_cast<std::size_t>(r * glyph.width + col)] = on ? 1 : 0;
    }
  }
  return glyph;
}

int Font::TextWidth(std::string_view text) const {
  if (IsNull()) return nominalWidth_ * static_cast<int>(text.size());
  int width = 0;
  for (const char c : text) width += GlyphFor(static_cast<unsigned char>(c)).advance;
  return width;
}

PixelRect Font::Draw(DrawingSurface& surface, int x, int y, std::string_view text, int colour) const {
  PixelRect drawn;
  if (IsNull()) return drawn;
  const int baseline = y + ascent_;
  int pen = x;
  for (const char c : text) {
    const Glyph& glyph = GlyphFor(static_cast<unsigned char>(c));
    const int left = pen + glyph.left;
    const int top = baseline - glyph.top;
    for (int r = 0; r < glyph.rows; ++r) {
      for (int col = 0; col < glyph.width; ++col) {
        if (glyph.bits[static_cast<std::size_t>(r * glyph.width + col)] == 0) continue;
        const int px = left + col;
        const int py = top + r;
        if (!surface.Contains(px, py)) continue;
        surface.Set(px, py, colour);
        drawn.Include(px, py);
      }
    }
    pen += glyph.advance;
  }
  for (int t = 0; t < underlineThickness_; ++t) {
    const int py = baseline + underlineOffset_ + t;
    for (int px = x; px < pen; ++px) {
      if (!surface.Contains(px, py)) continue;
      surface.Set(px, py, colour);
      drawn.Include(px, py);
    }
  }
  return drawn;
}

// ---------------------------------------------------------------------------
// FontCatalogue

FontCatalogue::FontCatalogue() : library_(std::make_shared<Font::Library>()) {}

FontCatalogue::~FontCatalogue() = default;

int FontCatalogue::Build() {
  if (built_) return static_cast<int>(entries_.size());
  built_ = true;
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (config == nullptr) return 0;
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_STYLE, FC_FILE, FC_INDEX, FC_SLANT, FC_WEIGHT,
                                          FC_WIDTH, FC_SPACING, static_cast<char*>(nullptr));
  FcFontSet* fonts = FcFontList(config, pattern, objects);
  for (int i = 0; fonts != nullptr && i < fonts->nfont; ++i) {
    FcPattern* font = fonts->fonts[i];
    FontEntry entry;
    FcChar8* text = nullptr;
    for (int n = 0; FcPatternGetString(font, FC_FAMILY, n, &text) == FcResultMatch; ++n) {
      entry.families.emplace_back(reinterpret_cast<const char*>(text));
    }
    if (FcPatternGetString(font, FC_FILE, 0, &text) != FcResultMatch || entry.families.empty()) continue;
    entry.file = reinterpret_cast<const char*>(text);
    if (FcPatternGetString(font, FC_STYLE, 0, &text) == FcResultMatch) {
      entry.style = reinterpret_cast<const char*>(text);
    }
    int value = 0;
    if (FcPatternGetInteger(font, FC_INDEX, 0, &value) == FcResultMatch) entry.faceIndex = value;
    if (FcPatternGetInteger(font, FC_SLANT, 0, &value) == FcResultMatch) entry.italic = value != FC_SLANT_ROMAN;
    if (FcPatternGetInteger(font, FC_WEIGHT, 0, &value) == FcResultMatch) entry.weight = value;
    if (FcPatternGetInteger(font, FC_WIDTH, 0, &value) == FcResultMatch) entry.widthClass = value;
    if (FcPatternGetInteger(font, FC_SPACING, 0, &value) == FcResultMatch) {
      entry.fixedPitch = value == FC_MONO || value == FC_CHARCELL;
    }
    entries_.push_back(std::move(entry));
  }
  if (fonts != nullptr) FcFontSetDestroy(fonts);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  // A fixed order, so that the same fonts give the same numbers on every run.
  std::sort(entries_.begin(), entries_.end(), [](const FontEntry& a, const FontEntry& b) {
    const std::string fa = Lower(a.families.front()), fb = Lower(b.families.front());
    if (fa != fb) return fa < fb;
    if (a.style != b.style) return a.style < b.style;
    if (a.file != b.file) return a.file < b.file;
    return a.faceIndex < b.faceIndex;
  });
  return static_cast<int>(entries_.size());
}

int FontCatalogue::AddFile(FontEntry entry) {
  if (built_) return -1;
  entries_.push_back(std::move(entry));
  return static_cast<int>(entries_.size()) - 1;
}

int FontCatalogue::Match(const FontRequest& request) const {
  if (request.number > 0) return request.number <= static_cast<int>(entries_.size()) ? request.number - 1 : -1;
  // Only outline fonts are listed: a raster font is had only by best fit.
  if (request.technology == FontTechnology::Raster && !request.bestFit) return -1;
  if (request.typeface.empty()) {
    return ClosestEntry(entries_, request, [&](const FontEntry& e) { return PitchMatches(e, request.pitch); });
  }
  std::vector<std::string> names{Lower(request.typeface)};
  for (std::string& s : Substitutes(names.front())) names.push_back(std::move(s));
  for (const std::string& name : names) {
    const int found = ClosestEntry(entries_, request, [&](const FontEntry& e) {
      return HasFamily(e, name) && PitchMatches(e, request.pitch);
    });
    if (found >= 0) return found;
  }
  if (!request.bestFit) return -1;
  // Every listed font scales to any size, so size never decides; take the closest style.
  const int found = ClosestEntry(entries_, request, [&](const FontEntry& e) { return PitchMatches(e, request.pitch); });
  return found >= 0 ? found : ClosestEntry(entries_, request, [](const FontEntry&) { return true; });
}

// Largest character height or width rendered: a glyph beyond it cannot show on
// any surface, and rendering one costs its area (a typed "h99999" would stall).
constexpr int kMaxFontPixels = 1000;

Font FontCatalogue::Open(int index, const FontRequest& request) const {
  Font font;
  font.height_ = request.height > 0 ? std::min(request.height, kMaxFontPixels) : kDefaultHeight;
  font.nominalWidth_ = request.width > 0 ? std::min(request.width, kMaxFontPixels) : (font.height_ + 1) / 2;
  font.ascent_ = font.height_ * 3 / 4;
  if (index < 0 || index >= static_cast<int>(entries_.size()) || library_->handle == nullptr) return font;
  const FontEntry& entry = entries_[static_cast<std::size_t>(index)];
  FT_Face face = nullptr;
  if (FT_New_Face(library_->handle, entry.file.c_str(), entry.faceIndex, &face) != 0) return font;
  if (!FT_IS_SCALABLE(face)) {
    FT_Done_Face(face);
    return font;
  }
  // The cell height is the font's ascent plus descent (the OS/2 window
  // metrics where present); the width scales the font's average character
  // width to the requested pixels, so h14w7 fills a 14-pixel cell with
  // characters 7 pixels wide on average.
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  double ascentUnits = face->ascender;
  double cellUnits = static_cast<double>(face->ascender) - face->descender;
  if (os2 != nullptr && os2->version != 0xFFFFu && os2->usWinAscent + os2->usWinDescent > 0) {
    ascentUnits = os2->usWinAscent;
    cellUnits = static_cast<double>(os2->usWinAscent) + os2->usWinDescent;
  }
  const double em = face->units_per_EM;
  if (cellUnits <= 0 || em <= 0) {
    FT_Done_Face(face);
    return font;
  }
  const double yPpem = font.height_ * em / cellUnits;
  double xPpem = yPpem;
  if (request.width > 0 && os2 != nullptr && os2->version != 0xFFFFu && os2->xAvgCharWidth > 0) {
    xPpem = request.width * em / os2->xAvgCharWidth;
  }
  FT_Size_RequestRec size{};
  size.type = FT_SIZE_REQUEST_TYPE_NOMINAL;
  size.width = std::lround(xPpem * 64.0);
  size.height = std::lround(yPpem * 64.0);
  if (FT_Request_Size(face, &size) != 0) {
    FT_Done_Face(face);
    return font;
  }
  font.library_ = library_;
  font.face_ = face;
  font.number_ = index + 1;
  font.family_ = entry.families.front();
  font.style_ = entry.style;
  font.ascent_ = static_cast<int>(std::lround(ascentUnits * yPpem / em));
  font.syntheticItalic_ = request.italic && !entry.italic;
  font.syntheticBold_ = request.bold && entry.weight < FC_WEIGHT_DEMIBOLD;
  if (font.syntheticItalic_) {
    FT_Matrix shear{0x10000, kItalicShear, 0, 0x10000};
    FT_Set_Transform(face, &shear, nullptr);
  }
  if (request.underline) {
    font.underlineOffset_ = std::max(1, static_cast<int>(std::lround(-face->underline_position * yPpem / em)));
    font.underlineThickness_ = std::max(1, static_cast<int>(std::lround(face->underline_thickness * yPpem / em)));
  }
  return font;
}

Font FontCatalogue::OpenDefault() const {
  FontRequest cell;
  cell.typeface = "Courier New";
  cell.height = kCellHeight;
  cell.width = kCellWidth;
  cell.pitch = FontPitch::Fixed;
  int index = Match(cell);
  if (index < 0) {
    cell.bestFit = true;
    index = Match(cell);
  }
  return Open(index, cell);
}

}  // namespace odefit
