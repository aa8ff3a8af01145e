#include "app/cli/inputs.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string_view>

#include "app/cli/exit_status.h"
#include "odefit/errors.h"
#include "odefit/model_file.h"
#include "odefit/number_text.h"

namespace odefit::cli {
namespace {

// A model file of the largest model (9 equations of 1000 terms) is well
// below this; anything larger is not one and is not read into memory.
constexpr std::size_t kLargestModelFile = 16 << 20;

}  // namespace

FileSystemInputs::FileSystemInputs() = default;
FileSystemInputs::~FileSystemInputs() = default;

std::istream& FileSystemInputs::Open(const std::string& path, bool dashIsInput) {
  if (dashIsInput && path == "-") return std::cin;
  auto in = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*in) throw FileError("cannot open " + path + ": " + std::strerror(errno));
  open_.push_back(std::move(in));
  return *open_.back();
}

Series ReadSeriesInput(InputFiles& files, const std::string& path, std::optional<int> dimension) {
  std::istream& in = files.Open(path, true);
  return dimension ? ReadClassicSeries(in, path, *dimension) : ReadSeriesTable(in, path);
}

void AddSeriesOptions(CLI::App& app, SeriesOptions& options) {
  app.add_option("--dimension", options.dimension,
                 "read SERIES as the classic file of one value per line (a value without a\n"
                 "decimal point has 10 implied decimals), D consecutive lines per vector")
      ->check(CLI::Range(1, 9));
  app.add_option("--time", options.time,
                 "the time column (its name or number): every vector's time; by default a first\n"
                 "column named t or time; none for no time column")
      ->excludes("--dimension");
  app.add_option("--delimiter", options.delimiter,
                 "the character between values: ',', ';', '|', tab or ' ' (default: commas, else blanks)")
      ->check(CLI::IsMember({",", ";", "|", "\t", "tab", " "}))
      ->excludes("--dimension");
  app.add_option("--decimal", options.decimal, "the decimal mark: . (default) or , (with --delimiter ';')")
      ->check(CLI::IsMember({".", ","}))
      ->excludes("--dimension");
}

Series ReadSeriesInputs(InputFiles& files, const std::vector<std::string>& paths, const SeriesOptions& options,
                        std::vector<std::string>& notes) {
  TableOptions table;
  table.time = options.time;
  table.decimal = options.decimal.empty() ? '.' : options.decimal.front();
  if (options.delimiter == "tab") {
    table.delimiter = '\t';
  } else if (!options.delimiter.empty()) {
    table.delimiter = options.delimiter.front();
  }
  if (table.decimal == ',' && (table.delimiter == 0 || table.delimiter == ',')) {
    throw UsageError("--decimal ',' needs another --delimiter, such as ';'");
  }
  std::vector<Series> recordings;
  for (const std::string& path : paths) {
    if (options.dimension) {
      recordings.push_back(ReadSeriesInput(files, path, options.dimension));
      continue;
    }
    std::vector<std::string> said;
    recordings.push_back(ReadSeriesTable(files.Open(path, true), path, table, &said));
    for (const std::string& note : said) notes.push_back(path + ": " + note);
    if (const std::optional<int> D = SuggestDimension(recordings.back())) {
      throw InputError(path, 0, 0,
                       "has one column of " + std::to_string(recordings.back().size()) + " values that read as " +
                           std::to_string(*D) + " interleaved variables (values " + std::to_string(*D) +
                           " apart are alike, neighbours are not), as in the classic file of one value per line: "
                           "give --dimension " + std::to_string(*D));
    }
  }
  if (recordings.size() == 1) return std::move(recordings.front());
  try {
    return JoinRecordings(recordings);
  } catch (const InvalidArgument& e) {
    throw UsageError(std::string("the series cannot be recordings of one system: ") + e.what());
  }
}

void PrintNotes(const std::vector<std::string>& notes) {
  for (const std::string& note : notes) std::cerr << "odefit: note: " << note << "\n";
}

void PrintSampling(const Sampling& sampling, int points) {
  std::size_t vectors = 0, unused = 0, shortPieces = 0, nonUniform = 0;
  for (const SeriesPiece& piece : sampling.pieces) {
    const std::size_t length = piece.end - piece.begin;
    vectors += length;
    if (length < static_cast<std::size_t>(std::max(points, 2))) {
      unused += length;
      ++shortPieces;
    }
    if (!piece.uniform) ++nonUniform;
  }
  std::cerr << "odefit: note: " << vectors << " vectors in " << sampling.recordings
            << (sampling.recordings == 1 ? " recording" : " recordings");
  if (sampling.gaps > 0) std::cerr << ", split by " << sampling.gaps << (sampling.gaps == 1 ? " gap" : " gaps");
  std::cerr << " into " << sampling.pieces.size() << (sampling.pieces.size() == 1 ? " piece" : " pieces")
            << ", dt " << ShortestText(sampling.dt);
  if (nonUniform > 0) std::cerr << "; " << nonUniform << " sampled unevenly, differentiated on their time stamps";
  std::cerr << "\n";
  if (shortPieces > 0) {
    std::cerr << "odefit: warning: " << shortPieces << (shortPieces == 1 ? " piece" : " pieces") << " of the series ("
              << unused << " vectors) " << (shortPieces == 1 ? "is" : "are") << " shorter than a window of "
              << points << " points and give no derivative estimates\n";
  }
}

Model ReadModelInput(InputFiles& files, const std::string& path) {
  std::istream& in = files.Open(path, false);  // a model file is always a file
  std::string text;
  std::vector<char> block(1 << 16);
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    text.append(block.data(), static_cast<std::size_t>(in.gcount()));
    if (text.size() > kLargestModelFile) throw InputError(path, 0, 0, "is too large to be a model file");
  }
  if (in.bad()) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  return ModelFromJson(text, path);
}

std::vector<double> ParseNumberList(const std::string& text, const std::string& option) {
  std::vector<double> values;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    std::string_view field(text.data() + begin, comma - begin);
    while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
    while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
    if (field.size() > 1 && field.front() == '+') field.remove_prefix(1);
    double value = 0.0;
    const auto [stop, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.empty() || stop != field.data() + field.size() || error != std::errc() || !std::isfinite(value)) {
      throw UsageError(option + ": \"" + std::string(field) + "\" is not a finite number");
    }
    values.push_back(value);
    if (comma == text.size()) return values;
    begin = comma + 1;
  }
}


}  // namespace odefit::cli
