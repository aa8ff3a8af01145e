#pragma once
// Runs core work for a public function: a numerical routine's stopping error
// becomes NumericalError carrying the routine's printed report, which goes
// nowhere else.

#include <cmath>
#include <sstream>
#include <string>
#include <utility>

#include "numerics/error_stack.h"
#include "odefit/errors.h"
#include "odefit/model.h"

namespace odefit::api {

// Returns the report without its leading blank lines and trailing newline.
inline std::string Trimmed(std::string text) {
  const auto first = text.find_first_not_of('\n');
  text.erase(0, first == std::string::npos ? text.size() : first);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Runs `work` with a reporter of its own that prints into `printed`.
template <typename Work>
auto RunNumericalInto(std::ostringstream& printed, Work&& work) {
  ErrorReporter reporter(&printed);
  const ErrorReporterScope bind(reporter);
  try {
    return std::forward<Work>(work)();
  } catch (const RunStopped&) {
    throw NumericalError(Trimmed(reporter.LastMessage().empty() ? printed.str() : reporter.LastMessage()));
  }
}

template <typename Work>
auto RunNumerical(Work&& work) {
  std::ostringstream printed;
  return RunNumericalInto(printed, std::forward<Work>(work));
}

// Throws NumericalError when a fit overflowed: values or a sampling interval
// beyond what double precision holds (about 1e200, 1e-320) leave coefficients
// that are infinite or NaN, which no model may hold.
inline void RequireFiniteFit(const Model& model) {
  for (int i = 1; i <= model.Dimension(); ++i) {
    for (const double c : model.Equation(i).coef) {
      if (!std::isfinite(c)) {
        throw NumericalError("the fit of equation " + std::to_string(i) +
                             " overflowed: a coefficient is not finite (the values or the sampling interval are "
                             "beyond what double precision can fit)");
      }
    }
  }
}

}  // namespace odefit::api
