#include "specs.h"

#include <charconv>
#include <cmath>
#include <type_traits>
#include <vector>

#include "odefit/errors.h"
#include "pending.h"

namespace odefit::python {
namespace {

constexpr int kLargestOrder = 1000;

std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos; text.remove_prefix(colon + 1)) {
    fields.push_back(text.substr(0, colon));
  }
  fields.push_back(text);
  return fields;
}

int Order(std::string_view field, const char* what, std::string_view spec) {
  int order = -1;
  const char* end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), end, order);
  if (field.empty() || stop != end || error != std::errc() || order < 0 || order > kLargestOrder) {
    throw InvalidArgument(std::string("the ") + what + " in model \"" + std::string(spec) +
                          "\" must be a whole number from 0 to 1000, not \"" + std::string(field) + "\"");
  }
  return order;
}

double Period(std::string_view field, std::string_view spec) {
  if (field.size() > 1 && field.front() == '+') field.remove_prefix(1);
  double period = 0.0;
  const char* end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), end, period);
  if (field.empty() || stop != end || error != std::errc() || !(period > 0.0) || !std::isfinite(period)) {
    throw InvalidArgument("the driving period in model \"" + std::string(spec) +
                          "\" must be a positive number of time units, not \"" + std::string(field) + "\"");
  }
  return period;
}

// The library's parser when it has one (see pending.h), else ours.
template <typename Result>
EquationSpec FromLibrary(Result&& parsed, std::string_view text) {
  if constexpr (std::is_same_v<std::decay_t<Result>, odefit_python_pending::Missing>) {
    return ParseSpecHere(text);
  } else {
    return std::forward<Result>(parsed);
  }
}

}  // namespace

EquationSpec ParseSpecHere(std::string_view text) {
  const std::vector<std::string_view> fields = Fields(text);
  const std::string_view family = fields.front();
  const auto expect = [&](std::size_t count, const char* form) {
    if (fields.size() != count + 1) {
      throw InvalidArgument("model \"" + std::string(text) + "\" is not of the form " + form);
    }
  };
  EquationSpec spec;
  if (family == "poly") {
    expect(1, "poly:NU");
    spec.family = ModelFamily::StandardPolynomial;
    spec.order = Order(fields[1], "order", text);
  } else if (family == "driven") {
    expect(2, "driven:NU:PERIOD");
    spec.family = ModelFamily::DrivenPolynomial;
    spec.order = Order(fields[1], "order", text);
    spec.period = Period(fields[2], text);
  } else if (family == "rational") {
    expect(2, "rational:NU:MU");
    spec.family = ModelFamily::Rational;
    spec.order = Order(fields[1], "numerator order", text);
    spec.secondOrder = Order(fields[2], "denominator order", text);
  } else if (family == "reduced") {
    expect(2, "reduced:NU:MU");
    spec.family = ModelFamily::ReducedPolynomial;
    spec.order = Order(fields[1], "order of the x1 part", text);
    spec.secondOrder = Order(fields[2], "order of the free x2 part", text);
  } else {
    throw InvalidArgument("unknown model family \"" + std::string(family) + "\" in \"" + std::string(text) +
                          "\": use poly:NU, driven:NU:PERIOD, rational:NU:MU or reduced:NU:MU");
  }
  return spec;
}

EquationSpec ParseSpec(std::string_view text) {
  return FromLibrary(odefit_python_probe::LibraryParseEquationSpec(text), text);
}

std::string FormatSpec(const EquationSpec& spec) {
  const std::string order = std::to_string(spec.order);
  switch (spec.family) {
    case ModelFamily::StandardPolynomial: return "poly:" + order;
    case ModelFamily::DrivenPolynomial: {
      char digits[32];
      const auto result = std::to_chars(digits, digits + sizeof digits, spec.period);
      return "driven:" + order + ":" + std::string(digits, result.ptr);
    }
    case ModelFamily::Rational: return "rational:" + order + ":" + std::to_string(spec.secondOrder);
    case ModelFamily::ReducedPolynomial: return "reduced:" + order + ":" + std::to_string(spec.secondOrder);
  }
  throw InvalidArgument("unknown model family " + std::to_string(static_cast<int>(spec.family)));
}

EquationSpec SpecOf(const ModelEquation& equation) {
  EquationSpec spec;
  spec.family = equation.family;
  spec.order = equation.nu;
  if (equation.family == ModelFamily::Rational || equation.family == ModelFamily::ReducedPolynomial) {
    spec.secondOrder = equation.mu;
  }
  if (equation.family == ModelFamily::DrivenPolynomial) spec.period = equation.period;
  return spec;
}

}  // namespace odefit::python
