#pragma once
// The --plots DIR and --format png|svg options that fit, test and search
// share, and the writing of their pictures into that folder.

#include <filesystem>
#include <string>
#include <string_view>

#include "odefit/plots.h"

namespace CLI {
class App;
}

namespace odefit::cli {

class PictureOptions {
 public:
  // Adds the options to `app`; `files` names the pictures in the help ("fit.png and ...").
  void Register(CLI::App& app, std::string_view files);
  bool Wanted() const { return !folder_.empty(); }
  PictureFormat Format() const { return format_ == "svg" ? PictureFormat::Svg : PictureFormat::Png; }
  // Makes the folder when it is missing and writes `stem`.png or .svg there
  // whole; returns its path. Throws FileError.
  std::filesystem::path Write(std::string_view stem, const Picture& picture) const;

 private:
  std::string folder_;
  std::string format_ = "png";
};

}  // namespace odefit::cli
