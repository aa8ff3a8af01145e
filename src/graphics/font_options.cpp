#include "graphics/font_options.h"

#include <cctype>
#include <climits>

namespace odefit {
namespace {

constexpr std::size_t kMaxTypefaceLength = 31;

// Reads the decimal digits at `pos` (none reads 0) and moves past them; a
// number too large for an int saturates.
int ReadNumber(std::string_view text, std::size_t& pos) {
  long long value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    value = value * 10 + (text[pos] - '0');
    if (value > INT_MAX) value = INT_MAX;
    ++pos;
  }
  return static_cast<int>(value);
}

}  // namespace

std::optional<FontRequest> ParseFontOptions(std::string_view options) {
  FontRequest request;
  std::size_t pos = 0;
  while (pos < options.size()) {
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(options[pos])));
    ++pos;
    switch (letter) {
      case 't': {
        if (pos >= options.size() || options[pos] != '\'') break;  // a bare t names nothing
        const std::size_t open = pos;
        const std::size_t close = options.find('\'', open + 1);
        if (close == std::string_view::npos || close - open - 1 > kMaxTypefaceLength) return std::nullopt;
        request.typeface = std::string(options.substr(open + 1, close - open - 1));
        pos = close + 1;
        break;
      }
      case 'h': request.height = ReadNumber(options, pos); break;
      case 'w': request.width = ReadNumber(options, pos); break;
      case 'n': request.number = ReadNumber(options, pos); break;
      case 'i': request.italic = true; break;
      case 'u': request.underline = true; break;
      case 'e': request.bold = true; break;
      case 'b': request.bestFit = true; break;
      case 'f': request.pitch = FontPitch::Fixed; break;
      case 'p': request.pitch = FontPitch::Proportional; break;
      case 'r': request.technology = FontTechnology::Raster; break;
      case 'v': request.technology = FontTechnology::Vector; break;
      default: break;  // everything else is skipped
    }
  }
  return request;
}

}  // namespace odefit
