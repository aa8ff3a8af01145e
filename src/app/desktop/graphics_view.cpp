#include "app/desktop/graphics_view.h"

#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

#include "app/desktop/qt_palette.h"

namespace odefit {
namespace {

// About one frame of a 60 Hz screen: the longest a change waits to be shown.
constexpr int kRefreshDelayMs = 15;

}  // namespace

GraphicsView::GraphicsView(GraphicsLayer& layer, int unit, QWidget* parent)
    : QAbstractScrollArea(parent), layer_(layer), unit_(unit) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(kRefreshDelayMs);
  connect(&refreshTimer_, &QTimer::timeout, this, &GraphicsView::Refresh);
  Refresh();
}

void GraphicsView::ScheduleRefresh() {
  if (!refreshTimer_.isActive()) refreshTimer_.start();
}

void GraphicsView::Refresh() {
  refreshTimer_.stop();
  // Forget the changes before copying: a primitive drawn in between is copied
  // now and marked again, so it is copied twice but never lost.
  PixelRect changed = layer_.TakeChanges(unit_);
  bool whole = false;
  layer_.VisitSurface(unit_, [&](const DrawingSurface& surface) {
    if (image_.width() != surface.Width() || image_.height() != surface.Height()) {
      image_ = QImage(surface.Width(), surface.Height(), QImage::Format_Indexed8);
      image_.setColorTable(PaletteColourTable());
      changed = {0, 0, surface.Width() - 1, surface.Height() - 1};
      whole = true;
    }
    if (changed.Empty()) return;
    const std::span<const std::uint8_t> pixels = surface.Pixels();
    const auto width = static_cast<std::size_t>(surface.Width());
    const auto columns = static_cast<std::size_t>(changed.right - changed.left + 1);
    for (int y = changed.top; y <= changed.bottom; ++y) {
      const std::uint8_t* from = pixels.data() + static_cast<std::size_t>(y) * width + static_cast<std::size_t>(changed.left);
      std::memcpy(image_.scanLine(y) + changed.left, from, columns);
    }
  });
  if (whole) UpdateScrollRanges();
  if (changed.Empty()) return;
  const QRect onSurface(changed.left, changed.top, changed.right - changed.left + 1, changed.bottom - changed.top + 1);
  viewport()->update(onSurface.translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value()));
}

void GraphicsView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const QPoint offset(horizontalScrollBar()->value(), verticalScrollBar()->value());
  for (const QRect& exposed : event->region()) {
    const QRect source = exposed.translated(offset);
    painter.fillRect(exposed, palette().color(QPalette::Window));
    painter.drawImage(exposed.topLeft(), image_, source);
  }
}

void GraphicsView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRanges();
}

void GraphicsView::scrollContentsBy(int, int) { viewport()->update(); }

void GraphicsView::UpdateScrollRanges() {
  const QSize view = viewport()->size();
  horizontalScrollBar()->setRange(0, std::max(image_.width() - view.width(), 0));
  horizontalScrollBar()->setPageStep(view.width());
  horizontalScrollBar()->setSingleStep(16);
  verticalScrollBar()->setRange(0, std::max(image_.height() - view.height(), 0));
  verticalScrollBar()->setPageStep(view.height());
  verticalScrollBar()->setSingleStep(16);
}

}  // namespace odefit
