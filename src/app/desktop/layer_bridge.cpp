#include "app/desktop/layer_bridge.h"

#include <QMetaObject>
#include <QString>

#include "app/desktop/main_window.h"

namespace odefit {
namespace {

// Queues `call` to the frame's thread; it is dropped if the frame is gone.
template <typename Call>
void Post(MainWindow& window, Call call) {
  QMetaObject::invokeMethod(&window, std::move(call), Qt::QueuedConnection);
}

}  // namespace

void LayerBridge::WindowOpened(int unit, WindowKind kind, std::string_view title) {
  const QString name = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
  Post(window_, [w = &window_, unit, kind, name] { w->OpenUnit(unit, kind, name); });
  gate_.Pass();
}

void LayerBridge::WindowPlaced(int unit, const WindowPlacement& placement) {
  Post(window_, [w = &window_, unit, placement] { w->PlaceUnit(unit, placement); });
}

void LayerBridge::WindowFocused(int unit) {
  Post(window_, [w = &window_, unit, activity = channel_.Activity()] { w->FocusUnit(unit, activity); });
}

void LayerBridge::WindowCleared(int unit) {
  // The input window's text travels through the channel; the clear goes the
  // same way so that it falls between the right lines.
  if (unit == ConsoleWindow) channel_.ClearScreen();
}

void LayerBridge::ConsoleAppearanceChanged(int) {
  Post(window_, [w = &window_] { w->UpdateConsoleAppearance(); });
}

void LayerBridge::SurfaceChanged(int unit) {
  // Shown first, then held: a paused run shows everything drawn so far.
  Post(window_, [w = &window_, unit] { w->SurfaceChanged(unit); });
  gate_.Pass();
}

void LayerBridge::TextDrawn(int, int, int, std::string_view) { gate_.Pass(); }

}  // namespace odefit
