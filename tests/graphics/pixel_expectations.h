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
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "graphics/drawing_surface.h"

namespace odefit::testing {

// ---------------------------------------------------------------------------
// A small JSON reader: enough for the fixture files (objects, arrays,
// strings with the common escapes, numbers, true, false, null).

struct JsonValue {
  using Array = std::vector<JsonValue>;
  using Object = std::vector<std::pair<std::string, JsonValue>>;
  std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value;

  bool IsNumber() const { return std::holds_alternative<double>(value); }
  bool IsString() const { return std::holds_alternative<std::string>(value); }
  bool IsArray() const { return std::holds_alternative<Array>(value); }
  bool IsObject() const { return std::holds_alternative<Object>(value); }
  double Number() const { return IsNumber() ? std::get<double>(value) : 0.0; }
  int Int() const { return static_cast<int>(Number()); }
  bool Bool() const { return std::holds_alternative<bool>(value) && std::get<bool>(value); }
  const std::string& String() const {
    static const std::string empty;
    return IsString() ? std::get<std::string>(value) : empty;
  }
  const Array& Items() const {
    static const Array empty;
    return IsArray() ? std::get<Array>(value) : empty;
  }
  // Returns the number of items of an array or members of an object; 0 otherwise.
  std::size_t Size() const {
    if (IsArray()) return std::get<Array>(value).size();
    if (IsObject()) return std::get<Object>(value).size();
    return 0;
  }
  // Returns the member `key`, or nullptr.
  const JsonValue* Find(std::string_view key) const {
    if (!IsObject()) return nullptr;
    for (const auto& [k, v] : std::get<Object>(value)) {
      if (k == key) return &v;
    }
    return nullptr;
  }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  // Parses the whole text; nullopt (with Error()) when it is no JSON value.
  std::optional<JsonValue> Parse() {
    JsonValue v;
    if (!ParseValue(v, 0)) return std::nullopt;
    SkipBlanks();
    if (pos_ != text_.size()) {
      Fail("text after the value");
      return std::nullopt;
    }
    return v;
  }
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = what + " at offset " + std::to_string(pos_);
    return false;
  }
  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool Take(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view w) {
    if (text_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }
  bool ParseValue(JsonValue& out, int depth) {
    if (depth > 64) return Fail("nesting too deep");
    SkipBlanks();
    if (pos_ >= text_.size()) return Fail("unexpected end");
    const char c = text_[pos_];
    if (c == '{') return ParseObject(out, depth);
    if (c == '[') return ParseArray(out, depth);
    if (c == '"') {
      std::string s;
      if (!ParseString(s)) return false;
      out.value = std::move(s);
      return true;
    }
    if (Word("true")) {
      out.value = true;
      return true;
    }
    if (Word("false")) {
      out.value = false;
      return true;
    }
    if (Word("null")) {
      out.value = nullptr;
      return true;
    }
    return ParseNumber(out);
  }
  bool ParseNumber(JsonValue& out) {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '-' ||
                                   text_[pos_] == '+' || text_[pos_] == '.' || text_[pos_] == 'e' ||
                                   text_[pos_] == 'E')) {
      ++pos_;
    }
    const std::string number(text_.substr(start, pos_ - start));
    char* end = nullptr;
    const double v = std::strtod(number.c_str(), &end);
    if (number.empty() || end != number.c_str() + number.size()) return Fail("bad number");
    out.value = v;
    return true;
  }
  bool ParseString(std::string& out) {
    ++pos_;  // the opening quote
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c == '\\') {
        if (pos_ >= text_.size()) break;
        const char e = text_[pos_++];
        switch (e) {
          case 'n': c = '\n'; break;
          case 't': c = '\t'; break;
          case 'r': c = '\r'; break;
          case 'b': c = '\b'; break;
          case 'f': c = '\f'; break;
          case 'u': {
            if (pos_ + 4 > text_.size()) return Fail("bad escape");
            const long code = std::strtol(std::string(text_.substr(pos_, 4)).c_str(), nullptr, 16);
            pos_ += 4;
            c = code < 128 ? static_cast<char>(code) : '?';  // the fixtures hold ASCII only
            break;
          }
          default: c = e; break;  // \" \\ \/
        }
      }
      out.push_back(c);
    }
    if (pos_ >= text_.size()) return Fail("unterminated string");
    ++pos_;
    return true;
  }
  bool ParseArray(JsonValue& out, int depth) {
    ++pos_;
    JsonValue::Array items;
    if (!Take(']')) {
      do {
        JsonValue item;
        if (!ParseValue(item, depth + 1)) return false;
        items.push_back(std::move(item));
      } while (Take(','));
      if (!Take(']')) return Fail("expected ]");
    }
    out.value = std::move(items);
    return true;
  }
  bool ParseObject(JsonValue& out, int depth) {
    ++pos_;
    JsonValue::Object members;
    if (!Take('}')) {
      do {
        SkipBlanks();
        std::string key;
        if (pos_ >= text_.size() || text_[pos_] != '"' || !ParseString(key)) return Fail("expected a key");
        if (!Take(':')) return Fail("expected :");
        JsonValue v;
        if (!ParseValue(v, depth + 1)) return false;
        members.emplace_back(std::move(key), std::move(v));
      } while (Take(','));
      if (!Take('}')) return Fail("expected }");
    }
    out.value = std::move(members);
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

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
  JsonValue meta;
};

inline std::vector<int> JsonInts(const JsonValue& v) {
  std::vector<int> out;
  for (const JsonValue& item : v.Items()) out.push_back(item.Int());
  return out;
}

// Reads a *.pixels.json file; nullopt with `error` set when it cannot be read.
inline std::optional<PixelExpectations> LoadPixelExpectations(const std::string& path, std::string* error = nullptr) {
  const auto fail = [&](const std::string& what) -> std::optional<PixelExpectations> {
    if (error != nullptr) *error = path + ": " + what;
    return std::nullopt;
  };
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("cannot open");
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  JsonReader reader(text);
  const std::optional<JsonValue> root = reader.Parse();
  if (!root) return fail(reader.Error());
  const JsonValue* format = root->Find("format");
  if (format == nullptr || format->String() != "pixels-1") return fail("not a pixels-1 file");

  PixelExpectations e;
  const auto member = [&](std::string_view key) -> const JsonValue& {
    static const JsonValue none;
    const JsonValue* v = root->Find(key);
    return v != nullptr ? *v : none;
  };
  e.window = member("window").String();
  e.unit = member("unit").Int();
  e.drawn = member("drawn").Bool();
  e.minWidth = member("min_width").Int();
  e.minHeight = member("min_height").Int();
  e.meta = member("meta");
  for (const JsonValue& p : member("pixels").Items()) {
    const JsonValue::Array& a = p.Items();
    if (a.size() < 4) return fail("short pixel entry");
    RequiredPixel r{a[0].Int(), a[1].Int(), a[2].String().empty() ? '?' : a[2].String()[0], JsonInts(a[3]),
                    a.size() > 4 ? a[4].Int() : 0};
    e.pixels.push_back(std::move(r));
  }
  for (const JsonValue& p : member("unchecked").Items()) {
    const JsonValue::Array& a = p.Items();
    if (a.size() < 3) return fail("short unchecked entry");
    e.unchecked.push_back({a[0].Int(), a[1].Int(), JsonInts(a[2])});
  }
  for (const JsonValue& t : member("texts").Items()) {
    const auto field = [&](std::string_view key) -> const JsonValue& {
      static const JsonValue none;
      const JsonValue* v = t.Find(key);
      return v != nullptr ? *v : none;
    };
    e.texts.push_back({field("x").Int(), field("y").Int(), field("slot").String(), field("text").String(),
                       field("panel").Int()});
  }
  return e;
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
