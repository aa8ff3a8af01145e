#pragma once
// A graphics window's widget: shows the unit's drawing surface through an
// indexed image (the 16-colour palette as its colour table), with scroll bars
// over the whole surface. What the dialogue thread draws is copied in and
// repainted in coalesced steps, so a plot visibly grows while it is computed.
// GUI thread only.

#include <QAbstractScrollArea>
#include <QImage>
#include <QTimer>

#include "graphics/graphics_layer.h"

namespace odefit {

class GraphicsView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  GraphicsView(GraphicsLayer& layer, int unit, QWidget* parent = nullptr);

  int Unit() const { return unit_; }
  // Asks for a refresh a moment from now; repeated asks before it runs are one.
  void ScheduleRefresh();
  // Copies what changed since the last refresh from the surface and repaints it.
  void Refresh();
  // The copy of the surface the widget paints from.
  const QImage& Image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void UpdateScrollRanges();

  GraphicsLayer& layer_;
  const int unit_;
  QImage image_;
  QTimer refreshTimer_;
};

}  // namespace odefit
