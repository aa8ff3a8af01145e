#pragma once
// Reading the command line's inputs: series and model files, and lists of
// numbers given as options.

#include <optional>
#include <string>
#include <vector>

#include "odefit/model.h"
#include "odefit/series.h"

namespace odefit::cli {

// Reads the series in `path` ("-" for standard input): the classic
// one-value-per-line file when `dimension` is given, else a table. Throws
// FileError when the file cannot be opened, InputError for its content.
Series ReadSeriesInput(const std::string& path, std::optional<int> dimension);

// Reads and checks a model file. Throws FileError when it cannot be opened
// or read, InputError for its content.
Model ReadModelInput(const std::string& path);

// Reads "X1,X2,..." as finite numbers. Throws UsageError naming `option`.
std::vector<double> ParseNumberList(const std::string& text, const std::string& option);

// Returns `value` in the fewest digits that read back as the same double.
std::string Shortest(double value);

}  // namespace odefit::cli
