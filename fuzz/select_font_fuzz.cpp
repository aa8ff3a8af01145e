// Fuzz target: font option strings, then text drawn with whatever was chosen.
#include <cstdint>
#include <string_view>

#include "graphics/graphics_layer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static odefit::GraphicsLayer* layer = [] {
    auto* l = new odefit::GraphicsLayer;
    odefit::PrepareGraphicsWindow(*l, odefit::DifferentiationWindow, "Differentiation");
    l->InitFonts();
    return l;
  }();
  const std::string_view options(reinterpret_cast<const char*>(data), size);
  layer->SelectFont(options);
  layer->MoveTo(10, 300);
  layer->DrawText("-12.5 x1 dv3");
  return 0;
}
