#pragma once
// The terminal's pictures: every time the program completes a drawing of a
// graphics window, the window's surface is written to a PNG file in the
// working directory, differentiation.png for unit 11 and
// model-efficiency.png for unit 12. Other units are not written.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "graphics/graphics_layer.h"
#include "graphics/png_file.h"

namespace odefit {

// Returns the file name of a unit's picture, or an empty text for units without one.
std::string_view PictureFileName(int unit);

class PngExporter : public GraphicsObserver {
 public:
  // Writes into `folder` (the working directory by default). `onError`, when
  // given, receives "cannot write NAME: REASON" for a file that fails; the
  // drawing goes on either way.
  explicit PngExporter(const GraphicsLayer& layer, std::filesystem::path folder = {},
                       std::function<void(const std::string&)> onError = {},
                       PngColourType type = PngColourType::Indexed);

  void DrawingComplete(int unit) override;

 private:
  const GraphicsLayer& layer_;
  std::filesystem::path folder_;
  std::function<void(const std::string&)> onError_;
  PngColourType type_;
};

}  // namespace odefit
