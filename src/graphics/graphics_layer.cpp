#include "graphics/graphics_layer.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "graphics/font_options.h"
#include "graphics/palette.h"

namespace odefit {

// One window. `unit` and `kind` never change; everything else is guarded by
// `lock` (the font and the current position are touched by the drawing thread
// only, but under the lock as well, so that a window has one rule).
struct GraphicsLayer::Window {
  Window(int unit_, WindowKind kind_) : unit(unit_), kind(kind_) {}
  const int unit;
  const WindowKind kind;
  mutable std::mutex lock;
  std::string title;
  std::optional<WindowPlacement> placement;
  int background = kWhite;
  int drawColour = kBlack;
  int textColour = kBlack;
  bool cursorShown = false;
  PixelPoint position;
  Font font;
  DrawingSurface surface;  // empty for the console
  PixelRect dirty;
  std::uint64_t changes = 0;
};

namespace {

int Clamp16(int v) { return std::clamp(v, -32768, 32767); }

// Sets the pixels of a horizontal run y, x1..x2 (x1 <= x2), clipped; returns what was set.
PixelRect HorizontalRun(DrawingSurface& s, int x1, int x2, int y, int colour) {
  PixelRect drawn;
  if (y < 0 || y >= s.Height()) return drawn;
  const int from = std::max(x1, 0), to = std::min(x2, s.Width() - 1);
  for (int x = from; x <= to; ++x) s.Set(x, y, colour);
  if (from <= to) drawn = {from, y, to, y};
  return drawn;
}

PixelRect VerticalRun(DrawingSurface& s, int x, int y1, int y2, int colour) {
  PixelRect drawn;
  if (x < 0 || x >= s.Width()) return drawn;
  const int from = std::max(y1, 0), to = std::min(y2, s.Height() - 1);
  for (int y = from; y <= to; ++y) s.Set(x, y, colour);
  if (from <= to) drawn = {x, from, x, to};
  return drawn;
}

}  // namespace

ClientArea PlacementClientArea(const WindowPlacement& p) {
  return {p.col * kCellWidth, p.row * kCellHeight, p.cols * kCellWidth, p.rows * kCellHeight};
}

GraphicsLayer::GraphicsLayer(int surfaceWidth, int surfaceHeight)
    : surfaceWidth_(std::max(surfaceWidth, 800)), surfaceHeight_(std::max(surfaceHeight, 600)) {}

GraphicsLayer::~GraphicsLayer() = default;

void GraphicsLayer::AddObserver(GraphicsObserver* observer) {
  if (observer != nullptr && std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
    observers_.push_back(observer);
  }
}

void GraphicsLayer::RemoveObserver(GraphicsObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

template <typename Call>
void GraphicsLayer::Notify(Call call) const {
  for (GraphicsObserver* observer : observers_) call(*observer);
}

GraphicsLayer::Window* GraphicsLayer::Find(int unit) const {
  std::lock_guard guard(windowsLock_);
  const auto it = windows_.find(unit);
  return it == windows_.end() ? nullptr : it->second.get();
}

GraphicsLayer::Window* GraphicsLayer::Open(int unit, WindowKind kind, std::string_view title, bool& created) {
  created = false;
  if (unit == FrameWindowUnit) return nullptr;
  std::lock_guard guard(windowsLock_);
  std::unique_ptr<Window>& slot = windows_[unit];
  if (slot) return slot->kind == kind ? slot.get() : nullptr;
  slot = std::make_unique<Window>(unit, kind);
  slot->title = std::string(title);
  slot->font = Font();
  if (kind == WindowKind::Graphics) slot->surface = DrawingSurface(surfaceWidth_, surfaceHeight_, kWhite);
  created = true;
  return slot.get();
}

bool GraphicsLayer::MarkChanged(Window& window, const PixelRect& rect) {
  if (rect.Empty()) return false;
  const bool wasClean = window.dirty.Empty();
  window.dirty.Include(rect);
  ++window.changes;
  return wasClean;
}

bool GraphicsLayer::OpenGraphicsWindow(int unit, std::string_view title) {
  bool created = false;
  Window* window = Open(unit, WindowKind::Graphics, title, created);
  if (created) Notify([&](GraphicsObserver& o) { o.WindowOpened(unit, WindowKind::Graphics, title); });
  return window != nullptr;
}

bool GraphicsLayer::OpenConsoleWindow(int unit, std::string_view title) {
  bool created = false;
  Window* window = Open(unit, WindowKind::Console, title, created);
  if (window == nullptr) return false;
  if (created) Notify([&](GraphicsObserver& o) { o.WindowOpened(unit, WindowKind::Console, title); });
  current_ = window;
  return true;
}

bool GraphicsLayer::SetWindowPlacement(int unit, const WindowPlacement& placement) {
  if (unit == FrameWindowUnit) {
    {
      std::lock_guard guard(windowsLock_);
      framePlacement_ = placement;
    }
  } else {
    Window* window = Find(unit);
    if (window == nullptr) return false;
    std::lock_guard guard(window->lock);
    window->placement = placement;
  }
  Notify([&](GraphicsObserver& o) { o.WindowPlaced(unit, placement); });
  return true;
}

bool GraphicsLayer::SetActiveWindow(int unit) {
  Window* window = Find(unit);
  if (window == nullptr) return false;
  current_ = window;
  return true;
}

bool GraphicsLayer::FocusWindow(int unit) {
  Window* window = Find(unit);
  if (window == nullptr) return false;
  current_ = window;
  focused_ = unit;
  Notify([&](GraphicsObserver& o) { o.WindowFocused(unit); });
  return true;
}

int GraphicsLayer::SetBackgroundColour(int index) {
  if (current_ == nullptr) return -1;
  int previous = 0;
  {
    std::lock_guard guard(current_->lock);
    previous = current_->background;
    current_->background = ClampColourIndex(index);
  }
  if (current_->kind == WindowKind::Console) {
    Notify([&](GraphicsObserver& o) { o.ConsoleAppearanceChanged(current_->unit); });
  }
  return previous;
}

void GraphicsLayer::ClearWindow() {
  if (current_ == nullptr) return;
  bool changed = false;
  if (current_->kind == WindowKind::Graphics) {
    std::lock_guard guard(current_->lock);
    current_->surface.Fill(current_->background);
    changed = MarkChanged(*current_, {0, 0, current_->surface.Width() - 1, current_->surface.Height() - 1});
  }
  const int unit = current_->unit;
  Notify([&](GraphicsObserver& o) { o.WindowCleared(unit); });
  if (changed) Notify([&](GraphicsObserver& o) { o.SurfaceChanged(unit); });
}

int GraphicsLayer::SetDrawColour(int index) {
  if (current_ == nullptr) return -1;
  std::lock_guard guard(current_->lock);
  const int previous = current_->drawColour;
  current_->drawColour = ClampColourIndex(index);
  return previous;
}

int GraphicsLayer::SetConsoleTextColour(int index) {
  if (current_ == nullptr || current_->kind != WindowKind::Console) return -1;
  int previous = 0;
  {
    std::lock_guard guard(current_->lock);
    previous = current_->textColour;
    current_->textColour = std::clamp(index, 0, 31);
  }
  Notify([&](GraphicsObserver& o) { o.ConsoleAppearanceChanged(current_->unit); });
  return previous;
}

bool GraphicsLayer::ShowConsoleCursor(bool on) {
  if (current_ == nullptr || current_->kind != WindowKind::Console) return false;
  bool previous = false;
  {
    std::lock_guard guard(current_->lock);
    previous = current_->cursorShown;
    current_->cursorShown = on;
  }
  Notify([&](GraphicsObserver& o) { o.ConsoleAppearanceChanged(current_->unit); });
  return previous;
}

int GraphicsLayer::InitFonts() {
  const int count = fonts_.Build();
  if (current_ != nullptr && current_->kind == WindowKind::Graphics) {
    Font font = fonts_.OpenDefault();
    std::lock_guard guard(current_->lock);
    current_->font = std::move(font);
  }
  return count;
}

int GraphicsLayer::SelectFont(std::string_view options) {
  if (current_ == nullptr || current_->kind != WindowKind::Graphics || !fonts_.Built()) return -1;
  const std::optional<FontRequest> request = ParseFontOptions(options);
  if (!request) return -1;
  const int index = fonts_.Match(*request);
  if (index < 0) return -1;
  Font font = fonts_.Open(index, *request);
  if (font.IsNull()) return -1;
  const int number = font.Number();
  std::lock_guard guard(current_->lock);
  current_->font = std::move(font);
  return number;
}

PixelPoint GraphicsLayer::MoveTo(int x, int y) {
  if (current_ == nullptr) return {};
  std::lock_guard guard(current_->lock);
  const PixelPoint previous = current_->position;
  current_->position = {x, y};
  return previous;
}

void GraphicsLayer::LineTo(int x, int y) {
  if (current_ == nullptr || current_->kind != WindowKind::Graphics) return;
  Window& w = *current_;
  bool notify = false;
  {
    std::lock_guard guard(w.lock);
    const int x0 = Clamp16(w.position.x), y0 = Clamp16(w.position.y);
    const int x1 = Clamp16(x), y1 = Clamp16(y);
    PixelRect drawn;
    if (y0 == y1) {
      drawn = HorizontalRun(w.surface, std::min(x0, x1), std::max(x0, x1), y0, w.drawColour);
    } else if (x0 == x1) {
      drawn = VerticalRun(w.surface, x0, std::min(y0, y1), std::max(y0, y1), w.drawColour);
    } else {
      // Bresenham over the whole line, setting the pixels that fall on the surface.
      const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
      const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
      int err = dx + dy;
      int px = x0, py = y0;
      for (;;) {
        if (w.surface.Contains(px, py)) {
          w.surface.Set(px, py, w.drawColour);
          drawn.Include(px, py);
        }
        if (px == x1 && py == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
          err += dy;
          px += sx;
        }
        if (e2 <= dx) {
          err += dx;
          py += sy;
        }
      }
    }
    w.position = {x, y};
    notify = MarkChanged(w, drawn);
  }
  if (notify) Notify([&](GraphicsObserver& o) { o.SurfaceChanged(w.unit); });
}

void GraphicsLayer::DrawRectangleOutline(int x1, int y1, int x2, int y2) {
  if (current_ == nullptr || current_->kind != WindowKind::Graphics) return;
  Window& w = *current_;
  const int left = Clamp16(std::min(x1, x2)), right = Clamp16(std::max(x1, x2));
  const int top = Clamp16(std::min(y1, y2)), bottom = Clamp16(std::max(y1, y2));
  bool notify = false;
  {
    std::lock_guard guard(w.lock);
    PixelRect drawn;
    drawn.Include(HorizontalRun(w.surface, left, right, top, w.drawColour));
    drawn.Include(HorizontalRun(w.surface, left, right, bottom, w.drawColour));
    drawn.Include(VerticalRun(w.surface, left, top, bottom, w.drawColour));
    drawn.Include(VerticalRun(w.surface, right, top, bottom, w.drawColour));
    notify = MarkChanged(w, drawn);
  }
  if (notify) Notify([&](GraphicsObserver& o) { o.SurfaceChanged(w.unit); });
}

int GraphicsLayer::DrawText(std::string_view text) {
  if (current_ == nullptr || current_->kind != WindowKind::Graphics) return 0;
  Window& w = *current_;
  bool notify = false;
  PixelPoint at;
  int width = 0;
  {
    std::lock_guard guard(w.lock);
    at = w.position;
    const PixelRect drawn = w.font.Draw(w.surface, at.x, at.y, text, w.drawColour);
    width = w.font.TextWidth(text);
    w.position.x += width;
    notify = MarkChanged(w, drawn);
  }
  Notify([&](GraphicsObserver& o) { o.TextDrawn(w.unit, at.x, at.y, text); });
  if (notify) Notify([&](GraphicsObserver& o) { o.SurfaceChanged(w.unit); });
  return width;
}

int GraphicsLayer::SetPixel(int x, int y) {
  Window* w = current_;
  if (w == nullptr || w->kind != WindowKind::Graphics) return -1;
  int previous = 0;
  bool notify = false;
  {
    std::lock_guard guard(w->lock);
    if (!w->surface.Contains(x, y)) return -1;
    previous = w->surface.At(x, y);
    w->surface.Set(x, y, w->drawColour);
    notify = w->dirty.Empty();
    w->dirty.Include(x, y);
    ++w->changes;
  }
  if (notify) Notify([&](GraphicsObserver& o) { o.SurfaceChanged(w->unit); });
  return previous;
}

void GraphicsLayer::DrawingComplete(int unit) {
  Notify([&](GraphicsObserver& o) { o.DrawingComplete(unit); });
}

int GraphicsLayer::CurrentWindow() const { return current_ == nullptr ? 0 : current_->unit; }

PixelPoint GraphicsLayer::CurrentPosition() const {
  if (current_ == nullptr) return {};
  std::lock_guard guard(current_->lock);
  return current_->position;
}

int GraphicsLayer::DrawColour() const {
  if (current_ == nullptr) return -1;
  std::lock_guard guard(current_->lock);
  return current_->drawColour;
}

int GraphicsLayer::TextWidth(std::string_view text) const { return CurrentFont().TextWidth(text); }

const Font& GraphicsLayer::CurrentFont() const {
  return current_ == nullptr || current_->kind != WindowKind::Graphics ? nullFont_ : current_->font;
}

std::optional<WindowState> GraphicsLayer::State(int unit) const {
  Window* window = Find(unit);
  if (window == nullptr) return std::nullopt;
  std::lock_guard guard(window->lock);
  return WindowState{window->unit,        window->kind,       window->title,      window->placement,
                     window->background,  window->drawColour, window->textColour, window->cursorShown};
}

std::optional<WindowPlacement> GraphicsLayer::FramePlacement() const {
  std::lock_guard guard(windowsLock_);
  return framePlacement_;
}

bool GraphicsLayer::VisitSurface(int unit, const std::function<void(const DrawingSurface&)>& visit) const {
  Window* window = Find(unit);
  if (window == nullptr || window->kind != WindowKind::Graphics) return false;
  std::lock_guard guard(window->lock);
  visit(window->surface);
  return true;
}

std::optional<DrawingSurface> GraphicsLayer::CopySurface(int unit) const {
  std::optional<DrawingSurface> copy;
  VisitSurface(unit, [&](const DrawingSurface& surface) { copy = surface; });
  return copy;
}

PixelRect GraphicsLayer::TakeChanges(int unit) {
  Window* window = Find(unit);
  if (window == nullptr) return {};
  std::lock_guard guard(window->lock);
  return std::exchange(window->dirty, PixelRect{});
}

std::uint64_t GraphicsLayer::ChangeCount(int unit) const {
  Window* window = Find(unit);
  if (window == nullptr) return 0;
  std::lock_guard guard(window->lock);
  return window->changes;
}

void PrepareGraphicsWindow(GraphicsLayer& layer, int unit, std::string_view title) {
  layer.OpenGraphicsWindow(unit, title);
  layer.SetWindowPlacement(unit, kGraphicsPlacement);
  layer.SetActiveWindow(unit);
  layer.FocusWindow(unit);
  layer.SetBackgroundColour(kWhite);
  layer.ClearWindow();
  layer.SetDrawColour(kBlack);
  layer.InitFonts();
  layer.SelectFont(PlotFont);
}

void PrepareConsoleWindow(GraphicsLayer& layer) {
  layer.OpenConsoleWindow(ConsoleWindow, kConsoleTitle);
  layer.SetActiveWindow(ConsoleWindow);
  layer.SetWindowPlacement(ConsoleWindow, kConsolePlacement);
  layer.SetBackgroundColour(kWhite);
  layer.ClearWindow();
  layer.SetConsoleTextColour(kBlack);
  layer.ShowConsoleCursor(true);
}

bool InitialSettings(GraphicsLayer& layer) {
  WindowPlacement maximised;
  maximised.kind = static_cast<std::int16_t>(PlacementKind::Maximise);
  layer.SetWindowPlacement(FrameWindowUnit, maximised);
  return true;
}

}  // namespace odefit
