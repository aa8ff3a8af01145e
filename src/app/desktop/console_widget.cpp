#include "app/desktop/console_widget.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "app/desktop/qt_palette.h"

namespace odefit {
namespace {

constexpr int kTypedAheadColour = 8;  // grey

}  // namespace

ConsoleWidget::ConsoleWidget(ConsoleChannel& channel, QWidget* parent)
    : QAbstractScrollArea(parent), channel_(channel) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  // Courier New, 8 x 16 cells; where it is missing fontconfig's metric twin
  // (Liberation Mono) stands in. Every character is drawn in its own cell,
  // so the font's own advance never shifts a column.
  font_.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"), QStringLiteral("Cousine")});
  font_.setStyleHint(QFont::TypeWriter);
  font_.setFixedPitch(true);
  font_.setPixelSize(13);
  const QFontMetrics metrics(font_);
  baseline_ = std::clamp((kCellHeight - metrics.height()) / 2 + metrics.ascent(), 1, kCellHeight - 1);
  Rebuild();
}

bool ConsoleWidget::TakeNews() {
  ConsoleChannel::News news = channel_.Take();
  const std::size_t clears = transcript_.Clears();
  transcript_.Append(news.output);
  unread_ = std::move(news.unread);
  Rebuild();
  if (transcript_.Clears() != clears) {
    verticalScrollBar()->setValue(transcript_.ClearRow());
  }
  KeepCursorVisible();
  return !news.output.empty() || news.asked;
}

void ConsoleWidget::SetAppearance(int background, int textColour, bool cursorShown) {
  background_ = background;
  textColour_ = textColour;
  cursorShown_ = cursorShown;
  viewport()->update();
}

void ConsoleWidget::TypeText(const QString& text) {
  QString typed = text;
  typed.remove(QLatin1Char('\r'));
  const std::u32string codes = typed.toStdU32String();
  for (const std::u32string& line : editor_.Type(codes)) channel_.Submit(EncodeUtf8(line));
  anchor_ = head_ = {};
  TakeNews();
}

void ConsoleWidget::Paste() {
  const QString text = QApplication::clipboard()->text();
  if (!text.isEmpty()) TypeText(text);
}

void ConsoleWidget::SelectAll() {
  anchor_ = {0, 0};
  head_ = shown_.empty() ? CellPos{} : CellPos{static_cast<int>(shown_.size()) - 1,
                                              static_cast<int>(shown_.back().text.size())};
  viewport()->update();
}

QString ConsoleWidget::SelectedText() const {
  if (anchor_ == head_) return {};
  const CellPos from = std::min(anchor_, head_), to = std::max(anchor_, head_);
  std::u32string text;
  for (int r = from.row; r <= to.row && r < static_cast<int>(shown_.size()); ++r) {
    const std::u32string& row = shown_[static_cast<std::size_t>(r)].text;
    const auto first = static_cast<std::size_t>(r == from.row ? std::min<int>(from.col, static_cast<int>(row.size())) : 0);
    const auto last = r == to.row ? std::min<std::size_t>(static_cast<std::size_t>(to.col), row.size()) : row.size();
    if (first < last) text.append(row, first, last - first);
    if (r != to.row) text.push_back(U'\n');
  }
  return QString::fromStdU32String(text);
}

QString ConsoleWidget::TranscriptText() const { return QString::fromStdString(transcript_.Text()); }

void ConsoleWidget::Rebuild() {
  const std::vector<std::u32string>& rows = transcript_.Rows();
  shown_.clear();
  shown_.reserve(rows.size() + unread_.size() + 1);
  for (const std::u32string& row : rows) shown_.push_back({row, false});
  if (unread_.empty()) {
    // The line being typed continues the last row, right after the prompt.
    cursor_ = {static_cast<int>(shown_.size()) - 1,
               static_cast<int>(shown_.back().text.size() + editor_.Cursor())};
    shown_.back().text += editor_.Text();
  } else {
    for (const std::string& line : unread_) shown_.push_back({DecodeUtf8(line), true});
    shown_.push_back({editor_.Text(), true});
    cursor_ = {static_cast<int>(shown_.size()) - 1, static_cast<int>(editor_.Cursor())};
  }
  clearRow_ = transcript_.ClearRow();
  UpdateScrollRanges();
  viewport()->update();
}

void ConsoleWidget::UpdateScrollRanges() {
  int widest = 0;
  for (const ShownRow& row : shown_) widest = std::max(widest, static_cast<int>(row.text.size()));
  widest = std::max(widest, cursor_.col + 1);
  const int rows = VisibleRows(), cols = VisibleCols();
  verticalScrollBar()->setRange(0, std::max(static_cast<int>(shown_.size()) - rows, clearRow_));
  verticalScrollBar()->setPageStep(std::max(rows, 1));
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setRange(0, std::max(widest - cols, 0));
  horizontalScrollBar()->setPageStep(std::max(cols, 1));
  horizontalScrollBar()->setSingleStep(1);
}

void ConsoleWidget::KeepCursorVisible() {
  const int rows = std::max(VisibleRows(), 1), cols = std::max(VisibleCols(), 1);
  QScrollBar* v = verticalScrollBar();
  if (cursor_.row >= v->value() + rows) v->setValue(cursor_.row - rows + 1);
  if (cursor_.row < v->value()) v->setValue(cursor_.row);
  QScrollBar* h = horizontalScrollBar();
  if (cursor_.col >= h->value() + cols) h->setValue(cursor_.col - cols + 1);
  if (cursor_.col < h->value()) h->setValue(std::max(cursor_.col - cols + 1, 0));
}

void ConsoleWidget::AfterEdit() {
  anchor_ = head_ = {};
  Rebuild();
  KeepCursorVisible();
}

void ConsoleWidget::EnterLine() {
  channel_.Submit(EncodeUtf8(editor_.Enter()));
  anchor_ = head_ = {};
  TakeNews();
}

void ConsoleWidget::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QColor background = PaletteColour(background_);
  painter.fillRect(viewport()->rect(), background);
  painter.setFont(font_);
  const int top = verticalScrollBar()->value(), left = horizontalScrollBar()->value();
  const int rows = VisibleRows() + 1, cols = VisibleCols() + 1;
  const QColor text = PaletteColour(textColour_ % 16);
  const QColor typedAhead = PaletteColour(kTypedAheadColour);
  const bool selecting = anchor_ != head_;
  const CellPos from = std::min(anchor_, head_), to = std::max(anchor_, head_);
  const QPalette& colours = palette();
  for (int r = 0; r < rows && top + r < static_cast<int>(shown_.size()); ++r) {
    const ShownRow& row = shown_[static_cast<std::size_t>(top + r)];
    const int y = r * kCellHeight;
    for (int c = 0; c < cols; ++c) {
      const int col = left + c;
      const CellPos here{top + r, col};
      const bool selected = selecting && from <= here && here < to;
      const bool hasChar = col < static_cast<int>(row.text.size());
      if (!hasChar && !selected) continue;
      const QRect cell(c * kCellWidth, y, kCellWidth, kCellHeight);
      if (selected) painter.fillRect(cell, colours.color(QPalette::Highlight));
      if (!hasChar) continue;
      const char32_t ch = row.text[static_cast<std::size_t>(col)];
      if (ch == U' ') continue;
      painter.setPen(selected ? colours.color(QPalette::HighlightedText) : (row.typedAhead ? typedAhead : text));
      painter.drawText(QPoint(c * kCellWidth, y + baseline_), QString::fromUcs4(&ch, 1));
    }
  }
  if (cursorShown_) {
    const int r = cursor_.row - top, c = cursor_.col - left;
    if (r >= 0 && r < rows && c >= 0 && c < cols) {
      const QRect cell(c * kCellWidth, r * kCellHeight, kCellWidth, kCellHeight);
      if (hasFocus()) {
        // A block cursor in the text colour, the character under it in the background colour.
        painter.fillRect(cell, text);
        const std::u32string& row = shown_[static_cast<std::size_t>(cursor_.row)].text;
        if (cursor_.col < static_cast<int>(row.size())) {
          const char32_t ch = row[static_cast<std::size_t>(cursor_.col)];
          painter.setPen(background);
          painter.drawText(QPoint(cell.x(), cell.y() + baseline_), QString::fromUcs4(&ch, 1));
        }
      } else {
        painter.setPen(text);
        painter.drawRect(cell.adjusted(0, 0, -1, -1));
      }
    }
  }
}

void ConsoleWidget::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRanges();
  KeepCursorVisible();
}

void ConsoleWidget::scrollContentsBy(int, int) { viewport()->update(); }

bool ConsoleWidget::focusNextPrevChild(bool) { return false; }  // Tab is typed, not a focus move

void ConsoleWidget::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  const bool control = mods & Qt::ControlModifier;
  if (control && (event->key() == Qt::Key_U || event->key() == Qt::Key_K)) {
    if (event->key() == Qt::Key_U) {
      editor_.DeleteToStart();
    } else {
      editor_.DeleteToEnd();
    }
    AfterEdit();
    return;
  }
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: EnterLine(); return;
    case Qt::Key_Left: editor_.Left(); break;
    case Qt::Key_Right: editor_.Right(); break;
    case Qt::Key_Home: editor_.Home(); break;
    case Qt::Key_End: editor_.End(); break;
    case Qt::Key_Backspace: editor_.Backspace(); break;
    case Qt::Key_Delete: editor_.Delete(); break;
    case Qt::Key_Up: editor_.HistoryUp(); break;
    case Qt::Key_Down: editor_.HistoryDown(); break;
    case Qt::Key_PageUp: verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub); return;
    case Qt::Key_PageDown: verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd); return;
    default: {
      const QString text = event->text();
      if (control || text.isEmpty() || !text.at(0).isPrint()) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
      }
      editor_.Type(text.toStdU32String());
      break;
    }
  }
  AfterEdit();
}

ConsoleWidget::CellPos ConsoleWidget::CellAt(const QPoint& point) const {
  const int row = verticalScrollBar()->value() + std::max(point.y(), 0) / kCellHeight;
  const int col = horizontalScrollBar()->value() + (std::max(point.x(), 0) + kCellWidth / 2) / kCellWidth;
  return {row, col};
}

void ConsoleWidget::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return;
  anchor_ = head_ = CellAt(event->position().toPoint());
  viewport()->update();
}

void ConsoleWidget::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  head_ = CellAt(event->position().toPoint());
  viewport()->update();
}

void ConsoleWidget::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void ConsoleWidget::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

}  // namespace odefit
