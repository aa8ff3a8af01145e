#include "app/png_export.h"

#include <optional>
#include <utility>

namespace odefit {

std::string_view PictureFileName(int unit) {
  switch (unit) {
    case DifferentiationWindow: return "differentiation.png";
    case EfficiencyWindow: return "model-efficiency.png";
    default: return {};
  }
}

PngExporter::PngExporter(const GraphicsLayer& layer, std::filesystem::path folder,
                         std::function<void(const std::string&)> onError, PngColourType type)
    : layer_(layer), folder_(std::move(folder)), onError_(std::move(onError)), type_(type) {}

void PngExporter::DrawingComplete(int unit) {
  const std::string_view name = PictureFileName(unit);
  if (name.empty()) return;
  const std::optional<DrawingSurface> surface = layer_.CopySurface(unit);
  if (!surface) return;
  const std::string path = (folder_ / name).string();
  std::string error;
  if (!WritePng(path, *surface, type_, &error) && onError_) {
    onError_("cannot write " + path + ": " + error);
  }
}

}  // namespace odefit
