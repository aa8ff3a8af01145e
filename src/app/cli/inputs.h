#pragma once
// Reading the command line's inputs: series and model files, and lists of
// numbers given as options.

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "odefit/model.h"
#include "odefit/series.h"

namespace CLI {
class App;
}

namespace odefit::cli {

// Where the subcommands read their input files from: the file system, or, to
// check a command line against given contents, anything else.
class InputFiles {
 public:
  virtual ~InputFiles() = default;
  // Returns the content of the file `path` (of standard input for "-" when
  // `dashIsInput`) as a stream that stays valid as long as this object.
  // Throws FileError naming the path and the reason when it cannot be opened.
  virtual std::istream& Open(const std::string& path, bool dashIsInput) = 0;
};

// The file system, and standard input for "-".
class FileSystemInputs final : public InputFiles {
 public:
  FileSystemInputs();
  ~FileSystemInputs() override;
  std::istream& Open(const std::string& path, bool dashIsInput) override;

 private:
  std::vector<std::unique_ptr<std::istream>> open_;
};

// Reads the series in `path` ("-" for standard input): the classic
// one-value-per-line file when `dimension` is given, else a table. Throws
// FileError when the file cannot be opened, InputError for its content.
Series ReadSeriesInput(InputFiles& files, const std::string& path, std::optional<int> dimension);

// How the subcommands read their series files.
struct SeriesOptions {
  std::optional<int> dimension;  // the classic file of one value per line
  std::string time;              // --time: a column's name or number, "none", or empty (a column t or time)
  std::string delimiter;         // --delimiter: empty for the defaults
  std::string decimal = ".";     // --decimal
};

// Adds --dimension, --time, --delimiter and --decimal to `app`.
void AddSeriesOptions(CLI::App& app, SeriesOptions& options);

// Reads every series in `paths` as ReadSeriesInput does with `options` and
// joins them as recordings of one series (JoinRecordings). What the reader
// chose on its own goes to `notes`, one "file: ..." line each. A table of
// one column that reads as an interleaved series of D variables is refused
// with the hint to give --dimension D. Throws UsageError for options that do
// not go together, InputError, FileError.
Series ReadSeriesInputs(InputFiles& files, const std::vector<std::string>& paths, const SeriesOptions& options,
                        std::vector<std::string>& notes);

// Writes every note as "odefit: note: ..." on standard error.
void PrintNotes(const std::vector<std::string>& notes);

// Says on standard error how a series of several recordings or with time
// stamps is sampled: its pieces and gaps, non-uniform pieces, and pieces
// too short for a window of `points`, which give no rows (a warning).
void PrintSampling(const Sampling& sampling, int points);

// Reads and checks a model file. Throws FileError when it cannot be opened
// or read, InputError for its content.
Model ReadModelInput(InputFiles& files, const std::string& path);

// Reads "X1,X2,..." as finite numbers. Throws UsageError naming `option`.
std::vector<double> ParseNumberList(const std::string& text, const std::string& option);


}  // namespace odefit::cli
