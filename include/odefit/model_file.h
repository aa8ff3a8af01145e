#pragma once
// The model file: a fitted model as JSON text, for other programs and for
// reading back into odefit.
//
// Layout (format "odefit-model-1"):
//   {"format": "odefit-model-1", "dimension": D, "dt": DT, "points": M,
//    "train": N, "variables": [D names],
//    "equations": [{"family": "poly" | "driven" | "rational" | "reduced",
//                   "order": NU,
//                   "denominator_order": MU,   (rational only)
//                   "second_order": MU,        (reduced only)
//                   "period": T,               (driven only, time units)
//                   "terms": [names in coefficient order],
//                   "coefficients": [...], "standard_errors": [...],
//                   "error": E, "condition": C}, ...]}
// The terms are named as TermNames (odefit/model.h) names them, except that
// a rational equation's denominator terms read "x1 (denominator)": each
// name says what its coefficient multiplies.
// Numbers are written in the fewest digits that read back as the same
// double, so a model read back has the bits it was written with. A
// non-finite error, standard error or condition (undefined, or a singular
// design) is written as null; null reads back as NaN (as +inf for the
// condition). "points" and "train" are 0 when unknown; "variables" are
// x1..xD when the series named none; bytes of a name that are not UTF-8 are
// written as U+FFFD. Members not listed are ignored.

#include <string>
#include <string_view>

#include "odefit/model.h"
#include "odefit/search.h"

namespace odefit {

inline constexpr std::string_view kModelFileFormat = "odefit-model-1";

// Returns the model file's text of `model` (indented, ending with a line
// break). Throws InvalidArgument when ValidateModel does.
std::string ModelToJson(const Model& model);

// Reads a model file's text. Everything is checked: the format name, every
// member's type, the sizes of the arrays against the dimension and the terms
// of each equation's family and orders (term names included), finite
// coefficients and dt, then ValidateModel. Sizes are checked before anything
// is allocated for them, and nesting deeper than a model file's is refused,
// so hostile text cannot make the reader use memory beyond a small multiple
// of its own size. Throws InputError naming `source` (and the line and
// column of a JSON syntax error) with a message saying what is wrong.
// A search result file (SearchResultToJson) reads as its best model.
Model ModelFromJson(std::string_view text, const std::string& source = "model");

inline constexpr std::string_view kSearchFileFormat = "odefit-search-1";

// Returns the search result as JSON text:
//   {"format": "odefit-search-1", "complete": true|false, "horizon": H,
//    "starts": S, "periods": [...], "best": {a model file's object},
//    "candidates": [{"points": M, "threshold": T, "models": ["poly:2", ...],
//                    "terms": [[names of the kept terms] per equation],
//                    "term_count": K, "score": S, "criterion": C,
//                    "validation_errors": [...]}, ...]}   (ranked, best first)
// The file reads back with ModelFromJson as its best model, so show,
// simulate and test take it as they take a model file.
std::string SearchResultToJson(const SearchResult& result);

}  // namespace odefit
