#pragma once
// Test support: the required pixels of a graphics window's last complete
// drawing, as the recorded runs list them in expected/*.pixels.json, and a
// check of a surface against them.
//
// A surface passes when every required pixel has one of its allowed colours,
// and every other pixel is white (15) unless it is an "unchecked" pixel in one
// of its listed colours, or lies where a label's glyphs may be (the box of a
// text, see TextAllowance). A data pixel inside a text box may have any
// colour, since a label may cover it. Glyph shapes are never compared.
//
// Use: LoadPixelExpectations(path, &error), then CheckPixels with any pixel
// accessor (a surface, a PNG read back with ReadPng, ...) or CheckSurface.

#include <algorithm>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "graphics/drawing_surface.h"

namespace odefit::testing {

// ---------------------------------------------------------------------------
// The expectations of one window.

struct RequiredPixel {
  int x = 0, y = 0;
  char kind = 'D';  // F frame outline, T tick, D data point
  std::vector<int> colours;
  int panel = 0;
};

struct UncheckedPixel {
  int x = 0, y = 0;
  std::vector<int> colours;  // besides white
};

struct ExpectedText {
  int x = 0, y = 0;  // top-left corner
  std::string slot;
  std::string text;
  int panel = 0;
};

struct PixelExpectations {
  std::string window;
  int unit = 0;
  bool drawn = false;  // false: the window never holds a complete drawing (no picture may exist)
  int minWidth = 0, minHeight = 0;
  std::vector<RequiredPixel> pixels;
  std::vector<UncheckedPixel> unchecked;
  std::vector<ExpectedText> texts;
  nlohmann::json meta;  // what the recording knew of the run (ranges, settings)
};

// Reads a *.pixels.json file; nullopt with `error` set when it cannot be read.
inline std::optional<PixelExpectations> LoadPixelExpectations(const std::string& path, std::string* error = nullptr) {
  const auto fail = [&](const std::string& what) -> std::optional<PixelExpectations> {
    if (error != nullptr) *error = path + ": " + what;
    return std::nullopt;
  };
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("cannot open");
  try {
    const nlohmann::json root = nlohmann::json::parse(in);
    if (root.value("format", "") != "pixels-1") return fail("not a pixels-1 file");
    PixelExpectations e;
    e.window = root.value("window", "");
    e.unit = root.value("unit", 0);
    e.drawn = root.value("drawn", false);
    e.minWidth = root.value("min_width", 0);
    e.minHeight = root.value("min_height", 0);
    e.meta = root.value("meta", nlohmann::json::object());
    for (const nlohmann::json& p : root.value("pixels", nlohmann::json::array())) {
      if (p.size() < 4) return fail("short pixel entry");
      const std::string kind = p[2].get<std::string>();
      e.pixels.push_back({p[0].get<int>(), p[1].get<int>(), kind.empty() ? '?' : kind[0],
                          p[3].get<std::vector<int>>(), p.size() > 4 ? p[4].get<int>() : 0});
    }
    for (const nlohmann::json& p : root.value("unchecked", nlohmann::json::array())) {
      if (p.size() < 3) return fail("short unchecked entry");
      e.unchecked.push_back({p[0].get<int>(), p[1].get<int>(), p[2].get<std::vector<int>>()});
    }
    for (const nlohmann::json& t : root.value("texts", nlohmann::json::array())) {
      e.texts.push_back({t.value("x", 0), t.value("y", 0), t.value("slot", ""), t.value("text", ""),
                         t.value("panel", 0)});
    }
    return e;
  } catch (const nlohmann::json::exception& e) {
    return fail(e.what());
  }
}

// ---------------------------------------------------------------------------
// The check.

// Where a text's glyphs may lie, from its anchor (x, y) and its characters:
// horizontally from the first to the last non-blank character, counting each
// character at least minAdvance and at most maxAdvance pixels wide, widened
// by `slack` on both sides; vertically from `above` pixels over the anchor to
// `below` pixels under it. The defaults hold any 14-pixel italic sans-serif
// label font of 7-pixel average width.
struct TextAllowance {
  int minAdvance = 3;
  int maxAdvance = 14;
  int slack = 4;
  int above = 3;
  int below = 19;
};

inline PixelRect TextBox(const ExpectedText& t, const TextAllowance& a) {
  const std::size_t first = t.text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const std::size_t last = t.text.find_last_not_of(' ');
  return {t.x + static_cast<int>(first) * a.minAdvance - a.slack, t.y - a.above,
          t.x + static_cast<int>(last + 1) * a.maxAdvance + a.slack, t.y + a.below};
}

struct PixelCheck {
  int missing = 0;      // required pixels left white
  int wrongColour = 0;  // required pixels in a colour not allowed
  int stray = 0;        // pixels that should be white
  std::vector<std::string> messages;  // the first few failures

  bool Ok() const { return missing == 0 && wrongColour == 0 && stray == 0 && messages.empty(); }
  std::string Summary() const {
    std::string s = std::to_string(missing) + " missing, " + std::to_string(wrongColour) + " in a wrong colour, " +
                    std::to_string(stray) + " stray";
    for (const std::string& m : messages) s += "\n  " + m;
    return s;
  }
};

// Returns the palette index (0..15) of pixel (x, y).
using PixelAccessor = std::function<int(int x, int y)>;

inline PixelCheck CheckPixels(const PixelExpectations& e, int width, int height, const PixelAccessor& pixelAt,
                              const TextAllowance& allowance = {}) {
  constexpr int kWhiteIndex = 15;
  constexpr std::size_t kMaxMessages = 12;
  PixelCheck check;
  const auto note = [&](std::string text) {
    if (check.messages.size() < kMaxMessages) check.messages.push_back(std::move(text));
  };
  if (width < e.minWidth || height < e.minHeight) {
    note("surface " + std::to_string(width) + " x " + std::to_string(height) + " is smaller than " +
         std::to_string(e.minWidth) + " x " + std::to_string(e.minHeight));
    return check;
  }
  const auto index = [&](int x, int y) { return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x; };
  enum : unsigned char { kFree = 0, kRequired = 1, kUnchecked = 2 };
  std::vector<unsigned char> role(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kFree);
  std::vector<unsigned char> inText(role.size(), 0);
  for (const ExpectedText& t : e.texts) {
    const PixelRect box = TextBox(t, allowance);
    if (box.Empty()) continue;
    for (int y = std::max(box.top, 0); y <= std::min(box.bottom, height - 1); ++y) {
      for (int x = std::max(box.left, 0); x <= std::min(box.right, width - 1); ++x) inText[index(x, y)] = 1;
    }
  }
  std::vector<const UncheckedPixel*> uncheckedAt(role.size(), nullptr);
  for (const UncheckedPixel& u : e.unchecked) {
    if (u.x < 0 || u.y < 0 || u.x >= width || u.y >= height) continue;
    role[index(u.x, u.y)] = kUnchecked;
    uncheckedAt[index(u.x, u.y)] = &u;
  }
  for (const RequiredPixel& p : e.pixels) {
    const std::string where = std::string(1, p.kind) + " pixel (" + std::to_string(p.x) + ", " +
                              std::to_string(p.y) + ") of panel " + std::to_string(p.panel);
    if (p.x < 0 || p.y < 0 || p.x >= width || p.y >= height) {
      ++check.missing;
      note(where + " lies off the surface");
      continue;
    }
    role[index(p.x, p.y)] = kRequired;
    const int colour = pixelAt(p.x, p.y);
    if (std::find(p.colours.begin(), p.colours.end(), colour) != p.colours.end()) continue;
    if (p.kind == 'D' && inText[index(p.x, p.y)] != 0) continue;  // a label may cover a data point
    if (colour == kWhiteIndex) {
      ++check.missing;
      note(where + " is white");
    } else {
      ++check.wrongColour;
      note(where + " has colour " + std::to_string(colour));
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t i = index(x, y);
      if (role[i] == kRequired) continue;
      const int colour = pixelAt(x, y);
      if (colour == kWhiteIndex || inText[i] != 0) continue;
      if (role[i] == kUnchecked) {
        const std::vector<int>& allowed = uncheckedAt[i]->colours;
        if (std::find(allowed.begin(), allowed.end(), colour) != allowed.end()) continue;
      }
      ++check.stray;
      note("stray pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") in colour " + std::to_string(colour));
    }
  }
  return check;
}

// Checks an indexed surface.
inline PixelCheck CheckSurface(const PixelExpectations& e, const DrawingSurface& surface,
                               const TextAllowance& allowance = {}) {
  return CheckPixels(e, surface.Width(), surface.Height(),
                     [&](int x, int y) { return surface.At(x, y); }, allowance);
}

}  // namespace odefit::testing
