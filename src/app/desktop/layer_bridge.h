#pragma once
// The graphics layer's observer in the desktop: runs on the dialogue thread,
// passes the pause gate, and queues what the frame must do to the GUI thread.
// It never waits for the GUI, so the dialogue thread holds no lock of the
// layer and waits for nothing but the gate while it notifies.

#include "app/desktop/console_channel.h"
#include "app/desktop/pause_gate.h"
#include "graphics/graphics_layer.h"

namespace odefit {

class MainWindow;

class LayerBridge : public GraphicsObserver {
 public:
  LayerBridge(MainWindow& window, ConsoleChannel& channel, PauseGate& gate)
      : window_(window), channel_(channel), gate_(gate) {}

  void WindowOpened(int unit, WindowKind kind, std::string_view title) override;
  void WindowPlaced(int unit, const WindowPlacement& placement) override;
  void WindowFocused(int unit) override;
  void WindowCleared(int unit) override;
  void ConsoleAppearanceChanged(int unit) override;
  void SurfaceChanged(int unit) override;
  void TextDrawn(int unit, int x, int y, std::string_view text) override;

 private:
  MainWindow& window_;
  ConsoleChannel& channel_;
  PauseGate& gate_;
};

}  // namespace odefit
