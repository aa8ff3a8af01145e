#include "app/cli/inputs.h"

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
