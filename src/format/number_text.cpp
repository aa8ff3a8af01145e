#include "odefit/number_text.h"

#include <charconv>
#include <cmath>
#include <optional>

namespace odefit {
namespace {

std::optional<std::string> NotFinite(double value) {
  if (std::isnan(value)) return "nan";  // never "-nan"
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  return std::nullopt;
}

}  // namespace

std::string ShortestText(double value) {
  if (auto text = NotFinite(value)) return *text;
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string SignificantText(double value, int digits) {
  if (auto text = NotFinite(value)) return *text;
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
  return std::string(text, result.ptr);
}

std::string FixedText(double value, int decimals) {
  if (auto text = NotFinite(value)) return *text;
  // A fixed number of decimals can need up to 309 digits before the point.
  char text[400];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return SignificantText(value, 17);
  return std::string(text, result.ptr);
}

std::string PaddedText(std::string text, std::size_t width, bool right) {
  if (text.size() >= width) return text;
  const std::string blanks(width - text.size(), ' ');
  return right ? blanks + text : text + blanks;
}

}  // namespace odefit
