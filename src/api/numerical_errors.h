#pragma once
// Runs core work for a public function: a numerical routine's stopping error
// becomes NumericalError carrying the routine's printed report, which goes
// nowhere else.

#include <sstream>
#include <string>
#include <utility>

#include "numerics/error_stack.h"
#include "odefit/errors.h"

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

}  // namespace odefit::api
