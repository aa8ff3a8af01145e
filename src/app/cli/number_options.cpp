#include "app/cli/number_options.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace odefit::cli {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips the digits at the front of `text`; returns how many there were.
std::size_t SkipDigits(std::string_view& text) {
  std::size_t count = 0;
  while (count < text.size() && IsDigit(text[count])) ++count;
  text.remove_prefix(count);
  return count;
}

void SkipSign(std::string_view& text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string WholeNumberProblem(const std::string& text) {
  std::string_view rest = text;
  SkipSign(rest);
  const std::string_view digits = rest;
  if (SkipDigits(rest) == 0 || !rest.empty()) return Quoted(text) + " is not a whole number in decimal digits";
  if (digits.size() > 1 && digits.front() == '0') {
    return Quoted(text) + ": write whole numbers without leading zeros (they are decimal, never octal)";
  }
  return "";
}

std::string RealNumberProblem(const std::string& text) {
  // [+-] digits [. [digits]] or [+-] . digits, then [e|E [+-] digits]
  std::string_view rest = text;
  SkipSign(rest);
  std::size_t mantissa = SkipDigits(rest);
  if (!rest.empty() && rest.front() == '.') {
    rest.remove_prefix(1);
    mantissa += SkipDigits(rest);
  }
  bool valid = mantissa > 0;
  if (valid && !rest.empty() && (rest.front() == 'e' || rest.front() == 'E')) {
    rest.remove_prefix(1);
    SkipSign(rest);
    valid = SkipDigits(rest) > 0;
  }
  if (!valid || !rest.empty()) return Quoted(text) + " is not a number in decimal notation";
  if (!std::isfinite(std::strtod(text.c_str(), nullptr))) {
    return Quoted(text) + " is beyond the range of double precision";
  }
  return "";
}

void RequireDecimalNumbers(CLI::App& app) {
  for (CLI::Option* option : app.get_options()) {
    // The type, without what the option's validators add after a colon.
    const std::string full = option->get_type_name();
    const std::string type = full.substr(0, full.find(':'));
    if (type == "INT" || type == "UINT") {
      option->transform(CLI::Validator([](std::string& text) { return WholeNumberProblem(text); }, ""));
    } else if (type == "FLOAT") {
      option->transform(CLI::Validator([](std::string& text) { return RealNumberProblem(text); }, ""));
    }
  }
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) RequireDecimalNumbers(*sub);
}

}  // namespace odefit::cli
