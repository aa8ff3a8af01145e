#pragma once
// Library functions other branches are adding: the table reader
// (ReadSeriesTable in odefit/series.h), the equation spec parser
// (ParseEquationSpec in odefit/fit.h) and the model file (odefit/model_file.h).
//
// The bindings use each of them as soon as the library declares it, with no
// change here: the model file by __has_include, the two functions by the probe
// below, which finds the library's declaration when there is one and the
// placeholder (returning Missing) otherwise. Until then the table reader and
// the model file raise NotImplementedError, and the bindings parse specs
// themselves (specs.cpp). Once all three are in every build, this file can go:
// call them directly.

#include <string>
#include <string_view>
#include <type_traits>

#include "odefit/fit.h"
#include "odefit/series.h"

#if __has_include("odefit/model_file.h")
#include "odefit/model_file.h"
#define ODEFIT_PYTHON_HAS_MODEL_FILE 1
#else
#define ODEFIT_PYTHON_HAS_MODEL_FILE 0
#endif

namespace odefit_python_pending {

struct Missing {};

// Placeholders: a library function of the same name and parameters wins
// overload resolution against them (a non-template beats a template).
template <typename T>
Missing ReadSeriesTable(const T&) {
  return {};
}
template <typename T>
Missing ParseEquationSpec(const T&) {
  return {};
}

}  // namespace odefit_python_pending

// At global scope, so that both using-directives put their names in the same
// scope and overload resolution chooses between them.
namespace odefit_python_probe {
using namespace odefit;
using namespace odefit_python_pending;
inline auto LibraryReadSeriesTable(const std::string& path) { return ReadSeriesTable(path); }
inline auto LibraryParseEquationSpec(std::string_view text) { return ParseEquationSpec(text); }
}  // namespace odefit_python_probe

namespace odefit::python {

inline constexpr bool kHasTableReader =
    !std::is_same_v<decltype(odefit_python_probe::LibraryReadSeriesTable(std::string())),
                    odefit_python_pending::Missing>;
inline constexpr bool kHasSpecParser =
    !std::is_same_v<decltype(odefit_python_probe::LibraryParseEquationSpec(std::string_view())),
                    odefit_python_pending::Missing>;
inline constexpr bool kHasModelFile = ODEFIT_PYTHON_HAS_MODEL_FILE != 0;

}  // namespace odefit::python
