#pragma once
// Test support: an observer that records what the layer tells front ends.

#include <string>
#include <vector>

#include "graphics/graphics_layer.h"

namespace odefit::testing {

struct DrawnText {
  int unit, x, y;
  std::string text;
};

class RecordingObserver : public GraphicsObserver {
 public:
  void WindowOpened(int unit, WindowKind, std::string_view) override { opened.push_back(unit); }
  void WindowPlaced(int unit, const WindowPlacement&) override { placed.push_back(unit); }
  void WindowFocused(int unit) override { focused.push_back(unit); }
  void WindowCleared(int unit) override { cleared.push_back(unit); }
  void ConsoleAppearanceChanged(int unit) override { consoleChanges.push_back(unit); }
  void SurfaceChanged(int unit) override { surfaceChanges.push_back(unit); }
  void TextDrawn(int unit, int x, int y, std::string_view text) override {
    texts.push_back({unit, x, y, std::string(text)});
  }
  void DrawingComplete(int unit) override { completed.push_back(unit); }

  std::vector<int> opened, placed, focused, cleared, consoleChanges, surfaceChanges, completed;
  std::vector<DrawnText> texts;
};

}  // namespace odefit::testing
