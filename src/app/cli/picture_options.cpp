#include "app/cli/picture_options.h"

#include <CLI/CLI.hpp>
#include <system_error>

#include "app/cli/output_file.h"
#include "app/cli/exit_status.h"

namespace odefit::cli {

void PictureOptions::Register(CLI::App& app, std::string_view files) {
  CLI::Option* folder = app.add_option("--plots", folder_, "write " + std::string(files) + " into this folder");
  app.add_option("--format", format_, "the pictures' format: png (default) or svg")
      ->check(CLI::IsMember({"png", "svg"}))
      ->needs(folder);
}

std::filesystem::path PictureOptions::Write(std::string_view stem, const Picture& picture) const {
  const std::filesystem::path folder(folder_);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw FileError("cannot make the folder " + folder_ + ": " + error.message());
  const std::filesystem::path path = folder / (std::string(stem) + "." + std::string(PictureExtension(Format())));
  WriteWholeFile(path, std::string_view(reinterpret_cast<const char*>(picture.data()), picture.size()));
  return path;
}

}  // namespace odefit::cli
